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
void runInOrder(int threads, std::size_t n, Attempt attempt, Report report, Settle settle);

namespace inorder {

// The state that runInOrder's threads share.
template <typename Attempt>
class Runner {
 public:
  using Result = std::invoke_result_t<Attempt&, std::size_t>;

  Runner(int threads, std::size_t n, Attempt& attempt)
      : attempt_(attempt),
        n_(n),
        window_(static_cast<std::size_t>(std::max(threads, 1))),
        slots_(std::min(window_, n)),
        open_(std::min(window_, n)) {
    try {
      if (n > 1) helpers_.reserve(static_cast<std::size_t>(std::max(threads, 0)));
      for (int t = 0; n > 1 && t < threads; ++t) helpers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {  // no more threads to be had
    } catch (const std::bad_alloc&) {
    }
  }
  ~Runner() { finish(); }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Reports every attempt made, in order, and settles it; see runInOrder.
  template <typename Report, typename Settle>
  void run(Report& report, Settle& settle) {
    std::exception_ptr failure;
    std::size_t end = n_;  // once the attempts stop: the attempts already made
    for (std::size_t k = 0; k < end; ++k) {
      Slot& slot = resultOf(k);
      bool go = false;
      if (slot.failure) {
        if (!failure) failure = slot.failure;
      } else {
        report(k, *slot.result);
        go = settle() && !failure;
      }
      slot = Slot{};
      {
        std::lock_guard lock(mutex_);
        if (stop_) {
          // Reporting what was under way when the attempts stopped.
        } else if (go) {
          open_ = std::min(k + 1 + window_, n_);
        } else {
          stop_ = true;
          end = next_;
        }
      }
      slotOpen_.notify_all();
    }
    finish();
    if (failure) std::rethrow_exception(failure);
  }

 private:
  struct Slot {
    std::optional<Result> result;
    std::exception_ptr failure;
    bool known = false;
  };

  // Attempt k's slot, once its result is known: made here without helpers.
  Slot& resultOf(std::size_t k) {
    Slot& slot = slots_[k % window_];
    if (helpers_.empty()) {
      next_ = k + 1;
      slot.result.emplace(attempt_(k));
    } else {
      std::unique_lock lock(mutex_);
      resultKnown_.wait(lock, [&] { return slot.known; });
    }
    return slot;
  }

  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      slotOpen_.wait(lock, [&] { return stop_ || next_ >= n_ || next_ < open_; });
      if (stop_ || next_ >= n_) return;
      std::size_t k = next_++;
      lock.unlock();
      std::optional<Result> result;
      std::exception_ptr failure;
      try {
        result.emplace(attempt_(k));
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      Slot& slot = slots_[k % window_];
      slot.result = std::move(result);
      slot.failure = failure;
      slot.known = true;
      resultKnown_.notify_one();
    }
  }

  void finish() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    slotOpen_.notify_all();
    for (std::thread& helper : helpers_) helper.join();
    helpers_.clear();
  }

  Attempt& attempt_;
  const std::size_t n_, window_;
  // Attempt k has slot k % window, which attempt k - window has left by then.
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable resultKnown_, slotOpen_;
  std::size_t next_ = 0;  // the next attempt to start
  std::size_t open_;      // attempts below this may start
  bool stop_ = false;
  std::vector<std::thread> helpers_;
};

}  // namespace inorder

template <typename Attempt, typename Report, typename Settle>
void runInOrder(int threads, std::size_t n, Attempt attempt, Report report, Settle settle) {
  inorder::Runner<Attempt> runner(threads, n, attempt);
  runner.run(report, settle);
}

}  // namespace doppioni
