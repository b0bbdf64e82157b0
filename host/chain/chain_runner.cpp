// Running the chain. Each step call gets a fresh HostSession; large documents
// are moved out of it, never copied again, and the spectra document is handed
// to the trace step straight from the caller's buffer.
#include "chain_runner.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "compact_spectra.hpp"
#include "host_session.hpp"
#include "json_lite.hpp"
#include "number_text.hpp"
#include "run_inputs.hpp"
#include "peak_decisions.hpp"
#include "step_library.hpp"

namespace vx::host::chain {

using base::JsonMember;
using base::JsonParse;
using base::JsonValue;
using base::parse_double;
using base::parse_integer;
using base::parse_json;
using plugin::HostSession;
using plugin::StepLibrary;
using tables::ResultRow;
using tables::Target;
using tables::kStatusNoSpectra;
using tables::kStatusOk;
using tables::kStatusStepFailed;

namespace {

constexpr std::string_view kIngestPrefix = "gcms.ingest.";
constexpr std::string_view kEmptySpectra = "{\"spectra\":[]}";

std::string status_message(std::string_view step, StepStatus status) {
  std::string m = std::string(step) + " returned status " + std::to_string(status);
  if (status == VX_STATUS_HOST_ERROR) m += " (host error)";
  if (status == VX_STATUS_INVALID_INPUT) m += " (invalid input or internal error)";
  return m;
}

std::string ingest_message(std::string_view reason) {
  if (reason == tables::kStatusFileNotFound) return "nothing exists at this path";
  if (reason == "unsupported_encoding") {
    return "the file cannot be read (empty, a directory, unreadable or not decodable)";
  }
  if (reason == "malformed_number") return "the file holds a number that cannot be read";
  return "the ingestion step reported gcms.ingest." + std::string(reason);
}

// Appends the keys of every true member of a diagnostics document.
void collect_flags(const JsonValue& diagnostics, std::vector<std::string>& flags) {
  for (const JsonMember& m : diagnostics.members) {
    if (m.value.kind == JsonValue::Kind::kBool && m.value.boolean) flags.push_back(m.key);
  }
}

// Parses a document a step handed over; on failure sets the run's status.
std::optional<JsonValue> read_document(std::string_view text, std::string_view what,
                                       TargetRun& run) {
  JsonParse p = parse_json(text);
  if (p.value && p.value->is_object()) return std::move(p.value);
  run.status = kStatusStepFailed;
  run.message =
      std::string(what) + " is not a JSON object" +
      (p.error.empty() ? std::string()
                       : " (" + p.error + " at byte " + std::to_string(p.offset) + ")");
  return std::nullopt;
}

// Output 2 held a diagnostics document: the row's status is its first true
// flag.
void read_ingestion_diagnostics(std::string text, Ingestion& out) {
  out.diagnostics = std::move(text);
  const JsonParse p = parse_json(out.diagnostics);
  out.status = kStatusStepFailed;
  out.message = "unexpected ingestion diagnostics " + out.diagnostics;
  if (!p.value || !p.value->is_object()) return;
  for (const JsonMember& m : p.value->members) {
    if (m.key.starts_with(kIngestPrefix) && m.value.kind == JsonValue::Kind::kBool &&
        m.value.boolean) {
      out.status = m.key.substr(kIngestPrefix.size());
      out.message = ingest_message(out.status);
      // An incomplete file says what was missing ("104 of 211 spectra; ...").
      if (const auto reason = p.value->text_at("reason"); reason && !reason->empty()) {
        out.message = "the file is incomplete: " + *reason;
      }
      return;
    }
  }
}

// The step cannot tell an empty file from an undecodable one; its size can.
void name_empty_file(const std::string& path, Ingestion& out) {
  if (out.status != tables::kStatusUnsupportedEncoding) return;
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) == 0 &&
      !ec) {
    out.status = tables::kStatusEmptyFile;
    out.message = "the file is empty (0 bytes)";
  }
}

// The spectrum count comes from the run summary (or an empty spectra
// document); a file with none is flagged no_spectra.
void count_spectra(Ingestion& out, bool spectra_empty) {
  if (const JsonParse p = parse_json(out.run_summary); p.value) {
    if (const auto n = p.value->number_at("spectrum_count"); n && *n >= 0) {
      out.spectrum_count = static_cast<uint64_t>(*n);
    }
  }
  if (!out.spectrum_count && spectra_empty) out.spectrum_count = 0;
  if (out.spectrum_count == uint64_t{0}) {
    out.status = kStatusNoSpectra;
    out.message =
        "the file yields no spectra (not mzML, or a form the reader does not know, "
        "such as mzXML or namespace-prefixed elements)";
  } else {
    out.status = kStatusOk;
  }
}

