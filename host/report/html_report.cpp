// The page is written in one pass into one string. Data reaches the page in
// two ways only: as escaped HTML text (summary, names, messages) and as
// strings inside the JSON data block, where '<', '>' and '&' are written as
// \u escapes so that no text can close the script element.
#include "html_report.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <variant>

#include "cell_text.hpp"
#include "number_text.hpp"
#include "peak_decisions.hpp"
#include "report_assets.hpp"
#include "svg_writer.hpp"
#include "trace_plot.hpp"
#include "utf8.hpp"

namespace vx::host::report {

using tables::kFitNotRun;
using tables::kFitSuccess;
using base::JsonText;
using base::append_json_number;
using base::append_json_text;
using base::format_general;
using base::general_text;
using base::kNumberTextSize;
using base::utf8_length;
using tables::Column;
using tables::ResultRow;
using tables::Target;
using tables::result_columns;
using tables::row_processed;
using chain::FitFacts;
using chain::TargetRun;
using figures::PlotInput;
using figures::make_plot;

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Finite numbers with `digits` significant digits; anything else is null.
void append_json_number(std::string& out, std::optional<double> v, int digits) {
  if (!v || !std::isfinite(*v)) {
    out += "null";
    return;
  }
  char buf[kNumberTextSize];
  out.append(buf, format_general(*v, digits, buf));
}

// Interns strings so that each flag travels once.
class Pool {
 public:
  std::size_t index(const std::string& s) {
    const auto [it, added] = index_.try_emplace(s, items_.size());
    if (added) items_.push_back(s);
    return it->second;
  }
  [[nodiscard]] const std::vector<std::string>& items() const { return items_; }

 private:
  std::map<std::string, std::size_t> index_;
  std::vector<std::string> items_;
};

// Values shown in the report keep 10 significant digits: enough for every
// reading and sorting, while the tables keep every digit.
constexpr int kValueDigits = 10;

// Rows follow the results table's own columns, so a column added there
// reaches the report too. File and target are left out: a row's place says
// them. Lists (the flags) travel as indexes into one pool of labels.
bool in_report(const Column& c) { return c.name != "file" && c.name != "target"; }

void append_cell(std::string& out, const std::string& v, Pool&) {
  append_json_text(out, v, JsonText::kInsideHtml);
}
void append_cell(std::string& out, double v, Pool&) {
  append_json_number(out, v, kValueDigits);
}
void append_cell(std::string& out, const std::optional<double>& v, Pool&) {
  append_json_number(out, v, kValueDigits);
}
template <typename Int>
void append_cell(std::string& out, const std::optional<Int>& v, Pool&) {
  out += v ? std::to_string(*v) : std::string("null");
}
void append_cell(std::string& out, const std::vector<std::string>& v, Pool& labels) {
  out += '[';
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (i > 0) out += ',';
    out += std::to_string(labels.index(v[i]));
  }
  out += ']';
}

void append_row(std::string& out, const ResultRow& r, Pool& labels) {
  out += '[';
  bool first = true;
  for (const Column& c : result_columns()) {
    if (!in_report(c)) continue;
    if (!first) out += ',';
    first = false;
    std::visit([&](auto member) { append_cell(out, r.*member, labels); }, c.field);
  }
  out += ']';
}

// Plot points travel as base64 of little-endian 16-bit values, each a
// fraction of the cell's range in 1/65535 steps: finer than any screen, and
// about a quarter of the size of decimal text. Scans come at a steady pace,
// so a series whose times lie on an even grid (within kGridTolerance of the
// cell's time range, an eighth of a pixel on the page's plot) is written as
// "~" then its first and last time and the intensities alone: half the bytes
// of (x, y) pairs, which every other series keeps. Non-finite points are
// left out.
struct Box {
  double x_lo, x_hi, y_lo, y_hi;
};

constexpr double kGridTolerance = 1.0 / 4096.0;

uint16_t quantize(double v, double lo, double hi) {
  const double q = hi > lo ? (v - lo) / (hi - lo) * 65535.0 : 0.0;
  return static_cast<uint16_t>(std::lround(std::clamp(q, 0.0, 65535.0)));
}

