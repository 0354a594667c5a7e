#include "inventory/tree_reader.h"

#include <algorithm>

namespace doppioni {
namespace {

enum : int { QUEUED = 0, READING = 1, READ = 2 };

// How far the workers may read ahead of the walk, in entries: enough to keep
// them busy, little enough to cost no memory worth speaking of.
constexpr std::size_t MAX_ENTRIES_AHEAD = 1 << 16;

// A worker reads a piece of the tree of about this many entries before it
// hands it over: waking the walk once per folder would cost more than
// reading the folder.
constexpr std::size_t PIECE_ENTRIES = 2048;

// Heap order: the folder the walk comes to first is on top.
bool walkedLater(const TreeFolder* a, const TreeFolder* b) {
  return a->order > b->order;
}

// A folder that is its own ancestor (a bind mount of a folder above it)
// would be read forever.
bool isOwnAncestor(const TreeFolder& folder) {
  if (!folder.contents.folderId.known()) return false;
  for (const TreeFolder* up = folder.parent; up != nullptr; up = up->parent) {
    if (up->contents.folderId == folder.contents.folderId) return true;
  }
  return false;
}

// Marks a subtree that the walk will never enter; what is read of it already
// stops counting as read ahead.
// A folder still being read is only marked: its reader passes the mark on.
void abandonAll(TreeFolder& folder, std::size_t& entriesAhead) {
  if (folder.abandoned) return;
  folder.abandoned = true;
  if (folder.state != READ) return;
  entriesAhead -= folder.contents.entries.size() + 1;
  folder.contents = FolderContents{};
  for (auto& child : folder.children) abandonAll(*child, entriesAhead);
}

std::size_t slotOf(const FileId& id, std::size_t mask) {
  std::uint64_t mixed = (id.index ^ (id.volume * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
  return static_cast<std::size_t>(mixed >> 29) & mask;
}

}  // namespace

bool FolderIdSet::insert(const FileId& id) {
  if (!id.known()) return true;
  if ((used_ + 1) * 5 > slots_.size() * 4) {  // keep the table at most 80% full
    std::vector<FileId> old = std::move(slots_);
    slots_.assign(old.empty() ? 1024 : old.size() * 2, FileId{});
    for (const FileId& moved : old) {
      if (!moved.known()) continue;
      std::size_t at = slotOf(moved, slots_.size() - 1);
      while (slots_[at].known()) at = (at + 1) & (slots_.size() - 1);
      slots_[at] = moved;
    }
  }
  std::size_t mask = slots_.size() - 1;
  std::size_t at = slotOf(id, mask);
  while (slots_[at].known()) {
    if (slots_[at] == id) return false;
    at = (at + 1) & mask;
  }
  slots_[at] = id;
  ++used_;
  return true;
}

TreeReader::TreeReader(const std::string& root, ListingDetail detail, int threads)
    : detail_(detail), root_(std::make_unique<TreeFolder>()) {
  root_->path = root;
  queue_.push_back(root_.get());
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

TreeReader::~TreeReader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  workAvailable_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void TreeReader::popQueued() {
  std::pop_heap(queue_.begin(), queue_.end(), walkedLater);
  queue_.pop_back();
}

// Reads one folder; called without the lock, by a worker or by the walk.
void TreeReader::readFolder(TreeFolder& folder) {
  listFolder(folder.path, detail_, folder.contents);
  if (folder.contents.error != 0 || isOwnAncestor(folder)) return;
  std::uint32_t position = 0;
  for (const FolderEntry& entry : folder.contents.entries) {
    if (!entry.info.isFolder || entry.info.isLink) continue;
    auto child = std::make_unique<TreeFolder>();
    child->path.reserve(folder.path.size() + 1 + entry.nameLength);
    child->path.assign(folder.path);
    child->path.push_back(PATH_SEPARATOR);
    child->path.append(folder.contents.name(entry));
    child->parent = &folder;
    child->order = folder.order;
    child->order.push_back(position++);
    folder.children.push_back(std::move(child));
  }
}

// Called with the lock held, once the walk has read a folder itself.
void TreeReader::finishRead(TreeFolder& folder) {
  folder.state = READ;
  entriesAhead_ += folder.contents.entries.size() + 1;
  for (auto& child : folder.children) {
    queue_.push_back(child.get());
    std::push_heap(queue_.begin(), queue_.end(), walkedLater);
  }
  // Waking a thread costs more than reading a small folder: wake only those
  // that wait.
  if (idleWorkers_ > 0 && !folder.children.empty()) workAvailable_.notify_all();
}

void TreeReader::work() {
  std::vector<TreeFolder*> piece;
  struct Frame {
    TreeFolder* folder;
    std::size_t next;  // next child to read
  };
  std::vector<Frame> stack;
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idleWorkers_;
    workAvailable_.wait(lock, [this] {
      return stopping_ || (!queue_.empty() && entriesAhead_ < MAX_ENTRIES_AHEAD);
    });
    --idleWorkers_;
    if (stopping_) return;
    TreeFolder* first = queue_.front();
    popQueued();
    if (first->abandoned) continue;
    first->state = READING;
    lock.unlock();

    // Read a piece of the tree in the walk's own order. Until it is handed
    // over, nobody else can see the folders below `first`.
    piece.clear();
    stack.clear();
    std::size_t entries = 0;
    readFolder(*first);
    piece.push_back(first);
    entries += first->contents.entries.size() + 1;
    stack.push_back(Frame{first, 0});
    while (!stack.empty() && entries < PIECE_ENTRIES) {
      Frame& frame = stack.back();
      if (frame.next == frame.folder->children.size()) {
        stack.pop_back();
        continue;
      }
      TreeFolder* child = frame.folder->children[frame.next++].get();
      child->state = READING;
      readFolder(*child);
      piece.push_back(child);
      entries += child->contents.entries.size() + 1;
      stack.push_back(Frame{child, 0});
    }

    lock.lock();
    for (TreeFolder* folder : piece) {  // parents come before their children
      if (folder != first && folder->parent->abandoned) folder->abandoned = true;
      folder->state = READ;
      if (folder->abandoned) {
        folder->contents = FolderContents{};
      } else {
        entriesAhead_ += folder->contents.entries.size() + 1;
      }
    }
    // What the piece did not reach goes back to the queue.
    for (const Frame& frame : stack) {
      for (std::size_t i = frame.next; i < frame.folder->children.size(); ++i) {
        TreeFolder* rest = frame.folder->children[i].get();
        if (frame.folder->abandoned) {
          rest->abandoned = true;
          continue;
        }
        queue_.push_back(rest);
        std::push_heap(queue_.begin(), queue_.end(), walkedLater);
      }
    }
    if (idleWorkers_ > 0 && !queue_.empty()) workAvailable_.notify_all();
    if (walkWaiting_) folderRead_.notify_one();
  }
}

const FolderContents& TreeReader::read(TreeFolder& folder) {
  std::unique_lock lock(mutex_);
  if (folder.state == QUEUED) {
    // Every folder the walk wanted before this one is read, so this one is
    // first in the queue, after any the walk has given up.
    while (!queue_.empty() && queue_.front() != &folder && queue_.front()->abandoned) popQueued();
    if (!queue_.empty() && queue_.front() == &folder) {
      popQueued();
    } else {
      queue_.erase(std::find(queue_.begin(), queue_.end(), &folder));
      std::make_heap(queue_.begin(), queue_.end(), walkedLater);
    }
    folder.state = READING;
    lock.unlock();
    readFolder(folder);
    lock.lock();
    finishRead(folder);
  } else {
    walkWaiting_ = true;
    folderRead_.wait(lock, [&folder] { return folder.state == READ; });
    walkWaiting_ = false;
  }
  return folder.contents;
}

void TreeReader::release(TreeFolder& folder) {
  std::lock_guard lock(mutex_);
  entriesAhead_ -= folder.contents.entries.size() + 1;
  // Every child has been walked and released before its parent is.
  folder.children.clear();
  folder.children.shrink_to_fit();
  folder.contents = FolderContents{};
  wakeHeldBackWorkers();
}

void TreeReader::wakeHeldBackWorkers() {
  if (idleWorkers_ > 0 && !queue_.empty() && entriesAhead_ < MAX_ENTRIES_AHEAD) {
    workAvailable_.notify_all();
  }
}

void TreeReader::abandon(TreeFolder& folder) {
  std::lock_guard lock(mutex_);
  entriesAhead_ -= folder.contents.entries.size() + 1;
  folder.contents.entries = {};
  folder.contents.names = {};
  // Children a worker may still be reading stay allocated until the end.
  for (auto& child : folder.children) abandonAll(*child, entriesAhead_);
  wakeHeldBackWorkers();
}

}  // namespace doppioni
