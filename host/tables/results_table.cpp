// Row formatting and reading. Each cell is appended straight into the output
// buffer; the column table below is the only place that lists the columns.
#include "results_table.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <type_traits>

#include "cell_text.hpp"
#include "json_lite.hpp"
#include "number_text.hpp"
#include "table_text.hpp"

namespace vx::host::tables {

using base::RowWriter;
using base::Escape;
using base::JsonMember;
using base::JsonParse;
using base::JsonValue;
using base::append_integer;
using base::append_json_text;
using base::append_number;
using base::append_tsv_text;
using base::kTsvEscapes;
using base::tsv_unescape;
using base::parse_double;
using base::parse_json;

namespace {

// The order here is the order of the TSV columns and of the JSON members.
// The array is sized by its entries: a new column is one more line here.
constexpr auto kColumns = std::to_array<Column>({
    {"file", &ResultRow::file},
    {"target", &ResultRow::target},
    {"mz", &ResultRow::mz},
    {"rt", &ResultRow::rt},
    {"status", &ResultRow::status},
    {"spectra", &ResultRow::spectra},
    {"trace_points", &ResultRow::trace_points},
    {"max_intensity", &ResultRow::max_intensity},
    {"fit_status", &ResultRow::fit_status, true},
    {"retention_time", &ResultRow::retention_time},
    {"height", &ResultRow::height},
    {"width", &ResultRow::width},
    {"area", &ResultRow::area},
    {"baseline", &ResultRow::baseline},
    {"r_squared", &ResultRow::r_squared},
    {"iterations", &ResultRow::iterations},
    {"flags", &ResultRow::flags},
    {"message", &ResultRow::message},
    {"review", &ResultRow::review, true, true},
    {"review_digest", &ResultRow::review_digest, true, true},
    {"signal_to_noise", &ResultRow::signal_to_noise, false, true},
    {"detection", &ResultRow::detection, true, true},
    {"integrated_area", &ResultRow::integrated_area, false, true},
    {"peak_start", &ResultRow::peak_start, false, true},
    {"peak_end", &ResultRow::peak_end, false, true},
    {"asymmetry", &ResultRow::asymmetry, false, true},
    {"component_area", &ResultRow::component_area, false, true},
    {"rt_reference", &ResultRow::rt_reference, false, true},
    {"rt_shift", &ResultRow::rt_shift, false, true},
    {"reference_ratios", &ResultRow::reference_ratios, false, true},
    {"identified", &ResultRow::identified, false, true},
    {"identification_flags", &ResultRow::identification_flags, false, true},
    {"retention_index", &ResultRow::retention_index, false, true},
    {"match_score", &ResultRow::match_score, false, true},
    {"reverse_match", &ResultRow::reverse_match, false, true},
});

// The fewest columns a table may have: every column before the first one
// added later.
constexpr std::size_t kFirstAddedLater = [] {
  for (std::size_t i = 0; i < kColumns.size(); ++i)
    if (kColumns[i].added_later) return i;
  return kColumns.size();
}();

constexpr auto kColumnNames = [] {
  std::array<std::string_view, kColumns.size()> names{};
  for (std::size_t i = 0; i < kColumns.size(); ++i) names[i] = kColumns[i].name;
  return names;
}();

// ---- writing -------------------------------------------------------------

// One RowWriter call per member type: the same calls give the header, a TSV
// row or a JSON object.
void write_value(RowWriter& w, const Column& c, const std::string& v) {
  if (c.empty_is_null && v.empty()) {
    w.custom(c.name, "", "null");
  } else {
    w.text(c.name, v);
  }
}
void write_value(RowWriter& w, const Column& c, double v) { w.number(c.name, v); }
void write_value(RowWriter& w, const Column& c, const std::optional<double>& v) {
  w.number(c.name, v);
}
void write_value(RowWriter& w, const Column& c, const std::optional<uint64_t>& v) {
  w.count(c.name, v);
}
void write_value(RowWriter& w, const Column& c, const std::optional<int64_t>& v) {
  w.integer(c.name, v);
}
void write_value(RowWriter& w, const Column& c, const std::vector<std::string>& v) {
  w.list(c.name, v);
}

void write_row(std::string& out, RowWriter::Format format, const ResultRow& r) {
  RowWriter w(out, format);
  for (const Column& c : kColumns)
    std::visit([&](auto member) { write_value(w, c, r.*member); }, c.field);
  w.end();
}

// ---- reading -------------------------------------------------------------

template <typename T>
std::optional<T> whole_number(std::string_view text) {
  T v{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// One reader per member type; false when the cell cannot be that value.
bool tsv_read(std::string_view cell, std::string& v) { return tsv_unescape(cell, v); }
bool tsv_read(std::string_view cell, double& v) {
  const auto d = parse_double(cell);
  if (d) v = *d;
  return d.has_value();
}
bool tsv_read(std::string_view cell, std::optional<double>& v) {
  if (cell.empty()) return true;
  v = parse_double(cell);
  return v.has_value();
}
template <typename T>
bool tsv_read(std::string_view cell, std::optional<T>& v) {
  if (cell.empty()) return true;
  v = whole_number<T>(cell);
  return v.has_value();
}
bool tsv_read(std::string_view cell, std::vector<std::string>& v) {
  while (!cell.empty()) {
    const std::size_t comma = std::min(cell.find(','), cell.size());
    if (!tsv_unescape(cell.substr(0, comma), v.emplace_back())) return false;
    cell.remove_prefix(std::min(comma + 1, cell.size()));
  }
  return true;
}

using Kind = JsonValue::Kind;

bool json_read(const JsonValue& j, std::string& v) {
  if (j.kind == Kind::kNull) return true;
  v = j.text;
  return j.kind == Kind::kString;
}
bool json_read(const JsonValue& j, double& v) {
  v = j.kind == Kind::kNull ? NAN : j.number;
  return j.kind == Kind::kNull || j.kind == Kind::kNumber;
}
bool json_read(const JsonValue& j, std::optional<double>& v) {
  if (j.kind == Kind::kNumber) v = j.number;
  return j.kind == Kind::kNull || j.kind == Kind::kNumber;
}
template <typename T>
bool json_read(const JsonValue& j, std::optional<T>& v) {
  if (j.kind == Kind::kNull) return true;
  // Exactly representable whole numbers in T's range only: 2.5 or 1e30 in a
  // count column is not a count.
  constexpr double kLow = std::is_signed_v<T> ? -0x1p63 : 0.0;
  constexpr double kHigh = std::is_signed_v<T> ? 0x1p63 : 0x1p64;
  if (j.kind != Kind::kNumber || j.number != std::trunc(j.number) || j.number < kLow ||
      j.number >= kHigh) {
    return false;
  }
  v = static_cast<T>(j.number);
  return true;
}
bool json_read(const JsonValue& j, std::vector<std::string>& v) {
  if (j.kind != Kind::kArray) return false;
  for (const JsonValue& item : j.items) {
    if (item.kind != Kind::kString) return false;
    v.push_back(item.text);
  }
  return true;
}

// Calls read(line, line_number) for each non-empty line, without its CR.
template <typename Read>
void for_each_line(std::string_view text, Read&& read) {
  base::TextLines lines(text);
  std::string_view line;
  std::size_t number = 0;
  while (lines.next(line, number)) {
    if (!line.empty() && !read(line, number)) return;
  }
}

template <typename ReadRow>
void read_rows(std::string_view line, std::size_t number, TableRead& out,
               ReadRow read_row) {
  std::string error;
  if (auto row = read_row(line, &error)) {
    out.rows.push_back(std::move(*row));
  } else {
    out.errors.push_back("line " + std::to_string(number) + ": " + error);
  }
}

// How many columns a header line names when it is this version's header or
// an older one (a prefix ending at a column boundary no earlier than the
// first added_later column); 0 when it is neither.
std::size_t older_header_columns(std::string_view header, std::string_view line) {
  if (line == header) return kColumns.size();
  if (!header.starts_with(line) || header[line.size()] != '\t') return 0;
  const auto n = static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
  return n >= kFirstAddedLater ? n : 0;
}

}  // namespace

bool row_processed(const ResultRow& row) { return row.status == kStatusOk; }

std::span<const Column> result_columns() { return kColumns; }

std::span<const std::string_view> table_columns() { return kColumnNames; }

void append_tsv_header(std::string& out) {
  write_row(out, RowWriter::Format::kTsvHeader, ResultRow{});
}

void append_tsv_row(std::string& out, const ResultRow& r) {
  write_row(out, RowWriter::Format::kTsv, r);
}

std::string table_tsv(std::span<const ResultRow> rows) {
  std::string out;
  append_tsv_header(out);
  for (const ResultRow& r : rows) append_tsv_row(out, r);
  return out;
}

void append_jsonl_row(std::string& out, const ResultRow& r) {
  write_row(out, RowWriter::Format::kJsonl, r);
}

std::string table_jsonl(std::span<const ResultRow> rows) {
  std::string out;
  for (const ResultRow& r : rows) append_jsonl_row(out, r);
  return out;
}

namespace {

// A row of a table whose header has `columns` columns.
std::optional<ResultRow> read_tsv_cells(std::string_view line, std::size_t columns,
                                        std::string* error) {
  const auto cells =
      static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
  if (cells != columns) {
    *error = "expected " + std::to_string(columns) + " tab-separated cells, found " +
             std::to_string(cells);
    return std::nullopt;
  }
  ResultRow row;
  for (std::size_t i = 0; i < columns; ++i) {
    const std::size_t tab = std::min(line.find('\t'), line.size());
    const std::string_view cell = line.substr(0, tab);
    line.remove_prefix(std::min(tab + 1, line.size()));
    if (!std::visit([&](auto member) { return tsv_read(cell, row.*member); },
                    kColumns[i].field)) {
      *error = "column " + std::string(kColumns[i].name) + ": unreadable cell '" +
               std::string(cell) + "'";
      return std::nullopt;
    }
  }
  return row;
}

}  // namespace

std::optional<ResultRow> read_tsv_row(std::string_view line, std::string* error) {
  return read_tsv_cells(line, kColumns.size(), error);
}

std::optional<ResultRow> read_jsonl_row(std::string_view line, std::string* error) {
  const JsonParse p = parse_json(line);
  if (!p.value || !p.value->is_object()) {
    *error = p.error.empty() ? "not a JSON object" : p.error;
    return std::nullopt;
  }
  for (const JsonMember& m : p.value->members) {
    const bool known =
        std::find(kColumnNames.begin(), kColumnNames.end(), m.key) != kColumnNames.end();
    if (!known) {
      *error = "unknown member '" + m.key + "'";
      return std::nullopt;
    }
  }
  ResultRow row;
  for (const Column& c : kColumns) {
    const JsonValue* v = p.value->find(c.name);
    if (v == nullptr && c.added_later) continue;
    if (v == nullptr) {
      *error = "member " + std::string(c.name) + " is missing";
      return std::nullopt;
    }
    if (!std::visit([&](auto member) { return json_read(*v, row.*member); }, c.field)) {
      *error = "member " + std::string(c.name) + " has a value of the wrong kind";
      return std::nullopt;
    }
  }
  return row;
}

TableRead read_tsv_table(std::string_view text) {
  TableRead out;
  std::string header;
  append_tsv_header(header);
  header.pop_back();
  std::size_t columns = 0;
  bool seen_header = false;
  for_each_line(text, [&](std::string_view line, std::size_t number) {
    if (!seen_header) {
      seen_header = true;
      columns = older_header_columns(header, line);
      if (columns != 0) return true;
      std::string names;
      for (const std::string_view n : kColumnNames) {
        if (!names.empty()) names += ' ';
        names += n;
      }
      out.errors.push_back("line " + std::to_string(number) +
                           ": not the results table's header (expected the columns " +
                           names + ")");
      return false;
    }
    read_rows(line, number, out, [columns](std::string_view l, std::string* e) {
      return read_tsv_cells(l, columns, e);
    });
    return true;
  });
  if (!seen_header) out.errors.emplace_back("line 1: no header line");
  return out;
}

TableRead read_jsonl_table(std::string_view text) {
  TableRead out;
  for_each_line(text, [&](std::string_view line, std::size_t number) {
    read_rows(line, number, out, read_jsonl_row);
    return true;
  });
  return out;
}

}  // namespace vx::host::tables
