// Test support: ANDI-MS files written with the netCDF C library from a plain
// description (any stored numeric type, scale factors, missing or
// contradicting index variables, vendor quirks), the spectra document the
// mzML ingestion step writes for a file, and a small mzML -> netCDF
// converter built on the project's own mzML reader.
#pragma once

#include <netcdf.h>

#include <filesystem>
#include <optional>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "mzml/ingestion_step.hpp"
#include "mzml/mzml_reader.hpp"
#include "test_support.hpp"

namespace vx::testing {

// A public ANDI sample: the shared folder beside the project, or beside the
// work tree's parent when the project is checked out as a work tree.
inline std::filesystem::path andi_sample(std::string_view name) {
  const std::string rel = "data/andi/public/" + std::string(name);
  if (auto p = shared_file(rel); !p.empty()) return p;
  const auto p = std::filesystem::path(VX_SOURCE_DIR) / "../../shared" / rel;
  return std::filesystem::exists(p) ? p : std::filesystem::path();
}

struct AndiSpec {
  int format = NC_CLASSIC_MODEL;  // NC_CLASSIC_MODEL means the classic CDF-1 file
  nc_type mass_type = NC_FLOAT;
  nc_type intensity_type = NC_FLOAT;
  nc_type time_type = NC_DOUBLE;
  nc_type index_type = NC_INT;
  std::vector<double> times;
  std::vector<long long> scan_index;   // written unless omit_scan_index
  std::vector<long long> point_count;  // written unless omit_point_count
  std::vector<double> mass;
  std::vector<double> intensity;
  std::optional<std::size_t> intensity_length;  // a different length for intensity_values
  std::optional<double> mass_scale;
  std::optional<double> intensity_scale;
  std::optional<double> intensity_offset;
  std::optional<std::string> time_units;
  bool omit_scan_index = false;
  bool omit_point_count = false;
  bool omit_times = false;
  bool omit_spectra = false;      // no mass_values / intensity_values
  bool chromatography = false;    // AIA TIC layout: ordinate_values, aia_template_revision
  bool nul_terminated_attributes = false;  // text attributes count their NUL, as some vendors write
  std::string experiment_type = "Centroided Mass Spectrum";
  std::string source_file_reference;
  std::string experiment_date_time_stamp;
};

// Scans from per-scan point lists: index and count derived.
inline void add_scan(AndiSpec& s, double time, const std::vector<double>& mz,
                     const std::vector<double>& intensity) {
  s.times.push_back(time);
  s.scan_index.push_back(static_cast<long long>(s.mass.size()));
  s.point_count.push_back(static_cast<long long>(mz.size()));
  s.mass.insert(s.mass.end(), mz.begin(), mz.end());
  s.intensity.insert(s.intensity.end(), intensity.begin(), intensity.end());
}

namespace detail {

inline void check(int rc, const char* what) {
  if (rc != NC_NOERR) throw std::runtime_error(std::string(what) + ": " + nc_strerror(rc));
}

inline void put_text(int nc, int var, const char* name, const std::string& text, bool nul) {
  check(nc_put_att_text(nc, var, name, text.size() + (nul ? 1 : 0), text.c_str()), name);
}

}  // namespace detail

inline void write_andi(const std::filesystem::path& path, const AndiSpec& s) {
  using detail::check;
  int nc = -1;
  const int mode = s.format == NC_CLASSIC_MODEL ? NC_CLOBBER : (s.format | NC_CLOBBER);
  check(nc_create(path.c_str(), mode, &nc), "create");
  if (s.format == NC_CLASSIC_MODEL) check(nc_set_fill(nc, NC_NOFILL, nullptr), "nofill");
  const bool nc4 = (s.format & NC_NETCDF4) != 0;
  int scan_dim = 0, point_dim = 0, point_dim2 = 0;
  // Classic files allow one unlimited dimension: the points, as vendors write them.
  check(nc_def_dim(nc, "scan_number", s.times.empty() && nc4 ? NC_UNLIMITED : s.times.size(),
                   &scan_dim),
        "scan dim");
  check(nc_def_dim(nc, "point_number", NC_UNLIMITED, &point_dim), "point dim");
  if (s.intensity_length)
    check(nc_def_dim(nc, "point_number2", *s.intensity_length, &point_dim2), "dim2");
  const bool nul = s.nul_terminated_attributes;
  detail::put_text(nc, NC_GLOBAL, "ms_template_revision", "1.0.1", nul);
  if (!s.experiment_type.empty())
    detail::put_text(nc, NC_GLOBAL, "experiment_type", s.experiment_type, nul);
  if (!s.source_file_reference.empty())
    detail::put_text(nc, NC_GLOBAL, "source_file_reference", s.source_file_reference, nul);
  if (!s.experiment_date_time_stamp.empty())
    detail::put_text(nc, NC_GLOBAL, "experiment_date_time_stamp", s.experiment_date_time_stamp,
                     nul);
  int v_time = -1, v_index = -1, v_count = -1, v_mass = -1, v_int = -1, v_ord = -1;
  if (s.chromatography) {
    detail::put_text(nc, NC_GLOBAL, "aia_template_revision", "1.0", nul);
    check(nc_def_var(nc, "ordinate_values", NC_FLOAT, 1, &point_dim, &v_ord), "ordinate");
  }
  if (!s.omit_times) {
    check(nc_def_var(nc, "scan_acquisition_time", s.time_type, 1, &scan_dim, &v_time), "time");
    if (s.time_units) detail::put_text(nc, v_time, "units", *s.time_units, nul);
  }
  if (!s.omit_scan_index)
    check(nc_def_var(nc, "scan_index", s.index_type, 1, &scan_dim, &v_index), "index");
  if (!s.omit_point_count)
    check(nc_def_var(nc, "point_count", s.index_type, 1, &scan_dim, &v_count), "count");
  if (!s.omit_spectra) {
    check(nc_def_var(nc, "mass_values", s.mass_type, 1, &point_dim, &v_mass), "mass");
    check(nc_def_var(nc, "intensity_values", s.intensity_type, 1,
                     s.intensity_length ? &point_dim2 : &point_dim, &v_int),
          "intensity");
    detail::put_text(nc, v_mass, "units", "M/Z", nul);
    if (s.mass_scale) check(nc_put_att_double(nc, v_mass, "scale_factor", NC_DOUBLE, 1, &*s.mass_scale), "sf");
    if (s.intensity_scale)
      check(nc_put_att_double(nc, v_int, "scale_factor", NC_DOUBLE, 1, &*s.intensity_scale), "sf");
    if (s.intensity_offset)
      check(nc_put_att_double(nc, v_int, "add_offset", NC_DOUBLE, 1, &*s.intensity_offset), "ao");
  }
  check(nc_enddef(nc), "enddef");
  const std::size_t start = 0;
  const auto put = [&](int var, const std::vector<double>& v) {
    if (var < 0 || v.empty()) return;
    const std::size_t n = v.size();
    check(nc_put_vara_double(nc, var, &start, &n, v.data()), "put");
  };
  const auto put_ll = [&](int var, const std::vector<long long>& v) {
    if (var < 0 || v.empty()) return;
    const std::size_t n = v.size();
    check(nc_put_vara_longlong(nc, var, &start, &n, v.data()), "put");
  };
  put(v_time, s.times);
  put_ll(v_index, s.scan_index);
  put_ll(v_count, s.point_count);
  put(v_mass, s.mass);
  put(v_int, s.intensity);
  if (v_ord >= 0) put(v_ord, s.intensity);
  check(nc_close(nc), "close");
}

// The spectra document the ingestion step writes for these records.
inline std::string ingestion_document(const std::vector<mzml::MzmlSpectrum>& spectra) {
  common::JsonWriter w;
  w.raw("{\"spectra\":[");
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    if (i != 0) w.raw(",");
    mzml::append_spectrum_entry(w, spectra[i]);
  }
  w.raw("]}");
  return w.take();
}

