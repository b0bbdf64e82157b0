// Selected-ion trace throughput on the spectra document of a ~100 MB
// full-scan mzML file: MB of JSON per second for the step through its entry
// (input copy included), for the extraction alone (fast and exact paths), and
// for plain strtod and std::from_chars loops over the same numbers.
// The document is bench/data/fullscan_100mb.json; when missing it is made by
// the ingestion step from bench/data/fullscan_100mb.mzML (generated when
// missing), or, if ingestion refuses the file, written from random spectra
// in the same layout.
// Usage: trace_bench [--runs N] [--target MZ] [--tolerance DA]
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "common/json_writer.hpp"
#include "host_session.hpp"
#include "trace/trace_extract.hpp"
#include "vx_steps.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

StepEntry entry_named(const char* name) {
  const char* const* iris = nullptr;
  const int32_t n = vx_list_steps(&iris);
  for (int32_t i = 0; i < n; ++i) {
    const std::string iri = iris[i];
    if (iri.size() > std::strlen(name) &&
        iri.compare(iri.size() - std::strlen(name), std::string::npos, name) == 0) {
      StepDescriptor d{};
      if (vx_resolve_step(iris[i], &d) == 0) return d.entry;
    }
  }
  return nullptr;
}

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::string s;
  in.seekg(0, std::ios::end);
  s.resize(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  return s;
}

