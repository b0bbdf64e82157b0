// The %.17g formatter: hard cases written out, the fast path's own
// decisions, the digit conversions against each other, the buffer bounds,
// and agreement with glibc's printf on every binary exponent and on random
// values of the shapes mzML arrays hold.
#include "common/decimal_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace vx::common {
namespace {

std::string g17(double x) {
  char buf[kG17MaxLength];
  return {buf, format_g17(x, buf)};
}

std::string printf17(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

double from_bits(uint64_t bits) {
  double x = 0.0;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

struct Case {
  double value;
  const char* want;
};

TEST(DecimalFormat, HardCases) {
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      // Exact ties (the 18th significant digit is a final 5) go to even.
      {100000000000000.125, "100000000000000.12"},
      {100000000000000.375, "100000000000000.38"},
      {1000000000000000.25, "1000000000000000.2"},
      {1000000000000000.75, "1000000000000000.8"},
      {3.0 / (1 << 25), "8.9406967163085938e-08"},
      {65.5, "65.5"},
      // Rounding that carries into a new leading digit and exponent.
      {1e-14, "1e-14"},
      {1e-305, "1e-305"},
      {1e98, "1e+98"},
      {1e220, "1e+220"},
      {9.99999999999999999e22, "9.9999999999999992e+22"},
      // Powers of ten and their neighbours.
      {1e22, "1e+22"},
      {1e23, "9.9999999999999992e+22"},
      {0.1, "0.10000000000000001"},
      {0.3, "0.29999999999999999"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1.0 / 3.0, "0.33333333333333331"},
      {4.35, "4.3499999999999996"},
      // Where %g switches notation: exponents -5/-4 and 16/17.
      {1e-5, "1.0000000000000001e-05"},
      {9.9999999999999e-5, "9.9999999999999002e-05"},
      {1e-4, "0.0001"},
      {0.00012345, "0.00012344999999999999"},
      {1e16, "10000000000000000"},
      {12345678901234567.0, "12345678901234568"},
      {99999999999999984.0, "99999999999999984"},
      {72057594037927936.0, "72057594037927936"},  // 2^56: 17 digits, no point
      {1e17, "1e+17"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      // Whole numbers, including float32 counts.
      {3, "3"},
      {100, "100"},
      {16777217.0, "16777217"},
      {9007199254740992.0, "9007199254740992"},
      {1e20, "1e+20"},
      // Extremes and subnormals.
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
      {from_bits(0x000FFFFFFFFFFFFF), "2.2250738585072009e-308"},
      {std::numeric_limits<double>::denorm_min(), "4.9406564584124654e-324"},
      {3 * std::numeric_limits<double>::denorm_min(), "1.4821969375237396e-323"},
      // Signs.
      {-0.0, "-0"},
      {0.0, "0"},
      {-1.5, "-1.5"},
      {-1e-300, "-1e-300"},
      {-123, "-123"},
      {-std::numeric_limits<double>::max(), "-1.7976931348623157e+308"},
      // The library's words for non-finite values.
      {std::nan(""), "NaN"},
      {-std::nan(""), "NaN"},
      {inf, "Infinity"},
      {-inf, "-Infinity"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(g17(c.value), c.want);
    if (std::isfinite(c.value)) {
      EXPECT_EQ(g17(c.value), printf17(c.value));
    }
  }
}

TEST(DecimalFormat, FastPathDecidesTiesAndCarries) {
  struct DigitsCase {
    double value;
    uint64_t digits;
    int exponent;
  };
  const DigitsCase cases[] = {
      {100000000000000.125, 10000000000000012, 14},
      {100000000000000.375, 10000000000000038, 14},
      {1e-14, 10000000000000000, -14},
      {1e98, 10000000000000000, 98},
      {-2.5, 25000000000000000, 0},
      {std::numeric_limits<double>::denorm_min(), 49406564584124654, -324},
  };
  for (const DigitsCase& c : cases) {
    SCOPED_TRACE(c.value);
    Decimal17 d;
    ASSERT_TRUE(decimal17_fast(c.value, d));
    EXPECT_EQ(d.digits, c.digits);
    EXPECT_EQ(d.exponent, c.exponent);
  }
  // Zero and non-finite values have no digits to give.
  for (double x : {0.0, -0.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
    Decimal17 d{7, 7};
    EXPECT_FALSE(decimal17_fast(x, d));
    EXPECT_EQ(d.digits, 7u);
  }
}

TEST(DecimalFormat, DigitConversionsAgree) {
  std::vector<uint32_t> values = {0,        1,        9,        10,      99,
                                  100,      9999,     10000,    10001,   99999999,
                                  12345678, 10000000, 99990000, 50000005};
  std::mt19937 rng(3);
  for (int i = 0; i < 100000; ++i)
    values.push_back(static_cast<uint32_t>(rng() % 100000000));
  for (std::size_t i = 0; i + 1 < values.size(); ++i) {
    const uint32_t a = values[i];
    const uint32_t b = values[i + 1];
    char want[32];
    std::snprintf(want, sizeof want, "%08u%08u", static_cast<unsigned>(a),
                  static_cast<unsigned>(b));
    for (const auto& got :
         {detail::digit_bytes16(a, b), detail::digit_bytes16_portable(a, b)}) {
      char text[16];
      for (int j = 0; j < 8; ++j) {
        text[j] = static_cast<char>('0' + ((got.high >> (8 * j)) & 0xFF));
        text[8 + j] = static_cast<char>('0' + ((got.low >> (8 * j)) & 0xFF));
      }
      ASSERT_EQ(std::string(text, 16), want);
    }
  }
}

// Values whose texts are longest, or whose stores reach furthest past the
// start: long negative exponents, four leading zeros, a point late.
constexpr double kLongValues[] = {-1.2345678901234567e-308,
                                  -2.2250738585072009e-308,
                                  -0.00012345678901234567,
                                  -1234567890123456.7,
                                  -12345678901234567.0,
                                  -1.2345678901234567e+300,
                                  -std::numeric_limits<double>::infinity()};

TEST(DecimalFormat, StaysWithinItsBuffer) {
  // An exactly sized heap buffer lets AddressSanitizer see any overrun.
  for (double x : kLongValues) {
    const auto buf = std::make_unique<char[]>(kG17MaxLength);
    const std::size_t n = format_g17(x, buf.get());
    EXPECT_LE(n, kG17MaxLength);
    EXPECT_EQ(std::string(buf.get(), n), std::isfinite(x) ? printf17(x) : "-Infinity");
  }
}

TEST(DecimalFormat, ListSeparatesWithCommasWithinItsBound) {
  char empty = 'x';
  EXPECT_EQ(format_g17_list({}, &empty), &empty);
  EXPECT_EQ(empty, 'x');

  const std::vector<double> values(std::begin(kLongValues), std::end(kLongValues));
  const std::size_t room = values.size() * (kG17MaxLength + 1);
  const auto buf = std::make_unique<char[]>(room);
  const char* end = format_g17_list(values, buf.get());
  std::string want;
  for (double x : values) {
    if (!want.empty()) want += ',';
    want += g17(x);
  }
  EXPECT_EQ(std::string(buf.get(), static_cast<std::size_t>(end - buf.get())), want);
}

// printf over a spread of values; stops at the first difference.
void expect_printf(const std::vector<double>& values) {
  for (double x : values) {
    const std::string got = g17(x);
    const std::string want = printf17(x);
    ASSERT_EQ(got, want) << std::hexfloat << x;
  }
}

TEST(DecimalFormat, MatchesPrintfOnEveryBinaryExponent) {
  // Each exponent with its smallest, largest and some random mantissas;
  // exponent 0 gives the subnormals.
  std::mt19937_64 rng(11);
  std::vector<double> values;
  for (uint64_t exponent = 0; exponent < 0x7FF; ++exponent) {
    for (uint64_t mantissa : {uint64_t{0}, uint64_t{1}, (uint64_t{1} << 52) - 1,
                              uint64_t{1} << 51, rng(), rng(), rng(), rng()}) {
      mantissa &= (uint64_t{1} << 52) - 1;
      const double x = from_bits((exponent << 52) | mantissa);
      values.push_back(x);
      values.push_back(-x);
    }
  }
  expect_printf(values);
}

TEST(DecimalFormat, MatchesPrintfOnMzmlShapedValues) {
  // m/z with a few decimals, float32 intensities, whole counts, decimal
  // fractions across the %g thresholds, and raw bit patterns.
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> mz(30.0, 2000.0);
  std::lognormal_distribution<double> intensity(8.0, 3.0);
  std::uniform_int_distribution<int> decimals(0, 8);
  std::uniform_int_distribution<int> tenth(-30, 30);
  std::vector<double> values;
  for (int i = 0; i < 200000; ++i) {
    const double scale = std::pow(10.0, decimals(rng));
    values.push_back(std::round(mz(rng) * scale) / scale);
    values.push_back(static_cast<float>(intensity(rng)));
    values.push_back(std::round(intensity(rng)));
    values.push_back(static_cast<double>(rng() % 1000000) * std::pow(10.0, tenth(rng)));
    const double raw = from_bits(rng());
    values.push_back(std::isfinite(raw) ? raw : 0.0);
  }
  expect_printf(values);
}

TEST(DecimalFormat, FastPathDecidesRandomValues) {
  // The fall-back is for values within 2^-63 of a rounding boundary; random
  // values essentially never are, so a miss here means a wrong bound.
  std::mt19937_64 rng(5);
  int undecided = 0;
  for (int i = 0; i < 200000; ++i) {
    const double x = from_bits(rng() & ~(uint64_t{1} << 63));
    Decimal17 d;
    if (x != 0 && std::isfinite(x) && !decimal17_fast(x, d)) ++undecided;
  }
  EXPECT_EQ(undecided, 0);
}

}  // namespace
}  // namespace vx::common
