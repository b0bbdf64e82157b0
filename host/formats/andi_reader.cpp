// ANDI-MS reading. Every number goes through the netCDF library's own type
// conversion (nc_get_var_double / _longlong), so byte, short, int, float and
// double arrays (and the netCDF-4 unsigned and 64-bit types) all arrive as
// doubles; the index variables are checked against each other and against
// the stored points before any scan is cut out, so no bad index can reach an
// array access.
#include "andi_reader.hpp"

#include <netcdf.h>
#include <netcdf_mem.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "cell_text.hpp"
#include "decimal17.hpp"

namespace vx::host::formats {
namespace {

// The spectra document is the ingestion step's, byte for byte: numbers as
// its %.17g formatter writes them, strings with the host's JSON escaper.
using base::append_g17;
using base::append_g17_array;
using base::kG17TextSize;

void append_json_string(std::string& out, std::string_view text) {
  base::append_json_text(out, text);
}

void append_integer(std::string& out, int64_t value) { base::append_integer(out, value); }

// The netCDF C library keeps global tables of open files and is not safe to
// call from two threads at once; hosts read files from a thread pool, so
// every call into it holds this lock. It is the one shared object here.
std::mutex& netcdf_lock() {
  static std::mutex m;
  return m;
}

struct Failure {
  AndiStatus status;
  std::string message;
};

// Closes the dataset on every path out of the reader.
struct Dataset {
  int id = -1;
  ~Dataset() {
    if (id >= 0) nc_close(id);
  }
};

std::string nc_text(int code) { return nc_strerror(code); }

bool has_var(int nc, const char* name) {
  int id = 0;
  return nc_inq_varid(nc, name, &id) == NC_NOERR;
}

// A text attribute (of a variable or, with NC_GLOBAL, of the file), with
// the trailing NUL bytes several vendors count into the length removed.
std::optional<std::string> text_attribute(int nc, int var, const char* name) {
  nc_type type = NC_NAT;
  size_t len = 0;
  if (nc_inq_att(nc, var, name, &type, &len) != NC_NOERR) return std::nullopt;
  std::string out;
  if (type == NC_CHAR) {
    out.resize(len);
    if (len != 0 && nc_get_att_text(nc, var, name, out.data()) != NC_NOERR)
      return std::nullopt;
  } else if (type == NC_STRING && len >= 1) {
    std::vector<char*> values(len, nullptr);
    if (nc_get_att_string(nc, var, name, values.data()) != NC_NOERR) return std::nullopt;
    if (values[0] != nullptr) out = values[0];
    nc_free_string(len, values.data());
  } else {
    return std::nullopt;
  }
  while (!out.empty() && out.back() == '\0') out.pop_back();
  return out;
}

std::optional<double> number_attribute(int nc, int var, const char* name) {
  nc_type type = NC_NAT;
  size_t len = 0;
  if (nc_inq_att(nc, var, name, &type, &len) != NC_NOERR || len == 0) return std::nullopt;
  if (type == NC_CHAR || type == NC_STRING || type > NC_STRING) return std::nullopt;
  std::vector<double> values(len);
  if (nc_get_att_double(nc, var, name, values.data()) != NC_NOERR) return std::nullopt;
  return values[0];
}

bool contains_ci(std::string_view text, std::string_view word) {
  return std::search(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         }) != text.end();
}

// The dtype names of the spectra document, after the stored type.
std::string_view dtype_name(nc_type t) {
  switch (t) {
    case NC_BYTE: return "int8";
    case NC_UBYTE: return "uint8";
    case NC_SHORT: return "int16";
    case NC_USHORT: return "uint16";
    case NC_INT: return "int32";
    case NC_UINT: return "uint32";
    case NC_INT64: return "int64";
    case NC_UINT64: return "uint64";
    case NC_FLOAT: return "float32";
    case NC_DOUBLE: return "float64";
    default: return {};
  }
}

bool is_integer_type(nc_type t) {
  return t == NC_BYTE || t == NC_UBYTE || t == NC_SHORT || t == NC_USHORT || t == NC_INT ||
         t == NC_UINT || t == NC_INT64 || t == NC_UINT64;
}

// A one-dimensional numeric variable: its id, stored type and length.
struct VarInfo {
  int id = -1;
  nc_type type = NC_NAT;
  size_t length = 0;
};

// Looks the variable up; nullopt when absent, a failure when it is not a
// one-dimensional numeric variable.
std::optional<VarInfo> find_var(int nc, const char* name, std::optional<Failure>& fail) {
  VarInfo v;
  if (nc_inq_varid(nc, name, &v.id) != NC_NOERR) return std::nullopt;
  int ndims = 0;
  if (nc_inq_varndims(nc, v.id, &ndims) != NC_NOERR || ndims != 1) {
    fail = Failure{AndiStatus::kInconsistentFile,
                   std::string("variable ") + name + " has " + std::to_string(ndims) +
                       " dimensions where one is expected"};
    return std::nullopt;
  }
  int dim = 0;
  if (nc_inq_vartype(nc, v.id, &v.type) != NC_NOERR ||
      nc_inq_vardimid(nc, v.id, &dim) != NC_NOERR ||
      nc_inq_dimlen(nc, dim, &v.length) != NC_NOERR) {
    fail = Failure{AndiStatus::kIncompleteFile,
                   std::string("variable ") + name + ": its description cannot be read"};
    return std::nullopt;
  }
  if (dtype_name(v.type).empty()) {
    fail = Failure{AndiStatus::kInconsistentFile,
                   std::string("variable ") + name + " does not hold numbers"};
    return std::nullopt;
  }
  return v;
}

// Reads a whole variable as doubles with its scale_factor and add_offset
// applied (only when present, so unscaled values stay exact).
std::optional<Failure> read_doubles(int nc, const char* name, const VarInfo& v,
                                    std::vector<double>& out) {
  out.resize(v.length);
  if (v.length != 0) {
    const int rc = nc_get_var_double(nc, v.id, out.data());
    if (rc != NC_NOERR) {
      return Failure{AndiStatus::kIncompleteFile,
                     std::string("the data of variable ") + name + " (" +
                         std::to_string(v.length) +
                         " values) cannot be read in full: " + nc_text(rc) +
                         "; the file is shorter than its header says"};
    }
  }
  const std::optional<double> scale = number_attribute(nc, v.id, "scale_factor");
  const std::optional<double> offset = number_attribute(nc, v.id, "add_offset");
  if (scale || offset) {
    const double s = scale.value_or(1.0);
    const double o = offset.value_or(0.0);
    for (double& x : out) x = scale ? (offset ? x * s + o : x * s) : x + o;
  }
  return std::nullopt;
}

std::optional<Failure> read_counts(int nc, const char* name, const VarInfo& v,
                                   std::vector<long long>& out) {
  if (!is_integer_type(v.type)) {
    return Failure{AndiStatus::kInconsistentFile,
                   std::string("variable ") + name + " holds " +
                       std::string(dtype_name(v.type)) + " values where integers are expected"};
  }
  out.resize(v.length);
  if (v.length == 0) return std::nullopt;
  const int rc = nc_get_var_longlong(nc, v.id, out.data());
  if (rc == NC_ERANGE) {
    return Failure{AndiStatus::kInconsistentFile,
                   std::string("variable ") + name + " holds values beyond 64-bit integers"};
  }
  if (rc != NC_NOERR) {
    return Failure{AndiStatus::kIncompleteFile,
                   std::string("the data of variable ") + name +
                       " cannot be read in full: " + nc_text(rc) +
                       "; the file is shorter than its header says"};
  }
  return std::nullopt;
}

std::string scan_label(std::size_t i) { return "scan " + std::to_string(i) + " (0-based)"; }

// The one of scan_index and point_count a writer left out, from the other.
// A count outside the stored points stops the running sum; check_layout
// reports it.
void derive_missing_layout(std::size_t scans, std::size_t points, bool no_index,
                           bool no_count, std::vector<long long>& index,
                           std::vector<long long>& count) {
  const auto total = static_cast<long long>(points);
  if (no_index) {
    index.resize(scans);
    long long at = 0;
    for (std::size_t i = 0; i < scans; ++i) {
      index[i] = at;
      if (count[i] < 0 || count[i] > total) break;
      at += count[i];
    }
  }
  if (no_count) {
    count.resize(scans);
    for (std::size_t i = 0; i < scans; ++i)
      count[i] = (i + 1 < scans ? index[i + 1] : total) - index[i];
  }
}

// Every scan's points lie inside the stored points, in order.
std::optional<Failure> check_layout(std::size_t points, const std::vector<long long>& index,
                                    const std::vector<long long>& count) {
  const auto total = static_cast<long long>(points);
  for (std::size_t i = 0; i < index.size(); ++i) {
    if (index[i] < 0) {
      return Failure{AndiStatus::kInconsistentFile,
                     scan_label(i) + ": negative scan_index " + std::to_string(index[i])};
    }
    if (count[i] < 0) {
      return Failure{AndiStatus::kInconsistentFile,
                     scan_label(i) + ": negative point_count " + std::to_string(count[i])};
    }
    if (i > 0 && index[i] < index[i - 1]) {
      return Failure{AndiStatus::kInconsistentFile,
                     scan_label(i) + ": scan_index " + std::to_string(index[i]) +
                         " is below the previous scan's " + std::to_string(index[i - 1]) +
                         " (scan_index must not decrease)"};
    }
    // Both are in [0, total] or beyond it here, so the sum cannot overflow
    // before the comparison: test each against the total first.
    if (index[i] > total || count[i] > total - index[i]) {
      return Failure{AndiStatus::kInconsistentFile,
                     scan_label(i) + ": scan_index " + std::to_string(index[i]) +
                         " + point_count " + std::to_string(count[i]) + " runs past the " +
                         std::to_string(points) + " stored points"};
    }
  }
  return std::nullopt;
}

// Scan offsets and counts, taken from scan_index and point_count; when a
// writer left one of them out it is derived from the other.
std::optional<Failure> scan_layout(int nc, std::size_t scans, std::size_t points,
                                   std::vector<long long>& index,
                                   std::vector<long long>& count) {
  std::optional<Failure> fail;
  const std::optional<VarInfo> vi = find_var(nc, "scan_index", fail);
  if (fail) return fail;
  const std::optional<VarInfo> vc = find_var(nc, "point_count", fail);
  if (fail) return fail;
  if (!vi && !vc) {
    return Failure{AndiStatus::kInconsistentFile,
                   "neither scan_index nor point_count is present: the scans cannot be "
                   "cut out of the stored points"};
  }
  for (const auto& [v, name] : {std::pair{vi, "scan_index"}, std::pair{vc, "point_count"}}) {
    if (v && v->length != scans) {
      return Failure{AndiStatus::kInconsistentFile,
                     std::string(name) + " has " + std::to_string(v->length) +
                         " values but scan_acquisition_time has " + std::to_string(scans) +
                         " (dimension lengths disagree)"};
    }
  }
  if (vi)
    if (auto f = read_counts(nc, "scan_index", *vi, index)) return f;
  if (vc)
    if (auto f = read_counts(nc, "point_count", *vc, count)) return f;
  derive_missing_layout(scans, points, !vi, !vc, index, count);
  return check_layout(points, index, count);
}

bool has_magic(std::span<const std::byte> bytes) {
  constexpr std::string_view kHdf5("\x89HDF\r\n\x1a\n", 8);
  std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                        std::min<std::size_t>(bytes.size(), 8));
  if (head.size() >= 4 && head.substr(0, 3) == "CDF" &&
      (head[3] == '\x01' || head[3] == '\x02' || head[3] == '\x05'))
    return true;
  return head.size() == 8 && head == kHdf5;
}

