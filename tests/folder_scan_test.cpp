#include <gtest/gtest.h>

#include "folders/folders.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// Growth in steps, small below a bin, with its line; a full table stops either stage.
TEST(TableGrowth, BothStagesGrowTheTableAndStopWhenItCannot) {
  TempTree tree;
  for (const char* rel : {"f/1", "f/2", "f/3", "g/Recycled/1", "g/Recycled/2", "g/Recycled/3"})
    tree.file(rel);
  for (bool bin : {false, true}) {
    TestRun run;
    run.ctx.files.release();  // a table almost full
    ASSERT_FALSE(run.ctx.files.grow(2).has_value());
    ASSERT_FALSE(scanFolder(run.ctx, tree.path(bin ? "g" : "f")).has_value());
    EXPECT_EQ(run.ctx.files.capacity(), 2 + (bin ? RECYCLED_STEP : TABLE_STEP));
    EXPECT_EQ(run.progress.shown, bin ? "+2bin " : "+2 ");
    run.ctx.files.release();
    run.ctx.files.limit = 2;
    ASSERT_FALSE(run.ctx.files.grow(2).has_value());
    auto failure = bin ? scanFolder(run.ctx, tree.path("g")) : listFolders(run.ctx, tree.root());
    EXPECT_EQ(failure.value().kind, FailureKind::NO_MEMORY);
    EXPECT_EQ(bin ? run.ctx.files.size() : static_cast<int>(run.ctx.folderTable.size()), 2);
  }
}

}  // namespace
}  // namespace doppioni::testing
