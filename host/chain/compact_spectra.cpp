// Why a compact document traces to the same bytes. The trace step finds the
// first "spectra": key, walks the array from the next '[' (escape flag,
// in-string flag, signed brace depth), and turns each entry that opens at
// depth 0 into at most one point: from its scan start time, its unit and the
// pairs (m/z, intensity) at positions below the length of both lists, the
// largest intensity above 0 among the ions inside the window. The walk
// starts every entry in the same state (depth 0, outside any string), so an
// entry copied byte for byte behaves the same in any array. An entry in the
// exact layout the ingestion step writes (ten members, compact, plain
// strings, list elements in the number writer's form) is copied with its
// lists cut to the pairs whose m/z lies in the group's window, in their
// order, their number texts copied verbatim: every pair the step could
// match is still there, read to the same double, and the pairs dropped
// could never have matched, so each entry yields the same point or none.
// Entries in any other form are copied whole.
#include "compact_spectra.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <iterator>
#include <limits>
#include <numeric>

namespace vx::host::chain {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// The trace step's exact-match distance.
constexpr double kExactDistance = 1e-9;
constexpr std::string_view kSpectraKey = "\"spectra\":";
constexpr std::string_view kOpen = "{\"spectra\":[";
constexpr std::string_view kClose = "]}";
// A kept peak whose numbers are only in the spectra document.
constexpr uint32_t kNoText = std::numeric_limits<uint32_t>::max();

// The end of a validated number token: the ',' or ']' after it.
const char* token_end(const char* p) {
  while (*p != ',' && *p != ']') ++p;
  return p;
}

// Whether minutes lies in one of ranges (sorted by lo, disjoint).
bool in_ranges(const std::vector<TimeRange>& ranges, double minutes) {
  const auto after =
      std::upper_bound(ranges.begin(), ranges.end(), minutes,
                       [](double m, const TimeRange& r) { return m < r.lo; });
  return after != ranges.begin() && minutes <= std::prev(after)->hi;
}

// Exact powers of ten (every one up to 1e22 is a double).
constexpr std::array<double, 23> kPow10 = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The eight bytes at p as one little-endian word (the SWAR digit tests below
// read digits in text order from the low byte up).
uint64_t load8(const char* p) {
  uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

bool eight_digits(uint64_t v) {
  return ((v & 0xF0F0F0F0F0F0F0F0ULL) |
          (((v + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) ==
         0x3333333333333333ULL;
}

// The value of eight digit characters (checked by eight_digits).
uint64_t eight_digit_value(uint64_t v) {
  v -= 0x3030303030303030ULL;
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
      32;
  return v & 0xFFFFFFFFULL;
}

// The end of a number of the form D+ or D+.D+ at p that a ',' or ']'
// follows, with the count of its integer digits; end is nullptr when the
// text has any other form there or is too near its end for one 32-byte
// look (the caller then reads it the general way). Every intensity of every
// spectrum is checked here, so the look classifies 32 bytes at once.
struct PlainToken {
  const char* end = nullptr;
  int units = 0;
};

PlainToken plain_token(const char* p, const char* end) {
#if defined(__SSE2__)
  if (end - p < 32) return {};
  const __m128i zero = _mm_set1_epi8('0');
  const __m128i nine = _mm_set1_epi8(9);
  const auto digit_bits = [&](const char* at) {
    const __m128i d = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), zero);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(d, nine), nine)));
  };
  const uint32_t other = ~(digit_bits(p) | (digit_bits(p + 16) << 16));
  if (other == 0) return {};
  const int units = std::countr_zero(other);
  if (units == 0) return {};
  int stop = units;
  if (p[units] == '.') {
    if (units == 31) return {};  // no byte of the look is left for a decimal
    const uint32_t after = other >> (units + 1);
    if (after == 0) return {};
    const int decimals = std::countr_zero(after);
    if (decimals == 0) return {};
    stop = units + 1 + decimals;
  }
  if (p[stop] != ',' && p[stop] != ']') return {};
  return {p + stop, units};
#else
  (void)p;
  (void)end;
  return {};
#endif
}

// Reads one number in the writer's form at p: -?D+(.D+)?([eE][+-]?D+)?, or
// NaN, Infinity, -Infinity. Returns the end of the token, or nullptr when
// the text has another form. Such a token is exactly what strtod consumes.
// With a value pointer, the value is computed too: exactly where it takes
// more than one rounding, otherwise within a few units in the last place,
// which the windows' margin absorbs.
const char* read_number(const char* p, const char* end, double* value) {
  const char* const start = p;
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  if (p < end && (*p == 'N' || *p == 'I')) {
    const std::string_view word = *p == 'N' ? "NaN" : "Infinity";
    if (static_cast<std::size_t>(end - p) < word.size() ||
        std::memcmp(p, word.data(), word.size()) != 0 || (negative && *p == 'N')) {
      return nullptr;
    }
    if (value != nullptr) {
      *value = *p == 'N' ? std::numeric_limits<double>::quiet_NaN() : negative ? -kInf : kInf;
    }
    return p + word.size();
  }
  uint64_t mantissa = 0;
  int64_t exponent = 0;
  // Every number of every spectrum passes here: runs of eight digits are
  // taken at once while the mantissa stays far enough below its cap that
  // the digit-by-digit rule below would have taken all eight too (without a
  // value pointer the mantissa is never read).
  const auto digits = [&](bool fraction) {
    const char* const first = p;
    while (end - p >= 8 && (value == nullptr || mantissa < 1'000'000'000ULL)) {
      const uint64_t word = load8(p);
      if (!eight_digits(word)) break;
      mantissa = mantissa * 100'000'000ULL + eight_digit_value(word);
      exponent -= fraction ? 8 : 0;
      p += 8;
    }
    if (end - p >= 4 && (value == nullptr || mantissa < 10'000'000'000'000ULL)) {
      uint32_t word = 0;
      std::memcpy(&word, p, sizeof word);
      if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap32(word);
      if (((word & 0xF0F0F0F0U) | (((word + 0x06060606U) & 0xF0F0F0F0U) >> 4)) ==
          0x33333333U) {
        word -= 0x30303030U;
        word = word * 10 + (word >> 8);  // bytes 0 and 2: the two-digit pairs
        mantissa = mantissa * 10'000ULL + (word & 0xFFU) * 100 + ((word >> 16) & 0xFFU);
        exponent -= fraction ? 4 : 0;
        p += 4;
      }
    }
    for (; p < end && is_digit(*p); ++p) {
      if (mantissa < 100'000'000'000'000'000ULL) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
        exponent -= fraction ? 1 : 0;
      } else if (!fraction) {
        ++exponent;
      }
    }
    return p > first;
  };
  if (!digits(false)) return nullptr;
  if (p < end && *p == '.') {
    ++p;
    if (!digits(true)) return nullptr;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    const bool minus = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+')) ++p;
    int64_t e = 0;
    const char* const first = p;
    for (; p < end && is_digit(*p); ++p) e = std::min<int64_t>(e * 10 + (*p - '0'), 100'000);
    if (p == first) return nullptr;
    exponent += minus ? -e : e;
  }
  if (value == nullptr) return p;
  if (exponent >= -22 && exponent <= 22) {
    const double m = static_cast<double>(mantissa);
    const double v = exponent >= 0 ? m * kPow10[static_cast<std::size_t>(exponent)]
                                   : m / kPow10[static_cast<std::size_t>(-exponent)];
    *value = negative ? -v : v;
  } else {
    double v = 0.0;
    const auto r = std::from_chars(start, p, v);
    if (r.ec != std::errc()) v = exponent > 0 ? (negative ? -kInf : kInf) : (negative ? -0.0 : 0.0);
    *value = v;
  }
  return p;
}

// The trace step's conversion of a scan time to minutes. Restricted ranges
// keep a margin of minutes, so a value a few units in the last place off
// selects the same entries.
double to_minutes(double time, std::string_view unit) {
  if (unit == "second") return time / 60.0;
  if (unit == "millisecond") return time / 60000.0;
  if (unit == "hour") return time * 60.0;
  return time;
}

// The value strtod gives for a validated number token at p (from_chars
// rounds the same way; the writer's NaN and Infinity and the range errors
// are spelled out).
double exact_value(const char* p) {
  const char* end = p;
  while (*end != ',' && *end != ']') ++end;  // a validated number ends at one
  const bool negative = *p == '-';
  const char* const word = negative ? p + 1 : p;
  if (*word == 'N') return std::numeric_limits<double>::quiet_NaN();
  if (*word == 'I') return negative ? -kInf : kInf;
  double v = 0.0;
  if (std::from_chars(p, end, v).ec == std::errc::result_out_of_range) {
    // strtod's overflow is +-inf, its underflow +-0.
    bool big = true;
    for (const char* q = p; q + 1 < end; ++q) {
      if (*q == 'e' || *q == 'E') big = q[1] != '-';
    }
    v = big ? (negative ? -kInf : kInf) : (negative ? -0.0 : 0.0);
  }
  return v;
}

// Which groups' windows hold an m/z: the sorted window ends cut the line
// into cells (each end a cell of its own), each cell lists its groups.
class WindowIndex {
 public:
  explicit WindowIndex(const std::vector<MzWindow>& windows) {
    for (const MzWindow& w : windows) {
      if (w.empty()) continue;
      points_.push_back(w.lo);
      points_.push_back(w.hi);
    }
    std::sort(points_.begin(), points_.end());
    points_.erase(std::unique(points_.begin(), points_.end()), points_.end());
    const std::size_t cells = 2 * points_.size() + 1;
    std::vector<std::pair<std::size_t, std::size_t>> spans(windows.size(), {1, 0});
    cell_begin_.assign(cells + 1, 0);
    for (std::size_t g = 0; g < windows.size(); ++g) {
      if (windows[g].empty()) continue;
      spans[g] = {2 * point(windows[g].lo) + 1, 2 * point(windows[g].hi) + 1};
      for (std::size_t c = spans[g].first; c <= spans[g].second; ++c) ++cell_begin_[c + 1];
    }
    std::partial_sum(cell_begin_.begin(), cell_begin_.end(), cell_begin_.begin());
    cell_groups_.resize(cell_begin_.back());
    std::vector<uint32_t> fill(cell_begin_.begin(), cell_begin_.end() - 1);
    for (std::size_t g = 0; g < windows.size(); ++g) {
      for (std::size_t c = spans[g].first; c <= spans[g].second; ++c)
        cell_groups_[fill[c]++] = static_cast<uint32_t>(g);
    }
    // Unit buckets over [0, 65536) narrow the search to the ends inside
    // the m/z's own bucket, usually none.
    double top = 0.0;
    for (const double x : points_) {
      if (std::isfinite(x)) top = std::max(top, x);
    }
    const auto buckets = static_cast<std::size_t>(std::min(top, 65535.0)) + 1;
    bucket_first_.resize(buckets + 1);
    for (std::size_t b = 0; b <= buckets; ++b) bucket_first_[b] = lower(static_cast<double>(b));
    // Tenths of a unit over [0, 65536) that no window reaches, with a
    // tenth to spare on each side for the rounding of w * 10.
    near_.assign(kTenths, 0);
    for (const MzWindow& w : windows) {
      if (w.empty() || w.hi < 0.0 || w.lo >= 65536.0) continue;
      const double lo = std::max(std::floor(w.lo * 10.0) - 1.0, 0.0);
      const double hi =
          std::min(std::floor(w.hi * 10.0) + 1.0, static_cast<double>(kTenths - 1));
      for (auto t = static_cast<std::size_t>(lo); t <= static_cast<std::size_t>(hi); ++t)
        near_[t] = 1;
    }
  }

  // Whether no window reaches [tenth / 10, (tenth + 1) / 10].
  [[nodiscard]] bool quiet(std::size_t tenth) const {
    return tenth < kTenths && near_[tenth] == 0;
  }

  std::span<const uint32_t> at(double mz) const {
    if (std::isnan(mz)) return {};
    std::size_t k = 0;
    if (mz >= 0.0 && mz < static_cast<double>(bucket_first_.size() - 1)) {
      const auto b = static_cast<std::size_t>(mz);
      const auto first = points_.begin() + static_cast<std::ptrdiff_t>(bucket_first_[b]);
      const auto last = points_.begin() + static_cast<std::ptrdiff_t>(bucket_first_[b + 1]);
      k = static_cast<std::size_t>(std::lower_bound(first, last, mz) - points_.begin());
    } else {
      k = lower(mz);
    }
    const std::size_t cell = k < points_.size() && points_[k] == mz ? 2 * k + 1 : 2 * k;
    return {cell_groups_.data() + cell_begin_[cell], cell_begin_[cell + 1] - cell_begin_[cell]};
  }

 private:
  std::size_t lower(double x) const {
    return static_cast<std::size_t>(std::lower_bound(points_.begin(), points_.end(), x) -
                                    points_.begin());
  }
  std::size_t point(double x) const { return lower(x); }

  std::vector<double> points_;
  std::vector<uint32_t> cell_begin_;
  std::vector<uint32_t> cell_groups_;
  std::vector<std::size_t> bucket_first_;
  static constexpr std::size_t kTenths = 655'360;
  std::vector<uint8_t> near_;
};

}  // namespace

MzWindow query_window(const IonQuery& q) {
  const double tol = q.exact ? kExactDistance : q.tolerance;
  // A NaN distance or bound matches nothing; -0.0 still matches equality.
  if (std::isnan(q.mz) || std::isnan(tol) || tol < 0.0) return {kInf, -kInf};
  if (!std::isfinite(q.mz) || !std::isfinite(tol)) return {-kInf, kInf};
  const double margin = 1e-9 * (1.0 + std::fabs(q.mz) + tol);
  return {q.mz - tol - margin, q.mz + tol + margin};
}

std::optional<TimeRange> trace_range(double rt, double rt_tol) {
  const double half = rt_tol + kTraceMargin.window_widths * 2.0 * rt_tol + kTraceMargin.minutes;
  const TimeRange r{rt - half, rt + half};
  if (!std::isfinite(r.lo) || !std::isfinite(r.hi) || !(rt_tol >= 0.0)) return std::nullopt;
  return r;
}

std::vector<std::size_t> group_queries(std::span<const IonQuery> queries,
                                       std::vector<MzWindow>& windows) {
  windows.clear();
  std::vector<MzWindow> w(queries.size());
  std::vector<std::size_t> order(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) w[i] = query_window(queries[i]);
  std::iota(order.begin(), order.end(), std::size_t{0});
  // Windows that hold nothing have lo = +inf and sort last.
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return w[a].lo < w[b].lo || (w[a].lo == w[b].lo && w[a].hi < w[b].hi);
  });
  std::vector<std::size_t> group(queries.size());
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t nothing = kNone;
  double widest = 0.0;
  for (const std::size_t i : order) {
    if (w[i].empty()) {
      if (nothing == kNone) {
        nothing = windows.size();
        windows.push_back(w[i]);
      }
      group[i] = nothing;
      continue;
    }
    const double width = w[i].hi - w[i].lo;
    if (!windows.empty() && w[i].lo <= windows.back().hi) {
      MzWindow& cur = windows.back();
      const double hi = std::max(cur.hi, w[i].hi);
      if (hi - cur.lo <= kGroupSpan * std::max(widest, width)) {
        cur.hi = hi;
        widest = std::max(widest, width);
        group[i] = windows.size() - 1;
        continue;
      }
    }
    group[i] = windows.size();
    windows.push_back(w[i]);
    widest = width;
  }
  return group;
}

