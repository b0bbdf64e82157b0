// End-to-end: vxrun on netCDF (ANDI-MS) inputs, cut and damaged files, and
// the checks made before a run, as a separate process on real and generated
// files. The rows of a converted file must equal the rows of its mzML: the
// chain cannot tell the two apart.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "andi_file_writer.hpp"
#include "mzml/mzml_reader.hpp"
#include "results_table.hpp"
#include "test_support.hpp"

namespace vx::host::cli {
namespace {

namespace fs = std::filesystem;
using tables::ResultRow;
using vx::testing::read_file;
using vx::testing::ScratchDir;

struct VxrunRun {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs vxrun through the shell; every path these tests pass is free of
// blanks and quotes (scratch folders and the test data).
VxrunRun vxrun(const ScratchDir& dir, const std::string& args) {
  const std::string out = dir / "stdout";
  const std::string err = dir / "stderr";
  const int status = std::system(
      (std::string(VXRUN_PATH) + " " + args + " >" + out + " 2>" + err).c_str());
  VxrunRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = read_file(out);
  r.err = read_file(err);
  return r;
}

std::vector<ResultRow> rows_of(const std::string& tsv) {
  const tables::TableRead t = tables::read_tsv_table(tsv);
  EXPECT_TRUE(t.errors.empty()) << (t.errors.empty() ? "" : t.errors.front());
  return t.rows;
}

// Rows with the file column blanked, to compare two inputs of one run.
std::vector<ResultRow> without_files(std::vector<ResultRow> rows) {
  for (ResultRow& r : rows) r.file.clear();
  return rows;
}

// Three targets on the middle spectrum's strongest peaks, at its time.
std::string targets_for(const std::vector<mzml::MzmlSpectrum>& spectra) {
  const mzml::MzmlSpectrum& s = spectra[spectra.size() / 2];
  const double minutes =
      s.scan_start_time_unit == "second" ? s.scan_start_time / 60.0 : s.scan_start_time;
  std::vector<std::size_t> order(s.mz_array.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return s.intensity_array[a] > s.intensity_array[b];
  });
  std::ostringstream t;
  t.precision(17);
  t << "name,mz,rt\n";
  for (std::size_t k = 0; k < std::min<std::size_t>(3, order.size()); ++k)
    t << "t" << k << "," << s.mz_array[order[k]] << "," << minutes << "\n";
  return t.str();
}

// Writes file as ANDI-MS at cdf; false when it holds no spectra.
bool to_andi(const fs::path& mzml, const fs::path& cdf,
             std::vector<mzml::MzmlSpectrum>& spectra) {
  std::string summary;
  if (!mzml::read_mzml_file(mzml.string(), spectra, summary) || spectra.empty())
    return false;
  vx::testing::convert_mzml_to_andi(spectra, "run", "", cdf);
  return true;
}

std::string bytes_of(const fs::path& p) { return read_file(p.string()); }

// Every sample mzML and its netCDF copy give the same rows; and converting
// the netCDF copy back to mzML with vxrun convert gives them again.
TEST(NetcdfInputs, SameRowsAsTheMzmlAndAfterConvert) {
  ScratchDir dir;
  std::size_t compared = 0;
  for (const auto& e : fs::directory_iterator(vx::testing::test_data("mzml"))) {
    const std::string name = e.path().filename().string();
    if (!name.ends_with(".mzML")) continue;
    SCOPED_TRACE(name);
    std::vector<mzml::MzmlSpectrum> spectra;
    const fs::path cdf = dir.path / (name + ".cdf");
    if (!to_andi(e.path(), cdf, spectra)) continue;
    const fs::path targets = dir.write(name + ".targets.csv", targets_for(spectra));
    const std::string common = " --targets " + targets.string() + " -q -j 2";
    const VxrunRun from_mzml = vxrun(dir, "batch " + e.path().string() + common);
    const VxrunRun from_cdf = vxrun(dir, "batch " + cdf.string() + common);
    ASSERT_EQ(from_mzml.code, 0) << from_mzml.err;
    ASSERT_EQ(from_cdf.code, 0) << from_cdf.err;
    EXPECT_EQ(without_files(rows_of(from_mzml.out)),
              without_files(rows_of(from_cdf.out)));

    const std::string back = dir / (name + ".back.mzML");
    const VxrunRun convert = vxrun(dir, "convert " + cdf.string() + " -o " + back);
    ASSERT_EQ(convert.code, 0) << convert.err;
    const VxrunRun from_back = vxrun(dir, "batch " + back + common);
    ASSERT_EQ(from_back.code, 0) << from_back.err;
    EXPECT_EQ(without_files(rows_of(from_back.out)),
              without_files(rows_of(from_cdf.out)));
    ++compared;
  }
  EXPECT_GE(compared, 10u);
}

// Every sample cut at 10 %, 50 %, 90 % and one byte before its end, as
// plain mzML, gzip and netCDF: incomplete_file, exit 1, never ok.
TEST(DamagedInputs, CutFilesAreIncompleteNeverOk) {
  ScratchDir dir;
  std::vector<fs::path> whole;
  for (const char* name : {"fullscan_tiny.mzML", "fullscan_basic.mzML", "sim_tiny.mzML",
                           "fullscan_tiny.mzML.gz", "sim_tiny.mzML.gz"}) {
    whole.push_back(vx::testing::test_data(std::string("mzml/") + name));
  }
  for (const char* name : {"fullscan_tiny.mzML", "sim_basic.mzML"}) {
    std::vector<mzml::MzmlSpectrum> spectra;
    const fs::path cdf = dir.path / (std::string(name) + ".cdf");
    ASSERT_TRUE(
        to_andi(vx::testing::test_data(std::string("mzml/") + name), cdf, spectra));
    whole.push_back(cdf);
  }
  for (const fs::path& p : whole) {
    const std::string bytes = bytes_of(p);
    // A trailing line feed is not content: without it the document is whole.
    const std::size_t content = bytes.find_last_not_of("\r\n") + 1;
    for (const double share : {0.1, 0.5, 0.9, -1.0}) {
      const std::size_t keep =
          share < 0 ? content - 1
                    : static_cast<std::size_t>(static_cast<double>(bytes.size()) * share);
      const std::string cut_name =
          "cut" + std::to_string(keep) + "_" + p.filename().string();
      SCOPED_TRACE(cut_name);
      const fs::path cut = dir.write(cut_name, std::string_view(bytes).substr(0, keep));
      const VxrunRun r = vxrun(dir, "batch " + cut.string() + " --mz 57 --rt 3 -q");
      EXPECT_EQ(r.code, 1) << r.err;
      const auto rows = rows_of(r.out);
      ASSERT_EQ(rows.size(), 1u);
      EXPECT_EQ(rows[0].status, tables::kStatusIncompleteFile) << rows[0].message;
      EXPECT_FALSE(rows[0].message.empty());
      EXPECT_FALSE(rows[0].area.has_value());
    }
  }
}

// Inputs the chain cannot use, each with its status, a message that names
// the problem, and numbers left empty.
TEST(DamagedInputs, BadInputsGetANamedStatus) {
  ScratchDir dir;
  vx::testing::AndiSpec inconsistent;
  vx::testing::add_scan(inconsistent, 1.0, {50.0, 57.0}, {10.0, 20.0});
  vx::testing::add_scan(inconsistent, 2.0, {50.0, 57.0}, {10.0, 20.0});
  inconsistent.point_count = {2, 5};  // more points than the file holds
  vx::testing::write_andi(dir.path / "inconsistent.cdf", inconsistent);
  struct Case {
    std::string name;
    std::string path;
    std::string_view status;
    std::string message_part;
  };
  const fs::path agilent = vx::testing::andi_sample("agilent-gcms-tic.cdf");
  std::vector<Case> cases{
      {"empty mzML", dir.write("empty.mzML", "").string(), tables::kStatusEmptyFile,
       "the file is empty"},
      {"empty netCDF", dir.write("empty.cdf", "").string(), tables::kStatusEmptyFile,
       "the file is empty"},
      {"text named .cdf", dir.write("text.CDF", "name,mz,rt\n").string(),
       tables::kStatusUnsupportedEncoding, "netCDF"},
      {"missing netCDF", dir / "missing.cdf", tables::kStatusFileNotFound,
       "nothing exists"},
      {"inconsistent counts", dir / "inconsistent.cdf", tables::kStatusInconsistentFile,
       ""},
      {"no spectra (mzXML)",
       vx::testing::shared_file("data/mzml/fullscan_tiny.mzXML").string(),
       tables::kStatusNoSpectra, "no spectra"},
  };
  if (!agilent.empty()) {
    cases.push_back({"chromatography-only AIA", agilent.string(),
                     tables::kStatusNoMassSpectra, "without mass spectra"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!fs::exists(c.path) && c.status != tables::kStatusFileNotFound) continue;
    const VxrunRun r = vxrun(dir, "batch " + c.path + " --mz 57 --rt 1.5 -q");
    EXPECT_EQ(r.code, 1) << r.err;
    const auto rows = rows_of(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].status, c.status);
    EXPECT_NE(rows[0].message.find(c.message_part), std::string::npos) << rows[0].message;
    EXPECT_FALSE(rows[0].height || rows[0].area || rows[0].r_squared ||
                 rows[0].retention_time);
  }
}

// The real vendor ANDI-MS file reads as a run of 41 scans.
TEST(NetcdfInputs, VendorFileReads) {
  const fs::path advion = vx::testing::andi_sample("advion-gcms.cdf");
  if (advion.empty()) GTEST_SKIP() << "the shared ANDI samples are not present";
  ScratchDir dir;
  const VxrunRun r = vxrun(dir, "batch " + advion.string() + " --mz 57 --rt 0.3 -q");
  EXPECT_EQ(r.code, 0) << r.err;
  const auto rows = rows_of(r.out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].status, tables::kStatusOk);
  EXPECT_EQ(rows[0].spectra, uint64_t{41});
}

// A folder holding .cdf and .CDF beside .mzML lists them all.
TEST(NetcdfInputs, FoldersListNetcdfBesideMzml) {
  ScratchDir dir;
  fs::create_directory(dir.path / "in");
  for (const char* n : {"a.mzML", "b.cdf", "c.CDF", "d.txt"})
    dir.write(std::string("in/") + n, "");
  const VxrunRun r = vxrun(dir, "inputs " + (dir / "in"));
  EXPECT_EQ(r.out, dir / "in/a.mzML\n" + dir / "in/b.cdf\n" + dir / "in/c.CDF\n");
}

// A window after the last scan (a minutes/seconds mix-up) is flagged, its
// numbers empty, and the target named once on stderr however many files.
TEST(RunChecks, TargetOutsideTheRunIsFlaggedAndNamedOnce) {
  ScratchDir dir;
  const std::string tiny = vx::testing::test_data("mzml/fullscan_tiny.mzML").string();
  const std::string gz = vx::testing::test_data("mzml/fullscan_tiny.mzML.gz").string();
  const VxrunRun r = vxrun(dir, "batch " + tiny + " " + gz + " --mz 57 --rt 90 -q");
  EXPECT_EQ(r.code, 0) << r.err;
  for (const ResultRow& row : rows_of(r.out)) {
    EXPECT_EQ(row.status, tables::kStatusOk);
    EXPECT_NE(std::find(row.flags.begin(), row.flags.end(), tables::kFlagRtOutsideRun),
              row.flags.end());
    EXPECT_FALSE(row.area || row.height || row.r_squared);
  }
  EXPECT_EQ(r.err.find("57@90"), r.err.rfind("57@90")) << r.err;
  EXPECT_NE(r.err.find("outside the run of 2 files"), std::string::npos) << r.err;
}

// Outputs whose folder is missing stop the run before any file is read.
TEST(RunChecks, UnwritableOutputsStopBeforeTheWork) {
  ScratchDir dir;
  const std::string tiny = vx::testing::test_data("mzml/fullscan_tiny.mzML").string();
  for (const std::string opt : {"--table", "--jsonl", "--report", "--measurements"}) {
    SCOPED_TRACE(opt);
    const VxrunRun r = vxrun(dir, "batch " + tiny + " --mz 57 --rt 3 --no-progress " +
                                      opt + " " + (dir / "missing/out.txt"));
    EXPECT_EQ(r.code, 73);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("[1/1]"), std::string::npos) << "a file was read: " << r.err;
  }
  const VxrunRun convert =
      vxrun(dir, "convert " + vx::testing::test_data("mzml/fullscan_tiny.mzML").string() +
                     " -o " + (dir / "missing/x.mzML"));
  EXPECT_EQ(convert.code, 73);
}

}  // namespace
}  // namespace vx::host::cli
