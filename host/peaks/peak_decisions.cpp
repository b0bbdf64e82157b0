// Peak decisions on one trace and its fit: noise, S/N, detection, walked
// bounds, integrated area, asymmetry, coelution (rules in the header). Works
// on a filtered copy of the finite points; allocates a few vectors per call,
// never throws anything but allocation failure.
#include "peak_decisions.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "component_fit.hpp"

namespace vx::host::peaks {

namespace {

constexpr double kMadToSd = 1.4826;
constexpr double kFwhmPerSigma = 2.355;

bool finite(const std::optional<double>& v) { return v && std::isfinite(*v); }

double median_of(std::vector<double>& v) {
  const std::size_t n = v.size();
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(v.begin(), mid, v.end());
  const double upper = *mid;
  if (n % 2 == 1) return upper;
  const double lower = *std::max_element(v.begin(), mid);
  return 0.5 * (lower + upper);
}

// 1.4826·MAD: the SD of normal data, robust to a minority of outliers.
double robust_sd(std::vector<double>& v) {
  const double m = median_of(v);
  for (double& x : v) x = std::fabs(x - m);
  return kMadToSd * median_of(v);
}

struct Points {
  std::vector<double> t, y;
  bool dropped = false;
};

Points finite_points(const TraceView& trace) {
  Points p;
  const std::size_t n = std::min(trace.retention_time.size(), trace.intensity.size());
  p.t.reserve(n);
  p.y.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = trace.retention_time[i];
    const double y = trace.intensity[i];
    if (std::isfinite(t) && std::isfinite(y)) {
      p.t.push_back(t);
      p.y.push_back(y);
    } else {
      p.dropped = true;
    }
  }
  return p;
}

double median_interval(const std::vector<double>& t) {
  std::vector<double> d;
  d.reserve(t.size());
  for (std::size_t i = 1; i < t.size(); ++i) d.push_back(std::fabs(t[i] - t[i - 1]));
  if (d.empty()) return 0.0;
  return median_of(d);
}

struct Fitted {
  double c, h, s, b;
};

double model(const Fitted& f, double t) {
  const double z = (t - f.c) / f.s;
  return f.b + f.h * std::exp(-0.5 * z * z);
}

// The noise region's measurement: the SD of first differences of adjacent
// noise points, and the median level of those points.
struct NoiseRegion {
  double sd;
  double level;
  bool beyond_window;  // some noise point lies outside the fit window
};

// 1.4826·MAD first, then the RMS of the differences within 3.5 of those SDs
// (rescaled for the cut normal tails): the MAD keeps a spike or the edge of a
// peak out, the RMS then uses every ordinary point, which halves the spread
// of the MAD on the same points.
double clipped_sd(std::vector<double>& d) {
  std::vector<double> copy = d;
  const double mad_sd = robust_sd(copy);
  if (!(mad_sd > 0.0)) return mad_sd;
  constexpr double kCut = 3.5;
  constexpr double kCutVariance = 0.99389;  // variance of N(0,1) cut at ±3.5
  double ss = 0.0;
  std::size_t n = 0;
  for (double x : d) {
    if (std::fabs(x) <= kCut * mad_sd) {
      ss += x * x;
      ++n;
    }
  }
  if (n == 0) return mad_sd;
  return std::sqrt(ss / (static_cast<double>(n) * kCutVariance));
}

// The mean of the values within 3.5·sd of their median: the median alone
// keeps a spike out but wastes a third of the points' information, which on a
// wide peak shows as baseline error times width.
double clipped_mean(std::vector<double>& v, double sd) {
  const double m = median_of(v);
  if (!(sd > 0.0)) return m;
  double sum = 0.0;
  std::size_t n = 0;
  for (double x : v) {
    if (std::fabs(x - m) <= 3.5 * sd) {
      sum += x;
      ++n;
    }
  }
  return n > 0 ? sum / static_cast<double>(n) : m;
}

std::optional<NoiseRegion> difference_noise(const Points& p,
                                            const std::vector<char>& is_noise, double lo,
                                            double hi, std::size_t min_diffs) {
  std::vector<double> d, level;
  d.reserve(p.t.size());
  level.reserve(p.t.size());
  bool beyond = false;
  for (std::size_t i = 0; i < p.t.size(); ++i) {
    if (is_noise[i] == 0) continue;
    level.push_back(p.y[i]);
    if (p.t[i] < lo || p.t[i] > hi) beyond = true;
    if (i > 0 && is_noise[i - 1] != 0)
      d.push_back((p.y[i] - p.y[i - 1]) / std::sqrt(2.0));
  }
  if (d.size() < min_diffs || d.empty()) return std::nullopt;
  const double sd = clipped_sd(d);
  return NoiseRegion{sd, clipped_mean(level, sd), beyond};
}

std::vector<double> moving_average(const std::vector<double>& y, std::size_t h) {
  const std::size_t n = y.size();
  std::vector<double> s(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t a = i >= h ? i - h : 0;
    const std::size_t e = std::min(n - 1, i + h);
    double sum = 0.0;
    for (std::size_t j = a; j <= e; ++j) sum += y[j];
    s[i] = sum / static_cast<double>(e - a + 1);
  }
  return s;
}

// A moving average of the intensities and its half-width: the noise mask
// and the bound walk smooth with the same half-width when a shape was fitted,
// so the walk takes the mask's instead of computing it again.
struct Smoothed {
  std::size_t h = 0;
  std::vector<double> s;
};

// The noise region: the window and two window widths on either side, less
// the fitted peak (|t − c| ≤ exclusion·σ) and less every other peak found in
// it. Other peaks are points whose smoothed intensity stands more than
// kPeakMaskSigmas smoothed-noise SDs above the region's median level, widened
// by exclusion·σ (the same reach as the fitted peak's exclusion, which keeps a
// neighbour's flanks and a tail out too). The noise and the level are then
// measured on what is left; without a clean enough remainder, on the region
// before masking.
constexpr double kPeakMaskSigmas = 4.0;
std::optional<NoiseRegion> masked_noise(const Points& p, double lo, double hi, double dt,
                                        const std::optional<Fitted>& f,
                                        const DecisionOptions& opt,
                                        std::size_t min_diffs, Smoothed& smoothed) {
  const double reach = 2.0 * (hi - lo);
  const std::size_t n = p.t.size();
  std::vector<char> keep(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const bool in_region = p.t[i] >= lo - reach && p.t[i] <= hi + reach;
    const bool in_peak = f && std::fabs(p.t[i] - f->c) <= opt.exclusion_sigmas * f->s;
    keep[i] = in_region && !in_peak ? 1 : 0;
  }
  const auto first = difference_noise(p, keep, lo, hi, min_diffs);
  if (!first || !(first->sd > 0.0) || !(dt > 0.0)) return first;

  const double h_real = f ? std::clamp(std::round(f->s / (2.0 * dt)), 1.0, 10.0) : 2.0;
  const auto h = static_cast<std::size_t>(h_real);
  smoothed.h = h;
  smoothed.s = moving_average(p.y, h);
  const std::vector<double>& s = smoothed.s;
  const double above =
      first->level + kPeakMaskSigmas * first->sd / std::sqrt(2.0 * h_real + 1.0);
  const double widen = f ? opt.exclusion_sigmas * f->s : (2.0 * h_real + 1.0) * dt;
  // Distance (in minutes) to the nearest point above the level, one pass each way.
  std::vector<char> clean = keep;
  double last = -std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < n; ++i) {
    if (keep[i] != 0 && s[i] > above) last = p.t[i];
    if (p.t[i] - last <= widen) clean[i] = 0;
  }
  last = std::numeric_limits<double>::infinity();
  for (std::size_t i = n; i-- > 0;) {
    if (keep[i] != 0 && s[i] > above) last = p.t[i];
    if (last - p.t[i] <= widen) clean[i] = 0;
  }
  if (auto second = difference_noise(p, clean, lo, hi, min_diffs)) return second;
  return first;
}