// The one pass: the trace step's walk, with entries in the ingestion layout
// read member by member and their lists filtered on the way.
class CompactSpectra::Reader {
 public:
  Reader(CompactSpectra& out, const WindowIndex& index) : out_(out), index_(index) {}

  void walk(std::string_view text) {
    if (text.size() < kSpectraKey.size()) return;
    const std::size_t key = text.find(kSpectraKey);
    if (key == std::string_view::npos) return;
    const std::size_t open = text.find('[', key);
    if (open == std::string_view::npos) return;
    // The trace step reads up to the first zero byte. Rather than search
    // the whole document for one first, the walk stops at it: an entry in
    // the ingestion layout holds none (each of its parts rejects it).
    if (std::memchr(text.data(), '\0', open + 1) != nullptr) return;
    bool escaped = false;
    bool in_string = false;
    int64_t depth = 0;
    std::size_t entry_start = std::string_view::npos;
    for (std::size_t i = open; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '\0') break;
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = !in_string;
      } else if (in_string) {
        continue;
      } else if (c == '{') {
        if (depth == 0) {
          if (const std::size_t size = read_layout(text, i); size != 0) {
            i += size - 1;  // the walk is back at depth 0 after the entry
            continue;
          }
          entry_start = i;
        }
        ++depth;
      } else if (c == '}') {
        --depth;
        if (depth == 0 && entry_start != std::string_view::npos) {
          out_.add_entry({entry_start, i + 1 - entry_start, 0, 0, 0, 0, 0});
          entry_start = std::string_view::npos;
        }
      } else if (c == ']' && depth == 0) {
        break;
      }
    }
  }

 private:
  struct Pending {
    uint32_t position;  // in the m/z list
    uint32_t group;
    uint32_t mz;  // offset from the entry's begin
    uint32_t intensity;
    float mz_value;
    float intensity_value;
  };

  // Reads the entry at begin if it has the ingestion layout, keeping its
  // peaks; returns its size, or 0 (nothing kept) when it has another form.
  std::size_t read_layout(std::string_view text, std::size_t begin) {
    const char* const base = text.data() + begin;
    const char* const end = text.data() + text.size();
    const char* p = base;
    const auto lit = [&](std::string_view s) {
      if (static_cast<std::size_t>(end - p) < s.size() || std::memcmp(p, s.data(), s.size()) != 0)
        return false;
      p += s.size();
      return true;
    };
    // A string without escapes or control bytes, through its closing quote.
    const auto str = [&] {
      for (; p < end && *p != '"'; ++p) {
        if (*p == '\\' || static_cast<unsigned char>(*p) < 0x20) return false;
      }
      if (p == end) return false;
      ++p;
      return true;
    };
    const auto integer = [&] {
      if (p < end && *p == '-') ++p;
      const char* const first = p;
      while (p < end && is_digit(*p)) ++p;
      return p > first;
    };
    Entry e;
    e.begin = begin;
    pending_.clear();
    const auto offset = [&] { return static_cast<std::size_t>(p - base); };
    double time = 0.0;
    const auto time_number = [&] { return (p = read_number(p, end, &time)) != nullptr; };
    std::string_view unit;
    const auto unit_str = [&] {
      const char* const first = p;
      if (!str()) return false;
      unit = std::string_view(first, static_cast<std::size_t>(p - 1 - first));
      return true;
    };
    if (!(lit("{\"index\":") && integer() && lit(",\"scan_start_time\":") && time_number() &&
          lit(",\"scan_start_time_unit\":\"") && unit_str() && lit(",\"ms_level\":") &&
          integer() && lit(",\"spectrum_type\":\"") && str() && lit(",\"mz_array\":["))) {
      return 0;
    }
    const std::size_t mz_open = offset();
    if (!mz_list(p, end, base)) return 0;
    const std::size_t mz_close = offset();
    if (!lit("],\"intensity_array\":[")) return 0;
    const std::size_t int_open = offset();
    if (!intensity_list(p, end, base)) return 0;
    const std::size_t int_close = offset();
    if (!(lit("],\"mz_array_dtype\":\"") && str() && lit(",\"intensity_array_dtype\":\"") &&
          str() && lit(",\"array_compression\":\"") && str() && lit("}"))) {
      return 0;
    }
    e.size = offset();
    if (e.size > std::numeric_limits<uint32_t>::max()) return 0;
    e.mz_open = static_cast<uint32_t>(mz_open);
    e.mz_close = static_cast<uint32_t>(mz_close);
    e.int_open = static_cast<uint32_t>(int_open);
    e.int_close = static_cast<uint32_t>(int_close);
    e.minutes = to_minutes(time, unit);
    const auto entry = static_cast<uint32_t>(out_.entries_.size());
    for (const Pending& k : pending_) {
      if (k.intensity == 0) continue;
      // The entry's text is still in the cache: copying its numbers now is
      // what spares the restricted documents a miss per number later.
      uint32_t at = kNoText;
      if (in_ranges(out_.hot_ranges_[k.group], e.minutes)) {
        std::string& hot = out_.hot_text_[k.group];
        const char* const mz = base + k.mz;
        const char* const intensity = base + k.intensity;
        const char* const mz_end = token_end(mz);
        const char* const intensity_end = token_end(intensity);
        const auto size =
            static_cast<std::size_t>((mz_end - mz) + (intensity_end - intensity)) + 2;
        if (hot.size() + size < kNoText && out_.hot_budget_ >= size) {
          out_.hot_budget_ -= size;
          at = static_cast<uint32_t>(hot.size());
          hot.append(mz, mz_end);
          hot += ',';
          hot.append(intensity, intensity_end);
          hot += ',';
        }
      }
      out_.kept_[k.group].push_back(
          {entry, k.mz, k.intensity, at, k.mz_value, k.intensity_value});
    }
    out_.add_entry(e);
    ++out_.compact_entries_;
    return e.size;
  }

  // The m/z list up to its ']': notes each element whose value lies in a
  // group's window.
  bool mz_list(const char*& p, const char* end, const char* base) {
    if (p < end && *p == ']') return true;
    for (uint32_t position = 0;; ++position) {
      if (const char* const after = quiet_number(p, end)) {
        p = after;
      } else if (!noted_number(p, end, base, position)) {
        return false;
      }
      if (p == end) return false;
      if (*p == ']') return true;
      if (*p++ != ',') return false;
    }
  }

  // A number of the form D+.D+ whose integer part and first decimal lie in
  // a tenth no window reaches cannot be kept: its value is not computed,
  // only its digits checked. Returns its end (a ',' or ']'), or nullptr
  // when it has another form or may lie in a window.
  const char* quiet_number(const char* p, const char* end) const {
    if (const PlainToken t = plain_token(p, end); t.end != nullptr) {
      if (t.units > 5 || t.end - p < t.units + 2) return nullptr;
      std::size_t units = 0;
      for (int i = 0; i < t.units; ++i) units = units * 10 + static_cast<std::size_t>(p[i] - '0');
      return index_.quiet(units * 10 + static_cast<std::size_t>(p[t.units + 1] - '0')) ? t.end
                                                                                       : nullptr;
    }
    std::size_t units = 0;
    const char* q = p;
    for (; q < end && q - p < 5 && is_digit(*q); ++q)
      units = units * 10 + static_cast<std::size_t>(*q - '0');
    if (q == p || end - q < 2 || *q != '.' || !is_digit(q[1]) ||
        !index_.quiet(units * 10 + static_cast<std::size_t>(q[1] - '0'))) {
      return nullptr;
    }
    q += 2;
    while (end - q >= 8 && eight_digits(load8(q))) q += 8;
    while (q < end && is_digit(*q)) ++q;
    return q < end && (*q == ',' || *q == ']') ? q : nullptr;
  }

  // Reads the number at p in full and notes it for each group whose window
  // holds it; false when it is not in the writer's form.
  bool noted_number(const char*& p, const char* end, const char* base,
                    uint32_t position) {
    double mz = 0.0;
    const char* const first = p;
    p = read_number(p, end, &mz);
    if (p == nullptr || p == end) return false;
    const auto rel = static_cast<std::size_t>(first - base);
    if (rel > std::numeric_limits<uint32_t>::max()) return false;
    for (const uint32_t g : index_.at(mz))
      pending_.push_back(
          {position, g, static_cast<uint32_t>(rel), 0, static_cast<float>(mz), 0.0F});
    return true;
  }

  // The intensity list up to its ']': finds the intensities of the noted
  // m/z (positions beyond this list stay at 0 and are dropped).
  bool intensity_list(const char*& p, const char* end, const char* base) {
    if (p < end && *p == ']') return true;
    std::size_t next = 0;
    for (uint32_t position = 0;; ++position) {
      const char* const first = p;
      const bool noted = next < pending_.size() && pending_[next].position == position;
      double value = 0.0;
      const char* const plain = noted ? nullptr : plain_token(p, end).end;
      p = plain != nullptr ? plain : read_number(p, end, noted ? &value : nullptr);
      if (p == nullptr || p == end) return false;
      if (noted) {
        for (; next < pending_.size() && pending_[next].position == position; ++next) {
          const auto rel = static_cast<std::size_t>(first - base);
          if (rel > std::numeric_limits<uint32_t>::max()) return false;
          pending_[next].intensity = static_cast<uint32_t>(rel);
          pending_[next].intensity_value = static_cast<float>(value);
        }
      }
      if (*p == ']') return true;
      if (*p++ != ',') return false;
    }
  }

  CompactSpectra& out_;
  const WindowIndex& index_;
  std::vector<Pending> pending_;
};

