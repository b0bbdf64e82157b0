// GcMsTargetedGaussianFitStep through its real entry: the frame and status
// rules, parameters, window selection, estimates, the outcome table and both
// documents.
#include "fit/fit_step.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fit_run.hpp"
#include "host_session.hpp"
#include "test_support.hpp"

namespace {

using vx::host::plugin::HostCall;
using vx::host::plugin::HostSession;
using vx::testing::FitRun;
using vx::testing::run_fit_step;
using vx::testing::same_bytes;
using vx::testing::step_entry;
using vx::testing::trace_document;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

StepEntry fit_entry() { return step_entry("GcMsTargetedGaussianFitStep"); }

std::vector<double> range(double first, double step, int count) {
  std::vector<double> out;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) out.push_back(first + step * i);
  return out;
}

std::string flag(const FitRun& run, std::string_view key) {
  return std::string(vx::common::find_member_text(run.diagnostics, key).value_or(""));
}

// Exactly one flag is true and it names the same outcome as fit_status.
void expect_outcome(const FitRun& run, std::string_view status) {
  EXPECT_EQ(run.status_text(), status);
  EXPECT_EQ(flag(run, "gcms.fit.no_local_peak"),
            status == "no_local_peak" ? "true" : "false");
  EXPECT_EQ(flag(run, "gcms.fit.unstable_fit"),
            status == "unstable_fit" ? "true" : "false");
  EXPECT_EQ(flag(run, "gcms.fit.solver_converged"),
            status == "success" ? "true" : "false");
}

// The documents of an empty window for a call with this target and tolerance
// (the numbers written as they print with 17 significant digits).
std::string empty_result(std::string_view target, std::string_view tolerance,
                         std::string_view lower, std::string_view upper) {
  return std::string("{\"fitted_retention_time\":") + std::string(target) +
         ",\"fitted_retention_time_unit\":\"minute\",\"peak_height\":0,\"peak_width\":0,"
         "\"peak_area\":0,\"baseline\":0,\"fit_status\":\"no_local_peak\","
         "\"target_retention_time\":" +
         std::string(target) + ",\"retention_time_tolerance\":" + std::string(tolerance) +
         ",\"fit_window_min\":" + std::string(lower) +
         ",\"fit_window_max\":" + std::string(upper) +
         ",\"solver_iterations\":0,\"r_squared\":0,\"goodness_of_fit\":0,\"mz\":0,"
         "\"selected_ion_trace_excerpt\":[],\"fitted_curve_excerpt\":[],"
         "\"excerpt_retention_time\":[]}";
}

std::string empty_diagnostics(std::string_view target) {
  return std::string(
             "{\"gcms.fit.no_local_peak\":true,\"gcms.fit.unstable_fit\":false,"
             "\"gcms.fit.solver_converged\":false,\"gcms.fit.initial_height_estimate\":0,"
             "\"gcms.fit.initial_center_estimate\":") +
         std::string(target) +
         ",\"gcms.fit.initial_width_estimate\":0,"
         "\"gcms.fit.initial_baseline_estimate\":0}";
}

// --- The frame --------------------------------------------------------------

TEST(FitStep, TooFewValuesAreRefusedBeforeAnyCallback) {
  const struct {
    std::size_t params, inputs;
    uint64_t outputs;
  } cases[] = {{2, 1, 2}, {3, 0, 2}, {3, 1, 1}, {0, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.params << " " << c.inputs << " " << c.outputs);
    HostSession host;
    const StepValue params[] = {host.float64(100), host.float64(0.5), host.float64(5)};
    const StepValue inputs[] = {host.text("{}")};
    const std::span<const StepValue> p(params, c.params);
    const std::span<const StepValue> in(inputs, c.inputs);
    EXPECT_EQ(host.run(fit_entry(), p, in, c.outputs), 2);
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(host.run_without_host(fit_entry(), p, in, c.outputs), 2);
  }
}

