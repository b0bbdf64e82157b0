// Builders for the mzML tests: base64 encoding, little-endian float bytes,
// zlib and gzip streams (libdeflate), and small mzML documents.
#pragma once

#include <libdeflate.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::mzml::fixtures {

inline std::string base64(std::span<const std::byte> bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = std::to_integer<uint32_t>(bytes[i]) << 16 |
                       std::to_integer<uint32_t>(bytes[i + 1]) << 8 |
                       std::to_integer<uint32_t>(bytes[i + 2]);
    for (int k = 3; k >= 0; --k) out.push_back(kAlphabet[(v >> (6 * k)) & 63]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest != 0) {
    uint32_t v = std::to_integer<uint32_t>(bytes[i]) << 16;
    if (rest == 2) v |= std::to_integer<uint32_t>(bytes[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

inline std::vector<std::byte> le_bytes64(const std::vector<double>& values) {
  std::vector<std::byte> out;
  for (double v : values) {
    const auto bits = std::bit_cast<uint64_t>(v);
    for (int k = 0; k < 8; ++k) out.push_back(static_cast<std::byte>(bits >> (8 * k)));
  }
  return out;
}

inline std::vector<std::byte> le_bytes32(const std::vector<float>& values) {
  std::vector<std::byte> out;
  for (float v : values) {
    const auto bits = std::bit_cast<uint32_t>(v);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::byte>(bits >> (8 * k)));
  }
  return out;
}

enum class Wrap { kZlib, kGzip };

inline std::vector<std::byte> compress(std::span<const std::byte> in, Wrap wrap) {
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> c(
      libdeflate_alloc_compressor(6), libdeflate_free_compressor);
  std::vector<std::byte> out(in.size() + 1024);
  const std::size_t n = wrap == Wrap::kZlib
                            ? libdeflate_zlib_compress(c.get(), in.data(), in.size(),
                                                       out.data(), out.size())
                            : libdeflate_gzip_compress(c.get(), in.data(), in.size(),
                                                       out.data(), out.size());
  out.resize(n);
  return out;
}

inline std::span<const std::byte> as_bytes(std::string_view s) {
  return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

inline std::string as_text(std::span<const std::byte> b) {
  return {reinterpret_cast<const char*>(b.data()), b.size()};
}

// One binaryDataArray element: attrs go into its start tag, params are the
// cvParam names, in order.
inline std::string array_xml(std::string_view attrs,
                             const std::vector<std::string>& params,
                             std::string_view binary) {
  std::string s = "<binaryDataArray";
  if (!attrs.empty()) (s += ' ') += attrs;
  s += ">\n";
  for (const std::string& p : params)
    s += "  <cvParam cvRef=\"MS\" name=\"" + p + "\" value=\"\"/>\n";
  s += "  <binary>" + std::string(binary) + "</binary>\n</binaryDataArray>\n";
  return s;
}

inline std::string spectrum_xml(std::string_view attrs, std::string_view body) {
  std::string s = "<spectrum";
  if (!attrs.empty()) (s += ' ') += attrs;
  return s + ">\n" + std::string(body) + "</spectrum>\n";
}

inline std::string document_xml(std::string_view spectra, std::string_view head = {}) {
  return "<?xml version=\"1.0\"?>\n<mzML version=\"1.1.0\">\n" + std::string(head) +
         "<run id=\"r\">\n<spectrumList count=\"0\">\n" + std::string(spectra) +
         "</spectrumList>\n</run>\n</mzML>\n";
}

}  // namespace vx::mzml::fixtures
