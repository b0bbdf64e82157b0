// The mzML reader: run summary, spectrum records, defaults, conversion
// errors, malformed and compressed documents, and the sample files against
// their ground truth.
#include "mzml/mzml_reader.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/json_scanner.hpp"
#include "mzml_fixtures.hpp"
#include "test_support.hpp"

namespace vx::mzml {
namespace {

using fixtures::array_xml;
using fixtures::base64;
using fixtures::document_xml;
using fixtures::spectrum_xml;

struct ReadResult {
  bool ok = false;
  std::vector<MzmlSpectrum> spectra;
  std::string summary = "untouched";
};

ReadResult read_text(std::string_view bytes, std::string_view path = "/data/a.mzML") {
  ReadResult r;
  r.ok = read_mzml_bytes(
      bytes, path,
      [&r](MzmlSpectrum& s, const SpectrumSpan&) { r.spectra.push_back(std::move(s)); },
      r.summary);
  return r;
}

ReadResult read_path(const std::filesystem::path& path) {
  ReadResult r;
  r.ok = read_mzml_file(path.string(), r.spectra, r.summary);
  return r;
}

// A scratch folder of this test, removed afterwards.
class MzmlFiles : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& name, std::string_view bytes) {
    return scratch_.write(name, bytes);
  }
  vx::testing::ScratchDir scratch_;
  std::filesystem::path dir_ = scratch_.path;
};

const std::string kMz64 = array_xml("", {"m/z array", "64-bit float"}, "AAAAAAAA8D8=");
const std::string kInt32 = array_xml("", {"intensity array", "32-bit float"}, "AACAPw==");

std::string arrays(std::string_view body) {
  return "<binaryDataArrayList count=\"2\">" + std::string(body) +
         "</binaryDataArrayList>";
}

TEST(MzmlReader, RunSummaryExample) {
  const std::string head =
      "<fileDescription><sourceFileList><sourceFile id=\"SF\" name=\"run01.raw\"/>"
      "</sourceFileList></fileDescription>";
  std::string doc = document_xml(
      spectrum_xml("", "") + spectrum_xml("", "") + spectrum_xml("", ""), head);
  doc.replace(doc.find("<run id=\"r\""), 11,
              "<run id=\"r\" startTimeStamp=\"2024-01-01T00:00:00Z\"");
  const ReadResult r = read_text(doc);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(vx::testing::same_bytes(
      r.summary,
      "{\"source_file_name\":\"run01.raw\",\"source_file_path\":\"/data/"
      "a.mzML\",\"mzml_version\":"
      "\"1.1.0\",\"run_start_time\":\"2024-01-01T00:00:00Z\",\"spectrum_count\":3,"
      "\"chromatogram_count\":0}"));
}

TEST(MzmlReader, SpectrumExample) {
  const std::string body =
      "<cvParam name=\"ms level\" value=\"2\"/><cvParam name=\"profile spectrum\" "
      "value=\"\"/>"
      "<scanList><scan><cvParam name=\"scan start time\" value=\"1.5\" "
      "unitName=\"minute\"/>"
      "</scan></scanList>" +
      arrays(kMz64 + kInt32);
  const ReadResult r = read_text(document_xml(spectrum_xml("index=\"0\"", body)));
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.spectra.size(), 1u);
  const MzmlSpectrum& s = r.spectra[0];
  EXPECT_EQ(s.index, 0);
  EXPECT_EQ(s.scan_start_time, 1.5);
  EXPECT_EQ(s.scan_start_time_unit, "minute");
  EXPECT_EQ(s.ms_level, 2);
  EXPECT_EQ(s.spectrum_type, "profile spectrum");
  EXPECT_EQ(s.mz_array, (std::vector<double>{1.0}));
  EXPECT_EQ(s.mz_array_dtype, "float64");
  EXPECT_EQ(s.intensity_array, (std::vector<double>{1.0}));
  EXPECT_EQ(s.intensity_array_dtype, "float32");
  EXPECT_EQ(s.array_compression, "none");
}

