// Reads the folders of a tree ahead of a depth-first walk, on worker
// threads, and hands each folder's contents to the walk in the walk's own
// order. The walk stays one plain loop, single-threaded and deterministic;
// only the waiting for the file system is shared out.
//
// The walk asks for the root, then, for every entry of a folder that is a
// folder and not a link (in listing order), for the next child of that
// folder. Workers read pieces of the tree, a few thousand entries each, in
// the order the walk will want them, and stay at most a bounded number of
// entries ahead; a folder the walk needs before any worker has taken it is
// read by the walk itself. On a tree the system has cached, reading is
// computing, and a worker a core does it best. On a tree it has not, each
// worker waits for the disk most of the time: workers are added while they
// wait, so that many reads are under way at once.
//
// A folder is opened from its parent, which stays open while its subfolders
// wait to be read (a bounded number stay open at once), so no folder is ever
// reached by its whole path and a deep tree costs no more a folder than a
// shallow one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace doppioni {

// The most workers a reader grows to when the run leaves the choice to it:
// reads under way at once, which is what a tree not yet cached waits on.
// Past this many, more reads at once only make the disk seek more.
inline constexpr int MAX_READING_THREADS = 8;

struct ReadAheadFolder {
  std::string name;  // the root's is its whole path
  ReadAheadFolder* parent = nullptr;
  // The ancestor a loop through a bind mount is checked against: the
  // nearest one at a depth that is a power of two, so the check costs the
  // same at any depth and still finds every loop a few turns in.
  const ReadAheadFolder* mark = nullptr;
  std::uint32_t depth = 0;
  std::uint32_t position = 0;  // among its parent's children
  FileId id;
  FolderContents contents;
  // One per entry that is a folder and not a link, in listing order.
  std::vector<std::unique_ptr<ReadAheadFolder>> children;
  OpenFolder handle;    // open while subfolders wait to be read from it
  int handleUsers = 0;  // subfolders waiting in the queue, and readers using the handle
  int state = 0;        // queued, reading or read
  bool abandoned = false;
  bool holdsAbandoned = false;  // some folder below it is abandoned
};

class TreeReader {
 public:
  // threads: worker threads to start with (0 reads everything on the walk's
  // own thread); more are added, up to maxThreads, while they wait on the
  // disk. A folder below the root with one of the excluded names is left
  // out of its parent's listing, with everything below it.
  TreeReader(const std::string& root, ListingDetail detail, int threads, int maxThreads,
             const std::vector<std::string>& excluded = {});
  ~TreeReader();
  TreeReader(const TreeReader&) = delete;
  TreeReader& operator=(const TreeReader&) = delete;

  ReadAheadFolder& root() { return *root_; }
  // Waits until the folder has been read (reading it now if nobody has
  // started) and returns its contents; their failure NO_MEMORY when memory
  // ran out for it or for a worker reading ahead.
  const FolderContents& read(ReadAheadFolder& folder);
  // The walk is done with the folder and all below it: its memory goes back.
  void release(ReadAheadFolder& folder);
  // The walk will not go into the folder's subfolders (it has seen the
  // folder before): nothing below it is read any more.
  void abandon(ReadAheadFolder& folder);

 private:
  struct Piece;
  void work();
  void readAhead(std::unique_lock<std::mutex>& lock);
  ReadAheadFolder* nextToRead(std::unique_lock<std::mutex>& lock);
  void readPiece(ReadAheadFolder& first, ReadAheadFolder* base, Piece& piece);
  void handOver(ReadAheadFolder& first, Piece& piece);
  void readFolder(ReadAheadFolder& folder, ReadAheadFolder* base, FolderContents& scratch);
  void listInto(ReadAheadFolder& folder, ReadAheadFolder* base, FolderContents& scratch);
  ReadAheadFolder* take(ReadAheadFolder& folder);
  void finishRead(ReadAheadFolder& folder, ReadAheadFolder* base);
  void unpin(ReadAheadFolder* base);
  void closeIfUnused(ReadAheadFolder* folder);
  void dropHandle(ReadAheadFolder& folder);
  void wakeHeldBackWorkers();
  void popQueued();
  std::size_t entriesAheadAtMost() const;
  void addWorkerIfWaiting(std::int64_t elapsed, std::int64_t computed);

  const ListingDetail detail_;
  const std::vector<std::string> excluded_;
  const std::size_t maxThreads_;
  std::unique_ptr<ReadAheadFolder> root_;
  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable folderRead_;
  std::vector<ReadAheadFolder*> queue_;  // a heap: the folder the walk wants first on top
  std::size_t entriesAhead_ = 0;         // read but not yet released
  std::atomic<int> handlesKept_{0};
  FolderContents walkScratch_;  // what the walk reads itself is listed here first
  bool stopping_ = false;
  bool failed_ = false;  // a worker ran out of memory: the walk gets noMemory_
  FolderContents noMemory_;
  int idleWorkers_ = 0;                                    // workers waiting for a folder to read
  bool walkWaiting_ = false;                               // the walk waits for a folder being read
  std::vector<std::unique_ptr<ReadAheadFolder>> givenUp_;  // abandoned subtrees, kept to the end
  std::vector<std::thread> workers_;
};

}  // namespace doppioni
