// Curve fitting by Householder QR of the weighted design matrix: the normal
// equations would square the condition number, which for a quadratic over
// three decades of amount costs the digits the oracle test holds us to.
#include "calibration.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "detection_limits.hpp"

namespace vx::host::quant {
namespace {

double weight_of(Weighting w, double x) {
  switch (w) {
    case Weighting::kNone:
      return 1.0;
    case Weighting::kInverseX:
      return 1.0 / x;
    case Weighting::kInverseX2:
      return 1.0 / (x * x);
  }
  return 1.0;
}

double curve_at(const std::array<double, 3>& c, double x) {
  return c[0] + (c[1] + c[2] * x) * x;
}

// One design row: the powers of x the model uses, the intercept first.
std::size_t design_row(const CalibrationSettings& s, double x, double* row) {
  std::size_t k = 0;
  if (!s.through_origin) row[k++] = 1.0;
  row[k++] = x;
  if (s.model == CurveModel::kQuadratic) row[k++] = x * x;
  return k;
}

// Maps the fitted column coefficients back onto c0 + c1·x + c2·x².
std::array<double, 3> to_coefficients(const CalibrationSettings& s,
                                      const std::array<double, 3>& beta) {
  std::array<double, 3> c{};
  std::size_t k = 0;
  if (!s.through_origin) c[0] = beta[k++];
  c[1] = beta[k++];
  if (s.model == CurveModel::kQuadratic) c[2] = beta[k];
  return c;
}

std::string exclusion_reason(const CalibrationPoint& p) {
  if (!std::isfinite(p.amount) || p.amount <= 0.0) return "amount is not a positive number";
  if (!p.response) return "no response (the peak fit failed)";
  if (!std::isfinite(*p.response)) return "response is not a finite number";
  return {};
}

// Weighted least squares of y on the k ≤ 3 columns of x (row-major, n rows)
// by Householder QR of √w·x; nullopt when the columns are (numerically)
// dependent.
std::optional<std::array<double, 3>> weighted_least_squares(const std::vector<double>& x,
                                                            std::size_t k,
                                                            const std::vector<double>& y,
                                                            const std::vector<double>& w) {
  const std::size_t n = y.size();
  if (k == 0 || k > 3 || n < k || x.size() != n * k || w.size() != n) return std::nullopt;
  std::vector<double> a(n * k);
  std::vector<double> b(n);
  double scale = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double s = std::sqrt(w[i]);
    for (std::size_t j = 0; j < k; ++j) {
      a[i * k + j] = s * x[i * k + j];
      scale = std::max(scale, std::fabs(a[i * k + j]));
    }
    b[i] = s * y[i];
  }
  // Householder reflections turn a into R (upper triangle) and b into Qᵀb.
  for (std::size_t j = 0; j < k; ++j) {
    double norm = 0.0;
    for (std::size_t i = j; i < n; ++i) norm = std::hypot(norm, a[i * k + j]);
    if (!(norm > scale * 1e-13 * static_cast<double>(n))) return std::nullopt;
    const double alpha = a[j * k + j] > 0.0 ? -norm : norm;
    std::vector<double> v(n - j);
    for (std::size_t i = j; i < n; ++i) v[i - j] = a[i * k + j];
    v[0] -= alpha;
    double vv = 0.0;
    for (const double e : v) vv += e * e;
    if (vv == 0.0) continue;
    const auto reflect = [&](auto&& at) {
      double d = 0.0;
      for (std::size_t i = j; i < n; ++i) d += v[i - j] * at(i);
      const double f = 2.0 * d / vv;
      for (std::size_t i = j; i < n; ++i) at(i) -= f * v[i - j];
    };
    for (std::size_t c = j; c < k; ++c) {
      reflect([&](std::size_t i) -> double& { return a[i * k + c]; });
    }
    reflect([&](std::size_t i) -> double& { return b[i]; });
  }
  std::array<double, 3> beta{};
  for (std::size_t jj = k; jj-- > 0;) {
    double s = b[jj];
    for (std::size_t c = jj + 1; c < k; ++c) s -= a[jj * k + c] * beta[c];
    beta[jj] = s / a[jj * k + jj];
  }
  for (std::size_t j = 0; j < k; ++j) {
    if (!std::isfinite(beta[j])) return std::nullopt;
  }
  return beta;
}

// Σ w (y − ȳ)² about the weighted mean ȳ = Σ w y / Σ w.
double weighted_spread(const std::vector<double>& y, const std::vector<double>& w) {
  double sw = 0.0, swy = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i) {
    sw += w[i];
    swy += w[i] * y[i];
  }
  const double mean = swy / sw;
  double ss = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i) ss += w[i] * (y[i] - mean) * (y[i] - mean);
  return ss;
}

// Every standard with a response, left out or not, gets its amount read back
// off the curve, so a left-out standard still shows how far off it was.
void back_calculate(Calibration& cal) {
  for (CalibrationPoint& p : cal.points) {
    if (!p.response) continue;
    p.back_calculated = amount_for_response(cal, *p.response);
    if (p.back_calculated && std::isfinite(p.amount) && p.amount > 0.0) {
      p.accuracy = *p.back_calculated / p.amount * 100.0;
    }
  }
}

