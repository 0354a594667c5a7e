#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "folders/folders.h"
#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

const std::string BLANKS_22(22, ' ');
const std::string HEADER =
    "Rapporto rimozione cartelle\n\nCompilato il 07/03/2005 alle 09:05:41\n\n";

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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
  RunContext& ctx = run.ctx;

  // The folder stage as the run sequence drives it, up to the removal.
  void removeFolders() {
    ASSERT_EQ(listFolders(ctx, tree.root()), 1);
    computeFolderDepths(ctx);
    countFolderFiles(ctx);
    sortFoldersByDepth(ctx);
    EXPECT_EQ(removeEmptyFolders(ctx), 1);
  }
  std::string report() { return readText(tree.path(REMOVAL_REPORT)); }
  std::string progress(std::string_view rel) {
    return "Rimuovo " + tree.path(rel) + BLANKS_22 + "\n";
  }
};

TEST_F(FolderRemovalTest, SubtreeWithoutFilesGoesFromTheBottomUp) {
  tree.folder("Foto/2004");
  for (const char* name : {"a", "b", "c", "d"}) tree.file(std::string("Lavoro/") + name);
  removeFolders();
  EXPECT_EQ(report(), HEADER + tree.path("Foto/2004") + "\trimossa\n" + tree.path("Foto") +
                          "\trimossa\n\n\n" + summary(3, 2, 2, 0) + "Fine rapporto\n");
  EXPECT_EQ(run.output, progress("Foto/2004") + progress("Foto") + summary(3, 2, 2, 0));
  EXPECT_FALSE(tree.exists("Foto"));
  EXPECT_TRUE(tree.exists("Lavoro/d"));
  EXPECT_TRUE(fs::is_directory(tree.root()));  // the working directory has no record
}

TEST_F(FolderRemovalTest, FolderHoldingASubfolderWithFilesIsTriedAndRefused) {
  tree.file("Foto/2004/mare.jpg");
  tree.file("Altro/x");
  int notEmpty = removeFolder(tree.path("Altro"));  // the platform's number for it
  ASSERT_NE(notEmpty, 0);
  removeFolders();
  EXPECT_EQ(report(), HEADER + tree.path("Foto") + "\taccesso negato " + std::to_string(notEmpty) +
                          "\n\n\n" + summary(3, 1, 0, 1) + "Fine rapporto\n");
  EXPECT_TRUE(tree.exists("Foto/2004/mare.jpg"));
}

TEST_F(FolderRemovalTest, NoFolderToTryGivesTheSummaryAlone) {
  tree.file("Piena/x");
  removeFolders();
  EXPECT_EQ(report(), HEADER + "\n\n" + summary(1, 0, 0, 0) + "Fine rapporto\n");
  EXPECT_EQ(run.output, summary(1, 0, 0, 0));
}

TEST_F(FolderRemovalTest, UnreadableFolderIsCountedButNeverTried) {
  tree.folder("Privata");
  FileEntry& record = addRecord(ctx, tree.path("Privata"), "");
  record.fileCount = -4;
  EXPECT_EQ(removeEmptyFolders(ctx), 1);
  EXPECT_EQ(run.output, summary(1, 0, 0, 0));
  EXPECT_TRUE(tree.exists("Privata"));
}

TEST_F(FolderRemovalTest, FolderThatFilledUpSinceTheScanStays) {
  tree.folder("Vuota/Sotto");
  ASSERT_EQ(listFolders(ctx, tree.root()), 1);
  computeFolderDepths(ctx);
  sortFoldersByDepth(ctx);
  tree.file("Vuota/Sotto/nuovo.txt", "arrivato dopo");
  removeEmptyFolders(ctx);
  EXPECT_TRUE(tree.exists("Vuota/Sotto/nuovo.txt"));
  EXPECT_NE(report().find(summary(2, 2, 0, 2)), std::string::npos);
}

TEST_F(FolderRemovalTest, IncompleteFolderTableTriesNothing) {
  tree.folder("Vuota");
  ASSERT_EQ(listFolders(ctx, tree.root()), 1);
  ctx.folderTableIncomplete = true;
  removeEmptyFolders(ctx);
  EXPECT_TRUE(tree.exists("Vuota"));
  EXPECT_EQ(report(), HEADER + "\n\n" + summary(1, 0, 0, 0) + "Fine rapporto\n");
}

TEST_F(FolderRemovalTest, ReportThatCannotBeCreatedRemovesNothing) {
  tree.folder(REMOVAL_REPORT);
  tree.folder("Vuota");
  removeFolders();
  EXPECT_TRUE(tree.exists("Vuota"));
  EXPECT_NE(run.output.find("Impossibile creare il file Rapporto_rimozione_cartelle.txt"),
            std::string::npos);
}

#ifndef _WIN32
TEST_F(FolderRemovalTest, ReadOnlyEmptyFolderIsRemoved) {
  tree.folder("SolaLettura");
  fs::permissions(tree.path("SolaLettura"), fs::perms::owner_read | fs::perms::owner_exec);
  removeFolders();
  EXPECT_FALSE(tree.exists("SolaLettura"));
  EXPECT_EQ(report(), HEADER + tree.path("SolaLettura") + "\trimossa\n\n\n" + summary(1, 1, 1, 0) +
                          "Fine rapporto\n");
}
#endif

}  // namespace
}  // namespace doppioni::testing
