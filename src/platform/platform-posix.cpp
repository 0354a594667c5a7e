// POSIX (Linux) side of the platform layer.
//
// Every path is opened through resolvePath(), which walks it without
// following any symbolic link (openat2 with RESOLVE_NO_SYMLINKS where the
// kernel has it) and in pieces shorter than PATH_MAX, so no path is ever too
// long to reach and no link ever leads the program out of the tree.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

namespace doppioni {
namespace {

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int value = -1) : fd(value) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  void reset(int value) {
    if (fd >= 0) ::close(fd);
    fd = value;
  }
};

int openNoSymlinks(int dirFd, const char* path, int flags) {
  static_assert(sizeof(open_how) == 24);
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
  how.resolve = RESOLVE_NO_SYMLINKS;
  long fd = ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return static_cast<int>(fd);
  // Kernels before 5.6 (or sandboxes that filter openat2): the last piece
  // at least is refused when it is a link.
  return ::openat(dirFd, path, flags | O_CLOEXEC | O_NOFOLLOW);
}

// Opens path (any length) with flags, from the folder at (or AT_FDCWD).
// Returns a descriptor or -1 with errno.
int resolvePath(int at, const std::string& path, int flags) {
  constexpr std::size_t PIECE = PATH_MAX - 1;
  Fd base;
  std::size_t pos = 0;
  std::string piece;
  while (path.size() - pos > PIECE) {
    std::size_t cut = path.rfind('/', pos + PIECE);
    if (cut == std::string::npos || cut < pos) {
      errno = ENAMETOOLONG;  // a single name longer than the system allows
      return -1;
    }
    piece.assign(path, pos, cut - pos);
    if (piece.empty()) piece = "/";
    int next = openNoSymlinks(base.fd >= 0 ? base.fd : at, piece.c_str(), O_PATH | O_DIRECTORY);
    if (next < 0) return -1;
    base.reset(next);
    pos = cut + 1;
  }
  piece.assign(path, pos, std::string::npos);
  if (piece.empty()) piece = ".";
  return openNoSymlinks(base.fd >= 0 ? base.fd : at, piece.c_str(), flags);
}

int resolvePath(const std::string& path, int flags) {
  return resolvePath(AT_FDCWD, path, flags);
}

// Opens the folder that holds path and gives the last name in leaf.
int openParent(const std::string& path, std::string& leaf) {
  std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) {
    leaf = path;
    return ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  leaf.assign(path, cut + 1, std::string::npos);
  return resolvePath(cut == 0 ? std::string("/") : path.substr(0, cut), O_PATH | O_DIRECTORY);
}

FileId idOf(const struct stat& st) {
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void fillInfo(const struct stat& st, EntryInfo& info) {
  info.isFolder = S_ISDIR(st.st_mode);
  info.isLink = S_ISLNK(st.st_mode);
  info.isRegular = S_ISREG(st.st_mode);
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.writeTime = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                   static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
  info.id = idOf(st);
  info.mayHaveHoles = static_cast<std::uint64_t>(st.st_blocks) * 512 < info.size;
}

// Marks, in a listing being made, an entry that vanished before it was looked at.
constexpr std::uint32_t GONE = 0xFFFFFFFFu;

struct linux_dirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];  // really as long as the record
};

// An entry of a listing that is to be looked at, by the inode of its entry.
struct ToLook {
  std::uint64_t inode;
  std::uint32_t index;
};

// The names of the folder open in dir into contents, each followed by a zero
// so that it can be handed to the system as it is, with the type the listing
// gives; in toLook the entries whose detail is still to be asked for. An
// error number when the folder could not be read.
int readNames(int dir, ListingDetail detail, FolderContents& contents,
              std::vector<ToLook>& toLook) {
  alignas(linux_dirent64) char buffer[32768];
  for (;;) {
    long got = ::syscall(SYS_getdents64, dir, buffer, sizeof buffer);
    if (got == 0) return 0;
    if (got < 0) return errno;
    for (long at = 0; at < got;) {
      auto* d = reinterpret_cast<linux_dirent64*>(buffer + at);
      at += d->d_reclen;
      const char* name = d->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;

      ListedEntry entry;
      entry.info.isFolder = d->d_type == DT_DIR;
      entry.info.isLink = d->d_type == DT_LNK;
      entry.info.isRegular = d->d_type == DT_REG;
      if (detail == ListingDetail::FULL || d->d_type == DT_UNKNOWN || entry.info.isLink) {
        toLook.push_back(ToLook{d->d_ino, static_cast<std::uint32_t>(contents.entries.size())});
      }
      std::size_t length = std::strlen(name);
      entry.nameOffset = static_cast<std::uint32_t>(contents.names.size());
      entry.nameLength = static_cast<std::uint32_t>(length);
      contents.names.append(name, length + 1);
      contents.entries.push_back(entry);
    }
  }
}

// Asks for the detail of each entry in toLook, in the order of their inodes,
// not of the listing: on a disk the system has not read yet, neighbouring
// inodes share the blocks it reads, where the listing's order jumps from
// block to block. An entry gone since the folder was read is left out.
// An error number when an entry could not be looked at.
int lookAtEntries(int dir, ListingDetail detail, FolderContents& contents,
                  std::vector<ToLook>& toLook) {
  std::sort(toLook.begin(), toLook.end(),
            [](const ToLook& a, const ToLook& b) { return a.inode < b.inode; });
  bool anyGone = false;
  struct stat st;
  for (const ToLook& look : toLook) {
    ListedEntry& entry = contents.entries[look.index];
    const char* name = contents.names.data() + entry.nameOffset;
    // Short of the full detail, only an entry of unknown type is asked for.
    if (detail == ListingDetail::FULL || !entry.info.isLink) {
      if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) return errno;
        entry.nameLength = GONE;
        anyGone = true;
        continue;
      }
      fillInfo(st, entry.info);
    }
    // Where a link leads decides whether it counts as a folder; it is
    // never followed any further than this look.
    if (entry.info.isLink) {
      struct stat target;
      entry.info.isFolder = ::fstatat(dir, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
    }
  }
  if (anyGone) {
    std::erase_if(contents.entries,
                  [](const ListedEntry& entry) { return entry.nameLength == GONE; });
  }
  return 0;
}

}  // namespace