void append_u16(std::string& bytes, uint16_t q) {
  bytes += static_cast<char>(q & 0xFF);
  bytes += static_cast<char>(q >> 8);
}

bool on_even_grid(const std::vector<double>& xs, double span) {
  if (xs.size() < 3) return false;
  const double first = xs.front(),
               step = (xs.back() - first) / static_cast<double>(xs.size() - 1);
  for (std::size_t i = 1; i + 1 < xs.size(); ++i) {
    if (!(std::abs(xs[i] - (first + step * static_cast<double>(i))) <=
          span * kGridTolerance))
      return false;
  }
  return true;
}

void append_base64_points(std::string& out, const std::vector<double>& all_x,
                          const std::vector<double>& all_y, const Box& b) {
  std::vector<double> xs, ys;
  xs.reserve(all_x.size());
  ys.reserve(all_y.size());
  for (std::size_t i = 0; i < all_x.size() && i < all_y.size(); ++i) {
    if (!std::isfinite(all_x[i]) || !std::isfinite(all_y[i])) continue;
    xs.push_back(all_x[i]);
    ys.push_back(all_y[i]);
  }
  std::string bytes;
  out += '"';
  if (on_even_grid(xs, b.x_hi - b.x_lo)) {
    out += '~';
    bytes.reserve(2 * xs.size() + 4);
    append_u16(bytes, quantize(xs.front(), b.x_lo, b.x_hi));
    append_u16(bytes, quantize(xs.back(), b.x_lo, b.x_hi));
    for (const double y : ys) append_u16(bytes, quantize(y, b.y_lo, b.y_hi));
  } else {
    bytes.reserve(4 * xs.size());
    for (std::size_t i = 0; i < xs.size(); ++i) {
      append_u16(bytes, quantize(xs[i], b.x_lo, b.x_hi));
      append_u16(bytes, quantize(ys[i], b.y_lo, b.y_hi));
    }
  }
  append_base64(out, bytes);
  out += '"';
}

Box plot_box(const CellPlot& p) {
  Box b{p.x_min, p.x_max, std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()};
  const auto add = [&](const std::vector<double>& xs, const std::vector<double>& ys) {
    for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
      if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) continue;
      b.x_lo = std::min(b.x_lo, xs[i]);
      b.x_hi = std::max(b.x_hi, xs[i]);
      b.y_lo = std::min(b.y_lo, ys[i]);
      b.y_hi = std::max(b.y_hi, ys[i]);
    }
  };
  add(p.point_x, p.point_y);
  add(p.curve_x, p.curve_y);
  if (p.context_hi > p.context_lo) {
    b.x_lo = std::min(b.x_lo, p.context_lo);
    b.x_hi = std::max(b.x_hi, p.context_hi);
  }
  if (!(b.y_lo <= b.y_hi)) b.y_lo = b.y_hi = 0.0;
  if (!std::isfinite(b.x_lo) || !std::isfinite(b.x_hi)) b.x_lo = b.x_hi = 0.0;
  return b;
}

// A cell's plot is an array in the order of kPlotFields, which the data
// block lists by name (as it lists the row columns) so that the page finds
// each field by name; a cell without plot data is only its SVG link.
constexpr std::array<std::string_view, 12> kPlotFields = {
    "window_lo", "window_hi", "x_lo",     "x_hi", "y_lo",       "y_hi",
    "points",    "curve",     "baseline", "svg",  "qualifiers", "spectrum"};

// The spectrum field of a cell whose run recorded too few ions at the apex
// for a spectrum to say anything (SIM).
constexpr std::string_view kFewIonsSpectrum = "\"few_ions\"";

void append_sticks(std::string& out, const std::vector<double>& by_mass) {
  out += '[';
  bool first = true;
  for (const auto& [mass, level] : spectrum_sticks(by_mass)) {
    if (!first) out += ',';
    first = false;
    out += std::to_string(mass) + ',' + std::to_string(level);
  }
  out += ']';
}

// A baseline when the fit gave none: the median of the points, which on a
// trace mostly away from the peak lies near it.
double median_level(std::vector<double> ys) {
  std::erase_if(ys, [](double y) { return !std::isfinite(y); });
  if (ys.empty()) return 0.0;
  const auto mid = ys.begin() + static_cast<std::ptrdiff_t>(ys.size() / 2);
  std::nth_element(ys.begin(), mid, ys.end());
  return *mid;
}

