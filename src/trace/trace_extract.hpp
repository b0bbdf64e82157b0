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

// Appends the trace of document to out. The document ends at its first zero
// byte, if it holds one.
void extract_trace(std::string_view document, const TraceQuery& query, Trace& out);

// The same with the plain byte walk and member scanning for every entry. The
// fast path is checked against it; it is also what the fast path falls back
// to entry by entry.
void extract_trace_exact(std::string_view document, const TraceQuery& query, Trace& out);

// The fast reading of one number list, exposed so that tests can hold it
// against parse_number_list. list starts at the '['. On success, used is the
// length through the closing ']' and count the number of elements.
namespace detail {

// Also collects the positions of the m/z within the query's window.
bool read_mz_list(std::string_view list, const TraceQuery& query,
                  std::vector<std::size_t>& hits, std::size_t& count, std::size_t& used);

// Also finds the largest value above 0 at the given positions (ascending);
// best stays 0 when there is none.
bool read_intensity_list(std::string_view list, const std::vector<std::size_t>& hits,
                         double& best, std::size_t& count, std::size_t& used);

}  // namespace detail

}  // namespace vx::trace
