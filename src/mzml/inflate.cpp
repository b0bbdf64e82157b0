// Inflation with libdeflate. libdeflate inflates whole buffers only, so an
// output that turns out too small is retried into a buffer twice as large;
// sizes known up front (arrayLength, the gzip trailer) make the first try
// the only one in practice.
#include "mzml/inflate.hpp"

#include <libdeflate.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace vx::mzml {

void Inflater::Free::operator()(libdeflate_decompressor* d) const {
  libdeflate_free_decompressor(d);
}

Inflater::Inflater() : d_(libdeflate_alloc_decompressor()) {
  if (!d_) throw std::bad_alloc();
}

bool Inflater::zlib(std::span<const std::byte> in, std::size_t expected,
                    std::vector<std::byte>& out) {
  const uint64_t cap = max_inflated_size(in.size());
  uint64_t want = expected != 0 ? expected : uint64_t{in.size()} * 4 + 64;
  want = std::min(std::max<uint64_t>(want, out.size()), cap);
  for (;;) {
    out.resize(static_cast<std::size_t>(want));
    std::size_t got = 0;
    const libdeflate_result r = libdeflate_zlib_decompress(d_.get(), in.data(), in.size(),
                                                           out.data(), out.size(), &got);
    if (r == LIBDEFLATE_SUCCESS) {
      out.resize(got);
      return true;
    }
    if (r != LIBDEFLATE_INSUFFICIENT_SPACE || want >= cap) return false;
    want = std::min(want * 2, cap);
  }
}

void Unmap::operator()(const char* p) const {
  // munmap takes a pointer to non-const; the mapping was never written.
  (void)::munmap(const_cast<char*>(p), length);
}

void advise_huge_pages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::size_t kHuge = std::size_t{1} << 21;
  if (size < 2 * kHuge) return;  // small buffers gain nothing
  // The whole huge pages inside the buffer: from the first 2 MiB boundary.
  const std::size_t misalignment = reinterpret_cast<std::uintptr_t>(data) % kHuge;
  const std::size_t skip = misalignment == 0 ? 0 : kHuge - misalignment;
  const std::size_t length = (size - skip) / kHuge * kHuge;
  if (length != 0) (void)madvise(static_cast<char*>(data) + skip, length, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

bool has_gzip_magic(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
         static_cast<unsigned char>(bytes[1]) == 0x8b;
}

namespace {

// True when the member header at the start of bytes is one gzip writes:
// method 8 (DEFLATE) and no reserved flag bits. A header that is itself cut
// short counts as sound as far as it goes, so a copy stopped within its
// ten header bytes is a cut file, not an unknown format.
bool sound_gzip_header(std::string_view bytes) {
  const auto byte = [&bytes](std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
  };
  if (bytes.size() > 2 && byte(2) != 8) return false;
  if (bytes.size() > 3 && (byte(3) & 0xE0) != 0) return false;
  return true;
}

}  // namespace

GunzipResult gunzip(std::string_view bytes, ByteBuffer& out) {
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  if (!d) throw std::bad_alloc();
  const uint64_t cap = std::min(max_inflated_size(bytes.size()), kMaxGunzippedSize);
  // The trailer's ISIZE is the inflated size modulo 2^32 of the last member:
  // exact for the usual single-member file, a starting guess otherwise.
  uint64_t want = uint64_t{bytes.size()} * 4;
  if (bytes.size() >= 18) {
    const auto* tail =
        reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size() - 4);
    const uint64_t isize = uint64_t{tail[0]} | uint64_t{tail[1]} << 8 |
                           uint64_t{tail[2]} << 16 | uint64_t{tail[3]} << 24;
    if (isize >= bytes.size() / 2) want = isize;
  }
  want = std::clamp<uint64_t>(want, 64, cap);

  ByteBuffer buf;
  buf.data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(want));
  buf.size = static_cast<std::size_t>(want);
  advise_huge_pages(buf.data.get(), buf.size);
  std::size_t in_pos = 0;
  std::size_t out_pos = 0;
  while (in_pos < bytes.size() && has_gzip_magic(bytes.substr(in_pos))) {
    std::size_t used_in = 0;
    std::size_t used_out = 0;
    const libdeflate_result r = libdeflate_gzip_decompress_ex(
        d.get(), bytes.data() + in_pos, bytes.size() - in_pos, buf.data.get() + out_pos,
        buf.size - out_pos, &used_in, &used_out);
    if (r == LIBDEFLATE_SUCCESS) {
      in_pos += used_in;
      out_pos += used_out;
      continue;
    }
    if (r != LIBDEFLATE_INSUFFICIENT_SPACE) {
      // libdeflate says only "bad data", whether the input stops early or
      // is damaged; behind a sound header either means the file is not whole.
      return sound_gzip_header(bytes.substr(in_pos)) ? GunzipResult::kCut
                                                     : GunzipResult::kRefused;
    }
    if (buf.size >= cap) return GunzipResult::kRefused;
    const auto bigger =
        static_cast<std::size_t>(std::min<uint64_t>(uint64_t{buf.size} * 2, cap));
    auto grown = std::make_unique_for_overwrite<char[]>(bigger);
    advise_huge_pages(grown.get(), bigger);
    std::memcpy(grown.get(), buf.data.get(), out_pos);
    buf.data = std::move(grown);
    buf.size = bigger;
  }
  if (in_pos == 0) return GunzipResult::kRefused;
  buf.size = out_pos;
  out = std::move(buf);
  return GunzipResult::kInflated;
}

}  // namespace vx::mzml
