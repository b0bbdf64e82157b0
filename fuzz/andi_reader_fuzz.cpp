// The ANDI-MS reader on in-memory files: any bytes give one of the statuses,
// never a crash or an over-read, and a file read as ok yields documents
// whose spectrum count matches the records.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "andi_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<std::byte[]> buf(new std::byte[size]);
  std::copy(reinterpret_cast<const std::byte*>(data),
            reinterpret_cast<const std::byte*>(data) + size, buf.get());
  using namespace vx::host::formats;
  const AndiReadResult r = read_andi_bytes(std::span<const std::byte>(buf.get(), size), "fuzz.cdf");
  if (status_text(r.status) == "unknown" || r.message.empty()) std::abort();
  if (r.status != AndiStatus::kOk) {
    if (!r.run.spectra.empty()) std::abort();
    return 0;
  }
  const std::string summary = run_summary_document(r.run, "fuzz.cdf");
  if (summary.find("\"spectrum_count\":" + std::to_string(r.run.spectra.size()) + ",") ==
      std::string::npos)
    std::abort();
  for (const AndiSpectrum& s : r.run.spectra)
    if (s.mz_array.size() != s.intensity_array.size()) std::abort();
  (void)spectra_document(r.run);
  return 0;
}
