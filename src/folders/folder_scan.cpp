// The folder scan: one record per folder below the working directory, in
// the pre-order of the tree walk, with its depth and the number of files
// directly inside it; a folder reached a second time (a bind mount) gets no
// second record.
#include <algorithm>
#include <new>
#include <vector>

#include "folders/folders.h"
#include "inventory/tree_walk.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

int countFiles(const FolderContents& listing) {
  int files = 0;
  for (const ListedEntry& entry : listing.entries) {
    if (!entry.info.isFolder) ++files;  // a link to a file is a file; a link to a folder is not
  }
  return files;
}

// Adds a record for the folder at path, with the files listed in it, or
// none when it could not be listed; NO_MEMORY when the table is full.
std::optional<Failure> addFolderRecord(RunContext& ctx, std::string_view path,
                                       const FolderContents* listing, int depth, const FileId& id) {
  std::vector<FolderRecord>& table = ctx.folderTable;
  if (table.size() >= static_cast<std::size_t>(ctx.files.limit)) return noMemory();
  if (table.size() == table.capacity()) {
    try {
      table.reserve(table.size() + std::max<std::size_t>(TABLE_STEP, table.size() / 2));
    } catch (const std::bad_alloc&) {
      return noMemory();  // the records it has stay, untouched
    }
  }
  std::optional<std::uint32_t> pathId = ctx.folders.add(path);
  if (!pathId) return noMemory();
  // Fewer files than a billion: a listing held in memory cannot reach that.
  const int files = listing != nullptr ? countFiles(*listing) : 0;
  table.push_back(
      FolderRecord{*pathId, files & 0x3FFFFFFF, listing == nullptr, depth, id.digest()});
  return std::nullopt;
}

// One record a folder, with the number of its files; an unreadable folder's
// marked so, which the report shows and which keeps it from removal.
class FolderCensus final : public TreeVisitor {
 public:
  FolderCensus(RunContext& ctx, int rootDepth) : ctx_(ctx), rootDepth_(rootDepth) {}

  std::optional<Failure> folder(const WalkedFolder& folder, std::string_view path) override {
    return addFolderRecord(ctx_, path, folder.listing, depthOf(folder.depth),
                           folder.listing->folderId);
  }

  std::optional<Failure> unreadable(std::string_view path, std::uint32_t depth,
                                    const Failure&) override {
    return addFolderRecord(ctx_, path, nullptr, depthOf(depth), FileId{});
  }

 private:
  // A folder's path has the root's separators and one more for each level
  // below it.
  int depthOf(std::uint32_t levels) const { return rootDepth_ + static_cast<int>(levels); }

  RunContext& ctx_;
  const int rootDepth_;
};

}  // namespace

std::optional<Failure> listFolders(RunContext& ctx, const std::string& path,
                                   const std::string& reachedBy, const Options& options) {
  FolderCensus census(ctx, countBackslashes(path));
  return walkTree(ctx, path, reachedBy, options, ListingDetail::TYPES_ONLY, census);
}

int countBackslashes(std::string_view path) {
  int separators = 0;
  for (char c : path) {
    if (c == PATH_SEPARATOR) ++separators;
  }
  return separators;
}

}  // namespace doppioni
