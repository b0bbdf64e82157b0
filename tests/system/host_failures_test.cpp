// Hosts that misbehave: refused outputs with odd codes, failing or empty
// input hand-overs and missing callbacks all end in the documented status,
// never in a crash.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "host_session.hpp"
#include "test_support.hpp"

namespace {

using vx::host::HostSession;
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

}  // namespace
