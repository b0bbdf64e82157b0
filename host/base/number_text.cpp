// std::from_chars and std::to_chars are locale-independent by definition,
// which is why they are used instead of strtod/printf here.
#include "number_text.hpp"

#include <charconv>
#include <cmath>

namespace vx::host::base {
namespace {

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
  };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

std::size_t non_finite(double value, char* buf) {
  const std::string_view word = std::isnan(value) ? "NaN"
                                : value > 0       ? "Infinity"
                                                  : "-Infinity";
  return word.copy(buf, word.size());
}

// The whole text (blanks around it and one leading '+' allowed) as a T.
template <typename T>
std::optional<T> parse_whole(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '+') return std::nullopt;
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> parse_double(std::string_view text) { return parse_whole<double>(text); }

std::optional<int64_t> parse_integer(std::string_view text) {
  return parse_whole<int64_t>(text);
}

std::size_t format_shortest(double value, char* buf) {
  if (!std::isfinite(value)) return non_finite(value, buf);
  const auto [end, ec] = std::to_chars(buf, buf + kNumberTextSize, value);
  return ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0;
}

std::size_t format_general(double value, int digits, char* buf) {
  if (!std::isfinite(value)) return non_finite(value, buf);
  const auto [end, ec] = std::to_chars(buf, buf + kNumberTextSize, value,
                                       std::chars_format::general, digits);
  return ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0;
}

std::string shortest_text(double value) {
  char buf[kNumberTextSize];
  return {buf, format_shortest(value, buf)};
}

std::string general_text(double value, int digits) {
  char buf[kNumberTextSize];
  return {buf, format_general(value, digits, buf)};
}

std::string fixed_text(double value, int places) {
  char buf[kNumberTextSize];
  if (!std::isfinite(value)) return {buf, non_finite(value, buf)};
  const auto [end, ec] = std::to_chars(buf, buf + kNumberTextSize, value,
                                       std::chars_format::fixed, places);
  // Too long for the buffer (|value| beyond about 1e20): general notation.
  if (ec != std::errc()) return general_text(value, 6);
  return {buf, static_cast<std::size_t>(end - buf)};
}

}  // namespace vx::host::base
