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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace doppioni {

#ifdef _WIN32
inline constexpr char PATH_SEPARATOR = '\\';
#else
inline constexpr char PATH_SEPARATOR = '/';
#endif

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
  bool isFolder = false;   // a folder, or a link that leads to one
  bool isLink = false;     // symbolic link, junction or other reparse point
  bool isRegular = false;  // a plain file: not a link, device, pipe...
  std::uint32_t sizeHigh = 0;
  std::uint32_t sizeLow = 0;
  std::uint64_t writeTime = 0;  // FILETIME, or nanoseconds since 1970 on POSIX
  FileId id;                    // its identity on its volume
};

// How much a listing must tell of each entry. TYPES_ONLY may leave sizes,
// attributes and times at zero where the platform would pay extra for them.
enum class ListingDetail { FULL, TYPES_ONLY };

struct FolderEntry {
  std::uint32_t nameOffset = 0;  // into FolderContents::names
  std::uint32_t nameLength = 0;
  EntryInfo info;
};

// The entries of one folder, in the order the platform gives them, without
// "." and "..". The folder is read whole and closed at once unless the
// caller keeps it open (see OpenFolder).
struct FolderContents {
  int error = 0;    // 0, or the platform's error number when the folder cannot be listed
  FileId folderId;  // identity of the listed folder itself, where known
  std::vector<FolderEntry> entries;
  std::string names;  // the entries' names, in the order listed

  std::string_view name(const FolderEntry& entry) const {
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

// The process's current directory, whole. Returns 0 or an error number.
int currentDirectory(std::string& path);

// Gives the owner write permission (clears the read-only attribute) to the
// regular file or folder at path, acting on the very entry it checked: a link,
// anything that is neither, and a file with another name (a hard link, which
// may lie outside the tree) are left alone, and no other bit is added.
// 0 or an error number.
int makeWritable(const std::string& path);

// --- Deleting exactly the file that was checked ---------------------------

// What a checked deletion did. error: 0 when the file was deleted, else why
// not (ECANCELED when the check refused it). leftAt: when the entry had been
// moved aside for the check and another file took its name meanwhile, the
// name it stays under in its folder; otherwise empty.
struct CheckedDeletion {
  int error = 0;
  std::string leftAt;
};

// Deletes the entry at path (the link itself for a link; never a folder,
// nor a read-only file) only when accept approves of it, and then exactly
// the entry that accept was shown: a file that takes the name meanwhile is
// never the one deleted. accept sees the entry as the handle that deletes it
// (Windows) or under a private name in the same folder (POSIX, which has no
// deletion by descriptor) and may run on any thread.
CheckedDeletion deleteCheckedFile(const std::string& path,
                                  const std::function<bool(const EntryInfo&)>& accept);

// Removes an empty folder, never recursively, and changes no folder's mode
// on the way (on Windows a read-only folder is removed through the handle
// that cleared its attribute, and keeps it when it stays). 0 or an error
// number as the runtime's _rmdir leaves it in errno.
int removeFolder(const std::string& path);

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
  int removeFolder(const std::string& path, std::uint32_t seen, int levels);

 private:
  struct Kept;
  std::unique_ptr<Kept> kept_;
};

// Reads an entry's metadata without following a link. 0 or an error number.
int statEntry(const std::string& path, EntryInfo& info);

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
// below it or above it meanwhile. 0 when held; EBUSY when another run holds
// it; another error number when the system has no such lock there. Nothing
// is held unless it returns 0.
int lockTree(const std::string& folder, TreeLock& lock);

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
std::optional<Failure> createReport(const std::string& path, ReportHandle& report);
// Sets aside room on disk for `bytes` more bytes, the file's size unchanged,
// so that writes into it cannot meet a full disk.
std::optional<Failure> reserveReportRoom(ReportHandle report, std::uint64_t bytes);
// Hands text to the system whole; "\n" becomes CR LF on Windows.
std::optional<Failure> writeReport(ReportHandle report, std::string_view text);
// Gives back the room reserved and not used, and closes. Each of the four
// returns nothing when it succeeded.
std::optional<Failure> closeReport(ReportHandle& report);

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

// Makes path the process's current directory. The error number tells why it
// could not: ENOENT (no such folder), ENOTDIR (not a folder), or another.
std::optional<Failure> enterFolder(const std::string& path);

}  // namespace doppioni
