// Runs GcMsTargetedGaussianFitStep through its real entry with the reference
// host and reads the values back from the two documents it wrote.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_scanner.hpp"
#include "common/json_writer.hpp"
#include "host_session.hpp"
#include "test_support.hpp"

namespace vx::testing {

struct FitRun {
  StepStatus status = 0;
  std::string result;       // output 1
  std::string diagnostics;  // output 0

  double number(std::string_view key) const {
    return common::read_number_member(result, key).value_or(-12345.0);
  }
  double diagnostic(std::string_view key) const {
    return common::read_number_member(diagnostics, key).value_or(-12345.0);
  }
  std::string status_text() const {
    std::string s;
    common::read_string_member(result, "fit_status", s);
    return s;
  }
  std::vector<double> array(std::string_view key) const {
    return common::parse_number_list(common::find_member_text(result, key).value_or(""));
  }
};

// The step with parameters (limit, tolerance, target) as Float64 values and
// the trace text as input 0.
inline FitRun run_fit_step(double target, double tolerance, double limit,
                           std::string_view trace) {
  static_assert(sizeof(double) == 8);
  host::plugin::HostSession host;
  const StepValue params[] = {host.float64(limit), host.float64(tolerance),
                              host.float64(target)};
  const StepValue inputs[] = {host.text(trace)};
  FitRun run;
  run.status = host.run(step_entry("GcMsTargetedGaussianFitStep"), params, inputs, 2);
  run.result = host.output_text(1).value_or("");
  run.diagnostics = host.output_text(0).value_or("");
  return run;
}

// A trace document with the given points, as the trace step writes it; an
// empty mz leaves out the target_mz member.
inline std::string trace_document(const std::vector<double>& times,
                                  const std::vector<double>& intensities,
                                  std::string_view mz = "73") {
  std::string out = "{\"retention_time\":";
  out += common::format_number_array(times);
  out += ",\"retention_time_unit\":\"minute\",\"intensity\":";
  out += common::format_number_array(intensities);
  if (!mz.empty()) {
    out += ",\"target_mz\":";
    out += mz;
  }
  out += "}";
  return out;
}

}  // namespace vx::testing
