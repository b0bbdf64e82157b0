// ICH Q2 limits from calibration residuals: hand-computed values, the degrees
// of freedom per model, and every input that cannot give a limit.
#include "detection_limits.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

using vx::host::peaks::detection_limits;

TEST(DetectionLimits, ResidualSdOverDegreesOfFreedom) {
  // Residuals +1, -1, -1, +1 about y = 1 + 2x: SS 4.
  const std::vector<double> x{1, 2, 3, 4}, y{4, 4, 6, 10};
  struct Case {
    std::size_t parameters;
    double sd;
  };
  for (const Case c :
       {Case{2, std::sqrt(2.0)}, Case{1, std::sqrt(4.0 / 3.0)}, Case{3, 2.0}}) {
    SCOPED_TRACE(c.parameters);
    const auto got = detection_limits(x, y, 2.0, 1.0, c.parameters);
    ASSERT_TRUE(got.has_value());
    EXPECT_NEAR(got->residual_sd, c.sd, 1e-12);
    EXPECT_EQ(got->degrees_of_freedom, 4 - c.parameters);
    EXPECT_NEAR(got->lod, 3.3 * c.sd / 2.0, 1e-12);
    EXPECT_NEAR(got->loq, 10.0 * c.sd / 2.0, 1e-12);
  }
}

TEST(DetectionLimits, UnusableInputsGiveNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> x{1, 2, 3}, y{2, 4, 6}, y_nan{2, nan, 6}, shorter{1, 2};
  struct Case {
    const char* name;
    std::span<const double> x, y;
    double slope;
    std::size_t parameters;
  };
  const Case cases[] = {
      {"lengths differ", x, shorter, 2.0, 2},
      {"n equals parameters", shorter, shorter, 2.0, 2},
      {"zero slope", x, y, 0.0, 2},
      {"NaN slope", x, y, nan, 2},
      {"NaN response", x, y_nan, 2.0, 2},
      {"empty", {}, {}, 2.0, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(detection_limits(c.x, c.y, c.slope, 0.0, c.parameters).has_value());
  }
  // A perfect line has limits of 0, not "none".
  const auto exact = detection_limits(x, y, 2.0, 0.0);
  ASSERT_TRUE(exact.has_value());
  EXPECT_EQ(exact->lod, 0.0);
}

}  // namespace
