// End-to-end: the built vxrun program, run as a separate process on real
// and generated mzML files, loading the built library. Tests that need the
// trace and fit steps skip while a step still refuses valid calls with the
// placeholder status 2.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host_session.hpp"
#include "json_lite.hpp"
#include "results_table.hpp"
#include "sim_mzml_writer.hpp"
#include "svg_writer.hpp"
#include "test_support.hpp"

extern char** environ;

namespace vx::host::cli {

using base::JsonParse;
using base::JsonValue;
using base::parse_json;
using plugin::HostSession;
using tables::TableRead;
using tables::read_jsonl_table;
using tables::read_tsv_table;
using tables::table_jsonl;
using tables::table_tsv;
using figures::text_width;

namespace {

namespace fs = std::filesystem;
using vx::testing::read_file;
using vx::testing::shared_file;

using TempDir = vx::testing::ScratchDir;

struct ProcessRun {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs vxrun with args (no shell involved); env entries "K=V" are added to
// (or replace) the inherited environment.
ProcessRun vxrun(const std::vector<std::string>& args,
                 const std::vector<std::string>& env = {}) {
  TempDir io;
  const std::string out_path = io / "out";
  const std::string err_path = io / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> argv_text{VXRUN_PATH};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_text.size() + 1);
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& v) {
      return entry.substr(0, entry.find('=') + 1) == v.substr(0, v.find('=') + 1);
    });
    if (!replaced) env_text.push_back(entry);
  }
  env_text.insert(env_text.end(), env.begin(), env.end());
  std::vector<char*> envp;
  envp.reserve(env_text.size() + 1);
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  ProcessRun r;
  if (posix_spawn(&pid, VXRUN_PATH, &actions, nullptr, argv.data(), envp.data()) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  r.out = read_file(out_path);
  r.err = read_file(err_path);
  return r;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream ss(line);
  for (std::string c; std::getline(ss, c, '\t');) cells.push_back(c);
  if (!line.empty() && line.back() == '\t') cells.emplace_back();
  return cells;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The rows of a JSON Lines table, keyed by "file|target".
std::map<std::string, JsonValue> rows_of(const std::string& jsonl) {
  std::map<std::string, JsonValue> rows;
  for (const std::string& l : lines_of(jsonl)) {
    JsonParse p = parse_json(l);
    EXPECT_TRUE(p.value) << l;
    if (!p.value) continue;
    const std::string key = p.value->text_at("file").value_or("") + "|" +
                            p.value->text_at("target").value_or("");
    rows.emplace(key, std::move(*p.value));
  }
  return rows;
}

// Skips the calling test while a chain step is still a placeholder: a valid
// call of each step on a small file must not answer status 2.
bool chain_steps_ready(std::string* which) {
  HostSession ingest;
  const StepValue ip[] = {ingest.text(vx::testing::test_data("sim_tiny.mzML").string()),
                          ingest.text("")};
  if (ingest.run(vx::testing::step_entry("GcMsMzmlIngestionStep"), ip, {}, 3) == 2) {
    *which = "GcMsMzmlIngestionStep";
    return false;
  }
  const std::string spectra = ingest.output_text(2).value_or("");
  HostSession trace;
  const StepValue tp[] = {trace.text("nominal_tolerance_da"), trace.float64(0.5),
                          trace.float64(73)};
  const StepValue ti[] = {trace.text(spectra)};
  if (trace.run(vx::testing::step_entry("GcMsSimTraceExtractionStep"), tp, ti, 2) == 2) {
    *which = "GcMsSimTraceExtractionStep";
    return false;
  }
  const std::string trace_doc = trace.output_text(1).value_or("");
  HostSession fit;
  const StepValue fp[] = {fit.float64(100), fit.float64(0.1), fit.float64(2.12)};
  const StepValue fi[] = {fit.text(trace_doc)};
  if (fit.run(vx::testing::step_entry("GcMsTargetedGaussianFitStep"), fp, fi, 2) == 2) {
    *which = "GcMsTargetedGaussianFitStep";
    return false;
  }
  return true;
}

#define REQUIRE_CHAIN_STEPS()                                                      \
  do {                                                                             \
    std::string which;                                                             \
    if (!chain_steps_ready(&which)) {                                              \
      GTEST_SKIP() << which                                                        \
                   << " still answers a valid call with the placeholder status 2"; \
    }                                                                              \
  } while (false)

TEST(Vxrun, HelpForEveryCommandAndDocumentedExitCodes) {
  const ProcessRun overview = vxrun({"--help"});
  EXPECT_EQ(overview.code, 0);
  for (const char* code :
       {"  0 ", "  1 ", "  64 ", "  65 ", "  66 ", "  69 ", "  70 ", "  73 "}) {
    EXPECT_NE(overview.out.find(code), std::string::npos) << code;
  }
  for (const char* command : {"chain", "batch", "list", "run"}) {
    SCOPED_TRACE(command);
    const ProcessRun a = vxrun({command, "--help"});
    const ProcessRun b = vxrun({"help", command});
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out.find(std::string("usage: vxrun ") + command), std::string::npos);
  }
  const ProcessRun none = vxrun({});
  EXPECT_EQ(none.code, 64);
  EXPECT_NE(none.err.find("usage:"), std::string::npos);
  EXPECT_EQ(vxrun({"chain", "x.mzML", "--mz", "73"}).code, 64);
}

