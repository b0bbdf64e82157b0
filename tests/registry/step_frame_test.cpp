// The shared frame: the output chain's status rule, the order of the count
// and host checks, and that no exception leaves an entry.
#include "registry/step_frame.hpp"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <vector>

#include "host_session.hpp"
#include "test_support.hpp"

namespace vx::registry {
namespace {

std::vector<Emission> three_texts() {
  return {Emission::of_text(2, "a"), Emission::of_text(0, "b"), Emission::of_text(1, "c")};
}

TEST(StepFrame, EmitChainStatusRule) {
  struct Case {
    uint64_t refused_slot;
    int32_t code;
    StepStatus want;
    std::size_t calls;
  };
  const Case cases[] = {
      {99, 0, 0, 3},  // all accepted
      {2, 5, 1, 1},   // first of three refused: 1, no further call
      {0, 9, 1, 2},   // middle refused
      {1, 7, 7, 3},   // last refused: its code passes through
      {1, -3, -3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused_slot);
    host::plugin::HostSession host;
    host.refuse_output(c.refused_slot, c.code);
    std::vector<StepValue> outputs(3);
    const auto emissions = three_texts();
    // Drive the chain through the session's callbacks.
    const StepStatus got = host.run(
        [](HostContext* h, const StepValue*, uint64_t, const StepValue*, uint64_t,
           StepValue* out, uint64_t) -> StepStatus {
          const auto e = three_texts();
          return emit_chain(h, out, e);
        },
        {}, {}, 3);
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(host.output_calls(), c.calls);
  }
}

StepResult throws_bad_alloc(const StepArgs&) { throw std::bad_alloc(); }
StepResult throws_runtime(const StepArgs&) { throw std::runtime_error("x"); }
StepResult one_text(const StepArgs&) {
  StepResult r;
  r.emissions.push_back(Emission::of_text(0, "{}"));
  return r;
}

TEST(StepFrame, ExceptionsBecomeTheDocumentedStatus) {
  constexpr StepShape shape{.params = 0, .inputs = 0, .outputs = 1};
  for (ComputeFn f : {&throws_bad_alloc, &throws_runtime}) {
    host::plugin::HostSession host;
    StepValue out{};
    EXPECT_EQ(run_step(shape, f, host.context(), nullptr, 0, nullptr, 0, &out, 1),
              kStatusOnThrow);
    EXPECT_EQ(host.output_calls(), 0u);
  }
  EXPECT_EQ(guarded(42, []() -> StepStatus { throw 1; }), 42);
}

TEST(StepFrame, CountCheckComesBeforeHostCheck) {
  constexpr StepShape shape{.params = 1, .inputs = 0, .outputs = 2};
  StepValue outs[2]{};
  StepValue param{VX_KIND_TEXT, "x", 1};
  EXPECT_EQ(run_step(shape, &one_text, nullptr, &param, 1, nullptr, 0, outs, 1), 2);
  EXPECT_EQ(run_step(shape, &one_text, nullptr, &param, 0, nullptr, 0, outs, 2), 2);
  EXPECT_EQ(run_step(shape, &one_text, nullptr, &param, 1, nullptr, 0, outs, 2), 1);
  HostContext no_api{{nullptr, nullptr}, nullptr};
  EXPECT_EQ(run_step(shape, &one_text, &no_api, &param, 1, nullptr, 0, outs, 2), 1);
}

TEST(StepFrame, NullInputTextWithZeroLengthIsEmptyText) {
  HostApi api{};
  api.get_input_text = [](HostContext*, const StepValue*, const char** t,
                          uint64_t* n) -> int32_t {
    *t = nullptr;
    *n = 0;
    return 0;
  };
  HostContext ctx{{nullptr, nullptr}, &api};
  StepValue in{VX_KIND_TEXT, nullptr, 0};
  const StepArgs args{&ctx, {}, std::span<const StepValue>(&in, 1)};
  const auto text = args.input_text(0);
  ASSERT_TRUE(text.has_value());
  EXPECT_TRUE(text->empty());

  api.get_input_text = [](HostContext*, const StepValue*, const char** t,
                          uint64_t* n) -> int32_t {
    *t = nullptr;
    *n = 12;  // a length without text names bytes that are not there
    return 0;
  };
  EXPECT_FALSE(args.input_text(0).has_value());
}

}  // namespace
}  // namespace vx::registry
