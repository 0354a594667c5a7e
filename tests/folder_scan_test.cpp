#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "folders/folders.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

// Every folder record, by path relative to the root ('/' between names),
// with its file count and depth below the root.
std::map<std::string, std::pair<int, int>> folderRecords(const RunContext& ctx,
                                                         const TempTree& tree) {
  std::map<std::string, std::pair<int, int>> records;
  int rootDepth = countBackslashes(tree.root());
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    std::string rel(dirOf(ctx, ctx.entries[i]).substr(tree.root().size() + 1));
    for (char& c : rel) c = c == PATH_SEPARATOR ? '/' : c;
    EXPECT_TRUE(records.count(rel) == 0) << rel << " listed twice";
    records[rel] = {ctx.entries[i].fileCount, ctx.entries[i].depth - rootDepth};
  }
  return records;
}

int scanFolders(RunContext& ctx, const std::string& path) {
  int result = listFolders(ctx, path);
  computeFolderDepths(ctx);
  countFolderFiles(ctx);
  return result;
}

TEST(FolderScanTest, ListsEveryFolderInPreOrderWithDepthAndFileCount) {
  TempTree tree;
  tree.file("top.txt");
  tree.file("Foto/a.jpg");
  tree.file("Foto/.nascosto");
  tree.file("Foto/2004/Mare/b.jpg");
  tree.folder("Foto/2005");
  tree.folder("Vuota/Dentro");
  tree.file("Recycled/c.txt");
  tree.file("Recycled/Sotto/d.txt");
  TestRun run;
  EXPECT_EQ(scanFolders(run.ctx, tree.root()), 1);

  using Record = std::pair<int, int>;
  EXPECT_EQ(folderRecords(run.ctx, tree), (std::map<std::string, Record>{
                                              {"Foto", {2, 1}},
                                              {"Foto/2004", {0, 2}},
                                              {"Foto/2004/Mare", {1, 3}},
                                              {"Foto/2005", {0, 2}},
                                              {"Recycled", {1, 1}},
                                              {"Recycled/Sotto", {1, 2}},
                                              {"Vuota", {0, 1}},
                                              {"Vuota/Dentro", {0, 2}},
                                          }));
  // Pre-order: every folder is followed at once by all the folders inside it.
  const RunContext& ctx = run.ctx;
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    std::string prefix = std::string(dirOf(ctx, ctx.entries[i])) + PATH_SEPARATOR;
    std::int32_t j = i + 1;
    while (j < ctx.count && dirOf(ctx, ctx.entries[j]).starts_with(prefix)) ++j;
    for (; j < ctx.count; ++j) {
      EXPECT_FALSE(dirOf(ctx, ctx.entries[j]).starts_with(prefix))
          << dirOf(ctx, ctx.entries[j]) << " stands apart from " << prefix;
    }
  }
}

TEST(FolderScanTest, NothingBelowGivesAnEmptyTable) {
  TempTree tree;
  tree.file("solo.txt");
  TestRun run;
  EXPECT_EQ(scanFolders(run.ctx, tree.root()), 1);
  EXPECT_EQ(run.ctx.count, 0);
  EXPECT_EQ(run.output, "");
}

TEST(FolderScanTest, WorkingDirectoryThatCannotBeListedGivesMinusOne) {
  TempTree tree;
  tree.file("file.txt");
  TestRun run;
  EXPECT_EQ(listFolders(run.ctx, tree.path("manca")), -1);
  EXPECT_EQ(listFolders(run.ctx, tree.path("file.txt")), -1);
  EXPECT_EQ(run.ctx.count, 0);
}

TEST(FolderScanTest, CountsFilesOfOneFolder) {
  TempTree tree;
  tree.file("a/1");
  tree.file("a/2");
  tree.file("a/sub/3");
  EXPECT_EQ(countFilesInFolder(tree.path("a")), 2);
  EXPECT_EQ(countFilesInFolder(tree.path("a/sub")), 1);
  EXPECT_EQ(countFilesInFolder(tree.path("manca")), -4);
}

TEST(FolderScanTest, CountsEverySeparator) {
  std::string s(1, PATH_SEPARATOR);
  EXPECT_EQ(countBackslashes(""), 0);
  EXPECT_EQ(countBackslashes("Dati"), 0);
  EXPECT_EQ(countBackslashes("C:" + s + s + "Dati" + s + "Foto"), 3);
}

TEST(FolderScanTest, FullTableGrowsBeforeTheNextRecord) {
  TempTree tree;
  tree.folder("a");
  tree.folder("b");
  TestRun run;
  RunContext& ctx = run.ctx;
  ctx.count = ctx.capacity - 1;  // slots left as the file stage had them
  EXPECT_EQ(listFolders(ctx, tree.root()), 1);
  EXPECT_EQ(ctx.count, TABLE_STEP + 1);
  EXPECT_EQ(ctx.capacity, 2 * TABLE_STEP);
}

TEST(FolderScanTest, TableThatCannotGrowStopsTheWholeWalk) {
  TempTree tree;
  tree.folder("a/a1/a2");
  tree.folder("b/b1");
  tree.folder("c");
  TestRun run;
  RunContext& ctx = run.ctx;
  ctx.capacityLimit = ctx.capacity;
  ctx.count = ctx.capacity - 2;
  EXPECT_EQ(listFolders(ctx, tree.root()), -2);
  EXPECT_EQ(ctx.count, ctx.capacity);
  EXPECT_EQ(ctx.capacity, TABLE_STEP);
}

#ifndef _WIN32
TEST(FolderScanTest, LinksToFoldersAreNeitherListedNorWalkedNorCounted) {
  TempTree tree;
  tree.file("vero/file.txt");
  tree.folder("altro");
  fs::create_directory_symlink(tree.root(), tree.path("altro/giro"));  // a loop back up
  fs::create_symlink(tree.path("vero/file.txt"), tree.path("altro/collegamento.txt"));
  TestRun run;
  EXPECT_EQ(scanFolders(run.ctx, tree.root()), 1);
  using Record = std::pair<int, int>;
  EXPECT_EQ(folderRecords(run.ctx, tree),
            (std::map<std::string, Record>{{"altro", {1, 1}}, {"vero", {1, 1}}}));
}

TEST(FolderScanTest, UnreadableFolderIsKeptWithMinusFourAndNotWalked) {
  TempTree tree;
  tree.file("chiusa/dentro/x.txt");
  tree.folder("aperta");
  fs::permissions(tree.path("chiusa"), fs::perms::none);
  if (countFilesInFolder(tree.path("chiusa")) != -4) {
    GTEST_SKIP() << "this user reads every folder";
  }
  TestRun run;
  EXPECT_EQ(scanFolders(run.ctx, tree.root()), 1);
  using Record = std::pair<int, int>;
  EXPECT_EQ(folderRecords(run.ctx, tree),
            (std::map<std::string, Record>{{"aperta", {0, 1}}, {"chiusa", {-4, 1}}}));
}
#endif

}  // namespace
}  // namespace doppioni::testing
