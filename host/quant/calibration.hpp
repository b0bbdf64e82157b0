// Calibration curves: a weighted least-squares fit of response against known
// amount over a target's standards, its inverse (amount from response) and the
// checks an analyst reads off a curve (R², levels, back-calculated amounts).
// Pure arithmetic on plain values: no I/O, no allocation beyond the result,
// never throws for bad numbers (non-finite or non-positive amounts are left
// out with a reason, degenerate data gives a status instead of coefficients).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::quant {

enum class CurveModel { kLinear, kQuadratic };
enum class Weighting { kNone, kInverseX, kInverseX2 };

struct CalibrationSettings {
  CurveModel model = CurveModel::kLinear;
  Weighting weighting = Weighting::kInverseX;
  bool through_origin = false;
};

// Names as written on the command line and in the tables.
std::string_view model_name(CurveModel m);
std::string_view weighting_name(Weighting w);
std::optional<CurveModel> parse_model(std::string_view s);
std::optional<Weighting> parse_weighting(std::string_view s);

// Values of Calibration::status.
inline constexpr std::string_view kCalOk = "ok";
inline constexpr std::string_view kCalNoStandards = "no_standards";
inline constexpr std::string_view kCalTooFewLevels = "too_few_levels";
inline constexpr std::string_view kCalFlatResponse = "flat_response";
inline constexpr std::string_view kCalSingular = "singular";
// A target with no standards that serves as another target's internal standard.
inline constexpr std::string_view kCalInternalStandard = "internal_standard";

struct CalibrationPoint {
  std::string file;
  double amount = 0.0;
  std::optional<double> response;  // absent: the standard's fit (or its ISTD's) failed
  std::string excluded;            // why the point is left out; empty: used
  std::optional<double> back_calculated;
  std::optional<double> accuracy;  // back-calculated / amount × 100
};

struct Calibration {
  std::string status;   // one of the kCal* values
  std::string message;  // for people, when status is not ok
  CalibrationSettings settings;
  std::array<double, 3> coef{};  // response = coef[0] + coef[1]·x + coef[2]·x²
  std::optional<double> r_squared;
  std::size_t levels = 0;  // distinct amounts among the points used
  std::size_t points_used = 0;
  double min_amount = 0.0;  // the calibrated range: lowest and highest level used
  double max_amount = 0.0;
  std::vector<CalibrationPoint> points;
  // Limits of detection and quantitation in amount units (ICH Q2: 3.3·s and
  // 10·s over the slope, s the residual SD of the used responses about the
  // curve); empty unless the curve is ok and has residual degrees of freedom.
  std::optional<double> lod, loq;
};

// Parameters the model has, which is also the fewest levels it can be fitted to.
std::size_t model_parameters(const CalibrationSettings& s);

// Fits the curve to the points that have a finite response and a finite,
// positive amount; the others are kept in the result with `excluded` set.
Calibration fit_calibration(std::vector<CalibrationPoint> points,
                            const CalibrationSettings& settings);

// The amount whose curve response is `response`; nullopt when the curve is
// not ok, the response is not finite, or (quadratic) the curve never reaches
// it on the branch that holds the calibrated range.
std::optional<double> amount_for_response(const Calibration& cal, double response);

}  // namespace vx::host::quant