CompactSpectra::CompactSpectra(std::string_view spectra,
                               std::span<const IonQuery> queries,
                               std::span<const TimeRange> hot)
    : text_(spectra) {
  group_of_ = group_queries(queries, group_windows_);
  kept_.resize(group_windows_.size());
  hot_ranges_.resize(group_windows_.size());
  hot_text_.resize(group_windows_.size());
  hot_budget_ = text_.size() / kHotShare;
  for (std::size_t q = 0; q < std::min(hot.size(), queries.size()); ++q) {
    if (hot[q].lo <= hot[q].hi) hot_ranges_[group_of_[q]].push_back(hot[q]);
  }
  for (std::vector<TimeRange>& ranges : hot_ranges_) {
    std::sort(ranges.begin(), ranges.end(),
              [](const TimeRange& a, const TimeRange& b) { return a.lo < b.lo; });
    std::vector<TimeRange> merged;
    for (const TimeRange& r : ranges) {
      if (!merged.empty() && r.lo <= merged.back().hi) {
        merged.back().hi = std::max(merged.back().hi, r.hi);
      } else {
        merged.push_back(r);
      }
    }
    ranges = std::move(merged);
  }
  const WindowIndex index(group_windows_);
  Reader(*this, index).walk(text_);
  // NaN times and entries copied as they stand leave the order unknown.
  times_ascending_ = restrictable();
  for (std::size_t i = 0; i < entries_.size() && times_ascending_; ++i) {
    times_ascending_ = !std::isnan(entries_[i].minutes) &&
                       (i == 0 || entries_[i - 1].minutes <= entries_[i].minutes);
  }
}

