// The marks as the user sees them: the real program on a tree, answered "n".
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "e2e/e2e_support.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runProgram;
using testing::TempTree;

struct FileState {
  bool folder;
  std::uintmax_t size;
  fs::file_time_type writeTime;
  fs::perms permissions;
  std::string content;
  bool operator==(const FileState&) const = default;
};

// Every entry below root with what a run could change, but the report.
std::map<std::string, FileState> snapshot(const std::string& root) {
  std::map<std::string, FileState> state;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(entry.path(), root).generic_string();
    if (rel == DUPLICATES_REPORT) continue;
    if (entry.is_directory()) {
      state[rel] = {true, 0, {}, entry.status().permissions(), {}};
    } else {
      state[rel] = {false, entry.file_size(), entry.last_write_time(), entry.status().permissions(),
                    readFile(entry.path().string())};
    }
  }
  return state;
}

// Everything from the line after the timestamp on.
std::string afterTimestamp(const std::string& report) {
  std::size_t at = report.find("Compilato il ");
  if (at == std::string::npos) return "no timestamp in: " + report;
  return report.substr(0, at) + report.substr(report.find('\n', at));
}

TEST(ClassifyEndToEnd, ReportListsTheMarksAndNothingButThumbsDbChanges) {
  TempTree tree;
  tree.file("A/x.txt", "same");
  tree.file("B/x.txt", "same");
  tree.file("P.htm", "page");
  tree.file("P_file/img.gif", "gif");
  tree.file("Q/P.htm", "page");
  tree.file("Q/P_file/img.gif", "gif");
  tree.file("A/Thumbs.db", "t");
  tree.file("~$doc.doc", "d");
  tree.file("Recycled/old.txt", "old");
  tree.file("sub/deeper/y.txt", "y");
  for (const char* rel :
       {"A/x.txt", "B/x.txt", "P.htm", "P_file/img.gif", "Q/P.htm", "Q/P_file/img.gif",
        "A/Thumbs.db", "~$doc.doc", "Recycled/old.txt", "sub/deeper/y.txt"}) {
    tree.setWriteTime(rel, 1110186341);
  }
  fs::permissions(tree.path("A/Thumbs.db"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  auto before = snapshot(tree.root());

  auto run = runProgram(tree.root(), "n");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("Trovati 2 files htm e 2 file collegati"), std::string::npos);
  EXPECT_NE(run.output.find("Trovati 2 doppioni\n"), std::string::npos);
  EXPECT_NE(run.output.find("Trovati 2 files inutili\n"), std::string::npos);

  std::string root = fs::canonical(tree.root()).string();
  std::string lines = "  1 P.htm 4 in ... " + root + "\n" +
                      "C 1 P.htm 4 in ... Q\n"
                      "C 3 Thumbs.db 1 in ... A\n"
                      "  2 img.gif 3 in ... P_file\n"
                      "C 2 img.gif 3 in ... Q/P_file\n"
                      "C 3 old.txt 3 in ... Recycled\n"
                      "  0 x.txt 4 in ... A\n"
                      "C 0 x.txt 4 in ... B\n"
                      "  0 y.txt 1 in ... sub/deeper\n"
                      "C 3 ~$doc.doc 1 in ... " +
                      root + "\n";
  const std::string head =
      "RAPPORTO DOPPIONI\n\n" /* the timestamp line */
      "\n\n"
      "C - da cancellare\n0 - normale\n1 - file htm\n2 - associato ad un htm\n3 - inutile\n\n";
  std::string first = readFile(tree.path(DUPLICATES_REPORT));
  EXPECT_EQ(afterTimestamp(first), head + lines + "fine del rapporto\n");

  // Nothing deleted or touched, but the Thumbs.db that is writable now.
  auto after = snapshot(tree.root());
  EXPECT_EQ((after.at("A/Thumbs.db").permissions & fs::perms::owner_write), fs::perms::owner_write);
  after.at("A/Thumbs.db").permissions = before.at("A/Thumbs.db").permissions;
  EXPECT_TRUE(after == before);

  // A second run finds the first one's report among the files.
  auto again = runProgram(tree.root(), "n");
  EXPECT_EQ(again.status, 1) << again.output;
  std::string reportLine =
      "  0 Rapporto_doppioni.txt " + std::to_string(first.size()) + " in ... " + root + "\n";
  lines.insert(lines.find("C 3 Thumbs.db"), reportLine);
  EXPECT_EQ(afterTimestamp(readFile(tree.path(DUPLICATES_REPORT))),
            head + lines + "fine del rapporto\n");
  auto afterSecond = snapshot(tree.root());
  afterSecond.at("A/Thumbs.db").permissions = before.at("A/Thumbs.db").permissions;
  EXPECT_TRUE(afterSecond == before);
}

}  // namespace
}  // namespace doppioni
