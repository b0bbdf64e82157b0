// GcMsSimTraceExtractionStep through its real entry: argument checks, the
// output chain, both documents byte for byte, and the matching, unit, member
// and walk rules on small spectra documents.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "common/json_scanner.hpp"
#include "host_session.hpp"
#include "spectra_document.hpp"
#include "test_support.hpp"

// GCC 12 at -O2 takes the strings inside the case tables' Settings for
// maybe uninitialised (a false positive of that release on arrays of
// aggregates holding strings); the tables are plain constant data.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vx::trace {
namespace {

using docs::spectra_document;
using docs::Spectrum;
using host::plugin::HostCall;
using host::plugin::HostSession;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

StepEntry trace_entry() { return vx::testing::step_entry("GcMsSimTraceExtractionStep"); }

struct Settings {
  std::string mode = "nominal_tolerance_da";
  double tolerance = 0.5;
  double target = 73.0;
};

struct Outcome {
  StepStatus status = -1;
  std::string trace;        // output 1
  std::string diagnostics;  // output 0
};

Outcome run(std::string_view doc, const Settings& s = {}) {
  HostSession host;
  const StepValue params[] = {host.text(s.mode), host.float64(s.tolerance),
                              host.float64(s.target)};
  const StepValue inputs[] = {host.text(doc)};
  Outcome o;
  o.status = host.run(trace_entry(), params, inputs, 2);
  o.trace = host.output_text(1).value_or("");
  o.diagnostics = host.output_text(0).value_or("");
  return o;
}

std::string member(std::string_view doc, std::string_view key) {
  return std::string(common::find_member_text(doc, key).value_or("<absent>"));
}

std::string g17(double x) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", x);
  return buf;
}

// The two points of the example: 1.5 and 1.6 minutes, 1200 and 800.
const std::vector<Spectrum> kExample = {
    {1.5, "minute", {50, 73.0}, {9000, 1200}},
    {1.55, "minute", {100}, {5000}},
    {1.6, "minute", {72.9, 73.3}, {800, 700}},
};

TEST(TraceStep, ExampleDocumentsByteForByte) {
  HostSession host;
  const StepValue params[] = {host.text("nominal_tolerance_da"), host.float64(0.5),
                              host.float64(73)};
  const StepValue inputs[] = {host.text(spectra_document(kExample))};
  EXPECT_EQ(host.run(trace_entry(), params, inputs, 2), VX_STATUS_OK);
  ASSERT_EQ(host.calls().size(), 3u);
  EXPECT_EQ(host.calls()[0].kind, HostCall::Kind::kGetInputText);
  EXPECT_EQ(host.calls()[1].slot, 1u);  // the trace goes first
  EXPECT_EQ(host.calls()[2].slot, 0u);
  EXPECT_TRUE(vx::testing::same_bytes(
      host.calls()[1].text,
      "{\"retention_time\":[1.5,1.6000000000000001],\"retention_time_unit\":\"minute\","
      "\"intensity\":[1200,800],\"target_mz\":73,\"mass_tolerance_da\":0.5,"
      "\"matched_ion_count\":2,\"max_intensity\":1200}"));
  EXPECT_TRUE(vx::testing::same_bytes(
      host.calls()[2].text,
      "{\"gcms.sim.empty_trace\":false,\"gcms.sim.weak_trace\":false,"
      "\"gcms.sim.mass_window\":\"72.5-73.5\"}"));
}