void write_all(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// ~176 MB of spectra like a full scan: 11 671 spectra of 424 centroids.
std::string random_document() {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> jitter(-0.3, 0.3);
  std::lognormal_distribution<double> inten(7.0, 1.5);
  vx::common::JsonWriter w;
  w.raw("{\"spectra\":[");
  std::vector<double> mz;
  std::vector<double> in;
  for (int s = 0; s < 11671; ++s) {
    mz.clear();
    in.clear();
    for (int k = 0; k < 424; ++k) {
      mz.push_back(35.0 + k * 1.2 + jitter(rng));
      in.push_back(static_cast<float>(inten(rng)));
    }
    if (s != 0) w.raw(",");
    w.raw("{\"index\":")
        .integer(s)
        .raw(",\"scan_start_time\":")
        .number(1.0 + s * 0.2 / 60);
    w.raw(R"(,"scan_start_time_unit":"minute","ms_level":1,)");
    w.raw(R"("spectrum_type":"centroid spectrum","mz_array":)").number_array(mz);
    w.raw(",\"intensity_array\":").number_array(in);
    w.raw(R"(,"mz_array_dtype":"float64","intensity_array_dtype":"float32",)");
    w.raw(R"("array_compression":"none"})");
  }
  w.raw("]}");
  return w.take();
}

std::string spectra_document(const fs::path& data) {
  const fs::path json = data / "fullscan_100mb.json";
  if (fs::exists(json)) return read_all(json);
  fs::create_directories(data);
  const fs::path mzml = data / "fullscan_100mb.mzML";
  if (!fs::exists(mzml) &&
      !vx::bench::run_generator("--mode fullscan --target-mb 100", mzml)) {
    std::printf("generator failed\n");
  }
  std::string doc;
  if (fs::exists(mzml)) {
    vx::host::plugin::HostSession host;
    const StepValue params[] = {host.text(mzml.string()), host.text("")};
    const StepStatus status =
        host.run(entry_named("/GcMsMzmlIngestionStep"), params, {}, 3);
    doc = host.take_output_text(2).value_or("");
    if (status != VX_STATUS_OK || doc.rfind("{\"spectra\":[{", 0) != 0) doc.clear();
  }
  if (doc.empty()) {
    std::printf("ingestion gave no spectra: writing random spectra instead\n");
    doc = random_document();
  }
  write_all(json, doc);
  return doc;
}

// Seconds of this thread's CPU time (page faults included, waiting for a
// busy machine's other processes excluded) and of wall time.
struct Timing {
  double cpu = 0.0;
  double wall = 0.0;
};

double thread_cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Medians over runs.
template <typename F>
Timing median_seconds(int runs, F&& f) {
  std::vector<double> cpu;
  std::vector<double> wall;
  for (int i = 0; i < runs; ++i) {
    const double c0 = thread_cpu_seconds();
    const auto t0 = Clock::now();
    f();
    wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    cpu.push_back(thread_cpu_seconds() - c0);
  }
  return {vx::bench::median(cpu), vx::bench::median(wall)};
}

// Offsets of every element of every number list (after '[' or ',').
std::vector<std::size_t> number_offsets(const std::string& doc) {
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i + 1 < doc.size(); ++i) {
    const char c = doc[i + 1];
    if ((doc[i] == '[' || doc[i] == ',') && (c == '-' || (c >= '0' && c <= '9'))) {
      // Only inside arrays: the index and ms_level members follow a colon.
      at.push_back(i + 1);
    }
  }
  return at;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  vx::trace::TraceQuery query{73.0, 0.5, false};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--target") == 0)
      query.target_mz = std::strtod(argv[i + 1], nullptr);
    if (std::strcmp(argv[i], "--tolerance") == 0)
      query.tolerance = std::strtod(argv[i + 1], nullptr);
  }
  const std::string doc = spectra_document(fs::path(VX_SOURCE_DIR) / "bench" / "data");
  const double mb = static_cast<double>(doc.size()) / 1e6;
  const std::vector<std::size_t> offsets = number_offsets(doc);
  std::printf(
      "spectra document: %.1f MB, %zu numbers; target %g, tolerance %g, %d runs\n\n", mb,
      offsets.size(), query.target_mz, query.tolerance, runs);

  const StepEntry trace = entry_named("/GcMsSimTraceExtractionStep");
  vx::host::plugin::HostSession host;
  char tol_text[32];
  char target_text[32];
  std::snprintf(tol_text, sizeof tol_text, "%.17g", query.tolerance);
  std::snprintf(target_text, sizeof target_text, "%.17g", query.target_mz);
  const StepValue params[] = {host.text("nominal_tolerance_da"), host.text(tol_text),
                              host.text(target_text)};
  const StepValue exact_params[] = {host.text("exact_match"), host.text(tol_text),
                                    host.text(target_text)};
  const StepValue input{VX_KIND_TEXT, doc.data(), uint64_t{doc.size()}};
  std::size_t points = 0;
  std::size_t sink = 0;
  double acc = 0.0;

  struct Row {
    const char* name;
    Timing t;
  };
  std::vector<Row> rows;
  rows.push_back({"copy of the document (memcpy)", median_seconds(runs, [&] {
                    std::string copy(doc);
                    sink += static_cast<unsigned char>(copy[copy.size() / 2]);
                  })});
  rows.push_back({"trace step, tolerance (entry)", median_seconds(runs, [&] {
                    (void)host.run(trace, params, {&input, 1}, 2);
                    sink += host.calls().size();
                  })});
  rows.push_back({"trace step, exact_match (entry)", median_seconds(runs, [&] {
                    (void)host.run(trace, exact_params, {&input, 1}, 2);
                    sink += host.calls().size();
                  })});
  rows.push_back({"extract_trace (fast path)", median_seconds(runs, [&] {
                    vx::trace::Trace t;
                    vx::trace::extract_trace(doc, query, t);
                    points = t.intensity.size();
                  })});
  std::size_t exact_points = 0;
  rows.push_back(
      {"extract_trace_exact (byte walk)", median_seconds(std::min(runs, 3), [&] {
         vx::trace::Trace t;
         vx::trace::extract_trace_exact(doc, query, t);
         exact_points = t.intensity.size();
       })});
  rows.push_back({"strtod over every number", median_seconds(std::min(runs, 3), [&] {
                    for (const std::size_t o : offsets)
                      acc += std::strtod(doc.c_str() + o, nullptr);
                  })});
  rows.push_back({"std::from_chars over every number", median_seconds(runs, [&] {
                    const char* const end = doc.data() + doc.size();
                    for (const std::size_t o : offsets) {
                      double v = 0.0;
                      (void)std::from_chars(doc.data() + o, end, v);
                      acc += v;
                    }
                  })});

  std::printf("%-36s %9s %9s %9s %9s\n", "what", "cpu ms", "cpu MB/s", "wall ms",
              "wall MB/s");
  for (const Row& r : rows) {
    std::printf("%-36s %9.1f %9.0f %9.1f %9.0f\n", r.name, r.t.cpu * 1e3, mb / r.t.cpu,
                r.t.wall * 1e3, mb / r.t.wall);
  }
  std::printf("\ntrace points: %zu (exact path: %zu)\n", points, exact_points);
  // rows: 0 copy, 1 step (tolerance), 2 step (exact), 5 strtod, 6 from_chars.
  const auto mbps = [&](std::size_t i) { return mb / rows[i].t.wall; };
  for (const std::size_t i : {std::size_t{1}, std::size_t{2}}) {
    vx::bench::summary_row(
        vx::bench::cell("trace, %s, %.0f MB document",
                        i == 1 ? "tolerance window" : "exact match", mb),
        vx::bench::cell("%.0f MB/s", mbps(i)),
        vx::bench::cell("from_chars %.0f, strtod %.0f, memcpy %.0f MB/s", mbps(6),
                        mbps(5), mbps(0)),
        ">= 1000 MB/s", vx::bench::verdict(mbps(i) >= 1000.0));
  }
  if (points != exact_points)
    std::printf("MISMATCH between the fast and the exact path\n");
  return (sink == 0 && acc == 0.0) || points != exact_points ? 1 : 0;
}
