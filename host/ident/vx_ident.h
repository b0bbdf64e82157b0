/* Identification against a sequence's standards (identification.hpp) behind
 * a small C API, for ctypes and other non-C++ hosts: the Python package
 * judges its rows with the same code as vxrun. Plain C, fixed-width types;
 * absent numbers travel as NaN in both directions. Nothing is thrown across
 * this boundary: an allocation failure is status 1. */
#ifndef VX_IDENT_H
#define VX_IDENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VxiCriteria {
  double rt_id_tol, ratio_tol, min_sn, min_match;
} VxiCriteria;

/* One target over the files of a sequence; per-file arrays have n_files
 * entries, per-qualifier arrays n_files × n_qualifiers (file-major). */
typedef struct VxiTarget {
  uint64_t n_files;
  uint32_t n_qualifiers;
  uint32_t reserved;
  const int32_t* detected;        /* the quantifier's peak was found */
  const int32_t* standard;        /* a standard holding an amount of the target */
  const double* rt;               /* fitted apex, minutes */
  const double* quantifier_sn;
  const double* match_score;      /* NaN: no library spectrum compared */
  const double* qualifier_ratio;  /* qualifier area / quantifier area × 100 */
  const double* qualifier_sn;
  double table_rt;                /* the targets table's, used where no standard gives one */
  const double* table_percent;    /* n_qualifiers expected % */
} VxiTarget;

/* Outputs, all filled by the caller's buffers. */
typedef struct VxiVerdicts {
  double* rt_reference;      /* 1 */
  double* reference_ratios;  /* n_qualifiers */
  int32_t* identified;       /* n_files */
  uint32_t* failed;          /* n_files: bits, vxi_flag_name gives each one's name */
  double* rt_shift;          /* n_files */
} VxiVerdicts;

/* The defaults vxrun uses. */
void vxi_default_criteria(VxiCriteria* out);
/* 0: judged; 1: out of memory; 2: a null pointer where values are needed. */
int32_t vxi_identify_target(const VxiTarget* target, const VxiCriteria* criteria,
                            VxiVerdicts* out);
/* The index-th criterion in the order tables list them: its name, and its
 * bit in *bit (when bit is not null); null past the last one. */
const char* vxi_flag_name(uint32_t index, uint32_t* bit);

#ifdef __cplusplus
}
#endif
#endif
