// Binary data arrays: base64 rules, little-endian floats, classification,
// arrayLength handling, zlib and MS-Numpress decoding, and skipping of
// arrays that cannot be decoded.
#include "mzml/binary_array.hpp"

#include <gtest/gtest.h>

#include <MSNumpress.hpp>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "mzml_fixtures.hpp"

namespace vx::mzml {
namespace {

using fixtures::array_xml;
using fixtures::as_bytes;
using fixtures::as_text;
using fixtures::base64;
using fixtures::le_bytes32;
using fixtures::le_bytes64;

// Exact comparison that treats NaN as equal to NaN of the same bits.
::testing::AssertionResult same_values(const std::vector<double>& got,
                                       const std::vector<double>& want) {
  if (got.size() != want.size()) {
    return ::testing::AssertionFailure()
           << "sizes " << got.size() << " and " << want.size();
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (std::memcmp(&got[i], &want[i], sizeof(double)) != 0) {
      return ::testing::AssertionFailure()
             << "value " << i << ": " << got[i] << " vs " << want[i];
    }
  }
  return ::testing::AssertionSuccess();
}

struct Base64Case {
  std::string in;
  std::string want;
};

TEST(BinaryArray, Base64SkipAndStopRules) {
  const Base64Case cases[] = {
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"QQ==", "A"},
      {"QUI", "AB"},  // unpadded input decodes the same
      {"QQ", "A"},
      {"Q", ""},  // leftover bits are dropped
      {"", ""},
      {"Q U\tJ\nD\r", "ABC"},
      {"Q\vU\fJD", "ABC"},         // VT and FF are blanks too
      {"Q-U_J.D\x80\xff", "ABC"},  // bytes outside the alphabet are skipped
      {"QUI=QUJD", "AB"},          // the first '=' ends decoding
      {"=QUJD", ""},
      {"QUJDQUJD\nQUJD", "ABCABCABC"},
      {"Q\nUJDQUJD", "ABCABC"},  // a blank inside a group, then whole groups again
      {"+/+/", "\xfb\xff\xbf"},
  };
  for (const Base64Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(as_text(decode_base64(c.in)), c.want);
  }
}

TEST(BinaryArray, Base64RoundTripsRandomBytes) {
  std::mt19937 rng(7);
  std::vector<std::byte> reused;
  for (int round = 0; round < 300; ++round) {
    std::vector<std::byte> bytes(rng() % 200);
    for (auto& b : bytes) b = static_cast<std::byte>(rng());
    std::string text = base64(bytes);
    decode_base64(text, reused);
    ASSERT_EQ(reused, bytes);
    // Line breaks and junk anywhere before the padding change nothing.
    for (std::size_t i = text.size(); i > 0;
         i -= std::min<std::size_t>(i, 1 + rng() % 13)) {
      if (text[i - 1] != '=') text.insert(i - 1, 1, rng() % 2 ? '\n' : '-');
    }
    ASSERT_EQ(decode_base64(text), bytes) << text;
  }
}

TEST(BinaryArray, LittleEndianFloats) {
  const std::vector<double> d = {1.0,
                                 -0.0,
                                 0.1,
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::denorm_min(),
                                 std::numeric_limits<double>::quiet_NaN()};
  EXPECT_TRUE(same_values(decode_float64_array(le_bytes64(d), d.size()), d));
  const std::vector<float> f = {1.0f, -0.0f, 0.1f, std::numeric_limits<float>::infinity(),
                                std::numeric_limits<float>::denorm_min()};
  std::vector<double> widened;
  for (float x : f) widened.push_back(static_cast<double>(x));
  EXPECT_TRUE(same_values(decode_float32_array(le_bytes32(f), f.size()), widened));
  // A float32 NaN stays NaN and infinities keep their sign.
  const auto nan =
      decode_float32_array(le_bytes32({-std::numeric_limits<float>::quiet_NaN(),
                                       -std::numeric_limits<float>::infinity()}),
                           2);
  EXPECT_TRUE(std::isnan(nan[0]));
  EXPECT_EQ(nan[1], -std::numeric_limits<double>::infinity());
}

TEST(BinaryArray, CountIsCutToTheWholeValuesAvailable) {
  const auto bytes = le_bytes64({1.0, 2.0});
  std::vector<std::byte> with_tail = bytes;
  with_tail.push_back(std::byte{0x7f});  // a trailing partial value is ignored
  std::vector<double> out = {9.0, 9.0, 9.0};
  decode_float64_array(with_tail, std::numeric_limits<std::size_t>::max(), out);
  EXPECT_EQ(out, (std::vector<double>{1.0, 2.0}));
  decode_float64_array(bytes, 1, out);
  EXPECT_EQ(out, (std::vector<double>{1.0}));
  decode_float32_array(le_bytes32({3.0f}), 1000, out);
  EXPECT_EQ(out, (std::vector<double>{3.0}));
  decode_float64_array({}, 5, out);
  EXPECT_TRUE(out.empty());
}

// What one array does to a fresh record.
struct ArrayCase {
  std::string name;
  std::string xml;
  std::vector<double> mz;
  std::vector<double> intensity;
  std::string mz_dtype = "float64";
  std::string intensity_dtype = "float32";
};

const std::string kOne64 = "AAAAAAAA8D8=";  // 1.0 as binary64
const std::string kOne32 = "AACAPw==";      // 1.0 as binary32

std::vector<ArrayCase> plain_cases() {
  const std::string two64 = base64(le_bytes64({1.0, 2.0}));
  return {
      {"float64 m/z", array_xml("", {"m/z array", "64-bit float"}, kOne64), {1.0}, {}},
      {"float32 intensity",
       array_xml("", {"intensity array", "32-bit float"}, kOne32),
       {},
       {1.0}},
      {"float32 m/z",
       array_xml("", {"32-bit float", "m/z array"}, kOne32),
       {1.0},
       {},
       "float32"},
      {"float64 intensity",
       array_xml("", {"64-bit float", "intensity array"}, kOne64),
       {},
       {1.0},
       "float64",
       "float64"},
      {"no width is float64", array_xml("", {"m/z array"}, kOne64), {1.0}, {}},
      {"last width wins",
       array_xml("", {"32-bit float", "64-bit float", "m/z array"}, kOne64),
       {1.0},
       {}},
      {"last kind wins",
       array_xml("", {"m/z array", "intensity array", "64-bit float"}, kOne64),
       {},
       {1.0},
       "float64",
       "float64"},
      {"no kind: dropped", array_xml("", {"64-bit float"}, kOne64), {}, {}},
      {"blanks in base64",
       array_xml("", {"m/z array"}, "AAAA\n AAAA\r\n8D8="),
       {1.0},
       {}},
      {"unpadded",
       array_xml("", {"intensity array", "32-bit float"}, "AACAPw"),
       {},
       {1.0}},
      {"arrayLength 1 of 2",
       array_xml("arrayLength=\"1\"", {"m/z array"}, two64),
       {1.0},
       {}},
      {"arrayLength empty",
       array_xml("arrayLength=\"\"", {"m/z array"}, two64),
       {1.0, 2.0},
       {}},
      {"arrayLength 0",
       array_xml("arrayLength=\"0\"", {"m/z array"}, two64),
       {1.0, 2.0},
       {}},
      {"arrayLength blanks",
       array_xml("arrayLength=\" 1x\"", {"m/z array"}, two64),
       {1.0},
       {}},
      // Larger than the bytes hold, including -1 (the largest unsigned
      // value): cut to the values available, never reserved.
      {"arrayLength too large",
       array_xml("arrayLength=\"5\"", {"m/z array"}, two64),
       {1.0, 2.0},
       {}},
      {"arrayLength -1",
       array_xml("arrayLength=\"-1\"", {"m/z array"}, two64),
       {1.0, 2.0},
       {}},
      {"arrayLength max",
       array_xml("arrayLength=\"18446744073709551615\"", {"m/z array"}, two64),
       {1.0, 2.0},
       {}},
      {"empty binary", array_xml("arrayLength=\"1\"", {"m/z array"}, ""), {}, {}},
      {"self-closing binary",
       "<binaryDataArray arrayLength=\"1\"><cvParam name=\"m/z array\"/><binary/>"
       "</binaryDataArray>",
       {},
       {}},
      {"no binary element",
       "<binaryDataArray><cvParam name=\"m/z array\"/></binaryDataArray>",
       {},
       {}},
      {"no compression",
       array_xml("", {"m/z array", "no compression"}, kOne64),
       {1.0},
       {}},
      // A scheme that cannot be decoded is skipped, never read as floats.
      {"unknown compression",
       array_xml("",
                 {"m/z array",
                  "MS-Numpress linear prediction compression followed by "
                  "bzip2 compression"},
                 kOne64),
       {},
       {}},
      {"unknown compression, bad length",
       array_xml("arrayLength=\"abc\"", {"m/z array", "LZ4 compression"}, kOne64),
       {},
       {}},
      // Names are compared whole and case-sensitively.
      {"case matters", array_xml("", {"M/Z array"}, kOne64), {}, {}},
      {"accession alone",
       "<binaryDataArray><cvParam accession=\"MS:1000514\"/><binary>" + kOne64 +
           "</binary></binaryDataArray>",
       {},
       {}},
  };
}

void check_case(const ArrayCase& c, const MzmlSpectrum& s) {
  EXPECT_TRUE(same_values(s.mz_array, c.mz));
  EXPECT_TRUE(same_values(s.intensity_array, c.intensity));
  EXPECT_EQ(s.mz_array_dtype, c.mz_dtype);
  EXPECT_EQ(s.intensity_array_dtype, c.intensity_dtype);
  EXPECT_EQ(s.array_compression, "none");
}

TEST(BinaryArray, PlainArrays) {
  for (const ArrayCase& c : plain_cases()) {
    SCOPED_TRACE(c.name);
    MzmlSpectrum s;
    read_binary_data_array(c.xml, s);
    check_case(c, s);
  }
}

TEST(BinaryArray, BadArrayLengthRaisesTheStandardErrors) {
  struct Case {
    std::string length;
    bool invalid;  // else out of range
    std::string what;
  };
  const Case cases[] = {
      {"abc", true, "invalid stoull argument"},
      {"-", true, "invalid stoull argument"},
      {" x1", true, "invalid stoull argument"},
      {"18446744073709551616", false, "stoull argument out of range"},
      {"99999999999999999999999", false, "stoull argument out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    MzmlSpectrum s;
    const std::string xml =
        array_xml("arrayLength=\"" + c.length + "\"", {"m/z array"}, kOne64);
    try {
      read_binary_data_array(xml, s);
      ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& e) {
      EXPECT_TRUE(c.invalid);
      EXPECT_STREQ(e.what(), c.what.c_str());
    } catch (const std::out_of_range& e) {
      EXPECT_FALSE(c.invalid);
      EXPECT_STREQ(e.what(), c.what.c_str());
    }
    EXPECT_TRUE(s.mz_array.empty());
  }
  // Arrays without a kind still check their length: the conversion comes
  // before the values are dropped.
  MzmlSpectrum s;
  EXPECT_THROW(read_binary_data_array(array_xml("arrayLength=\"q\"", {}, kOne64), s),
               std::invalid_argument);
}

TEST(BinaryArray, LaterArrayOfTheSameKindReplacesTheEarlier) {
  MzmlSpectrum s;
  read_binary_data_array(array_xml("", {"m/z array", "32-bit float"}, kOne32), s);
  read_binary_data_array(array_xml("", {"m/z array"}, base64(le_bytes64({5.0, 6.0}))), s);
  EXPECT_EQ(s.mz_array, (std::vector<double>{5.0, 6.0}));
  EXPECT_EQ(s.mz_array_dtype, "float64");
}

TEST(BinaryArray, ReferencedGroupsClassifyWhereTheyStand) {
  const std::string list =
      "<referenceableParamGroupList>"
      "<referenceableParamGroup id=\"mz\"><cvParam name=\"m/z array\"/>"
      "<cvParam name=\"32-bit float\"/></referenceableParamGroup>"
      "<referenceableParamGroup id=\"z\"><cvParam name=\"zlib compression\"/>"
      "</referenceableParamGroup></referenceableParamGroupList>";
  const ParamGroups groups = collect_param_groups(list);
  ASSERT_EQ(groups.groups.size(), 2u);
  ArrayScratch scratch;
  {
    // The reference stands before the explicit width, which then wins.
    MzmlSpectrum s;
    const std::string xml =
        "<binaryDataArray><referenceableParamGroupRef ref=\"mz\"/>"
        "<cvParam name=\"64-bit float\"/><binary>" +
        kOne64 + "</binary></binaryDataArray>";
    read_binary_data_array(xml, groups, scratch, s);
    EXPECT_EQ(s.mz_array, (std::vector<double>{1.0}));
    EXPECT_EQ(s.mz_array_dtype, "float64");
  }
  {
    MzmlSpectrum s;
    const std::string xml =
        "<binaryDataArray><cvParam name=\"64-bit float\"/>"
        "<referenceableParamGroupRef ref=\"mz\"/><binary>" +
        kOne32 + "</binary></binaryDataArray>";
    read_binary_data_array(xml, groups, scratch, s);
    EXPECT_EQ(s.mz_array, (std::vector<double>{1.0}));
    EXPECT_EQ(s.mz_array_dtype, "float32");
  }
  {
    // Compression from a group: the array is inflated.
    MzmlSpectrum s;
    const std::string z =
        base64(fixtures::compress(le_bytes32({2.5f}), fixtures::Wrap::kZlib));
    const std::string xml =
        "<binaryDataArray><referenceableParamGroupRef ref=\"mz\"/>"
        "<referenceableParamGroupRef ref=\"z\"/><binary>" +
        z + "</binary></binaryDataArray>";
    read_binary_data_array(xml, groups, scratch, s);
    EXPECT_EQ(s.mz_array, (std::vector<double>{2.5}));
  }
  {
    // An unknown group id adds nothing.
    MzmlSpectrum s;
    const std::string xml =
        "<binaryDataArray><referenceableParamGroupRef ref=\"nope\"/><binary>" + kOne64 +
        "</binary></binaryDataArray>";
    read_binary_data_array(xml, groups, scratch, s);
    EXPECT_TRUE(s.mz_array.empty());
  }
}

TEST(BinaryArray, ZlibArraysAreInflatedWhateverTheDeclaredLength) {
  std::vector<double> values(1000);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = 40.0 + 0.5 * static_cast<double>(i);
  const std::string z =
      base64(fixtures::compress(le_bytes64(values), fixtures::Wrap::kZlib));
  const std::vector<std::string> params = {"zlib compression", "m/z array",
                                           "64-bit float"};
  // Exact, missing, too small (the buffer grows) and absurd lengths.
  const struct {
    std::string attrs;
    std::size_t want;
  } cases[] = {{"arrayLength=\"1000\"", 1000},
               {"", 1000},
               {"arrayLength=\"3\"", 3},
               {"arrayLength=\"5000\"", 1000},
               {"arrayLength=\"-1\"", 1000}};
  ArrayScratch scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attrs);
    MzmlSpectrum s;
    read_binary_data_array(array_xml(c.attrs, params, z), {}, scratch, s);
    EXPECT_EQ(
        s.mz_array,
        std::vector<double>(values.begin(), values.begin() + static_cast<long>(c.want)));
    EXPECT_EQ(s.array_compression, "none");
  }
}

