// The two small steps: OperationStepDemo (one arithmetic operation on two
// numeric inputs, one number out) and ReadMassSpecFiles (a placeholder that
// writes "{}" to each of its three outputs).
#pragma once

#include "registry/step_frame.hpp"

namespace vx::registry {

inline constexpr StepShape kOperationShape{
    .params = 1, .inputs = 2, .outputs = 1, .late_host_check = true};
inline constexpr StepShape kReadMassSpecShape{.params = 2, .inputs = 0, .outputs = 3};

StepResult compute_operation(const StepArgs& args);
StepResult compute_read_mass_spec(const StepArgs& args);

}  // namespace vx::registry
