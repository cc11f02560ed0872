#include "tools/ordered_jobs.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Slot {
  bool ready = false;
  Bytes result;
  std::exception_ptr error;
};

class Pool {
 public:
  Pool(const OrderedJobs& jobs, uint64_t budget)
      : jobs_(jobs), budget_(budget), slots_(jobs.count) {
    progress_.totalEntries = jobs.count;
    for (size_t i = 0; i < jobs.count; ++i) progress_.totalBytes += jobs.size(i);
  }

  // Stops the workers after their current job, whatever ended the run.
  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    startable_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  void Start(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }

  void TakeAll(const ProgressSink& progress) {
    PackProgress reported;
    for (size_t next = 0; next < jobs_.count; ++next) {
      Slot slot = WaitFor(next, progress, &reported);
      if (slot.error) std::rethrow_exception(slot.error);
      jobs_.take(next, std::move(slot.result));
      {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ -= jobs_.size(next);
      }
      startable_.notify_all();
    }
  }

 private:
  // Job next's slot once it is ready, every job done by then reported: the
  // last job's slot comes with the totals.
  Slot WaitFor(size_t next, const ProgressSink& progress, PackProgress* reported) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto unreported = [&] { return progress && progress_.entries != reported->entries; };
    for (;;) {
      finished_.wait(lock, [&] { return slots_[next].ready || unreported(); });
      if (!unreported()) break;
      *reported = progress_;
      lock.unlock();
      progress(*reported);
      lock.lock();
    }
    Slot slot = std::move(slots_[next]);
    slots_[next] = Slot();
    return slot;
  }

  void Work() {
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        startable_.wait(lock, [&] {
          return stop_ || started_ == jobs_.count || held_ == 0 ||
                 held_ + jobs_.size(started_) <= budget_;
        });
        if (stop_ || started_ == jobs_.count) return;
        index = started_++;
        held_ += jobs_.size(index);
      }
      Slot slot;
      try {
        slot.result = jobs_.run(index);
      } catch (...) {
        slot.error = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.ready = true;
        slots_[index] = std::move(slot);
        ++progress_.entries;
        progress_.bytes += jobs_.size(index);
        // A failed job ends the run as soon as it is taken; starting more
        // would only delay the message.
        if (slots_[index].error) stop_ = true;
      }
      finished_.notify_one();
    }
  }

  const OrderedJobs& jobs_;
  const uint64_t budget_;
  std::mutex mutex_;
  std::condition_variable startable_, finished_;
  std::vector<Slot> slots_;
  std::vector<std::thread> threads_;
  size_t started_ = 0;
  uint64_t held_ = 0;  // bytes of the jobs started and not yet taken
  bool stop_ = false;
  PackProgress progress_;
};

}  // namespace

unsigned CoreCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

void RunInOrder(const OrderedJobs& jobs, unsigned threads, uint64_t budget,
                const ProgressSink& progress) {
  Pool pool(jobs, budget);
  pool.Start(std::max(1u, std::min<unsigned>(threads, static_cast<unsigned>(jobs.count))));
  pool.TakeAll(progress);
}
