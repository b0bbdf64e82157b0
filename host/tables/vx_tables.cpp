// The C API of vx_tables.h over read_review, manual_area and apply_review.
// The handle keeps the ReviewRead and every text it hands out; every entry
// catches what the C++ below may throw (only allocation failure) and turns
// it into a status or a null handle.
#include "vx_tables.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "peak_decisions.hpp"
#include "review.hpp"

// The records' layout is what ctypes hosts declare field by field.
static_assert(sizeof(VxtReviewEntry) == 48 && offsetof(VxtReviewEntry, action) == 24 &&
              offsetof(VxtReviewEntry, start_rt) == 32 &&
              offsetof(VxtReviewEntry, end_rt) == 40);
static_assert(sizeof(VxtReviewRow) == 32 && offsetof(VxtReviewRow, review) == 4 &&
              offsetof(VxtReviewRow, integrated_area) == 8 &&
              offsetof(VxtReviewRow, peak_end) == 24);

struct VxtReview {
  vx::host::tables::ReviewRead read;
  std::string source;
  bool read_failed = false;  // reading errors: nothing is to be applied
};

namespace vx::host::tables {
namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

std::optional<double> present(double v) {
  return std::isnan(v) ? std::nullopt : std::optional(v);
}
double or_nan(const std::optional<double>& v) { return v ? *v : kNan; }

}  // namespace
}  // namespace vx::host::tables

extern "C" {

__attribute__((visibility("default"))) VxtReview* vxt_review_read(
    const char* text, uint64_t text_size, const char* source, const char* const* files,
    uint64_t n_files, const char* const* targets, uint64_t n_targets) {
  namespace t = vx::host::tables;
  if ((text == nullptr && text_size > 0) || (files == nullptr && n_files > 0) ||
      (targets == nullptr && n_targets > 0))
    return nullptr;
  try {
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(n_files));
    for (uint64_t i = 0; i < n_files; ++i) paths.emplace_back(files[i] ? files[i] : "");
    std::vector<t::Target> named(static_cast<std::size_t>(n_targets));
    for (uint64_t i = 0; i < n_targets; ++i)
      named[static_cast<std::size_t>(i)].name = targets[i] ? targets[i] : "";
    auto* r = new VxtReview;
    r->source = source ? source : "";
    r->read = t::read_review(
        std::string_view(text ? text : "", static_cast<std::size_t>(text_size)),
        r->source, paths, named);
    r->read_failed = !r->read.errors.empty();
    return r;
  } catch (...) {
    return nullptr;
  }
}

__attribute__((visibility("default"))) void vxt_review_free(VxtReview* review) {
  delete review;
}

__attribute__((visibility("default"))) const char* vxt_review_digest(
    const VxtReview* review) {
  return review ? review->read.digest.c_str() : nullptr;
}

__attribute__((visibility("default"))) const char* vxt_review_error(
    const VxtReview* review, uint64_t index) {
  if (review == nullptr || index >= review->read.errors.size()) return nullptr;
  return review->read.errors[static_cast<std::size_t>(index)].c_str();
}

__attribute__((visibility("default"))) uint64_t vxt_review_entry_count(
    const VxtReview* review) {
  return review ? review->read.entries.size() : 0;
}

__attribute__((visibility("default"))) int32_t vxt_review_entry(const VxtReview* review,
                                                                uint64_t index,
                                                                VxtReviewEntry* out) {
  namespace t = vx::host::tables;
  if (review == nullptr || out == nullptr || index >= review->read.entries.size())
    return 2;
  const t::ReviewEntry& e = review->read.entries[static_cast<std::size_t>(index)];
  *out = VxtReviewEntry{e.line,           e.file_index,          e.target_index,
                        e.action.c_str(), t::or_nan(e.start_rt), t::or_nan(e.end_rt)};
  return 0;
}

__attribute__((visibility("default"))) double vxt_manual_area(
    const double* retention_time, const double* intensity, uint64_t n, double baseline,
    double start, double end) {
  namespace t = vx::host::tables;
  if (n > 0 && (retention_time == nullptr || intensity == nullptr)) return t::kNan;
  const auto count = static_cast<std::size_t>(n);
  return t::or_nan(t::manual_area({retention_time, count}, {intensity, count},
                                  t::present(baseline), start, end));
}

__attribute__((visibility("default"))) int32_t vxt_review_apply(
    VxtReview* review, VxtReviewRow* rows, uint64_t n_rows, uint64_t n_targets,
    const double* manual_areas, uint64_t n_areas) {
  namespace t = vx::host::tables;
  namespace p = vx::host::peaks;
  if (review == nullptr || review->read_failed || (rows == nullptr && n_rows > 0) ||
      (manual_areas == nullptr && n_areas > 0))
    return 2;
  try {
    // The rows go through apply_review itself, carrying only the columns it
    // reads and writes, so that the override is vxrun's to the letter.
    std::vector<t::ResultRow> table(static_cast<std::size_t>(n_rows));
    for (std::size_t i = 0; i < table.size(); ++i) {
      const VxtReviewRow& in = rows[i];
      table[i].detection = in.detection == 1   ? std::string(p::kDetected)
                           : in.detection == 2 ? std::string(p::kNotDetected)
                                               : std::string();
      table[i].integrated_area = t::present(in.integrated_area);
      table[i].peak_start = t::present(in.peak_start);
      table[i].peak_end = t::present(in.peak_end);
    }
    std::vector<std::optional<double>> areas;
    areas.reserve(static_cast<std::size_t>(n_areas));
    for (uint64_t i = 0; i < n_areas; ++i) areas.push_back(t::present(manual_areas[i]));
    std::vector<std::string> errors = t::apply_review(
        table, static_cast<std::size_t>(n_targets), review->read, areas, review->source);
    for (std::size_t i = 0; i < table.size(); ++i) {
      const t::ResultRow& r = table[i];
      rows[i] = VxtReviewRow{r.detection == p::kDetected      ? 1
                             : r.detection == p::kNotDetected ? 2
                                                              : 0,
                             r.review == t::kReviewReject      ? 1
                             : r.review == t::kReviewIntegrate ? 2
                                                               : 0,
                             t::or_nan(r.integrated_area), t::or_nan(r.peak_start),
                             t::or_nan(r.peak_end)};
    }
    for (std::string& e : errors) review->read.errors.push_back(std::move(e));
    return 0;
  } catch (...) {
    return 1;
  }
}

}  // extern "C"
