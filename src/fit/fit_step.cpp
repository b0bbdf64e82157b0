// Placeholder: refuses every call until the step is built.
#include "fit/fit_step.hpp"

namespace vx::fit {

registry::StepResult compute_fit(const registry::StepArgs&) {
  return registry::StepResult::invalid();
}

}  // namespace vx::fit
