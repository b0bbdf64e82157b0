// The reader's number conversions agree with the ISO stoi/stoull/stod in the
// "C" locale, value for value and error for error, with the messages the
// step reports.
#include "mzml/conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vx::mzml {
namespace {

enum class Outcome { kValue, kInvalid, kRange };

template <typename F>
Outcome outcome_of(F&& f) {
  try {
    f();
    return Outcome::kValue;
  } catch (const std::invalid_argument&) {
    return Outcome::kInvalid;
  } catch (const std::out_of_range&) {
    return Outcome::kRange;
  }
}

const char* const kTexts[] = {
    "0",
    "7",
    "-7",
    "+7",
    "  12abc",
    "\t\n\v\f\r 5",
    "abc",
    "",
    " ",
    "-",
    "+",
    "--1",
    "+-1",
    "0x1A",
    "1e3",
    "3.9",
    "-0",
    "2147483647",
    "2147483648",
    "-2147483648",
    "-2147483649",
    "9223372036854775807",
    "9223372036854775808",
    "18446744073709551615",
    "18446744073709551616",
    "-18446744073709551615",
    "-18446744073709551616",
    "99999999999999999999999",
    "1.5",
    ".5",
    "5.",
    "1e-5",
    "1e308",
    "1e309",
    "-1e309",
    "1e-310",
    "1e-400",
    "0e-999",
    "0x1p-1074",
    "4.9406564584124654e-324",
    "inf",
    "-Infinity",
    "nan",
    "NaN(1)",
    "1,5",
    "\xc2\xa0"
    "1",
    "0.0000",
    "2.0041666669999998",
};

TEST(Conversions, StoiAgreesWithTheStandardConversion) {
  for (const char* t : kTexts) {
    SCOPED_TRACE(t);
    int want = 0;
    const Outcome expected = outcome_of([&] { want = std::stoi(t); });
    int32_t got = 0;
    ASSERT_EQ(outcome_of([&] { got = convert_stoi(t); }), expected);
    if (expected == Outcome::kValue) {
      EXPECT_EQ(got, want);
    }
  }
}

TEST(Conversions, StoullAgreesWithTheStandardConversion) {
  for (const char* t : kTexts) {
    SCOPED_TRACE(t);
    unsigned long long want = 0;
    const Outcome expected = outcome_of([&] { want = std::stoull(t); });
    uint64_t got = 0;
    ASSERT_EQ(outcome_of([&] { got = convert_stoull(t); }), expected);
    if (expected == Outcome::kValue) {
      EXPECT_EQ(got, want);
    }
  }
}

TEST(Conversions, StodAgreesWithTheStandardConversion) {
  for (const char* t : kTexts) {
    SCOPED_TRACE(t);
    double want = 0;
    const Outcome expected = outcome_of([&] { want = std::stod(t); });
    double got = 0;
    ASSERT_EQ(outcome_of([&] { got = convert_stod(t); }), expected);
    if (expected == Outcome::kValue && !std::isnan(want)) {
      EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << got << " vs " << want;
    }
  }
}

TEST(Conversions, MessagesNameTheConversion) {
  const struct {
    std::string text;
    int which;  // 0 stoi, 1 stoull, 2 stod
    std::string what;
  } cases[] = {
      {"abc", 0, "invalid stoi argument"},
      {"3000000000", 0, "stoi argument out of range"},
      {"x", 1, "invalid stoull argument"},
      {"18446744073709551616", 1, "stoull argument out of range"},
      {"x", 2, "invalid stod argument"},
      {"1e999", 2, "stod argument out of range"},
      {"1e-999", 2, "stod argument out of range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      if (c.which == 0) (void)convert_stoi(c.text);
      if (c.which == 1) (void)convert_stoull(c.text);
      if (c.which == 2) (void)convert_stod(c.text);
      ADD_FAILURE() << "no error";
    } catch (const std::logic_error& e) {
      EXPECT_EQ(std::string(e.what()), c.what);
    }
  }
}

TEST(Conversions, ReadsOnlyTheView) {
  // The digits that follow in memory are not part of the text.
  const std::string s = "12345";
  EXPECT_EQ(convert_stoi(std::string_view(s.data(), 2)), 12);
  EXPECT_EQ(convert_stoull(std::string_view(s.data(), 3)), 123u);
  EXPECT_EQ(convert_stod(std::string_view(s.data(), 1)), 1.0);
}

}  // namespace
}  // namespace vx::mzml
