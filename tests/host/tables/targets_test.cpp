#include "targets.hpp"

#include <gtest/gtest.h>

#include <string>

namespace vx::host::tables {
namespace {

TEST(Targets, TsvWithOptionalColumnsAndDefaults) {
  const TargetDefaults d{0.4, 0.2, false, 80};
  const TargetsParse p = parse_targets(
      "# compounds of the morning run\n"
      "name\tmz\trt\tmz_tol\trt_tol\texact\tmax_iter\n"
      "TMS\t73\t1.18\t\t\t\t\n"
      "P02\t73.0\t1.485\t0.3\t0.1\ttrue\t250\n"
      "\n"
      "P03\t147\t1.3\t0.25\t\tno\t\n",
      d, "t.tsv");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  ASSERT_EQ(p.targets.size(), 3u);
  const Target& a = p.targets[0];
  EXPECT_EQ(a.name, "TMS");
  EXPECT_EQ(a.mz, 73.0);
  EXPECT_EQ(a.rt, 1.18);
  EXPECT_EQ(a.mz_tol, 0.4);
  EXPECT_EQ(a.rt_tol, 0.2);
  EXPECT_FALSE(a.exact);
  EXPECT_EQ(a.max_iter, 80);
  const Target& b = p.targets[1];
  EXPECT_EQ(b.mz_tol, 0.3);
  EXPECT_EQ(b.rt_tol, 0.1);
  EXPECT_TRUE(b.exact);
  EXPECT_EQ(b.max_iter, 250);
  EXPECT_EQ(p.targets[2].mz_tol, 0.25);
  EXPECT_EQ(p.targets[2].rt_tol, 0.2);
}

TEST(Targets, CsvWithQuotesCrlfBomAndAliases) {
  const TargetsParse p = parse_targets(
      "\xEF\xBB\xBFName,m/z,Retention_Time\r\n"
      "\"Hexane, n-\",57.07,8.64\r\n"
      "\"say \"\"hi\"\"\",71, 9.03 \r\n",
      {}, "t.csv");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  ASSERT_EQ(p.targets.size(), 2u);
  EXPECT_EQ(p.targets[0].name, "Hexane, n-");
  EXPECT_EQ(p.targets[0].mz, 57.07);
  EXPECT_EQ(p.targets[1].name, "say \"hi\"");
  EXPECT_EQ(p.targets[1].rt, 9.03);
}

TEST(Targets, MissingNamesAreMadeFromMzAndRt) {
  const TargetsParse p = parse_targets("mz,rt\n73,1.5\n147.1,2\n", {}, "t.csv");
  ASSERT_TRUE(p.errors.empty());
  EXPECT_EQ(p.targets[0].name, "73@1.5");
  EXPECT_EQ(p.targets[1].name, "147.1@2");
}

// Numbers are read the same under any locale: a decimal comma is not a
// number, and in CSV it would split the cell anyway.
TEST(Targets, ErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "t:1: no header row"},
      {"# only a comment\n", "no header row"},
      {"name,mz\nA,73\n", "t:1: the header needs at least the columns mz and rt (or ri)"},
      {"name,mz,rt,mz_tl\n", "t:1: unknown column 'mz_tl'"},
      {"name,mz,rt,mz\n", "given twice"},
      {"name,mz,rt\n", "no targets"},
      {"name\tmz\trt\nA\t7,3\t1\n", "t:2: '7,3' is not a number"},
      {"name,mz,rt\nA,73\n", "t:2: mz and rt (or ri) are required"},
      {"name,mz,rt,ri\nA,73,,\n", "t:2: mz and rt (or ri) are required"},
      {"name,mz,ri\nA,73,-5\n", "t:2: ri must be a finite number of 0 or more"},
      {"name,mz,ri,ri_tol\nA,73,1000,-1\n", "t:2: ri_tol must be a finite number"},
      {"name,mz,ri\nA,73,x\n", "t:2: 'x' is not a number"},
      {"name,mz,rt\nA,73,1,9\n", "t:2: more cells than header columns"},
      {"name,mz,rt\n\"A,73,1\n", "t:2: unterminated quote"},
      {"name,mz,rt,exact\nA,73,1,maybe\n", "'maybe' is not true/false"},
      {"name,mz,rt,max_iter\nA,73,1,1.5\n", "'1.5' is not a whole number"},
      {"name,mz,rt,max_iter\nA,73,1,0\n", "between 1 and 10000"},
      {"name,mz,rt,rt_tol\nA,73,1,-0.1\n", "0 or more"},
      {"name,mz,rt,mz_tol\nA,73,1,nan\n", "0 or more"},
      {"name,mz,rt\nA,0,1\n", "positive"},
      {"name,mz,rt\nA,73,inf\n", "finite"},
      {"name,mz,rt\nA,73,1\n\n# gap\nA,74,2\n", "t:5: target name 'A' used twice"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TargetsParse p = parse_targets(c.text, {}, "t");
    ASSERT_FALSE(p.errors.empty());
    EXPECT_NE(p.errors.front().find(c.error), std::string::npos) << p.errors.front();
  }
}

TEST(Targets, GoodRowsSurviveABadOne) {
  const TargetsParse p = parse_targets("name,mz,rt\nA,73,1\nB,x,2\nC,147,3\n", {}, "t");
  EXPECT_EQ(p.errors.size(), 1u);
  EXPECT_EQ(p.targets.size(), 2u);  // the caller refuses the table as a whole
}

// The quantitation columns: qualifier lists, a ppm window worked out at each
// ion's own m/z, and internal standards.
TEST(Targets, QuantitationColumns) {
  const TargetsParse p = parse_targets(
      "name\tmz\trt\tqualifiers\tqualifier_tol\tmz_tol_ppm\tistd\n"
      "IS\t152\t1.3\t\t\t\t\n"
      "A\t73\t1.5\t147:35; 207:12.5;\t10\t\tIS\n"
      "B\t500\t1.8\t250:20\t\t10\tIS\n",
      {}, "t.tsv");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  const Target& a = p.targets[1];
  ASSERT_EQ(a.qualifiers.size(), 2u);
  EXPECT_EQ(a.qualifiers[1].mz, 207.0);
  EXPECT_EQ(a.qualifiers[1].expected_percent, 12.5);
  EXPECT_EQ(a.qualifier_tol, 10.0);
  EXPECT_EQ(a.istd, "IS");
  EXPECT_EQ(a.mz_tol, 0.5);
  const Target& b = p.targets[2];
  EXPECT_EQ(b.qualifier_tol, kDefaultQualifierTolerance);
  EXPECT_DOUBLE_EQ(b.mz_tol, 0.005);
  const Target q = qualifier_target(b, b.qualifiers[0], 1.79);
  EXPECT_DOUBLE_EQ(q.mz_tol, 0.0025);
  EXPECT_EQ(q.mz, 250.0);
  EXPECT_EQ(q.rt, 1.79);
  EXPECT_EQ(q.rt_tol, b.rt_tol);
}

// A target may be given by retention index alone; its rt then waits for the
// ladder, and a nameless one is named by its index.
TEST(Targets, IdentificationColumns) {
  const TargetsParse p = parse_targets(
      "name\tmz\tri\tri_tol\tlibrary_name\tretention_time\n"
      "A\t73\t1043\t15\tHexanal\t\n"
      "\t74\t1100\t\t\t\n"
      "C\t75\t\t\t\t2.5\n",
      {}, "t");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  ASSERT_EQ(p.targets.size(), 3u);
  EXPECT_EQ(p.targets[0].ri, 1043.0);
  EXPECT_EQ(p.targets[0].ri_tol, 15.0);
  EXPECT_EQ(p.targets[0].library_name, "Hexanal");
  EXPECT_FALSE(p.targets[0].rt_given);
  EXPECT_EQ(p.targets[1].name, "74@RI1100");
  EXPECT_FALSE(p.targets[1].ri_tol.has_value());
  EXPECT_TRUE(p.targets[2].rt_given);
  EXPECT_FALSE(p.targets[2].ri.has_value());
}

TEST(Targets, BadQuantitationColumnsNameTheLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"name,mz,rt,mz_tol,mz_tol_ppm\nA,73,1,0.3,5\n", "t:2: give mz_tol (Da) or mz_tol_ppm, not both"},
      {"name,mz,rt,mz_tol_ppm\nA,73,1,-5\n", "t:2: mz_tol_ppm must be 0 or more"},
      {"name,mz,rt,qualifiers\nA,73,1,147\n", "t:2: qualifier '147' is not MZ:PERCENT"},
      {"name,mz,rt,qualifiers\nA,73,1,147:x\n", "t:2: qualifier '147:x'"},
      {"name,mz,rt,qualifiers\nA,73,1,0:20\n", "t:2: qualifier '0:20'"},
      {"name,mz,rt,qualifier_tol\nA,73,1,0\n", "t:2: qualifier_tol must be a positive percentage"},
      {"name,mz,rt,istd\nA,73,1,\nB,74,1,C\n", "t:3: istd 'C' is not a target of this table"},
      {"name,mz,rt,istd\nA,73,1,A\n", "t:2: target 'A' is its own istd"},
      {"name,mz,rt,istd\nA,73,1,B\nB,74,1,C\nC,75,1,A\n", "t:2: istd links of 'A' form a cycle"},
  };
  for (const auto& [text, error] : cases) {
    SCOPED_TRACE(text);
    const TargetsParse p = parse_targets(text, {}, "t");
    ASSERT_FALSE(p.errors.empty());
    EXPECT_NE(p.errors.front().find(error), std::string::npos) << p.errors.front();
  }
}

}  // namespace
}  // namespace vx::host::tables
