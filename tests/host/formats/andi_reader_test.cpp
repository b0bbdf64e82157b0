// The ANDI-MS reader: stored types and vendor quirks decode to the same
// spectra document the mzML ingestion step writes; broken, truncated and
// foreign files get their own status and never a partial result.
#include "andi_reader.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "andi_file_writer.hpp"
#include "test_support.hpp"
#include "vx_formats.h"

namespace vx::host::formats {
namespace {

using vx::testing::add_scan;
using vx::testing::AndiSpec;
using vx::testing::ScratchDir;
using vx::testing::write_andi;


std::string entry(std::string_view time, std::string_view unit, std::string_view type,
                  std::string_view mz, std::string_view in, std::string_view mz_dtype,
                  std::string_view in_dtype, int index = 0) {
  return "{\"index\":" + std::to_string(index) + ",\"scan_start_time\":" + std::string(time) +
         ",\"scan_start_time_unit\":\"" + std::string(unit) + "\",\"ms_level\":1," +
         "\"spectrum_type\":\"" + std::string(type) + "\",\"mz_array\":" + std::string(mz) +
         ",\"intensity_array\":" + std::string(in) + ",\"mz_array_dtype\":\"" +
         std::string(mz_dtype) + "\",\"intensity_array_dtype\":\"" + std::string(in_dtype) +
         "\",\"array_compression\":\"none\"}";
}

AndiSpec one_scan(nc_type mass, nc_type inten) {
  AndiSpec s;
  s.mass_type = mass;
  s.intensity_type = inten;
  add_scan(s, 1.5, {50, 51.25}, {10, 2});
  return s;
}

TEST(AndiReader, StoredTypesAndQuirksDecodeToTheIngestionDocument) {
  struct Case {
    std::string name;
    AndiSpec spec;
    std::string want;  // the spectra document
  };
  std::vector<Case> cases;
  cases.push_back({"float arrays", one_scan(NC_FLOAT, NC_FLOAT),
                   "{\"spectra\":[" +
                       entry("1.5", "second", "centroid spectrum", "[50,51.25]", "[10,2]",
                             "float32", "float32") +
                       "]}"});
  cases.push_back({"double arrays", one_scan(NC_DOUBLE, NC_DOUBLE),
                   "{\"spectra\":[" +
                       entry("1.5", "second", "centroid spectrum", "[50,51.25]", "[10,2]",
                             "float64", "float64") +
                       "]}"});
  {
    // Integer-coded masses with a scale factor, as several vendors store them.
    AndiSpec s;
    s.mass_type = NC_INT;
    s.intensity_type = NC_SHORT;
    s.mass_scale = 0.05;
    s.intensity_scale = 2.0;
    s.intensity_offset = 1.0;
    add_scan(s, 3, {1000, 1025}, {-3, 7});
    cases.push_back({"scaled int/short", s,
                     "{\"spectra\":[" +
                         entry("3", "second", "centroid spectrum",
                               "[50,51.25]", "[-5,15]", "int32", "int16") +
                         "]}"});
  }
  {
    AndiSpec s = one_scan(NC_BYTE, NC_FLOAT);
    s.mass = {50, 51};
    cases.push_back({"byte masses", s,
                     "{\"spectra\":[" +
                         entry("1.5", "second", "centroid spectrum", "[50,51]", "[10,2]",
                               "int8", "float32") +
                         "]}"});
  }
  {
    // Empty scans at the start, middle and end (the dtypes of an empty mzML
    // array); unsorted m/z kept as stored.
    AndiSpec s;
    add_scan(s, 0.5, {}, {});
    add_scan(s, 1, {60, 40, 50}, {1, 2, 3});
    add_scan(s, 1.5, {}, {});
    cases.push_back({"empty scans, unsorted m/z", s,
                     "{\"spectra\":[" +
                         entry("0.5", "second", "centroid spectrum", "[]", "[]", "float64",
                               "float32", 0) +
                         "," +
                         entry("1", "second", "centroid spectrum", "[60,40,50]", "[1,2,3]",
                               "float32", "float32", 1) +
                         "," +
                         entry("1.5", "second", "centroid spectrum", "[]", "[]", "float64",
                               "float32", 2) +
                         "]}"});
  }
  {
    // Vendor quirks: attributes counting their NUL, continuum data, a
    // minutes unit, no scan_index (derived from the counts), netCDF-4.
    AndiSpec s = one_scan(NC_FLOAT, NC_FLOAT);
    s.format = NC_NETCDF4;
    s.nul_terminated_attributes = true;
    s.experiment_type = "Continuum Mass Spectrum";
    s.time_units = "Minutes";
    s.omit_scan_index = true;
    add_scan(s, 0.1, {70}, {5});
    cases.push_back({"quirks", s,
                     "{\"spectra\":[" +
                         entry("1.5", "minute", "profile spectrum", "[50,51.25]", "[10,2]",
                               "float32", "float32") +
                         "," +
                         entry("0.10000000000000001", "minute", "profile spectrum", "[70]",
                               "[5]", "float32", "float32", 1) +
                         "]}"});
  }
  {
    AndiSpec s = one_scan(NC_FLOAT, NC_FLOAT);
    s.format = NC_64BIT_OFFSET;
    s.omit_point_count = true;
    add_scan(s, 2, {70, 71}, {5, 6});
    cases.push_back({"no point_count (derived), 64-bit offsets", s,
                     "{\"spectra\":[" +
                         entry("1.5", "second", "centroid spectrum", "[50,51.25]", "[10,2]",
                               "float32", "float32") +
                         "," +
                         entry("2", "second", "centroid spectrum", "[70,71]", "[5,6]",
                               "float32", "float32", 1) +
                         "]}"});
  }
  {
    AndiSpec s;
    s.format = NC_NETCDF4;
    cases.push_back({"no scans", s, "{\"spectra\":[]}"});
  }
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir.path / "case.cdf";
    write_andi(path, c.spec);
    const AndiDocuments d = read_andi_file(path.string());
    ASSERT_EQ(d.status, AndiStatus::kOk) << d.message;
    EXPECT_EQ(d.spectra_json, c.want);
  }
}

TEST(AndiReader, RunSummaryTakesTheFileAttributes) {
  struct Case {
    std::string reference, stamp, want_name, want_time;
  };
  const Case cases[] = {
      {"run01.D", "20190314163800+0100", "run01.D", "2019-03-14T16:38:00+01:00"},
      // The Advion export's stamp: digits after the seconds are no zone.
      {"a \"b\"\\c ", "202006221111263600000", "a \\\"b\\\"\\\\c ", "2020-06-22T11:11:26"},
      {"", "2024-01-01T00:00:00Z", "", "2024-01-01T00:00:00Z"},
      {"x", "", "x", ""},
  };
  ScratchDir dir;
  const auto path = dir.path / "s.cdf";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stamp);
    AndiSpec s = one_scan(NC_FLOAT, NC_FLOAT);
    s.source_file_reference = c.reference;
    s.experiment_date_time_stamp = c.stamp;
    write_andi(path, s);
    const AndiDocuments d = read_andi_file(path.string());
    ASSERT_EQ(d.status, AndiStatus::kOk) << d.message;
    EXPECT_EQ(d.summary_json, "{\"source_file_name\":\"" + c.want_name +
                                  "\",\"source_file_path\":\"" + path.string() +
                                  "\",\"mzml_version\":\"1.1.0\",\"run_start_time\":\"" +
                                  c.want_time + "\",\"spectrum_count\":1,\"chromatogram_count\":0}");
  }
}

