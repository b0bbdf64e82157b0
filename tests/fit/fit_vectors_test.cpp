// The fit step on 400 realistic peaks (Gaussian, counting noise, tailing,
// neighbouring peaks) through its real entry: agreement with the reference
// solver run on the same points, and accuracy against the generating truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "fit_run.hpp"
#include "peak_vectors.hpp"
#include "test_support.hpp"

namespace {

using vx::testing::FitRun;
using vx::testing::PeakVector;
using vx::testing::run_fit_step;

double relative_error(double got, double want) {
  const double scale = std::max(std::fabs(got), std::fabs(want));
  return scale == 0.0 ? 0.0 : std::fabs(got - want) / scale;
}

const std::vector<PeakVector>& vectors() {
  static const std::vector<PeakVector> loaded =
      vx::testing::load_peak_vectors(vx::testing::test_data("fit/peaks.jsonl").string());
  return loaded;
}

FitRun run_vector(const PeakVector& v) {
  return run_fit_step(v.target, v.tolerance, v.iteration_limit, v.trace);
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const auto at =
      static_cast<std::size_t>(std::lround(p * static_cast<double>(values.size() - 1)));
  return values[at];
}

TEST(FitVectors, StepAgreesWithTheReferenceSolver) {
  const auto& all = vectors();
  ASSERT_EQ(all.size(), 400u);
  int same_passes = 0;
  double worst_estimate = 0.0;
  double worst_fit = 0.0;
  for (const PeakVector& v : all) {
    SCOPED_TRACE(v.id);
    const FitRun run = run_vector(v);
    ASSERT_EQ(run.status, 0);
    const auto& ref = v.reference;
    const bool success = ref.outcome == "success";
    EXPECT_EQ(run.status_text(), success ? "success" : "unstable_fit");

    const double estimates[][2] = {
        {run.diagnostic("gcms.fit.initial_height_estimate"), ref.estimate.height},
        {run.diagnostic("gcms.fit.initial_center_estimate"), ref.estimate.center},
        {run.diagnostic("gcms.fit.initial_width_estimate"), ref.estimate.width},
        {run.diagnostic("gcms.fit.initial_baseline_estimate"), ref.estimate.baseline},
    };
    for (const auto& e : estimates) {
      worst_estimate = std::max(worst_estimate, relative_error(e[0], e[1]));
      EXPECT_LE(relative_error(e[0], e[1]), 1e-12) << e[0] << " vs " << e[1];
    }

    if (run.number("solver_iterations") == ref.passes) ++same_passes;
    if (!success) continue;
    // The baseline is compared on the scale of the peak: a fitted baseline
    // of 0 against 1e-15 is agreement, not a relative error of 1.
    const double fitted[][3] = {
        {run.number("peak_height"), ref.height, ref.height},
        {run.number("fitted_retention_time"), ref.center, ref.center},
        {run.number("peak_width"), ref.width, ref.width},
        {run.number("baseline"), ref.baseline, std::max(ref.baseline, ref.height)},
        {run.number("peak_area"), ref.area, ref.area},
        {run.number("r_squared"), ref.r_squared, ref.r_squared},
    };
    for (const auto& f : fitted) {
      const double err = std::fabs(f[0] - f[1]) / std::fabs(f[2]);
      worst_fit = std::max(worst_fit, err);
      EXPECT_LE(err, 1e-8) << f[0] << " vs " << f[1];
    }
  }
  std::printf(
      "reference agreement: passes equal on %d of %zu lines; worst relative error "
      "%.3g (estimates), %.3g (fitted values)\n",
      same_passes, all.size(), worst_estimate, worst_fit);
  EXPECT_GE(same_passes * 100, static_cast<int>(all.size()) * 99);
}

TEST(FitVectors, GaussianAndCountingNoisePeaksFitTheirTruth) {
  std::vector<double> area_errors;
  for (const PeakVector& v : vectors()) {
    if (v.category != "gauss" && v.category != "poisson") continue;
    SCOPED_TRACE(v.id);
    const FitRun run = run_vector(v);
    ASSERT_EQ(run.status_text(), "success");
    area_errors.push_back(std::fabs(run.number("peak_area") - v.truth.area) /
                          v.truth.area);
  }
  ASSERT_EQ(area_errors.size(), 200u);
  const double median = percentile(area_errors, 0.5);
  const double p95 = percentile(area_errors, 0.95);
  std::printf(
      "area error against truth over %zu peaks: median %.3f %%, 95th percentile "
      "%.3f %%\n",
      area_errors.size(), 100 * median, 100 * p95);
  EXPECT_LT(median, 0.005);
  EXPECT_LT(p95, 0.06);
}

}  // namespace
