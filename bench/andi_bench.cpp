// Ingestion from ANDI-MS against ingestion from mzML, in CPU time: the mzML
// file is read with the project's mzML reader and its spectra document built
// as the ingestion step builds it, then the same spectra are written as an
// ANDI-MS file (netCDF library, arrays at the mzML file's widths) and read
// back to documents with the formats layer's reader.
// Usage: andi_bench FILE.mzML [OUT.cdf] [repeats]
#include <netcdf.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "andi_reader.hpp"
#include "mzml/ingestion_step.hpp"
#include "mzml/mzml_reader.hpp"

namespace {

double cpu_seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

bool fits_float(const std::vector<vx::mzml::MzmlSpectrum>& spectra, bool mz) {
  for (const auto& s : spectra)
    for (const double v : mz ? s.mz_array : s.intensity_array)
      if (static_cast<double>(static_cast<float>(v)) != v) return false;
  return true;
}

bool write_andi(const std::vector<vx::mzml::MzmlSpectrum>& spectra, const std::string& path) {
  std::vector<double> times, mz, in;
  std::vector<int> index, count;
  for (const auto& s : spectra) {
    times.push_back(s.scan_start_time);
    index.push_back(static_cast<int>(mz.size()));
    count.push_back(static_cast<int>(s.mz_array.size()));
    mz.insert(mz.end(), s.mz_array.begin(), s.mz_array.end());
    in.insert(in.end(), s.intensity_array.begin(), s.intensity_array.end());
  }
  int nc = 0, sd = 0, pd = 0, vt = 0, vi = 0, vc = 0, vm = 0, vn = 0;
  if (nc_create(path.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &nc) != NC_NOERR) return false;
  nc_set_fill(nc, NC_NOFILL, nullptr);
  nc_def_dim(nc, "scan_number", std::max<std::size_t>(times.size(), 1), &sd);
  nc_def_dim(nc, "point_number", NC_UNLIMITED, &pd);
  nc_def_var(nc, "scan_acquisition_time", NC_DOUBLE, 1, &sd, &vt);
  const std::string unit =
      !spectra.empty() && spectra[0].scan_start_time_unit == "minute" ? "Minutes" : "Seconds";
  nc_put_att_text(nc, vt, "units", unit.size(), unit.c_str());
  nc_def_var(nc, "scan_index", NC_INT, 1, &sd, &vi);
  nc_def_var(nc, "point_count", NC_INT, 1, &sd, &vc);
  nc_def_var(nc, "mass_values", fits_float(spectra, true) ? NC_FLOAT : NC_DOUBLE, 1, &pd, &vm);
  nc_def_var(nc, "intensity_values", fits_float(spectra, false) ? NC_FLOAT : NC_DOUBLE, 1, &pd,
             &vn);
  nc_enddef(nc);
  nc_put_var_double(nc, vt, times.data());
  nc_put_var_int(nc, vi, index.data());
  nc_put_var_int(nc, vc, count.data());
  const std::size_t start = 0, n = mz.size();
  nc_put_vara_double(nc, vm, &start, &n, mz.data());
  nc_put_vara_double(nc, vn, &start, &n, in.data());
  return nc_close(nc) == NC_NOERR;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: andi_bench FILE.mzML [OUT.cdf] [repeats]\n");
    return 2;
  }
  const std::string mzml = argv[1];
  const std::string cdf = argc > 2 ? argv[2] : mzml + ".cdf";
  const int repeats = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  {
    std::vector<vx::mzml::MzmlSpectrum> spectra;
    std::string summary;
    if (!vx::mzml::read_mzml_file(mzml, spectra, summary) || !write_andi(spectra, cdf)) {
      std::fprintf(stderr, "cannot read %s or write %s\n", mzml.c_str(), cdf.c_str());
      return 1;
    }
  }
  double best_mzml = 1e300, best_andi = 1e300;
  std::size_t mzml_bytes = 0, andi_bytes = 0;
  bool same = false;
  for (int r = 0; r < repeats; ++r) {
    double t0 = cpu_seconds();
    vx::common::JsonWriter w;
    w.raw("{\"spectra\":[");
    bool first = true;
    std::string summary;
    vx::mzml::read_mzml_file(
        mzml,
        [&](vx::mzml::MzmlSpectrum& s, const vx::mzml::SpectrumSpan&) {
          if (!first) w.raw(",");
          first = false;
          vx::mzml::append_spectrum_entry(w, s);
        },
        summary);
    w.raw("]}");
    const std::string from_mzml = w.take();
    best_mzml = std::min(best_mzml, cpu_seconds() - t0);
    t0 = cpu_seconds();
    const vx::host::formats::AndiDocuments d = vx::host::formats::read_andi_file(cdf);
    best_andi = std::min(best_andi, cpu_seconds() - t0);
    mzml_bytes = from_mzml.size();
    andi_bytes = d.spectra_json.size();
    same = d.spectra_json == from_mzml;
  }
  std::printf("mzML ingestion (reader + spectra document): %.3f s CPU, document %zu bytes\n",
              best_mzml, mzml_bytes);
  std::printf("ANDI-MS reader + documents:                 %.3f s CPU, document %zu bytes\n",
              best_andi, andi_bytes);
  std::printf("documents identical: %s (best of %d)\n", same ? "yes" : "no", repeats);
  return same ? 0 : 1;
}