TEST(AndiReader, BadFilesGetTheirStatusAndAMessageNamingTheFault) {
  struct Case {
    std::string name;
    std::function<void(const std::filesystem::path&)> make;
    AndiStatus want;
    std::string message_part;
  };
  const auto spec_file = [](std::function<void(AndiSpec&)> edit) {
    return [edit](const std::filesystem::path& p) {
      AndiSpec s;
      add_scan(s, 1, {50, 51}, {1, 2});
      add_scan(s, 2, {52, 53, 54}, {1, 2, 3});
      add_scan(s, 3, {55}, {1});
      edit(s);
      write_andi(p, s);
    };
  };
  const auto text_file = [](std::string bytes) {
    return [bytes](const std::filesystem::path& p) {
      std::ofstream(p, std::ios::binary) << bytes;
    };
  };
  const std::vector<Case> cases = {
      {"empty file", text_file(""), AndiStatus::kNotNetcdf, "empty file"},
      {"mzML text", text_file("<?xml version=\"1.0\"?><mzML/>"), AndiStatus::kNotNetcdf,
       "not a netCDF file"},
      {"three bytes of the magic", text_file("CDF"), AndiStatus::kNotNetcdf, "not a netCDF"},
      {"magic then garbage", text_file(std::string("CDF\x01garbage", 11)),
       AndiStatus::kIncompleteFile, "header"},
      {"chromatography only", spec_file([](AndiSpec& s) {
         s.omit_spectra = true;
         s.chromatography = true;
       }),
       AndiStatus::kNoMassSpectra, "ANDI chromatography file without mass spectra"},
      {"no arrays at all", spec_file([](AndiSpec& s) { s.omit_spectra = true; }),
       AndiStatus::kNoMassSpectra, "no mass_values"},
      {"decreasing scan_index", spec_file([](AndiSpec& s) { s.scan_index[2] = 1; }),
       AndiStatus::kInconsistentFile, "scan 2 (0-based): scan_index 1 is below"},
      {"index past the points", spec_file([](AndiSpec& s) { s.point_count[2] = 2; }),
       AndiStatus::kInconsistentFile, "scan 2 (0-based): scan_index 5 + point_count 2 runs past the 6"},
      {"negative count", spec_file([](AndiSpec& s) { s.point_count[1] = -1; }),
       AndiStatus::kInconsistentFile, "scan 1 (0-based): negative point_count"},
      {"negative index", spec_file([](AndiSpec& s) { s.scan_index[0] = -4; }),
       AndiStatus::kInconsistentFile, "scan 0 (0-based): negative scan_index"},
      {"huge index", spec_file([](AndiSpec& s) {
         s.index_type = NC_INT64;
         s.format = NC_NETCDF4;
         s.scan_index[2] = 0x7fffffffffffffffLL;
       }),
       AndiStatus::kInconsistentFile, "runs past"},
      {"float index", spec_file([](AndiSpec& s) { s.index_type = NC_FLOAT; }),
       AndiStatus::kInconsistentFile, "where integers are expected"},
      {"mismatched point dimensions", spec_file([](AndiSpec& s) {
         s.intensity_length = 5;
         s.intensity.resize(5);
       }),
       AndiStatus::kInconsistentFile, "dimension lengths disagree"},
      {"no index variables", spec_file([](AndiSpec& s) {
         s.omit_scan_index = true;
         s.omit_point_count = true;
       }),
       AndiStatus::kInconsistentFile, "neither scan_index nor point_count"},
      {"no times", spec_file([](AndiSpec& s) { s.omit_times = true; }),
       AndiStatus::kInconsistentFile, "scan_acquisition_time"},
      {"text masses", [](const std::filesystem::path& p) {
         int nc = 0, dim = 0, v = 0;
         nc_create(p.c_str(), NC_CLOBBER, &nc);
         nc_def_dim(nc, "point_number", 4, &dim);
         nc_def_var(nc, "mass_values", NC_CHAR, 1, &dim, &v);
         nc_def_var(nc, "intensity_values", NC_FLOAT, 1, &dim, &v);
         nc_close(nc);
       },
       AndiStatus::kInconsistentFile, "mass_values does not hold numbers"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir.path / "bad.cdf";
    c.make(path);
    const AndiReadResult r = read_andi_run(path.string());
    EXPECT_EQ(status_text(r.status), status_text(c.want)) << r.message;
    EXPECT_NE(r.message.find(c.message_part), std::string::npos) << r.message;
    EXPECT_TRUE(r.run.spectra.empty());
  }
  EXPECT_EQ(read_andi_run((dir.path / "absent.cdf").string()).status, AndiStatus::kUnreadable);
  EXPECT_EQ(read_andi_run(dir.path.string()).status, AndiStatus::kUnreadable);
}

// Cuts of a valid file: whether the cut falls in the data or in the header,
// the file starts with the netCDF signature, so the reader says incomplete.
TEST(AndiReader, TruncatedFilesAreIncompleteNeverOk) {
  ScratchDir dir;
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  for (const int format : {NC_CLASSIC_MODEL, NC_64BIT_OFFSET, NC_NETCDF4}) {
    AndiSpec s;
    s.format = format;
    for (int i = 0; i < 40; ++i)
      add_scan(s, i, {50.0 + i, 60.0 + i, 70.0 + i}, {1.0 * i, 2.0, 3.0});
    const auto p = dir.path / "whole.cdf";
    write_andi(p, s);
    files.emplace_back("generated format " + std::to_string(format), vx::testing::read_file(p));
  }
  if (const auto real = vx::testing::andi_sample("advion-gcms.cdf");
      !real.empty()) {
    files.emplace_back("advion", vx::testing::read_file(real));
  } else {
    std::cout << "advion-gcms.cdf absent: the real file's cuts are not tested\n";
  }
  for (const auto& [name, bytes] : files) {
    ASSERT_EQ(read_andi_bytes(std::as_bytes(std::span(bytes.data(), bytes.size())), name).status,
              AndiStatus::kOk);
    for (const std::size_t cut : {bytes.size() / 10, bytes.size() / 2, bytes.size() * 9 / 10,
                                  bytes.size() - 1}) {
      SCOPED_TRACE(name + " cut at " + std::to_string(cut));
      const auto p = dir.path / "cut.cdf";
      std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(cut));
      const AndiReadResult r = read_andi_run(p.string());
      EXPECT_EQ(status_text(r.status), "incomplete_file") << r.message;
      EXPECT_TRUE(r.run.spectra.empty());
    }
  }
}

