/* Compact spectra documents (compact_spectra.hpp) behind a small C API, for
 * ctypes and other non-C++ hosts: the Python package traces its targets on
 * the same documents as vxrun, derived by the same code. Plain C,
 * fixed-width types. Nothing is thrown across this boundary: an allocation
 * failure is status 1, a refused argument status 2. */
#ifndef VX_COMPACT_H
#define VX_COMPACT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One ion the trace step is asked for: its parameters 2, 1 and 0. */
/* positions are the contract: never reorder */
typedef struct VxcQuery {
  double mz;
  double tolerance; /* daltons; ignored in exact mode */
  int32_t exact;
  int32_t reserved;
} VxcQuery;

/* The trace step's totals for one query over the whole run. */
typedef struct VxcTotals {
  uint64_t points;
  double max_intensity; /* 0 without points */
  uint32_t flags;       /* the trace flags these totals raise (vxc_flag_name) */
  uint32_t reserved;
} VxcTotals;

typedef struct VxcCompact VxcCompact; /* the documents of one spectra text */
typedef struct VxcBuffer VxcBuffer;   /* receives documents; one per thread */

/* From this many queries on, compact documents cost less than tracing the
 * whole document once per query. */
uint64_t vxc_compact_from_queries(void);

/* Reads the spectra document once and groups the queries. The text is not
 * copied: it must stay valid and unchanged until vxc_close. 0: *out is the
 * handle; 1: out of memory; 2: a null pointer (text or queries with a
 * non-zero size, or out). */
int32_t vxc_open(const char* spectra, uint64_t size, const VxcQuery* queries, uint64_t n,
                 VxcCompact** out);
void vxc_close(VxcCompact* compact); /* null is allowed */

uint64_t vxc_group_count(const VxcCompact* compact);
/* The group of query q; UINT64_MAX for a null handle or q out of range. */
uint64_t vxc_group_of(const VxcCompact* compact, uint64_t q);
/* 1 when documents restricted in time (and totals) can be written. */
int32_t vxc_restrictable(const VxcCompact* compact);

/* The scan times a target's restricted document holds: rt +- rt_tol widened
 * by the margin its peak decision needs. 1 with [*lo, *hi] set; 0 when that
 * is not a finite range (the target is traced on the whole run). */
int32_t vxc_trace_range(double rt, double rt_tol, double* lo, double* hi);

VxcBuffer* vxc_buffer_new(void); /* null when out of memory */
void vxc_buffer_free(VxcBuffer* buffer); /* null is allowed */

/* The document of group g, written into buffer: *data and *size stay valid
 * until the buffer is written again or freed. With restricted, only the
 * entries whose scan time lies in [lo, hi] that hold one of the group's
 * peaks (needs vxc_restrictable). 0: written; 1: out of memory; 2: a null
 * pointer, g out of range or a restriction that cannot be made. */
int32_t vxc_document(const VxcCompact* compact, uint64_t g, int32_t restricted, double lo,
                     double hi, VxcBuffer* buffer, const char** data, uint64_t* size);

/* The totals of query q over the whole run (needs vxc_restrictable). 0:
 * *out set; 2: a null pointer, q out of range or not restrictable. */
int32_t vxc_totals(const VxcCompact* compact, uint64_t q, VxcTotals* out);

/* The index-th trace flag: its name, and its bit in *bit (when bit is not
 * null); null past the last flag. */
const char* vxc_flag_name(uint32_t index, uint32_t* bit);

#ifdef __cplusplus
}
#endif
#endif
