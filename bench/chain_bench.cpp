// Throughput of the whole chain as vxrun runs it (library loaded with dlopen,
// steps called through their entries, the batch runner's thread pool):
//   - files per second for a batch of small SIM files, 4 targets each;
//   - MB of mzML per second for one large full-scan file, 1 and 20 targets;
// each with 1 and 2 threads, best of --runs (default 3), after a line that
// says how much of a second core the process gets. Sample files are
// generated into bench/data/ when missing (../shared/tools/gen_gcms_mzml.py).
// Usage: chain_bench [--runs N] [--files N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.hpp"
#include "batch_runner.hpp"
#include "chain_runner.hpp"
#include "json_lite.hpp"
#include "step_library.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vx::host::BatchFile;
using vx::host::Target;

using vx::bench::data_dir;
using vx::bench::run_generator;

// Eight distinct small SIM files (same peaks, different noise), hard-linked
// to make a batch of n files: the work per file is the same as with n
// distinct files, without n generator runs.
std::vector<BatchFile> small_files(int n) {
  const fs::path dir = data_dir() / "sim_small";
  std::vector<BatchFile> files;
  for (int seed = 1; seed <= 8; ++seed) {
    const fs::path f = dir / ("sim_seed" + std::to_string(seed) + ".mzML");
    if (!fs::exists(f) &&
        !run_generator("--mode sim --seed " + std::to_string(seed) +
                           " --rt-start 1.0 --rt-end 1.7 --scan-interval 0.2"
                           " --peak 73:1.20:1.5:30000 --peak 147:1.30:1.8:50000"
                           " --peak 207:1.40:1.2:8000 --peak 281:1.50:2.0:120000",
                       f)) {
      return {};
    }
  }
  const fs::path batch = dir / "batch";
  fs::create_directories(batch);
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "run%04d.mzML", i);
    const fs::path link = batch / name;
    std::error_code ec;
    if (!fs::exists(link)) {
      fs::create_hard_link(dir / ("sim_seed" + std::to_string(i % 8 + 1) + ".mzML"), link,
                           ec);
      if (ec)
        fs::copy_file(dir / ("sim_seed" + std::to_string(i % 8 + 1) + ".mzML"), link, ec);
    }
    files.push_back({link.string(), "", ""});
  }
  return files;
}

// The large file and up to 20 targets from its truth: the base peak of each
// of the first compounds, the fit window a few peak widths wide.
fs::path large_file(std::vector<Target>& targets) {
  fs::path f = data_dir() / "fullscan_100mb.mzML";
  const fs::path truth = data_dir() / "fullscan_100mb.truth.json";
  if (!fs::exists(f) &&
      !run_generator("--mode fullscan --target-mb 100 --truth '" + truth.string() + "'",
                     f)) {
    return {};
  }
  std::FILE* in = std::fopen(truth.c_str(), "rb");
  std::string text;
  if (in != nullptr) {
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;)
      text.append(buf, n);
    std::fclose(in);
  }
  const vx::host::JsonParse p = vx::host::parse_json(text);
  const vx::host::JsonValue* compounds = p.value ? p.value->find("compounds") : nullptr;
  for (std::size_t i = 0; compounds != nullptr && i < compounds->items.size() && i < 20;
       ++i) {
    const vx::host::JsonValue& c = compounds->items[i];
    const double mz = c.number_at("base_peak_mz").value_or(0);
    const double rt = c.number_at("center_min").value_or(0);
    const double sigma_min = c.number_at("sigma_s").value_or(2) / 60.0;
    Target t = vx::host::make_target(c.text_at("id").value_or("C"), mz, rt, {});
    t.rt_tol = 4 * sigma_min;
    t.mz_tol = 0.3;
    targets.push_back(t);
  }
  return f;
}

