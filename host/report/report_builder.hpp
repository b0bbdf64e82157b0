// From a batch run to the report's model: the cell plots are gathered on the
// worker threads as the targets finish, the rest from the finished rows and
// from what the command layer knows (versions, command line, times).
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "batch_runner.hpp"
#include "html_report.hpp"

namespace vx::host::report {

class ReportCollector {
 public:
  ReportCollector(std::size_t n_files, std::span<const tables::Target> targets);

  // Adds the plot gathering to settings.on_target (an existing hook still
  // runs after it) and asks the batch for the peak views' extras
  // (qualifier traces, peak spectra); the library spectra already in
  // settings are kept for the page's mirror plots. The collector must outlive the batch
  // run. Each slot is written by the one worker that ran its file, so no lock is needed.
  void attach(chain::BatchSettings& settings);

  // The model of the finished run. SVG figures, when written to plot_dir,
  // are linked relative to the report's folder so that the two can be moved
  // together. A collector never attached to a run (rows read back from
  // tables) links the figures it finds in plot_dir and has no plot data.
  ReportModel finish(ReportFacts facts, std::span<const chain::BatchFile> files,
                     std::vector<tables::ResultRow> rows, const std::string& plot_dir,
                     const std::string& report_path);

 private:
  std::vector<tables::Target> targets_;
  std::vector<std::optional<CellPlot>> plots_;
  std::vector<std::optional<ident::UnitSpectrum>> library_spectra_;
  bool attached_ = false;
};

// A wall-clock start as "2026-12-08T23:10:00Z" (UTC).
std::string utc_time_text(std::chrono::system_clock::time_point t);

// The arguments as one line a shell would split back into the same words:
// words with anything but [A-Za-z0-9_./=:,@%+-] are single-quoted.
std::string command_line_text(std::span<const std::string_view> args);

}  // namespace vx::host::report