TEST(Vxrun, VersionNamesHostLibraryAndSteps) {
  const ProcessRun r = vxrun({"--version"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("vxrun "), std::string::npos);
  EXPECT_NE(r.out.find("contract set "), std::string::npos);
  for (const char* step :
       {"OperationStepDemo", "ReadMassSpecFiles", "GcMsMzmlIngestionStep",
        "GcMsSimTraceExtractionStep", "GcMsTargetedGaussianFitStep"}) {
    EXPECT_NE(r.out.find(std::string("/vx#generated/vx/velloran/") + step),
              std::string::npos);
  }
}

TEST(Vxrun, LibraryFromOptionThenEnvironment) {
  // A wrong environment path fails; the option overrides it.
  const ProcessRun bad = vxrun({"list"}, {"VX_STEPS_LIBRARY=/nonexistent/vx.so"});
  EXPECT_EQ(bad.code, 69);
  EXPECT_NE(bad.err.find("/nonexistent/vx.so"), std::string::npos);
  const ProcessRun good = vxrun({"--library", VX_PLUGIN_PATH, "list"},
                                {"VX_STEPS_LIBRARY=/nonexistent/vx.so"});
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_EQ(lines_of(good.out).size(), 5u);
  EXPECT_EQ(vxrun({"--library", "/nonexistent/vx.so", "chain", "a.mzML", "--mz", "73",
                   "--rt", "1"})
                .code,
            69);
  // With neither, the library beside the program is used.
  EXPECT_EQ(vxrun({"list"}, {"VX_STEPS_LIBRARY="}).code, 0);
}

TEST(Vxrun, RunCallsOneStep) {
  const ProcessRun r = vxrun({"run", "OperationStepDemo", "-p", "subtraction", "-n", "10",
                              "-n", "4", "-o", "1"});
  // The demo step reads its numbers from the inputs; parameters only give the
  // operation, so the exit code is the step's status, whatever it is.
  EXPECT_NE(r.code, 64) << r.err;
  EXPECT_EQ(vxrun({"run", "NoSuchStep"}).code, 64);
  EXPECT_EQ(vxrun({"run", "OperationStepDemo", "-n", "abc"}).code, 64);
}

// run writes each output as the step hands it over: in call order on stdout,
// one file per slot with -d, numbers as well as documents; a folder that
// cannot take the files is exit code 73.
TEST(Vxrun, RunWritesEachOutputAsItArrives) {
  const std::string tiny = vx::testing::test_data("sim_tiny.mzML").string();
  const ProcessRun sum =
      vxrun({"run", "OperationStepDemo", "-p", "sum", "-I", "1", "-I", "2", "-o", "1"});
  EXPECT_EQ(sum.code, 0) << sum.err;
  EXPECT_EQ(sum.out, "output 0: 3\n");

  const ProcessRun shown = vxrun({"run", "GcMsMzmlIngestionStep", "-p", tiny, "-p", ""});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const std::vector<std::string> lines = lines_of(shown.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0].starts_with("output 2: {\"spectra\":[{"));
  EXPECT_EQ(lines[1], "output 0: {\"chromatograms\":[]}");
  EXPECT_TRUE(lines[2].starts_with("output 1: {"));

  TempDir dir;
  const ProcessRun written = vxrun(
      {"run", "GcMsMzmlIngestionStep", "-p", tiny, "-p", "", "-d", dir.path.string()});
  ASSERT_EQ(written.code, 0) << written.err;
  EXPECT_EQ("output 2: " + read_file(dir.path / "output_2.json"), lines[0]);
  EXPECT_EQ("output 1: " + read_file(dir.path / "output_1.json"), lines[2]);

  std::ofstream(dir.path / "plain_file").flush();
  EXPECT_EQ(vxrun({"run", "GcMsMzmlIngestionStep", "-p", tiny, "-p", "", "-d",
                   (dir.path / "plain_file" / "sub").string()})
                .code,
            73);
}

// Missing, empty, directory, malformed and spectrum-less files each get their
// row and the documented exit code; the batch goes on past them.
TEST(Vxrun, FailingFilesGetTheirRowsAndExitCodeOne) {
  TempDir dir;
  const fs::path in = dir.path / "in";
  fs::create_directories(in / "folder.mzML");
  std::ofstream(in / "empty.mzML").flush();
  std::string tiny = read_file(vx::testing::test_data("sim_tiny.mzML"));
  std::ofstream(in / "good.mzML", std::ios::binary) << tiny;
  std::string malformed = tiny;
  malformed.replace(malformed.find("index=\"0\""), 9, "index=\"x\"");
  std::ofstream(in / "malformed.mzML", std::ios::binary) << malformed;
  std::ofstream(in / "words.mzML") << "this is not mzML at all\n";
  std::ofstream(dir / "t.tsv")
      << "name\tmz\trt\trt_tol\nTMS\t73\t2.12\t0.06\nP147\t147\t2.12\t0.06\n";

  const ProcessRun r =
      vxrun({"batch", in.string(), dir / "missing.mzML", "--targets", dir / "t.tsv",
             "--jsonl", dir / "rows.jsonl", "--table", dir / "rows.tsv", "-j", "2"});
  EXPECT_EQ(r.code, 1) << r.err;
  const auto rows = rows_of(read_file(dir / "rows.jsonl"));
  EXPECT_EQ(rows.size(), 12u);  // 6 files x 2 targets
  EXPECT_EQ(lines_of(read_file(dir / "rows.tsv")).size(), 13u);
  const std::map<std::string, std::string> want{
      {dir / "missing.mzML", "file_not_found"},
      {(in / "empty.mzML").string(), "empty_file"},  // named apart from undecodable
      {(in / "folder.mzML").string(), "unsupported_encoding"},
      {(in / "malformed.mzML").string(), "malformed_number"},
      {(in / "words.mzML").string(), "no_spectra"},
  };
  for (const auto& [file, status] : want) {
    for (const char* target : {"TMS", "P147"}) {
      SCOPED_TRACE(file + " " + target);
      const auto it = rows.find(file + "|" + target);
      ASSERT_NE(it, rows.end());
      EXPECT_EQ(it->second.text_at("status"), status);
      EXPECT_NE(it->second.text_at("message").value_or(""), "");
    }
  }
  std::string which;
  if (chain_steps_ready(&which)) {
    const auto good = rows.find((in / "good.mzML").string() + "|TMS");
    ASSERT_NE(good, rows.end());
    EXPECT_EQ(good->second.text_at("status"), "ok");
    EXPECT_EQ(good->second.text_at("fit_status"), "success");
  }
}

TEST(Vxrun, ChainOnAMissingFileReportsAndExitsOne) {
  const ProcessRun r =
      vxrun({"chain", "/nonexistent/run.mzML", "--mz", "73", "--rt", "5.2"});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("file_not_found"), std::string::npos) << r.out;
}

TEST(Vxrun, TargetsTableProblemsHaveTheirOwnCodes) {
  TempDir dir;
  std::ofstream(dir / "bad.csv") << "name,mz,rt\nA,73\n";
  const ProcessRun bad = vxrun({"batch", "x.mzML", "--targets", dir / "bad.csv"});
  EXPECT_EQ(bad.code, 65);
  EXPECT_NE(bad.err.find("bad.csv:2: mz and rt (or ri) are required"), std::string::npos)
      << bad.err;
  EXPECT_EQ(vxrun({"batch", "x.mzML", "--targets", dir / "absent.csv"}).code, 66);
}

// A ground-truth peak, with the reference fit made by an independent reader
// and fitter on the same points (m/z window +-0.3, fit window +-4 sigma).
struct Expected {
  std::string file;
  std::string label;
  double mz, lo, hi;
  double center, height, sigma, area;                  // truth
  double sd_center, sd_height, sd_sigma;               // reference fit's standard errors
  double ref_center, ref_height, ref_sigma, ref_area;  // reference fit
};

std::vector<Expected> expected_peaks(const std::string& base) {
  std::vector<Expected> out;
  const fs::path ref = shared_file("data/mzml/" + base + ".reffit.json");
  if (ref.empty()) return out;
  const JsonParse p = parse_json(read_file(ref));
  EXPECT_TRUE(p.value) << p.error;
  if (!p.value) return out;
  for (const JsonValue& peak : p.value->find("peaks")->items) {
    const JsonValue* fit = peak.find("fit");
    const JsonValue* truth = peak.find("truth");
    const JsonValue* sd = fit->find("stderr");
    const auto window = fit->numbers_at("window_min");
    out.push_back({base, peak.text_at("label").value_or("?"), *peak.number_at("mz"),
                   window.at(0), window.at(1), *truth->number_at("center_min"),
                   *truth->number_at("height"), *truth->number_at("sigma_min"),
                   *truth->number_at("area_counts_x_min"), *sd->number_at("center_min"),
                   *sd->number_at("height"), *sd->number_at("sigma_min"),
                   *fit->number_at("center_min"), *fit->number_at("height"),
                   *fit->number_at("sigma_min"), *fit->number_at("area_counts_x_min")});
  }
  return out;
}

