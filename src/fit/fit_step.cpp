// GcMsTargetedGaussianFitStep: window selection, estimates, the fit and the
// two documents. Both documents are built completely before the first output
// call; the frame hands them over in the order result, then diagnostics.
#include "fit/fit_step.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/json_scanner.hpp"
#include "common/json_writer.hpp"
#include "common/number_reader.hpp"

namespace vx::fit {
namespace {

// FWHM to sigma as the estimates have always used it: exactly 2.355, not
// 2*sqrt(2 ln 2).
constexpr double kFwhmDivisor = 2.355;
constexpr double kWidthFloor = 1e-6;
constexpr std::size_t kMinFitPoints = 4;

// Room for the result document: 18 members, 150 array numbers of at most 24
// bytes each plus separators, and the keys.
constexpr std::size_t kResultReserve = 4608;
constexpr std::size_t kDiagnosticsReserve = 320;

enum class Outcome { kNoLocalPeak, kUnstableBeforeFit, kUnstableFromFit, kSuccess };

// The values both documents report, chosen by outcome.
struct Report {
  Outcome outcome = Outcome::kNoLocalPeak;
  double retention_time = 0.0;
  double height = 0.0;
  double width = 0.0;
  double area = 0.0;
  double baseline = 0.0;
  int iterations = 0;
  double r_squared = 0.0;
  PeakEstimate initial;
};

std::string_view status_text(Outcome o) {
  switch (o) {
    case Outcome::kNoLocalPeak:
      return "no_local_peak";
    case Outcome::kUnstableBeforeFit:
    case Outcome::kUnstableFromFit:
      return "unstable_fit";
    case Outcome::kSuccess:
      return "success";
  }
  return "unstable_fit";
}

Report fit_selected(const SelectedWindow& selected, double target, double tolerance,
                    int limit) {
  Report r;
  if (selected.window.times.empty()) {
    r.retention_time = target;
    r.initial.center = target;
    return r;
  }
  const WindowEstimate est = estimate_peak(selected, tolerance);
  const PeakEstimate& e = est.estimate;
  r.initial = e;
  r.retention_time = e.center;
  r.height = e.height;
  r.baseline = e.baseline;
  if (!est.fit_ready) {
    r.outcome = Outcome::kUnstableBeforeFit;
    return r;
  }
  const GaussianFitOutcome fit = fit_gaussian_peak(selected.window, e, limit);
  r.iterations = fit.passes;
  if (fit.status != FitStatus::kSuccess) {
    r.outcome = Outcome::kUnstableFromFit;
    r.width = e.width;
    return r;
  }
  r.outcome = Outcome::kSuccess;
  r.retention_time = fit.center;
  r.height = fit.height;
  r.width = fit.width;
  r.area = fit.area;
  r.baseline = fit.baseline;
  r.r_squared = fit.r_squared;
  return r;
}

std::string result_document(const Report& r, const FitExcerpts* excerpts, double target,
                            double tolerance, double lower, double upper, double mz) {
  common::JsonWriter w;
  w.reserve(kResultReserve);
  w.raw(R"({"fitted_retention_time":)").number(r.retention_time);
  w.raw(R"(,"fitted_retention_time_unit":"minute","peak_height":)").number(r.height);
  w.raw(R"(,"peak_width":)").number(r.width);
  w.raw(R"(,"peak_area":)").number(r.area);
  w.raw(R"(,"baseline":)").number(r.baseline);
  w.raw(R"(,"fit_status":)").string(status_text(r.outcome));
  w.raw(R"(,"target_retention_time":)").number(target);
  w.raw(R"(,"retention_time_tolerance":)").number(tolerance);
  w.raw(R"(,"fit_window_min":)").number(lower);
  w.raw(R"(,"fit_window_max":)").number(upper);
  w.raw(R"(,"solver_iterations":)").integer(r.iterations);
  w.raw(R"(,"r_squared":)").number(r.r_squared);
  w.raw(R"(,"goodness_of_fit":)").number(r.r_squared);
  w.raw(R"(,"mz":)").number(mz);
  const std::span<const double> none;
  w.raw(R"(,"selected_ion_trace_excerpt":)")
      .number_array(excerpts ? std::span<const double>(excerpts->trace) : none);
  w.raw(R"(,"fitted_curve_excerpt":)")
      .number_array(excerpts ? std::span<const double>(excerpts->curve) : none);
  w.raw(R"(,"excerpt_retention_time":)")
      .number_array(excerpts ? std::span<const double>(excerpts->times) : none);
  w.raw("}");
  return w.take();
}

std::string diagnostics_document(const Report& r) {
  common::JsonWriter w;
  w.reserve(kDiagnosticsReserve);
  w.raw(R"({"gcms.fit.no_local_peak":)").boolean(r.outcome == Outcome::kNoLocalPeak);
  w.raw(R"(,"gcms.fit.unstable_fit":)")
      .boolean(r.outcome == Outcome::kUnstableBeforeFit ||
               r.outcome == Outcome::kUnstableFromFit);
  w.raw(R"(,"gcms.fit.solver_converged":)").boolean(r.outcome == Outcome::kSuccess);
  w.raw(R"(,"gcms.fit.initial_height_estimate":)").number(r.initial.height);
  w.raw(R"(,"gcms.fit.initial_center_estimate":)").number(r.initial.center);
  w.raw(R"(,"gcms.fit.initial_width_estimate":)").number(r.initial.width);
  w.raw(R"(,"gcms.fit.initial_baseline_estimate":)").number(r.initial.baseline);
  w.raw("}");
  return w.take();
}

}  // namespace

SelectedWindow select_fit_window(std::span<const double> times,
                                 std::span<const double> intensities, double target,
                                 double tolerance) {
  SelectedWindow s;
  if (!std::isfinite(target) || !std::isfinite(tolerance)) return s;
  const double lower = target - tolerance;
  const double upper = target + tolerance;
  const std::size_t pairs = std::min(times.size(), intensities.size());
  s.window.times.reserve(pairs);
  s.window.intensities.reserve(pairs);
  for (std::size_t i = 0; i < pairs; ++i) {
    const double t = times[i];
    const double y = intensities[i];
    if (!(lower <= t && t <= upper) || !std::isfinite(t) || !std::isfinite(y)) continue;
    const bool first = s.window.times.empty();
    s.window.times.push_back(t);
    s.window.intensities.push_back(y);
    if (first || y < s.minimum) s.minimum = y;
    // The running maximum starts at 0, so a window without any positive
    // intensity keeps its first point as the peak.
    if (y > s.running_maximum) {
      s.running_maximum = y;
      s.peak_index = s.window.times.size() - 1;
    }
  }
  return s;
}

WindowEstimate estimate_peak(const SelectedWindow& selected, double tolerance) {
  WindowEstimate out;
  const std::vector<double>& t = selected.window.times;
  const std::vector<double>& y = selected.window.intensities;
  const std::size_t n = std::min(t.size(), y.size());
  if (n == 0) return out;
  PeakEstimate& e = out.estimate;
  const std::size_t peak = selected.peak_index;
  e.height = selected.running_maximum - selected.minimum;
  e.center = t[peak];
  e.baseline = selected.minimum;
  if (n < kMinFitPoints || !(e.height > 0.0)) return out;
  out.fit_ready = true;

  const double half = selected.minimum + 0.5 * e.height;
  std::size_t left = peak;
  while (left > 0 && y[left - 1] > half) --left;
  std::size_t right = peak;
  while (right + 1 < n && y[right + 1] > half) ++right;

  double w = 0.5 * tolerance;
  if (right > left) {
    w = (t[right] - t[left]) / kFwhmDivisor;
  } else {
    // No neighbour above half height: the intensity-weighted spread of the
    // whole window stands in for the half-height width.
    double weight = 0.0;
    double first = 0.0;
    double second = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const double u = std::max(0.0, y[i] - selected.minimum);
      weight += u;
      first += t[i] * u;
      second += (t[i] * t[i]) * u;
    }
    if (weight > 0.0) {
      const double mean = first / weight;
      const double variance = second / weight - mean * mean;
      if (variance > 0.0) w = std::sqrt(variance);
    }
  }
  e.width = std::max(kWidthFloor, w);
  return out;
}

