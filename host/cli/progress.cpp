#include "progress.hpp"

#include <string>

namespace vx::host::cli {

Progress::Progress(std::FILE* out, Mode mode, std::size_t total)
    : out_(out), mode_(mode), total_(total), start_(std::chrono::steady_clock::now()) {}

void Progress::file_done(std::string_view path, std::string_view status) {
  if (mode_ == Mode::kNone) return;
  const std::lock_guard lock(mutex_);
  ++done_;
  if (mode_ == Mode::kLines) {
    std::fprintf(out_, "[%zu/%zu] %.*s: %.*s\n", done_, total_,
                 static_cast<int>(path.size()), path.data(),
                 static_cast<int>(status.size()), status.data());
    std::fflush(out_);
    return;
  }
  constexpr std::size_t kBarWidth = 30;
  const std::size_t filled = total_ == 0 ? kBarWidth : done_ * kBarWidth / total_;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0.0;
  std::string bar(filled, '#');
  bar.append(kBarWidth - filled, '.');
  std::fprintf(out_, "\r[%s] %zu/%zu files  %.1f files/s ", bar.c_str(), done_, total_,
               rate);
  std::fflush(out_);
}

void Progress::finish() {
  if (mode_ != Mode::kBar) return;
  const std::lock_guard lock(mutex_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace vx::host::cli