// Fits on the sample files. Tolerances, from the noise of each file: the
// reference fit's standard errors (sd) say how far a least-squares fit of
// these noisy points may land from the truth. We allow
//   center, height, width: |fit - truth| <= 6 sd (noise), and within 1 sd of
//                          the reference fit (same points, same model);
//   area: relative error <= 6 * sqrt((sd_h/h)^2 + (sd_sigma/sigma)^2), and
//         within 1% of the reference fit's area.
TEST(Vxrun, FitsOnTheSampleFilesAgreeWithTruth) {
  REQUIRE_CHAIN_STEPS();
  // Every variant holds the data of its base file and uses its truth; the
  // lossy codecs change values far less than the noise does.
  const std::map<std::string, std::vector<std::string>> variants{
      {"sim_basic", {"sim_basic.mzML"}},
      {"sim_tiny",
       {"sim_tiny.mzML", "sim_tiny.msconvert.mzML", "sim_tiny.zlib.mzML",
        "sim_tiny.mzML.gz", "sim_tiny.numpress_pic.mzML", "sim_tiny.numpress_slof.mzML",
        "sim_tiny.numpress_zlib.mzML", "sim_tiny.openms.mzML",
        "sim_tiny.openms_lossy.mzML", "sim_tiny.seconds.mzML",
        "sim_tiny.chromatograms.mzML", "sim_tiny.paramgroups.mzML",
        "sim_tiny.compact.mzML", "sim_tiny.noarraylength.mzML"}},
      {"fullscan_basic", {"fullscan_basic.mzML"}},
      {"fullscan_tiny",
       {"fullscan_tiny.mzML", "fullscan_tiny.msconvert.mzML", "fullscan_tiny.zlib.mzML",
        "fullscan_tiny.mz32.mzML", "fullscan_tiny.mzML.gz",
        "fullscan_tiny.numpress_linear.mzML", "fullscan_tiny.numpress_pic.mzML",
        "fullscan_tiny.numpress_slof.mzML", "fullscan_tiny.numpress_zlib.mzML",
        "fullscan_tiny.openms.mzML", "fullscan_tiny.openms_lossy.mzML"}},
      {"fullscan_profile_tiny", {"fullscan_profile_tiny.mzML"}},
  };
  TempDir dir;
  std::size_t checked = 0;
  for (const auto& [base, files] : variants) {
    const std::vector<Expected> peaks = expected_peaks(base);
    if (peaks.empty()) GTEST_SKIP() << "the shared sample folder is not available";
    std::ofstream targets(dir / (base + ".tsv"));
    targets << "name\tmz\trt\tmz_tol\trt_tol\n";
    for (const Expected& e : peaks) {
      char line[256];
      std::snprintf(line, sizeof line, "%s\t%.17g\t%.17g\t0.3\t%.17g\n", e.label.c_str(),
                    e.mz, (e.lo + e.hi) / 2, (e.hi - e.lo) / 2);
      targets << line;
    }
    targets.close();
    std::vector<std::string> args{"batch",
                                  "--targets",
                                  dir / (base + ".tsv"),
                                  "--jsonl",
                                  dir / (base + ".jsonl"),
                                  "--table",
                                  dir / (base + ".tsv.out"),
                                  "-j",
                                  "2",
                                  "-q"};
    for (const std::string& f : files)
      args.push_back(shared_file("data/mzml/" + f).string());
    const ProcessRun r = vxrun(args);
    EXPECT_EQ(r.code, 0) << base << "\n" << r.err;
    const auto rows = rows_of(read_file(dir / (base + ".jsonl")));
    EXPECT_EQ(rows.size(), files.size() * peaks.size()) << base;
    for (const std::string& f : files) {
      for (const Expected& e : peaks) {
        SCOPED_TRACE(f + " " + e.label);
        const auto it = rows.find(shared_file("data/mzml/" + f).string() + "|" + e.label);
        ASSERT_NE(it, rows.end());
        const JsonValue& row = it->second;
        ASSERT_EQ(row.text_at("status"), "ok") << row.text_at("message").value_or("");
        ASSERT_EQ(row.text_at("fit_status"), "success");
        const double center = *row.number_at("retention_time");
        const double height = *row.number_at("height");
        const double sigma = *row.number_at("width");
        const double area = *row.number_at("area");
        EXPECT_LE(std::abs(center - e.center), 6 * e.sd_center);
        EXPECT_LE(std::abs(height - e.height), 6 * e.sd_height);
        EXPECT_LE(std::abs(sigma - e.sigma), 6 * e.sd_sigma);
        const double area_rel_sd =
            std::hypot(e.sd_height / e.height, e.sd_sigma / e.sigma);
        EXPECT_LE(std::abs(area / e.area - 1), 6 * area_rel_sd);
        EXPECT_LE(std::abs(center - e.ref_center), e.sd_center);
        EXPECT_LE(std::abs(height - e.ref_height), e.sd_height);
        EXPECT_LE(std::abs(sigma - e.ref_sigma), e.sd_sigma);
        EXPECT_LE(std::abs(area / e.ref_area - 1), 0.01);
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100u);
}

// Many targets go through compact documents and rows read from the end of
// each trace; one target at a time (with plots) through the whole document
// and a full read: the rows must be the same bytes.
TEST(Vxrun, ManyTargetsGiveTheRowsOfOneTargetAtATime) {
  REQUIRE_CHAIN_STEPS();
  const std::vector<Expected> peaks = expected_peaks("fullscan_basic");
  if (peaks.empty()) GTEST_SKIP() << "the shared sample folder is not available";
  const std::string file = shared_file("data/mzml/fullscan_basic.mzML").string();
  TempDir dir;
  const auto table_of = [&](std::size_t first, std::size_t count, std::string_view name) {
    std::ofstream targets(dir / std::string(name));
    targets << "name\tmz\trt\tmz_tol\trt_tol\texact\n";
    for (std::size_t i = first; i < first + count; ++i) {
      const Expected& e = peaks[i % peaks.size()];
      char line[256];
      // Every third target in exact mode, with its m/z a little off in some.
      std::snprintf(line, sizeof line, "t%zu\t%.17g\t%.17g\t%s\t%.17g\t%s\n", i,
                    e.mz + (i % 5 == 4 ? 1e-10 : 0.0), (e.lo + e.hi) / 2,
                    i % 4 == 1 ? "0" : "0.3", (e.hi - e.lo) / 2, i % 3 == 2 ? "true" : "false");
      targets << line;
    }
    return dir / std::string(name);
  };
  const std::size_t n = std::max<std::size_t>(peaks.size(), 12);
  const ProcessRun all = vxrun({"batch", file, "--targets", table_of(0, n, "all.tsv"), "-j",
                                "2", "-q", "--table", dir / "all.out"});
  ASSERT_EQ(all.code, 0) << all.err;
  std::istringstream rows(read_file(dir / "all.out"));
  std::string header;
  std::getline(rows, header);
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE("target " + std::to_string(i));
    const std::string name = "one" + std::to_string(i) + ".tsv";
    fs::create_directories(dir / ("plots" + std::to_string(i)));
    const ProcessRun one =
        vxrun({"batch", file, "--targets", table_of(i, 1, name), "-q", "--table",
               dir / (name + ".out"), "--plot", dir / ("plots" + std::to_string(i))});
    ASSERT_EQ(one.code, 0) << one.err;
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(read_file(dir / (name + ".out")), header + "\n" + row + "\n");
  }
}

// Files without any spectrum the reader knows are flagged, not passed off
// as empty successes.
TEST(Vxrun, FilesWithoutSpectraAreFlagged) {
  REQUIRE_CHAIN_STEPS();
  TempDir dir;
  std::vector<std::string> args{
      "batch", "--mz", "73", "--rt", "2.12", "--jsonl", dir / "rows.jsonl", "-q"};
  for (const char* f : {"sim_tiny.mzXML", "sim_tiny.nsprefix.mzML"}) {
    const fs::path p = shared_file(std::string("data/mzml/") + f);
    if (p.empty()) GTEST_SKIP() << "the shared sample folder is not available";
    args.push_back(p.string());
  }
  const ProcessRun r = vxrun(args);
  EXPECT_EQ(r.code, 1);
  const auto rows = rows_of(read_file(dir / "rows.jsonl"));
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& [key, row] : rows) {
    SCOPED_TRACE(key);
    EXPECT_EQ(row.text_at("status"), "no_spectra");
    EXPECT_EQ(row.number_at("spectra"), 0.0);
  }
}

