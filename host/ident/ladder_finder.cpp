// Ladder finding: robust threshold, one apex per run above it, then
// numbering by locally estimated spacing.
#include "ladder_finder.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>

namespace vx::host::ident {
namespace {

double median_of(std::vector<double> v) {
  if (v.empty()) return 0.0;
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid), v.end());
  const double upper = v[mid];
  if (v.size() % 2 == 1) return upper;
  const double lower =
      *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(mid));
  return 0.5 * (lower + upper);
}

std::string fixed(double v, int decimals) {
  // Warnings are for people; a short fixed form reads better than 17 digits.
  char buf[64];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return ec == std::errc{} ? std::string(buf, end) : std::string("?");
}

// Apex of the parabola through three equally or unequally spaced points,
// kept inside the outer two (a flat top gives the middle point).
double parabola_apex(double t0, double y0, double t1, double y1, double t2, double y2) {
  const double d0 = (y1 - y0) / (t1 - t0);
  const double d1 = (y2 - y1) / (t2 - t1);
  const double curvature = (d1 - d0) / (t2 - t0);
  if (!(curvature < 0.0)) return t1;
  const double apex = 0.5 * (t0 + t1) - d0 / (2.0 * curvature);
  return std::clamp(apex, t0, t2);
}

// Median of up to three gaps on either side of gap i, gap i left out.
double local_spacing(const std::vector<double>& gaps, std::size_t i) {
  std::vector<double> around;
  const std::size_t from = i >= 3 ? i - 3 : 0;
  const std::size_t to = std::min(gaps.size(), i + 4);
  for (std::size_t j = from; j < to; ++j) {
    if (j != i) around.push_back(gaps[j]);
  }
  return median_of(std::move(around));
}

struct Trace {
  std::vector<double> t, y;
};

// A point with a non-finite time or intensity is a gap in the recording, not
// a signal, so it is left out rather than failing the whole trace.
Trace finite_trace(std::span<const double> rt, std::span<const double> intensity) {
  Trace tr;
  tr.t.reserve(rt.size());
  tr.y.reserve(rt.size());
  for (std::size_t i = 0; i < rt.size(); ++i) {
    if (std::isfinite(rt[i]) && std::isfinite(intensity[i])) {
      tr.t.push_back(rt[i]);
      tr.y.push_back(intensity[i]);
    }
  }
  return tr;
}

// Why the trace cannot hold a ladder: the apex refinement needs three
// points, and runs and gaps mean nothing unless the times increase.
std::optional<std::string> trace_problem(const std::vector<double>& t) {
  if (t.size() < 3) return "fewer than three trace points: no ladder";
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (!(t[i] > t[i - 1])) return "retention times do not increase: no ladder";
  }
  return std::nullopt;
}

// Baseline, robust noise and threshold into out. The relative floor keeps
// a very quiet trace from splitting every alkane's shoulder into peaks.
// False when nothing rises above the baseline.
bool set_threshold(const std::vector<double>& y, const LadderFinderOptions& options,
                   LadderFind& out) {
  out.baseline = median_of(y);
  std::vector<double> deviation(y.size());
  for (std::size_t i = 0; i < y.size(); ++i)
    deviation[i] = std::fabs(y[i] - out.baseline);
  out.noise = 1.4826 * median_of(std::move(deviation));
  const double top = *std::max_element(y.begin(), y.end()) - out.baseline;
  out.threshold = out.baseline + std::max(options.threshold_sigmas * out.noise,
                                          options.min_relative_height * top);
  return top > 0.0;
}

// One peak per run of points above the threshold, at its highest point
// refined by a parabola (scans are coarse next to an alkane's width).
void pick_peaks(const Trace& tr, LadderFind& out) {
  const std::vector<double>& t = tr.t;
  const std::vector<double>& y = tr.y;
  for (std::size_t i = 0; i < y.size();) {
    if (!(y[i] > out.threshold)) {
      ++i;
      continue;
    }
    std::size_t apex = i;
    std::size_t j = i;
    for (; j < y.size() && y[j] > out.threshold; ++j) {
      if (y[j] > y[apex]) apex = j;
    }
    LadderPeak p;
    p.rt = t[apex];
    if (apex > 0 && apex + 1 < y.size()) {
      p.rt = parabola_apex(t[apex - 1], y[apex - 1], t[apex], y[apex], t[apex + 1],
                           y[apex + 1]);
    }
    p.height = y[apex] - out.baseline;
    out.peaks.push_back(p);
    i = j;
  }
}

