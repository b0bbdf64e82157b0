// Row formatting. Each cell is appended straight into the output buffer.
#include "results_table.hpp"

#include <array>

#include "cell_text.hpp"

namespace vx::host {
namespace {

constexpr std::array<std::string_view, 18> kColumns{
    "file",       "target",         "mz",           "rt",
    "status",     "spectra",        "trace_points", "max_intensity",
    "fit_status", "retention_time", "height",       "width",
    "area",       "baseline",       "r_squared",    "iterations",
    "flags",      "message"};

}  // namespace

bool row_processed(const ResultRow& row) { return row.status == kStatusOk; }

std::span<const std::string_view> table_columns() { return kColumns; }

void append_tsv_row(std::string& out, const ResultRow& r) {
  const auto tab = [&] { out += '\t'; };
  const auto opt = [&](const std::optional<double>& v) {
    tab();
    if (v) append_number(out, *v);
  };
  append_tsv_text(out, r.file);
  tab();
  append_tsv_text(out, r.target);
  tab();
  append_number(out, r.mz);
  tab();
  append_number(out, r.rt);
  tab();
  append_tsv_text(out, r.status);
  tab();
  if (r.spectra) append_unsigned(out, *r.spectra);
  tab();
  if (r.trace_points) append_unsigned(out, *r.trace_points);
  opt(r.max_intensity);
  tab();
  append_tsv_text(out, r.fit_status);
  opt(r.retention_time);
  opt(r.height);
  opt(r.width);
  opt(r.area);
  opt(r.baseline);
  opt(r.r_squared);
  tab();
  if (r.iterations) append_integer(out, *r.iterations);
  tab();
  for (std::size_t i = 0; i < r.flags.size(); ++i) {
    if (i > 0) out += ',';
    append_tsv_text(out, r.flags[i]);
  }
  tab();
  append_tsv_text(out, r.message);
  out += '\n';
}

std::string table_tsv(std::span<const ResultRow> rows) {
  std::string out;
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    if (i > 0) out += '\t';
    out += kColumns[i];
  }
  out += '\n';
  for (const ResultRow& r : rows) append_tsv_row(out, r);
  return out;
}

void append_jsonl_row(std::string& out, const ResultRow& r) {
  const auto key = [&](std::string_view k) {
    out += out.back() == '{' ? "\"" : ",\"";
    out += k;
    out += "\":";
  };
  out += '{';
  key("file");
  append_json_text(out, r.file);
  key("target");
  append_json_text(out, r.target);
  key("mz");
  append_json_number(out, r.mz);
  key("rt");
  append_json_number(out, r.rt);
  key("status");
  append_json_text(out, r.status);
  key("spectra");
  if (r.spectra)
    append_unsigned(out, *r.spectra);
  else
    out += "null";
  key("trace_points");
  if (r.trace_points)
    append_unsigned(out, *r.trace_points);
  else
    out += "null";
  key("max_intensity");
  append_json_number(out, r.max_intensity);
  key("fit_status");
  if (r.fit_status.empty())
    out += "null";
  else
    append_json_text(out, r.fit_status);
  key("retention_time");
  append_json_number(out, r.retention_time);
  key("height");
  append_json_number(out, r.height);
  key("width");
  append_json_number(out, r.width);
  key("area");
  append_json_number(out, r.area);
  key("baseline");
  append_json_number(out, r.baseline);
  key("r_squared");
  append_json_number(out, r.r_squared);
  key("iterations");
  if (r.iterations)
    append_integer(out, *r.iterations);
  else
    out += "null";
  key("flags");
  out += '[';
  for (std::size_t i = 0; i < r.flags.size(); ++i) {
    if (i > 0) out += ',';
    append_json_text(out, r.flags[i]);
  }
  out += ']';
  key("message");
  append_json_text(out, r.message);
  out += "}\n";
}

std::string table_jsonl(std::span<const ResultRow> rows) {
  std::string out;
  for (const ResultRow& r : rows) append_jsonl_row(out, r);
  return out;
}

}  // namespace vx::host
