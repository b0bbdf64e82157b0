// Quantitation sections of the report. Numbers are rounded for reading as in
// the rest of the report (amounts, responses and coefficients 6 significant
// digits, R² 5 decimals, accuracy 1 decimal); the quant and calibration
// tables keep every digit.
#include "quant_report.hpp"

#include <array>
#include <optional>

#include "calibration_plot.hpp"
#include "number_text.hpp"

namespace vx::host::report {

using base::fixed_text;
using base::general_text;
using tables::Target;
using quant::Calibration;
using quant::CalibrationPoint;
using quant::CurveModel;
using quant::QuantOutcome;
using quant::QuantRow;
using quant::QuantSettings;
using quant::kCalFlatResponse;
using quant::kCalInternalStandard;
using quant::kCalNoStandards;
using quant::kCalOk;
using quant::kCalSingular;
using quant::kCalTooFewLevels;
using quant::kFlagAboveRange;
using quant::kFlagBelowRange;
using quant::kFlagBlank;
using quant::kFlagFitFailed;
using quant::kFlagNotDetected;
using quant::kFlagBelowLoq;
using quant::kFlagIstdFailed;
using quant::kFlagOutsideCurve;
using quant::kFlagQualifierRatio;
using quant::kFlagRejected;
using quant::kFlagIstdOutOfRange;
using quant::model_name;
using quant::weighting_name;
using figures::render_calibration_svg;

namespace {

std::string number_text(const std::optional<double>& v, bool percent = false) {
  if (!v) return "-";
  return percent ? fixed_text(*v, 1) + " %" : general_text(*v, 6);
}

void cell(std::string& out, std::string_view text, std::string_view tag = "td") {
  out += '<';
  out += tag;
  out += '>';
  append_html_text(out, text);
  out += "</";
  out += tag;
  out += '>';
}

// A file by its name, as in the matrix above; the whole path shows on hover.
void file_cell(std::string& out, std::string_view path, std::string_view tag = "td") {
  const auto slash = path.find_last_of('/');
  out += '<';
  out += tag;
  out += " title=\"";
  append_html_text(out, path);
  out += "\">";
  append_html_text(out, slash == std::string_view::npos ? path : path.substr(slash + 1));
  out += "</";
  out += tag;
  out += '>';
}

void header_row(std::string& out, std::initializer_list<std::string_view> names) {
  out += "<thead><tr>";
  for (const std::string_view n : names) cell(out, n, "th");
  out += "</tr></thead><tbody>\n";
}

std::string flags_text(const std::vector<std::string>& flags) {
  std::string s;
  for (const std::string& f : flags)
    s += (s.empty() ? "" : ", ") + readable_quant_flag(f);
  return s;
}

std::string equation(const Calibration& cal) {
  std::string eq = "response = " + general_text(cal.coef[0], 6) + " + " +
                   general_text(cal.coef[1], 6) + "\xC2\xB7x";
  if (cal.settings.model == CurveModel::kQuadratic)
    eq += " + " + general_text(cal.coef[2], 6) + "\xC2\xB7x\xC2\xB2";
  return eq;
}

void fact(std::string& out, std::string_view label, std::string_view value) {
  out += "<tr>";
  cell(out, label, "th");
  cell(out, value);
  out += "</tr>\n";
}

// The curve's facts and its plot, as a data: image so that the page needs
// no file beside it and the plot's own ids cannot clash with the page's.
std::string calibration_html(const Calibration& cal, const Target& target,
                             quant::ResponseSource source) {
  const bool ok = cal.status == kCalOk;
  std::string out = "<div class=\"calibration\"><table class=\"facts\">\n";
  fact(out, "status", readable_quant_flag(cal.status));
  if (!cal.message.empty()) fact(out, "note", cal.message);
  if (cal.status == kCalInternalStandard) return out + "</table></div>";
  const std::string measure(quant::response_source_name(source));
  fact(out, "response",
       target.istd.empty() ? measure : measure + " / " + measure + " of " + target.istd);
  fact(out, "model",
       std::string(model_name(cal.settings.model)) +
           (cal.settings.through_origin ? ", through the origin" : ""));
  fact(out, "weighting", weighting_name(cal.settings.weighting));
  if (ok) {
    fact(out, "curve", equation(cal));
    fact(out, "R\xC2\xB2", cal.r_squared ? fixed_text(*cal.r_squared, 5) : "-");
    fact(out, "levels",
         std::to_string(cal.levels) + " (" + std::to_string(cal.points_used) +
             " standards), range " + general_text(cal.min_amount, 6) + " to " +
             general_text(cal.max_amount, 6));
    fact(out, "LOD / LOQ",
         cal.lod && cal.loq ? general_text(*cal.lod, 4) + " / " + general_text(*cal.loq, 4) +
                                  " (ICH Q2: 3.3 and 10 residual SDs over the slope)"
                            : "- (no residual degrees of freedom)");
  }
  out += "</table>\n";
  if (!cal.points.empty()) {
    out += "<img class=\"calibration-plot\" alt=\"calibration: ";
    append_html_text(out, target.name);
    out += "\" src=\"data:image/svg+xml;base64,";
    append_base64(out, render_calibration_svg(cal, target.name, !target.istd.empty()));
    out += "\">\n";
  }
  out += "</div>";
  return out;
}

// Every standard, used or left out; a left-out one says why.
std::string standards_html(const Calibration& cal) {
  std::string out = "<table class=\"list standards\">";
  header_row(out, {"file", "amount", "response", "back-calculated", "accuracy",
                   "left out because"});
  for (const CalibrationPoint& p : cal.points) {
    out += p.excluded.empty() ? "<tr>" : "<tr class=\"left-out\">";
    file_cell(out, p.file);
    cell(out, general_text(p.amount, 6));
    cell(out, number_text(p.response));
    cell(out, number_text(p.back_calculated));
    cell(out, number_text(p.accuracy, true));
    cell(out, p.excluded);
    out += "</tr>\n";
  }
  out += "</tbody></table>";
  return out;
}

// The identification verdict in words; empty when none was asked for.
std::string identification_text(const QuantRow& r) {
  if (r.identified.empty()) return {};
  return r.identified == tables::kIdentifiedYes ? "identified" : "not identified";
}

// The samples, QCs and blanks of one target (standards are in the table above).
std::string concentrations_html(const QuantOutcome& quant, std::size_t t,
                                std::size_t nt) {
  std::string out = "<table class=\"list concentrations\">";
  header_row(
      out, {"file", "type", "response", "concentration", "nominal", "accuracy", "flags",
            "identification"});
  for (std::size_t i = t; i < quant.rows.size(); i += nt) {
    const QuantRow& r = quant.rows[i];
    if (r.sample_type == "standard") continue;
    out += r.flags.empty() ? "<tr>" : "<tr class=\"flagged\">";
    file_cell(out, r.file);
    cell(out, r.sample_type);
    cell(out, number_text(r.response));
    cell(out, number_text(r.concentration));
    cell(out, number_text(r.nominal));
    cell(out, number_text(r.accuracy, true));
    cell(out, flags_text(r.flags));
    cell(out, identification_text(r));
    out += "</tr>\n";
  }
  out += "</tbody></table>";
  return out;
}

// Files × targets: each cell the concentration and, below it, its flags.
// Internal standards have no concentration and no column.
std::string matrix_html(const ReportModel& m, const QuantOutcome& quant,
                        const QuantSettings& settings) {
  const std::size_t nt = m.targets.size();
  std::string out = "<p class=\"legend\">Blanks are flagged above " +
                    general_text(settings.blank_threshold_percent, 6) +
                    " % of the mean response of the lowest calibrated level; then the "
                    "samples and QCs of that target are too.</p>\n";
  out += "<div class=\"quant-wrap\"><table class=\"list quant-matrix\"><thead><tr>";
  cell(out, "file", "th");
  cell(out, "type", "th");
  for (std::size_t t = 0; t < nt; ++t)
    if (quant.calibrations[t].status != kCalInternalStandard)
      cell(out, m.targets[t].name, "th");
  out += "</tr></thead><tbody>\n";
  for (std::size_t f = 0; f * nt < quant.rows.size(); ++f) {
    out += "<tr>";
    file_cell(out, f < m.files.size() ? m.files[f] : quant.rows[f * nt].file, "th");
    cell(out, quant.rows[f * nt].sample_type);
    for (std::size_t t = 0; t < nt; ++t) {
      if (quant.calibrations[t].status == kCalInternalStandard) continue;
      const QuantRow& r = quant.rows[f * nt + t];
      out += r.flags.empty() ? "<td>" : "<td class=\"flagged\">";
      append_html_text(out, number_text(r.concentration));
      if (r.identified == tables::kIdentifiedNo) {
        out += "<br><span class=\"qflags\">";
        append_html_text(out, identification_text(r));
        out += "</span>";
      }
      if (!r.flags.empty()) {
        out += "<br><span class=\"qflags\">";
        append_html_text(out, flags_text(r.flags));
        out += "</span>";
      }
      out += "</td>";
    }
    out += "</tr>\n";
  }
  out += "</tbody></table></div>";
  return out;
}

}  // namespace

std::string readable_quant_flag(std::string_view key) {
  struct Known {
    std::string_view key, text;
  };
  static constexpr std::array<Known, 17> kKnown{{
      {kFlagFitFailed, "quantifier fit failed"},
      {kFlagIstdFailed, "internal standard fit failed"},
      {kFlagBelowRange, "below the calibrated range"},
      {kFlagAboveRange, "above the calibrated range"},
      {kFlagQualifierRatio, "qualifier ratio out of tolerance"},
      {kFlagBlank, "blank above the threshold"},
      {kFlagOutsideCurve, "response outside the curve"},
      {kFlagRejected, "rejected in review"},
      {kFlagIstdOutOfRange, "internal standard area out of range"},
      {kFlagNotDetected, "not detected (no amount)"},
      {kFlagBelowLoq, "below the limit of quantitation"},
      {kCalOk, "ok"},
      {kCalNoStandards, "no standards"},
      {kCalTooFewLevels, "too few levels"},
      {kCalFlatResponse, "flat response"},
      {kCalSingular, "singular (the curve cannot be solved)"},
      {kCalInternalStandard, "internal standard"},
  }};
  for (const Known& k : kKnown) {
    if (k.key == key) return std::string(k.text);
  }
  std::string out(key);  // the rest read well with blanks for underscores
  for (char& c : out) c = c == '_' ? ' ' : c;
  return out;
}

void add_quant_sections(ReportModel& model, const QuantOutcome& quant,
                        const QuantSettings& settings) {
  const std::size_t nt = model.targets.size();
  if (nt == 0 || quant.calibrations.size() != nt || quant.rows.size() % nt != 0) return;
  model.target_sections.resize(nt);
  for (std::size_t t = 0; t < nt; ++t) {
    const Calibration& cal = quant.calibrations[t];
    auto& sections = model.target_sections[t];
    sections.push_back({"Calibration", calibration_html(cal, model.targets[t], settings.response)});
    if (!cal.points.empty()) sections.push_back({"Standards", standards_html(cal)});
    if (cal.status != kCalInternalStandard)
      sections.push_back({"Concentrations", concentrations_html(quant, t, nt)});
  }
  model.sections.push_back(
      {"Concentrations: files \xC3\x97 targets", matrix_html(model, quant, settings)});
}

}  // namespace vx::host::report
