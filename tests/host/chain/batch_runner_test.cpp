// The batch machinery and the chain/batch commands, driven by stand-in steps
// (fake_steps.hpp): scheduling, row building, failure rows, determinism
// across thread counts, documents, plots and exit codes.
#include "batch_runner.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "commands.hpp"
#include "exit_codes.hpp"
#include "fake_steps.hpp"
#include "file_io.hpp"
#include "json_lite.hpp"
#include "progress.hpp"
#include "test_support.hpp"
#include "trace_plot.hpp"

namespace vx::host::chain {

using base::kExitCannotWrite;
using base::kExitNoInput;
using base::kExitNotProcessed;
using base::kExitOk;
using base::kExitTargetsInvalid;
using base::parse_json;
using base::safe_file_name;
using tables::ResultRow;
using tables::Target;
using tables::make_target;
using tables::table_jsonl;
using tables::table_tsv;
using cli::CliParse;
using cli::Command;
using cli::CommandIo;
using cli::Progress;
using cli::kChromatogramsFile;
using cli::kFitDiagnosticsFile;
using cli::kFitResultFile;
using cli::kIngestionDiagnosticsFile;
using cli::kRunSummaryFile;
using cli::kSpectraFile;
using cli::kTraceDiagnosticsFile;
using cli::kTraceFile;
using cli::parse_command_line;
using cli::run_batch_command;
using cli::run_chain_command;

namespace {

namespace fs = std::filesystem;

constexpr ChainSteps kFake{&testing::fake::ingestion, &testing::fake::trace,
                           &testing::fake::fit};

using TempDir = vx::testing::ScratchDir;

std::vector<Target> two_targets() {
  return {make_target("TMS", 73, 1.2, {}), make_target("P03", 147, 1.3, {})};
}

std::vector<BatchFile> files_of(std::initializer_list<const char*> paths) {
  std::vector<BatchFile> out;
  for (const char* p : paths) out.push_back({p, "", ""});
  return out;
}

TEST(BatchRunner, EveryFileAndTargetGetsItsRowWithTheReason) {
  const auto files = files_of({"a.mzML", "b_missing.mzML", "c_unusable.mzML",
                               "d_malformed.mzML", "e_empty.mzML", "f_crash.mzML"});
  BatchSettings s;
  s.targets = two_targets();
  s.jobs = 2;
  const BatchOutcome out = run_batch(kFake, files, s);
  ASSERT_EQ(out.rows.size(), 12u);
  struct Want {
    const char* status;
    const char* flag;  // first flag
    const char* fit_status;
  };
  const Want want[] = {
      {"ok", "gcms.fit.solver_converged", "success"},
      {"file_not_found", "gcms.ingest.file_not_found", ""},
      {"unsupported_encoding", "gcms.ingest.unsupported_encoding", ""},
      {"malformed_number", "gcms.ingest.malformed_number", ""},
      {"no_spectra", "gcms.sim.empty_trace", "no_local_peak"},
      {"step_failed", "", ""},
  };
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (std::size_t t = 0; t < 2; ++t) {
      const ResultRow& r = out.rows[f * 2 + t];
      SCOPED_TRACE(r.file + " " + r.target);
      EXPECT_EQ(r.file, files[f].path);
      EXPECT_EQ(r.target, s.targets[t].name);
      EXPECT_EQ(r.status, want[f].status);
      EXPECT_EQ(r.flags.empty() ? "" : r.flags.front(), std::string(want[f].flag));
      EXPECT_EQ(r.fit_status, want[f].fit_status);
      EXPECT_EQ(r.message.empty(), r.status == "ok");
    }
  }
  EXPECT_EQ(out.rows[0].spectra, 1u);
  EXPECT_EQ(out.rows[0].trace_points, 5u);
  EXPECT_TRUE(out.rows[0].height);
  EXPECT_EQ(out.rows[8].spectra, 0u);
  // A file without spectra measured nothing: its numbers stay empty, not 0.
  EXPECT_FALSE(out.rows[8].height || out.rows[8].area || out.rows[8].r_squared ||
               out.rows[8].trace_points || out.rows[8].max_intensity);
  EXPECT_NE(out.rows[10].message.find("returned status 2"), std::string::npos);
  EXPECT_EQ(out.files_failed, 5u);
  EXPECT_TRUE(out.write_errors.empty());
}

TEST(BatchRunner, AStepThatRefusesGivesStepFailedRows) {
  const ChainSteps refusing_trace{&testing::fake::ingestion, &testing::fake::refuse,
                                  &testing::fake::fit};
  BatchSettings s;
  s.targets = two_targets();
  const BatchOutcome out =
      run_batch(refusing_trace, files_of({"a.mzML", "b_empty.mzML"}), s);
  ASSERT_EQ(out.rows.size(), 4u);
  EXPECT_EQ(out.rows[0].status, "step_failed");
  EXPECT_NE(out.rows[0].message.find("GcMsSimTraceExtractionStep returned status 2"),
            std::string::npos);
  EXPECT_EQ(out.rows[0].spectra, 1u);
  // A file without spectra keeps that as its status: it is the cause.
  EXPECT_EQ(out.rows[2].status, "no_spectra");
  EXPECT_NE(out.rows[2].message.find("no spectra"), std::string::npos);
  EXPECT_NE(out.rows[2].message.find("returned status 2"), std::string::npos);
  EXPECT_EQ(out.files_failed, 2u);
}

// The table must not depend on the number of threads or on which task
// happened to finish first.
TEST(BatchRunner, SameTableWhateverTheThreadCount) {
  std::vector<BatchFile> files;
  for (int i = 0; i < 150; ++i) {
    const char* kind = i % 17 == 0 ? "_missing" : i % 23 == 0 ? "_empty" : "";
    files.push_back({"run" + std::to_string(1000 + i) + kind + ".mzML", "", ""});
  }
  BatchSettings s;
  s.targets = two_targets();
  s.targets.push_back(make_target("late", 207, 1.6, {}));
  std::string first;
  for (unsigned jobs : {1u, 2u, 4u}) {
    s.jobs = jobs;
    const BatchOutcome out = run_batch(kFake, files, s);
    const std::string table = table_tsv(out.rows) + table_jsonl(out.rows);
    if (first.empty()) {
      first = table;
    } else {
      EXPECT_EQ(table, first) << "with " << jobs << " threads";
    }
  }
}

// With a visitor the spectra document is traced where the step holds it and
// never kept; everything else the ingestion reports stays the same.
TEST(BatchRunner, IngestionHandsTheSpectraDocumentToTheVisitor) {
  for (const char* path : {"a.mzML", "e_empty.mzML", "b_missing.mzML", "f_crash.mzML"}) {
    SCOPED_TRACE(path);
    const Ingestion kept = run_ingestion(kFake, path);
    int visits = 0;
    std::string seen;
    const Ingestion streamed = run_ingestion(kFake, path, [&](std::string_view spectra) {
      ++visits;
      seen.assign(spectra);
    });
    EXPECT_EQ(streamed.status, kept.status);
    EXPECT_EQ(streamed.message, kept.message);
    EXPECT_EQ(streamed.spectrum_count, kept.spectrum_count);
    EXPECT_EQ(streamed.diagnostics, kept.diagnostics);
    EXPECT_EQ(streamed.run_summary, kept.run_summary);
    EXPECT_EQ(streamed.has_spectra_document(), kept.has_spectra_document());
    EXPECT_TRUE(streamed.spectra.empty());
    EXPECT_EQ(seen, kept.spectra);
    // Diagnostics documents and calls that fail first never reach it.
    const bool spectra = std::string_view(path) == "a.mzML" ||
                         std::string_view(path) == "e_empty.mzML";
    EXPECT_EQ(visits, spectra ? 1 : 0);
  }
}

// Writing the documents keeps the spectra document and traces it after the
// step; the rows must be those of the streaming path.
TEST(BatchRunner, KeptAndStreamedDocumentsGiveTheSameRows) {
  const auto files = files_of({"a.mzML", "b_missing.mzML", "e_empty.mzML", "g.mzML"});
  BatchSettings s;
  s.targets = two_targets();
  s.jobs = 2;
  const std::string streamed = table_tsv(run_batch(kFake, files, s).rows);
  std::atomic<int> kept_documents{0};
  s.on_ingestion = [&](std::size_t, const Ingestion& in) -> std::optional<std::string> {
    if (!in.spectra.empty()) ++kept_documents;
    return std::nullopt;
  };
  EXPECT_EQ(table_tsv(run_batch(kFake, files, s).rows), streamed);
  EXPECT_EQ(kept_documents.load(), 3);
}

// A report's peak views hand the hook each qualifier's whole trace and
// change nothing in the rows or the qualifier fits.
TEST(BatchRunner, PeakViewsAddQualifierTracesAndLeaveTheRowsAlone) {
  const auto files = files_of({"a.mzML", "b_missing.mzML", "g.mzML"});
  BatchSettings s;
  s.targets = two_targets();
  s.targets[0].qualifiers = {{147, 30.0}, {207, 10.0}};
  s.jobs = 2;
  s.on_target = [](std::size_t, std::size_t,
                   const TargetRun& run) -> std::optional<std::string> {
    EXPECT_TRUE(run.qualifier_traces.empty());
    return std::nullopt;
  };
  const BatchOutcome plain = run_batch(kFake, files, s);
  std::atomic<int> with_traces{0};
  s.peak_views = true;
  s.on_target = [&](std::size_t, std::size_t t,
                    const TargetRun& run) -> std::optional<std::string> {
    EXPECT_EQ(run.qualifier_traces.size(), t == 0 ? 2u : 0u);
    for (const QualifierTrace& q : run.qualifier_traces) {
      EXPECT_FALSE(q.trace.retention_time.empty());
      EXPECT_EQ(q.trace.retention_time.size(), q.trace.intensity.size());
    }
    if (!run.qualifier_traces.empty()) ++with_traces;
    return std::nullopt;
  };
  const BatchOutcome viewed = run_batch(kFake, files, s);
  EXPECT_EQ(with_traces.load(), 2);  // target 0 in the two readable files
  EXPECT_EQ(table_tsv(viewed.rows), table_tsv(plain.rows));
  ASSERT_EQ(viewed.qualifier_fits.size(), plain.qualifier_fits.size());
  const auto fields = [](const std::vector<tables::IonFit>& fits) {
    std::vector<std::tuple<std::string, std::optional<double>, std::optional<double>,
                           std::string, std::optional<double>>>
        out;
    for (const tables::IonFit& f : fits)
      out.emplace_back(f.fit_status, f.area, f.retention_time, f.detection,
                       f.signal_to_noise);
    return out;
  };
  for (std::size_t i = 0; i < plain.qualifier_fits.size(); ++i)
    EXPECT_EQ(fields(viewed.qualifier_fits[i]), fields(plain.qualifier_fits[i])) << i;
}

TEST(BatchRunner, HooksSeeEveryDocumentAndPlotsAreWritten) {
  TempDir dir;
  BatchSettings s;
  s.targets = two_targets();
  s.jobs = 2;
  std::atomic<int> ingested{0};
  std::atomic<int> targets{0};
  s.on_ingestion = [&](std::size_t, const Ingestion& in) -> std::optional<std::string> {
    ++ingested;
    EXPECT_NE(in.run_summary.empty(), in.diagnostics.empty());  // one or the other
    return std::nullopt;
  };
  s.on_target = [&](std::size_t, std::size_t,
                    const TargetRun& run) -> std::optional<std::string> {
    ++targets;
    EXPECT_FALSE(run.fit_diagnostics.empty());
    return std::string("hook failed");
  };
  const auto files = files_of({"x/a.mzML", "y/a.mzML", "m_missing"});
  figures::attach_plot_writer(s, files, dir.path.string());
  const BatchOutcome out = run_batch(kFake, files, s);
  EXPECT_EQ(ingested.load(), 3);
  EXPECT_EQ(targets.load(), 4);
  EXPECT_EQ(out.write_errors.size(), 4u);
  // Two files share a name: the second gets a suffix instead of overwriting.
  for (const char* name :
       {"a.mzML__TMS.svg", "a.mzML__P03.svg", "a.mzML-2__TMS.svg", "a.mzML-2__P03.svg"}) {
    EXPECT_TRUE(fs::exists(dir.path / name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir.path / "m_missing__TMS.svg"));
}

TEST(BatchRunner, InputsExpandFromFoldersGlobsAndPaths) {
  TempDir dir;
  fs::create_directories(dir.path / "runs" / "sub");
  fs::create_directories(dir.path / "runs" /
                         "folder.mzML");  // a directory with an mzML name
  fs::create_directories(dir.path / "nothing");
  for (const char* f : {"runs/b.mzML", "runs/a.MZML", "runs/c.mzML.gz", "runs/notes.txt",
                        "runs/sub/deep.mzML", "g1.mzML", "g2.mzML"}) {
    std::ofstream(dir.path / f) << "x";
  }
  const std::vector<std::string> inputs{
      dir / "runs",    dir / "g*.mzML",    dir / "runs/b.mzML",  // b twice: kept once
      dir / "nothing", dir / "none*.mzML", dir / "absent.mzML"};
  const std::vector<BatchFile> files = expand_inputs(inputs);
  std::vector<std::string> got;
  got.reserve(files.size());
  for (const BatchFile& f : files) {
    got.push_back(fs::path(f.path).lexically_relative(dir.path).string() +
                  (f.problem.empty() ? "" : " [" + f.problem + "]"));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"absent.mzML", "g1.mzML", "g2.mzML",
                                           "none*.mzML", "nothing [no_mzml_files]",
                                           "runs/a.MZML", "runs/b.mzML", "runs/c.mzML.gz",
                                           "runs/folder.mzML"}));
}

