// mzML reading over one in-memory buffer. Elements are views into the
// document (the searches inside each are bounded by its own text), so
// nothing is copied per element; one record and one set of array buffers
// serve every spectrum.
#include "mzml/mzml_reader.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/json_writer.hpp"
#include "mzml/binary_array.hpp"
#include "mzml/completeness.hpp"
#include "mzml/conversions.hpp"
#include "mzml/param_groups.hpp"
#include "mzml/xml_scan.hpp"

namespace vx::mzml {
namespace {

constexpr std::size_t kNpos = std::string_view::npos;

// Closes a POSIX file descriptor on every path.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Reads up to size bytes into dst; returns the count read (short at EOF)
// or -1 on a read error.
ssize_t read_fully(int fd, char* dst, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, dst + done, size - done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;  // errno: interrupted reads are retried
      return -1;
    }
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// A regular file mapped read-only instead of copied: its pages come straight
// from the page cache, so reading it touches no fresh memory, and the kernel
// is told the access is sequential so it reads ahead and drops pages behind.
// False when the file system cannot map it (the caller then reads it).
// A file that another process truncates while it is mapped ends this
// process with SIGBUS on the lost pages, as with any mapped reader; a file
// that grows is read at the size it had when it was opened.
bool map_file(int fd, std::size_t size, ByteBuffer& out) {
  void* const p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) return false;
  (void)::madvise(p, size, MADV_SEQUENTIAL);
  out.mapped = std::unique_ptr<const char, Unmap>(static_cast<const char*>(p),
                                                              Unmap{size});
  out.size = size;
  return true;
}

// Every byte of the file. Regular files are mapped, or read into a buffer of
// their size where mapping fails; anything else (a pipe, a device) grows its
// buffer as it reads, up to kMaxGunzippedSize so an endless source cannot
// eat memory.
bool read_file_bytes(std::string_view path, ByteBuffer& out) {
  if (path.find('\0') != kNpos) return false;  // no file has such a name
  const std::string name(path);
  Fd f{::open(name.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) return false;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
  ByteBuffer buf;
  if (S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) return false;
    if (map_file(f.fd, size, buf)) {
      out = std::move(buf);
      return true;
    }
    buf.data = std::make_unique_for_overwrite<char[]>(size);
    advise_huge_pages(buf.data.get(), size);
    const ssize_t got = read_fully(f.fd, buf.data.get(), size);
    if (got <= 0) return false;
    buf.size = static_cast<std::size_t>(got);
  } else {
    std::size_t cap = std::size_t{1} << 16;
    buf.data = std::make_unique_for_overwrite<char[]>(cap);
    for (;;) {
      const ssize_t got = read_fully(f.fd, buf.data.get() + buf.size, cap - buf.size);
      if (got < 0) return false;
      buf.size += static_cast<std::size_t>(got);
      if (buf.size < cap) break;
      if (cap >= kMaxGunzippedSize) return false;
      auto grown = std::make_unique_for_overwrite<char[]>(cap * 2);
      std::memcpy(grown.get(), buf.data.get(), buf.size);
      buf.data = std::move(grown);
      cap *= 2;
    }
    if (buf.size == 0) return false;
  }
  out = std::move(buf);
  return true;
}

// What one spectrum's cvParams set, with referenced groups counted in place.
void read_spectrum_params(std::string_view spectrum_text, const ParamGroups& groups,
                          MzmlSpectrum& s) {
  // Only the first scan element carries the scan start time.
  std::size_t scan_end = 0;
  const std::string_view scan = find_element(spectrum_text, "scan", 0, scan_end);
  if (!scan.empty()) {
    for_each_cv_param(scan, groups, [&s](std::string_view param) {
      if (attribute_value(param, "name").find("scan start time") == kNpos) return;
      const std::string_view value = attribute_value(param, "value");
      if (!value.empty()) s.scan_start_time = convert_stod(value);
      const std::string_view unit = attribute_value(param, "unitName");
      if (!unit.empty()) s.scan_start_time_unit.assign(unit);
    });
  }
  for_each_cv_param(spectrum_text, groups, [&s](std::string_view param) {
    const std::string_view name = attribute_value(param, "name");
    if (name == "ms level") {
      const std::string_view value = attribute_value(param, "value");
      if (!value.empty()) s.ms_level = convert_stoi(value);
    } else if (name == "centroid spectrum" || name == "profile spectrum") {
      s.spectrum_type.assign(name);
    }
  });
}

constexpr std::string_view kGzipCut = "the gzip stream ends early or is damaged";

bool report_incomplete(ReadProblem* problem, std::string reason) {
  if (problem != nullptr) {
    problem->incomplete = true;
    problem->reason = std::move(reason);
  }
  return false;
}

// Inflates a gzip file into out; a stream that stops early is reported.
bool inflate_gzip(std::string_view bytes, ByteBuffer& out, ReadProblem* problem) {
  switch (gunzip(bytes, out)) {
    case GunzipResult::kInflated:
      return true;
    case GunzipResult::kCut:
      return report_incomplete(problem, std::string(kGzipCut));
    case GunzipResult::kRefused:
      break;
  }
  return false;
}

bool read_document(std::string_view doc, std::string_view path,
                   const SpectrumVisitor& visit, std::string& run_summary_json,
                   ReadProblem* problem) {
  if (doc.empty()) return false;

  // The source file name: a sourceFile anywhere after "<fileDescription>".
  std::string_view source_name;
  const std::size_t description = find_text(doc, "<fileDescription>", 0);
  if (description != kNpos) {
    std::size_t end = 0;
    const std::string_view source = find_element(doc, "sourceFile", description, end);
    if (!source.empty()) source_name = attribute_value(source, "name");
  }

  // The run start tag runs from "<run" to its first '>'.
  std::string_view start_time;
  const std::size_t run = find_text(doc, "<run", 0);
  if (run != kNpos) {
    const std::size_t gt = doc.find('>', run);
    const std::string_view tag = doc.substr(run, gt == kNpos ? kNpos : gt - run);
    start_time = attribute_value(tag, "startTimeStamp");
  }

  // Parameter groups are declared before the run.
  const ParamGroups groups = collect_param_groups(doc.substr(0, run));

  ArrayScratch scratch;
  MzmlSpectrum record;
  uint32_t count = 0;
  std::size_t offset = 0;
  std::size_t first_spectrum = kNpos;
  for (;;) {
    std::size_t end = 0;
    const std::string_view spectrum = find_element(doc, "spectrum", offset, end);
    if (spectrum.empty()) break;
    reset_spectrum(record, static_cast<int32_t>(count));
    const std::string_view index = attribute_value(spectrum, "index");
    if (!index.empty()) record.index = convert_stoi(index);
    read_spectrum_params(spectrum, groups, record);
    std::size_t list_end = 0;
    const std::string_view list =
        find_element(spectrum, "binaryDataArrayList", 0, list_end);
    if (!list.empty()) {
      std::size_t pos = 0;
      for (;;) {
        std::size_t array_end = 0;
        const std::string_view array =
            find_element(list, "binaryDataArray", pos, array_end);
        if (array.empty()) break;
        read_binary_data_array(array, groups, scratch, record);
        pos = array_end;
      }
    }
    ++count;
    const auto begin = static_cast<std::size_t>(spectrum.data() - doc.data());
    if (first_spectrum == kNpos) first_spectrum = begin;
    visit(record, SpectrumSpan{begin, end, doc.size()});
    offset = end;
  }

  // Checked after the walk, which a cut file passes through quietly: the
  // checks look at the head, tail and index only, and the count needs it.
  std::string missing = missing_parts(doc, SpectraSeen{.run = run,
                                                       .first_spectrum = first_spectrum,
                                                       .resume = offset,
                                                       .count = count});
  if (!missing.empty()) return report_incomplete(problem, std::move(missing));

  common::JsonWriter w;
  w.reserve(160 + source_name.size() + path.size() + start_time.size());
  w.raw(R"({"source_file_name":)").string(source_name);
  w.raw(R"(,"source_file_path":)").string(path);
  w.raw(R"(,"mzml_version":"1.1.0","run_start_time":)").string(start_time);
  w.raw(R"(,"spectrum_count":)").count(count);
  w.raw(R"(,"chromatogram_count":0})");
  run_summary_json = w.take();
  return true;
}

}  // namespace

