// Attempts that wait on the file system, run on a few threads and reported
// in their own order, in batches that each settle before the next begins.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace doppioni {

// Runs attempt(k) for every k below n on `threads` threads and hands each
// result to report(k, result) in the order of k, as soon as it is known, on
// the calling thread. The attempts go in batches of `batch`: after the report
// of a batch's last attempt settle() is called, and no attempt of the next
// batch starts before it returns; when it returns false, none starts at all.
// So whatever settle() records covers every attempt made so far. The attempts
// must not depend on one another.
template <typename Attempt, typename Report, typename Settle>
void runInOrder(int threads, std::size_t n, std::size_t batch, Attempt attempt, Report report,
                Settle settle) {
  std::vector<int> results(n);
  std::vector<char> known(n, 0);
  std::mutex mutex;
  std::condition_variable resultKnown, batchOpen;
  std::size_t next = 0;                   // the next attempt to start
  std::size_t open = std::min(batch, n);  // attempts below this may start
  bool stop = false;
  auto work = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      batchOpen.wait(lock, [&] { return stop || next >= n || next < open; });
      if (stop || next >= n) return;
      std::size_t k = next++;
      lock.unlock();
      int result = attempt(k);
      lock.lock();
      results[k] = result;
      known[k] = 1;
      resultKnown.notify_one();
    }
  };
  std::vector<std::thread> helpers;
  if (n > 1) {
    for (int t = 0; t < threads; ++t) helpers.emplace_back(work);
  }
  for (std::size_t k = 0; k < n; ++k) {
    int result;
    if (helpers.empty()) {
      result = attempt(k);
    } else {
      std::unique_lock lock(mutex);
      resultKnown.wait(lock, [&] { return known[k] != 0; });
      result = results[k];
    }
    report(k, result);
    if (k + 1 == open || k + 1 == n) {
      bool go = settle();
      {
        std::lock_guard lock(mutex);
        if (go) {
          open = std::min(open + batch, n);
        } else {
          stop = true;
        }
      }
      batchOpen.notify_all();
      if (!go) break;
    }
  }
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace doppioni