// One spectrum's body and attributes, and what the record then holds.
struct RecordCase {
  std::string name;
  std::string attrs;
  std::string body;
  int32_t index = 0;
  double time = 0.0;
  std::string unit = "minute";
  int32_t ms_level = 1;
  std::string type = "centroid spectrum";
};

TEST(MzmlReader, RecordFields) {
  const RecordCase cases[] = {
      {"defaults", "", ""},
      {"seconds", "",
       "<scan><cvParam name=\"scan start time\" value=\"0.5\" "
       "unitName=\"second\"/></scan>",
       0, 0.5, "second"},
      {"no unit name", "",
       "<scan><cvParam name=\"scan start time\" value=\"0.5\"/></scan>", 0, 0.5},
      {"name contains the term", "",
       "<scan><cvParam name=\"xscan start time (approx)\" value=\"3\"/></scan>", 0, 3.0},
      {"last match wins per field", "",
       "<scan><cvParam name=\"scan start time\" value=\"1\" unitName=\"second\"/>"
       "<cvParam name=\"scan start time\" value=\"2\"/></scan>",
       0, 2.0, "second"},
      {"outside the first scan", "",
       "<cvParam name=\"scan start time\" value=\"9\"/><scan/><scan>"
       "<cvParam name=\"scan start time\" value=\"8\"/></scan>"},
      {"nested in the scan", "",
       "<scan><scanWindowList><cvParam name=\"scan start time\" "
       "value=\"4\"/></scanWindowList></scan>",
       0, 4.0},
      {"scanList is not scan", "",
       "<scanList><cvParam name=\"scan start time\" value=\"4\"/></scanList>"},
      {"empty value keeps the time", "",
       "<scan><cvParam name=\"scan start time\" value=\"\" unitName=\"second\"/></scan>",
       0, 0.0, "second"},
      {"ms level", "", "<cvParam name=\"ms level\" value=\"3\"/>", 0, 0.0, "minute", 3},
      {"ms level empty", "", "<cvParam name=\"ms level\" value=\"\"/>", 0, 0.0, "minute",
       1},
      {"ms level anywhere", "",
       "<binaryDataArrayList><cvParam name=\"ms level\" "
       "value=\"4\"/></binaryDataArrayList>",
       0, 0.0, "minute", 4},
      {"profile", "", "<cvParam name=\"profile spectrum\"/>", 0, 0.0, "minute", 1,
       "profile spectrum"},
      {"last type wins", "",
       "<cvParam name=\"profile spectrum\"/><cvParam name=\"centroid spectrum\"/>"},
      {"index attribute", "index=\"42\"", "", 42},
      {"index with blanks", "index=\" 5 \"", "", 5},
      {"negative index", "index=\"-3\"", "", -3},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadResult r = read_text(document_xml(spectrum_xml(c.attrs, c.body)));
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.spectra.size(), 1u);
    const MzmlSpectrum& s = r.spectra[0];
    EXPECT_EQ(s.index, c.index);
    EXPECT_EQ(s.scan_start_time, c.time);
    EXPECT_EQ(s.scan_start_time_unit, c.unit);
    EXPECT_EQ(s.ms_level, c.ms_level);
    EXPECT_EQ(s.spectrum_type, c.type);
  }
}

TEST(MzmlReader, IndexDefaultsToTheOrdinal) {
  ReadResult r = read_text(
      document_xml(spectrum_xml("", "") + spectrum_xml("", "") + spectrum_xml("", "")));
  ASSERT_EQ(r.spectra.size(), 3u);
  EXPECT_EQ(r.spectra[0].index, 0);
  EXPECT_EQ(r.spectra[1].index, 1);
  EXPECT_EQ(r.spectra[2].index, 2);
  r = read_text(document_xml(spectrum_xml("index=\"7\"", "") + spectrum_xml("", "")));
  ASSERT_EQ(r.spectra.size(), 2u);
  EXPECT_EQ(r.spectra[0].index, 7);
  EXPECT_EQ(r.spectra[1].index, 1);  // its ordinal, not 8
}

