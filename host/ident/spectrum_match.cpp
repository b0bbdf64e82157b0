// Unit-mass binning and dot-product scores. Sums run in double over at most
// kMaxNominalMass + 1 bins; with a = 3 the largest weight (5000^3 · I^0.6)
// stays far from overflow for any finite intensity below 1e300^(1/0.6).
#include "spectrum_match.hpp"

#include <algorithm>
#include <cmath>

namespace vx::host::ident {
namespace {

int to_score(double fraction) {
  return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 999.0));
}

double at(const UnitSpectrum& s, std::size_t m) {
  return m < s.by_mass.size() ? s.by_mass[m] : 0.0;
}

std::size_t nearest(std::span<const double> times, double t) {
  const auto it = std::lower_bound(times.begin(), times.end(), t);
  if (it == times.begin()) return 0;
  if (it == times.end()) return times.size() - 1;
  const auto i = static_cast<std::size_t>(it - times.begin());
  return (t - times[i - 1] <= times[i] - t) ? i - 1 : i;
}

}  // namespace

bool UnitSpectrum::empty() const {
  return std::none_of(by_mass.begin(), by_mass.end(), [](double v) { return v > 0.0; });
}

UnitSpectrum bin_unit_mass(std::span<const double> mz,
                           std::span<const double> intensity) {
  UnitSpectrum s;
  const std::size_t n = std::min(mz.size(), intensity.size());
  for (std::size_t i = 0; i < n; ++i) {
    const double m = mz[i];
    const double v = intensity[i];
    if (!std::isfinite(m) || !std::isfinite(v) || m < 0.5 || v < 0.0) continue;
    const double nominal = std::floor(m + 0.5);
    if (nominal > static_cast<double>(kMaxNominalMass)) continue;
    const auto bin = static_cast<std::size_t>(nominal);
    if (bin >= s.by_mass.size()) s.by_mass.resize(bin + 1, 0.0);
    s.by_mass[bin] += v;
  }
  return s;
}

std::optional<double> match_fraction(const UnitSpectrum& unknown,
                                     const UnitSpectrum& library, bool reverse,
                                     const MatchWeights& w) {
  if (unknown.empty() || library.empty()) return std::nullopt;
  const std::size_t n = std::max(unknown.by_mass.size(), library.by_mass.size());
  double cross = 0.0;
  double uu = 0.0;
  double ll = 0.0;
  for (std::size_t m = 1; m < n; ++m) {
    const double u = at(unknown, m);
    const double l = at(library, m);
    if (reverse && !(l > 0.0)) continue;
    if (!(u > 0.0) && !(l > 0.0)) continue;
    const double mass_weight = std::pow(static_cast<double>(m), w.mass_exponent);
    const double wu = u > 0.0 ? mass_weight * std::pow(u, w.intensity_exponent) : 0.0;
    const double wl = l > 0.0 ? mass_weight * std::pow(l, w.intensity_exponent) : 0.0;
    cross += wu * wl;
    uu += wu * wu;
    ll += wl * wl;
  }
  // Reverse with none of the library's ions in the unknown: nothing shared.
  if (!(uu > 0.0) || !(ll > 0.0)) return 0.0;
  return cross * cross / (uu * ll);
}

std::optional<MatchScore> match_score(const UnitSpectrum& unknown,
                                      const UnitSpectrum& library,
                                      const MatchWeights& w) {
  const auto f = match_fraction(unknown, library, false, w);
  const auto r = match_fraction(unknown, library, true, w);
  if (!f || !r) return std::nullopt;
  return MatchScore{to_score(*f), to_score(*r)};
}

UnitSpectrum background_subtracted(const ScanSpectrum& apex, const ScanSpectrum& start,
                                   const ScanSpectrum& end) {
  UnitSpectrum out = bin_unit_mass(apex.mz, apex.intensity);
  const UnitSpectrum a = bin_unit_mass(start.mz, start.intensity);
  const UnitSpectrum b = bin_unit_mass(end.mz, end.intensity);
  for (std::size_t m = 0; m < out.by_mass.size(); ++m) {
    const double background = 0.5 * (at(a, m) + at(b, m));
    out.by_mass[m] = std::max(0.0, out.by_mass[m] - background);
  }
  return out;
}

std::optional<PeakScans> peak_scans(std::span<const double> scan_times, double center,
                                    double sigma, double k) {
  if (scan_times.empty() || !std::isfinite(center) || !std::isfinite(sigma) ||
      !(sigma > 0.0) || !std::isfinite(k) || k < 0.0) {
    return std::nullopt;
  }
  PeakScans p;
  p.apex = nearest(scan_times, center);
  p.start = nearest(scan_times, center - k * sigma);
  p.end = nearest(scan_times, center + k * sigma);
  return p;
}

}  // namespace vx::host::ident