TEST(FitStep, MissingHostServicesAreAHostError) {
  HostSession host;
  const StepValue params[] = {host.float64(100), host.float64(0.5), host.float64(5)};
  const StepValue inputs[] = {host.text("{}")};
  EXPECT_EQ(host.run_without_host(fit_entry(), params, inputs, 2), 1);
  EXPECT_EQ(host.run_without_host(fit_entry(), params, inputs, 2, true), 1);
  EXPECT_TRUE(host.calls().empty());
}

TEST(FitStep, UnreadableTargetOrToleranceIsRefusedBeforeTheInput) {
  HostSession host;
  const StepValue number = host.float64(1);
  const StepValue words = host.text("abc");
  const StepValue empty = host.text("");
  const StepValue kind2 = host.text("5", 2);
  for (const StepValue& bad : {words, empty, kind2}) {
    const StepValue bad_target[] = {number, number, bad};
    const StepValue bad_tolerance[] = {number, bad, number};
    const StepValue inputs[] = {host.text("{}")};
    EXPECT_EQ(host.run(fit_entry(), bad_target, inputs, 2), 2);
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(host.run(fit_entry(), bad_tolerance, inputs, 2), 2);
    EXPECT_TRUE(host.calls().empty());
    // An unreadable iteration limit is not an error: the limit is 100.
    const StepValue bad_limit[] = {bad, number, number};
    EXPECT_EQ(host.run(fit_entry(), bad_limit, inputs, 2), 0);
  }
}

TEST(FitStep, InputTheHostCannotSupplyIsRefused) {
  HostSession host;
  host.fail_inputs(5);
  const StepValue params[] = {host.float64(100), host.float64(0.5), host.float64(5)};
  const StepValue inputs[] = {host.text("{}")};
  EXPECT_EQ(host.run(fit_entry(), params, inputs, 2), 2);
  ASSERT_EQ(host.calls().size(), 1u);
  EXPECT_EQ(host.calls()[0].kind, HostCall::Kind::kGetInputText);
  EXPECT_EQ(host.output_calls(), 0u);
}

TEST(FitStep, ResultGoesToOutputOneThenDiagnosticsToOutputZero) {
  const struct {
    std::optional<uint64_t> refused_slot;
    int32_t code;
    StepStatus want;
    std::size_t output_calls;
  } cases[] = {{std::nullopt, 0, 0, 2}, {1, 9, 1, 1}, {1, 1, 1, 1}, {0, 7, 7, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    HostSession host;
    if (c.refused_slot) host.refuse_output(*c.refused_slot, c.code);
    const StepValue params[] = {host.float64(100), host.float64(0.5), host.float64(5)};
    const StepValue inputs[] = {host.text("{}")};
    EXPECT_EQ(host.run(fit_entry(), params, inputs, 2), c.want);
    const auto& calls = host.calls();
    ASSERT_EQ(calls.size(), 1 + c.output_calls);
    EXPECT_EQ(calls[1].kind, HostCall::Kind::kSetOutputText);
    EXPECT_EQ(calls[1].slot, 1u);
    if (c.output_calls == 2) {
      EXPECT_EQ(calls[2].slot, 0u);
    }
  }
}

// --- Parameters -------------------------------------------------------------

TEST(FitStep, IterationLimitIsTruncatedAndClamped) {
  const struct {
    std::optional<double> in;
    int want;
  } cases[] = {{std::nullopt, 100},
               {0.9, 1},
               {25.7, 25},
               {1e9, 10000},
               {0, 1},
               {-3, 1},
               {20000, 10000},
               {10000.9, 10000},
               {1, 1},
               {kNaN, 1},
               {kInf, 10000},
               {-kInf, 1},
               {-0.5, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in.value_or(-999));
    EXPECT_EQ(vx::fit::clamp_iteration_limit(c.in), c.want);
  }
}

TEST(FitStep, IterationLimitReachesTheSolver) {
  // One scan per two widths: this noise-free peak needs 38 passes.
  std::vector<double> t = range(4.5, 0.2, 6);
  std::vector<double> y;
  y.reserve(t.size());
  for (const double x : t) {
    y.push_back(100 * std::exp(-((x - 5) * (x - 5)) / (2 * 0.1 * 0.1)) + 10);
  }
  const std::string trace = trace_document(t, y);
  HostSession host;
  const struct {
    StepValue limit;
    std::string_view status;
    double iterations;
  } cases[] = {
      {host.text("abc"), "success", 38},        {host.text("20000"), "success", 38},
      {host.float64(25.7), "unstable_fit", 25}, {host.text(" 30 "), "unstable_fit", 30},
      {host.int64(0), "unstable_fit", 1},       {host.int64(-3), "unstable_fit", 1},
      {host.float64(kNaN), "unstable_fit", 1},  {host.int64(38), "success", 38},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.iterations);
    const StepValue params[] = {c.limit, host.float64(0.5), host.float64(5)};
    const StepValue inputs[] = {host.text(trace)};
    ASSERT_EQ(host.run(fit_entry(), params, inputs, 2), 0);
    FitRun run{0, *host.output_text(1), *host.output_text(0)};
    expect_outcome(run, c.status);
    EXPECT_EQ(run.number("solver_iterations"), c.iterations);
  }
}

