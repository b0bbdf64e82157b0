// The cell-level reading shared by vxrun's input tables (targets, sample
// lists): line splitting with optional CSV quoting, blank trimming and
// case-blind header matching. Views in, strings out; locale-free.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::base {

std::string_view trim_blanks(std::string_view s);
bool same_ignoring_case(std::string_view a, std::string_view b);

// Splits one line into cells. With ',' as the delimiter cells may be
// double-quoted ("" inside quotes is a quote); quotes are removed. Returns
// false for an unterminated quote.
bool split_line(std::string_view line, char delimiter, std::vector<std::string>& cells);

// Walks every line of a text, blank ones included: strips a UTF-8 byte-order
// mark once and a CR before each LF (or at the end). Readers whose blank
// lines mean something (.msp entries end at one) use it directly.
class TextLines {
 public:
  explicit TextLines(std::string_view text);
  // The next line and its 1-based number; false at the end.
  bool next(std::string_view& line, std::size_t& line_no);
  [[nodiscard]] std::size_t last_line() const { return line_no_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_no_ = 0;
};

// The content lines of a table text: as TextLines, but blank lines and lines
// starting with '#' are skipped.
class TableLines {
 public:
  explicit TableLines(std::string_view text) : lines_(text) {}
  // The next content line and its 1-based number; false at the end.
  bool next(std::string_view& line, std::size_t& line_no);
  [[nodiscard]] std::size_t last_line() const { return lines_.last_line(); }

 private:
  TextLines lines_;
};

}  // namespace vx::host::base
