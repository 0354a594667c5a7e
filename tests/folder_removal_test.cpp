#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "folders/folders.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

TEST(FolderRemoval, NothingIsTriedWithoutTheReportOrWithAnIncompleteTable) {
  TempTree tree;
  ChangeDir here(tree.root());
  TestRun run;
  tree.folder("Vuota");
  // The folder stage up to the removal.
  ASSERT_FALSE(listFolders(run.ctx, tree.root()).has_value());
  sortFoldersByDepth(run.ctx);
  tree.folder(REMOVAL_REPORT);  // in the way of the report
  EXPECT_EQ(removeEmptyFolders(run.ctx), -1);
  EXPECT_TRUE(run.output.starts_with("Impossibile creare il file Rapporto_rimozione_cartelle.txt"));
  std::filesystem::remove(REMOVAL_REPORT);
  run.ctx.folderTableIncomplete = true;
  EXPECT_EQ(removeEmptyFolders(run.ctx), 0);
  std::ifstream in(REMOVAL_REPORT);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "Rapporto rimozione cartelle\n\nCompilato il 07/03/2005 alle 09:05:41\n\n\n\n"
            "Totale cartelle 1\nCartelle senza files 0\nCartelle rimosse 0\n"
            "Accesso negato a 0 cartelle\n\nFine rapporto\n");
  EXPECT_TRUE(tree.exists("Vuota"));
}

}  // namespace
}  // namespace doppioni::testing
