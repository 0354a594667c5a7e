#include "inventory/tree_reader.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <new>

namespace doppioni {
namespace {

enum : int { QUEUED = 0, READING = 1, READ = 2 };

// How far the workers may read ahead of the walk, in entries, for each
// worker: enough to keep them all busy when the disk makes some of them wait
// long, little enough to cost no memory worth speaking of.
constexpr std::size_t ENTRIES_AHEAD_PER_WORKER = 1 << 13;

// A worker reads a piece of the tree of about this many entries before it
// hands it over: waking the walk once per folder would cost more than
// reading the folder.
constexpr std::size_t PIECE_ENTRIES = 2048;

// How long a worker reads before it judges whether it waits on the disk:
// long enough for the coarsest clock of processor time to tell.
constexpr std::int64_t JUDGED_EVERY_US = 100000;

// Folders kept open at once for their subfolders; past it a folder is
// reached from the nearest open ancestor by the names in between.
constexpr int MAX_HANDLES = 256;

// Walk order: ancestors first, then siblings in listing order.
bool walkedBefore(const ReadAheadFolder* a, const ReadAheadFolder* b) {
  if (a == b) return false;
  const ReadAheadFolder* x = a;
  const ReadAheadFolder* y = b;
  while (x->depth > y->depth) x = x->parent;
  while (y->depth > x->depth) y = y->parent;
  if (x == y) return a->depth < b->depth;
  while (x->parent != y->parent) {
    x = x->parent;
    y = y->parent;
  }
  return x->position < y->position;
}

// Heap order: the folder the walk comes to first is on top.
bool walkedLater(const ReadAheadFolder* a, const ReadAheadFolder* b) {
  return walkedBefore(b, a);
}

// A folder that is its own ancestor (a bind mount of a folder above it)
// would be read forever.
bool isLoop(const ReadAheadFolder& folder) {
  if (!folder.id.known() || folder.parent == nullptr) return false;
  return folder.parent->id == folder.id || folder.mark->id == folder.id;
}

// The names from below base down to folder; with no base, from the root's
// whole path.
std::string pathFrom(const ReadAheadFolder* base, const ReadAheadFolder& folder) {
  if (folder.parent == base) return folder.name;
  std::vector<const ReadAheadFolder*> chain;
  for (const ReadAheadFolder* f = &folder; f != base; f = f->parent) chain.push_back(f);
  std::string path;
  for (auto f = chain.rbegin(); f != chain.rend(); ++f) {
    if (!path.empty()) path.push_back(PATH_SEPARATOR);
    path.append((*f)->name);
  }
  return path;
}

// The nearest open ancestor of folder below stop, or outer.
ReadAheadFolder* openAncestor(const ReadAheadFolder& folder, const ReadAheadFolder* stop,
                              ReadAheadFolder* outer) {
  for (ReadAheadFolder* up = folder.parent; up != stop; up = up->parent) {
    if (up->handle.isOpen()) return up;
  }
  return outer;
}

// Marks a subtree that the walk will never enter; what is read of it already
// stops counting as read ahead.
// A folder still being read is only marked: its reader passes the mark on.
void abandonAll(ReadAheadFolder& folder, std::size_t& entriesAhead) {
  if (folder.abandoned) return;
  folder.abandoned = true;
  if (folder.state != READ) return;
  entriesAhead -= folder.contents.entries.size() + 1;
  folder.contents = FolderContents{};
  for (auto& child : folder.children) abandonAll(*child, entriesAhead);
}

// The entries of a listing but the folders of an excluded name (a link is
// no folder of its own, and stays).
void leaveOut(const FolderContents& listing, const std::vector<std::string>& excluded,
              std::vector<ListedEntry>& entries) {
  entries.clear();
  for (const ListedEntry& entry : listing.entries) {
    if (entry.info.isFolder && !entry.info.isLink &&
        std::find(excluded.begin(), excluded.end(), listing.name(entry)) != excluded.end()) {
      continue;
    }
    entries.push_back(entry);
  }
  entries.shrink_to_fit();
}

}  // namespace

TreeReader::TreeReader(const std::string& root, ListingDetail detail, int threads, int maxThreads,
                       const std::vector<std::string>& excluded)
    : detail_(detail),
      excluded_(excluded),
      maxThreads_(static_cast<std::size_t>(std::max(threads, maxThreads))),
      root_(std::make_unique<ReadAheadFolder>()) {
  root_->name = root;
  queue_.push_back(root_.get());
  noMemory_.failure = noMemory();
  std::lock_guard lock(mutex_);  // the workers count themselves under it
  for (int i = 0; i < threads; ++i) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::exception&) {
      break;  // no thread to be had: fewer workers, or the walk reads alone
    }
  }
}

