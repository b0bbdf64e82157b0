// The quantitation in the HTML report: under each target its calibration
// (status, curve, R², levels, the plot as an image inside the page, so that
// the report opens on its own wherever it is moved), the standards with
// their back-calculated amounts and the ones left out with the reason, and
// the concentrations of the samples, QCs and blanks with their flags in
// words; after the targets, one table of concentrations, files × targets.
// Every text from data is escaped.
#pragma once

#include <string>
#include <string_view>

#include "html_report.hpp"
#include "quantitation.hpp"

namespace vx::host::report {

// Adds the sections to model.target_sections and model.sections; quant must
// come from the same files and targets as the model (rows file-major), made
// with settings (the page says which blank threshold flagged a row).
void add_quant_sections(ReportModel& model, const quant::QuantOutcome& quant,
                        const quant::QuantSettings& settings);

// A quant row's flag, or a calibration status, as words
// ("above_range" -> "above the calibrated range").
std::string readable_quant_flag(std::string_view key);

}  // namespace vx::host::report
