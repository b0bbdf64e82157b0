// GcMsMzmlIngestionStep through its real entry: counts and host checks, the
// existence test, the three documents in the order 2, 0, 1, the diagnostics
// documents, and the host refusing outputs.
#include "mzml/ingestion_step.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host_session.hpp"
#include "mzml/inflate.hpp"
#include "mzml/mzml_reader.hpp"
#include "mzml_fixtures.hpp"
#include "test_support.hpp"

namespace vx::mzml {
namespace {

using fixtures::array_xml;
using fixtures::base64;
using fixtures::document_xml;
using fixtures::spectrum_xml;
using host::plugin::HostCall;
using host::plugin::HostSession;

StepEntry entry() { return vx::testing::step_entry("GcMsMzmlIngestionStep"); }

// The slots of the output calls, in call order.
std::vector<uint64_t> output_slots(const HostSession& host) {
  std::vector<uint64_t> slots;
  for (const HostCall& c : host.calls()) {
    if (c.kind == HostCall::Kind::kSetOutputText) slots.push_back(c.slot);
  }
  return slots;
}

class IngestionStep : public ::testing::Test {
 protected:
  std::string write(const std::string& name, std::string_view bytes) {
    return scratch_.write(name, bytes).string();
  }

  StepStatus run(std::string_view path, uint64_t n_outputs = 3) {
    const StepValue params[] = {host_.text(path), host_.text("")};
    return host_.run(entry(), params, {}, n_outputs);
  }

  // Runs on a path and expects exactly one diagnostics document on output 2.
  void expect_diagnostics(std::string_view path, std::string_view want) {
    EXPECT_EQ(run(path), VX_STATUS_OK);
    EXPECT_EQ(output_slots(host_), std::vector<uint64_t>{2});
    EXPECT_TRUE(vx::testing::same_bytes(host_.output_text(2).value_or(""), want));
  }

