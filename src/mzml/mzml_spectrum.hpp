// One spectrum as read from an mzML file: a plain value record. The reader
// fills one record per spectrum element; reset_spectrum makes a used record
// fresh again while keeping the capacity of its arrays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vx::mzml {

struct MzmlSpectrum {
  int32_t index = 0;
  double scan_start_time = 0.0;
  std::string scan_start_time_unit = "minute";
  int32_t ms_level = 1;
  std::string spectrum_type = "centroid spectrum";
  std::vector<double> mz_array;
  std::vector<double> intensity_array;
  std::string mz_array_dtype = "float64";
  std::string intensity_array_dtype = "float32";
  std::string array_compression = "none";
};

// The defaults of a new record with the given index; arrays are emptied but
// keep their capacity.
inline void reset_spectrum(MzmlSpectrum& s, int32_t index) {
  s.index = index;
  s.scan_start_time = 0.0;
  s.scan_start_time_unit.assign("minute");
  s.ms_level = 1;
  s.spectrum_type.assign("centroid spectrum");
  s.mz_array.clear();
  s.intensity_array.clear();
  s.mz_array_dtype.assign("float64");
  s.intensity_array_dtype.assign("float32");
  s.array_compression.assign("none");
}

}  // namespace vx::mzml
