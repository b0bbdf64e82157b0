#include "results_table.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "json_lite.hpp"

namespace vx::host {
namespace {

ResultRow fitted_row() {
  ResultRow r;
  r.file = "data/run 1.mzML";
  r.target = "TMS";
  r.mz = 73;
  r.rt = 1.18;
  r.status = "ok";
  r.spectra = 211;
  r.trace_points = 211;
  r.max_intensity = 124559.5;
  r.fit_status = "success";
  r.retention_time = 1.1779478364330214;
  r.height = 28065.734923649863;
  r.width = 0.03202811229334632;
  r.area = 2253.189380743112;
  r.baseline = 1366.175716591197;
  r.r_squared = 0.99912;
  r.iterations = 9;
  r.flags = {"gcms.fit.solver_converged"};
  return r;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cell;
  std::istringstream in(s);
  while (std::getline(in, cell, sep)) out.push_back(cell);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

TEST(ResultsTable, TsvHeaderAndRowCellsLineUp) {
  const ResultRow rows[] = {fitted_row()};
  const std::string tsv = table_tsv(rows);
  const auto lines = split(tsv, '\n');
  ASSERT_EQ(lines.size(), 3u);  // header, row, empty after the final newline
  const auto header = split(lines[0], '\t');
  const auto cells = split(lines[1], '\t');
  ASSERT_EQ(header.size(), table_columns().size());
  ASSERT_EQ(cells.size(), header.size());
  const auto cell = [&](std::string_view name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (header[i] == name) return cells[i];
    }
    return std::string("?");
  };
  EXPECT_EQ(cell("file"), "data/run 1.mzML");
  EXPECT_EQ(cell("mz"), "73");
  EXPECT_EQ(cell("rt"), "1.18");
  EXPECT_EQ(cell("spectra"), "211");
  // Shortest text that reads back exactly: no digits lost, none invented.
  EXPECT_EQ(cell("retention_time"), "1.1779478364330214");
  EXPECT_EQ(cell("width"), "0.03202811229334632");
  EXPECT_EQ(cell("iterations"), "9");
  EXPECT_EQ(cell("flags"), "gcms.fit.solver_converged");
  EXPECT_EQ(cell("message"), "");
}

TEST(ResultsTable, FailedFileRowHasEmptyNumberCells) {
  ResultRow r;
  r.file = "missing.mzML";
  r.target = "TMS";
  r.mz = 73;
  r.rt = 1;
  r.status = "file_not_found";
  r.flags = {"gcms.ingest.file_not_found"};
  r.message = "nothing exists at this path";
  std::string line;
  append_tsv_row(line, r);
  EXPECT_EQ(line,
            "missing.mzML\tTMS\t73\t1\tfile_not_found\t\t\t\t\t\t\t\t\t\t\t\t"
            "gcms.ingest.file_not_found\tnothing exists at this path\n");
}

// A file name may hold any byte but '/' and NUL; a tab or line feed in it
// must not shift the columns or split the row.
TEST(ResultsTable, SpecialCharactersStayInTheirCell) {
  ResultRow r = fitted_row();
  r.file = "a\tb\nc\rd\\e.mzML";
  r.target = "x\ty";
  std::string line;
  append_tsv_row(line, r);
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  EXPECT_EQ(split(line.substr(0, line.size() - 1), '\t').size(), table_columns().size());
  EXPECT_EQ(line.substr(0, 23), "a\\tb\\nc\\rd\\\\e.mzML\tx\\ty");
}

TEST(ResultsTable, JsonLinesParseBackWithTheSameValues) {
  ResultRow odd = fitted_row();
  odd.file = "q\"uote\\back\x01slash";
  odd.r_squared = std::numeric_limits<double>::quiet_NaN();
  odd.height = std::numeric_limits<double>::infinity();
  odd.fit_status.clear();
  odd.iterations.reset();
  const ResultRow rows[] = {fitted_row(), odd};
  const auto lines = split(table_jsonl(rows), '\n');
  ASSERT_EQ(lines.size(), 3u);
  const JsonParse a = parse_json(lines[0]);
  ASSERT_TRUE(a.value) << a.error;
  EXPECT_EQ(a.value->text_at("file"), "data/run 1.mzML");
  EXPECT_EQ(a.value->number_at("retention_time"), 1.1779478364330214);
  EXPECT_EQ(a.value->number_at("spectra"), 211.0);
  EXPECT_EQ(a.value->text_at("fit_status"), "success");
  ASSERT_NE(a.value->find("flags"), nullptr);
  EXPECT_EQ(a.value->find("flags")->items.at(0).text, "gcms.fit.solver_converged");
  EXPECT_EQ(a.value->members.size(), table_columns().size());

  const JsonParse b = parse_json(lines[1]);
  ASSERT_TRUE(b.value) << b.error;
  EXPECT_EQ(b.value->text_at("file"), "q\"uote\\back\x01slash");
  // Strict JSON has no NaN or infinity: non-finite numbers become null.
  EXPECT_EQ(b.value->find("r_squared")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(b.value->find("height")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(b.value->find("fit_status")->kind, JsonValue::Kind::kNull);
  EXPECT_EQ(b.value->find("iterations")->kind, JsonValue::Kind::kNull);
}

TEST(ResultsTable, OnlyOkRowsCountAsProcessed) {
  for (const char* s : {"ok", "no_spectra", "file_not_found", "step_failed", ""}) {
    ResultRow r;
    r.status = s;
    EXPECT_EQ(row_processed(r), std::string(s) == "ok") << s;
  }
}

}  // namespace
}  // namespace vx::host