TEST(AndiReader, RealExports) {
  const auto advion = vx::testing::andi_sample("advion-gcms.cdf");
  const auto agilent = vx::testing::andi_sample("agilent-gcms-tic.cdf");
  if (advion.empty() || agilent.empty()) GTEST_SKIP() << "the public ANDI sample files are absent";
  const AndiReadResult a = read_andi_run(advion.string());
  ASSERT_EQ(a.status, AndiStatus::kOk) << a.message;
  ASSERT_EQ(a.run.spectra.size(), 41u);
  std::size_t points = 0;
  for (const AndiSpectrum& s : a.run.spectra) {
    points += s.mz_array.size();
    EXPECT_EQ(s.mz_array.size(), s.intensity_array.size());
    EXPECT_EQ(s.spectrum_type, "profile spectrum");
    EXPECT_EQ(s.mz_array_dtype, "float32");
  }
  EXPECT_EQ(points, 376290u);
  EXPECT_EQ(a.run.run_start_time, "2020-06-22T11:11:26");
  const AndiReadResult t = read_andi_run(agilent.string());
  EXPECT_EQ(t.status, AndiStatus::kNoMassSpectra);
  EXPECT_EQ(t.message,
            "ANDI chromatography file without mass spectra (a TIC export); export the run "
            "as ANDI-MS");
}

