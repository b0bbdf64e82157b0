// Least-squares fits of the two shapes a single Gaussian cannot describe: an
// exponentially modified Gaussian (a tailing peak) and two Gaussians of one
// shared width (two coeluting compounds), each on a constant baseline. The
// peak decisions compare their residual sums to tell a tail from a shoulder,
// and report the target component's area. Deterministic (fixed starts, a small
// Levenberg–Marquardt on fixed-size arrays, nothing allocated per iteration),
// never throws; a fit that cannot be made is an empty optional.
#pragma once

#include <array>
#include <optional>
#include <span>

namespace vx::host::peaks {

// Where the fits start: the single-Gaussian fit (minutes, intensities).
struct GaussianStart {
  double center, height, width, baseline;
};

struct EmgFit {
  double baseline, height, center, width, tau;  // height of the Gaussian part
  double rss;                                   // sum of squared residuals
  [[nodiscard]] double area() const;
};

struct TwoGaussianFit {
  double baseline;
  std::array<double, 2> height, center;  // in time order
  double width;                          // shared σ
  double rss;
  // The area of component i (height·σ·√(2π)).
  [[nodiscard]] double area(int i) const;
};

// The EMG of area height·σ·√(2π) at time t (without the baseline); finite for
// every finite input, also far into the exponential tail.
double emg_value(double height, double center, double width, double tau, double t);

// How many starts the two-Gaussian fit tries. kEvery: all seven (the lobe
// start and evenly split pairs at two separations and three height ratios),
// for a fit whose component area is reported. kScreen: the lobe start and the
// close splits of unequal heights, for a yes/no coelution test; about half the
// cost, and on the peaks the decisions are tested on it leaves the same
// verdict as kEvery.
enum class PairStarts { kEvery, kScreen };

// A residual sum the EMG need not go below: reached(rss) holds once
// (rss − reference_rss) / variance > gain has become false, which no lower
// residual sum can make true again.
struct EmgEnough {
  double reference_rss, variance, gain;
  [[nodiscard]] bool reached(double rss) const {
    return !((rss - reference_rss) / variance > gain);
  }
};

// Fits over the given points (pairs with a non-finite value are skipped).
// Empty with fewer than 12 usable points, an unusable start, or no finite
// optimum. Several fixed starts are tried; the lowest residual sum is kept.
std::optional<EmgFit> fit_emg(std::span<const double> t, std::span<const double> y,
                              const GaussianStart& start);
// As above, but a start stops as soon as its residual sum reaches enough, and
// the fit returned then has a residual sum that also reaches it (not the
// minimum): for a caller that only asks whether the EMG leaves more.
std::optional<EmgFit> fit_emg(std::span<const double> t, std::span<const double> y,
                              const GaussianStart& start, const EmgEnough& enough);
std::optional<TwoGaussianFit> fit_two_gaussians(std::span<const double> t,
                                                std::span<const double> y,
                                                const GaussianStart& start,
                                                PairStarts starts = PairStarts::kEvery);

}  // namespace vx::host::peaks
