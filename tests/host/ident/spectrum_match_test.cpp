// Spectrum scores: exact values of the weighted dot product, the reverse
// form, background subtraction, and library search on generated full-scan
// spectra of known compounds.
#include "spectrum_match.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace vx::host::ident {
namespace {

UnitSpectrum spectrum(std::vector<double> mz, std::vector<double> intensity) {
  return bin_unit_mass(mz, intensity);
}

TEST(SpectrumMatch, WeightedDotProductValues) {
  struct Case {
    std::string what;
    UnitSpectrum unknown, library;
    int forward, reverse;
  };
  const Case cases[] = {
      {"identical", spectrum({41, 43, 57}, {10, 50, 100}),
       spectrum({41, 43, 57}, {10, 50, 100}), 999, 999},
      {"scaled copy", spectrum({41, 43, 57}, {1e3, 5e3, 1e4}),
       spectrum({41, 43, 57}, {10, 50, 100}), 999, 999},
      {"nothing shared", spectrum({41}, {10}), spectrum({43}, {10}), 0, 0},
      // F = 50^6 / (50^6 + 100^6) = 1/65 both ways: the unknown lacks 100.
      {"unknown lacks a library ion", spectrum({50}, {100}),
       spectrum({50, 100}, {100, 100}), 15, 15},
      // Forward 50^6 / (50^6 + 60^6) = 0.2509; reverse sees mass 50 only.
      {"extra ion in the unknown", spectrum({50, 60}, {100, 100}), spectrum({50}, {100}),
       251, 999},
      // Two ions binned to 50 (49.7 and 50.2) sum to the library's 100.
      {"ions summed into a nominal bin", spectrum({49.7, 50.2, 60.1}, {60, 40, 100}),
       spectrum({50, 60}, {100, 100}), 999, 999},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto s = match_score(c.unknown, c.library);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->forward, c.forward);
    EXPECT_EQ(s->reverse, c.reverse);
  }
}

TEST(SpectrumMatch, BackgroundSubtractedApexAndItsScans) {
  const std::vector<double> mz{40, 41, 43, 57};
  const std::vector<double> apex{100, 500, 80, 900};
  const std::vector<double> start{100, 20, 90, 0};
  const std::vector<double> end{120, 40, 70, 0};
  const UnitSpectrum s = background_subtracted({mz, apex}, {mz, start}, {mz, end});
  ASSERT_EQ(s.by_mass.size(), 58u);
  EXPECT_EQ(s.by_mass[40], 0.0);  // below its background: clipped, not negative
  EXPECT_EQ(s.by_mass[41], 470.0);
  EXPECT_EQ(s.by_mass[43], 0.0);
  EXPECT_EQ(s.by_mass[57], 900.0);

  const std::vector<double> times{1.0, 1.01, 1.02, 1.03, 1.04, 1.05, 1.06};
  const auto p = peak_scans(times, 1.031, 0.006);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->apex, 3u);
  EXPECT_EQ(p->start, 1u);                            // 1.013
  EXPECT_EQ(p->end, 5u);                              // 1.049
  EXPECT_EQ(peak_scans(times, 0.5, 0.1)->start, 0u);  // clamped to the run
}

// A library of random EI-like spectra; the unknowns are each compound's apex
// scan (with intensity noise) on a column-bleed background, minus the mean
// of the scans at the peak's start and end.
TEST(SpectrumMatch, FindsKnownCompoundsInGeneratedFullScanSpectra) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> ion_count(12, 40);
  std::uniform_real_distribution<double> mass(35.0, 350.0);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  struct Compound {
    std::vector<double> mz, intensity;
  };
  std::vector<Compound> library(40);
  std::vector<UnitSpectrum> binned;
  for (Compound& c : library) {
    const int n = ion_count(rng);
    for (int i = 0; i < n; ++i) {
      c.mz.push_back(std::round(mass(rng)));
      c.intensity.push_back(999.0 *
                            std::pow(unit(rng), 3.0));  // few large ions, many small
    }
    binned.push_back(bin_unit_mass(c.mz, c.intensity));
  }
  // Bleed and air ions on every scan.
  const std::vector<double> bg_mz{18, 28, 32, 44, 73, 207, 281};
  auto background = [&](std::vector<double>& mz, std::vector<double>& in) {
    for (double m : bg_mz) {
      mz.push_back(m + 0.1 * (unit(rng) - 0.5));
      in.push_back(2000.0 * (0.8 + 0.4 * unit(rng)));
    }
  };
  std::normal_distribution<double> rel_noise(0.0, 0.05);
  int trials = 0;
  int high = 0;
  int best_is_right = 0;
  int shuffled_lower = 0;
  for (int round = 0; round < 5; ++round) {
    for (std::size_t k = 0; k < library.size(); ++k) {
      const Compound& c = library[k];
      const double height = 1e4 * (1.0 + 9.0 * unit(rng));
      std::vector<double> apex_mz;
      std::vector<double> apex_in;
      for (std::size_t i = 0; i < c.mz.size(); ++i) {
        apex_mz.push_back(c.mz[i] + 0.2 * (unit(rng) - 0.5));
        apex_in.push_back(
            std::max(0.0, height * c.intensity[i] / 999.0 * (1.0 + rel_noise(rng))));
      }
      background(apex_mz, apex_in);
      std::vector<double> s_mz, s_in, e_mz, e_in;
      background(s_mz, s_in);
      background(e_mz, e_in);
      const UnitSpectrum unknown =
          background_subtracted({apex_mz, apex_in}, {s_mz, s_in}, {e_mz, e_in});
      const int right = match_score(unknown, binned[k])->forward;
      ++trials;
      high += right >= 800 ? 1 : 0;
      int best = -1;
      std::size_t best_k = 0;
      for (std::size_t j = 0; j < binned.size(); ++j) {
        const int s = match_score(unknown, binned[j])->forward;
        if (s > best) best = s, best_k = j;
      }
      best_is_right += best_k == k ? 1 : 0;
      // The same ions with their intensities shuffled among them.
      std::vector<double> shuffled = c.intensity;
      std::shuffle(shuffled.begin(), shuffled.end(), rng);
      shuffled_lower +=
          match_score(unknown, bin_unit_mass(c.mz, shuffled))->forward < right ? 1 : 0;
    }
  }
  RecordProperty("trials", trials);
  RecordProperty("right_entry_at_least_800", high);
  RecordProperty("shuffled_entry_lower", shuffled_lower);
  EXPECT_GE(high, trials * 95 / 100) << high << " of " << trials << " scored >= 800";
  EXPECT_EQ(best_is_right, trials);
  EXPECT_GE(shuffled_lower, trials * 95 / 100);
}

}  // namespace
}  // namespace vx::host::ident
