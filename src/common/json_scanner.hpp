// Tolerant reading of JSON input text without building a tree: the raw text
// of a top-level member, a number or string stored there, and every number
// in a piece of text. Malformed input only makes a lookup come back empty;
// nothing here throws (apart from allocation failure) or reads past the view.
// Callers cut their text at its first zero byte (until_nul) once.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::common {

// The text up to, not including, its first zero byte.
std::string_view until_nul(std::string_view text);

// The raw value text of the first top-level member of the outermost object
// whose key, after backslash removal, equals key; nullopt when there is none.
std::optional<std::string_view> find_member_text(std::string_view json,
                                                 std::string_view key);

// The leading number of the member's value (trimmed, one pair of quotes
// removed); nullopt when the member is absent or no number starts there.
std::optional<double> read_number_member(std::string_view json, std::string_view key);

// The member's value, trimmed and with one pair of quotes removed, replaces
// out; returns whether it is non-empty. An absent member leaves out alone.
bool read_string_member(std::string_view json, std::string_view key, std::string& out);

// Every number that "strtod" finds walking the text: a conversion where one
// starts, otherwise one byte skipped. Appends to out.
void parse_number_list(std::string_view text, std::vector<double>& out);
std::vector<double> parse_number_list(std::string_view text);

}  // namespace vx::common
