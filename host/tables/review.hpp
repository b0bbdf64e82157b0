// Review decisions: the review.tsv an analyst exports from the report page
// (or writes by hand) and its effect on a batch's rows. A decision rejects a
// peak or integrates it by hand between two retention times; every decision
// names a file and a target of the batch, or the file is refused with the
// line that does not. The rows say which were overridden (column `review`)
// and which review file was applied (`review_digest`, its SHA-1), so a table
// can always be traced back to the decisions that shaped it. Pure: no I/O.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results_table.hpp"
#include "targets.hpp"

namespace vx::host::tables {

// Values of the action column (and of a row's `review` cell).
inline constexpr std::string_view kReviewReject = "reject";
inline constexpr std::string_view kReviewIntegrate = "integrate";

// The header of review.tsv, in this order.
inline constexpr std::array<std::string_view, 8> kReviewColumns = {
    "file", "target", "action", "start_rt", "end_rt", "reason", "reviewer", "time"};

struct ReviewEntry {
  std::size_t line = 0;  // in the review file, from 1
  std::string file, target, action;
  std::optional<double> start_rt, end_rt;  // integrate: both, start < end
  std::string reason, reviewer, time;
  std::size_t file_index = 0;    // into the batch's files
  std::size_t target_index = 0;  // into the batch's targets
};

struct ReviewRead {
  std::vector<ReviewEntry> entries;  // file order of the review, one per row at most
  std::vector<std::string> errors;   // "SOURCE:LINE: what"; empty on success
  std::string digest;                // SHA-1 of the whole text, 40 hex digits
};

// Reads review.tsv against the batch. A file is matched by its whole path as
// the batch lists it, else by its base name when exactly one batch file has
// it; a target by its name. Cells use the results table's escapes (\t \n \r
// \\). A second decision for the same file and target replaces the first:
// the page exports a row's latest decision only, and a hand-edited file
// appended to later reads the same way.
ReviewRead read_review(std::string_view text, std::string_view source,
                       std::span<const std::string> files,
                       std::span<const Target> targets);

// The area of a manual integration: the trace above the baseline between
// start and end. This is the one place a by-hand integration is computed so
// that it matches the peaks layer's own integration.
std::optional<double> manual_area(std::span<const double> times,
                                  std::span<const double> intensities,
                                  std::optional<double> baseline, double start, double end);

// Applies the decisions to rows (file-major, files × targets) through the
// peak-decision columns: a rejected peak becomes not_detected (its fitted
// numbers stay, so the record shows what was overruled); a manual
// integration's area, from manual_areas (one per entry, absent when the
// trace was not at hand), becomes integrated_area with peak_start/peak_end at
// the given bounds, and the row detected. The quantitation takes its response
// from these columns. Every row gets the digest; overridden rows their action.
// Returns the "SOURCE:LINE: ..." errors of integrations that had no trace.
std::vector<std::string> apply_review(std::vector<ResultRow>& rows, std::size_t n_targets,
                                      const ReviewRead& review,
                                      std::span<const std::optional<double>> manual_areas,
                                      std::string_view source);

// The manual areas a batch already applied to rows that were later joined
// (vxrun merge of part tables): for each integrate entry whose row says
// `integrate` with exactly the entry's bounds, that row's integrated_area;
// nullopt for every other entry. The traces are gone after the batch, so a
// merge can only confirm an integration a part made, never make one.
std::vector<std::optional<double>> applied_manual_areas(std::span<const ResultRow> rows,
                                                        std::size_t n_targets,
                                                        const ReviewRead& review);

// What the terminal's summary line counts. A row is flagged when it carries
// a flag that asks for a look (the fit's notes on how it started and that it
// converged do not); it is not detected when it was processed and no peak was
// fitted, or the detection decision (or a review's rejection) says so.
struct RowCounts {
  std::size_t flagged = 0;
  std::size_t not_detected = 0;
};
RowCounts count_rows(std::span<const ResultRow> rows);

}  // namespace vx::host::tables
