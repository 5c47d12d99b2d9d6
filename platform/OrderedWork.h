#pragma once

// Work spread over every core and taken back in the order it was handed in.

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvald {

// Runs jobs on worker threads, one per core, and hands their results back in
// the order the jobs were added. A job's exception comes back from Take in its
// place. Jobs added and not yet taken are bounded by a count and by their
// bytes, so that memory stays bounded; a job too large for the byte bound is
// let in alone. Going away stops the workers: jobs not started are dropped, and
// those under way finish first. The jobs themselves must touch nothing that
// the thread that adds them uses meanwhile.
template <typename Result>
class OrderedWork {
 public:
  // Up to two jobs a worker, so that each has the next at hand, and
  // `maxBytes` of them.
  explicit OrderedWork(std::uint64_t maxBytes) : maxJobs_(2 * WorkerCount()), maxBytes_(maxBytes) {
    for (unsigned i = 0; i < WorkerCount(); ++i) workers_.emplace_back([this] { Work(); });
  }

  ~OrderedWork() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    workers_.clear();
  }

  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  // Whether a job of `bytes` bytes may be added now.
  bool HasRoomFor(std::uint64_t bytes) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty() || (jobs_.size() < maxJobs_ && bytes_ + bytes <= maxBytes_);
  }

  bool Empty() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return jobs_.empty();
  }

  // Waits at most `timeout` for the oldest job; whether it is done, so that
  // Take returns without waiting.
  bool AwaitNext(std::chrono::nanoseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    assert(!jobs_.empty());
    return done_.wait_for(lock, timeout, [this] { return jobs_.front()->done; });
  }

  // Adds a job of about `bytes` bytes; only where HasRoomFor allows it.
  void Add(std::function<Result()> job, std::uint64_t bytes) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(std::make_shared<Job>(std::move(job), bytes));
      bytes_ += bytes;
    }
    wake_.notify_all();
  }

  // The result of the oldest job, once it is done; its exception, if it threw.
  Result Take() {
    std::shared_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      assert(!jobs_.empty());
      done_.wait(lock, [this] { return jobs_.front()->done; });
      job = std::move(jobs_.front());
      jobs_.pop_front();
      bytes_ -= job->bytes;
    }
    if (job->failure) std::rethrow_exception(job->failure);
    return std::move(*job->result);
  }

 private:
  // One worker a core.
  static unsigned WorkerCount() { return std::max(1u, std::thread::hardware_concurrency()); }

  struct Job {
    Job(std::function<Result()> work, std::uint64_t size) : run(std::move(work)), bytes(size) {}
    std::function<Result()> run;
    std::uint64_t bytes;
    bool started = false;
    bool done = false;
    std::optional<Result> result;
    std::exception_ptr failure;
  };

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::shared_ptr<Job> job;
      wake_.wait(lock, [&] {
        if (stopping_) return true;
        for (const std::shared_ptr<Job>& waiting : jobs_) {
          if (!waiting->started) {
            job = waiting;
            return true;
          }
        }
        return false;
      });
      if (stopping_) return;
      job->started = true;
      lock.unlock();
      std::optional<Result> result;
      std::exception_ptr failure;
      try {
        result.emplace(job->run());
      } catch (...) {
        failure = std::current_exception();
      }
      job->run = nullptr;
      lock.lock();
      job->result = std::move(result);
      job->failure = failure;
      job->done = true;
      done_.notify_all();
    }
  }

  const std::size_t maxJobs_;
  const std::uint64_t maxBytes_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::deque<std::shared_ptr<Job>> jobs_;
  std::uint64_t bytes_ = 0;
  bool stopping_ = false;
  // Last, so that the workers are joined before anything they use goes.
  std::vector<std::jthread> workers_;
};

}  // namespace corvald
