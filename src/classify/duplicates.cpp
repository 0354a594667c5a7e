// Duplicate files: the sorted table puts the records of one name side by
// side. Within each such run the records are grouped by size and write time,
// whatever stands between them, and each record is a copy of the first
// candidate of its group in table order (or of the first in a kept folder,
// where there is one): a different file of the same name sorting between
// two copies hides neither. A duplicate web page takes with
// it the files of its companion folder that the kept page's companion folder
// holds copies of; those are found through an index by page number, built
// the first time a duplicate page turns up.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classify/classify.h"

namespace doppioni {
namespace {

// Up to this many records of one name, each is compared with those before
// it; a longer run (an index.html in every saved site) is sorted instead.
constexpr std::int32_t SMALL_RUN = 32;

bool sameSizeAndTime(const FileRecord& a, const FileRecord& b) {
  return a.size == b.size && a.writeTime == b.writeTime;
}

// The end of the run of records with the name of record `first`.
std::int32_t runEnd(const RunContext& ctx, std::int32_t first) {
  const FileRecord& head = ctx.files[first];
  const char* name = nameOf(ctx, head);
  std::int32_t end = first + 1;
  while (end < ctx.files.size() && (ctx.files[end].name == head.name ||
                                    std::strcmp(nameOf(ctx, ctx.files[end]), name) == 0)) {
    ++end;
  }
  return end;
}

// For each record of the run [first, end): the first candidate before it of
// the same size and write time, or NO_COPY. order is room the sort reuses.
void findKept(const RunContext& ctx, std::int32_t first, std::int32_t end,
              std::vector<std::int32_t>& kept, std::vector<std::int32_t>& order) {
  const FileRecord* e = ctx.files.data();
  kept.assign(static_cast<std::size_t>(end - first), NO_COPY);
  if (end - first <= SMALL_RUN) {
    for (std::int32_t i = first + 1; i < end; ++i) {
      for (std::int32_t j = first; j < i; ++j) {
        if (canBeCandidate(e[j]) && sameSizeAndTime(e[i], e[j])) {
          kept[static_cast<std::size_t>(i - first)] = j;
          break;
        }
      }
    }
    return;
  }
  // Sorted by size, time and table order, each group stands together with
  // its records in table order.
  order.resize(static_cast<std::size_t>(end - first));
  for (std::int32_t i = first; i < end; ++i) order[static_cast<std::size_t>(i - first)] = i;
  std::sort(order.begin(), order.end(), [e](std::int32_t a, std::int32_t b) {
    if (e[a].size != e[b].size) return e[a].size < e[b].size;
    if (e[a].writeTime != e[b].writeTime) return e[a].writeTime < e[b].writeTime;
    return a < b;
  });
  std::int32_t candidate = NO_COPY;
  for (std::size_t at = 0; at < order.size(); ++at) {
    std::int32_t i = order[at];
    if (at > 0 && !sameSizeAndTime(e[i], e[order[at - 1]])) candidate = NO_COPY;
    if (candidate != NO_COPY) {
      kept[static_cast<std::size_t>(i - first)] = candidate;
    } else if (canBeCandidate(e[i])) {
      candidate = i;
    }
  }
}

bool inKeptFolder(const FileRecord& e) {
  return (e.traits & IN_KEPT_FOLDER) != 0;
}

// For each group of the run [first, end) whose first candidate lies in no
// kept folder while a later candidate does: the first such candidate is
// kept in its place, and the group's other records, that first candidate
// among them, become its copies. Records before the group's first
// candidate stay as they are. newKept is room reused.
void preferKeptFolders(const RunContext& ctx, std::int32_t first, std::int32_t end,
                       std::vector<std::int32_t>& kept, std::vector<std::int32_t>& newKept) {
  const FileRecord* e = ctx.files.data();
  auto at = [first](std::int32_t i) { return static_cast<std::size_t>(i - first); };
  auto moves = [&](std::int32_t i) {
    const std::int32_t k = kept[at(i)];
    return k != NO_COPY && canBeCandidate(e[i]) && inKeptFolder(e[i]) && !inKeptFolder(e[k]);
  };
  std::int32_t i = first;
  while (i < end && !moves(i)) ++i;
  if (i == end) return;  // as on most runs: nothing to change
  // The first candidate of a group -> the candidate kept in its place.
  newKept.assign(at(end), NO_COPY);
  for (; i < end; ++i) {
    if (moves(i) && newKept[at(kept[at(i)])] == NO_COPY) newKept[at(kept[at(i)])] = i;
  }
  for (i = first; i < end; ++i) {
    std::int32_t& k = kept[at(i)];
    const std::int32_t instead = newKept[at(k == NO_COPY ? i : k)];
    if (instead != NO_COPY) k = instead == i ? NO_COPY : instead;
  }
}

// Record indices grouped by page number, in table order.
struct PageIndex {
  std::vector<std::uint32_t> start;   // page number -> first slot in records
  std::vector<std::int32_t> records;  // indices of the records of each page

