// The marks of the web pages and of the useless files, and their counts.
#include <gtest/gtest.h>

#include <algorithm>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// Each record's name and kind, then "/" and its page number if it has one,
// and " C" when it is marked.
std::string marks(const RunContext& ctx) {
  std::string result;
  for (int i = 0; i < ctx.files.size(); ++i) {
    const FileRecord& e = ctx.files[i];
    result += nameOf(ctx, e) + (" " + std::to_string(static_cast<int>(e.kind)));
    result += (e.pageId != 0 ? "/" + std::to_string(e.pageId) : "") + (e.marked ? " C" : "");
    result += ", ";
  }
  return result;
}

TEST(WebPages, PageTakesTheFilesDirectlyInItsCompanionFolder) {
  TestRun run;
  for (const char* rel :
       {"Pagina.htm", "Pagina_file/img1.gif", "Pagina_file/Aa.htm", "Pagina_file/sub/b.gif",
        "pagina_file/c.gif", "x.a.html", "x.a_file/e.gif", ".shtml", "_file/f.gif", "htm", "b.mht",
        "Recycled/d.htm"}) {
    std::string path = "A/" + std::string(rel);
    std::replace(path.begin(), path.end(), '/', PATH_SEPARATOR);
    std::size_t slash = path.rfind(PATH_SEPARATOR);
    addRecord(run.ctx, path.substr(0, slash), path.substr(slash + 1));
  }
  run.ctx.files[11].ext = EXT_RECYCLED;  // as the scan adds what is in a bin
  run.ctx.files[11].kind = Kind::JUNK;
  sortFiles(run.ctx);
  WebPageCounts found = markWebPages(run.ctx);
  EXPECT_TRUE(found.pages == 4 && found.companions == 4);
  // In name order: a page in a companion folder is also a part, and the later
  // mark wins; the case of the stem counts.
  EXPECT_EQ(marks(run.ctx),
            ".shtml 1/1, Aa.htm 2/3, Pagina.htm 1/3, b.gif 0, b.mht 0, c.gif 0, d.htm 3, "
            "e.gif 2/4, f.gif 2/1, htm 0, img1.gif 2/3, x.a.html 1/4, ");
}

TEST(JunkFiles, NamesDecideAndOverrideEarlierMarks) {
  TestRun run;
  for (const char* name :
       {"Thumbs.db", "THUMBS.DB", "~$Rel.doc", "~$", "~WRL3.tmp", "xThumbs.db", "Copia~$.doc",
        "~wrl3.tmp", "~WR", "Thumbs\xC3\xA9.db", "~$p.htm", "~WRL1.tmp", "thumbs.DB", "foto.jpg"})
    addRecord(run.ctx, "D", name);
  // The last four as earlier passes left them: a page, a copy, two files below a bin.
  FileRecord* e = run.ctx.files.data() + 10;
  e[0].kind = Kind::PAGE;
  e[1].marked = e[2].marked = e[3].marked = true;
  e[2].kind = e[3].kind = Kind::JUNK;
  EXPECT_EQ(markJunkFiles(run.ctx), 8);
  EXPECT_EQ(marks(run.ctx),
            "Thumbs.db 3 C, THUMBS.DB 3 C, ~$Rel.doc 3 C, ~$ 3 C, ~WRL3.tmp 3 C, xThumbs.db 0, "
            "Copia~$.doc 0, ~wrl3.tmp 0, ~WR 0, Thumbs\xC3\xA9.db 0, ~$p.htm 3 C, ~WRL1.tmp 3 C, "
            "thumbs.DB 3 C, foto.jpg 3 C, ");
}

}  // namespace
}  // namespace doppioni::testing
