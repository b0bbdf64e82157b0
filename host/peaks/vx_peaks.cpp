// The C API of vx_peaks.h over decide_peak. NaN marks an absent number both
// ways, since C has no optional; every entry catches what the C++ below may
// throw (only allocation failure) and turns it into a status.
#include "vx_peaks.h"

#include <cmath>
#include <iterator>
#include <limits>
#include <new>
#include <optional>

#include "peak_decisions.hpp"

namespace vx::host::peaks {
namespace {

std::optional<double> present(double v) {
  return std::isnan(v) ? std::nullopt : std::optional(v);
}
double or_nan(const std::optional<double>& v) {
  return v ? *v : std::numeric_limits<double>::quiet_NaN();
}

}  // namespace
}  // namespace vx::host::peaks

extern "C" {

__attribute__((visibility("default"))) void vxp_default_options(VxpOptions* out) {
  if (out == nullptr) return;
  const vx::host::peaks::DecisionOptions d;
  *out = VxpOptions{d.min_sn, d.min_points, d.deconvolve ? 1 : 0};
}

__attribute__((visibility("default"))) int32_t vxp_decide_peak(
    const double* retention_time, const double* intensity, uint64_t n, const VxpFit* fit,
    const VxpOptions* options, VxpDecision* out) {
  namespace p = vx::host::peaks;
  if (out == nullptr || fit == nullptr || options == nullptr) return 2;
  *out = VxpDecision{};
  if (n > 0 && (retention_time == nullptr || intensity == nullptr)) return 2;
  try {
    p::FitView view;
    view.converged = fit->converged != 0;
    view.center = p::present(fit->center);
    view.height = p::present(fit->height);
    view.width = p::present(fit->width);
    view.baseline = p::present(fit->baseline);
    view.window_min = p::present(fit->window_min);
    view.window_max = p::present(fit->window_max);
    p::DecisionOptions opt;
    opt.min_sn = options->min_sn;
    opt.min_points = options->min_points;
    opt.deconvolve = options->deconvolve != 0;
    const auto count = static_cast<std::size_t>(n);
    const p::PeakDecision d =
        p::decide_peak({{retention_time, count}, {intensity, count}}, view, opt);
    *out = VxpDecision{d.detected ? 1 : 0,           d.flags,
                       p::or_nan(d.noise),           p::or_nan(d.signal_to_noise),
                       p::or_nan(d.integrated_area), p::or_nan(d.peak_start),
                       p::or_nan(d.peak_end),        p::or_nan(d.asymmetry),
                       p::or_nan(d.component_area)};
    return 0;
  } catch (...) {
    *out = VxpDecision{};
    return 1;
  }
}

__attribute__((visibility("default"))) const char* vxp_flag_name(uint32_t index,
                                                                 uint32_t* bit) {
  const auto& names = vx::host::peaks::kFlagNames;
  if (index >= std::size(names)) return nullptr;
  if (bit != nullptr) *bit = names[index].flag;
  // The names are string literals, so their views end in a NUL.
  return names[index].name.data();
}

}  // extern "C"
