// %.17g formatting. A finite double is m * 2^e; with k = 16 - (estimated
// decimal exponent) the scaled value p = m * 2^e * 10^k lies in
// [10^16, 2 * 10^17), and its integer part and 64 fraction bits come from
// m times a 128-bit truncation of 5^k. For 0 <= k <= 55 that truncation is
// exact, so p is known exactly and ties are seen as ties; otherwise p is
// known to within two units of 2^-64, and only a value that close to a
// rounding boundary is passed to to_chars. Exact ties cannot occur outside
// that range: a double at or above 10^17 has too few significant bits to end
// in ...5 at the 18th digit, and one below 10^-39 has far more than 18
// digits.
#include "common/decimal_format.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vx::common {
namespace {

using detail::DigitBytes16;

__extension__ using Uint128 = unsigned __int128;

// ---- Cached powers of five ------------------------------------------------

// 5^k ~= (hi * 2^64 + lo) * 2^(exp2 - 127), where the 128-bit mantissa is
// floor(5^k * 2^(127 - exp2)) and exp2 = floor(log2(5^k)). shift_base is
// the part of the product's shift that does not depend on the value.
struct Pow5 {
  uint64_t hi;
  uint64_t lo;
  int exp2;
  int shift_base;
};

// Decimal exponents of doubles run from -324 to 308 and are estimated at
// most one low, so k = 16 - exponent lies in [-292, 340].
constexpr int kMinK = -292;
constexpr int kMaxK = 340;
// 5^55 < 2^128 < 5^56: up to here the cached mantissa is 5^k itself.
constexpr int kMaxExactK = 55;

// A little-endian 1024-bit unsigned integer for building the table at
// compile time.
struct Big {
  std::array<uint64_t, 16> limb{};
};

constexpr int bit_length(const Big& a) {
  for (int i = 15; i >= 0; --i) {
    const uint64_t w = a.limb[static_cast<std::size_t>(i)];
    if (w != 0) {
      int n = 0;
      for (uint64_t v = w; v != 0; v >>= 1) ++n;
      return i * 64 + n;
    }
  }
  return 0;
}

constexpr bool bit(const Big& a, int pos) {
  if (pos < 0 || pos >= 1024) return false;
  return ((a.limb[static_cast<std::size_t>(pos / 64)] >> (pos % 64)) & 1U) != 0;
}

constexpr void multiply_small(Big& a, uint64_t factor) {
  Uint128 carry = 0;
  for (uint64_t& w : a.limb) {
    const Uint128 cur = static_cast<Uint128>(w) * factor + carry;
    w = static_cast<uint64_t>(cur);
    carry = cur >> 64;
  }
}

constexpr void divide_small(Big& a, uint64_t divisor) {
  Uint128 rem = 0;
  for (int i = 15; i >= 0; --i) {
    uint64_t& w = a.limb[static_cast<std::size_t>(i)];
    const Uint128 cur = (rem << 64) | w;
    w = static_cast<uint64_t>(cur / divisor);
    rem = cur % divisor;
  }
}

// The 128 bits of a just below its top bit, zero-padded when a is shorter.
constexpr Pow5 top_bits(const Big& a, int exp2, int k) {
  const int start = bit_length(a) - 128;
  uint64_t hi = 0;
  uint64_t lo = 0;
  for (int i = 0; i < 64; ++i) {
    if (bit(a, start + i)) lo |= uint64_t{1} << i;
    if (bit(a, start + 64 + i)) hi |= uint64_t{1} << i;
  }
  return {hi, lo, exp2, -1 - k - exp2};
}

constexpr std::array<Pow5, kMaxK - kMinK + 1> make_pow5_table() {
  std::array<Pow5, kMaxK - kMinK + 1> table{};
  // Positive powers exactly, by repeated multiplication.
  Big p;
  p.limb[0] = 1;
  for (int k = 0; k <= kMaxK; ++k) {
    table[static_cast<std::size_t>(k - kMinK)] = top_bits(p, bit_length(p) - 1, k);
    multiply_small(p, 5);
  }
  // floor(2^1023 / 5^j) by repeated floor division (floor(floor(a/b)/c) is
  // floor(a/(b*c))), so its top bits are the truncation of 5^-j.
  constexpr int kScale = 1023;
  Big q;
  q.limb[15] = uint64_t{1} << 63;
  for (int j = 1; j <= -kMinK; ++j) {
    divide_small(q, 5);
    table[static_cast<std::size_t>(-j - kMinK)] =
        top_bits(q, bit_length(q) - 1 - kScale, -j);
  }
  return table;
}

constexpr auto kPow5 = make_pow5_table();

constexpr const Pow5& pow5(int k) { return kPow5[static_cast<std::size_t>(k - kMinK)]; }

static_assert(pow5(0).hi == uint64_t{1} << 63 && pow5(0).lo == 0 && pow5(0).exp2 == 0);
static_assert(pow5(1).hi == uint64_t{5} << 61 && pow5(1).exp2 == 2);
static_assert(pow5(-1).hi == 0xCCCCCCCCCCCCCCCC && pow5(-1).lo == 0xCCCCCCCCCCCCCCCC &&
              pow5(-1).exp2 == -3);
static_assert(pow5(kMaxExactK).exp2 == 127 && pow5(kMaxExactK + 1).exp2 == 130);

// floor(e2 * log10(2)) for |e2| < 2620.
constexpr int floor_log10_pow2(int e2) { return (e2 * 78913) >> 18; }

// The scaled product keeps 64 fraction bits: P = (m * mantissa) >> shift
// with shift - 64 in [1, 63] for every binary exponent a double can have
// once m is normalised to [2^63, 2^64), with the estimated k and one less.
constexpr bool shifts_in_range() {
  for (int e = -1074 - 63; e <= 1023 - 63; ++e) {
    for (int k = 15 - floor_log10_pow2(e + 63); k <= 16 - floor_log10_pow2(e + 63); ++k) {
      if (k < kMinK || k > kMaxK) return false;
      const int s = 63 - e - k - pow5(k).exp2;
      if (s < 65 || s > 127) return false;
    }
  }
  return true;
}
static_assert(shifts_in_range());

// ---- Scaling and rounding ----------------------------------------------

constexpr uint64_t kTenPow8 = 100000000;
constexpr uint64_t kTenPow16 = 10000000000000000;
constexpr uint64_t kTenPow17 = 100000000000000000;

// p = m * 2^e * 10^k as its integer part, its first 64 fraction bits and
// the bits below those (only looked at near a tie).
struct Scaled {
  uint64_t whole;
  uint64_t fraction;
  uint64_t below_lo;  // the dropped low bits of the product's upper 128 bits
  uint64_t below;     // the product's lowest 64 bits
};

[[gnu::always_inline]] inline Scaled scale(uint64_t m, int e, int k) {
  const Pow5& c = pow5(k);
  const int shift = c.shift_base - e;  // 63 - e - k - exp2 - 64, in [1, 63]
  const Uint128 low = static_cast<Uint128>(m) * c.lo;
  const Uint128 top = static_cast<Uint128>(m) * c.hi + (low >> 64);
  const auto top_hi = static_cast<uint64_t>(top >> 64);
  const auto top_lo = static_cast<uint64_t>(top);
  return {top_hi >> shift, (top_lo >> shift) | (top_hi << (64 - shift)),
          top_lo << (64 - shift), static_cast<uint64_t>(low)};
}

// The 17 digits before the final carry: whole + up, with decimal exponent
// x while whole + up < 10^17. Kept apart so that splitting whole into
// digit groups need not wait for the rounding decision.
struct Rounded {
  uint64_t whole;
  uint64_t up;
  int x;
};

// m * 2^e with m in [2^63, 2^64) to 17 digits; false when undecided.
[[gnu::always_inline]] inline bool round17(uint64_t m, int e, Rounded& out) {
  int x = floor_log10_pow2(e + 63);
  Scaled p = scale(m, e, 16 - x);
  if (p.whole >= kTenPow17) {  // the estimate was one low: scale by 10^(k-1)
    ++x;
    p = scale(m, e, 16 - x);
  }
  constexpr uint64_t kHalf = uint64_t{1} << 63;
  // Which way the fraction falls is random data: no branch on it.
  auto up = static_cast<uint64_t>(p.fraction > kHalf);
  // Within 2^-63 of one half (kHalf - 1 or kHalf) the truncation matters.
  if (p.fraction - (kHalf - 1) < 2) [[unlikely]] {
    const int k = 16 - x;
    // A truncated power of five puts the true fraction in
    // [fraction, fraction + 2^-63): too close to call.
    if (k < 0 || k > kMaxExactK) return false;
    // An exact one leaves only the bits below to look at; a true tie goes
    // to the even neighbour.
    if (p.fraction == kHalf) {
      const bool beyond = (p.below_lo | p.below) != 0;
      up = static_cast<uint64_t>(beyond || (p.whole & 1) != 0);
    }
  }
  out = {p.whole, up, x};
  return true;
}

// whole + up, carried into a new digit when it reaches 10^17.
void settle(uint64_t& digits, int& x) {
  if (digits == kTenPow17) {
    digits = kTenPow16;
    ++x;
  }
}

// ---- Digits ------------------------------------------------------------

// Digit bytes are assembled in 64-bit words and stored whole, the first
// digit in the lowest byte.
static_assert(std::endian::native == std::endian::little);

constexpr uint64_t kAsciiZeros = 0x3030303030303030;

// n < 10^8 as eight digit values 0..9, one per byte, most significant in
// the lowest byte. Each step splits every lane in two by a multiply-shift
// that is an exact division for the lane's range: 10^4 by hand, then 100
// (v * 10486 >> 20 for v < 10^4) and 10 (v * 103 >> 10 for v < 100).
[[gnu::always_inline]] inline uint64_t digit_bytes8(uint32_t n) {
  const uint64_t fours = (n / 10000) | (static_cast<uint64_t>(n % 10000) << 32);
  const uint64_t top2 = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const uint64_t pairs = ((fours - 100 * top2) << 16) | top2;
  const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
  return tens | ((pairs - 10 * tens) << 8);
}

[[gnu::always_inline]] inline DigitBytes16 portable_digits16(uint32_t high,
                                                             uint32_t low) {
  return {digit_bytes8(high), digit_bytes8(low)};
}

#if defined(__SSE2__)
// The same splits on both numbers at once in SSE2 lanes: half the
// instructions of the portable version, which is what the formatter is
// bound by. mulhi(v, 5243) >> 3 is v / 100 and mulhi(v, 6554) is v / 10 for
// the 16-bit lanes' ranges (v < 10^4 and v < 100).
[[gnu::always_inline]] inline DigitBytes16 simd_digits16(uint32_t high, uint32_t low) {
  const __m128i v =
      _mm_set_epi64x(static_cast<long long>(low), static_cast<long long>(high));
  const __m128i q4 =
      _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi32(static_cast<int>(0xD1B71759))), 45);
  const __m128i r4 = _mm_sub_epi32(v, _mm_mul_epu32(q4, _mm_set1_epi32(10000)));
  const __m128i fours = _mm_or_si128(q4, _mm_slli_epi64(r4, 32));
  const __m128i q2 = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
  const __m128i r2 = _mm_sub_epi16(fours, _mm_mullo_epi16(q2, _mm_set1_epi16(100)));
  const __m128i pairs = _mm_or_si128(q2, _mm_slli_epi32(r2, 16));
  const __m128i q1 = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
  const __m128i r1 = _mm_sub_epi16(pairs, _mm_mullo_epi16(q1, _mm_set1_epi16(10)));
  const __m128i digits = _mm_or_si128(q1, _mm_slli_epi16(r1, 8));
  return {static_cast<uint64_t>(_mm_cvtsi128_si64(digits)),
          static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(digits, digits)))};
}
#endif