void CompactSpectra::add_entry(Entry e) {
  if (!entries_.empty()) skeleton_ += ',';
  e.skeleton = skeleton_.size();
  const char* const base = text_.data() + e.begin;
  if (e.mz_open == 0) {
    skeleton_.append(base, e.size);
  } else {
    skeleton_.append(base, e.mz_open);
    skeleton_.append(base + e.mz_close, e.int_open - e.mz_close);
    skeleton_.append(base + e.int_close, e.size - e.int_close);
  }
  entries_.push_back(e);
}

std::string_view CompactSpectra::document(std::size_t g, std::string& buffer) const {
  const std::vector<Peak>& kept = kept_[g];
  // Each kept pair adds at most two numbers of the writer's usual length.
  buffer.clear();
  buffer.reserve(kOpen.size() + skeleton_.size() + kClose.size() + kept.size() * 50);
  buffer += kOpen;
  const auto token = [&](const char* p) {
    const char* q = p;
    while (*q != ',' && *q != ']') ++q;  // a validated number ends at one
    buffer.append(p, static_cast<std::size_t>(q - p));
  };
  // Entries without kept peaks go over in one piece with their neighbours;
  // the lists of the others are filled in where the skeleton has them empty.
  std::size_t copied = 0;
  constexpr std::size_t kAhead = 16;  // peaks: their numbers lie pages apart
  for (std::size_t k = 0; k < kept.size();) {
    const uint32_t i = kept[k].entry;
    const Entry& e = entries_[i];
    const char* const base = text_.data() + e.begin;
    const std::size_t mz_at = e.skeleton + e.mz_open;
    const std::size_t int_at = mz_at + (e.int_open - e.mz_close);
    buffer.append(skeleton_, copied, mz_at - copied);
    const std::size_t first = k;
    for (; k < kept.size() && kept[k].entry == i; ++k) {
      if (k + kAhead < kept.size()) {
        const Peak& ahead = kept[k + kAhead];
        __builtin_prefetch(text_.data() + entries_[ahead.entry].begin + ahead.mz);
        __builtin_prefetch(text_.data() + entries_[ahead.entry].begin + ahead.intensity);
      }
      if (k != first) buffer += ',';
      token(base + kept[k].mz);
    }
    buffer.append(skeleton_, mz_at, int_at - mz_at);
    for (std::size_t j = first; j < k; ++j) {
      if (j != first) buffer += ',';
      token(base + kept[j].intensity);
    }
    copied = int_at;
  }
  buffer.append(skeleton_, copied);
  buffer += kClose;
  return buffer;
}

