// The C API of vx_ident.h over reference_from_standards and identify. NaN
// marks an absent number both ways, since C has no optional; the entry
// catches what the C++ below may throw (only allocation failure) and turns
// it into a status.
#include "vx_ident.h"

#include <array>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "identification.hpp"

namespace vx::host::ident {
namespace {

// In the order identify() reports them, which is the order tables list them.
constexpr std::array<std::string_view, 5> kFlags = {
    kFlagNotDetected, kFlagRtShift, kFlagIonRatio, kFlagQualifierSn, kFlagSpectrumMismatch};
// The names as C strings: string_view constants need not end in a null.
constexpr std::array<const char*, 5> kFlagNames = {
    "not_detected", "rt_shift", "ion_ratio", "qualifier_sn", "spectrum_mismatch"};
static_assert(std::string_view(kFlagNames[0]) == kFlags[0] &&
              std::string_view(kFlagNames[1]) == kFlags[1] &&
              std::string_view(kFlagNames[2]) == kFlags[2] &&
              std::string_view(kFlagNames[3]) == kFlags[3] &&
              std::string_view(kFlagNames[4]) == kFlags[4]);

std::optional<double> present(double v) {
  return std::isnan(v) ? std::nullopt : std::optional(v);
}
double or_nan(const std::optional<double>& v) {
  return v ? *v : std::numeric_limits<double>::quiet_NaN();
}

uint32_t bits_of(const std::vector<std::string_view>& failed) {
  uint32_t bits = 0;
  for (std::string_view f : failed)
    for (std::size_t i = 0; i < kFlags.size(); ++i)
      if (f == kFlags[i]) bits |= 1u << i;
  return bits;
}

TargetMeasurement measurement_of(const VxiTarget& t, std::size_t f) {
  TargetMeasurement m;
  const std::size_t nq = t.n_qualifiers;
  m.detected = t.detected[f] != 0;
  m.rt = present(t.rt[f]);
  m.quantifier_sn = present(t.quantifier_sn[f]);
  m.match_score = present(t.match_score[f]);
  m.qualifier_ratios.resize(nq);
  m.qualifier_sn.resize(nq);
  for (std::size_t q = 0; q < nq; ++q) {
    m.qualifier_ratios[q] = present(t.qualifier_ratio[f * nq + q]);
    m.qualifier_sn[q] = present(t.qualifier_sn[f * nq + q]);
  }
  return m;
}

}  // namespace
}  // namespace vx::host::ident

extern "C" {

__attribute__((visibility("default"))) void vxi_default_criteria(VxiCriteria* out) {
  if (out == nullptr) return;
  const vx::host::ident::IdentificationCriteria d;
  *out = VxiCriteria{d.rt_id_tol, d.ratio_tol, d.min_sn, d.min_match};
}

__attribute__((visibility("default"))) int32_t vxi_identify_target(const VxiTarget* target,
                                                                   const VxiCriteria* criteria,
                                                                   VxiVerdicts* out) {
  namespace id = vx::host::ident;
  if (target == nullptr || criteria == nullptr || out == nullptr ||
      out->rt_reference == nullptr)
    return 2;
  const VxiTarget& t = *target;
  const bool per_file_missing =
      t.detected == nullptr || t.standard == nullptr || t.rt == nullptr ||
      t.quantifier_sn == nullptr || t.match_score == nullptr || out->identified == nullptr ||
      out->failed == nullptr || out->rt_shift == nullptr;
  const bool per_qualifier_missing =
      t.qualifier_ratio == nullptr || t.qualifier_sn == nullptr ||
      t.table_percent == nullptr || out->reference_ratios == nullptr;
  if ((t.n_files > 0 && per_file_missing) || (t.n_qualifiers > 0 && per_qualifier_missing))
    return 2;
  try {
    std::vector<id::TargetMeasurement> all(t.n_files);
    std::vector<id::TargetMeasurement> standards;
    for (std::size_t f = 0; f < t.n_files; ++f) {
      all[f] = id::measurement_of(t, f);
      if (t.standard[f] != 0) standards.push_back(all[f]);
    }
    id::TableReference table;
    table.rt = id::present(t.table_rt);
    table.qualifier_percent.assign(t.table_percent, t.table_percent + t.n_qualifiers);
    const id::IdentificationReference ref = id::reference_from_standards(standards, table);
    const id::IdentificationCriteria c{criteria->rt_id_tol, criteria->ratio_tol,
                                       criteria->min_sn, criteria->min_match};
    *out->rt_reference = id::or_nan(ref.rt);
    for (std::size_t q = 0; q < t.n_qualifiers; ++q)
      out->reference_ratios[q] =
          q < ref.qualifier_ratios.size() ? id::or_nan(ref.qualifier_ratios[q])
                                          : std::numeric_limits<double>::quiet_NaN();
    for (std::size_t f = 0; f < t.n_files; ++f) {
      const id::IdentificationResult r = id::identify(all[f], ref, c);
      out->identified[f] = r.identified ? 1 : 0;
      out->failed[f] = id::bits_of(r.failed);
      out->rt_shift[f] = id::or_nan(r.rt_shift);
    }
  } catch (const std::bad_alloc&) {
    return 1;
  }
  return 0;
}

__attribute__((visibility("default"))) const char* vxi_flag_name(uint32_t index, uint32_t* bit) {
  namespace id = vx::host::ident;
  if (index >= id::kFlagNames.size()) return nullptr;
  if (bit != nullptr) *bit = 1u << index;
  return id::kFlagNames[index];
}

}  // extern "C"
