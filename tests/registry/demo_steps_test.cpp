// OperationStepDemo and ReadMassSpecFiles through their real entries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "host_session.hpp"
#include "test_support.hpp"

namespace {

using vx::host::plugin::HostSession;
using vx::testing::step_entry;

struct OpCase {
  const char* op;
  double a;
  double b;
  StepStatus want_status;
  double want = 0.0;
};

TEST(OperationStepDemo, ComputesOrRefuses) {
  const OpCase cases[] = {
      {"subtraction", 10, 4, 0, 6},
      {"division", 1, 4, 0, 0.25},
      {"sum", 1.5, 2, 0, 3.5},
      {"multiplication", 3, -2, 0, -6},
      {"division", 1, 1e-320, 0, 1 / 1e-320},
      {"division", 1, -0.0, 2},
      {"division", 1, 0.0, 2},
      {"Sum", 1, 2, 2},
      {" sum", 1, 2, 2},
      {"sum ", 1, 2, 2},
      {"", 1, 2, 2},
  };
  const StepEntry op = step_entry("OperationStepDemo");
  for (const OpCase& c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + std::to_string(c.a) + " " + std::to_string(c.b));
    HostSession host;
    const StepValue params[] = {host.text(c.op)};
    const StepValue inputs[] = {host.float64(c.a), host.float64(c.b)};
    EXPECT_EQ(host.run(op, params, inputs, 1), c.want_status);
    if (c.want_status == 0) {
      ASSERT_EQ(host.output_calls(), 1u);
      EXPECT_EQ(*host.output_number(0), c.want);
    } else {
      EXPECT_EQ(host.output_calls(), 0u);
    }
  }
}

TEST(OperationStepDemo, DivisionByNanIsComputed) {
  HostSession host;
  const StepValue params[] = {host.text("division")};
  const StepValue inputs[] = {host.float64(1), host.float64(std::nan(""))};
  EXPECT_EQ(host.run(step_entry("OperationStepDemo"), params, inputs, 1), 0);
  EXPECT_TRUE(std::isnan(*host.output_number(0)));
}

TEST(OperationStepDemo, OperandKindsMixAndKindTwoIsRefused) {
  const StepEntry op = step_entry("OperationStepDemo");
  HostSession host;
  const StepValue params[] = {host.text("sum")};
  const StepValue mixed[] = {host.text("2.5"), host.int64(-5)};
  EXPECT_EQ(host.run(op, params, mixed, 1), 0);
  EXPECT_EQ(*host.output_number(0), -2.5);
  const StepValue kind5[] = {host.text("1", 5), host.text(" 2 ", 6)};
  EXPECT_EQ(host.run(op, params, kind5, 1), 0);
  EXPECT_EQ(*host.output_number(0), 3);
  const StepValue kind2[] = {host.text("1", 2), host.float64(1)};
  EXPECT_EQ(host.run(op, params, kind2, 1), 2);
  EXPECT_EQ(host.output_calls(), 0u);
}

TEST(OperationStepDemo, HostCheckComesAfterTheComputation) {
  const StepEntry op = step_entry("OperationStepDemo");
  HostSession host;
  const StepValue known[] = {host.text("sum")};
  const StepValue unknown[] = {host.text("modulo")};
  const StepValue inputs[] = {host.float64(1), host.float64(2)};
  EXPECT_EQ(host.run_without_host(op, known, inputs, 1), 1);
  EXPECT_EQ(host.run_without_host(op, known, inputs, 1, true), 1);
  EXPECT_EQ(host.run_without_host(op, unknown, inputs, 1), 2);
  EXPECT_EQ(host.run_without_host(op, known, inputs, 0), 2);
}

TEST(OperationStepDemo, NullParamsArrayIsTheEmptyName) {
  HostSession host;
  const StepValue inputs[] = {host.float64(1), host.float64(2)};
  StepValue out{};
  EXPECT_EQ(step_entry("OperationStepDemo")(host.context(), nullptr, 1, inputs, 2, &out, 1), 2);
}

TEST(OperationStepDemo, HostResultIsTheStatus) {
  HostSession host;
  host.refuse_output(0, 7);
  const StepValue params[] = {host.text("sum")};
  const StepValue inputs[] = {host.float64(1), host.float64(2)};
  EXPECT_EQ(host.run(step_entry("OperationStepDemo"), params, inputs, 1), 7);
}

TEST(ReadMassSpecFiles, WritesThreeEmptyObjects) {
  const StepEntry rm = step_entry("ReadMassSpecFiles");
  HostSession host;
  const StepValue params[] = {host.text("a"), host.text("b")};
  EXPECT_EQ(host.run(rm, params, {}, 3), 0);
  ASSERT_EQ(host.output_calls(), 3u);
  for (uint64_t slot = 0; slot < 3; ++slot) EXPECT_EQ(*host.output_text(slot), "{}");
  EXPECT_EQ(host.run(rm, std::span(params, 1), {}, 3), 2);
  EXPECT_EQ(host.output_calls(), 0u);
  EXPECT_EQ(host.run(rm, params, {}, 2), 2);
}

TEST(ReadMassSpecFiles, RefusalsFollowTheChainRule) {
  const StepEntry rm = step_entry("ReadMassSpecFiles");
  struct Case {
    uint64_t slot;
    int32_t code;
    StepStatus want;
    std::size_t calls;
  };
  for (const Case c : {Case{1, 3, 1, 2}, Case{0, 1, 1, 1}, Case{2, 5, 5, 3}}) {
    HostSession host;
    host.refuse_output(c.slot, c.code);
    const StepValue params[] = {host.text("a"), host.text("b")};
    EXPECT_EQ(host.run(rm, params, {}, 3), c.want);
    EXPECT_EQ(host.output_calls(), c.calls);
  }
}

TEST(ReadMassSpecFiles, NullHostIsHostErrorButTooFewOutputsIsInvalid) {
  const StepEntry rm = step_entry("ReadMassSpecFiles");
  HostSession host;
  const StepValue params[] = {host.text("a"), host.text("b")};
  EXPECT_EQ(host.run_without_host(rm, params, {}, 3), 1);
  EXPECT_EQ(host.run_without_host(rm, params, {}, 2), 2);
}

}  // namespace
