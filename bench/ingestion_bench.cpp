// mzML ingestion throughput and peak memory on a ~100 MB full-scan file and
// its zlib-compressed twin (generated into bench/data/ when missing): MB of
// mzML per second and the peak resident memory of three phases, each run in
// a fresh child process so its peak is its own:
//   read     - the file's bytes into memory, nothing else;
//   base64   - read, then base64-decode every binary element;
//   reader   - read_mzml_file decoding every spectrum, writing nothing;
//   step     - GcMsMzmlIngestionStep through the step frame, with a host that
//              takes the documents without copying them.
// Usage: ingestion_bench [--runs N] [--phase NAME] [FILE...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "mzml/binary_array.hpp"
#include "mzml/ingestion_step.hpp"
#include "mzml/mzml_reader.hpp"
#include "mzml/xml_scan.hpp"
#include "registry/step_frame.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What one phase reports back to the parent.
struct PhaseResult {
  double seconds = 0.0;
  double cpu_seconds = 0.0;  // user + system: what the phase itself used
  double peak_mib = 0.0;
  double document_mib = 0.0;  // the spectra document (step phase)
  int status = -1;
};

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  const auto secs = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

double peak_mib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0)
      return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0.0;
}

// A host that keeps only the length of each output.
struct BenchHost {
  HostContext context{};
  HostApi api{};
  StepValue outputs[3]{};
  uint64_t lengths[3]{};
};

int32_t take_text(HostContext* host, StepValue* output, const char*, uint64_t length) {
  auto* self = reinterpret_cast<BenchHost*>(host);
  self->lengths[output - self->outputs] = length;
  return 0;
}

PhaseResult run_phase(const std::string& phase, const std::string& path) {
  PhaseResult r;
  const double cpu0 = cpu_seconds();
  const auto t0 = Clock::now();
  if (phase == "read") {
    vx::mzml::ByteBuffer buf;
    r.status = vx::mzml::load_mzml_file(path, buf) ? 0 : 1;
  } else if (phase == "base64") {
    vx::mzml::ByteBuffer buf;
    r.status = vx::mzml::load_mzml_file(path, buf) ? 0 : 1;
    const std::string_view doc = buf.view();
    std::vector<std::byte> bytes;
    std::size_t total = 0;
    std::size_t pos = 0;
    for (;;) {
      const std::size_t open = vx::mzml::find_text(doc, "<binary>", pos);
      if (open == std::string_view::npos) break;
      const std::size_t close = vx::mzml::find_text(doc, "</binary>", open);
      if (close == std::string_view::npos) break;
      vx::mzml::decode_base64(doc.substr(open + 8, close - open - 8), bytes);
      total += bytes.size();
      pos = close;
    }
    if (total == 0) r.status = 2;
  } else if (phase == "reader") {
    std::string summary;
    std::size_t values = 0;
    r.status = vx::mzml::read_mzml_file(
                   path,
                   [&values](vx::mzml::MzmlSpectrum& s, const vx::mzml::SpectrumSpan&) {
                     values += s.mz_array.size() + s.intensity_array.size();
                   },
                   summary)
                   ? 0
                   : 1;
    if (values == 0) r.status = 2;
  } else {
    BenchHost host;
    host.api.set_output_text = take_text;
    host.context.api = &host.api;
    const StepValue params[2] = {{VX_KIND_TEXT, path.data(), path.size()},
                                 {VX_KIND_TEXT, "", 0}};
    r.status =
        vx::registry::run_step(vx::mzml::kIngestionShape, vx::mzml::compute_ingestion,
                               &host.context, params, 2, nullptr, 0, host.outputs, 3);
    r.document_mib = static_cast<double>(host.lengths[2]) / (1024.0 * 1024.0);
  }
  r.seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  r.cpu_seconds = cpu_seconds() - cpu0;
  r.peak_mib = peak_mib();
  return r;
}

// Runs a phase in a child process and reads its result through a pipe.
PhaseResult in_child(const std::string& phase, const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const PhaseResult r = run_phase(phase, path);
    const ssize_t n = write(fds[1], &r, sizeof r);
    _exit(n == static_cast<ssize_t>(sizeof r) ? 0 : 1);
  }
  close(fds[1]);
  PhaseResult r;
  if (read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r.status = -1;
  close(fds[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  return r;
}

bool generate(const fs::path& out, bool zlib) {
  const fs::path truth = out.parent_path() / (out.stem().string() + ".truth.json");
  std::string args = "--mode fullscan --target-mb 100 --truth '";
  args += truth.string();
  args += zlib ? "' --compression zlib" : "'";
  return vx::bench::run_generator(args, out);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 3;
  std::vector<std::string> phases = {"read", "base64", "reader", "step"};
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--phase") == 0 && i + 1 < argc) {
      phases = {argv[++i]};
    } else {
      files.emplace_back(argv[i]);
    }
  }
  if (files.empty()) {
    const fs::path data = fs::path(VX_SOURCE_DIR) / "bench" / "data";
    const fs::path plain = data / "fullscan_100mb.mzML";
    const fs::path zlib = data / "fullscan_100mb.zlib.mzML";
    if (!fs::exists(plain) && !generate(plain, false)) return 1;
    if (!fs::exists(zlib) && !generate(zlib, true)) return 1;
    files = {plain.string(), zlib.string()};
  }

  // MB/s from wall time and from the CPU time the phase used: on a shared
  // machine the second is the steadier figure.
  std::printf("%-26s %-7s %8s %8s %8s %8s %9s %s\n", "file", "phase", "wall s", "MB/s",
              "cpu s", "MB/s cpu", "peak MiB", "peak / (file + document)");
  for (const std::string& file : files) {
    const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
    const double file_mib = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
    for (const std::string& phase : phases) {
      PhaseResult best;
      best.seconds = 1e300;
      for (int r = 0; r < runs; ++r) {
        const PhaseResult p = in_child(phase, file);
        if (p.status != 0) {
          std::fprintf(stderr, "%s on %s failed (%d)\n", phase.c_str(), file.c_str(),
                       p.status);
          return 1;
        }
        if (p.seconds < best.seconds) best = p;
      }
      std::printf("%-26s %-7s %8.3f %8.1f %8.3f %8.1f %9.1f",
                  fs::path(file).filename().c_str(), phase.c_str(), best.seconds,
                  mb / best.seconds, best.cpu_seconds, mb / best.cpu_seconds,
                  best.peak_mib);
      if (phase == "step") {
        std::printf(" %.2f (document %.1f MiB)",
                    best.peak_mib / (file_mib + best.document_mib), best.document_mib);
      }
      std::printf("\n");
    }
  }
  return 0;
}