// One batch per file, joined by merge, gives the bytes of one batch over all
// the files (failing ones included), whatever order the parts come in; a
// part cut short or missing stops the merge with the part's name.
TEST(Vxrun, MergedPartsEqualOneBatch) {
  REQUIRE_CHAIN_STEPS();
  TempDir dir;
  const std::string tiny = read_file(vx::testing::test_data("sim_tiny.mzML"));
  const std::vector<std::string> files{dir / "b.mzML", dir / "a.mzML", dir / "words.mzML",
                                       dir / "missing.mzML"};
  std::ofstream(files[0], std::ios::binary) << tiny;
  std::ofstream(files[1], std::ios::binary) << tiny;
  std::ofstream(files[2]) << "not mzML\n";
  std::ofstream(dir / "t.tsv") << "name\tmz\trt\trt_tol\nT73\t73\t2.12\t0.06\n"
                                  "T147\t147\t2.12\t0.06\n";
  std::vector<std::string> batch{"batch",   "--targets",      dir / "t.tsv",
                                 "-q",      "--table",        dir / "all.tsv",
                                 "--jsonl", dir / "all.jsonl"};
  batch.insert(batch.end(), files.begin(), files.end());
  ASSERT_EQ(vxrun(batch).code, 1);
  std::vector<std::string> merge{"merge", "--table", dir / "m.tsv", "--jsonl",
                                 dir / "m.jsonl"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string part = dir / ("part" + std::to_string(i) + ".tsv");
    vxrun({"batch", files[i], "--targets", dir / "t.tsv", "-q", "--table", part});
    merge.push_back(part);
  }
  const ProcessRun merged = vxrun(merge);
  EXPECT_EQ(merged.code, 1) << merged.err;
  EXPECT_EQ(read_file(dir / "m.tsv"), read_file(dir / "all.tsv"));
  EXPECT_EQ(read_file(dir / "m.jsonl"), read_file(dir / "all.jsonl"));

  const std::string part0 = read_file(merge[5]);
  std::ofstream(merge[5], std::ios::binary) << part0.substr(0, part0.size() - 7);
  const ProcessRun cut = vxrun(merge);
  EXPECT_EQ(cut.code, 65);
  EXPECT_NE(cut.err.find(merge[5] + ": the last line is incomplete"), std::string::npos)
      << cut.err;
  const ProcessRun absent = vxrun({"merge", dir / "absent.tsv"});
  EXPECT_EQ(absent.code, 66);
  EXPECT_NE(absent.err.find("absent.tsv"), std::string::npos);
}

TEST(Vxrun, RealGcMsFileMatchesTheReferenceFits) {
  REQUIRE_CHAIN_STEPS();
  const fs::path file =
      shared_file("data/mzml/public/FKB-FA-060-RI.cut_8.45-9.20min.mzML");
  const fs::path ref =
      shared_file("data/mzml/public/FKB-FA-060-RI.cut_8.45-9.20min.reference.json");
  if (file.empty() || ref.empty())
    GTEST_SKIP() << "the public sample files are not available";
  const JsonParse p = parse_json(read_file(ref));
  ASSERT_TRUE(p.value);
  TempDir dir;
  std::ofstream targets(dir / "t.tsv");
  targets << "name\tmz\trt\tmz_tol\trt_tol\n";
  for (const JsonValue& peak : p.value->find("peaks")->items) {
    const auto w = peak.find("fit")->numbers_at("window_min");
    char line[256];
    std::snprintf(line, sizeof line, "%s\t%.17g\t%.17g\t0.3\t%.17g\n",
                  peak.text_at("label")->c_str(), *peak.number_at("mz"),
                  (w[0] + w[1]) / 2, (w[1] - w[0]) / 2);
    targets << line;
  }
  targets.close();
  const ProcessRun r = vxrun({"batch", file.string(), "--targets", dir / "t.tsv",
                              "--jsonl", dir / "rows.jsonl", "-q"});
  EXPECT_EQ(r.code, 0) << r.err;
  const auto rows = rows_of(read_file(dir / "rows.jsonl"));
  for (const JsonValue& peak : p.value->find("peaks")->items) {
    const std::string label = *peak.text_at("label");
    SCOPED_TRACE(label);
    const auto it = rows.find(file.string() + "|" + label);
    ASSERT_NE(it, rows.end());
    ASSERT_EQ(it->second.text_at("fit_status"), "success");
    const JsonValue* fit = peak.find("fit");
    const JsonValue* sd = fit->find("stderr");
    // Same points and model as the reference: within one of its standard errors.
    EXPECT_LE(
        std::abs(*it->second.number_at("retention_time") - *fit->number_at("center_min")),
        *sd->number_at("center_min"));
    EXPECT_LE(std::abs(*it->second.number_at("height") - *fit->number_at("height")),
              *sd->number_at("height"));
    EXPECT_LE(std::abs(*it->second.number_at("width") - *fit->number_at("sigma_min")),
              *sd->number_at("sigma_min"));
  }
}

TEST(Vxrun, ChainWritesSevenDocumentsAndASummary) {
  REQUIRE_CHAIN_STEPS();
  TempDir dir;
  const ProcessRun r =
      vxrun({"chain", vx::testing::test_data("sim_tiny.mzML").string(), "--mz", "73",
             "--rt", "2.12", "--rt-tol", "0.06", "--out", dir / "docs"});
  EXPECT_EQ(r.code, 0) << r.err;
  for (const char* name :
       {"ingestion_spectra.json", "ingestion_chromatograms.json",
        "ingestion_run_summary.json", "trace.json", "trace_diagnostics.json",
        "fit_result.json", "fit_diagnostics.json"}) {
    SCOPED_TRACE(name);
    const std::string text = read_file(dir.path / "docs" / name);
    EXPECT_TRUE(parse_json(text).value);
  }
  const JsonParse fit = parse_json(read_file(dir.path / "docs" / "fit_result.json"));
  ASSERT_TRUE(fit.value);
  EXPECT_EQ(fit.value->text_at("fit_status"), "success");
  for (const char* want : {"fit             success", "retention time", "height",
                           "width (sigma)", "area", "baseline", "r\xC2\xB2", "flags"}) {
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
  }
}