TEST(BinaryArray, CorruptCompressedArraysAreSkipped) {
  const std::string good =
      base64(fixtures::compress(le_bytes64({7.0, 8.0}), fixtures::Wrap::kZlib));
  std::string flipped = good;
  flipped[6] = flipped[6] == 'A' ? 'B' : 'A';
  const std::string corrupt[] = {
      base64(le_bytes64({1.0})),  // not a zlib stream
      good.substr(0, good.size() / 2), flipped,
      "eJw=",  // a header and nothing else
  };
  for (const std::string& z : corrupt) {
    SCOPED_TRACE(z);
    MzmlSpectrum s;
    s.mz_array = {3.0};  // an earlier array of the same kind stays
    read_binary_data_array(
        array_xml("arrayLength=\"2\"", {"m/z array", "zlib compression"}, z), s);
    EXPECT_EQ(s.mz_array, (std::vector<double>{3.0}));
  }
}

// Encodes values with the numpress scheme of the name, as a converter does.
std::vector<std::byte> numpress_encode(Numpress scheme, const std::vector<double>& v) {
  namespace np = ms::numpress::MSNumpress;
  std::vector<unsigned char> out;
  switch (scheme) {
    case Numpress::kLinear:
      np::encodeLinear(v, out, np::optimalLinearFixedPoint(v.data(), v.size()));
      break;
    case Numpress::kPic:
      np::encodePic(v, out);
      break;
    case Numpress::kSlof:
      np::encodeSlof(v, out, np::optimalSlofFixedPoint(v.data(), v.size()));
      break;
    case Numpress::kNone:
      break;
  }
  std::vector<std::byte> bytes(out.size());
  if (!out.empty()) std::memcpy(bytes.data(), out.data(), out.size());
  return bytes;
}

