// Hosts that misbehave: refused outputs with odd codes, failing or empty
// input hand-overs and missing callbacks all end in the documented status,
// never in a crash.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "host_session.hpp"
#include "test_support.hpp"

namespace {

using vx::host::plugin::HostSession;
using vx::testing::step_entry;

struct StepCase {
  const char* step;
  std::vector<std::string> params;
  bool takes_input;
  uint64_t outputs;
  std::vector<uint64_t> emission_order;
};

std::vector<StepCase> cases() {
  const std::string path = vx::testing::test_data("sim_tiny.mzML").string();
  return {
      {"ReadMassSpecFiles", {"a", "b"}, false, 3, {0, 1, 2}},
      {"GcMsMzmlIngestionStep", {path, ""}, false, 3, {2, 0, 1}},
      {"GcMsSimTraceExtractionStep", {"x", "0.5", "73"}, true, 2, {1, 0}},
      {"GcMsTargetedGaussianFitStep", {"100", "0.5", "5"}, true, 2, {1, 0}},
  };
}

StepStatus run(HostSession& host, const StepCase& c, const std::string& input) {
  std::vector<StepValue> params;
  for (const std::string& p : c.params) params.push_back(host.text(p));
  std::vector<StepValue> inputs;
  if (c.takes_input) inputs.push_back(host.text(input));
  return host.run(step_entry(c.step), params, inputs, c.outputs);
}

TEST(HostFailures, RefusedOutputsFollowTheChainRule) {
  for (const StepCase& c : cases()) {
    for (std::size_t k = 0; k < c.emission_order.size(); ++k) {
      for (const int32_t code : {1, 7, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(std::string(c.step) + " refuses call " + std::to_string(k) +
                     " with " + std::to_string(code));
        HostSession host;
        host.refuse_output(c.emission_order[k], code);
        const StepStatus got = run(host, c, "{}");
        const bool last = k + 1 == c.emission_order.size();
        EXPECT_EQ(got, last ? code : 1);
        EXPECT_EQ(host.output_calls(), k + 1);
      }
    }
  }
}

TEST(HostFailures, FailedInputHandOverIsInvalidInput) {
  for (const StepCase& c : cases()) {
    if (!c.takes_input) continue;
    for (const int32_t code : {1, -1, 99, INT32_MIN}) {
      SCOPED_TRACE(c.step);
      HostSession host;
      host.fail_inputs(code);
      EXPECT_EQ(run(host, c, "{}"), 2);
      EXPECT_EQ(host.output_calls(), 0u);
    }
  }
}

TEST(HostFailures, EmptyAndNullInputTextsAreEmptyDocuments) {
  for (const StepCase& c : cases()) {
    if (!c.takes_input) continue;
    SCOPED_TRACE(c.step);
    HostSession host;
    std::vector<StepValue> params;
    for (const std::string& p : c.params) params.push_back(host.text(p));
    const StepValue null_input{VX_KIND_TEXT, nullptr, 0};
    EXPECT_EQ(host.run(step_entry(c.step), params, {&null_input, 1}, c.outputs), 0);
    EXPECT_EQ(host.output_calls(), c.emission_order.size());
  }
}

TEST(HostFailures, MissingCallbacksAreHostErrors) {
  for (const StepCase& c : cases()) {
    SCOPED_TRACE(c.step);
    HostSession host;
    std::vector<StepValue> params;
    for (const std::string& p : c.params) params.push_back(host.text(p));
    std::vector<StepValue> inputs;
    if (c.takes_input) inputs.push_back(host.text("{}"));
    std::vector<StepValue> outputs(c.outputs);
    HostApi api{};
    api.get_input_text = host.context()->api->get_input_text;  // no output slots
    HostContext ctx = *host.context();
    ctx.api = &api;
    const StepStatus got = step_entry(c.step)(&ctx, params.data(), params.size(),
                                              inputs.data(), inputs.size(),
                                              outputs.data(), outputs.size());
    EXPECT_EQ(got, 1);
  }
}

// A null params, inputs or outputs array with a non-zero count is refused
// with 2 before any callback, by every step. Each call runs in a forked
// child, so a step that dereferences the null array fails this test instead
// of ending the test run.
TEST(HostFailures, NullArraysWithCountsAreRefused) {
  struct Shape {
    const char* step;
    std::vector<std::string> params;
    std::size_t inputs;
    uint64_t outputs;
  };
  const std::string path = vx::testing::test_data("sim_tiny.mzML").string();
  const std::vector<Shape> shapes = {
      {"OperationStepDemo", {"sum"}, 2, 1},
      {"ReadMassSpecFiles", {"a", "b"}, 0, 3},
      {"GcMsMzmlIngestionStep", {path, ""}, 0, 3},
      {"GcMsSimTraceExtractionStep", {"x", "0.5", "73"}, 1, 2},
      {"GcMsTargetedGaussianFitStep", {"100", "0.5", "5"}, 1, 2},
  };
  enum class Nulled { kParams, kInputs, kOutputs };
  for (const Shape& s : shapes) {
    for (const Nulled which : {Nulled::kParams, Nulled::kInputs, Nulled::kOutputs}) {
      for (const uint64_t count : {uint64_t{1}, uint64_t{4}}) {
        SCOPED_TRACE(std::string(s.step) + " array " +
                     std::to_string(static_cast<int>(which)) + " count " +
                     std::to_string(count));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
          HostSession host;
          std::vector<StepValue> params;
          for (const std::string& p : s.params) params.push_back(host.text(p));
          std::vector<StepValue> inputs(s.inputs, host.float64(2.0));
          std::vector<StepValue> outputs(s.outputs);
          const StepValue* p = params.data();
          const StepValue* in = inputs.data();
          StepValue* out = outputs.data();
          uint64_t np = params.size();
          uint64_t ni = inputs.size();
          uint64_t no = outputs.size();
          if (which == Nulled::kParams) {
            p = nullptr;
            np = count;
          } else if (which == Nulled::kInputs) {
            in = nullptr;
            ni = count;
          } else {
            out = nullptr;
            no = count;
          }
          const StepStatus got =
              step_entry(s.step)(host.context(), p, np, in, ni, out, no);
          _exit(got * 10 + static_cast<int>(std::min<std::size_t>(host.calls().size(), 9)));
        }
        int wstatus = 0;
        ASSERT_EQ(waitpid(child, &wstatus, 0), child);
        ASSERT_TRUE(WIFEXITED(wstatus)) << "the step crashed";
        EXPECT_EQ(WEXITSTATUS(wstatus), 20) << "status * 10 + callbacks";
      }
    }
  }
}

}  // namespace
