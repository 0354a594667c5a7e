#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni {
namespace {

namespace fs = std::filesystem;
using testing::addRecord;
using testing::TempTree;
using testing::TestRun;

std::string closingLine(std::string_view output) {
  std::size_t start = output.rfind('\n', output.size() - 2);
  return std::string(output.substr(start == std::string_view::npos ? 0 : start + 1));
}

bool ownerCanWrite(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

TEST(JunkFiles, EmptyTablePrintsOnlyTheClosingLine) {
  TestRun run;
  markJunkFiles(run.ctx);
  EXPECT_EQ(run.output, "Trovati 0 files inutili\n");
}

TEST(JunkFiles, ThumbsDbInAnyCaseAndTheOfficePrefixes) {
  const std::vector<std::string_view> junk = {"Thumbs.db",       "thumbs.db", "THUMBS.DB",
                                              "~$Relazione.doc", "~$",        "~WRL0003.tmp"};
  const std::vector<std::string_view> kept = {
      "Thumbs.db.bak", "xThumbs.db", "Thumbs.d",  "Thumbs.dbx", "Copia~$.doc",
      "~wrl0003.tmp",  "~WR",        "x~WRL.tmp", "~ $x.doc",   "Thumbs\xC3\xA9.db"};
  TestRun run;
  for (auto name : junk) addRecord(run.ctx, "missing-folder", name);
  for (auto name : kept) addRecord(run.ctx, "missing-folder", name);
  markJunkFiles(run.ctx);

  for (int i = 0; i < run.ctx.count; ++i) {
    const FileEntry& e = run.ctx.entries[i];
    bool isJunk = i < static_cast<int>(junk.size());
    EXPECT_EQ(e.deleteMark, isJunk ? 1 : 0) << nameOf(run.ctx, e);
    EXPECT_EQ(e.kind, isJunk ? KIND_JUNK : KIND_NORMAL) << nameOf(run.ctx, e);
  }
  // One progress line per record, then the count.
  EXPECT_EQ(run.output.substr(0, 39), "Esamino il 0 esimo file               \n");
  EXPECT_EQ(closingLine(run.output), "Trovati 6 files inutili\n");
}

TEST(JunkFiles, MatchesOverrideEarlierMarksAndCountEachMatch) {
  TestRun run;
  FileEntry& page = addRecord(run.ctx, "D", "~$pagina.htm");
  page.kind = KIND_PAGE;
  page.pageId = 1;
  FileEntry& part = addRecord(run.ctx, "D/~$pagina_file", "img.gif");
  part.kind = KIND_PAGE_PART;
  part.pageId = 1;
  FileEntry& copy = addRecord(run.ctx, "E", "~WRL0001.tmp");
  copy.deleteMark = 1;
  copy.keptCopy = 0;
  FileEntry& binned = addRecord(run.ctx, "R", "thumbs.DB");
  binned.kind = KIND_JUNK;
  binned.deleteMark = 1;
  FileEntry& binnedOther = addRecord(run.ctx, "R", "foto.jpg");
  binnedOther.kind = KIND_JUNK;
  binnedOther.deleteMark = 1;
  markJunkFiles(run.ctx);

  const FileEntry* e = run.ctx.entries;
  EXPECT_EQ(e[0].kind, KIND_JUNK);
  EXPECT_EQ(e[0].deleteMark, 1);
  EXPECT_EQ(e[0].pageId, 1);
  EXPECT_EQ(e[1].kind, KIND_PAGE_PART);
  EXPECT_EQ(e[1].deleteMark, 0);
  EXPECT_EQ(e[2].kind, KIND_JUNK);
  EXPECT_EQ(e[2].keptCopy, 0);
  EXPECT_EQ(e[3].kind, KIND_JUNK);
  // The recycle-bin file that matches no rule is not counted.
  EXPECT_EQ(closingLine(run.output), "Trovati 3 files inutili\n");
}

TEST(JunkFiles, ReadOnlyThumbsDbBecomesWritableWhateverTheLengthOfItsPath) {
  TempTree tree;
  // A path well past the 259 characters of the old buffers.
  std::string deep;
  for (int level = 0; level < 6; ++level)
    deep += std::string(50, static_cast<char>('a' + level)) + "/";
  tree.file("Thumbs.db", "x");
  tree.file(deep + "THUMBS.db", "x");
  tree.file("altro.txt", "x");
  ASSERT_GT(tree.path(deep + "THUMBS.db").size(), 300u);
  for (const std::string& rel :
       {std::string("Thumbs.db"), deep + "THUMBS.db", std::string("altro.txt")}) {
    fs::permissions(tree.path(rel),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    ASSERT_FALSE(ownerCanWrite(tree.path(rel)));
  }

  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  sortFiles(run.ctx);
  markJunkFiles(run.ctx);

  EXPECT_TRUE(ownerCanWrite(tree.path("Thumbs.db")));
  EXPECT_TRUE(ownerCanWrite(tree.path(deep + "THUMBS.db")));
  EXPECT_FALSE(ownerCanWrite(tree.path("altro.txt")));
  EXPECT_TRUE(tree.exists("Thumbs.db")) << "nothing is deleted here";
  EXPECT_EQ(closingLine(run.output), "Trovati 2 files inutili\n");
}

}  // namespace
}  // namespace doppioni
