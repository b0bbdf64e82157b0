// The trace step: parameters, the input text, and the two documents. The
// mass window and mass_tolerance_da always come from parameter 1, also in
// exact-match mode, so the documents show what the caller asked for.
#include "trace/trace_step.hpp"

#include <string_view>

#include "common/json_writer.hpp"
#include "common/number_reader.hpp"

namespace vx::trace {
namespace {

constexpr std::string_view kDefaultMode = "nominal_tolerance_da";
constexpr std::string_view kExactMode = "exact_match";

double max_intensity(const Trace& trace) {
  double m = 0.0;
  for (const double v : trace.intensity) {
    if (v > m) m = v;
  }
  return m;
}

}  // namespace

std::string trace_document(const Trace& trace, const TraceQuery& query) {
  common::JsonWriter w;
  w.reserve(160 + (trace.retention_time.size() + trace.intensity.size()) *
                      (common::kNumberBufferSize + 1));
  w.raw("{\"retention_time\":")
      .number_array(trace.retention_time)
      .raw(R"(,"retention_time_unit":"minute","intensity":)")
      .number_array(trace.intensity)
      .raw(",\"target_mz\":")
      .number(query.target_mz)
      .raw(",\"mass_tolerance_da\":")
      .number(query.tolerance)
      .raw(",\"matched_ion_count\":")
      .count(uint64_t{trace.intensity.size()})
      .raw(",\"max_intensity\":")
      .number(max_intensity(trace))
      .raw("}");
  return w.take();
}

std::string diagnostics_document(const Trace& trace, const TraceQuery& query) {
  const bool empty = trace.intensity.empty();
  const bool weak = !empty && max_intensity(trace) < 1.0;
  common::JsonWriter w;
  w.raw("{\"gcms.sim.empty_trace\":")
      .boolean(empty)
      .raw(",\"gcms.sim.weak_trace\":")
      .boolean(weak)
      .raw(R"(,"gcms.sim.mass_window":")")
      .number(query.target_mz - query.tolerance)
      .raw("-")
      .number(query.tolerance + query.target_mz)
      .raw("\"}");
  return w.take();
}

registry::StepResult compute_trace(const registry::StepArgs& args) {
  TraceQuery query;
  // The target is read before the tolerance; either one missing refuses.
  const auto target = common::read_number(args.param(2));
  if (!target) return registry::StepResult::invalid();
  const auto tolerance = common::read_number(args.param(1));
  if (!tolerance) return registry::StepResult::invalid();
  query.target_mz = *target;
  query.tolerance = *tolerance;
  std::string_view mode = args.param_text(0);
  if (mode.empty()) mode = kDefaultMode;
  query.exact_match = mode == kExactMode;

  const auto text = args.input_text(0);
  if (!text) return registry::StepResult::invalid();

  Trace trace;
  extract_trace(*text, query, trace);

  registry::StepResult out;
  out.emissions.push_back(registry::Emission::of_text(1, trace_document(trace, query)));
  out.emissions.push_back(
      registry::Emission::of_text(0, diagnostics_document(trace, query)));
  return out;
}

}  // namespace vx::trace
