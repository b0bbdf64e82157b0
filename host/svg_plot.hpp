// One SVG figure per file and target: the selected-ion trace points over the
// fit window, the fitted curve, the baseline, and the fit values in a caption
// wrapped to the picture's width. Drawn with the pieces of svg_writer.hpp;
// text is XML-escaped, non-finite values are left out, and an empty window
// still gives a valid figure that says so.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "svg_writer.hpp"

namespace vx::host {

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

}  // namespace vx::host
