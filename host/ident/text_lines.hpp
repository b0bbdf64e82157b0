// Line and number reading shared by the identification readers (ladder
// tables, .msp libraries). Internal to vx_host_ident: the layer depends on
// the standard library only, so it carries its own few helpers instead of
// reaching up into the host's table code. Views in, views out; locale-free;
// never reads outside the given view.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vx::host::ident::detail {

std::string_view trim(std::string_view s);
bool same_ignoring_case(std::string_view a, std::string_view b);

// The whole of s as a finite number (std::from_chars, so no locale and no
// errno); a leading '+' is accepted because spreadsheets write one.
std::optional<double> parse_number(std::string_view s);
// The whole of s as a decimal integer.
std::optional<long long> parse_integer(std::string_view s);

// Walks the lines of a text: strips a UTF-8 byte-order mark once and a CR
// before each LF (or at the end). Every line is returned, blank ones too;
// callers decide what a blank line means.
class Lines {
 public:
  explicit Lines(std::string_view text);
  // The next line and its 1-based number; false at the end.
  bool next(std::string_view& line, std::size_t& line_no);

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_no_ = 0;
};

// "SOURCE:LINE: what", the form every reader's errors take.
std::string line_error(std::string_view source, std::size_t line_no,
                       std::string_view what);

// A value cut for an error message: at most 40 bytes, so a binary file fed
// by mistake does not make a megabyte of error text.
std::string quoted_excerpt(std::string_view s);

}  // namespace vx::host::ident::detail
