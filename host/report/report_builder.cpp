#include "report_builder.hpp"

#include <ctime>
#include <filesystem>

#include "trace_plot.hpp"

namespace vx::host::report {

using tables::ResultRow;
using tables::Target;
using chain::BatchFile;
using chain::BatchSettings;
using chain::TargetRun;
using figures::plot_file_names;

namespace fs = std::filesystem;

ReportCollector::ReportCollector(std::size_t n_files, std::span<const Target> targets)
    : targets_(targets.begin(), targets.end()), plots_(n_files * targets.size()) {}

void ReportCollector::attach(BatchSettings& settings) {
  attached_ = true;
  settings.peak_views = true;
  library_spectra_ = settings.library_spectra;
  settings.on_target = [this, next = std::move(settings.on_target)](
                           std::size_t f, std::size_t t, const TargetRun& run) {
    plots_[f * targets_.size() + t] = make_cell_plot(targets_[t], run);
    return next ? next(f, t, run) : std::nullopt;
  };
}

ReportModel ReportCollector::finish(ReportFacts facts, std::span<const BatchFile> files,
                                    std::vector<ResultRow> rows,
                                    const std::string& plot_dir,
                                    const std::string& report_path) {
  ReportModel m;
  m.facts = std::move(facts);
  for (const BatchFile& f : files) m.files.push_back(f.path);
  m.targets = targets_;
  m.rows = std::move(rows);
  if (!attached_)  // no plot data at all, or only links
    plots_.assign(plot_dir.empty() ? 0 : files.size() * targets_.size(), std::nullopt);
  if (!plot_dir.empty()) {
    const std::vector<std::string> names = plot_file_names(files, targets_);
    std::error_code ec;
    const fs::path base = fs::absolute(report_path, ec).parent_path();
    for (std::size_t i = 0; i < plots_.size() && i < names.size(); ++i) {
      const fs::path svg = fs::absolute(fs::path(plot_dir) / names[i], ec);
      // Without the runs (rows read back from tables) a cell links the
      // figure a batch left in plot_dir, if there is one.
      if (!attached_ && fs::is_regular_file(svg, ec)) {
        plots_[i].emplace();
        plots_[i]->has_data = false;
      }
      if (!plots_[i]) continue;
      plots_[i]->svg_path =
          svg.lexically_normal().lexically_relative(base).generic_string();
    }
  }
  m.plots = std::move(plots_);
  m.library_spectra = std::move(library_spectra_);
  return m;
}

std::string utc_time_text(std::chrono::system_clock::time_point t) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char buf[32];
  // Only numeric fields: the text does not depend on the locale.
  const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return {buf, n};
}

std::string command_line_text(std::span<const std::string_view> args) {
  std::string out;
  for (const std::string_view a : args) {
    if (!out.empty()) out += ' ';
    bool plain = !a.empty();
    for (const char c : a) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      (c >= '0' && c <= '9') ||
                      std::string_view("_./=:,@%+-").find(c) != std::string_view::npos;
      plain = plain && ok;
    }
    if (plain) {
      out += a;
      continue;
    }
    out += '\'';
    for (const char c : a) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += '\'';
  }
  return out;
}

}  // namespace vx::host::report
