// The deletion deletes exactly the file it checked, and only with its list.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>
#include <vector>

#include "classify/classify.h"
#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

constexpr bool POSIX = PATH_SEPARATOR == '/';

std::string readText(const std::string& path) {
  std::ifstream in(path);  // text mode: CR LF reads back as "\n" on Windows
  return {std::istreambuf_iterator<char>(in), {}};
}

class DeletionTest : public ::testing::Test {
 protected:
  TempTree tree;
  ChangeDir here{tree.root()};
  TestRun run;

  // The record of a new file as the scan saw it, a copy of record `kept` (or unmarked).
  FileRecord& make(const std::string& folder, const std::string& name,
                   std::int32_t kept = NO_COPY) {
    tree.file(folder + "/" + name, "x");
    EntryInfo info;
    EXPECT_EQ(errorOf(statEntry(tree.path(folder + "/" + name), info)), 0) << name;
    FileRecord& e = addRecord(run.ctx, tree.path(folder), name, info.size, info.writeTime);
    e.fileId = info.id.digest();
    e.marked = kept != NO_COPY;
    e.keptCopy = kept;
    return e;
  }
};

TEST_F(DeletionTest, OnlyWithItsListAndOnlyTheFileChecked) {
  // Between check and deletion a program saves a new version (written aside, renamed over the
  // name; Windows refuses that while the file being deleted holds the name): it survives.
  make("A", "salvato");
  make("B", "salvato", 0);
  // This one had changed before: refused, and with its name taken meanwhile it stays
  // beside the new version under a name of its own, which the console gives.
  make("A", "preso");
  make("B", "preso", run.ctx.files.size() - 1);
  std::ofstream(tree.path("B/preso"), std::ios::app) << "x";
  make("A", "senza", 0).name = run.ctx.names.add("a\nC b in c\r").value();  // no such file
  BeforeAct saveOver = [](const std::string& path) {
    std::ofstream(path + ".nuovo") << "nuova versione";
    std::error_code held;
    fs::rename(path + ".nuovo", path, held);
  };
  tree.folder(DELETED_LIST);  // first a folder in the way of the list: nothing is tried
  EXPECT_EQ(deleteMarkedFiles(run.ctx, {}, saveOver), -1);
  EXPECT_TRUE(run.output.starts_with("Impossibile creare il file Elenco_files_cancellati.txt"));
  EXPECT_EQ(readText(tree.path("B/salvato")), "x");
  fs::remove(DELETED_LIST);
  EXPECT_EQ(deleteMarkedFiles(run.ctx, {}, saveOver), 0);
  for (std::string name : {"B/salvato", "B/preso"})
    EXPECT_EQ(readText(tree.path(name + (POSIX ? "" : ".nuovo"))), "nuova versione") << name;
  // A line feed or carriage return in a name never makes a list line of its own.
  EXPECT_TRUE(readText(DELETED_LIST)
                  .ends_with("R preso in " + tree.path("B") + "\nR a?C b in c? in " +
                             tree.path("A") + "\n"));
  std::string aside = POSIX ? run.output.substr(run.output.find("ora si chiama ") + 14) : "";
  EXPECT_EQ(readText(aside.substr(0, aside.find(": un altro"))), POSIX ? "xx" : "");
}

