// Jobs done on a few threads while the calling thread goes on, handed back
// to it finished in the order they were given: the deletions of files whose
// lines are written, which wait on the file system while the next lines are
// made ready.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace doppioni {

template <typename Job>
class InBackground {
 public:
  // work(job) runs on one of `threads` threads, or, where none can be had,
  // on the calling thread as the job is given. At most `most` jobs are out
  // (given and not yet handed back).
  InBackground(int threads, std::size_t most, std::function<void(Job&)> work)
      : work_(std::move(work)), most_(most < 1 ? 1 : most) {
    try {
      for (int t = 0; t < threads; ++t) threads_.emplace_back([this] { serve(); });
    } catch (const std::system_error&) {  // no more threads to be had
    } catch (const std::bad_alloc&) {
    }
  }
  // Jobs never handed back are dropped as they are.
  ~InBackground() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    jobGiven_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }
  InBackground(const InBackground&) = delete;
  InBackground& operator=(const InBackground&) = delete;

  // Gives a job, and hands back, in the order given, the jobs finished by
  // then to take(job) on the calling thread; while `most` jobs are out, it
  // waits for the first to finish and hands it back.
  template <typename Take>
  void give(Job job, Take take) {
    takeBack(false, take);
    while (out() >= most_) takeOne(take);
    std::unique_lock lock(mutex_);
    slots_.push_back(Slot{std::move(job), false, nullptr});
    if (!threads_.empty()) {
      jobGiven_.notify_one();
      return;
    }
    lock.unlock();
    Slot& slot = slots_.back();
    doWork(slot);
    slot.done = true;
  }

  // Hands the finished jobs back, as give does; with all, waits for every
  // job given. A job whose work threw is handed back as the work left it;
  // once every job is back, the first such exception is thrown.
  template <typename Take>
  void takeBack(bool all, Take take) {
    while (all ? out() > 0 : firstDone()) takeOne(take);
    if (all && failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

 private:
  struct Slot {
    Job job;
    bool done = false;
    std::exception_ptr failure;
  };

  std::size_t out() {
    std::lock_guard lock(mutex_);
    return slots_.size();
  }
  bool firstDone() {
    std::lock_guard lock(mutex_);
    return !slots_.empty() && slots_.front().done;
  }

  // Waits for the first job out to finish and hands it to take.
  template <typename Take>
  void takeOne(Take& take) {
    std::unique_lock lock(mutex_);
    jobDone_.wait(lock, [&] { return slots_.front().done; });
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    ++handedBack_;
    lock.unlock();
    if (slot.failure && !failure_) failure_ = slot.failure;
    take(slot.job);
  }

  void doWork(Slot& slot) {
    try {
      work_(slot.job);
    } catch (...) {
      slot.failure = std::current_exception();
    }
  }

  void serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      jobGiven_.wait(lock, [&] { return stop_ || started_ < handedBack_ + slots_.size(); });
      if (stop_) return;
      // A deque keeps its elements in place as jobs come and go at its ends.
      Slot& slot = slots_[started_++ - handedBack_];
      lock.unlock();
      doWork(slot);
      lock.lock();
      slot.done = true;
      jobDone_.notify_all();
    }
  }

  std::function<void(Job&)> work_;
  const std::size_t most_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable jobGiven_, jobDone_;
  std::deque<Slot> slots_;      // given and not handed back, in order
  std::size_t handedBack_ = 0;  // jobs handed back: the first slot's number
  std::size_t started_ = 0;     // the number of the next job to start
  bool stop_ = false;
  std::exception_ptr failure_;
};

}  // namespace doppioni