// The limits describe the curve near zero, so the slope is c1 (a quadratic's
// derivative at 0). The residuals must be those about the whole curve: the
// quadratic term is taken off the responses first, so that the line c0 + c1·x
// leaves exactly the curve's residuals.
void set_detection_limits(Calibration& cal, std::size_t parameters) {
  std::vector<double> amounts, responses;
  for (const CalibrationPoint& p : cal.points) {
    if (!p.excluded.empty()) continue;
    amounts.push_back(p.amount);
    responses.push_back(*p.response - cal.coef[2] * p.amount * p.amount);
  }
  if (const auto limits = peaks::detection_limits(amounts, responses, cal.coef[1],
                                                  cal.coef[0], parameters)) {
    cal.lod = limits->lod;
    cal.loq = limits->loq;
  }
}

}  // namespace

std::string_view model_name(CurveModel m) {
  return m == CurveModel::kQuadratic ? "quadratic" : "linear";
}

std::string_view weighting_name(Weighting w) {
  switch (w) {
    case Weighting::kNone:
      return "none";
    case Weighting::kInverseX:
      return "1/x";
    case Weighting::kInverseX2:
      return "1/x2";
  }
  return "none";
}

std::optional<CurveModel> parse_model(std::string_view s) {
  if (s == "linear") return CurveModel::kLinear;
  if (s == "quadratic") return CurveModel::kQuadratic;
  return std::nullopt;
}

std::optional<Weighting> parse_weighting(std::string_view s) {
  if (s == "none") return Weighting::kNone;
  if (s == "1/x") return Weighting::kInverseX;
  if (s == "1/x2" || s == "1/x^2" || s == "1/x²") return Weighting::kInverseX2;
  return std::nullopt;
}

std::size_t model_parameters(const CalibrationSettings& s) {
  return (s.through_origin ? 0U : 1U) + (s.model == CurveModel::kQuadratic ? 2U : 1U);
}

Calibration fit_calibration(std::vector<CalibrationPoint> points,
                            const CalibrationSettings& settings) {
  Calibration cal;
  cal.settings = settings;
  std::vector<double> x, y, w;
  std::set<double> levels;
  for (CalibrationPoint& p : points) {
    if (p.excluded.empty()) p.excluded = exclusion_reason(p);
    if (!p.excluded.empty()) continue;
    double row[3];
    const std::size_t k = design_row(settings, p.amount, row);
    x.insert(x.end(), row, row + k);
    y.push_back(*p.response);
    w.push_back(weight_of(settings.weighting, p.amount));
    levels.insert(p.amount);
  }
  cal.points = std::move(points);
  cal.points_used = y.size();
  cal.levels = levels.size();
  const std::size_t needed = model_parameters(settings);
  if (cal.points_used == 0) {
    cal.status = kCalNoStandards;
    cal.message = "no standard with a usable response";
    return cal;
  }
  cal.min_amount = *levels.begin();
  cal.max_amount = *levels.rbegin();
  if (cal.levels < needed) {
    cal.status = kCalTooFewLevels;
    cal.message = std::to_string(cal.levels) + " level(s); the " +
                  std::string(model_name(settings.model)) + " model needs " +
                  std::to_string(needed);
    return cal;
  }
  const double ss_tot = weighted_spread(y, w);
  // A single level (through the origin) has no spread to explain; equal
  // responses over several levels mean the compound does not respond.
  if (cal.levels > 1 && !(ss_tot > 0.0)) {
    cal.status = kCalFlatResponse;
    cal.message = "every standard gives the same response";
    return cal;
  }
  const auto beta = weighted_least_squares(x, needed, y, w);
  if (!beta) {
    cal.status = kCalSingular;
    cal.message = "the standards do not determine the curve";
    return cal;
  }
  cal.coef = to_coefficients(settings, *beta);
  double ss_res = 0.0;
  for (const CalibrationPoint& p : cal.points) {
    if (!p.excluded.empty()) continue;
    const double r = *p.response - curve_at(cal.coef, p.amount);
    ss_res += weight_of(settings.weighting, p.amount) * r * r;
  }
  if (ss_tot > 0.0) cal.r_squared = 1.0 - ss_res / ss_tot;
  cal.status = kCalOk;
  back_calculate(cal);
  set_detection_limits(cal, needed);
  return cal;
}

std::optional<double> amount_for_response(const Calibration& cal, double response) {
  if (cal.status != kCalOk || !std::isfinite(response)) return std::nullopt;
  const auto& c = cal.coef;
  if (c[2] == 0.0) {
    if (c[1] == 0.0) return std::nullopt;
    return (response - c[0]) / c[1];
  }
  // c2·x² + c1·x + (c0 - response) = 0, solved without cancellation; the root
  // taken is the one on the branch whose slope has the sign the curve has in
  // the middle of the calibrated range.
  const double c0 = c[0] - response;
  const double disc = c[1] * c[1] - 4.0 * c[2] * c0;
  if (!(disc >= 0.0)) return std::nullopt;
  const double sq = std::sqrt(disc);
  const double q = -0.5 * (c[1] + (c[1] >= 0.0 ? sq : -sq));
  const double mid = 0.5 * (cal.min_amount + cal.max_amount);
  const double slope_mid = c[1] + 2.0 * c[2] * mid;
  double best = 0.0;
  bool found = false;
  for (const double r : {q / c[2], q != 0.0 ? c0 / q : q / c[2]}) {
    const double slope = c[1] + 2.0 * c[2] * r;
    if (std::isfinite(r) && (slope >= 0.0) == (slope_mid >= 0.0) &&
        (!found || std::fabs(r - mid) < std::fabs(best - mid))) {
      best = r;
      found = true;
    }
  }
  if (!found) return std::nullopt;
  return best;
}

}  // namespace vx::host::quant