// Every sample mzML, converted to ANDI-MS, reads back to the ingestion
// step's spectra document byte for byte. Not carried by ANDI-MS: MS levels
// (always 1), index attributes (the ordinal), per-spectrum time units,
// spectrum types and array widths (one per file), and a 32-bit width label
// on values that are not 32-bit floats; no sample differs in the others.
TEST(AndiReader, ConvertedSampleMzmlGivesTheIngestionDocument) {
  ScratchDir dir;
  std::size_t compared = 0;
  for (const auto& e : std::filesystem::directory_iterator(vx::testing::test_data("mzml"))) {
    const std::string name = e.path().filename().string();
    if (name.find(".mzML") == std::string::npos) continue;
    SCOPED_TRACE(name);
    std::vector<mzml::MzmlSpectrum> spectra;
    std::string summary;
    ASSERT_TRUE(mzml::read_mzml_file(e.path().string(), spectra, summary));
    const auto text_member = [&summary](std::string_view key) {
      const std::string k = "\"" + std::string(key) + "\":\"";
      const std::size_t at = summary.find(k) + k.size();
      return summary.substr(at, summary.find('"', at) - at);
    };
    const auto cdf = dir.path / (name + ".cdf");
    const auto [mz_dtype, intensity_dtype] = vx::testing::convert_mzml_to_andi(
        spectra, text_member("source_file_name"), text_member("run_start_time"), cdf);
    const AndiDocuments d = read_andi_file(cdf.string());
    ASSERT_EQ(d.status, AndiStatus::kOk) << d.message;
    // Arrays whose values are wider than their stated 32 bits (decoded
    // MS-Numpress) are stored as doubles and so report float64.
    for (mzml::MzmlSpectrum& m : spectra) {
      m.mz_array_dtype = mz_dtype;
      m.intensity_array_dtype = intensity_dtype;
    }
    EXPECT_EQ(d.spectra_json, vx::testing::ingestion_document(spectra));
    std::string want_summary = summary;
    const std::string from = "\"source_file_path\":\"" + e.path().string() + "\"";
    want_summary.replace(want_summary.find(from), from.size(),
                         "\"source_file_path\":\"" + cdf.string() + "\"");
    EXPECT_EQ(d.summary_json, want_summary);
    ++compared;
  }
  EXPECT_GE(compared, 20u);
}

