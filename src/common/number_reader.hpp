// Number reading with the rules of the ISO "strtod" conversion in the "C"
// locale, whatever locale the host process has set. Never throws, never reads
// past the given view, allocates only in the rare out-of-range fallback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "vx_steps.h"

namespace vx::common {

// The "isspace" test of the "C" locale: space, \t, \n, \v, \f, \r.
constexpr bool is_c_space(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The index of the first byte at or after from that is not a "C"-locale
// blank (text.size() when there is none).
std::size_t skip_spaces(std::string_view text, std::size_t from = 0);

// The text without its leading and trailing "C"-locale blanks.
std::string_view trim_spaces(std::string_view text);

// strtod_l in the "C" locale over a copy of the number's bytes (it needs a
// terminating NUL). The slow path of every reading below, for results
// from_chars reports out of range and for the underflow test of stod's rule;
// range_error, when given, says whether strtod set ERANGE. Reads errno,
// which is per thread.
double strtod_c_locale(std::string_view number, bool* range_error = nullptr);

// "strtod" on a bounded text: skips leading "C"-locale blanks, then converts
// the longest prefix that strtod would (sign, decimal, 0x hexadecimal,
// inf/infinity/nan/nan(chars) in any case). Overflow gives +-infinity and
// underflow zero or a subnormal. Returns the number of bytes consumed,
// blanks included, or 0 when nothing converts (value is then left alone).
std::size_t scan_strtod(std::string_view text, double& value);

// The library reads numbers with scan_strtod. Two readings differ from it on
// purpose and are its named variants, sharing its blank rule and conversion:
// a number written into a trace by a person or another program must be a
// plain decimal to count (no inf, nan or hexadecimal, which would otherwise
// turn a misspelt target into a valid one), and the indexes and lengths of
// an mzML file are integers with the base-10 rules of strtol and strtoull.
//
// The longest plain decimal prefix after blanks: an optional sign, digits
// with an optional point (at least one digit), and an exponent only when
// digits follow it. Returns the bytes consumed or 0 (value then untouched).
std::size_t scan_plain_decimal(std::string_view text, double& value);

// The base-10 integer prefix after blanks, as strtol and strtoull read it;
// the magnitude saturates and overflow is set past 64 unsigned bits.
struct DecimalInteger {
  bool any_digit = false;
  bool negative = false;
  bool overflow = false;
  uint64_t magnitude = 0;
};
DecimalInteger scan_decimal_integer(std::string_view text);

// A whole text as a number: trimmed, optionally unquoted once, converted;
// only blanks may follow the number. nullopt when that fails.
std::optional<double> parse_number_text(std::string_view text);

// A parameter or input value as a number: Float64 and Int64 from their first
// 8 bytes, text kinds (1, 5, 6) through parse_number_text, anything else
// nullopt.
std::optional<double> read_number(const StepValue* value);

}  // namespace vx::common
