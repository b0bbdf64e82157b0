// Layout: a fixed 760-unit wide canvas; the data rectangle leaves room for
// the axis labels on the left and below, then the legend and the caption
// lines, whose count sets the height.
#include "svg_plot.hpp"

#include <cmath>

namespace vx::host::figures {
namespace {

constexpr double kWidth = FigureLayout::kWidth;
constexpr double kLeft = FigureLayout::kLeft;
constexpr double kRight = FigureLayout::kRight;
constexpr double kTop = FigureLayout::kTop;
constexpr double kPlotHeight = FigureLayout::kPlotHeight;
constexpr double kCaptionLine = FigureLayout::kCaptionLine;
constexpr double kFontSize = FigureLayout::kFontSize;

constexpr std::string_view kPointStyle = R"(fill="#1f5fbf")";
constexpr std::string_view kCurveStyle = R"(stroke="#d62728" stroke-width="2")";
constexpr std::string_view kBaselineStyle =
    R"(stroke="#2a9d3a" stroke-width="1.5" stroke-dasharray="6 4")";

// The window when it has a width, else the data's own range.
AxisRange x_range(const PlotInput& in) {
  AxisRange r;
  r.add(in.x_min);
  r.add(in.x_max);
  if (r.empty() || r.lo == r.hi) {
    for (const double x : in.point_x) r.add(x);
    for (const double x : in.curve_x) r.add(x);
    r.widen(0.05);
  }
  return r;
}

// Intensities of the points with a finite time, and the baseline.
AxisRange y_range(const PlotInput& in) {
  AxisRange r;
  for (std::size_t i = 0; i < in.point_x.size() && i < in.point_y.size(); ++i) {
    if (std::isfinite(in.point_x[i])) r.add(in.point_y[i]);
  }
  for (std::size_t i = 0; i < in.curve_x.size() && i < in.curve_y.size(); ++i) {
    if (std::isfinite(in.curve_x[i])) r.add(in.curve_y[i]);
  }
  if (in.baseline) r.add(*in.baseline);
  return r;
}

std::vector<std::string> wrapped_caption(const PlotInput& in, double width) {
  std::vector<std::string> lines;
  for (const std::string& paragraph : in.caption) {
    for (std::string& l : wrap_text(paragraph, width, kFontSize, kCaptionSeparator)) {
      lines.push_back(std::move(l));
    }
  }
  return lines;
}

void draw_data(SvgWriter& svg, const PlotArea& area, const PlotInput& in) {
  svg.begin_clipped(area, "plot-area");
  if (in.baseline && std::isfinite(*in.baseline)) {
    const double y = area.py(*in.baseline);
    svg.line(area.left, y, area.right(), y, kBaselineStyle, "baseline");
  }
  svg.polyline(area, in.curve_x, in.curve_y,
               R"(class="fit" fill="none" stroke="#d62728" stroke-width="2")");
  svg.markers(area, in.point_x, in.point_y, 3, R"(class="trace" fill="#1f5fbf")");
  svg.close_group();
}

}  // namespace

std::string render_plot_svg(const PlotInput& in) {
  PlotArea area{.left = kLeft,
                .top = kTop,
                .width = kWidth - kLeft - kRight,
                .height = kPlotHeight,
                .x = x_range(in),
                .y = y_range(in)};
  const bool no_data = area.y.empty();
  area.y.widen(0.06);
  const std::vector<std::string> caption = wrapped_caption(in, area.width);
  const double height =
      area.bottom() + 64 + kCaptionLine * static_cast<double>(caption.size()) + 10;

  SvgWriter svg(kWidth, height, kFontSize);
  svg.text(kLeft, 26, in.title, R"(font-size="15" font-weight="bold")");
  svg.axes(area, in.x_label, in.y_label);
  draw_data(svg, area, in);
  if (no_data) {
    svg.text(area.left + area.width / 2, area.top + area.height / 2,
             "no trace points in the fit window",
             R"(text-anchor="middle" font-size="14" fill="#777777")");
  }
  svg.frame(area);
  // Legend in one row under the axis label, where it never hides data.
  const LegendEntry legend[] = {
      {LegendEntry::Sample::kMarker, kPointStyle, "trace points", 110},
      {LegendEntry::Sample::kLine, kCurveStyle, "fitted curve", 116},
      {LegendEntry::Sample::kLine, kBaselineStyle, "baseline", 0}};
  svg.legend(kLeft, area.bottom() + 58, legend);
  svg.text_lines(kLeft, area.bottom() + 82, kCaptionLine, caption,
                 R"(class="caption" fill="#222222")");
  return svg.finish();
}

}  // namespace vx::host::figures
