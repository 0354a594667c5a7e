#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "folders/folders.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

const std::string HEAD = "Rapporto rimozione cartelle\n\nCompilato il 07/03/2005 alle 09:05:41\n\n";

std::string summary(int folders, int tried, int removed, int failed) {
  return "Totale cartelle " + std::to_string(folders) + "\nCartelle senza files " +
         std::to_string(tried) + "\nCartelle rimosse " + std::to_string(removed) +
         "\nAccesso negato a " + std::to_string(failed) + " cartelle\n\n";
}

class FolderRemovalTest : public ::testing::Test {
 protected:
  TempTree tree;
  ChangeDir here{tree.root()};
  TestRun run;

  void scanFolders() {  // the folder stage as the run drives it, up to the removal
    ASSERT_FALSE(listFolders(run.ctx, tree.root()).has_value());
    computeFolderDepths(run.ctx);
    sortFoldersByDepth(run.ctx);
  }
  std::string report() {
    std::ifstream in(REMOVAL_REPORT);
    return {std::istreambuf_iterator<char>(in), {}};
  }
};

TEST_F(FolderRemovalTest, WorkedExampleLineForLine) {
  tree.folder("Foto/2004");
  for (const char* name : {"a", "b", "c", "d"}) tree.file(std::string("Lavoro/") + name);
  scanFolders();
  EXPECT_EQ(removeEmptyFolders(run.ctx), 1);
  EXPECT_EQ(report(), HEAD + tree.path("Foto/2004") + "\trimossa\n" + tree.path("Foto") +
                          "\trimossa\n\n\n" + summary(3, 2, 2, 0) + "Fine rapporto\n");
  EXPECT_EQ(run.output, "Rimuovo " + tree.path("Foto/2004") + std::string(22, ' ') + "\nRimuovo " +
                            tree.path("Foto") + std::string(22, ' ') + "\n" + summary(3, 2, 2, 0));
}

TEST_F(FolderRemovalTest, NothingIsTriedWithoutTheReportOrWithAnIncompleteTable) {
  tree.folder("Vuota");
  scanFolders();
  tree.folder(REMOVAL_REPORT);  // in the way of the report
  removeEmptyFolders(run.ctx);
  EXPECT_TRUE(run.output.starts_with("Impossibile creare il file Rapporto_rimozione_cartelle.txt"));
  std::filesystem::remove(REMOVAL_REPORT);
  run.ctx.folderTableIncomplete = true;
  removeEmptyFolders(run.ctx);
  EXPECT_EQ(report(), HEAD + "\n\n" + summary(1, 0, 0, 0) + "Fine rapporto\n");
  EXPECT_TRUE(tree.exists("Vuota"));
}

}  // namespace
}  // namespace doppioni::testing
