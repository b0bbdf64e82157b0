// Trace extraction below the step: the fast reading of ingestion-layout
// entries against the exact byte walk and against a reference computed from
// the records themselves, on random, mutated, malformed and very large
// documents.
#include "trace/trace_extract.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "common/json_scanner.hpp"
#include "host_session.hpp"
#include "spectra_document.hpp"
#include "test_support.hpp"

namespace vx::trace {
namespace {

using docs::spectra_document;
using docs::Spectrum;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_number(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

::testing::AssertionResult same_trace(const Trace& got, const Trace& want) {
  if (got.intensity.size() != want.intensity.size() ||
      got.retention_time.size() != want.retention_time.size()) {
    return ::testing::AssertionFailure()
           << got.intensity.size() << " points instead of " << want.intensity.size();
  }
  for (std::size_t i = 0; i < got.intensity.size(); ++i) {
    if (!same_number(got.retention_time[i], want.retention_time[i]) ||
        !same_number(got.intensity[i], want.intensity[i])) {
      return ::testing::AssertionFailure()
             << "point " << i << ": (" << got.retention_time[i] << ", "
             << got.intensity[i] << ") instead of (" << want.retention_time[i] << ", "
             << want.intensity[i] << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

Trace fast(std::string_view doc, const TraceQuery& q) {
  Trace t;
  extract_trace(doc, q, t);
  return t;
}

Trace exact(std::string_view doc, const TraceQuery& q) {
  Trace t;
  extract_trace_exact(doc, q, t);
  return t;
}

// The trace straight from the records: the largest matching intensity per
// spectrum, times converted to minutes.
Trace reference(const std::vector<Spectrum>& spectra, const TraceQuery& q) {
  Trace t;
  for (const Spectrum& s : spectra) {
    double best = 0.0;
    for (std::size_t i = 0; i < std::min(s.mz.size(), s.intensity.size()); ++i) {
      const double d = std::fabs(s.mz[i] - q.target_mz);
      const bool in = q.exact_match ? d < 1e-9 : d <= q.tolerance;
      if (in && s.intensity[i] > best) best = s.intensity[i];
    }
    if (best == 0.0) continue;
    double time = s.time;
    if (s.unit == "second") time = s.time / 60.0;
    if (s.unit == "millisecond") time = s.time / 60000.0;
    if (s.unit == "hour") time = s.time * 60.0;
    t.retention_time.push_back(time);
    t.intensity.push_back(best);
  }
  return t;
}

// Random spectra that crowd the window edges of the query.
class SpectraSource {
 public:
  explicit SpectraSource(uint64_t seed) : rng_(seed) {}

  double pick(std::initializer_list<double> values) {
    return values.begin()[below(values.size())];
  }
  std::size_t below(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }

  double mz_near(const TraceQuery& q) {
    const double lo = q.target_mz - q.tolerance;
    const double hi = q.target_mz + q.tolerance;
    switch (below(10)) {
      case 0:
        return lo;
      case 1:
        return hi;
      case 2:
        return std::nextafter(pick({lo, hi}), pick({-kInf, kInf}));
      case 3:
        return q.target_mz + pick({0.0, 5e-10, -9.9e-10, 1e-9, 2e-9});
      case 4:
        return std::round(uniform(q.target_mz - 3, q.target_mz + 3));
      case 5:
        return pick({kNaN, kInf, -q.target_mz, 1e-7, 3e22, 0.0});
      default:
        return uniform(q.target_mz - 3, q.target_mz + 3);
    }
  }

  double intensity() {
    switch (below(8)) {
      case 0:
        return pick({0.0, -3.0, kNaN, kInf, 1e300, 5e-324, 0.8});
      default:
        return static_cast<float>(uniform(0, 2e5));
    }
  }

  Spectrum spectrum(const TraceQuery& q) {
    Spectrum s;
    s.time = below(20) == 0 ? pick({kNaN, kInf, -1.0}) : uniform(0, 3600);
    static const std::string kUnits[] = {"minute",      "minute", "second",
                                         "millisecond", "hour",   "Second",
                                         "s",           "",       "min\"ute\\"};
    s.unit = kUnits[below(std::size(kUnits))];
    s.ms_level = static_cast<int>(below(3));
    s.type = below(4) == 0 ? "a}\"]{[\\\t" : "centroid spectrum";
    const std::size_t n = below(12);
    for (std::size_t i = 0; i < n; ++i) s.mz.push_back(mz_near(q));
    std::size_t m = n;
    if (below(5) == 0) m = below(n + 3);  // lists of different lengths
    for (std::size_t i = 0; i < m; ++i) s.intensity.push_back(intensity());
    return s;
  }

  TraceQuery query() {
    return {pick({73, 0.2, 500.123456789, 1e-3, 1234567.0, -2}),
            pick({0.5, 0.3, 0, 1e-12, 2.5}), below(2) == 0};
  }

  std::mt19937_64& rng() { return rng_; }

 private:
  std::mt19937_64 rng_;
};

TEST(TraceExtract, RandomDocumentsMatchTheReference) {
  SpectraSource src(20240611);
  for (int round = 0; round < 400; ++round) {
    TraceQuery q = src.query();
    std::vector<Spectrum> spectra(src.below(20));
    for (Spectrum& s : spectra) s = src.spectrum(q);
    const std::string doc = spectra_document(spectra);
    for (const bool mode : {false, true}) {
      q.exact_match = mode;
      SCOPED_TRACE(doc);
      const Trace want = reference(spectra, q);
      ASSERT_TRUE(same_trace(fast(doc, q), want));
      ASSERT_TRUE(same_trace(exact(doc, q), want));
    }
  }
}

// Pieces that the mutations splice in: structure bytes, escapes, and number
// forms that the fast reading must either read exactly or hand back.
constexpr std::string_view kPieces[] = {
    "\"",
    "\\",
    "{",
    "}",
    "[",
    "]",
    ",",
    ":",
    " ",
    "\t",
    "-",
    ".",
    "e",
    "E",
    "+",
    "0",
    "7",
    "3",
    "x",
    std::string_view("\0", 1),
    "NaN",
    "nan",
    "inf",
    "Infinity",
    "1e99999",
    "0x1p3",
    "0x49",
    "0000000000000000000073",
    "73.0000000000000000001",
    "72.99999999999999999999",
    "7.3e1",
    "-0",
    "1.",
    ".5",
    "1e",
    "--1",
    "\\\"",
    "\"mz_array\":[73]",
    "\"scan_start_time\":",
    "\"scan_start_time_unit\":\"second\"",
    "{\"index\":0,",
    "],\"intensity_array\":[",
};

std::string mutate(std::string doc, SpectraSource& src) {
  const std::size_t edits = 1 + src.below(4);
  for (std::size_t e = 0; e < edits; ++e) {
    const std::size_t at = src.below(doc.size() + 1);
    const std::string_view piece = kPieces[src.below(std::size(kPieces))];
    switch (src.below(4)) {
      case 0:
        doc.insert(at, piece);
        break;
      case 1:
        doc.replace(at, std::min(piece.size(), doc.size() - at), piece);
        break;
      case 2:
        doc.erase(at, 1 + src.below(6));
        break;
      default:
        doc.resize(at);
        break;  // truncated
    }
  }
  return doc;
}

TEST(TraceExtract, MutatedDocumentsReadAlikeOnBothPaths) {
  SpectraSource src(7);
  for (int round = 0; round < 3000; ++round) {
    const TraceQuery q = src.query();
    std::vector<Spectrum> spectra(1 + src.below(4));
    for (Spectrum& s : spectra) s = src.spectrum(q);
    const std::string doc = mutate(spectra_document(spectra), src);
    SCOPED_TRACE(doc);
    const Trace want = exact(doc, q);
    ASSERT_TRUE(same_trace(fast(doc, q), want));
    // Both stop where a C string would end.
    ASSERT_TRUE(same_trace(exact(common::until_nul(doc), q), want));
  }
}

// One element of a number list: mostly what the JSON writer makes, else a
// near miss built from the bytes numbers are made of, a very long digit run
// or a leading zero.
std::string random_element(SpectraSource& src, double target) {
  char buf[40];
  switch (src.below(12)) {
    case 0: {
      std::string t;
      for (std::size_t n = 1 + src.below(8); n != 0; --n)
        t += "0123456789.eE+-"[src.below(15)];
      return t;
    }
    case 1:
      return std::string(60 + src.below(20), '7') + (src.below(2) == 0 ? ".5" : "");
    case 2:
      return src.below(2) == 0 ? "0073.25" : "00";
    case 3:
      std::snprintf(buf, sizeof buf, "%.17g",
                    src.pick({target, -target, 1e-7, 3e22, 0.0}));
      return buf;
    case 4:
      std::snprintf(buf, sizeof buf, "%.17g", std::round(src.uniform(0, 2000)));
      return buf;
    default:
      std::snprintf(buf, sizeof buf, "%.17g",
                    src.uniform(target - 3, target + 3) * (src.below(9) == 0 ? -1 : 1));
      return buf;
  }
}

TEST(TraceExtract, FastListReadingAgreesWithParseNumberList) {
  // Whenever the fast reading accepts a list, it must end where the member
  // scanner ends it and see exactly what parse_number_list sees there.
  SpectraSource src(99);
  const TraceQuery queries[] = {{73, 0.5, false},  {5, 0.3, false},    {500.1, 2, false},
                                {0.2, 0.5, false}, {1234, 0.4, false}, {73, 0.5, true},
                                {-3, 1, false},    {0, 1e6, false},    {10, 0.5, false},
                                {100, 0.3, false}, {9.5, 0.4, false}};
  std::size_t accepted = 0;
  for (int round = 0; round < 4000; ++round) {
    TraceQuery q = queries[src.below(std::size(queries))];
    const bool clean = src.below(2) == 0;  // only writer-made elements
    std::string list = "[";
    for (std::size_t n = src.below(200), i = 0; i < n; ++i) {
      if (i != 0) list += ",";
      if (clean) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g",
                      src.uniform(q.target_mz - 3, q.target_mz + 3));
        list += buf;
      } else {
        list += random_element(src, q.target_mz);
      }
    }
    list += "],\"next\":[1,2]}";
    SCOPED_TRACE(list);
    std::vector<std::size_t> hits;
    std::size_t count = 0;
    std::size_t used = 0;
    if (!detail::read_mz_list(list, q, hits, count, used)) {
      ASSERT_FALSE(clean) << "a list as the writer makes it was handed back";
      continue;
    }
    if (!clean) ++accepted;
    ASSERT_EQ(used, list.find(']') + 1);
    const std::vector<double> values = common::parse_number_list(list.substr(0, used));
    ASSERT_EQ(count, values.size());
    std::vector<std::size_t> want_hits;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (ion_matches(q, values[i])) want_hits.push_back(i);
    }
    ASSERT_EQ(hits, want_hits);

    // The same list as intensities, at some positions, some beyond its end.
    std::vector<std::size_t> at;
    for (std::size_t i = 0; i < count + 3; ++i) {
      if (src.below(4) == 0) at.push_back(i);
    }
    double best = 0.0;
    ASSERT_TRUE(detail::read_intensity_list(list, at, best, count, used));
    double want_best = 0.0;
    for (const std::size_t i : at) {
      if (i < values.size() && values[i] > want_best) want_best = values[i];
    }
    ASSERT_TRUE(same_number(best, want_best));
  }
  EXPECT_GT(accepted, 100u);  // odd but readable lists are taken too, not all handed back
}

TEST(TraceExtract, NumberTextsNearTheWindowEdge) {
  // Texts whose value rounds onto the window edge, or whose integer digits
  // alone cannot decide, must be converted before they are judged.
  struct Case {
    std::string mz;
    TraceQuery q;
    bool matches;
  };
  const Case cases[] = {
      {"74.00000000000000001", {73, 1, false}, true},
      {"71.99999999999999999", {73, 1, false}, true},
      {"74.0000000001", {73, 1, false}, false},
      {"73.0000000000000000001", {73, 0, true}, true},
      {"73.000000001", {73, 0, true}, false},
      {"-0.00000000000000000001", {0.5, 0.5, false}, true},
      {"-0", {0.5, 0.5, false}, true},
      {"0000000000000000000073", {73, 0, true}, true},
      {"7.3e1", {73, 0, true}, true},
      {"73e0", {73, 0, true}, true},
      {"730e-1", {73, 0, true}, true},
      {"1e99999", {kInf, 0, false}, false},  // infinity minus infinity is NaN
      {"1e99999", {0, kInf, false}, true},
      {"5", {4, kNaN, false}, false},
      {"1234567.5", {1234567, 0.5, false}, true},
      // Windows across a power of ten hold integer parts of two lengths.
      {"10.2", {10, 0.5, false}, true},
      {"9.7", {10, 0.5, false}, true},
      {"99.9", {100, 0.3, false}, true},
      {"100.2", {100, 0.3, false}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mz);
    const std::string doc =
        "{\"spectra\":[{\"index\":0,\"scan_start_time\":1,"
        "\"scan_start_time_unit\":\"minute\",\"ms_level\":1,"
        "\"spectrum_type\":\"x\",\"mz_array\":[" +
        c.mz +
        "],\"intensity_array\":[5],\"mz_array_dtype\":\"float64\","
        "\"intensity_array_dtype\":\"float32\",\"array_compression\":"
        "\"none\"}]}";
    EXPECT_EQ(fast(doc, c.q).intensity.size(), c.matches ? 1u : 0u);
    EXPECT_TRUE(same_trace(fast(doc, c.q), exact(doc, c.q)));
  }
}

TEST(TraceExtract, UnusualNumberFormsInEveryPosition) {
  // Each form as the time, as an m/z and as an intensity: both paths agree,
  // and the lists keep one value per form that strtod reads whole.
  const std::string forms[] = {"1e99999", "nan", "NaN", "-Infinity", "0x1p3", "+73",
                               "1.",      ".5",  "1e",  "1e+",       "--1",   "-",
                               "73.5.1",  "1-2", "0x",  "\"73\"",    "",      "null"};
  const TraceQuery q{73, 0.5, false};
  for (const std::string& f : forms) {
    SCOPED_TRACE(f);
    for (int where = 0; where < 3; ++where) {
      const std::string time = where == 0 ? f : "2";
      const std::string mz = where == 1 ? "73," + f + ",73" : "73,1,73";
      const std::string in = where == 2 ? "1," + f + ",3" : "1,2,3";
      const std::string doc =
          "{\"spectra\":[{\"index\":0,\"scan_start_time\":" + time +
          ",\"scan_start_time_unit\":\"minute\",\"ms_level\":1,\"spectrum_type\":\"x\","
          "\"mz_array\":[" +
          mz + "],\"intensity_array\":[" + in +
          "],\"mz_array_dtype\":\"float64\",\"intensity_array_dtype\":\"float32\","
          "\"array_compression\":\"none\"}]}";
      EXPECT_TRUE(same_trace(fast(doc, q), exact(doc, q)));
    }
  }
}

TEST(TraceExtract, LargeSingleLineDocuments) {
  // 100 MB on one line: one huge entry read by the fast path, the same entry
  // with a flaw at its very end (handed back after the whole scan), and
  // walls of structure bytes. None may take more than linear time.
  constexpr std::size_t kSize = 100u << 20;
  const TraceQuery q{73, 0.5, false};
  std::string huge =
      "{\"spectra\":[{\"index\":0,\"scan_start_time\":90,"
      "\"scan_start_time_unit\":\"second\",\"ms_level\":1,"
      "\"spectrum_type\":\"x\",\"mz_array\":[";
  const std::size_t values = kSize / 2 / 20;
  huge.reserve(kSize + 256);
  for (std::size_t i = 0; i < values; ++i)
    huge += i == values / 2 ? "73.25000000000000," : "102.50000000000001,";
  huge.back() = ']';
  huge += ",\"intensity_array\":[";
  for (std::size_t i = 0; i < values; ++i)
    huge += i == values / 2 ? "7000.000000000000," : "123456.78901234567,";
  huge.back() = ']';
  huge +=
      ",\"mz_array_dtype\":\"float64\",\"intensity_array_dtype\":\"float32\","
      "\"array_compression\":\"none\"}]}";
  const Trace t = fast(huge, q);
  ASSERT_EQ(t.intensity.size(), 1u);
  EXPECT_EQ(t.retention_time[0], 1.5);
  EXPECT_EQ(t.intensity[0], 7000.0);

  huge.insert(huge.size() - 3, " ");  // a blank before the entry's last brace
  EXPECT_TRUE(same_trace(fast(huge, q), t));
  {
    // The same through the step's entry, input copy and documents included.
    host::plugin::HostSession host;
    const StepValue params[] = {host.text(""), host.float64(0.5), host.float64(73)};
    const StepValue in = host.text(huge);
    ASSERT_EQ(host.run(vx::testing::step_entry("GcMsSimTraceExtractionStep"), params,
                       {&in, 1}, 2),
              VX_STATUS_OK);
    EXPECT_EQ(
        common::read_number_member(host.output_text(1).value_or(""), "matched_ion_count"),
        1.0);
  }

  for (const char wall : {'{', '}', '[', '"', '\\'}) {
    SCOPED_TRACE(wall);
    EXPECT_TRUE(fast("{\"spectra\":[" + std::string(kSize, wall), q).intensity.empty());
  }
  // An entry that closes after 100 MB of nested brackets goes through the
  // member scanner, which skips them by counting.
  const std::string nested = "{\"spectra\":[{\"a\":" + std::string(kSize / 2, '[') +
                             std::string(kSize / 2, ']') +
                             ",\"mz_array\":[73],\"intensity_array\":[5]}]}";
  EXPECT_EQ(fast(nested, q).intensity, std::vector<double>{5});
}

}  // namespace
}  // namespace vx::trace