struct Bound {
  std::size_t index;
  BoundKind kind;
};

// Walks from the apex in direction step (+1 or -1) on the smoothed trace.
Bound walk(const std::vector<double>& s, std::size_t apex, bool right, double base,
           double return_level, double valley_rise) {
  std::size_t i = apex;
  std::size_t low = apex;
  const std::size_t last = s.size() - 1;
  while (true) {
    if (right ? i == last : i == 0) return {i, BoundKind::kTraceEnd};
    i = right ? i + 1 : i - 1;
    if (s[i] - base <= return_level) return {i, BoundKind::kBaseline};
    if (s[i] < s[low]) low = i;
    if (s[i] - s[low] > valley_rise) return {low, BoundKind::kValley};
  }
}

// Time where the smoothed trace crosses level between points i (above) and j.
double crossing(const Points& p, const std::vector<double>& s, std::size_t i,
                std::size_t j, double level) {
  const double f = (s[i] - level) / (s[i] - s[j]);
  return p.t[i] + f * (p.t[j] - p.t[i]);
}

std::optional<double> asymmetry_at_tenth(const Points& p, const std::vector<double>& s,
                                         std::size_t apex, double base) {
  const double a = s[apex] - base;
  if (!(a > 0.0)) return std::nullopt;
  const double level = base + 0.1 * a;
  std::size_t i = apex;
  while (i > 0 && s[i - 1] > level) --i;
  if (i == 0) return std::nullopt;
  const double front = crossing(p, s, i, i - 1, level);
  std::size_t j = apex;
  while (j + 1 < s.size() && s[j + 1] > level) ++j;
  if (j + 1 == s.size()) return std::nullopt;
  const double back = crossing(p, s, j, j + 1, level);
  double t_apex = p.t[apex];
  if (apex > 0 && apex + 1 < s.size()) {
    // Vertex of the parabola through the apex and its neighbours (even spacing).
    const double l = s[apex - 1], m = s[apex], r = s[apex + 1];
    const double den = l - 2.0 * m + r;
    if (den < 0.0) {
      const double off = std::clamp(0.5 * (l - r) / den, -0.5, 0.5);
      t_apex += off * 0.5 * (p.t[apex + 1] - p.t[apex - 1]);
    }
  }
  const double fw = t_apex - front, bw = back - t_apex;
  if (!(fw > 0.0) || !(bw > 0.0)) return std::nullopt;
  const double as = bw / fw;
  if (!std::isfinite(as)) return std::nullopt;
  return as;
}

