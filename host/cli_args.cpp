// Options may come in any order after the command, as "--opt value" or
// "--opt=value"; "--" ends the options. --library, --help and --version are
// accepted before or after the command.
#include "cli_args.hpp"

#include <array>
#include <cmath>

#include "number_text.hpp"

namespace vx::host {
namespace {

constexpr std::string_view kOverview =
    "usage: vxrun [--library PATH] COMMAND [options]\n"
    "\n"
    "Runs the steps of the vx_velloran_steps library: the GC-MS chain\n"
    "(mzML ingestion -> selected-ion trace -> Gaussian fit) on one file or on\n"
    "batches of files, or any single step.\n"
    "\n"
    "commands:\n"
    "  chain FILE --mz MZ --rt RT    run the chain on one file and print the fit\n"
    "  batch INPUTS... --targets T   run the chain on many files in parallel: table + "
    "plots\n"
    "  list                          list the steps (IRI and contract digest)\n"
    "  run STEP [options]            call one step with given parameters and inputs\n"
    "  help [COMMAND]                this text, or a command's options\n"
    "\n"
    "global options:\n"
    "  --library PATH   the step library; else $VX_STEPS_LIBRARY, else\n"
    "                   vx_velloran_steps.so beside vxrun, else the installed plugin\n"
    "  --version        host and library versions and the step IRIs\n"
    "  -h, --help       help (after a command: that command's help)\n"
    "\n"
    "exit codes:\n"
    "  0   every file was processed (also when a fit found no peak: see the table)\n"
    "  1   at least one file or target was not processed: missing, unusable,\n"
    "      malformed, no spectra, or a step returned a non-zero status; the\n"
    "      table and the messages say which and why\n"
    "  64  usage error (unknown option, missing or invalid value)\n"
    "  65  the targets table is malformed\n"
    "  66  the targets table cannot be read\n"
    "  69  the step library cannot be loaded or lacks a step\n"
    "  70  internal error\n"
    "  73  an output (table, plot, document) cannot be written\n"
    "  run: the step's own status (0 ok, 1 host error, 2 invalid input, ...)\n";

constexpr std::string_view kChainUsage =
    "usage: vxrun chain FILE.mzML --mz MZ --rt RT [options]\n"
    "       vxrun chain FILE.mzML --targets TARGETS.tsv [options]\n"
    "\n"
    "Runs ingestion -> trace -> fit on one file and prints a summary per\n"
    "target: fit status, retention time, height, width (sigma), area,\n"
    "baseline, r-squared and the diagnostics flags.\n"
    "\n"
    "options:\n"
    "  --mz MZ            target m/z\n"
    "  --rt RT            target retention time, minutes\n"
    "  --mz-tol DA        m/z tolerance in daltons (default 0.5)\n"
    "  --exact            exact m/z match instead of the tolerance window\n"
    "  --rt-tol MIN       half-width of the fit window, minutes (default 0.3)\n"
    "  --max-iter N       solver iteration limit, 1..10000 (default 100)\n"
    "  --targets FILE     many targets from a TSV/CSV table (see 'vxrun help batch');\n"
    "                     the file is read once\n"
    "  --out DIR          write the seven documents: ingestion_spectra.json,\n"
    "                     ingestion_chromatograms.json, ingestion_run_summary.json\n"
    "                     (or ingestion_diagnostics.json), trace.json,\n"
    "                     trace_diagnostics.json, fit_result.json,\n"
    "                     fit_diagnostics.json; with --targets the last four go to\n"
    "                     DIR/<target>/\n"
    "  --plot DIR         write an SVG per target\n"
    "  --report FILE      write an HTML report of the run (one self-contained file)\n"
    "  -j N               threads for the targets (default: one per core)\n"
    "\n"
    "exit code: 0 when the file was processed, 1 when it was not (the summary\n"
    "says why), 64/65/66/69/73 as listed in 'vxrun --help'.\n";

constexpr std::string_view kBatchUsage =
    "usage: vxrun batch INPUTS... (--targets TARGETS | --mz MZ --rt RT) [options]\n"
    "\n"
    "Runs the chain on every file: each file is read once, then every target\n"
    "is traced and fitted. Writes one table with a row per file and target,\n"
    "sorted by file, then by the targets' order.\n"
    "\n"
    "INPUTS are files, folders (their *.mzML and *.mzML.gz entries, not\n"
    "recursive) or quoted glob patterns such as 'data/*.mzML'.\n"
    "\n"
    "options:\n"
    "  --targets FILE     targets table, TSV or CSV with a header row: name, mz,\n"
    "                     rt and optionally mz_tol, rt_tol, exact, max_iter\n"
    "                     (empty cells take the defaults below)\n"
    "  --mz MZ --rt RT    a single target instead of a table\n"
    "  --mz-tol DA        default m/z tolerance (0.5)\n"
    "  --exact            default to exact m/z matching\n"
    "  --rt-tol MIN       default fit window half-width (0.3)\n"
    "  --max-iter N       default iteration limit (100)\n"
    "  -j N, --jobs N     worker threads (default: one per core)\n"
    "  --table FILE       write the TSV table to FILE (default: standard output)\n"
    "  --jsonl FILE       also write the rows as JSON Lines\n"
    "  --plot DIR         one SVG per file and target: trace points, fitted\n"
    "                     curve, baseline and the fit values\n"
    "  --report FILE      one self-contained HTML report: summary, a files x\n"
    "                     targets matrix with each cell's trace and fit, sortable\n"
    "                     per-target tables with drift and area plots, and the\n"
    "                     files not processed\n"
    "  --progress         progress bar on stderr even when it is not a terminal\n"
    "  --no-progress      no progress bar; one line per file on stderr\n"
    "  -q, --quiet        nothing on stderr but errors\n"
    "\n"
    "table columns: file, target, mz, rt, status, spectra, trace_points,\n"
    "max_intensity, fit_status, retention_time, height, width, area, baseline,\n"
    "r_squared, iterations, flags, message. status is ok, no_spectra,\n"
    "file_not_found, unsupported_encoding, malformed_number, no_mzml_files or\n"
    "step_failed; flags lists every diagnostics flag that was true.\n"
    "\n"
    "exit code: 0 when every file was processed, 1 when at least one was not\n"
    "(its rows say why; the batch still completes), 64/65/66/69/73 as listed\n"
    "in 'vxrun --help'.\n";

constexpr std::string_view kListUsage =
    "usage: vxrun list\n"
    "\n"
    "Prints the IRI and contract digest of every step of the library.\n";

constexpr std::string_view kRunUsage =
    "usage: vxrun run STEP [options]\n"
    "\n"
    "Calls one step. STEP is a step name (e.g. OperationStepDemo) or a full IRI.\n"
    "\n"
    "options (repeatable, in slot order):\n"
    "  -p TEXT     a text parameter\n"
    "  -n NUMBER   a Float64 parameter\n"
    "  -i FILE     an input whose text is the file's bytes\n"
    "  -I TEXT     an input given as text\n"
    "  -o N        number of output slots (default 3)\n"
    "  -d DIR      write output slot k to DIR/output_k.json instead of stdout\n"
    "\n"
    "exit code: the step's status (0 ok, 1 host error, 2 invalid input, or the\n"
    "host's own code), 64 for a usage error, 66 for an unreadable input file.\n";

struct Topic {
  std::string_view name;
  std::string_view text;
};
constexpr std::array<Topic, 5> kTopics{{{"", kOverview},
                                        {"chain", kChainUsage},
                                        {"batch", kBatchUsage},
                                        {"list", kListUsage},
                                        {"run", kRunUsage}}};

std::optional<Command> command_of(std::string_view word) {
  if (word == "chain") return Command::kChain;
  if (word == "batch") return Command::kBatch;
  if (word == "list") return Command::kList;
  if (word == "run") return Command::kRun;
  if (word == "help") return Command::kHelp;
  if (word == "version") return Command::kVersion;
  return std::nullopt;
}

class Reader {
 public:
  explicit Reader(std::span<const std::string_view> args) : args_(args) {}
  [[nodiscard]] bool done() const { return i_ >= args_.size(); }
  std::string_view next() { return args_[i_++]; }

