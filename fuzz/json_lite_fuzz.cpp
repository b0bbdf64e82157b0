// The host's JSON reader on any bytes: the step documents it reads come from
// a library it does not control. It must end in a value or an error whose
// offset lies within the text, and bounded nesting must hold (no stack
// overflow on deep input; the fuzzer's stack is small enough to notice).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "json_lite.hpp"

namespace {

std::size_t depth(const vx::host::base::JsonValue& v) {
  std::size_t deepest = 0;
  for (const auto& item : v.items) deepest = std::max(deepest, depth(item));
  for (const auto& m : v.members) deepest = std::max(deepest, depth(m.value));
  return deepest + 1;
}

}  // namespace

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
  for (size_t i = 0; i < size; ++i) buf[i] = static_cast<char>(data[i]);
  const vx::host::base::JsonParse p = vx::host::base::parse_json({buf.get(), size});
  if (p.value.has_value() == !p.error.empty()) std::abort();
  if (!p.value && p.offset > size) std::abort();
  if (p.value) {
    if (depth(*p.value) > vx::host::base::kMaxDepth + 1) std::abort();
    (void)p.value->numbers_at("spectra");
    (void)p.value->text_at("fit_status");
  }
  return 0;
}
