// Limits of detection and quantitation from a calibration (ICH Q2 residual
// method): LOD = 3.3·s / slope, LOQ = 10·s / slope, s the residual SD of the
// responses about the fitted calibration curve. Layer: host/peaks, standard
// library only. Pure; empty optional when the limits cannot be computed.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace vx::host::peaks {

struct DetectionLimits {
  double residual_sd = 0.0;  // s, response units
  double lod = 0.0;          // amount units (x)
  double loq = 0.0;
  std::size_t degrees_of_freedom = 0;
};

// s = sqrt(Σ (yᵢ − (intercept + slope·xᵢ))² / (n − fitted_parameters)). For a
// straight line fitted_parameters is 2, for a line through the origin 1. For
// another model (a quadratic: 3) the caller passes that model's parameter
// count and its slope at the low end (the derivative at x = 0 for a
// quadratic), since the limits describe the region near zero. Residuals are
// unweighted even when the line was fitted with weights: s describes the
// scatter of the responses as measured. Empty when x and y differ in length,
// n ≤ fitted_parameters, a value is not finite, or the slope is 0.
std::optional<DetectionLimits> detection_limits(std::span<const double> x,
                                                std::span<const double> y, double slope,
                                                double intercept,
                                                std::size_t fitted_parameters = 2);

}  // namespace vx::host::peaks
