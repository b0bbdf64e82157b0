// Number reading: std::from_chars does the work because it is exact, fast and
// ignores the locale; the forms it does not take (a leading '+', the 0x
// prefix, leading blanks) are handled around it, and only out-of-range
// results fall back to strtod_l with an explicit "C" locale.
#include "common/number_reader.hpp"

#include <locale.h>  // NOLINT(modernize-deprecated-headers): newlocale, strtod_l

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace vx::common {
namespace {

bool is_sign(char c) { return c == '+' || c == '-'; }

bool is_ascii_x(char c) { return c == 'x' || c == 'X'; }

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// strtod reads a hexadecimal body only when a digit comes first (possibly
// after the point); from_chars would also take "inf" and "nan" there.
bool starts_hex_body(const char* p, const char* end) {
  if (p == end) return false;
  if (is_hex_digit(*p)) return true;
  return *p == '.' && end - p >= 2 && is_hex_digit(p[1]);
}

// from_chars over [first, last) in the given format; on out-of-range the
// value is recomputed from the matched bytes. Returns the end or nullptr.
const char* convert(const char* first, const char* last, double& value,
                    std::chars_format format, std::string_view prefix) {
  double v = 0.0;
  const auto [ptr, ec] = std::from_chars(first, last, v, format);
  if (ec == std::errc::invalid_argument) return nullptr;
  if (ec == std::errc::result_out_of_range) {
    std::string text(prefix);
    text.append(first, static_cast<std::size_t>(ptr - first));
    v = strtod_c_locale(text);
  }
  value = v;
  return ptr;
}

// The 0x forms, after blanks and sign: rare, so kept out of the decimal path.
[[gnu::noinline]] std::size_t scan_hex(const char* begin, const char* p, const char* end,
                                       bool negative, double& value) {
  double v = 0.0;
  const char* stop = nullptr;
  const char* body = p + 2;
  if (starts_hex_body(body, end)) {
    stop = convert(body, end, v, std::chars_format::hex, "0x");
    // GCC 12's from_chars takes a second sign in a binary exponent
    // ("0xfp+-2" as 0xfp-2); strtod ends the number before such a 'p'.
    const char* mark = stop == nullptr ? nullptr : std::find_if(body, stop, [](char c) {
      return c == 'p' || c == 'P';
    });
    if (mark != nullptr && mark != stop) {
      const char* digit = mark + 1;
      if (digit != stop && is_sign(*digit)) ++digit;
      if (digit == stop || *digit < '0' || *digit > '9') {
        stop = convert(body, mark, v, std::chars_format::hex, "0x");
      }
    }
  }
  if (stop == nullptr) {  // "0x" without hexadecimal digits converts the 0
    v = 0.0;
    stop = p + 1;
  }
  value = negative ? -v : v;
  return static_cast<std::size_t>(stop - begin);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::size_t skip_digits(std::string_view t, std::size_t i) {
  while (i < t.size() && is_digit(t[i])) ++i;
  return i;
}

}  // namespace

std::size_t skip_spaces(std::string_view text, std::size_t from) {
  while (from < text.size() && is_c_space(static_cast<unsigned char>(text[from]))) ++from;
  return from;
}

// The locale object is created once and never changed.
double strtod_c_locale(std::string_view number, bool* range_error) {
  static const locale_t c_locale =
      newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const std::string copy(number);
  errno = 0;
  const double v = c_locale == static_cast<locale_t>(nullptr)
                       ? std::strtod(copy.c_str(), nullptr)  // "C" is the default
                       : strtod_l(copy.c_str(), nullptr, c_locale);
  if (range_error != nullptr) *range_error = errno == ERANGE;
  return v;
}

std::size_t scan_plain_decimal(std::string_view text, double& value) {
  const std::size_t start = skip_spaces(text);
  std::size_t i = start;
  if (i < text.size() && is_sign(text[i])) ++i;
  const std::size_t int_begin = i;
  i = skip_digits(text, i);
  std::size_t digits = i - int_begin;
  if (i < text.size() && text[i] == '.') {
    const std::size_t frac_begin = i + 1;
    i = skip_digits(text, frac_begin);
    digits += i - frac_begin;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && is_sign(text[j])) ++j;
    if (j < text.size() && is_digit(text[j])) i = skip_digits(text, j);
  }
  if (scan_strtod(text.substr(start, i - start), value) == 0) return 0;
  return i;
}

DecimalInteger scan_decimal_integer(std::string_view text) {
  DecimalInteger d;
  std::size_t i = skip_spaces(text);
  if (i < text.size() && is_sign(text[i])) {
    d.negative = text[i] == '-';
    ++i;
  }
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  for (; i < text.size() && is_digit(text[i]); ++i) {
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

std::string_view trim_spaces(std::string_view text) {
  const std::size_t front = skip_spaces(text);
  std::size_t back = text.size();
  while (back > front && is_c_space(static_cast<unsigned char>(text[back - 1]))) {
    --back;
  }
  return text.substr(front, back - front);
}

std::size_t scan_strtod(std::string_view text, double& value) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin + skip_spaces(text);
  if (p == end) return 0;
  const char* body = is_sign(*p) ? p + 1 : p;
  // from_chars takes a '-' of its own; a second sign must not get through.
  if (body == end || is_sign(*body)) return 0;
  if (*body == '0' && end - body >= 2 && is_ascii_x(body[1])) [[unlikely]] {
    return scan_hex(begin, body, end, *p == '-', value);
  }
  // Decimal, inf and nan in one call: from_chars reads a leading '-' (not
  // '+') itself, which spares a negation and a copy of the sign.
  const char* const first = *p == '+' ? body : p;
  double v = 0.0;
  const auto [stop, ec] = std::from_chars(first, end, v);
  if (ec == std::errc::invalid_argument) return 0;
  if (ec == std::errc::result_out_of_range) [[unlikely]] {
    v = strtod_c_locale({first, static_cast<std::size_t>(stop - first)});
  }
  value = v;
  return static_cast<std::size_t>(stop - begin);
}

std::optional<double> parse_number_text(std::string_view text) {
  std::string_view t = trim_spaces(text);
  if (t.empty()) return std::nullopt;
  std::string unquoted;
  if (t.size() >= 2 && t.front() == '"' && t.back() == '"') {
    const std::string_view inner = t.substr(1, t.size() - 2);
    unquoted.reserve(inner.size());
    for (std::size_t i = 0; i < inner.size(); ++i) {
      // A backslash takes the next byte literally; one right before the
      // closing quote has no next byte and stays.
      if (inner[i] == '\\' && i + 1 < inner.size()) ++i;
      unquoted.push_back(inner[i]);
    }
    t = trim_spaces(unquoted);
    if (t.empty()) return std::nullopt;
  }
  double v = 0.0;
  const std::size_t used = scan_strtod(t, v);
  if (used == 0 || used != t.size()) return std::nullopt;
  return v;
}

std::optional<double> read_number(const StepValue* value) {
  if (value == nullptr) return std::nullopt;
  if (value->kind == VX_KIND_FLOAT64 || value->kind == VX_KIND_INT64) {
    if (value->data == nullptr || value->size < 8) return std::nullopt;
    if (value->kind == VX_KIND_FLOAT64) {
      double d = 0.0;
      std::memcpy(&d, value->data, sizeof d);
      return d;
    }
    int64_t i = 0;
    std::memcpy(&i, value->data, sizeof i);
    return static_cast<double>(i);
  }
  if (value->data == nullptr || value->size == 0) return std::nullopt;
  if (value->kind != VX_KIND_TEXT && value->kind != 5 && value->kind != 6) {
    return std::nullopt;
  }
  return parse_number_text(
      {static_cast<const char*>(value->data), static_cast<std::size_t>(value->size)});
}

}  // namespace vx::common
