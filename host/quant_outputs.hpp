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

namespace vx::host {

// The sample list of the batch's files from the list's text (or every file a
// sample when there is no list); errors name the list's lines.
SampleAssignment samples_for_batch(const std::string* list_text, std::string_view source,
                                   std::span<const Target> targets,
                                   std::span<const BatchFile> files);

// The settings of q, and the quantitation of a finished batch with them.
QuantSettings quant_settings(const QuantOptions& q);
QuantOutcome quantitate_batch(const QuantOptions& q, std::span<const Target> targets,
                              std::span<const SampleEntry> samples,
                              const BatchOutcome& outcome);

// Writes what q asks for of quant; write errors are added to
// outcome.write_errors.
void write_quantitation(const QuantOptions& q, std::span<const Target> targets,
                        const QuantOutcome& quant, BatchOutcome& outcome);

// Both of the above.
void write_quantitation(const QuantOptions& q, std::span<const Target> targets,
                        std::span<const SampleEntry> samples, BatchOutcome& outcome);

}  // namespace vx::host
