// Quantitation. Responses are worked out once per file and target, the
// curves from the standards' responses, then every row from both. A value
// that cannot be computed stays absent and a flag says why; no NaN is ever
// handed on as a concentration.
#include "quantitation.hpp"

#include <cmath>

#include "review.hpp"
#include "peak_decisions.hpp"

namespace vx::host::quant {

using tables::kFitSuccess;
using tables::IonFit;
using tables::Measurement;
using tables::SampleEntry;
using tables::SampleType;
using tables::Target;
using tables::sample_type_name;

namespace {

struct Response {
  std::optional<double> value;
  std::optional<double> istd_area;
  std::string why;  // when value is absent
  bool istd_failed = false;
  bool not_measured = false;  // the fit counts but lacks the chosen value
};

std::optional<std::size_t> index_of(std::span<const Target> targets, std::string_view name) {
  for (std::size_t i = 0; i < targets.size(); ++i)
    if (targets[i].name == name) return i;
  return std::nullopt;
}

bool not_detected(const IonFit& f) { return f.detection == peaks::kNotDetected; }

// A peak integrated by hand answers with the analyst's area whatever the
// response source: that integration is the reason the row was reviewed, and
// it stands even where the fit had failed.
std::optional<double> reviewed_response(const Measurement& m, ResponseSource source) {
  const auto& manual = m.quantifier.integrated_area;
  if (m.review == tables::kReviewIntegrate && manual && std::isfinite(*manual)) return manual;
  return measured_response(m.quantifier, source);
}

Response response_of(const Measurement& m, const Measurement* istd, ResponseSource source) {
  Response r;
  const auto own = reviewed_response(m, source);
  if (!own) {
    r.not_measured = fit_usable(m.quantifier);
    r.why = not_detected(m.quantifier) ? "peak not detected"
            : r.not_measured ? "no " + std::string(response_source_name(source))
                             : "peak fit failed (" + m.quantifier.fit_status + ")";
    return r;
  }
  if (istd == nullptr) {
    r.value = own;
    return r;
  }
  const auto reference = reviewed_response(*istd, source);
  if (!reference || !(*reference > 0.0)) {
    r.why = "internal standard fit failed (" + istd->quantifier.fit_status +
            (not_detected(istd->quantifier) ? ", not detected)" : ")");
    r.istd_failed = true;
    return r;
  }
  r.istd_area = reference;
  r.value = *own / *reference;
  return r;
}

// The response a blank may reach: a share of the lowest level's mean response.
std::optional<double> blank_limit(const Calibration& cal, double percent) {
  if (cal.status != kCalOk) return std::nullopt;
  double sum = 0.0;
  std::size_t n = 0;
  for (const CalibrationPoint& p : cal.points) {
    if (!p.excluded.empty() || p.amount != cal.min_amount) continue;
    sum += *p.response;
    ++n;
  }
  if (n == 0) return std::nullopt;
  return percent / 100.0 * sum / static_cast<double>(n);
}

void add_qualifiers(const Target& target, const Measurement& m, QuantRow& row) {
  bool failed = false, outside = false;
  for (std::size_t q = 0; q < target.qualifiers.size(); ++q) {
    QualifierRatio r{target.qualifiers[q].mz, target.qualifiers[q].expected_percent, {}, false};
    const IonFit* fit = q < m.qualifiers.size() ? &m.qualifiers[q] : nullptr;
    if (fit_usable(m.quantifier) && *m.quantifier.area != 0.0 && fit != nullptr &&
        fit_usable(*fit)) {
      r.observed = *fit->area / *m.quantifier.area * 100.0;
      r.within = std::fabs(*r.observed - r.expected) <= r.expected * target.qualifier_tol / 100.0;
      outside = outside || !r.within;
    } else {
      failed = failed || fit_usable(m.quantifier);
    }
    row.qualifiers.push_back(r);
  }
  if (outside) row.flags.emplace_back(kFlagQualifierRatio);
  if (failed) row.flags.emplace_back(kFlagQualifierFailed);
}

bool serves_as_istd(std::span<const Target> targets, std::size_t t) {
  for (const Target& other : targets)
    if (other.istd == targets[t].name) return true;
  return false;
}

void add_concentration(const Calibration& cal, const SampleEntry& sample, QuantRow& row) {
  if (cal.status == kCalInternalStandard) return;
  if (cal.status != kCalOk) {
    row.flags.emplace_back(kFlagNoCalibration);
    return;
  }
  if (!row.response) return;
  row.concentration = amount_for_response(cal, *row.response);
  if (!row.concentration) {
    row.flags.emplace_back(kFlagOutsideCurve);
    return;
  }
  if (row.nominal) row.accuracy = *row.concentration / *row.nominal * 100.0;
  // Standards make the curve; the range is a question for everything else.
  if (sample.type == SampleType::kStandard) return;
  if (*row.concentration < cal.min_amount) row.flags.emplace_back(kFlagBelowRange);
  if (*row.concentration > cal.max_amount) row.flags.emplace_back(kFlagAboveRange);
  if (cal.loq && *row.concentration < *cal.loq) row.flags.emplace_back(kFlagBelowLoq);
}

}  // namespace

bool fit_usable(const IonFit& f) {
  return f.fit_status == kFitSuccess && f.area && std::isfinite(*f.area) && !not_detected(f);
}

std::optional<double> measured_response(const IonFit& f, ResponseSource source) {
  if (!fit_usable(f)) return std::nullopt;
  std::optional<double> v = f.area;
  if (source == ResponseSource::kIntegratedArea) v = f.integrated_area;
  if (source == ResponseSource::kHeight) v = f.height;
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

std::string_view response_source_name(ResponseSource r) {
  switch (r) {
    case ResponseSource::kIntegratedArea:
      return kResponseIntegratedArea;
    case ResponseSource::kHeight:
      return kResponseHeight;
    case ResponseSource::kArea:
      break;
  }
  return kResponseArea;
}

std::optional<ResponseSource> parse_response_source(std::string_view s) {
  for (const ResponseSource r :
       {ResponseSource::kArea, ResponseSource::kIntegratedArea, ResponseSource::kHeight}) {
    if (s == response_source_name(r)) return r;
  }
  return std::nullopt;
}

namespace {

// The row of one file and target; blank_over says whether a blank of the
// batch was over the limit for this target (a sample or QC is flagged then).
QuantRow quant_row(const Target& target, std::size_t t, const SampleEntry& s,
                   const Measurement& m, const Response& r, const Calibration& cal,
                   bool blank_over, double blank_threshold_percent) {
  QuantRow row;
  row.file = s.file;
  row.sample_type = sample_type_name(s.type);
  row.target = target.name;
  row.istd = target.istd;
  row.retention_time = m.quantifier.retention_time;
  if (fit_usable(m.quantifier)) row.area = m.quantifier.area;
  row.istd_area = r.istd_area;
  row.response = r.value;
  if (t < s.amounts.size()) row.nominal = s.amounts[t];
  row.calibration_status = cal.status;
  row.review = m.review;
  const IonFit& q = m.quantifier;
  const bool fitted = q.fit_status == kFitSuccess && q.area && std::isfinite(*q.area);
  if (m.review == tables::kReviewReject)
    row.flags.emplace_back(kFlagRejected);
  else if (!fitted)
    row.flags.emplace_back(kFlagFitFailed);
  if (not_detected(m.quantifier)) row.flags.emplace_back(kFlagNotDetected);
  if (r.istd_failed) row.flags.emplace_back(kFlagIstdFailed);
  if (r.not_measured) row.flags.emplace_back(kFlagResponseNotMeasured);
  add_concentration(cal, s, row);
  add_qualifiers(target, m, row);
  const auto limit = blank_limit(cal, blank_threshold_percent);
  const bool blank_high = s.type == SampleType::kBlank && r.value && limit && *r.value > *limit;
  const bool checked = s.type == SampleType::kSample || s.type == SampleType::kQc;
  if (blank_high || (checked && blank_over)) row.flags.emplace_back(kFlagBlank);
  return row;
}

// An internal standard's area in each file against the mean of its areas in
// the standards: a file outside the limits (a missed injection, a matrix
// effect) is flagged on the standard's row and on every row it is the
// response of, since their concentrations move with it.
void flag_istd_range(std::span<const Target> targets, std::span<const SampleEntry> samples,
                     std::span<const Measurement> measured, const QuantSettings& settings,
                     std::vector<QuantRow>& rows) {
  const std::size_t nt = targets.size();
  const std::size_t nf = samples.size();
  for (std::size_t i = 0; i < nt; ++i) {
    if (!serves_as_istd(targets, i)) continue;
    double sum = 0.0;
    std::size_t n = 0;
    for (std::size_t f = 0; f < nf; ++f) {
      const IonFit& q = measured[f * nt + i].quantifier;
      if (samples[f].type != SampleType::kStandard || !fit_usable(q)) continue;
      sum += *q.area;
      ++n;
    }
    if (n == 0 || !(sum > 0.0)) continue;
    const double mean = sum / static_cast<double>(n);
    for (std::size_t f = 0; f < nf; ++f) {
      const IonFit& q = measured[f * nt + i].quantifier;
      if (!fit_usable(q)) continue;  // already flagged as failed
      const double pct = *q.area / mean * 100.0;
      if (pct >= settings.istd_low_percent && pct <= settings.istd_high_percent) continue;
      for (std::size_t t = 0; t < nt; ++t) {
        if (t == i || targets[t].istd == targets[i].name)
          rows[f * nt + t].flags.emplace_back(kFlagIstdOutOfRange);
      }
    }
  }
}

}  // namespace

QuantOutcome quantitate(std::span<const Target> targets,
                        std::span<const SampleEntry> samples,
                        std::span<const Measurement> measured, const QuantSettings& settings) {
  const std::size_t nt = targets.size();
  const std::size_t nf = samples.size();
  QuantOutcome out;
  if (measured.size() != nf * nt) return out;
  std::vector<Response> responses(nf * nt);
  for (std::size_t t = 0; t < nt; ++t) {
    const auto istd = targets[t].istd.empty() ? std::nullopt : index_of(targets, targets[t].istd);
    for (std::size_t f = 0; f < nf; ++f) {
      responses[f * nt + t] =
          response_of(measured[f * nt + t], istd ? &measured[f * nt + *istd] : nullptr,
                      settings.response);
    }
  }
  std::vector<bool> blank_over(nt, false);
  for (std::size_t t = 0; t < nt; ++t) {
    std::vector<CalibrationPoint> points;
    for (std::size_t f = 0; f < nf; ++f) {
      const SampleEntry& s = samples[f];
      if (s.type != SampleType::kStandard || t >= s.amounts.size() || !s.amounts[t]) continue;
      const Response& r = responses[f * nt + t];
      points.push_back({s.file, *s.amounts[t], r.value, r.value ? "" : r.why, {}, {}});
    }
    out.calibrations.push_back(fit_calibration(std::move(points), settings.calibration));
    if (out.calibrations.back().points.empty() && serves_as_istd(targets, t)) {
      out.calibrations.back().status = kCalInternalStandard;
      out.calibrations.back().message = "internal standard: not calibrated";
    }
    const auto limit = blank_limit(out.calibrations.back(), settings.blank_threshold_percent);
    for (std::size_t f = 0; f < nf && limit; ++f) {
      const auto& v = responses[f * nt + t].value;
      if (samples[f].type == SampleType::kBlank && v && *v > *limit) blank_over[t] = true;
    }
  }
  for (std::size_t f = 0; f < nf; ++f) {
    const SampleEntry& s = samples[f];
    for (std::size_t t = 0; t < nt; ++t) {
      out.rows.push_back(quant_row(targets[t], t, s, measured[f * nt + t],
                                   responses[f * nt + t], out.calibrations[t],
                                   blank_over[t], settings.blank_threshold_percent));
    }
  }
  flag_istd_range(targets, samples, measured, settings, out.rows);
  return out;
}

}  // namespace vx::host::quant
