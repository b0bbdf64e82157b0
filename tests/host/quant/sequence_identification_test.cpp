// Identification over a sequence: which files give the references, and what
// a verdict does to the results and quant rows.
#include "sequence_identification.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace vx::host::quant {
namespace {

using tables::IonFit;
using tables::Measurement;
using tables::ResultRow;
using tables::SampleEntry;
using tables::SampleType;
using tables::Target;

struct File {
  std::string name;
  SampleType type;
  bool has_amount;
  double rt;
  double qualifier_percent;  // of the quantifier's area
  std::string detection;     // "" leaves the decision out
  std::string status = "ok";
};

struct Case {
  std::string what;
  std::vector<File> files;
  std::vector<std::string> want;  // identified, then the failed criteria joined by ','
  double want_rt_reference;
};

std::string verdict(const ResultRow& r) {
  std::string s = r.identified;
  for (const std::string& f : r.identification_flags) s += "," + f;
  return s;
}

TEST(SequenceIdentification, ReferencesComeFromTheDetectedStandardsOfTheTarget) {
  Target t;
  t.name = "A";
  t.mz = 73;
  t.rt = 1.40;  // the table's values lose to any standard's
  t.qualifiers = {{147, 60}};
  const Case cases[] = {
      {"standards give the time and the ratio",
       {{"s1", SampleType::kStandard, true, 1.52, 35, "detected"},
        {"s2", SampleType::kStandard, true, 1.54, 37, "detected"},
        {"ok", SampleType::kSample, false, 1.53, 36, "detected"},
        {"late", SampleType::kSample, false, 1.68, 36, "detected"},
        {"ratio", SampleType::kSample, false, 1.53, 72, "detected"}},
       {"yes", "yes", "yes", "no,rt_shift", "no,ion_ratio"},
       1.53},
      {"an undetected standard and one without an amount do not count",
       {{"s1", SampleType::kStandard, true, 1.52, 35, "detected"},
        {"s2", SampleType::kStandard, true, 1.90, 90, "not_detected"},
        {"s3", SampleType::kStandard, false, 1.90, 90, "detected"},
        {"ok", SampleType::kSample, false, 1.52, 35, "detected"}},
       {"yes", "no,not_detected", "no,rt_shift,ion_ratio", "yes"},
       1.52},
      {"no standard: the table's rt and ratio",
       {{"a", SampleType::kSample, false, 1.45, 58, "detected"},
        {"b", SampleType::kSample, false, 1.52, 35, "detected"}},
       {"yes", "no,rt_shift,ion_ratio"},
       1.40},
      {"an unusable file and an undecided usable fit",
       {{"gone", SampleType::kSample, false, 1.40, 60, "", "file_not_found"},
        {"old", SampleType::kSample, false, 1.41, 61, ""}},
       {"no,not_detected", "yes"},
       1.40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<SampleEntry> samples;
    std::vector<ResultRow> rows;
    std::vector<Measurement> measured;
    for (const File& f : c.files) {
      SampleEntry e;
      e.file = f.name;
      e.type = f.type;
      e.amounts = {f.has_amount ? std::optional(1.0) : std::nullopt};
      samples.push_back(e);
      ResultRow r;
      r.file = f.name;
      r.target = t.name;
      r.status = f.status;
      rows.push_back(r);
      Measurement m;
      m.quantifier = {.fit_status = "success", .area = 1000.0, .retention_time = f.rt,
                      .detection = f.detection, .signal_to_noise = 50.0};
      m.qualifiers = {{.fit_status = "success", .area = 10.0 * f.qualifier_percent,
                       .retention_time = f.rt, .detection = f.detection,
                       .signal_to_noise = 20.0}};
      measured.push_back(m);
    }
    identify_rows({&t, 1}, samples, measured, rows, {});
    ASSERT_EQ(rows.size(), c.want.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
      EXPECT_EQ(verdict(rows[i]), c.want[i]) << i;
    EXPECT_NEAR(rows[0].rt_reference.value_or(0), c.want_rt_reference, 1e-12);
  }
}

TEST(SequenceIdentification, UnidentifiedQuantRowsLoseTheirConcentration) {
  ResultRow yes, no, unasked;
  yes.file = no.file = unasked.file = "f";
  yes.target = "A";
  no.target = "B";
  unasked.target = "C";
  yes.identified = "yes";
  no.identified = "no";
  no.identification_flags = {"rt_shift"};
  QuantOutcome q;
  for (const char* name : {"A", "B", "C"}) {
    QuantRow r;
    r.file = "f";
    r.target = name;
    r.concentration = 5;
    r.accuracy = 100;
    q.rows.push_back(r);
  }
  const ResultRow rows[] = {yes, no, unasked};
  apply_identification(rows, q);
  EXPECT_EQ(q.rows[0].concentration, 5.0);
  EXPECT_EQ(q.rows[0].identified, "yes");
  EXPECT_FALSE(q.rows[1].concentration.has_value());
  EXPECT_FALSE(q.rows[1].accuracy.has_value());
  EXPECT_EQ(q.rows[1].flags, std::vector<std::string>{"rt_shift"});
  EXPECT_EQ(q.rows[2].concentration, 5.0);  // no verdict asked for: kept
  EXPECT_EQ(q.rows[2].identified, "");
}

// A standard whose peak was not detected gives no calibration point; one
// that was detected but failed a criterion (here its ion ratio) keeps its
// point and is flagged, losing only its back-calculated concentration.
TEST(SequenceIdentification, UnidentifiedStandardsAndTheCurve) {
  Target t;
  t.name = "A";
  t.mz = 73;
  t.rt = 1.5;
  t.qualifiers = {{147, 35}};
  struct Std {
    const char* file;
    SampleType type;
    std::optional<double> amount;
    double percent;
    const char* detection;
  };
  const Std files[] = {
      {"s1", SampleType::kStandard, 1, 35, "detected"},
      {"s2", SampleType::kStandard, 2, 35, "detected"},
      {"s4", SampleType::kStandard, 4, 70, "detected"},  // ion ratio off
      {"s8", SampleType::kStandard, 8, 35, "not_detected"},
      {"x", SampleType::kSample, std::nullopt, 35, "detected"},
  };
  std::vector<SampleEntry> samples;
  std::vector<Measurement> measured;
  std::vector<ResultRow> rows;
  for (const Std& f : files) {
    samples.push_back({f.file, f.type, {f.amount}});
    const double area = 100.0 * f.amount.value_or(3.0);
    Measurement m;
    m.quantifier = {"success", area, 1.5};
    m.quantifier.detection = f.detection;
    m.qualifiers = {IonFit{"success", area * f.percent / 100.0, 1.5}};
    m.qualifiers[0].detection = "detected";
    measured.push_back(m);
    ResultRow r;
    r.file = f.file;
    r.target = "A";
    r.status = "ok";
    rows.push_back(r);
  }
  identify_rows({&t, 1}, samples, measured, rows, {});
  QuantSettings settings;
  settings.calibration.weighting = Weighting::kNone;
  QuantOutcome q = quantitate({&t, 1}, samples, measured, settings);
  apply_identification(rows, q);

  ASSERT_EQ(q.calibrations.size(), 1u);
  const Calibration& cal = q.calibrations[0];
  EXPECT_EQ(cal.status, kCalOk);
  EXPECT_EQ(cal.points_used, 3u);  // s1, s2, s4: not s8
  ASSERT_EQ(q.rows.size(), 5u);
  EXPECT_EQ(q.rows[2].identified, "no");
  EXPECT_NE(std::find(q.rows[2].flags.begin(), q.rows[2].flags.end(), "ion_ratio"),
            q.rows[2].flags.end());
  EXPECT_FALSE(q.rows[2].concentration.has_value());
  EXPECT_EQ(q.rows[3].identified, "no");
  EXPECT_FALSE(q.rows[3].concentration.has_value());
  EXPECT_EQ(q.rows[4].identified, "yes");
  EXPECT_NEAR(q.rows[4].concentration.value_or(0), 3.0, 1e-9);
}

}  // namespace
}  // namespace vx::host::quant
