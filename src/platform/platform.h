// The file-system side of the platform layer: listing one folder, the few
// file operations the run needs, and the local time. One POSIX and one Win32
// implementation; nothing else in the program includes a system header.
//
// Paths are plain byte strings (UTF-8 on Windows) of any length: the layer
// never cuts them. No operation here follows a symbolic link or junction.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/failure.h"

namespace doppioni {

#ifdef _WIN32
inline constexpr char PATH_SEPARATOR = '\\';
// The system's own way of asking a command for help, taken beside -h and
// --help; none where the system has none.
inline constexpr std::string_view SYSTEM_HELP_OPTION = "/?";
#else
inline constexpr char PATH_SEPARATOR = '/';
inline constexpr std::string_view SYSTEM_HELP_OPTION = "";
#endif
// The bytes a line end takes in a report ("\n" is written as CR LF on Windows).
inline constexpr std::size_t REPORT_LINE_END_BYTES = PATH_SEPARATOR == '/' ? 1 : 2;

// The identity of a file or folder on its volume (device and inode, or volume
// serial and file index). Zero when the platform cannot tell.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool known() const { return volume != 0 || index != 0; }
  bool operator==(const FileId&) const = default;
  // 32 bits that a table of a million files can afford: two files of one
  // volume whose indices fit in 32 bits never share it. 0 when unknown.
  std::uint32_t digest() const {
    if (!known()) return 0;
    auto mixed = static_cast<std::uint32_t>(index) ^
                 static_cast<std::uint32_t>(index >> 32) * 0x85EBCA6Bu ^
                 static_cast<std::uint32_t>((volume * 0x9E3779B97F4A7C15ull) >> 32);
    return mixed == 0 ? 1 : mixed;
  }
};

// What the file system says of one entry, read without following a link.
struct EntryInfo {
  bool isFolder = false;      // a folder, or a link that leads to one
  bool isLink = false;        // symbolic link, junction or other reparse point
  bool isRegular = false;     // a plain file: not a link, device, pipe...
  bool mayHaveHoles = false;  // where the system tells: fewer bytes stored than its size
  std::uint64_t size = 0;
  std::uint64_t writeTime = 0;  // FILETIME, or nanoseconds since 1970 on POSIX
  FileId id;                    // its identity on its volume
};

// How much a listing must tell of each entry. TYPES_ONLY may leave sizes,
// attributes and times at zero where the platform would pay extra for them.
enum class ListingDetail { FULL, TYPES_ONLY };

struct ListedEntry {
  std::uint32_t nameOffset = 0;  // into FolderContents::names
  std::uint32_t nameLength = 0;
  EntryInfo info;
};

// The entries of one folder, in the order the platform gives them, without
// "." and "..". The folder is read whole and closed at once unless the
// caller keeps it open (see OpenFolder).
struct FolderContents {
  std::optional<Failure> failure;  // when the folder cannot be listed: FOLDER_UNREADABLE
  FileId folderId;                 // identity of the listed folder itself, where known
  std::vector<ListedEntry> entries;
  std::string names;  // the entries' names, in the order listed

  std::string_view name(const ListedEntry& entry) const {
    return std::string_view(names).substr(entry.nameOffset, entry.nameLength);
  }
};

// Lists one folder into contents (whose buffers are reused).
void listFolder(const std::string& path, ListingDetail detail, FolderContents& contents);

// A folder kept open while the folders inside it wait to be listed, so that
// each of them is reached from it by its own name: reaching a folder then
// costs the same at any depth, where a whole path costs its length. Closed
// when it goes; moved, never copied.
struct OpenFolder {
#ifdef _WIN32
  std::string path;  // Windows lists by path: the folder's whole path, empty when not open
#else
  int fd = -1;
#endif
  OpenFolder() = default;
  ~OpenFolder();
  OpenFolder(OpenFolder&& other) noexcept;
  OpenFolder& operator=(OpenFolder&& other) noexcept;
  bool isOpen() const;
  void close();
};

// Lists the folder at path into contents; path is relative to from when from
// is open (one or more names joined by the separator), else a path as above.
// With keep, the folder listed stays open in it.
void listFolder(const OpenFolder& from, const std::string& path, ListingDetail detail,
                FolderContents& contents, OpenFolder* keep);

// What a failed listing is shown as on the console: on Windows the search
// pattern (path, separator, "*.*"), elsewhere the folder's path itself.
std::string listingPattern(const std::string& path);

// The process's current directory, whole; FOLDER_UNREADABLE when it cannot
// be told.
[[nodiscard]] std::optional<Failure> currentDirectory(std::string& path);