// Each stage below returns false, with the run's status and message set,
// when the chain cannot go on.

// The trace and the fit step alike: one input document in, the main document
// on output 1 and the diagnostics on output 0.
struct DocumentStep {
  StepEntry entry;
  std::string_view name;
  StepStatus& status;
  std::string& document;
  std::string& diagnostics;
};

bool run_document_step(HostSession& session, std::span<const StepValue> params,
                       std::string_view input, const DocumentStep& step, TargetRun& run) {
  const StepValue inputs[] = {StepValue{VX_KIND_TEXT, input.data(), input.size()}};
  step.status = session.run(step.entry, params, inputs, 2);
  if (step.status != VX_STATUS_OK) {
    run.status = kStatusStepFailed;
    run.message = status_message(step.name, step.status);
    return false;
  }
  step.document = session.take_output_text(1).value_or("");
  step.diagnostics = session.take_output_text(0).value_or("");
  return true;
}

bool run_trace_step(const ChainSteps& steps, std::string_view spectra,
                    const Target& target, TargetRun& run) {
  HostSession session;
  const StepValue params[] = {
      session.text(target.exact ? "exact_match" : "nominal_tolerance_da"),
      session.float64(target.mz_tol), session.float64(target.mz)};
  return run_document_step(
      session, params, spectra,
      {steps.trace, kTraceStep, run.trace_step_status, run.trace, run.trace_diagnostics},
      run);
}

// The trace document ends with `,"matched_ion_count":N,"max_intensity":X}`.
// Reading those two from its end spares parsing the point lists (hundreds of
// kilobytes per target) when nobody draws them; false when the text does not
// end that way, and the caller then reads the whole document.
bool read_trace_tail(std::string_view text, TraceFacts& facts) {
  constexpr std::string_view kCount = ",\"matched_ion_count\":";
  constexpr std::string_view kMax = ",\"max_intensity\":";
  if (text.size() < 2 || text.front() != '{' || text.back() != '}') return false;
  const std::size_t c = text.rfind(kCount);
  if (c == std::string_view::npos) return false;
  const std::size_t m = text.find(kMax, c);
  if (m == std::string_view::npos) return false;
  const std::size_t from = c + kCount.size();
  const auto count = parse_integer(text.substr(from, m - from));
  const auto max = parse_double(text.substr(m + kMax.size(), text.size() - 1 - m - kMax.size()));
  if (!count || *count < 0 || !max) return false;
  facts.matched_ion_count = static_cast<uint64_t>(*count);
  facts.max_intensity = *max;
  return true;
}

bool read_trace(TargetRun& run, bool keep_points) {
  if (keep_points || !read_trace_tail(run.trace, run.trace_facts)) {
    const auto doc = read_document(run.trace, "the trace document", run);
    if (!doc) return false;
    run.trace_facts.retention_time = doc->numbers_at("retention_time");
    run.trace_facts.intensity = doc->numbers_at("intensity");
    if (const auto n = doc->number_at("matched_ion_count"); n && *n >= 0) {
      run.trace_facts.matched_ion_count = static_cast<uint64_t>(*n);
    }
    run.trace_facts.max_intensity = doc->number_at("max_intensity");
  }
  const auto diag = read_document(run.trace_diagnostics, "the trace diagnostics", run);
  if (!diag) return false;
  collect_flags(*diag, run.flags);
  return true;
}

bool run_fit_step(const ChainSteps& steps, const Target& target, TargetRun& run) {
  HostSession session;
  const StepValue params[] = {session.float64(static_cast<double>(target.max_iter)),
                              session.float64(target.rt_tol), session.float64(target.rt)};
  return run_document_step(
      session, params, run.trace,
      {steps.fit, kFitStep, run.fit_step_status, run.fit_result, run.fit_diagnostics},
      run);
}