// Quadratic Savitzky–Golay second-derivative weights over -m..m (point units):
// w_k = (k² − mean k²) / Σ (k² − mean k²)², times 2.
std::vector<double> second_derivative_weights(std::size_t m) {
  const auto half = static_cast<double>(m);
  const double n = 2.0 * half + 1.0;
  double sum_k2 = 0.0;
  for (double k = -half; k <= half; k += 1.0) sum_k2 += k * k;
  const double mean_k2 = sum_k2 / n;
  double norm = 0.0;
  for (double k = -half; k <= half; k += 1.0)
    norm += (k * k - mean_k2) * (k * k - mean_k2);
  std::vector<double> w;
  w.reserve(2 * m + 1);
  for (double k = -half; k <= half; k += 1.0) w.push_back(2.0 * (k * k - mean_k2) / norm);
  return w;
}

// The number of separate second-derivative cores between first and last.
int count_cores(const std::vector<double>& y, std::size_t first, std::size_t last,
                std::size_t m, double noise, double k) {
  if (y.size() < 2 * m + 1) return 0;
  const std::vector<double> w = second_derivative_weights(m);
  double w2 = 0.0;
  for (double x : w) w2 += x * x;
  const double sd = noise * std::sqrt(w2);
  const std::size_t lo = std::max(first, m);
  const std::size_t hi = std::min(last, y.size() - 1 - m);
  if (hi <= lo + 1) return 0;
  std::vector<double> d(hi - lo + 1);
  for (std::size_t i = lo; i <= hi; ++i) {
    double acc = 0.0;
    for (std::size_t j = 0; j < w.size(); ++j) acc += w[j] * y[i - m + j];
    d[i - lo] = acc;
  }
  // Separate cores: walk the local minima below the threshold; a new core
  // starts only after the derivative rose by k·sd above the deeper of the
  // current core's minimum and the candidate.
  const double threshold = -k * sd;
  int cores = 0;
  double core_min = 0.0;
  double rise_since = -std::numeric_limits<double>::infinity();
  for (std::size_t i = 1; i + 1 < d.size(); ++i) {
    rise_since = std::max(rise_since, d[i]);
    const bool local_min = d[i] <= d[i - 1] && d[i] <= d[i + 1];
    if (!local_min || d[i] >= threshold) continue;
    if (cores == 0) {
      cores = 1;
      core_min = d[i];
    } else if (rise_since > std::max(core_min, d[i]) + k * sd) {
      ++cores;
      core_min = d[i];
    } else {
      core_min = std::min(core_min, d[i]);
    }
    rise_since = d[i];
  }
  return cores;
}

