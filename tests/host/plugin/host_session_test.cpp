// Streaming an output: the sink sees the step's own buffer during the call,
// nothing is copied, refusals are kept, and a throwing sink never unwinds
// through the step.
#include "host_session.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace vx::host::plugin {
namespace {

// Writes "first" to output 0 and "second" to output 1, passing through
// the host's answers as a step's output chain does.
StepStatus two_outputs(HostContext* host, const StepValue*, uint64_t, const StepValue*,
                       uint64_t, StepValue* outputs, uint64_t) {
  static constexpr char kFirst[] = "first";
  static constexpr char kSecond[] = "second";
  const int32_t a = host->api->set_output_text(host, &outputs[0], kFirst, 5);
  if (a != 0) return VX_STATUS_HOST_ERROR;
  return host->api->set_output_text(host, &outputs[1], kSecond, 6);
}

TEST(HostSession, StreamedOutputsReachTheSinkInsteadOfTheRecord) {
  HostSession session;
  std::string seen;
  const char* seen_at = nullptr;
  session.stream_output(1, [&](std::string_view text) {
    seen.assign(text);
    seen_at = text.data();
  });
  ASSERT_EQ(session.run(&two_outputs, {}, {}, 2), VX_STATUS_OK);
  EXPECT_EQ(seen, "second");
  EXPECT_NE(seen_at, nullptr);
  EXPECT_EQ(session.output_text(0), "first");
  EXPECT_EQ(session.output_text(1), "");  // recorded, not kept
  EXPECT_EQ(session.output_calls(), 2u);
}

TEST(HostSession, RefusedOutputsAreNotStreamed) {
  HostSession session;
  int visits = 0;
  session.stream_output(1, [&](std::string_view) { ++visits; });
  session.refuse_output(1, 9);
  EXPECT_EQ(session.run(&two_outputs, {}, {}, 2), 9);
  EXPECT_EQ(visits, 0);
}

TEST(HostSession, ASinkThatThrowsIsRethrownAfterTheStepReturned) {
  HostSession session;
  session.stream_output(0, [](std::string_view) { throw std::runtime_error("sink"); });
  EXPECT_THROW(session.run(&two_outputs, {}, {}, 2), std::runtime_error);
  // The step itself ran to its end: the host still answered its calls.
  EXPECT_EQ(session.output_calls(), 2u);
  // The error went with that run; without the sink the text is kept again.
  session.stream_output(0, {});
  EXPECT_EQ(session.run(&two_outputs, {}, {}, 2), VX_STATUS_OK);
  EXPECT_EQ(session.output_text(0), "first");
}

}  // namespace
}  // namespace vx::host::plugin
