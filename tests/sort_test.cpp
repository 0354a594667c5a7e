#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "test_tree.h"

namespace doppioni {
namespace {

using testing::addRecord;
using testing::describe;
using testing::TestRun;

std::vector<std::string> sorted(RunContext& ctx) {
  sortFiles(ctx);
  std::vector<std::string> order;
  for (int i = 0; i < ctx.count; ++i) order.push_back(describe(ctx, ctx.entries[i]));
  return order;
}

TEST(FileOrder, ByNameBytesThenByFolder) {
  TestRun run;
  RunContext& ctx = run.ctx;
  addRecord(ctx, "C:\\Dati\\Archivio", "foto.jpg");
  addRecord(ctx, "C:\\Y", "alfa.txt");
  addRecord(ctx, "C:\\Dati", "foto.jpg");
  addRecord(ctx, "C:\\X", "\xc3\xa8lite.txt");  // an accented letter: bytes above 127
  addRecord(ctx, "C:\\X", "Zeta.txt");
  addRecord(ctx, "C:\\X", "foto.jpg.bak");
  addRecord(ctx, "C:\\X", "9.txt");
  EXPECT_EQ(sorted(ctx), (std::vector<std::string>{
                             "C:\\X|9.txt",
                             "C:\\X|Zeta.txt",  // capitals before small letters
                             "C:\\Y|alfa.txt",
                             "C:\\Dati|foto.jpg",  // a folder before its subfolder
                             "C:\\Dati\\Archivio|foto.jpg",
                             "C:\\X|foto.jpg.bak",  // a prefix first
                             "C:\\X|\xc3\xa8lite.txt",
                         }));
}

TEST(FileOrder, SortingOnTwoThreadsGivesTheOneOrder) {
  auto sortedWith = [](int threads) {
    TestRun run;
    RunContext& ctx = run.ctx;
    ctx.workerThreads = threads;
    // Enough records for the split, with many equal names in many folders.
    for (int i = 0; i < 50000; ++i) {
      addRecord(ctx, "/d" + std::to_string(i * 7919LL % 101), "n" + std::to_string(i * 104729LL % 997));
    }
    return sorted(ctx);
  };
  std::vector<std::string> alone = sortedWith(0);
  EXPECT_TRUE(std::is_sorted(alone.begin(), alone.end(), [](const std::string& a, const std::string& b) {
    auto name = [](const std::string& s) { return s.substr(s.find('|') + 1); };
    auto dir = [](const std::string& s) { return s.substr(0, s.find('|')); };
    return name(a) != name(b) ? name(a) < name(b) : dir(a) < dir(b);
  }));
  EXPECT_EQ(sortedWith(2), alone);
}

TEST(FileOrder, CompareIsConsistentAndEmptyTablesStay) {
  TestRun run;
  RunContext& ctx = run.ctx;
  sortFiles(ctx);
  EXPECT_EQ(ctx.count, 0);
  FileEntry& a = addRecord(ctx, "/a", "x");
  FileEntry& b = addRecord(ctx, "/b", "x");
  EXPECT_LT(compareFiles(ctx, a, b), 0);
  EXPECT_GT(compareFiles(ctx, b, a), 0);
  EXPECT_EQ(compareFiles(ctx, a, a), 0);
}

}  // namespace
}  // namespace doppioni
