// Rows are parsed cell by cell and written again by the table writer, so a
// merged table can only hold what vxrun itself would write: numbers are the
// shortest texts, which read back to the same doubles and format to the same
// bytes.
#include "table_merge.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "number_text.hpp"

namespace vx::host {
namespace {

constexpr std::size_t kCells = 18;

// Undoes the table's escapes (\t \n \r \\); any other backslash is damage.
std::optional<std::string> unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    switch (s[i]) {
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case '\\':
        out += '\\';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

template <typename T>
bool read_whole_integer(std::string_view s, std::optional<T>& out) {
  if (s.empty()) return true;
  T v{};
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) return false;
  out = v;
  return true;
}

bool read_optional_number(std::string_view s, std::optional<double>& out) {
  if (s.empty()) return true;
  out = parse_double(s);
  return out.has_value();
}

bool read_text(std::string_view s, std::string& out) {
  auto v = unescape(s);
  if (v) out = std::move(*v);
  return v.has_value();
}

bool read_flags(std::string_view s, std::vector<std::string>& out) {
  while (!s.empty()) {
    const std::size_t comma = std::min(s.find(','), s.size());
    std::string flag;
    if (!read_text(s.substr(0, comma), flag) || flag.empty()) return false;
    out.push_back(std::move(flag));
    s.remove_prefix(std::min(comma + 1, s.size()));
  }
  return true;
}

// One data line; on failure the name of the first cell that cannot be read,
// or an empty name when the line does not have the table's cells.
std::optional<std::string_view> read_row(std::string_view line, ResultRow& r) {
  std::array<std::string_view, kCells> c;
  std::size_t n = 0;
  for (std::size_t start = 0;; ++n) {
    const std::size_t tab = line.find('\t', start);
    if (n == kCells) return "";
    c[n] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (n + 1 != kCells) return "";
  const std::optional<double> mz = parse_double(c[2]);
  const std::optional<double> rt = parse_double(c[3]);
  const auto& cols = table_columns();
  if (!read_text(c[0], r.file) || r.file.empty()) return cols[0];
  if (!read_text(c[1], r.target)) return cols[1];
  if (!mz) return cols[2];
  if (!rt) return cols[3];
  r.mz = *mz;
  r.rt = *rt;
  if (!read_text(c[4], r.status) || r.status.empty()) return cols[4];
  if (!read_whole_integer(c[5], r.spectra)) return cols[5];
  if (!read_whole_integer(c[6], r.trace_points)) return cols[6];
  if (!read_optional_number(c[7], r.max_intensity)) return cols[7];
  if (!read_text(c[8], r.fit_status)) return cols[8];
  std::optional<double>* fit[] = {&r.retention_time, &r.height,   &r.width,
                                  &r.area,           &r.baseline, &r.r_squared};
  for (std::size_t i = 0; i < std::size(fit); ++i) {
    if (!read_optional_number(c[9 + i], *fit[i])) return cols[9 + i];
  }
  if (!read_whole_integer(c[15], r.iterations)) return cols[15];
  if (!read_flags(c[16], r.flags)) return cols[16];
  if (!read_text(c[17], r.message)) return cols[17];
  return std::nullopt;
}

std::string header_line() {
  std::string out;
  for (const std::string_view name : table_columns()) {
    if (!out.empty()) out += '\t';
    out += name;
  }
  return out;
}

}  // namespace

TableRead read_tsv_table(std::string_view text) {
  TableRead out;
  if (text.empty()) {
    out.error = "empty: no header line";
    return out;
  }
  if (text.back() != '\n') {
    // The writer ends every line; a missing one means the file was cut short.
    out.error = "the last line is incomplete (no line end): the table was cut short";
    return out;
  }
  const std::size_t header_end = text.find('\n');
  if (text.substr(0, header_end) != header_line()) {
    out.error = "line 1: not the header of a vxrun results table";
    return out;
  }
  std::size_t line_no = 1;
  for (std::size_t pos = header_end + 1; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    ++line_no;
    ResultRow row;
    if (const auto bad = read_row(text.substr(pos, end - pos), row)) {
      out.rows.clear();
      out.error = "line " + std::to_string(line_no) + ": " +
                  (bad->empty() ? "not " + std::to_string(kCells) + " cells"
                                : "unreadable " + std::string(*bad));
      return out;
    }
    out.rows.push_back(std::move(row));
    pos = end + 1;
  }
  return out;
}

MergeOutcome merge_tables(std::span<const TablePart> parts) {
  MergeOutcome out;
  std::unordered_map<std::string, std::size_t> part_of_file;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    TableRead read = read_tsv_table(parts[p].text);
    if (read.error.empty()) {
      for (const ResultRow& row : read.rows) {
        const auto [it, added] = part_of_file.emplace(row.file, p);
        if (added || it->second == p) continue;
        read.error = "the file " + row.file + " is also in " + parts[it->second].name;
        break;
      }
    }
    if (!read.error.empty()) {
      out.error = parts[p].name + ": " + read.error;
      out.rows.clear();
      return out;
    }
    std::move(read.rows.begin(), read.rows.end(), std::back_inserter(out.rows));
  }
  // The batch sorts its files by path and keeps each file's rows in target
  // order; a stable sort by file gives that order back.
  std::stable_sort(out.rows.begin(), out.rows.end(),
                   [](const ResultRow& a, const ResultRow& b) { return a.file < b.file; });
  for (std::size_t i = 0; i < out.rows.size();) {
    bool failed = false;
    std::size_t j = i;
    for (; j < out.rows.size() && out.rows[j].file == out.rows[i].file; ++j)
      failed = failed || !row_processed(out.rows[j]);
    out.files_failed += failed ? 1 : 0;
    i = j;
  }
  return out;
}

}  // namespace vx::host
