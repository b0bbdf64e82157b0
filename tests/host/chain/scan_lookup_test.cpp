// Scans found by time in a spectra document: the nearest entry whichever
// side it lies on, seconds converted, and documents it cannot use.
#include "scan_lookup.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace vx::host::chain {
namespace {

// n entries at times t0, t0 + step, ... in the ingestion layout; entry i
// holds the one peak (100 + i, i + 1).
std::string document(int n, double t0, double step, const char* unit = "minute") {
  std::string d = "{\"spectra\":[";
  for (int i = 0; i < n; ++i) {
    if (i > 0) d += ',';
    d += "{\"index\":" + std::to_string(i) +
         ",\"scan_start_time\":" + std::to_string(t0 + step * i) +
         ",\"scan_start_time_unit\":\"" + unit +
         "\",\"ms_level\":1,\"spectrum_type\":\"centroid\",\"mz_array\":[" +
         std::to_string(100 + i) + "],\"intensity_array\":[" + std::to_string(i + 1) +
         "],\"mz_array_dtype\":\"float64\",\"intensity_array_dtype\":\"float32\"}";
  }
  return d + "]}";
}

TEST(ScanLookup, FindsTheNearestEntry) {
  struct Case {
    std::string what;
    std::string doc;
    double time;
    int want;  // the entry's index; -1: none
  };
  const Case cases[] = {
      {"exact", document(50, 1.0, 0.01), 1.2, 20},
      {"nearer the later", document(50, 1.0, 0.01), 1.2071, 21},
      {"nearer the earlier", document(50, 1.0, 0.01), 1.2029, 20},
      {"a tie takes the earlier", document(3, 1.0, 0.5), 1.25, 0},
      {"before the first", document(50, 1.0, 0.01), 0.2, 0},
      {"after the last", document(50, 1.0, 0.01), 9.0, 49},
      {"one entry", document(1, 3.0, 0.0), 2.0, 0},
      {"seconds", document(50, 60.0, 0.6, "second"), 1.2, 20},
      {"no entry", "{\"spectra\":[]}", 1.0, -1},
      {"not a spectra document", "{\"chromatograms\":[]}", 1.0, -1},
      {"a time that is no number", document(1, 1.0, 0.0), std::nan(""), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ScanLookup lookup(c.doc);
    const auto s = lookup.nearest(c.time);
    if (c.want < 0) {
      EXPECT_FALSE(s.has_value());
      continue;
    }
    ASSERT_TRUE(s.has_value());
    ASSERT_EQ(s->mz.size(), 1u);
    EXPECT_EQ(s->mz[0], 100 + c.want);
    EXPECT_EQ(s->intensity[0], c.want + 1);
  }
}

TEST(ScanLookup, DamagedEntriesGiveNoScan) {
  std::string cut = document(3, 1.0, 0.1);
  cut.resize(cut.rfind("\"intensity_array\":[") + 20);  // the list never closes
  EXPECT_FALSE(ScanLookup(cut).nearest(1.2).has_value());
  std::string text_time = document(3, 1.0, 0.1);
  text_time.replace(text_time.find("1.100000"), 8, "\"soon\"");
  EXPECT_FALSE(ScanLookup(text_time).nearest(1.1).has_value());
}

}  // namespace
}  // namespace vx::host::chain
