// Stand-ins for the three GC-MS steps with the same slots and documents, so
// the host's scheduling, row building and exit codes can be tested without
// the real steps. Values are derived from the inputs (a hash), so different
// files and targets give different rows; each call also spins for a
// hash-dependent moment so that parallel runs finish in a shuffled order.
// The ingestion stand-in reacts to the path:
//   "*missing*" file_not_found, "*unusable*" unsupported_encoding,
//   "*malformed*" malformed_number, "*empty*" zero spectra, "*crash*" status 2.
#pragma once

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "vx_steps.h"

namespace vx::testing::fake {

inline uint64_t hash(std::string_view s, uint64_t h = 0xcbf29ce484222325ULL) {
  for (const char c : s) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ULL;
  }
  return h;
}

inline void spin(uint64_t h) {
  volatile uint64_t sink = 0;
  for (uint64_t i = 0; i < (h % 20000); ++i) sink = sink + i;
}

inline std::string num(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return {buf, r.ptr};
}

inline double param_number(const StepValue& v) {
  double d = 0;
  if (v.kind == VX_KIND_FLOAT64 && v.size >= 8) __builtin_memcpy(&d, v.data, 8);
  return d;
}

inline std::string_view param_text(const StepValue& v) {
  return v.data == nullptr ? std::string_view()
                           : std::string_view(static_cast<const char*>(v.data), v.size);
}

inline int32_t emit(HostContext* host, StepValue* outputs, uint64_t slot,
                    const std::string& text) {
  return host->api->set_output_text(host, &outputs[slot], text.data(), text.size());
}

inline std::string input_text(HostContext* host, const StepValue* inputs) {
  const char* text = nullptr;
  uint64_t length = 0;
  if (host->api->get_input_text(host, &inputs[0], &text, &length) != 0) return {};
  return {text, length};
}

inline StepStatus ingestion(HostContext* host, const StepValue* params, uint64_t n_params,
                            const StepValue*, uint64_t, StepValue* outputs,
                            uint64_t n_outputs) {
  if (n_params < 2 || n_outputs < 3) return VX_STATUS_INVALID_INPUT;
  const std::string path(param_text(params[0]));
  spin(hash(path));
  const auto has = [&](std::string_view w) { return path.find(w) != std::string::npos; };
  if (has("crash")) return VX_STATUS_INVALID_INPUT;
  if (has("missing"))
    return emit(host, outputs, 2, R"({"gcms.ingest.file_not_found":true})");
  if (has("unusable"))
    return emit(host, outputs, 2, R"({"gcms.ingest.unsupported_encoding":true})");
  if (has("malformed"))
    return emit(host, outputs, 2, R"({"gcms.ingest.malformed_number":true})");
  const bool empty = has("empty");
  const std::string spectra =
      empty ? R"({"spectra":[]})" : R"({"spectra":[{"index":0,"path":")" + path + "\"}]}";
  if (emit(host, outputs, 2, spectra) != 0) return VX_STATUS_HOST_ERROR;
  if (emit(host, outputs, 0, R"({"chromatograms":[]})") != 0) return VX_STATUS_HOST_ERROR;
  return emit(host, outputs, 1,
              R"({"source_file_name":"","source_file_path":")" + path +
                  R"(","mzml_version":"1.1.0","run_start_time":"","spectrum_count":)" +
                  (empty ? "0" : "1") + R"(,"chromatogram_count":0})");
}

