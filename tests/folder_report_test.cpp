#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "folders/folders.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

FileEntry& addFolder(RunContext& ctx, std::string_view path, int fileCount, int depth) {
  FileEntry& record = addRecord(ctx, path, "stantio");  // name: a file-stage leftover
  record.fileCount = fileCount;
  record.depth = depth;
  return record;
}

class FolderReportTest : public ::testing::Test {
 protected:
  TempTree tree;
  ChangeDir here{tree.root()};
  TestRun run;
  RunContext& ctx = run.ctx;
  std::string report() { return readText(tree.path(FOLDER_REPORT)); }
};

TEST_F(FolderReportTest, ListsFoldersDeepestFirstInFixedColumns) {
  // As the scan leaves them: pre-order, depths and counts set.
  addFolder(ctx, "C:\\Dati\\Foto", 2, 2);
  addFolder(ctx, "C:\\Dati\\Foto\\2004", 0, 3);
  addFolder(ctx, "C:\\Dati\\Vuota", 0, 2);
  addFolder(ctx, "C:\\Dati\\Privato", -4, 2);
  sortFoldersByDepth(ctx);
  EXPECT_EQ(writeFolderReport(ctx), 0);
  EXPECT_EQ(report(),
            "Compilato il 07/03/2005 alle 09:05:41\n"
            "\n"
            "Numero cartelle: 4\n"
            "\n"
            "files slashes cartella\n"
            "\n"
            "   0      3    C:\\Dati\\Foto\\2004\n"
            "   2      2    C:\\Dati\\Foto\n"
            "   0      2    C:\\Dati\\Vuota\n"
            "  -4      2    C:\\Dati\\Privato\n"
            "\n"
            "fine del rapporto\n");
  EXPECT_EQ(run.output, "");
}

TEST_F(FolderReportTest, NoFoldersAndAnOldReportReplaced) {
  tree.file(FOLDER_REPORT, std::string(500, 'x'));
  sortFoldersByDepth(ctx);
  EXPECT_EQ(writeFolderReport(ctx), 0);
  EXPECT_EQ(report(),
            "Compilato il 07/03/2005 alle 09:05:41\n\nNumero cartelle: 0\n\n"
            "files slashes cartella\n\n\nfine del rapporto\n");
}

TEST_F(FolderReportTest, WideNumbersWidenTheirColumn) {
  addFolder(ctx, "a", 12345, 1000);
  writeFolderReport(ctx);
  EXPECT_NE(report().find("\n12345    1000    a\n"), std::string::npos);
}

TEST_F(FolderReportTest, SortPutsEveryFolderAfterTheFoldersInsideIt) {
  addFolder(ctx, "x", 0, 3);
  addFolder(ctx, "y", 0, 2);
  addFolder(ctx, "z", 0, 4);
  addFolder(ctx, "w", 0, 3);
  EXPECT_LT(compareFolderDepth(ctx.entries[2], ctx.entries[1]), 0);
  EXPECT_GT(compareFolderDepth(ctx.entries[1], ctx.entries[2]), 0);
  EXPECT_EQ(compareFolderDepth(ctx.entries[0], ctx.entries[3]), 0);
  sortFoldersByDepth(ctx);
  std::string order;
  for (std::int32_t i = 0; i < ctx.count; ++i) order += dirOf(ctx, ctx.entries[i]);
  EXPECT_EQ(order, "zxwy");  // equal depths keep their order
}

TEST_F(FolderReportTest, ReportThatCannotBeCreatedIsTold) {
  tree.folder(FOLDER_REPORT);
  EXPECT_EQ(writeFolderReport(ctx), -1);
  EXPECT_NE(run.output.find("Rapporto_cartelle.txt"), std::string::npos);
}

}  // namespace
}  // namespace doppioni::testing
