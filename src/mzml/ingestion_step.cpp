// The ingestion step. The spectra document is written while the file is
// read: each spectrum's entry is appended as soon as the reader hands the
// record over, so no record outlives its spectrum and memory stays near the
// file plus the document. The document's buffer is sized ahead from the
// share of the file read so far, so it is not copied as it grows.
#include "mzml/ingestion_step.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "mzml/mzml_reader.hpp"

namespace vx::mzml {
namespace {

registry::StepResult diagnostics(std::string_view document) {
  registry::StepResult r;
  r.emissions.push_back(registry::Emission::of_text(2, std::string(document)));
  return r;
}

// Longest text of one number in an array, its separator included.
constexpr std::size_t kMaxNumberText = common::kNumberBufferSize + 1;

// An upper bound of the bytes append_spectrum_entry writes for s (text
// values may grow sixfold through \u00XX escapes).
std::size_t entry_bound(const MzmlSpectrum& s) {
  const std::size_t texts = s.scan_start_time_unit.size() + s.spectrum_type.size() +
                            s.mz_array_dtype.size() + s.intensity_array_dtype.size() +
                            s.array_compression.size();
  return 256 + 6 * texts +
         (s.mz_array.size() + s.intensity_array.size() + 1) * kMaxNumberText;
}

// Builds the spectra document one entry at a time.
class SpectraDocument {
 public:
  SpectraDocument() { w_.raw("{\"spectra\":["); }

  void add(const MzmlSpectrum& s, const SpectrumSpan& span) {
    if (first_begin_ == kUnset) first_begin_ = span.begin;
    reserve_for(entry_bound(s), span);
    if (entries_ != 0) w_.raw(",");
    append_spectrum_entry(w_, s);
    ++entries_;
  }

  std::string finish() {
    w_.raw("]}");
    return w_.take();
  }

 private:
  static constexpr std::size_t kUnset = static_cast<std::size_t>(-1);

  // Makes room for the next entry. When the buffer is full, the bytes
  // written so far are projected over the rest of the document at the rate
  // of the spectra already written (bounded at eight output bytes per input
  // byte, beyond which geometric growth takes over). The entry's own bound
  // counts once, not at that rate: it assumes the longest form of every
  // number, and projecting it made the buffer twice the document's size.
  // Before any entry is written there is no rate yet, so the first entry
  // gets its bound alone.
  void reserve_for(std::size_t bound, const SpectrumSpan& span) {
    const std::size_t need = w_.size() + bound;
    if (need <= w_.text().capacity()) return;
    const std::size_t done_end = std::max(span.begin, first_begin_);
    if (done_end == first_begin_) {
      w_.reserve(need);
      return;
    }
    const auto consumed = static_cast<double>(done_end - first_begin_);
    const auto rest =
        static_cast<double>(span.document_size - std::min(done_end, span.document_size));
    double projected =
        static_cast<double>(w_.size()) * (1.0 + rest / consumed) * 1.0625 +
        static_cast<double>(bound);
    projected =
        std::min(projected, 8.0 * static_cast<double>(span.document_size) + 4096.0);
    // At least half again the current size, so a poor projection still
    // grows the buffer geometrically.
    const std::size_t capacity = w_.text().capacity();
    w_.reserve(
        std::max({need, static_cast<std::size_t>(projected), capacity + capacity / 2}));
  }

  common::JsonWriter w_;
  std::size_t entries_ = 0;
  std::size_t first_begin_ = kUnset;
};

}  // namespace

std::string incomplete_file_document(std::string_view reason) {
  common::JsonWriter w;
  w.reserve(kIncompleteFilePrefix.size() + reason.size() + 8);
  w.raw(kIncompleteFilePrefix).string(reason).raw("}");
  return w.take();
}

void append_spectrum_entry(common::JsonWriter& w, const MzmlSpectrum& s) {
  w.raw("{\"index\":").integer(s.index);
  w.raw(",\"scan_start_time\":").number(s.scan_start_time);
  w.raw(",\"scan_start_time_unit\":").string(s.scan_start_time_unit);
  w.raw(",\"ms_level\":").integer(s.ms_level);
  w.raw(",\"spectrum_type\":").string(s.spectrum_type);
  w.raw(",\"mz_array\":").number_array(s.mz_array);
  w.raw(",\"intensity_array\":").number_array(s.intensity_array);
  w.raw(",\"mz_array_dtype\":").string(s.mz_array_dtype);
  w.raw(",\"intensity_array_dtype\":").string(s.intensity_array_dtype);
  w.raw(",\"array_compression\":").string(s.array_compression);
  w.raw("}");
}

PathProbe classify_status_error(std::error_code ec) {
  if (ec.category() != std::generic_category() &&
      ec.category() != std::system_category()) {
    return PathProbe::kUnusable;
  }
  switch (ec.value()) {
    case ENOENT:        // nothing there, or a dangling symbolic link
    case ENOTDIR:       // a file where a directory was expected on the way
    case ENAMETOOLONG:  // names the file system rejects as malformed
    case EINVAL:
    case EILSEQ:
    case ELOOP:  // links that never reach an entry
      return PathProbe::kAbsent;
    default:  // access denied, I/O errors, ...: something may be there
      return PathProbe::kUnusable;
  }
}

PathProbe probe_path(std::string_view path) {
  // A zero byte would cut the name short in the system call and test some
  // other path: no entry can have such a name.
  if (path.find('\0') != std::string_view::npos) return PathProbe::kAbsent;
  std::error_code ec;
  const std::filesystem::file_status st =
      std::filesystem::status(std::filesystem::path(path), ec);
  if (!ec)
    return st.type() == std::filesystem::file_type::not_found ? PathProbe::kAbsent
                                                              : PathProbe::kPresent;
  return classify_status_error(ec);
}

registry::StepResult compute_ingestion(const registry::StepArgs& args) {
  const std::string_view path = args.param_text(0);
  if (path.empty()) return registry::StepResult::invalid();
  switch (probe_path(path)) {
    case PathProbe::kAbsent:
      return diagnostics(kFileNotFoundDocument);
    case PathProbe::kUnusable:
      return diagnostics(kUnsupportedEncodingDocument);
    case PathProbe::kPresent:
      break;
  }

  SpectraDocument spectra;
  std::string summary;
  ReadProblem problem;
  bool read = false;
  try {
    read = read_mzml_file(
        path,
        [&spectra](MzmlSpectrum& s, const SpectrumSpan& span) { spectra.add(s, span); },
        summary, &problem);
  } catch (const std::invalid_argument&) {
    // A number in the file that does not convert: reported, not a status.
    return diagnostics(kMalformedNumberDocument);
  } catch (const std::out_of_range&) {
    return diagnostics(kMalformedNumberDocument);
  }
  // The spectra written so far are dropped: a cut file must never pass for
  // a complete run with its late peaks "not found".
  if (!read && problem.incomplete)
    return diagnostics(incomplete_file_document(problem.reason));
  if (!read) return diagnostics(kUnsupportedEncodingDocument);

  registry::StepResult r;
  r.emissions.reserve(3);
  r.emissions.push_back(registry::Emission::of_text(2, spectra.finish()));
  r.emissions.push_back(
      registry::Emission::of_text(0, std::string(kChromatogramsDocument)));
  r.emissions.push_back(registry::Emission::of_text(1, std::move(summary)));
  return r;
}

}  // namespace vx::mzml
