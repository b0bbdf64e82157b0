// The Gaussian solver and the excerpts on any doubles, NaN and infinities
// included. Layout: 2 bytes of iteration limit (little-endian, taken modulo
// 300), 4 raw doubles of estimate (height, centre, width, baseline), then
// pairs of raw doubles (time, intensity), at most 512 of them. The fit must
// end within its limit, report success exactly when converged, and keep the
// width and baseline floors on success.
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fit/gaussian_solver.hpp"

namespace {

constexpr std::size_t kMaxPoints = 512;

// Reads a double from the exact-size buffer, or leaves `out` when too few
// bytes are left.
void take(const uint8_t* buf, std::size_t size, std::size_t& at, double& out) {
  if (size - at < sizeof out) return;
  std::memcpy(&out, buf + at, sizeof out);
  at += sizeof out;
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<uint8_t[]> buf(new uint8_t[size == 0 ? 1 : size]);
  std::memcpy(buf.get(), data, size);
  if (size < 2) return 0;
  const int limit = static_cast<int>((buf[0] | (buf[1] << 8)) % 300);
  std::size_t at = 2;
  vx::fit::PeakEstimate est{1, 0, 1, 0};
  take(buf.get(), size, at, est.height);
  take(buf.get(), size, at, est.center);
  take(buf.get(), size, at, est.width);
  take(buf.get(), size, at, est.baseline);
  vx::fit::FitWindow w;
  while (size - at >= 16 && w.times.size() < kMaxPoints) {
    double t = 0.0;
    double y = 0.0;
    take(buf.get(), size, at, t);
    take(buf.get(), size, at, y);
    w.times.push_back(t);
    w.intensities.push_back(y);
  }

  const vx::fit::GaussianFitOutcome o = vx::fit::fit_gaussian_peak(w, est, limit);
  const int clamped = limit < 1 ? 1 : limit;
  if (o.passes < 1 || o.passes > clamped) std::abort();
  if (o.converged != (o.status == vx::fit::FitStatus::kSuccess)) std::abort();
  if (o.converged && (!(o.width >= 1e-6) || o.baseline < 0)) std::abort();

  const vx::fit::FitExcerpts x =
      vx::fit::build_fit_excerpts(w, o.height, o.center, o.width, o.baseline);
  if (w.times.size() == 1 &&
      std::bit_cast<uint64_t>(x.trace[49]) != std::bit_cast<uint64_t>(w.intensities[0])) {
    std::abort();
  }
  return 0;
}
