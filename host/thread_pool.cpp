// The queue and counters are guarded by one mutex; tasks run unlocked.
#include "thread_pool.hpp"

namespace vx::host {

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

}  // namespace vx::host
