// Single scans of the ingestion step's spectra document, found by their time
// without a pass over the whole document: its entries are in time order, so
// a binary search over byte offsets reaches the scan nearest a time in about
// log2(size) probes, each reading one entry's head. Used for the few scans a
// library match needs (a peak's apex, start and end). Never throws except
// std::bad_alloc; never reads outside the view, which must outlive the object.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace vx::host::chain {

struct ScanRead {
  double time = 0.0;  // minutes
  std::vector<double> mz;
  std::vector<double> intensity;
};

class ScanLookup {
 public:
  explicit ScanLookup(std::string_view spectra);

  // The entry whose scan start time lies nearest time (minutes; the earlier
  // one on a tie); nullopt when the document holds no readable entry.
  [[nodiscard]] std::optional<ScanRead> nearest(double time) const;

 private:
  [[nodiscard]] std::size_t entry_at_or_after(std::size_t pos) const;
  [[nodiscard]] std::optional<double> time_of(std::size_t entry) const;
  [[nodiscard]] std::optional<ScanRead> read(std::size_t entry) const;

  std::string_view text_;
  std::size_t begin_ = 0;  // one past the spectra list's '['
};

}  // namespace vx::host::chain
