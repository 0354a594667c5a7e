#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "folders/folders.h"
#include "reports/reports.h"
#include "test_tree.h"

#ifndef _WIN32
#include <sys/mount.h>  // last: it defines BLOCK_SIZE, a name the table uses
#endif

namespace doppioni::testing {
namespace {

std::string readText(const char* path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(FolderRemoval, TheFolderReportAndNothingTriedWithAnIncompleteTable) {
  TempTree tree;
  ChangeDir here(tree.root());
  TestRun run;
  tree.folder("Vuota");
  // The folder stage up to the removal.
  ASSERT_FALSE(listFolders(run.ctx, tree.root()).has_value());
  sortFoldersByDepth(run.ctx);
  EXPECT_FALSE(writeFolderReport(run.ctx).has_value());
  std::string depth = std::to_string(countBackslashes(tree.path("Vuota")));
  EXPECT_EQ(readText(FOLDER_REPORT),
            "Compilato il 07/03/2005 alle 09:05:41\n\nNumero cartelle: 1\n\n"
            "files slashes cartella\n\n   0    " +
                std::string(3 - depth.size(), ' ') + depth + "    " + tree.path("Vuota") +
                "\n\nfine del rapporto\n");
  run.ctx.folderTableIncomplete = true;
  EXPECT_EQ(removeEmptyFolders(run.ctx), 0);
  EXPECT_EQ(readText(REMOVAL_REPORT),
            "Rapporto rimozione cartelle\n\nCompilato il 07/03/2005 alle 09:05:41\n\n\n\n"
            "Totale cartelle 1\nCartelle senza files 0\nCartelle rimosse 0\n"
            "Accesso negato a 0 cartelle\n\nFine rapporto\n");
  EXPECT_TRUE(tree.exists("Vuota"));
}

// A folder moved out of the tree while the folders below it wait: the folders kept open on the
// way down still reach them there, and none of them is removed.
TEST(FolderRemoval, NothingIsRemovedBelowAFolderMovedOutOfTheTree) {
  namespace fs = std::filesystem;
  TempTree tree;
  std::string chain = "t", c70;
  for (int i = 1; i <= 80; ++i) {
    chain += "/c" + std::to_string(i);
    if (i == 70) c70 = chain;
  }
  tree.folder(chain);
  const int wide = PATH_SEPARATOR == '/' ? 2000 : 300;  // the move waits for the first of them
  for (int i = 0; i < wide; ++i) tree.folder(c70 + "/e" + std::to_string(i));
  ChangeDir here(tree.path("t"));
  TestRun run;
  run.ctx.workerThreads = 0;  // one removal at a time: the move comes between two
  ASSERT_FALSE(listFolders(run.ctx, tree.path("t"), ".").has_value());
  sortFoldersByDepth(run.ctx);
  BeforeAct moveOut = [&tree](const std::string& path) {
    if (path.find(PATH_SEPARATOR + std::string("e")) != std::string::npos && tree.exists("t/c1"))
      fs::rename(tree.path("t/c1"), tree.path("fuori"));
  };
  EXPECT_EQ(removeEmptyFolders(run.ctx, moveOut), 0);
  const std::string moved = "fuori" + c70.substr(4);
  FolderContents left;  // none without the check, when everything out there went
  listFolder(tree.path(moved), ListingDetail::TYPES_ONLY, left);
  EXPECT_EQ(left.entries.size(), static_cast<std::size_t>(wide + tree.exists(moved + "/c71")));
  EXPECT_FALSE(tree.exists(moved + "/c71/c72"));
}

#ifndef _WIN32
// Room on disk for the report's start, not for a line of each folder: no folder is removed.
TEST(FolderRemoval, NoRoomForTheWholeReportMeansNothingRemoved) {
  TempTree tree;
  if (::mount("doppioni", tree.root().c_str(), "tmpfs", 0, "size=4k") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  for (int i = 0; i < 100; ++i) tree.folder(std::string(200, 'v') + std::to_string(i));
  TestRun run;
  EXPECT_FALSE(listFolders(run.ctx, tree.root()).has_value());
  {
    ChangeDir here(tree.root());  // where the report goes; left before the disk goes
    EXPECT_EQ(removeEmptyFolders(run.ctx), -1);
  }
  EXPECT_TRUE(run.output.ends_with("cartelle.txt: nessuna cartella e' stata rimossa\n"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.root()), {}), 101);
  ::umount2(tree.root().c_str(), MNT_DETACH);
}
#endif

}  // namespace
}  // namespace doppioni::testing
