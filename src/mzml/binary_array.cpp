// Binary data arrays. The descriptor comes from the array's cvParams; the
// base64 text is decoded into a reused byte buffer, inflated when zlib is
// named, decoded with MS-Numpress when a numpress scheme is named (by the
// compression term alone: converters label numpress arrays with misleading
// widths), and otherwise read as little-endian floats of the named width.
#include "mzml/binary_array.hpp"

#include <MSNumpress.hpp>
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "mzml/conversions.hpp"
#include "mzml/xml_scan.hpp"

namespace vx::mzml {
namespace {

// The RFC 4648 alphabet; -1 for every other byte.
constexpr std::array<int, 256> make_base64_table() {
  std::array<int, 256> t{};
  for (auto& v : t) v = -1;
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < kAlphabet.size(); ++i) {
    t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
  }
  return t;
}

constexpr std::array<int, 256> kBase64 = make_base64_table();

// The same alphabet as four tables of values already shifted to their place
// in a group of four characters, with bit 31 set for every byte outside the
// alphabet: one OR of four lookups gives a group's 24 bits and its validity.
struct GroupTables {
  std::array<uint32_t, 256> at[4];
};

constexpr GroupTables make_group_tables() {
  GroupTables g{};
  for (std::size_t c = 0; c < 256; ++c) {
    const int v = kBase64[c];
    for (int k = 0; k < 4; ++k) {
      g.at[k][c] = v < 0 ? uint32_t{1} << 31 : static_cast<uint32_t>(v) << (18 - 6 * k);
    }
  }
  return g;
}

constexpr GroupTables kGroups = make_group_tables();

// Writes the three bytes of a group (bits 23..0 of v, most significant
// first) as one 4-byte store; the fourth byte is scratch the caller has room
// for and overwrites next.
inline void store_group(std::byte* dst, uint32_t v) {
  uint32_t word = v << 8;
  if constexpr (std::endian::native == std::endian::little)
    word = __builtin_bswap32(word);
  std::memcpy(dst, &word, 4);
}

uint32_t load_le32(const std::byte* p) {
  return std::to_integer<uint32_t>(p[0]) | std::to_integer<uint32_t>(p[1]) << 8 |
         std::to_integer<uint32_t>(p[2]) << 16 | std::to_integer<uint32_t>(p[3]) << 24;
}

[[maybe_unused]] uint64_t load_le64(const std::byte* p) {
  return uint64_t{load_le32(p)} | uint64_t{load_le32(p + 4)} << 32;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

struct CompressionTerm {
  std::string_view name;
  Numpress numpress;
  bool zlib;
};

constexpr CompressionTerm kCompressionTerms[] = {
    {"no compression", Numpress::kNone, false},
    {"zlib compression", Numpress::kNone, true},
    {"MS-Numpress linear prediction compression", Numpress::kLinear, false},
    {"MS-Numpress positive integer compression", Numpress::kPic, false},
    {"MS-Numpress short logged float compression", Numpress::kSlof, false},
    {"MS-Numpress linear prediction compression followed by zlib compression",
     Numpress::kLinear, true},
    {"MS-Numpress positive integer compression followed by zlib compression",
     Numpress::kPic, true},
    {"MS-Numpress short logged float compression followed by zlib compression",
     Numpress::kSlof, true},
};

void apply_compression_term(std::string_view name, DataArrayDescriptor& d) {
  for (const CompressionTerm& t : kCompressionTerms) {
    if (name == t.name) {
      d.zlib_compressed = d.zlib_compressed || t.zlib;
      if (t.numpress != Numpress::kNone) d.numpress = t.numpress;
      return;
    }
  }
  // Any other scheme cannot be decoded here: reading it as raw floats would
  // invent numbers.
  d.unknown_compression = true;
}

}  // namespace

DataArrayDescriptor classify_data_array(std::string_view array_text,
                                        const ParamGroups& groups) {
  DataArrayDescriptor d;
  for_each_cv_param(array_text, groups, [&d](std::string_view param) {
    const std::string_view name = attribute_value(param, "name");
    if (name == "m/z array") {
      d.kind = "mz";
    } else if (name == "intensity array") {
      d.kind = "intensity";
    } else if (name == "64-bit float") {
      d.dtype = "float64";
    } else if (name == "32-bit float") {
      d.dtype = "float32";
    } else if (ends_with(name, "compression")) {
      apply_compression_term(name, d);
    }
  });
  return d;
}

void read_binary_data_array(std::string_view array_text, const ParamGroups& groups,
                            ArrayScratch& scratch, MzmlSpectrum& spectrum) {
  const std::string_view content = element_content(array_text, "binary", 0);
  if (content.empty()) return;
  const DataArrayDescriptor d = classify_data_array(array_text, groups);
  if (d.unknown_compression) return;
  uint64_t declared = 0;
  const std::string_view length_text = attribute_value(array_text, "arrayLength");
  if (!length_text.empty()) declared = convert_stoull(length_text);
  if (d.kind.empty()) return;  // neither m/z nor intensity: the values would be dropped

  const std::size_t width = d.dtype == "float64" ? 8 : 4;
  decode_base64(content, scratch.encoded);
  std::span<const std::byte> bytes = scratch.encoded;
  if (d.zlib_compressed) {
    // Plain floats inflate to exactly arrayLength values; a declared size
    // beyond what the stream could hold is ignored rather than reserved.
    std::size_t expected = 0;
    if (d.numpress == Numpress::kNone && declared != 0 &&
        declared <= max_inflated_size(bytes.size()) / width) {
      expected = static_cast<std::size_t>(declared) * width;
    }
    if (!scratch.inflater.zlib(bytes, expected, scratch.inflated)) return;
    bytes = scratch.inflated;
  }

  const bool mz = d.kind == "mz";
  std::vector<double>& target = mz ? spectrum.mz_array : spectrum.intensity_array;
  if (d.numpress != Numpress::kNone) {
    if (!decode_numpress(d.numpress, bytes, scratch.values)) return;
    if (declared != 0 && declared < scratch.values.size()) {
      scratch.values.resize(static_cast<std::size_t>(declared));
    }
    target.swap(scratch.values);
  } else {
    const uint64_t available = bytes.size() / width;
    const auto count = static_cast<std::size_t>(
        declared != 0 ? std::min<uint64_t>(declared, available) : available);
    if (width == 8) {
      decode_float64_array(bytes, count, target);
    } else {
      decode_float32_array(bytes, count, target);
    }
  }
  (mz ? spectrum.mz_array_dtype : spectrum.intensity_array_dtype).assign(d.dtype);
}

void read_binary_data_array(std::string_view array_text, MzmlSpectrum& spectrum) {
  ArrayScratch scratch;
  read_binary_data_array(array_text, ParamGroups{}, scratch, spectrum);
}

void decode_base64(std::string_view text, std::vector<std::byte>& out) {
  const std::size_t n = text.size();
  // Every four input bytes give at most three output bytes; the remainder
  // at most two more.
  const std::size_t bound = n / 4 * 3 + 3;
  if (out.size() < bound) out.resize(bound);
  std::byte* const dst = out.data();
  const auto* const src = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t i = 0;
  std::size_t w = 0;
  uint32_t bits = 0;
  int pending = 0;  // bits held in bits
  while (i < n) {
    if (pending == 0) {
      // Whole groups of four alphabet bytes, the common case. Each store
      // writes one byte past its group, inside the bound reserved above
      // (the last whole group ends at most 3 bytes before it).
      while (i + 4 <= n) {
        const uint32_t v = kGroups.at[0][src[i]] | kGroups.at[1][src[i + 1]] |
                           kGroups.at[2][src[i + 2]] | kGroups.at[3][src[i + 3]];
        if (v >> 31 != 0) break;
        store_group(dst + w, v);
        w += 3;
        i += 4;
      }
      if (i >= n) break;
    }
    const unsigned char ch = src[i++];
    if (ch == '=') break;  // padding ends the data; anything after it is ignored
    const int v = kBase64[ch];
    if (v < 0) continue;  // blanks and bytes outside the alphabet are skipped
    bits = (bits << 6) | static_cast<uint32_t>(v);
    pending += 6;
    if (pending >= 8) {
      pending -= 8;
      dst[w++] = static_cast<std::byte>(bits >> pending);
      bits &= (uint32_t{1} << pending) - 1;
    }
  }
  out.resize(w);
}

std::vector<std::byte> decode_base64(std::string_view text) {
  std::vector<std::byte> out;
  decode_base64(text, out);
  return out;
}

void decode_float32_array(std::span<const std::byte> bytes, std::size_t count,
                          std::vector<double>& out) {
  count = std::min(count, bytes.size() / 4);
  out.resize(count);
  const std::byte* p = bytes.data();
  for (std::size_t i = 0; i < count; ++i, p += 4) {
    out[i] = static_cast<double>(std::bit_cast<float>(load_le32(p)));
  }
}

void decode_float64_array(std::span<const std::byte> bytes, std::size_t count,
                          std::vector<double>& out) {
  count = std::min(count, bytes.size() / 8);
  out.resize(count);
  if (count == 0) return;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out.data(), bytes.data(), count * 8);
  } else {
    const std::byte* p = bytes.data();
    for (std::size_t i = 0; i < count; ++i, p += 8) {
      out[i] = std::bit_cast<double>(load_le64(p));
    }
  }
}