std::string_view CompactSpectra::document(std::size_t g, std::string& buffer,
                                          const TimeRange& range) const {
  const std::vector<Peak>& kept = kept_[g];
  const char* const hot = hot_text_[g].data();
  buffer.clear();
  buffer += kOpen;
  const auto token = [&](const char* p) {
    const char* q = p;
    while (*q != ',' && *q != ']') ++q;  // a validated number ends at one
    buffer.append(p, static_cast<std::size_t>(q - p));
  };
  // Peaks are in entry order; when the entries' times never decrease (as
  // in any run read in scan order) the range is found by bisection and the
  // walk stops past its end, otherwise every peak is looked at.
  std::size_t from = 0;
  if (times_ascending_) {
    from = static_cast<std::size_t>(
        std::partition_point(kept.begin(), kept.end(),
                             [&](const Peak& k) { return entries_[k.entry].minutes < range.lo; }) -
        kept.begin());
  }
  bool first_entry = true;
  constexpr std::size_t kAhead = 16;
  for (std::size_t k = from; k < kept.size();) {
    const uint32_t i = kept[k].entry;
    const Entry& e = entries_[i];
    if (times_ascending_ && e.minutes > range.hi) break;
    std::size_t last = k;
    while (last < kept.size() && kept[last].entry == i) ++last;
    if (!(range.lo <= e.minutes && e.minutes <= range.hi)) {
      k = last;
      continue;
    }
    if (!first_entry) buffer += ',';
    first_entry = false;
    const char* const base = text_.data() + e.begin;
    const std::size_t mz_at = e.skeleton + e.mz_open;
    const std::size_t int_at = mz_at + (e.int_open - e.mz_close);
    const std::size_t skeleton_end =
        e.skeleton + e.size - (e.mz_close - e.mz_open) - (e.int_close - e.int_open);
    buffer.append(skeleton_, e.skeleton, mz_at - e.skeleton);
    // Numbers outside the hot text lie pages apart in the whole document.
    for (std::size_t j = k; j < last; ++j) {
      if (j + kAhead < kept.size() && kept[j + kAhead].text == kNoText) {
        const Peak& ahead = kept[j + kAhead];
        __builtin_prefetch(text_.data() + entries_[ahead.entry].begin + ahead.mz);
        __builtin_prefetch(text_.data() + entries_[ahead.entry].begin + ahead.intensity);
      }
      if (j != k) buffer += ',';
      token(kept[j].text != kNoText ? hot + kept[j].text : base + kept[j].mz);
    }
    buffer.append(skeleton_, mz_at, int_at - mz_at);
    for (std::size_t j = k; j < last; ++j) {
      if (j != k) buffer += ',';
      token(kept[j].text != kNoText ? token_end(hot + kept[j].text) + 1
                                    : base + kept[j].intensity);
    }
    buffer.append(skeleton_, int_at, skeleton_end - int_at);
    k = last;
  }
  buffer += kClose;
  return buffer;
}

