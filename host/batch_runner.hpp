// Batches: many files, each read once and searched for every target, on a
// thread pool. Results land in slots fixed before the run (file order, then
// target order), so the table is the same whatever the number of threads and
// whatever order the work finished in. A file that cannot be used gets rows
// that say why and never stops the batch.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chain_runner.hpp"
#include "quantitation.hpp"
#include "results_table.hpp"
#include "targets.hpp"

namespace vx::host {

struct BatchFile {
  std::string path;
  std::string problem;  // set: the input never reaches the ingestion step
  std::string message;
};

// Turns command-line inputs into the sorted list of files to read:
// - a folder gives its entries whose names end in .mzML or .mzML.gz (any
//   letter case), not descending into subfolders; a folder without any gives
//   one entry with the problem "no_mzml_files";
// - a text with * ? or [ that names nothing as given is a glob pattern; a
//   pattern that matches nothing is kept as given, so that its row says
//   "file_not_found";
// - anything else is taken as a file path (missing ones included).
// Files are sorted by path and duplicates removed.
std::vector<BatchFile> expand_inputs(std::span<const std::string> inputs);

// A file name made of s: characters outside [A-Za-z0-9._-] become '_', and a
// leading '.' (or an empty name) gets a '_' in front.
std::string safe_file_name(std::string_view s);

// Unique SVG file names, one per file and target, in slot order
// (file * targets + target): "<file name>__<target>.svg" with characters
// outside [A-Za-z0-9._-] replaced by '_' and a "-2", "-3"... suffix when two
// files share a name.
std::vector<std::string> plot_file_names(std::span<const BatchFile> files,
                                         std::span<const Target> targets);

// Progress on stderr: a bar redrawn in place for a terminal, one line per
// finished file otherwise, or nothing. Safe to call from any thread.
class Progress {
 public:
  enum class Mode { kNone, kLines, kBar };
  Progress(std::FILE* out, Mode mode, std::size_t total);
  void file_done(std::string_view path, std::string_view status);
  void finish();

 private:
  std::mutex mutex_;
  std::FILE* out_;
  Mode mode_;
  std::size_t total_;
  std::size_t done_ = 0;
  std::chrono::steady_clock::time_point start_;
};

// Called on worker threads when a document set is ready (used to write the
// documents of a chain run); a returned text is a write error to report.
using IngestionHook =
    std::function<std::optional<std::string>(std::size_t file, const Ingestion&)>;
using TargetHook = std::function<std::optional<std::string>(
    std::size_t file, std::size_t target, const TargetRun&)>;

struct BatchSettings {
  std::vector<Target> targets;
  unsigned jobs = 1;     // worker threads; 0 = one per core
  std::string plot_dir;  // empty: no plots
  Progress* progress = nullptr;
  IngestionHook on_ingestion;
  TargetHook on_target;
};

struct BatchOutcome {
  std::vector<ResultRow> rows;            // file order, then target order
  std::vector<std::vector<IonFit>> qualifier_fits;  // per row: the target's qualifier ions
  std::vector<std::string> write_errors;  // plots or documents not written
  std::size_t files_failed = 0;           // files whose rows are not all ok
};

// Traces and fits each of the target's qualifier ions around the quantifier's
// fitted retention time (the target's own when that fit failed), with the
// target's windows: one trace and one fit per ion, through run_target like
// every target. Ion i is traced on document(first + i): the whole spectra
// document, or the compact one of the ion's m/z group.
std::vector<IonFit> trace_qualifiers(const ChainSteps& steps,
                                     const FollowUps::Document& document, std::size_t first,
                                     const Target& target, const TargetRun& quantifier);

// What the quantitation needs from a batch, one per row.
std::vector<Measurement> batch_measurements(const BatchOutcome& outcome);

BatchOutcome run_batch(const ChainSteps& steps, std::span<const BatchFile> files,
                       const BatchSettings& settings);

// Writes text to path (creating nothing but the file); false and why on error.
bool write_text_file(const std::string& path, std::string_view text, std::string* error);

}  // namespace vx::host
