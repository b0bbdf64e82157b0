// The C API of libvx_ident.so: what it refuses, the flag table's order and
// bits, and one target's verdicts through the flat arrays.
#include "vx_ident.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(IdentCApi, FlagsInTableOrderWithOneBitEach) {
  const char* want[] = {"not_detected", "rt_shift", "ion_ratio", "qualifier_sn",
                        "spectrum_mismatch"};
  uint32_t bit = 0;
  for (uint32_t i = 0; i < 5; ++i) {
    ASSERT_NE(vxi_flag_name(i, &bit), nullptr);
    EXPECT_EQ(std::string(vxi_flag_name(i, &bit)), want[i]);
    EXPECT_EQ(bit, 1u << i);
  }
  EXPECT_EQ(vxi_flag_name(5, &bit), nullptr);
  EXPECT_NE(vxi_flag_name(0, nullptr), nullptr);
}

// Three files, one qualifier: two standards (rt 1.5, ratios 30 and 40), a
// sample shifted by 0.2 min with ratio 70.
TEST(IdentCApi, JudgesAgainstTheStandardsMeans) {
  const int32_t detected[] = {1, 1, 1};
  const int32_t standard[] = {1, 1, 0};
  const double rt[] = {1.5, 1.5, 1.7};
  const double sn[] = {50, 50, 50};
  const double match[] = {kNaN, kNaN, kNaN};
  const double ratio[] = {30, 40, 70};
  const double qsn[] = {20, 20, 20};
  const double table_percent[] = {60};
  const VxiTarget t{3, 1, 0, detected, standard, rt, sn, match, ratio, qsn, 1.4, table_percent};
  VxiCriteria c;
  vxi_default_criteria(&c);
  double rt_ref = 0, ref_ratio = 0, shift[3];
  int32_t identified[3];
  uint32_t failed[3];
  VxiVerdicts out{&rt_ref, &ref_ratio, identified, failed, shift};
  ASSERT_EQ(vxi_identify_target(&t, &c, &out), 0);
  EXPECT_DOUBLE_EQ(rt_ref, 1.5);
  EXPECT_DOUBLE_EQ(ref_ratio, 35.0);
  EXPECT_EQ(identified[0], 1);
  EXPECT_EQ(failed[0], 0u);
  EXPECT_EQ(identified[2], 0);
  EXPECT_EQ(failed[2], (1u << 1) | (1u << 2));  // rt_shift, ion_ratio
  EXPECT_NEAR(shift[2], 0.2, 1e-12);
}

TEST(IdentCApi, RefusesNullPointers) {
  VxiCriteria c;
  vxi_default_criteria(&c);
  vxi_default_criteria(nullptr);  // does nothing
  double rt_ref = 0;
  VxiVerdicts none{&rt_ref, nullptr, nullptr, nullptr, nullptr};
  const VxiTarget empty{0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                        nullptr, nullptr, kNaN, nullptr};
  struct Case {
    const char* what;
    const VxiTarget* target;
    const VxiCriteria* criteria;
    VxiVerdicts* out;
    int32_t want;
  };
  const VxiTarget one_file{1, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, 1.0, nullptr};
  VxiVerdicts no_ref{nullptr, nullptr, nullptr, nullptr, nullptr};
  const Case cases[] = {
      {"no target", nullptr, &c, &none, 2},
      {"no criteria", &empty, nullptr, &none, 2},
      {"no outputs", &empty, &c, nullptr, 2},
      {"no rt_reference buffer", &empty, &c, &no_ref, 2},
      {"a file without arrays", &one_file, &c, &none, 2},
      {"nothing to judge", &empty, &c, &none, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(vxi_identify_target(k.target, k.criteria, k.out), k.want);
  }
  EXPECT_TRUE(std::isnan(rt_ref));  // the empty target: no reference time given
}

}  // namespace
