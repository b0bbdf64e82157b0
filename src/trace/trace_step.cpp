// Placeholder: refuses every call until the step is built.
#include "trace/trace_step.hpp"

namespace vx::trace {

registry::StepResult compute_trace(const registry::StepArgs&) {
  return registry::StepResult::invalid();
}

}  // namespace vx::trace
