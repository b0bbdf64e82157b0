// Prints generated traces, the walked bounds and integrated_area of each, one
// case per line as JSON, for trapezoid_oracle.py to recompute with scipy.
#include <cstdio>

#include "peak_traces.hpp"

int main() {
  namespace tp = vx::testing::peaks;
  const double s = tp::kSigma;
  const std::vector<std::vector<tp::Component>> families = {
      {{1000, 1.0, s, 0}},
      {{200, 1.0, s, 0}},
      {{1000, 1.0, s, 2 * s}},
      {{1000, 1.0, s, 0}, {500, 1.0 + 3.2 * s, s, 0}},
  };
  int id = 0;
  for (const auto& peaks : families) {
    for (std::uint64_t seed = 1; seed <= 5; ++seed) {
      const auto tr = tp::make_trace(peaks, tp::kNoiseSd, seed + 100);
      const auto d = tp::decide(tr, tp::fit_like_the_step(tr));
      if (!d.integrated_area) continue;
      std::printf(
          "{\"id\":%d,\"start\":%.17g,\"end\":%.17g,\"baseline\":%.17g,\"area\":%.17g,",
          id++, *d.peak_start, *d.peak_end, *d.integration_baseline, *d.integrated_area);
      std::printf("\"t\":[");
      for (std::size_t i = 0; i < tr.t.size(); ++i)
        std::printf("%s%.17g", i ? "," : "", tr.t[i]);
      std::printf("],\"y\":[");
      for (std::size_t i = 0; i < tr.y.size(); ++i)
        std::printf("%s%.17g", i ? "," : "", tr.y[i]);
      std::printf("]}\n");
    }
  }
  return 0;
}
