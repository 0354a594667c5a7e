// The folder scan: one record per folder below the working directory, in
// pre-order, with its depth and the number of files directly inside it.
//
// Each folder is read once: the same listing gives its subfolders and its
// file count. The walk keeps its own stack of folders still to read, so a
// deep tree never exhausts the call stack. Links to folders are never walked,
// and a folder reached a second time (a bind mount) gets no second record.
#include <unordered_set>
#include <vector>

#include "folders/folders.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

struct FileIdHash {
  std::size_t operator()(const FileId& id) const {
    return std::hash<std::uint64_t>()(id.index * 0x9E3779B97F4A7C15ull ^ id.volume);
  }
};

int countFiles(const FolderContents& listing) {
  int files = 0;
  for (const FolderEntry& entry : listing.entries) {
    if (!entry.info.isFolder) ++files;  // a link to a file is a file; a link to a folder is not
  }
  return files;
}

// Pushes the subfolders of listing (never links) so that they are read in
// listing order.
void pushSubfolders(const std::string& path, const FolderContents& listing,
                    std::vector<std::string>& pending) {
  for (auto it = listing.entries.rbegin(); it != listing.entries.rend(); ++it) {
    if (!it->info.isFolder || it->info.isLink) continue;
    std::string sub;
    sub.reserve(path.size() + 1 + it->nameLength);
    sub.assign(path);
    sub.push_back(PATH_SEPARATOR);
    sub.append(listing.name(*it));
    pending.push_back(std::move(sub));
  }
}

// Adds a record for the folder at path. 1, or -2 when the table is full.
int addFolderRecord(RunContext& ctx, std::string_view path, int fileCount) {
  if (ctx.count > ctx.capacity - 1 && growTable(ctx, TABLE_STEP) != 1) return -2;
  std::uint32_t id = ctx.folders.add(path);
  if (id == FolderStore::NO_ROOM) return -2;
  FileEntry& record = ctx.entries[ctx.count];
  record.dir = id;
  record.fileCount = fileCount;
  record.depth = 0;
  ++ctx.count;
  return 1;
}

}  // namespace

int listFolders(RunContext& ctx, const std::string& path) {
  std::unordered_set<FileId, FileIdHash> walked;
  FolderContents listing;
  listFolder(path, ListingDetail::TYPES_ONLY, listing);
  if (listing.error != 0) return -1;
  if (listing.folderId.known()) walked.insert(listing.folderId);

  std::vector<std::string> pending;
  pushSubfolders(path, listing, pending);
  while (!pending.empty()) {
    std::string folder = std::move(pending.back());
    pending.pop_back();
    listFolder(folder, ListingDetail::TYPES_ONLY, listing);
    if (listing.error != 0) {
      // Kept, so the report shows it; its count -4 keeps it from removal.
      if (addFolderRecord(ctx, folder, -4) != 1) return -2;
      continue;
    }
    if (listing.folderId.known() && !walked.insert(listing.folderId).second) {
      continue;  // the same folder through another path: it has its record
    }
    if (addFolderRecord(ctx, folder, countFiles(listing)) != 1) return -2;
    pushSubfolders(folder, listing, pending);
  }
  return 1;
}

int computeFolderDepths(RunContext& ctx) {
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    ctx.entries[i].depth = countBackslashes(dirOf(ctx, ctx.entries[i]));
  }
  return 1;
}

int countFolderFiles(RunContext&) {
  // listFolders has set every record's fileCount from the very listing that
  // found the folder's subfolders, and nothing on disk changes between the
  // two calls: listing every folder again would only give the same numbers.
  return 1;
}

int countBackslashes(std::string_view path) {
  int separators = 0;
  for (char c : path) {
    if (c == PATH_SEPARATOR) ++separators;
  }
  return separators;
}

int countFilesInFolder(const std::string& path) {
  FolderContents listing;
  listFolder(path, ListingDetail::TYPES_ONLY, listing);
  if (listing.error != 0) return -4;
  return countFiles(listing);
}

}  // namespace doppioni