TEST(MzmlReader, ConversionErrorsLeaveAndKeepEarlierRecords) {
  const struct {
    std::string bad_spectrum;
    std::string what;
  } cases[] = {
      {spectrum_xml("index=\"abc\"", ""), "invalid stoi argument"},
      {spectrum_xml("index=\"99999999999\"", ""), "stoi argument out of range"},
      {spectrum_xml("", "<cvParam name=\"ms level\" value=\"abc\"/>"),
       "invalid stoi argument"},
      {spectrum_xml("", "<scan><cvParam name=\"scan start time\" value=\"x\"/></scan>"),
       "invalid stod argument"},
      {spectrum_xml("",
                    "<scan><cvParam name=\"scan start time\" value=\"1e999\"/></scan>"),
       "stod argument out of range"},
      {spectrum_xml("", arrays(array_xml("arrayLength=\"abc\"", {"m/z array"}, "AAAA"))),
       "invalid stoull argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<MzmlSpectrum> spectra;
    std::string summary = "untouched";
    const std::string doc =
        document_xml(spectrum_xml("", "") + c.bad_spectrum + spectrum_xml("", ""));
    try {
      (void)read_mzml_bytes(
          doc, "p", [&](MzmlSpectrum& s, const SpectrumSpan&) { spectra.push_back(s); },
          summary);
      ADD_FAILURE() << "no error";
    } catch (const std::logic_error& e) {
      EXPECT_EQ(std::string(e.what()), c.what);
    }
    EXPECT_EQ(spectra.size(), 1u);
    EXPECT_EQ(summary, "untouched");
  }
}

TEST(MzmlReader, DocumentLevelSearches) {
  const struct {
    std::string name;
    std::string head;
    std::string run_prefix;  // text placed before the run element
    std::string want_source;
    std::string want_start;
  } cases[] = {
      {"no file description", "", "", "", ""},
      {"attribute on fileDescription",
       "<fileDescription id=\"x\"><sourceFile name=\"a\"/></fileDescription>", "", "",
       ""},
      {"blank before '>'", "<fileDescription ><sourceFile name=\"a\"/></fileDescription>",
       "", "", ""},
      {"first sourceFile wins",
       "<fileDescription><sourceFile name=\"a\"/><sourceFile "
       "name=\"b\"/></fileDescription>",
       "", "a", ""},
      {"filename does not answer for name",
       "<fileDescription><sourceFile id=\"f\" filename=\"x\" "
       "name=\"b\"/></fileDescription>",
       "", "b", ""},
      {"runList is taken as the run", "", "<runList startTimeStamp=\"early\">", "",
       "early"},
      {"source name escaped",
       "<fileDescription><sourceFile name=\"a\\b&quot;\"/></fileDescription>", "",
       "a\\\\b&quot;", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string doc = document_xml("", c.head);
    doc.insert(doc.find("<run id"), c.run_prefix);
    const ReadResult r = read_text(doc, "p");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.summary, "{\"source_file_name\":\"" + c.want_source +
                             "\",\"source_file_path\":\"p\",\"mzml_version\":\"1.1.0\","
                             "\"run_start_time\":\"" +
                             c.want_start +
                             "\",\"spectrum_count\":0,\"chromatogram_count\":0}");
  }
  // The path is written escaped.
  const ReadResult r = read_text(document_xml(""), "C:\\data\\\"a\".mzML");
  EXPECT_NE(r.summary.find("\"source_file_path\":\"C:\\\\data\\\\\\\"a\\\".mzML\""),
            std::string::npos)
      << r.summary;
}

TEST(MzmlReader, ZlibOnlyIntensityIsNowDecoded) {
  const std::string z = base64(
      fixtures::compress(fixtures::le_bytes32({5.0f, 6.0f}), fixtures::Wrap::kZlib));
  ReadResult r = read_text(document_xml(spectrum_xml(
      "", arrays(array_xml("", {"intensity array", "32-bit float", "zlib compression"},
                           z)))));
  ASSERT_EQ(r.spectra.size(), 1u);
  EXPECT_EQ(r.spectra[0].intensity_array, (std::vector<double>{5.0, 6.0}));
  EXPECT_EQ(r.spectra[0].array_compression, "none");
  // Corrupt data: the array is skipped and the defaults remain.
  r = read_text(document_xml(spectrum_xml(
      "", arrays(array_xml("", {"intensity array", "64-bit float", "zlib compression"},
                           "AAAAAAAA")))));
  ASSERT_EQ(r.spectra.size(), 1u);
  EXPECT_TRUE(r.spectra[0].intensity_array.empty());
  EXPECT_EQ(r.spectra[0].intensity_array_dtype, "float32");
}

TEST(MzmlReader, ParamGroupsCountWhereTheReferenceStands) {
  const std::string head =
      "<referenceableParamGroupList count=\"2\">"
      "<referenceableParamGroup id=\"sp\"><cvParam name=\"ms level\" value=\"2\"/>"
      "<cvParam name=\"profile spectrum\"/></referenceableParamGroup>"
      "<referenceableParamGroup id=\"t\"><cvParam name=\"scan start time\" value=\"7\" "
      "unitName=\"second\"/></referenceableParamGroup>"
      "</referenceableParamGroupList>";
  const std::string body =
      "<referenceableParamGroupRef ref=\"sp\"/>"
      "<cvParam name=\"ms level\" value=\"3\"/>"
      "<scan><referenceableParamGroupRef ref=\"t\"/></scan>";
  const ReadResult r = read_text(document_xml(spectrum_xml("", body), head));
  ASSERT_EQ(r.spectra.size(), 1u);
  EXPECT_EQ(r.spectra[0].ms_level, 3);  // the explicit cvParam comes after the reference
  EXPECT_EQ(r.spectra[0].spectrum_type, "profile spectrum");
  EXPECT_EQ(r.spectra[0].scan_start_time, 7.0);
  EXPECT_EQ(r.spectra[0].scan_start_time_unit, "second");
}

TEST(MzmlReader, MalformedDocumentsNeverFailLoudly) {
  const std::string good = document_xml(spectrum_xml("", arrays(kMz64 + kInt32)) +
                                        spectrum_xml("", arrays(kMz64)));
  // Every prefix of a document reads without error; complete spectra before
  // the cut are found, and the cut is reported unless only the final line
  // feed is missing.
  for (std::size_t n = 1; n <= good.size(); ++n) {
    ReadProblem problem;
    ReadResult r;
    r.ok = read_mzml_bytes(
        good.substr(0, n), "p",
        [&r](MzmlSpectrum& s, const SpectrumSpan&) { r.spectra.push_back(std::move(s)); },
        r.summary, &problem);
    ASSERT_EQ(r.ok, n >= good.size() - 1) << n;
    ASSERT_EQ(problem.incomplete, !r.ok) << n;
    ASSERT_LE(r.spectra.size(), 2u);
  }
  const struct {
    std::string name;
    std::string doc;
    std::size_t spectra;
  } cases[] = {
      {"spectrum without end tag",
       document_xml(spectrum_xml("", "") +
                    "<spectrum index=\"1\"><cvParam name=\"ms level\"/>"),
       1},
      {"end tag with a blank", "<spectrum>x</spectrum >", 0},
      {"base64 junk",
       document_xml(
           spectrum_xml("", arrays(array_xml("", {"m/z array"}, "@@@!!\x01\xff")))),
       1},
      {"no root", "<spectrum/><spectrum/>", 2},
      {"binary without end",
       document_xml(
           spectrum_xml("", "<binaryDataArrayList><binaryDataArray><binary>AAAA")),
       1},
      {"namespace prefixes are not matched", "<ns:spectrum></ns:spectrum>", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadResult r = read_text(c.doc);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.spectra.size(), c.spectra);
  }
}

TEST_F(MzmlFiles, UnreadableFilesLeaveOutputsUntouched) {
  const std::filesystem::path paths[] = {
      write("empty.mzML", ""),
      dir_ / "missing.mzML",
      dir_,  // a directory
      write("bad.mzML.gz", "\x1f\x8b\x08\x00garbage that does not inflate"),
      write("empty.gz", std::string_view("\x1f\x8b", 2)),
  };
  for (const auto& p : paths) {
    SCOPED_TRACE(p.string());
    const ReadResult r = read_path(p);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.spectra.empty());
    EXPECT_EQ(r.summary, "untouched");
  }
  // A path with a zero byte names no file.
  ReadResult r;
  const std::string nul_path = (dir_ / "x").string() + std::string("\0y", 2);
  EXPECT_FALSE(read_mzml_file(nul_path, r.spectra, r.summary));
}

