// Line and number reading for the identification readers.
#include "text_lines.hpp"

#include <charconv>
#include <cmath>

namespace vx::host::ident::detail {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<double> parse_number(std::string_view s) {
  const bool plus = !s.empty() && s.front() == '+';
  if (plus) s.remove_prefix(1);
  if (s.empty() || (plus && (s.front() == '+' || s.front() == '-'))) return std::nullopt;
  double v = 0.0;
  const char* end = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc{} || ptr != end || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long long> parse_integer(std::string_view s) {
  const bool plus = !s.empty() && s.front() == '+';
  if (plus) s.remove_prefix(1);
  if (s.empty() || (plus && (s.front() == '+' || s.front() == '-'))) return std::nullopt;
  long long v = 0;
  const char* end = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc{} || ptr != end) return std::nullopt;
  return v;
}

Lines::Lines(std::string_view text) : text_(text) {
  if (text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
}

bool Lines::next(std::string_view& line, std::size_t& line_no) {
  if (pos_ >= text_.size()) return false;
  std::size_t end = text_.find('\n', pos_);
  if (end == std::string_view::npos) end = text_.size();
  line = text_.substr(pos_, end - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos_ = end + 1;
  line_no = ++line_no_;
  return true;
}

std::string line_error(std::string_view source, std::size_t line_no,
                       std::string_view what) {
  std::string e(source);
  e += ':';
  e += std::to_string(line_no);
  e += ": ";
  e += what;
  return e;
}

std::string quoted_excerpt(std::string_view s) {
  constexpr std::size_t kMax = 40;
  std::string q = "'";
  q += s.substr(0, kMax);
  if (s.size() > kMax) q += "...";
  q += '\'';
  return q;
}

}  // namespace vx::host::ident::detail
