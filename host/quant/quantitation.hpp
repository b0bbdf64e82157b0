// Layer host/quant (vx_host_quant), beside chain: calibration and
// quantitation from measured areas. May use: tables, base.
//
// Quantitation: from the batch's peak areas (quantifier and qualifier ions),
// the sample list and the targets' internal standards to one calibration per
// target and one row per file and target with a concentration and the flags
// that say how far to trust it. Pure: no I/O; every row is a plain struct so
// that reports can show it as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "calibration.hpp"
#include "sample_list.hpp"
#include "measurement_parts.hpp"
#include "targets.hpp"

namespace vx::host::quant {

// Flags of a quant row.
inline constexpr std::string_view kFlagFitFailed = "fit_failed";
inline constexpr std::string_view kFlagIstdFailed = "istd_fit_failed";
inline constexpr std::string_view kFlagNoCalibration = "no_calibration";
inline constexpr std::string_view kFlagBelowRange = "below_range";
inline constexpr std::string_view kFlagAboveRange = "above_range";
inline constexpr std::string_view kFlagQualifierRatio = "qualifier_ratio_out_of_tolerance";
inline constexpr std::string_view kFlagQualifierFailed = "qualifier_fit_failed";
inline constexpr std::string_view kFlagBlank = "blank_above_threshold";
inline constexpr std::string_view kFlagOutsideCurve = "response_outside_curve";
// The analyst rejected the quantifier's peak in review.
inline constexpr std::string_view kFlagRejected = "rejected_in_review";
// The internal standard's area is outside its limits in this file.
inline constexpr std::string_view kFlagIstdOutOfRange = "istd_out_of_range";
// The quantifier peak was judged not detected (peaks::kNotDetected): its fitted
// numbers are evidence, not an amount, so the row has no concentration.
inline constexpr std::string_view kFlagNotDetected = "not_detected";
// The concentration is below the calibration's limit of quantitation.
inline constexpr std::string_view kFlagBelowLoq = "below_loq";
// The fit counts but the value --response names is missing (a table without
// the decision columns asked for integrated_area, or no bounds were found).
inline constexpr std::string_view kFlagResponseNotMeasured = "response_not_measured";

// Which measured value of the quantifier is the response (before the
// internal standard ratio). The fitted area is the default.
enum class ResponseSource { kArea, kIntegratedArea, kHeight };
inline constexpr std::string_view kResponseArea = "area";
inline constexpr std::string_view kResponseIntegratedArea = "integrated_area";
inline constexpr std::string_view kResponseHeight = "height";
std::string_view response_source_name(ResponseSource r);
std::optional<ResponseSource> parse_response_source(std::string_view s);

// A fit counts when it succeeded with a finite area and its peak was not
// judged not detected (a measurement without a decision still counts).
bool fit_usable(const tables::IonFit& f);
// The quantifier's value for a response source when its fit counts; empty
// when it does not or that value is missing or not finite.
std::optional<double> measured_response(const tables::IonFit& f, ResponseSource source);

struct QuantSettings {
  CalibrationSettings calibration;
  // A blank is flagged when its response exceeds this % of the mean response
  // of the lowest calibrated level.
  double blank_threshold_percent = 20.0;
  // An internal standard's area must lie within these % of its mean area in
  // the standards.
  double istd_low_percent = 50.0;
  double istd_high_percent = 150.0;
  ResponseSource response = ResponseSource::kArea;
};

struct QualifierRatio {
  double mz = 0.0;
  double expected = 0.0;            // % of the quantifier's area
  std::optional<double> observed;   // absent: the qualifier's (or quantifier's) fit failed
  bool within = false;
};

struct QuantRow {
  std::string file;
  std::string sample_type;  // standard, sample, blank, qc
  std::string target;
  std::string istd;  // empty: response is the area
  std::optional<double> retention_time;
  std::optional<double> area;
  std::optional<double> istd_area;
  std::optional<double> response;
  std::optional<double> concentration;  // absent whenever it could not be computed
  std::optional<double> nominal;        // standards and QCs with a known amount
  std::optional<double> accuracy;       // concentration / nominal × 100
  std::string calibration_status;
  std::vector<QualifierRatio> qualifiers;
  std::vector<std::string> flags;
  std::string review;  // the row's review action (reject, integrate), "" when none
  std::string identified;  // the results row's verdict: yes, no, or empty
};

struct QuantOutcome {
  std::vector<Calibration> calibrations;  // one per target, in targets order
  std::vector<QuantRow> rows;             // file order, then target order
};

// measured is file-major (files × targets); samples has one entry per file.
QuantOutcome quantitate(std::span<const tables::Target> targets,
                        std::span<const tables::SampleEntry> samples,
                        std::span<const tables::Measurement> measured, const QuantSettings& settings);

}  // namespace vx::host::quant
