// Identification criteria and the reference means over the standards.
#include "identification.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace vx::host::ident {
namespace {

using Flags = std::vector<std::string_view>;

TargetMeasurement measured(double rt, std::vector<std::optional<double>> ratios,
                           std::optional<double> score = {}) {
  TargetMeasurement m;
  m.detected = true;
  m.rt = rt;
  m.qualifier_ratios = std::move(ratios);
  m.quantifier_sn = 100.0;
  m.qualifier_sn = {50.0, 20.0};
  m.match_score = score;
  return m;
}

TEST(Identification, ReferencesAreMeansOverDetectedStandards) {
  std::vector<TargetMeasurement> standards{measured(10.00, {40.0, 20.0}),
                                           measured(10.04, {44.0, {}}),
                                           measured(10.02, {42.0, 22.0})};
  standards.push_back(TargetMeasurement{});  // not detected: left out
  standards.back().rt = 99.0;
  standards.back().qualifier_ratios = {99.0, 99.0};
  const TableReference table{10.5, {35.0, 25.0, 5.0}};
  const IdentificationReference ref = reference_from_standards(standards, table);
  EXPECT_EQ(ref.standards, 3);
  EXPECT_NEAR(*ref.rt, 10.02, 1e-12);
  ASSERT_EQ(ref.qualifier_ratios.size(), 3u);
  EXPECT_NEAR(*ref.qualifier_ratios[0], 42.0, 1e-12);
  EXPECT_NEAR(*ref.qualifier_ratios[1], 21.0,
              1e-12);                       // the standard without it is left out
  EXPECT_EQ(ref.qualifier_ratios[2], 5.0);  // no standard has it: the table's

  const IdentificationReference fallback = reference_from_standards({}, table);
  EXPECT_EQ(fallback.standards, 0);
  EXPECT_EQ(fallback.rt, 10.5);
  EXPECT_EQ(fallback.qualifier_ratios[1], 25.0);
}

TEST(Identification, CriteriaTable) {
  // Reference: rt 10.00, qualifier ratios 40 % and 20 %.
  IdentificationReference ref;
  ref.rt = 10.0;
  ref.qualifier_ratios = {40.0, 20.0};
  ref.standards = 3;
  struct Case {
    std::string what;
    TargetMeasurement m;
    Flags failed;
  };
  TargetMeasurement low_sn = measured(10.0, {40.0, 20.0});
  low_sn.qualifier_sn[1] = 2.5;
  TargetMeasurement low_quant_sn = measured(10.0, {40.0, 20.0});
  low_quant_sn.quantifier_sn = 1.0;
  TargetMeasurement unmeasured_sn = measured(10.0, {40.0, 20.0});
  unmeasured_sn.qualifier_sn = {std::nullopt, std::nullopt};
  TargetMeasurement everything = measured(10.3, {80.0, 20.0}, 500.0);
  everything.qualifier_sn[0] = 1.0;
  const Case cases[] = {
      {"all within", measured(10.05, {44.0, 17.0}, 850.0), {}},
      {"0.15 min off", measured(10.15, {40.0, 20.0}), {kFlagRtShift}},
      {"0.15 min early", measured(9.85, {40.0, 20.0}), {kFlagRtShift}},
      {"exactly 0.1 min off passes", measured(10.1, {40.0, 20.0}), {}},
      {"doubled qualifier ratio", measured(10.0, {80.0, 20.0}), {kFlagIonRatio}},
      {"halved qualifier ratio", measured(10.0, {40.0, 10.0}), {kFlagIonRatio}},
      {"exactly 30 % high passes", measured(10.0, {52.0, 14.0}), {}},
      {"qualifier not found", measured(10.0, {40.0, {}}), {kFlagIonRatio}},
      {"qualifier S/N below 3", low_sn, {kFlagQualifierSn}},
      {"quantifier S/N below 3", low_quant_sn, {kFlagQualifierSn}},
      {"S/N not measured is not checked", unmeasured_sn, {}},
      {"not detected", TargetMeasurement{}, {kFlagNotDetected}},
      {"poor library match",
       measured(10.0, {40.0, 20.0}, 650.0),
       {kFlagSpectrumMismatch}},
      {"match exactly at 700 passes", measured(10.0, {40.0, 20.0}, 700.0), {}},
      {"every criterion at once",
       everything,
       {kFlagRtShift, kFlagIonRatio, kFlagQualifierSn, kFlagSpectrumMismatch}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const IdentificationResult r = identify(c.m, ref);
    EXPECT_EQ(r.failed, c.failed);
    EXPECT_EQ(r.identified, c.failed.empty());
    EXPECT_EQ(r.rt_reference, 10.0);
    EXPECT_EQ(r.reference_ratios, ref.qualifier_ratios);
    if (c.m.detected) {
      ASSERT_TRUE(r.rt_shift);
      EXPECT_NEAR(*r.rt_shift, *c.m.rt - 10.0, 1e-12);
    }
  }
  const IdentificationResult doubled = identify(measured(10.0, {80.0, 20.0}), ref);
  EXPECT_NEAR(*doubled.ratio_deviation[0], 100.0, 1e-12);
  EXPECT_NEAR(*doubled.ratio_deviation[1], 0.0, 1e-12);

  // Looser criteria let the 0.15 min sample through.
  IdentificationCriteria loose;
  loose.rt_id_tol = 0.2;
  EXPECT_TRUE(identify(measured(10.15, {40.0, 20.0}), ref, loose).identified);
}

}  // namespace
}  // namespace vx::host::ident