// Called with the lock held.
std::size_t TreeReader::entriesAheadAtMost() const {
  return ENTRIES_AHEAD_PER_WORKER * workers_.size();
}

// Called with the lock held, by a worker that has spent `elapsed`
// microseconds reading, `computed` of them on a processor: when it waited
// for the disk most of that time, one more read can be under way.
void TreeReader::addWorkerIfWaiting(std::int64_t elapsed, std::int64_t computed) {
  if (stopping_ || workers_.size() >= maxThreads_ || computed * 2 > elapsed) return;
  try {
    workers_.emplace_back([this] { work(); });
  } catch (const std::exception&) {
    // No thread to be had: the workers there are go on reading.
  }
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
  ReadAheadFolder* folder = queue_.back();
  queue_.pop_back();
  if (folder->parent != nullptr) {
    --folder->parent->handleUsers;
    closeIfUnused(folder->parent);
  }
}

void TreeReader::dropHandle(ReadAheadFolder& folder) {
  if (!folder.handle.isOpen()) return;
  folder.handle.close();
  --handlesKept_;
}

// Called with the lock held.
void TreeReader::closeIfUnused(ReadAheadFolder* folder) {
  if (folder != nullptr && folder->handleUsers == 0) dropHandle(*folder);
}

// Called with the lock held, for a folder just taken from the queue: the
// open ancestor it is to be read from, kept open until unpin.
ReadAheadFolder* TreeReader::take(ReadAheadFolder& folder) {
  folder.state = READING;
  ReadAheadFolder* base = openAncestor(folder, nullptr, nullptr);
  if (base != nullptr) ++base->handleUsers;
  return base;
}

void TreeReader::unpin(ReadAheadFolder* base) {
  if (base == nullptr) return;
  --base->handleUsers;
  closeIfUnused(base);
}

// Reads one folder from base (an open ancestor, or none: from the root's
// path); called without the lock, by a worker or by the walk. The folder
// stays open if subfolders are to be read from it and there is room. A
// folder that cannot be held in memory comes to the walk as one that could
// not be listed, with NO_MEMORY.
void TreeReader::readFolder(ReadAheadFolder& folder, ReadAheadFolder* base,
                            FolderContents& scratch) {
  try {
    listInto(folder, base, scratch);
  } catch (const std::bad_alloc&) {
    folder.handle.close();
    folder.children.clear();
    folder.contents = FolderContents{};
    folder.contents.failure = noMemory();
  }
}

void TreeReader::listInto(ReadAheadFolder& folder, ReadAheadFolder* base, FolderContents& scratch) {
  const OpenFolder none;
  listFolder(base != nullptr ? base->handle : none, pathFrom(base, folder), detail_, scratch,
             &folder.handle);
  // Copied at their exact size: what waits for the walk takes no more
  // memory than it needs, whichever thread read it.
  folder.contents.failure = scratch.failure;
  folder.contents.folderId = scratch.folderId;
  if (excluded_.empty()) {
    folder.contents.entries.assign(scratch.entries.begin(), scratch.entries.end());
  } else {
    leaveOut(scratch, excluded_, folder.contents.entries);
  }
  folder.contents.names.assign(scratch.names.begin(), scratch.names.end());
  folder.id = folder.contents.folderId;
  std::uint32_t position = 0;
  if (!folder.contents.failure && !isLoop(folder)) {
    const ReadAheadFolder* mark =
        folder.parent == nullptr || (folder.depth & (folder.depth - 1)) == 0 ? &folder
                                                                             : folder.mark;
    for (const ListedEntry& entry : folder.contents.entries) {
      if (!entry.info.isFolder || entry.info.isLink) continue;
      auto child = std::make_unique<ReadAheadFolder>();
      child->name.assign(folder.contents.name(entry));
      child->parent = &folder;
      child->mark = mark;
      child->depth = folder.depth + 1;
      child->position = position++;
      folder.children.push_back(std::move(child));
    }
  }
  if (folder.handle.isOpen()) {
    if (!folder.children.empty() && handlesKept_.fetch_add(1) < MAX_HANDLES) return;
    if (!folder.children.empty()) --handlesKept_;
    folder.handle.close();
  }
}

