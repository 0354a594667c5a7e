#include <gtest/gtest.h>

#include <string>

#include "inventory/inventory.h"
#include "test_tree.h"

namespace doppioni {
namespace {

using testing::addRecord;
using testing::TestRun;

TEST(FileTable, GrowsInStepsKeepingItsRecordsAndAFailedGrowthChangesNothing) {
  TestRun run;
  RunContext& ctx = run.ctx;
  for (int i = 0; i <= TABLE_STEP; ++i) addRecord(ctx, "/d", "f" + std::to_string(i), i);
  EXPECT_EQ(ctx.capacity, 2 * TABLE_STEP);
  EXPECT_STREQ(nameOf(ctx, ctx.entries[0]), "f0");
  EXPECT_STREQ(nameOf(ctx, ctx.entries[TABLE_STEP]), "f10000");
  EXPECT_EQ(ctx.entries[TABLE_STEP].sizeLow, static_cast<std::uint32_t>(TABLE_STEP));

  ctx.capacityLimit = 2 * TABLE_STEP + RECYCLED_STEP;
  EXPECT_EQ(growTable(ctx, RECYCLED_STEP), 1);
  EXPECT_EQ(growTable(ctx, TABLE_STEP), -2);
  EXPECT_EQ(ctx.capacity, 2 * TABLE_STEP + RECYCLED_STEP);
  EXPECT_STREQ(nameOf(ctx, ctx.entries[TABLE_STEP]), "f10000");
  ctx.entries[ctx.capacity - 1].sizeLow = 7;  // every slot is still there

  // The folder stage starts empty with the capacity the file stage needed.
  emptyTable(ctx);
  EXPECT_EQ(ctx.count, 0);
  EXPECT_EQ(ctx.capacity, 2 * TABLE_STEP + RECYCLED_STEP);
}

TEST(TextArena, KeepsTextsOfAnySizeInPlace) {
  TextArena arena;
  std::uint32_t small = arena.add("primo");
  const char* where = arena.at(small);
  std::string huge(5u << 20, 'x');  // larger than a block
  std::uint32_t big = arena.add(huge);
  std::uint32_t after = arena.add("dopo");
  ASSERT_NE(big, TextArena::NO_ROOM);
  EXPECT_EQ(arena.at(small), where);  // blocks never move
  EXPECT_EQ(std::string(arena.at(big)), huge);
  EXPECT_STREQ(arena.at(after), "dopo");
  EXPECT_STREQ(arena.at(small), "primo");
}

}  // namespace
}  // namespace doppioni
