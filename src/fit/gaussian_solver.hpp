// The Gaussian peak solver: a damped Gauss-Newton (Levenberg-Marquardt kind)
// fit of A*exp(-0.5*z^2) + B, z = (t - mu) / sigma, to a window of points, and
// the 50-point excerpts of trace and curve for the result document. Pure
// functions on doubles: no I/O, no state between calls, nothing thrown
// except allocation failure; a pass of the fit allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace vx::fit {

// The points to fit, in trace order (never sorted); both sequences have the
// same length.
struct FitWindow {
  std::vector<double> times;
  std::vector<double> intensities;
};

// Start values of a fit, in trace units. width is a standard deviation.
struct PeakEstimate {
  double height = 0.0;
  double center = 0.0;
  double width = 0.0;
  double baseline = 0.0;
};

enum class FitStatus { kSuccess, kUnstable };

// How a fit ended. The fitted values are meaningful only on success.
struct GaussianFitOutcome {
  FitStatus status = FitStatus::kUnstable;
  int passes = 0;  // passes run, rejected ones included
  bool converged = false;
  double height = 0.0;
  double center = 0.0;
  double width = 0.0;
  double baseline = 0.0;
  double area = 0.0;
  double r_squared = 0.0;
};

inline constexpr std::size_t kExcerptPoints = 50;

// The excerpt grid across the window and the trace and curve sampled on it.
struct FitExcerpts {
  std::array<double, kExcerptPoints> times{};
  std::array<double, kExcerptPoints> trace{};
  std::array<double, kExcerptPoints> curve{};
};

inline constexpr int kMinIterationLimit = 1;
inline constexpr int kMaxIterationLimit = 10000;

// Fits the window from the estimate in at most iteration_limit passes
// (clamped to 1 ... 10000). Meant for windows of at least 4 points and a
// height estimate above 0; other input gives some outcome, never a fault.
GaussianFitOutcome fit_gaussian_peak(const FitWindow& window,
                                     const PeakEstimate& estimate, int iteration_limit);

// The trace (linear interpolation in window order) and the curve with the
// given values, sampled at 50 evenly spaced times from the smallest to the
// largest window time. An empty window gives all zeros.
FitExcerpts build_fit_excerpts(const FitWindow& window, double height, double center,
                               double width, double baseline);

}  // namespace vx::fit
