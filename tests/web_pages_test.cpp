#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

const std::string S(1, PATH_SEPARATOR);

// The kind and page number of every record, in table order.
std::string marks(const FileEntry* e, int count) {
  std::string result;
  for (int i = 0; i < count; ++i)
    result += std::to_string(e[i].kind) + "/" + std::to_string(e[i].pageId) + " ";
  return result;
}

std::string closing(int pages, int parts) {
  return "Trovati " + std::to_string(pages) + " files htm e " + std::to_string(parts) +
         " file collegati                       \n";
}

TEST(WebPages, PageTakesTheFilesDirectlyInItsCompanionFolder) {
  TestRun run;
  addRecord(run.ctx, "A", "Pagina.htm");
  addRecord(run.ctx, "A" + S + "Pagina_file", "img1.gif");
  addRecord(run.ctx, "A" + S + "Pagina_file", "Aa.css");  // sorts before the page
  addRecord(run.ctx, "A" + S + "Pagina_file" + S + "sub", "b.gif");
  addRecord(run.ctx, "A" + S + "pagina_file", "c.gif");  // another folder: case counts
  FileEntry& binned = addRecord(run.ctx, "A" + S + "Recycled", "d.htm");  // as the scan adds it
  binned.ext = EXT_RECYCLED;
  binned.kind = KIND_JUNK;
  sortFiles(run.ctx);  // Aa.css, Pagina.htm, b.gif, c.gif, d.htm, img1.gif
  markWebPages(run.ctx);
  EXPECT_EQ(marks(run.ctx.entries, run.ctx.count), "2/1 1/1 0/0 0/0 3/0 2/1 ");
  std::string expected;
  for (int i = 0; i < 6; ++i)
    expected += "Esamino il " + std::to_string(i) + " esimo file" + std::string(16, ' ') + "\n";
  EXPECT_EQ(run.output, expected + closing(1, 2));
}

// Random trees dense in pages, nested companion folders and shared stems: later marks win.
TEST(WebPages, SameMarksAsComparingEveryPageWithEveryRecord) {
  const std::vector<std::string> names = {"a.htm", "a.html",  "b.shtml", "a.gif", "A.htm",
                                          "b.HTM", "x.a.htm", ".htm",    "b.mht", "htm"};
  std::mt19937 random(12345);
  for (int round = 0; round < 300; ++round) {
    TestRun run;
    std::vector<std::string> folders = {"R"};
    for (int f = round == 0 ? 0 : 1 + static_cast<int>(random() % 30); f > 0; --f) {
      std::string dir = folders[random() % folders.size()];
      if (random() % 3 == 0) {  // go down into the companion folder of some name
        std::string sub = names[random() % names.size()];
        folders.push_back(dir += S + sub.substr(0, sub.rfind('.')) + "_file");
      }
      addRecord(run.ctx, dir, names[random() % names.size()]);
    }
    sortFiles(run.ctx);
    const RunContext& ctx = run.ctx;
    std::vector<FileEntry> expected(ctx.entries, ctx.entries + ctx.count);
    int pages = 0, parts = 0;
    for (int i = 0; i < ctx.count; ++i) {
      std::string name = nameOf(ctx, ctx.entries[i]);
      std::size_t dot = name.rfind('.');
      if (dot == std::string::npos || name.find("htm", dot) == std::string::npos) continue;
      expected[i].kind = KIND_PAGE;
      expected[i].pageId = ++pages;
      std::string companion =
          std::string(dirOf(ctx, ctx.entries[i])) + S + name.substr(0, dot) + "_file";
      for (int j = 0; j < ctx.count; ++j) {
        if (dirOf(ctx, ctx.entries[j]) != companion) continue;
        expected[j].kind = KIND_PAGE_PART;
        expected[j].pageId = pages;
        ++parts;
      }
    }
    markWebPages(run.ctx);
    ASSERT_EQ(marks(ctx.entries, ctx.count), marks(expected.data(), ctx.count)) << round;
    ASSERT_TRUE(("\n" + run.output).ends_with("\n" + closing(pages, parts))) << run.output;
  }
}

}  // namespace
}  // namespace doppioni::testing