void read_fit(TargetRun& run) {
  const auto doc = read_document(run.fit_result, "the fit result document", run);
  if (!doc) return;
  FitFacts& f = run.fit;
  f.fit_status = doc->text_at("fit_status").value_or("");
  f.retention_time = doc->number_at("fitted_retention_time");
  f.height = doc->number_at("peak_height");
  f.width = doc->number_at("peak_width");
  f.area = doc->number_at("peak_area");
  f.baseline = doc->number_at("baseline");
  f.r_squared = doc->number_at("r_squared");
  f.window_min = doc->number_at("fit_window_min");
  f.window_max = doc->number_at("fit_window_max");
  if (const auto n = doc->number_at("solver_iterations")) {
    f.iterations = static_cast<int64_t>(*n);
  }
  f.excerpt_time = doc->numbers_at("excerpt_retention_time");
  f.excerpt_trace = doc->numbers_at("selected_ion_trace_excerpt");
  f.excerpt_curve = doc->numbers_at("fitted_curve_excerpt");
  if (const auto diag = read_document(run.fit_diagnostics, "the fit diagnostics", run)) {
    collect_flags(*diag, run.flags);
  }
}

// The decision sees the fit as the step reported it; a fit that did not
// succeed counts as not converged whatever numbers it left.

}  // namespace

void decide_run_peak(TargetRun& run, const peaks::DecisionOptions& options) {
  if (run.status != kStatusOk || run.fit.fit_status.empty()) return;
  const FitFacts& f = run.fit;
  peaks::FitView fit;
  fit.converged = f.fit_status == tables::kFitSuccess;
  fit.center = f.retention_time;
  fit.height = f.height;
  fit.width = f.width;
  fit.baseline = f.baseline;
  fit.window_min = f.window_min;
  fit.window_max = f.window_max;
  run.decision = peaks::decide_peak(
      {run.trace_facts.retention_time, run.trace_facts.intensity}, fit, options);
}

std::optional<ChainSteps> resolve_chain_steps(const StepLibrary& lib,
                                              std::string* error) {
  ChainSteps steps;
  for (const auto& [name, entry] :
       {std::pair{kIngestionStep, &steps.ingestion}, std::pair{kTraceStep, &steps.trace},
        std::pair{kFitStep, &steps.fit}}) {
    const auto d = lib.find(name);
    if (!d || d->entry == nullptr) {
      if (error != nullptr) *error = "the library has no step " + std::string(name);
      return std::nullopt;
    }
    *entry = d->entry;
  }
  return steps;
}

Ingestion run_ingestion(const ChainSteps& steps, const std::string& path,
                        const SpectraVisitor& visit_spectra) {
  if (is_andi_path(path)) {
    Ingestion andi = ingest_andi(path, visit_spectra);
    if (andi.spectra_handed_over) count_spectra(andi, false);
    if (andi.status == tables::kStatusUnsupportedEncoding) name_empty_file(path, andi);
    return andi;
  }
  Ingestion out;
  HostSession session;
  // A diagnostics document replaces the spectra document; checking its
  // prefix avoids parsing a spectra document of hundreds of megabytes.
  const std::string diagnostics_prefix = "{\"" + std::string(kIngestPrefix);
  std::optional<std::string> streamed_diagnostics;
  bool spectra_empty = false;
  if (visit_spectra) {
    session.stream_output(2, [&](std::string_view text) {
      if (text.starts_with(diagnostics_prefix)) {
        streamed_diagnostics.emplace(text);
        return;
      }
      out.spectra_handed_over = true;
      spectra_empty = text == kEmptySpectra;
      out.range = scan_range(text);
      visit_spectra(text);
    });
  }
  const StepValue params[] = {session.text(path), session.text("")};
  out.step_status = session.run(steps.ingestion, params, {}, 3);
  std::optional<std::string> slot2 = session.take_output_text(2);
  if (streamed_diagnostics) slot2 = std::move(streamed_diagnostics);
  if (out.step_status != VX_STATUS_OK || !slot2) {
    out.spectra_handed_over = false;
    out.status = kStatusStepFailed;
    out.message = status_message(kIngestionStep, out.step_status);
    if (out.step_status == VX_STATUS_OK)
      out.message = "the ingestion step wrote no output 2";
    return out;
  }
  if (slot2->starts_with(diagnostics_prefix)) {
    read_ingestion_diagnostics(std::move(*slot2), out);
    name_empty_file(path, out);
    return out;
  }
  if (!visit_spectra) {
    out.spectra = std::move(*slot2);
    out.spectra_handed_over = true;
    spectra_empty = out.spectra == kEmptySpectra;
    out.range = scan_range(out.spectra);
  }
  out.chromatograms = session.take_output_text(0).value_or("");
  out.run_summary = session.take_output_text(1).value_or("");
  count_spectra(out, spectra_empty);
  return out;
}