// 200 generated files (and a few that fail): the table of -j 2 is the table
// of -j 1, byte for byte, sorted or not.
TEST(Vxrun, TwoHundredFileBatchIsTheSameWithOneOrTwoThreads) {
  REQUIRE_CHAIN_STEPS();
  TempDir dir;
  const fs::path in = dir.path / "runs";
  fs::create_directories(in);
  for (int i = 0; i < 200; ++i) {
    const double shift = 0.01 * (i % 13);
    char name[32];
    std::snprintf(name, sizeof name, "run%03d.mzML", i);
    vx::testing::write_sim_mzml((in / name).string(),
                                {{73.0, 1.20 + shift, 0.02, 5000.0 + 100 * i, 1000.0},
                                 {147.0, 1.35 - shift, 0.025, 20000.0, 800.0}},
                                80, 1.0, 0.005, 25.0, static_cast<uint64_t>(i) + 1);
  }
  std::ofstream(in / "zz_empty.mzML").flush();
  std::ofstream(dir / "t.tsv")
      << "name\tmz\trt\trt_tol\nA\t73\t1.26\t0.15\nB\t147\t1.29\t0.15\n";
  std::string tables[2];
  for (int j = 1; j <= 2; ++j) {
    const ProcessRun r = vxrun({"batch", in.string(), dir / "missing.mzML", "--targets",
                                dir / "t.tsv", "-j", std::to_string(j), "--no-progress"});
    EXPECT_EQ(r.code, 1) << r.err;  // the empty and the missing file
    tables[j - 1] = r.out;
  }
  auto sorted_lines = [](const std::string& t) {
    auto l = lines_of(t);
    std::sort(l.begin(), l.end());
    return l;
  };
  EXPECT_EQ(sorted_lines(tables[0]), sorted_lines(tables[1]));
  EXPECT_EQ(tables[0], tables[1]);
  const auto lines = lines_of(tables[0]);
  EXPECT_EQ(lines.size(), 1u + 202u * 2u);
  std::size_t successes = 0;
  for (const std::string& l : lines)
    successes += l.find("\tsuccess\t") != std::string::npos;
  EXPECT_EQ(successes, 400u);
}

// The figures render in a real SVG renderer. A copy of one is left in
// build/.../host_plots for a look by eye.
TEST(Vxrun, PlotsRender) {
  REQUIRE_CHAIN_STEPS();
  if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
  }
  const fs::path sample = shared_file("data/mzml/sim_basic.mzML");
  if (sample.empty()) GTEST_SKIP() << "the shared sample folder is not available";
  TempDir dir;
  std::ofstream(dir / "t.tsv") << "name\tmz\trt\trt_tol\nP01\t73\t1.178\t0.13\n"
                                  "nothing\t73\t1.65\t0.02\nfar\t999\t1.3\t0.1\n";
  const ProcessRun r = vxrun({"batch", sample.string(), "--targets", dir / "t.tsv",
                              "--plot", dir / "plots", "-q"});
  EXPECT_EQ(r.code, 0) << r.err;
  std::size_t n = 0;
  for (const auto& e : fs::directory_iterator(dir.path / "plots")) {
    ++n;
    const std::string png = e.path().string() + ".png";
    const std::string cmd = "rsvg-convert -o '" + png + "' '" + e.path().string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_GT(fs::file_size(png), 1000u);
  }
  EXPECT_EQ(n, 3u);
  const fs::path keep = fs::current_path() / "host_plots";
  fs::create_directories(keep);
  fs::copy(dir.path / "plots", keep,
           fs::copy_options::overwrite_existing | fs::copy_options::recursive);
}

