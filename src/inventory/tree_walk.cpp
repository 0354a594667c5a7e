#include "inventory/tree_walk.h"

#include <vector>

#include "inventory/open_set.h"
#include "inventory/tree_reader.h"

namespace doppioni {
namespace {

std::size_t hashOf(const FileId& id) {
  std::uint64_t mixed = (id.index ^ (id.volume * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
  return static_cast<std::size_t>(mixed >> 29);
}

// A folder being walked: where the walk stands in its listing.
struct Frame {
  ReadAheadFolder* node;
  WalkedFolder shown;
  std::size_t entry = 0;  // next entry to take
  std::size_t child = 0;  // next subfolder to walk
  std::size_t pathLength = 0;
};

struct Walk {
  TreeReader& reader;
  const Options& options;
  TreeVisitor& visitor;
  std::string path;  // the folder being walked, and what is left of the last one below it
  std::vector<Frame> stack;
  OpenSet<FileId, std::size_t (*)(const FileId&)> visited{FileId{}, hashOf};  // folders walked
};

// False when the folder was walked before; it counts as walked from now on.
// A folder whose identity is not known is always new.
bool firstVisit(Walk& walk, const FileId& id) {
  if (!id.known()) return true;
  auto same = [&id](const FileId& walked) { return walked == id; };
  return walk.visited.insert(id, hashOf(id), same).second;
}

// Reads the folder at walk.path and, unless it was walked before, makes it
// the folder being walked.
std::optional<Failure> enter(Walk& walk, ReadAheadFolder& node, WalkedFolder shown) {
  const FolderContents& listing = walk.reader.read(node);
  if (listing.failure && listing.failure->kind == FailureKind::NO_MEMORY) return noMemory();
  if (listing.failure) {
    if (node.parent == nullptr) {
      return Failure{FailureKind::FOLDER_UNREADABLE, listing.failure->error, walk.path};
    }
    std::optional<Failure> failure =
        walk.visitor.unreadable(walk.path, shown.depth, *listing.failure);
    if (!failure) walk.reader.release(node);
    return failure;
  }
  if (!firstVisit(walk, listing.folderId)) {
    walk.reader.abandon(node);
    return std::nullopt;  // the same folder through another path: met already
  }
  shown.listing = &listing;
  shown.kept = shown.kept || walk.options.keeps(listing.folderId);
  if (node.parent != nullptr) {
    if (std::optional<Failure> failure = walk.visitor.folder(shown, walk.path)) return failure;
  }
  walk.stack.push_back(Frame{&node, shown, 0, 0, walk.path.size()});
  return std::nullopt;
}

}  // namespace

std::optional<Failure> walkTree(RunContext& ctx, const std::string& path,
                                const std::string& reachedBy, const Options& options,
                                ListingDetail detail, TreeVisitor& visitor) {
  const std::string& reach = reachedBy.empty() ? path : reachedBy;
  ctx.folders.setRoot(path, reach);
  TreeReader reader(reach, detail, threadCount(ctx), readingThreadsAtMost(ctx),
                    options.excludedNames);
  Walk walk{reader, options, visitor, path, {}};
  if (std::optional<Failure> failure = enter(walk, reader.root(), WalkedFolder{})) return failure;
  ctx.treeTop = reader.root().id;
  while (!walk.stack.empty()) {
    Frame& frame = walk.stack.back();
    const FolderContents& listing = *frame.shown.listing;
    if (frame.entry == listing.entries.size()) {
      reader.release(*frame.node);
      walk.stack.pop_back();
      continue;
    }
    const ListedEntry& entry = listing.entries[frame.entry];
    const std::string_view name = listing.name(entry);
    const bool first = frame.entry++ == 0;
    const std::string_view folderPath = std::string_view(walk.path).substr(0, frame.pathLength);
    if (std::optional<Failure> failure =
            visitor.entry(frame.shown, folderPath, name, entry.info, first)) {
      return failure;
    }
    if (!entry.info.isFolder || entry.info.isLink) continue;  // a link to a folder is never walked
    const bool bin = frame.shown.recycled || equalsIgnoringCase(name, "Recycled");
    WalkedFolder below{nullptr, frame.shown.depth + 1, bin, frame.shown.kept};
    walk.path.resize(frame.pathLength);
    walk.path.push_back(PATH_SEPARATOR);
    walk.path.append(name);
    // frame goes with the stack as it grows: its child is taken first
    if (std::optional<Failure> failure = enter(walk, *frame.node->children[frame.child++], below)) {
      return failure;
    }
  }
  return std::nullopt;
}

}  // namespace doppioni
