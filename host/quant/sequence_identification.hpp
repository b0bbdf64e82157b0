// Identification over a sequence: each target's reference retention time and
// qualifier ratios are the means over the calibration standards in which it
// was detected (the targets table's rt and expected ratios where none is),
// and every file's peak is judged against them (ident::identify). The
// verdict fills the results table's identification columns; a quant row
// whose peak was not identified keeps no concentration. Pure: no I/O.
#pragma once

#include <span>

#include "identification.hpp"
#include "measurement_parts.hpp"
#include "quantitation.hpp"
#include "results_table.hpp"
#include "sample_list.hpp"
#include "targets.hpp"

namespace vx::host::quant {

// What one file says about one target, in the form the criteria take: the
// quantifier's detection (the peak decision when there is one, else a usable
// fit), its time, each qualifier's area in % of the quantifier's and the S/N
// of every ion.
ident::TargetMeasurement target_measurement(const tables::ResultRow& row,
                                            const tables::Measurement& m,
                                            const tables::Target& target);

// rows and measured are file-major (files × targets); samples has one entry
// per file, or none (no sample list: every reference is the table's). Fills
// rt_reference, rt_shift, reference_ratios, identified and
// identification_flags of every row.
void identify_rows(std::span<const tables::Target> targets,
                   std::span<const tables::SampleEntry> samples,
                   std::span<const tables::Measurement> measured,
                   std::span<tables::ResultRow> rows,
                   const ident::IdentificationCriteria& criteria);

// The verdicts in the quant rows: a row whose peak was not identified loses
// its concentration and accuracy, and its failed criteria join its flags.
// rows are the identified results rows, in the quant rows' order.
void apply_identification(std::span<const tables::ResultRow> rows, QuantOutcome& quant);

}  // namespace vx::host::quant
