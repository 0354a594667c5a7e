#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* HEAD =
    "RAPPORTO DOPPIONI\n\n"
    "Compilato il 07/03/2005 alle 09:05:41\n\n"
    "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n3 - inutile\n\n";

std::string readReport() {
  std::ifstream in(DUPLICATES_REPORT);  // text mode, as an editor reads CR LF on Windows
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(DuplicatesReport, WorkedExampleLineForLine) {
  TempTree tree;
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = "C:\\Dati";
  addRecord(run.ctx, "C:\\Dati", "indice.htm", 5120).kind = KIND_PAGE;
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

TEST(DuplicatesReport, DriveRootAndTheSizeAsItsLowWordSigned) {
  TempTree tree;
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = "C:\\";
  addRecord(run.ctx, "C:\\", "a.bin", std::uint64_t{1} << 31);
  addRecord(run.ctx, "C:\\\\Foto", "b.bin", 3000000000u);  // root and name joined by a separator
  addRecord(run.ctx, "C:\\\\Foto\\2004", "c.bin", (std::uint64_t{1} << 32) + 5);
  EXPECT_EQ(writeDuplicatesReport(run.ctx), 0);
  EXPECT_EQ(readReport(), std::string(HEAD) +
                              "  0 a.bin -2147483648 in ... C:\\\n"
                              "  0 b.bin -1294967296 in ... Foto\n"
                              "  0 c.bin 5 in ... Foto\\2004\n"
                              "fine del rapporto\n");
}

TEST(DuplicatesReport, ReportThatCannotBeCreatedStopsTheRun) {
  TempTree tree;
  tree.folder(DUPLICATES_REPORT);  // in the way (a full disk: the safety tests)
  ChangeDir into(tree.root());
  TestRun run;
  EXPECT_EQ(writeDuplicatesReport(run.ctx), -1);
  EXPECT_TRUE(run.output.starts_with("Impossibile scrivere Rapporto_doppioni.txt"));
}

}  // namespace
}  // namespace doppioni::testing