TEST_F(MzmlFiles, GzipFilesReadLikeTheirContent) {
  const std::string doc =
      document_xml(spectrum_xml("index=\"4\"", arrays(kMz64 + kInt32)));
  const auto gz = fixtures::compress(fixtures::as_bytes(doc), fixtures::Wrap::kGzip);
  const ReadResult plain = read_text(doc, "x");
  const ReadResult zipped = read_path(write("a.mzML.gz", fixtures::as_text(gz)));
  ASSERT_TRUE(zipped.ok);
  ASSERT_EQ(zipped.spectra.size(), 1u);
  EXPECT_EQ(zipped.spectra[0].index, 4);
  EXPECT_EQ(zipped.spectra[0].mz_array, plain.spectra[0].mz_array);
  // Two members (as concatenated gzip files are) read as one document.
  const std::string half1 = doc.substr(0, doc.size() / 2);
  const std::string half2 = doc.substr(doc.size() / 2);
  const std::string two = fixtures::as_text(fixtures::compress(fixtures::as_bytes(half1),
                                                               fixtures::Wrap::kGzip)) +
                          fixtures::as_text(fixtures::compress(fixtures::as_bytes(half2),
                                                               fixtures::Wrap::kGzip));
  const ReadResult joined = read_text(two);
  ASSERT_TRUE(joined.ok);
  EXPECT_EQ(joined.spectra.size(), 1u);
  // Truncated or damaged gzip data is refused, never half-read.
  const std::string whole = fixtures::as_text(gz);
  for (std::size_t cut :
       {std::size_t{2}, std::size_t{10}, whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(cut);
    EXPECT_FALSE(read_text(whole.substr(0, cut)).ok);
  }
  std::string damaged = whole;
  damaged[whole.size() - 6] = static_cast<char>(damaged[whole.size() - 6] ^ 0x55);  // CRC
  EXPECT_FALSE(read_text(damaged).ok);
}

TEST(MzmlReader, IndexedWrapperReadsLikePlainMzml) {
  const std::string plain =
      document_xml(spectrum_xml("index=\"0\" id=\"scan=1\"", arrays(kMz64 + kInt32)));
  const std::string indexed =
      "<?xml version=\"1.0\"?>\n<indexedmzML xmlns=\"http://psi.hupo.org/ms/mzml\">\n" +
      plain.substr(plain.find("<mzML")) +
      "<indexList count=\"2\"><index name=\"spectrum\"><offset "
      "idRef=\"scan=1\">120</offset>"
      "</index><index "
      "name=\"chromatogram\"/></indexList>\n<indexListOffset>399</indexListOffset>\n"
      "<fileChecksum>0123456789abcdef0123456789abcdef01234567</fileChecksum>\n</"
      "indexedmzML>\n";
  const ReadResult a = read_text(plain, "p");
  const ReadResult b = read_text(indexed, "p");
  ASSERT_TRUE(b.ok);
  ASSERT_EQ(b.spectra.size(), 1u);
  EXPECT_EQ(b.spectra[0].mz_array, a.spectra[0].mz_array);
  EXPECT_EQ(b.spectra[0].intensity_array, a.spectra[0].intensity_array);
  EXPECT_EQ(b.summary, a.summary);
}

// ---- sample files ----------------------------------------------------------

std::vector<MzmlSpectrum> read_sample(const std::string& name) {
  const ReadResult r = read_path(vx::testing::test_data("mzml/" + name));
  EXPECT_TRUE(r.ok) << name;
  return r.spectra;
}

double minutes(const MzmlSpectrum& s) {
  return s.scan_start_time_unit == "second" ? s.scan_start_time / 60.0
                                            : s.scan_start_time;
}

// The objects of the spot_checks array of a truth file, as texts.
std::vector<std::string> spot_checks(const std::string& truth) {
  const auto list = common::find_member_text(truth, "spot_checks");
  std::vector<std::string> out;
  if (!list) return out;
  int depth = 0;
  std::size_t open = 0;
  for (std::size_t i = 0; i < list->size(); ++i) {
    if ((*list)[i] == '{' && depth++ == 0) open = i;
    if ((*list)[i] == '}' && --depth == 0)
      out.emplace_back(list->substr(open, i - open + 1));
  }
  return out;
}

TEST(MzmlSamples, SpotChecksOfTheTruthFiles) {
  for (const std::string base : {"sim_tiny", "sim_basic", "fullscan_tiny",
                                 "fullscan_basic", "fullscan_profile_tiny"}) {
    SCOPED_TRACE(base);
    const std::string truth =
        vx::testing::read_file(vx::testing::test_data("mzml/" + base + ".truth.json"));
    const std::vector<MzmlSpectrum> spectra = read_sample(base + ".mzML");
    ASSERT_EQ(static_cast<double>(spectra.size()),
              *common::read_number_member(truth, "n_spectra"));
    const auto checks = spot_checks(truth);
    ASSERT_EQ(checks.size(), 3u);
    for (const std::string& c : checks) {
      const auto index =
          static_cast<std::size_t>(*common::read_number_member(c, "index"));
      SCOPED_TRACE(index);
      ASSERT_LT(index, spectra.size());
      const MzmlSpectrum& s = spectra[index];
      EXPECT_EQ(s.index, static_cast<int32_t>(index));
      EXPECT_EQ(s.scan_start_time_unit, "minute");
      EXPECT_NEAR(s.scan_start_time,
                  *common::read_number_member(c, "scan_start_time_min"), 1e-9);
      EXPECT_EQ(s.mz_array_dtype, "float64");
      EXPECT_EQ(s.intensity_array_dtype, "float32");
      if (const auto mz = common::find_member_text(c, "mz")) {  // SIM: whole arrays
        EXPECT_EQ(s.mz_array, common::parse_number_list(*mz));
        EXPECT_EQ(s.intensity_array,
                  common::parse_number_list(*common::find_member_text(c, "intensity")));
      } else {  // full scan: the first values and the sum
        const auto n =
            static_cast<std::size_t>(*common::read_number_member(c, "n_points"));
        ASSERT_EQ(s.mz_array.size(), n);
        ASSERT_EQ(s.intensity_array.size(), n);
        const auto mz5 =
            common::parse_number_list(*common::find_member_text(c, "mz_first5"));
        const auto in5 =
            common::parse_number_list(*common::find_member_text(c, "intensity_first5"));
        EXPECT_EQ(std::vector<double>(s.mz_array.begin(), s.mz_array.begin() + 5), mz5);
        EXPECT_EQ(
            std::vector<double>(s.intensity_array.begin(), s.intensity_array.begin() + 5),
            in5);
        double sum = 0.0;
        for (double v : s.intensity_array) sum += v;
        EXPECT_NEAR(sum, *common::read_number_member(c, "intensity_sum_float64"),
                    1e-9 * sum);
      }
    }
  }
}

TEST(MzmlSamples, EveryIntensityOfTheTracesFiles) {
  for (const std::string base : {"sim_tiny", "sim_basic"}) {
    SCOPED_TRACE(base);
    const std::vector<MzmlSpectrum> spectra = read_sample(base + ".mzML");
    const std::string csv =
        vx::testing::read_file(vx::testing::test_data("mzml/" + base + ".traces.csv"));
    std::size_t line_start = csv.find('\n') + 1;  // after the header
    std::size_t rows = 0;
    while (line_start < csv.size()) {
      std::size_t line_end = csv.find('\n', line_start);
      if (line_end == std::string::npos) line_end = csv.size();
      const std::string line = csv.substr(line_start, line_end - line_start);
      line_start = line_end + 1;
      if (line.empty()) continue;
      const std::vector<double> cells = common::parse_number_list(line);
      const auto i = static_cast<std::size_t>(cells[0]);
      ASSERT_LT(i, spectra.size());
      EXPECT_NEAR(minutes(spectra[i]), cells[1], 1e-9) << i;
      EXPECT_EQ(spectra[i].intensity_array,
                std::vector<double>(cells.begin() + 2, cells.end()))
          << i;
      ++rows;
    }
    EXPECT_EQ(rows, spectra.size());
  }
}

// Largest relative difference allowed between a variant and its base file.
struct Variant {
  std::string file;
  double mz_tolerance;         // relative
  double intensity_tolerance;  // relative (pic: absolute rounding, see below)
  bool rounded_intensity = false;
};

void expect_same_spectra(const std::vector<MzmlSpectrum>& got,
                         const std::vector<MzmlSpectrum>& base, const Variant& v) {
  ASSERT_EQ(got.size(), base.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].index, base[i].index);
    EXPECT_EQ(got[i].ms_level, base[i].ms_level);
    EXPECT_EQ(got[i].spectrum_type, base[i].spectrum_type);
    EXPECT_NEAR(minutes(got[i]), minutes(base[i]), 1e-8);
    ASSERT_EQ(got[i].mz_array.size(), base[i].mz_array.size());
    ASSERT_EQ(got[i].intensity_array.size(), base[i].intensity_array.size());
    if (v.mz_tolerance == 0.0) {
      EXPECT_EQ(got[i].mz_array, base[i].mz_array);
    } else {
      for (std::size_t k = 0; k < got[i].mz_array.size(); ++k) {
        EXPECT_NEAR(got[i].mz_array[k], base[i].mz_array[k],
                    v.mz_tolerance * base[i].mz_array[k]);
      }
    }
    if (v.intensity_tolerance == 0.0 && !v.rounded_intensity) {
      EXPECT_EQ(got[i].intensity_array, base[i].intensity_array);
    } else {
      for (std::size_t k = 0; k < got[i].intensity_array.size(); ++k) {
        const double want = base[i].intensity_array[k];
        const double tol =
            v.rounded_intensity ? 0.5 : v.intensity_tolerance * (want + 1.0);
        EXPECT_NEAR(got[i].intensity_array[k], want, tol);
      }
    }
  }
}

