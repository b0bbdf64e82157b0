// The EMG and two-Gaussian fits on noiseless generated peaks (they must give
// the generating values back from the single fit's start), the EMG's value
// against its area far into the tail, and inputs that must end empty.
#include "component_fit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "peak_traces.hpp"

namespace {

namespace tp = vx::testing::peaks;
using vx::host::peaks::emg_value;
using vx::host::peaks::fit_emg;
using vx::host::peaks::fit_two_gaussians;
using vx::host::peaks::GaussianStart;

constexpr double kH = 1000.0;

// The start the decision passes: the step's single Gaussian fit.
GaussianStart start_of(const tp::Trace& tr) {
  const auto f = tp::fit_like_the_step(tr);
  EXPECT_TRUE(f.view.converged);
  return {f.view.center.value_or(1.0), f.view.height.value_or(kH),
          f.view.width.value_or(tp::kSigma), f.view.baseline.value_or(0.0)};
}

// Points within ±6 single-fit widths, as the decision takes them.
tp::Trace around(const tp::Trace& tr, const GaussianStart& g) {
  tp::Trace out;
  for (std::size_t i = 0; i < tr.t.size(); ++i) {
    if (std::fabs(tr.t[i] - g.center) <= 6.0 * g.width) {
      out.t.push_back(tr.t[i]);
      out.y.push_back(tr.y[i]);
    }
  }
  return out;
}

TEST(ComponentFit, EmgValueKeepsItsAreaIntoTheTail) {
  // Trapezoid over ±40 σ at σ/50 steps: the value is finite everywhere and
  // integrates to h·σ·√(2π), also where the direct formula overflows.
  for (double ratio : {1e-7, 0.02, 0.5, 2.0, 8.0}) {
    SCOPED_TRACE(ratio);
    const double s = 1.0, tau = ratio * s;
    double sum = 0.0, prev = emg_value(kH, 0.0, s, tau, -40.0);
    for (int i = 1; i <= 4000 + static_cast<int>(2000 * ratio); ++i) {
      const double t = -40.0 + 0.02 * i;
      const double v = emg_value(kH, 0.0, s, tau, t);
      ASSERT_TRUE(std::isfinite(v)) << t;
      ASSERT_GE(v, 0.0) << t;
      sum += 0.01 * (v + prev);
      prev = v;
    }
    EXPECT_NEAR(sum, kH * s * tp::kSqrt2Pi, 1e-4 * kH * s * tp::kSqrt2Pi);
  }
}

struct ShapeCase {
  const char* name;
  std::vector<tp::Component> peaks;
};

// Each model fits its own shape exactly (residual at rounding level) and gives
// the generating areas back; the other model cannot fit it as closely, which
// is what the coelution test relies on.
TEST(ComponentFit, EachModelFitsItsOwnShape) {
  const double s = tp::kSigma;
  const ShapeCase emgs[] = {
      {"tau/sigma 0.5", {{kH, 1.0, s, 0.5 * s}}},
      {"tau/sigma 2", {{kH, 1.0, s, 2.0 * s}}},
  };
  for (const auto& c : emgs) {
    SCOPED_TRACE(c.name);
    const auto tr = tp::make_trace(c.peaks, 0.0, 1);
    const auto g = start_of(tr);
    const auto pts = around(tr, g);
    const auto emg = fit_emg(pts.t, pts.y, g);
    const auto pair = fit_two_gaussians(pts.t, pts.y, g);
    ASSERT_TRUE(emg && pair);
    EXPECT_NEAR(emg->area(), c.peaks[0].area(), 1e-3 * c.peaks[0].area());
    EXPECT_NEAR(emg->tau, c.peaks[0].tau, 1e-3 * s);
    EXPECT_LT(emg->rss, 1e-3);
    EXPECT_GT(pair->rss, emg->rss);
  }
  const ShapeCase pairs[] = {
      {"Rs 0.5 1:0.5", {{kH, 1.0, s, 0}, {0.5 * kH, 1.0 + 2 * s, s, 0}}},
      {"Rs 0.5 1:1", {{kH, 1.0, s, 0}, {kH, 1.0 + 2 * s, s, 0}}},
      {"Rs 0.8 1:1", {{kH, 1.0, s, 0}, {kH, 1.0 + 3.2 * s, s, 0}}},
  };
  for (const auto& c : pairs) {
    SCOPED_TRACE(c.name);
    const auto tr = tp::make_trace(c.peaks, 0.0, 1);
    const auto g = start_of(tr);
    const auto pts = around(tr, g);
    const auto pair = fit_two_gaussians(pts.t, pts.y, g);
    const auto emg = fit_emg(pts.t, pts.y, g);
    ASSERT_TRUE(pair && emg);
    EXPECT_NEAR(pair->center[0], 1.0, 1e-3 * s);
    EXPECT_NEAR(pair->area(0), c.peaks[0].area(), 1e-3 * c.peaks[0].area());
    EXPECT_NEAR(pair->area(1), c.peaks[1].area(), 1e-3 * c.peaks[1].area());
    // In noise-variance units at the generator's noise SD: far above the gain.
    EXPECT_GT((emg->rss - pair->rss) / (tp::kNoiseSd * tp::kNoiseSd), 100.0);
  }
}

TEST(ComponentFit, UnusableInputsGiveNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto tr = tp::make_trace({{kH, 1.0, tp::kSigma, 0}}, tp::kNoiseSd, 5);
  const GaussianStart good{1.0, kH, tp::kSigma, tp::kBaseline};
  std::vector<double> few_t(tr.t.begin(), tr.t.begin() + 11);
  std::vector<double> few_y(tr.y.begin(), tr.y.begin() + 11);
  std::vector<double> nan_y(tr.y.size(), nan);
  struct Case {
    const char* name;
    std::span<const double> t, y;
    GaussianStart start;
  };
  const Case cases[] = {
      {"11 points", few_t, few_y, good},
      {"all intensities NaN", tr.t, nan_y, good},
      {"zero width", tr.t, tr.y, {1.0, kH, 0.0, tp::kBaseline}},
      {"negative height", tr.t, tr.y, {1.0, -kH, tp::kSigma, tp::kBaseline}},
      {"NaN center", tr.t, tr.y, {nan, kH, tp::kSigma, tp::kBaseline}},
      {"no points", {}, {}, good},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(fit_emg(c.t, c.y, c.start).has_value());
    EXPECT_FALSE(fit_two_gaussians(c.t, c.y, c.start).has_value());
  }
}

}  // namespace
