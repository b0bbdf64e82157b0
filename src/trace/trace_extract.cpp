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

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  // When every integer in [floor(lo), floor(hi)] has this many digits (1 to
  // 4) and lo > 0, a token without exponent or leading zero can only reach
  // the range if its integer part has exactly this many digits; 0 otherwise.
  int whole_digits = 0;
};

// The digits of a whole number below 10^15.
int decimal_digits(double whole) {
  int n = 1;
  for (auto w = static_cast<uint64_t>(whole); w >= 10; w /= 10) ++n;
  return n;
}

Prefilter make_prefilter(const TraceQuery& query) {
  const double reach = query.exact_match ? kExactMatchDistance : query.tolerance;
  if (!std::isfinite(query.target_mz) || !std::isfinite(reach) || !(reach >= 0.0)) {
    return {};
  }
  const double scale = std::fabs(query.target_mz) + reach;
  if (!(scale < 1e15)) return {};
  const double slack = 1e-6 * (1.0 + scale);
  Prefilter f{true, query.target_mz - reach - slack, query.target_mz + reach + slack, 0};
  if (f.lo > 0.0) {
    // Every integer in [floor(lo), floor(hi)] then has n digits.
    const int n = decimal_digits(std::floor(f.lo));
    if (n <= 4 && f.hi < std::pow(10.0, n)) f.whole_digits = n;
  }
  return f;
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
  uint64_t whole = 0;         // the integer digits, when at most 15
  int whole_digits = 0;
  bool negative = false;
  bool has_fraction = false;
  bool has_exponent = false;
};

uint64_t digits_value(const char* p, int n) {
  uint64_t v = 0;
  for (const char* q = p; q != p + n; ++q) v = v * 10 + static_cast<uint64_t>(*q - '0');
  return v;
}

// Reads one token from p the plain way; false when it is not in that form.
bool scan_token(const char* p, const char* end, Token& t) {
  t.negative = p != end && *p == '-';
  if (t.negative) ++p;
  const char* const digits = p;
  p = skip_digits(p, end);
  t.whole_digits = static_cast<int>(std::min<std::ptrdiff_t>(p - digits, 1000));
  if (t.whole_digits == 0) return false;
  if (t.whole_digits <= 15) t.whole = digits_value(digits, t.whole_digits);
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

// The token scan above only proves the shape; the value always comes from
// the library's number kernel, so both paths convert every byte alike.
double token_value(const char* start, const char* stop) {
  double v = 0.0;
  (void)common::scan_strtod({start, static_cast<std::size_t>(stop - start)}, v);
  return v;
}

// What the two lists do with their elements. The m/z list records the
// positions of ions in the window; the intensity list offers the values at
// those positions to the running maximum. A hit beyond the intensity list's
// end is never reached: the shorter list bounds the search.
struct MzSink {
  const TraceQuery& query;
  const Prefilter& filter;
  std::vector<std::size_t>& hits;
  std::size_t count = 0;

  void take(const char* start, const Token& t) {
    if (!surely_outside(t, filter) && ion_matches(query, token_value(start, t.end))) {
      hits.push_back(count);
    }
    ++count;
  }
};

struct IntensitySink {
  const std::vector<std::size_t>& hits;
  Best& best;
  std::size_t count = 0;
  std::size_t next = 0;  // the first hit not reached yet

  void take(const char* start, const Token& t) {
    if (next < hits.size() && hits[next] == count) {
      best.offer(token_value(start, t.end));
      ++next;
    }
    ++count;
  }
};

#if defined(__SSE2__)

// Which bytes of a 64-byte block belong to which class; bit i is byte i.
struct ByteClasses {
  uint64_t digit = 0;
  uint64_t zero = 0;
  uint64_t comma = 0;
  uint64_t close = 0;  // ']'
  uint64_t dot = 0;
  uint64_t exp = 0;  // 'e' or 'E'
  uint64_t minus = 0;
  uint64_t plus = 0;
};

// Inlined: returning the masks through memory costs more than making them.
[[gnu::always_inline]] inline ByteClasses classify64(const char* p) {
  ByteClasses c;
  for (int i = 0; i < 4; ++i) {
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + std::ptrdiff_t{16} * i));
    const auto bits = [i](__m128i m) {
      return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(m))} << (16 * i);
    };
    // A digit is a byte whose distance from '0' is at most 9 (unsigned).
    const __m128i t = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    c.digit |= bits(_mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(9)), t));
    c.zero |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('0')));
    c.comma |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')));
    c.close |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(']')));
    c.dot |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')));
    c.exp |=
        bits(_mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('e')));
    c.minus |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('-')));
    c.plus |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')));
  }
  return c;
}

