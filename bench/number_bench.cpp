// Numbers formatted and parsed: the library's %.17g writer next to
// snprintf("%.17g") and std::to_chars(general, 17), and its strtod-compatible
// reader next to strtod and std::from_chars, on the same values (ns per
// value, best of several runs). Value shapes are those of mzML arrays.
//
//   number_bench                       the tables
//   number_bench --check N [SEED]      N random bit patterns against printf
//   number_bench --check-floats [A B]  every float32 bit pattern in [A, B)
//                                      (default all 2^32), widened to double
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "common/decimal_format.hpp"
#include "common/json_writer.hpp"
#include "common/number_reader.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Best time of `runs` runs of f over n values, in ns per value.
template <typename F>
double ns_per_value(std::size_t n, int runs, F&& f) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = Clock::now();
    f();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, s * 1e9 / static_cast<double>(n));
  }
  return best;
}

// The competitors run in turn, round after round, each keeping its best
// time: on a shared machine a burst of load then hits all of them rather
// than whichever happened to be running.
template <typename... F>
std::array<double, sizeof...(F)> interleaved(std::size_t n, int rounds, F&&... f) {
  std::array<double, sizeof...(F)> best;
  best.fill(1e300);
  for (int r = 0; r < rounds; ++r) {
    std::size_t i = 0;
    ((best[i] = std::min(best[i], ns_per_value(n, 1, f)), ++i), ...);
  }
  return best;
}

double from_bits(uint64_t bits) {
  double x = 0.0;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

struct ValueSet {
  const char* name;
  std::vector<double> values;
};

std::vector<ValueSet> value_sets(std::size_t n) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> mz(35.0, 550.0);
  std::lognormal_distribution<double> inten(8.0, 2.0);
  std::vector<ValueSet> sets = {{"m/z, 4 decimals (float64)", {}},
                                {"intensity (float32)", {}},
                                {"whole intensity", {}},
                                {"random bit patterns", {}},
                                {"mzML mix (1/3 each: m/z, f32, bits)", {}}};
  for (auto& s : sets) s.values.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    sets[0].values.push_back(std::round(mz(rng) * 1e4) / 1e4);
    sets[1].values.push_back(static_cast<float>(inten(rng)));
    sets[2].values.push_back(std::round(inten(rng)));
    const double raw = from_bits(rng());
    sets[3].values.push_back(std::isfinite(raw) ? raw : 1.0);
    // The mix this benchmark has always printed, kept for comparison.
    if (i % 3 == 0) {
      sets[4].values.push_back(mz(rng));
    } else if (i % 3 == 1) {
      sets[4].values.push_back(static_cast<float>(inten(rng)));
    } else {
      const double bits = from_bits(rng());
      sets[4].values.push_back(std::isfinite(bits) ? bits : 1.0);
    }
  }
  return sets;
}

void format_table(const std::vector<ValueSet>& sets) {
  std::printf("%-38s %10s %10s %10s %9s\n", "format (ns/value)", "snprintf", "to_chars",
              "ours", "to_chars/");
  std::printf("%-38s %10s %10s %10s %9s\n", "", "%.17g", "general17", "", "ours");
  std::size_t sink = 0;
  for (const ValueSet& s : sets) {
    const std::size_t n = s.values.size();
    char buf[64];
    const double t_printf = ns_per_value(n, 1, [&] {
      for (double x : s.values) {
        sink += static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%.17g", x));
      }
    });
    const auto [t_to_chars, t_ours] = interleaved(
        n, 9,
        [&] {
          for (double x : s.values) {
            const auto r =
                std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general, 17);
            sink += static_cast<std::size_t>(r.ptr - buf);
          }
        },
        [&] {
          for (double x : s.values) sink += vx::common::format_double(x, buf);
        });
    std::printf("%-38s %10.1f %10.1f %10.1f %8.2fx\n", s.name, t_printf, t_to_chars,
                t_ours, t_to_chars / t_ours);
    vx::bench::summary_row(
        vx::bench::cell("%%.17g formatting, %s", s.name),
        vx::bench::cell("%.1f ns/value", t_ours),
        vx::bench::cell("to_chars %.1f, snprintf %.0f ns/value", t_to_chars, t_printf),
        ">= 3x faster than to_chars", vx::bench::verdict(t_to_chars >= 3.0 * t_ours));
  }
  if (sink == 0) std::printf("(nothing written)\n");
}

