// Shared by the benchmarks: where their generated files live and how they
// are made with the shared GC-MS mzML generator (run by its own path, so its
// first line picks the Python that sees numpy).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace vx::bench