// --- Empty windows ----------------------------------------------------------

TEST(FitStep, EmptyWindowWritesTheNoLocalPeakDocuments) {
  const std::string outside = trace_document({1, 2, 3, 6}, {5, 6, 7, 8}, "");
  const std::string cases[] = {"{}",
                               "",
                               "[1,2,3]",
                               "not json at all",
                               outside,
                               R"({"retention_time":[5],"intensity":[]})",
                               R"({"intensity":[1,2,3]})"};
  for (const std::string& trace : cases) {
    SCOPED_TRACE(trace);
    const FitRun run = run_fit_step(5, 0.5, 100, trace);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(same_bytes(run.result, empty_result("5", "0.5", "4.5", "5.5")));
    EXPECT_TRUE(same_bytes(run.diagnostics, empty_diagnostics("5")));
  }
}

TEST(FitStep, EmptyWindowEchoesTheCallsTargetAndTolerance) {
  // A negative tolerance inverts the bounds and selects nothing; the bounds
  // are still reported as computed.
  const std::string trace = trace_document({12, 12.25, 12.5}, {1, 5, 1}, "");
  FitRun run = run_fit_step(12.25, -0.5, 100, trace);
  EXPECT_TRUE(same_bytes(run.result, empty_result("12.25", "-0.5", "12.75", "11.75")));
  EXPECT_TRUE(same_bytes(run.diagnostics, empty_diagnostics("12.25")));
}

TEST(FitStep, NonFiniteTargetOrToleranceSelectsNothing) {
  const std::string trace = trace_document(range(1, 1, 7), {0, 1, 6, 10, 6, 1, 0}, "");
  const struct {
    double target, tolerance;
    std::string_view t, tol, lo, hi;
  } cases[] = {
      {kNaN, 3, "NaN", "3", "NaN", "NaN"},
      {4, kNaN, "4", "NaN", "NaN", "NaN"},
      {4, kInf, "4", "Infinity", "-Infinity", "Infinity"},
      {kInf, 3, "Infinity", "3", "Infinity", "Infinity"},
      {-kInf, 3, "-Infinity", "3", "-Infinity", "-Infinity"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.t) + " " + std::string(c.tol));
    const FitRun run = run_fit_step(c.target, c.tolerance, 100, trace);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(same_bytes(run.result, empty_result(c.t, c.tol, c.lo, c.hi)));
    EXPECT_TRUE(same_bytes(run.diagnostics, empty_diagnostics(c.t)));
  }
}

