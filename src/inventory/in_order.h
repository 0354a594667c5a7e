// Attempts that wait on the file system, run on a few threads and reported
// in their own order.
#pragma once

#include <atomic>
#include <climits>
#include <cstddef>
#include <thread>
#include <vector>

namespace doppioni {

// Runs attempt(k) for every k below n on `threads` threads and hands each
// result to report(k, result) in the order of k, as soon as it is known, on
// the calling thread. The attempts must not depend on one another; a result
// is never INT_MIN.
template <typename Attempt, typename Report>
void runInOrder(int threads, std::size_t n, Attempt attempt, Report report) {
  constexpr int PENDING = INT_MIN;
  std::vector<std::atomic<int>> results(n);
  for (auto& result : results) result.store(PENDING, std::memory_order_relaxed);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < n;) {
      results[k].store(attempt(k));
      results[k].notify_one();
    }
  };
  std::vector<std::thread> helpers;
  if (n > 1) {
    for (int t = 0; t < threads; ++t) helpers.emplace_back(work);
  }
  if (helpers.empty()) work();
  for (std::size_t k = 0; k < n; ++k) {
    results[k].wait(PENDING);
    report(k, results[k].load());
  }
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace doppioni