[[gnu::always_inline]] inline DigitBytes16 digits16(uint32_t high, uint32_t low) {
#if defined(__SSE2__)
  return simd_digits16(high, low);
#else
  return portable_digits16(high, low);
#endif
}

constexpr std::array<char, 200> make_pairs() {
  std::array<char, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[2 * static_cast<std::size_t>(i)] = static_cast<char>('0' + i / 10);
    t[2 * static_cast<std::size_t>(i) + 1] = static_cast<char>('0' + i % 10);
  }
  return t;
}
constexpr auto kPairs = make_pairs();

void store8(char* p, uint64_t w) { std::memcpy(p, &w, 8); }

void store2(char* p, uint64_t w) {
  const auto low = static_cast<uint16_t>(w);
  std::memcpy(p, &low, 2);
}

// Length of the digits without trailing zeros: the head digit, then the
// digit bytes of w1 and w2 (values, not ASCII).
int significant_length(uint64_t w1, uint64_t w2) {
  if (w2 != 0) return 10 + (63 - __builtin_clzll(w2)) / 8;
  if (w1 != 0) return 2 + (63 - __builtin_clzll(w1)) / 8;
  return 1;
}

// Eight bytes with '.' put at byte j (0..7) and the bytes from j on moved
// one place up; the top byte falls off.
constexpr uint64_t with_point(uint64_t w, int j) {
  const uint64_t before = (uint64_t{1} << (8 * j)) - 1;
  return (w & before) | (uint64_t{'.'} << (8 * j)) | ((w & ~before) << 8);
}

