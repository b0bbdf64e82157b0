#include "measurement_parts.hpp"

#include <cstddef>
#include <map>
#include <utility>

#include "cell_text.hpp"
#include "json_lite.hpp"
#include "table_text.hpp"

namespace vx::host::tables {

using base::JsonParse;
using base::JsonValue;
using base::RowWriter;
using base::parse_json;

namespace {

// The peak decision joins a line only when one was made, so parts of runs
// without it keep their bytes.
void add_decision(RowWriter& w, const IonFit& fit) {
  if (fit.detection.empty()) return;
  w.number("signal_to_noise", fit.signal_to_noise);
  w.text("detection", fit.detection);
}

// The fits as a JSON array, each an object written like a row.
std::string fits_json(std::span<const IonFit> fits) {
  std::string out = "[";
  for (const IonFit& fit : fits) {
    if (out.size() > 1) out += ',';
    RowWriter w(out, RowWriter::Format::kJsonl);
    w.text("fit_status", fit.fit_status);
    w.number("area", fit.area);
    w.number("retention_time", fit.retention_time);
    add_decision(w, fit);
    w.end();
    out.pop_back();  // the line end
  }
  return out + "]";
}

// A number member: absent and null read as no value, anything else but a
// number is damage.
bool read_number(const JsonValue& v, std::string_view key, std::optional<double>& out) {
  const JsonValue* m = v.find(key);
  if (m == nullptr || m->kind == JsonValue::Kind::kNull) return true;
  if (m->kind != JsonValue::Kind::kNumber) return false;
  out = m->number;
  return true;
}

// The optional peak decision of an ion.
bool read_decision(const JsonValue& v, IonFit& fit) {
  const JsonValue* d = v.find("detection");
  if (d == nullptr) return true;
  if (d->kind != JsonValue::Kind::kString) return false;
  fit.detection = d->text;
  return read_number(v, "signal_to_noise", fit.signal_to_noise);
}

struct Record {
  std::string file, target;
  std::vector<IonFit> fits;
  IonFit quantifier;  // only its peak decision
};

// One line as a record, or why it is not one.
std::string read_record(std::string_view line, Record& r) {
  const JsonParse parsed = parse_json(line);
  if (!parsed.value) return "not JSON (" + parsed.error + ")";
  const JsonValue& v = *parsed.value;
  const auto file = v.text_at("file");
  const auto target = v.text_at("target");
  const JsonValue* list = v.is_object() ? v.find("qualifiers") : nullptr;
  if (!file || !target || list == nullptr || list->kind != JsonValue::Kind::kArray)
    return "not a measurement (file, target and qualifiers are needed)";
  r.file = *file;
  r.target = *target;
  if (!read_decision(v, r.quantifier))
    return "a peak decision (detection, signal_to_noise) that is not text and a number";
  for (const JsonValue& item : list->items) {
    IonFit fit;
    const auto status = item.text_at("fit_status");
    if (!status || !read_number(item, "area", fit.area) ||
        !read_number(item, "retention_time", fit.retention_time) || !read_decision(item, fit))
      return "a qualifier without fit_status or with a value that is not a number";
    fit.fit_status = *status;
    r.fits.push_back(std::move(fit));
  }
  return {};
}

using Key = std::pair<std::string, std::string>;  // file, target

struct Found {
  std::vector<IonFit> fits;
  IonFit quantifier;
  std::size_t part = 0;
  bool used = false;
};

std::string read_part(const TablePart& part, std::size_t p, std::map<Key, Found>& found,
                      std::span<const TablePart> parts) {
  std::string_view rest = part.text;
  if (!rest.empty() && rest.back() != '\n')
    return "the last line is incomplete (no line end): the part was cut short";
  base::TextLines lines(rest);
  std::string_view line;
  std::size_t n = 0;
  while (lines.next(line, n)) {
    Record r;
    if (std::string e = read_record(line, r); !e.empty())
      return "line " + std::to_string(n) + ": " + e;
    const auto [it, added] =
        found.try_emplace({r.file, r.target},
                          Found{std::move(r.fits), std::move(r.quantifier), p, false});
    if (!added)
      return "line " + std::to_string(n) + ": " + r.file + " / " + r.target +
             " is also in " + parts[it->second.part].name;
  }
  return {};
}

}  // namespace

std::string measurements_jsonl(std::span<const ResultRow> rows,
                               std::span<const std::vector<IonFit>> qualifier_fits) {
  std::string out;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    RowWriter w(out, RowWriter::Format::kJsonl);
    w.text("file", rows[i].file);
    w.text("target", rows[i].target);
    const std::span<const IonFit> fits = i < qualifier_fits.size()
                                             ? std::span<const IonFit>(qualifier_fits[i])
                                             : std::span<const IonFit>();
    w.custom("qualifiers", "", fits_json(fits));
    IonFit quantifier;
    quantifier.signal_to_noise = rows[i].signal_to_noise;
    quantifier.detection = rows[i].detection;
    add_decision(w, quantifier);
    w.end();
  }
  return out;
}

QualifierJoin join_qualifiers(std::span<const ResultRow> rows,
                              std::span<const Target> targets,
                              std::span<const TablePart> parts) {
  QualifierJoin out;
  std::map<Key, Found> found;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    if (std::string e = read_part(parts[p], p, found, parts); !e.empty()) {
      out.error = parts[p].name + ": " + e;
      return out;
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto it = found.find({rows[i].file, rows[i].target});
    const std::size_t wanted =
        targets.empty() ? 0 : targets[i % targets.size()].qualifiers.size();
    std::string e;
    if (it == found.end())
      e = "no measurement part holds " + rows[i].file + " / " + rows[i].target;
    else if (!it->second.fits.empty() && it->second.fits.size() != wanted)
      e = parts[it->second.part].name + ": " + rows[i].file + " / " + rows[i].target +
          " has " + std::to_string(it->second.fits.size()) + " qualifiers, the target " +
          std::to_string(wanted);
    if (!e.empty()) {
      out.error = e;
      out.per_row.clear();
      out.quantifiers.clear();
      return out;
    }
    it->second.used = true;
    out.per_row.push_back(std::move(it->second.fits));
    out.quantifiers.push_back(std::move(it->second.quantifier));
  }
  for (const auto& [key, f] : found) {
    if (f.used) continue;
    out.error = parts[f.part].name + ": " + key.first + " / " + key.second +
                " is in no table part";
    out.per_row.clear();
    out.quantifiers.clear();
    return out;
  }
  return out;
}

std::string rows_follow_targets(std::span<const ResultRow> rows,
                                std::span<const Target> targets) {
  if (targets.empty() || rows.size() % targets.size() != 0)
    return "the parts hold " + std::to_string(rows.size()) + " rows, not " +
           std::to_string(targets.size()) + " per file";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Target& t = targets[i % targets.size()];
    const ResultRow& first = rows[i - i % targets.size()];
    if (rows[i].target != t.name || rows[i].file != first.file)
      return "the rows of " + first.file + " do not follow the targets table (" +
             rows[i].target + " where " + t.name + " was expected)";
  }
  return {};
}

}  // namespace vx::host::tables
