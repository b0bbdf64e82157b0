// The .msp library reader on any bytes: libraries come from many exporters
// and in-house tools, and a damaged one must give errors, never a crash or
// an over-read. Every error must name the source and, where it has one, a
// line that exists; every entry returned must be whole (a name, finite
// positive m/z values, finite non-negative intensities).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "msp_library.hpp"

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text in an exactly sized heap buffer, so reading past it is caught.
  const std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
  for (size_t i = 0; i < size; ++i) buf[i] = static_cast<char>(data[i]);
  const std::string_view text(buf.get(), size);
  const vx::host::ident::MspParse p = vx::host::ident::parse_msp(text, "l.msp");

  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  if (p.errors.size() > vx::host::ident::kMaxMspErrors + 1) std::abort();
  for (const std::string& e : p.errors) {
    if (!e.starts_with("l.msp")) std::abort();
    if (e.size() > 6 && e[5] == ':' && e[6] >= '0' && e[6] <= '9') {
      const unsigned long long line = std::strtoull(e.c_str() + 6, nullptr, 10);
      if (line == 0 || line > lines) std::abort();
    }
  }
  for (const vx::host::ident::LibraryEntry& entry : p.entries) {
    if (entry.name.empty() || entry.line == 0 || entry.line > lines) std::abort();
    for (const vx::host::ident::LibraryPeak& peak : entry.peaks) {
      if (!std::isfinite(peak.mz) || !(peak.mz > 0.0)) std::abort();
      if (!std::isfinite(peak.intensity) || peak.intensity < 0.0) std::abort();
    }
  }
  return 0;
}