// Two coeluting peaks against one tailing peak. Over c ± kShapeSigmas·σ, a
// two-Gaussian fit (one shared width) and an EMG fit are compared: a shoulder
// leaves the EMG a residual the pair does not have, while a tail is fitted as
// well by the EMG as by the pair. Both fits are skipped when the single
// Gaussian already leaves no room for the gain (its residual sum within
// gain − 2·√(2n) noise variances of n), which is the usual case.
constexpr double kShapeSigmas = 6.0;
struct ShapeTest {
  bool coelution = false;
  std::optional<double> component_area;  // the component nearer the target
};
ShapeTest shape_test(const Points& p, const Fitted& f, double noise, double target,
                     bool already_coeluting, const DecisionOptions& opt) {
  ShapeTest out;
  std::vector<double> t, y;
  double chi2 = 0.0;
  for (std::size_t i = 0; i < p.t.size(); ++i) {
    if (std::fabs(p.t[i] - f.c) > kShapeSigmas * f.s) continue;
    t.push_back(p.t[i]);
    y.push_back(p.y[i]);
    const double r = (p.y[i] - model(f, p.t[i])) / noise;
    chi2 += r * r;
  }
  const auto n = static_cast<double>(t.size());
  const bool room = chi2 > n + opt.coelution_rss_gain - 2.0 * std::sqrt(2.0 * n);
  if (!room && !already_coeluting) return out;
  const GaussianStart start{f.c, f.h, f.s, f.b};
  // Only a reported component area needs every start of the pair fit; a
  // verdict alone screens with the few that find the pair on nearly every
  // peak, which halves a table's decision time.
  const PairStarts starts =
      opt.deconvolve || already_coeluting ? PairStarts::kEvery : PairStarts::kScreen;
  const auto pair = fit_two_gaussians(t, y, start, starts);
  if (!pair) return out;
  if (!already_coeluting && pair->height[0] > 0.0 && pair->height[1] > 0.0) {
    // Only the verdict is used: the EMG's starts stop once its residual no
    // longer leaves the pair the gain, which a lower residual cannot undo.
    const EmgEnough enough{pair->rss, noise * noise, opt.coelution_rss_gain};
    if (const auto emg = fit_emg(t, y, start, enough)) {
      out.coelution = (emg->rss - pair->rss) / (noise * noise) > opt.coelution_rss_gain;
    }
  }
  const int near =
      std::fabs(pair->center[0] - target) <= std::fabs(pair->center[1] - target) ? 0 : 1;
  const double area = pair->area(near);
  if (std::isfinite(area) && area > 0.0) out.component_area = area;
  return out;
}

// The fit window: the reported one when both bounds are finite and ordered;
// else the whole trace, which is what such a fit was judged on.
struct Window {
  double lo, hi;
  bool given;
};

Window fit_window(const Points& p, const FitView& fit) {
  Window w{*std::min_element(p.t.begin(), p.t.end()),
           *std::max_element(p.t.begin(), p.t.end()), false};
  w.given = finite(fit.window_min) && finite(fit.window_max) &&
            *fit.window_min <= *fit.window_max;
  if (w.given) {
    w.lo = *fit.window_min;
    w.hi = *fit.window_max;
  }
  return w;
}

// peak: the fit when it describes a peak in the window. shape: what the
// bounds, area, asymmetry and coelution look at; also a fit too wide for the
// window (two merged peaks fit that way), its width clamped to the window.
struct FitReading {
  std::optional<Fitted> peak, shape;
};

FitReading read_fit(const FitView& fit, const Window& w, std::uint32_t& flags) {
  FitReading r;
  if (!(finite(fit.center) && finite(fit.height) && finite(fit.width) &&
        finite(fit.baseline))) {
    flags |= kInvalidFitValues;
    return r;
  }
  const Fitted v{*fit.center, *fit.height, *fit.width, *fit.baseline};
  const bool in_window = v.c >= w.lo && v.c <= w.hi;
  if (v.s > 0.0 && v.h > 0.0 && in_window && kFwhmPerSigma * v.s <= w.hi - w.lo) {
    r.peak = v;
    r.shape = v;
    return r;
  }
  flags |= kNoPeakInWindow;
  if (v.s > 0.0 && v.h > 0.0 && in_window) {
    r.shape = Fitted{v.c, v.h, std::min(v.s, (w.hi - w.lo) / kFwhmPerSigma), v.b};
  }
  return r;
}

// The last resort when too few noise points surround the peak: the RMS of
// the fit residuals over the window, less the four fitted parameters'
// degrees of freedom.
std::optional<double> residual_noise(const Points& p, const Window& w, const Fitted& f) {
  double ss = 0.0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < p.t.size(); ++i) {
    if (p.t[i] < w.lo || p.t[i] > w.hi) continue;
    const double r = p.y[i] - model(f, p.t[i]);
    ss += r * r;
    ++count;
  }
  if (count > 4 && std::isfinite(ss)) {
    return std::sqrt(ss / static_cast<double>(count - 4));
  }
  return std::nullopt;
}