TEST(FitStep, TraceEndsAtItsFirstZeroByte) {
  const std::string whole = trace_document(range(1, 1, 7), {0, 1, 6, 10, 6, 1, 0});
  std::string cut = whole;
  cut.insert(cut.find(",\"intensity\""), 1, '\0');
  const FitRun run = run_fit_step(4, 3, 100, cut);
  expect_outcome(run, "no_local_peak");
  EXPECT_EQ(run_fit_step(4, 3, 100, whole).status_text(), "success");
}

// --- Window selection and estimates ----------------------------------------

struct EstimateCase {
  const char* name;
  std::vector<double> times;
  std::vector<double> intensities;
  double target;
  double tolerance;
  double height, center, width, baseline;
};

TEST(FitStep, EstimatesFollowTheDocumentedRules) {
  const EstimateCase cases[] = {
      // Half level 5: the points at times 3 and 5 bound the width.
      {"half height", range(1, 1, 7), {0, 1, 6, 10, 6, 1, 0}, 4, 3, 10, 4, 2 / 2.355, 0},
      // No neighbour above half height; the weighted spread is exactly 0.
      {"spread is zero", range(1, 1, 4), {0, 0, 8, 0}, 2.5, 1.5, 8, 3, 0.75, 0},
      // Weights 8 at time 3 and 8 at time 5: mean 4, variance 17 - 16.
      {"spread", range(1, 1, 5), {0, 0, 8, 0, 8}, 3, 2, 8, 3, 1, 0},
      {"first of two highest",
       range(1, 1, 6),
       {1, 2, 9, 9, 2, 1},
       3.5,
       2.5,
       8,
       3,
       1 / 2.355,
       1},
      // Times falling from left to right give a negative width: the floor.
      {"falling times", {5, 4, 3, 2, 1}, {0, 6, 10, 6, 0}, 3, 2, 10, 3, 1e-6, 0},
      // Nothing above 0: the peak is the first point, the maximum stays 0.
      {"all negative", range(1, 0.1, 11), std::vector<double>(11, -4), 1.5, 0.5, 4, 1,
       0.25, -4},
      {"equal times", {2, 2, 2, 2}, {1, 3, 2, 0}, 2, 0, 3, 2, 1e-6, 0},
  };
  for (const EstimateCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FitRun run =
        run_fit_step(c.target, c.tolerance, 100, trace_document(c.times, c.intensities));
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_height_estimate"), c.height);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_center_estimate"), c.center);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_width_estimate"), c.width);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_baseline_estimate"), c.baseline);
  }
}

TEST(FitStep, WindowTakesPairsWhileBothSequencesLast) {
  // 10 times, 8 intensities: the excerpt grid ends at the eighth time.
  const FitRun run = run_fit_step(
      5.5, 5, 100, trace_document(range(1, 1, 10), {0, 1, 3, 8, 10, 8, 3, 1}));
  const auto times = run.array("excerpt_retention_time");
  ASSERT_EQ(times.size(), 50u);
  EXPECT_EQ(times.front(), 1);
  EXPECT_NEAR(times.back(), 8, 1e-14);
}

TEST(FitStep, WindowBoundsAreInclusive) {
  // 0.25 +- 0.125 are exact, so the bounds fall on the first and last time.
  const FitRun run = run_fit_step(
      0.25, 0.125, 100,
      trace_document({0.0625, 0.125, 0.25, 0.375, 0.5}, {100, 1, 9, 2, 100}));
  const auto times = run.array("excerpt_retention_time");
  ASSERT_EQ(times.size(), 50u);
  EXPECT_EQ(times.front(), 0.125);
  EXPECT_EQ(times.back(), 0.375);
  EXPECT_EQ(run.diagnostic("gcms.fit.initial_baseline_estimate"), 1);
}