// Each qualifier as [mz, reference ratio, y_lo, y_hi, points]: its trace
// already scaled onto the quantifier's (overlay_ratios), in its own y range
// and the cell's x range.
void append_qualifiers(std::string& out, const CellPlot& p, const Box& cell,
                       const std::vector<std::optional<double>>& ratios) {
  out += '[';
  const double quant_base =
      p.baseline && std::isfinite(*p.baseline) ? *p.baseline : median_level(p.point_y);
  for (std::size_t q = 0; q < p.qualifiers.size(); ++q) {
    const CellPlot::IonTrace& ion = p.qualifiers[q];
    const std::optional<double> ratio = q < ratios.size() ? ratios[q] : std::nullopt;
    std::vector<double> ys = ion.y;
    if (ratio) {
      const double base = ion.baseline && std::isfinite(*ion.baseline)
                              ? *ion.baseline
                              : median_level(ion.y);
      for (double& y : ys) y = quant_base + (y - base) * 100.0 / *ratio;
    }
    Box b{cell.x_lo, cell.x_hi, std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()};
    for (const double y : ys) {
      if (!std::isfinite(y)) continue;
      b.y_lo = std::min(b.y_lo, y);
      b.y_hi = std::max(b.y_hi, y);
    }
    if (!(b.y_lo <= b.y_hi)) b.y_lo = b.y_hi = 0.0;
    if (q > 0) out += ',';
    out += '[';
    append_json_number(out, ion.mz, kValueDigits);
    out += ',';
    append_json_number(out, ratio, kValueDigits);
    out += ',';
    append_json_number(out, b.y_lo, kValueDigits);
    out += ',';
    append_json_number(out, b.y_hi, kValueDigits);
    out += ',';
    append_base64_points(out, ion.x, ys, b);
    out += ']';
  }
  out += ']';
}

void append_plot(std::string& out, const std::optional<CellPlot>& p,
                 const std::vector<std::optional<double>>& ratios) {
  if (!p) {
    out += "null";
    return;
  }
  if (!p->has_data) {  // the link alone, as a string
    append_json_text(out, p->svg_path, JsonText::kInsideHtml);
    return;
  }
  const Box b = plot_box(*p);
  out += '[';
  for (const double v : {p->x_min, p->x_max, b.x_lo, b.x_hi, b.y_lo, b.y_hi}) {
    append_json_number(out, v, kValueDigits);
    out += ',';
  }
  append_base64_points(out, p->point_x, p->point_y, b);
  out += ',';
  append_base64_points(out, p->curve_x, p->curve_y, b);
  out += ',';
  append_json_number(out, p->baseline, kValueDigits);
  out += ',';
  append_json_text(out, p->svg_path, JsonText::kInsideHtml);
  out += ',';
  append_qualifiers(out, *p, b, ratios);
  out += ',';
  if (p->few_ions) {
    out += kFewIonsSpectrum;
  } else if (p->spectrum.empty()) {
    out += "null";
  } else {
    append_sticks(out, p->spectrum);
  }
  out += ']';
}

// Per target, the library spectrum as [entry name, sticks], or null.
void append_library_json(std::string& out, const ReportModel& m) {
  if (m.library_spectra.empty()) return;
  out += ",\"library\":[";
  for (std::size_t t = 0; t < m.targets.size(); ++t) {
    if (t > 0) out += ',';
    const auto* lib = t < m.library_spectra.size() && m.library_spectra[t]
                          ? &*m.library_spectra[t]
                          : nullptr;
    if (lib == nullptr) {
      out += "null";
      continue;
    }
    const Target& target = m.targets[t];
    out += '[';
    append_json_text(out, target.library_name.empty() ? target.name : target.library_name,
                     JsonText::kInsideHtml);
    out += ',';
    append_sticks(out, lib->by_mass);
    out += ']';
  }
  out += ']';
}

