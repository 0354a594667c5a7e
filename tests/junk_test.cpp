#include <gtest/gtest.h>

#include <filesystem>

#include "classify/classify.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

TEST(JunkFiles, NamesDecideAndOverrideEarlierMarks) {
  TestRun run;
  for (const char* name :
       {"Thumbs.db", "THUMBS.DB", "~$Rel.doc", "~$", "~WRL3.tmp", "xThumbs.db", "Copia~$.doc",
        "~wrl3.tmp", "~WR", "Thumbs\xC3\xA9.db", "~$p.htm", "~WRL1.tmp", "thumbs.DB", "foto.jpg"})
    addRecord(run.ctx, "D", name);
  // The last four as earlier passes left them: a page, a copy, two files below a recycle bin.
  FileEntry* e = run.ctx.entries + 10;
  e[0].kind = KIND_PAGE;
  e[1].deleteMark = e[2].deleteMark = e[3].deleteMark = 1;
  e[2].kind = e[3].kind = KIND_JUNK;
  markJunkFiles(run.ctx);

  std::string marks, progress;
  for (int i = 0; i < run.ctx.count; ++i) {
    marks += std::to_string(run.ctx.entries[i].kind * 10 + run.ctx.entries[i].deleteMark) + " ";
    progress += "Esamino il " + std::to_string(i) + " esimo file" + std::string(15, ' ') + "\n";
  }
  EXPECT_EQ(marks, "31 31 31 31 31 0 0 0 0 0 31 31 31 31 ");
  EXPECT_EQ(run.output, progress + "Trovati 8 files inutili\n");
}

TEST(JunkFiles, ReadOnlyThumbsDbBecomesWritableWhateverTheLengthOfItsPath) {
  TempTree tree;
  std::string rel;  // far longer than Windows' 260 characters
  for (char c = 'a'; c < 'g'; ++c) rel += std::string(50, c) + "/";
  tree.file(rel += "THUMBS.db", "x");
  fs::permissions(tree.path(rel), fs::perms::owner_write, fs::perm_options::remove);
  TestRun run;
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  markJunkFiles(run.ctx);
  EXPECT_NE(fs::status(tree.path(rel)).permissions() & fs::perms::owner_write, fs::perms::none);
}

}  // namespace
}  // namespace doppioni::testing
