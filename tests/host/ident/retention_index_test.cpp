// Retention index arithmetic, its inverse and the ladder table.
#include "retention_index.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace vx::host::ident {
namespace {

// C10..C14 with uneven spacing, and an even-only pair C16, C18.
const std::vector<Alkane> kLadder{{10, 5.0},  {11, 6.0},  {12, 7.5}, {13, 9.0},
                                  {14, 10.0}, {16, 12.0}, {18, 14.0}};

TEST(RetentionIndex, VanDenDoolKratzInsideAndOutsideTheLadder) {
  struct Case {
    double rt;
    double want;
    bool extrapolated;
  };
  const Case cases[] = {
      {5.0, 1000.0, false},   // at the first alkane
      {5.5, 1050.0, false},   // halfway C10-C11
      {6.75, 1150.0, false},  // halfway C11-C12, wider gap
      {7.5, 1200.0, false},   // at an inner alkane
      {11.0, 1500.0, false},  // halfway across the C14-C16 gap: one carbon per 1 min
      {13.0, 1700.0, false},
      {14.0, 1800.0, false},  // at the last alkane: not extrapolated
      {4.0, 900.0, true},     // before C10: C10-C11 pair extended
      {15.0, 1900.0, true},   // after C18: C16-C18 pair extended
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rt);
    const auto ri = retention_index(kLadder, c.rt);
    ASSERT_TRUE(ri);
    EXPECT_NEAR(ri->value, c.want, 1e-9);
    EXPECT_EQ(ri->extrapolated, c.extrapolated);
    // The inverse gives the time back, with the same flag.
    const auto t = retention_time_at(kLadder, c.want);
    ASSERT_TRUE(t);
    EXPECT_NEAR(t->value, c.rt, 1e-9);
    EXPECT_EQ(t->extrapolated, c.extrapolated);
  }
}

TEST(RetentionIndex, WindowFromIndexToleranceCoversBothEnds) {
  // 1200 ± 10 lies in C11-C12 and C12-C13, both 1.5 min per carbon.
  const auto w = rt_window_for_ri(kLadder, 1200.0, 10.0);
  ASSERT_TRUE(w);
  EXPECT_NEAR(w->rt, 7.5, 1e-12);
  EXPECT_NEAR(w->rt_lo, 7.35, 1e-12);
  EXPECT_NEAR(w->rt_hi, 7.65, 1e-12);
  // Across C10-C11 (1 min) and C11-C12 (1.5 min) the window is asymmetric.
  const auto a = rt_window_for_ri(kLadder, 1100.0, 20.0);
  ASSERT_TRUE(a);
  EXPECT_NEAR(a->rt - a->rt_lo, 0.2, 1e-12);
  EXPECT_NEAR(a->rt_hi - a->rt, 0.3, 1e-12);
  EXPECT_NEAR(a->rt_tol, 0.3, 1e-12);
  EXPECT_FALSE(a->extrapolated);
  EXPECT_TRUE(rt_window_for_ri(kLadder, 1805.0, 10.0)->extrapolated);
  EXPECT_FALSE(rt_window_for_ri(kLadder, 1200.0, -1.0));
}

TEST(LadderTable, ReadsConventionsAndRoundTrips) {
  const std::string text =
      "\xEF\xBB\xBF# alkane mix, column A\r\n"
      "RT\tCarbon\r\n"
      "\r\n"
      "5.0\t10\r\n"
      "# C11 co-eluted\r\n"
      "7.123456789012345\t12\r\n";
  const LadderParse p = parse_ladder(text, "l.tsv");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  ASSERT_EQ(p.alkanes.size(), 2u);
  EXPECT_EQ(p.alkanes[1], (Alkane{12, 7.123456789012345}));
  const LadderParse back = parse_ladder(format_ladder(p.alkanes), "again");
  EXPECT_TRUE(back.errors.empty());
  EXPECT_EQ(back.alkanes, p.alkanes);
  EXPECT_TRUE(parse_ladder("carbon,rt\n8,2.5\n9,3\n", "c.csv").errors.empty());
}

TEST(LadderTable, ErrorsNameTheLine) {
  struct Case {
    std::string text;
    std::string want;  // the start of the first error
  };
  const Case cases[] = {
      {"carbon\trt\n10\t5\n", "l:2: a ladder needs at least two alkanes (it has 1)"},
      {"carbon\trt\n", "l:1: a ladder needs at least two alkanes (it has 0)"},
      {"", "l: no header row"},
      {"# only a comment\n", "l: no header row"},
      {"carbon\ttime\n10\t5\n", "l:1: unknown column 'time'"},
      {"carbon\n10\n", "l:1: the header needs carbon and rt"},
      {"carbon\trt\n10\t5\n11\n", "l:3: 1 cells where the header has 2"},
      {"carbon\trt\n10\t5\n10.5\t6\n", "l:3: carbon '10.5' is not a whole number"},
      {"carbon\trt\n0\t5\n1\t6\n", "l:2: carbon '0' is not a whole number from 1 to 200"},
      {"carbon\trt\n10\t5\n11\tsix\n", "l:3: rt 'six' is not a finite number"},
      {"carbon\trt\n10\t-5\n11\t6\n", "l:2: rt '-5' is not a finite number"},
      {"carbon\trt\n10\tnan\n11\t6\n", "l:2: rt 'nan'"},
      {"carbon\trt\n10\t5\n10\t6\n", "l:3: carbon numbers must increase: C10 after C10"},
      {"carbon\trt\n11\t5\n10\t6\n", "l:3: carbon numbers must increase: C10 after C11"},
      {"carbon\trt\n10\t5\n11\t5\n",
       "l:3: times must increase: C11 does not elute after C10"},
      {"carbon\trt\n10\t5\n11\t4\n", "l:3: times must increase"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const LadderParse p = parse_ladder(c.text, "l");
    ASSERT_FALSE(p.errors.empty());
    EXPECT_EQ(p.errors.front().substr(0, c.want.size()), c.want);
  }
}

}  // namespace
}  // namespace vx::host::ident
