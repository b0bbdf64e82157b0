// Compact JSON writing shared by every document of the library. Numbers are
// written exactly as printf("%.17g") writes them in the "C" locale, without
// any locale or stream; NaN is written NaN and infinities Infinity and
// -Infinity. Appending allocates only when the buffer grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vx::common {

// Enough for any double in %.17g ("-1.2345678901234567e-308" is 24 bytes).
inline constexpr std::size_t kNumberBufferSize = 32;

// Writes value as %.17g into buf (no terminator) and returns the length.
std::size_t format_double(double value, char* buf);

// "[" the numbers separated by "," "]"; "[]" when empty.
std::string format_number_array(std::span<const double> values);

// The text with tab, line feed, carriage return, double quote and backslash
// written as two-byte escapes and other bytes below 32 as \u00XX; no quotes.
std::string escape_json_text(std::string_view text);
void append_escaped(std::string& out, std::string_view text);

// A document under construction, appended piece by piece.
class JsonWriter {
 public:
  void reserve(std::size_t bytes) { out_.reserve(bytes); }
  JsonWriter& raw(std::string_view text) {
    out_.append(text);
    return *this;
  }
  JsonWriter& number(double value);
  JsonWriter& integer(int64_t value);
  JsonWriter& count(uint64_t value);
  JsonWriter& boolean(bool value) { return raw(value ? "true" : "false"); }
  // A double quote, the escaped text, a double quote.
  JsonWriter& string(std::string_view text);
  JsonWriter& number_array(std::span<const double> values);

  std::size_t size() const { return out_.size(); }
  const std::string& text() const { return out_; }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

}  // namespace vx::common