// The gaps between consecutive kept peaks (indices into peaks).
std::vector<double> gaps_between(const std::vector<LadderPeak>& peaks,
                                 const std::vector<std::size_t>& kept) {
  std::vector<double> gaps;
  for (std::size_t i = 1; i < kept.size(); ++i) {
    gaps.push_back(peaks[kept[i]].rt - peaks[kept[i - 1]].rt);
  }
  return gaps;
}

// Extra peaks first: a peak much closer to its neighbour than the local
// spacing cannot be the next alkane. The smaller one of such a pair drops
// out, and the gaps are taken again, until none is left. Returns the
// indices of the peaks kept, in time order.
std::vector<std::size_t> drop_extra_peaks(LadderFind& out) {
  std::vector<std::size_t> kept(out.peaks.size());
  for (std::size_t i = 0; i < kept.size(); ++i) kept[i] = i;
  for (bool dropped = true; dropped && kept.size() > 2;) {
    dropped = false;
    const std::vector<double> gaps = gaps_between(out.peaks, kept);
    for (std::size_t g = 0; g < gaps.size(); ++g) {
      if (gaps[g] < 0.5 * local_spacing(gaps, g)) {
        const std::size_t a = kept[g];
        const std::size_t b = kept[g + 1];
        const std::size_t drop = out.peaks[a].height < out.peaks[b].height ? g : g + 1;
        out.warnings.push_back(
            "extra peak at " + fixed(out.peaks[kept[drop]].rt, 3) +
            " min is too close to its neighbour to be an alkane; not numbered");
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(drop));
        dropped = true;
        break;
      }
    }
  }
  return kept;
}

// Numbers the kept peaks from first_carbon: a gap of about k local spacings
// skips k − 1 carbon numbers, each reported missing, so the peaks after a
// missing alkane keep their true numbers.
void number_peaks(LadderFind& out, const std::vector<std::size_t>& kept, int first_carbon,
                  const LadderFinderOptions& options) {
  const std::vector<double> gaps = gaps_between(out.peaks, kept);
  int carbon = first_carbon;
  out.peaks[kept[0]].carbon = carbon;
  for (std::size_t g = 0; g < gaps.size(); ++g) {
    const double spacing = gaps.size() > 1 ? local_spacing(gaps, g) : gaps[g];
    const double ratio = gaps[g] / spacing;
    const long steps = std::max(1L, std::lround(ratio));
    if (std::fabs(ratio - static_cast<double>(steps)) > options.irregular_gap) {
      out.warnings.push_back("irregular gap of " + fixed(ratio, 2) + " spacings after C" +
                             std::to_string(carbon) + " at " +
                             fixed(out.peaks[kept[g]].rt, 3) +
                             " min; check the numbering");
    }
    for (long s = 1; s < steps; ++s) {
      const int missing = carbon + static_cast<int>(s);
      out.missing_carbons.push_back(missing);
      out.warnings.push_back("missing alkane C" + std::to_string(missing) + " between " +
                             fixed(out.peaks[kept[g]].rt, 3) + " and " +
                             fixed(out.peaks[kept[g + 1]].rt, 3) + " min");
    }
    carbon += static_cast<int>(steps);
    if (carbon > kMaxCarbon) {
      out.warnings.push_back("carbon numbers pass 200: numbering stopped");
      break;
    }
    out.peaks[kept[g + 1]].carbon = carbon;
  }
}

}  // namespace

LadderFind find_ladder(std::span<const double> rt, std::span<const double> intensity,
                       int first_carbon, const LadderFinderOptions& options) {
  LadderFind out;
  if (rt.size() != intensity.size()) {
    out.warnings.push_back("times and intensities differ in length");
    return out;
  }
  if (first_carbon < kMinCarbon || first_carbon > kMaxCarbon) {
    out.warnings.push_back("the first carbon number must be from 1 to 200");
    return out;
  }
  const Trace tr = finite_trace(rt, intensity);
  if (auto problem = trace_problem(tr.t)) {
    out.warnings.push_back(std::move(*problem));
    return out;
  }
  if (!set_threshold(tr.y, options, out)) {
    out.warnings.push_back("the trace is flat: no ladder");
    return out;
  }
  pick_peaks(tr, out);
  if (out.peaks.size() < 2) {
    out.warnings.push_back("found " + std::to_string(out.peaks.size()) +
                           " peak(s) above the threshold: a ladder needs two alkanes");
    return out;
  }
  number_peaks(out, drop_extra_peaks(out), first_carbon, options);
  for (const LadderPeak& p : out.peaks) {
    if (p.carbon > 0) out.alkanes.push_back({p.carbon, p.rt});
  }
  return out;
}

}  // namespace vx::host::ident
