// Duplicate files: the sorted table puts the copies of one file side by side,
// so each candidate is compared only with the records that follow it while
// they stay identical. A duplicate web page takes with it the files of its
// companion folder that the kept page's companion folder holds copies of;
// those are found through an index by page number, built the first time a
// duplicate page turns up.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classify/classify.h"

namespace doppioni {
namespace {

// Same name (byte for byte), same size, same write time; the folder plays no
// part. The cheap fields go first.
bool identical(const RunContext& ctx, const FileEntry& a, const FileEntry& b) {
  return a.sizeLow == b.sizeLow && a.sizeHigh == b.sizeHigh && a.writeTime == b.writeTime &&
         std::strcmp(nameOf(ctx, a), nameOf(ctx, b)) == 0;
}

// Record indices grouped by page number, in table order.
struct PageIndex {
  std::vector<std::uint32_t> start;   // page number -> first slot in records
  std::vector<std::int32_t> records;  // indices of the records of each page

  void build(const RunContext& ctx) {
    std::int32_t highest = 0;
    std::size_t members = 0;
    for (std::int32_t i = 0; i < ctx.count; ++i) {
      std::int32_t id = ctx.entries[i].pageId;
      if (id <= 0) continue;
      if (id > highest) highest = id;
      ++members;
    }
    start.assign(static_cast<std::size_t>(highest) + 2, 0);
    for (std::int32_t i = 0; i < ctx.count; ++i) {
      std::int32_t id = ctx.entries[i].pageId;
      if (id > 0) ++start[static_cast<std::size_t>(id) + 1];
    }
    for (std::size_t id = 1; id < start.size(); ++id) start[id] += start[id - 1];
    records.resize(members);
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (std::int32_t i = 0; i < ctx.count; ++i) {
      std::int32_t id = ctx.entries[i].pageId;
      if (id > 0) records[next[static_cast<std::size_t>(id)]++] = i;
    }
  }
  bool built() const { return !start.empty(); }
};

// A record identical to record `part` among the companion files of page
// number `page`, or NO_COPY. Identical records share a name, and the sorted
// table holds the records of one name side by side.
std::int32_t companionCopy(const RunContext& ctx, std::int32_t part, std::int32_t page) {
  if (page <= 0) return NO_COPY;
  const FileEntry& file = ctx.entries[part];
  auto isCopy = [&](std::int32_t i) {
    const FileEntry& e = ctx.entries[i];
    return e.pageId == page && e.kind == Kind::PAGE_PART && identical(ctx, file, e);
  };
  const char* name = nameOf(ctx, file);
  for (std::int32_t i = part - 1; i >= 0 && std::strcmp(nameOf(ctx, ctx.entries[i]), name) == 0;
       --i) {
    if (isCopy(i)) return i;
  }
  for (std::int32_t i = part + 1;
       i < ctx.count && std::strcmp(nameOf(ctx, ctx.entries[i]), name) == 0; ++i) {
    if (isCopy(i)) return i;
  }
  return NO_COPY;
}

}  // namespace

std::int32_t markDuplicates(RunContext& ctx) {
  std::int32_t duplicates = 0;
  PageIndex pages;
  std::string line;
  std::int32_t current = 0;
  while (current < ctx.count) {
    showExamined(ctx, line, current, "");
    const std::int32_t candidate = current;
    ++current;
    if (ctx.entries[candidate].kind >= Kind::PAGE_PART) continue;

    for (; current < ctx.count; ++current) {
      FileEntry& copy = ctx.entries[current];
      if (!identical(ctx, ctx.entries[candidate], copy)) break;
      copy.deleteMark = 1;
      copy.keptCopy = candidate;
      ++duplicates;
      if (copy.kind != Kind::PAGE || copy.pageId <= 0) continue;
      // The page goes, and with it each file of its companion folder of
      // which the kept page's companion folder holds a copy; a file without
      // one is the only copy of its data and stays.
      if (!pages.built()) pages.build(ctx);
      auto id = static_cast<std::size_t>(copy.pageId);
      if (id + 1 >= pages.start.size()) continue;
      for (std::uint32_t at = pages.start[id]; at < pages.start[id + 1]; ++at) {
        std::int32_t part = pages.records[at];
        FileEntry& file = ctx.entries[part];
        if (file.kind != Kind::PAGE_PART || file.keptCopy != NO_COPY) continue;
        std::int32_t kept = companionCopy(ctx, part, ctx.entries[candidate].pageId);
        if (kept == NO_COPY) continue;
        file.deleteMark = 1;
        file.keptCopy = kept;
      }
    }
  }
  return duplicates;
}

}  // namespace doppioni
