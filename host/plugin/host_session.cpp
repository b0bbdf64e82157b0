// The reference host's callbacks. The session is found again from the first
// word of the HostContext, which the library never touches.
#include "host_session.hpp"

#include <cstring>
#include <utility>

namespace vx::host::plugin {

HostSession::HostSession() {
  api_.get_input_text = &HostSession::get_input_text;
  api_.set_output_number = &HostSession::set_output_number;
  api_.set_output_text = &HostSession::set_output_text;
  context_.host_data[0] = this;
  context_.host_data[1] = nullptr;
  context_.api = &api_;
}

StepValue HostSession::text(std::string_view bytes, int32_t kind) {
  const std::string& kept = storage_.emplace_back(bytes);
  return StepValue{kind, kept.data(), uint64_t{kept.size()}};
}

StepValue HostSession::int64(int64_t value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return text(bytes, VX_KIND_INT64);
}

StepValue HostSession::float64(double value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return text(bytes, VX_KIND_FLOAT64);
}

StepStatus HostSession::run(StepEntry entry, std::span<const StepValue> params,
                            std::span<const StepValue> inputs, uint64_t n_outputs) {
  calls_.clear();
  outputs_.assign(static_cast<std::size_t>(n_outputs), StepValue{0, nullptr, 0});
  inputs_ = inputs;
  const StepStatus status = entry(&context_, params.data(), params.size(), inputs.data(),
                                  inputs.size(), outputs_.data(), n_outputs);
  if (sink_error_) std::rethrow_exception(std::exchange(sink_error_, nullptr));
  return status;
}

StepStatus HostSession::run_without_host(StepEntry entry,
                                         std::span<const StepValue> params,
                                         std::span<const StepValue> inputs,
                                         uint64_t n_outputs, bool null_api_only) {
  calls_.clear();
  outputs_.assign(static_cast<std::size_t>(n_outputs), StepValue{0, nullptr, 0});
  inputs_ = inputs;
  HostContext bare{{this, nullptr}, nullptr};
  return entry(null_api_only ? &bare : nullptr, params.data(), params.size(),
               inputs.data(), inputs.size(), outputs_.data(), n_outputs);
}

std::size_t HostSession::output_calls() const {
  std::size_t n = 0;
  for (const HostCall& c : calls_) {
    if (c.kind != HostCall::Kind::kGetInputText) ++n;
  }
  return n;
}

std::optional<std::string> HostSession::output_text(uint64_t slot) const {
  for (const HostCall& c : calls_) {
    if (c.kind == HostCall::Kind::kSetOutputText && c.slot == slot) return c.text;
  }
  return std::nullopt;
}

std::optional<std::string> HostSession::take_output_text(uint64_t slot) {
  for (HostCall& c : calls_) {
    if (c.kind == HostCall::Kind::kSetOutputText && c.slot == slot) {
      std::string text = std::move(c.text);
      c.text.clear();
      return text;
    }
  }
  return std::nullopt;
}

std::optional<double> HostSession::output_number(uint64_t slot) const {
  for (const HostCall& c : calls_) {
    if (c.kind == HostCall::Kind::kSetOutputNumber && c.slot == slot) {
      return c.number;
    }
  }
  return std::nullopt;
}

HostSession& HostSession::self(HostContext* host) {
  return *static_cast<HostSession*>(host->host_data[0]);
}

int32_t HostSession::answer_for(uint64_t slot) const {
  const auto it = refusals_.find(slot);
  return it == refusals_.end() ? 0 : it->second;
}

uint64_t HostSession::output_slot(const StepValue* output) const {
  return static_cast<uint64_t>(output - outputs_.data());
}

uint64_t HostSession::input_slot(const StepValue* input) const {
  return static_cast<uint64_t>(input - inputs_.data());
}

int32_t HostSession::get_input_text(HostContext* host, const StepValue* input,
                                    const char** text, uint64_t* length) {
  HostSession& s = self(host);
  HostCall call{HostCall::Kind::kGetInputText, s.input_slot(input), {}, 0.0, 0};
  if (s.input_failure_) {
    call.result = *s.input_failure_;
  } else {
    *text = static_cast<const char*>(input->data);
    *length = input->size;
  }
  s.calls_.push_back(std::move(call));
  return s.calls_.back().result;
}

int32_t HostSession::set_output_number(HostContext* host, StepValue* output,
                                       double value) {
  HostSession& s = self(host);
  const uint64_t slot = s.output_slot(output);
  s.calls_.push_back(
      {HostCall::Kind::kSetOutputNumber, slot, {}, value, s.answer_for(slot)});
  return s.calls_.back().result;
}

int32_t HostSession::set_output_text(HostContext* host, StepValue* output,
                                     const char* text, uint64_t length) {
  HostSession& s = self(host);
  const uint64_t slot = s.output_slot(output);
  const std::string_view view(text, static_cast<std::size_t>(length));
  const int32_t answer = s.answer_for(slot);
  const auto sink = s.sinks_.find(slot);
  const bool streamed = sink != s.sinks_.end() && sink->second && answer == 0;
  if (streamed) {
    try {
      sink->second(view);
    } catch (...) {
      if (!s.sink_error_) s.sink_error_ = std::current_exception();
    }
  }
  s.calls_.push_back({HostCall::Kind::kSetOutputText, slot,
                      streamed ? std::string() : std::string(view), 0.0, answer});
  return s.calls_.back().result;
}

}  // namespace vx::host::plugin
