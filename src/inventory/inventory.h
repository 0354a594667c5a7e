// The file table that every phase shares, the run's context, the tree scan
// that fills the table and the order it is sorted in.
//
// Records are small and fixed in size: a record's name lives in a text arena
// and its folder path, stored once for all the files of the folder, in the
// folder store; the record holds references to both.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/options.h"
#include "inventory/progress.h"
#include "platform/failure.h"
#include "platform/platform.h"

namespace doppioni {

inline constexpr std::int32_t TABLE_STEP = 10000;    // growth of the table
inline constexpr std::int32_t RECYCLED_STEP = 1000;  // growth below a recycle bin

// What a record is. The duplicates report prints the number.
enum class Kind : std::int8_t {
  NORMAL = 0,     // an ordinary file
  PAGE = 1,       // a saved web page
  PAGE_PART = 2,  // a file in a web page's companion folder
  JUNK = 3,       // a useless file
};

// Whether a record's name gives its extension.
inline constexpr std::uint8_t EXT_OF_NAME = 0;   // yes: from the name's last dot
inline constexpr std::uint8_t EXT_RECYCLED = 1;  // no: a file below a recycle bin, never a page

inline constexpr std::int32_t NO_COPY = -1;

// What a name says of its file, found once when the record is made, so that
// the passes over a million records need not read a million names again.
inline constexpr std::uint8_t NAME_HTM_EXTENSION = 1;  // the part from the last dot holds "htm"
inline constexpr std::uint8_t NAME_THUMBS_DB = 2;      // "Thumbs.db", letters A-Z in any case
inline constexpr std::uint8_t NAME_OFFICE_TEMP = 4;    // begins with "~$"
inline constexpr std::uint8_t NAME_WRL_TEMP = 8;       // begins with "~WRL"
std::uint8_t nameTraits(std::string_view name);
// Not of the name but of where the file lies: in a folder whose copies stay
// in preference to the others, at any depth below it.
inline constexpr std::uint8_t IN_KEPT_FOLDER = 16;

// Equal but for the case of the letters A to Z: names are bytes, not text in
// some locale.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// One file. The 64-bit fields come first, so that a record packs into 40
// bytes.
struct FileRecord {
  std::uint64_t writeTime;  // compared only for equality
  std::uint64_t size;
  std::uint32_t dir;      // its folder: an id in RunContext::folders
  std::uint32_t name;     // the name: an offset in RunContext::names
  std::uint32_t fileId;   // FileId::digest of the file the scan saw, 0 when unknown
  std::int32_t pageId;    // 0, or the number of the record's web page
  std::int32_t keptCopy;  // for a copy: index of the record kept for it
  bool marked;            // to be deleted
  Kind kind;
  std::uint8_t ext;     // EXT_*
  std::uint8_t traits;  // NAME_*: what the name says; IN_KEPT_FOLDER
};
static_assert(sizeof(FileRecord) == 40);

// Only ordinary files and pages are kept as the copy of others; companion
// files and junk can only be copies.
inline bool canBeCandidate(const FileRecord& e) {
  return e.kind == Kind::NORMAL || e.kind == Kind::PAGE;
}

// One folder of the folder stage.
struct FolderRecord {
  std::uint32_t path;            // its own path: an id in RunContext::folders
  std::int32_t fileCount : 31;   // files directly inside (0 when unreadable)
  std::uint32_t unreadable : 1;  // it could not be listed: it is never removed
  std::int32_t depth;            // separators in the path
  std::uint32_t id;              // FileId::digest of the folder listed, 0 when unknown
};
static_assert(sizeof(FolderRecord) == 16);

// Whether the folder holds no file: one that could not be listed may.
inline bool holdsNoFile(const FolderRecord& folder) {
  return folder.fileCount == 0 && !folder.unreadable;
}

// Zero-terminated texts packed into large blocks, each reached by a 32-bit
// offset. Blocks never move, so a text's address stays valid.
class TextArena {
 public:
  TextArena() = default;
  ~TextArena();
  TextArena(const TextArena&) = delete;
  TextArena& operator=(const TextArena&) = delete;

