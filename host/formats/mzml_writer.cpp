// Indexed mzML writing (see mzml_writer.hpp). The text goes through one
// sink that counts offsets and feeds the checksum, so the index and the
// checksum can never disagree with the bytes written.
#include "mzml_writer.hpp"

#include <libdeflate.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "cell_text.hpp"
#include "decimal17.hpp"
#include "sha1.hpp"

namespace vx::host::formats {
namespace {

void append_integer(std::string& out, int64_t value) { base::append_integer(out, value); }

constexpr std::size_t kFlushBytes = 1 << 20;

// Collects the text, its length so far and its checksum; with a file, the
// text is written out whenever a megabyte has gathered.
class Sink {
 public:
  explicit Sink(std::FILE* file) : file_(file) {}

  void put(std::string_view text) {
    sha_.update(text);
    offset_ += text.size();
    buf_.append(text);
    if (file_ != nullptr && buf_.size() >= kFlushBytes) flush();
  }
  uint64_t offset() const { return offset_; }
  std::string digest() { return sha_.hex_digest(); }
  bool flush() {
    if (file_ != nullptr && !buf_.empty()) {
      ok_ = ok_ && std::fwrite(buf_.data(), 1, buf_.size(), file_) == buf_.size();
      buf_.clear();
    }
    return ok_;
  }
  std::string take() { return std::move(buf_); }

 private:
  std::FILE* file_;
  std::string buf_;
  uint64_t offset_ = 0;
  Sha1 sha_;
  bool ok_ = true;
};

void append_xml_attribute(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out.append("&amp;"); break;
      case '<': out.append("&lt;"); break;
      case '>': out.append("&gt;"); break;
      case '"': out.append("&quot;"); break;
      default: out.push_back(c);
    }
  }
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void append_base64(std::string& out, std::span<const unsigned char> in) {
  std::size_t i = 0;
  for (; i + 3 <= in.size(); i += 3) {
    const uint32_t v = uint32_t{in[i]} << 16 | uint32_t{in[i + 1]} << 8 | in[i + 2];
    const char q[] = {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63],
                      kBase64[v & 63]};
    out.append(q, 4);
  }
  if (i + 1 == in.size()) {
    const uint32_t v = uint32_t{in[i]} << 16;
    const char q[] = {kBase64[v >> 18], kBase64[(v >> 12) & 63], '=', '='};
    out.append(q, 4);
  } else if (i + 2 == in.size()) {
    const uint32_t v = uint32_t{in[i]} << 16 | uint32_t{in[i + 1]} << 8;
    const char q[] = {kBase64[v >> 18], kBase64[(v >> 12) & 63], kBase64[(v >> 6) & 63], '='};
    out.append(q, 4);
  }
}

// True when every value is exactly a 32-bit float.
bool fits_float32(std::span<const double> values) {
  for (const double v : values)
    if (!(static_cast<double>(static_cast<float>(v)) == v) && v == v) return false;
  return true;
}

struct Encoder {
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> z{
      libdeflate_alloc_compressor(6), &libdeflate_free_compressor};
  std::vector<unsigned char> raw;
  std::vector<unsigned char> packed;

  // Little-endian bytes of the values, zlib-compressed, as base64 text.
  void encode(std::span<const double> values, bool narrow, std::string& out) {
    raw.clear();
    raw.reserve(values.size() * (narrow ? 4 : 8));
    for (const double v : values) {
      const uint64_t bits = narrow ? std::bit_cast<uint32_t>(static_cast<float>(v))
                                   : std::bit_cast<uint64_t>(v);
      for (int b = 0; b < (narrow ? 4 : 8); ++b)
        raw.push_back(static_cast<unsigned char>(bits >> (8 * b)));
    }
    packed.resize(libdeflate_zlib_compress_bound(z.get(), raw.size()));
    const std::size_t n =
        libdeflate_zlib_compress(z.get(), raw.data(), raw.size(), packed.data(), packed.size());
    append_base64(out, std::span<const unsigned char>(packed.data(), n));
  }
};

void append_array(std::string& out, Encoder& enc, std::span<const double> values,
                  std::string_view dtype, bool mz) {
  const bool narrow = dtype == "float32" && fits_float32(values);
  std::string b64;
  // An empty array is an empty binary element: a zlib stream of no bytes
  // is not something every reader accepts (OpenMS refuses it).
  if (!values.empty()) enc.encode(values, narrow, b64);
  out.append("<binaryDataArray arrayLength=\"");
  append_integer(out, static_cast<int64_t>(values.size()));
  out.append("\" encodedLength=\"");
  append_integer(out, static_cast<int64_t>(b64.size()));
  out.append("\">\n");
  out.append(narrow ? R"(<cvParam cvRef="MS" accession="MS:1000521" name="32-bit float" value=""/>)"
                    : R"(<cvParam cvRef="MS" accession="MS:1000523" name="64-bit float" value=""/>)");
  out.append("\n"
             R"(<cvParam cvRef="MS" accession="MS:1000574" name="zlib compression" value=""/>)"
             "\n");
  out.append(mz ? R"(<cvParam cvRef="MS" accession="MS:1000514" name="m/z array" value="" unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z"/>)"
                : R"(<cvParam cvRef="MS" accession="MS:1000515" name="intensity array" value="" unitCvRef="MS" unitAccession="MS:1000131" unitName="number of detector counts"/>)");
  out.append("\n<binary>").append(b64).append("</binary>\n</binaryDataArray>\n");
}

