// The real program on trees that fight back: nothing outside the tree is
// ever changed, and no deletion goes unrecorded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>  // mkfifo
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "e2e/e2e_support.h"
#include "platform/platform.h"
#include "reports/reports.h"
#include "test_tree.h"

// Last: it defines BLOCK_SIZE, a name the table uses.
#include <sys/mount.h>

namespace doppioni::testing {
namespace {

namespace fs = std::filesystem;

TEST(NothingOutsideTheTree, ReportNamesLinksAndFoldersLeadNowhere) {
  TempTree tree, outside;
  for (const char* name : {"segreto", "condiviso", "miniature"}) outside.file(name, "mio");
  fs::create_symlink(outside.path("segreto"), tree.path(DUPLICATES_REPORT));
  fs::create_hard_link(outside.path("condiviso"), tree.path(DELETED_LIST));
  ASSERT_EQ(::mkfifo(tree.path(FOLDER_REPORT).c_str(), 0644), 0);  // once hung the run
  // A read-only Thumbs.db that is a second name of a file outside keeps its mode, and stays.
  tree.folder("Foto");
  fs::create_hard_link(outside.path("miniature"), tree.path("Foto/Thumbs.db"));
  // A read-only folder of the run's user: its empty folder cannot go, nor can it.
  tree.folder("Chiusa/Vuota");
  for (std::string path : {outside.path("segreto"), outside.path("condiviso"),
                           outside.path("miniature"), tree.path("Chiusa")}) {
    ASSERT_TRUE(::geteuid() != 0 || ::chown(path.c_str(), 65534, 65534) == 0);
  }
  fs::permissions(tree.path("Chiusa"), static_cast<fs::perms>(0555));
  fs::permissions(outside.path("miniature"), static_cast<fs::perms>(0444));
  for (const char* answer : {"n", "s"}) {
    EXPECT_EQ(runProgram(tree.root(), answer, true).status, answer[0] == 's' ? 0 : 1);
    EXPECT_EQ(readFile(outside.path("segreto")) + readFile(outside.path("condiviso")), "miomio");
    EXPECT_EQ(fs::status(outside.path("miniature")).permissions(), static_cast<fs::perms>(0444));
  }
  EXPECT_NE(readFile(tree.path(DELETED_LIST)).find("R Thumbs.db in "), std::string::npos);
  for (const char* report : {DUPLICATES_REPORT, DELETED_LIST, FOLDER_REPORT, REMOVAL_REPORT}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(tree.path(report)))) << report;
  }
  EXPECT_EQ(fs::status(tree.path("Chiusa")).permissions(), static_cast<fs::perms>(0555));
}

// The work folder moved while the question waits, and another tree put at its old path: the run
// goes on in the folder it scanned, and the other tree, never shown, is untouched.
TEST(NothingOutsideTheTree, AWorkFolderMovedAtTheQuestionIsStillTheTree) {
  TempTree base;
  auto fill = [&base](const std::string& folder) {
    base.file(folder + "/A/~$x.doc", folder);
    base.folder(folder + "/vuota/dentro");
  };
  fill("lavoro");
  ProgramRun run = runProgram(base.path("lavoro"), "s", false, [&] {
    fs::rename(base.path("lavoro"), base.path("spostata"));
    fill("lavoro");
  });
  EXPECT_EQ(run.status, 0) << run.output;
  for (const char* report : {DUPLICATES_REPORT, DELETED_LIST, FOLDER_REPORT, REMOVAL_REPORT}) {
    EXPECT_TRUE(base.exists(std::string("spostata/") + report)) << report;
  }
  EXPECT_EQ(readFile(base.path("lavoro/A/~$x.doc")), "lavoro");
  EXPECT_TRUE(base.exists("lavoro/vuota/dentro"));
  EXPECT_FALSE(base.exists("spostata/A") || base.exists("spostata/vuota"));
}

std::string junk(int i) {  // every one marked for deletion
  return "J/~$" + std::to_string(i) + ".doc";
}

