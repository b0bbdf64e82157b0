// The Gaussian solver and the excerpts on their own: the documented courses of
// a fit, the held baseline bound, retries after a rejected pass, the floors,
// and noise-free peaks fitted back from the step's own estimates.
#include "fit/gaussian_solver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "fit/fit_step.hpp"

namespace {

using vx::fit::build_fit_excerpts;
using vx::fit::estimate_peak;
using vx::fit::fit_gaussian_peak;
using vx::fit::FitStatus;
using vx::fit::FitWindow;
using vx::fit::GaussianFitOutcome;
using vx::fit::kExcerptPoints;
using vx::fit::PeakEstimate;
using vx::fit::select_fit_window;

struct Peak {
  double height;
  double center;
  double sigma;
  double baseline;
};

// Noise-free samples of the peak at first, first + step, ... up to last.
FitWindow sample(const Peak& p, double first, double step, double last) {
  FitWindow w;
  for (int i = 0;; ++i) {
    const double t = first + step * i;
    if (t > last + step * 1e-9) break;
    const double d = t - p.center;
    w.times.push_back(t);
    w.intensities.push_back(p.height * std::exp(-(d * d) / (2 * p.sigma * p.sigma)) +
                            p.baseline);
  }
  return w;
}

// The estimates the fit step would start from for a window centred on target.
PeakEstimate step_estimate(const FitWindow& w, double target, double tolerance) {
  const auto selected = select_fit_window(w.times, w.intensities, target, tolerance);
  return estimate_peak(selected, tolerance).estimate;
}

// The worst relative error of the fitted values; the baseline on the scale
// of the height, since a true baseline of 0 has no scale of its own.
double worst_error(const GaussianFitOutcome& o, const Peak& p) {
  const auto rel = [](double got, double want) { return std::fabs(got - want) / want; };
  return std::max({rel(o.height, p.height), rel(o.center, p.center),
                   rel(o.width, p.sigma),
                   std::fabs(o.baseline - p.baseline) / std::max(p.height, p.baseline)});
}

constexpr Peak kExample{100, 5, 0.1, 10};
FitWindow example_window() { return sample(kExample, 4.5, 0.01, 5.5); }

TEST(GaussianSolver, NoiseFreeExampleSucceedsAfterFourPasses) {
  const FitWindow w = example_window();
  ASSERT_EQ(w.times.size(), 101u);
  const GaussianFitOutcome o = fit_gaussian_peak(w, step_estimate(w, 5, 0.5), 100);
  EXPECT_EQ(o.status, FitStatus::kSuccess);
  EXPECT_TRUE(o.converged);
  EXPECT_EQ(o.passes, 4);
  EXPECT_LE(worst_error(o, kExample), 1e-9);
  EXPECT_NEAR(o.area, 25.0663, 0.00005);
  EXPECT_EQ(o.area, 2.5066282746310002 * (o.width * o.height));
  EXPECT_NEAR(o.r_squared, 1.0, 1e-12);
}

TEST(GaussianSolver, PassLimitEndsTheFit) {
  // The example needs 4 passes: any lower limit ends it unstable at the limit.
  const FitWindow w = example_window();
  const PeakEstimate e = step_estimate(w, 5, 0.5);
  const struct {
    int limit;
    FitStatus status;
    int passes;
  } cases[] = {{1, FitStatus::kUnstable, 1},     {2, FitStatus::kUnstable, 2},
               {3, FitStatus::kUnstable, 3},     {4, FitStatus::kSuccess, 4},
               {0, FitStatus::kUnstable, 1},     {-5, FitStatus::kUnstable, 1},
               {1000000, FitStatus::kSuccess, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.limit);
    const GaussianFitOutcome o = fit_gaussian_peak(w, e, c.limit);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.converged, c.status == FitStatus::kSuccess);
    EXPECT_EQ(o.passes, c.passes);
  }
}

