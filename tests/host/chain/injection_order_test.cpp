// Injection order from files on disk: mzML startTimeStamp and the netCDF
// experiment_date_time_stamp read through file_start_time, compared as UTC
// instants, against the sample list and the command line.
#include "injection_order.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "andi_file_writer.hpp"

namespace vx::host::chain {
namespace {

namespace fs = std::filesystem;

TEST(InjectionOrder, StartTimesBecomeUtcInstants) {
  struct Case {
    std::string_view in;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {"2026-01-01T10:00:00Z", "2026-01-01T10:00:00.000Z"},
      {"2026-01-01T10:00:00", "2026-01-01T10:00:00.000Z"},
      {"2026-01-01T10:00:00.25Z", "2026-01-01T10:00:00.250Z"},
      {"2026-01-01T00:30:00+01:00", "2025-12-31T23:30:00.000Z"},  // across a year
      {"2024-02-28T23:00:00-01:30", "2024-02-29T00:30:00.000Z"},  // into a leap day
      {"2024-02-29T12:00:00Z", "2024-02-29T12:00:00.000Z"},
      {"2023-02-29T12:00:00Z", std::nullopt},
      {"2026-13-01T10:00:00Z", std::nullopt},
      {"2026-01-01 10:00:00", std::nullopt},
      {"2026-01-01T10:00", std::nullopt},
      {"2026-01-01T10:00:00+0100", std::nullopt},
      {"2026-01-01T10:00:00.Z", std::nullopt},
      {"20260101100000", std::nullopt},  // an ANDI stamp that did not convert
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(utc_instant(c.in), c.want);
  }
}

class InjectionOrderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vx_injection_order_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // stamp empty: the file records no start time.
  std::string mzml(const std::string& name, const std::string& stamp) const {
    const fs::path p = dir_ / name;
    std::ofstream out(p, std::ios::binary);
    out << "<?xml version=\"1.0\"?>\n<mzML><run id=\"r\""
        << (stamp.empty() ? "" : " startTimeStamp=\"" + stamp + "\"")
        << ">\n</run></mzML>\n";
    return p.string();
  }
  std::string cdf(const std::string& name, const std::string& stamp) const {
    const fs::path p = dir_ / name;
    testing::AndiSpec s;
    s.experiment_date_time_stamp = stamp;
    testing::add_scan(s, 60.0, {73.0}, {100.0});
    testing::write_andi(p, s);
    return p.string();
  }

  fs::path dir_;
};

TEST_F(InjectionOrderFiles, EachSourceMixedFormatsAndBadStamps) {
  struct File {
    bool netcdf;
    std::string stamp;
  };
  struct Case {
    std::string_view name;
    std::vector<File> files;         // named a.., b.., c.. in this order
    std::vector<std::size_t> lines;  // the sample list's line of each file
    std::vector<std::size_t> want;
    std::string_view source;
  };
  const Case cases[] = {
      {"mzML times",
       {{false, "2026-01-01T10:00:00Z"},
        {false, "2026-01-01T09:00:00Z"},
        {false, "2026-01-01T11:00:00Z"}},
       {},
       {1, 0, 2},
       kOrderStartTime},
      {"netCDF stamps with zones: +0200 at 10:30 is before +0000 at 09:00",
       {{true, "20260101090000+0000"},
        {true, "20260101103000+0200"},
        {true, "20260101100000-0100"}},
       {},
       {1, 0, 2},
       kOrderStartTime},
      {"mzML and netCDF in one sequence",
       {{false, "2026-01-01T09:30:00Z"},
        {true, "20260101100000+0100"},
        {false, "2026-01-01T08:59:59Z"},
        {true, "20260101093000"}},
       {},
       {2, 1, 0, 3},
       kOrderStartTime},
      {"a malformed netCDF stamp: no stamp, the command line's order",
       {{true, "20261301100000"}, {false, "2026-01-01T08:00:00Z"}, {true, "2026"}},
       {},
       {0, 1, 2},
       kOrderCommandLine},
      {"a netCDF file without a stamp",
       {{false, "2026-01-01T10:00:00Z"}, {true, ""}},
       {},
       {0, 1},
       kOrderCommandLine},
      {"a malformed mzML stamp",
       {{false, "yesterday"}, {false, "2026-01-01T08:00:00Z"}},
       {},
       {0, 1},
       kOrderCommandLine},
      {"the sample list before the stamps",
       {{true, "20260101090000+0000"}, {false, "2026-01-01T08:00:00Z"}},
       {7, 3},
       {1, 0},
       kOrderSampleList},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BatchFile> files;
    std::vector<std::string> inputs;
    std::vector<std::optional<std::string>> starts;
    for (std::size_t i = 0; i < c.files.size(); ++i) {
      const std::string name(1, static_cast<char>('a' + i));
      const File& f = c.files[i];
      const std::string path =
          f.netcdf ? cdf(name + ".cdf", f.stamp) : mzml(name + ".mzML", f.stamp);
      files.push_back({path, "", ""});
      inputs.push_back(path);
      if (c.lines.empty()) starts.push_back(file_start_time(path));
    }
    const InjectionOrder o = injection_order(files, inputs, c.lines, starts);
    EXPECT_EQ(o.order, c.want);
    EXPECT_EQ(o.source, c.source);
  }
}

TEST_F(InjectionOrderFiles, RealCutAndMissingFiles) {
  const std::string good = cdf("good.cdf", "20260101090000+0000");
  EXPECT_EQ(file_start_time(good), "2026-01-01T09:00:00.000Z");
  // A netCDF signature with the header cut short, and a file that is absent.
  const fs::path cut = dir_ / "cut.cdf";
  {
    std::ifstream in(good, std::ios::binary);
    std::string head(12, '\0');
    in.read(head.data(), 12);
    std::ofstream(cut, std::ios::binary) << head;
  }
  EXPECT_EQ(file_start_time(cut.string()), std::nullopt);
  EXPECT_EQ(file_start_time((dir_ / "missing.cdf").string()), std::nullopt);
  // A vendor's stamp with trailing digits of no agreed meaning (Advion's
  // "...3600000") keeps its date and time, without a zone.
  const fs::path advion = testing::andi_sample("advion-gcms.cdf");
  ASSERT_FALSE(advion.empty()) << "the shared ANDI samples are missing";
  EXPECT_EQ(file_start_time(advion.string()), "2020-06-22T11:11:26.000Z");
  EXPECT_EQ(file_start_time(testing::andi_sample("agilent-gcms-tic.cdf").string()),
            std::nullopt);
}

}  // namespace
}  // namespace vx::host::chain
