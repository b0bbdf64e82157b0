// review.tsv is read like the other tables (blank and '#' lines skipped, the
// header checked by name) but every line is checked against the batch, since
// a decision about a file the batch never read is a mistake to report, not to
// drop.
#include "review.hpp"

#include <algorithm>
#include <cmath>
#include <map>

#include "cell_text.hpp"
#include "number_text.hpp"
#include "peak_decisions.hpp"
#include "sha1.hpp"
#include "table_text.hpp"

namespace vx::host::tables {

using base::TableLines;
using base::parse_double;
using base::split_line;

namespace {

std::string_view base_name(std::string_view path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

ReviewRead read_review(std::string_view text, std::string_view source,
                       std::span<const std::string> files,
                       std::span<const Target> targets) {
  ReviewRead out;
  formats::Sha1 sha;
  sha.update(text);
  out.digest = sha.hex_digest();
  const auto error = [&](std::size_t line, const std::string& what) {
    out.errors.push_back(std::string(source) + ":" + std::to_string(line) + ": " + what);
  };
  std::map<std::string_view, std::size_t> by_path, by_name, by_target;
  std::map<std::string_view, std::size_t> name_count;
  for (std::size_t f = 0; f < files.size(); ++f) {
    by_path.emplace(files[f], f);
    by_name.emplace(base_name(files[f]), f);
    ++name_count[base_name(files[f])];
  }
  for (std::size_t t = 0; t < targets.size(); ++t) by_target.emplace(targets[t].name, t);

  TableLines lines(text);
  std::string_view line;
  std::size_t line_no = 0;
  std::vector<std::string> cells;
  if (!lines.next(line, line_no)) {
    error(1, "no header (want file, target, action, start_rt, end_rt, reason, reviewer, time)");
    return out;
  }
  split_line(line, '\t', cells);
  bool header_ok = cells.size() == kReviewColumns.size();
  for (std::size_t i = 0; header_ok && i < cells.size(); ++i)
    header_ok = base::trim_blanks(cells[i]) == kReviewColumns[i];
  if (!header_ok) {
    error(line_no, "the header must be file, target, action, start_rt, end_rt, reason, "
                   "reviewer, time (tab-separated)");
    return out;
  }
  std::map<std::size_t, std::size_t> entry_of_row;  // file * targets + target -> entry
  while (lines.next(line, line_no)) {
    split_line(line, '\t', cells);
    if (cells.size() != kReviewColumns.size()) {
      error(line_no, std::to_string(cells.size()) + " cells, want " +
                         std::to_string(kReviewColumns.size()));
      continue;
    }
    ReviewEntry e;
    e.line = line_no;
    std::string* const text_cells[] = {&e.file,   &e.target,   &e.action, nullptr,
                                       nullptr,   &e.reason,   &e.reviewer, &e.time};
    bool ok = true;
    for (std::size_t i = 0; i < cells.size() && ok; ++i) {
      if (text_cells[i] != nullptr && !base::tsv_unescape(cells[i], *text_cells[i])) {
        error(line_no, "unknown escape in " + std::string(kReviewColumns[i]));
        ok = false;
      }
    }
    if (!ok) continue;
    if (const auto it = by_path.find(e.file); it != by_path.end()) {
      e.file_index = it->second;
    } else if (const auto n = by_name.find(base_name(e.file));
               n != by_name.end() && name_count[base_name(e.file)] == 1) {
      e.file_index = n->second;
    } else {
      error(line_no, "the batch has no file " + e.file);
      continue;
    }
    if (const auto it = by_target.find(e.target); it != by_target.end()) {
      e.target_index = it->second;
    } else {
      error(line_no, "the batch has no target " + e.target);
      continue;
    }
    const auto bound = [&](std::size_t i) -> std::optional<double> {
      const std::string_view c = base::trim_blanks(cells[i]);
      return c.empty() ? std::nullopt : parse_double(c);
    };
    if (e.action == kReviewIntegrate) {
      e.start_rt = bound(3);
      e.end_rt = bound(4);
      if (!e.start_rt || !e.end_rt || !(*e.start_rt < *e.end_rt)) {
        error(line_no, "integrate needs start_rt < end_rt (minutes)");
        continue;
      }
    } else if (e.action != kReviewReject) {
      error(line_no, "action must be reject or integrate, not " + e.action);
      continue;
    }
    const std::size_t row = e.file_index * targets.size() + e.target_index;
    if (const auto it = entry_of_row.find(row); it != entry_of_row.end()) {
      out.entries[it->second] = std::move(e);
    } else {
      entry_of_row.emplace(row, out.entries.size());
      out.entries.push_back(std::move(e));
    }
  }
  return out;
}

// ---- the manual integration: the one call into the peaks layer ----
std::optional<double> manual_area(std::span<const double> times,
                                  std::span<const double> intensities,
                                  std::optional<double> baseline, double start, double end) {
  // Without a fitted baseline the lower of the two edge intensities is the
  // floor, as an analyst drawing a baseline by hand across the peak would.
  double floor = 0.0;
  if (baseline && std::isfinite(*baseline)) {
    floor = *baseline;
  } else {
    std::optional<double> lo, hi;
    for (std::size_t i = 0; i < times.size() && i < intensities.size(); ++i) {
      if (times[i] >= start && !lo) lo = intensities[i];
      if (times[i] <= end) hi = intensities[i];
    }
    if (lo && hi) floor = std::min(*lo, *hi);
  }
  return peaks::integrate_above(times, intensities, floor, start, end);
}

std::vector<std::string> apply_review(std::vector<ResultRow>& rows, std::size_t n_targets,
                                      const ReviewRead& review,
                                      std::span<const std::optional<double>> manual_areas,
                                      std::string_view source) {
  std::vector<std::string> errors;
  for (ResultRow& r : rows) r.review_digest = review.digest;
  for (std::size_t i = 0; i < review.entries.size(); ++i) {
    const ReviewEntry& e = review.entries[i];
    const std::size_t row = e.file_index * n_targets + e.target_index;
    if (row >= rows.size()) continue;
    ResultRow& r = rows[row];
    r.review = e.action;
    if (e.action == kReviewReject) {
      // The fitted numbers stay for the record; only the decision changes,
      // and the quantitation reads the decision.
      r.detection = peaks::kNotDetected;
      continue;
    }
    const std::optional<double> area =
        i < manual_areas.size() ? manual_areas[i] : std::nullopt;
    if (!area) {
      errors.push_back(std::string(source) + ":" + std::to_string(e.line) +
                       ": no trace points between " + base::shortest_text(*e.start_rt) +
                       " and " + base::shortest_text(*e.end_rt) + " min to integrate");
      continue;
    }
    // The fitted area stays beside the analyst's: the table shows both, and
    // the quantitation takes the integrated area of a row integrated by hand.
    r.integrated_area = area;
    r.peak_start = e.start_rt;
    r.peak_end = e.end_rt;
    r.detection = peaks::kDetected;
  }
  return errors;
}

std::vector<std::optional<double>> applied_manual_areas(std::span<const ResultRow> rows,
                                                        std::size_t n_targets,
                                                        const ReviewRead& review) {
  std::vector<std::optional<double>> areas(review.entries.size());
  for (std::size_t i = 0; i < review.entries.size(); ++i) {
    const ReviewEntry& e = review.entries[i];
    const std::size_t row = e.file_index * n_targets + e.target_index;
    if (e.action != kReviewIntegrate || row >= rows.size()) continue;
    const ResultRow& r = rows[row];
    // Bounds are written as shortest round-trip text, so a part's row holds
    // the very doubles the entry was read as.
    if (r.review == kReviewIntegrate && r.peak_start == e.start_rt && r.peak_end == e.end_rt)
      areas[i] = r.integrated_area;
  }
  return areas;
}

RowCounts count_rows(std::span<const ResultRow> rows) {
  static constexpr std::array<std::string_view, 3> kNotes = {
      "gcms.fit.solver_converged", "gcms.fit.initial_height_estimate",
      "gcms.fit.initial_width_estimate"};
  RowCounts c;
  for (const ResultRow& r : rows) {
    if (!row_processed(r)) continue;
    bool flagged = false;
    for (const std::string& f : r.flags)
      flagged = flagged || std::find(kNotes.begin(), kNotes.end(), f) == kNotes.end();
    if (flagged) ++c.flagged;
    if (r.fit_status != kFitSuccess || r.detection == peaks::kNotDetected) ++c.not_detected;
  }
  return c;
}

}  // namespace vx::host::tables
