// The constant step table and the two exported functions. Each entry is one
// call into the shared frame; the table, the IRI texts and the list are
// constant for as long as the library is loaded.
#include <cstring>

#include "fit/fit_step.hpp"
#include "mzml/ingestion_step.hpp"
#include "registry/demo_steps.hpp"
#include "registry/step_frame.hpp"
#include "trace/trace_step.hpp"
#include "vx_steps.h"

#ifndef VX_VOCABULARY_HOST
#error "VX_VOCABULARY_HOST must name the workflow vocabulary's host"
#endif

namespace vx::registry {
namespace {

#define VX_IRI(step) "https://" VX_VOCABULARY_HOST "/vx#generated/vx/velloran/" step

constexpr const char kOperationIri[] = VX_IRI("OperationStepDemo");
constexpr const char kReadMassSpecIri[] = VX_IRI("ReadMassSpecFiles");
constexpr const char kIngestionIri[] = VX_IRI("GcMsMzmlIngestionStep");
constexpr const char kTraceIri[] = VX_IRI("GcMsSimTraceExtractionStep");
constexpr const char kFitIri[] = VX_IRI("GcMsTargetedGaussianFitStep");

#undef VX_IRI

template <const StepShape& kShape, ComputeFn kCompute>
StepStatus entry(HostContext* host, const StepValue* params, uint64_t n_params,
                 const StepValue* inputs, uint64_t n_inputs, StepValue* outputs,
                 uint64_t n_outputs) noexcept {
  return run_step(kShape, kCompute, host, params, n_params, inputs, n_inputs,
                  outputs, n_outputs);
}

constexpr const char* const kIris[5] = {kOperationIri, kReadMassSpecIri,
                                        kIngestionIri, kTraceIri, kFitIri};

const StepDescriptor kSteps[5] = {
    {kOperationIri,
     "110bb286e1b9dc3fb19a62dd6a1528fc1a39c68ace537634efd37c1281965ced",
     &entry<kOperationShape, compute_operation>, 0},
    {kReadMassSpecIri,
     "d7568b480c1c679c76d8feb28105d3ab967eabb5d5152f1ed0cddb8aad10705b",
     &entry<kReadMassSpecShape, compute_read_mass_spec>, 0},
    {kIngestionIri,
     "b6b1c1476c3017c997ff9cecbe1f72bbda6cf5a65616d4223ea1954d8b71d315",
     &entry<mzml::kIngestionShape, mzml::compute_ingestion>, 0},
    {kTraceIri,
     "345fa1bd30425ef14482e3ca1bb7a6d47a9f8d72c3de87494b74f1f4a198bb28",
     &entry<trace::kTraceShape, trace::compute_trace>, 0},
    {kFitIri,
     "f18bbaada5ed7e3aad18bcd18faefb33156ea9c8f8db43fbb1b82b1b547a4dff",
     &entry<fit::kFitShape, fit::compute_fit>, 0},
};

}  // namespace
}  // namespace vx::registry

extern "C" VX_API int32_t vx_list_steps(const char* const** out_iris) {
  if (out_iris != nullptr) *out_iris = vx::registry::kIris;
  return 5;
}

extern "C" VX_API int32_t vx_resolve_step(const char* iri, StepDescriptor* out) {
  if (iri == nullptr || out == nullptr) return -1;
  for (const StepDescriptor& d : vx::registry::kSteps) {
    if (std::strcmp(d.iri, iri) == 0) {
      *out = d;
      return 0;
    }
  }
  return -1;
}