TEST(TraceStep, RefusalsMakeNoOutputCall) {
  struct Case {
    const char* name;
    std::function<StepStatus(HostSession&)> call;
    StepStatus want;
  };
  const auto entry = trace_entry();
  const auto good = [](HostSession& h) {
    return std::vector<StepValue>{h.text(""), h.text("0.5"), h.text("73")};
  };
  const Case cases[] = {
      {"two params",
       [&](HostSession& h) {
         const auto p = good(h);
         const StepValue in = h.text("{}");
         return h.run(entry, {p.data(), 2}, {&in, 1}, 2);
       },
       2},
      {"no input", [&](HostSession& h) { return h.run(entry, good(h), {}, 2); }, 2},
      {"one output, no host",
       [&](HostSession& h) {
         const StepValue in = h.text("{}");
         return h.run_without_host(entry, good(h), {&in, 1}, 1);
       },
       2},
      {"no host",
       [&](HostSession& h) {
         const StepValue in = h.text("{}");
         return h.run_without_host(entry, good(h), {&in, 1}, 2);
       },
       1},
      {"no api",
       [&](HostSession& h) {
         const StepValue in = h.text("{}");
         return h.run_without_host(entry, good(h), {&in, 1}, 2, true);
       },
       1},
      {"target unreadable",
       [&](HostSession& h) {
         const StepValue p[] = {h.text(""), h.text("0.5"), h.text("abc")};
         const StepValue in = h.text("{}");
         return h.run(entry, p, {&in, 1}, 2);
       },
       2},
      {"tolerance unreadable",
       [&](HostSession& h) {
         const StepValue p[] = {h.text(""), h.text(""), h.float64(73)};
         const StepValue in = h.text("{}");
         return h.run(entry, p, {&in, 1}, 2);
       },
       2},
      {"null parameter array",
       [&](HostSession& h) {
         const StepValue in = h.text("{}");
         StepValue out[2] = {};
         return entry(h.context(), nullptr, 3, &in, 1, out, 2);
       },
       2},
      {"input refused",
       [&](HostSession& h) {
         h.fail_inputs(3);
         const StepValue in = h.text("{}");
         return h.run(entry, good(h), {&in, 1}, 2);
       },
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostSession host;
    EXPECT_EQ(c.call(host), c.want);
    EXPECT_EQ(host.output_calls(), 0u);
  }
}

TEST(TraceStep, HostRefusals) {
  const std::string doc = spectra_document(kExample);
  for (const auto& [slot, code, want, calls] :
       {std::tuple{1u, 5, 1, 1u}, std::tuple{0u, 7, 7, 2u}}) {
    HostSession host;
    host.refuse_output(slot, code);
    const StepValue params[] = {host.text(""), host.float64(0.5), host.float64(73)};
    const StepValue in = host.text(doc);
    EXPECT_EQ(host.run(trace_entry(), params, {&in, 1}, 2), want);
    EXPECT_EQ(host.output_calls(), calls);
  }
}

TEST(TraceStep, EmptyTraceWhenNothingIsFound) {
  const std::string entry = "{\"mz_array\":[73],\"intensity_array\":[5]}";
  const std::string cases[] = {
      "",
      "{\"spectra\"",                    // shorter than 10 bytes
      "{\"spectra\" :[" + entry + "]}",  // blank before the colon
      "{\"spectra\":5}",                 // no array after the key
      "{\"Spectra\":[" + entry + "]}",   // the key is case-sensitive
      spectra_document({{1, "minute", {100, 73.6}, {5, 5}}}),  // no ion in the window
      "{\"spectra\":" + std::string(1, '\0') + "[" + entry +
          "]}",  // text ends before '['

  };
  for (const std::string& doc : cases) {
    SCOPED_TRACE(doc);
    const Outcome o = run(doc);
    EXPECT_EQ(o.status, VX_STATUS_OK);
    EXPECT_TRUE(vx::testing::same_bytes(
        o.trace,
        "{\"retention_time\":[],\"retention_time_unit\":\"minute\",\"intensity\":[],"
        "\"target_mz\":73,\"mass_tolerance_da\":0.5,\"matched_ion_count\":0,"
        "\"max_intensity\":0}"));
    EXPECT_TRUE(vx::testing::same_bytes(
        o.diagnostics,
        "{\"gcms.sim.empty_trace\":true,\"gcms.sim.weak_trace\":false,"
        "\"gcms.sim.mass_window\":\"72.5-73.5\"}"));
  }
}

struct PointsCase {
  const char* name;
  std::string doc;
  Settings settings;
  std::string times;
  std::string intensities;
};

void expect_points(const PointsCase& c) {
  SCOPED_TRACE(c.name);
  const Outcome o = run(c.doc, c.settings);
  EXPECT_EQ(o.status, VX_STATUS_OK);
  EXPECT_EQ(member(o.trace, "retention_time"), c.times);
  EXPECT_EQ(member(o.trace, "intensity"), c.intensities);
}

TEST(TraceStep, MatchingRules) {
  const Settings exact{"exact_match", 0.5, 73};
  const PointsCase cases[] = {
      {"window edges are inclusive",
       spectra_document({{1, "minute", {72.5}, {5}},
                         {2, "minute", {73.5}, {6}},
                         {3, "minute", {73.50001, 72.49999}, {7, 8}}}),
       {},
       "[1,2]",
       "[5,6]"},
      {"exact match is closer than 1e-9",
       spectra_document({{1, "minute", {73.000001}, {5}},
                         {2, "minute", {73}, {6}},
                         {3, "minute", {73.0000000005}, {7}}}),
       exact, "[2,3]", "[6,7]"},
      {"largest matching intensity, never a sum",
       spectra_document({{1, "minute", {72.8, 73.1, 80}, {10, 30, 99}}}),
       {},
       "[1]",
       "[30]"},
      {"zero, negative and NaN intensities never win",
       spectra_document({{1, "minute", {73}, {0}},
                         {2, "minute", {73}, {-5}},
                         {3, "minute", {73, 73}, {kNaN, 4}}}),
       {},
       "[3]",
       "[4]"},
      {"a NaN m/z never matches",
       spectra_document({{1, "minute", {kNaN}, {5}}}),
       {},
       "[]",
       "[]"},
      {"the shorter list bounds the search",
       spectra_document(
           {{1, "minute", {1, 2, 3, 4, 73}, {1, 1, 1}}, {2, "minute", {73}, {5, 6, 7}}}),
       {},
       "[2]",
       "[5]"},
      {"every MS level takes part",
       spectra_document({{1, "minute", {73}, {5}, 2}, {2, "minute", {73}, {6}, 3}}),
       {},
       "[1,2]",
       "[5,6]"},
      {"a negative tolerance matches nothing",
       spectra_document({{1, "minute", {73}, {5}}}),
       {"", -0.5, 73},
       "[]",
       "[]"},
      {"an infinite tolerance matches every number",
       spectra_document({{1, "minute", {1e300}, {5}}}),
       {"", std::numeric_limits<double>::infinity(), 73},
       "[1]",
       "[5]"},
  };
  for (const PointsCase& c : cases) expect_points(c);
}

TEST(TraceStep, ScanStartTimeUnits) {
  struct Case {
    std::string unit;
    double time;
    std::string want;
  };
  const Case cases[] = {
      {"second", 90, "[1.5]"}, {"minute", 1.5, "[1.5]"}, {"millisecond", 90000, "[1.5]"},
      {"hour", 2, "[120]"},    {"Second", 90, "[90]"},   {"s", 90, "[90]"},
      {"", 90, "[90]"},  // an empty unit keeps the default, minute
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    const Outcome o = run(spectra_document({{c.time, c.unit, {73}, {5}}}));
    EXPECT_EQ(member(o.trace, "retention_time"), c.want);
    EXPECT_EQ(member(o.trace, "retention_time_unit"), "\"minute\"");
  }
}

TEST(TraceStep, EntryMembersAreReadLikeTheScannerReadsThem) {
  const auto doc = [](const std::string& entry) {
    return "{\"spectra\":[" + entry + "]}";
  };
  const PointsCase cases[] = {
      {"no scan_start_time gives time 0",
       doc("{\"mz_array\":[73],\"intensity_array\":[5]}"),
       {},
       "[0]",
       "[5]"},
      {"time and unit as loose texts",
       doc("{\"scan_start_time\":\" 90 \",\"scan_start_time_unit\":second,"
           "\"mz_array\":[73],\"intensity_array\":[5]}"),
       {},
       "[1.5]",
       "[5]"},
      {"any order, blanks between tokens",
       doc("{ \"intensity_array\" : [ 5 ] ,\n\"mz_array\":[73] , \"scan_start_time\" : 2 "
           "}"),
       {},
       "[2]",
       "[5]"},
      {"nested members are not the entry's",
       doc("{\"meta\":{\"scan_start_time\":9},\"mz_array\":[73],\"intensity_array\":[5]"
           "}"),
       {},
       "[0]",
       "[5]"},
      {"the first of two members wins",
       doc("{\"mz_array\":[73],\"mz_array\":[1],\"intensity_array\":[5]}"),
       {},
       "[0]",
       "[5]"},
      {"number lists are flattened and see into strings",
       doc("{\"mz_array\":[[1],[\"73\"]],\"intensity_array\":[[4,5]]}"),
       {},
       "[0]",
       "[5]"},
      {"an unusable time keeps 0 and odd number forms still count",
       doc("{\"scan_start_time\":null,\"mz_array\":[0x49, 1e99999,nan],"
           "\"intensity_array\":[+5,6,7]}"),
       {},
       "[0]",
       "[5]"},
  };
  for (const PointsCase& c : cases) expect_points(c);
}

TEST(TraceStep, WalkRules) {
  const std::string a =
      "{\"scan_start_time\":1,\"mz_array\":[73],\"intensity_array\":[5]}";
  const std::string b =
      "{\"scan_start_time\":2,\"mz_array\":[73],\"intensity_array\":[6]}";
  const PointsCase cases[] = {
      {"braces, brackets and escaped quotes inside strings",
       "{\"spectra\":[{\"spectrum_type\":\"}]\\\"{[\\\\\",\"mz_array\":[73],"
       "\"intensity_array\":[5]}," +
           b + "]}",
       {},
       "[0,2]",
       "[5,6]"},
      {"entries in the order they close",
       "{\"spectra\":[" + b + "," + a + "]}",
       {},
       "[2,1]",
       "[6,5]"},
      {"a closing bracket at depth 0 ends the walk",
       "{\"spectra\":[" + a + "],\"other\":[" + b + "]}",
       {},
       "[1]",
       "[5]"},
      {"brackets between entries are passed over",
       "{\"spectra\":[[" + a + "],[" + b + "]]}",
       {},
       "[1]",
       "[5]"},
      {"a backslash outside strings hides the next byte",
       "{\"spectra\":[\\" + a + "," + b + "]}",
       {},
       "[]",
       "[]"},
      {"a stray closing brace leaves the depth below zero",
       "{\"spectra\":[}," + a + "]}",
       {},
       "[]",
       "[]"},
      {"the key is found by plain text search",
       "{\"x\":{\"spectra\":[" + a + "]}}",
       {},
       "[1]",
       "[5]"},
      {"the text ends at its first zero byte",
       "{\"spectra\":[" + a + std::string(1, '\0') + "," + b + "]}",
       {},
       "[1]",
       "[5]"},
      {"a truncated entry adds nothing",
       "{\"spectra\":[" + a + "," + b.substr(0, 40),
       {},
       "[1]",
       "[5]"},
  };
  for (const PointsCase& c : cases) expect_points(c);

  // A zero byte right after a backslash in a string still ends the text.
  std::string doc = spectra_document({{1, "minute", {73}, {5}, 1, "x@"}});
  doc.replace(doc.find('@'), 1, std::string("\\\0", 2));
  expect_points({"zero byte after a backslash", doc, {}, "[]", "[]"});
}

TEST(TraceStep, ModeText) {
  const std::string doc = spectra_document({{1, "minute", {73.2}, {5}}});
  struct Case {
    StepValue (*mode)(HostSession&);
    bool exact;
  };
  const Case cases[] = {
      {[](HostSession& h) { return h.text("exact_match"); }, true},
      {[](HostSession& h) { return h.text("exact_match", 2); },
       true},  // kind is not looked at
      {[](HostSession& h) { return h.text("Exact_match"); }, false},
      {[](HostSession& h) { return h.text("exact_match "); }, false},
      {[](HostSession& h) { return h.text("nominal_tolerance_da"); }, false},
      {[](HostSession&) {
         return StepValue{VX_KIND_TEXT, nullptr, 0};
       },
       false},
  };
  for (const Case& c : cases) {
    HostSession host;
    const StepValue params[] = {c.mode(host), host.float64(0.5), host.float64(73)};
    const StepValue in = host.text(doc);
    ASSERT_EQ(host.run(trace_entry(), params, {&in, 1}, 2), VX_STATUS_OK);
    const std::string trace = host.output_text(1).value_or("");
    EXPECT_EQ(member(trace, "matched_ion_count"), c.exact ? "0" : "1");
    // The tolerance and the window are shown in both modes.
    EXPECT_EQ(member(trace, "mass_tolerance_da"), "0.5");
    EXPECT_EQ(member(host.output_text(0).value_or(""), "gcms.sim.mass_window"),
              "\"72.5-73.5\"");
  }
}

TEST(TraceStep, WeakFlagAndWindowText) {
  // Weak means at least one point and a maximum strictly below 1.
  for (const auto& [intensity, weak] :
       {std::pair{0.8, "true"}, std::pair{1.0, "false"}}) {
    SCOPED_TRACE(intensity);
    const Outcome o = run(spectra_document({{1, "minute", {73}, {intensity}}}));
    EXPECT_EQ(member(o.diagnostics, "gcms.sim.empty_trace"), "false");
    EXPECT_EQ(member(o.diagnostics, "gcms.sim.weak_trace"), weak);
  }
  // A window reaching below zero starts with a minus sign before the hyphen.
  for (const double target : {0.2, 73.1, -4.0}) {
    EXPECT_EQ(member(run("", {"", 0.5, target}).diagnostics, "gcms.sim.mass_window"),
              std::string("\"").append(g17(target - 0.5)).append("-").append(g17(0.5 + target))
                  .append("\""));
  }
  EXPECT_EQ(member(run("", {"", 0.5, 0.2}).diagnostics, "gcms.sim.mass_window"),
            "\"-0.29999999999999999-0.69999999999999996\"");
}

TEST(TraceStep, ParametersAreNumbersOfAnyReadableKind) {
  HostSession host;
  const StepValue params[] = {host.text(""), host.text(" \"0.5\" "), host.int64(73)};
  const StepValue in = host.text(spectra_document(kExample));
  ASSERT_EQ(host.run(trace_entry(), params, {&in, 1}, 2), VX_STATUS_OK);
  EXPECT_EQ(member(host.output_text(1).value_or(""), "matched_ion_count"), "2");
}

}  // namespace
}  // namespace vx::trace