// The three variables every ANDI-MS file has, found and checked against
// each other before anything is read.
struct SpectraVariables {
  VarInfo mass;
  VarInfo intensity;
  VarInfo time;
};

std::optional<Failure> find_spectra_variables(int nc, SpectraVariables& vars) {
  std::optional<Failure> fail;
  const std::optional<VarInfo> mass = find_var(nc, "mass_values", fail);
  if (fail) return fail;
  const std::optional<VarInfo> inten = find_var(nc, "intensity_values", fail);
  if (fail) return fail;
  if (!mass || !inten) {
    if (has_var(nc, "ordinate_values") || text_attribute(nc, NC_GLOBAL, "aia_template_revision")) {
      return Failure{AndiStatus::kNoMassSpectra,
                     "ANDI chromatography file without mass spectra (a TIC export); export "
                     "the run as ANDI-MS"};
    }
    return Failure{AndiStatus::kNoMassSpectra,
                   std::string("netCDF file without ANDI-MS mass spectra: no ") +
                       (mass ? "intensity_values" : "mass_values") + " variable"};
  }
  if (mass->length != inten->length) {
    return Failure{AndiStatus::kInconsistentFile,
                   "mass_values has " + std::to_string(mass->length) +
                       " points but intensity_values has " + std::to_string(inten->length) +
                       " (dimension lengths disagree)"};
  }
  const std::optional<VarInfo> time = find_var(nc, "scan_acquisition_time", fail);
  if (fail) return fail;
  if (!time) {
    return Failure{AndiStatus::kInconsistentFile,
                   "mass spectra without scan_acquisition_time: the scans have no times"};
  }
  vars = {*mass, *inten, *time};
  return std::nullopt;
}

