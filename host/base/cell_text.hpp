// Table cells as text: TSV escaping, JSON strings, numbers in the shortest
// text that reads back to the same double (locale-free, no allocation per
// number), and RowWriter, which writes one row as a TSV line, as its TSV
// header line or as a JSON object line from the same sequence of calls, so a
// table's columns are listed once.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vx::host::base {

// Characters written as a backslash and a code: in TSV cells so that a row
// stays one line of tab-separated cells, in JSON as the format requires.
struct Escape {
  char raw;
  char code;
};
inline constexpr std::array<Escape, 4> kTsvEscapes{
    {{'\t', 't'}, {'\n', 'n'}, {'\r', 'r'}, {'\\', '\\'}}};
inline constexpr std::array<Escape, 5> kJsonEscapes{
    {{'"', '"'}, {'\\', '\\'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}}};

// Tab, line feed, carriage return and backslash as \t, \n, \r, \\.
void append_tsv_text(std::string& out, std::string_view s);
// Undoes append_tsv_text; false on a lone or unknown escape.
bool tsv_unescape(std::string_view cell, std::string& out);
// How a JSON string is written. kPlain: quotes, backslash and control bytes
// escaped, every other byte as it is (the tables' JSON Lines). kInsideHtml:
// for a JSON block inside an HTML page, also '<', '>' and '&' as \u00XX so
// that no text can close the block, control bytes always as \u00XX, and bytes
// that are not UTF-8 as U+FFFD.
enum class JsonText { kPlain, kInsideHtml };

// The one JSON string escaper of the host.
void append_json_text(std::string& out, std::string_view s,
                      JsonText mode = JsonText::kPlain);
void append_number(std::string& out, double v);
void append_integer(std::string& out, int64_t v);
void append_integer(std::string& out, uint64_t v);
// Absent and non-finite numbers are null.
void append_json_number(std::string& out, std::optional<double> v);

class RowWriter {
 public:
  enum class Format { kTsvHeader, kTsv, kJsonl };
  RowWriter(std::string& out, Format format);

  void text(std::string_view key, std::string_view v);
  void number(std::string_view key, std::optional<double> v);
  void count(std::string_view key, std::optional<uint64_t> v);
  void integer(std::string_view key, std::optional<int64_t> v);
  void flag(std::string_view key, bool v);
  // TSV: the items joined with ','; JSON: an array of strings.
  void list(std::string_view key, std::span<const std::string> items);
  // TSV: tsv as a cell; JSON: json as the value, written as it is.
  void custom(std::string_view key, std::string_view tsv, std::string_view json);
  // Ends the line.
  void end();

 private:
  bool start(std::string_view key);  // false for the header: the key was written
  // A whole number; absent is an empty cell or null.
  template <typename T>
  void whole(std::string_view key, std::optional<T> v);
  std::string& out_;
  Format format_;
  bool first_ = true;
};

}  // namespace vx::host::base
