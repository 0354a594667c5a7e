// Answered "n", the real program changes nothing on disk but the read-only
// flag of Thumbs.db; a second run finds the first one's report among the files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

// Every entry below the root with its permissions, write time and content;
// the duplicates report aside.
std::map<std::string, std::string> snapshot(const TempTree& tree) {
  std::map<std::string, std::string> state;
  for (const auto& entry : fs::recursive_directory_iterator(tree.root())) {
    std::string rel = entry.path().lexically_relative(tree.root());
    if (rel == "Rapporto_doppioni.txt") continue;
    state[rel] = std::to_string(static_cast<int>(entry.status().permissions())) + " " +
                 std::to_string(entry.last_write_time().time_since_epoch().count()) + " " +
                 (entry.is_directory() ? "folder" : readFile(entry.path()));
  }
  return state;
}

TEST(ClassifyEndToEnd, AnsweredNoOnlyThumbsDbBecomesWritable) {
  TempTree tree;
  for (const char* rel : {"A/x.txt", "B/x.txt", "P.htm", "P_file/img.gif", "Q/P.htm",
                          "Q/P_file/img.gif", "A/Thumbs.db", "~$doc.doc", "Recycled/old.txt"}) {
    tree.file(rel, "same");
    tree.setWriteTime(rel, 1110186341);
  }
  auto expected = snapshot(tree);  // with Thumbs.db writable
  fs::permissions(tree.path("A/Thumbs.db"), fs::perms::owner_write, fs::perm_options::remove);

  ProgramRun run = runProgram(tree.root(), "n");
  EXPECT_EQ(run.status, 1) << run.output;
  for (const char* count : {"Trovati 2 files htm e 2 file collegati ", "Trovati 2 doppioni\n",
                            "Trovati 2 files inutili\n"}) {
    EXPECT_NE(run.output.find(count), std::string::npos) << count << "\n" << run.output;
  }
  EXPECT_EQ(snapshot(tree), expected);

  std::string first = readFile(tree.path("Rapporto_doppioni.txt"));
  EXPECT_EQ(runProgram(tree.root(), "n").status, 1);
  EXPECT_NE(readFile(tree.path("Rapporto_doppioni.txt"))
                .find("  0 Rapporto_doppioni.txt " + std::to_string(first.size()) + " in ... " +
                      tree.root() + "\nC 3 Thumbs.db 4 in ... A\n"),
            std::string::npos);
  EXPECT_EQ(snapshot(tree), expected);
}

}  // namespace
}  // namespace doppioni::testing
