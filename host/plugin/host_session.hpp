// Layer host/plugin (vx_host_plugin): loading the step library and calling
// its steps through the C ABI. May use: base.
//
// The reference host: plays the workflow engine for one step call. It owns
// the HostContext and HostApi, keeps the input texts and what each output
// slot received, records every callback, and can refuse a chosen output with
// a chosen code. Used by the command-line program and by every step test.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vx_steps.h"

namespace vx::host::plugin {

// One callback the step made, in order.
struct HostCall {
  enum class Kind { kGetInputText, kSetOutputNumber, kSetOutputText };
  Kind kind = Kind::kGetInputText;
  uint64_t slot = 0;    // index of the input or output
  std::string text;     // set_output_text
  double number = 0.0;  // set_output_number
  int32_t result = 0;   // what the host answered
};

class HostSession {
 public:
  HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Values whose bytes the session keeps alive until it is destroyed.
  StepValue text(std::string_view bytes, int32_t kind = VX_KIND_TEXT);
  StepValue int64(int64_t value);
  StepValue float64(double value);

  // Makes the output call for slot answer code instead of 0.
  void refuse_output(uint64_t slot, int32_t code) { refusals_[slot] = code; }
  // Makes get_input_text answer code instead of handing over the text.
  void fail_inputs(int32_t code) { input_failure_ = code; }
  // Hands the text of output slot to sink while the step still holds it (a
  // view valid only during the call) instead of keeping a copy; the call is
  // recorded with an empty text (an empty sink turns streaming off again).
  // Refused outputs never reach the sink. An exception from sink is held
  // and rethrown by run() once the step has returned, so that it never
  // unwinds through the library.
  using TextSink = std::function<void(std::string_view text)>;
  void stream_output(uint64_t slot, TextSink sink) { sinks_[slot] = std::move(sink); }

  // Calls entry with the given values and n_outputs fresh output slots.
  // Clears the outputs and calls of any earlier run. Inputs are handed over
  // through get_input_text as the bytes their StepValue points to.
  StepStatus run(StepEntry entry, std::span<const StepValue> params,
                 std::span<const StepValue> inputs, uint64_t n_outputs);

  // Runs with a null HostContext (or a context whose api is null).
  StepStatus run_without_host(StepEntry entry, std::span<const StepValue> params,
                              std::span<const StepValue> inputs, uint64_t n_outputs,
                              bool null_api_only = false);

  const std::vector<HostCall>& calls() const { return calls_; }
  std::size_t output_calls() const;
  // The text the step handed to an output slot (and the host accepted or
  // not), if any.
  std::optional<std::string> output_text(uint64_t slot) const;
  std::optional<double> output_number(uint64_t slot) const;
  // Moves the text of an output slot out of the call record (which keeps an
  // empty text), so a large document can be passed on without a copy.
  std::optional<std::string> take_output_text(uint64_t slot);

  HostContext* context() { return &context_; }

 private:
  static int32_t get_input_text(HostContext* host, const StepValue* input,
                                const char** text, uint64_t* length);
  static int32_t set_output_number(HostContext* host, StepValue* output, double value);
  static int32_t set_output_text(HostContext* host, StepValue* output, const char* text,
                                 uint64_t length);
  static HostSession& self(HostContext* host);
  int32_t answer_for(uint64_t slot) const;
  uint64_t output_slot(const StepValue* output) const;
  uint64_t input_slot(const StepValue* input) const;

  HostApi api_{};
  HostContext context_{};
  std::deque<std::string> storage_;
  std::vector<StepValue> outputs_;
  std::span<const StepValue> inputs_;
  std::map<uint64_t, int32_t> refusals_;
  std::map<uint64_t, TextSink> sinks_;
  std::exception_ptr sink_error_;
  std::optional<int32_t> input_failure_;
  std::vector<HostCall> calls_;
};

}  // namespace vx::host::plugin
