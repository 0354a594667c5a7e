// Win32 side of the platform layer.
//
// Paths are kept as UTF-8 byte strings; every call into the system converts
// them to UTF-16 and hands them over with the "\\?\" prefix, so that no path
// is too long to reach. Windows names may hold UTF-16 code units that pair
// with nothing (unpaired surrogates); such names are carried as WTF-8, the
// generalisation of UTF-8 that encodes a lone surrogate like any other code
// point, so every name read from a listing reaches the same file again.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#include <winioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/platform.h"
#include "platform/wtf8.h"

namespace doppioni {
namespace {

// --- UTF-16 <-> WTF-8 ------------------------------------------------------

void appendWtf8(const wchar_t* text, std::size_t length, std::string& out) {
  for (std::size_t i = 0; i < length; ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length) {
      std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {  // lone surrogates too
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

// Decodes WTF-8 (and so UTF-8). Bytes that are no such text name no file
// that a listing could have given: false, rather than a guess that might
// reach some other file.
bool appendUtf16(std::string_view text, std::wstring& out) {
  return appendWtf8AsUtf16(text, out, 0);
}

// --- error numbers -----------------------------------------------------------

// The errno value the C runtime derives from a system error code.
int errnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_FAIL_I24:
    case ERROR_DRIVE_LOCKED:
    case ERROR_SEEK_ON_DEVICE:
    case ERROR_NOT_LOCKED:
    case ERROR_LOCK_FAILED:
      return EACCES;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_TARGET_HANDLE:
    case ERROR_DIRECT_ACCESS_HANDLE:
      return EBADF;
    case ERROR_ARENA_TRASHED:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_INVALID_BLOCK:
    case ERROR_NOT_ENOUGH_QUOTA:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_BROKEN_PIPE:
      return EPIPE;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_NO_PROC_SLOTS:
    case ERROR_MAX_THRDS_REACHED:
    case ERROR_NESTING_NOT_ALLOWED:
      return EAGAIN;
    default:
      break;
  }
  if (code >= ERROR_WRITE_PROTECT && code <= ERROR_SHARING_BUFFER_EXCEEDED) return EACCES;
  return EINVAL;
}

int lastErrno() {
  return errnoOf(::GetLastError());
}

// --- paths -------------------------------------------------------------------

bool isSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Appends rest to out with every run of separators made one backslash, and
// "." and ".." resolved as Windows itself would resolve them without the
// prefix; the first `floor` characters of out (the volume) are never climbed
// above. A path that names the volume's root keeps its backslash.
void appendNormalised(std::wstring_view rest, std::size_t floor, std::wstring& out) {
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && isSeparator(rest[i])) ++i;
    std::size_t start = i;
    while (i < rest.size() && !isSeparator(rest[i])) ++i;
    std::wstring_view part = rest.substr(start, i - start);
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      std::size_t cut = out.rfind(L'\\');
      if (cut != std::wstring::npos && cut >= floor) out.resize(cut);
      continue;
    }
    out.push_back(L'\\');
    out.append(part);
  }
  if (out.size() == floor) out.push_back(L'\\');
}

bool isDrive(std::wstring_view w) {
  return w.size() >= 2 && w[1] == L':' &&
         ((w[0] >= L'A' && w[0] <= L'Z') || (w[0] >= L'a' && w[0] <= L'z'));
}

// Takes one name off the front of rest (after any separators) and appends it
// to out behind a backslash.
void moveName(std::wstring_view& rest, std::wstring& out) {
  while (!rest.empty() && isSeparator(rest.front())) rest.remove_prefix(1);
  std::size_t end = 0;
  while (end < rest.size() && !isSeparator(rest[end])) ++end;
  out.push_back(L'\\');
  out.append(rest.substr(0, end));
  rest.remove_prefix(end);
}

// The prefixed form of an absolute path: "C:\..." becomes "\\?\C:\...",
// "\\server\share\..." becomes "\\?\UNC\server\share\...", and a path that
// is prefixed already keeps its prefix. `floor` is the length of the volume
// part. False when w is not one of these forms.
bool absoluteApiPath(std::wstring_view w, std::wstring& api, std::size_t& floor) {
  if (w.size() >= 4 && isSeparator(w[0]) && isSeparator(w[1]) && (w[2] == L'?' || w[2] == L'.') &&
      isSeparator(w[3])) {
    std::wstring_view rest = w.substr(4);
    api.assign(L"\\\\");
    api.push_back(w[2]);
    api.push_back(L'\\');
    if (rest.size() >= 4 && (rest[0] == L'U' || rest[0] == L'u') &&
        (rest[1] == L'N' || rest[1] == L'n') && (rest[2] == L'C' || rest[2] == L'c') &&
        isSeparator(rest[3])) {
      api.append(L"UNC");
      rest.remove_prefix(3);
      moveName(rest, api);
      moveName(rest, api);
    } else if (isDrive(rest)) {
      api.append(rest.substr(0, 2));
      rest.remove_prefix(2);
    } else {
      api.pop_back();
      moveName(rest, api);  // a device or volume name
    }
    floor = api.size();
    appendNormalised(rest, floor, api);
    return true;
  }
  if (w.size() >= 2 && isSeparator(w[0]) && isSeparator(w[1])) {
    std::wstring_view rest = w.substr(2);
    api.assign(L"\\\\?\\UNC");
    moveName(rest, api);
    moveName(rest, api);
    floor = api.size();
    appendNormalised(rest, floor, api);
    return true;
  }
  if (isDrive(w) && w.size() >= 3 && isSeparator(w[2])) {
    api.assign(L"\\\\?\\");
    api.append(w.substr(0, 2));
    floor = api.size();
    appendNormalised(w.substr(2), floor, api);
    return true;
  }
  return false;
}

