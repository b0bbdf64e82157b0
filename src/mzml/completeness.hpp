// Whether an mzML document that was read is whole: its root element closes,
// it holds as many spectra as its spectrumList declares, and an index never
// points past its end. An interrupted copy fails one of these, and reading
// it as far as it goes would pass for a complete run. Every check looks at
// the head, the tail or the index of the document only, never at the
// spectra again; nothing here throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx::mzml {

// What the reader found of the spectra, in offsets of the document.
struct SpectraSeen {
  std::size_t run = std::string_view::npos;             // the "<run" tag
  std::size_t first_spectrum = std::string_view::npos;  // the first spectrum read
  std::size_t resume = 0;  // just past the last spectrum read (0 without one)
  uint64_t count = 0;      // spectra read
};

// Empty when doc is whole; otherwise what is missing, in words a user can
// read, parts joined by "; " ("104 of 211 spectra; spectrum 105 is cut off;
// the document ends before </mzML>"). Bytes that do not start like XML (after
// an optional UTF-8 byte order mark and white space) get the spectrum count
// check only: they were never read as mzML structure.
std::string missing_parts(std::string_view doc, const SpectraSeen& seen);

}  // namespace vx::mzml