inline bool all_fit_float(const std::vector<mzml::MzmlSpectrum>& spectra, bool mz) {
  for (const mzml::MzmlSpectrum& m : spectra)
    for (const double v : mz ? m.mz_array : m.intensity_array)
      if (static_cast<double>(static_cast<float>(v)) != v && v == v) return false;
  return true;
}

// mzML -> ANDI-MS. What ANDI-MS cannot carry is taken from the first
// spectrum for the whole file: the time unit (a units attribute), the
// spectrum type (experiment_type) and the array widths (the variable
// types; 64-bit when the values do not fit the stated 32 bits, as decoded
// MS-Numpress arrays do); MS levels and index attributes are not carried.
// Returns the dtypes the ANDI file reports for the m/z and intensity arrays.
inline std::pair<std::string, std::string> convert_mzml_to_andi(
    const std::vector<mzml::MzmlSpectrum>& spectra,
                                 const std::string& summary_source_name,
                                 const std::string& run_start_time,
                                 const std::filesystem::path& out) {
  AndiSpec s;
  if (spectra.empty()) s.format = NC_NETCDF4;
  if (!spectra.empty()) {
    const mzml::MzmlSpectrum& first = spectra.front();
    s.mass_type = first.mz_array_dtype == "float32" && all_fit_float(spectra, true)
                      ? NC_FLOAT
                      : NC_DOUBLE;
    s.intensity_type =
        first.intensity_array_dtype == "float32" && all_fit_float(spectra, false)
            ? NC_FLOAT
            : NC_DOUBLE;
    s.experiment_type = first.spectrum_type == "profile spectrum" ? "Continuum Mass Spectrum"
                                                                  : "Centroided Mass Spectrum";
    s.time_units = first.scan_start_time_unit == "minute" ? "Minutes" : "Seconds";
  }
  s.source_file_reference = summary_source_name;
  s.experiment_date_time_stamp = run_start_time;
  for (const mzml::MzmlSpectrum& m : spectra)
    add_scan(s, m.scan_start_time, m.mz_array, m.intensity_array);
  write_andi(out, s);
  return {s.mass_type == NC_FLOAT ? "float32" : "float64",
          s.intensity_type == NC_FLOAT ? "float32" : "float64"};
}

}  // namespace vx::testing
