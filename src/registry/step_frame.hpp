// The one frame every step entry runs in: count check, host check, compute,
// then the output chain. Compute functions build every document before the
// first output call; emit_chain is the only code that calls the host's output
// slots. Nothing here throws: run_step turns any exception into a status.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vx_steps.h"

namespace vx::registry {

// Minimum counts of one step. late_host_check is for the one step that looks
// for host services only after computing its result.
struct StepShape {
  uint64_t params = 0;
  uint64_t inputs = 0;
  uint64_t outputs = 0;
  bool late_host_check = false;
};

// One finished output: a text document or a number for one slot.
struct Emission {
  uint64_t slot = 0;
  std::string text;
  std::optional<double> number;  // set: handed over with set_output_number

  static Emission of_text(uint64_t slot, std::string text) {
    return Emission{slot, std::move(text), std::nullopt};
  }
  static Emission of_number(uint64_t slot, double value) {
    return Emission{slot, {}, value};
  }
};

// What a compute function hands back: either a status to return at once
// without any output call (a refusal), or the outputs in emission order.
struct StepResult {
  StepStatus refusal = VX_STATUS_OK;
  std::vector<Emission> emissions;

  static StepResult refuse(StepStatus status) { return StepResult{status, {}}; }
  static StepResult invalid() { return refuse(VX_STATUS_INVALID_INPUT); }
};

// What a compute function sees of its call. host is null only for a step with
// late_host_check.
struct StepArgs {
  HostContext* host = nullptr;
  std::span<const StepValue> params;
  std::span<const StepValue> inputs;

  // The text of input i through the host's get_input_text, read where it
  // lies: the host keeps it valid and unchanged for the whole call, and the
  // step never writes into it nor keeps the view past the call. nullopt when
  // the host reports failure (the caller then refuses with 2).
  std::optional<std::string_view> input_text(std::size_t i) const;

  // Parameter slot i, or null past the end (the frame has already refused
  // a null array with a non-zero count).
  const StepValue* param(std::size_t i) const {
    return i < params.size() ? &params[i] : nullptr;
  }

  // Parameter i taken as raw bytes whatever its kind; empty for a null data
  // pointer or size 0.
  std::string_view param_text(std::size_t i) const;
};

using ComputeFn = StepResult (*)(const StepArgs&);

// Status returned when a step cannot finish because of an exception (memory
// exhausted or an internal error). No output has been offered at that point.
inline constexpr StepStatus kStatusOnThrow = VX_STATUS_INVALID_INPUT;

// Runs f and returns its status, or on_throw if anything is thrown.
template <typename F>
StepStatus guarded(StepStatus on_throw, F&& f) noexcept {
  try {
    return std::forward<F>(f)();
  } catch (...) {
    return on_throw;
  }
}

// Hands the emissions to the host in order. Stops at the first non-zero
// result: 1 if that was not the last call, else that result unchanged.
StepStatus emit_chain(HostContext* host, StepValue* outputs,
                      std::span<const Emission> emissions);

// The whole frame. Never throws.
StepStatus run_step(const StepShape& shape, ComputeFn compute,
                    HostContext* host, const StepValue* params,
                    uint64_t n_params, const StepValue* inputs,
                    uint64_t n_inputs, StepValue* outputs,
                    uint64_t n_outputs) noexcept;

}  // namespace vx::registry
