// printf("%.17g") for doubles, byte for byte, without locale, stream or
// allocation. The 17 digits come from one 64x128-bit multiplication by a
// cached power of five; the rare values whose rounding that product cannot
// decide are handed to std::to_chars, which is exact but several times
// slower. Never throws, never writes more than kG17MaxLength bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vx::common {

// Longest %.17g text of a finite double: "-1.2345678901234567e-308".
inline constexpr std::size_t kG17MaxLength = 24;

// The value rounded to 17 significant digits: |value| is about
// digits * 10^(exponent - 16), with digits in [10^16, 10^17).
struct Decimal17 {
  uint64_t digits = 0;
  int exponent = 0;
};

// The correctly rounded 17 digits of a finite, non-zero value (the sign is
// ignored; exact ties go to the even digit, as glibc's printf does). Returns
// false, leaving out alone, for zero and non-finite values and when the
// cached power of ten is too coarse to tell on which side of a rounding
// boundary the value lies.
bool decimal17_fast(double value, Decimal17& out);

// Writes value as %.17g into buf (room for kG17MaxLength bytes, no
// terminator) and returns the length. NaN is written NaN and infinities
// Infinity and -Infinity, the words the library's JSON documents use where
// printf would write nan and inf.
std::size_t format_g17(double value, char* buf);

// The values as format_g17 writes them, separated by ','; out needs room
// for kG17MaxLength + 1 bytes per value. Returns the end of the text.
char* format_g17_list(std::span<const double> values, char* out);

namespace detail {

// Two numbers below 10^8 as sixteen digit values 0..9, one per byte, the
// most significant digit of each in its word's lowest byte. The formatter's
// conversion (SIMD where the target has it) and the portable one, exposed
// so that tests can hold them against each other.
struct DigitBytes16 {
  uint64_t high;
  uint64_t low;
};
DigitBytes16 digit_bytes16(uint32_t high, uint32_t low);
DigitBytes16 digit_bytes16_portable(uint32_t high, uint32_t low);

}  // namespace detail

}  // namespace vx::common