void append_targets_json(std::string& out, const std::vector<Target>& targets) {
  out += "\"targets\":[";
  for (std::size_t t = 0; t < targets.size(); ++t) {
    if (t > 0) out += ',';
    out += '[';
    append_json_text(out, targets[t].name, JsonText::kInsideHtml);
    out += ',';
    append_json_number(out, targets[t].mz, kValueDigits);
    out += ',';
    append_json_number(out, targets[t].rt, kValueDigits);
    out += ']';
  }
  out += ']';
}

void append_strings_json(std::string& out, std::string_view key,
                         const std::vector<std::string>& items, bool readable) {
  out += '"';
  out += key;
  out += "\":[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    append_json_text(out, readable ? readable_flag(items[i]) : items[i],
                     JsonText::kInsideHtml);
  }
  out += ']';
}

template <typename List, typename Each>
void append_list_json(std::string& out, std::string_view key, const List& items, Each each) {
  out += ",\"";
  out += key;
  out += "\":[";
  bool first = true;
  for (const auto& v : items) {
    if (!first) out += ',';
    first = false;
    each(v);
  }
  out += ']';
}

// The sequence order, the quantitation facts the page plots and the review
// decisions, after the rows and plots so that a page that does not know
// them reads the block as before.
void append_sequence_json(std::string& out, const ReportModel& m) {
  const auto index = [&](std::size_t v) { out += std::to_string(v); };
  const auto number = [&](const std::optional<double>& v) {
    append_json_number(out, v, kValueDigits);
  };
  const auto text = [&](const std::string& s) {
    append_json_text(out, s, JsonText::kInsideHtml);
  };
  append_list_json(out, "order", m.injection_order, index);
  out += ",\"order_source\":";
  text(m.order_source);
  append_list_json(out, "sample_types", m.sample_types, text);
  append_list_json(out, "conc", m.concentrations, number);
  append_list_json(out, "accuracy", m.accuracies, number);
  append_list_json(out, "istd_out", m.istd_out_of_range, index);
  append_list_json(out, "istd_targets", m.istd_targets, index);
  out += ",\"unit\":";
  text(m.amount_unit);
  out += ",\"qc_limit\":";
  number(m.qc_limit_percent);
  out += ",\"istd_limits\":[";
  number(m.istd_low_percent);
  out += ',';
  number(m.istd_high_percent);
  out += ']';
  append_list_json(out, "review", m.review, [&](const tables::ReviewEntry& e) {
    out += '[' + std::to_string(e.file_index) + ',' + std::to_string(e.target_index) + ',';
    text(e.action);
    out += ',';
    number(e.start_rt);
    out += ',';
    number(e.end_rt);
    for (const std::string* s : {&e.reason, &e.reviewer, &e.time}) {
      out += ',';
      text(*s);
    }
    out += ']';
  });
}

void append_data_block(std::string& out, const ReportModel& m) {
  Pool labels;
  std::string rows;
  rows.reserve(m.rows.size() * 200);
  for (std::size_t i = 0; i < m.rows.size(); ++i) {
    if (i > 0) rows += ',';
    append_row(rows, m.rows[i], labels);
  }
  std::vector<std::string> columns;
  for (const Column& c : result_columns()) {
    if (in_report(c)) columns.emplace_back(c.name);
  }
  out += "<script type=\"application/json\" id=\"vx-data\">{";
  append_strings_json(out, "columns", columns, false);
  out += ',';
  append_strings_json(out, "plot_fields",
                      std::vector<std::string>(kPlotFields.begin(), kPlotFields.end()), false);
  out += ',';
  append_strings_json(out, "files", m.files, false);
  out += ',';
  append_targets_json(out, m.targets);
  out += ',';
  append_strings_json(out, "labels", labels.items(), true);
  out += ",\"rows\":[";
  out += rows;
  out += "],\"plots\":[";
  const std::size_t n_targets = m.targets.size();
  for (std::size_t i = 0; i < m.plots.size(); ++i) {
    if (i > 0) out += ',';
    std::vector<std::optional<double>> ratios;
    if (m.plots[i] && !m.plots[i]->qualifiers.empty() && i < m.rows.size() &&
        n_targets > 0)
      ratios = overlay_ratios(m.rows[i], m.targets[i % n_targets]);
    append_plot(out, m.plots[i], ratios);
  }
  out += ']';
  append_sequence_json(out, m);
  append_library_json(out, m);
  out += "}</script>\n";
}

