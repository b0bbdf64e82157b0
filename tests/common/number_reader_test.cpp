// Number reading: the text rules, the value kinds, agreement with strtod bit
// for bit, and independence from the process locale.
#include "common/number_reader.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>

namespace vx::common {
namespace {

bool same_double(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b) ||
         (std::isnan(a) && std::isnan(b));
}

struct TextCase {
  std::string in;
  std::optional<double> want;
};

TEST(NumberReader, TextRules) {
  const double inf = std::numeric_limits<double>::infinity();
  const TextCase cases[] = {
      {" 42 ", 42},
      {"\"3.5\"", 3.5},
      {"\" 3.5 \"", 3.5},
      {" \t\"3.5\"\v\f", 3.5},
      {"3.5abc", std::nullopt},
      {"1 2", std::nullopt},
      {"abc", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"\"\"", std::nullopt},
      {"\"  \"", std::nullopt},
      {"1e999", inf},
      {"-1e999", -inf},
      {"INF", inf},
      {"-Infinity", -inf},
      {"0x10", 16},
      {"-0x1p-2", -0.25},
      {"0x", std::nullopt},  // strtod converts the 0, then x follows
      {"+5", 5},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {R"("\5")", 5},              // backslash dropped, 5 taken literally
      {R"("5\")", std::nullopt},   // backslash before the closing quote stays
      {R"(""5"")", std::nullopt},  // only one pair of quotes is removed
      {"1e-400", 0.0},
      {"4e-320", 4e-320},
      {".5", 0.5},
      {"5.", 5},
      {"1e", std::nullopt},
      {std::string("1\0", 2), std::nullopt},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.in);
    const auto got = parse_number_text(c.in);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) {
      EXPECT_TRUE(same_double(*got, *c.want)) << *got;
    }
  }
  EXPECT_TRUE(std::isnan(*parse_number_text("nan")));
  EXPECT_TRUE(std::isnan(*parse_number_text("NAN(abc_1)")));
}

TEST(NumberReader, ValueKinds) {
  const double d = 2.5;
  const int64_t big = (int64_t{1} << 53) + 1;
  const int64_t neg = -5;
  struct Case {
    StepValue v;
    std::optional<double> want;
  };
  const Case cases[] = {
      {{VX_KIND_FLOAT64, &d, 8}, 2.5},
      {{VX_KIND_FLOAT64, &d, 4}, std::nullopt},
      {{VX_KIND_FLOAT64, nullptr, 8}, std::nullopt},
      {{VX_KIND_INT64, &big, 8}, 9007199254740992.0},
      {{VX_KIND_INT64, &neg, 8}, -5},
      {{VX_KIND_INT64, &neg, 7}, std::nullopt},
      {{VX_KIND_TEXT, "7", 1}, 7},
      {{5, "7", 1}, 7},
      {{6, "7", 1}, 7},
      {{2, "7", 1}, std::nullopt},
      {{0, "7", 1}, std::nullopt},
      {{7, "7", 1}, std::nullopt},
      {{VX_KIND_TEXT, nullptr, 1}, std::nullopt},
      {{VX_KIND_TEXT, "7", 0}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.v.kind);
    EXPECT_EQ(read_number(&c.v), c.want);
  }
  EXPECT_FALSE(read_number(nullptr));
}

// Random spellings built from the pieces strtod cares about.
std::string random_number_text(std::mt19937_64& rng) {
  static constexpr const char* kPieces[] = {
      "0",        "1",     "9",    "12345678901234567890",
      ".",        "e",     "E",    "+",
      "-",        "x",     "X",    "p",
      "P",        "a",     "f",    "inf",
      "INFINITY", "nan",   "(",    ")",
      "_",        " ",     "\t",   "00000000000000000000001",
      "e308",     "e-330", "e400", "0x1",
      "7"};
  std::string s;
  const auto n = rng() % 7 + 1;
  for (unsigned i = 0; i < n; ++i) s += kPieces[rng() % std::size(kPieces)];
  return s;
}

TEST(NumberReader, ScanAgreesWithStrtodBitForBit) {
  std::mt19937_64 rng(12345);
  for (int i = 0; i < 200000; ++i) {
    const std::string s = random_number_text(rng);
    char* end = nullptr;
    const double want = std::strtod(s.c_str(), &end);
    const auto want_used = static_cast<std::size_t>(end - s.c_str());
    double got = -12345.0;
    const std::size_t used = scan_strtod(s, got);
    ASSERT_EQ(used, want_used) << "'" << s << "'";
    if (used != 0) {
      ASSERT_TRUE(same_double(got, want)) << "'" << s << "' " << got;
    }
  }
}

