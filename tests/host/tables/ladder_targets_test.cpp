// Targets placed by retention index and rows given theirs: what a ladder
// does to a batch's tables, and the targets it refuses.
#include "ladder_targets.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx::host::tables {
namespace {

const std::vector<ident::Alkane> kLadder = {{10, 5.0}, {11, 6.0}, {12, 8.0}};

Target by_index(std::optional<double> ri, std::optional<double> ri_tol, bool rt_given) {
  Target t = make_target("T", 73, rt_given ? 4.0 : 0.0, TargetDefaults{});
  t.ri = ri;
  t.ri_tol = ri_tol;
  t.rt_given = rt_given;
  return t;
}

TEST(LadderTargets, PlacesIndexWindowsAndRefusesWhatTheLadderCannotPlace) {
  struct Case {
    std::string what;
    Target target;
    bool with_ladder;
    std::string error;  // part of the message; empty: placed
    double want_rt;
    double want_rt_tol;
  };
  const Case cases[] = {
      {"between C10 and C11", by_index(1050, std::nullopt, false), true, "", 5.5, 0.1},
      {"window across C11: the wider side", by_index(1100, 20, false), true, "", 6.0,
       0.4},
      {"ri replaces a given rt", by_index(1150, 10, true), true, "", 7.0, 0.2},
      {"rt only: untouched", by_index(std::nullopt, std::nullopt, true), true, "", 4.0,
       0.3},
      {"below the ladder", by_index(995, 10, false), true,
       "lies outside the ladder (C10 to C12", 0, 0},
      {"window reaching past the end", by_index(1195, 10, false), true,
       "outside the ladder", 0, 0},
      {"only ri and no ladder", by_index(1050, 10, false), false, "give --ladder", 0, 0},
      {"ri and rt without a ladder: rt", by_index(1050, 10, true), false, "", 4.0, 0.3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Target> targets{c.target};
    const auto errors =
        place_targets_by_index(targets, c.with_ladder ? &kLadder : nullptr);
    if (!c.error.empty()) {
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_NE(errors[0].find(c.error), std::string::npos) << errors[0];
      EXPECT_NE(errors[0].find("'T'"), std::string::npos) << errors[0];
      continue;
    }
    EXPECT_TRUE(errors.empty());
    EXPECT_NEAR(targets[0].rt, c.want_rt, 1e-12);
    EXPECT_NEAR(targets[0].rt_tol, c.want_rt_tol, 1e-12);
  }
}

TEST(LadderTargets, RowsGainTheirIndexAndOutsideTheLadderAFlag) {
  std::vector<ResultRow> rows(4);
  rows[0].retention_time = 7.0;  // halfway from C11 to C12
  rows[1].retention_time = 9.0;  // after C12: extrapolated
  rows[2].retention_time = std::nullopt;
  rows[3].retention_time = 5.0;  // exactly C10
  add_retention_indices(rows, kLadder);
  EXPECT_NEAR(rows[0].retention_index.value_or(0), 1150, 1e-9);
  EXPECT_TRUE(rows[0].flags.empty());
  EXPECT_NEAR(rows[1].retention_index.value_or(0), 1250, 1e-9);
  EXPECT_EQ(rows[1].flags,
            std::vector<std::string>{std::string(ident::kFlagRiExtrapolated)});
  EXPECT_FALSE(rows[2].retention_index.has_value());
  EXPECT_EQ(rows[3].retention_index, 1000.0);
  EXPECT_TRUE(rows[3].flags.empty());
}

}  // namespace
}  // namespace vx::host::tables
