#include <gtest/gtest.h>

#include <string>

#include "inventory/inventory.h"
#include "test_tree.h"

namespace doppioni {
namespace {

using testing::addRecord;
using testing::TestRun;

TEST(FileTable, GrowsInStepsAndKeepsItsRecords) {
  TestRun run;
  RunContext& ctx = run.ctx;
  EXPECT_EQ(ctx.capacity, TABLE_STEP);
  for (int i = 0; i < TABLE_STEP + 1; ++i) addRecord(ctx, "/d", "f" + std::to_string(i), i);
  EXPECT_EQ(ctx.capacity, 2 * TABLE_STEP);
  EXPECT_STREQ(nameOf(ctx, ctx.entries[0]), "f0");
  EXPECT_STREQ(nameOf(ctx, ctx.entries[TABLE_STEP]), "f10000");
  EXPECT_EQ(ctx.entries[TABLE_STEP].sizeLow, static_cast<std::uint32_t>(TABLE_STEP));

  // The folder stage starts empty with the capacity the file stage needed.
  emptyTable(ctx);
  EXPECT_EQ(ctx.count, 0);
  EXPECT_EQ(ctx.capacity, 2 * TABLE_STEP);
}

TEST(FileTable, FailedGrowthLeavesTheTableUsable) {
  TestRun run;
  RunContext& ctx = run.ctx;
  ctx.capacityLimit = TABLE_STEP + RECYCLED_STEP;
  addRecord(ctx, "/d", "kept");
  EXPECT_EQ(growTable(ctx, RECYCLED_STEP), 1);
  EXPECT_EQ(growTable(ctx, TABLE_STEP), -2);
  EXPECT_EQ(ctx.capacity, TABLE_STEP + RECYCLED_STEP);
  EXPECT_STREQ(nameOf(ctx, ctx.entries[0]), "kept");
  ctx.entries[ctx.capacity - 1].sizeLow = 7;  // every slot is still there
}

TEST(FileTable, ExtensionRules) {
  TestRun run;
  RunContext& ctx = run.ctx;
  auto ext = [&](const char* name) {
    return std::string(extOf(ctx, addRecord(ctx, "/d", name)));
  };
  EXPECT_EQ(ext("archivio.tar.gz"), ".gz");
  EXPECT_EQ(ext(".profilo"), ".profilo");
  EXPECT_EQ(ext("LEGGIMI"), "_");
  EXPECT_EQ(ext("nota."), ".");
  // Long extensions are kept whole and never spill into other fields.
  FileEntry& big = addRecord(ctx, "/d", "x.abcdefghijklmnopqrstuvwxyzhtm", 5, 9);
  EXPECT_EQ(std::string(extOf(ctx, big)), ".abcdefghijklmnopqrstuvwxyzhtm");
  EXPECT_EQ(big.sizeLow, 5u);
  EXPECT_EQ(big.writeTime, 9u);
  big.ext = EXT_RECYCLED;
  EXPECT_EQ(std::string(extOf(ctx, big)), "___");
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
