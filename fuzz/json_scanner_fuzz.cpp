// JSON input scanning on any bytes: the first byte gives the key's length
// (up to 16), the key follows, the rest is the JSON text. Member lookup,
// number and string reads and number lists must never read outside the
// text, and a member's value must be a piece of the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/json_scanner.hpp"

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t key_size = std::min<std::size_t>(data[0] % 17, size - 1);
  const std::string key(reinterpret_cast<const char*>(data + 1), key_size);
  // The text in an exactly sized heap buffer, so reading past it is caught.
  const std::size_t n = size - 1 - key_size;
  const std::unique_ptr<char[]> buf(new char[n == 0 ? 1 : n]);
  std::memcpy(buf.get(), data + 1 + key_size, n);
  const std::string_view text = vx::common::until_nul({buf.get(), n});

  if (const auto raw = vx::common::find_member_text(text, key)) {
    if (raw->data() < text.data() ||
        raw->data() + raw->size() > text.data() + text.size()) {
      std::abort();
    }
    (void)vx::common::parse_number_list(*raw);
  }
  (void)vx::common::read_number_member(text, key);
  std::string out = "unchanged";
  if (!vx::common::read_string_member(text, key, out) && !out.empty() &&
      out != "unchanged") {
    std::abort();  // false means absent (untouched) or empty
  }
  (void)vx::common::parse_number_list(text);
  return 0;
}
