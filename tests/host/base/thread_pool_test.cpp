#include "thread_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace vx::host::base {
namespace {

TEST(ThreadPool, RunsEveryTaskIncludingNestedOnes) {
  for (unsigned threads : {1u, 2u, 4u}) {
    SCOPED_TRACE(threads);
    ThreadPool pool(threads);
    EXPECT_EQ(pool.size(), threads);
    std::vector<std::atomic<int>> hits(200);
    for (int i = 0; i < 100; ++i) {
      pool.submit([&, i] {
        ++hits[static_cast<std::size_t>(i)];
        pool.submit_first([&, i] { ++hits[100 + static_cast<std::size_t>(i)]; });
      });
    }
    pool.wait();
    for (const auto& h : hits) EXPECT_EQ(h.load(), 1);
    // The pool is reusable after wait().
    std::atomic<int> more{0};
    pool.submit([&] { ++more; });
    pool.wait();
    EXPECT_EQ(more.load(), 1);
  }
}

// Follow-up work goes before queued jobs: with one thread, each file's
// targets run before the next file starts, which bounds memory.
TEST(ThreadPool, FollowUpWorkRunsBeforeQueuedJobs) {
  ThreadPool pool(1);
  std::vector<int> order;  // only the single worker touches it
  for (int job = 0; job < 3; ++job) {
    pool.submit([&, job] {
      order.push_back(job * 10);
      for (int k = 1; k <= 2; ++k)
        pool.submit_first([&, job, k] { order.push_back(job * 10 + k); });
    });
  }
  pool.wait();
  // submit_first pushes to the front, so k = 2 runs before k = 1.
  EXPECT_EQ(order, (std::vector<int>{0, 2, 1, 10, 12, 11, 20, 22, 21}));
}

TEST(ThreadPool, AThrowingTaskDoesNotStopTheOthers) {
  ThreadPool pool(2);
  std::atomic<int> done{0};
  for (int i = 0; i < 50; ++i) {
    pool.submit([&, i] {
      if (i == 7) throw std::runtime_error("task 7");
      ++done;
    });
  }
  EXPECT_THROW(pool.wait(), std::runtime_error);
  EXPECT_EQ(done.load(), 49);
  EXPECT_NO_THROW(pool.wait());  // reported once
}

TEST(ThreadPool, DestructionRunsWhatWasQueued) {
  std::atomic<int> done{0};
  {
    ThreadPool pool(2);
    for (int i = 0; i < 20; ++i) pool.submit([&] { ++done; });
  }
  EXPECT_EQ(done.load(), 20);
}

// run_all borrows the caller's data, so it must not return before every
// index ran, exactly once, whether it is called from outside the pool or from
// a task on one of its workers (where it may not wait for a free worker).
TEST(ThreadPool, RunAllRunsEveryIndexOnceBeforeReturning) {
  for (unsigned threads : {1u, 2u, 4u}) {
    for (const bool from_worker : {false, true}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, from a worker: "
                                      << from_worker);
      ThreadPool pool(threads);
      std::vector<std::vector<int>> hits(3);
      const auto job = [&](std::size_t j) {
        std::vector<int> mine(50, 0);  // dies when the job returns
        pool.run_all(mine.size(), [&](std::size_t i) { ++mine[i]; });
        hits[j] = mine;
      };
      if (from_worker) {
        for (std::size_t j = 0; j < hits.size(); ++j) pool.submit([&, j] { job(j); });
        pool.wait();
      } else {
        for (std::size_t j = 0; j < hits.size(); ++j) job(j);
      }
      for (const auto& h : hits) EXPECT_EQ(h, std::vector<int>(50, 1));
      pool.run_all(0, [](std::size_t) { FAIL() << "nothing to run"; });
    }
  }
}

TEST(ThreadPool, RunAllRethrowsOnlyAfterEveryIndexFinished) {
  ThreadPool pool(2);
  std::atomic<int> finished{0};
  EXPECT_THROW(pool.run_all(40,
                            [&](std::size_t i) {
                              if (i % 7 == 3) throw std::runtime_error("bad index");
                              ++finished;
                            }),
               std::runtime_error);
  EXPECT_EQ(finished.load(), 40 - 6);  // 3, 10, 17, 24, 31, 38 threw
  pool.wait();                          // helpers left nothing behind
}

TEST(ThreadPool, ZeroMeansOnePerCore) {
  ThreadPool pool(0);
  EXPECT_EQ(pool.size(), ThreadPool::default_threads());
  EXPECT_GE(pool.size(), 1u);
}

}  // namespace
}  // namespace vx::host::base