TEST(AndiReader, CApiHandsOverDocumentsOrAStatus) {
  ScratchDir dir;
  const auto good = dir.path / "good.cdf";
  write_andi(good, one_scan(NC_FLOAT, NC_FLOAT));
  const auto bad = dir.path / "bad.cdf";
  std::ofstream(bad) << "not netcdf";
  char* spectra = nullptr;
  char* summary = nullptr;
  char* message = nullptr;
  size_t spectra_len = 0, summary_len = 0;
  ASSERT_EQ(vxf_read_andi(good.c_str(), &spectra, &spectra_len, &summary, &summary_len, &message),
            VXF_OK);
  const AndiDocuments want = read_andi_file(good.string());
  EXPECT_EQ(std::string(spectra, spectra_len), want.spectra_json);
  EXPECT_EQ(std::string(summary, summary_len), want.summary_json);
  EXPECT_STREQ(message, "1 spectra");
  vxf_free(spectra);
  vxf_free(summary);
  vxf_free(message);
  EXPECT_EQ(vxf_read_andi(bad.c_str(), &spectra, &spectra_len, nullptr, nullptr, &message),
            VXF_NOT_NETCDF);
  EXPECT_EQ(spectra, nullptr);
  EXPECT_EQ(spectra_len, 0u);
  EXPECT_STREQ(message, "not a netCDF file (no netCDF or HDF5 signature at the start)");
  vxf_free(message);
  EXPECT_EQ(vxf_read_andi(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            VXF_INTERNAL_ERROR);
  EXPECT_EQ(vxf_read_andi_bytes(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr),
            VXF_NOT_NETCDF);
  for (int32_t s = -1; s <= 8; ++s) EXPECT_NE(vxf_status_text(s), nullptr);
  EXPECT_STREQ(vxf_status_text(VXF_INCOMPLETE_FILE), "incomplete_file");
  EXPECT_STREQ(vxf_status_text(VXF_WRITE_FAILED), "write_failed");
  EXPECT_STREQ(vxf_status_text(42), "unknown");
}

}  // namespace
}  // namespace vx::host::formats
