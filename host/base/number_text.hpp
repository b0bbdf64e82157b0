// Layer host/base (vx_host_base), the bottom: texts, numbers, JSON, UTF-8,
// threads, files and exit codes that every other layer shares. Uses no other
// layer of the host.
//
// Locale-free number reading and writing for the host: command-line values,
// table cells, SVG coordinates. Nothing here allocates per number or looks at
// the process locale, so a decimal-comma locale never changes a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vx::host::base {

// Big enough for any double written by the functions below.
inline constexpr std::size_t kNumberTextSize = 32;

// The whole text (blanks around it allowed, a leading '+' allowed) as a
// double; nullopt when anything else is left over or nothing was read.
std::optional<double> parse_double(std::string_view text);
// The whole text as a decimal integer (blanks around it and a '+' allowed).
std::optional<int64_t> parse_integer(std::string_view text);

// Shortest text that reads back to the same double ("0.1", "73", "1e-07");
// NaN and infinities as "NaN", "Infinity", "-Infinity". Returns the length.
std::size_t format_shortest(double value, char* buf);
// %.<digits>g-style text for people (trailing zeros dropped).
std::size_t format_general(double value, int digits, char* buf);

// Convenience wrappers that return a string (for cold paths).
std::string shortest_text(double value);
std::string general_text(double value, int digits);
// Fixed notation with `places` decimals, for people ("1.1779"); non-finite
// values as format_shortest writes them.
std::string fixed_text(double value, int places);

}  // namespace vx::host::base
