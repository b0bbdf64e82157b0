// Layer host/chain (vx_host_chain): running the GC-MS chain on one file or a
// batch; figures, reports and progress reach it only through hooks. May use:
// tables, plugin, base.
//
// Batches: many files, each read once and searched for every target, on a
// thread pool. Results land in slots fixed before the run (file order, then
// target order), so the table is the same whatever the number of threads and
// whatever order the work finished in. A file that cannot be used gets rows
// that say why and never stops the batch.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chain_runner.hpp"
#include "scan_lookup.hpp"
#include "spectrum_match.hpp"
#include "measurement_parts.hpp"
#include "results_table.hpp"
#include "targets.hpp"

namespace vx::host::chain {

struct BatchFile {
  std::string path;
  std::string problem;  // set: the input never reaches the ingestion step
  std::string message;
};

// Turns command-line inputs into the sorted list of files to read:
// - a folder gives its entries whose names end in .mzML, .mzML.gz or .cdf
//   (any letter case), not descending into subfolders; a folder without any gives
//   one entry with the problem "no_mzml_files";
// - a text with * ? or [ that names nothing as given is a glob pattern; a
//   pattern that matches nothing is kept as given, so that its row says
//   "file_not_found";
// - anything else is taken as a file path (missing ones included).
// Files are sorted by path and duplicates removed.
std::vector<BatchFile> expand_inputs(std::span<const std::string> inputs);

// Called on worker threads when a document set is ready (used to write the
// documents of a chain run); a returned text is a write error to report.
using IngestionHook =
    std::function<std::optional<std::string>(std::size_t file, const Ingestion&)>;
using TargetHook = std::function<std::optional<std::string>(
    std::size_t file, std::size_t target, const TargetRun&)>;
// Called on a worker thread once all rows of a file are in, with the file's
// first status that is not a processed one (ok when there is none).
using FileDoneHook = std::function<void(std::string_view path, std::string_view status)>;

struct BatchSettings {
  std::vector<tables::Target> targets;
  unsigned jobs = 1;     // worker threads; 0 = one per core
  peaks::DecisionOptions decisions;  // every target's row is decided with these
  FileDoneHook on_file_done;
  // Library spectra each target's peak is matched against (full-scan runs),
  // one per target (empty: that target is not matched); none: no matching.
  std::vector<std::optional<ident::UnitSpectrum>> library_spectra;
  IngestionHook on_ingestion;
  TargetHook on_target;
  // The runs handed to on_target carry their qualifier traces and peak
  // spectrum (TargetRun::qualifier_traces, spectrum): a report's peak view.
  bool peak_views = false;
};

struct BatchOutcome {
  std::vector<tables::ResultRow> rows;            // file order, then target order
  std::vector<std::vector<tables::IonFit>> qualifier_fits;  // per row: the target's qualifier ions
  std::vector<std::string> write_errors;  // hook outputs (plots, documents) not written
  std::size_t files_failed = 0;           // files whose rows are not all ok
};

// Traces and fits each of the target's qualifier ions around the quantifier's
// fitted retention time (the target's own when that fit failed), with the
// target's windows: one trace and one fit per ion, through run_target like
// every target. Ion i is traced on document(first + i): the whole spectra
// document, or the compact one of the ion's m/z group.
// The spectrum of a fitted peak: the apex scan less the mean of the scans at
// center ± 3σ (where the peak has fallen to 1 %), at unit mass. nullopt
// without a successful fit or readable scans.
std::optional<ident::UnitSpectrum> peak_spectrum(const ScanLookup& scans, const TargetRun& run);
// That spectrum scored against the library's (ident::match_score).
std::optional<ident::MatchScore> match_peak(const ScanLookup& scans, const TargetRun& run,
                                            const ident::UnitSpectrum& library);

// With traces, each ion's whole trace is appended there too (the fits are
// the same either way).
std::vector<tables::IonFit> trace_qualifiers(
    const ChainSteps& steps, const FollowUps::Document& document, std::size_t first,
    const tables::Target& target, const TargetRun& quantifier,
    std::vector<QualifierTrace>* traces = nullptr);

// What the quantitation needs from a batch, one per row.
std::vector<tables::Measurement> batch_measurements(const BatchOutcome& outcome);

BatchOutcome run_batch(const ChainSteps& steps, std::span<const BatchFile> files,
                       const BatchSettings& settings);

}  // namespace vx::host::chain
