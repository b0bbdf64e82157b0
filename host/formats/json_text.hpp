// The JSON pieces the formats layer writes, byte for byte as the step
// library's documents write them: numbers as printf("%.17g") in the "C"
// locale (std::to_chars, no locale, no allocation per number) with NaN,
// Infinity and -Infinity for the non-finite values; text escaped for tab,
// line feed, carriage return, quote and backslash, other bytes below 32 as
// \u00XX. Appending never throws except std::bad_alloc.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vx::host::formats {

// Longest text append_number writes ("-1.2345678901234567e-308").
inline constexpr std::size_t kMaxNumberText = 24;

// Writes value into buf (room for kMaxNumberText bytes); returns the length.
std::size_t format_number(double value, char* buf);

void append_number(std::string& out, double value);
void append_integer(std::string& out, int64_t value);
// "[" the numbers separated by "," "]".
void append_number_array(std::string& out, std::span<const double> values);
// A double quote, the escaped text, a double quote.
void append_json_string(std::string& out, std::string_view text);

}  // namespace vx::host::formats