TEST(GaussianSolver, EstimatesAtTheOptimumSucceedInOnePass) {
  const FitWindow w = example_window();
  const PeakEstimate at_optimum{100, 5, 0.1, 10};
  for (const int limit : {1, 100}) {
    const GaussianFitOutcome o = fit_gaussian_peak(w, at_optimum, limit);
    EXPECT_EQ(o.status, FitStatus::kSuccess);
    EXPECT_EQ(o.passes, 1);
    EXPECT_LE(worst_error(o, kExample), 1e-12);
  }
}

TEST(GaussianSolver, AllNegativeWindowEndsAtTheDampingLimit) {
  // One accepted pass lifts B from -1 to 0; no point with B >= 0 can beat the
  // starting RMS, so 27 rejections double the damping past its limit.
  FitWindow w;
  for (int i = 0; i < 11; ++i) {
    w.times.push_back(1.0 + 0.1 * i);
    w.intensities.push_back(-4);
  }
  const auto selected = select_fit_window(w.times, w.intensities, 1.5, 0.5);
  const auto est = estimate_peak(selected, 0.5);
  ASSERT_TRUE(est.fit_ready);
  EXPECT_EQ(est.estimate.height, 4);
  EXPECT_EQ(est.estimate.center, 1.0);
  EXPECT_EQ(est.estimate.baseline, -4);
  const GaussianFitOutcome o = fit_gaussian_peak(selected.window, est.estimate, 100);
  EXPECT_EQ(o.status, FitStatus::kUnstable);
  EXPECT_FALSE(o.converged);
  EXPECT_EQ(o.passes, 28);
  EXPECT_EQ(fit_gaussian_peak(selected.window, est.estimate, 20).passes, 20);
}

TEST(GaussianSolver, NonFiniteFirstRmsEndsUnstableWithoutRetry) {
  // Nothing was accepted, so there is no point to retry from: only the damping
  // grows, 27 doublings from 0.01, or the pass limit comes first.
  const FitWindow w = example_window();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const PeakEstimate bad_center{100, nan, 0.1, 10};
  EXPECT_EQ(fit_gaussian_peak(w, bad_center, 100).passes, 27);
  EXPECT_EQ(fit_gaussian_peak(w, bad_center, 100).status, FitStatus::kUnstable);
  EXPECT_EQ(fit_gaussian_peak(w, bad_center, 10).passes, 10);
  const PeakEstimate infinite_height{std::numeric_limits<double>::infinity(), 5, 0.1, 10};
  EXPECT_EQ(fit_gaussian_peak(w, infinite_height, 100).status, FitStatus::kUnstable);
}

TEST(GaussianSolver, BaselineBelowZeroIsHeldOnItsFloor) {
  // The optimum wants B = -5. The first accepted step lifts the negative
  // baseline estimate to 0; from then on the step is solved with the
  // baseline held there, so the fit settles instead of running to the limit.
  const Peak below{200, 12, 0.05, -5};
  const FitWindow w = sample(below, 11.8, 0.005, 12.2);
  const PeakEstimate e = step_estimate(w, 12, 0.2);
  ASSERT_LT(e.baseline, 0);
  const GaussianFitOutcome o = fit_gaussian_peak(w, e, 100);
  EXPECT_EQ(o.status, FitStatus::kSuccess);
  EXPECT_LT(o.passes, 50);
  EXPECT_EQ(o.baseline, 0.0);
  EXPECT_NEAR(o.center, 12, 1e-9);
}

TEST(GaussianSolver, RejectedPassRetriesFromTheLastAcceptedPoint) {
  // One scan per two widths: the first step overshoots and several passes
  // are rejected before a retry with more damping lowers the RMS.
  for (const double baseline : {0.0, 10.0}) {
    SCOPED_TRACE(baseline);
    const Peak sparse{100, 5, 0.1, baseline};
    const FitWindow w = sample(sparse, 4.5, 0.2, 5.5);
    ASSERT_EQ(w.times.size(), 6u);
    const GaussianFitOutcome o = fit_gaussian_peak(w, step_estimate(w, 5, 0.5), 100);
    EXPECT_EQ(o.status, FitStatus::kSuccess);
    EXPECT_GT(o.passes, 4);
    // Steps below 1e-6 of the scaled height end the fit; with this little
    // data the damping keeps convergence linear, so the last digits lag.
    EXPECT_LE(worst_error(o, sparse), 1e-7);
  }
}

