#include "table_merge.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx::host::tables {
namespace {

// Merging looks at files, targets and statuses; the other cells only need
// to survive the trip, which the results table's own tests cover.
ResultRow row(std::string file, std::string target, std::string status = "ok") {
  ResultRow r;
  r.file = std::move(file);
  r.target = std::move(target);
  r.mz = 73;
  r.rt = 1.18;
  r.status = std::move(status);
  return r;
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
      {"", "p2: line 1: no header line"},
      {good.substr(0, good.size() - 1), "p2: the last line is incomplete"},
      {good.substr(0, good.size() - 20), "p2: the last line is incomplete"},
      {"file\ttarget\n" + line, "p2: line 1: not the results table's header"},
      {header.substr(0, header.size() - 1) + "\tsample\n" + line, "p2: line 1: not the"},
      {header + line + "a.mzML\tT\n", "p2: line 3:"},
      {with("\t73\t", "\tseventy\t"), "p2: line 2:"},
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
}  // namespace vx::host::tables
