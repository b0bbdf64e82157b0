// The decision's shortcuts against the whole decision, on every peak the
// decisions are tested on (generated families and the fit test vectors): the
// coelution screen (the pair fit's few screening starts, when no component
// area is reported) must reach the deconvolving run's decision bit for bit,
// and a detection-only decision the whole one's noise, S/N and detection.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../fit/peak_vectors.hpp"
#include "common/json_scanner.hpp"
#include "peak_decisions.hpp"
#include "peak_traces.hpp"

namespace {

namespace tp = vx::testing::peaks;
using vx::host::peaks::DecisionOptions;
using vx::host::peaks::PeakDecision;

struct Named {
  std::string name;
  tp::Trace trace;
  tp::FitResult fit;
};

// Everything but the component area, which only the deconvolving run reports.
void expect_same_decision(const PeakDecision& screen, const PeakDecision& every) {
  EXPECT_EQ(screen.detected, every.detected);
  EXPECT_EQ(screen.flags, every.flags);
  EXPECT_EQ(screen.noise, every.noise);
  EXPECT_EQ(screen.signal_to_noise, every.signal_to_noise);
  EXPECT_EQ(screen.integrated_area, every.integrated_area);
  EXPECT_EQ(screen.peak_start, every.peak_start);
  EXPECT_EQ(screen.peak_end, every.peak_end);
  EXPECT_EQ(screen.integration_baseline, every.integration_baseline);
  EXPECT_EQ(screen.asymmetry, every.asymmetry);
  EXPECT_EQ(screen.noise_source, every.noise_source);
  EXPECT_EQ(screen.start_kind, every.start_kind);
  EXPECT_EQ(screen.end_kind, every.end_kind);
  EXPECT_EQ(screen.points_across, every.points_across);
}

// Clean, weak, tailing, shouldered and merged peaks and noise alone, on
// several noise draws each: the shapes the shape test exists to tell apart.
std::vector<Named> generated_cases() {
  const double s = tp::kSigma;
  const double h = 50.0 * tp::kNoiseSd;
  struct Family {
    const char* name;
    std::vector<tp::Component> peaks;
  };
  const Family families[] = {
      {"noise", {}},
      {"10 x SD", {{10 * tp::kNoiseSd, 1.0, s, 0}}},
      {"50 x SD", {{h, 1.0, s, 0}}},
      {"tau 0.5", {{h, 1.0, s, 0.5 * s}}},
      {"tau 1", {{h, 1.0, s, 1.0 * s}}},
      {"tau 2", {{h, 1.0, s, 2.0 * s}}},
      {"tau 3", {{h, 1.0, s, 3.0 * s}}},
      {"pair Rs 0.3 1:1", {{h, 1.0, s, 0}, {h, 1.0 + 1.2 * s, s, 0}}},
      {"pair Rs 0.5 1:1", {{h, 1.0, s, 0}, {h, 1.0 + 2 * s, s, 0}}},
      {"pair Rs 0.5 1:0.5", {{h, 1.0, s, 0}, {0.5 * h, 1.0 + 2 * s, s, 0}}},
      {"pair Rs 0.5 1:0.2", {{h, 1.0, s, 0}, {0.2 * h, 1.0 + 2 * s, s, 0}}},
      {"pair Rs 0.8 1:0.5", {{h, 1.0, s, 0}, {0.5 * h, 1.0 + 3.2 * s, s, 0}}},
      {"pair Rs 0.8 0.3:1", {{0.3 * h, 1.0, s, 0}, {h, 1.0 + 3.2 * s, s, 0}}},
      {"earlier shoulder", {{h, 1.0, s, 0}, {0.3 * h, 1.0 - 2.5 * s, s, 0}}},
      {"tail and shoulder", {{h, 1.0, s, 1.5 * s}, {0.3 * h, 1.0 + 4 * s, s, 0}}},
      {"pair Rs 2.5", {{h, 1.0, s, 0}, {h, 1.0 + 10 * s, s, 0}}},
  };
  std::vector<Named> out;
  for (const auto& f : families) {
    for (std::uint64_t seed = 1; seed <= 6; ++seed) {
      auto trace = tp::make_trace(f.peaks, tp::kNoiseSd, 1000 + seed);
      auto fit = tp::fit_like_the_step(trace);
      out.push_back({std::string(f.name) + " seed " + std::to_string(seed),
                     std::move(trace), std::move(fit)});
    }
  }
  return out;
}

// The fit test vectors: Gaussian, counting-noise, tailing and interfered
// peaks of many widths, scan rates and noise levels.
std::vector<Named> vector_cases() {
  std::vector<Named> out;
  const auto vectors =
      vx::testing::load_peak_vectors(std::string(VX_TEST_DATA_DIR) + "/fit/peaks.jsonl");
  for (const auto& v : vectors) {
    tp::Trace trace;
    if (const auto rt = vx::common::find_member_text(v.trace, "retention_time")) {
      trace.t = vx::common::parse_number_list(*rt);
    }
    if (const auto in = vx::common::find_member_text(v.trace, "intensity")) {
      trace.y = vx::common::parse_number_list(*in);
    }
    auto fit = tp::fit_like_the_step(trace, v.target, v.tolerance);
    out.push_back({v.id, std::move(trace), std::move(fit)});
  }
  return out;
}

// Both families, the generated ones first.
std::vector<Named> all_cases() {
  std::vector<Named> cases = generated_cases();
  const std::vector<Named> vectors = vector_cases();
  EXPECT_GE(vectors.size(), 400U) << "the fit test vectors were not found";
  cases.insert(cases.end(), vectors.begin(), vectors.end());
  return cases;
}

TEST(CoelutionScreen, DecidesAsEveryStartDoes) {
  const std::vector<Named> cases = all_cases();
  DecisionOptions screen;
  DecisionOptions every;
  every.deconvolve = true;
  int coeluting = 0, tailing_alone = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PeakDecision a = tp::decide(c.trace, c.fit, screen);
    const PeakDecision b = tp::decide(c.trace, c.fit, every);
    expect_same_decision(a, b);
    if (b.has(vx::host::peaks::kCoelution)) ++coeluting;
    if (b.has(vx::host::peaks::kTailing) && !b.has(vx::host::peaks::kCoelution)) {
      ++tailing_alone;
    }
  }
  // The table holds both verdicts in number, so agreement is not vacuous.
  EXPECT_GE(coeluting, 30);
  EXPECT_GE(tailing_alone, 10);
}

TEST(DetectionOnly, AgreesWithTheWholeDecision) {
  const std::vector<Named> cases = all_cases();
  DecisionOptions only;
  only.detection_only = true;
  // The flags the later stages raise; the rest are detection's.
  const std::uint32_t later = vx::host::peaks::kTailing | vx::host::peaks::kCoelution;
  int detected = 0, not_detected = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PeakDecision a = tp::decide(c.trace, c.fit, only);
    const PeakDecision b = tp::decide(c.trace, c.fit);
    EXPECT_EQ(a.detected, b.detected);
    EXPECT_EQ(a.detection(), b.detection());
    EXPECT_EQ(a.flags, b.flags & ~later);
    EXPECT_EQ(a.noise, b.noise);
    EXPECT_EQ(a.noise_source, b.noise_source);
    EXPECT_EQ(a.signal_to_noise, b.signal_to_noise);
    EXPECT_EQ(a.points_across, b.points_across);
    EXPECT_FALSE(a.integrated_area.has_value());
    ++(b.detected ? detected : not_detected);
  }
  EXPECT_GE(detected, 100);
  EXPECT_GE(not_detected, 10);
}

}  // namespace
