// Inputs other than what the ingestion step reads, and facts about a run the
// host needs beyond the step's documents. ANDI-MS netCDF files (.cdf) are
// read by the formats layer into the same spectra and run-summary documents
// the ingestion step writes for the same spectra, so the trace, the fit and
// everything after them cannot tell the two inputs apart. Never throws
// except std::bad_alloc.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "chain_runner.hpp"

namespace vx::host::chain {

// A path the formats layer reads instead of the ingestion step: the name
// ends in .cdf (any letter case), as every data system names its ANDI/AIA
// exports.
bool is_andi_path(std::string_view path);

// Reads an ANDI-MS file into an Ingestion as run_ingestion does for mzML
// (with or without a visitor); a file that cannot be used gets a named row
// status and the reader's message.
Ingestion ingest_andi(const std::string& path, const SpectraVisitor& visit_spectra);

// Reads the first and the last entry of a spectra document the ingestion
// step (or ingest_andi) wrote: two entries, not a pass over the document.
// nullopt when the document holds no entry or not in that layout.
std::optional<ScanRange> scan_range(std::string_view spectra);

// Whether the window rt ± rt_tol (minutes) misses [first, last] entirely.
bool window_outside_run(double rt, double rt_tol, const ScanRange& range);

}  // namespace vx::host::chain
