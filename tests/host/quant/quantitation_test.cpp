#include "quantitation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "json_lite.hpp"
#include "quant_tables.hpp"

namespace vx::host::quant {

using base::JsonParse;
using base::JsonValue;
using base::parse_json;
using tables::Measurement;
using tables::SampleEntry;
using tables::SampleType;
using tables::Target;

namespace {

// A sequence with an internal standard IS, a compound A (one qualifier at
// 50 %) calibrated on three standards, and a compound C without standards.
// A's area is 100 per unit amount and IS's 1000, both scaled by the file's
// injection factor, so A's response is amount / 10 whatever the factor.
struct File {
  const char* name;
  SampleType type;
  std::optional<double> amount;  // of A: standards' known or QCs' nominal
  double true_amount;
  double factor = 1.0;
  const char* a_status = "success";
  const char* is_status = "success";
  double qualifier_percent = 50.0;
  const char* qualifier_status = "success";
};

const File kFiles[] = {
    {"std1", SampleType::kStandard, 1, 1, 0.9},
    {"std2", SampleType::kStandard, 2, 2, 1.1},
    {"std4", SampleType::kStandard, 4, 4, 1.0},
    {"mid", SampleType::kSample, {}, 3, 1.2},
    {"high", SampleType::kSample, {}, 8},
    {"low", SampleType::kSample, {}, 0.5},
    {"no_peak", SampleType::kSample, {}, 3, 1.0, "no_local_peak"},
    {"no_istd", SampleType::kSample, {}, 3, 1.0, "success", "step_failed"},
    {"ratio", SampleType::kSample, {}, 3, 1.0, "success", "success", 70},
    {"no_qual", SampleType::kSample, {}, 3, 1.0, "success", "success", 50, "unstable_fit"},
    {"qc", SampleType::kQc, 2, 2.2},
    {"blank", SampleType::kBlank, {}, 0.01},
};

std::vector<Target> targets() {
  std::vector<Target> t(3);
  t[0].name = "IS";
  t[1].name = "A";
  t[1].istd = "IS";
  t[1].qualifiers = {{147, 50}};
  t[2].name = "C";
  return t;
}

QuantOutcome run(const QuantSettings& settings = {}) {
  std::vector<SampleEntry> samples;
  std::vector<Measurement> measured;
  for (const File& f : kFiles) {
    samples.push_back({f.name, f.type, {std::nullopt, f.amount, std::nullopt}, 0});
    const double a = 100 * f.true_amount * f.factor;
    measured.push_back({{f.is_status, 1000 * f.factor, 1.3}, {}});
    measured.push_back({{f.a_status, a, 1.5},
                        {{f.qualifier_status, a * f.qualifier_percent / 100, 1.5}}});
    measured.push_back({{"success", 5.0, 2.0}, {}});
  }
  const std::vector<Target> t = targets();
  return quantitate(t, samples, measured, settings);
}

std::string flags_of(const QuantRow& r) {
  std::string s;
  for (const std::string& f : r.flags) s += (s.empty() ? "" : ",") + f;
  return s;
}

// Concentrations and flags of compound A in every kind of file.
TEST(Quantitation, ConcentrationsAndFlags) {
  const QuantOutcome q = run();
  ASSERT_EQ(q.calibrations[1].status, kCalOk);
  EXPECT_EQ(q.calibrations[0].status, kCalInternalStandard);
  EXPECT_EQ(q.calibrations[2].status, kCalNoStandards);
  struct Want {
    const char* file;
    std::optional<double> concentration;
    const char* flags;
  };
  const Want wants[] = {
      {"std1", 1, ""},
      {"mid", 3, ""},
      {"high", 8, "above_range"},
      {"low", 0.5, "below_range"},
      {"no_peak", std::nullopt, "fit_failed"},
      {"no_istd", std::nullopt, "istd_fit_failed"},
      {"ratio", 3, "qualifier_ratio_out_of_tolerance"},
      {"no_qual", 3, "qualifier_fit_failed"},
      {"qc", 2.2, ""},
      {"blank", 0.01, "below_range"},
  };
  for (const Want& w : wants) {
    SCOPED_TRACE(w.file);
    const auto it = std::find_if(q.rows.begin(), q.rows.end(), [&](const QuantRow& r) {
      return r.file == w.file && r.target == "A";
    });
    ASSERT_NE(it, q.rows.end());
    ASSERT_EQ(it->concentration.has_value(), w.concentration.has_value());
    if (w.concentration) {
      EXPECT_NEAR(*it->concentration, *w.concentration, 1e-9);
    }
    EXPECT_EQ(flags_of(*it), w.flags);
  }
  const QuantRow& qc = q.rows[10 * 3 + 1];
  EXPECT_NEAR(*qc.accuracy, 110.0, 1e-7);
  EXPECT_NEAR(*q.rows[3 * 3 + 1].qualifiers[0].observed, 50.0, 1e-9);
  EXPECT_TRUE(q.rows[3 * 3 + 1].qualifiers[0].within);
  for (const QuantRow& r : q.rows) {
    const std::string_view want_c = "no_calibration";
    const std::string_view want_is = r.file == std::string("no_istd") ? "fit_failed" : "";
    EXPECT_EQ(flags_of(r), r.target == "C" ? want_c : r.target == "IS" ? want_is : flags_of(r));
    EXPECT_TRUE(!r.concentration || std::isfinite(*r.concentration)) << r.file;
  }
}

// A blank above the threshold flags itself and every sample and QC of the
// same compound; standards are not flagged.
TEST(Quantitation, BlankAboveThresholdFlagsTheBatch) {
  QuantSettings s;
  s.blank_threshold_percent = 0.5;  // of level 1's response 0.1: 0.0005 < the blank's 0.001
  const QuantOutcome q = run(s);
  for (const QuantRow& r : q.rows) {
    if (r.target != "A") continue;
    SCOPED_TRACE(r.file);
    const bool flagged = flags_of(r).find("blank_above_threshold") != std::string::npos;
    EXPECT_EQ(flagged, r.sample_type != "standard");
  }
}

// Both tables keep one line per row with a fixed column count (TSV) or one
// JSON object per line, and an absent concentration stays absent (null).
TEST(Quantitation, TablesKeepAbsentValuesAbsent) {
  const QuantOutcome q = run();
  const std::vector<std::string> names{"IS", "A", "C"};
  for (const std::string& table :
       {quant_tsv(q.rows), calibration_tsv(q.calibrations, names)}) {
    std::istringstream in(table);
    std::string line;
    std::getline(in, line);
    const auto columns = std::count(line.begin(), line.end(), '\t');
    std::size_t rows = 0;
    while (std::getline(in, line)) {
      ++rows;
      EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), columns) << line;
    }
    EXPECT_GT(rows, 3u);
  }
  std::istringstream in(quant_jsonl(q.rows));
  std::size_t n = 0;
  for (std::string line; std::getline(in, line); ++n) {
    const JsonParse p = parse_json(line);
    ASSERT_TRUE(p.value) << line;
    const JsonValue* c = p.value->find("concentration");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->kind == JsonValue::Kind::kNull, !q.rows[n].concentration) << line;
  }
  EXPECT_EQ(n, q.rows.size());
  std::istringstream cal(calibration_jsonl(q.calibrations, names));
  for (std::string line; std::getline(cal, line);) EXPECT_TRUE(parse_json(line).value) << line;
}

}  // namespace
}  // namespace vx::host::quant

