#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni {
namespace {

using testing::addRecord;
using testing::TestRun;

// A path written with '/' in the platform's separator.
std::string p(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '/') c = PATH_SEPARATOR;
  }
  return result;
}

struct Mark {
  int kind;
  int pageId;
  bool operator==(const Mark&) const = default;
};

void PrintTo(const Mark& m, std::ostream* os) {
  *os << "kind " << m.kind << " pageId " << m.pageId;
}

Mark markOf(const RunContext& ctx, std::string_view dir, std::string_view name) {
  for (int i = 0; i < ctx.count; ++i) {
    const FileEntry& e = ctx.entries[i];
    if (dirOf(ctx, e) == p(dir) && std::string_view(nameOf(ctx, e)) == name) {
      return {e.kind, e.pageId};
    }
  }
  ADD_FAILURE() << "no record " << dir << " " << name;
  return {-1, -1};
}

std::string closingLine(std::string_view output) {
  std::size_t start = output.rfind('\n', output.size() - 2);
  return std::string(output.substr(start == std::string_view::npos ? 0 : start + 1));
}

TEST(WebPages, EmptyTablePrintsOnlyTheClosingLine) {
  TestRun run;
  markWebPages(run.ctx);
  EXPECT_EQ(run.output, "Trovati 0 files htm e 0 file collegati                       \n");
}

TEST(WebPages, PageTakesTheFilesDirectlyInItsCompanionFolder) {
  TestRun run;
  addRecord(run.ctx, p("C:/A"), "Pagina.htm");
  addRecord(run.ctx, p("C:/A/Pagina_file"), "img1.gif");
  addRecord(run.ctx, p("C:/A/Pagina_file"), "filelist.xml");
  addRecord(run.ctx, p("C:/A/Pagina_file"), "Aa.css");  // sorts before the page
  addRecord(run.ctx, p("C:/A/Pagina_file/sub"), "x.gif");
  addRecord(run.ctx, p("C:/A/pagina_file"), "y.gif");  // another folder: case counts
  sortFiles(run.ctx);
  markWebPages(run.ctx);

  EXPECT_EQ(markOf(run.ctx, "C:/A", "Pagina.htm"), (Mark{KIND_PAGE, 1}));
  EXPECT_EQ(markOf(run.ctx, "C:/A/Pagina_file", "img1.gif"), (Mark{KIND_PAGE_PART, 1}));
  EXPECT_EQ(markOf(run.ctx, "C:/A/Pagina_file", "filelist.xml"), (Mark{KIND_PAGE_PART, 1}));
  EXPECT_EQ(markOf(run.ctx, "C:/A/Pagina_file", "Aa.css"), (Mark{KIND_PAGE_PART, 1}));
  EXPECT_EQ(markOf(run.ctx, "C:/A/Pagina_file/sub", "x.gif"), (Mark{KIND_NORMAL, 0}));
  EXPECT_EQ(markOf(run.ctx, "C:/A/pagina_file", "y.gif"), (Mark{KIND_NORMAL, 0}));

  std::string expected;
  for (int i = 0; i < 6; ++i) {
    expected += "Esamino il " + std::to_string(i) + " esimo file                \n";
  }
  expected += "Trovati 1 files htm e 3 file collegati                       \n";
  EXPECT_EQ(run.output, expected);
}