#ifndef _WIN32  // an interrupt there ends the process at once
// Each line is on disk before the next deletion starts; after an interrupt none starts, and the
// list says so. (The interrupt then ends the run: here it meets a handler that lets it go on.)
TEST_F(DeletionTest, EachLineIsOnDiskBeforeTheNextDeletionAndNoneStartsAfterAnInterrupt) {
  make("A", "tenuto");
  for (char folder : std::string("BCDEFG")) make(std::string(1, folder), "tenuto", 0);
  run.ctx.workerThreads = 1;
  int attempts = 0;
  BeforeAct countLines = [&](const std::string&) {
    std::string list = readText(DELETED_LIST);
    int lines = 0;
    for (std::size_t at = 0; (at = list.find("tenuto in", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, attempts);
    if (++attempts == 3) std::raise(SIGTERM);
  };
  auto before = std::signal(SIGTERM, [](int) {});
  EXPECT_EQ(deleteMarkedFiles(run.ctx, {}, countLines), -1);
  std::signal(SIGTERM, before);
  EXPECT_EQ(attempts, 3);
  EXPECT_TRUE(readText(DELETED_LIST)
                  .ends_with("C tenuto in " + tree.path("D") +
                             "\nProgramma interrotto: nessun altro file e' stato cancellato\n"));
}
#endif

TEST_F(DeletionTest, ACopyGoesOnlyWithTheKeptCopysBytes) {
  makeCopyCases(tree);
  ASSERT_FALSE(scanFolder(run.ctx, tree.root(), "."));
  sortFiles(run.ctx);
  markWebPages(run.ctx);
  markDuplicates(run.ctx);
  changeCopyCases(tree);  // as while the question waits
  EXPECT_EQ(deleteMarkedFiles(run.ctx), 0);
  expectCopyCases(tree);
}

TEST(DeletionOrder, CopiesAgainstTheirKeptCopyJunkAsItIsCompanionFilesAfterTheirPage) {
  // kind, page number, kept copy, marked
  const std::vector<std::tuple<Kind, int, int, bool>> records = {
      {Kind::PAGE, 1, NO_COPY, false},
      {Kind::PAGE_PART, 2, 5, true},
      {Kind::PAGE, 2, 0, true},
      {Kind::JUNK, 0, NO_COPY, true},
      {Kind::NORMAL, 0, 2, true},
      {Kind::NORMAL, 0, 5, true},
      {Kind::PAGE_PART, 1, NO_COPY, false},
      {Kind::JUNK, 1, NO_COPY, true},
      {Kind::NORMAL, 0, 99, true}};
  std::vector<FileRecord> table;
  for (auto [kind, page, kept, marked] : records) {
    table.push_back(FileRecord{});
    table.back().kind = kind;
    table.back().pageId = page;
    table.back().keptCopy = kept;
    table.back().marked = marked;
  }
  auto shown = [](const std::vector<PlannedDeletion>& files) {
    std::string text;
    for (const PlannedDeletion& f : files) {
      text += std::to_string(f.index) + (f.compared ? " copia di " : " via ") +
              std::to_string(f.kept) + " pagina " + std::to_string(f.page) + "; ";
    }
    return text;
  };
  DeletionOrder order = planDeletions(table);
  // A kept copy that is marked itself, is the copy, or is no record keeps nothing.
  EXPECT_EQ(shown(order.first),
            "2 copia di 0 pagina -1; 3 via -1 pagina -1; 4 copia di -1 pagina -1; "
            "5 copia di -1 pagina -1; 7 via -1 pagina -1; 8 copia di -1 pagina -1; ");
  EXPECT_EQ(shown(order.followers), "1 copia di -1 pagina 2; ");
}

// Writes bytes at offset into the file, which keeps its size.
void writeAt(const std::string& path, std::uint64_t offset, const std::string& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(offset));
  ASSERT_TRUE(file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).good());
}

TEST(Comparison, StopsAtTheFirstDifferenceAndReadsNoHoleBothHave) {
  TempTree tree;
  std::string bytes(8 << 20, 'a');
  tree.file("a", bytes);
  bytes[100] = 'b';
  tree.file("b", bytes);
  // Many GiB of holes where the system tells them (wine may not: kept small there).
  const std::uint64_t size = POSIX ? std::uint64_t{16} << 30 : 64 << 20;
  for (const char* name : {"buchi", "zeri", "fine", "mezzo"}) {
    tree.sparseFile(name, size);
    writeAt(tree.path(name), 0, "inizio");
    writeAt(tree.path(name), size - 4, name == std::string("fine") ? "FINE" : "fine");
  }
  writeAt(tree.path("zeri"), size / 2, std::string(1 << 20, '\0'));  // zeros, not a hole
  writeAt(tree.path("mezzo"), size / 2 + 7, "x");
  auto compare = [&](const char* a, const char* b) {
    OpenFile fileA, fileB;
    EntryInfo info, infoB;
    EXPECT_EQ(errorOf(openToRead(tree.path(a), fileA, info)) +
                  errorOf(openToRead(tree.path(b), fileB, infoB)),
              0);
    return compareContents(fileA, fileB, info.size, info.mayHaveHoles && infoB.mayHaveHoles);
  };
  ContentComparison differ = compare("a", "b");
  EXPECT_FALSE(differ.same);
  EXPECT_LE(differ.bytesRead, 2u << 20);
  ContentComparison holes = compare("buchi", "zeri");
  EXPECT_TRUE(holes.same);
  EXPECT_TRUE(!POSIX || holes.bytesRead < (64u << 20)) << holes.bytesRead;
  EXPECT_FALSE(compare("buchi", "fine").same);
  EXPECT_FALSE(compare("zeri", "mezzo").same);
  EXPECT_TRUE(compare("b", "b").same);
}

}  // namespace
}  // namespace doppioni::testing
