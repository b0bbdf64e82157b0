// review.tsv against a batch: what is refused (naming the line), what a
// decision does to the rows, and the injection order's three sources.
#include "review.hpp"

#include <gtest/gtest.h>

#include "injection_order.hpp"

namespace vx::host::tables {
namespace {

const std::string kHeader = "file\ttarget\taction\tstart_rt\tend_rt\treason\treviewer\ttime\n";
const std::vector<std::string> kFiles = {"data/a.mzML", "data/b.mzML", "other/b.mzML"};

std::vector<Target> targets() {
  TargetDefaults d;
  return {make_target("TMS", 73, 1.18, d), make_target("C3bz_1", 147, 1.19, d)};
}

TEST(Review, BadLinesAreErrorsNamingTheLine) {
  struct Case {
    std::string body;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"data/x.mzML\tTMS\treject\t\t\twhy\tme\tt\n", "r.tsv:2: the batch has no file data/x.mzML"},
      {"b.mzML\tTMS\treject\t\t\twhy\tme\tt\n", "r.tsv:2: the batch has no file b.mzML"},
      {"a.mzML\tNOPE\treject\t\t\twhy\tme\tt\n", "r.tsv:2: the batch has no target NOPE"},
      {"a.mzML\tTMS\tdelete\t\t\twhy\tme\tt\n", "r.tsv:2: action must be reject or integrate"},
      {"a.mzML\tTMS\tintegrate\t1.2\t1.1\twhy\tme\tt\n", "r.tsv:2: integrate needs start_rt < end_rt"},
      {"a.mzML\tTMS\tintegrate\tx\t1.3\twhy\tme\tt\n", "r.tsv:2: integrate needs"},
      {"a.mzML\tTMS\treject\n", "r.tsv:2: 3 cells, want 8"},
      {"a.mzML\tTMS\treject\t\t\tbad \\q\tme\tt\n", "r.tsv:2: unknown escape in reason"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const ReviewRead r = read_review(kHeader + c.body, "r.tsv", kFiles, targets());
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_NE(r.errors[0].find(c.says), std::string::npos) << r.errors[0];
  }
  EXPECT_EQ(read_review("file\ttarget\n", "r.tsv", kFiles, targets()).errors.size(), 1u);
}

TEST(Review, DecisionsChangeTheirRowsOnlyAndCarryTheDigest) {
  const std::string text = kHeader +
                           "data/a.mzML\tTMS\treject\t\t\tshoulder <b>x</b>\\tq\tann\t2026\n"
                           "a.mzML\tC3bz_1\tintegrate\t1.1\t1.3\tsplit\tbob\t2026\n"
                           "data/b.mzML\tTMS\treject\t\t\tfirst\tann\t2026\n"
                           "data/b.mzML\tTMS\tintegrate\t1.0\t1.4\tlater wins\tann\t2026\n";
  const ReviewRead r = read_review(text, "r.tsv", kFiles, targets());
  ASSERT_TRUE(r.errors.empty()) << r.errors[0];
  ASSERT_EQ(r.entries.size(), 3u);
  EXPECT_EQ(r.entries[0].reason, "shoulder <b>x</b>\tq");
  EXPECT_EQ(r.entries[2].reason, "later wins");
  EXPECT_EQ(r.digest.size(), 40u);

  std::vector<ResultRow> rows(6);
  for (ResultRow& row : rows) {
    row.status = std::string(kStatusOk);
    row.fit_status = std::string(kFitSuccess);
    row.area = 10.0;
    row.detection = peaks::kDetected;
    row.integrated_area = 9.0;
    row.peak_start = 1.15;
    row.peak_end = 1.25;
  }
  rows[1].detection = peaks::kNotDetected;  // the analyst saw a peak the decision missed
  const std::vector<std::optional<double>> areas = {std::nullopt, 42.0, 7.0};
  EXPECT_TRUE(apply_review(rows, 2, r, areas, "r.tsv").empty());
  // Every override goes through the decision columns; the fit's own numbers
  // stay so the table shows what was overruled.
  struct Want {
    std::size_t row;
    std::string_view review, detection;
    double integrated_area, peak_start, peak_end;
  };
  const std::vector<Want> wants = {
      {0, kReviewReject, peaks::kNotDetected, 9.0, 1.15, 1.25},
      {1, kReviewIntegrate, peaks::kDetected, 42.0, 1.1, 1.3},
      {2, kReviewIntegrate, peaks::kDetected, 7.0, 1.0, 1.4},
      {3, "", peaks::kDetected, 9.0, 1.15, 1.25},
  };
  for (const Want& w : wants) {
    SCOPED_TRACE(w.row);
    const ResultRow& row = rows[w.row];
    EXPECT_EQ(row.review, w.review);
    EXPECT_EQ(row.detection, w.detection);
    EXPECT_EQ(row.area, 10.0);
    EXPECT_EQ(row.integrated_area, w.integrated_area);
    EXPECT_EQ(row.peak_start, w.peak_start);
    EXPECT_EQ(row.peak_end, w.peak_end);
  }
  for (const ResultRow& row : rows) EXPECT_EQ(row.review_digest, r.digest);
  const RowCounts counts = count_rows(rows);
  EXPECT_EQ(counts.not_detected, 1u);

  // An integration whose bounds hold no trace is an error, not a silent skip.
  const std::vector<std::optional<double>> none(3);
  EXPECT_EQ(apply_review(rows, 2, r, none, "r.tsv").size(), 2u);
}

TEST(Review, ManualAreaIsTheTraceAboveTheBaselineBetweenTheBounds) {
  const std::vector<double> t = {1.0, 1.1, 1.2, 1.3, 1.4};
  const std::vector<double> y = {10, 20, 30, 20, 10};
  EXPECT_NEAR(*manual_area(t, y, 10.0, 1.1, 1.3), 0.1 * (10 + 20) / 2 * 2, 1e-9);
  // Without a fitted baseline, the lower edge within the bounds is the floor.
  EXPECT_NEAR(*manual_area(t, y, std::nullopt, 1.1, 1.3), 0.1 * (0 + 10) / 2 * 2, 1e-9);
  EXPECT_FALSE(manual_area(t, y, 10.0, 2.0, 3.0));
}

// A merge confirms only an integration its part made with the very bounds;
// any other integration, and every rejection, has no area to reuse.
TEST(Review, MergeReusesOnlyIntegrationsThePartsMade) {
  const ReviewRead review =
      read_review(kHeader + "a.mzML\tTMS\tintegrate\t1.1\t1.3\t\t\t\n"
                            "a.mzML\tC3bz_1\treject\t\t\t\t\t\n"
                            "data/b.mzML\tTMS\tintegrate\t1.1\t1.3\t\t\t\n",
                  "r.tsv", kFiles, targets());
  ASSERT_TRUE(review.errors.empty());
  struct Case {
    std::string_view name;
    std::string review;
    std::optional<double> start, end, area;
    std::optional<double> want;  // for the first entry
  };
  const Case cases[] = {
      {"made by the part", "integrate", 1.1, 1.3, 42.0, 42.0},
      {"other bounds", "integrate", 1.1, 1.31, 42.0, std::nullopt},
      {"not integrated", "", 1.1, 1.3, 42.0, std::nullopt},
      {"rejected", "reject", 1.1, 1.3, 42.0, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ResultRow> rows(kFiles.size() * 2);
    rows[0].review = c.review;
    rows[0].peak_start = c.start;
    rows[0].peak_end = c.end;
    rows[0].integrated_area = c.area;
    rows[1].review = std::string(kReviewReject);  // a rejection is never an area
    const auto areas = applied_manual_areas(rows, 2, review);
    ASSERT_EQ(areas.size(), 3u);
    EXPECT_EQ(areas[0], c.want);
    EXPECT_EQ(areas[1], std::nullopt);
    EXPECT_EQ(areas[2], std::nullopt);  // b's row was not integrated
  }
}

TEST(InjectionOrder, EachSourceInItsTurn) {
  using chain::BatchFile;
  const std::vector<BatchFile> files = {{"d/a.mzML", "", ""}, {"d/b.mzML", "", ""},
                                        {"d/c.mzML", "", ""}};
  const std::vector<std::string> inputs = {"d/c.mzML", "d/a.mzML", "d/b.mzML"};
  const std::vector<std::size_t> lines = {5, 2, 9};
  const std::vector<std::optional<std::string>> starts = {
      "2026-01-01T10:00:00Z", "2026-01-01T09:00:00Z", "2026-01-01T08:00:00Z"};
  const std::vector<std::optional<std::string>> half = {"2026-01-01T10:00:00Z", std::nullopt,
                                                        std::nullopt};
  struct Case {
    std::vector<std::size_t> lines;
    std::vector<std::optional<std::string>> starts;
    std::vector<std::size_t> want;
    std::string_view source;
  };
  const std::vector<Case> cases = {
      {lines, starts, {1, 0, 2}, chain::kOrderSampleList},
      {{}, starts, {2, 1, 0}, chain::kOrderStartTime},
      {{}, half, {2, 0, 1}, chain::kOrderCommandLine},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const auto o = chain::injection_order(files, inputs, c.lines, c.starts);
    EXPECT_EQ(o.order, c.want);
    EXPECT_EQ(o.source, c.source);
  }
  EXPECT_EQ(chain::mzml_start_time("<mzML><run id=\"r\" startTimeStamp=\"2026-02-03T04:05:06Z\">"),
            "2026-02-03T04:05:06Z");
  EXPECT_FALSE(chain::mzml_start_time("<mzML><run id=\"r\"><spectrum startTimeStamp=\"x\">"));
}

}  // namespace
}  // namespace vx::host::tables
