// The in-order runner never ends the process: without threads it runs on
// the calling thread, and an attempt's exception comes out on that thread.
#include "inventory/run_in_order.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace doppioni
