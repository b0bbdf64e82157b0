// Layer host/cli (vx_host_cli), the top: vxrun's options and commands, which
// put the layers below together. May use every other layer.
//
// What each vxrun command does, given parsed options and the resolved steps.
// Output goes to the streams passed in, so the commands can be tested
// without the program and without the real steps.
#pragma once

#include <cstdio>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "chain_runner.hpp"
#include "cli_args.hpp"
#include "step_library.hpp"

namespace vx::host::cli {

struct CommandIo {
  std::ostream& out;
  std::ostream& err;
  std::FILE* progress = stderr;  // where the progress bar or lines go
  bool progress_is_terminal = false;
  // What the HTML report says about the run.
  std::string command_line = {};
  std::string library_path = {};
  std::string library_contract = {};
};

int run_list_command(const plugin::StepLibrary& lib, std::ostream& out);
// lib may be null (it did not load); load_error then says why.
int run_version_command(const plugin::StepLibrary* lib, std::string_view library_path,
                        std::string_view load_error, std::ostream& out);
int run_step_command(const plugin::StepLibrary& lib, const RunOptions& run, CommandIo& io);
int run_chain_command(const CliOptions& o, const chain::ChainSteps& steps, CommandIo& io);
int run_batch_command(const CliOptions& o, const chain::ChainSteps& steps, CommandIo& io);
// Needs no library: it only reads and writes tables.
int run_merge_command(const CliOptions& o, CommandIo& io);
// Finds the alkane ladder of one run and writes its table.
int run_ladder_command(const CliOptions& o, const chain::ChainSteps& steps, CommandIo& io);
// Scores one peak's spectrum against a whole .msp library; prints the best.
int run_search_command(const CliOptions& o, const chain::ChainSteps& steps, CommandIo& io);
// Needs no library: prints the files batch would read, one per line.
int run_inputs_command(const CliOptions& o, CommandIo& io);

// A hexadecimal fingerprint of the step IRIs and contract digests: two
// libraries with the same fingerprint offer the same step contracts.
std::string contract_fingerprint(const plugin::StepLibrary& lib);

// The seven documents of a chain run go under these names.
inline constexpr std::string_view kSpectraFile = "ingestion_spectra.json";
inline constexpr std::string_view kChromatogramsFile = "ingestion_chromatograms.json";
inline constexpr std::string_view kRunSummaryFile = "ingestion_run_summary.json";
inline constexpr std::string_view kIngestionDiagnosticsFile =
    "ingestion_diagnostics.json";
inline constexpr std::string_view kTraceFile = "trace.json";
inline constexpr std::string_view kTraceDiagnosticsFile = "trace_diagnostics.json";
inline constexpr std::string_view kFitResultFile = "fit_result.json";
inline constexpr std::string_view kFitDiagnosticsFile = "fit_diagnostics.json";

}  // namespace vx::host::cli