TEST(BatchRunner, FileNamesAreMadeSafe) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"P01", "P01"}, {"a b/c", "a_b_c"},           {"..", "_.."},
      {"", "_"},      {"m/z 73@1.2", "m_z_73_1.2"}, {"\xC3\xA9t\xC3\xA9", "__t__"}};
  for (const Case& c : cases) EXPECT_EQ(safe_file_name(c.in), c.want) << c.in;
}

TEST(BatchRunner, ProgressLinesCountFiles) {
  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* mem = open_memstream(&buf, &size);
  {
    Progress p(mem, Progress::Mode::kLines, 2);
    p.file_done("a.mzML", "ok");
    p.file_done("b.mzML", "file_not_found");
    p.finish();
  }
  std::fclose(mem);
  EXPECT_EQ(std::string(buf, size), "[1/2] a.mzML: ok\n[2/2] b.mzML: file_not_found\n");
  std::free(buf);
}

// The commands themselves, with their outputs and exit codes.
struct CommandRun {
  int code = -1;
  std::string out;
  std::string err;
};

CommandRun run_command(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  const std::vector<std::string_view> views(words.begin(), words.end());
  const CliParse p = parse_command_line(views);
  EXPECT_EQ(p.error, "") << line;
  std::ostringstream out;
  std::ostringstream err;
  std::FILE* devnull = std::fopen("/dev/null", "w");
  CommandIo io{out, err, devnull, false};
  CommandRun r;
  r.code = p.options.command == Command::kChain ? run_chain_command(p.options, kFake, io)
                                                : run_batch_command(p.options, kFake, io);
  std::fclose(devnull);
  r.out = out.str();
  r.err = err.str();
  return r;
}

