// The results table: one row per file and target, written as TSV (the main
// table) or JSON Lines. Rows carry the outcome of the whole chain: why a file
// could not be used, or what the trace and the fit found, with every
// diagnostics flag that was raised. Cells are written locale-free; numbers
// with the shortest text that reads back to the same double.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host {

// Values of the status column. A file is processed when its rows say kOk.
inline constexpr std::string_view kStatusOk = "ok";
inline constexpr std::string_view kStatusNoSpectra = "no_spectra";
inline constexpr std::string_view kStatusStepFailed = "step_failed";
inline constexpr std::string_view kStatusNoMzmlFiles = "no_mzml_files";
// Otherwise the status is the ingestion diagnostics flag without its prefix:
// "file_not_found", "unsupported_encoding", "malformed_number", ...

struct ResultRow {
  std::string file;
  std::string target;
  double mz = 0.0;
  double rt = 0.0;
  std::string status;
  std::optional<uint64_t> spectra;
  std::optional<uint64_t> trace_points;
  std::optional<double> max_intensity;
  std::string fit_status;  // empty when the fit did not run
  std::optional<double> retention_time;
  std::optional<double> height;
  std::optional<double> width;
  std::optional<double> area;
  std::optional<double> baseline;
  std::optional<double> r_squared;
  std::optional<int64_t> iterations;
  std::vector<std::string> flags;  // diagnostics keys that were true
  std::string message;             // why, for people, when status is not ok
};

bool row_processed(const ResultRow& row);

// Column names of the TSV header, in order.
std::span<const std::string_view> table_columns();

// The header line and one line per row, each ending in "\n". Tab, line feed,
// carriage return and backslash inside a cell are written \t, \n, \r, \\ so
// that every row stays one line; flags are joined with ",".
std::string table_tsv(std::span<const ResultRow> rows);
void append_tsv_row(std::string& out, const ResultRow& row);

// One JSON object per line with the same fields (absent and non-finite
// numbers are null, flags an array of strings).
std::string table_jsonl(std::span<const ResultRow> rows);
void append_jsonl_row(std::string& out, const ResultRow& row);

}  // namespace vx::host