// Every file deleted is listed "C", and a list that stops short says why
// (or stopped at a write that failed).
void expectEveryDeletionListed(const TempTree& tree, int files, bool failedWrite = false) {
  std::string list = readFile(tree.path(DELETED_LIST));
  int unlisted = 0, mislisted = 0;
  for (int i = 0; i < files; ++i) {
    std::string line = junk(i).substr(2) + " in ";
    mislisted += tree.exists(junk(i)) == (list.find("C " + line) != std::string::npos);
    unlisted += list.find(line) == std::string::npos;
  }
  EXPECT_EQ(mislisted, 0);
  EXPECT_TRUE(unlisted == 0 || failedWrite ||
              list.ends_with("Programma interrotto: nessun altro file e' stato cancellato\n"));
}

// Runs the program answering "s" and, once `until` is in its output (the
// deletion has begun), sends it `cut`; 0 closes its output instead, -1 starts
// it with output and error closed.
int runCutShort(const std::string& dir, int cut, const char* until = "Cancello") {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in[0], 0);
    if (cut >= 0) ::dup2(out[1], 1), ::dup2(out[1], 2);
    if (cut < 0) ::close(1), ::close(2);
    if (::chdir(dir.c_str()) == 0) ::execl(reachableProgram().c_str(), "doppioni", nullptr);
    ::_exit(122);
  }
  ::close(in[0]), ::close(out[1]);
  [[maybe_unused]] auto typed = ::write(in[1], "s", 1);
  ::close(in[1]);
  std::string seen;
  char buffer[4096];
  for (ssize_t got = 1; got > 0 && seen.find(until) == std::string::npos;) {
    got = ::read(out[0], buffer, sizeof buffer);
    if (got > 0) seen.append(buffer, static_cast<std::size_t>(got));
  }
  if (cut > 0) ::kill(child, cut);
  while (cut > 0 && ::read(out[0], buffer, sizeof buffer) > 0) {
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

TEST(NothingUnrecorded, RunsCutShortListEveryDeletion) {
  std::signal(SIGPIPE, SIG_IGN);
  for (int cut : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, 0, -1}) {
    TempTree tree;
    for (int i = 0; i < 3000; ++i) tree.file(junk(i));
    EXPECT_EQ(runCutShort(tree.root(), cut), cut > 0 ? 128 + cut : 0) << cut;
    expectEveryDeletionListed(tree, 3000);
    std::string report = readFile(tree.path(DUPLICATES_REPORT));  // nothing of the console in it
    EXPECT_TRUE(report.starts_with("RAPPORTO DOPPIONI\n") && report.ends_with("del rapporto\n"));
  }
}

// The removals too: those made are reported, and none starts after the interrupt.
TEST(NothingUnrecorded, AnInterruptStopsTheFolderRemovalsAndEachOneMadeIsReported) {
  TempTree tree;
  auto folder = [](int i) { return "V/" + std::string(100, 'v') + std::to_string(i); };
  for (int i = 0; i < 2000; ++i) tree.folder(folder(i));
  EXPECT_EQ(runCutShort(tree.root(), SIGTERM, "Rimuovo le cartelle"), 128 + SIGTERM);
  std::string report = readFile(tree.path(REMOVAL_REPORT));
  int left = 0, misreported = 0;
  for (int i = 0; i < 2000; ++i) {
    left += tree.exists(folder(i));
    misreported += tree.exists(folder(i)) ==
                   (report.find(tree.path(folder(i)) + "\trimossa\n") != std::string::npos);
  }
  EXPECT_TRUE(misreported == 0 && left > 0) << misreported << " misreported, " << left << " left";
  EXPECT_TRUE(report.ends_with("Programma interrotto: nessun'altra cartella e' stata rimossa\n"));
}