double best_seconds(const vx::host::ChainSteps& steps,
                    const std::vector<BatchFile>& files,
                    const std::vector<Target>& targets, unsigned jobs, int runs,
                    std::size_t* ok_rows) {
  double best = 1e300;
  for (int r = 0; r < runs; ++r) {
    vx::host::BatchSettings s;
    s.targets = targets;
    s.jobs = jobs;
    const auto t0 = Clock::now();
    const vx::host::BatchOutcome out = vx::host::run_batch(steps, files, s);
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    *ok_rows = static_cast<std::size_t>(std::count_if(
        out.rows.begin(), out.rows.end(),
        [](const vx::host::ResultRow& row) { return row.fit_status == "success"; }));
  }
  return best;
}

// How many cores this process really gets: the same fixed CPU work on two
// threads, timed against one. Near 2 on an idle two-core machine; a value
// near 1 means other work holds a core and -j 2 cannot be faster.
double parallel_capacity() {
  const auto work = [] {
    volatile double x = 1.0;
    for (int i = 0; i < 60'000'000; ++i) x = x * 1.0000001 + 1e-9;
  };
  const auto t0 = Clock::now();
  work();
  const double one = std::chrono::duration<double>(Clock::now() - t0).count();
  const auto t1 = Clock::now();
  std::thread other(work);
  work();
  other.join();
  const double two = std::chrono::duration<double>(Clock::now() - t1).count();
  return 2.0 * one / two;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  int n_files = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--files") == 0)
      n_files = std::max(1, std::atoi(argv[i + 1]));
  }
  const vx::host::StepLibrary lib(VX_PLUGIN_PATH);
  std::string error;
  const auto steps = vx::host::resolve_chain_steps(lib, &error);
  if (!lib.loaded() || !steps) {
    std::fprintf(stderr, "cannot use %s: %s%s\n", VX_PLUGIN_PATH, lib.error().c_str(),
                 error.c_str());
    return 1;
  }

  std::printf("parallel capacity: 2 threads run %.2fx the work of 1 in the same time\n\n",
              parallel_capacity());
  std::printf("%-44s %4s %8s %8s %9s %8s %s\n", "workload", "jobs", "files", "seconds",
              "files/s", "MB/s", "fits ok");
  const std::vector<BatchFile> small = small_files(n_files);
  if (!small.empty()) {
    const double mb = static_cast<double>(fs::file_size(small.front().path)) *
                      static_cast<double>(small.size()) / 1e6;
    const std::vector<Target> targets{vx::host::make_target("73", 73, 1.20, {}),
                                      vx::host::make_target("147", 147, 1.30, {}),
                                      vx::host::make_target("207", 207, 1.40, {}),
                                      vx::host::make_target("281", 281, 1.50, {})};
    char label[64];
    std::snprintf(label, sizeof label, "%zu SIM files of %.2f MB, 4 targets",
                  small.size(), mb / static_cast<double>(small.size()));
    for (unsigned jobs : {1u, 2u}) {
      std::size_t ok = 0;
      const double s = best_seconds(*steps, small, targets, jobs, runs, &ok);
      std::printf("%-44s %4u %8zu %8.3f %9.1f %8.1f %zu/%zu\n", label, jobs, small.size(),
                  s, static_cast<double>(small.size()) / s, mb / s, ok,
                  small.size() * targets.size());
    }
  }
  std::vector<Target> targets;
  const fs::path large = large_file(targets);
  if (!large.empty() && !targets.empty()) {
    const double mb = static_cast<double>(fs::file_size(large)) / 1e6;
    const std::vector<BatchFile> one{{large.string(), "", ""}};
    for (std::size_t n : {std::size_t{1}, targets.size()}) {
      const std::vector<Target> subset(targets.begin(),
                                       targets.begin() + static_cast<long>(n));
      char label[96];
      std::snprintf(label, sizeof label, "%s (%.0f MB), %zu target%s",
                    large.filename().c_str(), mb, n, n == 1 ? "" : "s");
      for (unsigned jobs : {1u, 2u}) {
        std::size_t ok = 0;
        const double s = best_seconds(*steps, one, subset, jobs, runs, &ok);
        std::printf("%-44s %4u %8d %8.3f %9.2f %8.1f %zu/%zu\n", label, jobs, 1, s,
                    1.0 / s, mb / s, ok, n);
      }
    }
  }
  return 0;
}
