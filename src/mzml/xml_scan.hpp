// Byte-level search of XML text: the next element with a given name, the
// content between a start tag and its end tag, and a double-quoted attribute
// value. These match byte patterns; they are not an XML parser. Every result
// is a view into the searched text (empty means absent), every search stays
// inside the given view, and nothing here throws or allocates.
#pragma once

#include <cstddef>
#include <string_view>

namespace vx::mzml {

// The tag delimiters: TAB, LF, CR, space, '/' and '>'.
constexpr bool is_tag_delimiter(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '/' || c == '>';
}

// First occurrence of pattern in text at or after from; npos when absent.
std::size_t find_text(std::string_view text, std::string_view pattern, std::size_t from);

// Offset of the first start tag "<tag" followed by a delimiter (or by the end
// of the text) at or after start; npos when absent. The tag need not end.
std::size_t find_start_tag(std::string_view text, std::string_view tag,
                           std::size_t start);

// The whole text of the first element named tag whose start tag begins at or
// after start ("<tag" followed by a delimiter or the end of the text), up to
// and including its end tag "</tag>" or its self-closing '>'. end_out gets
// the offset just past it; on a miss the result is empty and end_out is left
// alone. Same-name nesting is not tracked: the first end tag closes.
std::string_view find_element(std::string_view text, std::string_view tag,
                              std::size_t start, std::size_t& end_out);

// The bytes between the '>' of that element's start tag and its end tag,
// untrimmed; empty for a self-closing element or a missing end tag.
std::string_view element_content(std::string_view text, std::string_view tag,
                                 std::size_t start);

// The bytes between name="  and the next double quote, for the first
// occurrence of name=" that starts the text or follows a blank (space, tab,
// LF, CR); empty when absent or unterminated. A longer attribute name that
// merely ends in name (filename for name) does not match.
std::string_view attribute_value(std::string_view text, std::string_view name);

}  // namespace vx::mzml
