// GcMsTargetedGaussianFitStep through its entry with the reference host, on
// any trace text and any parameters: the first 24 bytes are the iteration
// limit, tolerance and target as raw doubles (bytes missing from a short
// input keep 100, 0.5 and 5), the rest is input 0. The step must accept the
// call, write both documents, and raise exactly the flag its status names.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "host_session.hpp"
#include "vx_steps.h"

namespace {

StepEntry fit_entry() {
  const char* const* iris = nullptr;
  const int32_t n = vx_list_steps(&iris);
  for (int32_t i = 0; i < n; ++i) {
    if (std::string_view(iris[i]).ends_with("/GcMsTargetedGaussianFitStep")) {
      StepDescriptor d{};
      if (vx_resolve_step(iris[i], &d) == 0) return d.entry;
    }
  }
  std::abort();
}

bool flag_is(const std::string& diagnostics, std::string_view key, bool want) {
  const std::string member = "\"" + std::string(key) + "\":" + (want ? "true" : "false");
  return diagnostics.find(member) != std::string::npos;
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  double p[3] = {100, 0.5, 5};
  const std::size_t head = size < sizeof p ? size : sizeof p;
  std::memcpy(p, data, head);
  // The trace in an exactly sized heap buffer, so reading past it is caught.
  const std::size_t n = size - head;
  const std::unique_ptr<char[]> trace(new char[n == 0 ? 1 : n]);
  std::memcpy(trace.get(), data + head, n);

  vx::host::plugin::HostSession host;
  const StepValue params[] = {host.float64(p[0]), host.float64(p[1]), host.float64(p[2])};
  const StepValue inputs[] = {StepValue{VX_KIND_TEXT, trace.get(), n}};
  if (host.run(fit_entry(), params, inputs, 2) != 0) std::abort();

  const auto result = host.output_text(1);
  const auto diagnostics = host.output_text(0);
  if (!result || !diagnostics) std::abort();
  if (result->front() != '{' || result->back() != '}') std::abort();
  const bool none = result->find(R"("fit_status":"no_local_peak")") != std::string::npos;
  const bool unstable =
      result->find(R"("fit_status":"unstable_fit")") != std::string::npos;
  const bool success = result->find(R"("fit_status":"success")") != std::string::npos;
  if (int{none} + int{unstable} + int{success} != 1) std::abort();
  if (!flag_is(*diagnostics, "gcms.fit.no_local_peak", none) ||
      !flag_is(*diagnostics, "gcms.fit.unstable_fit", unstable) ||
      !flag_is(*diagnostics, "gcms.fit.solver_converged", success)) {
    std::abort();
  }
  return 0;
}
