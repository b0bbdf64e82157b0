// The shared step frame: count check, host check, compute, output chain.
#include "registry/step_frame.hpp"

namespace vx::registry {
namespace {

bool has_host_services(const HostContext* host) {
  return host != nullptr && host->api != nullptr;
}

}  // namespace

std::optional<std::string_view> StepArgs::input_text(std::size_t i) const {
  if (i >= inputs.size() || host == nullptr || host->api == nullptr ||
      host->api->get_input_text == nullptr) {
    return std::nullopt;
  }
  const char* text = nullptr;
  uint64_t length = 0;
  if (host->api->get_input_text(host, &inputs[i], &text, &length) != 0) {
    return std::nullopt;
  }
  // A host may report a null text with a zero length: that is the empty text.
  if (text == nullptr) {
    if (length != 0) return std::nullopt;
    return std::string_view();
  }
  return std::string_view(text, static_cast<std::size_t>(length));
}

std::string_view StepArgs::param_text(std::size_t i) const {
  if (i >= params.size()) return {};
  const StepValue& v = params[i];
  if (v.data == nullptr || v.size == 0) return {};
  return {static_cast<const char*>(v.data), static_cast<std::size_t>(v.size)};
}

StepStatus emit_chain(HostContext* host, StepValue* outputs,
                      std::span<const Emission> emissions) {
  StepStatus last = VX_STATUS_OK;
  for (std::size_t i = 0; i < emissions.size(); ++i) {
    const Emission& e = emissions[i];
    StepValue* slot = outputs + e.slot;
    if (e.number) {
      const VxSetOutputNumber set = host->api->set_output_number;
      last = set == nullptr ? VX_STATUS_HOST_ERROR : set(host, slot, *e.number);
    } else {
      const VxSetOutputText set = host->api->set_output_text;
      last = set == nullptr
                 ? VX_STATUS_HOST_ERROR
                 : set(host, slot, e.text.data(), uint64_t{e.text.size()});
    }
    if (last != VX_STATUS_OK && i + 1 < emissions.size()) {
      return VX_STATUS_HOST_ERROR;
    }
  }
  return last;
}

StepStatus run_step(const StepShape& shape, ComputeFn compute,
                    HostContext* host, const StepValue* params,
                    uint64_t n_params, const StepValue* inputs,
                    uint64_t n_inputs, StepValue* outputs,
                    uint64_t n_outputs) noexcept {
  return guarded(kStatusOnThrow, [&]() -> StepStatus {
    if (n_params < shape.params || n_inputs < shape.inputs ||
        n_outputs < shape.outputs) {
      return VX_STATUS_INVALID_INPUT;
    }
    // A non-zero count over a null array names values that are not there:
    // refused like too few values, before anything is read or offered.
    if ((params == nullptr && n_params != 0) || (inputs == nullptr && n_inputs != 0) ||
        (outputs == nullptr && n_outputs != 0)) {
      return VX_STATUS_INVALID_INPUT;
    }
    // A count of zero may come with a null array; never form a span over it.
    const StepArgs args{
        host,
        params == nullptr ? std::span<const StepValue>()
                          : std::span<const StepValue>(params, n_params),
        inputs == nullptr ? std::span<const StepValue>()
                          : std::span<const StepValue>(inputs, n_inputs)};
    if (!shape.late_host_check && !has_host_services(host)) {
      return VX_STATUS_HOST_ERROR;
    }
    const StepResult result = compute(args);
    if (result.refusal != VX_STATUS_OK) return result.refusal;
    if (!has_host_services(host)) return VX_STATUS_HOST_ERROR;
    if (outputs == nullptr && !result.emissions.empty()) {
      return VX_STATUS_INVALID_INPUT;
    }
    return emit_chain(host, outputs, result.emissions);
  });
}

}  // namespace vx::registry
