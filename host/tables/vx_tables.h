/* Review decisions (review.hpp) behind a small C API, for ctypes and other
 * non-C++ hosts: the Python package reads review.tsv, integrates by hand and
 * overrides its rows with the same code, the same rules and the same error
 * texts as vxrun. Plain C, fixed-width types; absent numbers travel as NaN.
 * Nothing is thrown across this boundary: an allocation failure is a null
 * handle or status 1. */
#ifndef VX_TABLES_H
#define VX_TABLES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A review read against a batch; owns every text it hands out, which stays
 * valid until vxt_review_free. */
typedef struct VxtReview VxtReview;

/* positions are the contract: never reorder */
typedef struct VxtReviewEntry {
  uint64_t line;           /* in the review file, from 1 */
  uint64_t file_index;     /* into the batch's files */
  uint64_t target_index;   /* into the batch's targets */
  const char* action;      /* "reject" or "integrate" */
  double start_rt, end_rt; /* integrate: minutes, start < end; reject: NaN */
} VxtReviewEntry;

/* One row's peak-decision columns, read and written by vxt_review_apply.
 * detection: 0 empty (no fit ran), 1 detected, 2 not_detected. review
 * (written): 0 not overridden, 1 rejected, 2 integrated by hand. */
typedef struct VxtReviewRow {
  int32_t detection;
  int32_t review;
  double integrated_area, peak_start, peak_end;
} VxtReviewRow;

/* Reads review.tsv text against the batch's file paths and target names
 * (source names the file in messages). Null only when out of memory or a
 * pointer is null where its count is not 0. Errors, if any, are listed by
 * vxt_review_error; the entries are then not to be applied. */
VxtReview* vxt_review_read(const char* text, uint64_t text_size, const char* source,
                           const char* const* files, uint64_t n_files,
                           const char* const* targets, uint64_t n_targets);
void vxt_review_free(VxtReview* review);

/* SHA-1 of the whole text, 40 hex digits. */
const char* vxt_review_digest(const VxtReview* review);
/* The index-th error, "SOURCE:LINE: what"; null past the last. */
const char* vxt_review_error(const VxtReview* review, uint64_t index);
uint64_t vxt_review_entry_count(const VxtReview* review);
/* 0: *out filled; 2: index past the last entry or a null pointer. */
int32_t vxt_review_entry(const VxtReview* review, uint64_t index, VxtReviewEntry* out);

/* The area of a manual integration between start and end over a trace,
 * above the fitted baseline (NaN: none, the trace's edges decide); NaN when
 * no trace point lies between the bounds. */
double vxt_manual_area(const double* retention_time, const double* intensity, uint64_t n,
                       double baseline, double start, double end);

/* Applies the decisions to rows (file-major, files × n_targets), with one
 * manual area per entry (NaN where none was taken). Integrations without an
 * area are added to the review's errors, after the reading errors.
 * 0: applied; 1: out of memory; 2: a null pointer or a review with reading
 * errors. */
int32_t vxt_review_apply(VxtReview* review, VxtReviewRow* rows, uint64_t n_rows,
                         uint64_t n_targets, const double* manual_areas,
                         uint64_t n_areas);

#ifdef __cplusplus
}
#endif
#endif