TEST(GaussianSolver, NegativeAmplitudeStepHalvesTheAmplitude) {
  const FitWindow w = example_window();
  // Started beside the peak, the step would make A negative; it is halved
  // instead while the centre and width still move, and the fit finds the peak.
  const GaussianFitOutcome recovered = fit_gaussian_peak(w, {100, 5.2, 0.1, 10}, 100);
  EXPECT_EQ(recovered.status, FitStatus::kSuccess);
  EXPECT_LE(worst_error(recovered, kExample), 1e-9);
  // Started narrow and beside it, the width falls to its floor between two
  // samples; three halvings are then all that is left of the height.
  const GaussianFitOutcome collapsed = fit_gaussian_peak(w, {100, 5.25, 0.02, 10}, 100);
  EXPECT_EQ(collapsed.status, FitStatus::kSuccess);
  EXPECT_EQ(collapsed.width, 1e-6);
  EXPECT_EQ(collapsed.height, 12.5);
}

TEST(GaussianSolver, PeaksLowerThanOneFitInTraceUnits) {
  // A peak lower than 1 is fitted in trace units (the scale stays 1) and
  // comes back as well as a tall one.
  const Peak small{0.5, 5, 0.1, 0.05};
  const FitWindow w = sample(small, 4.5, 0.01, 5.5);
  const GaussianFitOutcome o = fit_gaussian_peak(w, step_estimate(w, 5, 0.5), 100);
  EXPECT_EQ(o.status, FitStatus::kSuccess);
  EXPECT_LE(worst_error(o, small), 1e-9);
}

// Noise-free peaks from known parameters come back from the step's own
// estimates: widths, sampling steps down to one scan per two widths, target
// offsets within the peak, baselines of 0 and above. With two scans per width
// or more they come back within 1e-9. Sparser data leave the damped fit
// converging linearly when its steps drop below the 1e-6 stopping rule, so
// the last digits lag (about 1e-7 at one scan per two widths).
TEST(GaussianSolver, NoiseFreePeaksFitBack) {
  double worst_dense = 0.0;
  double worst_sparse = 0.0;
  int fits = 0;
  for (const double sigma : {0.004, 0.02, 0.05, 0.3}) {
    for (const double scans_per_sigma : {10.0, 4.0, 2.0, 1.0, 0.5}) {
      for (const double phase : {0.0, 0.37, 0.5}) {
        for (const double target_offset : {-1.0, 0.0, 0.6}) {
          for (const double baseline : {0.0, 40.0}) {
            for (const double height : {30.0, 1000.0, 2e5}) {
              const Peak p{height, 17.5, sigma, baseline};
              const double step = sigma / scans_per_sigma;
              const double tolerance = 8 * sigma;
              const double target = p.center + target_offset * sigma;
              const double first =
                  p.center - (std::floor(10 * scans_per_sigma) - phase) * step;
              const FitWindow all = sample(p, first, step, p.center + 10 * sigma);
              const auto selected =
                  select_fit_window(all.times, all.intensities, target, tolerance);
              const auto est = estimate_peak(selected, tolerance);
              ASSERT_TRUE(est.fit_ready);
              const GaussianFitOutcome o =
                  fit_gaussian_peak(selected.window, est.estimate, 100);
              ++fits;
              SCOPED_TRACE(::testing::Message()
                           << "sigma " << sigma << " scans/sigma " << scans_per_sigma
                           << " phase " << phase << " offset " << target_offset
                           << " baseline " << baseline << " height " << height);
              ASSERT_EQ(o.status, FitStatus::kSuccess);
              const double err = worst_error(o, p);
              if (scans_per_sigma >= 2) {
                worst_dense = std::max(worst_dense, err);
                EXPECT_LE(err, 1e-9);
              } else {
                worst_sparse = std::max(worst_sparse, err);
                EXPECT_LE(err, 1e-6);
              }
            }
          }
        }
      }
    }
  }
  std::printf(
      "noise-free peaks: %d fits, worst relative error %.2g with 2 or more scans "
      "per sigma, %.2g with fewer\n",
      fits, worst_dense, worst_sparse);
}

