// The tree scan: every file below the working directory becomes a record,
// in the order of the tree walk, which passes over a folder reached a second
// time (a bind mount), so no file enters the table under two paths.
#include <string>

#include "inventory/inventory.h"
#include "inventory/options.h"
#include "inventory/tree_walk.h"
#include "platform/platform.h"

namespace doppioni {
namespace {

class FileScan final : public TreeVisitor {
 public:
  explicit FileScan(RunContext& ctx) : ctx_(ctx) {}

  std::optional<Failure> entry(WalkedFolder& folder, std::string_view folderPath,
                               std::string_view name, const EntryInfo& info, bool first) override {
    if (ctx_.files.full()) {
      std::optional<Failure> failure =
          ctx_.files.grow(folder.recycled ? RECYCLED_STEP : TABLE_STEP);
      if (failure) return failure;
      ctx_.progress.tableGrew(ctx_.files.size(), folder.recycled, first);
    }
    if (info.isFolder) return std::nullopt;  // a link to one too: neither is a file
    if (!folder.pathId) {
      folder.pathId = ctx_.folders.add(folderPath);
      if (!folder.pathId) return noMemory();
    }
    std::optional<std::uint32_t> nameOffset = ctx_.names.add(name);
    if (!nameOffset) return noMemory();

    FileRecord& record = ctx_.files.add();
    record.dir = *folder.pathId;
    record.name = *nameOffset;
    record.size = info.size;
    record.fileId = info.id.digest();
    record.writeTime = info.writeTime;
    record.ext = folder.recycled ? EXT_RECYCLED : EXT_OF_NAME;
    record.traits =
        static_cast<std::uint8_t>(nameTraits(name) | (folder.kept ? IN_KEPT_FOLDER : 0));
    record.pageId = 0;
    record.keptCopy = NO_COPY;
    record.marked = folder.recycled;
    record.kind = folder.recycled ? Kind::JUNK : Kind::NORMAL;
    return std::nullopt;
  }

  std::optional<Failure> unreadable(std::string_view path, std::uint32_t,
                                    const Failure& failure) override {
    return Failure{failure.kind, failure.error, std::string(path)};
  }

 private:
  RunContext& ctx_;
};

}  // namespace

std::optional<Failure> scanFolder(RunContext& ctx, const std::string& path,
                                  const std::string& reachedBy, const Options& options) {
  FileScan scan(ctx);
  return walkTree(ctx, path, reachedBy, options, ListingDetail::FULL, scan);
}

}  // namespace doppioni
