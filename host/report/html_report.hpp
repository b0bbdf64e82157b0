// Layer host/report (vx_host_report): the HTML report of a run. May use:
// figures, chain, quant, tables, plugin, base.
//
// The HTML report of a batch: one self-contained file (inline CSS and script,
// nothing fetched) that an analyst opens offline. It takes a plain model —
// what ran, the files, the targets, the result rows and each cell's plot
// data — and writes the summary and per-target frames as HTML; the results
// go in one JSON data block that the page's own script draws from, so that
// 500 files x 30 targets stay a few megabytes and plots are drawn only when
// asked for. Every text from data is escaped; bytes that are not UTF-8 show
// as U+FFFD and never break the page. Does not throw except bad_alloc.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chain_runner.hpp"
#include "results_table.hpp"
#include "review.hpp"
#include "spectrum_match.hpp"
#include "targets.hpp"

namespace vx::host::report {

// What ran, collected by the command layer.
struct ReportFacts {
  std::string title = "vxrun report";
  std::string vxrun_version;
  std::string library_path;
  std::string library_contract;  // the contract fingerprint (the library has no version)
  std::string command_line;
  std::string started;  // UTC, ISO 8601
  double seconds = 0.0;
};

// The data of one cell's trace-and-fit figure. A converged fit is drawn
// from the row's fitted values, so only the points travel; other fits carry
// the library's curve excerpt.
struct CellPlot {
  double x_min = 0.0;  // the fit window
  double x_max = 0.0;
  std::vector<double> point_x, point_y;
  std::vector<double> curve_x, curve_y;  // empty when drawn from the fit
  std::optional<double> baseline;
  std::string svg_path;  // relative to the report, when SVG files were written
  // false: only the SVG link is known (a report made from merged tables,
  // whose runs are long gone); the cell shows its values and the link.
  bool has_data = true;
  // The peak view. point_x/point_y hold the trace over the context, the fit
  // window widened by context_margin on each side and clipped to the run,
  // so that a neighbour on the shoulder or a wrong peak picked shows.
  double context_lo = 0.0, context_hi = 0.0;
  struct IonTrace {
    double mz = 0.0;
    std::vector<double> x, y;        // raw intensities over the context
    std::optional<double> baseline;  // of the ion's own fit
  };
  std::vector<IonTrace> qualifiers{};  // in the target's order
  // The peak's background-subtracted spectrum at unit mass (index = mass),
  // empty when there is none; few_ions: the run recorded only a handful of
  // ions at the apex (SIM), so no spectrum is drawn.
  std::vector<double> spectrum{};
  bool few_ions = false;
};

// A piece of HTML written by the program itself (never raw data), such as a
// calibration table: extra per-target or whole-batch sections.
struct ReportSection {
  std::string title;
  std::string html;
};

struct ReportModel {
  ReportFacts facts;
  std::vector<std::string> files;  // input order
  std::vector<tables::Target> targets;
  // One per file and target, at file * targets.size() + target.
  std::vector<tables::ResultRow> rows;
  std::vector<std::optional<CellPlot>> plots;  // empty, or one per row
  std::vector<std::vector<ReportSection>>
      target_sections;                  // empty, or one list per target
  std::vector<ReportSection> sections;  // after the per-target sections
  // The sequence: file indexes in injection order and where that order came
  // from; empty: the files' own order.
  std::vector<std::size_t> injection_order;
  std::string order_source;
  // Quantitation facts the page draws (empty without a quantitation):
  // per file its sample type, per row its concentration and accuracy, and
  // the rows whose internal standard is out of range.
  std::vector<std::string> sample_types;
  std::vector<std::optional<double>> concentrations, accuracies;
  std::vector<std::size_t> istd_out_of_range;
  std::vector<std::size_t> istd_targets;  // targets that are internal standards
  std::string amount_unit;
  double qc_limit_percent = 20.0;
  double istd_low_percent = 50.0, istd_high_percent = 150.0;
  // The review applied to the rows (listed in the Audit section).
  std::vector<tables::ReviewEntry> review;
  std::string review_digest;
  std::string review_source;
  // Per target, the library spectrum its peaks were matched against (the
  // entry named by library_name, else the target's name); empty: no library.
  std::vector<std::optional<ident::UnitSpectrum>> library_spectra;
};

std::string render_html_report(const ReportModel& model);

// The plot data of one cell, from the run of its target.
CellPlot make_cell_plot(const tables::Target& target, const chain::TargetRun& run);

// How far the peak view reaches beyond each side of the fit window: five
// fitted widths (sigma) of a converged fit, never less than the half-window
// (an unfitted or needle-thin peak still shows its surroundings) and never
// more than ten half-windows (a fit as broad as the run would carry it all).
double context_margin(const chain::FitFacts& fit, double window_lo, double window_hi);

// Each qualifier's reference ratio (% of the quantifier): the peak view
// draws its trace as b + (y - b_ion) * 100 / ratio, b and b_ion the
// quantifier's and the ion's baselines, so that a good peak shows
// coinciding curves (the ratios are of areas above the baselines). The ratio is the row's
// reference_ratios (the identification takes it from the standards), else the targets
// table's expected ratio; nullopt where neither is a positive number (the ion is then
// drawn unscaled).
std::vector<std::optional<double>> overlay_ratios(const tables::ResultRow& row,
                                                  const tables::Target& target);

// A spectrum for the page: at most kSpectrumSticks of its most intense
// masses, in mass order, as (mass, intensity in 0..999 of the largest).
inline constexpr std::size_t kSpectrumSticks = 60;
std::vector<std::pair<int, int>> spectrum_sticks(const std::vector<double>& by_mass);

// An apex scan with fewer ions than this is taken for SIM: a full scan over
// any useful mass range records many more.
inline constexpr std::size_t kFullScanMinIons = 20;

// A diagnostics key as words ("gcms.fit.unstable_fit" -> "fit: unstable fit").
std::string readable_flag(std::string_view key);

// Text for people: & < > " ' as entities, control bytes as blanks and
// invalid UTF-8 as U+FFFD.
void append_html_text(std::string& out, std::string_view s);

// Standard base64 with padding (RFC 4648), as data: URLs take it.
void append_base64(std::string& out, std::string_view bytes);

}  // namespace vx::host::report