int clamp_iteration_limit(std::optional<double> value) {
  if (!value) return kDefaultIterationLimit;
  const double whole = std::trunc(*value);
  if (!(whole >= kMinIterationLimit)) return kMinIterationLimit;  // NaN included
  if (whole > kMaxIterationLimit) return kMaxIterationLimit;
  return static_cast<int>(whole);
}

double read_target_mz(std::string_view trace_json) {
  const auto raw = common::find_member_text(trace_json, "target_mz");
  if (!raw) return 0.0;
  // Only a plain decimal number counts: words such as inf or nan and
  // hexadecimal forms are not read.
  double value = 0.0;
  if (common::scan_plain_decimal(*raw, value) == 0) return 0.0;
  // An overflowing number is out of range and reads as absent.
  return std::isinf(value) ? 0.0 : value;
}

registry::StepResult compute_fit(const registry::StepArgs& args) {
  const std::optional<double> target = common::read_number(args.param(2));
  if (!target) return registry::StepResult::invalid();
  const std::optional<double> tolerance = common::read_number(args.param(1));
  if (!tolerance) return registry::StepResult::invalid();
  const int limit = clamp_iteration_limit(common::read_number(args.param(0)));

  const std::optional<std::string_view> input = args.input_text(0);
  if (!input) return registry::StepResult::invalid();
  const std::string_view json = common::until_nul(*input);
  std::vector<double> times;
  std::vector<double> intensities;
  if (const auto raw = common::find_member_text(json, "retention_time")) {
    common::parse_number_list(*raw, times);
  }
  if (const auto raw = common::find_member_text(json, "intensity")) {
    common::parse_number_list(*raw, intensities);
  }
  const double mz = read_target_mz(json);

  const SelectedWindow selected =
      select_fit_window(times, intensities, *target, *tolerance);
  const Report report = fit_selected(selected, *target, *tolerance, limit);
  std::optional<FitExcerpts> excerpts;
  if (!selected.window.times.empty()) {
    excerpts = build_fit_excerpts(selected.window, report.height, report.retention_time,
                                  report.width, report.baseline);
  }

  registry::StepResult result;
  result.emissions.reserve(2);
  result.emissions.push_back(registry::Emission::of_text(
      1, result_document(report, excerpts ? &*excerpts : nullptr, *target, *tolerance,
                         *target - *tolerance, *target + *tolerance, mz)));
  result.emissions.push_back(
      registry::Emission::of_text(0, diagnostics_document(report)));
  return result;
}

}  // namespace vx::fit
