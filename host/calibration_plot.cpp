// The figure reuses the trace plot's renderer with calibration labels.
#include "calibration_plot.hpp"

#include <cmath>

#include "number_text.hpp"

namespace vx::host {

PlotInput calibration_plot(const Calibration& cal, std::string_view target,
                           bool istd_ratio) {
  PlotInput p;
  p.title = "calibration: " + std::string(target);
  p.x_label = "amount";
  p.y_label = istd_ratio ? "response (area / ISTD area)" : "response (area)";
  p.point_label = "standards";
  p.curve_label = std::string(model_name(cal.settings.model)) + " fit";
  p.empty_text = "no standard with a response";
  for (const CalibrationPoint& pt : cal.points) {
    if (!pt.response || !std::isfinite(pt.amount)) continue;
    auto& xs = pt.excluded.empty() ? p.point_x : p.excluded_x;
    auto& ys = pt.excluded.empty() ? p.point_y : p.excluded_y;
    xs.push_back(pt.amount);
    ys.push_back(*pt.response);
  }
  p.x_min = 0.0;
  p.x_max = cal.points_used > 0 ? cal.max_amount * 1.05 : 0.0;
  const std::string weighting = "weighting " + std::string(weighting_name(cal.settings.weighting)) +
                                (cal.settings.through_origin ? ", through the origin" : "");
  if (cal.status == kCalOk) {
    constexpr int kGrid = 200;
    for (int i = 0; i <= kGrid; ++i) {
      const double x = p.x_max * i / kGrid;
      p.curve_x.push_back(x);
      p.curve_y.push_back(cal.coef[0] + (cal.coef[1] + cal.coef[2] * x) * x);
    }
    std::string eq = "response = " + general_text(cal.coef[0], 6) + " + " +
                     general_text(cal.coef[1], 6) + "·x";
    if (cal.settings.model == CurveModel::kQuadratic) eq += " + " + general_text(cal.coef[2], 6) + "·x²";
    p.caption.push_back(eq + "   (" + weighting + ")");
    p.caption.push_back("R² " + general_text(cal.r_squared.value_or(NAN), 6) + "   " +
                        std::to_string(cal.levels) + " levels, " +
                        std::to_string(cal.points_used) + " standards, range " +
                        general_text(cal.min_amount, 6) + " to " +
                        general_text(cal.max_amount, 6));
  } else {
    p.caption.push_back("no curve: " + cal.status + " — " + cal.message + "   (" + weighting + ")");
  }
  for (const CalibrationPoint& pt : cal.points) {
    if (!pt.excluded.empty()) p.caption.push_back("left out: " + pt.file + ": " + pt.excluded);
  }
  return p;
}

}  // namespace vx::host
