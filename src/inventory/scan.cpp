// The tree scan: every file below the working directory becomes a record.
//
// Each folder is read whole and closed before its subfolders are walked, so
// a deep tree never runs out of open handles; worker threads read folders
// ahead of the walk, which itself stays in listing order. Links to folders
// are never walked, and a folder reached a second time (a bind mount) is
// passed over, so no file enters the table under two paths.
#include <unordered_set>

#include "console/text.h"
#include "inventory/inventory.h"
#include "inventory/tree_reader.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

struct FileIdHash {
  std::size_t operator()(const FileId& id) const {
    return std::hash<std::uint64_t>()(id.index * 0x9E3779B97F4A7C15ull ^ id.volume);
  }
};

struct Walk {
  RunContext& ctx;
  TreeReader& reader;
  std::unordered_set<FileId, FileIdHash> visited;  // folders already walked
  std::string line;                                // progress line being built
};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

void showGrowth(Walk& walk, bool recycled, bool firstEntry) {
  std::string& line = walk.line;
  line.assign("Trovati ");
  appendNumber(line, walk.ctx.count);
  if (recycled) {
    line.append(" files\n");
    walk.ctx.console.progress(6, line);
  } else {
    line.append(firstEntry ? " files                \n" : " files                 \n");
    walk.ctx.console.progress(walk.ctx.progressRow, line);
  }
}

int walkFolder(Walk& walk, TreeFolder& folder, bool recycled) {
  RunContext& ctx = walk.ctx;
  const std::string& path = folder.path;
  const FolderContents& listing = walk.reader.read(folder);
  if (listing.error != 0) {
    std::string message = listingPattern(path);
    message.push_back('\n');
    ctx.console.print(message);
    return -4;
  }
  if (listing.folderId.known() && !walk.visited.insert(listing.folderId).second) {
    walk.reader.abandon(folder);
    return 1;  // the same folder through another path: its files are in already
  }

  std::uint32_t dirId = FolderStore::NO_ROOM;
  std::size_t child = 0;
  bool firstEntry = true;
  for (const FolderEntry& entry : listing.entries) {
    if (ctx.count > ctx.capacity - 1) {
      if (growTable(ctx, recycled ? RECYCLED_STEP : TABLE_STEP) != 1) return -2;
      showGrowth(walk, recycled, firstEntry);
    }
    firstEntry = false;
    std::string_view name = listing.name(entry);

    if (entry.info.isFolder) {
      if (entry.info.isLink) continue;  // a link to a folder is never walked
      bool bin = recycled || equalsIgnoreCase(name, "Recycled");
      int result = walkFolder(walk, *folder.children[child++], bin);
      if (result != 1) return result;
      continue;
    }

    if (dirId == FolderStore::NO_ROOM) {
      dirId = ctx.folders.add(path);
      if (dirId == FolderStore::NO_ROOM) return -2;
    }
    std::uint32_t nameOffset = ctx.names.add(name);
    if (nameOffset == TextArena::NO_ROOM) return -2;

    FileEntry& record = ctx.entries[ctx.count];
    record.dir = dirId;
    record.name = nameOffset;
    record.sizeLow = entry.info.sizeLow;
    record.sizeHigh = entry.info.sizeHigh;
    record.attrib = entry.info.attrib;
    record.writeTime = entry.info.writeTime;
    record.ext = recycled ? EXT_RECYCLED : EXT_OF_NAME;
    record.pageId = 0;
    record.keptCopy = NO_COPY;
    record.fileCount = 0;
    record.depth = 0;
    record.deleteMark = recycled ? 1 : 0;
    record.kind = recycled ? KIND_JUNK : KIND_NORMAL;
    ++ctx.count;
  }
  walk.reader.release(folder);
  return 1;
}

int scanTree(RunContext& ctx, const std::string& path, bool recycled) {
  int threads = ctx.readerThreads < 0 ? TreeReader::defaultThreads() : ctx.readerThreads;
  TreeReader reader(path, ListingDetail::FULL, threads);
  Walk walk{ctx, reader, {}, {}};
  return walkFolder(walk, reader.root(), recycled);
}

}  // namespace

int scanFolder(RunContext& ctx, const std::string& path) { return scanTree(ctx, path, false); }

int scanRecycled(RunContext& ctx, const std::string& path) { return scanTree(ctx, path, true); }

}  // namespace doppioni
