#include "results_table.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "json_lite.hpp"

namespace vx::host::tables {

using base::JsonParse;
using base::JsonValue;
using base::parse_json;

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
            "gcms.ingest.file_not_found\tnothing exists at this path" + std::string(17, '\t') + "\n");
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
}  // namespace vx::host::tables

namespace vx::host::tables {
namespace {

// Gives the column's member a value that differs from the default row's.
void set_distinct(ResultRow& r, const Column& c) {
  std::visit(
      [&](auto member) {
        using T = std::remove_reference_t<decltype(r.*member)>;
        if constexpr (std::is_same_v<T, std::string>) {
          r.*member = "v\t" + std::string(c.name);
        } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
          r.*member = {"a.b", "c\\d"};
        } else if constexpr (std::is_same_v<T, double> ||
                             std::is_same_v<T, std::optional<double>>) {
          r.*member = 0.1 + static_cast<double>(c.name.size());
        } else {
          r.*member = 7;
        }
      },
      c.field);
}

// Every column, taken from the column list itself: changing one member
// changes exactly that column's TSV cell and JSON member, and both readers
// give the row back. A new column is covered without touching this test.
TEST(ResultsTable, EveryColumnRoundTripsThroughBothFormats) {
  const ResultRow base;
  const std::string base_tsv = table_tsv(std::span(&base, 1));
  for (std::size_t i = 0; i < result_columns().size(); ++i) {
    const Column& c = result_columns()[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(table_columns()[i], c.name);
    ResultRow row;
    set_distinct(row, c);
    const std::string tsv = table_tsv(std::span(&row, 1));
    const auto base_cells = split(split(base_tsv, '\n')[1], '\t');
    const auto cells = split(split(tsv, '\n')[1], '\t');
    ASSERT_EQ(cells.size(), result_columns().size());
    for (std::size_t k = 0; k < cells.size(); ++k) {
      EXPECT_EQ(cells[k] != base_cells[k], k == i) << "cell " << k;
    }
    const TableRead t = read_tsv_table(tsv);
    ASSERT_EQ(t.errors, std::vector<std::string>{});
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0], row);

    const std::string jsonl = table_jsonl(std::span(&row, 1));
    const JsonParse p = parse_json(jsonl);
    ASSERT_TRUE(p.value) << p.error;
    EXPECT_EQ(p.value->members.at(i).key, c.name);
    const TableRead j = read_jsonl_table(jsonl);
    ASSERT_EQ(j.errors, std::vector<std::string>{});
    ASSERT_EQ(j.rows.size(), 1u);
    EXPECT_EQ(j.rows[0], row);
  }
}

