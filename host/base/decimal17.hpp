// Numbers as printf("%.17g") writes them in the "C" locale, for documents
// that must equal the step library's byte for byte: the library's own
// formatter (src/common/decimal_format.cpp, compiled into this layer), so the
// host has no second %.17g writer to drift from it. NaN and the infinities
// are written NaN, Infinity and -Infinity. No locale, no allocation per
// number; appending never throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace vx::host::base {

// Longest text format_g17 writes ("-1.2345678901234567e-308").
inline constexpr std::size_t kG17TextSize = 24;

// Writes value into buf (room for kG17TextSize bytes, no terminator);
// returns the length.
std::size_t format_g17(double value, char* buf);
void append_g17(std::string& out, double value);
// "[" the numbers separated by "," "]".
void append_g17_array(std::string& out, std::span<const double> values);

}  // namespace vx::host::base
