// Tables as spreadsheets save them, and the run facts read from a spectra
// document: the same targets and sample list whatever the separator, the
// decimal mark, a byte-order mark or CR LF line ends; the scan range from
// the first and last entry.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "run_inputs.hpp"
#include "sample_list.hpp"
#include "table_text.hpp"
#include "targets.hpp"

namespace vx::host::tables {
namespace {

TEST(SpreadsheetTables, CellNumbersFollowTheSeparator) {
  struct Case {
    std::string_view cell;
    char delimiter;
    std::optional<double> want;
  };
  const Case cases[] = {
      {"1.5", ',', 1.5},
      {"1,5", ';', 1.5},
      {"1.5", ';', 1.5},
      {"-0,25", ';', -0.25},
      {"1,5", ',', std::nullopt},  // a comma there splits cells
      {"1,5", '\t', std::nullopt},
      {"1.234,5", ';', std::nullopt},  // thousands: refused
      {"1,2,3", ';', std::nullopt},
      {"", ';', std::nullopt},
      {"1e3", ';', 1000.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cell) + " split on '" + c.delimiter + "'");
    EXPECT_EQ(base::parse_cell_number(c.cell, c.delimiter), c.want);
  }
}

TEST(SpreadsheetTables, HeaderDecidesTheSeparator) {
  struct Case {
    std::string_view header;
    char want;
  };
  const Case cases[] = {{"name,mz,rt", ','},    {"name;mz;rt", ';'},
                        {"name\tmz;rt", '\t'},  {"\"a;b\",mz,rt", ','},
                        {"\"a,b\";mz;rt", ';'}, {"mz", ','}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    EXPECT_EQ(base::header_delimiter(c.header), c.want);
  }
}

// The same targets table saved five ways reads as the same targets.
TEST(SpreadsheetTables, TargetsSavedAnyWayReadTheSame) {
  const std::string_view plain =
      "name,mz,rt,rt_tol,qualifiers\nA,57,3.5,0.25,71:35;85:12.5\nB,71.5,4,,\n";
  const std::string_view variants[] = {
      "name\tmz\trt\trt_tol\tqualifiers\nA\t57\t3.5\t0.25\t71:35;85:12.5\nB\t71."
      "5\t4\t\t\n",
      "\xEF\xBB\xBFname;mz;rt;rt_tol;qualifiers\r\nA;57;3,5;0,25;\"71:35;85:12,5\"\r\n"
      "B;71,5;4;;\r\n",
      "name;mz;rt;rt_tol;qualifiers\nA;57;3.5;0.25;\"71:35;85:12.5\"\nB;71.5;4;;\n",
      "\xEF\xBB\xBF\"name\",\"mz\",\"rt\",\"rt_tol\",\"qualifiers\"\r\n"
      "\"A\",57,3.5,0.25,\"71:35;85:12.5\"\r\n\"B\",71.5,4,,\r\n",
  };
  const TargetDefaults defaults;
  const TargetsParse want = parse_targets(plain, defaults, "plain.csv");
  ASSERT_TRUE(want.errors.empty()) << want.errors.front();
  ASSERT_EQ(want.targets.size(), 2u);
  for (const std::string_view v : variants) {
    SCOPED_TRACE(v);
    const TargetsParse got = parse_targets(v, defaults, "saved.csv");
    ASSERT_TRUE(got.errors.empty()) << got.errors.front();
    ASSERT_EQ(got.targets.size(), want.targets.size());
    for (std::size_t i = 0; i < got.targets.size(); ++i) {
      EXPECT_EQ(got.targets[i].name, want.targets[i].name);
      EXPECT_EQ(got.targets[i].mz, want.targets[i].mz);
      EXPECT_EQ(got.targets[i].rt, want.targets[i].rt);
      EXPECT_EQ(got.targets[i].rt_tol, want.targets[i].rt_tol);
      ASSERT_EQ(got.targets[i].qualifiers.size(), want.targets[i].qualifiers.size());
      for (std::size_t q = 0; q < got.targets[i].qualifiers.size(); ++q) {
        EXPECT_EQ(got.targets[i].qualifiers[q].mz, want.targets[i].qualifiers[q].mz);
        EXPECT_EQ(got.targets[i].qualifiers[q].expected_percent,
                  want.targets[i].qualifiers[q].expected_percent);
      }
    }
  }
}

TEST(SpreadsheetTables, SampleListWithDecimalCommasReads) {
  const std::string names[] = {"A"};
  const SampleListParse got = parse_sample_list(
      "\xEF\xBB\xBF"
      "file;type;A\r\ns1.mzML;standard;2,5\r\nb.mzML;blank;\r\n",
      names, "s.csv");
  ASSERT_TRUE(got.errors.empty()) << got.errors.front();
  ASSERT_EQ(got.entries.size(), 2u);
  EXPECT_EQ(got.entries[0].amounts[0], 2.5);
}

TEST(RunFacts, ScanRangeFromTheFirstAndLastEntry) {
  struct Case {
    std::string_view doc;
    std::optional<std::pair<double, double>> want;
  };
  const Case cases[] = {
      {R"({"spectra":[{"index":0,"scan_start_time":3,"scan_start_time_unit":"minute","mz_array":[1]},)"
       R"({"index":1,"scan_start_time":4.5,"scan_start_time_unit":"minute","mz_array":[1]}]})",
       std::pair{3.0, 4.5}},
      {R"({"spectra":[{"index":0,"scan_start_time":60,"scan_start_time_unit":"second"},)"
       R"({"index":1,"scan_start_time":120,"scan_start_time_unit":"second"}]})",
       std::pair{1.0, 2.0}},
      {R"({"spectra":[{"index":0,"scan_start_time":2,"scan_start_time_unit":"minute"}]})",
       std::pair{2.0, 2.0}},
      {R"({"spectra":[]})", std::nullopt},
      {R"({"spectra":[{"index":0,"mz_array":[]}]})", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    const auto got = chain::scan_range(c.doc);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got) {
      EXPECT_DOUBLE_EQ(got->first, c.want->first);
      EXPECT_DOUBLE_EQ(got->last, c.want->second);
    }
  }
}

TEST(RunFacts, WindowOutsideTheRun) {
  const chain::ScanRange run{3.0, 5.0};
  struct Case {
    double rt, tol;
    bool outside;
  };
  const Case cases[] = {{4, 0.3, false},  {90, 0.3, true},   {2.8, 0.3, false},
                        {2.6, 0.3, true}, {5.3, 0.3, false}, {5.31, 0.3, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rt);
    EXPECT_EQ(chain::window_outside_run(c.rt, c.tol, run), c.outside);
  }
}

}  // namespace
}  // namespace vx::host::tables