// The run's spectra, cut out of the stored points by the checked layout.
void cut_scans(AndiRun& run, const SpectraVariables& vars, const std::vector<double>& times,
               const std::vector<double>& mz, const std::vector<double>& intensity,
               const std::vector<long long>& index, const std::vector<long long>& count,
               const std::string& unit, const std::string& type) {
  run.spectra.resize(vars.time.length);
  for (std::size_t i = 0; i < vars.time.length; ++i) {
    AndiSpectrum& s = run.spectra[i];
    s.index = static_cast<int32_t>(std::min<std::size_t>(i, INT32_MAX));
    s.scan_start_time = times[i];
    s.scan_start_time_unit = unit;
    s.spectrum_type = type;
    const auto from = static_cast<std::ptrdiff_t>(index[i]);
    const auto to = from + static_cast<std::ptrdiff_t>(count[i]);
    s.mz_array.assign(mz.begin() + from, mz.begin() + to);
    s.intensity_array.assign(intensity.begin() + from, intensity.begin() + to);
    // An empty scan keeps the dtypes the mzML ingestion reports for an
    // empty array (an empty binary element is read as no array at all), so
    // the same spectra give the same document from either format.
    if (count[i] != 0) {
      s.mz_array_dtype = dtype_name(vars.mass.type);
      s.intensity_array_dtype = dtype_name(vars.intensity.type);
    }
  }
}