  // The value of an option: after '=' in the same word, else the next word.
  std::optional<std::string_view> value(std::optional<std::string_view> inline_value) {
    if (inline_value) return inline_value;
    if (done()) return std::nullopt;
    return next();
  }

 private:
  std::span<const std::string_view> args_;
  std::size_t i_ = 0;
};

}  // namespace

std::string_view usage_text(std::string_view command) {
  for (const Topic& t : kTopics) {
    if (t.name == command) return t.text;
  }
  return {};
}

CliParse parse_command_line(std::span<const std::string_view> args) {
  CliParse out;
  CliOptions& o = out.options;
  Reader r(args);
  bool have_command = false;
  bool help = false;
  bool version = false;
  bool options_ended = false;
  const auto fail = [&](std::string message) {
    out.error = std::move(message);
    return out;
  };

  while (!r.done()) {
    std::string_view arg = r.next();
    if (have_command && o.command == Command::kRun) {
      // run keeps its own small option language; only help is looked at.
      if (arg == "-h" || arg == "--help") {
        help = true;
      } else {
        o.run_args.emplace_back(arg);
      }
      continue;
    }
    const bool is_option = !options_ended && arg.size() > 1 && arg.front() == '-';
    if (!is_option) {
      if (!have_command) {
        const auto c = command_of(arg);
        if (!c) return fail("unknown command '" + std::string(arg) + "'");
        o.command = *c;
        have_command = true;
        if (*c == Command::kHelp && !r.done()) {
          o.help_topic = r.next();
          if (usage_text(o.help_topic).empty()) {
            return fail("no help for '" + o.help_topic + "'");
          }
        }
        continue;
      }
      o.inputs.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    std::optional<std::string_view> inline_value;
    std::string_view name = arg;
    if (arg.starts_with("--")) {
      if (const auto eq = arg.find('='); eq != std::string_view::npos) {
        name = arg.substr(0, eq);
        inline_value = arg.substr(eq + 1);
      }
    } else if (arg.starts_with("-j") && arg.size() > 2) {
      name = "-j";
      inline_value = arg.substr(2);
    }
    const auto text_value = [&]() -> std::optional<std::string> {
      const auto v = r.value(inline_value);
      if (!v || v->empty()) return std::nullopt;
      return std::string(*v);
    };
    const auto number_value = [&]() -> std::optional<double> {
      const auto v = r.value(inline_value);
      if (!v) return std::nullopt;
      const auto d = parse_double(*v);
      if (!d || !std::isfinite(*d)) return std::nullopt;
      return d;
    };
    const auto flag = [&]() { return !inline_value; };
    const auto need = [&](std::string_view what) {
      return fail(std::string(name) + " needs " + std::string(what));
    };

    if (name == "-h" || name == "--help") {
      help = true;
    } else if (name == "--version" || name == "-V") {
      version = true;
    } else if (name == "--library") {
      const auto v = text_value();
      if (!v) return need("a path");
      o.library = *v;
    } else if (!have_command ||
               (o.command != Command::kChain && o.command != Command::kBatch)) {
      return fail("unknown option " + std::string(name) +
                  (have_command ? " for this command" : ""));
    } else if (name == "--mz") {
      o.mz = number_value();
      if (!o.mz) return need("a number");
    } else if (name == "--rt") {
      o.rt = number_value();
      if (!o.rt) return need("a number");
    } else if (name == "--mz-tol") {
      const auto v = number_value();
      if (!v || *v < 0) return need("a number of 0 or more");
      o.defaults.mz_tol = *v;
      o.mz_tol_given = true;
    } else if (name == "--rt-tol") {
      const auto v = number_value();
      if (!v || *v < 0) return need("a number of 0 or more");
      o.defaults.rt_tol = *v;
    } else if (name == "--exact") {
      if (!flag()) return fail("--exact takes no value");
      o.defaults.exact = true;
    } else if (name == "--max-iter") {
      const auto v = r.value(inline_value);
      const auto n = v ? parse_integer(*v) : std::nullopt;
      if (!n || *n < 1 || *n > kMaxIterationLimit)
        return need("a whole number from 1 to 10000");
      o.defaults.max_iter = *n;
    } else if (name == "--targets") {
      const auto v = text_value();
      if (!v) return need("a file");
      o.targets_file = *v;
    } else if (name == "-j" || name == "--jobs") {
      const auto v = r.value(inline_value);
      const auto n = v ? parse_integer(*v) : std::nullopt;
      if (!n || *n < 0 || *n > 1024)
        return need("a thread count from 0 (one per core) to 1024");
      o.jobs = static_cast<unsigned>(*n);
    } else if (name == "--plot") {
      const auto v = text_value();
      if (!v) return need("a folder");
      o.plot_dir = *v;
    } else if (name == "--report") {
      const auto v = text_value();
      if (!v) return need("a file");
      o.report_path = *v;
    } else if (name == "--out" && o.command == Command::kChain) {
      const auto v = text_value();
      if (!v) return need("a folder");
      o.out_dir = *v;
    } else if (name == "--table" && o.command == Command::kBatch) {
      const auto v = text_value();
      if (!v) return need("a file");
      o.table_path = *v;
    } else if (name == "--jsonl" && o.command == Command::kBatch) {
      const auto v = text_value();
      if (!v) return need("a file");
      o.jsonl_path = *v;
    } else if ((name == "--quiet" || name == "-q") && o.command == Command::kBatch) {
      o.quiet = true;
    } else if (name == "--progress" && o.command == Command::kBatch) {
      o.progress_bar = true;
    } else if (name == "--no-progress" && o.command == Command::kBatch) {
      o.progress_bar = false;
    } else {
      return fail("unknown option " + std::string(name));
    }
  }

  if (help) {
    if (have_command) {
      switch (o.command) {
        case Command::kChain:
          o.help_topic = "chain";
          break;
        case Command::kBatch:
          o.help_topic = "batch";
          break;
        case Command::kList:
          o.help_topic = "list";
          break;
        case Command::kRun:
          o.help_topic = "run";
          break;
        case Command::kHelp:
          break;
        case Command::kVersion:
          o.help_topic.clear();
          break;
      }
    }
    o.command = Command::kHelp;
    return out;
  }
  if (version) {
    o.command = Command::kVersion;
    return out;
  }
  if (!have_command) return fail("no command given");

  if (o.command == Command::kChain || o.command == Command::kBatch) {
    const bool single = o.mz || o.rt;
    if (!o.targets_file.empty() && single)
      return fail("give either --targets or --mz and --rt");
    if (o.targets_file.empty() && !(o.mz && o.rt)) {
      return fail("give --mz and --rt, or --targets");
    }
    if (o.defaults.exact && o.mz_tol_given)
      return fail("--exact and --mz-tol exclude each other");
    if (o.command == Command::kChain && o.inputs.size() != 1) {
      return fail("chain takes exactly one file");
    }
    if (o.command == Command::kBatch && o.inputs.empty()) {
      return fail("batch needs input files");
    }
    if (o.jsonl_path == "-" && (o.table_path.empty() || o.table_path == "-")) {
      return fail("--jsonl - needs --table FILE: both cannot go to standard output");
    }
    if (single) {
      if (const auto p = target_problem(make_target("", *o.mz, *o.rt, o.defaults))) {
        return fail(*p);
      }
    }
  } else if (o.command == Command::kList && !o.inputs.empty()) {
    return fail("list takes no arguments");
  } else if (o.command == Command::kVersion && !o.inputs.empty()) {
    return fail("version takes no arguments");
  }
  return out;
}

}  // namespace vx::host