void write_spectrum(std::string& out, Encoder& enc, const AndiSpectrum& s,
                    std::string_view id) {
  out.append("<spectrum index=\"");
  append_integer(out, s.index);
  out.append("\" id=\"").append(id).append("\" defaultArrayLength=\"");
  append_integer(out, static_cast<int64_t>(s.mz_array.size()));
  out.append("\">\n" R"(<cvParam cvRef="MS" accession="MS:1000511" name="ms level" value=")");
  append_integer(out, s.ms_level);
  out.append("\"/>\n");
  out.append(s.ms_level == 1
                 ? R"(<cvParam cvRef="MS" accession="MS:1000579" name="MS1 spectrum" value=""/>)"
                 : R"(<cvParam cvRef="MS" accession="MS:1000580" name="MSn spectrum" value=""/>)");
  out.append("\n");
  out.append(s.spectrum_type == "profile spectrum"
                 ? R"(<cvParam cvRef="MS" accession="MS:1000128" name="profile spectrum" value=""/>)"
                 : R"(<cvParam cvRef="MS" accession="MS:1000127" name="centroid spectrum" value=""/>)");
  out.append("\n<scanList count=\"1\">\n"
             R"(<cvParam cvRef="MS" accession="MS:1000795" name="no combination" value=""/>)"
             "\n<scan>\n"
             R"(<cvParam cvRef="MS" accession="MS:1000016" name="scan start time" value=")");
  base::append_g17(out, s.scan_start_time);
  out.append(s.scan_start_time_unit == "minute"
                 ? R"(" unitCvRef="UO" unitAccession="UO:0000031" unitName="minute"/>)"
                 : R"(" unitCvRef="UO" unitAccession="UO:0000010" unitName="second"/>)");
  out.append("\n</scan>\n</scanList>\n<binaryDataArrayList count=\"2\">\n");
  append_array(out, enc, s.mz_array, s.mz_array_dtype, true);
  append_array(out, enc, s.intensity_array, s.intensity_array_dtype, false);
  out.append("</binaryDataArrayList>\n</spectrum>\n");
}

// The SHA-1 of the converted file, which the sourceFile element carries;
// nullopt when it cannot be read again.
std::optional<std::string> file_sha1(std::string_view path) {
  const std::string name(path);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(name.c_str(), "rb"),
                                                          &std::fclose);
  if (f == nullptr) return std::nullopt;
  Sha1 sha;
  std::vector<char> buf(1 << 20);
  std::size_t n = 0;
  while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0)
    sha.update(std::string_view(buf.data(), n));
  if (std::ferror(f.get()) != 0) return std::nullopt;
  return sha.hex_digest();
}

