// The ladder finder on generated alkane ladder runs: near-even spacing that
// drifts, noise on a sloping baseline, missing alkanes and a contaminant.
#include "ladder_finder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vx::host::ident {
namespace {

struct Generated {
  std::vector<double> rt, intensity;
  std::vector<Alkane> truth;  // every alkane of the mix, also the left-out ones
};

// C8 at 3 min, then gaps of spacing0 + drift·i minutes; alkanes in `drop`
// are left out of the trace; `extra` adds a small peak at that time.
Generated generate(double spacing0, double drift, std::set<int> drop,
                   double extra = -1.0) {
  Generated g;
  double t = 3.0;
  for (int c = 8; c <= 20; ++c) {
    g.truth.push_back({c, t});
    t += spacing0 + drift * (c - 8);
  }
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 40.0);
  for (double x = 0.0; x < t + 1.0; x += 0.004) {
    double y = 1000.0 + 20.0 * x + noise(rng);
    for (const Alkane& a : g.truth) {
      if (drop.count(a.carbon) != 0) continue;
      const double h = 4e4 + 3e3 * (a.carbon % 5);
      y += h * std::exp(-0.5 * std::pow((x - a.rt) / 0.015, 2));
    }
    if (extra > 0) y += 1e4 * std::exp(-0.5 * std::pow((x - extra) / 0.015, 2));
    g.rt.push_back(x);
    g.intensity.push_back(y);
  }
  return g;
}

TEST(LadderFinder, NumbersGeneratedLaddersAndNamesMissingAlkanes) {
  struct Case {
    std::string what;
    double spacing0, drift;
    std::set<int> drop;
    double extra;
    std::vector<int> missing;
    std::size_t warnings;
  };
  const Case cases[] = {
      {"even spacing", 1.5, 0.0, {}, -1, {}, 0},
      {"spacing widens", 1.2, 0.05, {}, -1, {}, 0},
      {"spacing narrows", 2.0, -0.07, {}, -1, {}, 0},
      {"C14 missing", 1.5, 0.0, {14}, -1, {14}, 1},
      {"C14 missing while spacing drifts", 2.0, -0.07, {14}, -1, {14}, 1},
      {"C9 missing, next to the first", 1.2, 0.05, {9}, -1, {9}, 1},
      {"C19 missing, next to the last", 1.5, 0.03, {19}, -1, {19}, 1},
      {"C12 and C13 missing", 1.5, 0.02, {12, 13}, -1, {12, 13}, 2},
      {"C11 and C17 missing", 1.6, -0.03, {11, 17}, -1, {11, 17}, 2},
      {"contaminant between C10 and C11", 1.5, 0.0, {}, 6.25, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Generated g = generate(c.spacing0, c.drift, c.drop, c.extra);
    const LadderFind f = find_ladder(g.rt, g.intensity, 8);
    EXPECT_EQ(f.missing_carbons, c.missing);
    EXPECT_EQ(f.warnings.size(), c.warnings);
    for (const std::string& w : f.warnings) SCOPED_TRACE(w);
    for (int m : c.missing) {
      bool named = false;
      for (const std::string& w : f.warnings) {
        named |=
            w.find("missing alkane C" + std::to_string(m) + " ") != std::string::npos;
      }
      EXPECT_TRUE(named) << "no warning names C" << m;
    }
    // Every alkane in the trace keeps its true carbon number and time.
    ASSERT_EQ(f.alkanes.size(), g.truth.size() - c.drop.size());
    std::size_t k = 0;
    for (const Alkane& a : g.truth) {
      if (c.drop.count(a.carbon) != 0) continue;
      EXPECT_EQ(f.alkanes[k].carbon, a.carbon);
      EXPECT_NEAR(f.alkanes[k].rt, a.rt, 0.002);
      ++k;
    }
    EXPECT_FALSE(ladder_problem(f.alkanes));
  }
}

}  // namespace
}  // namespace vx::host::ident
