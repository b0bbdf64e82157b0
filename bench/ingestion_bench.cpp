// mzML ingestion throughput and peak memory on a ~100 MB full-scan file and
// its zlib-compressed twin (generated into bench/data/ when missing): MB of
// mzML per second and the peak resident memory of three phases, each run in
// a fresh child process so its peak is its own:
//   read     - the file's bytes into memory, nothing else;
//   base64   - read, then base64-decode every binary element;
//   reader   - read_mzml_file decoding every spectrum, writing nothing;
//   to_chars - the reader, then every value formatted with
//              std::to_chars(general, 17): the baseline the step's own
//              formatter is measured against;
//   step     - GcMsMzmlIngestionStep through the step frame, with a host that
//              takes the documents without copying them.
// Each figure is the median of --runs child processes (default 5). Then every
// value of the file is formatted once more and compared with snprintf's
// "%.17g", byte for byte.
// Usage: ingestion_bench [--runs N] [--phase NAME] [FILE...]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "common/json_writer.hpp"
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
  uint64_t values = 0;        // check phase: values compared ...
  uint64_t differing = 0;     // ... and how many differ from snprintf
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
  } else if (phase == "to_chars" || phase == "check") {
    std::string summary;
    std::size_t bytes = 0;
    const bool check = phase == "check";
    const auto format = [&](const std::vector<double>& values) {
      char buf[64];
      char want[64];
      for (const double v : values) {
        if (!check) {
          bytes += static_cast<std::size_t>(
              std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17).ptr -
              buf);
          continue;
        }
        ++r.values;
        const std::size_t n = vx::common::format_double(v, buf);
        const int m = std::snprintf(want, sizeof want, "%.17g", v);
        if (std::string_view(buf, n) != std::string_view(want, static_cast<std::size_t>(m)))
          ++r.differing;
      }
    };
    r.status = vx::mzml::read_mzml_file(
                   path,
                   [&](vx::mzml::MzmlSpectrum& s, const vx::mzml::SpectrumSpan&) {
                     format(s.mz_array);
                     format(s.intensity_array);
                   },
                   summary)
                   ? 0
                   : 1;
    if (bytes == 0 && r.values == 0) r.status = 2;
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

// The median run of a phase, by wall time; its status is the first failure.
PhaseResult median_run(const std::string& phase, const std::string& file, int runs) {
  std::vector<PhaseResult> all;
  for (int r = 0; r < runs; ++r) {
    all.push_back(in_child(phase, file));
    if (all.back().status != 0) return all.back();
  }
  std::sort(all.begin(), all.end(), [](const PhaseResult& a, const PhaseResult& b) {
    return a.seconds < b.seconds;
  });
  return all[all.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::vector<std::string> phases = {"read", "base64", "reader", "to_chars", "step"};
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
    const fs::path data = vx::bench::data_dir();
    const fs::path plain = data / "fullscan_100mb.mzML";
    const fs::path zlib = data / "fullscan_100mb.zlib.mzML";
    if (!fs::exists(plain) && !generate(plain, false)) return 1;
    if (!fs::exists(zlib) && !generate(zlib, true)) return 1;
    files = {plain.string(), zlib.string()};
  }

  // MB/s from wall time and from the CPU time the phase used: on a shared
  // machine the second is the steadier figure.
  std::printf("%-26s %-8s %8s %8s %8s %8s %9s %s\n", "file", "phase", "wall s", "MB/s",
              "cpu s", "MB/s cpu", "peak MiB", "peak / (file + document)");
  for (const std::string& file : files) {
    const std::string name = fs::path(file).filename().string();
    const bool zlib = name.find("zlib") != std::string::npos;
    const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
    const double file_mib = static_cast<double>(fs::file_size(file)) / (1024.0 * 1024.0);
    std::vector<std::pair<std::string, PhaseResult>> done;
    for (const std::string& phase : phases) {
      const PhaseResult p = median_run(phase, file, runs);
      if (p.status != 0) {
        std::fprintf(stderr, "%s on %s failed (%d)\n", phase.c_str(), file.c_str(),
                     p.status);
        return 1;
      }
      done.emplace_back(phase, p);
      std::printf("%-26s %-8s %8.3f %8.1f %8.3f %8.1f %9.1f", name.c_str(), phase.c_str(),
                  p.seconds, mb / p.seconds, p.cpu_seconds, mb / p.cpu_seconds,
                  p.peak_mib);
      if (phase == "step") {
        std::printf(" %.2f (document %.1f MiB)",
                    p.peak_mib / (file_mib + p.document_mib), p.document_mib);
      }
      std::printf("\n");
    }
    const auto mbps = [&](const char* phase) {
      for (const auto& [n, p] : done) {
        if (n == phase) return mb / p.seconds;
      }
      return 0.0;
    };
    for (const auto& [phase, p] : done) {
      if (phase != "step") continue;
      const double floor = zlib ? 150.0 : 200.0;
      vx::bench::summary_row(
          vx::bench::cell("ingestion, %s (%.0f MB)", name.c_str(), mb),
          vx::bench::cell("%.0f MB/s", mbps("step")),
          vx::bench::cell("read %.0f, reader + to_chars %.0f MB/s", mbps("read"),
                          mbps("to_chars")),
          vx::bench::cell(">= %.0f MB/s", floor),
          vx::bench::verdict(mbps("step") >= floor));
      const double ratio = p.peak_mib / (file_mib + p.document_mib);
      vx::bench::summary_row(
          vx::bench::cell("ingestion peak memory, %s", name.c_str()),
          vx::bench::cell("%.0f MiB = %.2f x (file + document)", p.peak_mib, ratio),
          vx::bench::cell("file %.0f + document %.0f MiB", file_mib, p.document_mib),
          "<= 1.3 x", vx::bench::verdict(ratio <= 1.3));
    }
    if (phases.size() > 1) {
      const PhaseResult c = in_child("check", file);
      std::printf("%-26s every value against snprintf(\"%%.17g\"): %llu values, "
                  "%llu differ\n",
                  name.c_str(), static_cast<unsigned long long>(c.values),
                  static_cast<unsigned long long>(c.differing));
      vx::bench::summary_row(
          vx::bench::cell("%%.17g check, every value of %s", name.c_str()),
          vx::bench::cell("%llu differ", static_cast<unsigned long long>(c.differing)),
          vx::bench::cell("%llu values against snprintf",
                          static_cast<unsigned long long>(c.values)),
          "0 differ", vx::bench::verdict(c.status == 0 && c.differing == 0));
      if (c.status != 0 || c.differing != 0) return 1;
    }
  }
  return 0;
}