// The current directory in UTF-16, any length; empty when it cannot be read.
std::wstring currentDirectoryWide() {
  std::wstring buffer;
  DWORD size = ::GetCurrentDirectoryW(0, nullptr);
  while (size != 0) {
    buffer.resize(size);
    DWORD got = ::GetCurrentDirectoryW(size, buffer.data());
    if (got == 0) break;
    if (got < size) {
      buffer.resize(got);
      return buffer;
    }
    size = got;  // it grew in between
  }
  return {};
}

// What the system is handed for path: always a prefixed absolute path, so
// that neither its length nor trailing dots or blanks in its names change
// what it reaches. The string the caller keeps is never changed. False when
// path holds bytes that no name can hold.
bool toApiPath(std::string_view path, std::wstring& api) {
  std::wstring wide;
  if (!appendUtf16(path, wide)) return false;
  std::size_t floor = 0;
  if (absoluteApiPath(wide, api, floor)) return true;

  if (isDrive(wide)) {
    // "C:name" is relative to that drive's own current directory.
    DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return false;
    std::wstring full(size, L'\0');
    DWORD got = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (got == 0 || got >= size) return false;
    full.resize(got);
    return absoluteApiPath(full, api, floor);
  }
  std::wstring base = currentDirectoryWide();
  if (base.empty() || !absoluteApiPath(base, api, floor)) return false;
  if (!wide.empty() && isSeparator(wide[0])) {
    api.resize(floor);  // "\name": from the root of the current volume
  } else if (api.size() == floor + 1) {
    api.resize(floor);  // the current directory is a root
  }
  appendNormalised(wide, floor, api);
  return true;
}

// --- entries -----------------------------------------------------------------

// A reparse point that stands for another name: symbolic link, junction,
// mount point. Other reparse points (deduplicated or cloud files) are the
// files themselves.
bool isNameSurrogate(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(tag);
}