// Whole tables: several rows, CRLF line ends and blank lines read back.
TEST(ResultsTable, WholeTablesReadBack) {
  ResultRow odd = fitted_row();
  odd.file = "a\tb\nc\rd\\e.mzML";
  odd.flags = {"gcms.sim.weak_trace", "gcms.fit.solver_converged"};
  odd.fit_status.clear();
  odd.spectra.reset();
  const std::vector<ResultRow> rows{fitted_row(), odd};
  std::string crlf;
  for (const char ch : table_tsv(rows) + "\n") {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  for (const std::string& text : {table_tsv(rows), crlf}) {
    const TableRead t = read_tsv_table(text);
    EXPECT_EQ(t.errors, std::vector<std::string>{});
    EXPECT_EQ(t.rows, rows);
  }
  const TableRead j = read_jsonl_table(table_jsonl(rows));
  EXPECT_EQ(j.errors, std::vector<std::string>{});
  EXPECT_EQ(j.rows, rows);
  // A table an earlier version wrote ends at "message", the first release's
  // last column: it still reads (a sequence measured over several versions
  // merges), the newer columns left empty.
  std::string older;
  const std::string current = table_tsv(std::span(rows.data(), 1));
  for (std::string_view rest = current; !rest.empty();) {
    const std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(line.size() + 1);
    std::size_t cut = 0;
    for (int tabs = 0; tabs < 18; ++tabs) cut = line.find('\t', cut) + 1;
    older.append(line.substr(0, cut - 1)).append("\n");
  }
  const TableRead o = read_tsv_table(older);
  EXPECT_EQ(o.errors, std::vector<std::string>{});
  EXPECT_EQ(o.rows, std::vector<ResultRow>{rows[0]});
}

TEST(ResultsTable, ReadersNameTheBadLine) {
  const ResultRow good = fitted_row();
  std::string header;
  append_tsv_header(header);
  std::string row;
  append_tsv_row(row, good);
  const std::string json = table_jsonl(std::span(&good, 1));
  const auto replace = [](std::string s, std::string_view from, std::string_view to) {
    return s.replace(s.find(from), from.size(), to);
  };
  struct Case {
    std::string text;
    bool tsv;
    std::string says;
  };
  const std::string expected = "expected " + std::to_string(result_columns().size());
  const Case cases[] = {
      {"", true, "line 1: no header line"},
      {"file\ttarget\n" + row, true, "line 1: not the results table's header"},
      {header + "a\tb\n", true, "line 2: " + expected},
      {header + replace(row, "\tTMS", "\tTMS\tx"), true, "line 2: " + expected},
      {header + replace(row, "\t73\t", "\tseventy\t"), true, "line 2: column mz"},
      {header + replace(row, "\t211\t", "\t-3\t"), true, "line 2: column spectra"},
      {header + replace(row, "\t9\t", "\t9.5\t"), true, "line 2: column iterations"},
      {header + replace(row, "data/run", "data\\xrun"), true, "line 2: column file"},
      {header + row + row + "x\n", true, "line 4: " + expected},
      {"{\"file\":1}\n", false, "line 1: member file has a value of the wrong kind"},
      {"[1]\n", false, "line 1: not a JSON object"},
      {"{\"file\":\n", false, "line 1:"},
      {json + replace(json, "\"target\":\"TMS\",", ""), false, "line 2: member target"},
      {replace(json, "{", "{\"extra\":1,"), false, "line 1: unknown member 'extra'"},
      {replace(json, "\"spectra\":211", "\"spectra\":-1"), false, "member spectra"},
      {replace(json, "\"spectra\":211", "\"spectra\":2.5"), false, "member spectra"},
      {replace(json, "\"iterations\":9", "\"iterations\":1e300"), false, "iterations"},
      {replace(json, "[\"gcms", "[3,\"gcms"), false, "member flags"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TableRead t = c.tsv ? read_tsv_table(c.text) : read_jsonl_table(c.text);
    ASSERT_FALSE(t.errors.empty());
    EXPECT_NE(t.errors[0].find(c.says), std::string::npos) << t.errors[0];
  }
}

// Tables written before the decision columns existed still read (merge
// joins parts of old and new runs): a TSV header that stops at or after
// message, a JSON line without the later members. The columns of the first
// version stay required.
TEST(ResultsTable, OlderTablesWithoutLaterColumnsStillRead) {
  ResultRow decided = fitted_row();
  decided.detection = "detected";
  decided.signal_to_noise = 40;
  const std::string tsv = table_tsv(std::span(&decided, 1));
  const std::size_t message_column = 17;  // the last column of the first version
  std::size_t sn_column = 0;
  while (result_columns()[sn_column].name != "signal_to_noise") ++sn_column;
  const auto cut_tsv = [&](std::size_t columns) {
    std::string out;
    for (const std::string& line : split(tsv, '\n')) {
      if (line.empty()) continue;
      const auto cells = split(line, '\t');
      for (std::size_t i = 0; i < columns; ++i) out += (i ? "\t" : "") + cells[i];
      out += '\n';
    }
    return out;
  };
  ResultRow old = decided;
  old.detection.clear();
  old.signal_to_noise.reset();
  struct Case {
    std::string name, text;
    bool tsv;
    std::optional<ResultRow> want;  // empty: refused
  };
  std::string json = table_jsonl(std::span(&decided, 1));
  const auto drop = [](std::string s, std::string_view from) {
    const std::size_t at = s.find(from);
    const std::size_t end = s.find_first_of(",}", s.find(':', at));
    return s.erase(at - 1, end - at + 1);
  };
  const Case cases[] = {
      {"first version TSV", cut_tsv(message_column + 1), true, old},
      {"TSV stopping after signal_to_noise", cut_tsv(sn_column + 1), true,
       [&] { ResultRow r = old; r.signal_to_noise = 40; return r; }()},
      {"TSV without message", cut_tsv(message_column), true, std::nullopt},
      {"JSON without detection and S/N", drop(drop(json, "\"detection\""), "\"signal_to_noise\""),
       false, old},
      {"JSON without message", drop(json, "\"message\""), false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TableRead t = c.tsv ? read_tsv_table(c.text) : read_jsonl_table(c.text);
    if (!c.want) {
      EXPECT_FALSE(t.errors.empty());
      continue;
    }
    EXPECT_EQ(t.errors, std::vector<std::string>{});
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0], *c.want);
  }
}

}  // namespace
}  // namespace vx::host::tables