TEST(MzmlSamples, EveryVariantGivesTheBaseFilesSpectra) {
  const Variant sim[] = {
      {"sim_tiny.zlib.mzML", 0, 0},
      {"sim_tiny.msconvert.mzML", 0, 0},
      {"sim_tiny.mzML.gz", 0, 0},
      {"sim_tiny.chromatograms.mzML", 0, 0},
      {"sim_tiny.paramgroups.mzML", 0, 0},
      {"sim_tiny.compact.mzML", 0, 0},
      {"sim_tiny.noarraylength.mzML", 0, 0},
      {"sim_tiny.seconds.mzML", 0, 0},
      {"sim_tiny.openms.mzML", 0, 0},
      {"sim_tiny.numpress_pic.mzML", 0, 0, true},
      {"sim_tiny.numpress_slof.mzML", 0, 1e-4},
      {"sim_tiny.numpress_zlib.mzML", 1e-9, 1e-4},
      {"sim_tiny.openms_lossy.mzML", 1e-9, 1e-4},
  };
  const Variant full[] = {
      {"fullscan_tiny.zlib.mzML", 0, 0},
      {"fullscan_tiny.msconvert.mzML", 0, 0},
      {"fullscan_tiny.mzML.gz", 0, 0},
      {"fullscan_tiny.openms.mzML", 0, 0},
      {"fullscan_tiny.mz32.mzML", 2e-7, 0},
      {"fullscan_tiny.numpress_linear.mzML", 1e-9, 0},
      {"fullscan_tiny.numpress_pic.mzML", 0, 0, true},
      {"fullscan_tiny.numpress_slof.mzML", 0, 1e-4},
      {"fullscan_tiny.numpress_zlib.mzML", 1e-9, 1e-4},
      {"fullscan_tiny.openms_lossy.mzML", 1e-9, 1e-4},
  };
  const auto sim_base = read_sample("sim_tiny.mzML");
  for (const Variant& v : sim) {
    SCOPED_TRACE(v.file);
    expect_same_spectra(read_sample(v.file), sim_base, v);
  }
  const auto full_base = read_sample("fullscan_tiny.mzML");
  for (const Variant& v : full) {
    SCOPED_TRACE(v.file);
    expect_same_spectra(read_sample(v.file), full_base, v);
  }
}