void fillInfo(DWORD attributes, DWORD tag, DWORD high, DWORD low, FILETIME written,
              EntryInfo& info) {
  info.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.isLink = isNameSurrogate(attributes, tag);
  info.isRegular = !info.isFolder && !info.isLink;
  info.mayHaveHoles = (attributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
  info.size = (std::uint64_t{high} << 32) | low;
  info.writeTime =
      (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
}

// Closes a handle when it goes out of scope.
struct Handle {
  HANDLE h;
  explicit Handle(HANDLE value) : h(value) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return h != INVALID_HANDLE_VALUE; }
};

// Opens the entry itself, never what a link leads to; folders too.
HANDLE openEntry(const std::wstring& api, DWORD access) {
  return ::CreateFileW(api.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

DWORD reparseTag(HANDLE h, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return 0;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) return 0;
  return tag.ReparseTag;
}

}  // namespace

OpenFolder::~OpenFolder() = default;
OpenFolder::OpenFolder(OpenFolder&& other) noexcept = default;
OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept = default;

bool OpenFolder::isOpen() const {
  return !path.empty();
}

void OpenFolder::close() {
  path.clear();
}

void listFolder(const OpenFolder& from, const std::string& path, ListingDetail detail,
                FolderContents& contents, OpenFolder* keep) {
  if (!from.isOpen()) {
    listFolder(path, detail, contents);
    if (keep != nullptr) keep->path = path;
    return;
  }
  std::string whole = from.path;
  whole.push_back('\\');
  whole.append(path);
  listFolder(whole, detail, contents);
  if (keep != nullptr) keep->path = std::move(whole);
}

namespace {

// Lists the folder at path into contents, cleared first: 0, or an error
// number when it cannot be listed whole.
int listInto(const std::string& path, FolderContents& contents) {
  contents.folderId = FileId{};
  contents.entries.clear();
  contents.names.clear();

  std::wstring api;
  if (!toApiPath(path, api)) return EILSEQ;
  // Read through a handle on the folder, which gives each entry's file id
  // too: the deletion tells by it that a file is still the one listed.
  Handle folder(::CreateFileW(api.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION self;
  if (!folder.valid() || !::GetFileInformationByHandle(folder.h, &self)) return lastErrno();
  if ((self.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
  const DWORD volume = self.dwVolumeSerialNumber;
  contents.folderId =
      FileId{volume, (static_cast<std::uint64_t>(self.nFileIndexHigh) << 32) | self.nFileIndexLow};

  alignas(LARGE_INTEGER) char buffer[32768];
  while (::GetFileInformationByHandleEx(folder.h, FileIdBothDirectoryInfo, buffer, sizeof buffer)) {
    for (DWORD at = 0;;) {
      const auto* d = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
      const wchar_t* name = d->FileName;
      std::size_t length = d->FileNameLength / sizeof(wchar_t);
      bool dots = name[0] == L'.' && (length == 1 || (length == 2 && name[1] == L'.'));
      if (!dots) {
        ListedEntry entry;
        FILETIME written{d->LastWriteTime.LowPart, static_cast<DWORD>(d->LastWriteTime.HighPart)};
        auto size = static_cast<std::uint64_t>(d->EndOfFile.QuadPart);
        // A reparse point's tag stands where the extended attributes' size would.
        fillInfo(d->FileAttributes, d->EaSize, static_cast<DWORD>(size >> 32),
                 static_cast<DWORD>(size), written, entry.info);
        entry.info.id = FileId{volume, static_cast<std::uint64_t>(d->FileId.QuadPart)};
        entry.nameOffset = static_cast<std::uint32_t>(contents.names.size());
        appendWtf8(name, length, contents.names);
        entry.nameLength = static_cast<std::uint32_t>(contents.names.size() - entry.nameOffset);
        contents.entries.push_back(entry);
      }
      if (d->NextEntryOffset == 0) break;
      at += d->NextEntryOffset;
    }
  }
  DWORD code = ::GetLastError();
  return code != ERROR_NO_MORE_FILES ? errnoOf(code) : 0;
}

}  // namespace

void listFolder(const std::string& path, ListingDetail, FolderContents& contents) {
  contents.failure = failureOf(FailureKind::FOLDER_UNREADABLE, listInto(path, contents), path);
}

std::string listingPattern(const std::string& path) {
  return path + "\\*.*";
}

std::optional<Failure> currentDirectory(std::string& path) {
  std::wstring wide = currentDirectoryWide();
  if (wide.empty()) return Failure{FailureKind::FOLDER_UNREADABLE, lastErrno(), "."};
  path.clear();
  appendWtf8(wide.data(), wide.size(), path);
  return std::nullopt;
}

namespace {

int makeWritableError(const std::string& path) {
  std::wstring api;
  if (!toApiPath(path, api)) return EILSEQ;
  Handle file(openEntry(api, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
  if (!file.valid()) return lastErrno();
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file.h, &info)) return lastErrno();
  // Checked and changed through the one handle, which is the entry itself.
  DWORD attributes = info.dwFileAttributes;
  if (isNameSurrogate(attributes, reparseTag(file.h, attributes))) return 0;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return 0;
  // The attribute belongs to the file, not to this name of it: with a second
  // name it would change for that one too.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && info.nNumberOfLinks != 1) return 0;
  FILE_BASIC_INFO basic{};  // zero times: left as they are
  basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(file.h, FileBasicInfo, &basic, sizeof basic)) {
    return lastErrno();
  }
  return 0;
}

}  // namespace

std::optional<Failure> makeWritable(const std::string& path) {
  return failureOf(FailureKind::ENTRY_REFUSED, makeWritableError(path), path);
}

// --- Reading a file's bytes -----------------------------------------------

void OpenFile::close() {
  if (value != -1) ::CloseHandle(reinterpret_cast<HANDLE>(value));
  value = -1;
}

namespace {

HANDLE handleOf(const OpenFile& file) {
  return reinterpret_cast<HANDLE>(file.value);
}

// Opens the entry itself (never what a link leads to) into file. 0 or an
// error number.
int openInto(const std::string& path, DWORD access, DWORD flags, OpenFile& file) {
  std::wstring api;
  if (!toApiPath(path, api)) return EILSEQ;
  HANDLE h =
      ::CreateFileW(api.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return lastErrno();
  file = OpenFile(reinterpret_cast<std::intptr_t>(h));
  return 0;
}

int infoOf(HANDLE h, EntryInfo& info, DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!::GetFileInformationByHandle(h, &data)) return lastErrno();
  fillInfo(data.dwFileAttributes, reparseTag(h, data.dwFileAttributes), data.nFileSizeHigh,
           data.nFileSizeLow, data.ftLastWriteTime, info);
  info.id = FileId{data.dwVolumeSerialNumber,
                   (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow};
  if (attributes != nullptr) *attributes = data.dwFileAttributes;
  return 0;
}

}  // namespace

std::optional<Failure> openToRead(const std::string& path, OpenFile& file, EntryInfo& info) {
  int error = openInto(path, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, file);
  if (error == 0) error = infoOf(handleOf(file), info);
  if (error == 0 && !info.isRegular) error = EINVAL;
  if (error != 0) file.close();
  return failureOf(FailureKind::ENTRY_REFUSED, error, path);
}

std::optional<Failure> openFileInfo(const OpenFile& file, EntryInfo& info) {
  return failureOf(FailureKind::ENTRY_REFUSED, infoOf(handleOf(file), info));
}

DataStretch nextData(const OpenFile& file, std::uint64_t from, std::uint64_t size) {
  FILE_ALLOCATED_RANGE_BUFFER query{}, range{};
  query.FileOffset.QuadPart = static_cast<LONGLONG>(from);
  query.Length.QuadPart = static_cast<LONGLONG>(size - from);
  DWORD got = 0;
  // The first range allocated is all it takes; a file system that cannot
  // tell (FAT, some emulations) has every byte read.
  if (!::DeviceIoControl(handleOf(file), FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, &range,
                         sizeof range, &got, nullptr) &&
      ::GetLastError() != ERROR_MORE_DATA) {
    return {from, size};
  }
  if (got < sizeof range) return {size, size};  // nothing allocated from there on
  auto begin = static_cast<std::uint64_t>(range.FileOffset.QuadPart);
  auto end = begin + static_cast<std::uint64_t>(range.Length.QuadPart);
  begin = std::min(std::max(begin, from), size);
  end = std::min(end, size);
  return {begin, end > begin ? end : size};
}

std::optional<Failure> readAt(const OpenFile& file, std::uint64_t offset, char* buffer,
                              std::size_t length, std::size_t& got) {
  for (got = 0; got < length;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + got);
    at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length - got, 1u << 30)), read = 0;
    if (!::ReadFile(handleOf(file), buffer + got, chunk, &read, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      return Failure{FailureKind::ENTRY_REFUSED, lastErrno(), {}};
    }
    if (read == 0) break;
    got += read;
  }
  return std::nullopt;
}

// --- Deleting exactly the file that was checked ---------------------------

// Windows deletes through the handle it checked: nothing is moved aside, and
// nothing is noted.
AsideJournal::~AsideJournal() = default;

void closeAsideJournal(AsideJournal&, bool) {}

HeldFile::~HeldFile() = default;  // the handle closes: the file stays as it was

HeldFile& HeldFile::operator=(HeldFile&& other) noexcept {
  entry = std::move(other.entry);
  return *this;
}

bool HeldFile::isHeld() const {
  return entry.isOpen();
}

// The entry is looked at only through the handle that deletes it.
DeletionPlan planDeletion(const std::string& path, AsideJournal*) {
  DeletionPlan plan;
  plan.path = path;
  return plan;
}

void noteDeletions(AsideJournal&, std::vector<DeletionPlan>&) {}

PreparedDeletion prepareDeletion(
    DeletionPlan& plan, bool toRead, AsideJournal*,
    const std::function<bool(const EntryInfo& info, const OpenFile& content)>& accept) {
  PreparedDeletion result;
  if ((result.failure = plan.failure)) return result;
  OpenFile& file = result.held.entry;
  // The handle that is checked is the one that deletes: whatever takes the
  // name meanwhile is another file, never touched.
  DWORD access = DELETE | FILE_READ_ATTRIBUTES | (toRead ? GENERIC_READ : 0);
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (toRead ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
  EntryInfo info;
  DWORD attributes = 0;
  int error = openInto(plan.path, access, flags, file);
  if (error == 0) error = infoOf(handleOf(file), info, &attributes);
  // Refused as the runtime's _unlink refuses them, whatever the file system
  // underneath would allow.
  if (error == 0 && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    error = EACCES;
  }
  if (error == 0 && !accept(info, file)) error = ECANCELED;
  if (error != 0) file.close();
  result.failure = failureOf(FailureKind::ENTRY_REFUSED, error, plan.path);
  return result;
}

std::optional<Failure> deleteHeldFile(HeldFile& held, std::string&) {
  if (!held.isHeld()) return Failure{FailureKind::ENTRY_REFUSED, EBADF, {}};
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  int error = ::SetFileInformationByHandle(handleOf(held.entry), FileDispositionInfo, &disposition,
                                           sizeof disposition)
                  ? 0
                  : lastErrno();
  held.entry.close();  // the file goes with the handle
  return failureOf(FailureKind::ENTRY_REFUSED, error);
}

void giveBack(HeldFile& held, std::string&) {
  held.entry.close();
}

std::vector<AsideFile> putBackAsideFiles() {
  return {};
}

namespace {

// removeFolder, of the folder seen alone (its FileId::digest; 0: any).
int removeSeenFolder(const std::string& path, std::uint32_t seen) {
  std::wstring api;
  if (!toApiPath(path, api)) return EILSEQ;
  Handle folder(openEntry(api, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES));
  if (!folder.valid()) return lastErrno();
  FILE_BASIC_INFO basic{};
  BY_HANDLE_FILE_INFORMATION data;
  if (!::GetFileInformationByHandleEx(folder.h, FileBasicInfo, &basic, sizeof basic) ||
      !::GetFileInformationByHandle(folder.h, &data)) {
    return lastErrno();
  }
  if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
  FileId id{data.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow};
  if (seen != 0 && id.digest() != seen) return ENOENT;  // another folder took the name
  // A read-only folder is not removed: its attribute is cleared through this
  // handle, on this folder alone, and set again if the folder stays.
  DWORD attributes = basic.FileAttributes;
  bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                  !isNameSurrogate(attributes, reparseTag(folder.h, attributes));
  FILE_BASIC_INFO changed{};  // zero times: left as they are
  changed.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (readOnly &&
      !::SetFileInformationByHandle(folder.h, FileBasicInfo, &changed, sizeof changed)) {
    return lastErrno();
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (!::SetFileInformationByHandle(folder.h, FileDispositionInfo, &dispose, sizeof dispose)) {
    int error = lastErrno();
    changed.FileAttributes = attributes;
    if (readOnly) ::SetFileInformationByHandle(folder.h, FileBasicInfo, &changed, sizeof changed);
    return error;
  }
  return 0;
}

}  // namespace

std::optional<Failure> removeFolder(const std::string& path) {
  return failureOf(FailureKind::ENTRY_REFUSED, removeSeenFolder(path, 0), path);
}

struct FolderPathCache::Kept {};

FolderPathCache::FolderPathCache(const FileId&) {}
FolderPathCache::~FolderPathCache() = default;

// Every path is reached whole, from the work folder, and nothing is kept open
// on the way: a folder moved away is no longer at its path.
std::optional<Failure> FolderPathCache::removeFolder(const std::string& path, std::uint32_t seen,
                                                     int) {
  return failureOf(FailureKind::ENTRY_REFUSED, removeSeenFolder(path, seen), path);
}

std::optional<Failure> statEntry(const std::string& path, EntryInfo& info) {
  std::wstring api;
  if (!toApiPath(path, api)) return Failure{FailureKind::ENTRY_REFUSED, EILSEQ, path};
  Handle file(openEntry(api, FILE_READ_ATTRIBUTES));
  BY_HANDLE_FILE_INFORMATION data;
  if (!file.valid() || !::GetFileInformationByHandle(file.h, &data)) {
    return Failure{FailureKind::ENTRY_REFUSED, lastErrno(), path};
  }
  fillInfo(data.dwFileAttributes, reparseTag(file.h, data.dwFileAttributes), data.nFileSizeHigh,
           data.nFileSizeLow, data.ftLastWriteTime, info);
  info.id = FileId{data.dwVolumeSerialNumber,
                   (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow};
  return std::nullopt;
}

// --- one run at a time in a tree --------------------------------------------

namespace {

// The identities of the folder at api and of every folder above it, nearest
// first, as far up as they can be opened; empty when the folder cannot be.
std::vector<FileId> folderAndAbove(const std::wstring& api) {
  std::vector<FileId> ids;
  std::wstring at;
  std::size_t floor = 0;
  if (!absoluteApiPath(api, at, floor)) return ids;
  for (;;) {
    Handle folder(openEntry(at, FILE_READ_ATTRIBUTES));
    BY_HANDLE_FILE_INFORMATION data;
    if (!folder.valid() || !::GetFileInformationByHandle(folder.h, &data)) break;
    ids.push_back(
        FileId{data.dwVolumeSerialNumber,
               (static_cast<std::uint64_t>(data.nFileIndexHigh) << 32) | data.nFileIndexLow});
    std::size_t cut = at.rfind(L'\\');
    if (at.size() <= floor + 1 || cut == std::wstring::npos || cut < floor) break;
    at.resize(std::max(cut, floor + 1));  // the volume's root keeps its backslash
  }
  return ids;
}

// A lock is named after its folder's identity, which every path to the
// folder shares: 'T' for a tree held, 'B' for a folder with a tree held
// below it.
std::wstring lockName(wchar_t kind, const FileId& id) {
  return L"Global\\doppioni-" + std::wstring(1, kind) + L"-" + std::to_wstring(id.volume) + L"-" +
         std::to_wstring(id.index);
}

// Whether some run made the lock of that name (one of another user's may
// not open).
bool lockExists(const std::wstring& name) {
  HANDLE h = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  if (h != nullptr) ::CloseHandle(h);
  return h != nullptr || ::GetLastError() == ERROR_ACCESS_DENIED;
}

}  // namespace

TreeLock::~TreeLock() {
  for (std::intptr_t h : held) ::CloseHandle(reinterpret_cast<HANDLE>(h));
}

std::optional<Failure> lockTree(const std::string& folder, TreeLock& lock) {
  std::wstring api;
  if (!toApiPath(folder, api)) return Failure{FailureKind::FOLDER_UNHELD, EILSEQ, folder};
  std::vector<FileId> ids = folderAndAbove(api);
  if (ids.empty()) return Failure{FailureKind::FOLDER_UNHELD, lastErrno(), folder};
  // A named object lives as long as a handle to it, so no longer than its
  // process. Each run makes its own first and then looks for the others',
  // so that of two runs starting at once one sees the other at least.
  int error = 0;
  for (std::size_t i = 0; i < ids.size() && error == 0; ++i) {
    ::SetLastError(0);
    HANDLE h = ::CreateMutexW(nullptr, FALSE, lockName(i == 0 ? L'T' : L'B', ids[i]).c_str());
    DWORD code = ::GetLastError();
    if (h != nullptr) lock.held.push_back(reinterpret_cast<std::intptr_t>(h));
    if (i == 0 && (code == ERROR_ALREADY_EXISTS || code == ERROR_ACCESS_DENIED)) error = EBUSY;
    if (i == 0 && h == nullptr && error == 0) error = errnoOf(code);
  }
  if (error == 0 && lockExists(lockName(L'B', ids[0]))) error = EBUSY;
  for (std::size_t i = 1; i < ids.size() && error == 0; ++i) {
    if (lockExists(lockName(L'T', ids[i]))) error = EBUSY;
  }
  if (error == 0) return std::nullopt;
  for (std::intptr_t h : lock.held) ::CloseHandle(reinterpret_cast<HANDLE>(h));
  lock.held.clear();
  return Failure{error == EBUSY ? FailureKind::TREE_HELD : FailureKind::FOLDER_UNHELD, error,
                 folder};
}

// --- Folders named on the command line, and moving a held file ------------

namespace {

// The whole path of the folder open as h, links resolved ("\\?\C:\..."),
// any length; empty when the system cannot tell.
std::wstring finalPath(HANDLE h) {
  std::wstring path;
  DWORD size = ::GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED);
  while (size != 0) {
    path.resize(size);
    DWORD got = ::GetFinalPathNameByHandleW(h, path.data(), size, FILE_NAME_NORMALIZED);
    if (got == 0) break;
    if (got < size) {
      path.resize(got);
      return path;
    }
    size = got;  // it grew in between
  }
  return {};
}

// Opens a folder shared for reading and writing, not for deletion, so that
// it can be neither moved nor removed while it is open; a link is followed
// only with `follow`. 0 or an error number (ENOTDIR: a file, or a link).
int openHeld(const std::wstring& api, bool follow, OpenFile& folder) {
  HANDLE h = ::CreateFileW(api.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return lastErrno();
  folder = OpenFile(reinterpret_cast<std::intptr_t>(h));
  EntryInfo info;
  if (int error = infoOf(h, info)) return error;
  return info.isFolder && !info.isLink ? 0 : ENOTDIR;
}

// Opens in `held`, one by one, the folders of `below` (names joined by
// '\'), making those that are missing: each in the one before it, which is
// held and was checked to be a folder of its own. The whole path of the
// last in `path`.
int holdFoldersBelow(const HeldFolder& destination, std::string_view below,
                     std::vector<OpenFile>& held, std::string& path) {
  path = destination.path;
  std::wstring api;
  for (std::size_t at = 0; at < below.size();) {
    std::size_t cut = std::min(below.find('\\', at), below.size());
    path.push_back('\\');
    path.append(below.substr(at, cut - at));
    at = cut + 1;
    if (!toApiPath(path, api)) return EILSEQ;
    if (!::CreateDirectoryW(api.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return lastErrno();
    }
    held.emplace_back();
    if (int error = openHeld(api, false, held.back())) return error;
  }
  return 0;
}

// Renames the open file to path through its handle, never over an entry of
// that name: 0 or an error number (EEXIST, EXDEV across volumes).
int renameByHandle(HANDLE file, const std::string& path) {
  std::wstring api;
  if (!toApiPath(path, api)) return EILSEQ;
  const std::size_t bytes = (api.size() + 1) * sizeof(wchar_t);
  std::vector<std::uint64_t> buffer((sizeof(FILE_RENAME_INFO) + bytes) / 8 + 1, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(api.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, api.c_str(), bytes);
  const auto size = static_cast<DWORD>(buffer.size() * 8);
  return ::SetFileInformationByHandle(file, FileRenameInfo, rename, size) ? 0 : lastErrno();
}

int setDeleted(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition)
             ? 0
             : lastErrno();
}

// A copy being made at the destination: deleted when it goes, unless kept.
struct CopyFile {
  OpenFile file;
  bool kept = false;
  ~CopyFile() {
    if (!kept && file.isOpen()) (void)setDeleted(handleOf(file));
  }
};

int createCopy(const std::string& folder, CopyFile& copy) {
  constexpr int ATTEMPTS = 100;  // private names tried before giving up
  std::wstring api;
  for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
    std::string path = folder + "\\.doppioni-" + std::to_string(::GetCurrentProcessId()) +
                       "-copia-" + std::to_string(attempt);
    if (!toApiPath(path, api)) return EILSEQ;
    HANDLE h = ::CreateFileW(api.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      copy.file = OpenFile(reinterpret_cast<std::intptr_t>(h));
      return 0;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return lastErrno();
  }
  return EEXIST;
}

// Writes the original's bytes into the copy, then gives it the original's
// size, times and attributes, and has it on the disk.
int copyBytes(const OpenFile& original, HANDLE copy, std::uint64_t size) {
  constexpr std::size_t PIECE = 1 << 20;
  std::vector<char> bytes(PIECE);
  for (std::uint64_t at = 0; at < size;) {
    const DataStretch data = nextData(original, at, size);
    for (at = data.begin; at < data.end;) {
      auto length = static_cast<DWORD>(std::min<std::uint64_t>(PIECE, data.end - at));
      std::size_t got = 0;
      if (auto failure = readAt(original, at, bytes.data(), length, got)) return failure->error;
      if (got != length) return EIO;
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD written = 0;
      if (!::WriteFile(copy, bytes.data(), length, &written, &where)) return lastErrno();
      if (written != length) return EIO;
      at += length;
    }
  }
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  FILE_BASIC_INFO basic{};
  if (!::SetFileInformationByHandle(copy, FileEndOfFileInfo, &end, sizeof end) ||
      !::GetFileInformationByHandleEx(handleOf(original), FileBasicInfo, &basic, sizeof basic) ||
      !::SetFileInformationByHandle(copy, FileBasicInfo, &basic, sizeof basic) ||
      !::FlushFileBuffers(copy)) {
    return lastErrno();
  }
  return 0;
}

// Moves the held file to path, on another volume: copied under a private
// name beside it, the copy checked, given the name, and then the original
// deleted through the handle that holds it.
int copyAcross(HeldFile& held, const std::string& folder, const std::string& path,
               const SameBytes& sameBytes) {
  EntryInfo before, after;
  if (int error = infoOf(handleOf(held.entry), before)) return error;
  if (!before.isRegular) return EXDEV;
  const std::uint64_t size = before.size;
  CopyFile copy;
  int error = createCopy(folder, copy);
  if (error == 0) error = copyBytes(held.entry, handleOf(copy.file), size);
  // Both read back whole, and the original unchanged meanwhile.
  if (error == 0 && !(sameBytes(held.entry, copy.file, size) &&
                      infoOf(handleOf(held.entry), after) == 0 && after.id == before.id &&
                      after.writeTime == before.writeTime && after.size == before.size)) {
    error = EIO;
  }
  if (error == 0) error = renameByHandle(handleOf(copy.file), path);
  if (error == 0) error = setDeleted(handleOf(held.entry));
  copy.kept = error == 0;
  return error;
}

}  // namespace

std::optional<Failure> holdFolder(const std::string& path, HeldFolder& folder,
                                  std::vector<FileId>& ids) {
  auto unheld = [&path](int error) { return Failure{FailureKind::FOLDER_UNHELD, error, path}; };
  std::wstring api;
  if (!toApiPath(path, api)) return unheld(ENOENT);
  // As cd takes it: a link is followed, to the folder it leads to.
  if (int error = openHeld(api, true, folder.folder)) return unheld(error);
  std::wstring whole = finalPath(handleOf(folder.folder));
  if (whole.empty()) return unheld(lastErrno());
  folder.path.clear();
  appendWtf8(whole.data(), whole.size(), folder.path);
  ids = folderAndAbove(whole);
  if (ids.empty()) return unheld(lastErrno());
  return std::nullopt;
}

std::optional<Failure> moveHeldFile(HeldFile& held, const HeldFolder& destination,
                                    std::string_view to, const SameBytes& sameBytes, std::string&) {
  if (!held.isHeld()) return Failure{FailureKind::ENTRY_REFUSED, EBADF, {}};
  const std::size_t cut = to.rfind('\\');
  const std::string_view below =
      cut == std::string_view::npos ? std::string_view() : to.substr(0, cut);
  std::vector<OpenFile> folders;  // held until the move is over
  std::string folder;
  EntryInfo entry, there;
  int error = infoOf(handleOf(held.entry), entry);
  // Only a regular file can go to another volume: no folder is made there
  // for another.
  if (error == 0 && !entry.isRegular && infoOf(handleOf(destination.folder), there) == 0 &&
      there.id.volume != entry.id.volume) {
    error = EXDEV;
  }
  if (error == 0) error = holdFoldersBelow(destination, below, folders, folder);
  const std::string path = folder + "\\" + std::string(to.substr(cut + 1));
  if (error == 0) error = renameByHandle(handleOf(held.entry), path);
  if (error == EXDEV) error = copyAcross(held, folder, path, sameBytes);
  held.entry.close();  // moved, deleted, or left as it was
  return failureOf(FailureKind::ENTRY_REFUSED, error);
}

// --- reports and the process's start ------------------------------------

std::optional<Failure> createReport(const std::string& path, ReportHandle& report) {
  std::wstring api;
  if (!toApiPath(path, api)) return Failure{FailureKind::REPORT_CREATE, EILSEQ, path};
  std::size_t cut = api.rfind(L'\\');
  std::wstring hidden = api.substr(0, cut + 1) + L".~" + api.substr(cut + 1) + L"." +
                        std::to_wstring(::GetCurrentProcessId()) + L".";
  for (int attempt = 0;; ++attempt) {
    std::wstring name = hidden + std::to_wstring(attempt);
    HANDLE h =
        ::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS && attempt < 100) continue;
      return Failure{FailureKind::REPORT_CREATE, lastErrno(), path};
    }
    // Renamed through its handle: what held the name is replaced, never
    // written through; a folder there makes the rename fail.
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + api.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(api.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, api.c_str(), api.size() * sizeof(wchar_t));
    if (!::SetFileInformationByHandle(h, FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size()))) {
      int error = lastErrno();
      FILE_DISPOSITION_INFO dispose{TRUE};
      ::SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose);
      ::CloseHandle(h);
      return Failure{FailureKind::REPORT_CREATE, error, path};
    }
    report.value = reinterpret_cast<std::intptr_t>(h);
    return {};
  }
}

std::optional<Failure> reserveReportRoom(ReportHandle report, std::uint64_t bytes) {
  HANDLE h = reinterpret_cast<HANDLE>(report.value);
  LARGE_INTEGER zero{}, at{};
  if (!::SetFilePointerEx(h, zero, &at, FILE_CURRENT))
    return Failure{FailureKind::REPORT_RESERVE, lastErrno(), {}};
  // The file is made that long and written from where it was; the end is
  // set back at close.
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = at.QuadPart + static_cast<LONGLONG>(bytes);
  if (!::SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end)) {
    return Failure{FailureKind::REPORT_RESERVE, lastErrno(), {}};
  }
  return {};
}

std::optional<Failure> writeReport(ReportHandle report, std::string_view text) {
  HANDLE h = reinterpret_cast<HANDLE>(report.value);
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') crlf.push_back('\r');
    crlf.push_back(c);
  }
  std::string_view rest(crlf);
  while (!rest.empty()) {
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 30));
    DWORD done = 0;
    if (!::WriteFile(h, rest.data(), chunk, &done, nullptr) || done == 0) {
      return Failure{
          FailureKind::REPORT_WRITE, done == 0 && ::GetLastError() == 0 ? EIO : lastErrno(), {}};
    }
    rest.remove_prefix(done);
  }
  return {};
}