  vx::testing::ScratchDir scratch_;
  std::filesystem::path dir_ = scratch_.path;
  HostSession host_;
};

TEST_F(IngestionStep, CountsAndHostChecks) {
  const std::string path = write("a.mzML", document_xml(""));
  const StepValue two[] = {host_.text(path), host_.text("")};
  const StepValue one[] = {host_.text(path)};
  EXPECT_EQ(host_.run_without_host(entry(), two, {}, 2), VX_STATUS_INVALID_INPUT);
  EXPECT_EQ(host_.run(entry(), two, {}, 2), VX_STATUS_INVALID_INPUT);
  EXPECT_EQ(host_.run(entry(), one, {}, 3), VX_STATUS_INVALID_INPUT);
  EXPECT_TRUE(host_.calls().empty());
  EXPECT_EQ(host_.run_without_host(entry(), two, {}, 3), VX_STATUS_HOST_ERROR);
  EXPECT_EQ(host_.run_without_host(entry(), two, {}, 3, true), VX_STATUS_HOST_ERROR);
  const StepValue empty_path[] = {host_.text(""), host_.text("")};
  EXPECT_EQ(host_.run(entry(), empty_path, {}, 3), VX_STATUS_INVALID_INPUT);
  const StepValue null_path[] = {StepValue{VX_KIND_TEXT, nullptr, 5}, host_.text("")};
  EXPECT_EQ(host_.run(entry(), null_path, {}, 3), VX_STATUS_INVALID_INPUT);
  EXPECT_TRUE(host_.calls().empty());
  // The kind of the path value is not examined.
  const StepValue other_kind[] = {host_.text(path, 99), host_.text("")};
  EXPECT_EQ(host_.run(entry(), other_kind, {}, 3), VX_STATUS_OK);
}

TEST_F(IngestionStep, PathsWhereNothingExists) {
  const std::string file = write("f.mzML", document_xml(""));
  std::filesystem::create_symlink(dir_ / "nowhere", dir_ / "dangling");
  std::filesystem::create_symlink(dir_ / "loop", dir_ / "loop");
  const std::string paths[] = {
      (dir_ / "missing.mzML").string(),
      (dir_ / "no_dir" / "a.mzML").string(),
      file + "/inside",  // a file where a directory is expected
      (dir_ / "dangling").string(),
      (dir_ / "loop").string(),
      std::string(5000, 'n'),       // a name the file system rejects
      file + std::string("\0", 1),  // a zero byte would test another path
      std::string("\xff\xfe"),
  };
  for (const std::string& p : paths) {
    SCOPED_TRACE(p.substr(0, 200));
    expect_diagnostics(p, kFileNotFoundDocument);
    EXPECT_EQ(host_.output_text(2)->size(), 35u);
  }
}

TEST_F(IngestionStep, PathsThatExistButCannotBeRead) {
  const std::string paths[] = {
      dir_.string(),
      write("empty.mzML", ""),
      // gzip magic with a method other than DEFLATE: not a format read here.
      write("bad.gz", "\x1f\x8b\x09\x00 not deflate data at all"),
  };
  for (const std::string& p : paths) {
    SCOPED_TRACE(p);
    expect_diagnostics(p, kUnsupportedEncodingDocument);
    EXPECT_EQ(host_.output_text(2)->size(), 41u);
  }
}

// The sample files whose cut copies the truncation table makes: every mzML
// and mzML.gz of the test data, and of the shared sample folder when present.
std::vector<std::filesystem::path> sample_files() {
  std::vector<std::filesystem::path> out;
  for (const auto& folder :
       {vx::testing::test_data("mzml"), vx::testing::shared_file("data/mzml"),
        vx::testing::shared_file("data/mzml/public")}) {
    if (folder.empty()) continue;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      if (name.ends_with(".mzML") || name.ends_with(".mzML.gz")) out.push_back(e.path());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string gzip_text(std::string_view text) {
  return fixtures::as_text(
      fixtures::compress(fixtures::as_bytes(text), fixtures::Wrap::kGzip));
}

// An interrupted copy of any sample file, plain or gzip (the cut document
// compressed, or the compressed file cut), gives the incomplete-file
// document and never a spectra document: reading it as far as it went made
// a shorter run pass for the whole one.
TEST_F(IngestionStep, CutSampleFilesAreIncomplete) {
  const auto files = sample_files();
  ASSERT_GE(files.size(), 29u);
  for (const auto& file : files) {
    std::string doc = vx::testing::read_file(file);
    if (has_gzip_magic(doc)) {
      ByteBuffer inflated;
      ASSERT_EQ(gunzip(doc, inflated), GunzipResult::kInflated) << file;
      doc.assign(inflated.view());
    }
    const std::size_t last = doc.find_last_not_of(" \t\r\n");
    ASSERT_NE(last, std::string::npos);
    const std::string whole_gz = gzip_text(doc);
    const struct {
      const char* at;
      double share;
    } cuts[] = {{"10 %", 0.1}, {"50 %", 0.5}, {"90 %", 0.9}, {"last byte", -1.0}};
    for (const auto& cut : cuts) {
      // The bytes kept of size: the share, or all but the last one.
      const auto keep = [&cut](std::size_t size) {
        return cut.share < 0
                   ? size - 1
                   : static_cast<std::size_t>(cut.share * static_cast<double>(size));
      };
      // Trailing white space is no content: the document is cut within its
      // last non-white byte and what precedes it.
      const std::string cut_doc = doc.substr(0, keep(last + 1));
      const std::string variants[][2] = {
          {"plain", cut_doc},
          {"gzip of the cut", gzip_text(cut_doc)},
          {"cut of the gzip", whole_gz.substr(0, keep(whole_gz.size()))},
      };
      for (const auto& [kind, bytes] : variants) {
        SCOPED_TRACE(file.filename().string() + ", " + cut.at + ", " + kind);
        EXPECT_EQ(run(write("cut.mzML", bytes)), VX_STATUS_OK);
        EXPECT_EQ(output_slots(host_), std::vector<uint64_t>{2});
        EXPECT_TRUE(host_.output_text(2).value_or("").starts_with(kIncompleteFilePrefix))
            << host_.output_text(2).value_or("").substr(0, 200);
      }
    }
  }
}

// The other outcomes of the completeness checks, with the exact document
// the host receives.
TEST_F(IngestionStep, IncompleteFileDocuments) {
  const std::string one = spectrum_xml("", "");
  const std::string head = "<?xml version=\"1.0\"?>\n<mzML>\n<run>\n";
  const auto counted = [&head](int declared, const std::string& spectra) {
    return head + "<spectrumList count=\"" + std::to_string(declared) + "\">\n" + spectra;
  };
  const std::string closed = "</spectrumList>\n</run>\n</mzML>\n";
  const auto indexed = [](const std::string& offset, const std::string& list_offset) {
    const std::string inner = document_xml(spectrum_xml("id=\"s1\"", ""));
    return "<?xml version=\"1.0\"?>\n<indexedmzML>\n" +
           inner.substr(inner.find("<mzML")) +
           "<indexList count=\"1\"><index name=\"spectrum\"><offset idRef=\"s1\">" +
           offset + "</offset></index></indexList>\n<indexListOffset>" + list_offset +
           "</indexListOffset>\n</indexedmzML>\n";
  };
  const struct {
    const char* name;
    std::string bytes;
    std::string want;  // the diagnostics document; empty: a complete read
  } cases[] = {
      {"closed, count reached", counted(2, one + one) + closed, ""},
      {"closed, no count", document_xml(one + one), ""},
      {"more spectra than declared", counted(1, one + one) + closed, ""},
      {"trailing blanks, comment and instruction",
       document_xml(one) + " \r\n\t<!-- copied -->\n<?done?>\n\n", ""},
      {"end tag with a blank", head + "</run></mzML \n>", ""},
      {"byte order mark", "\xEF\xBB\xBF" + document_xml(one), ""},
      {"not XML at all", "no markup here", ""},
      {"mzXML, whole", "<?xml version=\"1.0\"?>\n<mzXML><msRun/></mzXML>\n", ""},
      {"index inside the file", indexed("40", "300"), ""},
      {"count not reached, properly closed", counted(3, one) + closed,
       R"j({"gcms.ingest.incomplete_file":true,"reason":"1 of 3 spectra"})j"},
      {"count not reached, cut between spectra", counted(211, one + one),
       R"j({"gcms.ingest.incomplete_file":true,"reason":"2 of 211 spectra; the document ends before </mzML>"})j"},
      {"cut inside a spectrum", counted(3, one) + "<spectrum index=\"1\"><cvP",
       R"j({"gcms.ingest.incomplete_file":true,"reason":"1 of 3 spectra; spectrum 2 is cut off; the document ends before </mzML>"})j"},
      {"indexed, cut in the index", indexed("40", "300").substr(0, 290),
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the document ends before </indexedmzML>"})j"},
      {"offset past the end", indexed("99999", "300"),
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the index points past the end of the file (offset 99999, file 311 bytes)"})j"},
      {"index list offset past the end", indexed("40", "308"),
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the index points past the end of the file (offset 308, file 308 bytes)"})j"},
      {"prolog only", "<?xml version=\"1.0\"?>\n",
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the document ends before its root element"})j"},
      {"cut in the root start tag", "<?xml version=\"1.0\"?>\n<indexedmzML xmlns=\"ht",
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the document ends inside the start tag of its root element"})j"},
      {"mzXML, cut", "<?xml version=\"1.0\"?>\n<mzXML><msRun>",
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the document ends before </mzXML>"})j"},
      {"root name escaped", "<a\"b\\c>",
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the document ends before </a\"b\\c>"})j"},
      {"gzip header cut", std::string("\x1f\x8b\x08", 3),
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the gzip stream ends early or is damaged"})j"},
      {"gzip data damaged", "\x1f\x8b\x08\x00 not deflate data at all",
       R"j({"gcms.ingest.incomplete_file":true,"reason":"the gzip stream ends early or is damaged"})j"},
      {"empty file", "", std::string(kUnsupportedEncodingDocument)},
      {"gzip of nothing", gzip_text(""), std::string(kUnsupportedEncodingDocument)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write("c.mzML", c.bytes);
    if (c.want.empty()) {
      EXPECT_EQ(run(path), VX_STATUS_OK);
      EXPECT_EQ(output_slots(host_), (std::vector<uint64_t>{2, 0, 1}));
    } else {
      expect_diagnostics(path, c.want);
    }
  }
  EXPECT_EQ(incomplete_file_document("tab\there"),
            R"j({"gcms.ingest.incomplete_file":true,"reason":"tab\there"})j");
}

TEST_F(IngestionStep, StatusErrorsOtherThanAbsenceAreUnusable) {
  const struct {
    int code;
    PathProbe want;
  } cases[] = {
      {ENOENT, PathProbe::kAbsent},       {ENOTDIR, PathProbe::kAbsent},
      {ENAMETOOLONG, PathProbe::kAbsent}, {ELOOP, PathProbe::kAbsent},
      {EINVAL, PathProbe::kAbsent},       {EACCES, PathProbe::kUnusable},
      {EPERM, PathProbe::kUnusable},      {EIO, PathProbe::kUnusable},
      {EOVERFLOW, PathProbe::kUnusable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(classify_status_error(std::error_code(c.code, std::generic_category())),
              c.want);
    EXPECT_EQ(classify_status_error(std::error_code(c.code, std::system_category())),
              c.want);
  }
}

TEST_F(IngestionStep, MalformedNumbersGiveTheirOwnDiagnostics) {
  const std::string bad[] = {
      spectrum_xml("index=\"abc\"", ""),
      spectrum_xml("", "<cvParam name=\"ms level\" value=\"99999999999\"/>"),
      spectrum_xml("",
                   "<scan><cvParam name=\"scan start time\" value=\"1e999\"/></scan>"),
      spectrum_xml("", "<binaryDataArrayList>" +
                           array_xml("arrayLength=\"x\"", {"m/z array"}, "AAAA") +
                           "</binaryDataArrayList>"),
  };
  for (const std::string& s : bad) {
    SCOPED_TRACE(s);
    expect_diagnostics(write("bad.mzML", document_xml(spectrum_xml("", "") + s)),
                       kMalformedNumberDocument);
  }
}

TEST_F(IngestionStep, SpectraDocumentExample) {
  const std::string arrays = "<binaryDataArrayList>" +
                             array_xml("", {"m/z array", "64-bit float"},
                                       base64(fixtures::le_bytes64({50.0, 51.25}))) +
                             array_xml("", {"intensity array", "32-bit float"},
                                       base64(fixtures::le_bytes32({10.0f, 0.5f}))) +
                             "</binaryDataArrayList>";
  const std::string body =
      "<scan><cvParam name=\"scan start time\" value=\"1.5\" "
      "unitName=\"minute\"/></scan>" +
      arrays;
  const std::string path =
      write("one.mzML", document_xml(spectrum_xml("index=\"0\"", body)));
  EXPECT_EQ(run(path), VX_STATUS_OK);
  EXPECT_EQ(output_slots(host_), (std::vector<uint64_t>{2, 0, 1}));
  EXPECT_TRUE(vx::testing::same_bytes(
      *host_.output_text(2),
      "{\"spectra\":[{\"index\":0,\"scan_start_time\":1.5,\"scan_start_time_unit\":"
      "\"minute\","
      "\"ms_level\":1,\"spectrum_type\":\"centroid spectrum\",\"mz_array\":[50,51.25],"
      "\"intensity_array\":[10,0.5],\"mz_array_dtype\":\"float64\",\"intensity_array_"
      "dtype\":"
      "\"float32\",\"array_compression\":\"none\"}]}"));
  EXPECT_EQ(*host_.output_text(0), "{\"chromatograms\":[]}");
  EXPECT_EQ(
      *host_.output_text(1),
      "{\"source_file_name\":\"\",\"source_file_path\":\"" + path +
          "\",\"mzml_version\":\"1.1.0\",\"run_start_time\":\"\",\"spectrum_count\":1,"
          "\"chromatogram_count\":0}");
}

TEST_F(IngestionStep, DocumentValues) {
  const struct {
    std::string name;
    std::string body;
    std::string want_entry;
  } cases[] = {
      {"no spectra", "", ""},
      {"skipped arrays keep the other members",
       "<cvParam name=\"ms level\" value=\"2\"/><binaryDataArrayList>" +
           array_xml("", {"m/z array", "LZW compression"}, "AAAAAAAA8D8=") +
           "</binaryDataArrayList>",
       "{\"index\":0,\"scan_start_time\":0,\"scan_start_time_unit\":\"minute\",\"ms_"
       "level\":2,"
       "\"spectrum_type\":\"centroid spectrum\",\"mz_array\":[],\"intensity_array\":[],"
       "\"mz_array_dtype\":\"float64\",\"intensity_array_dtype\":\"float32\","
       "\"array_compression\":\"none\"}"},
      {"17 significant digits",
       "<scan><cvParam name=\"scan start time\" "
       "value=\"2.5e-7\"/></scan><binaryDataArrayList>" +
           array_xml("", {"m/z array"}, base64(fixtures::le_bytes64({0.1, 100.0}))) +
           "</binaryDataArrayList>",
       "{\"index\":0,\"scan_start_time\":2.4999999999999999e-07,\"scan_start_time_unit\":"
       "\"minute\",\"ms_level\":1,\"spectrum_type\":\"centroid spectrum\",\"mz_array\":"
       "[0.10000000000000001,100],\"intensity_array\":[],\"mz_array_dtype\":\"float64\","
       "\"intensity_array_dtype\":\"float32\",\"array_compression\":\"none\"}"},
      {"escaped unit",
       "<scan><cvParam name=\"scan start time\" value=\"60\" "
       "unitName=\"a\\b&quot;\t\x01\"/></scan>",
       "{\"index\":0,\"scan_start_time\":60,\"scan_start_time_unit\":\"a\\\\b&quot;"
       "\\t\\u0001\","
       "\"ms_level\":1,\"spectrum_type\":\"centroid spectrum\",\"mz_array\":[],"
       "\"intensity_array\":[],\"mz_array_dtype\":\"float64\",\"intensity_array_dtype\":"
       "\"float32\",\"array_compression\":\"none\"}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string spectra =
        c.body.empty() && c.want_entry.empty() ? "" : spectrum_xml("", c.body);
    EXPECT_EQ(run(write("v.mzML", document_xml(spectra))), VX_STATUS_OK);
    EXPECT_TRUE(vx::testing::same_bytes(*host_.output_text(2),
                                        "{\"spectra\":[" + c.want_entry + "]}"));
  }
  // The summary of the last run counts its one spectrum.
  EXPECT_NE(host_.output_text(1)->find("\"spectrum_count\":1,"), std::string::npos);
}

TEST_F(IngestionStep, HostRefusals) {
  const std::string path = write("a.mzML", document_xml(spectrum_xml("", "")));
  const struct {
    uint64_t refused_slot;
    int32_t code;
    StepStatus want;
    std::vector<uint64_t> calls;
  } cases[] = {
      {2, 5, VX_STATUS_HOST_ERROR, {2}},
      {0, 5, VX_STATUS_HOST_ERROR, {2, 0}},
      {1, 7, 7, {2, 0, 1}},  // the last call's result passes through
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused_slot);
    HostSession host;
    host.refuse_output(c.refused_slot, c.code);
    const StepValue params[] = {host.text(path), host.text("")};
    EXPECT_EQ(host.run(entry(), params, {}, 3), c.want);
    EXPECT_EQ(output_slots(host), c.calls);
  }
  // A refused diagnostics document returns the host's code unchanged.
  HostSession host;
  host.refuse_output(2, 9);
  const StepValue params[] = {host.text((dir_ / "missing").string()), host.text("")};
  EXPECT_EQ(host.run(entry(), params, {}, 3), 9);
}

TEST_F(IngestionStep, OddPathBytesNameRealFiles) {
  const std::string doc = document_xml(spectrum_xml("", ""));
  int n = 0;
  for (const std::string name :
       {"\xff\xfe.mzML", "sp ace\t\"q\".mzML", "back\\slash.mzML"}) {
    SCOPED_TRACE(name);
    const std::string path = write(name, doc);
    EXPECT_EQ(run(path), VX_STATUS_OK);
    EXPECT_EQ(output_slots(host_), (std::vector<uint64_t>{2, 0, 1}));
    // A symbolic link to it reads the same.
    const auto link = dir_ / ("link_" + std::to_string(++n));
    std::filesystem::create_symlink(path, link);
    EXPECT_EQ(run(link.string()), VX_STATUS_OK);
    EXPECT_EQ(output_slots(host_), (std::vector<uint64_t>{2, 0, 1}));
  }
}

// The document written while reading equals one written from the collected
// records, for spectra of every size (the buffer is sized ahead from the
// share of the file read, which must never change what is written).
TEST_F(IngestionStep, StreamedDocumentEqualsTheCollectedRecords) {
  std::string spectra;
  for (int i = 0; i < 300; ++i) {
    std::vector<double> mz(static_cast<std::size_t>(i % 7 == 0 ? i * 13 : i % 5));
    for (std::size_t k = 0; k < mz.size(); ++k)
      mz[k] = 1.0 / (static_cast<double>(k) + 3.0) + i;
    spectra +=
        spectrum_xml("index=\"" + std::to_string(i) + "\"",
                     "<binaryDataArrayList>" +
                         array_xml("", {"m/z array"}, base64(fixtures::le_bytes64(mz))) +
                         "</binaryDataArrayList>");
  }
  std::vector<std::string> paths = {write("many.mzML", document_xml(spectra))};
  for (const char* sample :
       {"sim_tiny.mzML", "fullscan_tiny.zlib.mzML", "fullscan_tiny.mzML.gz"}) {
    paths.push_back(vx::testing::test_data(std::string("mzml/") + sample).string());
  }
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    std::vector<MzmlSpectrum> records;
    std::string summary;
    ASSERT_TRUE(read_mzml_file(path, records, summary));
    common::JsonWriter w;
    w.raw("{\"spectra\":[");
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (i != 0) w.raw(",");
      append_spectrum_entry(w, records[i]);
    }
    w.raw("]}");
    EXPECT_EQ(run(path), VX_STATUS_OK);
    EXPECT_TRUE(vx::testing::same_bytes(*host_.output_text(2), w.text()));
    EXPECT_EQ(*host_.output_text(1), summary);
  }
}

// The document's buffer is reserved ahead from the rate of the entries
// already written, so it ends close to the document's size: reserving from
// each entry's worst-case bound made it twice as large.
TEST_F(IngestionStep, DocumentBufferIsSizedToTheDocument) {
  for (const char* sample :
       {"sim_tiny.mzML", "fullscan_tiny.zlib.mzML", "fullscan_tiny.mzML.gz"}) {
    SCOPED_TRACE(sample);
    const std::string path = vx::testing::test_data(std::string("mzml/") + sample).string();
    const StepValue params[] = {host_.text(path), host_.text("")};
    const registry::StepArgs args{host_.context(), params, {}};
    const registry::StepResult result = compute_ingestion(args);
    ASSERT_FALSE(result.emissions.empty());
    const std::string& document = result.emissions.front().text;
    ASSERT_TRUE(document.starts_with("{\"spectra\":[{"));
    EXPECT_LE(static_cast<double>(document.capacity()),
              1.2 * static_cast<double>(document.size()));
  }
}

}  // namespace
}  // namespace vx::mzml