// Gives the owner write permission (clears the read-only attribute) to the
// regular file or folder at path, acting on the very entry it checked: a link,
// anything that is neither, and a file with another name (a hard link, which
// may lie outside the tree) are left alone, and no other bit is added.
// ENTRY_REFUSED when it cannot.
[[nodiscard]] std::optional<Failure> makeWritable(const std::string& path);

// --- Reading a file's bytes -----------------------------------------------

// An open file: a descriptor, or a handle on Windows. Closed when it goes;
// moved, never copied.
struct OpenFile {
  std::intptr_t value = -1;
  OpenFile() = default;
  explicit OpenFile(std::intptr_t v) : value(v) {}
  ~OpenFile() { close(); }
  OpenFile(OpenFile&& other) noexcept : value(other.value) { other.value = -1; }
  OpenFile& operator=(OpenFile&& other) noexcept {
    if (this != &other) {
      close();
      value = std::exchange(other.value, -1);
    }
    return *this;
  }
  bool isOpen() const { return value != -1; }
  void close();
};

// Opens the regular file at path to read its bytes, never through a link,
// and tells what the file opened is. ENTRY_REFUSED when it cannot (EINVAL
// for an entry that is no regular file).
[[nodiscard]] std::optional<Failure> openToRead(const std::string& path, OpenFile& file,
                                                EntryInfo& info);

// What the open file is now; ENTRY_REFUSED when it cannot be told.
[[nodiscard]] std::optional<Failure> openFileInfo(const OpenFile& file, EntryInfo& info);

// The first stretch of data at or after `from` in a file of `size` bytes:
// every byte in [from, begin) lies in a hole and reads as zero; [begin, end)
// may hold data. begin is size when only holes are left. Where the system
// cannot tell holes, [from, size).
struct DataStretch {
  std::uint64_t begin;
  std::uint64_t end;
};
[[nodiscard]] DataStretch nextData(const OpenFile& file, std::uint64_t from, std::uint64_t size);

// Reads length bytes at offset; `got` tells how many, fewer only where the
// file ends.
[[nodiscard]] std::optional<Failure> readAt(const OpenFile& file, std::uint64_t offset,
                                            char* buffer, std::size_t length, std::size_t& got);

// --- Deleting exactly the file that was checked ---------------------------

// Where a run notes each file it moves aside, before it does, so that the
// next run in the tree puts back what a run killed meanwhile left aside: a
// hidden file in the work folder, made with the first note. Windows never
// moves a file aside and notes nothing.
inline constexpr const char* ASIDE_JOURNAL = ".doppioni-in-sospeso";
struct AsideJournal {
  std::mutex mutex;
  std::intptr_t file = -1;  // open from the first note on
  std::uint32_t named = 0;  // private names given: none is given twice in a run
  std::string prefix;       // what every private name of the run begins with, once known
  AsideJournal() = default;
  ~AsideJournal();  // closes it, the journal stays
  AsideJournal(const AsideJournal&) = delete;
  AsideJournal& operator=(const AsideJournal&) = delete;
};

// Closes the journal, and removes it with `remove` (nothing is left aside).
void closeAsideJournal(AsideJournal& journal, bool remove);

// A file whose checks passed, held until its line in the list is written:
// on POSIX, moved aside under a private name in its folder; on Windows,
// held by the handle that deletes it. Moved, never copied; put back under
// its name if it goes while still held.
struct HeldFile {
  OpenFile entry;  // the file open to read its bytes, when asked for (Windows: always open)
#ifndef _WIN32
  OpenFile folder;    // the folder it is in
  std::string aside;  // its private name there
  std::string name;   // its own name
  FileId id;          // the entry checked
#endif
  HeldFile() = default;
  ~HeldFile();
  HeldFile(HeldFile&&) noexcept = default;
  HeldFile& operator=(HeldFile&&) noexcept;
  bool isHeld() const;
};

// A deletion made ready and not begun: the entry at path looked at where it
// stands (never a folder, nor a read-only file) and, on POSIX, its folder
// open and the private name it is to take there chosen, checked free, and
// not yet noted in the journal. Moved, never copied.
struct DeletionPlan {
  std::optional<Failure> failure;  // why the entry cannot be deleted: then nothing else is set
  std::string path;
#ifndef _WIN32
  OpenFile folder;
  std::string name;
  std::string aside;
#endif
};

// Plans the deletion of the entry at path (the link itself for a link).
// The journal, when given, numbers the private names.
[[nodiscard]] DeletionPlan planDeletion(const std::string& path, AsideJournal* journal);

