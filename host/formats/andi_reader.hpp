// ANDI-MS (ASTM E2077/E2078) netCDF files read into spectrum records, the
// format most GC-MS data systems export besides mzML. Part of the host's
// formats layer: it uses the standard library, the netCDF C library and its
// own code, nothing else of the host. The whole file is loaded into memory
// and opened with nc_open_mem, because only that backend reports data cut
// short (the file backend silently zero-fills reads past the end). Never
// throws except std::bad_alloc; never reads past what the library reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::formats {

enum class AndiStatus : int32_t {
  kOk = 0,
  kNotNetcdf = 1,         // not a netCDF file at all (or empty)
  kNoMassSpectra = 2,     // netCDF, but no ANDI-MS scans (e.g. a TIC-only AIA export)
  kInconsistentFile = 3,  // index/count variables disagree with each other or the data
  kIncompleteFile = 4,    // shorter than its header says
  kUnreadable = 5,        // cannot open or read the path
};

// "ok", "not_netcdf", "no_mass_spectra", "inconsistent_file",
// "incomplete_file", "unreadable"; "unknown" for any other value.
std::string_view status_text(AndiStatus status);

// One scan, shaped like the mzML reader's spectrum record so that both give
// the same spectra document.
struct AndiSpectrum {
  int32_t index = 0;
  double scan_start_time = 0.0;
  std::string scan_start_time_unit = "second";
  int32_t ms_level = 1;
  std::string spectrum_type = "centroid spectrum";
  std::vector<double> mz_array;
  std::vector<double> intensity_array;
  // The stored type ("float32", "float64", "int16", ...); an empty scan
  // keeps these defaults, which the mzML ingestion gives an empty array.
  std::string mz_array_dtype = "float64";
  std::string intensity_array_dtype = "float32";
  std::string array_compression = "none";
};

// Run-level values, as the mzML run summary carries them.
struct AndiRun {
  std::string source_file_name;  // global attribute source_file_reference
  std::string run_start_time;    // experiment_date_time_stamp as ISO 8601 when it parses
  std::vector<AndiSpectrum> spectra;
};

struct AndiReadResult {
  AndiStatus status = AndiStatus::kUnreadable;
  std::string message;  // human text; "N spectra" on success
  AndiRun run;          // filled only when status is kOk
};

// Reads the file at path / the bytes of a file (path is then only a name
// used in messages).
AndiReadResult read_andi_run(std::string_view path);
AndiReadResult read_andi_bytes(std::span<const std::byte> bytes, std::string_view path);

// The documents the mzML ingestion step writes for the same spectra.
std::string spectra_document(const AndiRun& run);
std::string run_summary_document(const AndiRun& run, std::string_view path);

struct AndiDocuments {
  AndiStatus status = AndiStatus::kUnreadable;
  std::string message;
  std::string spectra_json;  // empty unless status is kOk
  std::string summary_json;  // empty unless status is kOk
};

// read_andi_run followed by the two documents.
AndiDocuments read_andi_file(std::string_view path);

// "YYYYMMDDhhmmss" plus an optional "+hhmm"/"-hhmm" zone (ANDI's stamp) as
// "YYYY-MM-DDThh:mm:ss[+hh:mm]"; anything else comes back unchanged.
std::string andi_time_stamp_to_iso(std::string_view stamp);

// Whether bytes start with a netCDF (classic, 64-bit offset, CDF-5) or HDF5
// signature: the files read_andi_time_stamp can open.
bool has_netcdf_signature(std::span<const std::byte> head);

// The global attribute experiment_date_time_stamp of the netCDF file at
// path, as stored (nullopt: no such file or attribute, not netCDF, or a
// header that does not open). Reads the header alone, not the scans.
std::optional<std::string> read_andi_time_stamp(std::string_view path);

}  // namespace vx::host::formats
