// The GC-MS chain as a host runs it: ingestion, then trace and fit per
// target, through the step entries only (the library's internals are not the
// host's business). Ingestion output 2 feeds trace input 0; trace output 1
// feeds fit input 0. The documents are kept as handed over and read with the
// host's own JSON reader into the facts a table row and a plot need.
// Re-entrant: every call has its own HostSession.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compact_spectra.hpp"
#include "peak_decisions.hpp"
#include "results_table.hpp"
#include "spectrum_match.hpp"
#include "targets.hpp"
#include "step_library.hpp"
#include "vx_steps.h"

namespace vx::host::chain {

inline constexpr std::string_view kIngestionStep = "GcMsMzmlIngestionStep";
inline constexpr std::string_view kTraceStep = "GcMsSimTraceExtractionStep";
inline constexpr std::string_view kFitStep = "GcMsTargetedGaussianFitStep";

struct ChainSteps {
  StepEntry ingestion = nullptr;
  StepEntry trace = nullptr;
  StepEntry fit = nullptr;
};

// Resolves the three steps by name; nullopt (and why in *error) when the
// library lacks one.
std::optional<ChainSteps> resolve_chain_steps(const plugin::StepLibrary& lib, std::string* error);

// The run's first and last scan times in minutes.
struct ScanRange {
  double first = 0.0;
  double last = 0.0;
};

struct Ingestion {
  StepStatus step_status = 0;
  std::string status;         // a row status: ok, no_spectra, file_not_found, ...
  std::string message;        // for people, when status is not ok
  std::string spectra;        // output 2 when it is the spectra document (kept)
  std::string chromatograms;  // output 0
  std::string run_summary;    // output 1
  std::string diagnostics;    // output 2 when the file could not be used
  std::optional<uint64_t> spectrum_count;
  bool spectra_handed_over = false;  // output 2 was a spectra document
  // First and last scan of the spectra document, read from its first and
  // last entry when it was handed over (run_inputs.hpp).
  std::optional<ScanRange> range;

