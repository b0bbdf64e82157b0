// Number reading with the rules of the ISO "strtod" conversion in the "C"
// locale, whatever locale the host process has set. Never throws, never reads
// past the given view, allocates only in the rare out-of-range fallback.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "vx_steps.h"

namespace vx::common {

// The "isspace" test of the "C" locale: space, \t, \n, \v, \f, \r.
constexpr bool is_c_space(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The text without its leading and trailing "C"-locale blanks.
std::string_view trim_spaces(std::string_view text);

// "strtod" on a bounded text: skips leading "C"-locale blanks, then converts
// the longest prefix that strtod would (sign, decimal, 0x hexadecimal,
// inf/infinity/nan/nan(chars) in any case). Overflow gives +-infinity and
// underflow zero or a subnormal. Returns the number of bytes consumed,
// blanks included, or 0 when nothing converts (value is then left alone).
std::size_t scan_strtod(std::string_view text, double& value);

// A whole text as a number: trimmed, optionally unquoted once, converted;
// only blanks may follow the number. nullopt when that fails.
std::optional<double> parse_number_text(std::string_view text);

// A parameter or input value as a number: Float64 and Int64 from their first
// 8 bytes, text kinds (1, 5, 6) through parse_number_text, anything else
// nullopt.
std::optional<double> read_number(const StepValue* value);

}  // namespace vx::common
