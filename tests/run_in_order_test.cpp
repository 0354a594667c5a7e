// The in-order runner and the background jobs never end the process:
// without threads they run on the calling thread, and an exception comes out
// on that thread, after everything under way is handed back.
#include "inventory/in_background.h"
#include "inventory/run_in_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace doppioni {
namespace {

// 40 attempts on 4 threads, attempt `failing` out of memory; what was
// reported goes to `order`.
void runForty(std::size_t failing, std::vector<std::size_t>& order) {
  auto attempt = [failing](std::size_t k) {
    if (k == failing) throw std::bad_alloc();
    return std::to_string(k);
  };
  auto report = [&order](std::size_t k, std::string& result) {
    if (result == std::to_string(k)) order.push_back(k);
  };
  runInOrder(4, 40, attempt, report, [] { return true; });
}

TEST(RunInOrder, AFailedAttemptComesOutOnTheCallingThreadAfterThoseUnderWay) {
  std::vector<std::size_t> order;
  EXPECT_THROW(runForty(9, order), std::bad_alloc);
  // 0 to 8, then what was under way: no more than the three after 9.
  ASSERT_GE(order.size(), 9u);
  EXPECT_LE(order.size(), 12u);
  for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i < 9 ? i : i + 1);
#ifndef _WIN32
  // No thread to be had (the user's process limit reached): all on one thread.
  pid_t child = ::fork();
  if (child == 0) {
    const rlimit none{1, 1};
    order.clear();
    if ((::geteuid() == 0 && ::setuid(65534) != 0) || ::setrlimit(RLIMIT_NPROC, &none) != 0) {
      ::_exit(2);
    }
    runForty(40, order);
    ::_exit(order.size() == 40 && order.back() == 39 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

// Jobs come back in the order given, never more than `most` out at once, a
// job whose work threw included; its exception comes once all are back.
TEST(InBackground, JobsComeBackInOrderEvenOneThatFailed) {
  for (int threads : {3, 0}) {
    std::vector<int> back;
    std::size_t most = 0;
    InBackground<int> jobs(threads, 2, [](int& job) {
      if (job == 5) throw std::bad_alloc();
      job = -job;
    });
    auto take = [&](int& job) { back.push_back(job); };
    for (int job = 1; job <= 8; ++job) {
      jobs.give(job, take);
      most = std::max(most, static_cast<std::size_t>(job) - back.size());
    }
    EXPECT_THROW(jobs.takeBack(true, take), std::bad_alloc);
    EXPECT_EQ(back, (std::vector<int>{-1, -2, -3, -4, 5, -6, -7, -8})) << threads;
    EXPECT_LE(most, 2u);
  }
}

}  // namespace
}  // namespace doppioni