// Notes in the journal, in one write, the private names that the plans
// without a failure are to take, before any of them is used: the next run
// then puts back whatever a run killed meanwhile left aside. A note that
// cannot be written becomes the failure of each of those plans. Nothing on
// Windows, which never moves a file aside.
void noteDeletions(AsideJournal& journal, std::vector<DeletionPlan>& plans);

// What the preparation of a deletion did. failure: none when the file is
// held, else why not (ENTRY_REFUSED, with ECANCELED when the check refused
// it), and then the file is back under its name. leftAt: when another file
// took its name meanwhile, the name it stays under in its folder; otherwise
// empty.
struct PreparedDeletion {
  std::optional<Failure> failure;
  std::string leftAt;
  HeldFile held;
};

// Prepares the planned deletion and holds the entry when accept approves of
// it: then exactly the entry that accept was shown goes, and a file that
// takes the name meanwhile is never the one deleted. accept sees the entry
// as it is held, under its private name in the same folder (POSIX, which
// has no deletion by descriptor; should that name be taken meanwhile,
// another is noted in the journal first, when one is given) or through the
// handle that deletes it (Windows); with `toRead`, `content` is the entry
// open to read its bytes (not open when it cannot be read). It may run on
// any thread. A refused entry goes back under its name, never over a file
// that took the name meanwhile.
[[nodiscard]] PreparedDeletion prepareDeletion(
    DeletionPlan& plan, bool toRead, AsideJournal* journal,
    const std::function<bool(const EntryInfo& info, const OpenFile& content)>& accept);

// Deletes a held file; ENTRY_REFUSED when it cannot, and then the file is
// back under its name (leftAt, as above, when another file took it).
[[nodiscard]] std::optional<Failure> deleteHeldFile(HeldFile& held, std::string& leftAt);

// Puts a held file back under its name without deleting it (leftAt as above).
void giveBack(HeldFile& held, std::string& leftAt);

// A file that a killed run left aside, as the journal it left tells.
struct AsideFile {
  std::string folder;  // the folder, as reached from the work folder
  std::string name;    // its own name
  std::string aside;   // its private name
  // None: back under its name; else why not (NAME_TAKEN: another file has it).
  std::optional<Failure> failure;
};

// Puts back under its name every file that a run killed in this work folder
// left aside and that is still there, never over another file, then removes
// the journal. Tells what it found.
[[nodiscard]] std::vector<AsideFile> putBackAsideFiles();

// --- Folders named on the command line, and moving a held file ------------

// A folder held open from the start of the run: on POSIX by a descriptor;
// on Windows by a handle that keeps it from being moved or removed
// meanwhile, and by its whole path, which the system reaches it by.
struct HeldFolder {
  OpenFile folder;
  std::string path;  // as given (POSIX), or its whole final path (Windows)
};

// Holds the folder at path, reached as any path of a command line is (a
// link on the way is followed, as by cd), and tells its identity and those
// of every folder above it, nearest first, up to the root: each its
// parent as the system has it, never reached through a link. FOLDER_UNHELD
// when it cannot (ENOENT when there is no such folder, ENOTDIR when it is no
// folder).
[[nodiscard]] std::optional<Failure> holdFolder(const std::string& path, HeldFolder& folder,
                                                std::vector<FileId>& ids);

// Whether a file's copy has the original's bytes: the two open files, and
// the original's size.
using SameBytes =
    std::function<bool(const OpenFile& original, const OpenFile& copy, std::uint64_t size)>;

// Moves a held file, in place of its deletion, to `to` below the
// destination: its folders, then its own name, joined by the separator.
// The folders missing there are made one by one from the destination held
// open, never through a link. A name already taken there is never replaced
// (EEXIST). Across volumes the file is copied to a private name beside its
// new one, the copy checked with sameBytes (an entry that is not a regular
// file is not moved: EXDEV), then given the name, and the original deleted.
// ENTRY_REFUSED when it cannot, and then the file is back under its name
// (leftAt as above) and no copy of it is left at the destination.
[[nodiscard]] std::optional<Failure> moveHeldFile(HeldFile& held, const HeldFolder& destination,
                                                  std::string_view to, const SameBytes& sameBytes,
                                                  std::string& leftAt);

// Removes an empty folder, never recursively, and changes no folder's mode
// on the way (on Windows a read-only folder is removed through the handle
// that cleared its attribute, and keeps it when it stays). ENTRY_REFUSED
// with the error number as the runtime's _rmdir leaves it in errno.
[[nodiscard]] std::optional<Failure> removeFolder(const std::string& path);