TEST(Commands, BatchExitCodes) {
  TempDir dir;
  std::ofstream(dir / "t.tsv") << "name\tmz\trt\nTMS\t73\t1.2\nP03\t147\t1.3\n";
  std::ofstream(dir / "bad.tsv") << "name\tmz\trt\nTMS\t73\n";
  struct Case {
    std::string args;
    int code;
  };
  const Case cases[] = {
      {"batch a.mzML b.mzML --targets " + dir / "t.tsv", kExitOk},
      {"batch a.mzML b_missing.mzML --targets " + dir / "t.tsv", kExitNotProcessed},
      {"batch e_empty.mzML --mz 73 --rt 1", kExitNotProcessed},
      {"batch a.mzML --targets " + dir / "bad.tsv", kExitTargetsInvalid},
      {"batch a.mzML --targets " + dir / "absent.tsv", kExitNoInput},
      {"batch a.mzML --targets " + dir.path.string(), kExitNoInput},
      {"batch a.mzML --mz 73 --rt 1 --table " + dir / "no/such/dir/t.tsv",
       kExitCannotWrite},
      // An output that cannot be written outweighs files that failed.
      {"batch b_missing.mzML --mz 73 --rt 1 --jsonl " + dir / "no/such/dir/t.jsonl",
       kExitCannotWrite},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CommandRun r = run_command(c.args);
    EXPECT_EQ(r.code, c.code) << r.err;
  }
}