TraceTotals CompactSpectra::totals(std::size_t q, const IonQuery& query) const {
  // The trace step's rules: an entry gives a point when one of its ions in
  // the window has an intensity above 0; the point is the largest such.
  const std::vector<Peak>& kept = kept_[group_of_[q]];
  const char* const text = text_.data();
  const auto at = [&](const Peak& k, uint32_t offset) {
    return exact_value(text + entries_[k.entry].begin + offset);
  };
  const double tol = query.exact ? kExactDistance : query.tolerance;
  const auto in_window = [&](const Peak& k) {
    const double a = k.mz_value;
    const double d = std::fabs(a - query.mz);
    // Far enough from the edge for the float's error not to matter.
    const double slack = 1e-6 * (1.0 + std::fabs(query.mz) + std::fabs(tol) + std::fabs(a));
    const bool exact_edge = query.exact;  // its window is narrower than the slack
    if (!exact_edge && d <= tol - slack) return true;
    if (!exact_edge && d > tol + slack) return false;
    const double e = std::fabs(at(k, k.mz) - query.mz);
    return query.exact ? e < tol : e <= tol;
  };
  const auto positive = [&](const Peak& k) {
    const float y = k.intensity_value;
    if (std::isfinite(y) && std::fabs(y) >= 1e-30F) return y > 0.0F;
    return at(k, k.intensity) > 0.0;
  };
  TraceTotals t;
  uint32_t counted = std::numeric_limits<uint32_t>::max();
  float top = 0.0F;
  std::vector<std::size_t> matched;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const Peak& k = kept[i];
    // An entry already counted changes nothing unless it may hold the top.
    if (k.entry == counted && k.intensity_value < top - 1e-5F * top) continue;
    if (!in_window(k) || !positive(k)) continue;
    if (k.entry != counted) {
      counted = k.entry;
      ++t.points;
    }
    top = std::max(top, k.intensity_value);
    matched.push_back(i);
  }
  // The largest exact intensity is among those whose float is near the top
  // (float rounding keeps the order, the one pass's error is far smaller).
  for (const std::size_t i : matched) {
    const float y = kept[i].intensity_value;
    const bool near = std::isinf(top) ? std::isinf(y) : y >= top - 1e-5F * top;
    if (near) t.max_intensity = std::max(t.max_intensity, at(kept[i], kept[i].intensity));
  }
  return t;
}

}  // namespace vx::host::chain