std::optional<Failure> reportOffset(ReportHandle report, std::uint64_t& offset) {
  LARGE_INTEGER zero{}, at{};
  if (!::SetFilePointerEx(reinterpret_cast<HANDLE>(report.value), zero, &at, FILE_CURRENT)) {
    return Failure{FailureKind::REPORT_WRITE, lastErrno(), {}};
  }
  offset = static_cast<std::uint64_t>(at.QuadPart);
  return {};
}

std::optional<Failure> overwriteReport(ReportHandle report, std::uint64_t offset,
                                       std::string_view text) {
  HANDLE h = reinterpret_cast<HANDLE>(report.value);
  LARGE_INTEGER zero{}, back{};
  if (!::SetFilePointerEx(h, zero, &back, FILE_CURRENT)) {
    return Failure{FailureKind::REPORT_WRITE, lastErrno(), {}};
  }
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD done = 0;
  int error = ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &done, &at)
                  ? (done == text.size() ? 0 : EIO)
                  : lastErrno();
  // A handle without overlapped writes moves on past them: it goes back
  // to where the report goes on.
  if (!::SetFilePointerEx(h, back, nullptr, FILE_BEGIN) && error == 0) error = lastErrno();
  if (error != 0) return Failure{FailureKind::REPORT_WRITE, error, {}};
  return {};
}