// Keeps open some of the folders on the way to the paths it is given (one
// every few dozen names), so that a deep path is not walked again from the
// top for every folder below it. Threads may share it; what it keeps stays
// open as long as it lives. On Windows, which reaches a path whole, it keeps
// nothing.
class FolderPathCache {
 public:
  // top: the folder at the top of the tree the paths lie in (not known: the
  // removals check no way up).
  explicit FolderPathCache(const FileId& top);
  ~FolderPathCache();
  FolderPathCache(const FolderPathCache&) = delete;
  FolderPathCache& operator=(const FolderPathCache&) = delete;

  // removeFolder(path), reaching the folder's parent through the cache, and
  // only while the folder is still the one seen (its FileId::digest; 0 when
  // not known) and still `levels` folders below the top: a folder kept open
  // reaches its folders wherever they were moved, and one that took the
  // name is another. Either way it is not removed (ENOENT).
  [[nodiscard]] std::optional<Failure> removeFolder(const std::string& path, std::uint32_t seen,
                                                    int levels);

 private:
  struct Kept;
  std::unique_ptr<Kept> kept_;
};

// Reads an entry's metadata without following a link; ENTRY_REFUSED when
// it cannot.
[[nodiscard]] std::optional<Failure> statEntry(const std::string& path, EntryInfo& info);

// --- one run at a time in a tree --------------------------------------------

// A tree held by a run: its top folder alone, each folder above it shared
// with the runs in other folders below that one. Let go when it goes, and by
// the system when the process ends, however it ends: a killed run holds
// nothing.
struct TreeLock {
  std::vector<std::intptr_t> held;  // descriptors, or handles on Windows
  TreeLock() = default;
  ~TreeLock();
  TreeLock(const TreeLock&) = delete;
  TreeLock& operator=(const TreeLock&) = delete;
};

// Holds the tree below folder, so that no other run works in that folder,
// below it or above it meanwhile. TREE_HELD when another run holds it;
// FOLDER_UNHELD when the system has no such lock there. Nothing is held
// when it fails.
[[nodiscard]] std::optional<Failure> lockTree(const std::string& folder, TreeLock& lock);

// --- reports and the process's start ------------------------------------

// An open report: a descriptor, or a handle on Windows.
struct ReportHandle {
  std::intptr_t value = -1;
  bool isOpen() const { return value != -1; }
};

// Makes path a new, empty regular file of its own and opens it for writing:
// created under a private name beside it and moved over path at once, so
// that a link, a second name of another file, a pipe or a device under path
// is never written through, and an old report is replaced.
[[nodiscard]] std::optional<Failure> createReport(const std::string& path, ReportHandle& report);
// Sets aside room on disk for `bytes` more bytes, the file's size unchanged,
// so that writes into it cannot meet a full disk.
[[nodiscard]] std::optional<Failure> reserveReportRoom(ReportHandle report, std::uint64_t bytes);
// Hands text to the system whole; "\n" becomes CR LF on Windows.
[[nodiscard]] std::optional<Failure> writeReport(ReportHandle report, std::string_view text);
// Where the next byte written goes in the file.
[[nodiscard]] std::optional<Failure> reportOffset(ReportHandle report, std::uint64_t& offset);
// Writes text (no line end in it) over the file's bytes at offset, and
// writes on from where it was.
[[nodiscard]] std::optional<Failure> overwriteReport(ReportHandle report, std::uint64_t offset,
                                                     std::string_view text);
// Gives back the room reserved and not used, and closes. Each of these
// returns nothing when it succeeded.
[[nodiscard]] std::optional<Failure> closeReport(ReportHandle& report);

// Opens the null device in place of a standard input, output or error that
// is closed, so that no file the program opens takes their numbers, and lets
// a console that went away fail writes rather than end the process.
void prepareStandardStreams();

// The processor time the calling thread has used so far, in microseconds
// (on Windows counted in the system's clock ticks of some milliseconds).
std::int64_t threadProcessorTime();

// The local time, broken down as localtime() gives it.
std::tm localTime(std::time_t when);

// A short description of an error number, for console messages.
std::string errorText(int error);

// --- the command line --------------------------------------------------------

// The arguments after the program's name (on Windows read again as UTF-16 and
// carried as UTF-8, so any folder name arrives whole).
std::vector<std::string> commandArguments(int argc, char** argv);

// Makes path the process's current directory. FOLDER_UNENTERABLE when it
// cannot; the error number tells why: ENOENT (no such folder), ENOTDIR (not
// a folder), or another.
[[nodiscard]] std::optional<Failure> enterFolder(const std::string& path);

}  // namespace doppioni
