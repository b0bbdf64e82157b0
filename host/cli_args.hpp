// Command-line parsing for vxrun. Pure: takes the arguments, returns what to
// do or a usage error; it never touches files, the library or the terminal.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "targets.hpp"

namespace vx::host {

enum class Command { kHelp, kVersion, kList, kRun, kChain, kBatch };

struct CliOptions {
  Command command = Command::kHelp;
  std::string help_topic;  // kHelp: "" (overview) or a command name
  std::string library;     // --library PATH

  // chain and batch
  std::vector<std::string> inputs;  // chain: exactly one file
  std::optional<double> mz;
  std::optional<double> rt;
  TargetDefaults defaults;
  bool mz_tol_given = false;
  std::string targets_file;
  unsigned jobs = 0;                 // -j; 0 = one per core
  std::string plot_dir;              // --plot
  std::string out_dir;               // chain --out
  std::string table_path;            // batch --table ("" or "-": standard output)
  std::string jsonl_path;            // batch --jsonl
  std::string report_path;           // --report: the HTML report
  bool quiet = false;                // no progress, no per-file lines
  std::optional<bool> progress_bar;  // --progress / --no-progress

  std::vector<std::string> run_args;  // run: everything after "run"
};

struct CliParse {
  CliOptions options;
  std::string error;  // non-empty: a usage error to print with the usage
};

// args excludes the program name.
CliParse parse_command_line(std::span<const std::string_view> args);

// The usage text of a command ("" for the overview); empty for an unknown one.
std::string_view usage_text(std::string_view command);

}  // namespace vx::host
