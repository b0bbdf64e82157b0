// The selected-ion trace of a spectra document: the array under the first
// "spectra": key is walked byte by byte, each entry is cut out as it closes,
// and its largest intensity within the mass window becomes one point. Entries
// in the layout the ingestion step writes are read by a fast path that gives
// bit-identical results; anything else goes through the member scanner.
// Never throws except std::bad_alloc; never reads outside the given view.
#pragma once

#include <string_view>
#include <vector>

namespace vx::trace {

// Which ions count for the trace.
struct TraceQuery {
  double target_mz = 0.0;
  double tolerance = 0.0;  // daltons; unused when exact_match is set
  bool exact_match = false;
};

// The points of a trace in the order their entries close.
struct Trace {
  std::vector<double> retention_time;  // minutes
  std::vector<double> intensity;
};

// Distance below which an ion counts as the target in exact-match mode.
inline constexpr double kExactMatchDistance = 1e-9;

// Whether an ion at mz is in the window; false for a NaN m/z.
bool ion_matches(const TraceQuery& query, double mz);

// A scan start time in minutes. "second", "millisecond" and "hour" are
// converted; every other unit (including "minute", "Second" and "s") leaves
// the number as it is.
double to_minutes(double time, std::string_view unit);

// Appends the trace of document (already cut at its first zero byte) to out.
void extract_trace(std::string_view document, const TraceQuery& query, Trace& out);

// The same with the plain byte walk and member scanning for every entry. The
// fast path is checked against it; it is also what the fast path falls back
// to entry by entry.
void extract_trace_exact(std::string_view document, const TraceQuery& query, Trace& out);

}  // namespace vx::trace
