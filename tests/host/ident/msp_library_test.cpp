// The .msp reader on the layouts libraries are exported in.
#include "msp_library.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx::host::ident {
namespace {

using Peaks = std::vector<LibraryPeak>;

TEST(MspLibrary, ReadsTheCommonLayouts) {
  struct Case {
    std::string what;
    std::string text;
    std::string name;
    Peaks peaks;
    std::optional<double> ri, rt, precursor;
  };
  const Peaks three{{41, 999}, {43, 120.5}, {57, 10}};
  const Case cases[] = {
      {"NIST, one pair per line, spaces",
       "Name: Hexane\nNum Peaks: 3\n41 999\n43 120.5\n57 10\n",
       "Hexane",
       three,
       {},
       {},
       {}},
      {"tabs, CRLF, BOM",
       "\xEF\xBB\xBFNAME: Hexane\r\nNUM PEAKS: 3\r\n41\t999\r\n43\t120.5\r\n57\t10\r\n",
       "Hexane",
       three,
       {},
       {},
       {}},
      {"several pairs per line with ';'",
       "Name: Hexane\nNum peaks: 3\n41 999; 43 120.5;\n57 10;\n",
       "Hexane",
       three,
       {},
       {},
       {}},
      {"quoted annotations holding ';' and ':'",
       "Name: Hexane\nNum Peaks: 3\n41 999 \"C3H5+; p:1\"\n43\t120.5\t\"C3H7+\"\n57 10 "
       "\"?\"\n",
       "Hexane",
       three,
       {},
       {},
       {}},
      {"pairs and annotations on one line",
       "Name: Hexane\nNum Peaks: 3\n41 999 \"a\"; 43 120.5 \"b\"; 57 10\n",
       "Hexane",
       three,
       {},
       {},
       {}},
      {"MassBank/MoNA fields",
       "NAME: Hexane\nPRECURSORMZ: 86.1\nRETENTIONINDEX: 600\nRETENTIONTIME: 4.2\n"
       "Num Peaks: 3\n41 999\n43 120.5\n57 10\n",
       "Hexane", three, 600.0, 4.2, 86.1},
      {"NIST RI form, RT in seconds",
       "Name: Hexane\nRetention_index: SemiStdNP=601/2/30 StdNP=598/1/4 "
       "StdPolar=620/3/5\n"
       "RT: 252 s\nNum Peaks: 3\n41 999\n43 120.5\n57 10\n",
       "Hexane",
       three,
       601.0,
       4.2,
       {}},
      {"only the standard non-polar RI",
       "Name: Hexane\nRetention_index: StdNP=598/1/4\nri_dummy: x\n"
       "Num Peaks: 3\n41 999\n43 120.5\n57 10\n",
       "Hexane",
       three,
       598.0,
       {},
       {}},
      {"an entry with no peaks",
       "Name: Nothing\nNum Peaks: 0\n",
       "Nothing",
       {},
       {},
       {},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const MspParse p = parse_msp(c.text, "lib.msp");
    ASSERT_TRUE(p.errors.empty()) << p.errors.front();
    ASSERT_EQ(p.entries.size(), 1u);
    const LibraryEntry& e = p.entries[0];
    EXPECT_EQ(e.name, c.name);
    EXPECT_EQ(e.peaks, c.peaks);
    EXPECT_EQ(e.retention_index, c.ri);
    if (c.rt) {
      ASSERT_TRUE(e.retention_time);
      EXPECT_NEAR(*e.retention_time, *c.rt, 1e-12);
    } else {
      EXPECT_FALSE(e.retention_time);
    }
    EXPECT_EQ(e.precursor_mz, c.precursor);
  }
}

TEST(MspLibrary, SeparatesEntriesAndKeepsOtherFields) {
  // A blank line, several blank lines, and a Name: line with no blank line
  // before it all end an entry; unknown fields are kept, not refused.
  const std::string text =
      "Name: A\nSynon: a-one\nCAS#: 1-2-3\nNum Peaks: 1\n10 1\n\n\n"
      "Name: B\nComments: \"x=1\" \"y=2\"\nNum Peaks: 2\n20 2\n21 3\n"
      "Name: C\nNum Peaks: 1\n30 3\n";
  const MspParse p = parse_msp(text, "lib.msp");
  ASSERT_TRUE(p.errors.empty()) << p.errors.front();
  ASSERT_EQ(p.entries.size(), 3u);
  EXPECT_EQ(p.entries[0].line, 1u);
  EXPECT_EQ(p.entries[1].line, 8u);
  EXPECT_EQ(p.entries[2].line, 13u);
  ASSERT_EQ(p.entries[0].fields.size(), 2u);
  EXPECT_EQ(p.entries[0].fields[1].first, "CAS#");
  EXPECT_EQ(p.entries[0].fields[1].second, "1-2-3");
  EXPECT_EQ(p.entries[1].peaks, (Peaks{{20, 2}, {21, 3}}));
}

}  // namespace
}  // namespace vx::host::ident