TEST(MzmlSamples, CorruptedCompressedFilesNeverCrash) {
  // Bytes of compressed sample files are overwritten at random places
  // (inside base64 text, by other base64 characters, so the damage reaches
  // the inflater and the numpress decoders): each read ends normally, and a
  // damaged gzip file is refused.
  std::mt19937 rng(5);
  const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (const std::string name :
       {"sim_tiny.zlib.mzML", "sim_tiny.numpress_zlib.mzML", "sim_tiny.numpress_pic.mzML",
        "sim_tiny.numpress_slof.mzML", "fullscan_tiny.numpress_linear.mzML",
        "fullscan_tiny.openms_lossy.mzML", "sim_tiny.mzML.gz"}) {
    SCOPED_TRACE(name);
    const std::string original =
        vx::testing::read_file(vx::testing::test_data("mzml/" + name));
    const bool gz = name.ends_with(".gz");
    for (int round = 0; round < 40; ++round) {
      std::string damaged = original;
      for (int k = 0; k < 1 + round % 4; ++k) {
        std::size_t at = rng() % damaged.size();
        if (!gz) {
          at = damaged.find("<binary>", at);
          if (at == std::string::npos) at = damaged.find("<binary>");
          at += 8 + rng() % 16;
        }
        damaged[at] = gz ? static_cast<char>(rng()) : alphabet[rng() % 64];
      }
      ReadResult r;
      try {
        r = read_text(damaged);
      } catch (const std::logic_error&) {
        continue;  // a conversion error is an allowed outcome
      }
      if (!gz) {
        EXPECT_TRUE(r.ok);
      } else if (r.ok) {
        EXPECT_EQ(r.spectra.size(),
                  61u);  // only header bytes outside the checksums changed
      }
    }
  }
}