std::string_view base_name(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The XML declaration, the cv list and the start of the file description.
void append_document_start(std::string& head) {
  head.append(R"(<?xml version="1.0" encoding="utf-8"?>
<indexedmzML xmlns="http://psi.hupo.org/ms/mzml" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.2_idx.xsd">
<mzML xmlns="http://psi.hupo.org/ms/mzml" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.0.xsd" version="1.1.0">
<cvList count="2">
<cv id="MS" fullName="Proteomics Standards Initiative Mass Spectrometry Ontology" version="4.1.0" URI="https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo"/>
<cv id="UO" fullName="Unit Ontology" version="09:04:2014" URI="https://raw.githubusercontent.com/bio-ontology-research-group/unit-ontology/master/unit.obo"/>
</cvList>
<fileDescription>
<fileContent>
<cvParam cvRef="MS" accession="MS:1000579" name="MS1 spectrum" value=""/>
</fileContent>
)");
}

// The source file's name is the one the ANDI file records (the vendor's
// raw file); without one, the sourceFile element is left out so that the
// mzML reader reports an empty name, as the ANDI reader does.
void append_source_file(std::string& head, const AndiRun& run, std::string_view source_path) {
  if (!run.source_file_name.empty()) {
    head.append("<sourceFileList count=\"1\">\n<sourceFile id=\"SF1\" name=\"");
    append_xml_attribute(head, run.source_file_name);
    head.append("\" location=\"file:///");
    append_xml_attribute(head, base_name(source_path));
    head.append(
        "\">\n"
        R"(<cvParam cvRef="MS" accession="MS:1000776" name="scan number only nativeID format" value=""/>)"
        "\n"
        R"(<cvParam cvRef="MS" accession="MS:1002441" name="Andi-MS format" value=""/>)"
        "\n");
    if (const std::optional<std::string> sha = file_sha1(source_path)) {
      head.append(R"(<cvParam cvRef="MS" accession="MS:1000569" name="SHA-1" value=")")
          .append(*sha)
          .append("\"/>\n");
    }
    head.append("</sourceFile>\n</sourceFileList>\n");
  }
}

// From the end of the file description to the spectrum list's start tag.
void append_run_start(std::string& head, const AndiRun& run) {
  head.append(R"(</fileDescription>
<softwareList count="1">
<software id="vx_formats" version="1">
<cvParam cvRef="MS" accession="MS:1000799" name="custom unreleased software tool" value="vx_formats"/>
</software>
</softwareList>
<instrumentConfigurationList count="1">
<instrumentConfiguration id="IC1">
<cvParam cvRef="MS" accession="MS:1000031" name="instrument model" value=""/>
</instrumentConfiguration>
</instrumentConfigurationList>
<dataProcessingList count="1">
<dataProcessing id="DP1">
<processingMethod order="0" softwareRef="vx_formats">
<cvParam cvRef="MS" accession="MS:1000544" name="Conversion to mzML" value=""/>
</processingMethod>
</dataProcessing>
</dataProcessingList>
<run id="run1" defaultInstrumentConfigurationRef="IC1")");
  if (!run.run_start_time.empty()) {
    head.append(" startTimeStamp=\"");
    append_xml_attribute(head, run.run_start_time);
    head.append("\"");
  }
  head.append(">\n<spectrumList count=\"");
  append_integer(head, static_cast<int64_t>(run.spectra.size()));
  head.append("\" defaultDataProcessingRef=\"DP1\">\n");
}

// Writes the spectra and returns where each one starts, for the index.
std::vector<uint64_t> write_spectra(Sink& sink, const AndiRun& run) {
  Encoder enc;
  std::vector<uint64_t> offsets;
  offsets.reserve(run.spectra.size());
  std::string text;
  std::string id;
  for (std::size_t i = 0; i < run.spectra.size(); ++i) {
    id.assign("scan=");
    append_integer(id, static_cast<int64_t>(i) + 1);
    text.clear();
    write_spectrum(text, enc, run.spectra[i], id);
    offsets.push_back(sink.offset());
    sink.put(text);
  }
  return offsets;
}

// The index of the spectra, its offset and the checksum of everything
// before the checksum itself.
void write_index(Sink& sink, std::span<const uint64_t> offsets) {
  const uint64_t index_offset = sink.offset();
  std::string tail = "<indexList count=\"1\">\n<index name=\"spectrum\">\n";
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    tail.append("<offset idRef=\"scan=");
    append_integer(tail, static_cast<int64_t>(i) + 1);
    tail.append("\">");
    append_integer(tail, static_cast<int64_t>(offsets[i]));
    tail.append("</offset>\n");
  }
  tail.append("</index>\n</indexList>\n<indexListOffset>");
  append_integer(tail, static_cast<int64_t>(index_offset));
  tail.append("</indexListOffset>\n<fileChecksum>");
  sink.put(tail);
  const std::string digest = sink.digest();
  // The checksum covers the text up to here; what follows is not hashed.
  sink.put(digest);
  sink.put("</fileChecksum>\n</indexedmzML>\n");
}

void write_all(Sink& sink, const AndiRun& run, std::string_view source_path) {
  std::string head;
  append_document_start(head);
  append_source_file(head, run, source_path);
  append_run_start(head, run);
  sink.put(head);
  const std::vector<uint64_t> offsets = write_spectra(sink, run);
  sink.put("</spectrumList>\n</run>\n</mzML>\n");
  write_index(sink, offsets);
}

}  // namespace

std::string indexed_mzml_text(const AndiRun& run, std::string_view source_path) {
  Sink sink(nullptr);
  write_all(sink, run, source_path);
  return sink.take();
}

bool write_indexed_mzml(const AndiRun& run, std::string_view source_path,
                        std::string_view out_path, std::string& error) {
  const std::string name(out_path);
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (f == nullptr) {
    // errno names the reason; it is read right after the failing call.
    error = "cannot create " + name + ": " + std::strerror(errno);
    return false;
  }
  Sink sink(f);
  write_all(sink, run, source_path);
  const bool written = sink.flush();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = "cannot write " + name + ": " + std::strerror(errno);
    std::remove(name.c_str());
    return false;
  }
  return true;
}

}  // namespace vx::host::formats