TEST(NumberReader, SignedFormsAgreeWithStrtod) {
  // The sign reaches the converter in three ways (taken by from_chars,
  // stripped before 0x, re-read by strtod on overflow); each must end where
  // strtod ends with strtod's bits, negative zero included.
  const char* const cases[] = {
      "-1e400",    "+1e400",  "-1e-400",   "+1e-400", "-4e-320",    "-0",         "+0",
      "-0.0e5",    "-0x1p-2", "+0x10",     "-0x",     "+0x",        "-0x.8p1",    "-inf",
      "+INFINITY", "-nan",    "+nan(abc)", "- 5",     "+-5",        "-+5",        "-.5",
      "+.e1",      "-1e+",    "-12.5e-3x", " \t-7",   "-0x1p99999", "-0X1P-99999",
      // A second sign in a binary exponent ends the number before the 'p'.
      "0xfp+-2",   "-0x1p-+3", "0x1.8P--1", "0xap+",   "0x1p-x"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    char* end = nullptr;
    const double want = std::strtod(text, &end);
    double got = -12345.0;
    const std::size_t used = scan_strtod(text, got);
    ASSERT_EQ(used, static_cast<std::size_t>(end - text));
    if (used != 0) {
      EXPECT_TRUE(same_double(got, want)) << got;
      EXPECT_EQ(std::signbit(got), std::signbit(want));
    }
  }
}

TEST(NumberReader, RoundTripsRandomBitPatterns) {
  std::mt19937_64 rng(7);
  char buf[64];
  for (int i = 0; i < 200000; ++i) {
    uint64_t bits = rng();
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    if (!std::isfinite(x)) continue;
    std::snprintf(buf, sizeof buf, "%.17g", x);
    const auto got = parse_number_text(buf);
    ASSERT_TRUE(got && same_double(*got, x)) << buf;
  }
}

TEST(NumberReader, IgnoresTheProcessLocale) {
  const char* const names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"};
  const char* set = nullptr;
  for (const char* n : names) {
    if ((set = std::setlocale(LC_ALL, n)) != nullptr) break;
  }
  if (set == nullptr) GTEST_SKIP() << "no decimal-comma locale installed";
  const auto point = parse_number_text("2.5");
  const auto comma = parse_number_text("2,5");
  const auto tiny = parse_number_text("1e-400");  // takes the strtod_l fallback
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(point, 2.5);
  EXPECT_FALSE(comma.has_value());
  EXPECT_EQ(tiny, 0.0);
}

TEST(NumberReader, TrimSpaces) {
  EXPECT_EQ(trim_spaces(" \t\n\v\f\rab c\r\n"), "ab c");
  EXPECT_EQ(trim_spaces("   "), "");
  EXPECT_EQ(trim_spaces("\xa0x\xa0"), "\xa0x\xa0");  // high bytes are never blank
}

// The kernel and its two variants over the same texts: the variants take
// less than the kernel exactly where their rules say (no words or
// hexadecimal for plain decimals, no fraction or exponent for integers), and
// all three share the blank rule and never read past the view.
TEST(NumberReader, VariantsDifferFromTheKernelOnlyWhereIntended) {
  struct Case {
    std::string in;
    std::size_t kernel_used;  // scan_strtod
    std::size_t plain_used;   // scan_plain_decimal
    std::optional<uint64_t> integer;  // scan_decimal_integer magnitude
  };
  const Case cases[] = {
      {" 12.5e1x", 7, 7, 12},
      {"\t-7,", 3, 3, 7},
      {"\v+7", 3, 3, 7},
      {"\n 8e", 3, 3, 8},
      {"\xa0" "5", 0, 0, std::nullopt},  // a high byte is never blank
      {"inf", 3, 0, std::nullopt},
      {"nan", 3, 0, std::nullopt},
      {"0x1A", 4, 1, 0},
      {".5", 2, 2, std::nullopt},
      {"1e+", 1, 1, 1},
      {"", 0, 0, std::nullopt},
      {"18446744073709551616", 20, 20, std::nullopt},  // integer overflow
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    double kernel = -1.0;
    double plain = -1.0;
    EXPECT_EQ(scan_strtod(c.in, kernel), c.kernel_used);
    EXPECT_EQ(scan_plain_decimal(c.in, plain), c.plain_used);
    if (c.plain_used != 0 && c.plain_used == c.kernel_used) {
      EXPECT_TRUE(same_double(kernel, plain));  // the same conversion
    }
    const DecimalInteger d = scan_decimal_integer(c.in);
    EXPECT_EQ(d.any_digit && !d.overflow, c.integer.has_value());
    if (c.integer) {
      EXPECT_EQ(d.magnitude, *c.integer);
    }
  }
}

}  // namespace
}  // namespace vx::common