// A workflow splits a sequence with `vxrun inputs`: its lines must be the
// paths batch reads, in batch's order, whatever order the inputs came in.
TEST(Commands, InputsPrintsTheFilesBatchReads) {
  TempDir dir;
  fs::create_directories(dir.path / "runs");
  fs::create_directories(dir.path / "empty");
  for (const char* f : {"runs/b.mzML", "runs/a.mzML.gz", "g1.mzML"}) {
    std::ofstream(dir.path / f) << "x";
  }
  const std::vector<std::string> inputs{dir / "runs", dir / "missing.mzML", dir / "g*.mzML",
                                        dir / "empty", dir / "runs/b.mzML"};
  std::string want;
  for (const BatchFile& f : expand_inputs(inputs)) want += f.path + "\n";
  const std::vector<std::string_view> views{"inputs", inputs[0], inputs[1], inputs[2],
                                            inputs[3], inputs[4]};
  const CliParse p = parse_command_line(views);
  ASSERT_EQ(p.error, "");
  ASSERT_EQ(p.options.command, Command::kInputs);
  std::ostringstream out;
  std::ostringstream err;
  CommandIo io{out, err, nullptr, false};
  EXPECT_EQ(run_inputs_command(p.options, io), kExitOk);
  EXPECT_EQ(out.str(), want);
  EXPECT_EQ(std::count(want.begin(), want.end(), '\n'), 5);  // b.mzML once
}