// The committed sequence (tests/data/quant/make_sequence.sh): six standards,
// three samples and a blank with known amounts, qualifier ratios and
// injection factors that the internal standard has to correct.
TEST(Vxrun, QuantitationOfAGeneratedSequence) {
  REQUIRE_CHAIN_STEPS();
  const fs::path data = vx::testing::test_data("quant");
  TempDir dir;
  const ProcessRun r = vxrun({"batch", data.string(), "--targets", data / "targets.tsv",
                              "--samples", data / "samples.tsv", "--table", dir / "r.tsv",
                              "--quant", dir / "q.tsv", "--quant-jsonl", dir / "q.jsonl",
                              "--calibration", dir / "c.tsv", "--cal-plots", dir / "cal", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto rows = rows_of(read_file(dir / "q.jsonl"));
  const auto row = [&](const char* file, const char* target) -> const JsonValue& {
    return rows.at((data / file).string() + "|" + target);
  };
  const auto flags = [](const JsonValue& v) {
    std::string s;
    for (const JsonValue& f : v.find("flags")->items) s += f.text + ",";
    return s;
  };
  struct Truth {
    const char* file;
    const char* target;
    double amount;
    double ratios[2];  // generated qualifier ratios, %
  };
  // sample2's B fails the ion ratio against the standards' (80 % against
  // 50 %): it is not identified and keeps no concentration.
  const Truth truths[] = {{"sample1.mzML.gz", "A", 7, {35, 12.5}},
                          {"sample1.mzML.gz", "B", 12, {50, 20}},
                          {"sample2.mzML.gz", "A", 15, {35, 12.5}},
                          {"sample2.mzML.gz", "B", 0, {80, 20}}};
  for (const Truth& t : truths) {
    SCOPED_TRACE(std::string(t.file) + " " + t.target);
    const JsonValue& v = row(t.file, t.target);
    if (t.amount == 0) {
      EXPECT_FALSE(v.number_at("concentration").has_value());
      EXPECT_EQ(v.text_at("identified").value_or(""), "no");
    } else {
      EXPECT_NEAR(v.number_at("concentration").value_or(0), t.amount, 0.05 * t.amount);
      EXPECT_EQ(v.text_at("identified").value_or(""), "yes");
    }
    const auto& qualifiers = v.find("qualifiers")->items;
    ASSERT_EQ(qualifiers.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_NEAR(qualifiers[i].number_at("observed").value_or(0), t.ratios[i],
                  0.05 * t.ratios[i]);
    }
  }
  EXPECT_EQ(flags(row("sample1.mzML.gz", "B")), "");
  EXPECT_EQ(flags(row("sample2.mzML.gz", "B")), "qualifier_ratio_out_of_tolerance,ion_ratio,");
  EXPECT_NE(flags(row("sample3.mzML.gz", "A")).find("above_range"), std::string::npos);
  EXPECT_NE(flags(row("sample3.mzML.gz", "B")).find("above_range"), std::string::npos);
  EXPECT_NE(flags(row("blank.mzML.gz", "A")).find("blank_above_threshold"), std::string::npos);
  // The blank has no B: its fit converges on noise, the decision says
  // not_detected and the quantitation gives it no concentration.
  const JsonValue& blank_b = row("blank.mzML.gz", "B");
  EXPECT_EQ(blank_b.find("concentration")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(blank_b.find("response")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(flags(blank_b), "not_detected,");
  const std::string table = read_file(dir / "r.tsv");
  const auto header = split_tabs(lines_of(table).at(0));
  const auto column = [&](std::string_view name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) -
                                    header.begin());
  };
  std::size_t not_detected = 0;
  for (const std::string& line : lines_of(table)) {
    const auto cells = split_tabs(line);
    if (cells.at(0) == "file") continue;
    EXPECT_EQ(line.find("nan"), std::string::npos) << line;
    const bool blank_b_row = cells[0].ends_with("blank.mzML.gz") && cells[1] == "B";
    EXPECT_EQ(cells.at(column("detection")), blank_b_row ? "not_detected" : "detected") << line;
    not_detected += cells[column("detection")] == "not_detected" ? 1u : 0u;
  }
  EXPECT_EQ(not_detected, 1u);
  const std::string cal = read_file(dir / "c.tsv");
  EXPECT_NE(lines_of(cal).at(0).find("\tlod\tloq"), std::string::npos);
  EXPECT_EQ(lines_of(cal).size(), 1u + 1u + 6u + 6u);  // header, the ISTD, A's and B's standards
  std::size_t plots = 0;
  for (const auto& e : fs::directory_iterator(dir.path / "cal")) {
    if (e.path().extension() != ".svg") continue;
    ++plots;
    const std::string png = e.path().string() + ".png";
    const std::string cmd = "rsvg-convert -o '" + png + "' '" + e.path().string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  EXPECT_EQ(plots, 3u);
}

// The sequence's injection factors run from 0.90 to 1.10 of a mean near 1:
// the default 50-150 % flags no file, 94,106 the three that lie outside
// (0.90, 1.10 and 0.93; 0.95 and 1.05 stay inside).
TEST(Vxrun, IstdLimitsDecideWhichFilesAreFlagged) {
  REQUIRE_CHAIN_STEPS();
  const fs::path data = vx::testing::test_data("quant");
  struct Case {
    std::vector<std::string> limits;
    std::set<std::string> flagged;
  };
  const Case cases[] = {
      {{}, {}},
      {{"--istd-limits", "94,106"}, {"sample3.mzML.gz", "std4.mzML.gz", "std5.mzML.gz"}},
      {{"--istd-limits", "0,1000"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limits.empty() ? "default" : c.limits[1]);
    TempDir dir;
    std::vector<std::string> args = {"batch", data.string(), "--targets",
                                     (data / "targets.tsv").string(), "--samples",
                                     (data / "samples.tsv").string(), "--quant-jsonl",
                                     dir / "q.jsonl", "-q"};
    args.insert(args.end(), c.limits.begin(), c.limits.end());
    const ProcessRun r = vxrun(args);
    ASSERT_EQ(r.code, 0) << r.err;
    std::set<std::string> flagged;
    for (const auto& [key, row] : rows_of(read_file(dir / "q.jsonl"))) {
      for (const JsonValue& f : row.find("flags")->items)
        if (f.text == "istd_out_of_range")
          flagged.insert(fs::path(key.substr(0, key.find('|'))).filename().string());
    }
    EXPECT_EQ(flagged, c.flagged);
  }
}

// The identification sequence (tests/data/ident/make_sequence.sh): the
// standards' mean time and ratios are the references, so sample_shift (0.15
// min late) and sample_ratio (147 at twice the standards' ratio) are not
// identified and lose their concentrations; the rest are, although the
// targets table's rt and 147 ratio would have rejected them. Without the
// sample list the table's values are the references.
TEST(Vxrun, IdentificationAgainstTheSequencesStandards) {
  REQUIRE_CHAIN_STEPS();
  const fs::path data = vx::testing::test_data("ident");
  TempDir dir;
  const ProcessRun r = vxrun({"batch", data.string(), "--targets", data / "targets.tsv",
                              "--samples", data / "samples.tsv", "--jsonl", dir / "r.jsonl",
                              "--table", dir / "r.tsv", "--quant-jsonl", dir / "q.jsonl",
                              "--measurements", dir / "m.jsonl", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto rows = rows_of(read_file(dir / "r.jsonl"));
  const auto quant = rows_of(read_file(dir / "q.jsonl"));
  struct Case {
    const char* file;
    const char* identified;
    const char* failed;
  };
  const Case cases[] = {{"std1", "yes", ""},          {"std2", "yes", ""},
                        {"std3", "yes", ""},          {"sample_ok", "yes", ""},
                        {"sample_shift", "no", "rt_shift,"},
                        {"sample_ratio", "no", "ion_ratio,"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string key = (data / (std::string(c.file) + ".mzML.gz")).string() + "|A";
    const JsonValue& v = rows.at(key);
    EXPECT_EQ(v.text_at("identified").value_or("?"), c.identified);
    std::string failed;
    for (const JsonValue& f : v.find("identification_flags")->items) failed += f.text + ",";
    EXPECT_EQ(failed, c.failed);
    EXPECT_NEAR(v.number_at("rt_reference").value_or(0), 1.52, 0.002);
    const JsonValue& q = quant.at(key);
    EXPECT_EQ(q.text_at("identified").value_or("?"), c.identified);
    EXPECT_EQ(q.number_at("concentration").has_value(), std::string(c.identified) == "yes");
  }
  const JsonValue& shift = rows.at((data / "sample_shift.mzML.gz").string() + "|A");
  EXPECT_NEAR(shift.number_at("rt_shift").value_or(0), 0.15, 0.002);
  EXPECT_EQ(shift.text_at("reference_ratios").value_or("").substr(0, 6), "147:34");

  // Merged parts identify as the batch did (the parts carry the decisions).
  const ProcessRun m = vxrun({"merge", "-q", dir / "r.tsv", "--targets", data / "targets.tsv",
                              "--samples", data / "samples.tsv", "--measurements",
                              dir / "m.jsonl", "--table", dir / "merged.tsv"});
  ASSERT_EQ(m.code, 0) << m.err;
  EXPECT_EQ(read_file(dir / "merged.tsv"), read_file(dir / "r.tsv"));

  // Without standards the table's rt (1.40) rejects every peak at 1.52.
  const ProcessRun table_only =
      vxrun({"chain", (data / "sample_ok.mzML.gz").string(), "--mz", "73", "--rt", "1.40",
             "--rt-tol", "0.4", "--rt-id-tol", "0.1"});
  EXPECT_EQ(table_only.code, 0) << table_only.err;
  EXPECT_NE(table_only.out.find("identified      no (rt_shift)"), std::string::npos)
      << table_only.out;
}

// The ladder run (tests/data/ident/ladder): vxrun ladder numbers its alkanes
// and says C13 is missing; with that ladder a target given by retention
// index alone is found in every file and each row carries its index.
TEST(Vxrun, LadderAndRetentionIndexTargets) {
  REQUIRE_CHAIN_STEPS();
  const fs::path data = vx::testing::test_data("ident");
  TempDir dir;
  const ProcessRun l = vxrun({"ladder", (data / "ladder" / "alkanes.mzML.gz").string(),
                              "--first", "C10", "-o", dir / "ladder.tsv"});
  ASSERT_EQ(l.code, 0) << l.err;
  EXPECT_NE(l.err.find("missing alkane C13"), std::string::npos) << l.err;
  const auto lines = lines_of(read_file(dir / "ladder.tsv"));
  ASSERT_EQ(lines.size(), 5u);
  const double truth[][2] = {{10, 0.98}, {11, 1.25}, {12, 1.55}, {14, 2.17}};
  for (std::size_t i = 0; i < 4; ++i) {
    std::istringstream row(lines[i + 1]);
    double carbon = 0, rt = 0;
    row >> carbon >> rt;
    EXPECT_EQ(carbon, truth[i][0]);
    EXPECT_NEAR(rt, truth[i][1], 0.002);
  }
  const ProcessRun r = vxrun({"batch", data.string(), "--targets", data / "targets_ri.tsv",
                              "--ladder", dir / "ladder.tsv", "--jsonl", dir / "r.jsonl",
                              "--table", dir / "r.tsv", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto rows = rows_of(read_file(dir / "r.jsonl"));
  // 1.52 min lies 0.27 of the 0.30 min from C11 to C12: RI 1190.
  const JsonValue& ok = rows.at((data / "sample_ok.mzML.gz").string() + "|A");
  EXPECT_EQ(ok.text_at("fit_status").value_or(""), "success");
  EXPECT_NEAR(ok.number_at("retention_index").value_or(0), 1190, 1.0);
  EXPECT_EQ(ok.text_at("identified").value_or("?"), "");  // no criteria asked for
}

// A full-scan run and a library of its compounds' true spectra
// (tests/data/library): a peak scores high against its own entry and is
// flagged spectrum_mismatch against another compound's.
TEST(Vxrun, LibraryMatchOfFullScanPeaks) {
  REQUIRE_CHAIN_STEPS();
  const fs::path data = vx::testing::test_data("library");
  TempDir dir;
  const ProcessRun r =
      vxrun({"batch", (data / "fullscan.mzML.gz").string(), "--targets", data / "targets.tsv",
             "--library", data / "library.msp", "--jsonl", dir / "r.jsonl", "--table",
             dir / "r.tsv", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto rows = rows_of(read_file(dir / "r.jsonl"));
  const auto row = [&](const char* target) -> const JsonValue& {
    return rows.at((data / "fullscan.mzML.gz").string() + "|" + target);
  };
  EXPECT_GE(row("A").number_at("match_score").value_or(0), 900);
  EXPECT_GE(row("A").number_at("reverse_match").value_or(0), 900);
  EXPECT_EQ(row("A").text_at("identified").value_or(""), "yes");
  EXPECT_GE(row("B").number_at("match_score").value_or(0), 900);
  EXPECT_LT(row("A_as_B").number_at("match_score").value_or(999), 700);
  EXPECT_EQ(row("A_as_B").text_at("identified").value_or(""), "no");
  EXPECT_EQ(row("A_as_B").find("identification_flags")->items.at(0).text, "spectrum_mismatch");
  // The same peak against the whole library: its own entry first.
  const ProcessRun s = vxrun({"search", (data / "fullscan.mzML.gz").string(), "--mz", "131",
                              "--rt", "1.235", "--library", data / "library.msp"});
  ASSERT_EQ(s.code, 0) << s.err;
  const auto hits = lines_of(s.out);
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0], "rank\tname\tmatch_score\treverse_match\tretention_index");
  const auto score = [&](const char* key) {
    return std::to_string(static_cast<int>(row("A").number_at(key).value_or(-1)));
  };
  EXPECT_EQ(hits[1], "1\tA\t" + score("match_score") + "\t" + score("reverse_match") + "\t");
}

// Damaged identification inputs stop the run before any file is read, each
// with a message that names the culprit.
TEST(Vxrun, IdentificationInputProblems) {
  const fs::path ident = vx::testing::test_data("ident");
  const fs::path library = vx::testing::test_data("library");
  TempDir dir;
  std::ofstream(dir / "one.tsv") << "carbon\trt\n10\t1.0\n";
  std::ofstream(dir / "ladder.tsv") << "carbon\trt\n10\t1.0\n11\t1.3\n12\t1.6\n";
  std::ofstream(dir / "far.tsv") << "name\tmz\tri\nA\t73\t1500\n";
  std::ofstream(dir / "bad.msp") << "Name: A\nNum Peaks: 3\n41 999\n43 x\n\n";
  std::ofstream(dir / "lib.msp") << "Name: Other\nNum Peaks: 1\n41 999\n";
  const std::string file = (ident / "sample_ok.mzML.gz").string();
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string says;
  };
  const Case cases[] = {
      {{"batch", file, "--targets", ident / "targets.tsv", "--ladder", dir / "one.tsv"},
       65, "one.tsv:2: a ladder needs at least two alkanes"},
      {{"batch", file, "--targets", dir / "far.tsv", "--ladder", dir / "ladder.tsv"},
       65, "target 'A': ri 1500 ± 10 lies outside the ladder (C10 to C12"},
      {{"batch", file, "--targets", dir / "far.tsv"}, 65, "give --ladder"},
      {{"batch", file, "--targets", ident / "targets.tsv", "--ladder", dir / "absent.tsv"},
       66, "cannot read the ladder"},
      {{"chain", file, "--targets", library / "targets.tsv", "--library", dir / "bad.msp"},
       65, "bad.msp:4:"},
      {{"batch", file, "--targets", ident / "targets.tsv", "--library", dir / "lib.msp"},
       65, "target 'A': no entry named 'A' in"},
      {{"ladder", file, "--first", "C8"}, 1, "fewer than two alkanes"},
      {{"ladder", file}, 64, "--first"},
      {{"search", file, "--mz", "73", "--rt", "1.5"}, 64, "search needs --library"},
      {{"search", (library / "fullscan.mzML.gz").string(), "--mz", "999", "--mz-tol", "0.1",
        "--rt", "1.2", "--library", library / "library.msp"},
       1, "no peak of m/z 999 fitted near 1.2 min"},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    const ProcessRun r = vxrun(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// Quantitating merged parts gives the batch's bytes; measurement parts,
// targets or sample lists that do not fit the table parts stop the merge
// with the right exit code (the join's own checks are the unit tests').
TEST(Vxrun, MergeQuantitatesLikeOneBatch) {
  REQUIRE_CHAIN_STEPS();
  const fs::path data = vx::testing::test_data("quant");
  TempDir dir;
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(data)) {
    if (e.path().string().ends_with(".mzML.gz")) files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  const std::string targets = data / "targets.tsv", samples = data / "samples.tsv";
  std::vector<std::string> batch{
      "batch",         "--targets",      targets,   "-q",
      "--samples",     samples,          "--quant", dir / "all_q.tsv",
      "--calibration", dir / "all_c.tsv"};
  batch.insert(batch.end(), files.begin(), files.end());
  ASSERT_EQ(vxrun(batch).code, 0);
  std::vector<std::string> tables, measured;
  for (std::size_t i = 0; i < files.size(); ++i) {
    tables.push_back(dir / ("p" + std::to_string(i) + ".tsv"));
    measured.push_back(dir / ("p" + std::to_string(i) + ".jsonl"));
    ASSERT_EQ(vxrun({"batch", files[i], "--targets", targets, "-q", "--table", tables[i],
                     "--measurements", measured[i]})
                  .code,
              0);
  }
  std::ofstream(dir / "istd_only.tsv") << "name\tmz\trt\nISTD\t152\t1.3\n";
  std::ofstream(dir / "bad_samples.tsv") << "file\ttype\tZ\nstd1\tstandard\t1\n";
  struct Case {
    std::vector<std::string> extra;
    int code;
    std::string says;
  };
  std::ofstream all(dir / "all.list");
  for (const std::string& m : measured) all << m << "\n";
  all.close();
  const std::string all_list = dir / "all.list";
  const std::vector<Case> cases{
      {{"--measurements-list", all_list}, 0, ""},
      {{}, 64, "give their --measurements parts"},
      {{"--measurements-list", all_list, "--measurements", measured[0]},
       65,
       "is also in"},
      {{"--measurements-list", dir / "absent.list"}, 66, "absent.list"},
      {{"--measurements", dir / "absent.jsonl"}, 66, "absent.jsonl"},
      {{"--targets", dir / "istd_only.tsv"}, 65, "do not follow the targets table"},
      {{"--measurements-list", all_list, "--samples", dir / "absent.tsv"},
       66,
       "cannot read the sample list"},
      {{"--measurements-list", all_list, "--samples", dir / "bad_samples.tsv"},
       65,
       "bad_samples.tsv:1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    std::vector<std::string> merge{
        "merge",   "-q",         "--targets",     targets,         "--samples",
        samples,   "--quant",    dir / "m_q.tsv", "--calibration", dir / "m_c.tsv",
        "--table", dir / "m.tsv"};
    merge.insert(merge.end(), tables.begin(), tables.end());
    merge.insert(merge.end(), c.extra.begin(), c.extra.end());
    const ProcessRun r = vxrun(merge);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    if (c.code != 0) continue;
    EXPECT_EQ(read_file(dir / "m_q.tsv"), read_file(dir / "all_q.tsv"));
    EXPECT_EQ(read_file(dir / "m_c.tsv"), read_file(dir / "all_c.tsv"));
  }
}

// A sample list that cannot be used stops the batch before any file is read.
TEST(Vxrun, SampleListProblemsStopTheBatch) {
  const fs::path data = vx::testing::test_data("quant");
  TempDir dir;
  std::ofstream(dir / "s.tsv") << "file\ttype\tA\nstd1\tstandard\tten\n";
  const ProcessRun bad = vxrun({"batch", (data / "std1.mzML.gz").string(), "--targets",
                                data / "targets.tsv", "--samples", dir / "s.tsv", "--quant",
                                dir / "q.tsv"});
  EXPECT_EQ(bad.code, 65);
  EXPECT_NE(bad.err.find("s.tsv:2: amount 'ten' is not a number"), std::string::npos) << bad.err;
  EXPECT_TRUE(bad.out.empty());
  EXPECT_FALSE(fs::exists(dir / "q.tsv"));
  EXPECT_EQ(vxrun({"batch", "x.mzML", "--targets", data / "targets.tsv", "--samples",
                   dir / "absent.tsv", "--quant", dir / "q.tsv"})
                .code,
            66);
  // A sample list alone serves identification, so it is read and checked too.
  EXPECT_EQ(vxrun({"batch", "x.mzML", "--targets", data / "targets.tsv", "--samples",
                   dir / "s.tsv"})
                .code,
            65);
}

// The terminal shows values rounded for reading (retention time 4 decimals,
// r² 5, the rest 6 significant digits); --report writes the page, and a
// report that cannot be written is an output error.
TEST(Vxrun, ChainRoundsForReadingAndWritesItsReport) {
  REQUIRE_CHAIN_STEPS();
  TempDir dir;
  const std::string sample = vx::testing::test_data("sim_tiny.mzML").string();
  const ProcessRun r = vxrun({"chain", sample, "--mz", "73", "--rt", "2.12", "--rt-tol",
                              "0.06", "--report", dir / "chain.html"});
  EXPECT_EQ(r.code, 0) << r.err;
  // The value printed after a label, up to the end of its line.
  const auto value = [&](std::string_view label) {
    const auto at = r.out.find(label);
    if (at == std::string::npos) return std::string();
    const auto from = r.out.find_first_not_of(' ', at + label.size());
    return r.out.substr(from, r.out.find('\n', from) - from);
  };
  const auto decimals = [](const std::string& v) {
    const auto dot = v.find('.');
    if (dot == std::string::npos) return std::size_t{0};
    return std::min(v.find_first_not_of("0123456789", dot + 1), v.size()) - dot - 1;
  };
  EXPECT_EQ(decimals(value("retention time")), 4u) << r.out;
  EXPECT_EQ(decimals(value("r\xC2\xB2")), 5u) << r.out;
  std::size_t run = 0;  // no number with 8 or more digits in a row
  for (const char c : r.out) {
    run = (c >= '0' && c <= '9') ? run + 1 : 0;
    EXPECT_LT(run, 8u) << r.out;
    if (run >= 8) break;
  }
  const std::string page = read_file(dir.path / "chain.html");
  for (const char* want :
       {"<!DOCTYPE html>", "vxrun chain report", "--report", "73@2.12"}) {
    EXPECT_NE(page.find(want), std::string::npos) << want;
  }
  const ProcessRun bad = vxrun({"chain", sample, "--mz", "73", "--rt", "2.12", "--report",
                                dir / "no_such_folder/r.html"});
  EXPECT_EQ(bad.code, 73) << bad.err;
}

// The example run, end to end: both tables read back into the same rows and
// write out to the same bytes again, and every caption line of every figure
// fits the plot's width (P04's used to run off the picture).
TEST(Vxrun, ExampleTablesReadBackAndCaptionsFit) {
  REQUIRE_CHAIN_STEPS();
  TempDir dir;
  const std::string examples = std::string(VX_SOURCE_DIR) + "/examples/";
  const ProcessRun r = vxrun({"batch", examples + "sim_basic.mzML", "--targets",
                              examples + "targets.tsv", "--table", dir / "t.tsv",
                              "--jsonl", dir / "t.jsonl", "--plot", dir / "plots", "-q"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string tsv = read_file(dir / "t.tsv");
  const std::string jsonl = read_file(dir / "t.jsonl");
  const TableRead from_tsv = read_tsv_table(tsv);
  const TableRead from_jsonl = read_jsonl_table(jsonl);
  EXPECT_EQ(from_tsv.errors, std::vector<std::string>{});
  EXPECT_EQ(from_jsonl.errors, std::vector<std::string>{});
  EXPECT_EQ(from_tsv.rows.size(), 8u);
  EXPECT_EQ(from_tsv.rows, from_jsonl.rows);
  EXPECT_EQ(table_tsv(from_tsv.rows), tsv);
  EXPECT_EQ(table_jsonl(from_jsonl.rows), jsonl);

  std::size_t figures = 0;
  for (const auto& e : fs::directory_iterator(dir.path / "plots")) {
    ++figures;
    const std::string svg = read_file(e.path());
    const std::string open = "<text x=\"88\" y=\"";
    for (std::size_t at = svg.find(open, svg.find("class=\"caption\""));
         at != std::string::npos; at = svg.find(open, at + 1)) {
      const std::size_t begin = svg.find('>', at) + 1;
      const std::string line = svg.substr(begin, svg.find("</text>", begin) - begin);
      EXPECT_LE(text_width(line, 12), 760 - 88 - 24) << e.path() << ": " << line;
    }
  }
  EXPECT_EQ(figures, 8u);
}

}  // namespace
}  // namespace vx::host::cli
