#include "html_report.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "file_io.hpp"
#include "json_lite.hpp"
#include "number_text.hpp"
#include "quant_report.hpp"
#include "report_builder.hpp"
#include "svg_writer.hpp"
#include "utf8.hpp"

namespace vx::host::report {

using base::fixed_text;
using base::general_text;
using base::utf8_length;
using base::write_text_file;
using tables::ResultRow;
using tables::Target;
using tables::make_target;
using chain::BatchFile;
using chain::BatchSettings;
using chain::TargetRun;
using quant::Calibration;
using quant::QuantOutcome;
using quant::QuantRow;
using quant::QuantSettings;
using quant::kCalInternalStandard;
using quant::kCalOk;
using quant::kCalTooFewLevels;

namespace {

// Every byte of text is part of a valid UTF-8 sequence.
bool valid_utf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t n = utf8_length(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::size_t count(std::string_view s, std::string_view what) {
  std::size_t n = 0;
  for (std::size_t p = s.find(what); p != std::string_view::npos; p = s.find(what, p + 1))
    ++n;
  return n;
}

TEST(HtmlReport, DataTextIsEscapedAndMadeValidUtf8) {
  struct Case {
    std::string_view in, want;
  };
  const Case cases[] = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {R"(R&D "q" 'x')", "R&amp;D &quot;q&quot; &#39;x&#39;"},
      {"caf\xC3\xA9 \xE2\x80\xA8", "caf\xC3\xA9 \xE2\x80\xA8"},  // kept as they are
      {"bad\xFF\xFE", "bad\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"cut \xC3", "cut \xEF\xBF\xBD"},
      {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::string_view("nul\0bell\a", 9), "nul bell "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    std::string out;
    append_html_text(out, c.in);
    EXPECT_EQ(out, c.want);
  }
}

ReportModel hostile_model() {
  ReportModel m;
  m.facts.command_line = "vxrun batch '<b>x</b>'";
  m.files = {"runs/a&b <i>.mzML", "runs/bad\xFF name.mzML", "runs/missing.mzML"};
  m.targets = {make_target("<script>alert(1)</script>", 73, 1.178, {}),
               make_target("\"q\" & \xC3\xA9</script><!--", 147, 1.19, {})};
  for (std::size_t f = 0; f < 3; ++f) {
    for (const Target& t : m.targets) {
      ResultRow r;
      r.file = m.files[f];
      r.target = t.name;
      if (f == 2) {
        r.status = "file_not_found";
        r.message = "nothing </script> at\xFF this path";
        r.flags = {"gcms.ingest.file_not_found"};
      } else {
        r.status = "ok";
        r.fit_status = "success";
        r.retention_time = 1.178;
        r.area = 2253.0303361685346;
        r.flags = {"gcms.fit.solver_converged"};
      }
      m.rows.push_back(r);
    }
  }
  m.plots.resize(m.rows.size());
  m.plots[0] = CellPlot{1.0, 1.3, {1.1, 1.2}, {5, 6}, {}, {}, 1.0, "plots/a.svg"};
  return m;
}

// Names from data never become markup: the page holds exactly the two
// script elements it writes itself, and the data block cannot be closed early.
TEST(HtmlReport, HostileNamesStayText) {
  const std::string page = render_html_report(hostile_model());
  EXPECT_TRUE(valid_utf8(page));
  EXPECT_EQ(count(page, "<script"), 2u);
  EXPECT_EQ(count(page, "</script>"), 2u);
  EXPECT_EQ(page.find("<!--"), std::string::npos);
  EXPECT_EQ(page.find("<b>x"), std::string::npos);
  const auto open = page.find("id=\"vx-data\">");
  ASSERT_NE(open, std::string::npos);
  const std::string data =
      page.substr(open + 13, page.find("</script>", open) - open - 13);
  EXPECT_EQ(data.find('<'), std::string::npos);
  EXPECT_NE(data.find(R"(\u003cscript\u003ealert(1))"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  // Nothing is fetched: no address outside the page and its own folder.
  EXPECT_EQ(page.find("http://"), page.find("http://www.w3.org/2000/svg"));
  EXPECT_EQ(page.find("https://"), std::string::npos);
}

TEST(HtmlReport, SummaryCountsAndUnprocessedFiles) {
  ReportModel m = hostile_model();
  m.facts.vxrun_version = "9.9.9";
  m.facts.seconds = 1.23456;
  m.target_sections = {{{"Calibration", "<p id=\"cal0\">curve</p>"}}, {}};
  const std::string page = render_html_report(m);
  for (const char* want : {"<th>files</th><td>3</td>", "<th>targets</th><td>2</td>",
                           "file_not_found 2, ok 4", "not run 2, success 4", "9.9.9",
                           "1.235 s", "<td>runs/missing.mzML</td><td>file_not_found</td>",
                           "<h4>Calibration</h4>\n<p id=\"cal0\">curve</p>",
                           "\"fit: solver converged\"", "\"file not found\""}) {
    EXPECT_NE(page.find(want), std::string::npos) << want;
  }
  // One entry per unprocessed file, not one per row.
  EXPECT_EQ(count(page, "<td>runs/missing.mzML</td>"), 1u);
  // Values keep ten digits in the data block; the tables keep every digit.
  EXPECT_NE(page.find(",2253.030336,"), std::string::npos);
}

TEST(HtmlReport, FlagsReadAsWords) {
  struct Case {
    std::string_view key, want;
  };
  const Case cases[] = {
      {"gcms.fit.unstable_fit", "fit: unstable"},
      {"gcms.sim.empty_trace", "trace: no ion in the mass window"},
      {"gcms.ingest.file_not_found", "file not found"},
      {"gcms.fit.some_new_flag", "fit: some new flag"},
      {"plain_key", "plain key"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(readable_flag(c.key), c.want);
  }
}

// A converged fit is redrawn from its values by the page, so its curve does
// not travel; any other fit keeps the library's curve excerpt.
TEST(HtmlReport, CellPlotCarriesTheCurveOnlyWhenItCannotBeRedrawn) {
  const Target target = make_target("P01", 73, 1.178, {});
  TargetRun run;
  run.trace_facts.retention_time = {1.0, 1.17, 1.18, 2.0};
  run.trace_facts.intensity = {1, 5, 6, 1};
  run.fit.excerpt_time = {1.1, 1.2};
  run.fit.excerpt_curve = {3, 4};
  run.fit.excerpt_trace = {3, 4};
  run.fit.fit_status = "unstable_fit";
  const CellPlot unstable = make_cell_plot(target, run);
  EXPECT_EQ(unstable.point_x, (std::vector<double>{1.0, 1.17, 1.18}));  // 2.0 is outside
  EXPECT_EQ(unstable.curve_y, (std::vector<double>{3, 4}));

  run.fit.fit_status = "success";
  run.fit.height = 5;
  run.fit.retention_time = 1.178;
  run.fit.width = 0.03;
  run.fit.baseline = 1;
  const CellPlot fitted = make_cell_plot(target, run);
  EXPECT_TRUE(fitted.curve_x.empty());
  EXPECT_EQ(fitted.baseline, 1.0);
}

// The peak view reaches five fitted widths beyond the window, at least the
// half-window and at most ten, and never past the run's own trace.
TEST(HtmlReport, PeakViewContextIsFiveWidthsBeyondTheWindowClippedToTheRun) {
  struct Case {
    std::string_view name;
    std::string fit_status;
    std::optional<double> width;
    double trace_from, trace_to;  // the run's first and last trace points
    double want_lo, want_hi;
  };
  const Case cases[] = {
      {"converged: 5 sigma", "success", 0.03, 0.5, 3.0, 1.25, 1.75},
      {"needle: the half-window", "success", 0.001, 0.5, 3.0, 1.3, 1.7},
      {"not converged: the half-window", "unstable_fit", 0.03, 0.5, 3.0, 1.3, 1.7},
      {"broad: ten half-windows", "success", 0.5, 0.0, 3.0, 0.4, 2.6},
      {"clipped to the run", "success", 0.03, 1.3, 1.65, 1.3, 1.65},
      {"window beyond the run", "success", 0.03, 1.45, 1.55, 1.4, 1.6},
  };
  const Target target = make_target("N", 73, 1.5, {});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TargetRun run;
    for (double x = c.trace_from; x <= c.trace_to + 1e-9; x += 0.01) {
      run.trace_facts.retention_time.push_back(x);
      run.trace_facts.intensity.push_back(100.0);
    }
    run.fit.fit_status = c.fit_status;
    run.fit.width = c.width;
    run.fit.window_min = 1.4;
    run.fit.window_max = 1.6;
    const CellPlot p = make_cell_plot(target, run);
    EXPECT_NEAR(p.context_lo, c.want_lo, 1e-9);
    EXPECT_NEAR(p.context_hi, c.want_hi, 1e-9);
    ASSERT_FALSE(p.point_x.empty());
    EXPECT_GE(p.point_x.front(), c.want_lo - 1e-9);
    EXPECT_LE(p.point_x.back(), c.want_hi + 1e-9);
    EXPECT_LT(p.point_x.front(),
              std::max(c.want_lo, c.trace_from) + 0.0101);  // all of it
    EXPECT_GT(p.point_x.back(), std::min(c.want_hi, c.trace_to) - 0.0101);
  }
}

// A qualifier is scaled by the standards' ratio in the row, else the
// table's; an absent or non-positive ratio leaves it unscaled.
TEST(HtmlReport, OverlayRatiosPreferTheStandardsOverTheTable) {
  struct Case {
    std::string_view reference_ratios;  // the row's column
    std::vector<std::optional<double>> want;
  };
  const Case cases[] = {
      {"147:35.5;207:12", {35.5, 12.0}},
      {"", {40.0, std::nullopt}},                // table: 40 and 0 (none)
      {"147:;207:7", {40.0, 7.0}},               // no standard for the first ion
      {"147:abc;207:-3", {40.0, std::nullopt}},  // unreadable, negative
      {"147:35", {35.0, std::nullopt}},          // shorter than the target's list
  };
  Target target = make_target("A", 73, 1.5, {});
  target.qualifiers = {{147, 40.0}, {207, 0.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reference_ratios);
    ResultRow row;
    row.reference_ratios = std::string(c.reference_ratios);
    EXPECT_EQ(overlay_ratios(row, target), c.want);
  }
}

// End to end through the data block: a qualifier at its reference ratio
// peaks where the quantifier does once scaled, on the quantifier's baseline;
// a full-scan spectrum travels as sticks (the weakest rounded away), a SIM
// apex as the few-ions mark, and the library entry once per target.
TEST(HtmlReport, DataBlockCarriesScaledQualifiersAndSpectra) {
  Target target = make_target("A", 73, 1.5, {});
  target.qualifiers = {{147, 25.0}};
  TargetRun run;
  run.fit.fit_status = "success";
  run.fit.retention_time = 1.5;
  run.fit.height = 1000.0;
  run.fit.width = 0.03;
  run.fit.baseline = 100.0;
  run.fit.window_min = 1.4;
  run.fit.window_max = 1.6;
  chain::QualifierTrace ion;
  ion.baseline = 20.0;
  for (int k = 0; k <= 200; ++k) {
    const double x = 1.0 + 0.005 * k, z = (x - 1.5) / 0.03;
    run.trace_facts.retention_time.push_back(x);
    run.trace_facts.intensity.push_back(100.0 + 1000.0 * std::exp(-0.5 * z * z));
    ion.trace.retention_time.push_back(x);
    ion.trace.intensity.push_back(20.0 + 250.0 * std::exp(-0.5 * z * z));
  }
  run.qualifier_traces = {ion};
  run.spectrum = ident::UnitSpectrum{std::vector<double>(200, 0.0)};
  run.spectrum->by_mass[73] = 1000.0;
  run.spectrum->by_mass[147] = 250.0;
  run.spectrum->by_mass[150] = 0.1;  // rounds to 0 of 999
  run.apex_scan_ions = kFullScanMinIons;

  ReportModel m;
  m.files = {"full.mzML", "sim.mzML"};
  m.targets = {target};
  m.rows.resize(2);
  m.plots = {make_cell_plot(target, run), std::nullopt};
  run.apex_scan_ions = kFullScanMinIons - 1;
  m.plots[1] = make_cell_plot(target, run);
  m.library_spectra = {ident::UnitSpectrum{std::vector<double>(100, 0.0)}};
  m.library_spectra[0]->by_mass[73] = 50.0;
  const std::string page = render_html_report(m);
  const auto open = page.find("id=\"vx-data\">") + 13;
  const auto parsed = base::parse_json(
      std::string_view(page).substr(open, page.find("</script>", open) - open));
  ASSERT_TRUE(parsed.value) << parsed.error;
  const base::JsonValue& d = *parsed.value;
  const auto field = [&](std::string_view name) {
    const auto& names = d.find("plot_fields")->items;
    for (std::size_t k = 0; k < names.size(); ++k)
      if (names[k].text == name) return k;
    ADD_FAILURE() << name;
    return std::size_t{0};
  };
  const auto& full = d.find("plots")->items[0].items;
  const auto& sim = d.find("plots")->items[1].items;
  // Qualifier [mz, ratio, y_lo, y_hi, points]: 20 + 250 becomes 100 + 1000.
  const auto& q = full[field("qualifiers")].items.at(0).items;
  EXPECT_EQ(q.at(0).number, 147.0);
  EXPECT_EQ(q.at(1).number, 25.0);
  EXPECT_NEAR(q.at(2).number, 100.0, 1e-6);
  EXPECT_NEAR(q.at(3).number, 1100.0, 1e-6);
  EXPECT_NEAR(full[field("y_hi")].number, 1100.0, 1e-6);
  // The context reaches 5 sigma past the window: 1.25 to 1.75 min.
  EXPECT_NEAR(full[field("x_lo")].number, 1.25, 1e-9);
  EXPECT_NEAR(full[field("x_hi")].number, 1.75, 1e-9);
  std::vector<double> sticks;
  for (const auto& v : full[field("spectrum")].items) sticks.push_back(v.number);
  EXPECT_EQ(sticks, (std::vector<double>{73, 999, 147, 250}));
  EXPECT_EQ(sim[field("spectrum")].text, "few_ions");
  const auto& lib = d.find("library")->items.at(0).items;
  EXPECT_EQ(lib.at(0).text, "A");
  EXPECT_EQ(lib.at(1).items.size(), 2u);
}

// Scans at a steady pace drop their times ("~", first and last time, then
// 2 bytes a point); jittered or gapped ones keep (x, y) pairs (4 bytes a
// point), and a point left out for being non-finite never puts the others
// on a grid they are not on.
TEST(HtmlReport, PlotPointsDropTheirTimesOnlyOnAnEvenGrid) {
  struct Case {
    std::string_view name;
    std::vector<double> x, y;
    bool grid;
    std::size_t bytes;
  };
  const double nan = std::nan("");
  const Case cases[] = {
      {"even scans", {1.0, 1.01, 1.02, 1.03, 1.04}, {5, 9, 30, 8, 5}, true, 4 + 2 * 5},
      {"even, a gap left by a NaN",
       {1.0, 1.01, 1.02, 1.03},
       {5, nan, 30, 8},
       false,
       4 * 3},
      {"jittered scans", {1.0, 1.013, 1.02, 1.03, 1.04}, {5, 9, 30, 8, 5}, false, 4 * 5},
      {"two points", {1.0, 1.04}, {5, 6}, false, 4 * 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportModel m;
    m.files = {"a.mzML"};
    m.targets = {make_target("T", 73, 1.02, {})};
    m.rows.resize(1);
    m.plots = {CellPlot{1.0, 1.04, c.x, c.y, {}, {}, std::nullopt, ""}};
    const std::string page = render_html_report(m);
    const auto at = page.find("\"plots\":[[") + 10;
    const auto quote = page.find('"', at);  // the first string: the points
    const std::string text =
        page.substr(quote + 1, page.find('"', quote + 1) - quote - 1);
    EXPECT_EQ(text.starts_with('~'), c.grid) << text;
    EXPECT_EQ(text.size() - (c.grid ? 1 : 0), (c.bytes + 2) / 3 * 4) << text;
  }
}

// A quantitation whose names hold markup: two files (a standard and a
// sample) and three targets (an internal standard, a curve, none possible).
QuantOutcome hostile_quant(const ReportModel& m) {
  QuantOutcome q;
  q.calibrations.resize(3);
  q.calibrations[0].status = kCalInternalStandard;
  Calibration& ok = q.calibrations[1];
  ok.status = kCalOk;
  ok.coef = {0.5, 2.0, 0.0};
  ok.r_squared = 0.999991;
  ok.levels = 2;
  ok.points_used = 2;
  ok.points = {{m.files[0], 1.0, 2.5, "", 1.0, 100.0},
               {"<b>std2 \"x\"", 2.0, 4.5, "", 2.0, 100.0},
               {"std3 & co", 5.0, std::nullopt, "fit failed: no </td> peak", {}, {}}};
  q.calibrations[2].status = kCalTooFewLevels;
  q.calibrations[2].message = "1 level(s) <1 needed>";
  for (std::size_t f = 0; f < 2; ++f) {
    for (std::size_t t = 0; t < 3; ++t) {
      QuantRow r;
      r.file = m.files[f];
      r.sample_type = f == 0 ? "standard" : "sample";
      r.target = m.targets[t].name;
      r.concentration = 12.3456789;
      if (f == 1 && t == 1) r.flags = {"above_range", "blank_above_threshold", "new_flag"};
      q.rows.push_back(r);
    }
  }
  return q;
}

TEST(QuantReport, SectionsShowTheCurvesAndConcentrationsAsText) {
  ReportModel m = hostile_model();
  m.files.resize(2);
  m.targets.push_back(make_target("C", 207, 1.2, {}));
  m.targets[1].istd = m.targets[0].name;
  QuantSettings settings;
  settings.blank_threshold_percent = 12.5;
  add_quant_sections(m, hostile_quant(m), settings);
  ASSERT_EQ(m.target_sections.size(), 3u);
  EXPECT_EQ(m.target_sections[0].size(), 1u);  // an internal standard: its status only
  EXPECT_EQ(m.target_sections[1].size(), 3u);  // curve, standards, concentrations
  ASSERT_EQ(m.sections.size(), 1u);
  const std::string page = render_html_report(m);
  EXPECT_TRUE(valid_utf8(page));
  EXPECT_EQ(count(page, "<script"), 2u);
  EXPECT_EQ(page.find("<b>std2"), std::string::npos);
  EXPECT_EQ(count(page, "<img "), 1u);  // only the target with standards has a plot
  for (const char* want :
       {"\">&lt;b&gt;std2 &quot;x&quot;</td>", "<td>fit failed: no &lt;/td&gt; peak</td>",
        "\">std3 &amp; co</td>", "too few levels", "1 level(s) &lt;1 needed&gt;",
        "response = 0.5 + 2\xC2\xB7x", "<td>0.99999</td>", "<td>100.0 %</td>",
        "area / area of &lt;script&gt;", "alt=\"calibration: &quot;q&quot; &amp;",
        // "<?xml ": the plot is a whole SVG file inside the page
        "src=\"data:image/svg+xml;base64,PD94bWwg",
        "above the calibrated range, blank above the threshold, new flag",
        "Blanks are flagged above 12.5 % of the mean response",
        "<th title=\"runs/a&amp;b &lt;i&gt;.mzML\">a&amp;b &lt;i&gt;.mzML</th><td>standard</td>"
        "<td>12.3457</td>"}) {
    EXPECT_NE(page.find(want), std::string::npos) << want;
  }
  // The internal standard has no column of concentrations; the others do.
  const std::string& matrix = m.sections[0].html;
  EXPECT_EQ(matrix.find("<th>&lt;script&gt;"), std::string::npos);
  EXPECT_EQ(count(matrix, "<th>C</th>"), 1u);

  ReportModel mismatched = hostile_model();  // 2 targets, 3 calibrations
  add_quant_sections(mismatched, hostile_quant(m), settings);
  EXPECT_TRUE(mismatched.target_sections.empty());
  EXPECT_TRUE(mismatched.sections.empty());
}

// The legend names what the cells hold: concentrations only when every
// cell has its place in the list the page reads them from.
TEST(HtmlReport, LegendSaysWhetherCellsAreConcentrationsOrAreas) {
  struct Case {
    std::string_view name;
    int extra;  // concentrations beyond the rows (-1: none given)
    bool quantitated;
  };
  const Case cases[] = {{"no quantitation", -1, false},
                        {"one per cell", 0, true},
                        {"a list that does not fit", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReportModel m = hostile_model();
    if (c.extra >= 0) m.concentrations.assign(m.rows.size() + static_cast<std::size_t>(c.extra), 1.5);
    const std::string page = render_html_report(m);
    EXPECT_EQ(page.find("Cells show the concentration") != std::string::npos, c.quantitated);
    EXPECT_EQ(page.find("Cells show the fitted area;") != std::string::npos, !c.quantitated);
  }
}

TEST(ReportBuilder, CommandLineQuotesWhatAShellWouldSplit) {
  const std::vector<std::string_view> words{"vxrun", "batch", "data/*.mzML", "a b",
                                            "it's",  "",      "--rt-tol=0.1"};
  EXPECT_EQ(command_line_text(words),
            R"(vxrun batch 'data/*.mzML' 'a b' 'it'\''s' '' --rt-tol=0.1)");
}

TEST(ReportBuilder, SvgLinksAreRelativeToTheReport) {
  const std::vector<Target> targets{make_target("P 1", 73, 1.178, {})};
  const std::vector<BatchFile> files{{"/x/run1.mzML", "", ""}, {"/y/run1.mzML", "", ""}};
  ReportCollector c(files.size(), targets);
  BatchSettings settings;
  c.attach(settings);
  ASSERT_TRUE(settings.on_target);
  TargetRun run;
  EXPECT_FALSE(settings.on_target(1, 0, run));
  const ReportModel m = c.finish({}, files, {}, "/out/plots", "/out/html/report.html");
  ASSERT_EQ(m.plots.size(), 2u);
  EXPECT_FALSE(m.plots[0]);
  ASSERT_TRUE(m.plots[1]);
  EXPECT_EQ(m.plots[1]->svg_path, "../plots/run1.mzML-2__P_1.svg");
}

// Rows read back from tables have no plot data: a cell links the figure a
// batch left in the plot folder when there is one, and shows no trace.
TEST(ReportBuilder, MergedRowsLinkOnlyTheFiguresThatExist) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("vx_merged_report_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "plots");
  std::string error;
  ASSERT_TRUE(
      write_text_file((dir / "plots" / "run1.mzML__T.svg").string(), "<svg/>", &error));
  const std::vector<Target> targets{make_target("T", 73, 1.178, {})};
  const std::vector<BatchFile> files{{"/x/run1.mzML", "", ""}, {"/x/run2.mzML", "", ""}};
  struct Case {
    std::string plot_dir;
    std::size_t n_plots;
    std::string json;  // what the data block holds for the first cell's plot
  };
  const std::vector<Case> cases{
      {(dir / "plots").string(), 2, "\"plots\":[\"../plots/run1.mzML__T.svg\",null]"},
      {"", 0, "\"plots\":[]"},
  };
  for (const Case& c : cases) {
    ReportCollector collector(0, targets);
    const ReportModel m = collector.finish({}, files, {}, c.plot_dir,
                                           (dir / "html" / "report.html").string());
    ASSERT_EQ(m.plots.size(), c.n_plots);
    if (c.n_plots > 0) {
      EXPECT_FALSE(m.plots[0]->has_data);
    }
    EXPECT_NE(render_html_report(m).find(c.json), std::string::npos) << c.json;
  }
  std::filesystem::remove_all(dir);
}

TEST(ReportBuilder, TimesAndRoundedValues) {
  EXPECT_EQ(utc_time_text(std::chrono::system_clock::time_point{}),
            "1970-01-01T00:00:00Z");
  EXPECT_EQ(fixed_text(1.1779479285093473, 4), "1.1779");
  EXPECT_EQ(fixed_text(0.99999353879, 5), "0.99999");
  EXPECT_EQ(fixed_text(-1e300, 2), general_text(-1e300, 6));
  EXPECT_EQ(fixed_text(std::numeric_limits<double>::quiet_NaN(), 4), "NaN");
}

}  // namespace
}  // namespace vx::host::report