namespace vx::host::quant {
namespace {

using tables::IonFit;

// Four standards of A at 1..4 whose responses scatter about 2·x by ±0.1 in a
// pattern orthogonal to 1 and x: the unweighted line is exactly 2·x, the
// residual SD √(0.04 / 2) and so LOQ = 10·0.1414 / 2 ≈ 0.707.
QuantOutcome run_decided(const IonFit& sample, ResponseSource source,
                         const std::string& review = "") {
  const double scatter[] = {0.1, -0.1, -0.1, 0.1};
  std::vector<SampleEntry> samples;
  std::vector<Measurement> measured;
  for (int i = 0; i < 4; ++i) {
    const double amount = i + 1;
    const double y = 2 * amount + scatter[i];
    samples.push_back({"std" + std::to_string(i + 1), SampleType::kStandard, {amount}, 0});
    measured.push_back({{"success", y, 1.5, "detected", y, y}, {}});
  }
  samples.push_back({"sample", SampleType::kSample, {std::nullopt}, 0});
  measured.push_back({sample, {}, review});
  std::vector<Target> t(1);
  t[0].name = "A";
  QuantSettings settings;
  settings.calibration.weighting = Weighting::kNone;
  settings.response = source;
  return quantitate(t, samples, measured, settings);
}

// The peak decision and the response source decide whether a row has a
// concentration: a not_detected peak never has one whatever its numbers, a
// table without decisions quantitates as before, and results under the LOQ
// are flagged. A review speaks through the same columns: a rejection is
// not_detected, and a manual integration's integrated_area is the response
// whatever the source, even where the fit failed.
TEST(Quantitation, DecisionsAndResponseSources) {
  struct Case {
    const char* name;
    IonFit fit;
    ResponseSource source;
    std::optional<double> concentration;
    const char* flags;
    std::string review = "";
  };
  const Case cases[] = {
      {"detected", {"success", 6, 1.5, "detected", 8, 4}, ResponseSource::kArea, 3, ""},
      {"no decision (older table)", {"success", 6, 1.5, "", {}, {}}, ResponseSource::kArea, 3, ""},
      {"not detected keeps no amount", {"success", 6, 1.5, "not_detected", 6, 6},
       ResponseSource::kArea, std::nullopt, "not_detected"},
      {"not detected, fit failed", {"unstable_fit", 6, 1.5, "not_detected", {}, {}},
       ResponseSource::kArea, std::nullopt, "fit_failed,not_detected"},
      {"integrated area", {"success", 6, 1.5, "detected", 4, 8},
       ResponseSource::kIntegratedArea, 2, ""},
      {"height", {"success", 6, 1.5, "detected", 4, 8}, ResponseSource::kHeight, 4, ""},
      {"integrated area missing", {"success", 6, 1.5, "detected", {}, 8},
       ResponseSource::kIntegratedArea, std::nullopt, "response_not_measured"},
      {"below the LOQ", {"success", 1.2, 1.5, "detected", 1.2, 1.2}, ResponseSource::kArea,
       0.6, "below_range,below_loq"},
      {"integrated by hand, area source", {"success", 6, 1.5, "detected", 8, 4},
       ResponseSource::kArea, 4, "", "integrate"},
      {"integrated by hand, height source", {"success", 6, 1.5, "detected", 8, 4},
       ResponseSource::kHeight, 4, "", "integrate"},
      {"integrated by hand where the fit failed", {"unstable_fit", {}, 1.5, "detected", 4, {}},
       ResponseSource::kArea, 2, "fit_failed", "integrate"},
      {"rejected keeps its numbers but no amount", {"success", 6, 1.5, "not_detected", 6, 6},
       ResponseSource::kArea, std::nullopt, "rejected_in_review,not_detected", "reject"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QuantOutcome q = run_decided(c.fit, c.source, c.review);
    ASSERT_EQ(q.calibrations.size(), 1u);
    ASSERT_EQ(q.calibrations[0].status, kCalOk);
    ASSERT_TRUE(q.calibrations[0].loq);
    EXPECT_NEAR(*q.calibrations[0].loq, 10 * std::sqrt(0.02) / 2, 1e-9);
    const QuantRow& row = q.rows.back();
    ASSERT_EQ(row.concentration.has_value(), c.concentration.has_value());
    if (c.concentration) {
      EXPECT_NEAR(*row.concentration, *c.concentration, 1e-9);
    }
    EXPECT_EQ(flags_of(row), c.flags);
  }
}

}  // namespace
}  // namespace vx::host::quant
