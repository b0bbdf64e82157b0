// The two demo steps. OperationStepDemo computes before it looks for host
// services, so an unknown operation is reported as 2 even without a host.
#include "registry/demo_steps.hpp"

#include <string>

#include "common/number_reader.hpp"

namespace vx::registry {

StepResult compute_operation(const StepArgs& args) {
  const auto a = common::read_number(&args.inputs[0]);
  if (!a) return StepResult::invalid();
  const auto b = common::read_number(&args.inputs[1]);
  if (!b) return StepResult::invalid();
  const std::string name(args.param_text(0));
  double result = 0.0;
  if (name == "sum") {
    result = *a + *b;
  } else if (name == "multiplication") {
    result = *a * *b;
  } else if (name == "subtraction") {
    result = *a - *b;
  } else if (name == "division") {
    if (*b == 0.0) return StepResult::invalid();  // also true for -0.0
    result = *a / *b;
  } else {
    return StepResult::invalid();
  }
  StepResult out;
  out.emissions.push_back(Emission::of_number(0, result));
  return out;
}

StepResult compute_read_mass_spec(const StepArgs&) {
  StepResult out;
  for (uint64_t slot = 0; slot < 3; ++slot) {
    out.emissions.push_back(Emission::of_text(slot, "{}"));
  }
  return out;
}

}  // namespace vx::registry
