// The mzML document reader: maps a regular file read-only (pipes and devices
// are read into one buffer; gzip-compressed bytes are inflated into one),
// finds the run metadata and every
// spectrum element with the byte-level search of xml_scan, and decodes each
// spectrum's arrays. Spectra are handed to a visitor one at a time with a
// reused record, so a caller can write each one out as soon as it is read;
// the collecting form appends records to a vector. Conversion errors of
// "index", "ms level", "scan start time" and "arrayLength" values leave as
// std::invalid_argument / std::out_of_range (see conversions.hpp).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mzml/inflate.hpp"
#include "mzml/mzml_spectrum.hpp"

namespace vx::mzml {

// Where a spectrum element lies in the (inflated) document: its start and
// end offsets and the document's size, for callers that size output ahead.
struct SpectrumSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t document_size = 0;
};

// Called once per spectrum in document order. The record is reused for the
// next spectrum: keep what is needed (moving out of it is allowed).
using SpectrumVisitor =
    std::function<void(MzmlSpectrum& spectrum, const SpectrumSpan& span)>;

// Why a read gave false. incomplete: the file is an mzML document or a gzip
// stream that stops short (an interrupted copy), or that holds fewer spectra
// than it declares; reason says what is missing, in words a user can read.
// Otherwise the file could not be used at all (reason stays empty).
struct ReadProblem {
  bool incomplete = false;
  std::string reason;
};

// Reads the file at path. False when it cannot be opened, holds no bytes, is
// a gzip file that does not inflate, or is incomplete (problem, when given,
// says which); run_summary_json is then untouched, and spectra read before
// the problem was known have been handed over (the collecting form appends
// nothing for a gzip file that does not inflate, but does for a cut document:
// a caller that keeps records must drop them on false). Otherwise hands over
// one record per spectrum element and replaces run_summary_json with the
// run-summary document.
bool read_mzml_file(std::string_view path, std::vector<MzmlSpectrum>& spectra,
                    std::string& run_summary_json, ReadProblem* problem = nullptr);
bool read_mzml_file(std::string_view path, const SpectrumVisitor& visit,
                    std::string& run_summary_json, ReadProblem* problem = nullptr);

// The same on bytes already in memory (gzip-compressed or not); path is
// only written into the summary.
bool read_mzml_bytes(std::string_view bytes, std::string_view path,
                     const SpectrumVisitor& visit, std::string& run_summary_json,
                     ReadProblem* problem = nullptr);

// Loads the file's bytes into out, inflated when they start with the gzip
// magic bytes. False as read_mzml_file would be for the bytes alone (a cut
// gzip stream is an incomplete problem; a cut document is not seen here).
bool load_mzml_file(std::string_view path, ByteBuffer& out,
                    ReadProblem* problem = nullptr);

}  // namespace vx::mzml
