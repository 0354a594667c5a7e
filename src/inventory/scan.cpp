// The tree scan: every file below the working directory becomes a record.
//
// Each folder is read whole before its subfolders are walked, and only a
// bounded number stay open, so a deep tree never runs out of open handles;
// worker threads read folders ahead of the walk, which itself stays in
// listing order and builds each folder's path as it goes down. Links to folders
// are never walked, and a folder reached a second time (a bind mount) is
// passed over, so no file enters the table under two paths.
#include <cerrno>
#include <vector>

#include "inventory/inventory.h"
#include "inventory/options.h"
#include "inventory/tree_reader.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

struct Walk {
  RunContext& ctx;
  const Options& options;
  TreeReader& reader;
  FolderIdSet visited;  // folders already walked
  std::string path;     // the folder being walked, and what is left of the last one below it
};

// A folder being walked: where the walk stands in its listing.
struct Frame {
  TreeFolder* folder;
  const FolderContents* listing;
  std::size_t entry = 0;  // next entry to take
  std::size_t child = 0;  // next subfolder to walk
  std::size_t pathLength = 0;
  std::uint32_t dirId = FolderStore::NO_ROOM;
  bool recycled = false;
  bool kept = false;  // in a folder whose copies stay first, at any depth
};

// Reads the folder at walk.path and, unless it was walked before, makes it
// the folder being walked. FOLDER_UNREADABLE when it cannot be listed,
// NO_MEMORY when memory ran out for it.
std::optional<Failure> enterFolder(Walk& walk, TreeFolder& folder, bool recycled, bool kept,
                                   std::vector<Frame>& stack) {
  const FolderContents& listing = walk.reader.read(folder);
  if (listing.error == ENOMEM) return noMemory();
  if (listing.error != 0) return Failure{FailureKind::FOLDER_UNREADABLE, listing.error, walk.path};
  if (!walk.visited.insert(listing.folderId)) {
    walk.reader.abandon(folder);
    return std::nullopt;  // the same folder through another path: its files are in already
  }
  kept = kept || walk.options.keeps(listing.folderId);
  stack.push_back(
      Frame{&folder, &listing, 0, 0, walk.path.size(), FolderStore::NO_ROOM, recycled, kept});
  return std::nullopt;
}

// Depth first, each folder's entries in listing order, a subfolder's whole
// contents where its parent's listing gives it. The stack is the walk's own,
// so no depth of tree can exhaust the call stack.
std::optional<Failure> walkTree(Walk& walk) {
  RunContext& ctx = walk.ctx;
  std::vector<Frame> stack;
  walk.path = ctx.folders.root();
  std::optional<Failure> failure = enterFolder(walk, walk.reader.root(), false, false, stack);
  ctx.treeTop = walk.reader.root().id;
  while (!failure && !stack.empty()) {
    Frame& frame = stack.back();
    if (frame.entry == frame.listing->entries.size()) {
      walk.reader.release(*frame.folder);
      stack.pop_back();
      continue;
    }
    const FolderEntry& entry = frame.listing->entries[frame.entry];
    bool firstEntry = frame.entry == 0;
    ++frame.entry;
    if (ctx.count > ctx.capacity - 1) {
      failure = growTable(ctx, frame.recycled ? RECYCLED_STEP : TABLE_STEP);
      if (failure) return failure;
      ctx.progress.tableGrew(ctx.count, frame.recycled, firstEntry);
    }
    std::string_view name = frame.listing->name(entry);

    if (entry.info.isFolder) {
      if (entry.info.isLink) continue;  // a link to a folder is never walked
      bool bin = frame.recycled || equalsIgnoringCase(name, "Recycled");
      walk.path.resize(frame.pathLength);
      walk.path.push_back(PATH_SEPARATOR);
      walk.path.append(name);
      failure = enterFolder(walk, *frame.folder->children[frame.child++], bin, frame.kept, stack);
      continue;  // frame may have moved with the stack
    }

    if (frame.dirId == FolderStore::NO_ROOM) {
      frame.dirId = ctx.folders.add(std::string_view(walk.path).substr(0, frame.pathLength));
      if (frame.dirId == FolderStore::NO_ROOM) return noMemory();
    }
    std::uint32_t nameOffset = ctx.names.add(name);
    if (nameOffset == TextArena::NO_ROOM) return noMemory();

    FileEntry& record = ctx.entries[ctx.count];
    record.dir = frame.dirId;
    record.name = nameOffset;
    record.size = entry.info.size;
    record.fileId = entry.info.id.digest();
    record.writeTime = entry.info.writeTime;
    record.ext = frame.recycled ? EXT_RECYCLED : EXT_OF_NAME;
    record.traits = static_cast<std::uint8_t>(nameTraits(name) | (frame.kept ? IN_KEPT_FOLDER : 0));
    record.pageId = 0;
    record.keptCopy = NO_COPY;
    record.marked = frame.recycled;
    record.kind = frame.recycled ? Kind::JUNK : Kind::NORMAL;
    ++ctx.count;
  }
  return failure;
}

}  // namespace

std::optional<Failure> scanFolder(RunContext& ctx, const std::string& path,
                                  const std::string& reachedBy, const Options& options) {
  const std::string& reach = reachedBy.empty() ? path : reachedBy;
  ctx.folders.setRoot(path, reach);
  TreeReader reader(reach, ListingDetail::FULL, threadCount(ctx), readingThreadsAtMost(ctx),
                    options.excludedNames);
  Walk walk{ctx, options, reader, {}, {}};
  return walkTree(walk);
}

}  // namespace doppioni
