// Spectra documents for the trace tests, in the layout the ingestion step
// writes: one compact object per spectrum, ten members in fixed order.
#pragma once

#include <string>
#include <vector>

#include "common/json_writer.hpp"

namespace vx::trace::docs {

struct Spectrum {
  double time = 0.0;
  std::string unit = "minute";
  std::vector<double> mz;
  std::vector<double> intensity;
  int ms_level = 1;
  std::string type = "centroid spectrum";
};

inline void append_entry(common::JsonWriter& w, int index, const Spectrum& s) {
  w.raw("{\"index\":").integer(index).raw(",\"scan_start_time\":").number(s.time);
  w.raw(",\"scan_start_time_unit\":").string(s.unit);
  w.raw(",\"ms_level\":").integer(s.ms_level).raw(",\"spectrum_type\":").string(s.type);
  w.raw(",\"mz_array\":").number_array(s.mz);
  w.raw(",\"intensity_array\":").number_array(s.intensity);
  w.raw(",\"mz_array_dtype\":\"float64\",\"intensity_array_dtype\":\"float32\"");
  w.raw(",\"array_compression\":\"none\"}");
}

inline std::string spectra_document(const std::vector<Spectrum>& spectra) {
  common::JsonWriter w;
  w.raw("{\"spectra\":[");
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    if (i != 0) w.raw(",");
    append_entry(w, static_cast<int>(i), spectra[i]);
  }
  w.raw("]}");
  return w.take();
}

}  // namespace vx::trace::docs
