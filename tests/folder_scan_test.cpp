#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "folders/folders.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

TEST(FolderScanTest, ListsEveryFolderInPreOrderWithDepthAndFileCountAndNoLinks) {
  TempTree tree;
  for (std::string rel : {"top", "Foto/a", "Foto/.b", "Foto/2004/Mare/c", "Foto/2005/",
                          "Recycled/d", "Recycled/Sotto/e", "Vuota/Dentro/"})
    rel.ends_with('/') ? tree.folder(rel) : tree.file(rel);
  const int links = PATH_SEPARATOR == '/' ? 1 : 0;  // a link to a file counts, one to a folder not
  if (links) {
    std::filesystem::create_symlink(tree.path("top"), tree.path("Vuota/collegamento.txt"));
    std::filesystem::create_directory_symlink(tree.root(), tree.path("Vuota/giro"));  // a loop
  }
  TestRun run;
  RunContext& ctx = run.ctx;
  EXPECT_EQ(listFolders(ctx, tree.root()), 1);
  computeFolderDepths(ctx);
  std::multiset<std::string> records;  // "folder count depth", below the root
  for (std::int32_t i = 0; i < ctx.count; ++i) {
    std::string rel(dirOf(ctx, ctx.entries[i]).substr(tree.root().size() + 1));
    for (char& c : rel) c = c == PATH_SEPARATOR ? '/' : c;
    records.insert(rel + " " + std::to_string(ctx.entries[i].fileCount) + " " +
                   std::to_string(ctx.entries[i].depth - countBackslashes(tree.root())));
  }
  EXPECT_EQ(records, (std::multiset<std::string>{
                         "Foto 2 1", "Foto/2004 0 2", "Foto/2004/Mare 1 3", "Foto/2005 0 2",
                         "Recycled 1 1", "Recycled/Sotto 1 2",
                         "Vuota " + std::to_string(links) + " 1", "Vuota/Dentro 0 2"}));
  // Pre-order: the folder holding each one is the folder listed just before it or holds that one.
  for (std::int32_t i = 1; i < ctx.count; ++i) {
    std::string dir(dirOf(ctx, ctx.entries[i])), before(dirOf(ctx, ctx.entries[i - 1]));
    EXPECT_TRUE(
        (before + PATH_SEPARATOR).starts_with(dir.substr(0, dir.rfind(PATH_SEPARATOR) + 1)));
  }
}

}  // namespace
}  // namespace doppioni::testing
