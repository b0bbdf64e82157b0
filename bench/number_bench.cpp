// Numbers formatted and parsed per second: the library's %.17g writer and
// strtod-compatible reader next to snprintf("%.17g") and strtod on the same
// values. With --check N it also compares N random bit patterns with printf.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/json_writer.hpp"
#include "common/number_reader.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double rate(std::size_t n, F&& f) {
  const auto t0 = Clock::now();
  f();
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  return static_cast<double>(n) / s;
}

std::vector<double> sample_values(std::size_t n) {
  // Values like those in mzML arrays: m/z with decimals, integral-ish
  // intensities, and some random bit patterns.
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> mz(35.0, 550.0);
  std::lognormal_distribution<double> inten(8.0, 2.0);
  std::vector<double> v;
  v.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 3 == 0) {
      v.push_back(mz(rng));
    } else if (i % 3 == 1) {
      v.push_back(static_cast<double>(static_cast<float>(inten(rng))));
    } else {
      uint64_t b = rng();
      double x = 0.0;
      std::memcpy(&x, &b, sizeof x);
      v.push_back(std::isfinite(x) ? x : 1.0);
    }
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t n = 2000000;
  const std::vector<double> values = sample_values(n);
  std::vector<std::string> texts;
  texts.reserve(n);
  std::size_t sink = 0;
  char buf[64];

  const double fmt_ours = rate(n, [&] {
    for (double x : values) sink += vx::common::format_double(x, buf);
  });
  const double fmt_printf = rate(n, [&] {
    for (double x : values) {
      sink += static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%.17g", x));
      texts.emplace_back(buf);
    }
  });
  double acc = 0.0;
  const double parse_ours = rate(n, [&] {
    for (const std::string& t : texts) {
      double v = 0.0;
      sink += vx::common::scan_strtod(t, v);
      acc += v;
    }
  });
  const double parse_strtod = rate(n, [&] {
    for (const std::string& t : texts) acc += std::strtod(t.c_str(), nullptr);
  });
  std::printf("%-34s %12s\n", "operation", "Mnumbers/s");
  std::printf("%-34s %12.2f\n", "format_double (%.17g exact)", fmt_ours / 1e6);
  std::printf("%-34s %12.2f\n", "snprintf(\"%.17g\")", fmt_printf / 1e6);
  std::printf("%-34s %12.2f\n", "scan_strtod", parse_ours / 1e6);
  std::printf("%-34s %12.2f\n", "strtod", parse_strtod / 1e6);

  if (argc > 2 && std::strcmp(argv[1], "--check") == 0) {
    const unsigned long long count = std::strtoull(argv[2], nullptr, 10);
    std::mt19937_64 rng(99);
    char a[64];
    char b[64];
    for (unsigned long long i = 0; i < count; ++i) {
      const uint64_t bits = rng();
      double x = 0.0;
      std::memcpy(&x, &bits, sizeof x);
      if (!std::isfinite(x)) continue;
      const std::size_t len = vx::common::format_double(x, a);
      std::snprintf(b, sizeof b, "%.17g", x);
      if (std::strlen(b) != len || std::memcmp(a, b, len) != 0) {
        std::printf("MISMATCH bits=%llu\n", static_cast<unsigned long long>(bits));
        return 1;
      }
    }
    std::printf("checked %llu random bit patterns against printf: identical\n", count);
  }
  return (sink == 0 && acc == 0.0) ? 1 : 0;
}
