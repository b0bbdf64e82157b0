// Library search scores for unit-resolution EI spectra: binning to nominal
// mass, the weighted dot product and its reverse form, and the
// background-subtracted apex spectrum of a chromatographic peak. Pure; never
// throws except std::bad_alloc.
//
// Binning: each ion goes to nominal mass M = floor(mz + 0.5); ions in the
// same bin are summed. Ions with a non-finite m/z or intensity, m/z < 0.5,
// a negative intensity or M > kMaxNominalMass are left out.
//
// Match factor (Stein and Scott, "Optimization and testing of mass spectral
// library search algorithms for compound identification", J. Am. Soc. Mass
// Spectrom. 5 (1994) 859-866; the dot product NIST MS Search reports):
//   w_U(M) = M^a · U(M)^b,   w_L(M) = M^a · L(M)^b
//   F = (Σ_M w_U(M) · w_L(M))² / (Σ_M w_U(M)² · Σ_M w_L(M)²)
//   score = round(999 · F)                           (0..999)
// U is the unknown's spectrum, L the library's; a = 3 and b = 0.6, the
// exponents Stein and Scott found best for EI spectra (and NIST uses).
// Intensities are used as given: F does not change when either spectrum is
// scaled, so raw counts and 0-999 library intensities compare directly.
// Forward: the sums run over every nominal mass. Reverse: only over the
// masses where the library spectrum has an ion (L(M) > 0), so ions of a
// co-eluting compound that the library spectrum lacks do not count against
// the match.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace vx::host::ident {

inline constexpr std::size_t kMaxNominalMass = 5000;
inline constexpr double kMassExponent = 3.0;       // a
inline constexpr double kIntensityExponent = 0.6;  // b

// Intensity by nominal mass: by_mass[M] (size = highest mass + 1).
struct UnitSpectrum {
  std::vector<double> by_mass;
  [[nodiscard]] bool empty() const;  // no positive intensity
};

// Bins (mz[i], intensity[i]); extra values of the longer span are ignored.
UnitSpectrum bin_unit_mass(std::span<const double> mz, std::span<const double> intensity);

struct MatchWeights {
  double mass_exponent = kMassExponent;
  double intensity_exponent = kIntensityExponent;
};

// The dot product F (0..1) before scaling; nullopt when either spectrum is
// empty. The reverse form is 0 when the unknown has none of the library's
// ions.
std::optional<double> match_fraction(const UnitSpectrum& unknown,
                                     const UnitSpectrum& library, bool reverse,
                                     const MatchWeights& w = {});

struct MatchScore {
  int forward = 0;  // 0..999
  int reverse = 0;  // 0..999
};

// Both scores; nullopt when either spectrum is empty: an empty spectrum has
// no score, which is not the same as a score of 0.
std::optional<MatchScore> match_score(const UnitSpectrum& unknown,
                                      const UnitSpectrum& library,
                                      const MatchWeights& w = {});

// One scan of a full-scan run, as plain lists.
struct ScanSpectrum {
  std::span<const double> mz;
  std::span<const double> intensity;
};

// The peak's spectrum with the background taken off:
//   S(M) = max(0, apex(M) − (start(M) + end(M)) / 2)
// from the scans at the peak's apex, start and end, each binned first.
UnitSpectrum background_subtracted(const ScanSpectrum& apex, const ScanSpectrum& start,
                                   const ScanSpectrum& end);

// Which scans those are, for a fitted Gaussian (center, σ): the scans whose
// times lie nearest to center, center − k·σ and center + k·σ (k = 3 by
// default, where the peak has fallen to 1 % of its height). scan_times must
// increase. nullopt without scans or for a non-finite center or σ ≤ 0.
struct PeakScans {
  std::size_t start = 0;
  std::size_t apex = 0;
  std::size_t end = 0;
};
std::optional<PeakScans> peak_scans(std::span<const double> scan_times, double center,
                                    double sigma, double k = 3.0);

}  // namespace vx::host::ident
