// The mzML reader on in-memory documents (plain or gzip): any bytes give a
// result or one of the standard conversion errors, never a crash; the
// spectra it reports are counted in the summary, and a read refused as
// incomplete always says why while a complete one reports no problem.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "mzml/mzml_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::unique_ptr<char[]> buf(new char[size]);
  std::copy(data, data + size, buf.get());
  std::size_t seen = 0;
  std::string summary;
  vx::mzml::ReadProblem problem;
  try {
    const bool ok = vx::mzml::read_mzml_bytes(
        std::string_view(buf.get(), size), "fuzz.mzML",
        [&seen](vx::mzml::MzmlSpectrum& s, const vx::mzml::SpectrumSpan& span) {
          if (span.begin >= span.end || span.end > span.document_size) std::abort();
          if (s.array_compression != "none") std::abort();
          ++seen;
        },
        summary, &problem);
    if (ok ? problem.incomplete || !problem.reason.empty()
           : problem.incomplete == problem.reason.empty()) {
      std::abort();
    }
    if (ok && summary.find("\"spectrum_count\":" + std::to_string(seen) + ",") ==
                  std::string::npos) {
      std::abort();
    }
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  return 0;
}
