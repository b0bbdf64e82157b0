// GcMsMzmlIngestionStep: tests that something exists at the path of
// parameter 0, reads the mzML file there, and writes the spectra document to
// output 2, the chromatograms document to output 0 and the run summary to
// output 1, in that order. A missing, unreadable, malformed or incomplete
// file gives a diagnostics document on output 2 alone, its flag first.
#pragma once

#include <string_view>
#include <system_error>

#include "common/json_writer.hpp"
#include "mzml/mzml_spectrum.hpp"
#include "registry/step_frame.hpp"

namespace vx::mzml {

inline constexpr registry::StepShape kIngestionShape{
    .params = 2, .inputs = 0, .outputs = 3};

inline constexpr std::string_view kFileNotFoundDocument =
    "{\"gcms.ingest.file_not_found\":true}";
inline constexpr std::string_view kUnsupportedEncodingDocument =
    "{\"gcms.ingest.unsupported_encoding\":true}";
inline constexpr std::string_view kMalformedNumberDocument =
    "{\"gcms.ingest.malformed_number\":true}";
// An incomplete file's document is this prefix, the reason as a JSON string
// and "}": {"gcms.ingest.incomplete_file":true,"reason":"..."}.
inline constexpr std::string_view kIncompleteFilePrefix =
    "{\"gcms.ingest.incomplete_file\":true,\"reason\":";
inline constexpr std::string_view kChromatogramsDocument = "{\"chromatograms\":[]}";

// What the existence test found at a path.
enum class PathProbe {
  kPresent,   // some entry exists (symbolic links followed)
  kAbsent,    // nothing there, a dangling link, or a name the system rejects
  kUnusable,  // the status query failed otherwise (for example access denied)
};

// The outcome of a status query that failed with ec.
PathProbe classify_status_error(std::error_code ec);

// The existence test of the step; never throws except std::bad_alloc.
PathProbe probe_path(std::string_view path);

// The incomplete-file diagnostics document with reason escaped.
std::string incomplete_file_document(std::string_view reason);

// Appends one spectrum's entry of the spectra document (no separator).
void append_spectrum_entry(common::JsonWriter& w, const MzmlSpectrum& s);

registry::StepResult compute_ingestion(const registry::StepArgs& args);

}  // namespace vx::mzml
