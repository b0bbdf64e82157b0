// The chain ingestion -> trace on the shared sample files. Every scan of a
// SIM file holds each of its ions, so the trace of an ion has one point per
// scan, at the scan's time, with the intensity the ground truth lists. (The
// namespace-prefixed variant is left out: the byte-level mzML search finds no
// spectrum in it.)
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/json_scanner.hpp"
#include "common/json_writer.hpp"
#include "trace/trace_extract.hpp"
#include "host_session.hpp"
#include "test_support.hpp"

namespace vx::trace {
namespace {

using host::plugin::HostSession;

// The spectra document of an mzML file through the ingestion entry; empty
// (and the test skipped) while the ingestion step still refuses every file.
std::string ingest(const std::filesystem::path& mzml, StepStatus& status) {
  HostSession host;
  const StepValue params[] = {host.text(mzml.string()), host.text("")};
  status = host.run(vx::testing::step_entry("GcMsMzmlIngestionStep"), params, {}, 3);
  return host.take_output_text(2).value_or("");
}

struct Points {
  std::vector<double> times;
  std::vector<double> intensities;
};

Points trace_of(const std::string& spectra, double target, double tolerance) {
  HostSession host;
  const StepValue params[] = {host.text("nominal_tolerance_da"), host.float64(tolerance),
                              host.float64(target)};
  const StepValue in = host.text(spectra);
  EXPECT_EQ(host.run(vx::testing::step_entry("GcMsSimTraceExtractionStep"), params,
                     {&in, 1}, 2),
            VX_STATUS_OK);
  const std::string doc = host.output_text(1).value_or("");
  return {
      common::parse_number_list(
          common::find_member_text(doc, "retention_time").value_or("")),
      common::parse_number_list(common::find_member_text(doc, "intensity").value_or(""))};
}

// traces.csv: index, time in minutes, then one intensity column per ion
// (header I_<m/z>).
struct TruthTable {
  std::vector<double> ions;
  std::vector<double> times;
  std::vector<std::vector<double>> columns;  // one per ion
};

TruthTable read_truth(const std::filesystem::path& csv) {
  TruthTable t;
  std::ifstream in(csv);
  std::string line;
  std::getline(in, line);
  std::stringstream header(line);
  std::string cell;
  while (std::getline(header, cell, ',')) {
    if (cell.rfind("I_", 0) == 0) t.ions.push_back(std::stod(cell.substr(2)));
  }
  t.columns.resize(t.ions.size());
  while (std::getline(in, line)) {
    const auto values = common::parse_number_list(line);
    if (values.size() != 2 + t.ions.size()) continue;
    t.times.push_back(values[1]);
    for (std::size_t i = 0; i < t.ions.size(); ++i) t.columns[i].push_back(values[2 + i]);
  }
  return t;
}

struct ChainCase {
  const char* file;
  const char* truth;           // base name of the traces.csv
  double intensity_rel = 0.0;  // lossy encodings
  double intensity_abs = 0.0;
};

TEST(TraceChain, SimFilesGiveOnePointPerScanAtItsTime) {
  const ChainCase cases[] = {
      {"sim_tiny.mzML", "sim_tiny"},
      {"sim_basic.mzML", "sim_basic"},
      {"sim_tiny.seconds.mzML", "sim_tiny"},
      {"sim_tiny.compact.mzML", "sim_tiny"},
      {"sim_tiny.chromatograms.mzML", "sim_tiny"},
      {"sim_tiny.paramgroups.mzML", "sim_tiny"},
      {"sim_tiny.noarraylength.mzML", "sim_tiny"},
      {"sim_tiny.msconvert.mzML", "sim_tiny"},
      {"sim_tiny.zlib.mzML", "sim_tiny"},
      {"sim_tiny.mzML.gz", "sim_tiny"},
      {"sim_tiny.openms.mzML", "sim_tiny"},
      {"sim_tiny.numpress_pic.mzML", "sim_tiny", 0.0, 0.5},
      {"sim_tiny.numpress_slof.mzML", "sim_tiny", 2e-4},
      {"sim_tiny.numpress_zlib.mzML", "sim_tiny", 2e-4},
      {"sim_tiny.openms_lossy.mzML", "sim_tiny", 2e-4},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.file);
    const auto mzml = vx::testing::shared_file(std::string("data/mzml/") + c.file);
    const auto csv =
        vx::testing::shared_file(std::string("data/mzml/") + c.truth + ".traces.csv");
    if (mzml.empty() || csv.empty()) GTEST_SKIP() << "shared sample files are absent";
    StepStatus status = 0;
    const std::string spectra = ingest(mzml, status);
    if (status == VX_STATUS_INVALID_INPUT)
      GTEST_SKIP() << "the ingestion step refuses files";
    ASSERT_EQ(status, VX_STATUS_OK);
    ASSERT_EQ(spectra.rfind("{\"spectra\":[", 0), 0u) << spectra.substr(0, 80);
    const TruthTable truth = read_truth(csv);
    ASSERT_FALSE(truth.times.empty());
    for (std::size_t ion = 0; ion < truth.ions.size(); ++ion) {
      SCOPED_TRACE(truth.ions[ion]);
      const Points got = trace_of(spectra, truth.ions[ion], 0.3);
      ASSERT_EQ(got.times.size(), truth.times.size());
      for (std::size_t i = 0; i < got.times.size(); ++i) {
        // Files keep times to about ten digits, in minutes or seconds.
        EXPECT_NEAR(got.times[i], truth.times[i], 1e-8);
        const double want = truth.columns[ion][i];
        EXPECT_NEAR(got.intensities[i], want, c.intensity_abs + c.intensity_rel * want);
      }
    }
  }
}

TEST(TraceChain, PublicFilesGiveTracesWithinTheirRun) {
  // Real files without per-scan truth: the base peak ions of their alkanes
  // and of the Orbitrap run give traces inside the run's time range.
  struct Case {
    const char* file;
    double mz;
    double first;
    double last;
  };
  const Case cases[] = {
      {"public/FKB-FA-060-RI.cut_8.45-9.20min.mzML", 57.05, 8.45, 9.20},
      {"public/29_qc_no_dil_milliq_subset.mzML", 126.015, 4.82, 4.92},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto mzml = vx::testing::shared_file(std::string("data/mzml/") + c.file);
    if (mzml.empty()) continue;
    StepStatus status = 0;
    const std::string spectra = ingest(mzml, status);
    if (status == VX_STATUS_INVALID_INPUT)
      GTEST_SKIP() << "the ingestion step refuses files";
    ASSERT_EQ(status, VX_STATUS_OK);
    const Points got = trace_of(spectra, c.mz, 0.5);
    EXPECT_FALSE(got.times.empty());
    for (const double t : got.times) {
      EXPECT_GE(t, c.first - 0.01);
      EXPECT_LE(t, c.last + 0.01);
    }
  }
}

// Every shared sample file (the public ones too, when present): the fast
// trace reader must give the bits of the exact walk for every nominal mass
// in the files' range and for every distinct ion of the first spectra in
// exact-match mode; and every number the document holds must be the text
// snprintf("%.17g") writes for it.
TEST(TraceChain, FastAndExactPathsAgreeOnEverySampleFile) {
  const auto folder = vx::testing::shared_file("data/mzml");
  if (folder.empty()) GTEST_SKIP() << "shared sample files are absent";
  std::vector<std::filesystem::path> files;
  for (const auto& dir : {folder, folder / "public"}) {
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      const std::string name = e.path().filename().string();
      if (name.ends_with(".mzML") || name.ends_with(".mzML.gz")) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 20u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    StepStatus status = 0;
    const std::string spectra = ingest(file, status);
    ASSERT_EQ(status, VX_STATUS_OK);

    std::vector<TraceQuery> queries;
    // Nominal windows across the mass range, edges between two masses too.
    for (int mz = 31; mz <= 650; mz += 62) {
      queries.push_back({double(mz), 0.5, false});
      queries.push_back({mz + 0.5, 0.3, false});
    }
    std::set<double> ions;
    for (std::size_t at = 0; ions.size() < 8;) {
      const std::size_t list = spectra.find("\"mz_array\":", at);
      if (list == std::string::npos) break;
      const std::size_t end = spectra.find(']', list);
      for (const double mz : common::parse_number_list(
               std::string_view(spectra).substr(list + 11, end - list - 10)))
        ions.insert(mz);
      at = end;
    }
    for (const double mz : ions) queries.push_back({mz, 0.0, true});
    for (const TraceQuery& q : queries) {
      Trace fast_trace, exact_trace;
      extract_trace(spectra, q, fast_trace);
      extract_trace_exact(spectra, q, exact_trace);
      ASSERT_TRUE(vx::testing::same_bytes(
          common::format_number_array(fast_trace.retention_time) +
              common::format_number_array(fast_trace.intensity),
          common::format_number_array(exact_trace.retention_time) +
              common::format_number_array(exact_trace.intensity)))
          << "target " << q.target_mz << (q.exact_match ? " exact" : " nominal");
    }

    // Numbers start after '[', ',' or ':' and end at ',', ']' or '}'.
    std::size_t numbers = 0;
    for (std::size_t i = 0; i < spectra.size(); ++i) {
      const char c = spectra[i];
      if (c != '[' && c != ',' && c != ':') continue;
      const std::size_t begin = i + 1;
      std::size_t end = begin;
      while (end < spectra.size() && spectra[end] != ',' && spectra[end] != ']' &&
             spectra[end] != '}')
        ++end;
      const std::string_view text(spectra.data() + begin, end - begin);
      if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) continue;
      double v = 0.0;
      ASSERT_EQ(std::from_chars(text.data(), text.data() + text.size(), v).ptr,
                text.data() + text.size())
          << text;
      char want[64];
      const int n = std::snprintf(want, sizeof want, "%.17g", v);
      ASSERT_EQ(text, std::string_view(want, static_cast<std::size_t>(n)));
      ++numbers;
    }
    if (spectra != "{\"spectra\":[]}") {
      EXPECT_GT(numbers, 0u);
    }
  }
}

}  // namespace
}  // namespace vx::trace
