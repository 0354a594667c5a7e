#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t JUNK = -2;

class DeletionTest : public ::testing::Test {
 protected:
  TempTree tree;
  ChangeDir here{tree.root()};
  TestRun run;

  // Creates the file and its record: unmarked, a copy of the record at index kept, or JUNK.
  FileEntry& make(const std::string& folder, const std::string& name, std::int32_t kept = NO_COPY) {
    tree.file(folder + "/" + name, "x");
    tree.setWriteTime(folder + "/" + name, 1100000000);
    EntryInfo info;
    EXPECT_EQ(statEntry(tree.path(folder + "/" + name), info), 0) << name;
    FileEntry& e = addRecord(run.ctx, tree.path(folder), name, info.sizeLow, info.writeTime);
    e.deleteMark = kept == NO_COPY ? 0 : 1;
    e.kind = kept == JUNK ? KIND_JUNK : KIND_NORMAL;
    e.keptCopy = kept == JUNK ? NO_COPY : kept;
    return e;
  }
  std::string line(char outcome, const std::string& folder, const std::string& name) {
    return outcome + (" " + name + " in ") + tree.path(folder) + "\n";
  }
  std::string written() {
    std::ifstream in(DELETED_LIST);  // text mode: CR LF reads back as "\n" on Windows
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string list(std::string time = "09:05:41") {
    return "Elenco dei files cancellati\n\nCompilato il 07/03/2005 alle " + time +
           "\n\nC - cancellato, R - accesso negato\n\n\n";
  }
};

TEST_F(DeletionTest, WorkedExampleLineForLine) {
  make("Foto/2004", "mare.jpg");
  make("Foto/2005", "mare.jpg", 0);
  make("Documenti", "~$lettera.doc", JUNK);
  fs::permissions(tree.path("Documenti/~$lettera.doc"), fs::perms::owner_write,
                  fs::perm_options::remove);  // refused as if another program held it
  std::tm later = fixedTime();
  later.tm_min = 6;
  later.tm_sec = 2;
  run.ctx.clock = [later] { return later; };
  EXPECT_EQ(deleteMarkedFiles(run.ctx), 0);
  EXPECT_EQ(written(), list("09:06:02") + line('C', "Foto/2005", "mare.jpg") +
                           line('R', "Documenti", "~$lettera.doc"));
  const std::string b(31, ' ');
  EXPECT_EQ(run.output, "mare.jpg" + b + "\n" + tree.path("Foto/2005") + b + "\n~$lettera.doc" + b +
                            "\n" + tree.path("Documenti") + b + "\n");
  EXPECT_TRUE(!tree.exists("Foto/2005/mare.jpg") && tree.exists("Documenti/~$lettera.doc"));
}

TEST_F(DeletionTest, CopyStaysUnlessItAndItsKeptCopyAreUnchangedAndApart) {
  // A/x is kept, B/x its copy; x tells what happens to which of them while the question waits.
  std::vector<std::string> cases = {"B-grows", "B-dated", "B-goes", "A-goes", "A-grows", "A-dated"};
  if (PATH_SEPARATOR == '/') cases.insert(cases.end(), {"A-links-to-B", "B-hard-links-to-A"});
  std::string expected = list();
  for (const std::string& x : cases) {
    make("A", x);
    make("B", x, run.ctx.count - 1);
    expected += line('R', "B", x);
    std::string changed = x.substr(0, 1) + "/" + x;
    if (x.ends_with("grows")) std::ofstream(tree.path(changed), std::ios::app) << "x";
    if (x.ends_with("dated")) tree.setWriteTime(changed, 1200000000);
    if (x.ends_with("goes") || x.find("links") != std::string::npos) fs::remove(tree.path(changed));
    if (x == "A-links-to-B") fs::create_symlink(tree.path("B/" + x), tree.path(changed));
    if (x == "B-hard-links-to-A") fs::create_hard_link(tree.path("A/" + x), tree.path(changed));
  }
  make("A", "solo.txt").deleteMark = 1;  // marked, but no copy was kept for it
  make("P", "pagina.htm");
  // C's file goes with its page, P's kept in its place: B's copy must not count on C's staying.
  make("B", "x.txt", run.ctx.count + 1);
  make("C", "x.txt", run.ctx.count - 2);
  expected += line('R', "A", "solo.txt") + line('R', "B", "x.txt") + line('C', "C", "x.txt");
  deleteMarkedFiles(run.ctx);
  EXPECT_EQ(written(), expected);
  for (const std::string& x : cases) EXPECT_EQ(tree.exists("B/" + x), x != "B-goes") << x;
  EXPECT_TRUE(tree.exists("A/solo.txt") && tree.exists("B/x.txt") && !tree.exists("C/x.txt"));
}

TEST_F(DeletionTest, ListThatCannotBeCreatedDeletesNothing) {
  tree.folder(DELETED_LIST);  // a folder in the way of the list
  make("Recycled", "vecchio.txt", JUNK);
  EXPECT_EQ(deleteMarkedFiles(run.ctx), -1);
  EXPECT_TRUE(tree.exists("Recycled/vecchio.txt"));
  EXPECT_TRUE(run.output.starts_with("Impossibile creare il file Elenco_files_cancellati.txt"));
}

}  // namespace
}  // namespace doppioni::testing
