// The sample list on any bytes, matched to a fixed set of batch files: every
// error names the source and a line that exists, a clean list gives one
// entry per batch file, and every amount it keeps is finite and positive on
// a standard or QC.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sample_list.hpp"

// NOLINTNEXTLINE(readability-identifier-naming): the name libFuzzer calls.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text in an exactly sized heap buffer, so reading past it is caught.
  const std::unique_ptr<char[]> buf(new char[size == 0 ? 1 : size]);
  for (size_t i = 0; i < size; ++i) buf[i] = static_cast<char>(data[i]);
  const std::string_view text(buf.get(), size);
  const std::vector<std::string> targets{"A", "B", "C"};
  const std::vector<std::string> paths{"d/std1.mzML", "d/s1.mzML.gz", "e/s1.mzML.gz"};
  const vx::host::tables::SampleListParse list = vx::host::tables::parse_sample_list(text, targets, "s");
  const vx::host::tables::SampleAssignment a =
      vx::host::tables::assign_samples(list, paths, targets.size(), "s");

  std::size_t lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  for (const auto* errors : {&list.errors, &a.errors}) {
    for (const std::string& e : *errors) {
      if (!e.starts_with("s:")) std::abort();
      const unsigned long long line = std::strtoull(e.c_str() + 2, nullptr, 10);
      if (line == 0 || line > lines) std::abort();
    }
  }
  if (a.per_file.size() != paths.size()) std::abort();
  for (const vx::host::tables::SampleEntry& e : a.per_file) {
    if (e.amounts.size() != targets.size()) std::abort();
    for (const auto& amount : e.amounts) {
      if (!amount) continue;
      if (!std::isfinite(*amount) || *amount <= 0.0) std::abort();
      if (e.type != vx::host::tables::SampleType::kStandard && e.type != vx::host::tables::SampleType::kQc)
        std::abort();
    }
  }
  return 0;
}