void append_fact(std::string& out, std::string_view label, std::string_view value) {
  out += "<tr><th>";
  out += label;
  out += "</th><td>";
  append_html_text(out, value);
  out += "</td></tr>\n";
}

std::string counts_text(const std::map<std::string, std::size_t>& counts) {
  std::string s;
  for (const auto& [name, n] : counts) {
    if (!s.empty()) s += ", ";
    s += name + " " + std::to_string(n);
  }
  return s.empty() ? "none" : s;
}

void append_summary(std::string& out, const ReportModel& m) {
  std::map<std::string, std::size_t> by_status;
  std::map<std::string, std::size_t> by_fit;
  for (const ResultRow& r : m.rows) {
    ++by_status[r.status];
    ++by_fit[r.fit_status.empty() ? std::string(kFitNotRun) : r.fit_status];
  }
  const ReportFacts& f = m.facts;
  out += "<section id=\"summary\"><h2>Summary</h2><table class=\"facts\">\n";
  append_fact(out, "files", std::to_string(m.files.size()));
  append_fact(out, "targets", std::to_string(m.targets.size()));
  append_fact(out, "rows by status", counts_text(by_status));
  append_fact(out, "rows by fit status", counts_text(by_fit));
  append_fact(out, "vxrun", f.vxrun_version);
  append_fact(out, "step library", f.library_path);
  append_fact(out, "library contract set", f.library_contract);
  append_fact(out, "command line", f.command_line);
  append_fact(out, "started (UTC)", f.started);
  append_fact(out, "duration", general_text(f.seconds, 4) + " s");
  if (!m.order_source.empty()) append_fact(out, "injection order", m.order_source);
  if (!m.review_digest.empty())
    append_fact(out, "review applied",
                m.review_source + " (SHA-1 " + m.review_digest + ", " +
                    std::to_string(m.review.size()) + " decisions)");
  out += "</table></section>\n";
}

void append_sections(std::string& out, const std::vector<ReportSection>& sections,
                     std::string_view heading) {
  for (const ReportSection& s : sections) {
    out += '<';
    out += heading;
    out += '>';
    append_html_text(out, s.title);
    out += "</";
    out += heading;
    out += ">\n";
    out += s.html;
    out += '\n';
  }
}

// The frames the script fills when a target is opened; the program's own
// extra sections for the target are written here already.
void append_targets(std::string& out, const ReportModel& m) {
  out += "<section id=\"targets\"><h2>Targets</h2>\n";
  for (std::size_t t = 0; t < m.targets.size(); ++t) {
    const Target& target = m.targets[t];
    out += "<details class=\"target\" data-t=\"" + std::to_string(t) + "\"><summary>";
    append_html_text(out, target.name);
    out += " <span class=\"muted\">m/z " + general_text(target.mz, 8) + ", RT " +
           general_text(target.rt, 6) + " min</span></summary>\n";
    out += "<div class=\"target-body\"></div>\n";
    if (t < m.target_sections.size()) append_sections(out, m.target_sections[t], "h4");
    out += "</details>\n";
  }
  out += "</section>\n";
}

// Every override the review made, with who made it, when and why: what a
// reader signing the results must see beside them.
void append_audit(std::string& out, const ReportModel& m) {
  out += "<section id=\"audit\"><h2>Audit</h2>\n";
  if (m.review_digest.empty()) {
    out += "<p>No review was applied: every value is as the chain measured it.</p>";
    out += "</section>\n";
    return;
  }
  out += "<p>Review file ";
  append_html_text(out, m.review_source);
  out += ", SHA-1 <code>" + m.review_digest + "</code>.</p>\n";
  out +=
      "<table class=\"list audit\"><thead><tr><th>file</th><th>target</th>"
      "<th>action</th><th>start (min)</th><th>end (min)</th><th>reason</th>"
      "<th>reviewer</th><th>time</th><th>review line</th></tr></thead><tbody>\n";
  for (const tables::ReviewEntry& e : m.review) {
    out += "<tr><td>";
    append_html_text(out, e.file_index < m.files.size() ? m.files[e.file_index] : e.file);
    out += "</td><td>";
    append_html_text(out, e.target_index < m.targets.size() ? m.targets[e.target_index].name
                                                          : e.target);
    out += "</td><td>";
    append_html_text(out, e.action);
    out += "</td><td>";
    if (e.start_rt) out += general_text(*e.start_rt, 6);
    out += "</td><td>";
    if (e.end_rt) out += general_text(*e.end_rt, 6);
    for (const std::string* s : {&e.reason, &e.reviewer, &e.time}) {
      out += "</td><td>";
      append_html_text(out, *s);
    }
    out += "</td><td>" + std::to_string(e.line) + "</td></tr>\n";
  }
  out += "</tbody></table></section>\n";
}

