// Peak decisions: whether a converged Gaussian fit is a measured amount. From
// the whole selected-ion trace and the fitted values, decide_peak measures the
// noise, the signal-to-noise ratio, an integrated area between walked peak
// bounds, the asymmetry at 10 % height, and looks for a second peak the single
// Gaussian does not explain. Layer: host/peaks uses the standard library only;
// the table, the command line and the report use it. Pure functions: nothing is
// thrown except allocation failure, and a number that cannot be computed is an
// empty optional, never a NaN.
//
// The rules, exactly (t in minutes, y intensities, c, H, σ, b the fitted
// center, height above baseline, width and baseline):
//
// Points. Trace pairs are taken while both sequences have entries; a pair with
//   a non-finite time or intensity is left out (flag non_finite_points). The
//   window is [window_min, window_max] (the whole trace when either is absent).
//   dt is the median scan interval of the trace.
// Noise. The noise region is the window and two window widths on either
//   side, less the fitted peak (|t − c| ≤ exclusion_sigmas·σ) and less every
//   other peak in it: points whose moving average (the smoothing below)
//   stands more than 4 smoothed-noise SDs above the region's median, widened
//   by exclusion_sigmas·σ on both sides, so a neighbour's flanks and a long
//   tail stay out too. The noise is measured on the first differences of
//   trace-adjacent noise points divided by √2 (differencing removes the
//   baseline level and any slow drift): 1.4826·MAD first, then the RMS of the
//   differences within 3.5 of those SDs, rescaled for the cut tails (the MAD
//   keeps spikes and peak edges out, the RMS then uses every ordinary point).
//   Without min_noise_points − 1 differences left after masking, the region
//   before masking is used; without them there either, the noise is the RMS
//   of the fit residuals over the window (n − 4 degrees of freedom).
//   noise_source says which (kWidenedWindow when noise points lie outside the
//   window).
// S/N. signal_to_noise = H / noise; empty when the noise is 0 (flag
//   noise_not_measured) or H is unusable.
// Detection. detected when the fit converged, its values are finite, none of
//   no_peak_in_window, too_few_points, below_min_sn holds. no_peak_in_window:
//   c outside the window, H ≤ 0, σ ≤ 0, or 2.355·σ (the FWHM) wider than the
//   window. too_few_points: fewer than min_points trace points within c ± 2σ.
//   below_min_sn: S/N < min_sn (a zero noise never sets it).
//   peak_at_window_edge (does not decide detection): c within 2σ of a window
//   bound, so part of the peak the fit was judged on lies outside the window.
// Integration baseline B. The level of the noise points (the masked region
//   above) when they were enough: the mean of those within 3.5 noise SDs of
//   their median (the median alone wastes a third of the points, and its
//   error times the peak's width is area). Else the fitted b. The fit
//   misplaces b where the Gaussian is the wrong shape (a tailing peak at
//   τ/σ = 2 pulls it about 0.6 noise SD low, +6 % area), and a neighbour or a
//   tail left in the region would lift the level (−3 % area); the masked
//   level has neither. baseline_from_noise_region = false integrates above b.
// Bounds. The trace is smoothed by a centred moving average of 2h + 1 points,
//   h = clamp(round(σ / (2·dt)), 1, 10). The apex is the highest smoothed point
//   within c ± 2σ (the point nearest c when none lies there). From the apex the
//   walk goes outwards, point by point, and stops at the first of: the
//   smoothed signal at or below B + return_sigmas·noise (a baseline bound, at
//   that point); the smoothed signal rising more than valley_sigmas·noise above
//   the lowest smoothed value met so far on this side (a valley bound, at that
//   lowest point); the end of the trace (a trace_end bound).
// Integrated area. Trapezoid sum of (y − B) over the raw points from
//   peak_start to peak_end, intensity × minutes like the fitted area.
// Asymmetry. On the smoothed trace, apex height A = S(apex) − B; the level is
//   B + 0.1·A; the front and back times where the smoothed trace crosses it
//   are interpolated linearly between the points around the crossing, the apex
//   time by a parabola through the apex and its neighbours. asymmetry = (back −
//   apex) / (apex − front). tailing when asymmetry > tailing_asymmetry.
// Coelution. coelution when a walked bound is a valley (a neighbour rises
//   within the peak), or when the second derivative of the trace has two
//   separate cores between the bounds: the derivative is a quadratic
//   Savitzky–Golay filter over 2m + 1 points, m = clamp(round(σ/dt), 2, 25); a
//   core is a local minimum below −core_sigmas·s (s the filter's noise SD,
//   noise·‖weights‖), and two cores are separate when the derivative rises more
//   than core_sigmas·s above the shallower of them in between. A single peak,
//   tailing or not, has one core; two peaks too close for a valley still have
//   two. Failing both, the shape test: over the points within c ± 6σ, a fit of
//   two Gaussians of one shared width and a fit of an exponentially modified
//   Gaussian (both on a constant baseline, component_fit.hpp) are compared, and
//   coelution is set when (RSS_EMG − RSS_pair) / noise² > coelution_rss_gain
//   with both pair heights positive. A shoulder leaves the EMG a residual the
//   pair does not have; a tail is fitted as well by the EMG as by the pair.
//   Both fits are skipped when the single Gaussian's own χ² = Σ((y − model) /
//   noise)² over those n points is at most n + coelution_rss_gain − 2·√(2n):
//   then neither can gain enough. Without deconvolution the pair fit tries
//   only its screening starts (PairStarts::kScreen), and the EMG fit stops
//   once its residual no longer leaves the pair the gain.
// Deconvolution (deconvolve = true, coelution set, noise measured):
//   component_area is the area h·σ·√(2π) of the pair component whose center
//   is nearer the target, the window's middle (the fitted center without a
//   window); empty when that height is not positive or the pair fit fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vx::host::peaks {

