#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "classify/classify.h"
#include "platform/platform.h"
#include "test_tree.h"

namespace doppioni {
namespace {

using testing::addRecord;
using testing::TestRun;

constexpr std::uint64_t TIME = 127000000000000000ull;

std::string p(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '/') c = PATH_SEPARATOR;
  }
  return result;
}

int indexOf(const RunContext& ctx, std::string_view dir, std::string_view name) {
  for (int i = 0; i < ctx.count; ++i) {
    const FileEntry& e = ctx.entries[i];
    if (dirOf(ctx, e) == p(dir) && std::string_view(nameOf(ctx, e)) == name) return i;
  }
  ADD_FAILURE() << "no record " << dir << " " << name;
  return 0;
}

const FileEntry& at(const RunContext& ctx, std::string_view dir, std::string_view name) {
  return ctx.entries[indexOf(ctx, dir, name)];
}

std::string closingLine(std::string_view output) {
  std::size_t start = output.rfind('\n', output.size() - 2);
  return std::string(output.substr(start == std::string_view::npos ? 0 : start + 1));
}

int markedCount(const RunContext& ctx) {
  int marked = 0;
  for (int i = 0; i < ctx.count; ++i) marked += ctx.entries[i].deleteMark;
  return marked;
}

TEST(Duplicates, EmptyTablePrintsOnlyTheClosingLine) {
  TestRun run;
  EXPECT_EQ(markDuplicates(run.ctx), 0);
  EXPECT_EQ(run.output, "Trovati 0 doppioni\n");
}

TEST(Duplicates, EveryCopyAfterTheFirstIsMarkedAndKeepsTheFirst) {
  TestRun run;
  addRecord(run.ctx, "A", "x.txt", 10, TIME);
  addRecord(run.ctx, "B", "x.txt", 10, TIME);
  addRecord(run.ctx, "C", "x.txt", 10, TIME);
  addRecord(run.ctx, "A", "y.txt", 10, TIME);
  addRecord(run.ctx, "B", "y.txt", 10, TIME);
  addRecord(run.ctx, "C", "z.txt", 10, TIME);
  sortFiles(run.ctx);
  EXPECT_EQ(markDuplicates(run.ctx), 0);

  const RunContext& ctx = run.ctx;
  EXPECT_EQ(at(ctx, "A", "x.txt").deleteMark, 0);
  EXPECT_EQ(at(ctx, "A", "x.txt").keptCopy, NO_COPY);
  EXPECT_EQ(at(ctx, "B", "x.txt").deleteMark, 1);
  EXPECT_EQ(at(ctx, "B", "x.txt").keptCopy, indexOf(ctx, "A", "x.txt"));
  EXPECT_EQ(at(ctx, "C", "x.txt").deleteMark, 1);
  EXPECT_EQ(at(ctx, "C", "x.txt").keptCopy, indexOf(ctx, "A", "x.txt"));
  EXPECT_EQ(at(ctx, "A", "y.txt").deleteMark, 0);
  EXPECT_EQ(at(ctx, "B", "y.txt").deleteMark, 1);
  EXPECT_EQ(at(ctx, "B", "y.txt").keptCopy, indexOf(ctx, "A", "y.txt"));
  EXPECT_EQ(at(ctx, "C", "z.txt").deleteMark, 0);
  // The records of a run get no progress line of their own.
  EXPECT_EQ(run.output,
            "Esamino il 0 esimo file\nEsamino il 3 esimo file\nEsamino il 5 esimo file\n"
            "Trovati 3 doppioni\n");
}

TEST(Duplicates, NameSizeAndTimeMustAllBeEqual) {
  TestRun run;
  addRecord(run.ctx, "A", "t.txt", 10, TIME);
  addRecord(run.ctx, "B", "t.txt", 10, TIME + 1);  // one unit later
  addRecord(run.ctx, "A", "s.txt", 10, TIME);
  addRecord(run.ctx, "B", "s.txt", (std::uint64_t{1} << 32) + 10, TIME);  // sizeHigh only
  addRecord(run.ctx, "A", "Foto.jpg", 10, TIME);
  addRecord(run.ctx, "B", "foto.jpg", 10, TIME);  // case counts
  addRecord(run.ctx, "A", "w.txt", 10, TIME);
  addRecord(run.ctx, "B", "w.txt", 10, TIME + (std::uint64_t{1} << 32));  // high word only
  sortFiles(run.ctx);
  markDuplicates(run.ctx);
  EXPECT_EQ(markedCount(run.ctx), 0);
  EXPECT_EQ(closingLine(run.output), "Trovati 0 doppioni\n");
}

TEST(Duplicates, OnlyNeighboursAreCompared) {
  TestRun run;
  addRecord(run.ctx, "A", "x.txt", 10, TIME);
  addRecord(run.ctx, "B", "x.txt", 99, TIME);  // a different x.txt between the copies
  addRecord(run.ctx, "C", "x.txt", 10, TIME);
  sortFiles(run.ctx);
  markDuplicates(run.ctx);
  EXPECT_EQ(markedCount(run.ctx), 0);
}