void append_unprocessed(std::string& out, const ReportModel& m) {
  const std::size_t n_targets = m.targets.size();
  std::string items;
  for (std::size_t f = 0; f < m.files.size() && n_targets > 0; ++f) {
    for (std::size_t t = 0; t < n_targets && f * n_targets + t < m.rows.size(); ++t) {
      const ResultRow& r = m.rows[f * n_targets + t];
      if (row_processed(r)) continue;
      items += "<tr><td>";
      append_html_text(items, m.files[f]);
      items += "</td><td>";
      append_html_text(items, r.status);
      items += "</td><td>";
      append_html_text(items, r.message);
      items += "</td></tr>\n";
      break;
    }
  }
  out += "<section id=\"unprocessed\"><h2>Files not processed</h2>\n";
  if (items.empty()) {
    out += "<p>Every file was processed.</p>";
  } else {
    out +=
        "<table class=\"list\"><thead><tr><th>file</th><th>status</th><th>message</th>"
        "</tr></thead><tbody>\n";
    out += items;
    out += "</tbody></table>";
  }
  out += "</section>\n";
}

}  // namespace

void append_html_text(std::string& out, std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u >= 0x80) {
      const std::size_t n = utf8_length(s, i);
      out.append(n == 0 ? kReplacement : s.substr(i, n));
      i += n == 0 ? 1 : n;
      continue;
    }
    switch (u) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += (u >= 0x20 && u != 0x7F) ? static_cast<char>(u) : ' ';
    }
    ++i;
  }
}

void append_base64(std::string& out, std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const auto at = [&](std::size_t k) {
      return k < bytes.size()
                 ? static_cast<uint32_t>(static_cast<unsigned char>(bytes[k]))
                 : 0u;
    };
    const uint32_t n = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
}

namespace {

// The peak decision's flags in words; their names are the peaks layer's.
std::optional<std::string_view> peak_flag_words(std::string_view key) {
  struct Words {
    peaks::PeakFlag flag;
    std::string_view text;
  };
  static constexpr Words kWords[] = {
      {peaks::kFitNotConverged, "not detected: the fit did not converge"},
      {peaks::kInvalidFitValues, "not detected: the fit gave unusable values"},
      {peaks::kNoPeakInWindow, "not detected: no peak in the window"},
      {peaks::kTooFewPoints, "not detected: too few trace points across the peak"},
      {peaks::kBelowMinSn, "not detected: signal-to-noise below the minimum"},
      {peaks::kNoiseNotMeasured, "noise could not be measured"},
      {peaks::kNonFinitePoints, "trace has non-numeric points (left out)"},
      {peaks::kTailing, "tailing peak (asymmetry above the limit)"},
      {peaks::kCoelution, "coelution: a second peak under this one"},
      {peaks::kAtWindowEdge, "peak at the window edge (partly outside)"},
      {peaks::kEmptyTrace, "not detected: empty trace"},
  };
  for (const peaks::FlagName& n : peaks::kFlagNames) {
    if (n.name != key) continue;
    for (const Words& w : kWords)
      if (w.flag == n.flag) return w.text;
  }
  return std::nullopt;
}

}  // namespace

