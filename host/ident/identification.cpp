// Identification criteria and the reference means.
#include "identification.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vx::host::ident {
namespace {

// Boundary values pass: a deviation exactly at the tolerance, computed with
// a rounding error or two, must not fail.
constexpr double kSlack = 1e-9;

bool finite(const std::optional<double>& v) { return v && std::isfinite(*v); }

}  // namespace

IdentificationReference reference_from_standards(
    std::span<const TargetMeasurement> standards, const TableReference& table) {
  IdentificationReference ref;
  double rt_sum = 0.0;
  int rt_n = 0;
  const std::size_t q_count = table.qualifier_percent.size();
  std::vector<double> sum(q_count, 0.0);
  std::vector<int> n(q_count, 0);
  for (const TargetMeasurement& s : standards) {
    if (!s.detected || !finite(s.rt)) continue;
    rt_sum += *s.rt;
    ++rt_n;
    for (std::size_t q = 0; q < q_count && q < s.qualifier_ratios.size(); ++q) {
      if (finite(s.qualifier_ratios[q])) {
        sum[q] += *s.qualifier_ratios[q];
        ++n[q];
      }
    }
  }
  ref.standards = rt_n;
  ref.rt = rt_n > 0 ? std::optional<double>(rt_sum / rt_n) : table.rt;
  ref.qualifier_ratios.resize(q_count);
  for (std::size_t q = 0; q < q_count; ++q) {
    ref.qualifier_ratios[q] = n[q] > 0 ? sum[q] / n[q] : table.qualifier_percent[q];
  }
  return ref;
}

IdentificationResult identify(const TargetMeasurement& m,
                              const IdentificationReference& ref,
                              const IdentificationCriteria& criteria) {
  IdentificationResult r;
  r.rt_reference = ref.rt;
  r.reference_ratios = ref.qualifier_ratios;
  const std::size_t q_count = ref.qualifier_ratios.size();
  r.ratio_deviation.resize(q_count);
  if (!m.detected || !finite(m.rt)) {
    r.failed.push_back(kFlagNotDetected);
    return r;
  }

  if (finite(ref.rt)) r.rt_shift = *m.rt - *ref.rt;
  if (!r.rt_shift || std::fabs(*r.rt_shift) > criteria.rt_id_tol + kSlack) {
    r.failed.push_back(kFlagRtShift);
  }

  bool ratio_failed = false;
  for (std::size_t q = 0; q < q_count; ++q) {
    const std::optional<double>& want = ref.qualifier_ratios[q];
    if (!finite(want) || !(*want > 0.0)) continue;
    const std::optional<double> got =
        q < m.qualifier_ratios.size() ? m.qualifier_ratios[q] : std::nullopt;
    if (!finite(got)) {
      ratio_failed = true;
      continue;
    }
    const double deviation = 100.0 * (*got - *want) / *want;
    r.ratio_deviation[q] = deviation;
    if (std::fabs(deviation) > criteria.ratio_tol * (1.0 + kSlack)) ratio_failed = true;
  }
  if (ratio_failed) r.failed.push_back(kFlagIonRatio);

  const auto low_sn = [&](const std::optional<double>& sn) {
    return sn && !(*sn >= criteria.min_sn);  // NaN S/N fails as well
  };
  if (low_sn(m.quantifier_sn) ||
      std::any_of(m.qualifier_sn.begin(), m.qualifier_sn.end(), low_sn)) {
    r.failed.push_back(kFlagQualifierSn);
  }

  if (m.match_score && !(*m.match_score >= criteria.min_match)) {
    r.failed.push_back(kFlagSpectrumMismatch);
  }
  r.identified = r.failed.empty();
  return r;
}

}  // namespace vx::host::ident
