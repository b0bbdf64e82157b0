// The C API of libvx_compact.so, through the shared library the Python
// package loads: whole-run totals and the flags they raise, restricted
// documents, and every argument it must refuse rather than read out of range.
#include "vx_compact.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// An entry in the layout the ingestion step writes, so the document can be
// restricted in time.
std::string entry(int index, double minutes, std::string_view mz,
                  std::string_view intensity) {
  char time[32];
  std::snprintf(time, sizeof time, "%.17g", minutes);
  return R"({"index":)" + std::to_string(index) + R"(,"scan_start_time":)" + time +
         R"(,"scan_start_time_unit":"minute","ms_level":1,"spectrum_type":"centroid spectrum",)"
         R"("mz_array":[)" +
         std::string(mz) + R"(],"intensity_array":[)" + std::string(intensity) +
         R"(],"mz_array_dtype":"float64","intensity_array_dtype":"float32",)"
         R"("array_compression":"none"})";
}

const std::string kRun = R"({"spectra":[)" + entry(0, 1.0, "73,100", "50,0.5") + "," +
                         entry(1, 2.0, "73,100", "80,0.25") + "," +
                         entry(2, 3.0, "73", "20") + "]}";

struct Handle {
  VxcCompact* compact = nullptr;
  VxcBuffer* buffer = vxc_buffer_new();
  Handle(std::string_view text, const std::vector<VxcQuery>& queries) {
    EXPECT_EQ(
        vxc_open(text.data(), text.size(), queries.data(), queries.size(), &compact), 0);
  }
  ~Handle() {
    vxc_close(compact);
    vxc_buffer_free(buffer);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

TEST(CompactCApi, TotalsCoverTheWholeRunAndRaiseTheTraceFlags) {
  uint32_t empty = 0;
  uint32_t weak = 0;
  ASSERT_STREQ(vxc_flag_name(0, &empty), "gcms.sim.empty_trace");
  ASSERT_STREQ(vxc_flag_name(1, &weak), "gcms.sim.weak_trace");
  EXPECT_EQ(vxc_flag_name(2, nullptr), nullptr);
  EXPECT_EQ(empty & weak, 0U);

  struct Case {
    const char* name;
    VxcQuery query;
    uint64_t points;
    double max_intensity;
    uint32_t flags;
  };
  const std::vector<Case> cases = {
      {"strong ion in every scan", {73.0, 0.5, 0, 0}, 3, 80.0, 0},
      {"ion below 1 is weak", {100.2, 0.3, 0, 0}, 2, 0.5, weak},
      {"exact match", {100.0, 0.0, 1, 0}, 2, 0.5, weak},
      {"ion nowhere is empty", {500.0, 0.1, 0, 0}, 0, 0.0, empty},
  };
  std::vector<VxcQuery> queries;
  for (const Case& c : cases) queries.push_back(c.query);
  const Handle h(kRun, queries);
  ASSERT_EQ(vxc_restrictable(h.compact), 1);
  for (uint64_t q = 0; q < cases.size(); ++q) {
    SCOPED_TRACE(cases[q].name);
    VxcTotals t{};
    ASSERT_EQ(vxc_totals(h.compact, q, &t), 0);
    EXPECT_EQ(t.points, cases[q].points);
    EXPECT_EQ(t.max_intensity, cases[q].max_intensity);
    EXPECT_EQ(t.flags, cases[q].flags);
  }
}

TEST(CompactCApi, RestrictedDocumentHoldsOnlyTheScansInRange) {
  const std::vector<VxcQuery> queries = {{73.0, 0.5, 0, 0}, {300.0, 0.5, 0, 0}};
  const Handle h(kRun, queries);
  EXPECT_NE(vxc_group_of(h.compact, 0), vxc_group_of(h.compact, 1));
  double lo = 0.0;
  double hi = 0.0;
  ASSERT_EQ(vxc_trace_range(2.0, 0.1, &lo, &hi), 1);
  EXPECT_LT(lo, 1.5);  // the fit window widened by the decision's margin
  EXPECT_GT(hi, 2.5);
  const char* data = nullptr;
  uint64_t size = 0;
  ASSERT_EQ(vxc_document(h.compact, vxc_group_of(h.compact, 0), 1, 1.5, 2.5, h.buffer,
                         &data, &size),
            0);
  const std::string restricted(data, size);
  EXPECT_EQ(restricted, R"({"spectra":[)" + entry(1, 2.0, "73", "80") + "]}");
  ASSERT_EQ(vxc_document(h.compact, vxc_group_of(h.compact, 0), 0, 0, 0, h.buffer, &data,
                         &size),
            0);
  // Unrestricted, the group's document keeps every scan.
  EXPECT_EQ(std::string(data, size), R"({"spectra":[)" + entry(0, 1.0, "73", "50") + "," +
                                         entry(1, 2.0, "73", "80") + "," +
                                         entry(2, 3.0, "73", "20") + "]}");
}

TEST(CompactCApi, RefusesWhatItCannotUse) {
  const std::vector<VxcQuery> queries = {{73.0, 0.5, 0, 0}};
  const Handle h(kRun, queries);
  // An entry in another form is copied whole and cannot be restricted.
  const Handle odd(R"({"spectra":[{"mz_array":[73],"intensity_array":[5]}]})", queries);
  ASSERT_EQ(vxc_restrictable(odd.compact), 0);
  VxcCompact* out = nullptr;
  const char* data = nullptr;
  uint64_t size = 0;
  VxcTotals totals{};
  struct Case {
    const char* name;
    std::function<int32_t()> call;
    int32_t want;
  };
  const std::vector<Case> cases = {
      {"open without out", [&] { return vxc_open("{}", 2, queries.data(), 1, nullptr); },
       2},
      {"open null text", [&] { return vxc_open(nullptr, 5, queries.data(), 1, &out); },
       2},
      {"open null queries", [&] { return vxc_open("{}", 2, nullptr, 1, &out); }, 2},
      {"document null handle",
       [&] { return vxc_document(nullptr, 0, 0, 0, 0, h.buffer, &data, &size); }, 2},
      {"document null buffer",
       [&] { return vxc_document(h.compact, 0, 0, 0, 0, nullptr, &data, &size); }, 2},
      {"document null size",
       [&] { return vxc_document(h.compact, 0, 0, 0, 0, h.buffer, &data, nullptr); }, 2},
      {"document group out of range",
       [&] { return vxc_document(h.compact, 1, 0, 0, 0, h.buffer, &data, &size); }, 2},
      {"restricted document of an odd run",
       [&] { return vxc_document(odd.compact, 0, 1, 0, 9, odd.buffer, &data, &size); },
       2},
      {"whole document of an odd run",
       [&] { return vxc_document(odd.compact, 0, 0, 0, 0, odd.buffer, &data, &size); },
       0},
      {"totals query out of range", [&] { return vxc_totals(h.compact, 1, &totals); }, 2},
      {"totals of an odd run", [&] { return vxc_totals(odd.compact, 0, &totals); }, 2},
      {"totals without out", [&] { return vxc_totals(h.compact, 0, nullptr); }, 2},
      {"trace range of a NaN window",
       [&] { return vxc_trace_range(1.0, kNaN, nullptr, nullptr); }, 0},
      {"trace range of a negative window",
       [&] { return vxc_trace_range(1.0, -0.1, nullptr, nullptr); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), c.want);
  }
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(vxc_group_of(h.compact, 1), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(vxc_group_of(nullptr, 0), std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(vxc_group_count(nullptr), 0U);
  EXPECT_EQ(vxc_restrictable(nullptr), 0);
  // An empty text with no queries is a valid, empty set of documents.
  ASSERT_EQ(vxc_open(nullptr, 0, nullptr, 0, &out), 0);
  EXPECT_EQ(vxc_group_count(out), 0U);
  vxc_close(out);
  vxc_close(nullptr);
  vxc_buffer_free(nullptr);
}

}  // namespace
