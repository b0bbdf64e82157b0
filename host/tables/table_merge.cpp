// Rows are read through the results table's own reader and written again by
// its writer, so a merged table can only hold what vxrun itself writes:
// numbers are the shortest texts, which read back to the same doubles and
// format to the same bytes.
#include "table_merge.hpp"

#include <algorithm>
#include <iterator>
#include <unordered_map>

namespace vx::host::tables {
namespace {

// The part's rows, or why it cannot be merged.
std::string read_part(std::string_view text, std::vector<ResultRow>& rows) {
  // The writer ends every line; a missing line end means the part was cut
  // short, even when what is left of the last line still reads as a row.
  if (!text.empty() && text.back() != '\n')
    return "the last line is incomplete (no line end): the table was cut short";
  TableRead read = read_tsv_table(text);
  if (!read.errors.empty()) return read.errors.front();
  rows = std::move(read.rows);
  return {};
}

}  // namespace

MergeOutcome merge_tables(std::span<const TablePart> parts) {
  MergeOutcome out;
  std::unordered_map<std::string, std::size_t> part_of_file;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    std::vector<ResultRow> rows;
    std::string error = read_part(parts[p].text, rows);
    for (const ResultRow& row : rows) {
      if (!error.empty()) break;
      const auto [it, added] = part_of_file.emplace(row.file, p);
      if (!added && it->second != p)
        error = "the file " + row.file + " is also in " + parts[it->second].name;
    }
    if (!error.empty()) {
      out.error = parts[p].name + ": " + error;
      out.rows.clear();
      return out;
    }
    std::move(rows.begin(), rows.end(), std::back_inserter(out.rows));
  }
  // The batch sorts its files by path and keeps each file's rows in target
  // order; a stable sort by file gives that order back.
  std::stable_sort(
      out.rows.begin(), out.rows.end(),
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

}  // namespace vx::host::tables
