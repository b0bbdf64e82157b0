// Every step run from 8 threads at once on shared inputs gives exactly the
// documents of a single-threaded run: the library keeps no shared state.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host_session.hpp"
#include "test_support.hpp"

namespace {

using vx::host::plugin::HostCall;
using vx::host::plugin::HostSession;
using vx::testing::step_entry;

// One step call with its values as texts; inputs are handed over as text.
struct Call {
  std::string step;
  std::vector<std::string> params;
  std::vector<std::string> inputs;
  uint64_t outputs;
};

struct Outcome {
  StepStatus status = -1;
  std::vector<std::string> documents;  // in call order, "slot:text"
  bool operator==(const Outcome&) const = default;
};

Outcome run(const Call& c) {
  HostSession host;
  std::vector<StepValue> params;
  std::vector<StepValue> inputs;
  for (const std::string& p : c.params) params.push_back(host.text(p));
  for (const std::string& i : c.inputs) inputs.push_back(host.text(i));
  Outcome o;
  o.status = host.run(step_entry(c.step), params, inputs, c.outputs);
  for (const HostCall& call : host.calls()) {
    if (call.kind == HostCall::Kind::kSetOutputText) {
      o.documents.push_back(std::to_string(call.slot) + ":" + call.text);
    } else if (call.kind == HostCall::Kind::kSetOutputNumber) {
      o.documents.push_back(std::to_string(call.slot) + "=" + std::to_string(call.number));
    }
  }
  return o;
}

std::string output(const Outcome& o, char slot) {
  for (const std::string& d : o.documents) {
    if (d[0] == slot && d[1] == ':') return d.substr(2);
  }
  return {};
}

TEST(Concurrency, EveryStepFromEightThreadsMatchesSingleThreaded) {
  const std::string path = vx::testing::test_data("sim_tiny.mzML").string();
  std::vector<Call> calls = {
      {"OperationStepDemo", {"division"}, {"1", "3"}, 1},
      {"ReadMassSpecFiles", {"a", "b"}, {}, 3},
      {"GcMsMzmlIngestionStep", {path, ""}, {}, 3},
  };
  // The chain's later steps take the single-threaded documents as inputs.
  const Outcome ingest = run(calls[2]);
  const std::string spectra = output(ingest, '2');
  calls.push_back({"GcMsSimTraceExtractionStep", {"nominal_tolerance_da", "0.5", "73"}, {spectra}, 2});
  const Outcome trace = run(calls[3]);
  calls.push_back({"GcMsTargetedGaussianFitStep", {"100", "0.05", "2.12"}, {output(trace, '1')}, 2});

  std::vector<Outcome> expected;
  for (const Call& c : calls) expected.push_back(run(c));

  constexpr int kThreads = 8;
  constexpr int kRounds = 3;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        for (std::size_t k = 0; k < calls.size(); ++k) {
          const std::size_t i = (k + static_cast<std::size_t>(t)) % calls.size();
          if (!(run(calls[i]) == expected[i])) ++mismatches;
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