// Called with the lock held, once the walk has read a folder itself.
void TreeReader::finishRead(ReadAheadFolder& folder, ReadAheadFolder* base) {
  folder.state = READ;
  entriesAhead_ += folder.contents.entries.size() + 1;
  folder.handleUsers = static_cast<int>(folder.children.size());
  for (auto& child : folder.children) {
    queue_.push_back(child.get());
    std::push_heap(queue_.begin(), queue_.end(), walkedLater);
  }
  unpin(base);
  // Waking a thread costs more than reading a small folder: wake only those
  // that wait.
  if (idleWorkers_ > 0 && !folder.children.empty()) workAvailable_.notify_one();
}

void TreeReader::work() {
  std::unique_lock lock(mutex_, std::defer_lock);
  try {
    readAhead(lock);
  } catch (const std::exception&) {  // no memory to be had
    // The walk stops at the folders this worker was reading; what the worker
    // left half done under the lock is never seen, since the lock is kept.
    if (!lock.owns_lock()) lock.lock();
    failed_ = true;
    folderRead_.notify_all();
  }
}

// A piece of the tree that a worker reads in one go, in the walk's own order.
struct TreeReader::Piece {
  struct Frame {
    ReadAheadFolder* folder;
    std::size_t next;  // next child to read
  };
  std::vector<ReadAheadFolder*> folders;  // read, parents before their children
  std::vector<Frame> stack;               // where the reading stopped
  FolderContents scratch;
};

void TreeReader::readAhead(std::unique_lock<std::mutex>& lock) {
  Piece piece;
  std::int64_t elapsed = 0;   // microseconds spent reading since last judged
  std::int64_t computed = 0;  // of those, on a processor
  lock.lock();
  for (;;) {
    ReadAheadFolder* first = nextToRead(lock);
    if (first == nullptr) return;
    ReadAheadFolder* base = take(*first);  // pinned before its parent may close
    popQueued();
    // Workers are woken one at a time, each waking the next while work is
    // left: waking them all at once would have most go back to sleep.
    if (idleWorkers_ > 0 && !queue_.empty()) workAvailable_.notify_one();
    lock.unlock();

    const auto started = std::chrono::steady_clock::now();
    const std::int64_t processorAtStart = threadProcessorTime();
    readPiece(*first, base, piece);
    elapsed += std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - started)
                   .count();
    computed += threadProcessorTime() - processorAtStart;
    lock.lock();
    if (elapsed >= JUDGED_EVERY_US) {
      addWorkerIfWaiting(elapsed, computed);
      elapsed = computed = 0;
    }
    unpin(base);
    handOver(*first, piece);
    if (idleWorkers_ > 0 && !queue_.empty()) workAvailable_.notify_one();
    if (walkWaiting_) folderRead_.notify_one();
  }
}

// Called with the lock held: waits for a folder to read and returns it, or
// nullptr when the reader stops.
ReadAheadFolder* TreeReader::nextToRead(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    ++idleWorkers_;
    workAvailable_.wait(lock, [this] {
      return stopping_ || (!queue_.empty() && entriesAhead_ < entriesAheadAtMost());
    });
    --idleWorkers_;
    if (stopping_) return nullptr;
    if (!queue_.front()->abandoned) return queue_.front();
    popQueued();
  }
}

// Called without the lock: reads first and the folders below it until the
// piece is big enough. Until it is handed over, nobody else can see the
// folders below first, nor close them.
void TreeReader::readPiece(ReadAheadFolder& first, ReadAheadFolder* base, Piece& piece) {
  piece.folders.clear();
  piece.stack.clear();
  readFolder(first, base, piece.scratch);
  piece.folders.push_back(&first);
  std::size_t entries = first.contents.entries.size() + 1;
  piece.stack.push_back(Piece::Frame{&first, 0});
  while (!piece.stack.empty() && entries < PIECE_ENTRIES) {
    Piece::Frame& frame = piece.stack.back();
    if (frame.next == frame.folder->children.size()) {
      piece.stack.pop_back();
      continue;
    }
    ReadAheadFolder* child = frame.folder->children[frame.next++].get();
    child->state = READING;
    readFolder(*child, openAncestor(*child, first.parent, base), piece.scratch);
    // The last subfolder read from it: nobody needs it open any more.
    if (frame.next == frame.folder->children.size()) dropHandle(*frame.folder);
    piece.folders.push_back(child);
    entries += child->contents.entries.size() + 1;
    piece.stack.push_back(Piece::Frame{child, 0});
  }
}

