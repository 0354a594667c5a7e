// The duplicates report: the one report written before the question.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>

#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// At a drive root: folders relative to it, the root itself whole; the time of
// the run; whole 64-bit sizes; a line feed or carriage return in a name or
// folder never starts a line of its own.
TEST(DuplicatesReport, LineForLine) {
  TempTree tree;
  ChangeDir into(tree.root());
  TestRun run;
  run.ctx.workDir = "C:\\";
  addRecord(run.ctx, "C:\\", "a.bin", std::uint64_t{1} << 31);
  addRecord(run.ctx, "C:\\\\Foto", "b.bin", 3000000000u);  // root and name joined by a separator
  addRecord(run.ctx, "C:\\\\Foto\\2004", "c.bin", (std::uint64_t{1} << 32) + 5);
  addRecord(run.ctx, "C:\\\\x\nC 1 y\r", "z\nC 0 a.bin 1 in ... w\r", 1);
  EXPECT_FALSE(writeDuplicatesReport(run.ctx).has_value());
  std::ifstream in(DUPLICATES_REPORT);  // text mode, as an editor reads CR LF on Windows
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "RAPPORTO DOPPIONI\n\nCompilato il 07/03/2005 alle 09:05:41\n\n"
            "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n3 - inutile\n\n"
            "  0 a.bin 2147483648 in ... C:\\\n  0 b.bin 3000000000 in ... Foto\n"
            "  0 c.bin 4294967301 in ... Foto\\2004\n"
            "  0 z?C 0 a.bin 1 in ... w? 1 in ... x?C 1 y?\nfine del rapporto\n");
  EXPECT_EQ(run.output, "");
}

}  // namespace
}  // namespace doppioni::testing
