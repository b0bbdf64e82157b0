// Whole processes on one large full-scan file, interleaved run by run so a
// loaded machine slows every side alike:
//   - `vxrun chain FILE` with one target against bench/openms_probe (OpenMS
//     2.6 loading the file with default options, then the same per-spectrum
//     maximum within m/z +- 0.5): medians of wall time, CPU time (user +
//     system, all threads) and peak resident memory, and their ratios;
//   - the chain's peak memory against file + spectra document;
//   - `vxrun batch` of 10 links to the file, -j 1: wall time and page faults
//     per file against one `vxrun chain`.
// The probe is built only where OpenMS is installed; without it the OpenMS
// rows are left out and the program says so.
// Usage: openms_bench [--runs N] [--file PATH] [--copies N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// One finished child process.
struct Usage {
  double wall = -1.0;  // seconds; negative when the process failed
  double cpu = 0.0;    // user + system seconds of all its threads
  double peak_mib = 0.0;
  double minor_faults = 0.0;
};

// Runs argv with stdout and stderr on /dev/null and waits for it.
Usage run_process(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Usage u;
  const auto t0 = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return u;
  int status = 0;
  rusage r{};
  if (wait4(pid, &status, 0, &r) != pid) return u;
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  // vxrun exits 1 when the fit finds no peak in a row's window: still a run.
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return u;
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  u.wall = wall;
  u.cpu = seconds(r.ru_utime) + seconds(r.ru_stime);
  u.peak_mib = static_cast<double>(r.ru_maxrss) / 1024.0;
  u.minor_faults = static_cast<double>(r.ru_minflt);
  return u;
}

// Medians of each measure over the runs.
struct Medians {
  double wall = 0.0;
  double cpu = 0.0;
  double peak_mib = 0.0;
  double minor_faults = 0.0;
};

Medians medians(const std::vector<Usage>& runs) {
  std::vector<double> wall, cpu, peak, faults;
  for (const Usage& u : runs) {
    wall.push_back(u.wall);
    cpu.push_back(u.cpu);
    peak.push_back(u.peak_mib);
    faults.push_back(u.minor_faults);
  }
  return {vx::bench::median(wall), vx::bench::median(cpu), vx::bench::median(peak),
          vx::bench::median(faults)};
}

void print_row(const char* what, const Medians& m, double per = 1.0) {
  std::printf("%-34s %9.3f %9.3f %10.1f %12.0f\n", what, m.wall / per, m.cpu / per,
              m.peak_mib, m.minor_faults / per);
}

// The target every run traces: m/z 73 (siloxane bleed, in every scan of the
// generator's full-scan files) within 0.5, and a fit window in the run.
std::vector<std::string> chain_args(const fs::path& file) {
  return {VX_VXRUN_PATH, "chain", file.string(), "--mz", "73", "--rt", "5",
          "--rt-tol", "0.5"};
}

// n hard links to file in their own folder (the same work per file as n
// copies, without n times the disk space).
fs::path linked_copies(const fs::path& file, int n) {
  const fs::path dir = vx::bench::data_dir() / ("copies_" + std::to_string(n));
  fs::create_directories(dir);
  for (int i = 0; i < n; ++i) {
    const fs::path link = dir / ("copy" + std::to_string(i) + ".mzML");
    std::error_code ec;
    fs::remove(link, ec);
    fs::create_hard_link(file, link, ec);
    if (ec) fs::copy_file(file, link, ec);
  }
  return dir;
}

