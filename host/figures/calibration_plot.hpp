// One SVG per target's calibration: the standards used (dots), the ones left
// out (hollow circles, with the reason in the caption), the fitted curve from
// 0 to a little past the top level, and a caption with the model, the
// weighting, the equation, R² and the levels. Drawn with svg_writer's pieces.
#pragma once

#include <string>
#include <string_view>

#include "calibration.hpp"

namespace vx::host::figures {

// istd_ratio: the response is an area ratio to the internal standard.
std::string render_calibration_svg(const quant::Calibration& cal, std::string_view target,
                                   bool istd_ratio);

}  // namespace vx::host::figures