std::string readable_flag(std::string_view key) {
  struct Known {
    std::string_view key, text;
  };
  static constexpr std::array<Known, 10> kKnown{{
      {"gcms.ingest.file_not_found", "file not found"},
      {"gcms.ingest.unsupported_encoding", "file not readable as mzML (encoding)"},
      {"gcms.ingest.malformed_number", "malformed number in the file"},
      {"gcms.sim.empty_trace", "trace: no ion in the mass window"},
      {"gcms.sim.weak_trace", "trace: weak signal"},
      {"gcms.fit.no_local_peak", "fit: no peak in the window"},
      {"gcms.fit.unstable_fit", "fit: unstable"},
      {"gcms.fit.solver_converged", "fit: solver converged"},
      {"gcms.fit.initial_height_estimate", "fit: initial height estimate"},
      {"gcms.fit.initial_width_estimate", "fit: initial width estimate"},
  }};
  for (const Known& k : kKnown) {
    if (k.key == key) return std::string(k.text);
  }
  if (const auto words = peak_flag_words(key)) return std::string(*words);
  // Unknown keys: the step's part and the flag name in words.
  std::string_view rest = key.starts_with("gcms.") ? key.substr(5) : key;
  std::string out;
  const auto dot = rest.find('.');
  if (dot != std::string_view::npos) {
    out = std::string(rest.substr(0, dot)) + ": ";
    rest = rest.substr(dot + 1);
  }
  for (const char c : rest) out += (c == '_' || c == '.') ? ' ' : c;
  return out;
}

double context_margin(const FitFacts& fit, double window_lo, double window_hi) {
  const double half = std::isfinite(window_hi - window_lo) && window_hi > window_lo
                          ? (window_hi - window_lo) / 2.0
                          : 0.0;
  const bool fitted = fit.fit_status == kFitSuccess && fit.width &&
                      std::isfinite(*fit.width) && *fit.width > 0.0;
  const double five_widths = fitted ? 5.0 * *fit.width : half;
  return std::clamp(five_widths, half, 10.0 * half);
}

std::vector<std::optional<double>> overlay_ratios(const ResultRow& row,
                                                  const Target& target) {
  std::vector<std::optional<double>> out;
  out.reserve(target.qualifiers.size());
  // "MZ:PERCENT" per qualifier in the target's order, joined with ';'; an
  // empty percent means no standard gave one.
  std::string_view rest = row.reference_ratios;
  for (const tables::Qualifier& q : target.qualifiers) {
    std::optional<double> ratio;
    if (!rest.empty()) {
      const std::size_t end = std::min(rest.find(';'), rest.size());
      const std::string_view item = rest.substr(0, end);
      rest.remove_prefix(end < rest.size() ? end + 1 : end);
      const std::size_t colon = item.find(':');
      if (colon != std::string_view::npos)
        ratio = base::parse_double(item.substr(colon + 1));
    }
    if (!ratio || !std::isfinite(*ratio) || *ratio <= 0.0) ratio = q.expected_percent;
    if (!std::isfinite(*ratio) || *ratio <= 0.0) ratio.reset();
    out.push_back(ratio);
  }
  return out;
}

std::vector<std::pair<int, int>> spectrum_sticks(const std::vector<double>& by_mass) {
  std::vector<std::pair<double, int>> peaks;  // (intensity, mass)
  for (std::size_t m = 0; m < by_mass.size(); ++m) {
    if (std::isfinite(by_mass[m]) && by_mass[m] > 0.0)
      peaks.emplace_back(by_mass[m], static_cast<int>(m));
  }
  if (peaks.size() > kSpectrumSticks) {
    std::nth_element(peaks.begin(), peaks.begin() + kSpectrumSticks - 1, peaks.end(),
                     std::greater<>());
    peaks.resize(kSpectrumSticks);
  }
  double top = 0.0;
  for (const auto& pk : peaks) top = std::max(top, pk.first);
  std::vector<std::pair<int, int>> out;
  out.reserve(peaks.size());
  for (const auto& [level, mass] : peaks) {
    const long scaled = std::lround(level / top * 999.0);
    if (scaled > 0)
      out.emplace_back(mass, static_cast<int>(scaled));  // 0 would draw nothing
  }
  std::sort(out.begin(), out.end());
  return out;
}

namespace {

// The trace points within [lo, hi].
void slice_trace(const chain::TraceFacts& t, double lo, double hi,
                 std::vector<double>& xs, std::vector<double>& ys) {
  for (std::size_t i = 0; i < t.retention_time.size() && i < t.intensity.size(); ++i) {
    if (t.retention_time[i] >= lo && t.retention_time[i] <= hi) {
      xs.push_back(t.retention_time[i]);
      ys.push_back(t.intensity[i]);
    }
  }
}

}  // namespace

