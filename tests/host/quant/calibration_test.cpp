#include "calibration.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "calibration_plot.hpp"

namespace vx::host::quant {

using figures::render_calibration_svg;

namespace {

constexpr double kAmounts[] = {1, 2, 5, 10, 20, 50, 10};  // 10 twice: a replicate

std::vector<CalibrationPoint> exact_points(const std::array<double, 3>& c) {
  std::vector<CalibrationPoint> pts;
  for (const double x : kAmounts) {
    pts.push_back({std::string("f").append(std::to_string(pts.size())), x, c[0] + c[1] * x + c[2] * x * x,
                   "", {}, {}});
  }
  return pts;
}

// Every model and weighting recovers the curve that made noise-free data, and
// back-calculates every standard to its own amount.
TEST(Calibration, ExactDataGivesTheGeneratingCurve) {
  struct Case {
    CurveModel model;
    Weighting weighting;
    bool origin;
    std::array<double, 3> coef;
  };
  const Case cases[] = {
      {CurveModel::kLinear, Weighting::kNone, false, {0.02, 0.5, 0}},
      {CurveModel::kLinear, Weighting::kInverseX, false, {-3, 1200, 0}},
      {CurveModel::kLinear, Weighting::kInverseX2, false, {0.5, 0.01, 0}},
      {CurveModel::kLinear, Weighting::kInverseX, true, {0, 7.5, 0}},
      {CurveModel::kQuadratic, Weighting::kNone, false, {0.1, 2, -0.01}},
      {CurveModel::kQuadratic, Weighting::kInverseX2, false, {5, 300, 4}},
      {CurveModel::kQuadratic, Weighting::kInverseX, true, {0, 1, 0.002}},
  };
  for (const Case& c : cases) {
    const CalibrationSettings s{c.model, c.weighting, c.origin};
    SCOPED_TRACE(std::string(model_name(c.model)) + " " + std::string(weighting_name(c.weighting)) +
                 (c.origin ? " origin" : ""));
    const Calibration cal = fit_calibration(exact_points(c.coef), s);
    ASSERT_EQ(cal.status, kCalOk) << cal.message;
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(cal.coef[i], c.coef[i], 1e-9 * std::fabs(c.coef[1]));
    EXPECT_NEAR(cal.r_squared.value_or(0), 1.0, 1e-12);
    EXPECT_EQ(cal.levels, 6u);
    EXPECT_EQ(cal.points_used, 7u);
    EXPECT_EQ(cal.min_amount, 1.0);
    EXPECT_EQ(cal.max_amount, 50.0);
    for (const CalibrationPoint& p : cal.points) EXPECT_NEAR(*p.accuracy, 100.0, 1e-7);
  }
}

// Data the curve cannot be made from gives a status and no numbers; unusable
// standards are listed as left out and never counted.
TEST(Calibration, StatusesAndLeftOutStandards) {
  const double nan = std::nan("");
  struct Case {
    const char* name;
    CalibrationSettings s;
    std::vector<CalibrationPoint> pts;
    std::string_view status;
    std::size_t levels, used;
  };
  const auto pt = [](double x, std::optional<double> y) {
    return CalibrationPoint{"f", x, y, "", {}, {}};
  };
  const Case cases[] = {
      {"none", {}, {}, kCalNoStandards, 0, 0},
      {"all fits failed", {}, {pt(1, std::nullopt), pt(2, std::nullopt)}, kCalNoStandards, 0, 0},
      {"one level, two replicates", {}, {pt(5, 1.0), pt(5, 1.1)}, kCalTooFewLevels, 1, 2},
      {"one level through the origin", {CurveModel::kLinear, Weighting::kNone, true}, {pt(5, 1.0)}, kCalOk, 1, 1},
      {"quadratic on two levels", {CurveModel::kQuadratic, Weighting::kNone, false}, {pt(1, 1), pt(2, 2), pt(2, 2.1)}, kCalTooFewLevels, 2, 3},
      {"all-equal responses", {}, {pt(1, 3), pt(2, 3), pt(4, 3)}, kCalFlatResponse, 3, 3},
      {"bad points left out", {}, {pt(1, 1), pt(2, 2), pt(0, 0.1), pt(-1, 1), pt(3, nan), pt(4, std::nullopt)}, kCalOk, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Calibration cal = fit_calibration(c.pts, c.s);
    EXPECT_EQ(cal.status, c.status);
    EXPECT_EQ(cal.levels, c.levels);
    EXPECT_EQ(cal.points_used, c.used);
    EXPECT_EQ(cal.points.size(), c.pts.size());
    std::size_t left_out = 0;
    for (const CalibrationPoint& p : cal.points) left_out += p.excluded.empty() ? 0U : 1U;
    EXPECT_EQ(left_out, c.pts.size() - c.used);
    if (cal.status != kCalOk) {
      EXPECT_FALSE(cal.r_squared);
      EXPECT_FALSE(amount_for_response(cal, 1.0));
      EXPECT_FALSE(cal.message.empty());
      for (const CalibrationPoint& p : cal.points) EXPECT_FALSE(p.back_calculated);
    }
  }
}

// The inverse: linear everywhere; a quadratic only on the branch that holds
// the calibrated range, and nothing past its turning point.
TEST(Calibration, AmountFromResponse) {
  const Calibration lin = fit_calibration(exact_points({1, 2, 0}), {});
  const Calibration up = fit_calibration(exact_points({0, 10, -0.09}),
                                         {CurveModel::kQuadratic, Weighting::kNone, false});
  ASSERT_EQ(up.status, kCalOk);  // turning point at x = 55.6, response 277.8
  struct Case {
    const Calibration* cal;
    double response;
    std::optional<double> want;
  };
  const Case cases[] = {
      {&lin, 21, 10}, {&lin, 0, -0.5}, {&lin, 301, 150},
      {&up, 10 * 20 - 0.09 * 400, 20}, {&up, 10 * 54 - 0.09 * 54 * 54, 54},
      {&up, 300, std::nullopt}, {&lin, std::nan(""), std::nullopt},
      {&lin, INFINITY, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.response);
    const auto got = amount_for_response(*c.cal, c.response);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) {
      EXPECT_NEAR(*got, *c.want, 1e-9 * std::max(1.0, std::fabs(*c.want)));
    }
  }
}

// The figure marks left-out standards apart from the used ones and says why
// in its caption; a curve that could not be made still gives a figure.
TEST(Calibration, PlotMarksLeftOutStandards) {
  std::vector<CalibrationPoint> pts = exact_points({0, 2, 0});
  pts[2].excluded = "peak fit failed (no_local_peak)";
  const std::string svg = render_calibration_svg(fit_calibration(pts, {}), "A<&>", true);
  EXPECT_NE(svg.find("calibration: A&lt;&amp;&gt;"), std::string::npos);
  EXPECT_NE(svg.find("left out: f2: peak fit failed (no_local_peak)"), std::string::npos);
  EXPECT_NE(svg.find("class=\"left-out\""), std::string::npos);
  EXPECT_NE(svg.find("class=\"curve\""), std::string::npos);
  const std::string none = render_calibration_svg(fit_calibration({}, {}), "B", false);
  EXPECT_NE(none.find("no standard with a response"), std::string::npos);
  EXPECT_NE(none.find("no curve: no_standards"), std::string::npos);
}

TEST(Calibration, OptionNames) {
  for (const CurveModel m : {CurveModel::kLinear, CurveModel::kQuadratic})
    EXPECT_EQ(parse_model(model_name(m)), m);
  for (const Weighting w : {Weighting::kNone, Weighting::kInverseX, Weighting::kInverseX2})
    EXPECT_EQ(parse_weighting(weighting_name(w)), w);
  EXPECT_FALSE(parse_model("cubic"));
  EXPECT_FALSE(parse_weighting("1/y"));
}

}  // namespace
}  // namespace vx::host::quant