std::optional<Failure> read_open(int nc, AndiRun& run) {
  SpectraVariables vars;
  if (auto f = find_spectra_variables(nc, vars)) return f;
  std::vector<long long> index;
  std::vector<long long> count;
  if (auto f = scan_layout(nc, vars.time.length, vars.mass.length, index, count)) return f;

  std::vector<double> times;
  std::vector<double> mz;
  std::vector<double> intensity;
  if (auto f = read_doubles(nc, "scan_acquisition_time", vars.time, times)) return f;
  if (auto f = read_doubles(nc, "mass_values", vars.mass, mz)) return f;
  if (auto f = read_doubles(nc, "intensity_values", vars.intensity, intensity)) return f;

  // The template fixes seconds; a units attribute naming minutes is honoured.
  std::string unit = "second";
  if (auto u = text_attribute(nc, vars.time.id, "units"); u && contains_ci(*u, "min"))
    unit = "minute";
  std::string type = "centroid spectrum";
  if (auto e = text_attribute(nc, NC_GLOBAL, "experiment_type"); e && contains_ci(*e, "continuum"))
    type = "profile spectrum";
  if (auto s = text_attribute(nc, NC_GLOBAL, "source_file_reference")) run.source_file_name = *s;
  if (auto t = text_attribute(nc, NC_GLOBAL, "experiment_date_time_stamp"))
    run.run_start_time = andi_time_stamp_to_iso(*t);

  cut_scans(run, vars, times, mz, intensity, index, count, unit, type);
  return std::nullopt;
}

