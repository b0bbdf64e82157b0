// OpenMS as the oracle of the indexed mzML writer: FileInfo validates the
// converted file against the mzML schema and the controlled vocabulary and
// counts its spectra and peaks, and FileConverter's DTA2D text gives back
// every peak's time, m/z and intensity. A machine without the OpenMS tools
// (Debian's topp) fails this test rather than skipping it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "andi_file_writer.hpp"
#include "mzml_writer.hpp"

namespace vx::host::formats {
namespace {

std::string run_command(const std::string& command, int& status) {
  std::string out;
  std::FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = pclose(p);
  return out;
}

TEST(FormatsOpenms, FileInfoAndFileConverterReadTheConvertedFile) {
  vx::testing::ScratchDir dir;
  std::vector<std::filesystem::path> inputs;
  {
    vx::testing::AndiSpec s;
    s.source_file_reference = "run<1>&.D";
    s.experiment_date_time_stamp = "20240101120000+0100";
    for (int i = 0; i < 30; ++i)
      vx::testing::add_scan(s, 60.0 + 0.5 * i, {73.0 + i, 40.5, 147.25},
                            {1000.0 + i, 55.5, 1.0e6 + i});
    vx::testing::add_scan(s, 80.0, {}, {});
    inputs.push_back(dir.path / "generated.cdf");
    vx::testing::write_andi(inputs.back(), s);
  }
  if (const auto real = vx::testing::andi_sample("advion-gcms.cdf"); !real.empty())
    inputs.push_back(real);
  for (const auto& cdf : inputs) {
    SCOPED_TRACE(cdf.string());
    const AndiReadResult r = read_andi_run(cdf.string());
    ASSERT_EQ(r.status, AndiStatus::kOk) << r.message;
    const auto out = dir.path / "out.mzML";
    std::string error;
    ASSERT_TRUE(write_indexed_mzml(r.run, cdf.string(), out.string(), error)) << error;
    std::size_t peaks = 0;
    for (const AndiSpectrum& s : r.run.spectra) peaks += s.mz_array.size();

    int status = 0;
    // With -v FileInfo only validates; the counts come from a second run.
    const std::string valid = run_command("FileInfo -in " + out.string() + " -v", status);
    ASSERT_EQ(status, 0) << "FileInfo (Debian package topp) failed or is missing:\n" << valid;
    EXPECT_NE(valid.find("Success - the file is valid!"), std::string::npos) << valid;
    EXPECT_NE(valid.find("Success - the file is semantically valid!"), std::string::npos)
        << valid;
    const std::string info = run_command("FileInfo -in " + out.string() + " -c", status);
    ASSERT_EQ(status, 0) << info;
    EXPECT_NE(info.find("Number of spectra: " + std::to_string(r.run.spectra.size())),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("Total number of peaks: " + std::to_string(peaks)), std::string::npos)
        << info;

    const auto text = dir.path / "out.dta2d";
    const std::string conv =
        run_command("FileConverter -in " + out.string() + " -out " + text.string(), status);
    ASSERT_EQ(status, 0) << conv;
    std::ifstream in(text);
    std::string line;
    std::getline(in, line);  // the "#SEC MZ INT" header
    std::size_t checked = 0;
    // OpenMS sorts each spectrum by m/z as it loads it.
    for (const AndiSpectrum& s : r.run.spectra) {
      std::vector<std::pair<double, double>> want;
      for (std::size_t i = 0; i < s.mz_array.size(); ++i)
        want.emplace_back(s.mz_array[i], s.intensity_array[i]);
      std::stable_sort(want.begin(), want.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      const double want_sec =
          s.scan_start_time_unit == "minute" ? 60 * s.scan_start_time : s.scan_start_time;
      for (const auto& [want_mz, want_int] : want) {
        double sec = 0, mz = 0, inten = 0;
        ASSERT_TRUE(static_cast<bool>(in >> sec >> mz >> inten)) << "peak " << checked;
        EXPECT_NEAR(sec, want_sec, 1e-4 * std::max(1.0, std::abs(want_sec)));
        EXPECT_NEAR(mz, want_mz, 1e-5 * std::max(1.0, std::abs(want_mz)));
        EXPECT_NEAR(inten, want_int, 1e-5 * std::max(1.0, std::abs(want_int)));
        ++checked;
        if (HasFailure()) return;
      }
    }
    EXPECT_EQ(checked, peaks);
  }
}

}  // namespace
}  // namespace vx::host::formats
