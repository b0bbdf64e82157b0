// batch's quantitation outputs: after the batch, the sample list and the
// measurements become the quant table, the calibration table and the
// calibration plots, each written only when asked for.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "batch_runner.hpp"
#include "cli_args.hpp"
#include "quantitation.hpp"
#include "sample_list.hpp"

namespace vx::host::cli {

// The sample list of the batch's files from the list's text (or every file a
// sample when there is no list); errors name the list's lines.
tables::SampleAssignment samples_for_batch(const std::string* list_text, std::string_view source,
                                   std::span<const tables::Target> targets,
                                   std::span<const chain::BatchFile> files);

// The settings of q, and the quantitation of a finished batch with them.
quant::QuantSettings quant_settings(const QuantOptions& q);
quant::QuantOutcome quantitate_batch(const QuantOptions& q, std::span<const tables::Target> targets,
                              std::span<const tables::SampleEntry> samples,
                              const chain::BatchOutcome& outcome);

// Writes what q asks for of quant; write errors are added to
// outcome.write_errors.
void write_quantitation(const QuantOptions& q, std::span<const tables::Target> targets,
                        const quant::QuantOutcome& quant, chain::BatchOutcome& outcome);

// Both of the above.
void write_quantitation(const QuantOptions& q, std::span<const tables::Target> targets,
                        std::span<const tables::SampleEntry> samples, chain::BatchOutcome& outcome);

}  // namespace vx::host::cli