AndiReadResult read_buffer(std::vector<char>& buffer, std::string_view path) {
  AndiReadResult r;
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(buffer.data()),
                                         buffer.size());
  if (buffer.empty()) {
    r.status = AndiStatus::kNotNetcdf;
    r.message = "empty file (0 bytes): not a netCDF file";
    return r;
  }
  std::optional<Failure> fail;
  {
    const std::lock_guard<std::mutex> lock(netcdf_lock());
    Dataset ds;
    const std::string name(path);
    const int rc = nc_open_mem(name.c_str(), NC_NOWRITE, buffer.size(), buffer.data(), &ds.id);
    if (rc != NC_NOERR) {
      ds.id = -1;
      // A file that starts like netCDF but does not open has a header cut
      // short or damaged; anything else is some other kind of file.
      if (has_magic(bytes)) {
        fail = Failure{AndiStatus::kIncompleteFile,
                       "the netCDF header is cut short or damaged (" + nc_text(rc) + ")"};
      } else {
        fail = Failure{AndiStatus::kNotNetcdf,
                       "not a netCDF file (no netCDF or HDF5 signature at the start)"};
      }
    } else {
      fail = read_open(ds.id, r.run);
    }
  }
  if (fail) {
    r.status = fail->status;
    r.message = std::move(fail->message);
    r.run = AndiRun{};
    return r;
  }
  r.status = AndiStatus::kOk;
  r.message = std::to_string(r.run.spectra.size()) + " spectra";
  return r;
}

}  // namespace

std::string_view status_text(AndiStatus status) {
  switch (status) {
    case AndiStatus::kOk: return "ok";
    case AndiStatus::kNotNetcdf: return "not_netcdf";
    case AndiStatus::kNoMassSpectra: return "no_mass_spectra";
    case AndiStatus::kInconsistentFile: return "inconsistent_file";
    case AndiStatus::kIncompleteFile: return "incomplete_file";
    case AndiStatus::kUnreadable: return "unreadable";
  }
  return "unknown";
}

bool has_netcdf_signature(std::span<const std::byte> head) { return has_magic(head); }

std::optional<std::string> read_andi_time_stamp(std::string_view path) {
  // The stamp sits in the header, so the file backend (which opens without
  // loading the scans) is enough here; a header cut short fails nc_open.
  const std::string name(path);
  const std::lock_guard<std::mutex> lock(netcdf_lock());
  Dataset ds;
  if (nc_open(name.c_str(), NC_NOWRITE, &ds.id) != NC_NOERR) {
    ds.id = -1;
    return std::nullopt;
  }
  return text_attribute(ds.id, NC_GLOBAL, "experiment_date_time_stamp");
}

AndiReadResult read_andi_bytes(std::span<const std::byte> bytes, std::string_view path) {
  // nc_open_mem takes a writable pointer; the copy keeps the caller's bytes
  // out of the library's reach.
  std::vector<char> buffer(bytes.size());
  if (!bytes.empty()) std::memcpy(buffer.data(), bytes.data(), bytes.size());
  return read_buffer(buffer, path);
}

AndiReadResult read_andi_run(std::string_view path) {
  AndiReadResult r;
  const std::string name(path);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(name.c_str(), "rb"),
                                                          &std::fclose);
  std::vector<char> buffer;
  bool ok = f != nullptr;
  // Read in blocks until the end: a pipe or a file that changes size is
  // taken as it reads, not as a status query said.
  constexpr std::size_t kBlock = 1 << 20;
  while (ok) {
    const std::size_t at = buffer.size();
    buffer.resize(at + kBlock);
    const std::size_t got = std::fread(buffer.data() + at, 1, kBlock, f.get());
    buffer.resize(at + got);
    if (got < kBlock) {
      ok = std::ferror(f.get()) == 0;
      break;
    }
  }
  if (!ok) {
    r.status = AndiStatus::kUnreadable;
    // errno names the reason; it is read right after the failing call.
    r.message = "cannot read " + name + ": " + std::strerror(errno);
    return r;
  }
  return read_buffer(buffer, path);
}