TEST(Commands, BatchWritesTableJsonlAndPlots) {
  TempDir dir;
  std::ofstream(dir / "t.csv") << "name,mz,rt\nTMS,73,1.2\n";
  const CommandRun r =
      run_command("batch b.mzML a.mzML c_missing.mzML --targets " + dir / "t.csv" +
                  " --table " + dir / "out.tsv" + " --jsonl " + dir / "out.jsonl" +
                  " --plot " + dir / "plots" + " -j 2");
  EXPECT_EQ(r.code, kExitNotProcessed);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("3 files, 3 rows, 1 not processed"), std::string::npos) << r.err;
  std::ifstream tsv(dir / "out.tsv");
  std::vector<std::string> lines;
  for (std::string l; std::getline(tsv, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].substr(0, 11), "a.mzML\tTMS\t");  // sorted by file
  EXPECT_EQ(lines[2].substr(0, 11), "b.mzML\tTMS\t");
  EXPECT_NE(lines[3].find("file_not_found"), std::string::npos);
  std::ifstream jsonl(dir / "out.jsonl");
  int n = 0;
  for (std::string l; std::getline(jsonl, l); ++n) EXPECT_TRUE(parse_json(l).value) << l;
  EXPECT_EQ(n, 3);
  EXPECT_TRUE(fs::exists(dir.path / "plots" / "a.mzML__TMS.svg"));
  EXPECT_TRUE(fs::exists(dir.path / "plots" / "b.mzML__TMS.svg"));
}

TEST(Commands, ChainWritesTheSevenDocumentsAndASummary) {
  TempDir dir;
  const CommandRun r = run_command("chain a.mzML --mz 73 --rt 1.2 --out " + dir / "docs");
  EXPECT_EQ(r.code, kExitOk) << r.err;
  for (std::string_view name :
       {kSpectraFile, kChromatogramsFile, kRunSummaryFile, kTraceFile,
        kTraceDiagnosticsFile, kFitResultFile, kFitDiagnosticsFile}) {
    const fs::path p = dir.path / "docs" / name;
    ASSERT_TRUE(fs::exists(p)) << name;
    EXPECT_TRUE(parse_json(testing::read_file(p)).value) << name;
  }
  EXPECT_FALSE(fs::exists(dir.path / "docs" / kIngestionDiagnosticsFile));
  for (const char* want :
       {"file              a.mzML", "spectra           1", "fit             success",
        "retention time", "height", "width (sigma)", "area", "baseline", "r\xC2\xB2",
        "flags           gcms.fit.solver_converged"}) {
    EXPECT_NE(r.out.find(want), std::string::npos) << want << "\n" << r.out;
  }
}

TEST(Commands, ChainOnAMissingFileSaysWhy) {
  TempDir dir;
  const CommandRun r =
      run_command("chain x_missing.mzML --mz 73 --rt 1.2 --out " + dir / "docs");
  EXPECT_EQ(r.code, kExitNotProcessed);
  EXPECT_NE(r.out.find("status          file_not_found: nothing exists at this path"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::exists(dir.path / "docs" / kIngestionDiagnosticsFile));
  EXPECT_FALSE(fs::exists(dir.path / "docs" / kSpectraFile));
}

TEST(Commands, ChainWithTargetsPutsEachTargetsDocumentsInItsFolder) {
  TempDir dir;
  std::ofstream(dir / "t.tsv") << "name\tmz\trt\nTMS\t73\t1.2\nm/z 147\t147\t1.3\n";
  const CommandRun r = run_command("chain a.mzML --targets " + dir / "t.tsv" + " --out " +
                                   dir / "docs" + " --plot " + dir / "plots");
  EXPECT_EQ(r.code, kExitOk) << r.err;
  EXPECT_TRUE(fs::exists(dir.path / "docs" / kSpectraFile));
  EXPECT_TRUE(fs::exists(dir.path / "docs" / "TMS" / kFitResultFile));
  EXPECT_TRUE(fs::exists(dir.path / "docs" / "m_z_147" / kTraceFile));
  EXPECT_TRUE(fs::exists(dir.path / "plots" / "a.mzML__m_z_147.svg"));
  EXPECT_NE(r.out.find("target            m/z 147: m/z 147"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vx::host::chain