  // The trace can run on it (also when it holds no spectrum).
  [[nodiscard]] bool has_spectra_document() const { return spectra_handed_over; }
};

// Sees the spectra document while the ingestion step still holds it: the
// view is valid only during the call.
using SpectraVisitor = std::function<void(std::string_view spectra)>;

// Runs the ingestion step on path. Without a visitor the spectra document is
// kept in Ingestion::spectra. With one, the document is handed to the
// visitor inside the step's output call and never copied: the visitor runs
// the traces on it there, which saves copying hundreds of megabytes (and the
// time the copy would hold up every trace). Ingestion::spectra then stays
// empty; has_spectra_document() still says whether the visitor ran. A
// diagnostics document on output 2 is never handed to the visitor.
Ingestion run_ingestion(const ChainSteps& steps, const std::string& path,
                        const SpectraVisitor& visit_spectra = {});

struct TraceFacts {
  std::vector<double> retention_time;
  std::vector<double> intensity;
  std::optional<uint64_t> matched_ion_count;
  std::optional<double> max_intensity;
};

// A qualifier ion's whole trace and the baseline its fit found (the peak
// view lines the ions up on their baselines).
struct QualifierTrace {
  TraceFacts trace;
  std::optional<double> baseline;
};

struct FitFacts {
  std::string fit_status;
  std::optional<double> retention_time, height, width, area, baseline, r_squared;
  std::optional<double> window_min, window_max;
  std::optional<int64_t> iterations;
  std::vector<double> excerpt_time, excerpt_trace, excerpt_curve;
};

struct TargetRun {
  std::string status;  // ok or step_failed
  std::string message;
  StepStatus trace_step_status = 0;
  StepStatus fit_step_status = 0;
  std::string trace, trace_diagnostics, fit_result, fit_diagnostics;
  TraceFacts trace_facts;
  FitFacts fit;
  std::vector<std::string> flags;  // true diagnostics keys, trace then fit
  // Whether the fit is a measured amount; set when decisions were asked for
  // and the fit step ran.
  std::optional<peaks::PeakDecision> decision;
  // What a peak view shows beside the trace, filled by a batch only when
  // asked for (BatchSettings::peak_views): each qualifier ion's whole trace,
  // in the target's order, and the peak's background-subtracted spectrum
  // with the number of ions the apex scan recorded (a SIM run records a
  // handful, a full scan hundreds).
  std::vector<QualifierTrace> qualifier_traces;
  std::optional<ident::UnitSpectrum> spectrum;
  std::size_t apex_scan_ions = 0;
};

// The peak decision of a finished run, from its trace points and fit
// (peaks::decide_peak): the one place a run's detection is decided;
// run_target calls it for quantifier and qualifier traces alike.
void decide_run_peak(TargetRun& run, const peaks::DecisionOptions& options = {});

// The trace step alone, with its points (a ladder run needs the whole
// trace, not a fit): status and message say whether it worked.
TargetRun run_trace_only(const ChainSteps& steps, std::string_view spectra,
                         const tables::Target& target);

// Without keep_points the run keeps what a table row needs: the trace
// document and its point lists are dropped once the fit has read them (a
// few hundred kilobytes per target, which add up over hundreds of targets).
// The whole trace is read and decided on (peaks::decide_peak) before its
// points are dropped, with the given decision options or, without them, the
// defaults. Qualifier ions get the defaults (detection only) whatever the
// quantifier's --min-sn: their identification criterion is a fixed S/N of 3.
TargetRun run_target(const ChainSteps& steps, std::string_view spectra,
                     const tables::Target& target, bool keep_points = true,
                     const peaks::DecisionOptions* decisions = nullptr);

// The trace step's flags a restricted run recomputes over the whole run.
inline constexpr std::string_view kFlagEmptyTrace = "gcms.sim.empty_trace";
inline constexpr std::string_view kFlagWeakTrace = "gcms.sim.weak_trace";

// run_target without points on a document restricted in time
// (CompactSpectra::document with a range): the fit sees the same window;
// the row's trace_points and max_intensity and the trace's flags are set
// from whole, the totals over the whole run. The trace documents kept in
// the run describe the restricted part only.
TargetRun run_target_within(const ChainSteps& steps, std::string_view spectra,
                            const tables::Target& target, const TraceTotals& whole,
                            const peaks::DecisionOptions* decisions = nullptr);

// Runs every target on one spectra document into runs (runs[t] for
// targets[t]); for_each calls its job once per index, possibly on several
// threads. From kCompactFromQueries targets on, the document is read once
// into compact documents (compact_spectra.hpp), one per group of targets
// whose m/z windows overlap, and each target is traced on its group's: the
// steps write the same bytes as from the whole document, in far less time.
// Without keep_points, a target with a finite window is traced only on the
// spectra around it (run_target_within); the row comes out the same.
using ForEachIndex =
    std::function<void(std::size_t n, const std::function<void(std::size_t)>& job)>;
// Ions traced after their targets, such as qualifier ions: their queries
// join the same compact documents, and after(t, run, document) runs on the
// worker right after target t, where document(q, buffer) gives the text to
// trace follow-up query q on (valid while buffer is, and only during after).
struct FollowUps {
  using Document = std::function<std::string_view(std::size_t q, std::string& buffer)>;
  std::vector<IonQuery> queries;
  std::function<void(std::size_t t, const TargetRun& run, const Document& document)> after;
};
void run_targets(const ChainSteps& steps, std::string_view spectra,
                 std::span<const tables::Target> targets, std::span<TargetRun> runs,
                 const ForEachIndex& for_each, bool keep_points = true,
                 const FollowUps& follow_ups = {},
                 const peaks::DecisionOptions& decisions = {});

// The table row of one file and target; run is null when the file could not
// be used (the row then carries the ingestion's reason). A file that was not
// read as a whole run (any status but ok) gets no numbers from the trace or
// the fit: they measured nothing. A target whose window misses the run's
// scan range is flagged rt_outside_run, its numbers left empty.
// The run's decision fills the decision columns and appends its flag names
// (plain names such as below_min_sn or tailing, never dotted like the steps'
// gcms.* keys).
tables::ResultRow make_row(std::string_view file, const Ingestion& ingestion,
                   const tables::Target& target, const TargetRun* run);
// A row for an input that never reached the ingestion step.
tables::ResultRow make_problem_row(std::string_view file, const tables::Target& target,
                           std::string_view status, std::string_view message);

}  // namespace vx::host::chain
