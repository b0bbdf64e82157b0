// The quantitation outputs as tables: one row per file and target
// (concentrations), and one row per target and standard (the calibration,
// with the curve's values repeated on each of its standards' rows so that
// every row stands alone). TSV with a header line, or JSON Lines with the
// same keys; numbers in the shortest text that reads back to the same double.
#pragma once

#include <span>
#include <string>

#include "calibration.hpp"
#include "quantitation.hpp"

namespace vx::host::quant {

// Quant columns: file sample_type target istd retention_time area istd_area
// response concentration nominal accuracy calibration_status qualifiers flags
// review (the analyst's override of the row, empty when none), identified.
// TSV qualifiers: "MZ:OBSERVED%" joined with ';' ("MZ:" when not measured);
// JSON: [{"mz":..,"expected":..,"observed":..,"within":..}].
std::string quant_tsv(std::span<const QuantRow> rows);
std::string quant_jsonl(std::span<const QuantRow> rows);

// Calibration columns: target model weighting through_origin status c0 c1 c2
// r_squared levels points_used min_amount max_amount file amount response
// back_calculated accuracy excluded message lod loq. A target without standards has
// one row with the point cells empty.
std::string calibration_tsv(std::span<const Calibration> cals,
                            std::span<const std::string> target_names);
std::string calibration_jsonl(std::span<const Calibration> cals,
                              std::span<const std::string> target_names);

}  // namespace vx::host::quant