TEST(FitExcerpts, OnePointWindowRepeatsItsPoint) {
  const FitWindow w{{3.25}, {7.5}};
  const auto x = build_fit_excerpts(w, 2, 3.25, 0.1, 1);
  for (std::size_t j = 0; j < kExcerptPoints; ++j) {
    EXPECT_EQ(x.times[j], 3.25);
    EXPECT_EQ(x.trace[j], 7.5);
    EXPECT_EQ(x.curve[j], 3.0);
  }
}

TEST(FitExcerpts, EqualTimesGiveTheFirstIntensity) {
  const FitWindow w{{2, 2, 2}, {5, 9, 1}};
  const auto x = build_fit_excerpts(w, 0, 0, 0, 0);
  for (std::size_t j = 0; j < kExcerptPoints; ++j) {
    EXPECT_EQ(x.times[j], 2);
    EXPECT_EQ(x.trace[j], 5);
  }
}

TEST(FitExcerpts, GridRunsFromTheSmallestToTheLargestTime) {
  const FitWindow w{{0.7, 0.1, 0.4}, {1, 2, 3}};
  const auto x = build_fit_excerpts(w, 0, 0, 1, 0);
  EXPECT_EQ(x.times[0], 0.1);
  for (std::size_t j = 0; j < kExcerptPoints; ++j) {
    EXPECT_EQ(x.times[j], (static_cast<double>(j) * (0.7 - 0.1)) / 49 + 0.1);
  }
  EXPECT_NEAR(x.times[49], 0.7, 1e-15);
}

TEST(FitExcerpts, TraceIsInterpolatedSegmentBySegmentInWindowOrder) {
  // Grid times are 3j/49. The segment search walks the window in its own
  // order: up to time 2 the segment (0, 2) is used, past it the segment from
  // the third point (time 1) to the fourth (time 3).
  const FitWindow w{{0, 2, 1, 3}, {0, 20, 0, 30}};
  const auto x = build_fit_excerpts(w, 0, 0, 1, 0);
  for (std::size_t j = 0; j < kExcerptPoints; ++j) {
    SCOPED_TRACE(j);
    const double tau = x.times[j];
    const double want = tau <= 2 ? (tau / 2) * 20 : ((tau - 1) / 2) * 30;
    EXPECT_EQ(x.trace[j], want);
  }
  EXPECT_EQ(x.trace[49], 30);
}

TEST(FitExcerpts, CurveWidthIsNeverBelowTheFloor) {
  // Times 0 and 49 put the grid on whole numbers; a zero, negative or tiny
  // width draws a spike only at the centre, never a division by zero.
  const FitWindow w{{0, 49}, {0, 0}};
  for (const double width : {0.0, -1.0, 5e-7, 1e-6}) {
    SCOPED_TRACE(width);
    const auto x = build_fit_excerpts(w, 8, 10, width, 2);
    for (std::size_t j = 0; j < kExcerptPoints; ++j) {
      EXPECT_EQ(x.curve[j], j == 10 ? 10.0 : 2.0);
    }
  }
  const auto wide = build_fit_excerpts(w, 8, 10, 2, 2);
  EXPECT_EQ(wide.curve[12], std::exp((-0.5 * 1.0) * 1.0) * 8 + 2);
}

}  // namespace