TEST(Duplicates, CompanionAndJunkRecordsAreNeverCandidates) {
  TestRun run;
  addRecord(run.ctx, "A", "x.gif", 10, TIME).kind = KIND_PAGE_PART;
  addRecord(run.ctx, "B", "x.gif", 10, TIME);
  addRecord(run.ctx, "C", "x.gif", 10, TIME);
  FileEntry& binned = addRecord(run.ctx, p("C/Recycled"), "x.gif", 10, TIME);
  binned.kind = KIND_JUNK;
  binned.deleteMark = 1;
  FileEntry& alone = addRecord(run.ctx, p("A/Recycled"), "y.gif", 10, TIME);
  alone.kind = KIND_JUNK;
  alone.deleteMark = 1;
  addRecord(run.ctx, "B", "y.gif", 10, TIME);
  sortFiles(run.ctx);
  markDuplicates(run.ctx);

  const RunContext& ctx = run.ctx;
  EXPECT_EQ(at(ctx, "A", "x.gif").deleteMark, 0);
  EXPECT_EQ(at(ctx, "B", "x.gif").deleteMark, 0);
  EXPECT_EQ(at(ctx, "C", "x.gif").deleteMark, 1);
  EXPECT_EQ(at(ctx, "C", "x.gif").keptCopy, indexOf(ctx, "B", "x.gif"));
  // A recycle-bin record after an identical candidate is counted as its copy.
  EXPECT_EQ(at(ctx, "C/Recycled", "x.gif").keptCopy, indexOf(ctx, "B", "x.gif"));
  // One before it is no candidate: the candidate after it stays.
  EXPECT_EQ(at(ctx, "A/Recycled", "y.gif").keptCopy, NO_COPY);
  EXPECT_EQ(at(ctx, "B", "y.gif").deleteMark, 0);
  EXPECT_EQ(closingLine(run.output), "Trovati 2 doppioni\n");
}

TEST(Duplicates, DuplicatePageTakesItsCompanionFiles) {
  TestRun run;
  addRecord(run.ctx, "A", "P.htm", 100, TIME);
  addRecord(run.ctx, p("A/P_file"), "img.gif", 5, TIME);
  addRecord(run.ctx, "B", "P.htm", 100, TIME);
  addRecord(run.ctx, p("B/P_file"), "img.gif", 6, TIME);  // not even the same picture
  addRecord(run.ctx, p("B/P_file"), "list.xml", 7, TIME);
  sortFiles(run.ctx);
  markWebPages(run.ctx);
  run.output.clear();
  markDuplicates(run.ctx);

  const RunContext& ctx = run.ctx;
  int keptPage = indexOf(ctx, "A", "P.htm");
  EXPECT_EQ(at(ctx, "A", "P.htm").deleteMark, 0);
  EXPECT_EQ(at(ctx, "A/P_file", "img.gif").deleteMark, 0);
  EXPECT_EQ(at(ctx, "B", "P.htm").deleteMark, 1);
  EXPECT_EQ(at(ctx, "B", "P.htm").keptCopy, keptPage);
  EXPECT_EQ(at(ctx, "B/P_file", "img.gif").deleteMark, 1);
  EXPECT_EQ(at(ctx, "B/P_file", "img.gif").keptCopy, keptPage);
  EXPECT_EQ(at(ctx, "B/P_file", "list.xml").deleteMark, 1);
  EXPECT_EQ(at(ctx, "B/P_file", "list.xml").keptCopy, keptPage);
  EXPECT_EQ(closingLine(run.output), "Trovati 1 doppioni\n");
}

TEST(Duplicates, CopyInARunKeepsItsOwnCandidateOverTheKeptPage) {
  // a.gif in B/p_file is a copy of a.gif in A before its page is found to
  // be a duplicate: it keeps the copy it was marked for.
  TestRun run;
  addRecord(run.ctx, "A", "a.gif", 5, TIME);
  addRecord(run.ctx, p("B/p_file"), "a.gif", 5, TIME);
  addRecord(run.ctx, "A", "p.htm", 100, TIME);
  addRecord(run.ctx, "B", "p.htm", 100, TIME);
  // z.gif in C/q_file is marked with its page first, then found in a run.
  addRecord(run.ctx, "B", "q.htm", 100, TIME);
  addRecord(run.ctx, "C", "q.htm", 100, TIME);
  addRecord(run.ctx, "C", "z.gif", 5, TIME);
  addRecord(run.ctx, p("C/q_file"), "z.gif", 5, TIME);
  sortFiles(run.ctx);
  markWebPages(run.ctx);
  run.output.clear();
  markDuplicates(run.ctx);

  const RunContext& ctx = run.ctx;
  EXPECT_EQ(at(ctx, "B/p_file", "a.gif").deleteMark, 1);
  EXPECT_EQ(at(ctx, "B/p_file", "a.gif").keptCopy, indexOf(ctx, "A", "a.gif"));
  EXPECT_EQ(at(ctx, "B", "p.htm").keptCopy, indexOf(ctx, "A", "p.htm"));
  EXPECT_EQ(at(ctx, "C/q_file", "z.gif").deleteMark, 1);
  EXPECT_EQ(at(ctx, "C/q_file", "z.gif").keptCopy, indexOf(ctx, "C", "z.gif"));
  EXPECT_EQ(at(ctx, "C", "z.gif").deleteMark, 0);
  EXPECT_EQ(closingLine(run.output), "Trovati 4 doppioni\n");
}

TEST(Duplicates, PageWithoutANumberTakesNothingWithIt) {
  // A page record is always numbered by the web-page pass; should one come
  // without a number, it must not drag along every record of no page.
  TestRun run;
  addRecord(run.ctx, "A", "P.htm", 100, TIME).kind = KIND_PAGE;
  addRecord(run.ctx, "B", "P.htm", 100, TIME).kind = KIND_PAGE;
  addRecord(run.ctx, "A", "other.txt", 1, TIME);
  sortFiles(run.ctx);
  markDuplicates(run.ctx);
  EXPECT_EQ(at(run.ctx, "B", "P.htm").deleteMark, 1);
  EXPECT_EQ(at(run.ctx, "A", "other.txt").deleteMark, 0);
}

}  // namespace
}  // namespace doppioni
