// The cell-level reading shared by vxrun's input tables (targets, sample
// lists): line splitting with optional CSV quoting, blank trimming and
// case-blind header matching. Views in, strings out; locale-free.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::base {

std::string_view trim_blanks(std::string_view s);
bool same_ignoring_case(std::string_view a, std::string_view b);

// Splits one line into cells. With ',' or ';' as the delimiter cells may be
// double-quoted ("" inside quotes is a quote); quotes are removed. Returns
// false for an unterminated quote.
bool split_line(std::string_view line, char delimiter, std::vector<std::string>& cells);

// The delimiter a header line uses: a tab when it holds one; else ';' when,
// outside quotes, it holds more semicolons than commas (a spreadsheet saving
// "CSV" in a decimal-comma locale); else ','.
char header_delimiter(std::string_view header);

// A number cell of a table split on delimiter. In a ';'-separated table a
// comma is the decimal separator ("1,5" is 1.5): there it cannot be a cell
// separator, so it is unambiguous. A cell holding both ',' and '.' (a
// thousands separator) is refused rather than guessed at. Locale-free, no
// allocation.
std::optional<double> parse_cell_number(std::string_view cell, char delimiter);

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
