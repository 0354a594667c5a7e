// The options of a run, answered "s": the copy kept in a chosen folder, folders left out,
// files moved instead of deleted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>

#include "e2e/e2e_support.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

// Runs the program in dir with arguments, answering "s" then a key: its status and output.
ProgramRun runWith(const std::string& dir, const std::string& arguments) {
  const std::string out = dir + ".uscita";
  int status = std::system(("cd " + dir + " && printf sx | " + reachableProgram() + " " +
                            arguments + " >" + out + " 2>&1")
                               .c_str());
  ProgramRun run{WEXITSTATUS(status), readFile(out)};
  fs::remove(out);
  return run;
}

// Every file and folder below root, '/' between names.
std::set<std::string> onDisk(const std::string& root) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    found.insert(entry.path().lexically_relative(root));
  }
  return found;
}

TEST(Options, TheCopyInAKeptFolderThatSortsLastStaysAndExcludedFoldersAreLeftAlone) {
  TempTree tree;
  for (const char* rel : {"Backup/foto.jpg", "Documenti/foto.jpg", "Documenti/.git/foto.jpg",
                          ".git/foto.jpg", ".Git/foto.jpg"}) {
    tree.file(rel, "x");
    tree.setWriteTime(rel, 1100000000);
  }
  tree.file(".git/Thumbs.db", "t");
  tree.folder(".git/refs/tags");
  ProgramRun run = runWith(tree.root(), "--escludi .git --tieni Documenti");
  ASSERT_EQ(run.status, 0) << run.output;
  // .Git is another name: walked, its copy deleted, and the folder then removed.
  EXPECT_TRUE(withoutTime(readFile(tree.path("Rapporto_doppioni.txt")))
                  .ends_with("inutile\n\nC 0 foto.jpg 1 in ... .Git\nC 0 foto.jpg 1 in ... Backup\n"
                             "  0 foto.jpg 1 in ... Documenti\nfine del rapporto\n"));
  EXPECT_EQ(readFile(tree.path("Rapporto_cartelle.txt")).find(".git"), std::string::npos);
  EXPECT_EQ(onDisk(tree.root()),
            (std::set<std::string>{".git", ".git/foto.jpg", ".git/Thumbs.db", ".git/refs",
                                   ".git/refs/tags", "Documenti", "Documenti/foto.jpg",
                                   "Documenti/.git", "Documenti/.git/foto.jpg",
                                   "Rapporto_doppioni.txt", "Elenco_files_cancellati.txt",
                                   "Rapporto_cartelle.txt", "Rapporto_rimozione_cartelle.txt"}));
}

// To a folder beside the tree, then to a tmpfs (another file system: the file is copied,
// its bytes checked, and a link cannot go there).
TEST(Options, MovedBelowTheDestinationNeverOverAFileThere) {
  for (bool tmpfs : {false, true}) {
    TempTree tree, destination;
    struct Unmount {
      std::string at;
      ~Unmount() { std::system(("umount " + at + " 2>/dev/null").c_str()); }
    } mounted{tmpfs ? destination.root() : ""};
    if (tmpfs && (::geteuid() != 0 ||
                  std::system(("mount -t tmpfs tmpfs " + destination.root()).c_str()) != 0)) {
      std::cout << "[  SKIPPED ] no tmpfs could be mounted (needs root)\n";
      continue;
    }
    for (const char* rel : {"A/foto.jpg", "Backup/2023/foto.jpg"}) {
      tree.file(rel, std::string(300000, 'f'));
      tree.setWriteTime(rel, 1100000000);
      fs::permissions(tree.path(rel), static_cast<fs::perms>(0640));
    }
    tree.file("~$lettera.doc", "nuova");
    destination.file("~$lettera.doc", "mia");
    tree.folder("Recycled");
    fs::create_symlink("../A/foto.jpg", tree.path("Recycled/link"));
    ProgramRun run = runWith(tree.root(), "--sposta-in " + destination.root());
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("\nSposto i doppioni\n"), std::string::npos);
    EXPECT_EQ(withoutTime(readFile(tree.path("Elenco_files_cancellati.txt"))),
              "Elenco dei files spostati\n\nCompilato il <ora>\n\nC - spostato, R - accesso "
              "negato\n\n\nC foto.jpg in " +
                  tree.path("Backup/2023") + "\n" + (tmpfs ? "R" : "C") + " link in " +
                  tree.path("Recycled") + "\nR ~$lettera.doc in " + tree.root() + "\n");
    struct stat moved;
    ASSERT_EQ(::stat(destination.path("Backup/2023/foto.jpg").c_str(), &moved), 0);
    EXPECT_EQ(moved.st_mtime, 1100000000);
    EXPECT_EQ(moved.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(destination.path("Backup/2023/foto.jpg")), std::string(300000, 'f'));
    EXPECT_EQ(readFile(destination.path("~$lettera.doc")), "mia");
    EXPECT_EQ(readFile(tree.path("~$lettera.doc")), "nuova");
    std::set<std::string> there = {"~$lettera.doc", "Backup", "Backup/2023",
                                   "Backup/2023/foto.jpg"};
    if (!tmpfs) there.insert({"Recycled", "Recycled/link"});
    EXPECT_EQ(onDisk(destination.root()), there);  // and no copy under a private name
    EXPECT_EQ(fs::is_symlink(tree.path("Recycled/link")), tmpfs);
    EXPECT_EQ(tree.exists("Recycled"), tmpfs);
    EXPECT_FALSE(tree.exists("Backup"));
    EXPECT_TRUE(tree.exists("A/foto.jpg"));
  }
}

}  // namespace
}  // namespace doppioni::testing