std::vector<double> decode_float32_array(std::span<const std::byte> bytes,
                                         std::size_t count) {
  std::vector<double> out;
  decode_float32_array(bytes, count, out);
  return out;
}

std::vector<double> decode_float64_array(std::span<const std::byte> bytes,
                                         std::size_t count) {
  std::vector<double> out;
  decode_float64_array(bytes, count, out);
  return out;
}

bool decode_numpress(Numpress scheme, std::span<const std::byte> bytes,
                     std::vector<double>& out) {
  namespace np = ms::numpress::MSNumpress;
  const std::size_t n = bytes.size();
  // Room for the most values each scheme can produce from n bytes, so the
  // decoder never writes past out. Linear: two 4-byte values after the
  // 8-byte fixed point, then at least one half-byte per value. Pic: at least
  // one half-byte per value. Slof: two bytes per value after the fixed
  // point; an odd tail would make the decoder read one byte past the data.
  std::size_t room = 0;
  switch (scheme) {
    case Numpress::kLinear:
      if (n < 8) return false;
      room = (n - 8) * 2;
      break;
    case Numpress::kPic:
      room = n * 2;
      break;
    case Numpress::kSlof:
      if (n < 8 || (n - 8) % 2 != 0) return false;
      room = (n - 8) / 2;
      break;
    case Numpress::kNone:
      return false;
  }
  out.resize(room);
  double unused = 0.0;
  double* const dst = room != 0 ? out.data() : &unused;
  const unsigned char none = 0;
  const auto* const src =
      n != 0 ? reinterpret_cast<const unsigned char*>(bytes.data()) : &none;
  std::size_t got = 0;
  try {
    switch (scheme) {
      case Numpress::kLinear:
        got = np::decodeLinear(src, n, dst);
        break;
      case Numpress::kPic:
        got = np::decodePic(src, n, dst);
        break;
      case Numpress::kSlof:
        got = np::decodeSlof(src, n, dst);
        break;
      case Numpress::kNone:
        break;
    }
  } catch (const char*) {
    return false;  // the decoder's own corrupt-data report
  }
  if (got > room) return false;
  out.resize(got);
  return true;
}

}  // namespace vx::mzml
