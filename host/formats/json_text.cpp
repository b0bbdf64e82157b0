// JSON pieces for the formats layer (see json_text.hpp).
#include "json_text.hpp"

#include <charconv>
#include <cmath>

namespace vx::host::formats {
namespace {

constexpr char kHex[] = "0123456789abcdef";

std::size_t copy_word(char* buf, std::string_view word) {
  word.copy(buf, word.size());
  return word.size();
}

}  // namespace

std::size_t format_number(double value, char* buf) {
  // to_chars would write nan and inf; the documents use the JavaScript words.
  if (std::isnan(value)) return copy_word(buf, "NaN");
  if (std::isinf(value)) return copy_word(buf, value < 0 ? "-Infinity" : "Infinity");
  const auto r =
      std::to_chars(buf, buf + kMaxNumberText, value, std::chars_format::general, 17);
  return static_cast<std::size_t>(r.ptr - buf);
}

void append_number(std::string& out, double value) {
  char buf[kMaxNumberText];
  out.append(buf, format_number(value, buf));
}

void append_integer(std::string& out, int64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void append_number_array(std::string& out, std::span<const double> values) {
  out.push_back('[');
  char buf[kMaxNumberText + 1];
  for (std::size_t i = 0; i < values.size(); ++i) {
    char* p = buf;
    if (i != 0) *p++ = ',';
    p += format_number(values[i], p);
    out.append(buf, static_cast<std::size_t>(p - buf));
  }
  out.push_back(']');
}

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  std::size_t run = 0;  // start of the pending run of plain bytes
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      default: {
        const char u[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(u, sizeof u);
      }
    }
  }
  out.append(text.substr(run));
  out.push_back('"');
}

}  // namespace vx::host::formats
