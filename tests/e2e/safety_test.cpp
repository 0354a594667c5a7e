// The real program on trees that fight back: nothing outside the tree is
// ever changed, and no deletion goes unrecorded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "e2e/e2e_support.h"
#include "reports/reports.h"
#include "test_tree.h"

// Last: it defines BLOCK_SIZE, a name the table uses.
#include <sys/mount.h>

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

unsigned modeOf(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode;
}

TEST(NothingOutsideTheTree, ReportNamesAndLinksLeadNowhere) {
  TempTree tree, outside;
  for (const char* name : {"segreto", "condiviso", "chiave"}) outside.file(name, "mio");
  ::chmod(outside.path("chiave").c_str(), 0600);
  fs::create_symlink(outside.path("segreto"), tree.path(DUPLICATES_REPORT));
  fs::create_hard_link(outside.path("condiviso"), tree.path(DELETED_LIST));
  ASSERT_EQ(::mkfifo(tree.path(FOLDER_REPORT).c_str(), 0644), 0);  // once hung the run
  tree.folder("Foto");
  fs::create_symlink(outside.path("chiave"), tree.path("Foto/Thumbs.db"));

  for (const char* answer : {"n", "s"}) {
    EXPECT_EQ(runProgram(tree.root(), answer).status, answer[0] == 's' ? 0 : 1);
    for (const char* name : {"segreto", "condiviso", "chiave"}) {
      EXPECT_EQ(readFile(outside.path(name)), "mio") << name;
    }
    EXPECT_EQ(modeOf(outside.path("chiave")) & 07777, 0600u);
  }
  for (const char* report : {DUPLICATES_REPORT, DELETED_LIST, FOLDER_REPORT, REMOVAL_REPORT}) {
    EXPECT_TRUE(S_ISREG(modeOf(tree.path(report)))) << report;
  }
}

TEST(NothingOutsideTheTree, NoFolderModeIsChanged) {
  TempTree tree;
  tree.folder("Chiusa/Vuota");
  // Its own, and read-only: its empty folder cannot go, so neither can it.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(tree.path("Chiusa").c_str(), 65534, 65534), 0);
  }
  ::chmod(tree.path("Chiusa").c_str(), 0555);
  EXPECT_EQ(runProgram(tree.root(), "s", true).status, 0);
  EXPECT_TRUE(tree.exists("Chiusa/Vuota"));
  EXPECT_EQ(modeOf(tree.path("Chiusa")) & 07777, 0555u);
}

// A tree of junk files, all marked: every one deleted is listed "C", and a
// list that stops short says the run was interrupted.
void expectEveryDeletionListed(const TempTree& tree, int files) {
  std::string list = readFile(tree.path(DELETED_LIST));
  int unlisted = 0, mislisted = 0;
  for (int i = 0; i < files; ++i) {
    std::string name = "~$" + std::to_string(i) + ".doc";
    bool deleted = list.find("C " + name + " in ") != std::string::npos;
    mislisted += tree.exists("J/" + name) == deleted;
    unlisted += list.find(name + " in ") == std::string::npos;
  }
  EXPECT_EQ(mislisted, 0);
  if (unlisted > 0) {
    EXPECT_TRUE(list.ends_with("Programma interrotto: nessun altro file e' stato cancellato\n"));
  }
}

// Runs the program answering "s", reads its output until the deletion has
// begun, then sends `signal` or, with 0, closes the output: a console gone.
int runCutShort(const std::string& dir, int signal, bool streamsClosed) {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in[0], 0);
    if (streamsClosed) {
      ::close(1), ::close(2);
    } else {
      ::dup2(out[1], 1), ::dup2(out[1], 2);
    }
    if (::chdir(dir.c_str()) == 0) ::execl(reachableProgram().c_str(), "doppioni", nullptr);
    ::_exit(122);
  }
  ::close(in[0]);
  ::close(out[1]);
  [[maybe_unused]] auto typed = ::write(in[1], "s", 1);
  ::close(in[1]);
  std::string seen;
  char buffer[4096];
  for (ssize_t got = 1; got > 0 && seen.find("Cancello") == std::string::npos;) {
    got = ::read(out[0], buffer, sizeof buffer);
    if (got > 0) seen.append(buffer, static_cast<std::size_t>(got));
  }
  if (signal != 0) ::kill(child, signal);
  while (signal != 0 && ::read(out[0], buffer, sizeof buffer) > 0) {
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(NothingUnrecorded, RunsCutShortListEveryDeletion) {
  std::signal(SIGPIPE, SIG_IGN);
  constexpr int FILES = 3000;
  struct Case {
    int signal;
    bool streamsClosed;
  };
  for (Case c : {Case{SIGTERM, false}, Case{SIGINT, false}, Case{SIGHUP, false}, Case{0, false},
                 Case{0, true}}) {
    TempTree tree;
    for (int i = 0; i < FILES; ++i) tree.file("J/~$" + std::to_string(i) + ".doc");
    int status = runCutShort(tree.root(), c.signal, c.streamsClosed);
    EXPECT_EQ(status, c.signal == 0 ? 0 : 128 + c.signal) << c.signal;
    expectEveryDeletionListed(tree, FILES);
    if (c.streamsClosed) {
      std::string report = readFile(tree.path(DUPLICATES_REPORT));
      EXPECT_TRUE(report.starts_with("RAPPORTO DOPPIONI\n"));
      EXPECT_TRUE(report.ends_with("fine del rapporto\n"));
    }
  }
}

TEST(NothingUnrecorded, NoRoomForTheListMeansNothingDeleted) {
  TempTree tree;
  if (::mount("doppioni", tree.root().c_str(), "tmpfs", 0, "size=256k,mode=0777") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  for (int i = 0; i < 20; ++i) tree.file("J/~$" + std::to_string(i) + ".doc");
  auto fillDisk = [&tree] {
    std::ofstream filler(tree.path("pieno"), std::ios::binary);
    for (std::string block(4096, 'x'); filler.write(block.data(), 4096);) {
    }
  };
  ProgramRun run = runProgram(tree.root(), "s", false, fillDisk);
  EXPECT_EQ(run.status, 255);
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(tree.exists("J/~$" + std::to_string(i) + ".doc"));
  ::umount2(tree.root().c_str(), MNT_DETACH);
  EXPECT_NE(run.output.find("Impossibile creare il file Elenco_files_cancellati.txt: nessun file "
                            "e' stato cancellato\n"),
            std::string::npos);
}

}  // namespace
}  // namespace doppioni::testing
