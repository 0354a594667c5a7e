// Attempts run on a few threads and reported in their own order, each
// settled before more than a few others may start: deletions and removals,
// which wait on the file system, and the pieces of a big report.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <vector>

namespace doppioni {

// Runs attempt(k) for every k below n on `threads` threads and hands each
// result to report(k, result) in the order of k, as soon as it is known, on
// the calling thread, then settle(). Attempt k + threads (one for each
// thread) starts only once settle() has returned for attempt k. When it
// returns false no attempt starts any more, and those under way are still
// reported and settled. So whatever settle() records covers every attempt
// made but those under way. The attempts must not depend on one another.
//
// Threads that cannot be had are done without, down to the calling thread
// alone. An attempt that throws (memory ran out) stops the attempts as a
// false settle() does; once those under way are reported (those that threw
// skipped), the first exception is thrown again on the calling thread. A
// result never reported is destroyed.
template <typename Attempt, typename Report, typename Settle>
void runInOrder(int threads, std::size_t n, Attempt attempt, Report report, Settle settle) {
  using Result = std::invoke_result_t<Attempt&, std::size_t>;
  struct Slot {
    std::optional<Result> result;
    std::exception_ptr failure;
    bool known = false;
  };
  const std::size_t window = static_cast<std::size_t>(std::max(threads, 1));
  // Attempt k has slot k % window, which attempt k - window has left by then.
  std::vector<Slot> slots(std::min(window, n));
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
      std::optional<Result> result;
      std::exception_ptr failure;
      try {
        result.emplace(attempt(k));
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      Slot& slot = slots[k % window];
      slot.result = std::move(result);
      slot.failure = failure;
      slot.known = true;
      resultKnown.notify_one();
    }
  };
  std::vector<std::thread> helpers;
  try {
    if (n > 1) helpers.reserve(static_cast<std::size_t>(std::max(threads, 0)));
    for (int t = 0; n > 1 && t < threads; ++t) helpers.emplace_back(work);
  } catch (const std::system_error&) {  // no more threads to be had
  } catch (const std::bad_alloc&) {
  }
  auto finish = [&] {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    slotOpen.notify_all();
    for (std::thread& helper : helpers) helper.join();
  };

  std::exception_ptr failure;
  std::size_t end = n;  // once the attempts stop: the attempts already made
  try {
    for (std::size_t k = 0; k < end; ++k) {
      Slot& slot = slots[k % window];
      if (helpers.empty()) {
        next = k + 1;
        slot.result.emplace(attempt(k));
      } else {
        std::unique_lock lock(mutex);
        resultKnown.wait(lock, [&] { return slot.known; });
      }
      bool go = false;
      if (slot.failure) {
        if (!failure) failure = slot.failure;
      } else {
        report(k, *slot.result);
        go = settle() && !failure;
      }
      slot = Slot{};
      {
        std::lock_guard lock(mutex);
        if (stop) {
          // Reporting what was under way when the attempts stopped.
        } else if (go) {
          open = std::min(k + 1 + window, n);
        } else {
          stop = true;
          end = next;
        }
      }
      slotOpen.notify_all();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace doppioni
