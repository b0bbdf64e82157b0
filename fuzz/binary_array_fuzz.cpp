// Binary data arrays on any bytes: base64, float, zlib and numpress decoding
// must stay inside their buffers, and an array element must either decode,
// be skipped, or raise one of the two arrayLength conversion errors. The
// first byte picks the mode; the rest is the text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "mzml/binary_array.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vx::mzml;
  if (size == 0) return 0;
  const int mode = data[0] % 3;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::unique_ptr<char[]> buf(new char[rest.size()]);
  std::copy(rest.begin(), rest.end(), buf.get());
  const std::string_view text(buf.get(), rest.size());
  const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(buf.get()),
                                         rest.size());

  if (mode == 0) {
    // Raw bytes straight into the decoders.
    std::vector<double> values;
    for (Numpress s : {Numpress::kLinear, Numpress::kPic, Numpress::kSlof}) {
      (void)decode_numpress(s, bytes, values);
    }
    decode_float32_array(bytes, SIZE_MAX, values);
    decode_float64_array(bytes, SIZE_MAX, values);
    Inflater inflater;
    std::vector<std::byte> out;
    (void)inflater.zlib(bytes, 0, out);
    ByteBuffer doc;
    (void)gunzip(text, doc);
    const std::vector<std::byte> decoded = decode_base64(text);
    if (decoded.size() > text.size()) std::abort();
    return 0;
  }
  // The text as a whole binaryDataArray element (mode 1) or as the base64
  // content of a zlib/numpress array (mode 2).
  std::string element(text);
  if (mode == 2) {
    element =
        "<binaryDataArray arrayLength=\"3\"><cvParam name=\"m/z array\"/>"
        "<cvParam name=\"MS-Numpress linear prediction compression followed by zlib "
        "compression\"/><binary>" +
        element + "</binary></binaryDataArray>";
  }
  MzmlSpectrum s;
  try {
    read_binary_data_array(element, s);
  } catch (const std::invalid_argument&) {
  } catch (const std::out_of_range&) {
  }
  return 0;
}
