// GcMsSimTraceExtractionStep: reads the spectra document of input 0 and
// writes the selected-ion trace of the target m/z (parameter 2) within the
// tolerance (parameter 1) or, with the mode text "exact_match" (parameter 0),
// at the target itself. Output 1 receives the trace document, then output 0
// the diagnostics document.
#pragma once

#include <string>

#include "registry/step_frame.hpp"
#include "trace/trace_extract.hpp"

namespace vx::trace {

inline constexpr registry::StepShape kTraceShape{.params = 3, .inputs = 1, .outputs = 2};

// The trace document: both lists, the settings, the count and the maximum.
std::string trace_document(const Trace& trace, const TraceQuery& query);

// The diagnostics document: empty and weak flags and the mass window text.
std::string diagnostics_document(const Trace& trace, const TraceQuery& query);

registry::StepResult compute_trace(const registry::StepArgs& args);

}  // namespace vx::trace