  // Stores text and a terminating zero; its offset, nothing when memory is
  // exhausted.
  [[nodiscard]] std::optional<std::uint32_t> add(std::string_view text);
  const char* at(std::uint32_t offset) const {
    return blocks_[offset >> BLOCK_BITS] + (offset & (BLOCK_SIZE - 1));
  }
  void clear();

 private:
  static constexpr int BLOCK_BITS = 22;
  static constexpr std::uint32_t BLOCK_SIZE = 1u << BLOCK_BITS;
  std::vector<char*> blocks_;
  std::uint32_t used_ = BLOCK_SIZE;  // bytes used in the last block
};

// Every folder path that records refer to, each stored once. A tree's paths
// all begin with the path of its root, which is stored once for all of them.
class FolderStore {
 public:
  // The folder whose tree the paths to come belong to: its path as shown,
  // and the path that reaches it from the process's current directory ("."
  // for the work folder itself, which the process holds from its start).
  // Once a path is stored, the root stays as it is.
  void setRoot(std::string_view root, std::string_view reachedBy) {
    if (!offsets_.empty()) return;
    root_.assign(root);
    reachedBy_.assign(reachedBy);
  }
  const std::string& root() const { return root_; }
  // Stores a path and returns its id; nothing when memory is exhausted.
  [[nodiscard]] std::optional<std::uint32_t> add(std::string_view path);
  // The whole path, as shown.
  std::string path(std::uint32_t id) const;
  void appendPath(std::uint32_t id, std::string& out) const;
  // The path that reaches the folder: below the root, from the root's own
  // reaching path, so that a work folder moved meanwhile is still the one
  // reached; any other path as it was stored.
  void appendReachPath(std::uint32_t id, std::string& out) const;
  std::size_t pathLength(std::uint32_t id) const;
  bool pathEquals(std::uint32_t id, std::string_view path) const;
  // Whether path(a) comes before path(b), byte for byte.
  bool pathBefore(std::uint32_t a, std::uint32_t b) const;
  // The part of the path after the root and the separator; empty for the
  // root's own path and any path outside the root.
  std::string_view below(std::uint32_t id) const {
    return isBelow(id) ? stored(id) : std::string_view();
  }
  std::uint32_t size() const { return static_cast<std::uint32_t>(offsets_.size()); }
  void clear();

 private:
  // Marks, in a length, a path stored without the root and the separator.
  static constexpr std::uint32_t BELOW_ROOT = 0x80000000u;

  bool isBelow(std::uint32_t id) const { return (lengths_[id] & BELOW_ROOT) != 0; }
  std::string_view stored(std::uint32_t id) const {
    return std::string_view(texts_.at(offsets_[id]), lengths_[id] & ~BELOW_ROOT);
  }

  std::string root_;
  std::string reachedBy_;
  TextArena texts_;
  std::vector<std::uint32_t> offsets_;
  std::vector<std::uint32_t> lengths_;
};

// Called with a path just before an act on it: tests change the tree at
// that very moment.
using BeforeAct = std::function<void(const std::string& path)>;

// The file table: every record of the scan, in one block of plain data
// that grows a step at a time (on large blocks realloc remaps pages instead
// of copying them). It owns its storage.
class FileTable {
 public:
  FileTable() = default;
  ~FileTable() { release(); }
  FileTable(const FileTable&) = delete;
  FileTable& operator=(const FileTable&) = delete;