// Runs the program answering "s" and kills it (SIGKILL) `after` its list
// of deletions appears, or lets it end when `after` is negative. Its exit
// status as a shell gives it, and the time from the list's start to the end.
std::pair<int, std::chrono::microseconds> runKilled(const TempTree& tree,
                                                    std::chrono::microseconds after) {
  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return {-1, {}};
  pid_t child = ::fork();
  if (child == 0) {
    int null = ::open("/dev/null", O_WRONLY);
    ::dup2(in[0], 0), ::dup2(null, 1), ::dup2(null, 2);
    if (::chdir(tree.root().c_str()) == 0) ::execl(reachableProgram().c_str(), "doppioni", nullptr);
    ::_exit(122);
  }
  ::close(in[0]);
  [[maybe_unused]] auto typed = ::write(in[1], "s", 1);
  ::close(in[1]);
  int status = 0;
  pid_t ended = 0;
  while (ended == 0 && !tree.exists(DELETED_LIST)) {
    ended = ::waitpid(child, &status, WNOHANG);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  auto listed = std::chrono::steady_clock::now();
  if (ended == 0 && after.count() >= 0) std::this_thread::sleep_for(after);
  if (ended == 0 && after.count() >= 0) ::kill(child, SIGKILL);
  if (ended == 0) ::waitpid(child, &status, 0);
  auto took = std::chrono::steady_clock::now() - listed;
  return {WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status),
          std::chrono::duration_cast<std::chrono::microseconds>(took)};
}

TEST(NothingUnrecorded, AfterAKillEveryFileIsAtItsNameOrListedDeleted) {
  auto copy = [](const char* folder, int i) { return folder + std::to_string(i) + ".txt"; };
  auto makeTree = [&](TempTree& tree) {
    for (int i = 0; i < 150; ++i) {
      tree.file(junk(i));
      for (const char* folder : {"A/", "B/"}) {  // B's go when their bytes are A's
        tree.file(copy(folder, i), std::to_string(i));
        tree.setWriteTime(copy(folder, i), 1100000000);
      }
    }
  };
  std::chrono::microseconds span;  // how long the deletions take, and the rest
  {
    TempTree tree;
    makeTree(tree);
    span = runKilled(tree, std::chrono::microseconds(-1)).second;
  }
  std::mt19937 random(std::random_device{}());
  int kills = 0, putBack = 0;
  for (int round = 0; kills < 40 && round < 150; ++round) {
    TempTree tree;
    makeTree(tree);
    std::chrono::microseconds after(
        std::uniform_int_distribution<std::int64_t>(0, span.count())(random));
    std::string list;
    if (runKilled(tree, after).first != 128 + SIGKILL ||
        std::ranges::count(list = readFile(tree.path(DELETED_LIST)), '\n') == 7 + 300) {
      span = span * 3 / 4;  // too late: the deletions were over
      continue;
    }
    ++kills;
    ProgramRun next = runProgram(tree.root(), "n");
    EXPECT_EQ(next.status, 1) << next.output;
    for (std::size_t at = 0;
         (at = next.output.find("di nuovo al suo posto", at + 1)) != std::string::npos;)
      ++putBack;
    for (int i = 0; i < 150; ++i) {
      for (const std::string& rel : {junk(i), copy("A/", i), copy("B/", i)}) {
        fs::path path(tree.path(rel));
        std::string line = "C " + path.filename().string() + " in " + path.parent_path().string();
        EXPECT_TRUE(tree.exists(rel) || list.find(line + "\n") != std::string::npos) << rel;
      }
    }
    for (const auto& entry : fs::recursive_directory_iterator(tree.root())) {
      EXPECT_FALSE(entry.path().filename().string().starts_with(".doppioni-")) << entry.path();
    }
  }
  EXPECT_EQ(kills, 40);
  EXPECT_GT(putBack, 0) << "no kill left a file aside";
}

