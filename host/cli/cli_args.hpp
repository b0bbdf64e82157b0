// Command-line parsing for vxrun, on CLI11. Pure: takes the arguments,
// returns what to do or a usage error; it never touches files, the library
// or the terminal.
//
// Adding to the command line: an option of an existing command is one line
// in that command's declare function in cli_args.cpp (plus its field here and
// its line in the command's help text); a new command is one entry in the
// command table there, with its own declare function and help text. Values
// are checked where they are declared (ranges, finite numbers, non-empty
// paths), and every usage error becomes one line naming the option.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "calibration.hpp"
#include "identification.hpp"
#include "peak_decisions.hpp"
#include "quantitation.hpp"
#include "targets.hpp"

namespace vx::host::cli {

enum class Command {
  kHelp, kVersion, kList, kRun, kChain, kBatch, kMerge, kInputs, kConvert, kLadder, kSearch
};

// One parameter or input of `vxrun run`, in slot order.
struct StepArgument {
  enum class Source { kText, kNumber, kFile };  // -p/-I, -n, -i
  Source source = Source::kText;
  std::string text;     // kText: the value; kFile: the path
  double number = 0.0;  // kNumber
};

struct RunOptions {
  std::string step;  // a step name or a full IRI
  std::vector<StepArgument> params;
  std::vector<StepArgument> inputs;
  uint64_t outputs = 3;  // -o
  std::string out_dir;   // -d: output slot k goes to DIR/output_k.json
};

// batch: quantitation from a sample list (all optional).
struct QuantOptions {
  std::string samples_file;            // --samples
  std::string quant_path;              // --quant: TSV
  std::string quant_jsonl_path;        // --quant-jsonl
  std::string calibration_path;        // --calibration: TSV
  std::string calibration_jsonl_path;  // --calibration-jsonl
  std::string plot_dir;                // --cal-plots
  quant::CalibrationSettings calibration;     // --model, --weighting, --through-origin
  double blank_threshold_percent = 20.0;
  std::string amount_unit;        // --amount-unit: shown with every concentration
  double qc_limit_percent = 20.0;  // --qc-limits: QC accuracy within 100 ± this
  // --istd-limits LO,HI: an internal standard's area within these % of its
  // mean in the standards (the quantitation's defaults until given).
  double istd_low_percent = quant::QuantSettings{}.istd_low_percent;
  double istd_high_percent = quant::QuantSettings{}.istd_high_percent;
  quant::ResponseSource response = quant::ResponseSource::kArea;  // --response
  bool settings_given = false;  // any option that only matters with an output

  [[nodiscard]] bool wanted() const {
    return !quant_path.empty() || !quant_jsonl_path.empty() || !calibration_path.empty() ||
           !calibration_jsonl_path.empty() || !plot_dir.empty();
  }
};

// chain, batch and merge: identification against the sequence's references.
struct IdentificationOptions {
  ident::IdentificationCriteria criteria;  // --rt-id-tol, --ratio-tol
  bool given = false;                      // either option was given
  std::string ladder_file;                 // --ladder: carbon and rt of each alkane
  // --library FILE.msp: a mass spectral library (a --library that does not
  // end in .msp is the step library); --min-match sets criteria.min_match.
  std::string msp_file;
};

// The option that sets QuantOptions::istd_low_percent/istd_high_percent.
inline constexpr std::string_view kIstdLimitsOption = "--istd-limits";

// "LO,HI" as two percentages with 0 <= LO < HI; nullopt for anything else.
std::optional<std::pair<double, double>> parse_percent_range(std::string_view text);

// A --library value that names a mass spectral library, not the steps.
bool is_msp_path(std::string_view path);

// ladder: the alkanes of a ladder run.
struct LadderOptions {
  int first_carbon = 0;    // --first C8
  double ion = 57.0;       // --ion
  std::string out_path;    // -o ("" or "-": standard output)
};

// search: the library's best matches of one peak.
struct SearchOptions {
  int64_t top = 10;  // --top
};

struct CliOptions {
  Command command = Command::kHelp;
  std::string help_topic;  // kHelp: "" (overview) or a command name
  std::string library;     // --library PATH (the step library)

  // chain and batch
  std::vector<std::string> inputs;  // input files: chain exactly one; batch, inputs any
  std::vector<std::string> parts;   // merge: the result tables of earlier runs
  std::vector<std::string> stray;   // list, version: arguments they do not take
  std::optional<double> mz;
  std::optional<double> rt;
  tables::TargetDefaults defaults;
  bool mz_tol_given = false;
  std::string targets_file;
  unsigned jobs = 0;                 // -j; 0 = one per core
  std::string plot_dir;              // --plot
  std::string out_dir;               // chain --out
  std::string table_path;            // batch, merge --table ("" or "-": standard output)
  std::string jsonl_path;            // batch, merge --jsonl
  std::string parts_list;            // merge --list: part paths, one per line
  std::string report_path;           // --report: the HTML report
  bool quiet = false;                // no progress, no per-file lines
  std::optional<bool> progress_bar;  // --progress / --no-progress
  QuantOptions quant;                // batch, merge
  std::string measurements_path;     // batch --measurements: qualifier fits, JSON Lines
  std::vector<std::string> measurement_parts;  // merge --measurements (repeatable)
  std::string measurements_list;  // merge --measurements-list: more of them, one per line
  peaks::DecisionOptions decisions;  // chain, batch: --min-sn, --min-points, --deconvolve

  RunOptions run;  // run
  std::string review_path;  // batch, merge --review: the analyst's decisions
  std::string convert_output;  // convert -o: the indexed mzML to write
  IdentificationOptions identification;  // chain, batch, merge
  LadderOptions ladder;                  // ladder
  SearchOptions search;                  // search
};

struct CliParse {
  CliOptions options;
  std::string error;  // non-empty: a usage error (one line) to print with the usage
};

// args excludes the program name. Options may come in any order after the
// command, as "--opt value" or "--opt=value" (short ones also as "-j2");
// "--" ends the options. --library, --help and --version are accepted before
// or after the command.
CliParse parse_command_line(std::span<const std::string_view> args);

// The usage text of a command ("" for the overview); empty for an unknown one.
std::string_view usage_text(std::string_view command);

// Quantitation runs when one of its outputs is asked for, or when a report
// is and a sample list is given (the report then shows the curves and the
// concentrations). Only commands that declare the options can see it true.
bool quantitation_requested(const CliOptions& o);

// Identification runs with a sample list (its standards give the
// references) or when a criterion is given; otherwise the identification
// cells stay empty.
bool identification_requested(const CliOptions& o);

// Every option name a command accepts ("--mz", "-j", ...), global ones left
// out: each must appear in the command's usage text.
std::vector<std::string> command_option_names(std::string_view command);

}  // namespace vx::host::cli
