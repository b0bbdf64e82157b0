// Line and number reading for the identification readers (ladder tables,
// .msp libraries): the base layer's line walker and cell helpers, plus the
// two error-text helpers every reader here formats its messages with.
// Views in, views out; locale-free; never reads outside the given view.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "number_text.hpp"
#include "table_text.hpp"

namespace vx::host::ident::detail {

using Lines = base::TextLines;
using base::parse_integer;
using base::same_ignoring_case;
inline std::string_view trim(std::string_view s) { return base::trim_blanks(s); }

// The whole of s as a finite number: a library's "NaN" or "inf" is an error
// to report, not a value to carry into a score.
std::optional<double> parse_number(std::string_view s);

// "SOURCE:LINE: what", the form every reader's errors take.
std::string line_error(std::string_view source, std::size_t line_no,
                       std::string_view what);

// A value cut for an error message: at most 40 bytes, so a binary file fed
// by mistake does not make a megabyte of error text.
std::string quoted_excerpt(std::string_view s);

}  // namespace vx::host::ident::detail
