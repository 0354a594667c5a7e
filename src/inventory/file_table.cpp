#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "inventory/inventory.h"
#include "inventory/tree_reader.h"
#include "platform/platform.h"

namespace doppioni {

TextArena::~TextArena() {
  clear();
}

std::optional<std::uint32_t> TextArena::add(std::string_view text) {
  std::size_t need = text.size() + 1;
  if (used_ + need > BLOCK_SIZE) {
    // A text longer than a block gets a block of its own, at offset 0.
    if (blocks_.size() >= (std::size_t{1} << (32 - BLOCK_BITS)) - 1) return std::nullopt;
    char* block = static_cast<char*>(std::malloc(need > BLOCK_SIZE ? need : BLOCK_SIZE));
    if (block == nullptr) return std::nullopt;
    try {
      blocks_.push_back(block);
    } catch (const std::bad_alloc&) {
      std::free(block);
      return std::nullopt;
    }
    used_ = 0;
  }
  char* at = blocks_.back() + used_;
  std::memcpy(at, text.data(), text.size());
  at[text.size()] = 0;
  auto offset = static_cast<std::uint32_t>(((blocks_.size() - 1) << BLOCK_BITS) | used_);
  used_ = need > BLOCK_SIZE ? BLOCK_SIZE : used_ + static_cast<std::uint32_t>(need);
  return offset;
}

void TextArena::clear() {
  for (char* block : blocks_) std::free(block);
  blocks_.clear();
  used_ = BLOCK_SIZE;
}

std::optional<std::uint32_t> FolderStore::add(std::string_view path) {
  std::uint32_t below = 0;
  if (!root_.empty() && path.size() > root_.size() && path.starts_with(root_) &&
      path[root_.size()] == PATH_SEPARATOR) {
    path.remove_prefix(root_.size() + 1);
    below = BELOW_ROOT;
  }
  if (path.size() >= BELOW_ROOT) return std::nullopt;
  std::optional<std::uint32_t> offset = texts_.add(path);
  if (!offset) return std::nullopt;
  try {
    offsets_.push_back(*offset);
    lengths_.push_back(static_cast<std::uint32_t>(path.size()) | below);
  } catch (const std::bad_alloc&) {
    offsets_.resize(lengths_.size());
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(offsets_.size() - 1);
}

void FolderStore::appendPath(std::uint32_t id, std::string& out) const {
  if (isBelow(id)) {
    out.append(root_);
    out.push_back(PATH_SEPARATOR);
  }
  out.append(stored(id));
}

void FolderStore::appendReachPath(std::uint32_t id, std::string& out) const {
  if (!isBelow(id)) {
    out.append(stored(id) == root_ ? std::string_view(reachedBy_) : stored(id));
    return;
  }
  if (reachedBy_ != ".") {
    out.append(reachedBy_);
    out.push_back(PATH_SEPARATOR);
  }
  out.append(stored(id));
}

std::string FolderStore::path(std::uint32_t id) const {
  std::string whole;
  whole.reserve(pathLength(id));
  appendPath(id, whole);
  return whole;
}

std::size_t FolderStore::pathLength(std::uint32_t id) const {
  return (isBelow(id) ? root_.size() + 1 : 0) + stored(id).size();
}

bool FolderStore::pathEquals(std::uint32_t id, std::string_view path) const {
  if (!isBelow(id)) return stored(id) == path;
  return path.size() == pathLength(id) && path.starts_with(root_) &&
         path[root_.size()] == PATH_SEPARATOR && path.ends_with(stored(id));
}

bool FolderStore::pathBefore(std::uint32_t a, std::uint32_t b) const {
  // Below the same root, the paths differ only after it.
  if (isBelow(a) && isBelow(b)) return stored(a) < stored(b);
  return path(a) < path(b);
}

void FolderStore::clear() {
  root_.clear();
  reachedBy_.clear();
  texts_.clear();
  offsets_.clear();
  lengths_.clear();
}

std::tm localTimeNow() {
  return localTime(std::time(nullptr));
}

std::optional<Failure> FileTable::grow(std::int32_t step) {
  if (capacity_ > limit - step) return noMemory();
  std::size_t bytes = sizeof(FileRecord) * static_cast<std::size_t>(capacity_ + step);
  auto* storage = static_cast<FileRecord*>(std::realloc(records_, bytes));
  if (storage == nullptr) return noMemory();  // the storage it had is still there, untouched
  records_ = storage;
  capacity_ += step;
  return std::nullopt;
}

void FileTable::release() {
  std::free(records_);
  records_ = nullptr;
  capacity_ = 0;
  count_ = 0;
}

int threadCount(const RunContext& ctx) {
  if (ctx.workerThreads >= 0) return ctx.workerThreads;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

int readingThreadsAtMost(const RunContext& ctx) {
  return ctx.workerThreads >= 0 ? ctx.workerThreads : MAX_READING_THREADS;
}

void releaseFileTable(RunContext& ctx) {
  ctx.files.release();
  ctx.folders.clear();
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::uint8_t nameTraits(std::string_view name) {
  std::uint8_t traits = 0;
  std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && name.substr(dot).find("htm") != std::string_view::npos) {
    traits |= NAME_HTM_EXTENSION;
  }
  if (equalsIgnoringCase(name, "Thumbs.db")) traits |= NAME_THUMBS_DB;
  if (name.starts_with("~$")) traits |= NAME_OFFICE_TEMP;
  if (name.starts_with("~WRL")) traits |= NAME_WRL_TEMP;
  return traits;
}

}  // namespace doppioni
