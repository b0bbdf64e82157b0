// The trace figure's content: the trace's points inside the fit window, the
// fitted curve, the baseline and a caption of the fit's values and flags.
#include "trace_plot.hpp"

#include <cmath>
#include <filesystem>
#include <map>

#include "file_io.hpp"
#include "number_text.hpp"

namespace vx::host::figures {

using tables::kFitNoLocalPeak;
using tables::kFitNotRun;
using tables::kFitSuccess;
using base::general_text;
using chain::FitFacts;
using chain::TargetRun;
using chain::TraceFacts;
using tables::kStatusOk;
using tables::Target;

namespace {

std::string label(double v) { return general_text(v, 6); }

// The trace's own points inside the window; the excerpt (interpolated at 50
// times) only when the trace document had none to give. Returns how many of
// the trace's points fell in the window.
std::size_t add_window_points(PlotInput& p, const TargetRun& run) {
  const TraceFacts& t = run.trace_facts;
  for (std::size_t i = 0; i < t.retention_time.size() && i < t.intensity.size(); ++i) {
    if (t.retention_time[i] >= p.x_min && t.retention_time[i] <= p.x_max) {
      p.point_x.push_back(t.retention_time[i]);
      p.point_y.push_back(t.intensity[i]);
    }
  }
  const std::size_t in_window = p.point_x.size();
  if (p.point_x.empty()) {
    p.point_x = run.fit.excerpt_time;
    p.point_y = run.fit.excerpt_trace;
  }
  return in_window;
}

// A converged fit is drawn from its parameters on a fine grid (the 50-point
// excerpt is too coarse for a narrow peak); otherwise the curve the library
// reported.
void add_fit_curve(PlotInput& p, const FitFacts& f) {
  const bool fitted = f.fit_status == kFitSuccess && f.height && f.retention_time &&
                      f.width && f.baseline && *f.width > 0.0 && std::isfinite(p.x_min) &&
                      std::isfinite(p.x_max) && p.x_max > p.x_min;
  if (!fitted) {
    p.curve_x = f.excerpt_time;
    p.curve_y = f.excerpt_curve;
    return;
  }
  constexpr int kSteps = 400;
  p.curve_x.reserve(kSteps + 1);
  p.curve_y.reserve(kSteps + 1);
  for (int i = 0; i <= kSteps; ++i) {
    const double x = p.x_min + (p.x_max - p.x_min) * i / kSteps;
    const double z = (x - *f.retention_time) / *f.width;
    p.curve_x.push_back(x);
    p.curve_y.push_back(*f.height * std::exp(-0.5 * z * z) + *f.baseline);
  }
}

std::string fit_values_line(const TargetRun& run) {
  const FitFacts& f = run.fit;
  const std::string sep(kCaptionSeparator);
  std::string line =
      "fit: " + (f.fit_status.empty() ? std::string(kFitNotRun) : f.fit_status);
  if (run.status != kStatusOk) line += " (" + run.message + ")";
  // The curve is drawn as evidence; the caption says it is no amount.
  if (run.decision && !run.decision->detected) line += ", " + std::string(peaks::kNotDetected);
  if (f.iterations) line += ", " + std::to_string(*f.iterations) + " iterations";
  if (f.retention_time)
    line += sep + "RT " + label(*f.retention_time) + " min";
  if (f.height) line += sep + "height " + label(*f.height);
  if (f.width) line += sep + "\xCF\x83 " + label(*f.width) + " min";
  if (f.area) line += sep + "area " + label(*f.area);
  return line;
}

std::vector<std::string> fit_caption(const Target& target, const TargetRun& run,
                                     double x_min, double x_max, std::size_t in_window) {
  const FitFacts& f = run.fit;
  const std::string sep(kCaptionSeparator);
  std::string line;
  if (f.baseline) line += "baseline " + label(*f.baseline) + sep;
  if (f.r_squared)
    line += "r\xC2\xB2 " + general_text(*f.r_squared, 5) + sep;
  line += target.exact ? "m/z " + label(target.mz) + " exact"
                       : "m/z " + label(target.mz) + " \xC2\xB1 " + label(target.mz_tol);
  line += sep + "window " + label(x_min) + "\xE2\x80\x93" + label(x_max) + " min";
  if (const auto& n = run.trace_facts.matched_ion_count) {
    line += sep + std::to_string(in_window) + " of " + std::to_string(*n) +
            " trace points in the window";
  }
  std::string flags = "flags: ";
  for (std::size_t i = 0; i < run.flags.size(); ++i)
    flags += (i ? ", " : "") + run.flags[i];
  if (run.flags.empty()) flags += "none";
  return {fit_values_line(run), line, flags};
}

}  // namespace

PlotInput make_plot(std::string_view file, const Target& target, const TargetRun& run) {
  PlotInput p;
  const std::string_view base = file.substr(
      file.find_last_of('/') == std::string_view::npos ? 0 : file.find_last_of('/') + 1);
  p.title = std::string(base) + " \xC2\xB7 " + target.name + " (m/z " + label(target.mz) +
            ", RT " + label(target.rt) + " min)";
  const FitFacts& f = run.fit;
  p.x_min = f.window_min.value_or(target.rt - target.rt_tol);
  p.x_max = f.window_max.value_or(target.rt + target.rt_tol);
  const std::size_t in_window = add_window_points(p, run);
  add_fit_curve(p, f);
  if (f.fit_status != kFitNoLocalPeak) p.baseline = f.baseline;
  p.caption = fit_caption(target, run, p.x_min, p.x_max, in_window);
  return p;
}

std::vector<std::string> plot_file_names(std::span<const chain::BatchFile> files,
                                         std::span<const Target> targets) {
  std::vector<std::string> stems;
  std::map<std::string, int> seen;
  for (const chain::BatchFile& f : files) {
    std::string stem =
        base::safe_file_name(std::filesystem::path(f.path).filename().string());
    const int n = ++seen[stem];
    if (n > 1) {
      stem += '-';
      stem += std::to_string(n);
    }
    stems.push_back(std::move(stem));
  }
  std::vector<std::string> names;
  names.reserve(files.size() * targets.size());
  for (const std::string& stem : stems) {
    for (const Target& t : targets)
      names.push_back(stem + "__" + base::safe_file_name(t.name) + ".svg");
  }
  return names;
}

void attach_plot_writer(chain::BatchSettings& settings,
                        std::span<const chain::BatchFile> files, const std::string& dir) {
  std::vector<std::string> paths = plot_file_names(files, settings.targets);
  for (std::string& name : paths) name = (std::filesystem::path(dir) / name).string();
  settings.on_target = [paths = std::move(paths), files, &targets = settings.targets,
                        next = std::move(settings.on_target)](
                           std::size_t f, std::size_t t,
                           const TargetRun& run) -> std::optional<std::string> {
    std::string error;
    const PlotInput plot = make_plot(files[f].path, targets[t], run);
    const bool written =
        base::write_text_file(paths[f * targets.size() + t], render_plot_svg(plot), &error);
    // The next hook runs whatever became of the figure: the report still
    // wants the cell's data.
    std::optional<std::string> next_error = next ? next(f, t, run) : std::nullopt;
    if (!written) return error;
    return next_error;
  };
}

}  // namespace vx::host::figures