TEST(MzmlSamples, NamespacePrefixedFileHasNoSpectraItCanSee) {
  // Prefixed element names are not matched by the byte patterns; the file
  // reads as a document without spectra.
  EXPECT_TRUE(read_sample("sim_tiny.nsprefix.mzML").empty());
}

TEST(MzmlSamples, PublicGcmsFileWithZlibAndDescendingMz) {
  const auto path =
      vx::testing::shared_file("data/mzml/public/FKB-FA-060-RI.cut_8.45-9.20min.mzML");
  if (path.empty()) GTEST_SKIP() << "shared sample folder absent";
  const ReadResult r = read_path(path);
  ASSERT_TRUE(r.ok);
  ASSERT_GT(r.spectra.size(), 100u);
  // The trace at m/z 57 (largest intensity within +-0.3) peaks near 8.64
  // and 9.03 minutes.
  std::vector<std::pair<double, double>> trace;
  for (const MzmlSpectrum& s : r.spectra) {
    ASSERT_FALSE(s.mz_array.empty());
    ASSERT_EQ(s.mz_array.size(), s.intensity_array.size());
    EXPECT_GT(s.mz_array.front(), s.mz_array.back());  // written in descending order
    double best = 0.0;
    for (std::size_t k = 0; k < s.mz_array.size(); ++k) {
      if (std::abs(s.mz_array[k] - 57.05) <= 0.3)
        best = std::max(best, s.intensity_array[k]);
    }
    trace.emplace_back(minutes(s), best);
  }
  const auto apex_in = [&trace](double lo, double hi) {
    double t = 0.0;
    double best = -1.0;
    for (const auto& [time, v] : trace) {
      if (time >= lo && time <= hi && v > best) {
        best = v;
        t = time;
      }
    }
    return t;
  };
  EXPECT_NEAR(apex_in(8.5, 8.85), 8.64, 0.02);
  EXPECT_NEAR(apex_in(8.9, 9.15), 9.03, 0.02);
}

}  // namespace
}  // namespace vx::mzml
