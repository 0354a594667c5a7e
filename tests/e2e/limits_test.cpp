// The real program beside other runs and at the system's limits: one run at
// a time in a tree, and a run short of memory ends as it says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <utility>

#include "e2e/e2e_support.h"
#include "reports/reports.h"
#include "test_tree.h"

namespace doppioni::testing {
namespace {

// Starts the program in dir with its output dropped and, unless limit is 0,
// its address space limited to that many bytes; keys is the pipe to its input.
pid_t startProgram(const std::string& dir, rlim_t limit, int& keys) {
  const std::string& program = reachableProgram();
  int in[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    const rlimit space{limit, limit};
    ::dup2(in[0], 0), ::close(1), ::close(2);
    if ((limit == 0 || ::setrlimit(RLIMIT_AS, &space) == 0) && ::chdir(dir.c_str()) == 0) {
      ::execl(program.c_str(), "doppioni", nullptr);
    }
    ::_exit(122);
  }
  ::close(in[0]);
  keys = in[1];
  return child;
}

int statusOf(pid_t child) {  // as a shell sees it
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// A second run in the tree, below it or above it ends before it scans or writes anything, one
// beside it goes on. The tree is let go at the end, and by a killed run.
TEST(Limits, OneRunAtATimeInATree) {
  TempTree base;
  base.file("lavoro/sotto/~$a.doc");
  base.folder("accanto");
  ProgramRun first = runProgram(base.path("lavoro"), "n", false, [&base] {
    for (auto [where, status] :
         {std::pair{"lavoro", 2}, {"lavoro/sotto", 2}, {"", 2}, {"accanto", 0}}) {
      ProgramRun second = runProgram(base.path(where), "s");
      EXPECT_EQ(second.status, status) << where;
      EXPECT_EQ(second.output.starts_with("Un'altra esecuzione di doppioni"), status == 2) << where;
    }
  });
  EXPECT_EQ(first.status, 1);
  EXPECT_TRUE(base.exists("lavoro/sotto/~$a.doc"));
  EXPECT_FALSE(base.exists(DUPLICATES_REPORT) ||
               base.exists(std::string("lavoro/sotto/") + DUPLICATES_REPORT));

  const std::string report = base.path(std::string("accanto/") + DUPLICATES_REPORT);
  ::unlink(report.c_str());
  int keys = -1;
  pid_t killed = startProgram(base.path("accanto"), 0, keys);  // it waits at the question
  for (int i = 0; i < 1500 && ::access(report.c_str(), F_OK) != 0; ++i) ::usleep(20000);
  ::kill(killed, SIGKILL);
  EXPECT_EQ(statusOf(killed), 128 + SIGKILL);
  ::close(keys);
  EXPECT_EQ(runProgram(base.path("accanto"), "n").status, 1);
}

std::string junk(int i) {  // in ten folders, which worker threads read ahead of the walk
  return "J" + std::to_string(i % 10) + "/~$" + std::to_string(i) + ".doc";
}

// Short of address space the run ends with its own message, never aborted from some thread, and
// every file it deleted is listed, none that it did not.
TEST(Limits, AMemoryLimitAnywhereEndsTheRunInOrder) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the address sanitizer needs more address space than a limit leaves";
#endif
  std::signal(SIGPIPE, SIG_IGN);
  constexpr int FILES = 1000;
  TempTree tree;
  auto run = [&tree](rlim_t limit, const char* answer) {
    for (int i = 0; i < FILES; ++i) {
      if (!tree.exists(junk(i))) tree.file(junk(i));
    }
    ::unlink(tree.path(DELETED_LIST).c_str());
    int keys = -1;
    pid_t child = startProgram(tree.root(), limit, keys);
    [[maybe_unused]] auto typed = ::write(keys, answer, 1);
    ::close(keys);
    return statusOf(child);
  };
  // The least address space, to 16K, that a run answered "n" goes through with.
  rlim_t low = 1 << 20, enough = rlim_t{1} << 32;
  while (enough - low > (16 << 10)) {
    rlim_t middle = (low + enough) / 2;
    (run(middle, "n") == 1 ? enough : low) = middle;
  }
  // Just below it memory runs out somewhere on the way, on one thread or another.
  for (rlim_t limit = enough - (512 << 10); limit < enough + (128 << 10); limit += 16 << 10) {
    int status = run(limit, "s");
    EXPECT_TRUE(status == 0 || status == 255) << limit << ": " << status;
    std::string list = readFile(tree.path(DELETED_LIST));
    int mislisted = 0;
    for (int i = 0; i < FILES; ++i) {
      std::string line = "C " + junk(i).substr(3) + " in ";
      mislisted += tree.exists(junk(i)) == (list.find(line) != std::string::npos);
    }
    EXPECT_EQ(mislisted, 0) << limit;
  }
}

}  // namespace
}  // namespace doppioni::testing
