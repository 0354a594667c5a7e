#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <tuple>

#include "folders/folders.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// Deepest first, the scan's order within a depth; a number wider than its column widens it.
TEST(FolderReport, LineForLine) {
  TempTree tree;
  ChangeDir here(tree.root());
  TestRun run;
  for (auto [path, files, depth] : {std::tuple{"C:\\Dati\\Foto", 2, 2},
                                    {"C:\\Dati\\Foto\\2004", 0, 3},
                                    {"C:\\Dati\\Vuota", 0, 2},
                                    {"C:\\Dati\\Privato", -4, 2},
                                    {"C:\\Dati\\Grande", 12345, 1000}}) {
    FileEntry& e = addRecord(run.ctx, path, "stantio");  // the name is a file-stage leftover
    e.fileCount = files;
    e.depth = depth;
  }
  sortFoldersByDepth(run.ctx);
  EXPECT_EQ(writeFolderReport(run.ctx), 0);
  std::ifstream text(FOLDER_REPORT);
  EXPECT_EQ(
      std::string(std::istreambuf_iterator<char>(text), {}),
      "Compilato il 07/03/2005 alle 09:05:41\n\nNumero cartelle: 5\n\nfiles slashes cartella\n\n"
      "12345    1000    C:\\Dati\\Grande\n"
      "   0      3    C:\\Dati\\Foto\\2004\n"
      "   2      2    C:\\Dati\\Foto\n"
      "   0      2    C:\\Dati\\Vuota\n"
      "  -4      2    C:\\Dati\\Privato\n"
      "\nfine del rapporto\n");
}

}  // namespace
}  // namespace doppioni::testing