TEST(WebPages, OnlyTheExtensionDecidesWithCaseSignificant) {
  TestRun run;
  for (const char* name : {"a.htm", "b.html", "c.shtml", "d.xhtml", "e.mhtml", "F.HTM", "g.Html",
                           "h.mht", "html.txt", "htm", "i.htm.bak"}) {
    addRecord(run.ctx, "D", name);
  }
  FileEntry& binned = addRecord(run.ctx, p("D/Recycled"), "j.htm");
  binned.ext = EXT_RECYCLED;
  binned.kind = KIND_JUNK;
  binned.deleteMark = 1;
  sortFiles(run.ctx);
  markWebPages(run.ctx);

  std::vector<std::string> pages;
  for (int i = 0; i < run.ctx.count; ++i) {
    const FileEntry& e = run.ctx.entries[i];
    if (e.kind == KIND_PAGE) pages.push_back(nameOf(run.ctx, e));
  }
  EXPECT_EQ(pages, (std::vector<std::string>{"a.htm", "b.html", "c.shtml", "d.xhtml", "e.mhtml"}));
  EXPECT_EQ(markOf(run.ctx, "D/Recycled", "j.htm"), (Mark{KIND_JUNK, 0}));
  EXPECT_EQ(closingLine(run.output),
            "Trovati 5 files htm e 0 file collegati                       \n");
}

TEST(WebPages, StemIsTheNameUpToItsLastDot) {
  TestRun run;
  addRecord(run.ctx, "D", "a.b.htm");
  addRecord(run.ctx, "D", ".htm");
  addRecord(run.ctx, p("D/a.b_file"), "1.gif");
  addRecord(run.ctx, p("D/a_file"), "2.gif");
  addRecord(run.ctx, p("D/_file"), "3.gif");
  sortFiles(run.ctx);  // .htm sorts first
  markWebPages(run.ctx);

  EXPECT_EQ(markOf(run.ctx, "D", ".htm"), (Mark{KIND_PAGE, 1}));
  EXPECT_EQ(markOf(run.ctx, "D", "a.b.htm"), (Mark{KIND_PAGE, 2}));
  EXPECT_EQ(markOf(run.ctx, "D/_file", "3.gif"), (Mark{KIND_PAGE_PART, 1}));
  EXPECT_EQ(markOf(run.ctx, "D/a.b_file", "1.gif"), (Mark{KIND_PAGE_PART, 2}));
  EXPECT_EQ(markOf(run.ctx, "D/a_file", "2.gif"), (Mark{KIND_NORMAL, 0}));
}

TEST(WebPages, LaterAssignmentWinsForACompanionThatIsAPage) {
  TestRun run;
  addRecord(run.ctx, "D", "P.htm");
  addRecord(run.ctx, p("D/P_file"), "A.htm");  // its turn comes before P.htm's
  addRecord(run.ctx, p("D/P_file"), "Z.htm");  // its turn comes after
  addRecord(run.ctx, p("D/P_file/A_file"), "img.gif");
  addRecord(run.ctx, p("D/P_file/Z_file"), "zz.gif");
  sortFiles(run.ctx);  // A.htm, P.htm, Z.htm, img.gif, zz.gif
  markWebPages(run.ctx);

  // A.htm took number 1, then P.htm (2) made it a companion file; its own
  // companion files keep the 1, which no other page gets.
  EXPECT_EQ(markOf(run.ctx, "D/P_file", "A.htm"), (Mark{KIND_PAGE_PART, 2}));
  EXPECT_EQ(markOf(run.ctx, "D/P_file/A_file", "img.gif"), (Mark{KIND_PAGE_PART, 1}));
  EXPECT_EQ(markOf(run.ctx, "D", "P.htm"), (Mark{KIND_PAGE, 2}));
  EXPECT_EQ(markOf(run.ctx, "D/P_file", "Z.htm"), (Mark{KIND_PAGE, 3}));
  EXPECT_EQ(markOf(run.ctx, "D/P_file/Z_file", "zz.gif"), (Mark{KIND_PAGE_PART, 3}));
  EXPECT_EQ(closingLine(run.output),
            "Trovati 3 files htm e 4 file collegati                       \n");
}

