// GcMsSimTraceExtractionStep through its entry with the reference host on
// any spectra text. The first byte picks the mode (bit 0), the target (bits
// 1-3) and the tolerance (bits 4-6) from small tables of ordinary and odd
// values; the rest is input 0. The step must accept the call and write both
// documents, and the fast reading must give exactly the exact walk's trace.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "common/json_scanner.hpp"
#include "host_session.hpp"
#include "trace/trace_extract.hpp"
#include "vx_steps.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTargets[8] = {73, 0, 1, 100, 207.5, 0.2, -1, 1e300};
constexpr double kTolerances[8] = {
    0.5, 0, 0.3, 1e6, kInf, std::numeric_limits<double>::quiet_NaN(), -1, 2};

StepEntry trace_entry() {
  const char* const* iris = nullptr;
  const int32_t n = vx_list_steps(&iris);
  for (int32_t i = 0; i < n; ++i) {
    if (std::string_view(iris[i]).ends_with("/GcMsSimTraceExtractionStep")) {
      StepDescriptor d{};
      if (vx_resolve_step(iris[i], &d) == 0) return d.entry;
    }
  }
  std::abort();
}

bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t pick = size == 0 ? 0 : data[0];
  const vx::trace::TraceQuery query{kTargets[(pick >> 1) & 7],
                                    kTolerances[(pick >> 4) & 7], (pick & 1) != 0};
  // The document in an exactly sized heap buffer, so reading past it is caught.
  const std::size_t n = size == 0 ? 0 : size - 1;
  const std::unique_ptr<char[]> doc(new char[n == 0 ? 1 : n]);
  if (n != 0) std::memcpy(doc.get(), data + 1, n);

  vx::host::plugin::HostSession host;
  const StepValue params[] = {host.text(query.exact_match ? "exact_match" : ""),
                              host.float64(query.tolerance),
                              host.float64(query.target_mz)};
  const StepValue inputs[] = {StepValue{VX_KIND_TEXT, doc.get(), n}};
  if (host.run(trace_entry(), params, inputs, 2) != 0) std::abort();
  const auto trace_doc = host.output_text(1);
  if (!trace_doc || !host.output_text(0)) std::abort();

  const std::string_view text = vx::common::until_nul({doc.get(), n});
  vx::trace::Trace fast;
  vx::trace::Trace exact;
  vx::trace::extract_trace(text, query, fast);
  vx::trace::extract_trace_exact(text, query, exact);
  if (fast.intensity.size() != exact.intensity.size()) std::abort();
  for (std::size_t i = 0; i < fast.intensity.size(); ++i) {
    if (!same(fast.intensity[i], exact.intensity[i]) ||
        !same(fast.retention_time[i], exact.retention_time[i])) {
      std::abort();
    }
  }
  const auto count = vx::common::read_number_member(*trace_doc, "matched_ion_count");
  if (!count || *count != static_cast<double>(fast.intensity.size())) std::abort();
  return 0;
}