OpenFolder::~OpenFolder() {
  close();
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept : fd(other.fd) {
  other.fd = -1;
}

OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept {
  if (this != &other) {
    close();
    fd = other.fd;
    other.fd = -1;
  }
  return *this;
}

bool OpenFolder::isOpen() const {
  return fd >= 0;
}

void OpenFolder::close() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void listFolder(const std::string& path, ListingDetail detail, FolderContents& contents) {
  listFolder(OpenFolder{}, path, detail, contents, nullptr);
}

void listFolder(const OpenFolder& from, const std::string& path, ListingDetail detail,
                FolderContents& contents, OpenFolder* keep) {
  contents.failure.reset();
  contents.folderId = FileId{};
  contents.entries.clear();
  contents.names.clear();

  Fd dir(resolvePath(from.isOpen() ? from.fd : AT_FDCWD, path, O_RDONLY | O_DIRECTORY));
  int error = dir.fd < 0 ? errno : 0;
  struct stat st;
  if (error == 0 && ::fstat(dir.fd, &st) == 0) contents.folderId = idOf(st);
  std::vector<ToLook> toLook;
  if (error == 0) error = readNames(dir.fd, detail, contents, toLook);
  if (error == 0) error = lookAtEntries(dir.fd, detail, contents, toLook);
  if (error != 0) {
    contents.failure = Failure{FailureKind::FOLDER_UNREADABLE, error, path};
    return;
  }
  if (keep != nullptr) {  // the folders inside are opened from it
    keep->close();
    keep->fd = dir.fd;
    dir.fd = -1;
  }
}

std::string listingPattern(const std::string& path) {
  return path;
}

std::optional<Failure> currentDirectory(std::string& path) {
  char* cwd = ::getcwd(nullptr, 0);  // glibc sizes the buffer itself
  if (cwd == nullptr) return Failure{FailureKind::FOLDER_UNREADABLE, errno, "."};
  path = cwd;
  std::free(cwd);
  // Linux marks a directory that no longer exists this way.
  if (path.empty() || path[0] != '/') return Failure{FailureKind::FOLDER_UNREADABLE, ENOENT, "."};
  return std::nullopt;
}

namespace {

int makeWritableError(const std::string& path) {
  std::string leaf;
  Fd parent(openParent(path, leaf));
  if (parent.fd < 0) return errno;
  // The entry itself, never what a link leads to; checked and changed
  // through the same descriptor, so a swap in between changes nothing.
  Fd entry(::openat(parent.fd, leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (entry.fd < 0) return errno;
  struct stat st;
  if (::fstat(entry.fd, &st) != 0) return errno;
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return 0;
  if (st.st_mode & S_IWUSR) return 0;
  // The mode belongs to the file, not to this name of it: with a second name
  // it would change for that one too.
  if (S_ISREG(st.st_mode) && st.st_nlink != 1) return 0;
  // A path descriptor takes no fchmod; its /proc name reaches that very file.
  std::string self = "/proc/self/fd/" + std::to_string(entry.fd);
  if (::fchmodat(AT_FDCWD, self.c_str(), (st.st_mode & 07777) | S_IWUSR, 0) != 0) return errno;
  return 0;
}

}  // namespace

std::optional<Failure> makeWritable(const std::string& path) {
  return failureOf(FailureKind::ENTRY_REFUSED, makeWritableError(path), path);
}

// --- Reading a file's bytes -----------------------------------------------

void OpenFile::close() {
  if (value != -1) ::close(static_cast<int>(value));
  value = -1;
}

namespace {

int fdOf(const OpenFile& file) {
  return static_cast<int>(file.value);
}

// Past this size a file read through is worth telling the system about:
// below it, the system's own read-ahead covers it already.
constexpr off_t READ_THROUGH_FROM = 1 << 20;

// Keeps the file open only when it is a regular file, which info then
// describes, and tells the system that a big one is read once from start
// to end.
int keepIfRegular(OpenFile& file, EntryInfo& info) {
  struct stat st;
  int error = ::fstat(fdOf(file), &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (error != 0) {
    file.close();
    return error;
  }
  fillInfo(st, info);
  if (st.st_size >= READ_THROUGH_FROM) ::posix_fadvise(fdOf(file), 0, 0, POSIX_FADV_SEQUENTIAL);
  return 0;
}

// Whatever has taken a name is only looked at: a pipe does not make the
// open wait, a terminal is not taken.
constexpr int TO_READ = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

}  // namespace

std::optional<Failure> openToRead(const std::string& path, OpenFile& file, EntryInfo& info) {
  int fd = resolvePath(path, TO_READ);
  if (fd < 0) return Failure{FailureKind::ENTRY_REFUSED, errno, path};
  file = OpenFile(fd);
  return failureOf(FailureKind::ENTRY_REFUSED, keepIfRegular(file, info), path);
}

std::optional<Failure> openFileInfo(const OpenFile& file, EntryInfo& info) {
  struct stat st;
  if (::fstat(fdOf(file), &st) != 0) return Failure{FailureKind::ENTRY_REFUSED, errno, {}};
  fillInfo(st, info);
  return std::nullopt;
}

DataStretch nextData(const OpenFile& file, std::uint64_t from, std::uint64_t size) {
  off_t begin = ::lseek(fdOf(file), static_cast<off_t>(from), SEEK_DATA);
  // ENXIO: nothing but holes from there on; any other error: no holes told.
  if (begin < 0) return errno == ENXIO ? DataStretch{size, size} : DataStretch{from, size};
  auto first = std::min(static_cast<std::uint64_t>(begin), size);
  off_t end = ::lseek(fdOf(file), begin, SEEK_HOLE);
  auto last = end < 0 ? size : std::min(static_cast<std::uint64_t>(end), size);
  return {first, last > first ? last : size};
}

std::optional<Failure> readAt(const OpenFile& file, std::uint64_t offset, char* buffer,
                              std::size_t length, std::size_t& got) {
  for (got = 0; got < length;) {
    ssize_t read =
        ::pread(fdOf(file), buffer + got, length - got, static_cast<off_t>(offset + got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return Failure{FailureKind::ENTRY_REFUSED, errno, {}};
    if (read == 0) break;  // the end of the file
    got += static_cast<std::size_t>(read);
  }
  return std::nullopt;
}

// --- Deleting exactly the file that was checked ---------------------------

namespace {

// The private name an entry takes in its folder while it is held: short and
// of one form, whatever the entry's own name, so that one left behind is
// told from every other name.
constexpr std::string_view ASIDE_PREFIX = ".doppioni-";

// A private name not given before in the run: numbered by the journal
// (by attempt without one), the process id asked for once.
std::string asideName(AsideJournal* journal, std::uint32_t attempt) {
  std::string name;
  if (journal == nullptr) {
    name.assign(ASIDE_PREFIX).append(std::to_string(::getpid())).push_back('-');
  } else {
    std::lock_guard lock(journal->mutex);
    if (journal->prefix.empty()) {
      journal->prefix.assign(ASIDE_PREFIX).append(std::to_string(::getpid())).push_back('-');
    }
    name = journal->prefix;
    attempt = journal->named++;
  }
  return name.append(std::to_string(attempt));
}

// What a deletion may take at all: no folder, no read-only file (refused as
// on Windows; a link has no such bit of its own).
int deletable(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) return EACCES;
  return 0;
}

// Renames `from` to `to` in folder, never over an entry that has that name:
// 0 or an error number (EEXIST when the name is taken).
int renameNoReplace(int folder, const char* from, const char* to, bool fromPrivateName) {
  if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // Through FUSE, which mounts NTFS and exFAT disks, there is no such
  // rename. A second name replaces nothing where links can be made; the
  // private one then goes (never the entry's own name: another file may
  // have taken it in between).
  struct stat st;
  if (fromPrivateName) {
    if (::linkat(folder, from, folder, to, 0) == 0) {
      ::unlinkat(folder, from, 0);
      return 0;
    }
    if (errno == EEXIST) return EEXIST;
  }
  // Else a plain rename, to a name checked absent just before.
  if (::fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return ::renameat(folder, from, folder, to) == 0 ? 0 : errno;
}

// Adds to notes the journal's entry saying that `name` in the folder of
// path is to be moved to `aside`: the folder as reached from the work
// folder, the private name and the name, each ended by a zero byte.
void appendNote(std::string& notes, const std::string& path, const std::string& aside,
                const std::string& name) {
  std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) {
    notes.push_back('.');
  } else {
    notes.append(path, 0, cut == 0 ? 1 : cut);
  }
  for (const std::string* part : {&aside, &name}) {
    notes.push_back('\0');
    notes.append(*part);
  }
  notes.push_back('\0');
}

// Hands notes to the journal in one write, so that a kill leaves at most
// the last entry cut short. 0 or an error number.
int writeNotes(AsideJournal& journal, std::string_view notes) {
  std::lock_guard lock(journal.mutex);
  if (journal.file < 0) {
    // A fresh file of its own: a link under its name is removed, never followed.
    if (::unlink(ASIDE_JOURNAL) != 0 && errno != ENOENT) return errno;
    int fd = ::open(ASIDE_JOURNAL, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    journal.file = fd;
  }
  std::optional<Failure> failure = writeReport(ReportHandle{journal.file}, notes);
  return failure ? failure->error : 0;
}

// Gives the entry `name` of folder a private name that no entry has. 0 or
// an error number.
int freeAsideName(int folder, AsideJournal* journal, std::string& aside) {
  constexpr std::uint32_t ATTEMPTS = 100;  // private names tried before giving up
  struct stat st;
  for (std::uint32_t attempt = 0; attempt < ATTEMPTS; ++attempt) {
    // A name used once is never used again in the run: the journal's last
    // note of a name is then the one of the file under it.
    aside = asideName(journal, attempt);
    if (::fstatat(folder, aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? 0 : errno;
    }
  }
  return EEXIST;
}

// Moves the planned entry aside to its private name, which the journal
// notes already; a name taken meanwhile makes way for another, noted first.
int moveAside(DeletionPlan& plan, AsideJournal* journal) {
  const int folder = fdOf(plan.folder);
  for (int attempt = 0;; ++attempt) {
    int error = renameNoReplace(folder, plan.name.c_str(), plan.aside.c_str(), false);
    if (error != EEXIST || attempt == 100) return error;
    if ((error = freeAsideName(folder, journal, plan.aside)) != 0) return error;
    std::string note;
    appendNote(note, plan.path, plan.aside, plan.name);
    if (journal != nullptr && (error = writeNotes(*journal, note)) != 0) return error;
  }
}

// The checks on the entry held under its private name; accept has the last word.
int checkHeld(HeldFile& held, bool toRead,
              const std::function<bool(const EntryInfo&, const OpenFile&)>& accept) {
  const int folder = fdOf(held.folder);
  struct stat st;
  if (::fstatat(folder, held.aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (int error = deletable(st)) return error;
  EntryInfo info;
  fillInfo(st, info);
  held.id = info.id;
  if (toRead && S_ISREG(st.st_mode)) {
    int fd = ::openat(folder, held.aside.c_str(), TO_READ | O_NOFOLLOW);
    EntryInfo opened;
    if (fd >= 0) held.entry = OpenFile(fd);
    if (fd >= 0 && (keepIfRegular(held.entry, opened) != 0 || !(opened.id == info.id))) {
      held.entry.close();
    }
  }
  return accept(info, held.entry) ? 0 : ECANCELED;
}

// Back under its own name, never over another file: 0 or why not.
int putBack(HeldFile& held) noexcept {
  held.entry.close();
  int error = renameNoReplace(fdOf(held.folder), held.aside.c_str(), held.name.c_str(), true);
  held.folder.close();
  return error;
}

}  // namespace

AsideJournal::~AsideJournal() {
  if (file >= 0) ::close(static_cast<int>(file));
}

void closeAsideJournal(AsideJournal& journal, bool remove) {
  std::lock_guard lock(journal.mutex);
  if (journal.file < 0) return;
  ::close(static_cast<int>(journal.file));
  journal.file = -1;
  if (remove) ::unlink(ASIDE_JOURNAL);
}

HeldFile::~HeldFile() {
  if (isHeld()) putBack(*this);
}

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  if (this != &other) {
    if (isHeld()) putBack(*this);
    entry = std::move(other.entry);
    folder = std::move(other.folder);
    aside = std::move(other.aside);
    name = std::move(other.name);
    id = other.id;
  }
  return *this;
}

bool HeldFile::isHeld() const {
  return folder.isOpen();
}

DeletionPlan planDeletion(const std::string& path, AsideJournal* journal) {
  DeletionPlan plan;
  plan.path = path;
  int parent = openParent(path, plan.name);
  plan.folder = OpenFile(parent);
  struct stat st;
  int error = 0;
  if (parent < 0 || ::fstatat(parent, plan.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
  } else if ((error = deletable(st)) == 0) {
    error = freeAsideName(parent, journal, plan.aside);
  }
  plan.failure = failureOf(FailureKind::ENTRY_REFUSED, error, path);
  if (plan.failure) plan.folder.close();
  return plan;
}

void noteDeletions(AsideJournal& journal, std::vector<DeletionPlan>& plans) {
  std::string notes;
  for (const DeletionPlan& plan : plans) {
    if (!plan.failure) appendNote(notes, plan.path, plan.aside, plan.name);
  }
  int error = notes.empty() ? 0 : writeNotes(journal, notes);
  for (DeletionPlan& plan : plans) {
    if (error == 0 || plan.failure) continue;
    plan.failure = Failure{FailureKind::ENTRY_REFUSED, error, plan.path};
    plan.folder.close();
  }
}

PreparedDeletion prepareDeletion(
    DeletionPlan& plan, bool toRead, AsideJournal* journal,
    const std::function<bool(const EntryInfo& info, const OpenFile& content)>& accept) {
  PreparedDeletion result;
  // The entry is moved aside, never over anything, so that what is checked
  // under the private name is what gets deleted, whatever comes to the name.
  if ((result.failure = plan.failure) ||
      (result.failure =
           failureOf(FailureKind::ENTRY_REFUSED, moveAside(plan, journal), plan.path))) {
    return result;
  }
  HeldFile& held = result.held;
  held.folder = std::move(plan.folder);
  held.name = std::move(plan.name);
  held.aside = std::move(plan.aside);
  result.failure =
      failureOf(FailureKind::ENTRY_REFUSED, checkHeld(held, toRead, accept), plan.path);
  if (result.failure) giveBack(held, result.leftAt);
  held.entry.close();  // read as far as it needed: only the name is deleted
  return result;
}

std::optional<Failure> deleteHeldFile(HeldFile& held, std::string& leftAt) {
  if (!held.isHeld()) return Failure{FailureKind::ENTRY_REFUSED, EBADF, {}};
  held.entry.close();
  const int folder = fdOf(held.folder);
  struct stat st;
  int error = 0;
  // Still the entry checked: nothing took its private name meanwhile.
  if (::fstatat(folder, held.aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    error = errno;
  } else if (!(FileId{static_cast<std::uint64_t>(st.st_dev),
                      static_cast<std::uint64_t>(st.st_ino)} == held.id)) {
    error = ESTALE;
  } else if (::unlinkat(folder, held.aside.c_str(), 0) != 0) {
    error = errno;
  }
  if (error == 0) {
    held.folder.close();
    return std::nullopt;
  }
  giveBack(held, leftAt);
  return Failure{FailureKind::ENTRY_REFUSED, error, {}};
}

void giveBack(HeldFile& held, std::string& leftAt) {
  if (!held.isHeld()) return;
  std::string aside = held.aside;
  int error = putBack(held);
  if (error != 0 && error != ENOENT) leftAt = std::move(aside);
}

namespace {

// Whether a journal's entry names what a run writes there: a folder below
// the work folder, a private name, a name; nothing that leads elsewhere.
bool soundEntry(const AsideFile& file) {
  auto isName = [](std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
  };
  std::string_view folder = file.folder;
  for (std::size_t at = 0; at <= folder.size();) {
    std::size_t cut = std::min(folder.find('/', at), folder.size());
    if (!isName(folder.substr(at, cut - at)) && folder != ".") return false;
    at = cut + 1;
  }
  std::string_view aside = file.aside;
  return isName(file.name) && isName(aside) && aside.starts_with(ASIDE_PREFIX) &&
         aside.find_first_not_of("0123456789-", ASIDE_PREFIX.size()) == std::string::npos;
}

// The complete entries of a journal: a kill may have cut the last one
// short, and its file was never moved.
std::vector<AsideFile> journalEntries(int fd) {
  std::string text;
  char buffer[65536];
  for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::vector<AsideFile> entries;
  std::string parts[3];
  std::size_t at = 0;
  for (std::size_t part = 0, end; (end = text.find('\0', at)) != std::string::npos; at = end + 1) {
    parts[part].assign(text, at, end - at);
    if (++part < 3) continue;
    part = 0;
    entries.push_back(AsideFile{parts[0], parts[2], parts[1], std::nullopt});
  }
  return entries;
}

}  // namespace

std::vector<AsideFile> putBackAsideFiles() {
  std::vector<AsideFile> found;
  Fd journal(::open(ASIDE_JOURNAL, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (journal.fd < 0 || ::fstat(journal.fd, &st) != 0 || !S_ISREG(st.st_mode)) return found;
  std::vector<AsideFile> entries = journalEntries(journal.fd);
  // A run gives each private name once; were one noted twice, the last
  // note would be the one of the file under it.
  std::set<std::pair<std::string, std::string>> seen;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (!soundEntry(*entry) || !seen.emplace(entry->folder, entry->aside).second) continue;
    Fd folder(resolvePath(entry->folder, O_PATH | O_DIRECTORY));
    if (folder.fd < 0 ||
        ::fstatat(folder.fd, entry->aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;  // deleted, or never moved
    }
    const int error = renameNoReplace(folder.fd, entry->aside.c_str(), entry->name.c_str(), true);
    entry->failure =
        failureOf(error == EEXIST ? FailureKind::NAME_TAKEN : FailureKind::ENTRY_REFUSED, error);
    found.push_back(std::move(*entry));
  }
  ::unlink(ASIDE_JOURNAL);
  std::reverse(found.begin(), found.end());
  return found;
}

// --- Folders named on the command line, and moving a held file ------------

std::optional<Failure> holdFolder(const std::string& path, HeldFolder& folder,
                                  std::vector<FileId>& ids) {
  // As cd takes it: a link on the way, or at its end, is followed.
  Fd self(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat below, above;
  if (self.fd < 0 || ::fstat(self.fd, &below) != 0) {
    return Failure{FailureKind::FOLDER_UNHELD, errno, path};
  }
  ids.assign(1, idOf(below));
  // Up by "..", which is the folder's own parent whatever path led to it,
  // to the root, which is its own parent.
  Fd up(::openat(self.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  while (up.fd >= 0 && ::fstat(up.fd, &above) == 0 && !(idOf(above) == idOf(below))) {
    ids.push_back(idOf(above));
    below = above;
    up.reset(::openat(up.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  folder.folder = OpenFile(self.fd);
  self.fd = -1;
  folder.path = path;
  return std::nullopt;
}

namespace {

// Whether the entry held under its private name is still the one checked,
// which st then describes: 0 or why not.
int stillHeld(const HeldFile& held, struct stat& st) {
  if (::fstatat(fdOf(held.folder), held.aside.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  return idOf(st) == held.id ? 0 : ESTALE;
}

// Opens into `out` the folder `below` of the destination (names joined by
// '/'), making the missing ones one by one, each from the one before it:
// a link on the way is never followed (ELOOP), a file is no folder.
int openFolderBelow(int destination, std::string_view below, Fd& out) {
  out.reset(::openat(destination, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (out.fd < 0) return errno;
  std::string name;
  for (std::size_t at = 0; at < below.size();) {
    std::size_t cut = std::min(below.find('/', at), below.size());
    name.assign(below.substr(at, cut - at));
    at = cut + 1;
    if (::mkdirat(out.fd, name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
    int next = openNoSymlinks(out.fd, name.c_str(), O_PATH | O_DIRECTORY);
    int error = errno;
    out.reset(next);
    if (next < 0) return error;
  }
  return 0;
}

// Renames `from` of one folder to `to` of another, never over an entry of
// that name: 0 or an error number (EEXIST when the name is taken, EXDEV
// across file systems). `from` is a private name.
int renameBetween(int fromFolder, const char* from, int toFolder, const char* to) {
  if (::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // Through FUSE (NTFS and exFAT disks), as renameNoReplace does it.
  if (::linkat(fromFolder, from, toFolder, to, 0) == 0) {
    ::unlinkat(fromFolder, from, 0);
    return 0;
  }
  if (errno == EEXIST || errno == EXDEV) return errno;
  struct stat st;
  if (::fstatat(toFolder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return ::renameat(fromFolder, from, toFolder, to) == 0 ? 0 : errno;
}

// A copy being made in a folder of the destination, under a private name
// and then under its own: removed when it goes, unless kept.
struct CopyFile {
  int folder = -1;
  std::string name;
  OpenFile file;
  bool kept = false;
  ~CopyFile() {
    struct stat there, made;
    if (kept || !file.isOpen() || ::fstat(fdOf(file), &made) != 0) return;
    if (::fstatat(folder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
        idOf(there) == idOf(made)) {
      ::unlinkat(folder, name.c_str(), 0);
    }
  }
};

int createCopy(int folder, CopyFile& copy) {
  constexpr int ATTEMPTS = 100;  // private names tried before giving up
  copy.folder = folder;
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    copy.name = std::string(ASIDE_PREFIX) + std::to_string(::getpid()) + "-copia-" +
                std::to_string(attempt);
    int fd = ::openat(folder, copy.name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600);
    if (fd >= 0) {
      copy.file = OpenFile(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int writeAll(int fd, const char* bytes, std::size_t length, std::uint64_t at) {
  while (length > 0) {
    ssize_t done = ::pwrite(fd, bytes, length, static_cast<off_t>(at));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return done < 0 ? errno : EIO;
    bytes += done;
    length -= static_cast<std::size_t>(done);
    at += static_cast<std::uint64_t>(done);
  }
  return 0;
}

// Writes the original's bytes into the copy, its holes left holes, then
// gives the copy the original's size, owner, mode and times, and has it
// on the disk before the original may go.
int copyBytes(const OpenFile& original, int copy, const struct stat& st) {
  constexpr std::size_t PIECE = 1 << 20;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  std::vector<char> bytes(PIECE);
  for (std::uint64_t at = 0; at < size;) {
    const DataStretch data = nextData(original, at, size);
    for (at = data.begin; at < data.end;) {
      auto length = static_cast<std::size_t>(std::min<std::uint64_t>(PIECE, data.end - at));
      std::size_t got = 0;
      if (auto failure = readAt(original, at, bytes.data(), length, got)) return failure->error;
      if (got != length) return EIO;
      if (int error = writeAll(copy, bytes.data(), length, at)) return error;
      at += length;
    }
  }
  if (::ftruncate(copy, st.st_size) != 0) return errno;
  // Only root may give a file away; the mode after, which a new owner clears.
  if (::geteuid() == 0 && ::fchown(copy, st.st_uid, st.st_gid) != 0) return errno;
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::fchmod(copy, st.st_mode & 07777) != 0 || ::futimens(copy, times) != 0) return errno;
  return ::fsync(copy) == 0 ? 0 : errno;
}

bool sameStat(const struct stat& a, const struct stat& b) {
  return idOf(a) == idOf(b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Moves the held file to `name` in `to`, on another file system: copied
// under a private name there, the copy checked, given the name, and then
// the original deleted.
int copyAcross(HeldFile& held, int to, const char* name, const SameBytes& sameBytes) {
  const int folder = fdOf(held.folder);
  OpenFile original(
      ::openat(folder, held.aside.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st, now;
  if (!original.isOpen()) return errno == ELOOP ? EXDEV : errno;  // a link is not copied
  if (::fstat(fdOf(original), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EXDEV;
  if (!(idOf(st) == held.id)) return ESTALE;
  CopyFile copy;
  int error = createCopy(to, copy);
  if (error == 0) error = copyBytes(original, fdOf(copy.file), st);
  // Both read back whole, and the original unchanged meanwhile.
  if (error == 0 && !(sameBytes(original, copy.file, static_cast<std::uint64_t>(st.st_size)) &&
                      ::fstat(fdOf(original), &now) == 0 && sameStat(now, st))) {
    error = EIO;
  }
  if (error == 0) error = renameBetween(to, copy.name.c_str(), to, name);
  if (error != 0) return error;
  copy.name = name;  // from here on, should the original stay, the copy goes
  error = stillHeld(held, now);
  if (error == 0 && ::unlinkat(folder, held.aside.c_str(), 0) != 0) error = errno;
  copy.kept = error == 0;
  return error;
}

}  // namespace

std::optional<Failure> moveHeldFile(HeldFile& held, const HeldFolder& destination,
                                    std::string_view to, const SameBytes& sameBytes,
                                    std::string& leftAt) {
  if (!held.isHeld()) return Failure{FailureKind::ENTRY_REFUSED, EBADF, {}};
  held.entry.close();
  const std::size_t cut = to.rfind('/');
  const std::string_view below =
      cut == std::string_view::npos ? std::string_view() : to.substr(0, cut);
  Fd folder;
  struct stat st, there;
  int error = stillHeld(held, st);
  // Only a regular file can go to another file system: no folder is made
  // there for another.
  if (error == 0 && !S_ISREG(st.st_mode) && ::fstat(fdOf(destination.folder), &there) == 0 &&
      there.st_dev != st.st_dev) {
    error = EXDEV;
  }
  if (error == 0) error = openFolderBelow(fdOf(destination.folder), below, folder);
  if (error == 0) {
    error = renameBetween(fdOf(held.folder), held.aside.c_str(), folder.fd, held.name.c_str());
  }
  if (error == EXDEV) error = copyAcross(held, folder.fd, held.name.c_str(), sameBytes);
  if (error == 0) {
    held.folder.close();
    return std::nullopt;
  }
  giveBack(held, leftAt);
  return Failure{FailureKind::ENTRY_REFUSED, error, {}};
}

std::optional<Failure> removeFolder(const std::string& path) {
  std::string leaf;
  Fd parent(openParent(path, leaf));
  if (parent.fd < 0 || ::unlinkat(parent.fd, leaf.c_str(), AT_REMOVEDIR) != 0) {
    return Failure{FailureKind::ENTRY_REFUSED, errno, path};
  }
  return std::nullopt;
}

namespace {

// Whether the folder `up` levels above the one open at fd is top: the way up
// by "..", some thousand levels a call, never through a link.
bool standsBelow(int fd, int up, const FileId& top) {
  constexpr int LEVELS_A_CALL = (PATH_MAX - 1) / 3;  // "../" each
  Fd above;
  std::string way;
  for (int left = up; left > 0;) {
    int levels = std::min(left, LEVELS_A_CALL);
    way.assign("..");
    for (int level = 1; level < levels; ++level) way.append("/..");
    above.reset(openNoSymlinks(above.fd >= 0 ? above.fd : fd, way.c_str(), O_PATH | O_DIRECTORY));
    if (above.fd < 0) return false;
    left -= levels;
  }
  struct stat st;
  return ::fstat(above.fd >= 0 ? above.fd : fd, &st) == 0 && idOf(st) == top;
}

// Whether the folder leaf in parent holds any entry; false when it cannot tell.
bool holdsEntries(int parent, const char* leaf) {
  Fd folder(::openat(parent, leaf, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  alignas(linux_dirent64) char buffer[1024];
  long got = 0;
  while (folder.fd >= 0 &&
         (got = ::syscall(SYS_getdents64, folder.fd, buffer, sizeof buffer)) > 0) {
    for (long at = 0; at < got;) {
      auto* d = reinterpret_cast<linux_dirent64*>(buffer + at);
      at += d->d_reclen;
      const char* name = d->d_name;
      if (name[0] != '.' || (name[1] != 0 && (name[1] != '.' || name[2] != 0))) return true;
    }
  }
  return false;
}

}  // namespace

struct FolderPathCache::Kept {
  static constexpr std::size_t STRIDE = 64;  // names between two folders kept
  static constexpr std::size_t MOST = 512;   // folders kept at most: descriptors are few
  // Past this many levels the way up costs more than a look inside the folder.
  static constexpr int LONG_WAY_UP = 128;
  FileId top;
  std::mutex mutex;
  std::unordered_map<std::string, int> folders;  // path -> O_PATH descriptor

  int find(std::string_view path) {
    std::lock_guard lock(mutex);
    auto found = folders.find(std::string(path));
    return found == folders.end() ? -1 : found->second;
  }

  // Keeps fd for path, or closes it in favour of one kept already; the
  // descriptor to use, or -1 when fd is the caller's to close.
  int keep(std::string_view path, int fd) {
    std::lock_guard lock(mutex);
    auto [at, added] = folders.size() < MOST ? folders.emplace(std::string(path), fd)
                                             : std::pair{folders.end(), false};
    if (added) return fd;
    if (at == folders.end()) return -1;
    ::close(fd);
    return at->second;
  }

  // Opens the folder holding path, gives the last name in leaf.
  int openParent(const std::string& path, std::string& leaf) {
    std::size_t cut = path.rfind('/');
    if (cut == std::string::npos || cut == 0) return doppioni::openParent(path, leaf);
    leaf.assign(path, cut + 1, std::string::npos);
    std::string_view parent(path.data(), cut);
    // The ends of the prefixes worth keeping, every STRIDE names.
    std::vector<std::size_t> ends;
    std::size_t names = 0;
    for (std::size_t pos = parent.find('/', 1); pos != std::string_view::npos;
         pos = parent.find('/', pos + 1)) {
      if (++names % STRIDE == 0) ends.push_back(pos);
    }
    // The deepest one kept; then the way on from there, keeping as it goes.
    std::size_t next = ends.size();
    int base = AT_FDCWD;
    std::size_t from = 0;
    while (next > 0) {
      int fd = find(parent.substr(0, ends[next - 1]));
      if (fd >= 0) {
        base = fd;
        from = ends[next - 1] + 1;
        break;
      }
      --next;
    }
    Fd own;  // a folder on the way that could not be kept
    for (; next < ends.size(); ++next) {
      int fd = resolvePath(base, std::string(parent.substr(from, ends[next] - from)),
                           O_PATH | O_DIRECTORY);
      if (fd < 0) return -1;
      int kept = keep(parent.substr(0, ends[next]), fd);
      own.reset(kept < 0 ? fd : -1);
      base = kept < 0 ? fd : kept;
      from = ends[next] + 1;
    }
    return resolvePath(base, std::string(parent.substr(from)), O_PATH | O_DIRECTORY);
  }
};

FolderPathCache::FolderPathCache(const FileId& top) : kept_(std::make_unique<Kept>()) {
  kept_->top = top;
}

FolderPathCache::~FolderPathCache() {
  for (auto& [path, fd] : kept_->folders) ::close(fd);
}

std::optional<Failure> FolderPathCache::removeFolder(const std::string& path, std::uint32_t seen,
                                                     int levels) {
  auto refused = [&path](int error) { return Failure{FailureKind::ENTRY_REFUSED, error, path}; };
  std::string leaf;
  Fd parent(kept_->openParent(path, leaf));
  if (parent.fd < 0) return refused(errno);
  struct stat st;
  if (::fstatat(parent.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return refused(errno);
  if (!S_ISDIR(st.st_mode)) return refused(ENOTDIR);
  if (seen != 0 && idOf(st).digest() != seen) return refused(ENOENT);
  // A folder that holds anything stays whatever is checked: far down, looking
  // costs less than the way up.
  if (levels > Kept::LONG_WAY_UP && holdsEntries(parent.fd, leaf.c_str())) {
    return refused(ENOTEMPTY);
  }
  // The folders kept on the way reach their folders wherever they were moved:
  // the parent must still stand where the scan saw it, below the top.
  if (kept_->top.known() && !standsBelow(parent.fd, levels - 1, kept_->top)) {
    return refused(ENOENT);
  }
  if (::unlinkat(parent.fd, leaf.c_str(), AT_REMOVEDIR) != 0) return refused(errno);
  return std::nullopt;
}

std::optional<Failure> statEntry(const std::string& path, EntryInfo& info) {
  std::string leaf;
  Fd parent(openParent(path, leaf));
  struct stat st;
  if (parent.fd < 0 || ::fstatat(parent.fd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return Failure{FailureKind::ENTRY_REFUSED, errno, path};
  }
  fillInfo(st, info);
  return std::nullopt;
}

// --- one run at a time in a tree --------------------------------------------

TreeLock::~TreeLock() {
  for (std::intptr_t fd : held) ::close(static_cast<int>(fd));
}

std::optional<Failure> lockTree(const std::string& folder, TreeLock& lock) {
  int self = resolvePath(folder, O_RDONLY | O_DIRECTORY);
  if (self < 0) return Failure{FailureKind::FOLDER_UNHELD, errno, folder};
  lock.held.push_back(self);
  int error = ::flock(self, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
  // Up to the root, which is its own parent; a folder above that cannot be
  // read takes no lock, and the way goes on past it.
  struct stat below, above;
  bool known = ::fstat(self, &below) == 0;
  Fd up(::openat(self, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  while (error == 0 && known && up.fd >= 0 && ::fstat(up.fd, &above) == 0 &&
         !(idOf(above) == idOf(below))) {
    int fd = ::openat(up.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      lock.held.push_back(fd);
      if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) error = EWOULDBLOCK;
    }
    below = above;
    up.reset(::openat(up.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  if (error == 0) return std::nullopt;
  for (std::intptr_t fd : lock.held) ::close(static_cast<int>(fd));
  lock.held.clear();
  if (error == EWOULDBLOCK) return Failure{FailureKind::TREE_HELD, EBUSY, folder};
  return Failure{FailureKind::FOLDER_UNHELD, error, folder};
}

// --- reports and the process's start ------------------------------------

std::optional<Failure> createReport(const std::string& path, ReportHandle& report) {
  std::size_t cut = path.rfind('/');
  std::string hidden = path.substr(0, cut + 1) + ".~" + path.substr(cut + 1) + "." +
                       std::to_string(::getpid()) + ".";
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    std::string name = hidden + std::to_string(attempt);
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100))
      return Failure{FailureKind::REPORT_CREATE, errno, path};
    // A rename replaces the name itself, whatever it holds, and fails on a folder.
    if (fd >= 0 && ::rename(name.c_str(), path.c_str()) != 0) {
      int error = errno;
      ::unlink(name.c_str());
      ::close(fd);
      return Failure{FailureKind::REPORT_CREATE, error, path};
    }
  }
  report.value = fd;
  return {};
}

std::optional<Failure> reserveReportRoom(ReportHandle report, std::uint64_t bytes) {
  int fd = static_cast<int>(report.value);
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  if (at < 0) return Failure{FailureKind::REPORT_RESERVE, errno, {}};
  int error = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(bytes));
  if (error == 0) return {};
  if (errno != EOPNOTSUPP && errno != ENOSYS)
    return Failure{FailureKind::REPORT_RESERVE, errno, {}};
  // A file system without it: the room is taken as file size, cut back at close.
  error = ::posix_fallocate(fd, at, static_cast<off_t>(bytes));
  if (error == 0) return {};
  return Failure{FailureKind::REPORT_RESERVE, error, {}};
}

std::optional<Failure> writeReport(ReportHandle report, std::string_view text) {
  while (!text.empty()) {
    ssize_t done = ::write(static_cast<int>(report.value), text.data(), text.size());
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return Failure{FailureKind::REPORT_WRITE, done < 0 ? errno : EIO, {}};
    text.remove_prefix(static_cast<std::size_t>(done));
  }
  return {};
}

std::optional<Failure> reportOffset(ReportHandle report, std::uint64_t& offset) {
  off_t at = ::lseek(static_cast<int>(report.value), 0, SEEK_CUR);
  if (at < 0) return Failure{FailureKind::REPORT_WRITE, errno, {}};
  offset = static_cast<std::uint64_t>(at);
  return {};
}

std::optional<Failure> overwriteReport(ReportHandle report, std::uint64_t offset,
                                       std::string_view text) {
  while (!text.empty()) {
    ssize_t done = ::pwrite(static_cast<int>(report.value), text.data(), text.size(),
                            static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return Failure{FailureKind::REPORT_WRITE, done < 0 ? errno : EIO, {}};
    text.remove_prefix(static_cast<std::size_t>(done));
    offset += static_cast<std::uint64_t>(done);
  }
  return {};
}

std::optional<Failure> closeReport(ReportHandle& report) {
  int fd = static_cast<int>(report.value);
  report.value = -1;
  std::optional<Failure> result;
  off_t end = ::lseek(fd, 0, SEEK_CUR);
  if (end < 0 || ::ftruncate(fd, end) != 0) result = Failure{FailureKind::REPORT_CLOSE, errno, {}};
  if (::close(fd) != 0 && !result) result = Failure{FailureKind::REPORT_CLOSE, errno, {}};
  return result;
}

void prepareStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    // The lowest free number is the one taken: the closed stream's own.
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
  }
  ::signal(SIGPIPE, SIG_IGN);
  // A file grown past the user's limit (ulimit -f) is a failed write like
  // any other, which the program reports, not the end of the process.
  ::signal(SIGXFSZ, SIG_IGN);
}

std::int64_t threadProcessorTime() {
  struct timespec now {};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::tm localTime(std::time_t when) {
  std::tm result{};
  ::localtime_r(&when, &result);
  return result;
}

std::string errorText(int error) {
  return std::strerror(error);
}

// --- the command line --------------------------------------------------------

std::vector<std::string> commandArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<Failure> enterFolder(const std::string& path) {
  if (::chdir(path.c_str()) == 0) return {};
  return Failure{FailureKind::FOLDER_UNENTERABLE, errno, path};
}

}  // namespace doppioni
