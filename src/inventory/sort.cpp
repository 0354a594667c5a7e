#include <algorithm>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "inventory/inventory.h"
#include "inventory/tree_reader.h"

namespace doppioni {
namespace {

// Below this many records a second thread costs more than it saves.
constexpr std::int32_t PARALLEL_SORT_MIN = 1 << 15;

// The order of the records' folders, ranked once: comparing two ranks is
// comparing the two paths.
std::vector<std::uint32_t> rankFolders(const RunContext& ctx) {
  std::vector<std::uint32_t> ids(ctx.folders.size());
  for (std::uint32_t id = 0; id < ids.size(); ++id) ids[id] = id;
  std::sort(ids.begin(), ids.end(),
            [&ctx](std::uint32_t a, std::uint32_t b) { return ctx.folders.pathBefore(a, b); });
  std::vector<std::uint32_t> rank(ids.size());
  for (std::uint32_t position = 0; position < ids.size(); ++position)
    rank[ids[position]] = position;
  return rank;
}

}  // namespace

void sortFiles(RunContext& ctx) {
  std::vector<std::uint32_t> folderRank = rankFolders(ctx);
  auto before = [&ctx, &folderRank](const FileRecord& a, const FileRecord& b) {
    int byName = std::strcmp(nameOf(ctx, a), nameOf(ctx, b));
    if (byName != 0) return byName < 0;
    return folderRank[a.dir] < folderRank[b.dir];
  };
  FileRecord* first = ctx.files.data();
  FileRecord* last = ctx.files.data() + ctx.files.size();
  int threads = threadCount(ctx);
  if (threads < 2 || ctx.files.size() < PARALLEL_SORT_MIN) {
    std::sort(first, last, before);
    return;
  }
  // Split around the median of a sample and sort the halves side by side.
  // No two records share both keys, so the result is the same as one sort's.
  std::vector<FileRecord> sample;
  for (std::int32_t i = 0; i < 255; ++i) sample.push_back(first[ctx.files.size() / 255 * i]);
  std::nth_element(sample.begin(), sample.begin() + 127, sample.end(), before);
  FileRecord pivot = sample[127];
  FileRecord* middle =
      std::partition(first, last, [&](const FileRecord& e) { return before(e, pivot); });
  std::thread other;
  try {
    other = std::thread([&] { std::sort(first, middle, before); });
  } catch (const std::exception&) {
    std::sort(first, middle, before);  // no thread to be had: both halves here
  }
  std::sort(middle, last, before);
  if (other.joinable()) other.join();
}

}  // namespace doppioni
