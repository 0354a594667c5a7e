// The folder scan: one record per folder below the working directory, in
// pre-order, with its depth and the number of files directly inside it.
//
// Each folder is read once: the same listing gives its subfolders and its
// file count; worker threads read folders ahead of the walk, which keeps its
// own order. The walk keeps its own stack, so a deep tree never exhausts the
// call stack. Links to folders are never walked, and a folder reached a
// second time (a bind mount) gets no second record.
#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "folders/folders.h"
#include "inventory/tree_reader.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

int countFiles(const FolderContents& listing) {
  int files = 0;
  for (const FolderEntry& entry : listing.entries) {
    if (!entry.info.isFolder) ++files;  // a link to a file is a file; a link to a folder is not
  }
  return files;
}

// Adds a record for the folder at path; NO_MEMORY when the table is full.
std::optional<Failure> addFolderRecord(RunContext& ctx, std::string_view path, int fileCount,
                                       int depth, const FileId& id) {
  std::vector<FolderRecord>& table = ctx.folderTable;
  if (table.size() >= static_cast<std::size_t>(ctx.capacityLimit)) return noMemory();
  if (table.size() == table.capacity()) {
    try {
      table.reserve(table.size() + std::max<std::size_t>(TABLE_STEP, table.size() / 2));
    } catch (const std::bad_alloc&) {
      return noMemory();  // the records it has stay, untouched
    }
  }
  std::uint32_t pathId = ctx.folders.add(path);
  if (pathId == FolderStore::NO_ROOM) return noMemory();
  table.push_back(FolderRecord{pathId, fileCount, depth, id.digest()});
  return std::nullopt;
}

}  // namespace

std::optional<Failure> listFolders(RunContext& ctx, const std::string& path,
                                   const std::string& reachedBy, const Options& options) {
  const std::string& reach = reachedBy.empty() ? path : reachedBy;
  ctx.folders.setRoot(path, reach);
  TreeReader reader(reach, ListingDetail::TYPES_ONLY, threadCount(ctx), readingThreadsAtMost(ctx),
                    options.excludedNames);
  const FolderContents& top = reader.read(reader.root());
  if (top.error == ENOMEM) return noMemory();
  if (top.error != 0) return Failure{FailureKind::FOLDER_UNREADABLE, top.error, path};
  ctx.treeTop = top.folderId;
  FolderIdSet seen;
  seen.insert(top.folderId);
  // A folder's path has the root's separators and one more for each level
  // below it.
  const int rootDepth = countBackslashes(path);

  // The folders being walked, each with the next of its subfolders to take
  // and the length of its path, the start of the path kept for the deepest.
  struct Frame {
    TreeFolder* folder;
    std::size_t next;
    std::size_t pathLength;
  };
  std::string walked = path;
  std::vector<Frame> stack{{&reader.root(), 0, walked.size()}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.folder->children.size()) {
      reader.release(*frame.folder);
      stack.pop_back();
      continue;
    }
    TreeFolder& folder = *frame.folder->children[frame.next++];
    walked.resize(frame.pathLength);
    walked.push_back(PATH_SEPARATOR);
    walked.append(folder.name);
    const int depth = rootDepth + static_cast<int>(folder.depth);
    const FolderContents& listing = reader.read(folder);
    if (listing.error == ENOMEM) return noMemory();
    if (listing.error != 0) {
      // Kept, so the report shows it; its count keeps it from removal.
      if (std::optional<Failure> failure =
              addFolderRecord(ctx, walked, UNREADABLE_FOLDER, depth, FileId{})) {
        return failure;
      }
      reader.release(folder);
      continue;
    }
    if (!seen.insert(listing.folderId)) {
      reader.abandon(folder);  // the same folder through another path: it has its record
      continue;
    }
    if (std::optional<Failure> failure =
            addFolderRecord(ctx, walked, countFiles(listing), depth, listing.folderId)) {
      return failure;
    }
    stack.push_back(Frame{&folder, 0, walked.size()});
  }
  return std::nullopt;
}

int countBackslashes(std::string_view path) {
  int separators = 0;
  for (char c : path) {
    if (c == PATH_SEPARATOR) ++separators;
  }
  return separators;
}

}  // namespace doppioni
