// Step entry of the mzml subsystem (placeholder until the step is built).
#pragma once

#include "registry/step_frame.hpp"

namespace vx::mzml {

inline constexpr registry::StepShape kIngestionShape{.params = 2, .inputs = 0, .outputs = 3};

registry::StepResult compute_ingestion(const registry::StepArgs& args);

}  // namespace vx::mzml