TEST(NothingUnrecorded, FilesAKilledRunLeftAsideGoBackBeforeTheScan) {
  TempTree tree, outside;
  tree.file("A/.doppioni-7-0", "messo da parte");
  tree.file("A/.doppioni-7-1", "il suo nome e' preso");
  tree.file("A/preso.txt", "nuovo");
  outside.file(".doppioni-7-2", "fuori");
  using namespace std::string_literals;  // the journal's zero bytes
  std::ofstream(tree.path(ASIDE_JOURNAL))
      << "A\0.doppioni-7-0\0libero.txt\0A\0.doppioni-7-1\0preso.txt\0"s
      << "../" + fs::path(outside.root()).filename().string() + "\0.doppioni-7-2\0x\0"s;
  ProgramRun run = runProgram(tree.root(), "n");
  EXPECT_EQ(run.status, 1);
  const std::string said = ", lasciato da parte da un'esecuzione interrotta, ";
  EXPECT_NE(run.output.find(tree.path("A/libero.txt") + said + "e' di nuovo al suo posto\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find(tree.path("A/preso.txt") + said + "ora si chiama " +
                            tree.path("A/.doppioni-7-1") + ": un altro file ha preso il suo nome"),
            std::string::npos);
  EXPECT_EQ(readFile(tree.path("A/libero.txt")) + readFile(tree.path("A/preso.txt")),
            "messo da partenuovo");
  EXPECT_NE(readFile(tree.path(DUPLICATES_REPORT)).find("libero.txt"), std::string::npos);
  EXPECT_FALSE(tree.exists(ASIDE_JOURNAL) || outside.exists("x"));
}

// The program running in dir, found by its working directory; -1 if none.
pid_t programIn(const std::string& dir) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    if (fs::read_symlink(entry.path() / "cwd", error) == dir &&
        fs::read_symlink(entry.path() / "exe", error) == reachableProgram()) {
      return std::stoi(entry.path().filename());
    }
  }
  return -1;
}

TEST(NothingUnrecorded, AListPastTheFileSizeLimitEndsTheRunWithEveryDeletionListed) {
  TempTree tree;
  for (int i = 0; i < 300; ++i) tree.file(junk(i));
  ProgramRun run = runProgram(tree.root(), "s", false, [&tree] {  // ulimit -f 4
    const rlimit small{4096, 4096};
    EXPECT_EQ(::prlimit(programIn(tree.root()), RLIMIT_FSIZE, &small, nullptr), 0);
  });
  EXPECT_EQ(run.status, 255);  // its output, a file too, is past the limit: no message seen
  expectEveryDeletionListed(tree, 300, true);
  EXPECT_LT(readFile(tree.path(DELETED_LIST)).size(), 4097u);
}

// Room on disk for the start of the list but not for all of it: nothing is deleted.
TEST(NothingUnrecorded, NoRoomForTheListMeansNothingDeleted) {
  TempTree tree;
  if (::mount("doppioni", tree.root().c_str(), "tmpfs", 0, "size=256k,mode=0777") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  for (int i = 0; i < 300; ++i) tree.file(junk(i));
  ProgramRun run = runProgram(tree.root(), "s", false, [&tree] {  // the disk fills meanwhile
    std::ofstream(tree.path("pieno")) << std::string(1 << 20, 'x');
    fs::resize_file(tree.path("pieno"), fs::file_size(tree.path("pieno")) / 4096 * 4096 - 4096);
  });
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(run.output.ends_with("cancellati.txt: nessun file e' stato cancellato\n"));
  for (int i = 0; i < 300; ++i) EXPECT_TRUE(tree.exists(junk(i)));
  ::umount2(tree.root().c_str(), MNT_DETACH);
}

// A report the disk cannot hold whole is never taken for written: nothing is asked.
TEST(NothingUnrecorded, AReportTheDiskCannotHoldWholeStopsTheRunBeforeTheQuestion) {
  TempTree tree;
  if (::mount("doppioni", tree.root().c_str(), "tmpfs", 0, "size=8k,mode=0777") != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  for (int i = 0; i < 1000; ++i) tree.file(junk(i));
  ProgramRun run = runProgram(tree.root(), "n");
  EXPECT_EQ(run.status, 255);
  EXPECT_TRUE(
      run.output.ends_with("Impossibile scrivere Rapporto_doppioni.txt: il programma "
                           "termina senza cancellare nulla\n"))
      << run.output;
  ::umount2(tree.root().c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace doppioni::testing
