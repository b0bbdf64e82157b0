// Generated selected-ion traces with known truth for the peak decisions, and
// the fit the chain would run on them: the fit step's own window selection,
// estimates and solver (vx_core), so a decision is judged on the real fit.
// Deterministic: the same seed gives the same trace on every platform (own
// Box–Muller on a fixed 64-bit generator, no library distribution).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "fit/fit_step.hpp"
#include "fit/gaussian_solver.hpp"
#include "peak_decisions.hpp"

namespace vx::testing::peaks {

// Scans every 0.2 s from 0.5 to 1.5 min, baseline 500, noise SD 20, peak σ
// 1.5 s, window ±0.1 min around the target (as examples/targets.tsv uses).
inline constexpr double kScan = 0.2 / 60.0;
inline constexpr double kSigma = 1.5 / 60.0;
inline constexpr double kBaseline = 500.0;
inline constexpr double kNoiseSd = 20.0;
inline constexpr double kTolerance = 0.1;
inline constexpr double kTarget = 1.0;
inline constexpr double kSqrt2Pi = 2.5066282746310002;

// splitmix64: small, fixed, and the same everywhere.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53; }
  double normal() {
    const double u = uniform(), v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
  }

 private:
  std::uint64_t state_;
};

struct Component {
  double height;  // of the Gaussian part (the EMG keeps the same area)
  double center;  // minutes
  double sigma;   // minutes
  double tau;     // minutes, 0 for a Gaussian
  [[nodiscard]] double area() const { return height * sigma * kSqrt2Pi; }
  [[nodiscard]] double at(double t) const {
    if (tau <= 0.0) {
      const double z = (t - center) / sigma;
      return height * std::exp(-0.5 * z * z);
    }
    // Exponentially modified Gaussian of area height·σ·√(2π).
    const double a = area();
    const double x = t - center;
    const double arg = (sigma / tau - x / sigma) / std::sqrt(2.0);
    return a / (2.0 * tau) * std::exp(0.5 * (sigma / tau) * (sigma / tau) - x / tau) *
           std::erfc(arg);
  }
};

struct Trace {
  std::vector<double> t, y;
};

inline Trace make_trace(const std::vector<Component>& peaks, double noise_sd,
                        std::uint64_t seed, double baseline = kBaseline) {
  Rng rng(seed);
  Trace tr;
  for (int i = 0; i <= 300; ++i) {
    const double t = 0.5 + kScan * i;
    double y = baseline + noise_sd * rng.normal();
    for (const auto& c : peaks) y += c.at(t);
    tr.t.push_back(t);
    tr.y.push_back(y);
  }
  return tr;
}

// The fit step's window, estimates and solver, and its outcome as the host's
// FitView (the solver's values on success, none otherwise, as the step reports
// estimates rather than fitted values when unstable).
struct FitResult {
  host::peaks::FitView view;
  double area = 0.0;  // the fitted area, 0 when not converged
  double r_squared = 0.0;
};

inline FitResult fit_like_the_step(const Trace& tr, double target = kTarget,
                                   double tolerance = kTolerance) {
  FitResult r;
  r.view.window_min = target - tolerance;
  r.view.window_max = target + tolerance;
  const auto selected = fit::select_fit_window(tr.t, tr.y, target, tolerance);
  const auto est = fit::estimate_peak(selected, tolerance);
  if (!est.fit_ready) return r;
  const auto out =
      fit::fit_gaussian_peak(selected.window, est.estimate, fit::kDefaultIterationLimit);
  if (out.status != fit::FitStatus::kSuccess) return r;
  r.view.converged = true;
  r.view.center = out.center;
  r.view.height = out.height;
  r.view.width = out.width;
  r.view.baseline = out.baseline;
  r.area = out.area;
  r.r_squared = out.r_squared;
  return r;
}

inline host::peaks::PeakDecision decide(const Trace& tr, const FitResult& fit,
                                        const host::peaks::DecisionOptions& opt = {}) {
  return host::peaks::decide_peak({tr.t, tr.y}, fit.view, opt);
}

}  // namespace vx::testing::peaks
