// A fixed set of worker threads running queued tasks. Jobs go to the back of
// the queue; follow-up work of a job already running (the targets of a file
// that has just been read) goes to the front, so a file's document is used
// and released before the next file is started and memory stays bounded by
// the number of threads. A task that throws does not stop the others: wait()
// rethrows the first exception once the queue is drained.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vx::host::base {

class ThreadPool {
 public:
  // threads == 0 means one per core.
  explicit ThreadPool(unsigned threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  [[nodiscard]] unsigned size() const { return static_cast<unsigned>(workers_.size()); }

  void submit(std::function<void()> task);        // runs after queued work
  void submit_first(std::function<void()> task);  // runs before queued work

  // Runs fn(0) .. fn(n - 1) on the calling thread and on idle workers, and
  // returns once all n have finished, so fn may borrow what lives only in
  // the caller's frame. The caller may itself be one of the workers (it
  // works through the indices rather than waiting for a free worker). The
  // first exception fn threw is rethrown here, after every call finished.
  void run_all(std::size_t n, const std::function<void(std::size_t)>& fn);

  // Blocks until every submitted task (and every task they submitted) has
  // finished; then rethrows the first exception a task threw, if any.
  void wait();

  static unsigned default_threads();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable idle_;
  std::deque<std::function<void()>> queue_;
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::exception_ptr first_error_;
  std::vector<std::thread> workers_;
};

}  // namespace vx::host::base
