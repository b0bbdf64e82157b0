/* vx_formats: ANDI-MS (netCDF) files read into the spectra and run-summary
 * documents of the GC-MS chain, and converted to indexed mzML, for hosts
 * that are not C++ (Python calls it through ctypes). Plain C99.
 *
 * Every function returns a status (VXF_OK or one of the codes below) and
 * never lets an exception or a signal out. Texts handed back are
 * NUL-terminated, allocated by the library and released with vxf_free; the
 * lengths exclude the terminator. Output pointers may be NULL when the
 * caller does not want that text. On any status other than VXF_OK the
 * document outputs are set to NULL and their lengths to 0; *message, when
 * asked for, is set on every status (the reason, or "N spectra"). Calls may
 * come from any thread. */
#ifndef VX_FORMATS_H
#define VX_FORMATS_H

#include <stddef.h>
#include <stdint.h>

#if defined(VXF_BUILDING_LIBRARY)
#define VXF_API __attribute__((visibility("default")))
#else
#define VXF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  VXF_OK = 0,
  VXF_NOT_NETCDF = 1,         /* not a netCDF file at all, or an empty file */
  VXF_NO_MASS_SPECTRA = 2,    /* netCDF without ANDI-MS scans (TIC-only AIA export) */
  VXF_INCONSISTENT_FILE = 3,  /* scan_index / point_count disagree with the data */
  VXF_INCOMPLETE_FILE = 4,    /* shorter than its header says */
  VXF_UNREADABLE = 5,         /* cannot open or read the path */
  VXF_WRITE_FAILED = 6,       /* vxf_convert_andi_to_mzml: the output cannot be written */
  VXF_INTERNAL_ERROR = 7      /* out of memory or an invalid argument (NULL path) */
};

/* "ok", "not_netcdf", "no_mass_spectra", "inconsistent_file",
 * "incomplete_file", "unreadable", "write_failed", "internal_error";
 * "unknown" otherwise. A constant text: never free it. */
VXF_API const char* vxf_status_text(int32_t status);

/* Reads the ANDI-MS file at path into the two documents. */
VXF_API int32_t vxf_read_andi(const char* path, char** spectra_json, size_t* spectra_len,
                              char** summary_json, size_t* summary_len, char** message);

/* The same on the bytes of a file; path is written into the run summary's
 * source_file_path and into messages only (may be NULL: ""). */
VXF_API int32_t vxf_read_andi_bytes(const void* data, size_t size, const char* path,
                                    char** spectra_json, size_t* spectra_len,
                                    char** summary_json, size_t* summary_len,
                                    char** message);

/* Reads the ANDI-MS file at andi_path and writes it as indexed mzML at
 * mzml_path (a partial output is removed on failure). */
VXF_API int32_t vxf_convert_andi_to_mzml(const char* andi_path, const char* mzml_path,
                                         char** message);

/* Releases a text handed back by the functions above; NULL is ignored. */
VXF_API void vxf_free(void* text);

#ifdef __cplusplus
}
#endif

#endif /* VX_FORMATS_H */
