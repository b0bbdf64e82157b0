// ICH Q2 detection and quantitation limits from calibration residuals.
#include "detection_limits.hpp"

#include <cmath>

namespace vx::host::peaks {

std::optional<DetectionLimits> detection_limits(std::span<const double> x,
                                                std::span<const double> y, double slope,
                                                double intercept,
                                                std::size_t fitted_parameters) {
  if (x.size() != y.size() || x.size() <= fitted_parameters) return std::nullopt;
  if (!std::isfinite(slope) || !std::isfinite(intercept) || slope == 0.0)
    return std::nullopt;
  double ss = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double r = y[i] - (intercept + slope * x[i]);
    ss += r * r;
  }
  if (!std::isfinite(ss)) return std::nullopt;
  DetectionLimits out;
  out.degrees_of_freedom = x.size() - fitted_parameters;
  out.residual_sd = std::sqrt(ss / static_cast<double>(out.degrees_of_freedom));
  // A falling calibration still has limits in amount: the size of the slope counts.
  const double m = std::fabs(slope);
  out.lod = 3.3 * out.residual_sd / m;
  out.loq = 10.0 * out.residual_sd / m;
  if (!std::isfinite(out.lod) || !std::isfinite(out.loq)) return std::nullopt;
  return out;
}

}  // namespace vx::host::peaks
