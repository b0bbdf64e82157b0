// GcMsTargetedGaussianFitStep: reads the selected-ion trace of input 0, keeps
// the points within a tolerance of a target retention time, estimates one
// peak there, fits it, and writes the fit result document to output 1, then
// the fit diagnostics to output 0. The data never make the step fail; only
// missing arguments, an unreadable target or tolerance, an input the host
// cannot supply or a refused document change its status.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "fit/gaussian_solver.hpp"
#include "registry/step_frame.hpp"

namespace vx::fit {

inline constexpr registry::StepShape kFitShape{.params = 3, .inputs = 1, .outputs = 2};

inline constexpr int kDefaultIterationLimit = 100;

// The trace points within [target - tolerance, target + tolerance] and what
// the estimates need of them.
struct SelectedWindow {
  FitWindow window;
  double minimum = 0.0;          // smallest window intensity (the first one wins)
  double running_maximum = 0.0;  // largest intensity above 0, or 0
  std::size_t peak_index = 0;    // first point of that intensity, else 0
};

// Pairs are taken while both sequences have entries. A point whose time or
// intensity is not finite is left out, and a target or tolerance that is not
// finite selects nothing: a single NaN would otherwise poison the estimates
// and every pass of the fit.
SelectedWindow select_fit_window(std::span<const double> times,
                                 std::span<const double> intensities, double target,
                                 double tolerance);

// Start values from a window. fit_ready is false for fewer than 4 points or
// a height estimate that is not above 0; the width is then left at 0.
struct WindowEstimate {
  PeakEstimate estimate;
  bool fit_ready = false;
};

WindowEstimate estimate_peak(const SelectedWindow& selected, double tolerance);

// The iteration limit from parameter 0: 100 when unreadable, otherwise
// truncated toward zero and clamped to 1 ... 10000 (NaN gives 1).
int clamp_iteration_limit(std::optional<double> value);

// The m/z echoed into the result: one decimal number at the start of the
// raw target_mz value (leading blanks skipped, trailing bytes ignored); 0
// when the member is absent, does not start with a decimal number (a JSON
// string starts with its quote) or lies beyond the range of a double.
double read_target_mz(std::string_view trace_json);

registry::StepResult compute_fit(const registry::StepArgs& args);

}  // namespace vx::fit
