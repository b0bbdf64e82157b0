// Shared by the benchmarks: where their generated files live and how they
// are made with the shared GC-MS mzML generator (run by its own path, so its
// first line picks the Python that sees numpy).
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace vx::bench {

inline std::filesystem::path data_dir() {
  return std::filesystem::path(VX_SOURCE_DIR) / "bench" / "data";
}

// Runs the generator with args, writing out; true when out then exists.
inline bool run_generator(const std::string& args, const std::filesystem::path& out) {
  namespace fs = std::filesystem;
  const fs::path generator =
      fs::path(VX_SOURCE_DIR).parent_path() / "shared" / "tools" / "gen_gcms_mzml.py";
  if (!fs::exists(generator)) {
    std::fprintf(stderr, "generator %s not found\n", generator.c_str());
    return false;
  }
  fs::create_directories(out.parent_path());
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on a chain of
  // literal + string concatenations.
  std::string cmd = "'";
  cmd += generator.string();
  cmd += "' ";
  cmd += args;
  cmd += " -o '";
  cmd += out.string();
  cmd += "' > /dev/null";
  std::fprintf(stderr, "generating %s ...\n", out.c_str());
  return std::system(cmd.c_str()) == 0 && fs::exists(out);
}

// The middle value (the mean of the two middle values for an even count).
inline double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// printf into a std::string, for the cells of summary rows.
[[gnu::format(printf, 1, 2)]] inline std::string cell(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// One row of the combined table that bench/run.sh prints after every
// benchmark has run: appended, tab-separated, to the file named by
// VX_BENCH_SUMMARY when that is set. verdict is "yes", "no" or "" when the
// row has no target.
inline void summary_row(const std::string& what, const std::string& ours,
                        const std::string& baseline, const std::string& target,
                        const char* verdict) {
  const char* path = std::getenv("VX_BENCH_SUMMARY");
  if (path == nullptr || *path == '\0') return;
  if (std::FILE* out = std::fopen(path, "a")) {
    std::fprintf(out, "%s\t%s\t%s\t%s\t%s\n", what.c_str(), ours.c_str(),
                 baseline.c_str(), target.c_str(), verdict);
    std::fclose(out);
  }
}

inline const char* verdict(bool met) { return met ? "yes" : "no"; }

}  // namespace vx::bench
