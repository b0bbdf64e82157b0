// Step entry of the fit subsystem (placeholder until the step is built).
#pragma once

#include "registry/step_frame.hpp"

namespace vx::fit {

inline constexpr registry::StepShape kFitShape{.params = 3, .inputs = 1, .outputs = 2};

registry::StepResult compute_fit(const registry::StepArgs& args);

}  // namespace vx::fit
