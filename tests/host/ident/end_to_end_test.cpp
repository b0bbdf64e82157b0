// One pass through the whole layer as the host will use it: an alkane run's
// trace gives a ladder, the ladder table is written and read back, a sample
// peak gets its retention index and its background-subtracted spectrum, the
// .msp library entry is found by index and score, and the identification
// criteria accept the sample against its standards.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "identification.hpp"
#include "ladder_finder.hpp"
#include "msp_library.hpp"
#include "retention_index.hpp"
#include "spectrum_match.hpp"

namespace vx::host::ident {
namespace {

double gauss(double x, double center, double sigma) {
  return std::exp(-0.5 * std::pow((x - center) / sigma, 2));
}

TEST(IdentEndToEnd, LadderIndexLibraryMatchAndCriteria) {
  // Alkane run: C9..C16 every 1.4 min from 4 min, C12 lost in the injection.
  std::vector<double> t;
  std::vector<double> y57;
  for (double x = 0.0; x < 16.0; x += 0.005) {
    double y = 500.0 + 30.0 * std::sin(37.0 * x);
    for (int c = 9; c <= 16; ++c) {
      if (c != 12) y += 2e4 * gauss(x, 4.0 + 1.4 * (c - 9), 0.012);
    }
    t.push_back(x);
    y57.push_back(y);
  }
  const LadderFind found = find_ladder(t, y57, 9);
  EXPECT_EQ(found.missing_carbons, std::vector<int>{12});
  const LadderParse ladder = parse_ladder(format_ladder(found.alkanes), "ladder.tsv");
  ASSERT_TRUE(ladder.errors.empty());

  const std::string msp =
      "Name: Other\nRI: 1150\nNum Peaks: 3\n41 999\n55 500\n69 300\n\n"
      "Name: Target\nRI: 1260\nNum Peaks: 4\n57 999; 71 400; 85 250; 170 40\n";
  const MspParse lib = parse_msp(msp, "lib.msp");
  ASSERT_TRUE(lib.errors.empty());

  // The sample's peak elutes at 9.04 min: index 1260 on this ladder, where
  // C12 is interpolated across the C11-C13 gap.
  const double apex_rt = 9.04;
  const auto ri = retention_index(ladder.alkanes, apex_rt);
  ASSERT_TRUE(ri);
  EXPECT_NEAR(ri->value, 1260.0, 1.0);
  EXPECT_FALSE(ri->extrapolated);

  // Full-scan spectra around the peak: the target's ions plus background.
  std::vector<double> scan_times;
  std::vector<std::vector<double>> scan_in;
  const std::vector<double> mz{28, 44, 57, 71, 85, 170, 207};
  for (double x = 8.84; x < 9.24; x += 0.01) {
    const double g = gauss(x, apex_rt, 0.02);
    scan_times.push_back(x);
    scan_in.push_back(
        {3000, 1500, 3000 + 9e4 * g, 3.6e4 * g, 2.25e4 * g, 3.6e3 * g, 800});
  }
  const auto scans = peak_scans(scan_times, apex_rt, 0.02);
  ASSERT_TRUE(scans);
  const UnitSpectrum spectrum = background_subtracted(
      {mz, scan_in[scans->apex]}, {mz, scan_in[scans->start]}, {mz, scan_in[scans->end]});
  int best = -1;
  const LibraryEntry* hit = nullptr;
  for (const LibraryEntry& e : lib.entries) {
    if (!e.retention_index ||
        std::fabs(*e.retention_index - ri->value) > kDefaultRiTolerance)
      continue;
    std::vector<double> lmz, lin;
    for (const LibraryPeak& p : e.peaks) lmz.push_back(p.mz), lin.push_back(p.intensity);
    const auto s = match_score(spectrum, bin_unit_mass(lmz, lin));
    ASSERT_TRUE(s);
    if (s->forward > best) best = s->forward, hit = &e;
  }
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->name, "Target");
  EXPECT_GE(best, 990);

  // Standards at 9.03 and 9.05 with qualifier 71 at 40 % of 57.
  TargetMeasurement standard;
  standard.detected = true;
  standard.rt = 9.03;
  standard.qualifier_ratios = {40.0};
  std::vector<TargetMeasurement> standards{standard, standard};
  standards[1].rt = 9.05;
  const IdentificationReference ref = reference_from_standards(standards, {8.0, {35.0}});
  TargetMeasurement sample = standard;
  sample.rt = apex_rt;
  sample.qualifier_ratios = {spectrum.by_mass[71] / spectrum.by_mass[57] * 100.0};
  sample.quantifier_sn = 50.0;
  sample.qualifier_sn = {20.0};
  sample.match_score = best;
  const IdentificationResult r = identify(sample, ref);
  EXPECT_TRUE(r.identified) << (r.failed.empty() ? "" : r.failed.front());
  EXPECT_NEAR(*r.rt_shift, 0.0, 1e-9);
}

}  // namespace
}  // namespace vx::host::ident
