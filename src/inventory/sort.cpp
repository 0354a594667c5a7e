#include <algorithm>
#include <cstring>

#include "inventory/inventory.h"

namespace doppioni {

int compareFiles(const RunContext& ctx, const FileEntry& a, const FileEntry& b) {
  int byName = std::strcmp(nameOf(ctx, a), nameOf(ctx, b));
  if (byName != 0) return byName;
  // string_view compares bytes as unsigned, as strcmp does.
  int byDir = dirOf(ctx, a).compare(dirOf(ctx, b));
  return byDir;
}

void sortFiles(RunContext& ctx) {
  std::sort(ctx.entries, ctx.entries + ctx.count, [&ctx](const FileEntry& a, const FileEntry& b) {
    return compareFiles(ctx, a, b) < 0;
  });
}

}  // namespace doppioni
