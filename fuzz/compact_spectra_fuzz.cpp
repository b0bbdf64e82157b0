// vxrun's compact spectra documents on any text and query list. The first
// byte gives the number of queries (1-4, bits 0-1); each of the next bytes
// picks a query's mode (bit 0), target (bits 1-3) and tolerance (bits 4-6)
// from small tables of ordinary and odd values; the rest is the document.
// Every query traced on its group's compact document, with the fast and
// with the exact reading, must give the bytes the whole document gives.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compact_spectra.hpp"
#include "trace/trace_extract.hpp"
#include "trace/trace_step.hpp"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTargets[8] = {73, 73.25, 74, 100, 0, -1, 1e300, kInf};
constexpr double kTolerances[8] = {
    0.5, 0, 0.25, 1e-9, kInf, std::numeric_limits<double>::quiet_NaN(), -1, 2};

std::string traced(std::string_view doc, const vx::host::chain::IonQuery& q, bool exact_reading) {
  const vx::trace::TraceQuery tq{q.mz, q.tolerance, q.exact};
  vx::trace::Trace t;
  if (exact_reading) {
    vx::trace::extract_trace_exact(doc, tq, t);
  } else {
    vx::trace::extract_trace(doc, tq, t);
  }
  return vx::trace::trace_document(t, tq) + vx::trace::diagnostics_document(t, tq);
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::size_t used = 0;
  const std::size_t count = 1 + (size == 0 ? 0 : (data[used++] & 3));
  std::vector<vx::host::chain::IonQuery> queries;
  for (std::size_t i = 0; i < count; ++i) {
    const uint8_t pick = used < size ? data[used++] : 0;
    queries.push_back({kTargets[(pick >> 1) & 7], kTolerances[(pick >> 4) & 7], (pick & 1) != 0});
  }
  // The document in an exactly sized heap buffer, so reading past it is caught.
  const std::size_t n = size - used;
  const std::unique_ptr<char[]> buf(new char[n == 0 ? 1 : n]);
  if (n != 0) std::memcpy(buf.get(), data + used, n);
  const std::string_view full(buf.get(), n);

  const vx::host::chain::CompactSpectra compact(full, queries);
  std::string buffer;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const std::string_view doc = compact.document(compact.group_of(i), buffer);
    const std::string want = traced(full, queries[i], false);
    if (traced(doc, queries[i], false) != want || traced(doc, queries[i], true) != want) {
      std::abort();
    }
  }
  // Restricted documents read from the per-group copies of hot ranges must
  // be the bytes the document itself gives, for ranges hot or not.
  constexpr vx::host::chain::TimeRange kRanges[4] = {{0, 1}, {0.5, 3}, {-1, 1e9}, {2, 1}};
  std::vector<vx::host::chain::TimeRange> hot;
  for (std::size_t i = 0; i < queries.size(); ++i) hot.push_back(kRanges[(i + n) & 3]);
  const vx::host::chain::CompactSpectra copied(full, queries, hot);
  if (copied.group_count() != compact.group_count()) std::abort();
  if (!compact.restrictable()) return 0;
  std::string other;
  for (std::size_t g = 0; g < compact.group_count(); ++g) {
    for (const auto& r : kRanges) {
      if (copied.document(g, other, r) != compact.document(g, buffer, r)) std::abort();
    }
  }
  return 0;
}