// Called with the lock held: what the piece read is the walk's now, and
// what it did not reach goes back to the queue.
void TreeReader::handOver(ReadAheadFolder& first, Piece& piece) {
  for (ReadAheadFolder* folder : piece.folders) {  // parents come before their children
    if (folder != &first && folder->parent->abandoned) folder->abandoned = true;
    folder->state = READ;
    if (folder->abandoned) {
      folder->contents = FolderContents{};
    } else {
      entriesAhead_ += folder->contents.entries.size() + 1;
    }
  }
  for (const Piece::Frame& frame : piece.stack) {
    ReadAheadFolder& parent = *frame.folder;
    parent.handleUsers = 0;
    for (std::size_t i = frame.next; i < parent.children.size(); ++i) {
      ReadAheadFolder* rest = parent.children[i].get();
      if (parent.abandoned) {
        rest->abandoned = true;
        continue;
      }
      ++parent.handleUsers;
      queue_.push_back(rest);
      std::push_heap(queue_.begin(), queue_.end(), walkedLater);
    }
    closeIfUnused(&parent);
  }
}

const FolderContents& TreeReader::read(ReadAheadFolder& folder) {
  std::unique_lock lock(mutex_);
  if (failed_) return noMemory_;
  if (folder.state == QUEUED) {
    // Every folder the walk wanted before this one is read, so this one is
    // first in the queue, after any the walk has given up.
    while (!queue_.empty() && queue_.front() != &folder && queue_.front()->abandoned) popQueued();
    ReadAheadFolder* base = take(folder);
    if (!queue_.empty() && queue_.front() == &folder) {
      popQueued();
    } else {
      queue_.erase(std::find(queue_.begin(), queue_.end(), &folder));
      std::make_heap(queue_.begin(), queue_.end(), walkedLater);
      if (folder.parent != nullptr) {
        --folder.parent->handleUsers;
        closeIfUnused(folder.parent);
      }
    }
    lock.unlock();
    readFolder(folder, base, walkScratch_);
    lock.lock();
    finishRead(folder, base);
  } else {
    walkWaiting_ = true;
    folderRead_.wait(lock, [this, &folder] { return folder.state == READ || failed_; });
    walkWaiting_ = false;
    if (folder.state != READ) return noMemory_;
  }
  return folder.contents;
}

void TreeReader::release(ReadAheadFolder& folder) {
  std::lock_guard lock(mutex_);
  entriesAhead_ -= folder.contents.entries.size() + 1;
  // Every child has been walked and released before its parent is, but for
  // those given up: a worker may still be reading below them, or holding an
  // ancestor open for them, and the queue may still name folders in them.
  for (auto& child : folder.children) {
    if (!child->abandoned && !child->holdsAbandoned) continue;
    folder.holdsAbandoned = true;
    givenUp_.push_back(std::move(child));
  }
  folder.children.clear();
  folder.children.shrink_to_fit();
  folder.contents = FolderContents{};
  dropHandle(folder);
  wakeHeldBackWorkers();
}

void TreeReader::wakeHeldBackWorkers() {
  if (idleWorkers_ > 0 && !queue_.empty() && entriesAhead_ < entriesAheadAtMost()) {
    workAvailable_.notify_one();
  }
}

void TreeReader::abandon(ReadAheadFolder& folder) {
  std::lock_guard lock(mutex_);
  entriesAhead_ -= folder.contents.entries.size() + 1;
  folder.contents.entries = {};
  folder.contents.names = {};
  folder.holdsAbandoned = true;
  // What a worker may still be reading below it stays allocated until the end.
  for (auto& child : folder.children) abandonAll(*child, entriesAhead_);
  wakeHeldBackWorkers();
}

}  // namespace doppioni
