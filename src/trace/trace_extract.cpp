// Trace extraction. The walk over the spectra array is the same for both
// paths; they differ only in how an entry that opens at depth 0 is read. The
// fast path accepts an entry only when every byte of it has the ingestion
// step's layout, and for such an entry the byte walk, the member scanner and
// the number-list rules provably see the same tokens it sees; the first byte
// that does not fit hands the entry back to the exact reading. Nothing is
// allocated per entry or per number once the scratch buffers have grown.
#include "trace/trace_extract.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/json_scanner.hpp"
#include "common/number_reader.hpp"

namespace vx::trace {
namespace {

constexpr std::string_view kSpectraKey = "\"spectra\":";
constexpr std::string_view kDefaultUnit = "minute";

// Buffers kept from one entry to the next.
struct Scratch {
  std::string unit;
  std::vector<double> mz;
  std::vector<double> intensity;
  std::vector<std::size_t> hits;  // fast path: positions of m/z in the window
};

// The running maximum of an entry's matching intensities. Starting from 0.0
// with a strict comparison keeps zero, negative and NaN intensities out.
struct Best {
  double intensity = 0.0;
  bool matched = false;

  void offer(double v) {
    if (v > intensity) {
      intensity = v;
      matched = true;
    }
  }
};

void add_point(Trace& out, double time, std::string_view unit, const Best& best) {
  if (!best.matched) return;
  out.retention_time.push_back(to_minutes(time, unit));
  out.intensity.push_back(best.intensity);
}

// One entry read through the member scanner: the rules every entry follows.
void read_entry_exact(std::string_view entry, const TraceQuery& query, Scratch& s,
                      Trace& out) {
  double time = 0.0;
  if (const auto t = common::read_number_member(entry, "scan_start_time")) time = *t;
  std::string_view unit = kDefaultUnit;
  if (common::read_string_member(entry, "scan_start_time_unit", s.unit)) unit = s.unit;
  s.mz.clear();
  s.intensity.clear();
  if (const auto a = common::find_member_text(entry, "mz_array")) {
    common::parse_number_list(*a, s.mz);
  }
  if (const auto a = common::find_member_text(entry, "intensity_array")) {
    common::parse_number_list(*a, s.intensity);
  }
  // The shorter list bounds the search; extra values of the longer one are
  // ignored.
  const std::size_t n = std::min(s.mz.size(), s.intensity.size());
  Best best;
  for (std::size_t i = 0; i < n; ++i) {
    if (ion_matches(query, s.mz[i])) best.offer(s.intensity[i]);
  }
  add_point(out, time, unit, best);
}

// ---------------------------------------------------------------------------
// Fast path

// A range of m/z values that an ion must reach to have any chance of
// matching. It is wider than the window by far more than the rounding of
// |mz - target| can move a value, so an m/z known to lie outside it cannot
// match and its text need not be converted. Disabled for non-finite, huge or
// negative settings: every m/z is then converted.
struct Prefilter {
  bool enabled = false;
  double lo = 0.0;
  double hi = 0.0;
};

Prefilter make_prefilter(const TraceQuery& query) {
  const double reach = query.exact_match ? kExactMatchDistance : query.tolerance;
  if (!std::isfinite(query.target_mz) || !std::isfinite(reach) || !(reach >= 0.0)) {
    return {};
  }
  const double scale = std::fabs(query.target_mz) + reach;
  if (!(scale < 1e15)) return {};
  const double slack = 1e-6 * (1.0 + scale);
  return {true, query.target_mz - reach - slack, query.target_mz + reach + slack};
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// ASCII letters and digits, whatever the process locale.
bool is_word_byte(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
         c == '+' || c == '-';
}

// The first byte at or after p that is not an ASCII digit, or end. Eight
// bytes at a time: after xor with '0' a digit byte is 0..9, and adding 0x76
// sets the top bit of every byte of 10 or more; bytes that already have it
// are caught by the or. A carry can only leave a flagged byte and only
// disturbs later bytes, so the lowest flag is exact.
const char* skip_digits(const char* p, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      uint64_t v = 0;
      std::memcpy(&v, p, sizeof v);
      const uint64_t a = v ^ 0x3030303030303030ULL;
      const uint64_t flags = ((a + 0x7676767676767676ULL) | a) & 0x8080808080808080ULL;
      if (flags != 0) return p + (std::countr_zero(flags) >> 3);
      p += 8;
    }
  }
  while (p != end && is_digit(*p)) ++p;
  return p;
}

// One element of a number list in the form the JSON writer produces:
// -?D+(.D+)?([eE][+-]?D+)? followed by ',' or ']'. "strtod" consumes exactly
// such a token, so the number list holds one number per token.
struct Token {
  const char* end = nullptr;  // the ',' or ']' after it
  uint64_t whole = 0;         // the integer digits (wraps when very long)
  std::ptrdiff_t whole_digits = 0;
  bool negative = false;
  bool has_fraction = false;
  bool has_exponent = false;
};

template <bool kWantWhole>
bool scan_token(const char* p, const char* end, Token& t) {
  t.negative = p != end && *p == '-';
  if (t.negative) ++p;
  const char* const digits = p;
  if constexpr (kWantWhole) {
    uint64_t v = 0;
    while (p != end && is_digit(*p)) {
      v = v * 10 + static_cast<uint64_t>(*p - '0');
      ++p;
    }
    t.whole = v;
  } else {
    p = skip_digits(p, end);
  }
  t.whole_digits = p - digits;
  if (t.whole_digits == 0) return false;
  t.has_fraction = p != end && *p == '.';
  if (t.has_fraction) {
    const char* const f = skip_digits(p + 1, end);
    if (f == p + 1) return false;
    p = f;
  }
  t.has_exponent = p != end && (*p == 'e' || *p == 'E');
  if (t.has_exponent) {
    ++p;
    if (p != end && (*p == '+' || *p == '-')) ++p;
    const char* const e = skip_digits(p, end);
    if (e == p) return false;
    p = e;
  }
  if (p == end || (*p != ',' && *p != ']')) return false;
  t.end = p;
  return true;
}

// Whether the token's value certainly lies outside the prefilter range,
// judged from its integer digits alone: without an exponent the value is in
// [whole, whole + 1) (exactly whole without a fraction), and every bound is
// an exact double below 10^15.
bool surely_outside(const Token& t, const Prefilter& f) {
  if (!f.enabled || t.has_exponent || t.whole_digits > 15) return false;
  const auto whole = static_cast<double>(t.whole);
  const double upper = t.has_fraction ? whole + 1.0 : whole;
  const double lo = t.negative ? -upper : whole;
  const double hi = t.negative ? -whole : upper;
  return hi < f.lo || lo > f.hi;
}

double token_value(const char* start, const Token& t) {
  double v = 0.0;
  (void)common::scan_strtod({start, static_cast<std::size_t>(t.end - start)}, v);
  return v;
}

bool literal(const char*& p, const char* end, std::string_view text) {
  if (static_cast<std::size_t>(end - p) < text.size() ||
      std::memcmp(p, text.data(), text.size()) != 0) {
    return false;
  }
  p += text.size();
  return true;
}

// -?D+ as the writer writes indices and MS levels.
bool integer(const char*& p, const char* end) {
  if (p != end && *p == '-') ++p;
  const char* const digits = p;
  p = skip_digits(p, end);
  return p != digits;
}

// A bare number such as the scan start time, NaN or Infinity: letters,
// digits, '.', '+' and '-' only, none of which ends or starts anything for
// the walk or the member scanner.
bool bare_word(const char*& p, const char* end, std::string_view& word) {
  const char* const start = p;
  while (p != end && is_word_byte(*p)) ++p;
  word = {start, static_cast<std::size_t>(p - start)};
  return p != start;
}

// A string value: its bytes between the quotes, escapes left as written. A
// backslash makes the next byte ordinary, as in the walk and the scanner.
bool quoted(const char*& p, const char* end, std::string_view& inner) {
  if (p == end || *p != '"') return false;
  const char* q = p + 1;
  while (q != end) {
    if (*q == '\\') {
      if (end - q < 2) return false;
      q += 2;
      continue;
    }
    if (*q == '"') {
      inner = {p + 1, static_cast<std::size_t>(q - (p + 1))};
      p = q + 1;
      return true;
    }
    ++q;
  }
  return false;
}

// The m/z list after its '[': records the positions of ions in the window.
bool mz_list(const char*& p, const char* end, const TraceQuery& query,
             const Prefilter& f, std::vector<std::size_t>& hits) {
  if (p != end && *p == ']') {
    ++p;
    return true;
  }
  for (std::size_t k = 0;; ++k) {
    Token t;
    if (!scan_token<true>(p, end, t)) return false;
    if (!surely_outside(t, f) && ion_matches(query, token_value(p, t))) hits.push_back(k);
    p = t.end + 1;
    if (*t.end == ']') return true;
  }
}

// The intensity list after its '[': converts only the values at the hits.
// A hit beyond the list's end is never reached, which is the rule that the
// shorter list bounds the search.
bool intensity_list(const char*& p, const char* end, const std::vector<std::size_t>& hits,
                    Best& best) {
  if (p != end && *p == ']') {
    ++p;
    return true;
  }
  std::size_t next = 0;
  for (std::size_t k = 0;; ++k) {
    Token t;
    if (!scan_token<false>(p, end, t)) return false;
    if (next < hits.size() && hits[next] == k) {
      best.offer(token_value(p, t));
      ++next;
    }
    p = t.end + 1;
    if (*t.end == ']') return true;
  }
}

// Reads the entry that opens at p when it has exactly the ingestion step's
// layout and adds its point; returns the position after its closing brace,
// or nullptr (nothing added) when any byte differs.
const char* read_entry_fast(const char* p, const char* end, const TraceQuery& query,
                            const Prefilter& f, Scratch& s, Trace& out) {
  std::string_view time_text;
  std::string_view unit;
  std::string_view ignored;
  if (!literal(p, end, "{\"index\":") || !integer(p, end) ||
      !literal(p, end, ",\"scan_start_time\":") || !bare_word(p, end, time_text) ||
      !literal(p, end, ",\"scan_start_time_unit\":") || !quoted(p, end, unit) ||
      !literal(p, end, ",\"ms_level\":") || !integer(p, end) ||
      !literal(p, end, ",\"spectrum_type\":") || !quoted(p, end, ignored) ||
      !literal(p, end, ",\"mz_array\":[")) {
    return nullptr;
  }
  s.hits.clear();
  if (!mz_list(p, end, query, f, s.hits)) return nullptr;
  Best best;
  if (!literal(p, end, ",\"intensity_array\":[") || !intensity_list(p, end, s.hits, best) ||
      !literal(p, end, ",\"mz_array_dtype\":") || !quoted(p, end, ignored) ||
      !literal(p, end, ",\"intensity_array_dtype\":") || !quoted(p, end, ignored) ||
      !literal(p, end, ",\"array_compression\":") || !quoted(p, end, ignored) ||
      !literal(p, end, "}")) {
    return nullptr;
  }
  // The member read of the time: no blanks or quotes to strip here, and a
  // text that does not convert leaves the default.
  double time = 0.0;
  (void)common::scan_strtod(time_text, time);
  // An empty unit string does not replace the default.
  add_point(out, time, unit.empty() ? kDefaultUnit : unit, best);
  return p;
}

// ---------------------------------------------------------------------------
// The walk

template <bool kFast>
void walk(std::string_view doc, const TraceQuery& query, Trace& out) {
  if (doc.size() < kSpectraKey.size()) return;
  const std::size_t key = doc.find(kSpectraKey);
  if (key == std::string_view::npos) return;
  const std::size_t open = doc.find('[', key);
  if (open == std::string_view::npos) return;

  Scratch s;
  const Prefilter f = make_prefilter(query);
  const char* const end = doc.data() + doc.size();
  bool escaped = false;
  bool in_string = false;
  int64_t depth = 0;  // stray closing braces take it below zero
  const char* entry = nullptr;
  for (const char* p = doc.data() + open; p != end; ++p) {
    const char c = *p;
    if (escaped) {
      escaped = false;
      continue;
    }
    if (c == '\\') {
      escaped = true;
      continue;
    }
    if (c == '"') {
      in_string = !in_string;
      continue;
    }
    if (in_string) continue;
    if (c == '{') {
      if (depth == 0) {
        if constexpr (kFast) {
          // Here the walk is between entries with no flag set, which is also
          // its state after the fast reader's closing brace.
          if (const char* after = read_entry_fast(p, end, query, f, s, out)) {
            p = after - 1;
            continue;
          }
        }
        entry = p;
      }
      ++depth;
    } else if (c == '}') {
      --depth;
      if (depth == 0 && entry != nullptr) {
        read_entry_exact({entry, static_cast<std::size_t>(p + 1 - entry)}, query, s, out);
        entry = nullptr;
      }
    } else if (c == ']' && depth == 0) {
      return;
    }
  }
}

}  // namespace

bool ion_matches(const TraceQuery& query, double mz) {
  const double d = std::fabs(mz - query.target_mz);
  return query.exact_match ? d < kExactMatchDistance : d <= query.tolerance;
}

double to_minutes(double time, std::string_view unit) {
  // Converters write these unit names; leaving them unconverted would label
  // seconds, milliseconds or hours as minutes.
  if (unit == "second") return time / 60.0;
  if (unit == "millisecond") return time / 60000.0;
  if (unit == "hour") return time * 60.0;
  return time;
}

void extract_trace(std::string_view document, const TraceQuery& query, Trace& out) {
  walk<true>(document, query, out);
}

void extract_trace_exact(std::string_view document, const TraceQuery& query, Trace& out) {
  walk<false>(document, query, out);
}

}  // namespace vx::trace