// Sets the noise, its source and noise_not_measured. Returns the level of the
// noise points when they were enough, the integration baseline's first choice.
std::optional<double> measure_noise(const Points& p, const Window& w, double dt,
                                    const std::optional<Fitted>& shape,
                                    const DecisionOptions& opt, PeakDecision& d,
                                    Smoothed& smoothed) {
  const auto min_diffs = static_cast<std::size_t>(std::max(opt.min_noise_points - 1, 1));
  std::optional<double> region_level;
  if (auto n = masked_noise(p, w.lo, w.hi, dt, shape, opt, min_diffs, smoothed)) {
    d.noise = n->sd;
    region_level = n->level;
    d.noise_source =
        n->beyond_window ? NoiseSource::kWidenedWindow : NoiseSource::kWindow;
  } else if (shape) {
    if (auto r = residual_noise(p, w, *shape)) {
      d.noise = *r;
      d.noise_source = NoiseSource::kFitResiduals;
    }
  }
  if (d.noise && !std::isfinite(*d.noise)) d.noise.reset();
  if (!(d.noise && *d.noise > 0.0)) d.flags |= kNoiseNotMeasured;
  return region_level;
}

// S/N, the points the model is judged on and the window edge, then the
// detection verdict; only a fit that describes a peak in the window gets one.
void judge_detection(const Points& p, const Fitted& f, const Window& w,
                     bool noise_positive, const DecisionOptions& opt, PeakDecision& d) {
  if (noise_positive) {
    const double sn = f.h / *d.noise;
    if (std::isfinite(sn)) d.signal_to_noise = sn;
    if (sn < opt.min_sn) d.flags |= kBelowMinSn;
  }
  for (double t : p.t) {
    if (std::fabs(t - f.c) <= 2.0 * f.s) ++d.points_across;
  }
  if (d.points_across < static_cast<std::size_t>(std::max(opt.min_points, 0))) {
    d.flags |= kTooFewPoints;
  }
  if (f.c - w.lo < 2.0 * f.s || w.hi - f.c < 2.0 * f.s) d.flags |= kAtWindowEdge;
  d.detected = (d.flags & (kFitNotConverged | kInvalidFitValues | kNoPeakInWindow |
                           kTooFewPoints | kBelowMinSn)) == 0;
}

// The highest smoothed point within c ± 2σ; the point nearest c when none lies
// there (a fit on sparse scans can fall between them).
std::size_t find_apex(const Points& p, const std::vector<double>& s, const Fitted& f) {
  std::size_t apex = 0;
  bool found = false;
  double nearest = std::numeric_limits<double>::infinity();
  std::size_t nearest_i = 0;
  for (std::size_t i = 0; i < p.t.size(); ++i) {
    const double off = std::fabs(p.t[i] - f.c);
    if (off < nearest) {
      nearest = off;
      nearest_i = i;
    }
    if (off <= 2.0 * f.s && (!found || s[i] > s[apex])) {
      apex = i;
      found = true;
    }
  }
  return found ? apex : nearest_i;
}

struct Bounds {
  Bound left, right;
};

// Walks the bounds from the apex on the smoothed trace s and integrates and
// measures the asymmetry between them, above the integration baseline.
Bounds measure_bounds(const Points& p, const std::vector<double>& s, const Fitted& f,
                      std::optional<double> region_level, double noise,
                      const DecisionOptions& opt, PeakDecision& d) {
  const std::size_t apex = find_apex(p, s, f);
  // The fitted baseline is off where the Gaussian is the wrong shape (a tailing
  // peak pulls it about 0.6 noise SD low, +6 % area over its bounds); the
  // median of the noise points is not.
  const double base =
      opt.baseline_from_noise_region && region_level ? *region_level : f.b;
  d.integration_baseline = base;
  const Bound left =
      walk(s, apex, false, base, opt.return_sigmas * noise, opt.valley_sigmas * noise);
  const Bound right =
      walk(s, apex, true, base, opt.return_sigmas * noise, opt.valley_sigmas * noise);
  d.start_kind = left.kind;
  d.end_kind = right.kind;
  d.peak_start = p.t[left.index];
  d.peak_end = p.t[right.index];
  d.integrated_area = integrate_above(p.t, p.y, base, *d.peak_start, *d.peak_end);
  d.asymmetry = asymmetry_at_tenth(p, s, apex, base);
  if (d.asymmetry && *d.asymmetry > opt.tailing_asymmetry) d.flags |= kTailing;
  return {left, right};
}