  void build(const RunContext& ctx) {
    std::int32_t highest = 0;
    std::size_t members = 0;
    for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
      std::int32_t id = ctx.files[i].pageId;
      if (id <= 0) continue;
      if (id > highest) highest = id;
      ++members;
    }
    start.assign(static_cast<std::size_t>(highest) + 2, 0);
    for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
      std::int32_t id = ctx.files[i].pageId;
      if (id > 0) ++start[static_cast<std::size_t>(id) + 1];
    }
    for (std::size_t id = 1; id < start.size(); ++id) start[id] += start[id - 1];
    records.resize(members);
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (std::int32_t i = 0; i < ctx.files.size(); ++i) {
      std::int32_t id = ctx.files[i].pageId;
      if (id > 0) records[next[static_cast<std::size_t>(id)]++] = i;
    }
  }
  bool built() const { return !start.empty(); }
  bool has(std::int32_t page) const {
    return page > 0 && static_cast<std::size_t>(page) + 1 < start.size();
  }
};

// A record identical to record `part` (name, size, time) among the companion
// files of page number `page`, or NO_COPY. A page's records stand in table
// order, and so by name: a binary search finds the name, however many pages
// hold a file of that name.
std::int32_t companionCopy(const RunContext& ctx, const PageIndex& pages, std::int32_t part,
                           std::int32_t page) {
  if (!pages.has(page)) return NO_COPY;
  const FileRecord& file = ctx.files[part];
  const char* name = nameOf(ctx, file);
  auto first = pages.records.begin() + pages.start[static_cast<std::size_t>(page)];
  auto last = pages.records.begin() + pages.start[static_cast<std::size_t>(page) + 1];
  auto at = std::lower_bound(first, last, name, [&ctx](std::int32_t i, const char* n) {
    return std::strcmp(nameOf(ctx, ctx.files[i]), n) < 0;
  });
  for (; at != last && std::strcmp(nameOf(ctx, ctx.files[*at]), name) == 0; ++at) {
    const FileRecord& e = ctx.files[*at];
    if (*at != part && e.kind == Kind::PAGE_PART && sameSizeAndTime(file, e)) return *at;
  }
  return NO_COPY;
}

// Marks record `copy` as a copy of record `kept`. A page goes, and with it
// each file of its companion folder of which the kept page's companion
// folder holds a copy; a file without one is the only copy of its data and
// stays.
void markCopy(RunContext& ctx, PageIndex& pages, std::int32_t copyIndex, std::int32_t kept) {
  FileRecord& copy = ctx.files[copyIndex];
  copy.marked = true;
  copy.keptCopy = kept;
  if (copy.kind != Kind::PAGE || copy.pageId <= 0) return;
  if (!pages.built()) pages.build(ctx);
  if (!pages.has(copy.pageId)) return;
  auto id = static_cast<std::size_t>(copy.pageId);
  for (std::uint32_t at = pages.start[id]; at < pages.start[id + 1]; ++at) {
    std::int32_t part = pages.records[at];
    FileRecord& file = ctx.files[part];
    if (file.kind != Kind::PAGE_PART || file.keptCopy != NO_COPY) continue;
    std::int32_t partKept = companionCopy(ctx, pages, part, ctx.files[kept].pageId);
    if (partKept == NO_COPY) continue;
    file.marked = true;
    file.keptCopy = partKept;
  }
}

}  // namespace

// The progress line shows every record that is not a copy: where each copy
// follows its kept copy, the records each search starts from, as before.
std::int32_t markDuplicates(RunContext& ctx) {
  std::int32_t duplicates = 0;
  PageIndex pages;
  std::vector<std::int32_t> kept, order;
  for (std::int32_t first = 0; first < ctx.files.size();) {
    const std::int32_t end = runEnd(ctx, first);
    findKept(ctx, first, end, kept, order);
    preferKeptFolders(ctx, first, end, kept, order);
    for (std::int32_t i = first; i < end; ++i) {
      const std::int32_t candidate = kept[static_cast<std::size_t>(i - first)];
      if (candidate == NO_COPY) {
        ctx.progress.examining(i);
        continue;
      }
      markCopy(ctx, pages, i, candidate);
      ++duplicates;
    }
    first = end;
  }
  return duplicates;
}

}  // namespace doppioni
