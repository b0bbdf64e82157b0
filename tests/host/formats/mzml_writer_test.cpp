// The indexed mzML writer: what it writes reads back through the project's
// own mzML reader to the very spectra document the ANDI reader gave, and
// its index offsets and checksum describe the bytes actually written.
#include "mzml_writer.hpp"

#include <gtest/gtest.h>

#include <string>

#include "andi_file_writer.hpp"
#include "sha1.hpp"
#include "test_support.hpp"

namespace vx::host::formats {
namespace {

using vx::testing::add_scan;
using vx::testing::AndiSpec;
using vx::testing::ScratchDir;

TEST(Sha1, KnownDigests) {
  struct Case {
    std::string in;
    std::string_view want;
  };
  const Case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.size());
    Sha1 whole;
    whole.update(c.in);
    EXPECT_EQ(whole.hex_digest(), c.want);
    Sha1 pieces;  // fed in uneven pieces across block boundaries
    for (std::size_t at = 0; at < c.in.size(); at += 37)
      pieces.update(std::string_view(c.in).substr(at, 37));
    EXPECT_EQ(pieces.hex_digest(), c.want);
  }
}

// netCDF -> mzML -> the ingestion step's document equals netCDF -> document.
TEST(MzmlWriter, RoundTripGivesTheSameSpectraDocument) {
  struct Case {
    std::string name;
    AndiSpec spec;
  };
  std::vector<Case> cases;
  {
    AndiSpec s;
    add_scan(s, 0.25, {50.125, 49.5, 300.0009765625}, {1e6, 0.5, 3.25});
    add_scan(s, 1.5, {}, {});
    add_scan(s, 2.75, {73}, {0});
    s.source_file_reference = "C:\\data\\run 01.D";
    s.experiment_date_time_stamp = "20240101120000+0000";
    cases.push_back({"float arrays, empty scan, unsorted m/z", s});
  }
  {
    AndiSpec s;
    s.mass_type = NC_DOUBLE;
    s.intensity_type = NC_DOUBLE;
    s.experiment_type = "Continuum Mass Spectrum";
    s.time_units = "Minutes";
    add_scan(s, 0.1, {50.1, 50.2}, {0.1, 1e-300});
    cases.push_back({"double arrays, profile, minutes", s});
  }
  {
    AndiSpec s;
    s.format = NC_NETCDF4;
    cases.push_back({"no scans", s});
  }
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto cdf = dir.path / "in.cdf";
    vx::testing::write_andi(cdf, c.spec);
    const AndiReadResult r = read_andi_run(cdf.string());
    ASSERT_EQ(r.status, AndiStatus::kOk) << r.message;
    const auto out = dir.path / "out.mzML";
    std::string error;
    ASSERT_TRUE(write_indexed_mzml(r.run, cdf.string(), out.string(), error)) << error;
    std::vector<mzml::MzmlSpectrum> back;
    std::string summary;
    ASSERT_TRUE(mzml::read_mzml_file(out.string(), back, summary));
    EXPECT_EQ(vx::testing::ingestion_document(back), spectra_document(r.run));
    EXPECT_EQ(summary, run_summary_document(r.run, out.string()));
  }
  const auto advion = vx::testing::andi_sample("advion-gcms.cdf");
  if (advion.empty()) {
    std::cout << "advion-gcms.cdf absent: the real file's round trip is not tested\n";
    return;
  }
  const AndiReadResult r = read_andi_run(advion.string());
  ASSERT_EQ(r.status, AndiStatus::kOk);
  const auto out = dir.path / "advion.mzML";
  std::string error;
  ASSERT_TRUE(write_indexed_mzml(r.run, advion.string(), out.string(), error)) << error;
  std::vector<mzml::MzmlSpectrum> back;
  std::string summary;
  ASSERT_TRUE(mzml::read_mzml_file(out.string(), back, summary));
  EXPECT_EQ(vx::testing::ingestion_document(back), spectra_document(r.run));
}

TEST(MzmlWriter, IndexOffsetsAndChecksumDescribeTheWrittenBytes) {
  AndiSpec s;
  for (int i = 0; i < 5; ++i) add_scan(s, i, {50.0 + i}, {1.0 + i});
  ScratchDir dir;
  const auto cdf = dir.path / "in.cdf";
  vx::testing::write_andi(cdf, s);
  const AndiReadResult r = read_andi_run(cdf.string());
  ASSERT_EQ(r.status, AndiStatus::kOk);
  const std::string text = indexed_mzml_text(r.run, cdf.string());
  const auto value_after = [&text](std::string_view open, std::size_t from = 0) {
    const std::size_t at = text.find(open, from) + open.size();
    return text.substr(at, text.find('<', at) - at);
  };
  const std::size_t list = std::stoul(value_after("<indexListOffset>"));
  EXPECT_EQ(text.compare(list, 11, "<indexList "), 0);
  std::size_t from = list;
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::string ref = "<offset idRef=\"scan=" + std::to_string(i + 1) + "\">";
    from = text.find(ref, from);
    ASSERT_NE(from, std::string::npos);
    const std::size_t at = std::stoul(value_after(ref, from));
    const std::string want = "<spectrum index=\"" + std::to_string(i) + "\" id=\"scan=" +
                             std::to_string(i + 1) + "\"";
    EXPECT_EQ(text.compare(at, want.size(), want), 0);
  }
  const std::string open = "<fileChecksum>";
  const std::size_t end = text.find(open) + open.size();
  Sha1 sha;
  sha.update(std::string_view(text).substr(0, end));
  EXPECT_EQ(value_after(open), sha.hex_digest());
  // The file written to disk is the same text.
  const auto out = dir.path / "out.mzML";
  std::string error;
  ASSERT_TRUE(write_indexed_mzml(r.run, cdf.string(), out.string(), error));
  EXPECT_EQ(vx::testing::read_file(out), text);
  EXPECT_FALSE(write_indexed_mzml(r.run, cdf.string(), (dir.path / "no/such/dir.mzML").string(),
                                  error));
  EXPECT_NE(error.find("cannot create"), std::string::npos);
}

}  // namespace
}  // namespace vx::host::formats
