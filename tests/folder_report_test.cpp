#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "folders/folders.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

class FolderReportTest : public ::testing::Test {
 protected:
  TempTree tree;
  ChangeDir here{tree.root()};
  TestRun run;

  // The report of the folders given as "path files depth", in the scan's order.
  std::string report(const std::string& folders) {
    std::istringstream in(folders);
    for (std::string path; in >> path;)  // the name is a file-stage leftover
      in >> addRecord(run.ctx, path, "stantio").fileCount >>
          run.ctx.entries[run.ctx.count - 1].depth;
    sortFoldersByDepth(run.ctx);
    EXPECT_EQ(writeFolderReport(run.ctx), 0);
    std::ifstream text(FOLDER_REPORT);
    return {std::istreambuf_iterator<char>(text), {}};
  }
};

TEST_F(FolderReportTest, WorkedExampleLineForLineThenWideNumbersWidenTheirColumn) {
  EXPECT_EQ(
      report("C:\\Dati\\Foto 2 2 C:\\Dati\\Foto\\2004 0 3 C:\\Dati\\Vuota 0 2 "
             "C:\\Dati\\Privato -4 2"),
      "Compilato il 07/03/2005 alle 09:05:41\n\nNumero cartelle: 4\n\nfiles slashes cartella\n\n"
      "   0      3    C:\\Dati\\Foto\\2004\n"
      "   2      2    C:\\Dati\\Foto\n"
      "   0      2    C:\\Dati\\Vuota\n"
      "  -4      2    C:\\Dati\\Privato\n"
      "\nfine del rapporto\n");
  EXPECT_NE(report("a 12345 1000").find("\n12345    1000    a\n"), std::string::npos);
}

}  // namespace
}  // namespace doppioni::testing