TEST(FitStep, NonFinitePointsAreLeftOutOfTheWindow) {
  // Each variant adds points the window must not see; the documents equal
  // those of the clean trace.
  const std::vector<double> t = range(1, 1, 7);
  const std::vector<double> y = {0, 1, 6, 10, 6, 1, 0};
  const FitRun clean = run_fit_step(4, 3, 100, trace_document(t, y));
  expect_outcome(clean, "success");
  const struct {
    const char* name;
    double time, intensity;
  } extras[] = {{"NaN intensity", 4.5, kNaN},
                {"infinite intensity", 4.5, kInf},
                {"negative infinite intensity", 2.5, -kInf},
                {"NaN time", kNaN, 50}};
  for (const auto& e : extras) {
    SCOPED_TRACE(e.name);
    std::vector<double> t2 = t;
    std::vector<double> y2 = y;
    t2.insert(t2.begin() + 3, e.time);
    y2.insert(y2.begin() + 3, e.intensity);
    const FitRun run = run_fit_step(4, 3, 100, trace_document(t2, y2));
    EXPECT_TRUE(same_bytes(run.result, clean.result));
    EXPECT_TRUE(same_bytes(run.diagnostics, clean.diagnostics));
  }
}

// --- Outcomes ---------------------------------------------------------------

TEST(FitStep, WindowTooSmallOrFlatReportsTheEstimatesWithoutFitting) {
  const struct {
    const char* name;
    std::vector<double> t, y;
    double target, tolerance;
    double height, center, baseline;
  } cases[] = {
      {"three points", {1, 2, 3}, {2, 9, 4}, 2, 1, 7, 2, 2},
      {"all equal", range(1, 1, 6), std::vector<double>(6, 3), 3, 3, 0, 1, 3},
      {"all zero", range(1, 1, 6), std::vector<double>(6, 0), 3, 3, 0, 1, 0},
      {"one point", {2}, {5}, 2, 1, 0, 2, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FitRun run = run_fit_step(c.target, c.tolerance, 100, trace_document(c.t, c.y));
    EXPECT_EQ(run.status, 0);
    expect_outcome(run, "unstable_fit");
    EXPECT_EQ(run.number("solver_iterations"), 0);
    EXPECT_EQ(run.number("peak_width"), 0);
    EXPECT_EQ(run.number("peak_area"), 0);
    EXPECT_EQ(run.number("r_squared"), 0);
    EXPECT_EQ(run.number("goodness_of_fit"), 0);
    EXPECT_EQ(run.number("peak_height"), c.height);
    EXPECT_EQ(run.number("fitted_retention_time"), c.center);
    EXPECT_EQ(run.number("baseline"), c.baseline);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_height_estimate"), c.height);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_center_estimate"), c.center);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_width_estimate"), 0);
    EXPECT_EQ(run.diagnostic("gcms.fit.initial_baseline_estimate"), c.baseline);
    // The curve is drawn with width 0 (raised to the floor): the baseline
    // everywhere except within millionths of the centre.
    const auto curve = run.array("fitted_curve_excerpt");
    const auto trace = run.array("selected_ion_trace_excerpt");
    ASSERT_EQ(curve.size(), 50u);
    ASSERT_EQ(trace.size(), 50u);
    EXPECT_EQ(curve[25], c.baseline);
  }
}

TEST(FitStep, UnstableFitReportsTheEstimatesAndThePasses) {
  const FitRun run = run_fit_step(
      1.5, 0.5, 100, trace_document(range(1, 0.1, 11), std::vector<double>(11, -4)));
  expect_outcome(run, "unstable_fit");
  EXPECT_EQ(run.number("solver_iterations"), 28);
  EXPECT_EQ(run.number("peak_height"), 4);
  EXPECT_EQ(run.number("fitted_retention_time"), 1);
  EXPECT_EQ(run.number("peak_width"), 0.25);
  EXPECT_EQ(run.number("baseline"), -4);
  EXPECT_EQ(run.number("peak_area"), 0);
  EXPECT_EQ(run.number("r_squared"), 0);
  EXPECT_EQ(run.diagnostic("gcms.fit.initial_width_estimate"), 0.25);
}

