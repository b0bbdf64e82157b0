// zlib and gzip inflation with libdeflate into buffers sized up front. The
// output size is never unbounded: a stream is given at most the largest
// output DEFLATE can encode from its input (about 1032 bytes per input byte),
// so corrupt or hostile data fails instead of eating memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

struct libdeflate_decompressor;

namespace vx::mzml {

// The most bytes a DEFLATE stream of in_size bytes can inflate to, with a
// small allowance for tiny inputs.
constexpr uint64_t max_inflated_size(uint64_t in_size) { return in_size * 1032 + 1024; }

// An inflater kept for a whole document so arrays do not allocate one each.
class Inflater {
 public:
  Inflater();  // throws std::bad_alloc when libdeflate cannot allocate
  Inflater(Inflater&&) noexcept = default;
  Inflater& operator=(Inflater&&) noexcept = default;
  ~Inflater() = default;

  // Inflates one zlib stream into out (resized to the inflated size).
  // expected is the size the caller expects (0 = unknown); the buffer starts
  // there and grows when the stream holds more, up to max_inflated_size.
  // Returns false for corrupt data or a stream that needs more room than
  // that; out is then unspecified.
  bool zlib(std::span<const std::byte> in, std::size_t expected,
            std::vector<std::byte>& out);

 private:
  struct Free {
    void operator()(libdeflate_decompressor* d) const;
  };
  std::unique_ptr<libdeflate_decompressor, Free> d_;
};

// Releases a read-only file mapping of length bytes.
struct Unmap {
  std::size_t length = 0;
  void operator()(const char* p) const;
};

// A whole buffer of bytes: either allocated with no zero-fill, or a
// read-only mapping of a file (unmapped when the buffer goes).
struct ByteBuffer {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  std::unique_ptr<const char, Unmap> mapped;  // set instead of data

  std::string_view view() const { return {mapped ? mapped.get() : data.get(), size}; }
};

// Asks the kernel to back the whole pages inside [data, data + size) with
// transparent huge pages, where it supports that: large buffers that are
// filled once then fault 512 times less often. Only a hint; never fails.
void advise_huge_pages(void* data, std::size_t size);

// Largest document a gzip file may inflate to (4 GiB): beyond it the file is
// refused rather than risking the process's memory.
inline constexpr uint64_t kMaxGunzippedSize = uint64_t{1} << 32;

// True when bytes start with the gzip magic bytes 1f 8b.
bool has_gzip_magic(std::string_view bytes);

// What gunzip made of its bytes.
enum class GunzipResult {
  kInflated,  // every member inflated into out
  kCut,       // a member with a sound header does not inflate: the stream ends
              // early (an interrupted copy) or is damaged; DEFLATE cannot tell
  kRefused,   // no gzip header this library reads, or an output larger than
              // kMaxGunzippedSize
};

// Inflates every gzip member of bytes into out (trailing bytes that do not
// start another member are ignored, as gzip itself does). out is set only
// for kInflated.
GunzipResult gunzip(std::string_view bytes, ByteBuffer& out);

}  // namespace vx::mzml