// Coelution in order of cost: a valley bound, then two second-derivative
// cores, then the two fits of the shape test, which also give the target
// component's area when deconvolving. Without a noise only the valley counts.
void judge_coelution(const Points& p, const Fitted& f, double dt, const Bounds& b,
                     bool noise_positive, double noise, double target,
                     const DecisionOptions& opt, PeakDecision& d) {
  bool coeluting =
      b.left.kind == BoundKind::kValley || b.right.kind == BoundKind::kValley;
  if (!coeluting && noise_positive) {
    const auto m = static_cast<std::size_t>(
        std::clamp(std::round(opt.core_width_sigmas * f.s / dt), 2.0, 25.0));
    coeluting =
        count_cores(p.y, b.left.index, b.right.index, m, noise, opt.core_sigmas) >= 2;
  }
  if (noise_positive && (!coeluting || opt.deconvolve)) {
    const ShapeTest st = shape_test(p, f, noise, target, coeluting, opt);
    coeluting = coeluting || st.coelution;
    if (opt.deconvolve && coeluting) d.component_area = st.component_area;
  }
  if (coeluting) d.flags |= kCoelution;
}

}  // namespace

std::optional<double> integrate_above(std::span<const double> times,
                                      std::span<const double> intensities,
                                      double baseline, double start, double end) {
  if (!std::isfinite(baseline) || !std::isfinite(start) || !std::isfinite(end)) {
    return std::nullopt;
  }
  const std::size_t n = std::min(times.size(), intensities.size());
  double sum = 0.0;
  std::size_t used = 0;
  double pt = 0.0, py = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double t = times[i];
    if (!(t >= start && t <= end)) continue;
    const double y = intensities[i] - baseline;
    if (!std::isfinite(t) || !std::isfinite(y)) return std::nullopt;
    if (used > 0) sum += 0.5 * (t - pt) * (y + py);
    pt = t;
    py = y;
    ++used;
  }
  if (used < 2 || !std::isfinite(sum)) return std::nullopt;
  return sum;
}

std::vector<std::string_view> flag_names(std::uint32_t flags) {
  std::vector<std::string_view> out;
  for (const auto& f : kFlagNames) {
    if ((flags & f.flag) != 0) out.push_back(f.name);
  }
  return out;
}

PeakDecision decide_peak(const TraceView& trace, const FitView& fit,
                         const DecisionOptions& opt) {
  PeakDecision d;
  const Points p = finite_points(trace);
  if (p.dropped) d.flags |= kNonFinitePoints;
  if (!fit.converged) d.flags |= kFitNotConverged;
  if (p.t.empty()) {
    d.flags |= kEmptyTrace;
    return d;
  }
  const Window w = fit_window(p, fit);
  const double dt = median_interval(p.t);
  const FitReading reading = read_fit(fit, w, d.flags);
  Smoothed smoothed;
  const std::optional<double> region_level =
      measure_noise(p, w, dt, reading.shape, opt, d, smoothed);
  const bool noise_positive = d.noise && *d.noise > 0.0;
  if (reading.peak) judge_detection(p, *reading.peak, w, noise_positive, opt, d);
  if (!reading.shape || opt.detection_only) return d;
  const Fitted& f = *reading.shape;
  // The target is the window's middle (the window is the target ± the
  // tolerance); without a window, the fitted center.
  const double target = w.given ? 0.5 * (w.lo + w.hi) : f.c;

  // Bounds, area, asymmetry and coelution need a scan interval.
  if (p.t.size() < 2 || !(dt > 0.0)) return d;
  const auto h =
      static_cast<std::size_t>(std::clamp(std::round(f.s / (2.0 * dt)), 1.0, 10.0));
  if (smoothed.h != h || smoothed.s.empty()) {
    smoothed.h = h;
    smoothed.s = moving_average(p.y, h);
  }
  const std::vector<double>& s = smoothed.s;
  const double noise = noise_positive ? *d.noise : 0.0;
  const Bounds b = measure_bounds(p, s, f, region_level, noise, opt, d);
  judge_coelution(p, f, dt, b, noise_positive, noise, target, opt, d);
  return d;
}

}  // namespace vx::host::peaks
