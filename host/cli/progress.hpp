// Progress of a batch on stderr: a bar redrawn in place for a terminal, one
// line per finished file otherwise, or nothing. Safe to call from any thread;
// the batch runner reaches it through its per-file callback.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string_view>

namespace vx::host::cli {

class Progress {
 public:
  enum class Mode { kNone, kLines, kBar };
  Progress(std::FILE* out, Mode mode, std::size_t total);
  void file_done(std::string_view path, std::string_view status);
  void finish();

 private:
  std::mutex mutex_;
  std::FILE* out_;
  Mode mode_;
  std::size_t total_;
  std::size_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace vx::host::cli