  FileRecord& operator[](std::int32_t i) { return records_[i]; }
  const FileRecord& operator[](std::int32_t i) const { return records_[i]; }
  FileRecord* data() { return records_; }
  const FileRecord* data() const { return records_; }
  std::int32_t size() const { return count_; }
  std::span<const FileRecord> records() const {
    return {records_, static_cast<std::size_t>(count_)};
  }
  std::int32_t capacity() const { return capacity_; }
  bool full() const { return count_ == capacity_; }
  // Makes room for step more records; NO_MEMORY when the table cannot grow,
  // which leaves it unchanged and still usable.
  [[nodiscard]] std::optional<Failure> grow(std::int32_t step);
  // The next record, in room made before.
  FileRecord& add() { return records_[count_++]; }
  void release();

  // Neither table grows past this many records (the count is 32-bit).
  std::int32_t limit = INT32_MAX;

 private:
  FileRecord* records_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
};

// The local time at which a report is compiled.
using ReportClock = std::function<std::tm()>;
std::tm localTimeNow();

// The context every phase is handed: the table, the working directory, what
// shows the phases' progress, and the clock for the reports.
struct RunContext {
  explicit RunContext(Progress& shown) : progress(shown) {}
  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  FileTable files;
  std::string workDir;

  TextArena names;                        // every record's name
  FolderStore folders;                    // every record's folder path
  std::vector<FolderRecord> folderTable;  // the folder stage's records
  Progress& progress;
  ReportClock clock = localTimeNow;
  // Threads that read folders ahead of the walks, sort, and attempt the
  // deletions; -1: as many as the machine has cores.
  int workerThreads = -1;
  // Set when the folder table could not hold every folder: a table that
  // misses folders must not drive any removal.
  bool folderTableIncomplete = false;
  // The folder at the top of the tree, as the last walk of it found it.
  FileId treeTop;
};

// The worker threads a phase may use: the context's choice, or one a core.
int threadCount(const RunContext& ctx);

// The reading threads a walk may grow to: the context's choice, or as many
// as keep a disk busy.
int readingThreadsAtMost(const RunContext& ctx);

// Frees the file table and its paths: the folder stage needs neither.
void releaseFileTable(RunContext& ctx);

inline std::string dirOf(const RunContext& ctx, const FileRecord& e) {
  return ctx.folders.path(e.dir);
}
inline const char* nameOf(const RunContext& ctx, const FileRecord& e) {
  return ctx.names.at(e.name);
}
inline std::string pathOf(const RunContext& ctx, const FolderRecord& f) {
  return ctx.folders.path(f.path);
}
// A folder's path, the separator and a name.
inline std::string withName(std::string folder, std::string_view name) {
  folder.push_back(PATH_SEPARATOR);
  folder.append(name);
  return folder;
}
// The file's full path as shown: its folder, the separator, its name.
inline std::string filePathOf(const RunContext& ctx, const FileRecord& e) {
  return withName(dirOf(ctx, e), nameOf(ctx, e));
}
// The paths that reach a folder or a file, for every operation on them.
inline std::string reachPathOfFolder(const RunContext& ctx, std::uint32_t folder) {
  std::string path;
  ctx.folders.appendReachPath(folder, path);
  return path;
}
inline std::string reachPathOf(const RunContext& ctx, const FolderRecord& f) {
  return reachPathOfFolder(ctx, f.path);
}
inline std::string reachPathOf(const RunContext& ctx, const FileRecord& e) {
  return withName(reachPathOfFolder(ctx, e.dir), nameOf(ctx, e));
}

// Lists every file below path, at every depth, into the table; the tree is
// reached by reachedBy (by path itself when empty). The options' excluded
// folders are not walked, and the files below a kept folder are marked
// IN_KEPT_FOLDER. Stops at the first failure: NO_MEMORY when the table
// cannot grow, FOLDER_UNREADABLE with the folder's path when a folder cannot
// be listed.
[[nodiscard]] std::optional<Failure> scanFolder(RunContext& ctx, const std::string& path,
                                                const std::string& reachedBy = {},
                                                const Options& options = {});

// Sorts the records by name, then by folder, byte for byte.
void sortFiles(RunContext& ctx);

}  // namespace doppioni