TEST(WebPages, TwoPagesWithOneStemShareTheFolderAndTheLaterNumberWins) {
  TestRun run;
  addRecord(run.ctx, "D", "Indice.htm");
  addRecord(run.ctx, "D", "Indice.html");
  addRecord(run.ctx, p("D/Indice_file"), "a.gif");
  addRecord(run.ctx, p("D/Indice_file"), "b.gif");
  sortFiles(run.ctx);
  markWebPages(run.ctx);
  EXPECT_EQ(markOf(run.ctx, "D", "Indice.htm"), (Mark{KIND_PAGE, 1}));
  EXPECT_EQ(markOf(run.ctx, "D", "Indice.html"), (Mark{KIND_PAGE, 2}));
  EXPECT_EQ(markOf(run.ctx, "D/Indice_file", "a.gif"), (Mark{KIND_PAGE_PART, 2}));
  EXPECT_EQ(markOf(run.ctx, "D/Indice_file", "b.gif"), (Mark{KIND_PAGE_PART, 2}));
  // Each of the two pages marks both files.
  EXPECT_EQ(closingLine(run.output),
            "Trovati 2 files htm e 4 file collegati                       \n");
}

// The pass as first described: every page compares its companion path with
// the folder of every record, in table order.
struct Reference {
  std::vector<Mark> marks;
  int pages = 0;
  long companions = 0;
};

Reference markByFullScans(const RunContext& ctx) {
  Reference ref;
  for (int i = 0; i < ctx.count; ++i) ref.marks.push_back({ctx.entries[i].kind, 0});
  for (int i = 0; i < ctx.count; ++i) {
    const FileEntry& e = ctx.entries[i];
    if (extOf(ctx, e).find("htm") == std::string_view::npos) continue;
    ++ref.pages;
    ref.marks[i] = {KIND_PAGE, ref.pages};
    std::string name = nameOf(ctx, e);
    std::string companion =
        std::string(dirOf(ctx, e)) + PATH_SEPARATOR + name.substr(0, name.rfind('.')) + "_file";
    for (int j = 0; j < ctx.count; ++j) {
      if (dirOf(ctx, ctx.entries[j]) != companion) continue;
      ref.marks[j] = {KIND_PAGE_PART, ref.pages};
      ++ref.companions;
    }
  }
  return ref;
}

TEST(WebPages, SameMarksAsComparingEveryPageWithEveryRecord) {
  // Small random trees dense in pages, nested companion folders and shared
  // stems, where the order of assignments matters most.
  const std::vector<std::string> names = {"a.htm", "a.html", "b.htm", "a.gif", "b.txt", "c.htm"};
  std::mt19937 random(12345);
  for (int round = 0; round < 200; ++round) {
    TestRun run;
    std::vector<std::string> folders = {"R"};
    int files = 5 + static_cast<int>(random() % 30);
    for (int f = 0; f < files; ++f) {
      std::string dir = folders[random() % folders.size()];
      std::string name = names[random() % names.size()];
      if (random() % 3 == 0) {
        // Go down into the companion folder of some name in dir.
        std::string sub = names[random() % names.size()];
        dir += PATH_SEPARATOR + sub.substr(0, sub.rfind('.')) + "_file";
        folders.push_back(dir);
      }
      bool taken = false;
      for (int i = 0; i < run.ctx.count; ++i) {
        const FileEntry& e = run.ctx.entries[i];
        taken = taken || (dirOf(run.ctx, e) == dir && nameOf(run.ctx, e) == name);
      }
      if (!taken) addRecord(run.ctx, dir, name);
    }
    sortFiles(run.ctx);
    Reference ref = markByFullScans(run.ctx);
    markWebPages(run.ctx);

    for (int i = 0; i < run.ctx.count; ++i) {
      const FileEntry& e = run.ctx.entries[i];
      ASSERT_EQ((Mark{e.kind, e.pageId}), ref.marks[i])
          << "round " << round << ": " << testing::describe(run.ctx, e);
    }
    ASSERT_EQ(closingLine(run.output), "Trovati " + std::to_string(ref.pages) + " files htm e " +
                                           std::to_string(ref.companions) +
                                           " file collegati                       \n");
  }
}

}  // namespace
}  // namespace doppioni