TargetRun run_trace_only(const ChainSteps& steps, std::string_view spectra,
                         const Target& target) {
  TargetRun run;
  run.status = kStatusOk;
  if (run_trace_step(steps, spectra, target, run)) read_trace(run, true);
  return run;
}

TargetRun run_target(const ChainSteps& steps, std::string_view spectra,
                     const Target& target, bool keep_points,
                     const peaks::DecisionOptions* decisions) {
  TargetRun run;
  run.status = kStatusOk;
  // The points are always read: the peak decision needs the whole trace.
  // Without keep_points they are dropped again once it is made.
  if (run_trace_step(steps, spectra, target, run) && read_trace(run, true) &&
      run_fit_step(steps, target, run)) {
    if (!keep_points) std::string().swap(run.trace);
    read_fit(run);
    decide_run_peak(run, decisions != nullptr ? *decisions : peaks::DecisionOptions{});
  }
  if (!keep_points) {
    std::vector<double>().swap(run.trace_facts.retention_time);
    std::vector<double>().swap(run.trace_facts.intensity);
  }
  return run;
}

TargetRun run_target_within(const ChainSteps& steps, std::string_view spectra,
                            const Target& target, const TraceTotals& whole,
                            const peaks::DecisionOptions* decisions) {
  // The document spans the fit window and kTraceMargin around it, which holds
  // the decision's noise region, so the decision sees what it would see on
  // the whole run.
  TargetRun run = run_target(steps, spectra, target, /*keep_points=*/false, decisions);
  // A trace that could not be read has no facts and no trace flags to mend.
  if (!run.trace_facts.matched_ion_count) return run;
  run.trace_facts.matched_ion_count = whole.points;
  run.trace_facts.max_intensity = whole.max_intensity;
  // The trace step's flags, as it would raise them over the whole run; they
  // come first, before the fit's.
  std::erase_if(run.flags, [](const std::string& f) {
    return f == kFlagEmptyTrace || f == kFlagWeakTrace;
  });
  std::vector<std::string> trace_flags;
  if (whole.points == 0) trace_flags.emplace_back(kFlagEmptyTrace);
  if (whole.points != 0 && whole.max_intensity < 1.0) trace_flags.emplace_back(kFlagWeakTrace);
  run.flags.insert(run.flags.begin(), trace_flags.begin(), trace_flags.end());
  return run;
}

void run_targets(const ChainSteps& steps, std::string_view spectra,
                 std::span<const Target> targets, std::span<TargetRun> runs,
                 const ForEachIndex& for_each, bool keep_points,
                 const FollowUps& follow_ups, const peaks::DecisionOptions& decisions) {
  const auto finish = [&](std::size_t t, const FollowUps::Document& document) {
    if (follow_ups.after) follow_ups.after(t, runs[t], document);
  };
  if (targets.size() + follow_ups.queries.size() < kCompactFromQueries) {
    const FollowUps::Document whole = [&](std::size_t, std::string&) { return spectra; };
    for_each(targets.size(), [&](std::size_t t) {
      runs[t] = run_target(steps, spectra, targets[t], keep_points, &decisions);
      finish(t, whole);
    });
    return;
  }
  std::vector<IonQuery> queries;
  queries.reserve(targets.size() + follow_ups.queries.size());
  for (const Target& t : targets) queries.push_back({t.mz, t.mz_tol, t.exact});
  queries.insert(queries.end(), follow_ups.queries.begin(), follow_ups.queries.end());
  // Table-only runs read each target's restricted document from its
  // group's hot text, copied in the one pass.
  std::vector<TimeRange> hot;
  if (!keep_points) {
    hot.reserve(targets.size());
    for (const Target& t : targets)
      hot.push_back(trace_range(t.rt, t.rt_tol).value_or(TimeRange{}));
  }
  const CompactSpectra compact(spectra, queries, hot);
  const FollowUps::Document follow_up = [&](std::size_t q, std::string& buffer) {
    return compact.document(compact.group_of(targets.size() + q), buffer);
  };
  std::vector<std::vector<std::size_t>> members(compact.group_count());
  for (std::size_t t = 0; t < targets.size(); ++t) members[compact.group_of(t)].push_back(t);
  std::erase_if(members, [](const auto& m) { return m.empty(); });
  // Table-only runs trace each target on the part of the run its fit can
  // use, with the whole run's totals computed from the group's peaks.
  const bool restrict = !keep_points && compact.restrictable();
  for_each(members.size(), [&](std::size_t g) {
    const std::size_t group = compact.group_of(members[g][0]);
    std::string buffer;
    std::string whole_buffer;
    std::optional<std::string_view> whole;
    for (const std::size_t t : members[g]) {
      const std::optional<TimeRange> range =
          restrict ? trace_range(targets[t].rt, targets[t].rt_tol) : std::nullopt;
      if (range) {
        runs[t] = run_target_within(steps, compact.document(group, buffer, *range), targets[t],
                                    compact.totals(t, queries[t]), &decisions);
      } else {
        if (!whole) whole = compact.document(group, whole_buffer);
        runs[t] = run_target(steps, *whole, targets[t], keep_points, &decisions);
      }
      finish(t, follow_up);
    }
  });
}