namespace vx::host::quant {
namespace {

// LOD and LOQ come from the residuals about the whole curve. The scatter is
// orthogonal to every fitted column, so the unweighted fit is exactly the
// generating curve and s is known: for the quadratic, the residuals of a
// straight line through c0 + c1·x would include the x² term and be far larger.
TEST(Calibration, DetectionLimitsFromTheCurveResiduals) {
  struct Case {
    const char* name;
    CurveModel model;
    std::array<double, 3> curve;
    std::vector<double> scatter;  // at amounts 1, 2, ...
    double s;
  };
  const Case cases[] = {
      {"linear", CurveModel::kLinear, {0, 2, 0}, {1, -1, -1, 1}, std::sqrt(4.0 / 2)},
      {"quadratic", CurveModel::kQuadratic, {1, 2, 0.5}, {1, -4, 6, -4, 1}, std::sqrt(70.0 / 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<CalibrationPoint> pts;
    for (std::size_t i = 0; i < c.scatter.size(); ++i) {
      const auto x = static_cast<double>(i + 1);
      pts.push_back({"f", x, c.curve[0] + c.curve[1] * x + c.curve[2] * x * x + c.scatter[i],
                     "", {}, {}});
    }
    const Calibration cal = fit_calibration(pts, {c.model, Weighting::kNone, false});
    ASSERT_EQ(cal.status, kCalOk);
    ASSERT_TRUE(cal.lod && cal.loq);
    EXPECT_NEAR(*cal.lod, 3.3 * c.s / c.curve[1], 1e-9);
    EXPECT_NEAR(*cal.loq, 10 * c.s / c.curve[1], 1e-9);
  }
  // Two levels on a line leave no degrees of freedom: no limits, no NaN.
  const Calibration two = fit_calibration(
      {{"a", 1, 2.0, "", {}, {}}, {"b", 2, 4.0, "", {}, {}}}, {});
  ASSERT_EQ(two.status, kCalOk);
  EXPECT_FALSE(two.lod || two.loq);
}

}  // namespace
}  // namespace vx::host::quant
