#include "measurement_parts.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vx::host::tables {
namespace {

ResultRow row(std::string file, std::string target) {
  ResultRow r;
  r.file = std::move(file);
  r.target = std::move(target);
  r.status = "ok";
  return r;
}

Target target(std::string name, std::size_t n_qualifiers) {
  Target t;
  t.name = std::move(name);
  for (std::size_t q = 0; q < n_qualifiers; ++q)
    t.qualifiers.push_back({147.0 + static_cast<double>(q), 30.0});
  return t;
}

IonFit fit(std::string status, std::optional<double> area, std::optional<double> rt) {
  return {std::move(status), area, rt};
}

// Two files x {Q with two qualifier ions, N with none}, the second file's
// spectra never read (no qualifier fits at all).
struct Sequence {
  std::vector<Target> targets{target("Q", 2), target("N", 0)};
  std::vector<ResultRow> rows{row("a.mzML", "Q"), row("a.mzML", "N"),
                              row("b \"x\"\t.mzML", "Q"), row("b \"x\"\t.mzML", "N")};
  std::vector<std::vector<IonFit>> fits{
      {fit("success", 0.1 + 0.2, 1.2345678901234567), fit("max_iterations", 1e-300, {})},
      {},
      {},
      {}};
};

// What the batch writes reads back to the same fits, whichever way the rows
// were split into parts and in whatever order the parts come.
TEST(MeasurementParts, RoundTripOverAnySplit) {
  Sequence s;
  const auto part = [&](std::size_t from, std::size_t to) {
    return measurements_jsonl(std::span(s.rows).subspan(from, to - from),
                              std::span(s.fits).subspan(from, to - from));
  };
  struct Case {
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases{
      {{part(0, 4)}},
      {{part(2, 4), part(0, 2)}},
      {{part(0, 1), "", part(1, 4)}},
  };
  for (const Case& c : cases) {
    std::vector<TablePart> parts;
    for (const std::string& t : c.texts) parts.push_back({"p", t});
    const QualifierJoin j = join_qualifiers(s.rows, s.targets, parts);
    ASSERT_EQ(j.error, "");
    ASSERT_EQ(j.per_row.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
      ASSERT_EQ(j.per_row[i].size(), s.fits[i].size());
      for (std::size_t q = 0; q < s.fits[i].size(); ++q) {
        EXPECT_EQ(j.per_row[i][q].fit_status, s.fits[i][q].fit_status);
        EXPECT_EQ(j.per_row[i][q].area, s.fits[i][q].area);
        EXPECT_EQ(j.per_row[i][q].retention_time, s.fits[i][q].retention_time);
      }
    }
  }
  // A non-finite area cannot count as a fit: it comes back absent.
  const std::vector<ResultRow> one{row("a", "Q")};
  const std::vector<std::vector<IonFit>> nan{
      {fit("success", std::numeric_limits<double>::quiet_NaN(), 1.0),
       fit("success", 2.0, 1.0)}};
  const std::string text = measurements_jsonl(one, nan);
  const std::vector<TablePart> parts{{"p", text}};
  const std::vector<Target> t{target("Q", 2)};
  const QualifierJoin j = join_qualifiers(one, t, parts);
  ASSERT_EQ(j.error, "");
  EXPECT_FALSE(j.per_row[0][0].area.has_value());
}

// The peak decisions travel with the fits (a merge identifies with them);
// lines without them read as before, and a damaged one is named.
TEST(MeasurementParts, PeakDecisionsRoundTrip) {
  std::vector<ResultRow> rows{row("a.mzML", "Q")};
  rows[0].signal_to_noise = 41.5;
  rows[0].detection = "detected";
  IonFit decided = fit("success", 2.0, 1.0);
  decided.signal_to_noise = 2.5;
  decided.detection = "not_detected";
  const std::vector<std::vector<IonFit>> fits{{decided, fit("success", 3.0, 1.0)}};
  const std::vector<Target> t{target("Q", 2)};
  const std::string text = measurements_jsonl(rows, fits);
  const std::vector<TablePart> parts{{"p", text}};
  const QualifierJoin j = join_qualifiers(rows, t, parts);
  ASSERT_EQ(j.error, "");
  ASSERT_EQ(j.quantifiers.size(), 1u);
  EXPECT_EQ(j.quantifiers[0].signal_to_noise, 41.5);
  EXPECT_EQ(j.quantifiers[0].detection, "detected");
  EXPECT_EQ(j.per_row[0][0].signal_to_noise, 2.5);
  EXPECT_EQ(j.per_row[0][0].detection, "not_detected");
  EXPECT_EQ(j.per_row[0][1].detection, "");  // undecided: written as before
  const std::size_t second = text.find("\"area\":3");
  EXPECT_EQ(text.substr(second, text.find('}', second) - second).find("signal_to_noise"),
            std::string::npos);
  const std::vector<TablePart> bad{
      {"p", "{\"file\":\"a.mzML\",\"target\":\"Q\",\"qualifiers\":[],\"detection\":1}\n"}};
  EXPECT_NE(join_qualifiers(rows, t, bad).error.find("p: line 1: a peak decision"),
            std::string::npos);
}

// A measurement part that does not belong to the table parts, or is
// damaged, is refused with the part's name and nothing is joined.
TEST(MeasurementParts, DamagedOrMismatchedPartsAreNamed) {
  Sequence s;
  const std::string whole = measurements_jsonl(s.rows, s.fits);
  const std::string first = whole.substr(0, whole.find('\n') + 1);
  const std::string rest = whole.substr(first.size());
  struct Case {
    std::vector<std::string> texts;
    std::string want;
  };
  const std::vector<Case> cases{
      {{whole.substr(0, whole.size() - 1)}, "p0: the last line is incomplete"},
      {{first + "{\"file\":\"a.mzML\"\n" + rest}, "p0: line 2: not JSON"},
      {{first + "[1,2]\n" + rest}, "p0: line 2: not a measurement"},
      {{first + "\n" + rest}, "p0: line 2: not JSON"},
      {{"{\"file\":\"a.mzML\",\"target\":\"Q\",\"qualifiers\":[{\"fit_status\":"
        "\"success\","
        "\"area\":\"12\"}]}\n" +
        rest},
       "p0: line 1: a qualifier without fit_status or with a value that is not a number"},
      {{"{\"file\":\"a.mzML\",\"target\":\"Q\",\"qualifiers\":[{\"area\":1}]}\n" + rest},
       "p0: line 1: a qualifier without"},
      {{whole, first}, "p1: line 1: a.mzML / Q is also in p0"},
      {{rest}, "no measurement part holds a.mzML / Q"},
      {{whole + "{\"file\":\"c.mzML\",\"target\":\"Q\",\"qualifiers\":[]}\n"},
       "p0: c.mzML / Q is in no table part"},
      {{"{\"file\":\"a.mzML\",\"target\":\"Q\",\"qualifiers\":[{\"fit_status\":"
        "\"success\"}]}\n" +
        rest},
       "p0: a.mzML / Q has 1 qualifiers, the target 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    std::vector<TablePart> parts;
    for (std::size_t i = 0; i < c.texts.size(); ++i)
      parts.push_back({std::string("p").append(std::to_string(i)), c.texts[i]});
    const QualifierJoin j = join_qualifiers(s.rows, s.targets, parts);
    EXPECT_NE(j.error.find(c.want), std::string::npos) << j.error;
    EXPECT_TRUE(j.per_row.empty());
  }
}

// Rows from parts made with another targets table cannot be placed by
// file and target index.
TEST(MeasurementParts, RowsMustFollowTheTargets) {
  const std::vector<Target> targets{target("A", 0), target("B", 0)};
  struct Case {
    std::vector<ResultRow> rows;
    std::string want;  // "" when they follow
  };
  const std::vector<Case> cases{
      {{row("f", "A"), row("f", "B"), row("g", "A"), row("g", "B")}, ""},
      {{row("f", "B"), row("f", "A")},
       "the rows of f do not follow the targets table (B where A"},
      {{row("f", "A"), row("g", "B")}, "the rows of f do not follow"},
      {{row("f", "A"), row("f", "B"), row("g", "A")}, "3 rows, not 2 per file"},
      {{row("f", "A"), row("f", "C")}, "(C where B was expected)"},
  };
  for (const Case& c : cases) {
    const std::string got = rows_follow_targets(c.rows, targets);
    if (c.want.empty()) {
      EXPECT_EQ(got, "");
    } else {
      EXPECT_NE(got.find(c.want), std::string::npos) << got;
    }
  }
}

}  // namespace
}  // namespace vx::host::tables
