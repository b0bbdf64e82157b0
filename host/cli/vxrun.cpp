// vxrun: the command-line workflow host of the step library. It loads the
// library with dlopen and calls steps only through the exported functions.
// Everything it does lives in the host modules; this file parses the command
// line, loads the library and hands over. See 'vxrun --help'.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "chain_runner.hpp"
#include "cli_args.hpp"
#include "commands.hpp"
#include "exit_codes.hpp"
#include "report_builder.hpp"
#include "run_checks.hpp"
#include "step_library.hpp"

namespace {

// Keeps freed memory in the process for the next file instead of handing it
// back: glibc serves blocks past 32 MiB (a spectra document is hundreds of
// MiB) with a fresh mmap and unmaps them on free, so every file of a batch
// would fault its document's pages in again (several microseconds a page on
// a virtual machine). One arena, no mmap for blocks and no trimming make the
// next file reuse the pages the last one touched. Memory then stays at the
// batch's high-water mark until vxrun exits, which it does after the batch.
// Set before any thread exists; glibc only.
void keep_freed_memory() {
#ifdef M_MMAP_MAX
  (void)mallopt(M_ARENA_MAX, 1);
  (void)mallopt(M_MMAP_MAX, 0);
  (void)mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

using namespace vx::host::base;
using namespace vx::host::cli;
using vx::host::chain::resolve_chain_steps;
using vx::host::plugin::StepLibrary;
using vx::host::report::command_line_text;

int run(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const CliParse parsed = parse_command_line(args);
  if (!parsed.error.empty()) {
    std::cerr << "vxrun: " << parsed.error << "\n\n" << usage_text("");
    return kExitUsage;
  }
  const CliOptions& o = parsed.options;
  if (o.command == Command::kHelp) {
    std::cout << usage_text(o.help_topic);
    return kExitOk;
  }

  CommandIo io{std::cout, std::cerr, stderr, isatty(STDERR_FILENO) == 1};
  const std::vector<std::string_view> words(argv, argv + argc);
  io.command_line = command_line_text(words);
  if (o.command == Command::kMerge) return run_merge_command(o, io);
  if (o.command == Command::kInputs) return run_inputs_command(o, io);
  if (o.command == Command::kConvert) return run_convert_command(o, io);

  const std::string path =
      o.library.empty() ? StepLibrary::default_path(argv[0]) : o.library;
  const StepLibrary lib(path);
  if (o.command == Command::kVersion) {
    return run_version_command(&lib, path, lib.error(), std::cout);
  }
  if (!lib.loaded()) {
    std::cerr << "vxrun: " << lib.error() << "\n";
    return kExitLibrary;
  }
  io.library_path = path;
  io.library_contract = contract_fingerprint(lib);
  switch (o.command) {
    case Command::kList:
      return run_list_command(lib, std::cout);
    case Command::kRun:
      return run_step_command(lib, o.run, io);
    case Command::kChain:
    case Command::kLadder:
    case Command::kSearch:
    case Command::kBatch: {
      std::string error;
      const auto steps = resolve_chain_steps(lib, &error);
      if (!steps) {
        std::cerr << "vxrun: " << error << " (" << path << ")\n";
        return kExitLibrary;
      }
      if (o.command == Command::kLadder) return run_ladder_command(o, *steps, io);
      if (o.command == Command::kSearch) return run_search_command(o, *steps, io);
      return o.command == Command::kChain ? run_chain_command(o, *steps, io)
                                          : run_batch_command(o, *steps, io);
    }
    default:
      return kExitInternal;
  }
}

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory();
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "vxrun: internal error: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "vxrun: internal error\n";
  }
  return vx::host::base::kExitInternal;
}