std::optional<Failure> closeReport(ReportHandle& report) {
  HANDLE h = reinterpret_cast<HANDLE>(report.value);
  report.value = -1;
  std::optional<Failure> result;
  if (!::SetEndOfFile(h)) result = Failure{FailureKind::REPORT_CLOSE, lastErrno(), {}};
  if (!::CloseHandle(h) && !result) result = Failure{FailureKind::REPORT_CLOSE, lastErrno(), {}};
  return result;
}

void prepareStandardStreams() {
  const DWORD STREAMS[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (DWORD stream : STREAMS) {
    HANDLE h = ::GetStdHandle(stream);
    if (h != nullptr && h != INVALID_HANDLE_VALUE) continue;
    HANDLE null =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (null != INVALID_HANDLE_VALUE) ::SetStdHandle(stream, null);
  }
}

std::int64_t threadProcessorTime() {
  FILETIME created, ended, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) {  // of 100 ns
    return static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) / 10;
}

std::tm localTime(std::time_t when) {
  std::tm result{};
  ::localtime_s(&result, &when);
  return result;
}

std::string errorText(int error) {
  return std::strerror(error);
}

// --- the command line --------------------------------------------------------

std::vector<std::string> commandArguments(int, char**) {
  // The narrow arguments went through the ANSI code page: a name outside it
  // would arrive changed.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 1; wide != nullptr && i < count; ++i) {
    arguments.emplace_back();
    appendWtf8(wide[i], std::wcslen(wide[i]), arguments.back());
  }
  if (wide != nullptr) ::LocalFree(wide);
  return arguments;
}

std::optional<Failure> enterFolder(const std::string& path) {
  std::wstring wide;
  if (!appendUtf16(path, wide)) return Failure{FailureKind::FOLDER_UNENTERABLE, ENOENT, path};
  if (::SetCurrentDirectoryW(wide.c_str())) return {};
  DWORD code = ::GetLastError();
  int error = code == ERROR_DIRECTORY ? ENOTDIR : errnoOf(code);
  return Failure{FailureKind::FOLDER_UNENTERABLE, error, path};
}

}  // namespace doppioni