// A whole number 1 <= n < 10^17 in plain decimal.
char* write_integer(char* p, uint64_t n) {
  if (n < kTenPow8) {
    const uint64_t w = digit_bytes8(static_cast<uint32_t>(n));
    const int skip = __builtin_ctzll(w) / 8;  // leading zero digits
    store8(p, (w >> (8 * skip)) + kAsciiZeros);
    return p + 8 - skip;
  }
  const uint64_t high = n / kTenPow8;
  const uint64_t low = digit_bytes8(static_cast<uint32_t>(n % kTenPow8)) + kAsciiZeros;
  if (high < kTenPow8) {
    p = write_integer(p, high);
  } else {  // 17 digits
    *p++ = static_cast<char>('0' + high / kTenPow8);
    store8(p, digit_bytes8(static_cast<uint32_t>(high % kTenPow8)) + kAsciiZeros);
    p += 8;
  }
  store8(p, low);
  return p + 8;
}

// The %g layout of 17 digits with decimal exponent x: positional for
// -4 <= x < 17, otherwise d.ddde+XX; trailing zeros and a bare point go.
// Stores up to 24 bytes past p whatever the length.
[[gnu::always_inline]] inline char* lay_out(char* p, const Rounded& r) {
  // Split whole into 1 + 8 + 8 digits (two independent divisions) and add
  // the rounding to the last group; only a carry out of it needs the sum.
  uint64_t digits = r.whole;
  int x = r.x;
  uint64_t head_value = digits / kTenPow16;
  uint64_t high = digits / kTenPow8;
  uint64_t low = digits - high * kTenPow8 + r.up;
  if (low == kTenPow8) [[unlikely]] {
    digits += 1;
    settle(digits, x);
    head_value = digits / kTenPow16;
    high = digits / kTenPow8;
    low = digits - high * kTenPow8;
  }
  const auto head = static_cast<char>('0' + head_value);
  const auto [w1, w2] = digits16(static_cast<uint32_t>(high - head_value * kTenPow8),
                                 static_cast<uint32_t>(low));
  const int n = significant_length(w1, w2);
  if (x < -4 || x >= 17) {
    p[0] = head;
    p[1] = '.';
    store8(p + 2, w1 + kAsciiZeros);
    store8(p + 10, w2 + kAsciiZeros);
    p += n == 1 ? 1 : n + 1;
    int ex = x;
    char e[5] = {'e', '+', 0, 0, 0};
    if (ex < 0) {
      e[1] = '-';
      ex = -ex;
    }
    if (ex >= 100) {
      e[2] = static_cast<char>('0' + ex / 100);
      std::memcpy(e + 3, &kPairs[2 * static_cast<std::size_t>(ex % 100)], 2);
      std::memcpy(p, e, 5);
      return p + 5;
    }
    std::memcpy(e + 2, &kPairs[2 * static_cast<std::size_t>(ex)], 2);
    std::memcpy(p, e, 4);
    return p + 4;
  }
  if (x < 0) {
    const int zeros = -x - 1;
    store8(p, 0x3030303030302E30);  // "0.000000"
    char* d = p + 2 + zeros;
    d[0] = head;
    store8(d + 1, w1 + kAsciiZeros);
    store8(d + 9, w2 + kAsciiZeros);
    return d + n;
  }
  if (x == 16) {  // seventeen whole digits, no point
    p[0] = head;
    store8(p + 1, w1 + kAsciiZeros);
    store8(p + 9, w2 + kAsciiZeros);
    return p + 17;
  }
  // d[0..x], the point, d[x+1..16]: eighteen bytes, stored as two words
  // and two bytes.
  const uint64_t s1 = w1 + kAsciiZeros;                                 // d[1..8]
  const uint64_t s2 = w2 + kAsciiZeros;                                 // d[9..16]
  const uint64_t first = static_cast<unsigned char>(head) | (s1 << 8);  // d[0..7]
  const int point = x + 1;
  if (point < 8) {
    store8(p, with_point(first, point));
    store8(p + 8, (s1 >> 48) | (s2 << 16));
    store2(p + 16, s2 >> 48);
  } else if (point < 16) {
    store8(p, first);
    store8(p + 8, with_point((s1 >> 56) | (s2 << 8), point - 8));
    store2(p + 16, s2 >> 48);
  } else {
    store8(p, first);
    store8(p + 8, (s1 >> 56) | (s2 << 8));
    store2(p + 16, '.' | ((s2 >> 56) << 8));
  }
  return p + (n > point ? n + 1 : point);
}

