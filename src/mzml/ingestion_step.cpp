// Placeholder: refuses every call until the step is built.
#include "mzml/ingestion_step.hpp"

namespace vx::mzml {

registry::StepResult compute_ingestion(const registry::StepArgs&) {
  return registry::StepResult::invalid();
}

}  // namespace vx::mzml