// The size of the spectra document vxrun writes for file.
double spectra_document_mib(const fs::path& file) {
  const fs::path out = vx::bench::data_dir() / "openms_bench_documents";
  std::vector<std::string> args = chain_args(file);
  args.insert(args.end(), {"--out", out.string()});
  if (run_process(args).wall < 0) return 0.0;
  std::error_code ec;
  const auto bytes = fs::file_size(out / "ingestion_spectra.json", ec);
  fs::remove_all(out, ec);
  return ec ? 0.0 : static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  int copies = 10;
  fs::path file = vx::bench::data_dir() / "fullscan_100mb_s4242.mzML";
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--copies") == 0) copies = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--file") == 0) file = argv[i + 1];
  }
  if (!fs::exists(file) &&
      !vx::bench::run_generator("--mode fullscan --target-mb 100 --seed 4242", file)) {
    return 1;
  }
  const std::string probe = VX_OPENMS_PROBE_PATH;
  if (probe.empty()) {
    std::printf("OpenMS not found when configuring: no probe, vxrun rows only\n");
  }
  const double file_mib = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
  const double document_mib = spectra_document_mib(file);
  const fs::path batch_dir = linked_copies(file, copies);

  std::vector<Usage> chain, peer, batch;
  for (int r = 0; r < runs; ++r) {
    chain.push_back(run_process(chain_args(file)));
    if (!probe.empty()) peer.push_back(run_process({probe, file.string(), "73", "0.5"}));
    std::vector<std::string> args = chain_args(batch_dir);
    args[1] = "batch";
    args.insert(args.end(), {"-j", "1", "-q", "--table",
                             (vx::bench::data_dir() / "openms_bench.tsv").string()});
    batch.push_back(run_process(args));
    for (const auto* set : {&chain, &peer, &batch}) {
      if (!set->empty() && set->back().wall < 0) {
        std::fprintf(stderr, "a run failed (round %d)\n", r + 1);
        return 1;
      }
    }
  }

  std::printf("%s: %.1f MiB, spectra document %.1f MiB; medians of %d interleaved runs\n\n",
              file.filename().c_str(), file_mib, document_mib, runs);
  std::printf("%-34s %9s %9s %10s %12s\n", "process", "wall s", "CPU s", "peak MiB",
              "minor faults");
  const Medians c = medians(chain);
  const Medians b = medians(batch);
  print_row("vxrun chain, 1 target", c);
  if (!peer.empty()) print_row("OpenMS load + trace (probe)", medians(peer));
  print_row(vx::bench::cell("vxrun batch -j 1, per file of %d", copies).c_str(), b,
            copies);

  const double memory_ratio = c.peak_mib / (file_mib + document_mib);
  const double per_file_ratio = b.wall / copies / c.wall;
  std::printf("\nchain peak / (file + document): %.2f\n", memory_ratio);
  std::printf("batch time per file / one chain: %.2f\n", per_file_ratio);
  if (!peer.empty()) {
    const Medians p = medians(peer);
    std::printf("chain / OpenMS: wall %.2f, CPU %.2f, peak memory %.2f\n", c.wall / p.wall,
                c.cpu / p.cpu, c.peak_mib / p.peak_mib);
    vx::bench::summary_row(
        "chain through vxrun vs OpenMS load + trace, 1 target (wall)",
        vx::bench::cell("%.3f s (CPU %.3f s, %.0f MiB)", c.wall, c.cpu, c.peak_mib),
        vx::bench::cell("OpenMS 2.6 %.3f s (CPU %.3f s, %.0f MiB): %.2fx", p.wall, p.cpu,
                        p.peak_mib, c.wall / p.wall),
        "<= 0.5x", vx::bench::verdict(c.wall <= 0.5 * p.wall));
  }
  vx::bench::summary_row("chain peak memory / (file + spectra document)",
                         vx::bench::cell("%.2f", memory_ratio),
                         vx::bench::cell("file %.0f + document %.0f MiB", file_mib,
                                         document_mib),
                         "<= 1.1", vx::bench::verdict(memory_ratio <= 1.1));
  vx::bench::summary_row(
      vx::bench::cell("batch of %d copies -j 1: time per file / one chain", copies),
      vx::bench::cell("%.2f (%.0f faults per file)", per_file_ratio,
                      b.minor_faults / copies),
      vx::bench::cell("one chain %.3f s, %.0f faults", c.wall, c.minor_faults), "<= 1.1",
      vx::bench::verdict(per_file_ratio <= 1.1));
  return 0;
}
