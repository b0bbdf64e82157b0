// netCDF inputs and the run's scan range. The ANDI documents are built in
// memory by the formats layer (a netCDF file has no base64 or XML to decode,
// so nothing is gained by streaming it) and handed over like the step's.
#include "run_inputs.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "andi_reader.hpp"
#include "number_text.hpp"

namespace vx::host::chain {

using formats::AndiStatus;

namespace {

// What the ingestion step writes on output 0 for a file without
// chromatograms; ANDI-MS files carry none the chain reads.
constexpr std::string_view kNoChromatograms = "{\"chromatograms\":[]}";
constexpr std::string_view kEntryStart = "{\"index\":";
constexpr std::string_view kTimeKey = ",\"scan_start_time\":";
constexpr std::string_view kUnitKey = ",\"scan_start_time_unit\":\"";

std::string_view andi_row_status(AndiStatus s) {
  switch (s) {
    case AndiStatus::kOk:
      return tables::kStatusOk;
    case AndiStatus::kNotNetcdf:
      return tables::kStatusUnsupportedEncoding;
    case AndiStatus::kNoMassSpectra:
      return tables::kStatusNoMassSpectra;
    case AndiStatus::kInconsistentFile:
      return tables::kStatusInconsistentFile;
    case AndiStatus::kIncompleteFile:
      return tables::kStatusIncompleteFile;
    case AndiStatus::kUnreadable:
      break;
  }
  return tables::kStatusUnsupportedEncoding;
}

// The time of the entry that starts at entry (its "{\"index\":"), in minutes.
std::optional<double> entry_minutes(std::string_view entry) {
  const std::size_t t = entry.find(kTimeKey);
  if (t == std::string_view::npos) return std::nullopt;
  const std::size_t from = t + kTimeKey.size();
  const std::size_t end = entry.find_first_of(",}", from);
  if (end == std::string_view::npos) return std::nullopt;
  const auto time = base::parse_double(entry.substr(from, end - from));
  if (!time || !std::isfinite(*time)) return std::nullopt;
  if (entry.substr(end).starts_with(kUnitKey)) {
    const std::string_view unit = entry.substr(end + kUnitKey.size());
    if (unit.starts_with("second\"")) return *time / 60.0;
  }
  return *time;  // minutes, as the trace step reads an entry without a unit
}

}  // namespace

bool is_andi_path(std::string_view path) {
  if (path.size() < 4) return false;
  const std::string_view ext = path.substr(path.size() - 4);
  return ext[0] == '.' && (ext[1] == 'c' || ext[1] == 'C') &&
         (ext[2] == 'd' || ext[2] == 'D') && (ext[3] == 'f' || ext[3] == 'F');
}

Ingestion ingest_andi(const std::string& path, const SpectraVisitor& visit_spectra) {
  Ingestion out;
  std::error_code ec;
  formats::AndiDocuments docs = formats::read_andi_file(path);
  if (docs.status != AndiStatus::kOk) {
    out.status = andi_row_status(docs.status);
    out.message = std::move(docs.message);
    if (docs.status == AndiStatus::kUnreadable && !std::filesystem::exists(path, ec)) {
      out.status = tables::kStatusFileNotFound;
      out.message = "nothing exists at this path";
    }
    return out;
  }
  out.spectra_handed_over = true;
  out.chromatograms = kNoChromatograms;
  out.run_summary = std::move(docs.summary_json);
  out.range = scan_range(docs.spectra_json);
  if (visit_spectra) {
    visit_spectra(docs.spectra_json);
  } else {
    out.spectra = std::move(docs.spectra_json);
  }
  return out;
}

std::optional<ScanRange> scan_range(std::string_view spectra) {
  const std::size_t first = spectra.find(kEntryStart);
  const std::size_t last = spectra.rfind(kEntryStart);
  if (first == std::string_view::npos) return std::nullopt;
  const auto a = entry_minutes(spectra.substr(first));
  const auto b = entry_minutes(spectra.substr(last));
  if (!a || !b) return std::nullopt;
  return ScanRange{std::min(*a, *b), std::max(*a, *b)};
}

bool window_outside_run(double rt, double rt_tol, const ScanRange& range) {
  const double tol = std::fabs(rt_tol);
  return rt + tol < range.first || rt - tol > range.last;
}

}  // namespace vx::host::chain
