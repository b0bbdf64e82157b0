// Quant and calibration rows through RowWriter: each table's columns are
// written in one function, which also gives the TSV header.
#include "quant_tables.hpp"

#include "cell_text.hpp"

namespace vx::host::quant {

using base::RowWriter;
using base::append_json_number;
using base::append_number;

namespace {

using Format = RowWriter::Format;

void qualifier_cells(const QuantRow& r, std::string& tsv, std::string& json) {
  json = "[";
  for (std::size_t i = 0; i < r.qualifiers.size(); ++i) {
    const QualifierRatio& q = r.qualifiers[i];
    if (i > 0) {
      tsv += ';';
      json += ',';
    }
    append_number(tsv, q.mz);
    tsv += ':';
    if (q.observed) append_number(tsv, *q.observed);
    json += "{\"mz\":";
    append_json_number(json, q.mz);
    json += ",\"expected\":";
    append_json_number(json, q.expected);
    json += ",\"observed\":";
    append_json_number(json, q.observed);
    json += q.within ? ",\"within\":true}" : ",\"within\":false}";
  }
  json += ']';
}

void quant_row(std::string& out, Format format, const QuantRow& r) {
  RowWriter w(out, format);
  std::string tsv, json;
  qualifier_cells(r, tsv, json);
  w.text("file", r.file);
  w.text("sample_type", r.sample_type);
  w.text("target", r.target);
  w.text("istd", r.istd);
  w.number("retention_time", r.retention_time);
  w.number("area", r.area);
  w.number("istd_area", r.istd_area);
  w.number("response", r.response);
  w.number("concentration", r.concentration);
  w.number("nominal", r.nominal);
  w.number("accuracy", r.accuracy);
  w.text("calibration_status", r.calibration_status);
  w.custom("qualifiers", tsv, json);
  w.list("flags", r.flags);
  w.text("review", r.review);
  w.text("identified", r.identified);
  w.end();
}

void calibration_row(std::string& out, Format format, const Calibration& c,
                     const std::string& target, const CalibrationPoint* p) {
  RowWriter w(out, format);
  const bool ok = c.status == kCalOk;
  // A linear curve has no c2 to report; through the origin, c0 is a true 0.
  const bool used[] = {true, true, c.settings.model == CurveModel::kQuadratic};
  const auto coef = [&](std::size_t i) {
    return ok && used[i] ? std::optional(c.coef[i]) : std::nullopt;
  };
  w.text("target", target);
  w.text("model", model_name(c.settings.model));
  w.text("weighting", weighting_name(c.settings.weighting));
  w.flag("through_origin", c.settings.through_origin);
  w.text("status", c.status);
  w.number("c0", coef(0));
  w.number("c1", coef(1));
  w.number("c2", coef(2));
  w.number("r_squared", c.r_squared);
  w.count("levels", c.levels);
  w.count("points_used", c.points_used);
  w.number("min_amount", c.points_used > 0 ? std::optional(c.min_amount) : std::nullopt);
  w.number("max_amount", c.points_used > 0 ? std::optional(c.max_amount) : std::nullopt);
  w.text("file", p != nullptr ? std::string_view(p->file) : std::string_view());
  w.number("amount", p != nullptr ? std::optional(p->amount) : std::nullopt);
  w.number("response", p != nullptr ? p->response : std::nullopt);
  w.number("back_calculated", p != nullptr ? p->back_calculated : std::nullopt);
  w.number("accuracy", p != nullptr ? p->accuracy : std::nullopt);
  w.text("excluded", p != nullptr ? std::string_view(p->excluded) : std::string_view());
  w.text("message", c.message);
  w.number("lod", c.lod);
  w.number("loq", c.loq);
  w.end();
}

std::string quant_table(std::span<const QuantRow> rows, Format format) {
  std::string out;
  if (format != Format::kJsonl) quant_row(out, Format::kTsvHeader, QuantRow{});
  for (const QuantRow& r : rows) quant_row(out, format, r);
  return out;
}

std::string calibration_table(std::span<const Calibration> cals,
                              std::span<const std::string> names, Format format) {
  std::string out;
  if (format != Format::kJsonl) {
    calibration_row(out, Format::kTsvHeader, Calibration{}, {}, nullptr);
  }
  for (std::size_t t = 0; t < cals.size() && t < names.size(); ++t) {
    if (cals[t].points.empty()) calibration_row(out, format, cals[t], names[t], nullptr);
    for (const CalibrationPoint& p : cals[t].points)
      calibration_row(out, format, cals[t], names[t], &p);
  }
  return out;
}

}  // namespace

std::string quant_tsv(std::span<const QuantRow> rows) {
  return quant_table(rows, Format::kTsv);
}
std::string quant_jsonl(std::span<const QuantRow> rows) {
  return quant_table(rows, Format::kJsonl);
}
std::string calibration_tsv(std::span<const Calibration> cals,
                            std::span<const std::string> target_names) {
  return calibration_table(cals, target_names, Format::kTsv);
}
std::string calibration_jsonl(std::span<const Calibration> cals,
                              std::span<const std::string> target_names) {
  return calibration_table(cals, target_names, Format::kJsonl);
}

}  // namespace vx::host::quant
