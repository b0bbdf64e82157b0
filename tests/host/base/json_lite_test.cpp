#include "json_lite.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "number_text.hpp"

namespace vx::host::base {
namespace {

TEST(JsonLite, ReadsTheLibrarysResultDocument) {
  const std::string doc =
      R"({"fitted_retention_time":5,"fitted_retention_time_unit":"minute","peak_height":0,)"
      R"("fit_status":"no_local_peak","solver_iterations":0,"r_squared":NaN,"mz":-Infinity,)"
      R"("selected_ion_trace_excerpt":[],"excerpt_retention_time":[1.5,1.6000000000000001,2e-07]})";
  const JsonParse p = parse_json(doc);
  ASSERT_TRUE(p.value) << p.error;
  EXPECT_EQ(p.value->number_at("fitted_retention_time"), 5.0);
  EXPECT_EQ(p.value->text_at("fit_status"), "no_local_peak");
  EXPECT_TRUE(std::isnan(*p.value->number_at("r_squared")));
  EXPECT_EQ(p.value->number_at("mz"), -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(p.value->numbers_at("selected_ion_trace_excerpt").empty());
  EXPECT_EQ(p.value->numbers_at("excerpt_retention_time"),
            (std::vector<double>{1.5, 1.6000000000000001, 2e-07}));
  // Absent members and members of another kind leave the caller's default.
  EXPECT_FALSE(p.value->number_at("fit_status"));
  EXPECT_FALSE(p.value->number_at("absent"));
  EXPECT_FALSE(p.value->bool_at("peak_height"));
}

TEST(JsonLite, DottedKeysAndFirstDuplicateWin) {
  const JsonParse p = parse_json(
      R"({"gcms.fit.no_local_peak":true,"gcms.fit.unstable_fit":false,"k":1,"k":2})");
  ASSERT_TRUE(p.value);
  EXPECT_EQ(p.value->bool_at("gcms.fit.no_local_peak"), true);
  EXPECT_EQ(p.value->bool_at("gcms.fit.unstable_fit"), false);
  EXPECT_EQ(p.value->number_at("k"), 1.0);
}

TEST(JsonLite, StringEscapes) {
  struct Case {
    const char* in;
    std::string want;
  };
  const Case cases[] = {
      {R"("a\tb\nc\r\"\\\/")", "a\tb\nc\r\"\\/"},
      {R"("\u0041\u00e9")", "A\xC3\xA9"},
      {R"("\u20ac")", "\xE2\x82\xAC"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {R"("\u0001")", std::string("\x01", 1)},
      {"\"plain \xC3\xA9 utf8\"", "plain \xC3\xA9 utf8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    const JsonParse p = parse_json(c.in);
    ASSERT_TRUE(p.value) << p.error;
    EXPECT_EQ(p.value->text, c.want);
  }
}

TEST(JsonLite, RejectsMalformedDocuments) {
  const char* const cases[] = {
      "",         "{",        "{\"a\":}", "{\"a\" 1}", "{a:1}",       "[1,]",
      "[1 2]",    R"("open)", R"("\x")",  R"("\u12")", R"("\ud800")", R"("\udc00x")",
      "01",       "1.",       ".5",       "-",         "1e",          "+1",
      "inf",      "nan",      "tru",      "nul",       "{} {}",       "[1]x",
      "\"a\tb\"",  // raw control byte inside a string
  };
  for (const char* c : cases) {
    SCOPED_TRACE(c);
    const JsonParse p = parse_json(c);
    EXPECT_FALSE(p.value);
    EXPECT_FALSE(p.error.empty());
  }
}

TEST(JsonLite, NestingIsBoundedInsteadOfExhaustingTheStack) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  const JsonParse p = parse_json(deep);
  EXPECT_FALSE(p.value);
  EXPECT_NE(p.error.find("deeply"), std::string::npos);

  std::string ok(kMaxDepth - 1, '[');
  ok += std::string(kMaxDepth - 1, ']');
  EXPECT_TRUE(parse_json(ok).value);
}

TEST(JsonLite, OutOfRangeNumbersSaturate) {
  const JsonParse p = parse_json("[1e999,-1e999,1e-999,-1e-999,0.0000e-400]");
  ASSERT_TRUE(p.value) << p.error;
  const auto& v = p.value->items;
  EXPECT_EQ(v[0].number, std::numeric_limits<double>::infinity());
  EXPECT_EQ(v[1].number, -std::numeric_limits<double>::infinity());
  EXPECT_EQ(v[2].number, 0.0);
  EXPECT_TRUE(std::signbit(v[3].number));
  EXPECT_EQ(v[4].number, 0.0);
}

// Numbers written with 17 significant digits must read back bit for bit, or
// a table would show values that differ from the documents.
TEST(JsonLite, SeventeenDigitNumbersRoundTrip) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    uint64_t bits = rng();
    double x = 0;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", x);
    const JsonParse p = parse_json(buf);
    ASSERT_TRUE(p.value) << buf;
    ASSERT_EQ(p.value->number, x) << buf;
    EXPECT_EQ(parse_double(shortest_text(x)), x);
  }
}

}  // namespace
}  // namespace vx::host::base