constexpr uint64_t kExponentMask = uint64_t{0x7FF} << 52;

char* copy_word(char* p, std::string_view word) {
  std::memcpy(p, word.data(), word.size());
  return p + word.size();
}

// Splits a finite non-zero |value| into m * 2^e with m in [2^63, 2^64).
void normalise(uint64_t bits, uint64_t& m, int& e) {
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  if (biased != 0) {
    m = (fraction | (uint64_t{1} << 52)) << 11;
    e = biased - 1075 - 11;
  } else {
    const int lead = __builtin_clzll(fraction);
    m = fraction << lead;
    e = -1074 - lead;
  }
}

}  // namespace

bool decimal17_fast(double value, Decimal17& out) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
  if (magnitude == 0 || magnitude >= kExponentMask) return false;
  uint64_t m = 0;
  int e = 0;
  normalise(magnitude, m, e);
  Rounded r{};
  if (!round17(m, e, r)) return false;
  uint64_t digits = r.whole + r.up;
  settle(digits, r.x);
  out = {digits, r.x};
  return true;
}

namespace {

// The whole conversion, inlined into both entry points.
[[gnu::always_inline]] inline char* write_g17(double value, char* buf) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  char* p = buf;
  const uint64_t magnitude = bits & ~(uint64_t{1} << 63);
  if (magnitude >= kExponentMask) [[unlikely]] {
    if (magnitude > kExponentMask) return copy_word(buf, "NaN");
    return copy_word(buf, (bits >> 63) != 0 ? "-Infinity" : "Infinity");
  }
  if ((bits >> 63) != 0) *p++ = '-';
  if (magnitude == 0) {
    *p = '0';
    return p + 1;
  }
  // Whole numbers below 2^56 (< 10^17) print as plain integers; intensities
  // stored as float32 counts are often whole.
  const auto biased = static_cast<int>(magnitude >> 52);
  if (static_cast<unsigned>(biased - 1023) <= 52 + 3) {  // 1 <= |value| < 2^56
    const uint64_t mant = (magnitude & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int e = biased - 1075;
    if (e >= 0) return write_integer(p, mant << e);
    if ((mant << (64 + e)) == 0) return write_integer(p, mant >> -e);
  }
  uint64_t m = 0;
  int e = 0;
  normalise(magnitude, m, e);
  Rounded r{};
  if (!round17(m, e, r)) [[unlikely]] {
    return std::to_chars(buf, buf + kG17MaxLength, value, std::chars_format::general, 17)
        .ptr;
  }
  return lay_out(p, r);
}

}  // namespace

namespace detail {

DigitBytes16 digit_bytes16(uint32_t high, uint32_t low) { return digits16(high, low); }

DigitBytes16 digit_bytes16_portable(uint32_t high, uint32_t low) {
  return portable_digits16(high, low);
}

}  // namespace detail

std::size_t format_g17(double value, char* buf) {
  return static_cast<std::size_t>(write_g17(value, buf) - buf);
}

char* format_g17_list(std::span<const double> values, char* out) {
  if (values.empty()) return out;
  out = write_g17(values[0], out);
  for (std::size_t i = 1; i < values.size(); ++i) {
    *out++ = ',';
    out = write_g17(values[i], out);
  }
  return out;
}

}  // namespace vx::common