TEST(FitStep, NoiseFreeExampleSucceeds) {
  std::vector<double> t;
  std::vector<double> y;
  for (int i = 0; i <= 100; ++i) {
    const double x = 4.5 + 0.01 * i;
    t.push_back(x);
    y.push_back(100 * std::exp(-((x - 5) * (x - 5)) / (2 * 0.1 * 0.1)) + 10);
  }
  const FitRun run = run_fit_step(5, 0.5, 100, trace_document(t, y));
  EXPECT_EQ(run.status, 0);
  expect_outcome(run, "success");
  EXPECT_EQ(run.number("solver_iterations"), 4);
  EXPECT_NEAR(run.number("peak_height"), 100, 1e-7);
  EXPECT_NEAR(run.number("fitted_retention_time"), 5, 5e-9);
  EXPECT_NEAR(run.number("peak_width"), 0.1, 1e-10);
  EXPECT_NEAR(run.number("baseline"), 10, 1e-8);
  EXPECT_NEAR(run.number("peak_area"), 25.0663, 0.00005);
  EXPECT_NEAR(run.number("r_squared"), 1, 1e-12);
  EXPECT_EQ(run.number("goodness_of_fit"), run.number("r_squared"));
  EXPECT_EQ(run.number("mz"), 73);
  EXPECT_EQ(run.number("fit_window_min"), 4.5);
  EXPECT_EQ(run.number("fit_window_max"), 5.5);
  EXPECT_NE(run.result.find("\"fitted_retention_time_unit\":\"minute\""),
            std::string::npos);

  // Excerpts: the trace at grid times, the fitted curve through it.
  const auto times = run.array("excerpt_retention_time");
  const auto trace = run.array("selected_ion_trace_excerpt");
  const auto curve = run.array("fitted_curve_excerpt");
  ASSERT_EQ(times.size(), 50u);
  ASSERT_EQ(trace.size(), 50u);
  ASSERT_EQ(curve.size(), 50u);
  EXPECT_EQ(times[0], 4.5);
  for (std::size_t j = 0; j < 50; ++j) EXPECT_NEAR(curve[j], trace[j], 0.5);
  EXPECT_NEAR(curve[24], 100 * std::exp(-0.5 * std::pow((times[24] - 5) / 0.1, 2)) + 10,
              1e-6);
}

// --- target_mz --------------------------------------------------------------

TEST(FitStep, MzIsOneLeadingDecimalNumber) {
  const struct {
    std::string_view raw;
    double want;
  } cases[] = {
      {"73", 73},      {"73.5abc", 73.5},
      {"-2.5e1", -25}, {"+4", 4},
      {".5", 0.5},     {"5.", 5},
      {"1e", 1},       {"1e+", 1},
      {"2E2", 200},    {"\v7", 7},
      {"\"73\"", 0},   {"null", 0},
      {"[73]", 0},     {"inf", 0},
      {"nan", 0},      {"0x10", 0},
      {"1e999", 0},    {"-1e999", 0},
      {"1e-999", 0},   {"-", 0},
      {".", 0},        {"4.9e-324", 4.9e-324},
  };
  const std::vector<double> t = range(1, 1, 7);
  const std::vector<double> y = {0, 1, 6, 10, 6, 1, 0};
  const FitRun plain = run_fit_step(4, 3, 100, trace_document(t, y));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    const std::string trace = trace_document(t, y, c.raw);
    EXPECT_EQ(vx::fit::read_target_mz(trace), c.want);
    const FitRun run = run_fit_step(4, 3, 100, trace);
    EXPECT_EQ(run.number("mz"), c.want);
    // The m/z is only echoed: the fit is the same.
    EXPECT_EQ(run.number("peak_area"), plain.number("peak_area"));
    EXPECT_EQ(run.diagnostics, plain.diagnostics);
  }
  EXPECT_EQ(vx::fit::read_target_mz("{\"retention_time\":[1]}"), 0);
  EXPECT_EQ(vx::fit::read_target_mz("{\"target_mz_x\":5,\"nested\":{\"target_mz\":5}}"),
            0);
}

}  // namespace
