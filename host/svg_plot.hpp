// One SVG figure per file and target: the selected-ion trace points over the
// fit window, the fitted curve, the baseline, and the fit values in a caption.
// Plain SVG 1.1 text written here, no plotting dependency; text is
// XML-escaped, non-finite values are left out, and an empty window still
// gives a valid figure that says so.
#pragma once

#include <optional>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
  std::vector<std::string> caption;  // one line each, below the plot
};

std::string render_plot_svg(const PlotInput& in);

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are
// not one.
std::size_t utf8_length(std::string_view s, std::size_t i);

// Round tick positions covering [lo, hi], about `count` of them.
std::vector<double> nice_ticks(double lo, double hi, int count);

}  // namespace vx::host
