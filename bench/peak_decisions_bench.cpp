// Peak decisions measured against generated truth: noise-only windows, a
// height ladder, coeluting pairs and tailing (EMG) peaks, each fitted by the
// fit step's own solver and then decided. Prints markdown tables: the
// candidate thresholds and coelution gains that chose the defaults, each
// family with the default options, and last the targets with met / NOT MET.
// Not timed; deterministic (fixed seeds). Build it in release: the shape
// test's fits make a debug run of 200 replicates take minutes.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "peak_traces.hpp"

namespace {

namespace tp = vx::testing::peaks;
using vx::host::peaks::BoundKind;
using vx::host::peaks::DecisionOptions;
using vx::host::peaks::PeakDecision;

double quantile(std::vector<double> v, double q) {
  if (v.empty()) return std::nan("");
  std::sort(v.begin(), v.end());
  const auto i = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

double pct(int k, int n) { return n > 0 ? 100.0 * k / n : 0.0; }

struct Case {
  tp::Trace trace;
  tp::FitResult fit;
  double truth_area = 0.0;
  double truth_height = 0.0;
};

std::uint64_t seed_of(int family, int level, int rep) {
  const long long mixed = 0x5EED0000LL + family * 1000003LL + level * 10007LL + rep;
  return static_cast<std::uint64_t>(mixed);
}

Case make(const std::vector<tp::Component>& peaks, std::uint64_t seed) {
  Case c;
  c.trace = tp::make_trace(peaks, tp::kNoiseSd, seed);
  c.fit = tp::fit_like_the_step(c.trace);
  if (!peaks.empty()) {
    c.truth_area = peaks.front().area();
    c.truth_height = peaks.front().height;
  }
  return c;
}

// Sub-scan jitter of the centre so the sampling phase varies between replicates.
double jitter(std::uint64_t seed) {
  tp::Rng r(seed ^ 0xABCDEFULL);
  return (r.uniform() - 0.5) * tp::kScan;
}

std::vector<Case> noise_cases(int n) {
  std::vector<Case> out;
  for (int i = 0; i < n; ++i) out.push_back(make({}, seed_of(1, 0, i)));
  return out;
}

std::vector<Case> ladder_cases(double k, int n) {
  std::vector<Case> out;
  for (int i = 0; i < n; ++i) {
    const auto s = seed_of(2, static_cast<int>(k * 10), i);
    out.push_back(
        make({{k * tp::kNoiseSd, tp::kTarget + jitter(s), tp::kSigma, 0.0}}, s));
  }
  return out;
}

std::vector<Case> pair_cases(double rs, double ratio, int n) {
  std::vector<Case> out;
  const double h = 50.0 * tp::kNoiseSd;
  for (int i = 0; i < n; ++i) {
    const auto s = seed_of(3, static_cast<int>(rs * 10 + ratio * 1000), i);
    const double c1 = tp::kTarget + jitter(s);
    const double c2 = c1 + rs * 4.0 * tp::kSigma;
    out.push_back(make({{h, c1, tp::kSigma, 0.0}, {ratio * h, c2, tp::kSigma, 0.0}}, s));
  }
  return out;
}

std::vector<Case> emg_cases(double tau_per_sigma, int n) {
  std::vector<Case> out;
  const double h = 50.0 * tp::kNoiseSd;
  for (int i = 0; i < n; ++i) {
    const auto s = seed_of(4, static_cast<int>(tau_per_sigma * 10), i);
    out.push_back(
        make({{h, tp::kTarget + jitter(s), tp::kSigma, tau_per_sigma * tp::kSigma}}, s));
  }
  return out;
}

struct Summary {
  int n = 0, converged = 0, detected = 0, coelution = 0, tailing = 0, valley = 0;
  std::vector<double> sn_ratio, fit_err, int_err, asym, sn, comp_err;
};

Summary summarise(const std::vector<Case>& cases, const DecisionOptions& opt) {
  Summary s;
  for (const auto& c : cases) {
    const PeakDecision d = tp::decide(c.trace, c.fit, opt);
    ++s.n;
    if (c.fit.view.converged) ++s.converged;
    if (d.detected) ++s.detected;
    if (d.has(vx::host::peaks::kCoelution)) ++s.coelution;
    if (d.has(vx::host::peaks::kTailing)) ++s.tailing;
    if (d.start_kind == BoundKind::kValley || d.end_kind == BoundKind::kValley)
      ++s.valley;
    if (d.signal_to_noise) {
      s.sn.push_back(*d.signal_to_noise);
      if (c.truth_height > 0)
        s.sn_ratio.push_back(*d.signal_to_noise / (c.truth_height / tp::kNoiseSd));
    }
    if (c.truth_area > 0 && c.fit.view.converged) {
      s.fit_err.push_back(100.0 * (c.fit.area - c.truth_area) / c.truth_area);
    }
    if (c.truth_area > 0 && d.integrated_area) {
      s.int_err.push_back(100.0 * (*d.integrated_area - c.truth_area) / c.truth_area);
    }
    if (d.asymmetry) s.asym.push_back(*d.asymmetry);
    if (c.truth_area > 0 && d.component_area) {
      s.comp_err.push_back(100.0 * (*d.component_area - c.truth_area) / c.truth_area);
    }
  }
  return s;
}

std::string range(const std::vector<double>& v, const char* fmt = "%.1f") {
  if (v.empty()) return "–";
  char a[32], b[32], m[32];
  std::snprintf(a, sizeof a, fmt, quantile(v, 0.0));
  std::snprintf(m, sizeof m, fmt, quantile(v, 0.5));
  std::snprintf(b, sizeof b, fmt, quantile(v, 1.0));
  return std::string(m) + " [" + a + ", " + b + "]";
}

double abs_q95(const std::vector<double>& v) {
  std::vector<double> a;
  for (double x : v) a.push_back(std::fabs(x));
  return quantile(a, 0.95);
}

// The share of values within [lo, hi], over n cases (a missing value is out).
double share_within(const std::vector<double>& v, int n, double lo, double hi) {
  int k = 0;
  for (double x : v) k += (x >= lo && x <= hi) ? 1 : 0;
  return pct(k, n);
}

double worst_abs(const std::vector<double>& v);

// One row of the targets table: the measure, the numbers, met or not.
void target_row(const char* target, const char* measure, const std::string& value,
                bool met) {
  std::printf("| %s | %s | %s | %s |\n", target, measure, value.c_str(),
              met ? "met" : "NOT MET");
}

std::string fmt(const char* f, double a, double b = 0.0, double c = 0.0) {
  char buf[160];
  std::snprintf(buf, sizeof buf, f, a, b, c);
  return buf;
}

double worst_abs(const std::vector<double>& v) {
  double w = 0.0;
  for (double x : v) w = std::max(w, std::fabs(x));
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  const int reps = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
  const DecisionOptions def;

  const auto noise = noise_cases(2 * reps);
  std::vector<std::vector<Case>> ladder;
  const double ks[] = {3, 5, 10, 20, 50};
  for (double k : ks) ladder.push_back(ladder_cases(k, reps));

  std::printf(
      "# Peak decisions on generated traces (%d replicates per row, noise: %d)\n\n", reps,
      2 * reps);
  std::printf(
      "baseline %.0f, noise SD %.0f, sigma 1.5 s, 0.2 s scans, window +-%.1f min\n\n",
      tp::kBaseline, tp::kNoiseSd, tp::kTolerance);

  // Threshold candidates: false positives on noise against detection on the ladder.
  std::printf("## Threshold candidates (min_sn, min_points)\n\n");
  std::printf(
      "| min_sn | min_points | noise detected %% | 3xSD %% | 5xSD %% | 10xSD %% | 20xSD "
      "%% |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (double sn : {0.0, 3.0, 4.0, 5.0, 6.0, 8.0}) {
    for (int mp : {0, 5, 7, 10}) {
      DecisionOptions o = def;
      o.min_sn = sn;
      o.min_points = mp;
      const auto nz = summarise(noise, o);
      std::printf("| %.0f | %d | %.1f |", sn, mp, pct(nz.detected, nz.n));
      for (std::size_t i = 0; i < 4; ++i) {
        const auto l = summarise(ladder[i], o);
        std::printf(" %.1f |", pct(l.detected, l.n));
      }
      std::printf("\n");
    }
  }

  // The shape test's gain: shoulders flagged against tails and single peaks
  // left alone.
  std::printf(
      "\n## Coelution gain candidates (pairs and EMG at 50xSD, single 10xSD)\n\n");
  std::printf(
      "| coelution_rss_gain | coelution Rs0.5 1:1 / 1:0.5 / Rs0.8 1:1 / 1:0.5 %% | "
      "Rs2.5 %% | single 10xSD %% | single 50xSD %% | EMG 0.5 / 1 / 2 %% |\n");
  std::printf("|---|---|---|---|---|---|\n");
  {
    const int n = std::max(10, reps / 4);
    const auto a = pair_cases(0.5, 1.0, n), b = pair_cases(0.5, 0.5, n),
               c = pair_cases(0.8, 1.0, n), e = pair_cases(0.8, 0.5, n),
               r = pair_cases(2.5, 1.0, n), m5 = emg_cases(0.5, n),
               m1 = emg_cases(1.0, n), m2 = emg_cases(2.0, n);
    for (double gain : {10.0, 25.0, 50.0, 100.0}) {
      DecisionOptions o = def;
      o.coelution_rss_gain = gain;
      const auto co = [&](const std::vector<Case>& v) {
        const auto sm = summarise(v, o);
        return pct(sm.coelution, sm.n);
      };
      std::printf(
          "| %.0f | %.0f / %.0f / %.0f / %.0f | %.0f | %.0f | %.0f | %.0f / %.0f / %.0f "
          "|\n",
          gain, co(a), co(b), co(c), co(e), co(r), co(ladder[2]), co(ladder[4]), co(m5),
          co(m1), co(m2));
    }
  }

  const auto nz = summarise(noise, def);
  std::printf("\n## Noise-only windows (defaults)\n\n");
  std::printf(
      "fit success %d/%d (%.1f %%), detected %d/%d (%.1f %%), S/N of converged fits "
      "median %.2f, 95th pct %.2f\n\n",
      nz.converged, nz.n, pct(nz.converged, nz.n), nz.detected, nz.n,
      pct(nz.detected, nz.n), quantile(nz.sn, 0.5), quantile(nz.sn, 0.95));

  std::printf("## Height ladder (defaults)\n\n");
  std::printf(
      "| height | fit success %% | detected %% | S/N / (H/SD) median [min, max] | S/N "
      "ratio 5-95 pct | fit area err %% | integrated area err %% | coelution %% | "
      "tailing %% |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (std::size_t i = 0; i < ladder.size(); ++i) {
    const auto l = summarise(ladder[i], def);
    std::printf("| %.0fxSD | %.1f | %.1f | %s | %.2f-%.2f | %s | %s | %.1f | %.1f |\n",
                ks[i], pct(l.converged, l.n), pct(l.detected, l.n),
                range(l.sn_ratio, "%.2f").c_str(), quantile(l.sn_ratio, 0.05),
                quantile(l.sn_ratio, 0.95), range(l.fit_err).c_str(),
                range(l.int_err).c_str(), pct(l.coelution, l.n), pct(l.tailing, l.n));
  }

  std::printf("\n## Coeluting pairs (target 50xSD, neighbour later by Rs*4 sigma)\n\n");
  std::printf(
      "| Rs | neighbour/target | coelution %% | valley bound %% | tailing %% | fit area "
      "err %% | integrated area err %% (worst abs) |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (double rs : {0.5, 0.8, 1.2, 2.5}) {
    for (double ratio : {1.0, 0.5}) {
      const auto s = summarise(pair_cases(rs, ratio, reps / 2), def);
      std::printf("| %.1f | %.1f | %.1f | %.1f | %.1f | %s | %s (%.1f) |\n", rs, ratio,
                  pct(s.coelution, s.n), pct(s.valley, s.n), pct(s.tailing, s.n),
                  range(s.fit_err).c_str(), range(s.int_err).c_str(),
                  worst_abs(s.int_err));
    }
  }

  std::printf("\n## Tailing (EMG) peaks, 50xSD Gaussian part, same area\n\n");
  std::printf(
      "| tau/sigma | asymmetry median [min, max] | tailing %% | coelution %% | fit area "
      "err %% | integrated area err %% (95th pct abs, worst abs) |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (double tr : {0.0, 0.5, 1.0, 2.0}) {
    const auto s = summarise(emg_cases(tr, reps / 2), def);
    std::printf("| %.1f | %s | %.1f | %.1f | %s | %s (%.1f, %.1f) |\n", tr,
                range(s.asym, "%.2f").c_str(), pct(s.tailing, s.n), pct(s.coelution, s.n),
                range(s.fit_err).c_str(), range(s.int_err).c_str(), abs_q95(s.int_err),
                worst_abs(s.int_err));
  }

  // The targets, each measured on its own family with the default options
  // (deconvolve on for the component areas). "Every replicate" rows are met
  // only when all replicates pass; area rows are met when the median is within
  // the bound and at least 95 % of replicates are.
  std::printf("\n## Targets (%d replicates per family, noise: %d)\n\n", reps, 2 * reps);
  std::printf("| target | measure | value | status |\n|---|---|---|---|\n");
  {
    target_row("false positives <= 5 % on noise", "detected on noise-only windows",
               fmt("%.1f %%", pct(nz.detected, nz.n)), pct(nz.detected, nz.n) <= 5.0);
    for (std::size_t i = 2; i < ladder.size(); ++i) {
      const auto l = summarise(ladder[i], def);
      target_row(i == 2 ? "detection >= 95 % at >= 10 x SD" : "",
                 fmt("%.0f x SD", ks[i]).c_str(), fmt("%.1f %%", pct(l.detected, l.n)),
                 pct(l.detected, l.n) >= 95.0);
    }
    for (std::size_t i = 3; i < ladder.size(); ++i) {
      const auto l = summarise(ladder[i], def);
      const double in = share_within(l.sn_ratio, l.n, 0.7, 1.3);
      target_row(i == 3 ? "S/N within +-30 % of H/SD at 20 and 50 x SD" : "",
                 fmt("%.0f x SD: replicates within, ratio 1st-99th pct", ks[i]).c_str(),
                 fmt("%.1f %%, %.2f-%.2f", in, quantile(l.sn_ratio, 0.01),
                     quantile(l.sn_ratio, 0.99)),
                 in >= 100.0);
    }
    DecisionOptions dec = def;
    dec.deconvolve = true;
    std::vector<Summary> close;
    for (double rs : {0.5, 0.8}) {
      for (double ratio : {1.0, 0.5})
        close.push_back(summarise(pair_cases(rs, ratio, reps / 2), dec));
    }
    const char* pair_names[] = {"Rs 0.5, 1:1", "Rs 0.5, 1:0.5", "Rs 0.8, 1:1",
                                "Rs 0.8, 1:0.5"};
    for (std::size_t i = 0; i < close.size(); ++i) {
      const auto& sm = close[i];
      target_row(i == 0 ? "every pair at Rs <= 0.8 flagged coelution" : "",
                 (std::string(pair_names[i]) + ": flagged").c_str(),
                 fmt("%.1f %%", pct(sm.coelution, sm.n)), sm.coelution == sm.n);
    }
    for (std::size_t i = 0; i < close.size(); ++i) {
      const auto& sm = close[i];
      const double in = share_within(sm.comp_err, sm.n, -10.0, 10.0);
      target_row(i == 0 ? "(deconvolve) target component area within 10 %" : "",
                 (std::string(pair_names[i]) + ": within, median [min, max] %").c_str(),
                 fmt("%.1f %%, ", in) + range(sm.comp_err), in >= 100.0);
    }
    for (double ratio : {1.0, 0.5}) {
      const auto sm = summarise(pair_cases(2.5, ratio, reps / 2), def);
      const double in = share_within(sm.int_err, sm.n, -3.0, 3.0);
      const bool ok =
          sm.coelution == 0 && std::fabs(quantile(sm.int_err, 0.5)) <= 3.0 && in >= 95.0;
      target_row(
          ratio == 1.0 ? "Rs 2.5: no flag, area within 3 %" : "",
          fmt("1:%.1f: coelution, within 3 %%, median [min, max] %%", ratio).c_str(),
          fmt("%.1f %%, %.1f %%, ", pct(sm.coelution, sm.n), in) + range(sm.int_err), ok);
    }
    double previous = 0.0;
    bool rising = true;
    std::string medians;
    std::vector<Summary> emg;
    const double ratios[] = {0.0, 0.5, 1.0, 2.0};
    for (double tr : ratios) emg.push_back(summarise(emg_cases(tr, reps / 2), def));
    for (std::size_t i = 0; i < emg.size(); ++i) {
      const auto& sm = emg[i];
      const double in = share_within(sm.int_err, sm.n, -3.0, 3.0);
      const bool ok = std::fabs(quantile(sm.int_err, 0.5)) <= 3.0 && in >= 95.0;
      target_row(
          i == 0 ? "integrated_area within 3 % for every EMG peak" : "",
          fmt("tau/sigma %.1f: within 3 %%, median [min, max] %%", ratios[i]).c_str(),
          fmt("%.1f %%, ", in) + range(sm.int_err), ok);
    }
    for (std::size_t i = 0; i < emg.size(); ++i) {
      const auto& sm = emg[i];
      target_row(i == 0 ? "EMG: no coelution flag" : "",
                 fmt("tau/sigma %.1f flagged", ratios[i]).c_str(),
                 fmt("%.1f %%", pct(sm.coelution, sm.n)), sm.coelution == 0);
      const double m = quantile(sm.asym, 0.5);
      rising = rising && m > previous;
      previous = m;
      medians += fmt(medians.empty() ? "%.2f" : " < %.2f", m);
    }
    target_row("asymmetry rising with tau/sigma", "median at tau/sigma 0, 0.5, 1, 2",
               medians, rising);
  }
  return 0;
}
