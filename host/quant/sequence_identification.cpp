// The standards of a target are the files the sample list calls standards
// and that hold an amount of it: a standard made up for other compounds says
// nothing about this one's time or ratios.
#include "sequence_identification.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "cell_text.hpp"
#include "peak_decisions.hpp"

namespace vx::host::quant {

using tables::IonFit;
using tables::Measurement;
using tables::ResultRow;
using tables::SampleEntry;
using tables::SampleType;
using tables::Target;

namespace {

bool detected(const ResultRow& row, const IonFit& fit) {
  if (!tables::row_processed(row)) return false;
  // Rows read back from a table without the detection columns have no
  // decision: a usable fit is then what counts as found.
  if (fit.detection.empty()) return fit_usable(fit);
  return fit.detection == peaks::kDetected;
}

std::string ratio_text(const Target& t, std::span<const std::optional<double>> ratios) {
  std::string out;
  for (std::size_t i = 0; i < t.qualifiers.size(); ++i) {
    if (i > 0) out += ';';
    base::append_number(out, t.qualifiers[i].mz);
    out += ':';
    if (i < ratios.size() && ratios[i]) base::append_number(out, *ratios[i]);
  }
  return out;
}

}  // namespace

ident::TargetMeasurement target_measurement(const ResultRow& row, const Measurement& m,
                                            const Target& target) {
  ident::TargetMeasurement out;
  out.detected = detected(row, m.quantifier);
  out.rt = m.quantifier.retention_time;
  out.quantifier_sn = m.quantifier.signal_to_noise;
  if (row.match_score) out.match_score = static_cast<double>(*row.match_score);
  const bool base_usable = fit_usable(m.quantifier) && *m.quantifier.area > 0.0;
  out.qualifier_ratios.resize(target.qualifiers.size());
  out.qualifier_sn.resize(target.qualifiers.size());
  for (std::size_t i = 0; i < target.qualifiers.size() && i < m.qualifiers.size(); ++i) {
    const IonFit& q = m.qualifiers[i];
    out.qualifier_sn[i] = q.signal_to_noise;
    if (base_usable && fit_usable(q))
      out.qualifier_ratios[i] = *q.area / *m.quantifier.area * 100.0;
  }
  return out;
}

void identify_rows(std::span<const Target> targets, std::span<const SampleEntry> samples,
                   std::span<const Measurement> measured, std::span<ResultRow> rows,
                   const ident::IdentificationCriteria& criteria) {
  const std::size_t n_targets = targets.size();
  if (n_targets == 0 || rows.size() != measured.size()) return;
  const std::size_t n_files = rows.size() / n_targets;
  for (std::size_t t = 0; t < n_targets; ++t) {
    const Target& target = targets[t];
    std::vector<ident::TargetMeasurement> all(n_files);
    std::vector<ident::TargetMeasurement> standards;
    for (std::size_t f = 0; f < n_files; ++f) {
      const std::size_t i = f * n_targets + t;
      all[f] = target_measurement(rows[i], measured[i], target);
      const bool standard = f < samples.size() &&
                            samples[f].type == SampleType::kStandard &&
                            t < samples[f].amounts.size() && samples[f].amounts[t];
      if (standard) standards.push_back(all[f]);
    }
    ident::TableReference table;
    table.rt = target.rt;
    for (const tables::Qualifier& q : target.qualifiers)
      table.qualifier_percent.push_back(q.expected_percent);
    const ident::IdentificationReference ref =
        ident::reference_from_standards(standards, table);
    for (std::size_t f = 0; f < n_files; ++f) {
      ResultRow& row = rows[f * n_targets + t];
      const ident::IdentificationResult r = ident::identify(all[f], ref, criteria);
      row.rt_reference = r.rt_reference;
      row.rt_shift = r.rt_shift;
      row.reference_ratios = ratio_text(target, r.reference_ratios);
      row.identified = r.identified ? tables::kIdentifiedYes : tables::kIdentifiedNo;
      row.identification_flags.assign(r.failed.begin(), r.failed.end());
    }
  }
}

void apply_identification(std::span<const ResultRow> rows, QuantOutcome& quant) {
  if (rows.size() != quant.rows.size()) return;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    QuantRow& q = quant.rows[i];
    const ResultRow& r = rows[i];
    if (q.file != r.file || q.target != r.target) continue;
    q.identified = r.identified;
    if (r.identified != tables::kIdentifiedNo) continue;
    q.concentration.reset();
    q.accuracy.reset();
    // A criterion the quantitation already flags (not_detected) is said once.
    for (const std::string& f : r.identification_flags) {
      if (std::find(q.flags.begin(), q.flags.end(), f) == q.flags.end()) q.flags.push_back(f);
    }
  }
}

}  // namespace vx::host::quant
