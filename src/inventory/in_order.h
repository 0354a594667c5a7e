// Attempts that wait on the file system, run on a few threads and reported
// in their own order.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace doppioni {

// Runs attempt(k) for every k below n on `threads` threads and hands each
// result to report(k, result) in the order of k, as soon as it is known, on
// the calling thread. The attempts must not depend on one another.
template <typename Attempt, typename Report>
void runInOrder(int threads, std::size_t n, Attempt attempt, Report report) {
  std::vector<int> results(n);
  std::vector<char> known(n, 0);
  std::mutex mutex;
  std::condition_variable resultKnown;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t k; (k = next.fetch_add(1)) < n;) {
      int result = attempt(k);
      {
        std::lock_guard lock(mutex);
        results[k] = result;
        known[k] = 1;
      }
      resultKnown.notify_one();
    }
  };
  std::vector<std::thread> helpers;
  if (n > 1) {
    for (int t = 0; t < threads; ++t) helpers.emplace_back(work);
  }
  if (helpers.empty()) work();
  for (std::size_t k = 0; k < n; ++k) {
    int result;
    {
      std::unique_lock lock(mutex);
      resultKnown.wait(lock, [&] { return known[k] != 0; });
      result = results[k];
    }
    report(k, result);
  }
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace doppioni
