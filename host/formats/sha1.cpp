// SHA-1 (see sha1.hpp).
#include "sha1.hpp"

#include <bit>

namespace vx::host::formats {

void Sha1::block(const unsigned char* p) {
  std::array<uint32_t, 80> w{};
  for (std::size_t i = 0; i < 16; ++i)
    w[i] = uint32_t{p[4 * i]} << 24 | uint32_t{p[4 * i + 1]} << 16 |
           uint32_t{p[4 * i + 2]} << 8 | uint32_t{p[4 * i + 3]};
  for (std::size_t i = 16; i < 80; ++i)
    w[i] = std::rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (std::size_t i = 0; i < 80; ++i) {
    uint32_t f = 0;
    uint32_t k = 0;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    const uint32_t t = std::rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = std::rotl(b, 30);
    b = a;
    a = t;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

void Sha1::update(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  total_ += n;
  if (pending_size_ != 0) {
    const std::size_t take = std::min(n, 64 - pending_size_);
    std::copy(p, p + take, pending_.begin() + static_cast<std::ptrdiff_t>(pending_size_));
    pending_size_ += take;
    p += take;
    n -= take;
    if (pending_size_ < 64) return;
    block(pending_.data());
    pending_size_ = 0;
  }
  for (; n >= 64; p += 64, n -= 64) block(p);
  std::copy(p, p + n, pending_.begin());
  pending_size_ = n;
}

std::string Sha1::hex_digest() {
  const uint64_t bits = total_ * 8;
  const unsigned char pad = 0x80;
  update(std::string_view(reinterpret_cast<const char*>(&pad), 1));
  const char zero = 0;
  while (pending_size_ != 56) update(std::string_view(&zero, 1));
  char length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<char>(bits >> (56 - 8 * i));
  update(std::string_view(length, 8));
  constexpr char kHex[] = "0123456789abcdef";
  std::string out(40, '0');
  for (std::size_t i = 0; i < 5; ++i)
    for (std::size_t j = 0; j < 8; ++j) out[8 * i + j] = kHex[(h_[i] >> (28 - 4 * j)) & 0xF];
  return out;
}

}  // namespace vx::host::formats