std::string spectra_document(const AndiRun& run) {
  std::size_t bound = 16;
  for (const AndiSpectrum& s : run.spectra)
    bound += 320 + (s.mz_array.size() + s.intensity_array.size()) * (kG17TextSize + 1);
  std::string out;
  out.reserve(bound);
  out.append("{\"spectra\":[");
  for (std::size_t i = 0; i < run.spectra.size(); ++i) {
    const AndiSpectrum& s = run.spectra[i];
    if (i != 0) out.push_back(',');
    out.append("{\"index\":");
    append_integer(out, s.index);
    out.append(",\"scan_start_time\":");
    append_g17(out, s.scan_start_time);
    out.append(",\"scan_start_time_unit\":");
    append_json_string(out, s.scan_start_time_unit);
    out.append(",\"ms_level\":");
    append_integer(out, s.ms_level);
    out.append(",\"spectrum_type\":");
    append_json_string(out, s.spectrum_type);
    out.append(",\"mz_array\":");
    append_g17_array(out, s.mz_array);
    out.append(",\"intensity_array\":");
    append_g17_array(out, s.intensity_array);
    out.append(",\"mz_array_dtype\":");
    append_json_string(out, s.mz_array_dtype);
    out.append(",\"intensity_array_dtype\":");
    append_json_string(out, s.intensity_array_dtype);
    out.append(",\"array_compression\":");
    append_json_string(out, s.array_compression);
    out.push_back('}');
  }
  out.append("]}");
  return out;
}

std::string run_summary_document(const AndiRun& run, std::string_view path) {
  std::string out;
  out.append("{\"source_file_name\":");
  append_json_string(out, run.source_file_name);
  out.append(",\"source_file_path\":");
  append_json_string(out, path);
  out.append(",\"mzml_version\":\"1.1.0\",\"run_start_time\":");
  append_json_string(out, run.run_start_time);
  out.append(",\"spectrum_count\":");
  append_integer(out, static_cast<int64_t>(run.spectra.size()));
  out.append(",\"chromatogram_count\":0}");
  return out;
}

AndiDocuments read_andi_file(std::string_view path) {
  AndiReadResult r = read_andi_run(path);
  AndiDocuments d;
  d.status = r.status;
  d.message = std::move(r.message);
  if (r.status == AndiStatus::kOk) {
    d.spectra_json = spectra_document(r.run);
    d.summary_json = run_summary_document(r.run, path);
  }
  return d;
}

std::string andi_time_stamp_to_iso(std::string_view stamp) {
  if (stamp.size() < 14 ||
      !std::all_of(stamp.begin(), stamp.begin() + 14,
                   [](char c) { return c >= '0' && c <= '9'; }))
    return std::string(stamp);
  const auto num = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (stamp[i] - '0');
    return v;
  };
  if (num(4, 2) < 1 || num(4, 2) > 12 || num(6, 2) < 1 || num(6, 2) > 31 || num(8, 2) > 23 ||
      num(10, 2) > 59 || num(12, 2) > 60)
    return std::string(stamp);
  std::string out;
  out.reserve(25);
  out.append(stamp.substr(0, 4)).push_back('-');
  out.append(stamp.substr(4, 2)).push_back('-');
  out.append(stamp.substr(6, 2)).push_back('T');
  out.append(stamp.substr(8, 2)).push_back(':');
  out.append(stamp.substr(10, 2)).push_back(':');
  out.append(stamp.substr(12, 2));
  // Only a plain "+hhmm"/"-hhmm" is a zone; vendors append other digits
  // (milliseconds, offsets in milliseconds) that have no agreed meaning.
  const std::string_view zone = stamp.substr(14);
  if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') &&
      std::all_of(zone.begin() + 1, zone.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    out.append(zone.substr(0, 3)).push_back(':');
    out.append(zone.substr(3, 2));
  }
  return out;
}

}  // namespace vx::host::formats
