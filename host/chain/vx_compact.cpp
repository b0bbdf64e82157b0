// The C API of vx_compact.h over CompactSpectra. The handle keeps its own
// copy of the queries (totals are read against them) but only a view of the
// spectra text, which the caller keeps. Every entry catches what the C++
// below may throw (only allocation failure) and turns it into a status;
// preconditions of CompactSpectra are checked here, so no argument reaches
// it that it would read out of range.
#include "vx_compact.h"

#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chain_runner.hpp"
#include "compact_spectra.hpp"

struct VxcCompact {
  VxcCompact(std::string_view spectra, std::vector<vx::host::chain::IonQuery> q)
      : queries(std::move(q)), compact(spectra, queries) {}
  std::vector<vx::host::chain::IonQuery> queries;
  vx::host::chain::CompactSpectra compact;
};

struct VxcBuffer {
  std::string text;
};

namespace vx::host::chain {
namespace {

constexpr int32_t kOk = 0;
constexpr int32_t kOutOfMemory = 1;
constexpr int32_t kRefused = 2;

// The trace step's flags that totals over the whole run decide, each with
// its bit; names come from the chain runner, which mends rows the same way.
struct TraceFlag {
  std::string_view name;
  uint32_t bit;
};
constexpr TraceFlag kTraceFlags[] = {{kFlagEmptyTrace, 1U}, {kFlagWeakTrace, 2U}};

// The trace step raises empty_trace without points and weak_trace when its
// points' largest intensity is below 1.
uint32_t trace_flags(const TraceTotals& t) {
  if (t.points == 0) return kTraceFlags[0].bit;
  return t.max_intensity < 1.0 ? kTraceFlags[1].bit : 0U;
}

template <class F>
int32_t guarded(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    return kOutOfMemory;
  }
}

}  // namespace
}  // namespace vx::host::chain

extern "C" {

__attribute__((visibility("default"))) uint64_t vxc_compact_from_queries(void) {
  return vx::host::chain::kCompactFromQueries;
}

__attribute__((visibility("default"))) int32_t vxc_open(const char* spectra,
                                                        uint64_t size,
                                                        const VxcQuery* queries,
                                                        uint64_t n, VxcCompact** out) {
  namespace c = vx::host::chain;
  if (out == nullptr) return c::kRefused;
  *out = nullptr;
  if ((size > 0 && spectra == nullptr) || (n > 0 && queries == nullptr))
    return c::kRefused;
  return c::guarded([&] {
    std::vector<c::IonQuery> q;
    q.reserve(static_cast<std::size_t>(n));
    for (uint64_t i = 0; i < n; ++i)
      q.push_back({queries[i].mz, queries[i].tolerance, queries[i].exact != 0});
    const std::string_view text =
        size > 0 ? std::string_view(spectra, static_cast<std::size_t>(size))
                 : std::string_view();
    *out = new VxcCompact(text, std::move(q));
    return c::kOk;
  });
}

__attribute__((visibility("default"))) void vxc_close(VxcCompact* compact) {
  delete compact;
}

__attribute__((visibility("default"))) uint64_t vxc_group_count(
    const VxcCompact* compact) {
  return compact != nullptr ? compact->compact.group_count() : 0;
}

__attribute__((visibility("default"))) uint64_t vxc_group_of(const VxcCompact* compact,
                                                             uint64_t q) {
  if (compact == nullptr || q >= compact->queries.size())
    return std::numeric_limits<uint64_t>::max();
  return compact->compact.group_of(static_cast<std::size_t>(q));
}

__attribute__((visibility("default"))) int32_t vxc_restrictable(
    const VxcCompact* compact) {
  return compact != nullptr && compact->compact.restrictable() ? 1 : 0;
}

__attribute__((visibility("default"))) int32_t vxc_trace_range(double rt, double rt_tol,
                                                               double* lo, double* hi) {
  const auto range = vx::host::chain::trace_range(rt, rt_tol);
  if (!range) return 0;
  if (lo != nullptr) *lo = range->lo;
  if (hi != nullptr) *hi = range->hi;
  return 1;
}

__attribute__((visibility("default"))) VxcBuffer* vxc_buffer_new(void) {
  return new (std::nothrow) VxcBuffer();
}

__attribute__((visibility("default"))) void vxc_buffer_free(VxcBuffer* buffer) {
  delete buffer;
}

__attribute__((visibility("default"))) int32_t vxc_document(
    const VxcCompact* compact, uint64_t g, int32_t restricted, double lo, double hi,
    VxcBuffer* buffer, const char** data, uint64_t* size) {
  namespace c = vx::host::chain;
  if (data != nullptr) *data = nullptr;
  if (size != nullptr) *size = 0;
  if (compact == nullptr || buffer == nullptr || data == nullptr || size == nullptr ||
      g >= compact->compact.group_count() ||
      (restricted != 0 && !compact->compact.restrictable()))
    return c::kRefused;
  return c::guarded([&] {
    const auto group = static_cast<std::size_t>(g);
    const std::string_view doc =
        restricted != 0
            ? compact->compact.document(group, buffer->text, c::TimeRange{lo, hi})
            : compact->compact.document(group, buffer->text);
    *data = doc.data();
    *size = doc.size();
    return c::kOk;
  });
}

__attribute__((visibility("default"))) int32_t vxc_totals(const VxcCompact* compact,
                                                          uint64_t q, VxcTotals* out) {
  namespace c = vx::host::chain;
  if (out == nullptr) return c::kRefused;
  *out = VxcTotals{};
  if (compact == nullptr || q >= compact->queries.size() ||
      !compact->compact.restrictable())
    return c::kRefused;
  return c::guarded([&] {
    const auto i = static_cast<std::size_t>(q);
    const c::TraceTotals t = compact->compact.totals(i, compact->queries[i]);
    *out = VxcTotals{t.points, t.max_intensity, c::trace_flags(t), 0U};
    return c::kOk;
  });
}

__attribute__((visibility("default"))) const char* vxc_flag_name(uint32_t index,
                                                                 uint32_t* bit) {
  const auto& flags = vx::host::chain::kTraceFlags;
  if (index >= std::size(flags)) return nullptr;
  if (bit != nullptr) *bit = flags[index].bit;
  // The names are string literals, so their views end in a NUL.
  return flags[index].name.data();
}

}  // extern "C"
