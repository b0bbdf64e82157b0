// The queue and counters are guarded by one mutex; tasks run unlocked.
#include "thread_pool.hpp"

#include <algorithm>
#include <atomic>
#include <memory>

namespace vx::host::base {

ThreadPool::ThreadPool(unsigned threads) {
  if (threads == 0) threads = default_threads();
  workers_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& t : workers_) t.join();
}

unsigned ThreadPool::default_threads() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

void ThreadPool::submit(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  work_ready_.notify_one();
}

void ThreadPool::submit_first(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_front(std::move(task));
  }
  work_ready_.notify_one();
}

void ThreadPool::run_all(std::size_t n, const std::function<void(std::size_t)>& fn) {
  if (n == 0) return;
  struct Shared {
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable all_done;
    std::size_t done = 0;
    std::exception_ptr error;
  };
  auto shared = std::make_shared<Shared>();
  // A helper that starts after every index was claimed returns at once
  // without touching fn, which may be gone by then: fn is called only for a
  // claimed index, and the caller waits for every claimed call.
  const auto drain = [shared, n, f = &fn] {
    for (std::size_t i; (i = shared->next.fetch_add(1)) < n;) {
      std::exception_ptr error;
      try {
        (*f)(i);
      } catch (...) {
        error = std::current_exception();
      }
      const std::lock_guard lock(shared->mutex);
      if (error && !shared->error) shared->error = error;
      if (++shared->done == n) shared->all_done.notify_all();
    }
  };
  const std::size_t helpers = std::min<std::size_t>(workers_.size(), n) - 1;
  for (std::size_t h = 0; h < helpers; ++h) submit_first(drain);
  drain();
  std::unique_lock lock(shared->mutex);
  shared->all_done.wait(lock, [&] { return shared->done == n; });
  if (shared->error) std::rethrow_exception(shared->error);
}

void ThreadPool::wait() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && running_ == 0; });
  if (first_error_) {
    std::exception_ptr e = first_error_;
    first_error_ = nullptr;
    std::rethrow_exception(e);
  }
}

void ThreadPool::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    work_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    // Pending tasks still run when the pool is destroyed, so that nothing
    // submitted is silently dropped.
    if (queue_.empty()) return;
    std::function<void()> task = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    try {
      task();
    } catch (...) {
      const std::lock_guard relock(mutex_);
      if (!first_error_) first_error_ = std::current_exception();
    }
    task = nullptr;  // release what the task captured before reporting idle
    lock.lock();
    --running_;
    if (queue_.empty() && running_ == 0) idle_.notify_all();
  }
}

}  // namespace vx::host::base