TEST(BinaryArray, NumpressIsDecodedByItsCompressionTerm) {
  const std::vector<double> mz = {43.0085, 49.0076, 52.0157, 56.0415, 57.0263, 512.25};
  const std::vector<double> counts = {1386.0, 410.0, 208.0, 0.0, 1394.0, 99999.0};
  const struct {
    std::string term;
    Numpress scheme;
    bool zlib;
    std::string width;  // the misleading width converters write
    const std::vector<double>* values;
    double tolerance;  // relative
    std::string dtype;
  } cases[] = {
      {"MS-Numpress linear prediction compression", Numpress::kLinear, false,
       "32-bit float", &mz, 1e-8, "float32"},
      {"MS-Numpress positive integer compression", Numpress::kPic, false,
       "32-bit integer", &counts, 0.0, "float64"},
      {"MS-Numpress short logged float compression", Numpress::kSlof, false,
       "64-bit float", &counts, 2e-4, "float64"},
      {"MS-Numpress linear prediction compression followed by zlib compression",
       Numpress::kLinear, true, "64-bit float", &mz, 1e-8, "float64"},
      {"MS-Numpress positive integer compression followed by zlib compression",
       Numpress::kPic, true, "32-bit float", &counts, 0.0, "float32"},
      {"MS-Numpress short logged float compression followed by zlib compression",
       Numpress::kSlof, true, "32-bit float", &counts, 2e-4, "float32"},
  };
  ArrayScratch scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.term);
    std::vector<std::byte> bytes = numpress_encode(c.scheme, *c.values);
    if (c.zlib) bytes = fixtures::compress(bytes, fixtures::Wrap::kZlib);
    const std::string len = "arrayLength=\"" + std::to_string(c.values->size()) + "\"";
    MzmlSpectrum s;
    read_binary_data_array(
        array_xml(len, {c.width, c.term, "intensity array"}, base64(bytes)), {}, scratch,
        s);
    ASSERT_EQ(s.intensity_array.size(), c.values->size());
    for (std::size_t i = 0; i < s.intensity_array.size(); ++i) {
      EXPECT_NEAR(s.intensity_array[i], (*c.values)[i],
                  c.tolerance * ((*c.values)[i] + 1.0))
          << i;
    }
    EXPECT_EQ(s.intensity_array_dtype, c.dtype);
    // Numpress written as two terms (older converters) decodes the same.
    if (c.zlib) {
      const std::string single = c.term.substr(0, c.term.find(" followed by"));
      MzmlSpectrum t;
      read_binary_data_array(
          array_xml(len, {single, "zlib compression", "intensity array"}, base64(bytes)),
          {}, scratch, t);
      EXPECT_EQ(t.intensity_array, s.intensity_array);
    }
  }
}

