// The deletion: its list, and no last copy lost whatever happens to the tree meanwhile.
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

  // The record of a file as the scan saw it (the file is made first unless there is
  // one): unmarked, a copy of the record at index kept, or JUNK.
  FileEntry& make(const std::string& folder, const std::string& name, std::int32_t kept = NO_COPY) {
    if (!tree.exists(folder + "/" + name)) tree.file(folder + "/" + name, "x");
    tree.setWriteTime(folder + "/" + name, 1100000000);
    EntryInfo info;
    EXPECT_EQ(statEntry(tree.path(folder + "/" + name), info), 0) << name;
    FileEntry& e = addRecord(run.ctx, tree.path(folder), name, info.sizeLow, info.writeTime);
    e.fileId = info.id.digest();
    e.deleteMark = kept == NO_COPY ? 0 : 1;
    e.kind = kept == JUNK ? KIND_JUNK : KIND_NORMAL;
    e.keptCopy = kept == JUNK ? NO_COPY : kept;
    return e;
  }
  std::string line(char outcome, const std::string& folder, const std::string& name) {
    return outcome + (" " + name + " in ") + tree.path(folder) + "\n";
  }
};

TEST_F(DeletionTest, NoLastCopyLost) {
  // A/x is kept, B/x its copy; x tells what happens to which of them while the question waits.
  std::vector<std::string> cases = {"B-grows", "B-dated", "B-goes", "A-goes", "A-grows", "A-dated"};
  if (POSIX) cases.insert(cases.end(), {"A-links-to-B", "B-hard-links-to-A"});
  std::string expected =
      "Elenco dei files cancellati\n\nCompilato il 07/03/2005 alle 09:05:41\n\n"
      "C - cancellato, R - accesso negato\n\n\n";
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
  // C's file goes (a copy of P's), so B's copy of it must not count on C's staying.
  make("B", "x.txt", run.ctx.count + 1);
  make("C", "x.txt", run.ctx.count - 2);
  // A line feed or carriage return in a name never makes a list line of its own.
  make("A", "senza", JUNK).name = run.ctx.names.add("a\nC b in c\r");  // no such file
  expected += line('R', "A", "solo.txt") + line('R', "B", "x.txt") + line('C', "C", "x.txt") +
              line('R', "A", "a?C b in c?");
  deleteMarkedFiles(run.ctx);
  EXPECT_EQ(readText(DELETED_LIST), expected);
  for (const std::string& x : cases) EXPECT_EQ(tree.exists("B/" + x), x != "B-goes") << x;
  EXPECT_TRUE(tree.exists("A/solo.txt") && tree.exists("B/x.txt") && !tree.exists("C/x.txt"));
}

TEST_F(DeletionTest, TheFileDeletedIsTheFileChecked) {
  // At the moment between check and deletion a program saves a new version of B's file,
  // written aside and renamed over the name (which Windows refuses while the file being
  // deleted holds the name): the new version survives, every time.
  for (int i = 0; i < 20; ++i) make("A", std::to_string(i)), make("B", std::to_string(i), 2 * i);
  // This one had changed before: refused, and with its name taken meanwhile it stays
  // beside the new version under a name of its own, which the console gives.
  make("A", "preso");
  make("B", "preso", run.ctx.count - 1);
  std::ofstream(tree.path("B/preso"), std::ios::app) << "x";
  run.ctx.beforeDeletion = [](const std::string& path) {
    std::ofstream(path + ".nuovo") << "nuova versione";
    std::error_code held;
    fs::rename(path + ".nuovo", path, held);
  };
  deleteMarkedFiles(run.ctx);
  for (int i = 0; i <= 20; ++i) {
    std::string name = "B/" + (i < 20 ? std::to_string(i) : "preso") + (POSIX ? "" : ".nuovo");
    EXPECT_EQ(readText(tree.path(name)), "nuova versione") << name;
  }
  EXPECT_TRUE(readText(DELETED_LIST).ends_with(line('R', "B", "preso")));
  std::string aside = POSIX ? run.output.substr(run.output.find("ora si chiama ") + 14) : "";
  EXPECT_EQ(readText(aside.substr(0, aside.find(": un altro"))), POSIX ? "xx" : "");
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
