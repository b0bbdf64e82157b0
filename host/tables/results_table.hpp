// Layer host/tables (vx_host_tables): the tables the host reads and writes
// (targets, sample lists, results, merges, measurement parts) and the status
// texts of a row. May use: base (and formats, peaks, ident when they exist).
//
// The results table: one row per file and target, written as TSV (the main
// table) or JSON Lines, and read back from either. Rows carry the outcome of
// the whole chain: why a file could not be used, or what the trace and the
// fit found, with every diagnostics flag that was raised. Cells are written
// locale-free; numbers with the shortest text that reads back to the same
// double.
//
// One table of columns (result_columns) drives the TSV header, the TSV
// cells, the JSON Lines members and both readers: a new column is one field
// in ResultRow and one entry in that table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vx::host::tables {

// Values of the status column. A file is processed when its rows say kOk.
inline constexpr std::string_view kStatusOk = "ok";
inline constexpr std::string_view kStatusNoSpectra = "no_spectra";
inline constexpr std::string_view kStatusStepFailed = "step_failed";
inline constexpr std::string_view kStatusNoMzmlFiles = "no_mzml_files";
// Otherwise the status is the ingestion diagnostics flag without its prefix:
// "file_not_found", "unsupported_encoding", "malformed_number", ...
// Those the host itself acts on or writes for a netCDF (ANDI-MS) input:
inline constexpr std::string_view kStatusFileNotFound = "file_not_found";
inline constexpr std::string_view kStatusUnsupportedEncoding = "unsupported_encoding";
// Shorter than its own header or index says: never read as far as it went.
inline constexpr std::string_view kStatusIncompleteFile = "incomplete_file";
// 0 bytes: nothing to decode, said apart from an undecodable file.
inline constexpr std::string_view kStatusEmptyFile = "empty_file";
// A netCDF file without mass spectra (a chromatography-only AIA export).
inline constexpr std::string_view kStatusNoMassSpectra = "no_mass_spectra";
// A netCDF file whose scan index or point counts disagree with its data.
inline constexpr std::string_view kStatusInconsistentFile = "inconsistent_file";

// Flag of a row whose retention-time window does not overlap the run's
// first to last scan: nothing was measured there, so its numbers are empty.
inline constexpr std::string_view kFlagRtOutsideRun = "rt_outside_run";

// Values of the detection column are peaks::kDetected / kNotDetected.

// Values of the identified column; empty when no identification was asked
// for, so that a table without the criteria never reads as "not identified".
inline constexpr std::string_view kIdentifiedYes = "yes";
inline constexpr std::string_view kIdentifiedNo = "no";

// Values of the fit_status column that the host acts on, as the fit step
// writes them: only a success has a curve and an area to use, and a window
// without a local peak has no baseline worth drawing.
inline constexpr std::string_view kFitSuccess = "success";
inline constexpr std::string_view kFitNoLocalPeak = "no_local_peak";
// What people read where a fit never ran (its cell is empty in the tables).
inline constexpr std::string_view kFitNotRun = "not run";

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
  std::string review;         // the analyst's override: "", reject or integrate
  std::string review_digest;  // SHA-1 of the review file applied, "" without one
  // The peak decision (host/peaks) on a fit that ran; all empty otherwise.
  // A not_detected row keeps its fitted numbers as evidence, but nothing may
  // use them as a measured amount.
  std::optional<double> signal_to_noise;
  std::string detection;  // detected, not_detected; empty when no fit ran
  std::optional<double> integrated_area;  // intensity × minutes, like area
  std::optional<double> peak_start, peak_end;  // minutes
  std::optional<double> asymmetry;             // As at 10 % height
  std::optional<double> component_area;        // --deconvolve on a coelution
  // Identification (empty cells when it was not asked for): the reference
  // time and qualifier ratios of the sequence, the shift from that time, the
  // verdict and the criteria that failed.
  std::optional<double> rt_reference;
  std::optional<double> rt_shift;
  std::string reference_ratios;  // "MZ:PERCENT" per qualifier, joined with ';'
  std::string identified;        // kIdentifiedYes, kIdentifiedNo or empty
  std::vector<std::string> identification_flags;
  std::optional<double> retention_index;  // of retention_time, with --ladder
  // Library match of the peak's spectrum (0..999), with a .msp --library.
  std::optional<int64_t> match_score;
  std::optional<int64_t> reverse_match;

  bool operator==(const ResultRow&) const = default;
};

bool row_processed(const ResultRow& row);

// Where a column's value lives in a row; the member's type decides how the
// cell is written and read:
//   std::string               TSV: escaped text; JSON: a string (null when
//                             empty and the column says empty_is_null)
//   double                    TSV/JSON: a number (JSON null when not finite)
//   std::optional<double>     as double; absent is an empty cell / null
//   std::optional<[u]int64_t> a whole number; absent is empty / null
//   std::vector<std::string>  TSV: items joined with ','; JSON: an array
using ColumnField =
    std::variant<std::string ResultRow::*, double ResultRow::*,
                 std::optional<double> ResultRow::*, std::optional<uint64_t> ResultRow::*,
                 std::optional<int64_t> ResultRow::*,
                 std::vector<std::string> ResultRow::*>;

struct Column {
  std::string_view name;
  ColumnField field;
  bool empty_is_null = false;  // text columns: "" is written as JSON null
  // Columns added after tables were already kept: a table written before
  // them (a TSV header that stops earlier, a JSON line without the member)
  // still reads, with the column empty.
  bool added_later = false;
};

// Every column, in table order.
std::span<const Column> result_columns();
// Column names of the TSV header, in order.
std::span<const std::string_view> table_columns();

// The header line and one line per row, each ending in "\n". Tab, line feed,
// carriage return and backslash inside a cell are written \t, \n, \r, \\ so
// that every row stays one line; flags are joined with ",".
std::string table_tsv(std::span<const ResultRow> rows);
void append_tsv_header(std::string& out);
void append_tsv_row(std::string& out, const ResultRow& row);

// One JSON object per line with the same fields (absent and non-finite
// numbers are null, flags an array of strings).
std::string table_jsonl(std::span<const ResultRow> rows);
void append_jsonl_row(std::string& out, const ResultRow& row);

// Reading tables back (merging the tables of several runs, checking a run).
// Each function reads a whole text; empty lines and a CR before a line feed
// are ignored. Every problem is reported as "line N: ..." (N counts from 1)
// and its line contributes no row, so `errors.empty()` means every line was
// read. Round trip: reading what table_tsv/table_jsonl wrote gives the same
// rows, except that JSON Lines keep no non-finite numbers (they come back
// absent, or NaN in mz/rt).
struct TableRead {
  std::vector<ResultRow> rows;
  std::vector<std::string> errors;
};

// TSV: the first non-empty line must be this version's header (same columns
// in the same order), or an older one: the same columns stopping before some
// added_later column (its rows then have that many cells). Else that is the only error reported (an empty
// text has no header: an error too). Each row needs one cell per column;
// escapes other than \t \n \r \\ are errors.
TableRead read_tsv_table(std::string_view text);
// JSON Lines: one object per line with a member for every column (an
// added_later one may be missing) and no other member, in any order.
TableRead read_jsonl_table(std::string_view text);

// One line without its line feed; nullopt and the reason in *error when the
// line is not a row of this table.
std::optional<ResultRow> read_tsv_row(std::string_view line, std::string* error);
std::optional<ResultRow> read_jsonl_row(std::string_view line, std::string* error);

}  // namespace vx::host::tables