inline StepStatus trace(HostContext* host, const StepValue* params, uint64_t n_params,
                        const StepValue* inputs, uint64_t n_inputs, StepValue* outputs,
                        uint64_t n_outputs) {
  if (n_params < 3 || n_inputs < 1 || n_outputs < 2) return VX_STATUS_INVALID_INPUT;
  const std::string spectra = input_text(host, inputs);
  const double mz = param_number(params[2]);
  const double tol = param_number(params[1]);
  const uint64_t h = hash(num(mz), hash(spectra));
  spin(h);
  const bool empty = spectra == R"({"spectra":[]})";
  const double top = empty ? 0.0 : 1000.0 + static_cast<double>(h % 1000);
  const std::string doc =
      empty
          ? R"({"retention_time":[],"retention_time_unit":"minute","intensity":[],"target_mz":)" +
                num(mz) + R"(,"mass_tolerance_da":)" + num(tol) +
                R"(,"matched_ion_count":0,"max_intensity":0})"
          : R"({"retention_time":[1,1.1,1.2,1.3,1.4],"retention_time_unit":"minute","intensity":[10,)" +
                num(top / 2) + "," + num(top) + "," + num(top / 2) +
                R"(,10],"target_mz":)" + num(mz) + R"(,"mass_tolerance_da":)" + num(tol) +
                R"(,"matched_ion_count":5,"max_intensity":)" + num(top) + "}";
  if (emit(host, outputs, 1, doc) != 0) return VX_STATUS_HOST_ERROR;
  return emit(host, outputs, 0,
              std::string(R"({"gcms.sim.empty_trace":)") + (empty ? "true" : "false") +
                  R"(,"gcms.sim.weak_trace":false,"gcms.sim.mass_window":")" +
                  num(mz - tol) + "-" + num(mz + tol) + "\"}");
}

inline StepStatus fit(HostContext* host, const StepValue* params, uint64_t n_params,
                      const StepValue* inputs, uint64_t n_inputs, StepValue* outputs,
                      uint64_t n_outputs) {
  if (n_params < 3 || n_inputs < 1 || n_outputs < 2) return VX_STATUS_INVALID_INPUT;
  const std::string trace_doc = input_text(host, inputs);
  const double limit = param_number(params[0]);
  const double tol = param_number(params[1]);
  const double rt = param_number(params[2]);
  const uint64_t h = hash(trace_doc, hash(num(rt)));
  spin(h);
  const bool empty = trace_doc.find("\"matched_ion_count\":0") != std::string::npos;
  const double height = empty ? 0.0 : 500.0 + static_cast<double>(h % 997);
  const double center = empty ? rt : rt + static_cast<double>(h % 101) * 1e-4;
  const std::string status = empty ? "no_local_peak" : "success";
  const std::string doc =
      R"({"fitted_retention_time":)" + num(center) +
      R"(,"fitted_retention_time_unit":"minute","peak_height":)" + num(height) +
      R"(,"peak_width":)" + num(empty ? 0.0 : 0.05) + R"(,"peak_area":)" +
      num(height * 0.05 * 2.5066282746310002) + R"(,"baseline":10,"fit_status":")" +
      status + R"(","target_retention_time":)" + num(rt) +
      R"(,"retention_time_tolerance":)" + num(tol) + R"(,"fit_window_min":)" +
      num(rt - tol) + R"(,"fit_window_max":)" + num(rt + tol) +
      R"(,"solver_iterations":)" +
      num(empty       ? 0.0
          : limit < 7 ? limit
                      : 7.0) +
      R"(,"r_squared":0.99,"goodness_of_fit":0.99,"mz":73,"selected_ion_trace_excerpt":[],)"
      R"("fitted_curve_excerpt":[],"excerpt_retention_time":[]})";
  if (emit(host, outputs, 1, doc) != 0) return VX_STATUS_HOST_ERROR;
  return emit(host, outputs, 0,
              std::string(R"({"gcms.fit.no_local_peak":)") + (empty ? "true" : "false") +
                  R"(,"gcms.fit.unstable_fit":false,"gcms.fit.solver_converged":)" +
                  (empty ? "false" : "true") +
                  R"(,"gcms.fit.initial_height_estimate":1})");
}

inline StepStatus refuse(HostContext*, const StepValue*, uint64_t, const StepValue*,
                         uint64_t, StepValue*, uint64_t) {
  return VX_STATUS_INVALID_INPUT;
}

}  // namespace vx::testing::fake