ResultRow make_problem_row(std::string_view file, const Target& target,
                           std::string_view status, std::string_view message) {
  ResultRow row;
  row.file = file;
  row.target = target.name;
  row.mz = target.mz;
  row.rt = target.rt;
  row.status = status;
  row.message = message;
  return row;
}

ResultRow make_row(std::string_view file, const Ingestion& ingestion,
                   const Target& target, const TargetRun* run) {
  ResultRow row = make_problem_row(file, target, ingestion.status, ingestion.message);
  row.spectra = ingestion.spectrum_count;
  if (!ingestion.diagnostics.empty()) {
    // The flag is the step's: an empty file is its unsupported_encoding.
    const std::string_view flag = ingestion.status == tables::kStatusEmptyFile
                                      ? tables::kStatusUnsupportedEncoding
                                      : std::string_view(ingestion.status);
    row.flags.push_back(std::string(kIngestPrefix) + std::string(flag));
  }
  if (run == nullptr) return row;
  // A file that was not read as a whole run measured nothing: zeros from a
  // fit on no data would be averaged in by whoever reads the table, so only
  // the fit's status and the flags are kept.
  if (ingestion.status != kStatusOk) {
    if (run->status != kStatusOk) row.message += "; " + run->message;
    row.fit_status = run->fit.fit_status;
    row.flags.insert(row.flags.end(), run->flags.begin(), run->flags.end());
    return row;
  }
  // The file's own problem (no spectra) stays the row's status: it is the
  // cause, a failing step after it only a consequence.
  if (run->status != kStatusOk && row.status == kStatusOk) {
    row.status = run->status;
    row.message = run->message;
  } else if (run->status != kStatusOk) {
    row.message += "; " + run->message;
  }
  row.trace_points = run->trace_facts.matched_ion_count;
  row.max_intensity = run->trace_facts.max_intensity;
  row.fit_status = run->fit.fit_status;
  row.retention_time = run->fit.retention_time;
  row.height = run->fit.height;
  row.width = run->fit.width;
  row.area = run->fit.area;
  row.baseline = run->fit.baseline;
  row.r_squared = run->fit.r_squared;
  row.iterations = run->fit.iterations;
  row.flags.insert(row.flags.end(), run->flags.begin(), run->flags.end());
  if (ingestion.range && window_outside_run(target.rt, target.rt_tol, *ingestion.range)) {
    // The window never met a scan: the fit's zeros are not a measurement,
    // and there is no peak to judge (whatever part of the run was traced).
    row.retention_time.reset();
    row.height.reset();
    row.width.reset();
    row.area.reset();
    row.baseline.reset();
    row.r_squared.reset();
    row.iterations.reset();
    if (run->decision) row.detection = peaks::kNotDetected;
    row.flags.emplace_back(tables::kFlagRtOutsideRun);
  } else if (const auto& d = run->decision) {
    row.signal_to_noise = d->signal_to_noise;
    row.detection = d->detection();
    row.integrated_area = d->integrated_area;
    row.peak_start = d->peak_start;
    row.peak_end = d->peak_end;
    row.asymmetry = d->asymmetry;
    row.component_area = d->component_area;
    for (const std::string_view name : peaks::flag_names(d->flags)) row.flags.emplace_back(name);
  }
  return row;
}

}  // namespace vx::host::chain
