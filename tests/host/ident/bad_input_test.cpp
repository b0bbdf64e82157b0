// What the identification layer does with bad input: damaged .msp entries
// (each named by line, the good entries still read), a ladder of one
// alkane, indices outside the ladder, empty spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ladder_finder.hpp"
#include "msp_library.hpp"
#include "retention_index.hpp"
#include "spectrum_match.hpp"

namespace vx::host::ident {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

TEST(IdentBadInput, DamagedMspEntriesAreErrorsNamingTheLine) {
  const std::string good = "Name: Good\nNum Peaks: 1\n50 1\n";
  struct Case {
    std::string what;
    std::string entry;  // placed between two good entries, from line 5
    std::string want;
  };
  const Case cases[] = {
      {"fewer peaks", "Name: X\nNum Peaks: 3\n41 1\n42 2\n",
       "lib:9: entry 'X' ends after 2 of its 3 peaks (Num Peaks on line 6)"},
      {"more peaks", "Name: X\nNum Peaks: 1\n41 1\n42 2\n",
       "lib:8: more peaks than Num Peaks (1)"},
      {"more pairs on one line", "Name: X\nNum Peaks: 1\n41 1; 42 2\n",
       "lib:7: more peaks than Num Peaks (1)"},
      {"non-numeric intensity", "Name: X\nNum Peaks: 1\n41 abc\n",
       "lib:7: peak value 'abc' is not a number"},
      {"non-numeric m/z", "Name: X\nNum Peaks: 1\nx41 1\n",
       "lib:7: peak value 'x41' is not a number"},
      {"m/z without intensity", "Name: X\nNum Peaks: 2\n41 1 42\n",
       "lib:7: peak m/z without its intensity"},
      {"negative intensity", "Name: X\nNum Peaks: 1\n41 -1\n",
       "lib:7: peak intensity '-1' is negative"},
      {"zero m/z", "Name: X\nNum Peaks: 1\n0 5\n", "lib:7: peak m/z '0' is not positive"},
      {"unterminated annotation", "Name: X\nNum Peaks: 1\n41 1 \"abc\n",
       "lib:7: unterminated quoted"},
      {"missing name", "Formula: C6H14\nNum Peaks: 1\n41 1\n",
       "lib:5: entry without NAME"},
      {"empty name", "Name:\nNum Peaks: 1\n41 1\n", "lib:5: empty NAME"},
      {"missing Num Peaks", "Name: X\n41 1\n", "lib:6: peak line before Num Peaks"},
      {"stray text", "Name: X\nNum Peaks: 1\n41 1\nsee above\n",
       "lib:8: line 'see above' is neither"},
      {"no peaks and no count", "Name: X\nFormula: C\n",
       "lib:5: entry 'X' has no Num Peaks"},
      {"count not a number", "Name: X\nNum Peaks: three\n41 1\n",
       "lib:6: Num Peaks 'three'"},
      {"count negative", "Name: X\nNum Peaks: -1\n", "lib:6: Num Peaks '-1'"},
      {"absurd count", "Name: X\nNum Peaks: 99999999999\n",
       "lib:6: Num Peaks '99999999999'"},
      {"bad RI", "Name: X\nRI: about 1200\nNum Peaks: 1\n41 1\n",
       "lib:6: retention index 'about 1200'"},
      {"bad RT unit", "Name: X\nRT: 5 hours\nNum Peaks: 1\n41 1\n",
       "lib:6: retention time '5 hours'"},
      {"next entry before the peaks end",
       "Name: X\nNum Peaks: 2\n41 1\nNAME: Y\nNum Peaks: 1\n9 9\n",
       "lib:8: entry 'X' ends after 1 of its 2 peaks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string text = good + "\n" + c.entry + "\n" + good;
    const MspParse p = parse_msp(text, "lib");
    ASSERT_EQ(p.errors.size(), 1u) << (p.errors.empty() ? "" : p.errors[1]);
    EXPECT_EQ(p.errors[0].substr(0, c.want.size()), c.want) << p.errors[0];
    // The good entries on either side are still read.
    ASSERT_GE(p.entries.size(), 2u);
    EXPECT_EQ(p.entries.front().name, "Good");
    EXPECT_EQ(p.entries.back().name, "Good");
  }
  // The list cut short by the end of the file names the last line.
  EXPECT_EQ(parse_msp("Name: X\nNum Peaks: 2\n41 1", "lib").errors.at(0).substr(0, 6),
            "lib:3:");
  // A file that is no library at all stops at a bounded number of errors.
  std::string junk;
  for (int i = 0; i < 1000; ++i) junk += "junk line\n";
  EXPECT_EQ(parse_msp(junk, "lib").errors.size(), kMaxMspErrors + 1);
}

TEST(IdentBadInput, LaddersIndicesAndSpectraThatCannotBeUsed) {
  const std::vector<Alkane> one{{10, 5.0}};
  const std::vector<Alkane> two{{10, 5.0}, {12, 7.0}};
  const std::vector<Alkane> unordered{{10, 5.0}, {12, 4.0}};
  const std::vector<Alkane> bad_carbon{{0, 1.0}, {12, 4.0}};
  EXPECT_TRUE(ladder_problem(one));
  EXPECT_TRUE(ladder_problem(unordered));
  EXPECT_TRUE(ladder_problem(bad_carbon));
  EXPECT_FALSE(retention_index(one, 5.0));
  EXPECT_FALSE(retention_time_at(one, 1000.0));
  EXPECT_FALSE(retention_index(unordered, 4.5));
  EXPECT_FALSE(retention_index(two, kNan));
  EXPECT_FALSE(retention_time_at(two, std::numeric_limits<double>::infinity()));
  // Far outside the ladder the value is still given, and flagged.
  const auto early = retention_index(two, 0.0);
  ASSERT_TRUE(early);
  EXPECT_TRUE(early->extrapolated);
  EXPECT_NEAR(early->value, 500.0, 1e-9);
  EXPECT_TRUE(retention_time_at(two, 3000.0)->extrapolated);

  // A trace with one peak, a flat trace, mismatched lengths: no ladder, a reason.
  std::vector<double> t;
  std::vector<double> peak;
  for (int i = 0; i < 500; ++i) {
    t.push_back(i * 0.01);
    peak.push_back(100.0 + 1e4 * std::exp(-0.5 * std::pow((i - 250) / 3.0, 2)));
  }
  const std::vector<double> one_peak = peak;
  const std::vector<double> flat(t.size(), 100.0);
  for (const std::vector<double>* y : {&one_peak, &flat}) {
    const LadderFind f = find_ladder(t, *y, 8);
    EXPECT_TRUE(f.alkanes.empty());
    EXPECT_EQ(f.warnings.size(), 1u);
  }
  EXPECT_EQ(find_ladder(t, std::vector<double>(3, 1.0), 8).warnings.size(), 1u);
  EXPECT_EQ(find_ladder(t, one_peak, 0).warnings.size(), 1u);
  EXPECT_EQ(find_ladder({}, {}, 8).warnings.size(), 1u);

  // Empty spectra have no score (not a score of 0).
  const UnitSpectrum empty;
  const UnitSpectrum zeros =
      bin_unit_mass(std::vector<double>{41, 43}, std::vector<double>{0, 0});
  const UnitSpectrum junk = bin_unit_mass(std::vector<double>{kNan, -3, 0.2, 9000},
                                          std::vector<double>{1, 1, 1, 1});
  const UnitSpectrum some =
      bin_unit_mass(std::vector<double>{41}, std::vector<double>{1});
  for (const UnitSpectrum* s : {&empty, &zeros, &junk}) {
    EXPECT_TRUE(s->empty());
    EXPECT_FALSE(match_score(*s, some));
    EXPECT_FALSE(match_score(some, *s));
  }
  EXPECT_FALSE(peak_scans({}, 1.0, 0.1));
  EXPECT_FALSE(peak_scans(t, 1.0, 0.0));
  EXPECT_FALSE(peak_scans(t, kNan, 0.1));
}

}  // namespace
}  // namespace vx::host::ident
