// One SVG figure per file and target: the selected-ion trace points over the
// fit window, the fitted curve, the baseline, and the fit values in a caption
// wrapped to the picture's width. Drawn with the pieces of svg_writer.hpp;
// text is XML-escaped, non-finite values are left out, and an empty window
// still gives a valid figure that says so.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "svg_writer.hpp"

namespace vx::host::figures {

// The canvas of every figure (trace and calibration alike, so they line up
// in a report): a fixed width, the data rectangle's margins and height, and
// the caption's line spacing.
struct FigureLayout {
  static constexpr double kWidth = 760;
  static constexpr double kLeft = 88;
  static constexpr double kRight = 24;
  static constexpr double kTop = 44;
  static constexpr double kPlotHeight = 340;
  static constexpr double kCaptionLine = 18;
  static constexpr double kFontSize = 12;
};

// Joins the values of a caption line: SVG text collapses runs of blanks, so
// the values need a visible mark between them, and a line is wrapped there.
inline constexpr std::string_view kCaptionSeparator = " \xC2\xB7 ";

struct PlotInput {
  std::string title;
  std::string x_label = "retention time (min)";
  std::string y_label = "intensity";
  double x_min = 0.0;  // the fit window
  double x_max = 0.0;
  std::vector<double> point_x, point_y;  // trace points
  std::vector<double> curve_x, curve_y;  // fitted curve, drawn as a line
  std::optional<double> baseline;
  // Paragraphs below the plot, wrapped to its width; values joined with
  // " · " stay whole on a line where they fit.
  std::vector<std::string> caption;
};

std::string render_plot_svg(const PlotInput& in);

}  // namespace vx::host::figures
