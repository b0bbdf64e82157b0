// String-to-number conversions with the ISO stoi/stoull/stod rules, on the
// library's number kernel: integers through scan_decimal_integer, doubles
// through the locale-free scan_strtod, and only a zero or subnormal result is
// checked again with strtod_l in the "C" locale, because whether such a
// result is an underflow (an inexact subnormal, or zero from non-zero digits)
// is what the standard conversion reports through errno.
#include "mzml/conversions.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "common/number_reader.hpp"

namespace vx::mzml {
namespace {

bool is_infinity_text(std::string_view text) {
  std::size_t i = common::skip_spaces(text);
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && (text[i] == 'i' || text[i] == 'I');
}

// Whether strtod would set ERANGE for these bytes (a number that converted
// to zero or a subnormal).
bool strtod_reports_underflow(std::string_view number) {
  bool range_error = false;
  (void)common::strtod_c_locale(number, &range_error);
  return range_error;
}

}  // namespace

int32_t convert_stoi(std::string_view text) {
  const common::DecimalInteger d = common::scan_decimal_integer(text);
  if (!d.any_digit) throw std::invalid_argument("invalid stoi argument");
  constexpr auto kMaxPositive =
      static_cast<uint64_t>(std::numeric_limits<int32_t>::max());
  const uint64_t limit = d.negative ? kMaxPositive + 1 : kMaxPositive;
  if (d.overflow || d.magnitude > limit)
    throw std::out_of_range("stoi argument out of range");
  const auto magnitude = static_cast<int64_t>(d.magnitude);
  return static_cast<int32_t>(d.negative ? -magnitude : magnitude);
}

uint64_t convert_stoull(std::string_view text) {
  const common::DecimalInteger d = common::scan_decimal_integer(text);
  if (!d.any_digit) throw std::invalid_argument("invalid stoull argument");
  if (d.overflow) throw std::out_of_range("stoull argument out of range");
  // A minus sign negates in unsigned arithmetic, as strtoull does: "-1" is
  // the largest value.
  return d.negative ? uint64_t{0} - d.magnitude : d.magnitude;
}

double convert_stod(std::string_view text) {
  double value = 0.0;
  const std::size_t used = common::scan_strtod(text, value);
  if (used == 0) throw std::invalid_argument("invalid stod argument");
  if (std::isinf(value) && !is_infinity_text(text.substr(0, used))) {
    throw std::out_of_range("stod argument out of range");
  }
  const int kind = std::fpclassify(value);
  if ((kind == FP_ZERO || kind == FP_SUBNORMAL) &&
      strtod_reports_underflow(text.substr(0, used))) {
    throw std::out_of_range("stod argument out of range");
  }
  return value;
}

}  // namespace vx::mzml
