// Peak decisions measured against generated truth: noise-only windows, a
// height ladder, coeluting pairs and tailing (EMG) peaks, each fitted by the
// fit step's own solver and then decided. Prints markdown tables: the
// candidate thresholds that chose the defaults, then each family with the
// default options. Not timed; deterministic (fixed seeds).
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
  std::vector<double> sn_ratio, fit_err, int_err, asym, sn;
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

  // Rule variants on the families they decide: bound return level and the
  // second-derivative filter width.
  std::printf(
      "\n## Rule variants (pairs and EMG at 50xSD, single 10xSD for false "
      "coelution)\n\n");
  std::printf(
      "| return_sigmas | core_width_sigmas | integration baseline | coelution Rs0.5 1:1 "
      "/ 1:0.5 / Rs0.8 1:1 / 1:0.5 %% | coelution Rs2.5 %% | coelution 10xSD single %% | "
      "coelution EMG 2 %% | EMG worst abs int err %% (0.5/1/2) | 2.5 worst abs int err "
      "%% |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (double ret : {0.0, 0.5, 1.0}) {
    for (double cw : {0.35, 0.5, 0.7}) {
      for (bool local : {false, true}) {
        DecisionOptions o = def;
        o.baseline_from_noise_region = local;
        o.return_sigmas = ret;
        o.core_width_sigmas = cw;
        const int n = reps / 2;
        const auto a = summarise(pair_cases(0.5, 1.0, n), o);
        const auto b = summarise(pair_cases(0.5, 0.5, n), o);
        const auto c = summarise(pair_cases(0.8, 1.0, n), o);
        const auto e = summarise(pair_cases(0.8, 0.5, n), o);
        const auto r = summarise(pair_cases(2.5, 1.0, n), o);
        const auto single = summarise(ladder[2], o);
        const auto m5 = summarise(emg_cases(0.5, n), o);
        const auto m1 = summarise(emg_cases(1.0, n), o);
        const auto m2 = summarise(emg_cases(2.0, n), o);
        std::printf(
            "| %.1f | %.2f | %s | %.0f / %.0f / %.0f / %.0f | %.1f | %.1f | %.1f | %.1f "
            "/ %.1f / %.1f | %.1f |\n",
            ret, cw, local ? "noise median" : "fitted", pct(a.coelution, a.n),
            pct(b.coelution, b.n), pct(c.coelution, c.n), pct(e.coelution, e.n),
            pct(r.coelution, r.n), pct(single.coelution, single.n),
            pct(m2.coelution, m2.n), worst_abs(m5.int_err), worst_abs(m1.int_err),
            worst_abs(m2.int_err), worst_abs(r.int_err));
      }
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
  return 0;
}
