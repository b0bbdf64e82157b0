/* The peak decision (peak_decisions.hpp) behind a small C API, for ctypes
 * and other non-C++ hosts: the Python package decides its rows with the same
 * code as vxrun. Plain C, fixed-width types; absent numbers travel as NaN in
 * both directions. Nothing is thrown across this boundary: an allocation
 * failure is status 1 with *out cleared. */
#ifndef VX_PEAKS_H
#define VX_PEAKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The fit as the fit step reported it; NaN where a value is absent. */
typedef struct VxpFit {
  int32_t converged; /* the fit status is success */
  int32_t reserved;
  double center, height, width, baseline, window_min, window_max;
} VxpFit;

typedef struct VxpOptions {
  double min_sn;
  int32_t min_points;
  int32_t deconvolve;
} VxpOptions;

/* positions are the contract: never reorder */
typedef struct VxpDecision {
  int32_t detected;
  uint32_t flags; /* bits; vxp_flag_name gives each one's name */
  double noise, signal_to_noise, integrated_area, peak_start, peak_end, asymmetry,
      component_area;
} VxpDecision;

/* The defaults vxrun uses. */
void vxp_default_options(VxpOptions* out);
/* 0: decided; 1: out of memory; 2: a null pointer where n > 0 or out null. */
int32_t vxp_decide_peak(const double* retention_time, const double* intensity, uint64_t n,
                        const VxpFit* fit, const VxpOptions* options, VxpDecision* out);
/* The index-th flag in the order tables list them: its name, and its bit in
 * *bit (when bit is not null); null past the last flag. */
const char* vxp_flag_name(uint32_t index, uint32_t* bit);

#ifdef __cplusplus
}
#endif
#endif
