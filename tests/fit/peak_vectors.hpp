// Loader of the fit test vectors (tests/data/fit/peaks.jsonl): one JSON object
// a line with a trace document, the fit parameters, the generating truth and
// the reference outcome. Shared by the fit tests and the fit benchmark.
#pragma once

#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_scanner.hpp"
#include "fit/gaussian_solver.hpp"

namespace vx::testing {

// A fit as the reference recorded it; the fitted values only on success.
struct RecordedFit {
  std::string outcome;  // "success" or "unstable"
  fit::PeakEstimate estimate;
  int passes = 0;
  double height = 0.0;
  double center = 0.0;
  double width = 0.0;
  double baseline = 0.0;
  double area = 0.0;
  double r_squared = 0.0;
};

// The parameters the peak was generated from (apex and area for tailing peaks).
struct PeakTruth {
  double height = 0.0;
  double center = 0.0;
  double sigma = 0.0;
  double area = 0.0;
  double baseline = 0.0;
  double noise_sd = 0.0;
};

struct PeakVector {
  std::string id;
  std::string category;  // gauss, poisson (counting noise), emg (tailing), interf
  double target = 0.0;
  double tolerance = 0.0;
  int iteration_limit = 0;
  std::string trace;  // the trace document, unescaped
  PeakTruth truth;
  RecordedFit reference;
};

namespace peak_vectors_detail {

inline double number(std::string_view json, std::string_view key) {
  return common::read_number_member(json, key).value_or(0.0);
}

inline std::string_view member(std::string_view json, std::string_view key) {
  return common::find_member_text(json, key).value_or(std::string_view());
}

// The text of a JSON string value with its escapes undone (the vectors use
// only \" and \\; other escapes keep the escaped byte).
inline std::string unquote(std::string_view raw) {
  std::string out;
  if (raw.size() < 2) return out;
  raw = raw.substr(1, raw.size() - 2);
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
    out.push_back(raw[i]);
  }
  return out;
}

inline RecordedFit recorded(std::string_view json) {
  RecordedFit r;
  common::read_string_member(json, "outcome", r.outcome);
  const std::string_view e = member(json, "estimate");
  r.estimate = {number(e, "height"), number(e, "center"), number(e, "width"),
                number(e, "baseline")};
  r.passes = static_cast<int>(number(json, "passes"));
  r.height = number(json, "height");
  r.center = number(json, "center");
  r.width = number(json, "width");
  r.baseline = number(json, "baseline");
  r.area = number(json, "area");
  r.r_squared = number(json, "r_squared");
  return r;
}

}  // namespace peak_vectors_detail

// Every line of the file; empty when it cannot be read.
inline std::vector<PeakVector> load_peak_vectors(const std::string& path) {
  namespace d = peak_vectors_detail;
  std::vector<PeakVector> out;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    PeakVector v;
    common::read_string_member(line, "id", v.id);
    common::read_string_member(line, "category", v.category);
    v.target = d::number(line, "target_retention_time");
    v.tolerance = d::number(line, "retention_time_tolerance");
    v.iteration_limit = static_cast<int>(d::number(line, "iteration_limit"));
    v.trace = d::unquote(d::member(line, "trace"));
    const std::string_view truth = d::member(line, "truth");
    v.truth = {d::number(truth, "height"),   d::number(truth, "center"),
               d::number(truth, "sigma"),    d::number(truth, "area"),
               d::number(truth, "baseline"), d::number(truth, "noise_sd")};
    v.reference = d::recorded(d::member(line, "reference"));
    out.push_back(std::move(v));
  }
  return out;
}

}  // namespace vx::testing
