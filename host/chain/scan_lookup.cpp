// An entry starts with {"index": (the ingestion step writes its members in a
// fixed order and no string holds that text), so the next entry after any
// byte is one find away. Times are read as written; a unit of "second" is
// converted, anything else is taken as minutes, the trace step's unit.
#include "scan_lookup.hpp"

#include <charconv>
#include <cmath>

namespace vx::host::chain {

namespace {

constexpr std::string_view kSpectraKey = "\"spectra\":[";
constexpr std::string_view kEntry = "{\"index\":";
constexpr std::string_view kTime = "\"scan_start_time\":";
constexpr std::string_view kUnit = "\"scan_start_time_unit\":\"";
constexpr std::string_view kMz = "\"mz_array\":[";
constexpr std::string_view kIntensity = "\"intensity_array\":[";

std::optional<double> number_at(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return std::nullopt;
  double v = 0.0;
  const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), v);
  if (ec != std::errc() || end == text.data() + pos || !std::isfinite(v))
    return std::nullopt;
  return v;
}

// The numbers of a list that opens at pos (one past '['), up to its ']'.
bool read_list(std::string_view text, std::size_t pos, std::vector<double>& out) {
  out.clear();
  while (pos < text.size() && text[pos] != ']') {
    double v = 0.0;
    const auto [end, ec] =
        std::from_chars(text.data() + pos, text.data() + text.size(), v);
    if (ec != std::errc()) return false;
    out.push_back(v);
    pos = static_cast<std::size_t>(end - text.data());
    if (pos < text.size() && text[pos] == ',') ++pos;
  }
  return pos < text.size();
}

}  // namespace

ScanLookup::ScanLookup(std::string_view spectra) : text_(spectra) {
  const std::size_t key = text_.find(kSpectraKey);
  begin_ = key == std::string_view::npos ? text_.size() : key + kSpectraKey.size();
}

std::size_t ScanLookup::entry_at_or_after(std::size_t pos) const {
  if (pos >= text_.size()) return std::string_view::npos;
  return text_.find(kEntry, pos);
}

std::optional<double> ScanLookup::time_of(std::size_t entry) const {
  const std::size_t t = text_.find(kTime, entry);
  const std::size_t next = text_.find(kEntry, entry + 1);
  if (t == std::string_view::npos || t > next) return std::nullopt;
  auto v = number_at(text_, t + kTime.size());
  const std::size_t u = text_.find(kUnit, t);
  if (v && u != std::string_view::npos && u < next &&
      text_.substr(u + kUnit.size()).starts_with("second\""))
    *v /= 60.0;
  return v;
}

std::optional<ScanRead> ScanLookup::read(std::size_t entry) const {
  const std::size_t next = text_.find(kEntry, entry + 1);
  const std::size_t mz = text_.find(kMz, entry);
  const std::size_t in = mz == std::string_view::npos ? mz : text_.find(kIntensity, mz);
  const auto time = time_of(entry);
  if (!time || in == std::string_view::npos || in > next) return std::nullopt;
  ScanRead s;
  s.time = *time;
  if (!read_list(text_, mz + kMz.size(), s.mz) ||
      !read_list(text_, in + kIntensity.size(), s.intensity))
    return std::nullopt;
  return s;
}

std::optional<ScanRead> ScanLookup::nearest(double time) const {
  if (!std::isfinite(time)) return std::nullopt;
  // The first entry at or after lo is the first with a time ≥ `time`:
  // entries before lo are all earlier, and the first entry at or after hi
  // is not earlier (or there is none).
  std::size_t lo = begin_;
  std::size_t hi = text_.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const std::size_t e = entry_at_or_after(mid);
    if (e == std::string_view::npos || e >= hi) {
      hi = mid;
      continue;
    }
    const auto t = time_of(e);
    if (!t) return std::nullopt;
    if (*t < time)
      lo = e + 1;
    else
      hi = mid;
  }
  const std::size_t after = entry_at_or_after(lo);
  std::size_t before = std::string_view::npos;
  if (lo > begin_) {
    const std::size_t b = text_.rfind(kEntry, lo - 1);
    if (b != std::string_view::npos && b >= begin_) before = b;
  }
  if (after == std::string_view::npos)
    return before == std::string_view::npos ? std::nullopt : read(before);
  if (before == std::string_view::npos) return read(after);
  const auto ta = time_of(after);
  const auto tb = time_of(before);
  if (!ta || !tb) return std::nullopt;
  return read(time - *tb <= *ta - time ? before : after);
}

}  // namespace vx::host::chain
