#include <gtest/gtest.h>

#include <algorithm>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

TEST(WebPages, PageTakesTheFilesDirectlyInItsCompanionFolder) {
  TestRun run;
  for (const char* rel :
       {"Pagina.htm", "Pagina_file/img1.gif", "Pagina_file/Aa.htm", "Pagina_file/sub/b.gif",
        "pagina_file/c.gif", "x.a.html", "x.a_file/e.gif", ".shtml", "_file/f.gif", "htm", "b.mht",
        "Recycled/d.htm"}) {
    std::string path = "A/" + std::string(rel);
    std::replace(path.begin(), path.end(), '/', PATH_SEPARATOR);
    addRecord(run.ctx, path.substr(0, path.rfind(PATH_SEPARATOR)),
              path.substr(path.rfind(PATH_SEPARATOR) + 1));
  }
  run.ctx.entries[11].ext = EXT_RECYCLED;  // as the scan adds what is in a bin
  run.ctx.entries[11].kind = KIND_JUNK;
  sortFiles(run.ctx);
  markWebPages(run.ctx);
  // Kind/page of each in name order: a page in a companion folder is also a
  // part, and the later mark wins; the case of the stem counts.
  std::string marks, progress;
  for (int i = 0; i < run.ctx.count; ++i) {
    const FileEntry& e = run.ctx.entries[i];
    marks +=
        nameOf(run.ctx, e) + (" " + std::to_string(e.kind)) + "/" + std::to_string(e.pageId) + ", ";
    progress += "Esamino il " + std::to_string(i) + " esimo file" + std::string(16, ' ') + "\n";
  }
  EXPECT_EQ(marks,
            ".shtml 1/1, Aa.htm 2/3, Pagina.htm 1/3, b.gif 0/0, b.mht 0/0, c.gif 0/0, d.htm 3/0, "
            "e.gif 2/4, f.gif 2/1, htm 0/0, img1.gif 2/3, x.a.html 1/4, ");
  EXPECT_EQ(run.output,
            progress + "Trovati 4 files htm e 4 file collegati" + std::string(23, ' ') + "\n");
}

}  // namespace
}  // namespace doppioni::testing