// The whole trace, as the trace step wrote it (minutes, intensities).
struct TraceView {
  std::span<const double> retention_time;
  std::span<const double> intensity;
};

// What the fit reported. converged is true when the fit status is success;
// the values are the fitted ones (empty when absent).
struct FitView {
  bool converged = false;
  std::optional<double> center, height, width, baseline;
  std::optional<double> window_min, window_max;
};

struct DecisionOptions {
  double min_sn = 5.0;  // below: not detected (chosen on noise-only windows)
  int min_points = 7;   // trace points within c ± 2σ the model is judged on
  double exclusion_sigmas = 4.0;
  int min_noise_points = 12;
  double return_sigmas = 0.5;  // walk stops half a noise SD above the baseline
  double valley_sigmas = 3.0;
  double tailing_asymmetry = 1.5;
  double core_sigmas = 4.0;
  double core_width_sigmas = 0.7;
  bool baseline_from_noise_region = true;
  // Coelution when the EMG's residual sum exceeds the two-Gaussian fit's by
  // more than this many noise variances.
  double coelution_rss_gain = 25.0;
  // Report the target component's area of the two-Gaussian fit when the peak
  // is flagged coelution.
  bool deconvolve = false;
  // Stop once detection is decided: noise, noise_source, S/N, points_across,
  // the detection and its flags are those of a whole decision; the bounds,
  // areas, asymmetry, tailing and coelution are left empty. For ions of which
  // only the S/N and detection are read (qualifier ions).
  bool detection_only = false;
};

// One bit per flag; kFlagNames gives the text a table writes.
enum PeakFlag : std::uint32_t {
  kFitNotConverged = 1U << 0,
  kInvalidFitValues = 1U << 1,
  kNoPeakInWindow = 1U << 2,
  kTooFewPoints = 1U << 3,
  kBelowMinSn = 1U << 4,
  kNoiseNotMeasured = 1U << 5,
  kNonFinitePoints = 1U << 6,
  kTailing = 1U << 7,
  kCoelution = 1U << 8,
  kEmptyTrace = 1U << 9,
  kAtWindowEdge = 1U << 10,
};

struct FlagName {
  PeakFlag flag;
  std::string_view name;
};
inline constexpr FlagName kFlagNames[] = {
    {kFitNotConverged, "fit_not_converged"},
    {kInvalidFitValues, "invalid_fit_values"},
    {kNoPeakInWindow, "no_peak_in_window"},
    {kTooFewPoints, "too_few_points"},
    {kBelowMinSn, "below_min_sn"},
    {kNoiseNotMeasured, "noise_not_measured"},
    {kNonFinitePoints, "non_finite_points"},
    {kTailing, "tailing"},
    {kCoelution, "coelution"},
    {kAtWindowEdge, "peak_at_window_edge"},
    {kEmptyTrace, "empty_trace"},
};

inline constexpr std::string_view kDetected = "detected";
inline constexpr std::string_view kNotDetected = "not_detected";

enum class NoiseSource { kNone, kWindow, kWidenedWindow, kFitResiduals };
enum class BoundKind { kNone, kBaseline, kValley, kTraceEnd };

struct PeakDecision {
  bool detected = false;
  std::uint32_t flags = 0;
  std::optional<double> noise;                 // intensity, an SD
  std::optional<double> signal_to_noise;       // H / noise
  std::optional<double> integrated_area;       // intensity × minutes
  std::optional<double> peak_start, peak_end;  // minutes
  std::optional<double> integration_baseline;  // intensity
  std::optional<double> asymmetry;             // As at 10 % height
  std::optional<double> component_area;        // deconvolve: target component
  NoiseSource noise_source = NoiseSource::kNone;
  BoundKind start_kind = BoundKind::kNone, end_kind = BoundKind::kNone;
  std::size_t points_across = 0;  // trace points within c ± 2σ

  [[nodiscard]] bool has(PeakFlag f) const { return (flags & f) != 0; }
  [[nodiscard]] std::string_view detection() const {
    return detected ? kDetected : kNotDetected;
  }
};

PeakDecision decide_peak(const TraceView& trace, const FitView& fit,
                         const DecisionOptions& opt = {});

// The names of the flags set, in kFlagNames order.
std::vector<std::string_view> flag_names(std::uint32_t flags);

// The trapezoid sum of (y − baseline) over the points whose times lie in
// [start, end], in trace order; empty when fewer than 2 points lie there or a
// value is not finite. decide_peak integrates with it.
std::optional<double> integrate_above(std::span<const double> times,
                                      std::span<const double> intensities,
                                      double baseline, double start, double end);

}  // namespace vx::host::peaks
