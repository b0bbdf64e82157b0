// One SVG per target's calibration: the standards used (filled), the ones
// left out (hollow squares), the fitted curve over the calibrated range, and
// a caption with the model, the weighting, the equation, R², the levels and
// why each left-out standard was left out.
#pragma once

#include <string>
#include <string_view>

#include "calibration.hpp"
#include "svg_plot.hpp"

namespace vx::host {

PlotInput calibration_plot(const Calibration& cal, std::string_view target,
                           bool istd_ratio);

}  // namespace vx::host
