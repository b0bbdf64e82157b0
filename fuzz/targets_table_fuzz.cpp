// The targets table on any bytes: it is the one file a user hands vxrun
// besides the mzML files. Every target a clean parse returns must be
// runnable (the parser refuses what the steps would clamp or misread), and
// every error must name the source and, where it has one, a line that
// exists.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "targets.hpp"

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text in an exactly sized heap buffer, so reading past it is caught.
  const std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
  for (size_t i = 0; i < size; ++i) buf[i] = static_cast<char>(data[i]);
  const std::string_view text(buf.get(), size);
  const vx::host::tables::TargetsParse p = vx::host::tables::parse_targets(text, {}, "t.tsv");

  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  for (const std::string& e : p.errors) {
    if (!e.starts_with("t.tsv")) std::abort();
    // "t.tsv:LINE: what" when the error belongs to a line.
    if (e.size() > 6 && e[5] == ':' && e[6] >= '0' && e[6] <= '9') {
      if (std::strtoull(e.c_str() + 6, nullptr, 10) > lines) std::abort();
    }
  }
  if (p.errors.empty()) {
    for (const vx::host::tables::Target& t : p.targets) {
      if (vx::host::tables::target_problem(t)) std::abort();
    }
  }
  return 0;
}
