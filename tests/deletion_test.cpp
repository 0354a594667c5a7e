#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

const std::string BLANKS_31(31, ' ');
const std::string HEADER =
    "Elenco dei files cancellati\n\n"
    "Compilato il 07/03/2005 alle 09:05:41\n\n"
    "C - cancellato, R - accesso negato\n\n\n";

std::string readText(const std::string& path) {
  std::ifstream in(path);  // text mode: CR LF reads back as "\n" on Windows
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Adds the record the scan would have made for the file at rel (folder rel
// path, then its name), with the size and write time it has on disk now.
FileEntry& addScanned(RunContext& ctx, const TempTree& tree, std::string_view folder,
                      std::string_view name) {
  std::string dir = tree.path(folder);
  EntryInfo info;
  EXPECT_EQ(statEntry(dir + PATH_SEPARATOR + std::string(name), info), 0) << name;
  std::uint64_t size = (std::uint64_t{info.sizeHigh} << 32) | info.sizeLow;
  return addRecord(ctx, dir, name, size, info.writeTime);
}

// A copy marked for deletion, with the record kept for it.
FileEntry& markCopy(RunContext& ctx, std::int32_t index, std::int32_t kept) {
  FileEntry& copy = ctx.entries[index];
  copy.deleteMark = 1;
  copy.keptCopy = kept;
  return copy;
}

class DeletionTest : public ::testing::Test {
 protected:
  TempTree tree;
  ChangeDir here{tree.root()};
  TestRun run;
  RunContext& ctx = run.ctx;

  std::string list() { return readText(tree.path(DELETED_LIST)); }
  std::string line(char outcome, std::string_view name, std::string_view folder) {
    return std::string(1, outcome) + " " + std::string(name) + " in " + tree.path(folder) + "\n";
  }
};

TEST_F(DeletionTest, ListsEachAttemptAsDeletedOrRefused) {
  tree.file("Foto/2004/mare.jpg", "onde");
  tree.file("Foto/2005/mare.jpg", "onde");
  tree.file("Documenti/~$lettera.doc", "blocco");
  tree.file("Documenti/lettera.doc", "testo");
  addScanned(ctx, tree, "Foto/2004", "mare.jpg");
  addScanned(ctx, tree, "Foto/2005", "mare.jpg");
  addScanned(ctx, tree, "Documenti", "~$lettera.doc");
  addScanned(ctx, tree, "Documenti", "lettera.doc");
  markCopy(ctx, 1, 0);
  ctx.entries[2].deleteMark = 1;
  ctx.entries[2].kind = KIND_JUNK;
  // Another program holds it: refused the way a read-only file is.
  fs::permissions(tree.path("Documenti/~$lettera.doc"), fs::perms::owner_write,
                  fs::perm_options::remove);
  ctx.clock = [] {
    std::tm time = fixedTime();
    time.tm_min = 6;
    time.tm_sec = 2;
    return time;
  };

  EXPECT_EQ(deleteMarkedFiles(ctx), 0);

  EXPECT_EQ(list(),
            "Elenco dei files cancellati\n\n"
            "Compilato il 07/03/2005 alle 09:06:02\n\n"
            "C - cancellato, R - accesso negato\n\n\n" +
                line('C', "mare.jpg", "Foto/2005") + line('R', "~$lettera.doc", "Documenti"));
  EXPECT_EQ(run.output, "mare.jpg" + BLANKS_31 + "\n" + tree.path("Foto/2005") + BLANKS_31 +
                            "\n~$lettera.doc" + BLANKS_31 + "\n" + tree.path("Documenti") +
                            BLANKS_31 + "\n");
  EXPECT_TRUE(tree.exists("Foto/2004/mare.jpg"));
  EXPECT_FALSE(tree.exists("Foto/2005/mare.jpg"));
  EXPECT_TRUE(tree.exists("Documenti/~$lettera.doc"));
  EXPECT_TRUE(tree.exists("Documenti/lettera.doc"));
  EXPECT_EQ(ctx.entries[1].deleteMark, 1);  // the table keeps its marks
}

TEST_F(DeletionTest, NothingMarkedGivesTheHeadingAloneAndReplacesAnOldList) {
  tree.file(DELETED_LIST, "un elenco vecchio, molto piu' lungo di quello nuovo\n");
  tree.file("a.txt", "a");
  addScanned(ctx, tree, "", "a.txt");
  EXPECT_EQ(deleteMarkedFiles(ctx), 0);
  EXPECT_EQ(list(), HEADER);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(tree.exists("a.txt"));
}

TEST_F(DeletionTest, JunkInTheWorkingDirectoryIsListedWithItsFullPath) {
  tree.file("Thumbs.db", "x");
  FileEntry& junk = addScanned(ctx, tree, "", "Thumbs.db");
  junk.deleteMark = 1;
  junk.kind = KIND_JUNK;
  deleteMarkedFiles(ctx);
  EXPECT_EQ(list(), HEADER + "C Thumbs.db in " + tree.root() + "\n");
  EXPECT_FALSE(tree.exists("Thumbs.db"));
}

TEST_F(DeletionTest, FileChangedOrGoneWhileTheQuestionWaitedIsKept) {
  for (const char* folder : {"A", "B", "C", "D"}) tree.file(std::string(folder) + "/f.txt", "1234");
  tree.setWriteTime("A/f.txt", 1100000000);
  tree.setWriteTime("B/f.txt", 1100000000);
  tree.setWriteTime("C/f.txt", 1100000000);
  tree.setWriteTime("D/f.txt", 1100000000);
  for (const char* folder : {"A", "B", "C", "D"}) addScanned(ctx, tree, folder, "f.txt");
  for (std::int32_t i = 1; i < 4; ++i) markCopy(ctx, i, 0);
  tree.file("B/f.txt", "12345678");  // rewritten: another size
  tree.setWriteTime("C/f.txt", 1200000000);
  fs::remove(tree.path("D/f.txt"));

  deleteMarkedFiles(ctx);
  EXPECT_EQ(list(),
            HEADER + line('R', "f.txt", "B") + line('R', "f.txt", "C") + line('R', "f.txt", "D"));
  EXPECT_TRUE(tree.exists("B/f.txt"));
  EXPECT_TRUE(tree.exists("C/f.txt"));
}

TEST_F(DeletionTest, CopyStaysWhenItsKeptCopyIsGoneOrChanged) {
  tree.file("A/gone.txt", "g");
  tree.file("B/gone.txt", "g");
  tree.file("A/grown.txt", "g");
  tree.file("B/grown.txt", "g");
  tree.file("A/touched.txt", "t");
  tree.file("B/touched.txt", "t");
  addScanned(ctx, tree, "A", "gone.txt");
  addScanned(ctx, tree, "B", "gone.txt");
  addScanned(ctx, tree, "A", "grown.txt");
  addScanned(ctx, tree, "B", "grown.txt");
  addScanned(ctx, tree, "A", "touched.txt");
  addScanned(ctx, tree, "B", "touched.txt");
  markCopy(ctx, 1, 0);
  markCopy(ctx, 3, 2);
  markCopy(ctx, 5, 4);
  fs::remove(tree.path("A/gone.txt"));
  tree.file("A/grown.txt", "gg");
  tree.setWriteTime("A/touched.txt", 1000000000);

  deleteMarkedFiles(ctx);
  EXPECT_EQ(list(), HEADER + line('R', "gone.txt", "B") + line('R', "grown.txt", "B") +
                        line('R', "touched.txt", "B"));
  EXPECT_TRUE(tree.exists("B/gone.txt"));
  EXPECT_TRUE(tree.exists("B/grown.txt"));
  EXPECT_TRUE(tree.exists("B/touched.txt"));
}

TEST_F(DeletionTest, CopyWithoutAKeptCopyThatStaysIsKept) {
  tree.file("A/solo.txt", "s");
  tree.file("P/pagina.htm", "<html>");
  tree.file("B/x.txt", "x");
  tree.file("C/x.txt", "x");
  FileEntry& solo = addScanned(ctx, tree, "A", "solo.txt");
  solo.deleteMark = 1;  // marked, but no copy was kept for it
  addScanned(ctx, tree, "P", "pagina.htm");
  addScanned(ctx, tree, "B", "x.txt");
  addScanned(ctx, tree, "C", "x.txt");
  // C's file goes with its page, P's kept in its place: B's copy of it must
  // not count on C's staying.
  markCopy(ctx, 2, 3);
  markCopy(ctx, 3, 1);
  deleteMarkedFiles(ctx);
  EXPECT_EQ(list(), HEADER + line('R', "solo.txt", "A") + line('R', "x.txt", "B") +
                        line('C', "x.txt", "C"));
  EXPECT_TRUE(tree.exists("A/solo.txt"));
  EXPECT_TRUE(tree.exists("B/x.txt"));
}

TEST_F(DeletionTest, ListThatCannotBeCreatedDeletesNothing) {
  tree.folder(DELETED_LIST);  // a folder in the way of the list
  tree.file("Recycled/vecchio.txt", "v");
  FileEntry& junk = addScanned(ctx, tree, "Recycled", "vecchio.txt");
  junk.deleteMark = 1;
  junk.kind = KIND_JUNK;
  EXPECT_EQ(deleteMarkedFiles(ctx), -1);
  EXPECT_TRUE(tree.exists("Recycled/vecchio.txt"));
  EXPECT_NE(run.output.find("Impossibile creare il file Elenco_files_cancellati.txt"),
            std::string::npos);
}

#ifndef _WIN32
TEST_F(DeletionTest, KeptCopyThatIsTheSameFileOrALinkKeepsTheCopy) {
  tree.file("A/hard.txt", "h");
  tree.folder("B");
  fs::create_hard_link(tree.path("A/hard.txt"), tree.path("B/hard.txt"));
  tree.file("A/soft.txt", "s");
  tree.file("B/soft.txt", "s");
  tree.file("C/soft.txt", "s");
  addScanned(ctx, tree, "A", "hard.txt");
  addScanned(ctx, tree, "B", "hard.txt");
  addScanned(ctx, tree, "A", "soft.txt");
  addScanned(ctx, tree, "B", "soft.txt");
  markCopy(ctx, 1, 0);
  markCopy(ctx, 3, 2);
  // The kept copy is replaced by a link to the copy itself.
  fs::remove(tree.path("A/soft.txt"));
  fs::create_symlink(tree.path("B/soft.txt"), tree.path("A/soft.txt"));

  deleteMarkedFiles(ctx);
  EXPECT_EQ(list(), HEADER + line('R', "hard.txt", "B") + line('R', "soft.txt", "B"));
  EXPECT_EQ(readText(tree.path("B/hard.txt")), "h");
  EXPECT_EQ(readText(tree.path("B/soft.txt")), "s");
}

TEST_F(DeletionTest, PathLongerThanTheOldLimitIsDeletedWhole) {
  std::string folder = std::string(120, 'a') + "/" + std::string(120, 'b');
  std::string name = std::string(100, 'c') + ".txt";
  tree.file(folder + "/" + name, "l");
  FileEntry& junk = addScanned(ctx, tree, folder, name);
  junk.deleteMark = 1;
  junk.kind = KIND_JUNK;
  deleteMarkedFiles(ctx);
  EXPECT_FALSE(tree.exists(folder + "/" + name));
  EXPECT_EQ(list(), HEADER + line('C', name, folder));
}

TEST_F(DeletionTest, WriteErrorOnTheListIsTold) {
  fs::create_symlink("/dev/full", tree.path(DELETED_LIST));
  EXPECT_EQ(deleteMarkedFiles(ctx), 0);
  EXPECT_NE(run.output.find("Errore di scrittura nel file Elenco_files_cancellati.txt"),
            std::string::npos);
}
#endif

}  // namespace
}  // namespace doppioni::testing