CellPlot make_cell_plot(const Target& target, const TargetRun& run) {
  const PlotInput p = make_plot("", target, run);
  CellPlot c;
  c.x_min = p.x_min;
  c.x_max = p.x_max;
  c.baseline = p.baseline;
  // The context reaches the margin beyond the window, but not past the run's
  // first and last trace points (the window itself is always shown).
  const double margin = context_margin(run.fit, p.x_min, p.x_max);
  c.context_lo = p.x_min - margin;
  c.context_hi = p.x_max + margin;
  const std::vector<double>& times = run.trace_facts.retention_time;
  if (!times.empty() && std::isfinite(times.front()) && std::isfinite(times.back())) {
    c.context_lo = std::min(p.x_min, std::max(c.context_lo, times.front()));
    c.context_hi = std::max(p.x_max, std::min(c.context_hi, times.back()));
  }
  slice_trace(run.trace_facts, c.context_lo, c.context_hi, c.point_x, c.point_y);
  if (c.point_x.empty()) {  // no trace kept: what the figure shows (the excerpt)
    c.point_x = p.point_x;
    c.point_y = p.point_y;
  }
  for (std::size_t q = 0; q < target.qualifiers.size() && q < run.qualifier_traces.size();
       ++q) {
    CellPlot::IonTrace ion;
    ion.mz = target.qualifiers[q].mz;
    slice_trace(run.qualifier_traces[q].trace, c.context_lo, c.context_hi, ion.x, ion.y);
    ion.baseline = run.qualifier_traces[q].baseline;
    c.qualifiers.push_back(std::move(ion));
  }
  if (run.spectrum) {
    c.few_ions = run.apex_scan_ions < kFullScanMinIons;
    if (!c.few_ions) c.spectrum = run.spectrum->by_mass;
  }
  const FitFacts& f = run.fit;
  const bool drawn_from_fit = f.fit_status == kFitSuccess && f.height && f.retention_time &&
                              f.width && f.baseline && *f.width > 0.0;
  if (!drawn_from_fit) {
    c.curve_x = p.curve_x;
    c.curve_y = p.curve_y;
  }
  return c;
}

std::string render_html_report(const ReportModel& m) {
  std::string out;
  out.reserve(64 * 1024 + m.rows.size() * 700);
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'; script-src 'unsafe-inline'; img-src data:\">\n"
      "<link rel=\"icon\" href=\"data:,\">\n<title>";
  append_html_text(out, m.facts.title);
  out += "</title>\n<style>";
  out += kReportCss;
  out += "</style></head><body>\n<header><h1>";
  append_html_text(out, m.facts.title);
  out += "</h1></header>\n<main>\n";
  append_summary(out, m);
  out +=
      "<section id=\"matrix-section\"><h2>Results: files &times; targets</h2>\n"
      "<p class=\"legend\"><span class=\"cell ok\">peak</span> "
      "<span class=\"cell nopeak\">no peak or not detected</span> "
      "<span class=\"cell unstable\">unstable fit</span> "
      "<span class=\"cell failed\">file or step failed</span> ";
  // The page shows concentrations exactly when there is one per cell; the
  // legend must say which, or a concentration reads as an area.
  const bool quantitated = !m.rows.empty() && m.concentrations.size() == m.rows.size();
  out += quantitated ? "Cells show the concentration (internal standards: the fitted area); "
                       "click one for its trace and fit.</p>\n"
                     : "Cells show the fitted area; click one for its trace and fit.</p>\n";
  out +=
      "<div id=\"matrix-wrap\"></div>\n"
      "<div id=\"cell-view\" hidden></div></section>\n";
  append_targets(out, m);
  append_unprocessed(out, m);
  append_sections(out, m.sections, "h2");
  append_audit(out, m);
  out += "</main>\n";
  append_data_block(out, m);
  out += "<script>";
  out += kReportScript;
  out += "</script>\n</body></html>\n";
  return out;
}

}  // namespace vx::host::report
