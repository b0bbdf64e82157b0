// Binary data arrays of mzML spectra: classification by cvParams, base64
// decoding, zlib inflation, MS-Numpress decoding and little-endian float
// decoding into 64-bit values. Decoders write into caller-supplied vectors
// so their capacity is reused from one array to the next; nothing reads past
// the bytes it was given. Only the arrayLength conversion errors (and
// allocation failure) leave these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "mzml/inflate.hpp"
#include "mzml/mzml_spectrum.hpp"
#include "mzml/param_groups.hpp"

namespace vx::mzml {

enum class Numpress { kNone, kLinear, kPic, kSlof };

// What an array's cvParams say about it.
struct DataArrayDescriptor {
  std::string_view kind;               // "mz", "intensity" or empty
  std::string_view dtype = "float64";  // the width named: "float64" or "float32"
  bool zlib_compressed = false;
  Numpress numpress = Numpress::kNone;
  bool unknown_compression = false;  // a scheme this reader cannot decode
};

// The descriptor of one binaryDataArray element's text, its cvParams (and
// those of referenced groups) applied in document order.
DataArrayDescriptor classify_data_array(std::string_view array_text,
                                        const ParamGroups& groups);

// Buffers reused across the arrays of a document.
struct ArrayScratch {
  std::vector<std::byte> encoded;   // base64-decoded bytes
  std::vector<std::byte> inflated;  // zlib output
  std::vector<double> values;       // decoded values before they are stored
  Inflater inflater;
};

// Decodes one binaryDataArray element into spectrum.mz_array or
// intensity_array (with its dtype member), replacing an earlier array of the
// same kind. An array without binary content, with an unknown compression,
// or whose compressed data are corrupt is skipped and changes nothing.
// Raises "invalid stoull argument" / "stoull argument out of range" for a
// bad arrayLength.
void read_binary_data_array(std::string_view array_text, const ParamGroups& groups,
                            ArrayScratch& scratch, MzmlSpectrum& spectrum);
void read_binary_data_array(std::string_view array_text, MzmlSpectrum& spectrum);

// Standard base64 (RFC 4648): blanks and bytes outside the alphabet are
// skipped, the first '=' ends decoding, leftover bits are dropped. out is
// replaced by the decoded bytes. Never fails.
void decode_base64(std::string_view text, std::vector<std::byte>& out);
std::vector<std::byte> decode_base64(std::string_view text);

// count little-endian binary32/binary64 values from the start of bytes, as
// 64-bit floats, replacing out. A count larger than the bytes hold is cut to
// the whole values available.
void decode_float32_array(std::span<const std::byte> bytes, std::size_t count,
                          std::vector<double>& out);
void decode_float64_array(std::span<const std::byte> bytes, std::size_t count,
                          std::vector<double>& out);
std::vector<double> decode_float32_array(std::span<const std::byte> bytes,
                                         std::size_t count);
std::vector<double> decode_float64_array(std::span<const std::byte> bytes,
                                         std::size_t count);

// MS-Numpress decoding of bytes into out. False for data the decoder finds
// corrupt (or that would make it read past the bytes); out is then
// unspecified.
bool decode_numpress(Numpress scheme, std::span<const std::byte> bytes,
                     std::vector<double>& out);

}  // namespace vx::mzml