// Whole arrays into a document, the way the spectra document is written:
// JsonWriter::number_array against a to_chars loop appending per number.
void array_table(const std::vector<ValueSet>& sets) {
  std::printf("\n%-38s %10s %10s %9s\n", "JSON arrays of 1000 (MB/s of JSON)", "to_chars",
              "ours", "ours/");
  std::printf("%-38s %10s %10s %9s\n", "", "append", "number_", "to_chars");
  std::printf("%-38s %10s %10s %9s\n", "", "", "array", "");
  for (const ValueSet& s : sets) {
    const std::size_t n = s.values.size();
    const std::size_t chunk = 1000;
    // Both documents start empty with room for the longest text of every
    // number, as a step that sizes its document first would have.
    const std::size_t room = n * (vx::common::kG17MaxLength + 1) + 2 * (n / chunk + 1);
    std::string doc;
    std::size_t bytes = 0;
    vx::common::JsonWriter w;
    const auto [t_to_chars, t_ours] = interleaved(
        n, 9,
        [&] {
          doc = std::string();
          doc.reserve(room);
          char buf[32];
          for (std::size_t at = 0; at < n; at += chunk) {
            doc.push_back('[');
            for (std::size_t i = at; i < std::min(n, at + chunk); ++i) {
              if (i != at) doc.push_back(',');
              const auto r = std::to_chars(buf, buf + sizeof buf, s.values[i],
                                           std::chars_format::general, 17);
              doc.append(buf, r.ptr);
            }
            doc.push_back(']');
          }
          bytes = doc.size();
        },
        [&] {
          w = vx::common::JsonWriter();
          w.reserve(room);
          for (std::size_t at = 0; at < n; at += chunk) {
            w.number_array(
                std::span<const double>(s.values).subspan(at, std::min(chunk, n - at)));
          }
        });
    if (w.text() != doc) std::printf("ARRAY TEXTS DIFFER for %s\n", s.name);
    const double per_value = static_cast<double>(bytes) / static_cast<double>(n);
    std::printf("%-38s %10.0f %10.0f %8.2fx\n", s.name, per_value / t_to_chars * 1e3,
                per_value / t_ours * 1e3, t_to_chars / t_ours);
  }
}

void parse_table(const std::vector<ValueSet>& sets) {
  std::printf("\n%-38s %10s %10s %10s\n", "parse (ns/value)", "strtod", "from_chars",
              "scan_strtod");
  double acc = 0.0;
  for (const ValueSet& s : sets) {
    // The numbers as one JSON list, parsed in sequence like a number list.
    std::string list;
    char buf[32];
    for (double x : s.values) {
      list.append(buf, vx::common::format_double(x, buf));
      list.push_back(',');
    }
    const std::size_t n = s.values.size();
    const auto [t_strtod, t_from_chars, t_ours] = interleaved(
        n, 5,
        [&] {
          const char* p = list.c_str();
          for (std::size_t i = 0; i < n; ++i) {
            char* end = nullptr;
            acc += std::strtod(p, &end);
            p = end + 1;
          }
        },
        [&] {
          const char* p = list.data();
          const char* const end = p + list.size();
          for (std::size_t i = 0; i < n; ++i) {
            double v = 0.0;
            p = std::from_chars(p, end, v).ptr + 1;
            acc += v;
          }
        },
        [&] {
          std::string_view rest = list;
          for (std::size_t i = 0; i < n; ++i) {
            double v = 0.0;
            const std::size_t used = vx::common::scan_strtod(rest, v);
            rest.remove_prefix(used + 1);
            acc += v;
          }
        });
    std::printf("%-38s %10.1f %10.1f %10.1f\n", s.name, t_strtod, t_from_chars, t_ours);
  }
  if (acc == 0.0) std::printf("(nothing parsed)\n");
}

// Compares one value with printf; prints and returns false on a difference.
bool same_as_printf(double x, unsigned long long& undecided) {
  char a[64];
  char b[64];
  const std::size_t len = vx::common::format_double(x, a);
  const int want = std::snprintf(b, sizeof b, "%.17g", x);
  if (static_cast<std::size_t>(want) != len || std::memcmp(a, b, len) != 0) {
    std::printf("MISMATCH %a: ours '%.*s' printf '%s'\n", x, static_cast<int>(len), a, b);
    return false;
  }
  vx::common::Decimal17 d;
  if (x != 0 && !vx::common::decimal17_fast(x, d)) ++undecided;
  return true;
}

int check_random(unsigned long long count, unsigned long long seed) {
  std::mt19937_64 rng(seed);
  unsigned long long checked = 0;
  unsigned long long undecided = 0;
  for (unsigned long long i = 0; i < count; ++i) {
    const double x = from_bits(rng());
    if (!std::isfinite(x)) continue;
    if (!same_as_printf(x, undecided)) return 1;
    ++checked;
  }
  std::printf(
      "checked %llu random bit patterns (seed %llu, %llu finite) against printf: "
      "identical; %llu needed the exact fall-back\n",
      count, seed, checked, undecided);
  return 0;
}

int check_floats(uint64_t from, uint64_t to) {
  unsigned long long checked = 0;
  unsigned long long undecided = 0;
  for (uint64_t bits = from; bits < to; ++bits) {
    const auto narrow = static_cast<uint32_t>(bits);
    float f = 0.0f;
    std::memcpy(&f, &narrow, sizeof f);
    if (!std::isfinite(f)) continue;
    if (!same_as_printf(static_cast<double>(f), undecided)) return 1;
    ++checked;
  }
  std::printf(
      "checked float32 bit patterns [%#llx, %#llx) widened to double (%llu finite) "
      "against printf: identical; %llu needed the exact fall-back\n",
      static_cast<unsigned long long>(from), static_cast<unsigned long long>(to), checked,
      undecided);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--check") == 0) {
    const unsigned long long seed = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : 99;
    return check_random(std::strtoull(argv[2], nullptr, 0), seed);
  }
  if (argc > 1 && std::strcmp(argv[1], "--check-floats") == 0) {
    const uint64_t from = argc > 3 ? std::strtoull(argv[2], nullptr, 0) : 0;
    const uint64_t to = argc > 3 ? std::strtoull(argv[3], nullptr, 0) : uint64_t{1} << 32;
    return check_floats(from, std::min<uint64_t>(to, uint64_t{1} << 32));
  }
  const std::vector<ValueSet> sets = value_sets(500000);
  format_table(sets);
  array_table(sets);
  parse_table(sets);
  return 0;
}
