#include "sample_list.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx::host::tables {
namespace {

const std::vector<std::string> kTargets{"A", "B"};

// Analysts keep sample lists either way; both give the same entries.
TEST(SampleList, LongAndWideFormsAgree) {
  const SampleListParse wide = parse_sample_list(
      "file\ttype\tA\tB\n"
      "std1\tstandard\t1\t2\n"
      "std2\tStandard\t5\t\n"
      "s1\tsample\t\t\n"
      "qc1\tqc\t3\t3\n",
      kTargets, "w.tsv");
  const SampleListParse long_form = parse_sample_list(
      "\xEF\xBB\xBF# long form\r\nfile,type,target,amount\r\n"
      "std1,standard,A,1\r\nstd1,standard,B,2\r\n"
      "std2,standard,A,5\r\n"
      "s1,sample,,\r\n"
      "qc1,QC,A,3\r\nqc1,qc,B,3\r\n",
      kTargets, "l.csv");
  ASSERT_TRUE(wide.errors.empty()) << wide.errors.front();
  ASSERT_TRUE(long_form.errors.empty()) << long_form.errors.front();
  ASSERT_EQ(wide.entries.size(), 4u);
  ASSERT_EQ(long_form.entries.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(wide.entries[i].file, long_form.entries[i].file);
    EXPECT_EQ(wide.entries[i].type, long_form.entries[i].type);
    EXPECT_EQ(wide.entries[i].amounts, long_form.entries[i].amounts);
  }
  EXPECT_EQ(wide.entries[0].amounts[1], 2.0);
  EXPECT_FALSE(wide.entries[1].amounts[1]);
  EXPECT_EQ(wide.entries[3].type, SampleType::kQc);
}

// Every malformed list is refused with a message naming the line.
TEST(SampleList, BadListsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"", "s:1: the sample list is empty"},
      {"# only a comment\n\n", "s:2: the sample list is empty"},
      {"file\ttype\tA\n", "s:1: the sample list names no file"},
      {"file\tA\n", "s:1: the header needs the columns file and type"},
      {"file\ttype\tC\n", "s:1: column 'C' is neither"},
      {"file\ttype\ttarget\n", "s:1: the columns target and amount go together"},
      {"file\ttype\ttarget\tamount\tA\n", "s:1: use either"},
      {"file\ttype\tA\nx\tunknown_kind\t1\n", "s:2: type 'unknown_kind'"},
      {"file\ttype\ttarget\tamount\nx\tstandard\tC\t1\n", "s:2: target 'C' is not in the targets table"},
      {"file\ttype\tA\nx\tstandard\tten\n", "s:2: amount 'ten' is not a number"},
      {"file\ttype\tA\nx\tstandard\t0\n", "s:2: amount '0' must be a positive number"},
      {"file\ttype\tA\nx\tstandard\t-2\n", "s:2: amount '-2' must be a positive number"},
      {"file\ttype\tA\nx\tstandard\tnan\n", "s:2: amount 'nan' must be a positive number"},
      {"file,type,target,amount\nx,standard,A,1\nx,standard,A,2\n", "s:3: a second amount for x and target A"},
      {"file\ttype\tA\nx\tstandard\t1\nx\tstandard\t1\n", "s:3: file 'x' is listed twice"},
      {"file\ttype\tA\nx\tstandard\t1\nx\tsample\t\n", "s:3: file 'x' was given another type on line 2"},
      {"file\ttype\tA\nx\tsample\t4\n", "s:2: only standards and QCs carry amounts"},
      {"file\ttype\tA\nx\tstandard\t\n", "s:2: standard 'x' has no amount"},
      {"file\ttype\tA\n\tsample\t\n", "s:2: the file cell is empty"},
      {"file\ttype\tA\nx\tsample\t\t\t\n", "s:2: more cells than header columns"},
      {"file,type\n\"x,sample\n", "s:2: unterminated quote"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const SampleListParse p = parse_sample_list(c.text, kTargets, "s");
    ASSERT_FALSE(p.errors.empty());
    EXPECT_NE(p.errors.front().find(c.error), std::string::npos) << p.errors.front();
  }
}

// Entries match a batch file by path, file name or file name without the
// mzML ending; unnamed files are samples, and names that match no file or
// several are errors.
TEST(SampleList, AssignedToTheBatchFiles) {
  const std::vector<std::string> paths{"d/std1.mzML", "d/x.mzML.gz", "e/x.mzML.gz",
                                       "d/s.mzML"};
  const auto assign = [&](const char* text) {
    return assign_samples(parse_sample_list(text, kTargets, "s"), paths, 2, "s");
  };
  const SampleAssignment ok = assign(
      "file\ttype\tA\nstd1\tstandard\t2\ne/x.mzML.gz\tblank\t\nd/x.mzML.gz\tqc\t1\n");
  ASSERT_TRUE(ok.errors.empty()) << ok.errors.front();
  EXPECT_EQ(ok.per_file[1].type, SampleType::kQc);
  EXPECT_EQ(ok.per_file[0].type, SampleType::kStandard);
  EXPECT_EQ(ok.per_file[0].amounts[0], 2.0);
  EXPECT_EQ(ok.per_file[0].file, "d/std1.mzML");
  EXPECT_EQ(ok.per_file[2].type, SampleType::kBlank);
  EXPECT_EQ(ok.per_file[3].type, SampleType::kSample);
  EXPECT_FALSE(ok.per_file[3].amounts[0]);

  const std::pair<const char*, const char*> bad[] = {
      {"file\ttype\nnope\tsample\n", "s:2: file 'nope' is not among the batch's files"},
      {"file\ttype\nx\tsample\n", "s:2: file 'x' matches 2 of the batch's files"},
      {"file\ttype\nstd1\tsample\nstd1.mzML\tsample\n", "s:3: d/std1.mzML is already named on line 2"},
  };
  for (const auto& [text, error] : bad) {
    SCOPED_TRACE(text);
    const SampleAssignment a = assign(text);
    ASSERT_FALSE(a.errors.empty());
    EXPECT_NE(a.errors.front().find(error), std::string::npos) << a.errors.front();
  }
}

}  // namespace
}  // namespace vx::host::tables