TEST(BinaryArray, NumpressAgreesWithTheLibrarysOwnDecoder) {
  namespace np = ms::numpress::MSNumpress;
  std::mt19937 rng(11);
  std::vector<double> v(500);
  double x = 35.0;
  for (double& d : v) d = (x += 0.001 + static_cast<double>(rng() % 1000) / 997.0);
  const auto bytes = numpress_encode(Numpress::kLinear, v);
  std::vector<unsigned char> raw(bytes.size());
  std::memcpy(raw.data(), bytes.data(), bytes.size());
  std::vector<double> want;
  np::decodeLinear(raw, want);
  std::vector<double> got;
  ASSERT_TRUE(decode_numpress(Numpress::kLinear, bytes, got));
  EXPECT_TRUE(same_values(got, want));
}

TEST(BinaryArray, CorruptNumpressNeverReadsOrWritesOutOfBounds) {
  // Random bytes of every small size and some larger ones: the decoder may
  // reject them or produce numbers, but must stay inside its buffers (the
  // sanitizer build checks that).
  std::mt19937 rng(3);
  std::vector<double> out;
  int rejected = 0;
  for (Numpress scheme : {Numpress::kLinear, Numpress::kPic, Numpress::kSlof}) {
    for (std::size_t n = 0; n < 300; n += (n < 40 ? 1 : 37)) {
      for (int round = 0; round < 8; ++round) {
        std::vector<std::byte> bytes(n);
        for (auto& b : bytes) b = static_cast<std::byte>(rng());
        if (!decode_numpress(scheme, bytes, out)) ++rejected;
      }
    }
  }
  EXPECT_GT(rejected, 0);
  // Sizes the decoders cannot take are refused before they run.
  EXPECT_FALSE(decode_numpress(Numpress::kLinear, std::vector<std::byte>(7), out));
  EXPECT_FALSE(decode_numpress(Numpress::kSlof, std::vector<std::byte>(7), out));
  EXPECT_FALSE(
      decode_numpress(Numpress::kSlof, std::vector<std::byte>(11), out));  // odd tail
  EXPECT_TRUE(decode_numpress(Numpress::kSlof, std::vector<std::byte>(12), out));
  EXPECT_EQ(out.size(), 2u);
  EXPECT_TRUE(decode_numpress(Numpress::kPic, {}, out));
  EXPECT_TRUE(out.empty());
}

TEST(BinaryArray, CorruptNumpressArrayIsSkipped) {
  MzmlSpectrum s;
  s.intensity_array = {4.0};
  // 9 bytes: a fixed point and one stray byte, which the decoder rejects.
  read_binary_data_array(
      array_xml("", {"intensity array", "MS-Numpress linear prediction compression"},
                base64(std::vector<std::byte>(9, std::byte{1}))),
      s);
  EXPECT_EQ(s.intensity_array, (std::vector<double>{4.0}));
}

}  // namespace
}  // namespace vx::mzml
