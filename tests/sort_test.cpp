// The order of the records: by name, then by folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

std::vector<std::string> sorted(RunContext& ctx) {
  sortFiles(ctx);
  std::vector<std::string> order;
  for (int i = 0; i < ctx.files.size(); ++i) order.push_back(describe(ctx, ctx.files[i]));
  return order;
}

// By name, byte for byte (digits, capitals, small letters, a prefix first,
// bytes above 127 last), then by folder (a folder before its subfolders).
TEST(FileOrder, ByNameBytesThenByFolder) {
  const std::vector<std::string> order = {"X|9.txt",           "X|Zeta.txt",    "Y|alfa.txt",
                                          "D|foto.jpg",        "D\\A|foto.jpg", "X|foto.jpg.bak",
                                          "X|\xc3\xa8lite.txt"};
  TestRun run;
  for (int i : {5, 2, 3, 6, 1, 4, 0})
    addRecord(run.ctx, order[i].substr(0, order[i].find('|')),
              order[i].substr(order[i].find('|') + 1));
  EXPECT_EQ(sorted(run.ctx), order);
}

TEST(FileOrder, SortingOnTwoThreadsGivesTheOneOrder) {
  auto sortedWith = [](int threads) {
    TestRun run;
    run.ctx.workerThreads = threads;
    // Enough records for the split, with many equal names in many folders.
    for (long long i = 0; i < 50000; ++i)
      addRecord(run.ctx, "/d" + std::to_string(i * 7919 % 101),
                "n" + std::to_string(i * 104729 % 997));
    return sorted(run.ctx);
  };
  EXPECT_EQ(sortedWith(2), sortedWith(0));
}

// Paths below the scanned folder are kept without it; the order, the paths
// given back and their comparison are still those of the whole paths,
// whatever the bytes around the separator.
TEST(FileOrder, FoldersBelowTheRootKeepTheOrderOfTheirWholePaths) {
  const std::string s(1, PATH_SEPARATOR);
  const std::vector<std::string> folders = {s + "q",           s + "r",
                                            s + "r.b",         s + "r" + s + "-x",
                                            s + "r" + s + "a", s + "r" + s + "a" + s + "b"};
  TestRun run;
  run.ctx.folders.setRoot(s + "r", ".");  // the root is the current directory
  for (int i : {5, 2, 3, 0, 4, 1}) addRecord(run.ctx, folders[i], "f");
  std::vector<std::string> expected;
  for (const std::string& folder : folders) expected.push_back(folder + "|f");
  EXPECT_EQ(sorted(run.ctx), expected);
  for (std::uint32_t id = 0; id < run.ctx.folders.size(); ++id) {
    std::string whole = run.ctx.folders.path(id);
    EXPECT_TRUE(run.ctx.folders.pathEquals(id, whole)) << whole;
    EXPECT_FALSE(run.ctx.folders.pathEquals(id, whole + "b")) << whole;
    EXPECT_FALSE(run.ctx.folders.pathEquals(id, "x" + whole.substr(1))) << whole;
    // Reached from the current directory below the root, never by the root's path.
    std::string reach;
    run.ctx.folders.appendReachPath(id, reach);
    bool below = whole.starts_with(s + "r" + s);
    EXPECT_EQ(reach, whole == s + "r" ? "." : below ? whole.substr(3) : whole) << whole;
  }
}

}  // namespace
}  // namespace doppioni::testing
