// JSON writing. Numbers go through format_g17 (decimal_format.hpp), which
// gives printf's %.17g bytes in the "C" locale without consulting a locale.
#include "common/json_writer.hpp"

#include <algorithm>
#include <charconv>

#include "common/decimal_format.hpp"

namespace vx::common {
namespace {

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

static_assert(kNumberBufferSize >= kG17MaxLength);

std::size_t format_double(double value, char* buf) { return format_g17(value, buf); }

std::string format_number_array(std::span<const double> values) {
  JsonWriter w;
  w.number_array(values);
  return w.take();
}

void append_escaped(std::string& out, std::string_view text) {
  std::size_t run = 0;  // start of the pending run of plain bytes
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '\t':
        out.append("\\t");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      default: {
        const char u[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(u, sizeof u);
      }
    }
  }
  out.append(text.substr(run));
}

std::string escape_json_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  append_escaped(out, text);
  return out;
}

JsonWriter& JsonWriter::number(double value) {
  char buf[kNumberBufferSize];
  out_.append(buf, format_double(value, buf));
  return *this;
}

JsonWriter& JsonWriter::integer(int64_t value) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out_.append(buf, static_cast<std::size_t>(result.ptr - buf));
  return *this;
}

JsonWriter& JsonWriter::count(uint64_t value) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out_.append(buf, static_cast<std::size_t>(result.ptr - buf));
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
  out_.push_back('"');
  append_escaped(out_, text);
  out_.push_back('"');
  return *this;
}

JsonWriter& JsonWriter::number_array(std::span<const double> values) {
  // Numbers are formatted a block at a time on the stack and appended in
  // one piece: no append per number, and the document never grows past the
  // bytes actually written (reserving the worst case of every number would
  // spill a document sized in advance into a second, doubled buffer).
  constexpr std::size_t kBlockValues = 128;
  char block[kBlockValues * (kG17MaxLength + 1)];
  out_.push_back('[');
  for (std::size_t at = 0; at < values.size(); at += kBlockValues) {
    char* p = block;
    if (at != 0) *p++ = ',';  // fits: the first number has no comma of its own
    p = format_g17_list(values.subspan(at, std::min(kBlockValues, values.size() - at)),
                        p);
    out_.append(block, static_cast<std::size_t>(p - block));
  }
  out_.push_back(']');
  return *this;
}

}  // namespace vx::common
