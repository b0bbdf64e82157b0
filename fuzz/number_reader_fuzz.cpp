// Number text parsing: parse_number_text and scan_strtod on any bytes must
// never read outside the input, and must agree with strtod on the text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/number_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  (void)vx::common::parse_number_text(text);
  double got = 0.0;
  const std::size_t used = vx::common::scan_strtod(text, got);
  // strtod needs a terminated copy; it stops at a zero byte, so compare only
  // inputs without one.
  if (std::memchr(data, 0, size) == nullptr) {
    const std::string copy(text);
    char* end = nullptr;
    const double want = std::strtod(copy.c_str(), &end);
    const auto want_used = static_cast<std::size_t>(end - copy.c_str());
    if (want_used != used) std::abort();
    if (used != 0 && !(std::isnan(want) && std::isnan(got)) &&
        std::memcmp(&want, &got, sizeof want) != 0) {
      std::abort();
    }
  }
  return 0;
}
