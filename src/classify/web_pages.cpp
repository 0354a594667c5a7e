// Saved web pages and their companion folders.
//
// A page's companion files are the records whose folder is "<dir>/<stem>_file".
// Rather than comparing every page's companion path with every record, the
// pass finds the companion folder's id once per page through a hash index of
// the folder paths, then gives each record the mark of the last page (in
// table order) that claims its folder: a folder claimed by several pages
// belongs to the last of them.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "classify/classify.h"
#include "inventory/open_set.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

constexpr std::uint32_t NO_FOLDER = 0xFFFFFFFFu;

// The extension holds "htm": the name's own extension, never the one of a
// file from a recycle bin.
bool isWebPage(const FileRecord& e) {
  return e.ext == EXT_OF_NAME && (e.traits & NAME_HTM_EXTENSION) != 0;
}

// Folder path -> folder id, the set holding ids and comparing their paths.
// Should the store hold a path twice, every id of it is mapped to the first
// one, so that records of either id count as records of one folder.
class FolderIndex {
 public:
  explicit FolderIndex(const FolderStore& folders) : folders_(folders) {
    std::uint32_t count = folders.size();
    ids_.reserve(count);
    std::string path;
    for (std::uint32_t id = 0; id < count; ++id) {
      path.clear();
      folders.appendPath(id, path);
      auto [first, added] = ids_.insert(id, PathHash::of(path), SamePath{folders, path});
      if (added) continue;
      if (same_.empty()) {
        same_.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) same_[i] = i;
      }
      same_[id] = first;
    }
  }

  std::uint32_t find(std::string_view path) const {
    return ids_.find(PathHash::of(path), SamePath{folders_, path});
  }

  // The one id that stands for every id of the same path.
  std::uint32_t canonical(std::uint32_t id) const { return same_.empty() ? id : same_[id]; }

 private:
  struct PathHash {
    const FolderStore& folders;
    static std::size_t of(std::string_view path) { return std::hash<std::string_view>()(path); }
    std::size_t operator()(std::uint32_t id) const { return of(folders.path(id)); }
  };
  // Accepts the ids whose path is path.
  struct SamePath {
    const FolderStore& folders;
    std::string_view path;
    bool operator()(std::uint32_t id) const { return folders.pathEquals(id, path); }
  };

  const FolderStore& folders_;
  OpenSet<std::uint32_t, PathHash> ids_{NO_FOLDER, PathHash{folders_}};
  std::vector<std::uint32_t> same_;
};

// The companion folder of a page: its folder, the separator, the name
// without its extension, then "_file". Built in out, whose room is reused.
void companionPath(const RunContext& ctx, const FileRecord& page, std::string& out) {
  std::string_view name = nameOf(ctx, page);
  std::size_t dot = name.rfind('.');
  out.clear();
  ctx.folders.appendPath(page.dir, out);
  out.push_back(PATH_SEPARATOR);
  out.append(name.substr(0, dot == std::string_view::npos ? name.size() : dot));
  out.append("_file");
}

}  // namespace

WebPageCounts markWebPages(RunContext& ctx) {
  std::int32_t pages = 0;
  for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
    if (isWebPage(ctx.files[i])) ++pages;
  }

  // For each folder: the number of the last page whose companion folder it
  // is, and how many pages claim it (each claim marks its files once more).
  std::vector<std::int32_t> lastClaim;
  std::vector<std::int32_t> claims;
  std::optional<FolderIndex> index;
  if (pages > 0) {
    index.emplace(ctx.folders);
    lastClaim.assign(ctx.folders.size(), 0);
    claims.assign(ctx.folders.size(), 0);
    std::string path;
    std::int32_t number = 0;
    for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
      const FileRecord& e = ctx.files[i];
      if (!isWebPage(e)) continue;
      ++number;
      companionPath(ctx, e, path);
      std::uint32_t folder = index->find(path);
      if (folder == NO_FOLDER) continue;
      lastClaim[folder] = number;
      ++claims[folder];
    }
  }

  std::int32_t number = 0;
  std::int64_t companions = 0;
  for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
    ctx.progress.examining(i);
    if (!index) continue;
    FileRecord& e = ctx.files[i];
    std::int32_t own = isWebPage(e) ? ++number : 0;
    std::uint32_t folder = index->canonical(e.dir);
    std::int32_t claim = lastClaim[folder];
    companions += claims[folder];
    // The later of the two assignments wins: the record's own turn as a
    // page, or the last page that claims its folder.
    if (own > claim) {
      e.kind = Kind::PAGE;
      e.pageId = own;
    } else if (claim > 0) {
      e.kind = Kind::PAGE_PART;
      e.pageId = claim;
    }
  }
  return {pages, companions};
}

}  // namespace doppioni
