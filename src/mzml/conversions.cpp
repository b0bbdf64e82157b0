// String-to-number conversions with the ISO stoi/stoull/stod rules. Integers
// are accumulated here; doubles go through the library's locale-free
// scan_strtod, and only a zero or subnormal result is checked again with
// strtod_l in the "C" locale, because whether such a result is an underflow
// (an inexact subnormal, or zero from non-zero digits) is what the standard
// conversion reports through errno.
#include "mzml/conversions.hpp"

#include <locale.h>  // NOLINT(modernize-deprecated-headers): POSIX newlocale, locale_t

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "common/number_reader.hpp"

namespace vx::mzml {
namespace {

// Digits of an optionally signed decimal integer after leading blanks, as
// strtol and strtoull read them. Saturates: overflow is set when the
// magnitude does not fit 64 unsigned bits.
struct DecimalPrefix {
  bool any_digit = false;
  bool negative = false;
  bool overflow = false;
  uint64_t magnitude = 0;
};

DecimalPrefix scan_decimal(std::string_view text) {
  DecimalPrefix d;
  std::size_t i = 0;
  while (i < text.size() && common::is_c_space(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    d.negative = text[i] == '-';
    ++i;
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    d.any_digit = true;
    const auto digit = static_cast<uint64_t>(text[i] - '0');
    if (d.magnitude > (kMax - digit) / 10) {
      d.overflow = true;
    } else {
      d.magnitude = d.magnitude * 10 + digit;
    }
  }
  return d;
}

bool is_infinity_text(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && common::is_c_space(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && (text[i] == 'i' || text[i] == 'I');
}

// Whether strtod would set ERANGE for these bytes (a number that converted
// to zero or a subnormal). Uses errno, which is per thread.
bool strtod_reports_underflow(std::string_view number) {
  static const locale_t c_locale =
      newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string copy(number);
  errno = 0;
  if (c_locale == static_cast<locale_t>(nullptr)) {
    (void)std::strtod(copy.c_str(), nullptr);
  } else {
    (void)strtod_l(copy.c_str(), nullptr, c_locale);
  }
  return errno == ERANGE;
}

}  // namespace

int32_t convert_stoi(std::string_view text) {
  const DecimalPrefix d = scan_decimal(text);
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
  const DecimalPrefix d = scan_decimal(text);
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
