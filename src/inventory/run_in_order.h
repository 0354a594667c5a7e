// Attempts run on a few threads and reported in their own order, each
// settled before more than a few others may start: deletions and removals,
// which wait on the file system, and the pieces of a big report.
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
// the calling thread, then settle(). Attempt k + threads (one for each
// thread) starts only once settle() has returned for attempt k. When it
// returns false no attempt starts any more, and those under way are still
// reported and settled. So whatever settle() records covers every attempt
// made but those under way. The attempts must not depend on one another.
template <typename Attempt, typename Report, typename Settle>
void runInOrder(int threads, std::size_t n, Attempt attempt, Report report, Settle settle) {
  const std::size_t window = static_cast<std::size_t>(std::max(threads, 1));
  std::vector<int> results(n);
  std::vector<char> known(n, 0);
  std::mutex mutex;
  std::condition_variable resultKnown, slotOpen;
  std::size_t next = 0;                    // the next attempt to start
  std::size_t open = std::min(window, n);  // attempts below this may start
  bool stop = false;
  auto work = [&] {
    std::unique_lock lock(mutex);
    for (;;) {
      slotOpen.wait(lock, [&] { return stop || next >= n || next < open; });
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
  std::size_t end = n;  // once settle() fails: the attempts already made
  for (std::size_t k = 0; k < end; ++k) {
    int result;
    if (helpers.empty()) {
      result = attempt(k);
      next = k + 1;
    } else {
      std::unique_lock lock(mutex);
      resultKnown.wait(lock, [&] { return known[k] != 0; });
      result = results[k];
    }
    report(k, result);
    bool go = settle();
    {
      std::lock_guard lock(mutex);
      if (stop) {
        // Reporting what was under way when settle() failed.
      } else if (go) {
        open = std::min(k + 1 + window, n);
      } else {
        stop = true;
        end = next;
      }
    }
    slotOpen.notify_all();
  }
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace doppioni
