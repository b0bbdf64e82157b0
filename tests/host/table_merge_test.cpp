#include "table_merge.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace vx::host {
namespace {

ResultRow row(std::string file, std::string target, std::string status = "ok") {
  ResultRow r;
  r.file = std::move(file);
  r.target = std::move(target);
  r.mz = 73;
  r.rt = 1.18;
  r.status = std::move(status);
  if (r.status == "ok") {
    r.spectra = 211;
    r.trace_points = 198;
    r.max_intensity = 124559.5;
    r.fit_status = "success";
    r.retention_time = 1.1779478364330214;
    r.height = 28065.734923649863;
    r.width = 0.03202811229334632;
    r.area = 2253.189380743112;
    r.baseline = 0;
    r.r_squared = 0.99912;
    r.iterations = 9;
    r.flags = {"gcms.fit.solver_converged", "gcms.sim.weak_trace"};
  } else {
    r.flags = {"gcms.ingest." + r.status};
    r.message = "why\tit failed\\";
  }
  return r;
}

// Whatever the writer can put in a table reads back to rows that it writes
// again as the same bytes: escapes, non-finite and absent numbers, 2^64-1.
TEST(TableMerge, ReadingAWrittenTableGivesTheSameBytes) {
  ResultRow odd = row("a\tb\nc\rd\\e.mzML", "x\\ty");
  odd.height = std::numeric_limits<double>::infinity();
  odd.width = -std::numeric_limits<double>::infinity();
  odd.r_squared = std::numeric_limits<double>::quiet_NaN();
  odd.spectra = std::numeric_limits<uint64_t>::max();
  odd.iterations = -1;
  odd.max_intensity = 5e-324;
  ResultRow no_fit = row("b.mzML", "");
  no_fit.fit_status.clear();
  no_fit.retention_time.reset();
  no_fit.flags.clear();
  const std::vector<ResultRow> rows{row("run 1.mzML", "TMS"), odd, no_fit,
                                    row("gone.mzML", "TMS", "file_not_found")};
  const std::string tsv = table_tsv(rows);
  const TableRead read = read_tsv_table(tsv);
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(table_tsv(read.rows), tsv);
  EXPECT_EQ(table_jsonl(read.rows), table_jsonl(rows));
  EXPECT_EQ(read.rows[1].file, "a\tb\nc\rd\\e.mzML");
}

// Parts come in any order; the merged rows are sorted by file (bytewise,
// as the batch sorts paths) and keep each file's target order.
TEST(TableMerge, OrderIsTheBatchOrder) {
  struct Case {
    std::vector<std::vector<ResultRow>> parts;
    std::vector<std::string> want;  // "file target"
    std::size_t files_failed;
  };
  const std::vector<Case> cases{
      {{{row("b", "T2"), row("b", "T1")}, {row("a", "T2"), row("a", "T1")}},
       {"a T2", "a T1", "b T2", "b T1"},
       0},
      {{{row("data/z.mzML", "T")},
        {row("data/B.mzML", "T", "no_spectra")},
        {row("data/\xc3\xa9.mzML", "T")},
        {row("data/a.mzML", "T")}},
       {"data/B.mzML T", "data/a.mzML T", "data/z.mzML T", "data/\xc3\xa9.mzML T"},
       1},
      {{{row("x", "A"), row("x", "B", "step_failed")}, {row("m", "A", "file_not_found")}},
       {"m A", "x A", "x B"},
       2},
      {{{}}, {}, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> texts;
    for (const auto& rows : c.parts) texts.push_back(table_tsv(rows));
    std::vector<TablePart> parts;
    for (const std::string& t : texts) parts.push_back({"part", t});
    const MergeOutcome m = merge_tables(parts);
    ASSERT_EQ(m.error, "");
    std::vector<std::string> got;
    for (const ResultRow& r : m.rows) got.push_back(r.file + " " + r.target);
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(m.files_failed, c.files_failed);
  }
}

// A damaged part is refused with its name and the line; nothing is merged.
TEST(TableMerge, DamagedPartsAreNamed) {
  const std::string good = table_tsv(std::vector<ResultRow>{row("a.mzML", "T")});
  const std::string header = good.substr(0, good.find('\n') + 1);
  const std::string line = good.substr(header.size());
  const auto with = [&](std::string_view from, std::string_view to) {
    std::string s = line;
    s.replace(s.find(from), from.size(), to);
    return header + s;
  };
  struct Case {
    std::string text;
    std::string want;
  };
  const std::vector<Case> cases{
      {"", "p2: empty"},
      {good.substr(0, good.size() - 1), "p2: the last line is incomplete"},
      {good.substr(0, good.size() - 20), "p2: the last line is incomplete"},
      {"file\ttarget\n" + line, "p2: line 1: not the header"},
      {header.substr(0, header.size() - 1) + "\tsample\n" + line, "p2: line 1:"},
      {header + line + "a.mzML\tT\n", "p2: line 3: not 18 cells"},
      {header + line.substr(0, line.size() - 1) + "\textra\n", "line 2: not 18 cells"},
      {with("\t73\t", "\tseventy\t"), "line 2: unreadable mz"},
      {with("\t211\t", "\t-3\t"), "line 2: unreadable spectra"},
      {with("\t9\t", "\t9.5\t"), "line 2: unreadable iterations"},
      {with("\tok\t", "\t\t"), "line 2: unreadable status"},
      {with("a.mzML", "a\\x.mzML"), "line 2: unreadable file"},
      {with("a.mzML", ""), "line 2: unreadable file"},
      {with("converged,", "converged,,"), "line 2: unreadable flags"},
      {header + line, "p2: the file a.mzML is also in p1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TablePart parts[] = {{"p1", good}, {"p2", c.text}};
    const MergeOutcome m = merge_tables(parts);
    EXPECT_NE(m.error.find(c.want), std::string::npos) << m.error;
    EXPECT_TRUE(m.rows.empty());
  }
}

}  // namespace
}  // namespace vx::host
