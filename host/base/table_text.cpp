// Table cells and lines; see table_text.hpp.
#include "table_text.hpp"

#include "number_text.hpp"

namespace vx::host::base {

std::string_view trim_blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool split_line(std::string_view line, char delimiter, std::vector<std::string>& cells) {
  cells.clear();
  std::size_t i = 0;
  while (true) {
    std::string cell;
    // Blanks before an opening quote are allowed.
    std::size_t j = i;
    while (j < line.size() && line[j] == ' ') ++j;
    if ((delimiter == ',' || delimiter == ';') && j < line.size() && line[j] == '"') {
      i = j + 1;
      while (true) {
        if (i >= line.size()) return false;
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell += line[i++];
      }
      // Anything between the closing quote and the delimiter is kept.
      const std::size_t stop = line.find(delimiter, i);
      cell.append(trim_blanks(line.substr(
          i, stop == std::string_view::npos ? std::string_view::npos : stop - i)));
      cells.push_back(std::move(cell));
      if (stop == std::string_view::npos) return true;
      i = stop + 1;
      continue;
    }
    const std::size_t stop = line.find(delimiter, i);
    cells.emplace_back(trim_blanks(line.substr(
        i, stop == std::string_view::npos ? std::string_view::npos : stop - i)));
    if (stop == std::string_view::npos) return true;
    i = stop + 1;
  }
}

char header_delimiter(std::string_view header) {
  if (header.find('\t') != std::string_view::npos) return '\t';
  std::size_t commas = 0;
  std::size_t semicolons = 0;
  bool quoted = false;
  for (const char c : header) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    commas += c == ',' ? 1 : 0;
    semicolons += c == ';' ? 1 : 0;
  }
  return semicolons > commas ? ';' : ',';
}

std::optional<double> parse_cell_number(std::string_view cell, char delimiter) {
  const std::size_t comma = cell.find(',');
  if (delimiter != ';' || comma == std::string_view::npos) return parse_double(cell);
  // Longer cells than any double's text are not numbers anyway.
  char buf[64];
  if (cell.size() > sizeof buf || cell.find(',', comma + 1) != std::string_view::npos ||
      cell.find('.') != std::string_view::npos)
    return std::nullopt;
  cell.copy(buf, cell.size());
  buf[comma] = '.';
  return parse_double(std::string_view(buf, cell.size()));
}

TextLines::TextLines(std::string_view text) : text_(text) {
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
}

bool TextLines::next(std::string_view& line, std::size_t& line_no) {
  if (pos_ >= text_.size()) return false;
  const std::size_t nl = text_.find('\n', pos_);
  line = text_.substr(pos_, nl == std::string_view::npos ? std::string_view::npos : nl - pos_);
  pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  line_no = ++line_no_;
  return true;
}

bool TableLines::next(std::string_view& line, std::size_t& line_no) {
  while (lines_.next(line, line_no)) {
    const std::string_view t = trim_blanks(line);
    if (!t.empty() && t.front() != '#') return true;
  }
  return false;
}

}  // namespace vx::host::base
