// SHA-1 (FIPS 180-4), incremental, for the fileChecksum of indexed mzML
// files. Small and self-contained; not for security uses. Never throws,
// never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx::host::formats {

class Sha1 {
 public:
  void update(std::string_view bytes);
  // The digest as 40 lower-case hex digits; the object is spent afterwards.
  std::string hex_digest();

 private:
  void block(const unsigned char* p);

  std::array<uint32_t, 5> h_{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                             0xC3D2E1F0u};
  std::array<unsigned char, 64> pending_{};
  std::size_t pending_size_ = 0;
  uint64_t total_ = 0;
};

}  // namespace vx::host::formats
