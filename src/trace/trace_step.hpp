// Step entry of the trace subsystem (placeholder until the step is built).
#pragma once

#include "registry/step_frame.hpp"

namespace vx::trace {

inline constexpr registry::StepShape kTraceShape{.params = 3, .inputs = 1, .outputs = 2};

registry::StepResult compute_trace(const registry::StepArgs& args);

}  // namespace vx::trace