// The complete tokens of one block: p starts a token, and the block is cut
// after its last separator (or at the list's ']').
struct Block {
  const char* p = nullptr;
  ByteClasses c;
  uint64_t sep = 0;     // the ',' or ']' after each token
  uint64_t starts = 0;  // the first byte of each token
  uint64_t region = 0;  // every byte of the tokens and their separators
};

// Bits [from, to).
uint64_t bit_range(int from, int to) {
  return ((uint64_t{1} << to) - 1) & ~((uint64_t{1} << from) - 1);
}

// Hands every token of the block to take(start, token).
template <typename Take>
void each_token(const Block& b, Take&& take) {
  int from = 0;
  for (uint64_t rest = b.sep; rest != 0; rest &= rest - 1) {
    const int to = std::countr_zero(rest);
    const uint64_t token = bit_range(from, to);
    Token t;
    t.end = b.p + to;
    t.negative = ((b.c.minus >> from) & 1) != 0;
    t.has_fraction = (b.c.dot & token) != 0;
    t.has_exponent = (b.c.exp & token) != 0;
    const int digits = from + (t.negative ? 1 : 0);
    t.whole_digits = std::countr_zero(~b.c.digit >> digits);
    if (t.whole_digits <= 15) t.whole = digits_value(b.p + digits, t.whole_digits);
    take(b.p + from, t);
    from = to + 1;
  }
}

// An m/z block: when the prefilter knows the digit count of the range and
// the block has no exponent and no leading zero, only tokens whose integer
// part has that many digits are looked at; the others lie outside.
void take_block(MzSink& sink, const Block& b) {
  const int n = sink.filter.whole_digits;
  const uint64_t d = b.c.digit;
  if (n == 0 || (b.c.exp & b.region) != 0 || (b.starts & b.c.zero & (d >> 1)) != 0) {
    each_token(b, [&](const char* start, const Token& t) { sink.take(start, t); });
    return;
  }
  uint64_t candidates = b.starts & ~(d >> n);
  for (int i = 0; i < n; ++i) candidates &= d >> i;
  const std::size_t first = sink.count;
  for (; candidates != 0; candidates &= candidates - 1) {
    const uint64_t bit = candidates & (0 - candidates);
    const int from = std::countr_zero(bit);
    Token t;
    t.end = b.p + std::countr_zero(b.sep & ~(bit - 1));
    t.whole_digits = n;
    t.whole = digits_value(b.p + from, n);
    t.has_fraction = true;  // as wide as the integer part allows
    if (!surely_outside(t, sink.filter) &&
        ion_matches(sink.query, token_value(b.p + from, t.end))) {
      sink.hits.push_back(first +
                          static_cast<std::size_t>(std::popcount(b.starts & (bit - 1))));
    }
  }
  sink.count = first + static_cast<std::size_t>(std::popcount(b.starts));
}

// An intensity block: only a block holding a hit is looked into.
void take_block(IntensitySink& sink, const Block& b) {
  const auto n = static_cast<std::size_t>(std::popcount(b.starts));
  if (sink.next < sink.hits.size() && sink.hits[sink.next] < sink.count + n) {
    each_token(b, [&](const char* start, const Token& t) { sink.take(start, t); });
    return;
  }
  sink.count += n;
}

// Checks and hands over the complete tokens of the 64 bytes at p. Returns
// the bytes consumed (0: no separator in the block, so the caller reads one
// long token the plain way), or -1 when a token is not in the writer's form.
// Every byte class must sit where that form allows it: a sign first or
// after the exponent mark and before a digit; a point between digits; the
// exponent mark after a digit and before a digit or sign (so a digit ends
// every token). Per token at most one point and one exponent mark, the
// point first: the first mark of a token (point, exponent or separator) is
// found for all tokens at once by letting a carry run from each token start
// over the bytes that are no mark; a point must be such a first mark, and an
// exponent either one or the first mark after such a point.
template <typename Sink>
int read_block(const char* p, bool& closed, Sink& sink) {
  Block b;
  b.p = p;
  b.c = classify64(p);
  const ByteClasses& c = b.c;
  uint64_t sep = c.comma | c.close;
  if (c.close != 0) {
    const uint64_t first_close = c.close & (0 - c.close);
    sep &= (first_close << 1) - 1;  // all ones when the ']' is byte 63
  }
  if (sep == 0) return 0;
  const int last = 63 - std::countl_zero(sep);
  b.sep = sep;
  b.region = last == 63 ? ~uint64_t{0} : (uint64_t{2} << last) - 1;
  const uint64_t all_starts = (sep << 1) | 1;  // the byte before the block ends a token
  b.starts = all_starts & b.region;
  const uint64_t d = c.digit;
  const uint64_t after_digit = d << 1;
  const uint64_t before_digit = d >> 1;
  const uint64_t after_exp = c.exp << 1;
  uint64_t bad = ~(d | c.comma | c.close | c.dot | c.exp | c.minus | c.plus);
  bad |= b.starts & ~(d | c.minus);
  bad |= c.minus & ~((b.starts | after_exp) & before_digit);
  bad |= c.plus & ~(after_exp & before_digit);
  bad |= c.dot & ~(after_digit & before_digit);
  bad |= c.exp & ~(after_digit & ((d | c.minus | c.plus) >> 1));
  const uint64_t marks = c.dot | c.exp | sep;
  const uint64_t first_marks = (~marks + all_starts) & marks;
  const uint64_t after_first_dot = (~marks + ((c.dot & first_marks) << 1)) & marks;
  bad |= c.dot & ~first_marks;
  bad |= c.exp & ~(first_marks | after_first_dot);
  if ((bad & b.region) != 0) return -1;
  take_block(sink, b);
  closed = c.close != 0;
  return last + 1;
}

