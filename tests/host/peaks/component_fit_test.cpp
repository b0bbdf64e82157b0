// The EMG and two-Gaussian fits on noiseless generated peaks (they must give
// the generating values back from the single fit's start), the EMG's value
// against its area far into the tail, and inputs that must end empty.
#include "component_fit.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "peak_traces.hpp"

namespace {

namespace tp = vx::testing::peaks;
using vx::host::peaks::emg_value;
using vx::host::peaks::EmgEnough;
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

// Every fitted number on noisy traces, bit for bit, as the fits gave them
// before their Jacobian reused exponentials: results tables must not move
// when the arithmetic is made cheaper. A deliberate change to the fits
// updates this table and says so.
TEST(ComponentFit, NoisyFitsAreBitForBitStable) {
  struct Case {
    const char* name;
    std::uint64_t seed;
    std::array<double, 6> emg;   // baseline, height, center, width, tau, rss
    std::array<double, 7> pair;  // baseline, heights, centers, width, rss
  };
  const Case cases[] = {
      {"tailing", 11, {0x1.f25c9ebf884e1p+8, 0x1.f02171b4e10bp+9, 0x1.002ea61e4b7d3p+0, 0x1.9b99baf3c18d8p-6, 0x1.347c146129808p-5, 0x1.6c2e24f5e2284p+15}, {0x1.f3cdbefa1b892p+8, 0x1.4e559f613fd19p+9, 0x1.0065f836119bcp+7, 0x1.0608e6c6425bep+0, 0x1.1855fa8722cb2p+0, 0x1.f8dab6c024d29p-6, 0x1.8662c1084c4a4p+15}},
      {"shoulder", 12, {0x1.e1f99eed4c9c6p+8, 0x1.6d1572f02336ep+10, 0x1.f9c98acb43adap-1, 0x1.c307b49ed00a5p-6, 0x1.09bdbf475b73dp-5, 0x1.3136946d9c1eep+17}, {0x1.f27764c0b1de5p+8, 0x1.f2ea656298d39p+9, 0x1.f81717b287b52p+8, 0x1.ffeebd03410a7p-1, 0x1.0d03336ca84cap+0, 0x1.99b064a7ab1ccp-6, 0x1.2ffeca2cf97e1p+15}},
      {"gaussian", 13, {0x1.f45a29d885769p+8, 0x1.9458016bf5066p+9, 0x1.001997b3af2bfp+0, 0x1.95cb1f3cbb762p-6, 0x1.85bcfedc17998p-19, 0x1.722d6e0e7f6ecp+15}, {0x1.f6ea834b3275ep+8, -0x1.7ec52e112604ep+3, 0x1.93125771e060fp+9, 0x1.ced0789f78362p-1, 0x1.0017b528de30fp+0, 0x1.94f9ada815348p-6, 0x1.67bcb3154fd4ap+15}},
  };
  const double s = tp::kSigma;
  const std::vector<std::vector<tp::Component>> peaks = {
      {{kH, 1.0, s, 1.5 * s}},
      {{kH, 1.0, s, 0.0}, {500.0, 1.0 + 2.0 * s, s, 0.0}},
      {{800.0, 1.0, s, 0.0}}};
  // A start off the truth, as a single fit on a wrong shape would give.
  const GaussianStart g{1.0 + 0.3 * s, 950.0, 1.3 * s, 505.0};
  for (std::size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(c.name);
    const auto tr = around(tp::make_trace(peaks[k], tp::kNoiseSd, c.seed), g);
    const auto e = fit_emg(tr.t, tr.y, g);
    const auto p = fit_two_gaussians(tr.t, tr.y, g);
    ASSERT_TRUE(e && p);
    const std::array<double, 6> emg = {e->baseline, e->height, e->center,
                                       e->width,    e->tau,    e->rss};
    const std::array<double, 7> pair = {p->baseline,  p->height[0], p->height[1],
                                        p->center[0], p->center[1], p->width, p->rss};
    for (std::size_t i = 0; i < emg.size(); ++i) EXPECT_EQ(emg[i], c.emg[i]) << "emg " << i;
    for (std::size_t i = 0; i < pair.size(); ++i) EXPECT_EQ(pair[i], c.pair[i]) << "pair " << i;
  }
}

// An EMG fit told when its residual is enough stops early, but only where
// the verdict it serves, (rss − reference) / variance > gain, is already
// false: on tailing, shouldered and plain peaks and references from far
// below to far above the full fit's residual, the verdict is the full fit's,
// and a fit that never reached the bound is the full fit bit for bit.
TEST(ComponentFit, EmgStopsOnlyWhenTheVerdictIsSettled) {
  const double s = tp::kSigma;
  const std::vector<std::vector<tp::Component>> shapes = {
      {{kH, 1.0, s, 1.5 * s}},
      {{kH, 1.0, s, 0.0}, {500.0, 1.0 + 2.0 * s, s, 0.0}},
      {{kH, 1.0, s, 0.0}}};
  const double variance = tp::kNoiseSd * tp::kNoiseSd;
  int stopped = 0;
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    const auto whole = tp::make_trace(shapes[k], tp::kNoiseSd, 70 + k);
    const GaussianStart g = start_of(whole);
    const auto tr = around(whole, g);
    const auto full = fit_emg(tr.t, tr.y, g);
    ASSERT_TRUE(full);
    for (double offset : {-1e9, -1000.0, -30.0, -25.0, -5.0, 0.0, 5.0, 1000.0}) {
      SCOPED_TRACE(std::to_string(k) + " offset " + std::to_string(offset));
      const EmgEnough enough{full->rss - 25.0 * variance + offset * variance, variance, 25.0};
      const auto early = fit_emg(tr.t, tr.y, g, enough);
      ASSERT_TRUE(early);
      EXPECT_EQ(enough.reached(early->rss), enough.reached(full->rss));
      if (!enough.reached(early->rss)) {
        EXPECT_EQ(early->rss, full->rss);
        EXPECT_EQ(early->tau, full->tau);
      } else if (early->rss != full->rss) {
        ++stopped;
      }
    }
  }
  EXPECT_GT(stopped, 0);  // the bound does cut fits short
}

}  // namespace
