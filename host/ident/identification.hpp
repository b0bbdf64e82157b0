// Identification criteria for residue analysis by GC-MS at unit mass
// resolution, in the form of the EU SANTE guidance: a found peak counts as
// the target compound only when its retention time, its qualifier ion
// ratios, every ion's signal-to-noise ratio and (when a library spectrum was
// compared) its match score all agree with the reference. Pure functions on
// plain values; never throw except std::bad_alloc.
//
// References come from the sequence's calibration standards in which the
// target was detected: rt_ref is their mean retention time and each
// qualifier's reference ratio the mean of its ratios (qualifier area /
// quantifier area × 100). Without such standards (or without a ratio for a
// qualifier) the targets table's rt and expected percentages are used.
//
// Criteria (each boundary value passes):
//   rt_shift           |rt − rt_ref| > rt_id_tol               (0.1 min)
//   ion_ratio          |ratio − ratio_ref| / ratio_ref > ratio_tol (30 %),
//                      or a qualifier with no measured ratio
//   qualifier_sn       any ion's S/N < min_sn                  (3)
//   not_detected       no peak (the other criteria are then not checked)
//   spectrum_mismatch  match score < min_match                 (700), only
//                      when a score was given
// identified = detected and no criterion failed.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vx::host::ident {

inline constexpr std::string_view kFlagRtShift = "rt_shift";
inline constexpr std::string_view kFlagIonRatio = "ion_ratio";
inline constexpr std::string_view kFlagQualifierSn = "qualifier_sn";
inline constexpr std::string_view kFlagNotDetected = "not_detected";
inline constexpr std::string_view kFlagSpectrumMismatch = "spectrum_mismatch";

struct IdentificationCriteria {
  double rt_id_tol = 0.1;   // minutes
  double ratio_tol = 30.0;  // % of the reference ratio
  double min_sn = 3.0;
  double min_match = 700.0;  // on the 0..999 scale
};

// What one file says about one target.
struct TargetMeasurement {
  bool detected = false;
  std::optional<double> rt;  // fitted apex, minutes
  // Per qualifier, in the targets table's order: area / quantifier area ×
  // 100; empty when that qualifier was not found.
  std::vector<std::optional<double>> qualifier_ratios;
  // S/N of the quantifier and of each qualifier (same order); an empty
  // value was not measured and is not checked.
  std::optional<double> quantifier_sn;
  std::vector<std::optional<double>> qualifier_sn;
  std::optional<double> match_score;  // 0..999, when a library spectrum was compared
};

struct IdentificationReference {
  std::optional<double> rt;
  std::vector<std::optional<double>> qualifier_ratios;  // % of the quantifier
  int standards = 0;  // detected standards the means are taken over; 0: table values
};

// The targets table's values, used where no standard gives one.
struct TableReference {
  std::optional<double> rt;
  std::vector<double> qualifier_percent;  // expected %, one per qualifier
};

// Means over the detected standards (a standard counts for rt when detected
// with a finite rt, for a qualifier when it also has a finite ratio for it);
// table values fill whatever no standard gives. The result has one ratio
// per table qualifier.
IdentificationReference reference_from_standards(
    std::span<const TargetMeasurement> standards, const TableReference& table);

struct IdentificationResult {
  bool identified = false;
  std::vector<std::string_view> failed;  // the kFlag… constants, in the order above
  std::optional<double> rt_reference;
  std::optional<double> rt_shift;                       // rt − rt_reference
  std::vector<std::optional<double>> reference_ratios;  // per qualifier
  // Per qualifier: (ratio − reference) / reference × 100.
  std::vector<std::optional<double>> ratio_deviation;
};

// Checks one measurement. A reference without rt fails rt_shift (the time
// cannot be confirmed); a qualifier whose reference ratio is absent or not
// positive is not checked, since no deviation can be computed from it.
IdentificationResult identify(const TargetMeasurement& m,
                              const IdentificationReference& ref,
                              const IdentificationCriteria& criteria = {});

}  // namespace vx::host::ident
