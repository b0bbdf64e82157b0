// The trace figures' canvas (FigureLayout), so the two kinds sit well side
// by side in a report.
#include "calibration_plot.hpp"

#include <cmath>
#include <span>
#include <utility>
#include <vector>

#include "number_text.hpp"
#include "svg_plot.hpp"
#include "svg_writer.hpp"

namespace vx::host::figures {

using base::general_text;
using quant::Calibration;
using quant::CalibrationPoint;
using quant::CurveModel;
using quant::kCalOk;
using quant::model_name;
using quant::weighting_name;

namespace {

using L = FigureLayout;

constexpr std::string_view kUsedStyle = R"(fill="#1f5fbf")";
constexpr std::string_view kLeftOutStyle =
    R"(fill="none" stroke="#d62728" stroke-width="1.5")";
constexpr std::string_view kCurveStyle = R"(stroke="#d62728" stroke-width="2")";

struct Points {
  std::vector<double> used_x, used_y, out_x, out_y;
};

Points split_points(const Calibration& cal) {
  Points p;
  for (const CalibrationPoint& pt : cal.points) {
    if (!pt.response || !std::isfinite(pt.amount)) continue;
    (pt.excluded.empty() ? p.used_x : p.out_x).push_back(pt.amount);
    (pt.excluded.empty() ? p.used_y : p.out_y).push_back(*pt.response);
  }
  return p;
}

std::vector<std::string> caption_of(const Calibration& cal) {
  std::vector<std::string> lines;
  const std::string weighting =
      "weighting " + std::string(weighting_name(cal.settings.weighting)) +
      (cal.settings.through_origin ? ", through the origin" : "");
  if (cal.status == kCalOk) {
    std::string eq = "response = " + general_text(cal.coef[0], 6) + " + " +
                     general_text(cal.coef[1], 6) + "·x";
    if (cal.settings.model == CurveModel::kQuadratic)
      eq += " + " + general_text(cal.coef[2], 6) + "·x²";
    lines.push_back(eq + "   (" + weighting + ")");
    lines.push_back("R² " + (cal.r_squared ? general_text(*cal.r_squared, 6) : "-") + "   " +
                    std::to_string(cal.levels) + " levels, " +
                    std::to_string(cal.points_used) + " standards, range " +
                    general_text(cal.min_amount, 6) + " to " +
                    general_text(cal.max_amount, 6));
  } else {
    lines.push_back("no curve: " + cal.status + ": " + cal.message + "   (" + weighting + ")");
  }
  for (const CalibrationPoint& pt : cal.points) {
    if (!pt.excluded.empty()) lines.push_back("left out: " + pt.file + ": " + pt.excluded);
  }
  return lines;
}

}  // namespace

std::string render_calibration_svg(const Calibration& cal, std::string_view target,
                                   bool istd_ratio) {
  const Points pts = split_points(cal);
  PlotArea area;
  area.left = L::kLeft;
  area.top = L::kTop;
  area.width = L::kWidth - L::kLeft - L::kRight;
  area.height = L::kPlotHeight;
  area.x.add(0.0);
  for (const double x : pts.used_x) area.x.add(x * 1.05);
  for (const double x : pts.out_x) area.x.add(x * 1.05);
  std::vector<double> curve_x, curve_y;
  if (cal.status == kCalOk) {
    constexpr int kGrid = 200;
    for (int i = 0; i <= kGrid; ++i) {
      const double x = cal.max_amount * 1.05 * i / kGrid;
      curve_x.push_back(x);
      curve_y.push_back(cal.coef[0] + (cal.coef[1] + cal.coef[2] * x) * x);
    }
  }
  for (const std::vector<double>* ys : {&pts.used_y, &pts.out_y, &std::as_const(curve_y)})
    for (const double y : *ys) area.y.add(y);
  const bool no_data = pts.used_x.empty() && pts.out_x.empty();
  area.x.widen(0.0);
  area.y.widen(0.06);
  const std::vector<std::string> caption = caption_of(cal);
  SvgWriter svg(L::kWidth,
                area.bottom() + 74 + L::kCaptionLine * static_cast<double>(caption.size()),
                L::kFontSize);
  svg.text(L::kLeft, 26, "calibration: " + std::string(target),
           R"(font-size="15" font-weight="bold")");
  svg.axes(area, "amount", istd_ratio ? "response (area / ISTD area)" : "response (area)");
  svg.begin_clipped(area, "plot-area");
  svg.polyline(area, curve_x, curve_y, std::string(R"(class="curve" fill="none" )") +
                                           std::string(kCurveStyle));
  svg.markers(area, pts.used_x, pts.used_y, 3.5, R"(class="standards" fill="#1f5fbf")");
  svg.markers(area, pts.out_x, pts.out_y, 4.5,
              R"(class="left-out" fill="none" stroke="#d62728" stroke-width="1.5")");
  svg.close_group();
  if (no_data) {
    svg.text(area.left + area.width / 2, area.top + area.height / 2,
             "no standard with a response",
             R"(text-anchor="middle" font-size="14" fill="#777777")");
  }
  svg.frame(area);
  const std::string curve_label = std::string(model_name(cal.settings.model)) + " fit";
  const LegendEntry legend[] = {
      {LegendEntry::Sample::kMarker, kUsedStyle, "standards", 100},
      {LegendEntry::Sample::kLine, kCurveStyle, curve_label, 110},
      {LegendEntry::Sample::kMarker, kLeftOutStyle, "left out", 0}};
  // "left out" is named only when some standard was.
  svg.legend(L::kLeft, area.bottom() + 58,
             std::span<const LegendEntry>(legend, pts.out_x.empty() ? 2 : 3));
  svg.text_lines(L::kLeft, area.bottom() + 82, L::kCaptionLine, caption,
                 R"(class="caption" fill="#222222")");
  return svg.finish();
}

}  // namespace vx::host::figures
