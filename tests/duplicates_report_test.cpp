#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni {
namespace {

namespace fs = std::filesystem;
using testing::addRecord;
using testing::ChangeDir;
using testing::TempTree;
using testing::TestRun;

constexpr const char* HEAD =
    "RAPPORTO DOPPIONI\n\n"
    "Compilato il 07/03/2005 alle 09:05:41\n\n"
    "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n3 - inutile\n\n";

// The report as the user's editor sees it: text mode, so CR LF on Windows.
std::string readReport() {
  std::ifstream in(DUPLICATES_REPORT);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DuplicatesReport, WorkedExampleLineForLine) {
  TempTree tree;
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = "C:\\Dati";
  FileEntry& page = addRecord(run.ctx, "C:\\Dati", "indice.htm", 5120);
  page.kind = KIND_PAGE;
  page.pageId = 1;
  addRecord(run.ctx, "C:\\Dati\\Foto\\2004", "mare.jpg", 48213);
  FileEntry& junk = addRecord(run.ctx, "C:\\Dati\\Documenti", "~$lettera.doc", 162);
  junk.kind = KIND_JUNK;
  junk.deleteMark = 1;

  EXPECT_EQ(writeDuplicatesReport(run.ctx), 0);
  EXPECT_EQ(readReport(), std::string(HEAD) +
                              "  1 indice.htm 5120 in ... C:\\Dati\n"
                              "  0 mare.jpg 48213 in ... Foto\\2004\n"
                              "C 3 ~$lettera.doc 162 in ... Documenti\n"
                              "fine del rapporto\n");
  EXPECT_TRUE(run.output.empty()) << "the report prints nothing on the console";
}

TEST(DuplicatesReport, EmptyTableReplacesAnEarlierReport) {
  TempTree tree;
  tree.file(DUPLICATES_REPORT, "a much longer report left by an earlier run\n");
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = tree.root();
  EXPECT_EQ(writeDuplicatesReport(run.ctx), 0);
  EXPECT_EQ(readReport(), std::string(HEAD) + "fine del rapporto\n");
}

TEST(DuplicatesReport, DriveRootWorkingDirectoryShowsFirstLevelFoldersByName) {
  TempTree tree;
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = "C:\\";
  addRecord(run.ctx, "C:\\", "boot.ini", 1);
  addRecord(run.ctx, "C:\\\\Foto", "a.jpg", 2);  // root and name joined by a further separator
  addRecord(run.ctx, "C:\\\\Foto\\2004", "b.jpg", 3);
  EXPECT_EQ(writeDuplicatesReport(run.ctx), 0);
  EXPECT_EQ(readReport(), std::string(HEAD) +
                              "  0 boot.ini 1 in ... C:\\\n"
                              "  0 a.jpg 2 in ... Foto\n"
                              "  0 b.jpg 3 in ... Foto\\2004\n"
                              "fine del rapporto\n");
}

TEST(DuplicatesReport, SizeColumnShowsTheLowWordAsASignedNumber) {
  TempTree tree;
  tree.sparseFile("a.bin", std::uint64_t{1} << 31);
  tree.sparseFile("b.bin", 3000000000u);
  tree.sparseFile("c.bin", std::uint64_t{1} << 32);
  tree.sparseFile("d.bin", (std::uint64_t{1} << 32) + 5);
  tree.file("sub/deeper/e.txt", "12345");
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = tree.root();
  ASSERT_EQ(scanFolder(run.ctx, tree.root()), 1);
  sortFiles(run.ctx);
  EXPECT_EQ(writeDuplicatesReport(run.ctx), 0);

  std::string sub = std::string("sub") + PATH_SEPARATOR + "deeper";
  EXPECT_EQ(readReport(), std::string(HEAD) + "  0 a.bin -2147483648 in ... " + tree.root() + "\n" +
                              "  0 b.bin -1294967296 in ... " + tree.root() + "\n" +
                              "  0 c.bin 0 in ... " + tree.root() + "\n" + "  0 d.bin 5 in ... " +
                              tree.root() + "\n" + "  0 e.txt 5 in ... " + sub + "\n" +
                              "fine del rapporto\n");
}

TEST(DuplicatesReport, ReportThatCannotBeCreatedStopsTheRun) {
  TempTree tree;
  tree.folder(DUPLICATES_REPORT);  // a folder in the way
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = tree.root();
  addRecord(run.ctx, tree.root(), "a.txt");
  EXPECT_EQ(writeDuplicatesReport(run.ctx), -1);
  EXPECT_EQ(run.output,
            "Impossibile scrivere Rapporto_doppioni.txt: il programma termina senza cancellare "
            "nulla\n");
}

#ifndef _WIN32
TEST(DuplicatesReport, ReportThatCannotBeWrittenWholeStopsTheRun) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempTree tree;
  fs::create_symlink("/dev/full", tree.path(DUPLICATES_REPORT));  // every write: disk full
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = tree.root();
  addRecord(run.ctx, tree.root(), "a.txt");
  EXPECT_EQ(writeDuplicatesReport(run.ctx), -1);
  EXPECT_EQ(run.output,
            "Impossibile scrivere Rapporto_doppioni.txt: il programma termina senza cancellare "
            "nulla\n");
}
#endif

}  // namespace
}  // namespace doppioni