bool load_mzml_file(std::string_view path, ByteBuffer& out, ReadProblem* problem) {
  ByteBuffer raw;
  if (!read_file_bytes(path, raw)) return false;
  if (!has_gzip_magic(raw.view())) {
    out = std::move(raw);
    return true;
  }
  return inflate_gzip(raw.view(), out, problem);
}

bool read_mzml_file(std::string_view path, const SpectrumVisitor& visit,
                    std::string& run_summary_json, ReadProblem* problem) {
  ByteBuffer doc;
  if (!load_mzml_file(path, doc, problem)) return false;
  return read_document(doc.view(), path, visit, run_summary_json, problem);
}

bool read_mzml_file(std::string_view path, std::vector<MzmlSpectrum>& spectra,
                    std::string& run_summary_json, ReadProblem* problem) {
  return read_mzml_file(
      path,
      [&spectra](MzmlSpectrum& s, const SpectrumSpan&) {
        spectra.push_back(std::move(s));
      },
      run_summary_json, problem);
}

bool read_mzml_bytes(std::string_view bytes, std::string_view path,
                     const SpectrumVisitor& visit, std::string& run_summary_json,
                     ReadProblem* problem) {
  if (!has_gzip_magic(bytes))
    return read_document(bytes, path, visit, run_summary_json, problem);
  ByteBuffer inflated;
  if (!inflate_gzip(bytes, inflated, problem)) return false;
  return read_document(inflated.view(), path, visit, run_summary_json, problem);
}

}  // namespace vx::mzml