#endif  // __SSE2__

// The elements of a number list from just after its '[' through its ']',
// each handed to the sink. False when an element is not in the writer's
// form. Blocks of 64 bytes are classified at once where the text has room
// for them; the rest goes token by token.
constexpr std::ptrdiff_t kPrefetchDistance = 2048;

template <typename Sink>
bool read_list(const char*& p, const char* end, Sink& sink) {
  if (p != end && *p == ']') {
    ++p;
    return true;
  }
  for (;;) {
#if defined(__SSE2__)
    while (end - p >= 64) {
      // Each block's position depends on the last one, so the processor
      // cannot run ahead to start the loads from memory itself.
      __builtin_prefetch(p + kPrefetchDistance);
      bool closed = false;
      const int used = read_block(p, closed, sink);
      if (used < 0) return false;
      if (used == 0) break;
      p += used;
      if (closed) return true;
    }
#endif
    Token t;
    const char* const start = p;
    if (!scan_token(p, end, t)) return false;
    sink.take(start, t);
    p = t.end + 1;
    if (*t.end == ']') return true;
  }
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
  while (q != end && *q != '\0') {
    if (*q == '\\') {
      if (end - q < 2 || q[1] == '\0') return false;
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
  MzSink mz{query, f, s.hits};
  if (!read_list(p, end, mz)) return nullptr;
  Best best;
  IntensitySink intensity{s.hits, best};
  if (!literal(p, end, ",\"intensity_array\":[") || !read_list(p, end, intensity) ||
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
  // The text ends at its first zero byte: none may come before the '['.
  // Past it, the walk stops at one, and the fast reading takes none.
  if (std::memchr(doc.data(), '\0', open) != nullptr) return;

  Scratch s;
  const Prefilter f = make_prefilter(query);
  const char* const end = doc.data() + doc.size();
  bool escaped = false;
  bool in_string = false;
  int64_t depth = 0;  // stray closing braces take it below zero
  const char* entry = nullptr;
  for (const char* p = doc.data() + open; p != end; ++p) {
    const char c = *p;
    if (c == '\0') return;
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

namespace detail {

bool read_mz_list(std::string_view list, const TraceQuery& query,
                  std::vector<std::size_t>& hits, std::size_t& count, std::size_t& used) {
  const char* p = list.data();
  const char* const end = p + list.size();
  if (!literal(p, end, "[")) return false;
  const Prefilter f = make_prefilter(query);
  MzSink sink{query, f, hits};
  if (!read_list(p, end, sink)) return false;
  count = sink.count;
  used = static_cast<std::size_t>(p - list.data());
  return true;
}

bool read_intensity_list(std::string_view list, const std::vector<std::size_t>& hits,
                         double& best, std::size_t& count, std::size_t& used) {
  const char* p = list.data();
  const char* const end = p + list.size();
  if (!literal(p, end, "[")) return false;
  Best b;
  IntensitySink sink{hits, b};
  if (!read_list(p, end, sink)) return false;
  best = b.intensity;
  count = sink.count;
  used = static_cast<std::size_t>(p - list.data());
  return true;
}

}  // namespace detail

void extract_trace(std::string_view document, const TraceQuery& query, Trace& out) {
  walk<true>(document, query, out);
}

void extract_trace_exact(std::string_view document, const TraceQuery& query, Trace& out) {
  walk<false>(document, query, out);
}

}  // namespace vx::trace
