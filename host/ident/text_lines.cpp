// Line and number reading for the identification readers.
#include "text_lines.hpp"

#include <cmath>

namespace vx::host::ident::detail {

std::optional<double> parse_number(std::string_view s) {
  const auto v = base::parse_double(s);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
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
