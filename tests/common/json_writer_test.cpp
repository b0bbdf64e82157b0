// JSON writing: %.17g numbers byte for byte, arrays, escaping, and the
// choices for non-finite numbers and control bytes.
#include "common/json_writer.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace vx::common {
namespace {

std::string fmt(double x) {
  char buf[kNumberBufferSize];
  return {buf, format_double(x, buf)};
}

std::string printf17(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

TEST(JsonWriter, NumberExamples) {
  const std::pair<double, const char*> cases[] = {
      {0.5, "0.5"},
      {100, "100"},
      {0.1, "0.10000000000000001"},
      {2.0 / 3.0, "0.66666666666666663"},
      {1e16, "10000000000000000"},
      {1e17, "1e+17"},
      {0.00001, "1.0000000000000001e-05"},
      {-0.0, "-0"},
      {3, "3"},
      {1e20, "1e+20"},
      {2.5e-7, "2.4999999999999999e-07"},
      {1.6, "1.6000000000000001"},
      {std::numeric_limits<double>::denorm_min(), "4.9406564584124654e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::nan(""), "NaN"},
      {-std::nan(""), "NaN"},
      {std::numeric_limits<double>::infinity(), "Infinity"},
      {-std::numeric_limits<double>::infinity(), "-Infinity"},
  };
  for (const auto& [x, want] : cases) EXPECT_EQ(fmt(x), want);
}

TEST(JsonWriter, MatchesPrintfOnRandomBitPatterns) {
  // The default run checks a million values; bench/number_bench checks more.
  std::mt19937_64 rng(20261208);
  for (int i = 0; i < 1000000; ++i) {
    const uint64_t bits = rng();
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    ASSERT_EQ(fmt(x), printf17(x)) << bits;
  }
}

TEST(JsonWriter, MatchesPrintfOnPowersAndSubnormals) {
  for (int e = -330; e <= 310; ++e) {
    for (double m : {1.0, 9.999999999999999, 5.0, 0.5}) {
      const double x = m * std::pow(10.0, e);
      if (!std::isfinite(x)) continue;
      ASSERT_EQ(fmt(x), printf17(x));
      ASSERT_EQ(fmt(std::nextafter(x, 0.0)), printf17(std::nextafter(x, 0.0)));
    }
  }
  for (uint64_t bits = 1; bits < (uint64_t{1} << 52); bits = bits * 3 + 1) {
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    ASSERT_EQ(fmt(x), printf17(x));
  }
}

TEST(JsonWriter, IgnoresTheProcessLocale) {
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE locale";
  const std::string got = fmt(0.5);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(got, "0.5");
}

TEST(JsonWriter, Arrays) {
  EXPECT_EQ(format_number_array({}), "[]");
  const std::vector<double> one{1};
  EXPECT_EQ(format_number_array(one), "[1]");
  const std::vector<double> two{0.5, 2};
  EXPECT_EQ(format_number_array(two), "[0.5,2]");
}

TEST(JsonWriter, NumberArrayEqualsNumbersWrittenOneByOne) {
  // number_array writes into room it reserves and cuts back; the document
  // around it must come out exactly as if each number were appended alone.
  std::mt19937_64 rng(8);
  std::vector<double> values = {-1.2345678901234567e-308,
                                std::nan(""),
                                -0.0,
                                -std::numeric_limits<double>::infinity(),
                                1e-5,
                                3};
  for (int i = 0; i < 5000; ++i) {
    const uint64_t bits = rng();
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    values.push_back(x);
    values.push_back(static_cast<float>(i) / 7.0f);
  }
  for (std::size_t count :
       {std::size_t{0}, std::size_t{1}, std::size_t{6}, values.size()}) {
    SCOPED_TRACE(count);
    const std::span<const double> part(values.data(), count);
    JsonWriter fast;
    fast.raw("{\"a\":").number_array(part).raw(",\"b\":").number_array(part).raw("}");
    JsonWriter slow;
    for (int twice = 0; twice < 2; ++twice) {
      slow.raw(twice == 0 ? "{\"a\":[" : ",\"b\":[");
      for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) slow.raw(",");
        slow.number(part[i]);
      }
      slow.raw("]");
    }
    slow.raw("}");
    ASSERT_EQ(fast.text(), slow.text());
  }
}

TEST(JsonWriter, NumberArrayStaysInsideADocumentSizedInAdvance) {
  // A step that reserves its document's exact size must not see it
  // reallocated (and briefly doubled) by room taken for the longest texts.
  const std::vector<double> values(10000, 0.5);  // "0.5": far below the worst case
  const std::string want = format_number_array(values);
  JsonWriter w;
  w.reserve(want.size());
  const char* const before = w.text().data();
  w.number_array(values);
  EXPECT_EQ(w.text(), want);
  EXPECT_EQ(w.text().data(), before);
}

TEST(JsonWriter, Escaping) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\tb\"c\\d", R"(a\tb\"c\\d)"},
      {"plain text", "plain text"},
      {R"(C:\data\run.mzML)", R"(C:\\data\\run.mzML)"},
      {"a/b\f\b", "a/b\\u000c\\u0008"},
      {"\n\r", "\\n\\r"},
      {std::string("\0\x1f", 2), "\\u0000\\u001f"},
      {"\xc3\xa9\x7f", "\xc3\xa9\x7f"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(escape_json_text(in), want);
}

TEST(JsonWriter, DocumentPieces) {
  JsonWriter w;
  w.raw("{\"n\":").integer(-7).raw(",\"c\":").count(18446744073709551615u);
  w.raw(",\"b\":").boolean(true).raw(",\"s\":").string("x\"y").raw("}");
  EXPECT_EQ(w.text(),
            "{\"n\":-7,\"c\":18446744073709551615,\"b\":true,\"s\":\"x\\\"y\"}");
}

}  // namespace
}  // namespace vx::common
