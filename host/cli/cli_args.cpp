// The command line is declared on CLI11, one declare function per command;
// the help texts are written by hand below (they explain more than a list of
// options could) and a test checks that each lists every option. CLI11's own
// messages are turned into one line that names the option and what it needs,
// taken from the option's description.
#include "cli_args.hpp"

#include <CLI/CLI.hpp>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <map>

#include "number_text.hpp"

namespace vx::host::cli {

using base::parse_double;
using base::parse_integer;
using tables::kMaxIterationLimit;
using tables::make_target;
using tables::target_problem;
using quant::parse_model;
using quant::parse_weighting;

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
    "  merge PARTS... --table T      join the batch tables of parts of a sequence\n"
    "  inputs INPUTS...              list the files batch would read for INPUTS\n"
    "  convert FILE.cdf -o OUT.mzML  write an ANDI-MS netCDF file as indexed mzML\n"
    "  ladder FILE --first C8        find an n-alkane ladder's peaks: carbon and rt\n"
    "  search FILE --mz MZ --rt RT --library LIB.msp  a peak's best library matches\n"
    "  list                          list the steps (IRI and contract digest)\n"
    "  run STEP [options]            call one step with given parameters and inputs\n"
    "  help [COMMAND]                this text, or a command's options\n"
    "\n"
    "global options:\n"
    "  --library PATH   the step library; else $VX_STEPS_LIBRARY, else\n"
    "                   vx_velloran_steps.so beside vxrun, else the installed plugin\n"
    "                   (a PATH ending in .msp is a mass spectral library instead,\n"
    "                   see 'vxrun help batch')\n"
    "  --version        host and library versions and the step IRIs\n"
    "  -h, --help       help (after a command: that command's help)\n"
    "\n"
    "exit codes:\n"
    "  0   every file was processed (also when a fit found no peak: see the table)\n"
    "  1   at least one file or target was not processed: missing, unusable,\n"
    "      malformed, no spectra, or a step returned a non-zero status; the\n"
    "      table and the messages say which and why\n"
    "  64  usage error (unknown option, missing or invalid value)\n"
    "  65  the targets table or the sample list is malformed (merge: a part is damaged;\n"
    "      also a damaged ladder or spectral library, a missing library entry, a\n"
    "      target's retention index outside the ladder)\n"
    "  66  the targets table or the sample list cannot be read (merge: a part cannot be read;\n"
    "      also the ladder or the spectral library)\n"
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
    "  --min-sn X         a fit is detected only when its height is at least X\n"
    "                     noise SDs (default 5)\n"
    "  --min-points N     ... and at least N trace points lie within 2 sigma of\n"
    "                     its center (default 7)\n"
    "  --deconvolve       on a coelution, fit two peaks and report the target\n"
    "                     component's area (column component_area)\n"
    "\n"
    "identification (see README, Identification):\n"
    "  --rt-id-tol MIN    largest |rt - rt_reference| of an identified peak (0.1)\n"
    "  --ratio-tol PCT    largest qualifier ratio deviation, % of the reference\n"
    "                     ratio (30)\n"
    "  --ladder FILE      the alkane ladder (vxrun ladder, or carbon and rt by\n"
    "                     hand): every row gains retention_index, and targets\n"
    "                     may give ri (and ri_tol, default 10) instead of rt\n"
    "  --library FILE.msp a mass spectral library (NIST MSP text): each peak's\n"
    "                     background-subtracted apex spectrum is scored against\n"
    "                     its target's entry (library_name, else name; '-' for\n"
    "                     none): columns match_score and reverse_match\n"
    "  --min-match N      flag spectrum_mismatch below this score (700)\n"
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
    "                     files not processed; with --samples also the\n"
    "                     calibrations and the concentrations\n"
    "  --progress         progress bar on stderr even when it is not a terminal\n"
    "  --no-progress      no progress bar; one line per file on stderr\n"
    "  -q, --quiet        nothing on stderr but errors\n"
    "  --min-sn X         a fit is detected only when its height is at least X\n"
    "                     noise SDs (default 5)\n"
    "  --min-points N     ... and at least N trace points lie within 2 sigma of\n"
    "                     its center (default 7)\n"
    "  --deconvolve       on a coelution, fit two peaks and report the target\n"
    "                     component's area (column component_area)\n"
    "\n"
    "quantitation (targets columns qualifiers, qualifier_tol, mz_tol_ppm, istd):\n"
    "  --samples FILE     sample list, TSV or CSV: file, type (standard, sample,\n"
    "                     blank, qc) and amounts, either as target + amount\n"
    "                     columns or one column per target name\n"
    "  --quant FILE       concentrations, one row per file and target (TSV)\n"
    "  --quant-jsonl FILE the same rows as JSON Lines\n"
    "  --calibration FILE the curves, one row per target and standard (TSV)\n"
    "  --calibration-jsonl FILE  the same as JSON Lines\n"
    "  --cal-plots DIR    one calibration SVG per target\n"
    "  --model M          linear (default) or quadratic\n"
    "  --weighting W      none, 1/x (default) or 1/x2\n"
    "  --through-origin   no intercept\n"
    "  --blank-threshold PCT  flag blanks whose response exceeds PCT % of the\n"
    "                     lowest level's mean response (20)\n"
    "  --response R       area (the fitted area, default), integrated_area or\n"
    "                     height; a not_detected row never has a response\n"
    "  --measurements FILE  the qualifier ions' fits, one JSON line per file and\n"
    "                     target: what 'vxrun merge --samples' needs besides the\n"
    "                     table to quantitate parts of a sequence\n"
    "  --amount-unit U    the unit of the amounts (ng/mL, ...), written in every\n"
    "                     concentration header of the report\n"
    "  --qc-limits PCT    QC accuracy limit in the report: 100 +- PCT % (20)\n"
    "  --istd-limits LO,HI  an internal standard's area must lie within LO..HI %\n"
    "                     of its mean in the standards, else istd_out_of_range\n"
    "                     (50,150)\n"
    "  --review FILE      the analyst's decisions (review.tsv exported from the\n"
    "                     report): rejected peaks are not detected, manual\n"
    "                     integrations become the integrated area and the\n"
    "                     response; rows say so (review)\n"
    "\n"
    "identification (with --samples or either option; the references\n"
    "are the means over the standards):\n"
    "  --rt-id-tol MIN    largest |rt - rt_reference| of an identified peak (0.1)\n"
    "  --ratio-tol PCT    largest qualifier ratio deviation, % of the reference\n"
    "                     ratio (30)\n"
    "  --ladder FILE      the alkane ladder (vxrun ladder, or carbon and rt by\n"
    "                     hand): every row gains retention_index, and targets\n"
    "                     may give ri (and ri_tol, default 10) instead of rt\n"
    "  --library FILE.msp a mass spectral library (NIST MSP text): each peak's\n"
    "                     background-subtracted apex spectrum is scored against\n"
    "                     its target's entry (library_name, else name; '-' for\n"
    "                     none): columns match_score and reverse_match\n"
    "  --min-match N      flag spectrum_mismatch below this score (700)\n"
    "\n"
    "table columns: file, target, mz, rt, status, spectra, trace_points,\n"
    "max_intensity, fit_status, retention_time, height, width, area, baseline,\n"
    "r_squared, iterations, flags, message, review, review_digest,\n"
    "signal_to_noise, detection, integrated_area, peak_start, peak_end, asymmetry,\n"
    "component_area (see the README's \"Peak decisions\"), rt_reference, rt_shift,\n"
    "reference_ratios, identified, identification_flags, retention_index,\n"
    "match_score, reverse_match. status is ok,\n"
    "no_spectra, file_not_found, unsupported_encoding, incomplete_file,\n"
    "malformed_number, no_mzml_files, step_failed, empty_file, no_mass_spectra or\n"
    "inconsistent_file; flags lists every diagnostics flag that was true\n"
    "(rt_outside_run: the target's window misses the run; numbers empty).\n"
    "INPUTS may be .mzML, .mzML.gz and ANDI-MS netCDF .cdf files.\n"
    "\n"
    "exit code: 0 when every file was processed, 1 when at least one was not\n"
    "(its rows say why; the batch still completes), 64/65/66/69/73 as listed\n"
    "in 'vxrun --help'.\n";

constexpr std::string_view kMergeUsage =
    "usage: vxrun merge PARTS... [--list FILE] [--table T] [--jsonl J]\n"
    "                   [--targets T [--report R [--plot DIR]]\n"
    "                    [--samples S --quant Q ... --measurements M...]]\n"
    "\n"
    "Joins results tables that 'vxrun batch' wrote for parts of a sequence\n"
    "(one per file when a workflow engine runs each file as its own job) into\n"
    "the table one batch over all those files writes: the same bytes, rows\n"
    "sorted by file, each file's rows in its targets' order. With the targets\n"
    "table the parts were made with, it also writes the report and the\n"
    "quantitation that batch writes for the same files.\n"
    "\n"
    "options:\n"
    "  --list FILE        more part paths, one per line (for more parts than a\n"
    "                     command line holds)\n"
    "  --table FILE       write the TSV table to FILE (default: standard output)\n"
    "  --jsonl FILE       also write the rows as JSON Lines\n"
    "  -q, --quiet        nothing on stderr but errors\n"
    "  --targets FILE     the parts' targets table (for --report and quantitation)\n"
    "  --report FILE      the HTML report of the merged rows: values and flags of\n"
    "                     every cell; no traces (the runs are gone)\n"
    "  --plot DIR         the folder of the batch plots, linked from the report\n"
    "\n"
    "quantitation, as 'vxrun batch' does it (see 'vxrun help batch'):\n"
    "  --samples, --quant, --quant-jsonl, --calibration, --calibration-jsonl,\n"
    "  --cal-plots, --model, --weighting, --through-origin, --blank-threshold,\n"
    "  --response, each as in batch\n"
    "  --measurements FILE  a part's qualifier fits (batch --measurements);\n"
    "                     repeatable, one per table part; needed when a target\n"
    "                     has qualifier ions\n"
    "  --measurements-list FILE  more of them, one path per line\n"
    "  --amount-unit U, --qc-limits PCT, --istd-limits LO,HI  as in batch\n"
    "  --review FILE      the analyst's decisions: rejections, and manual\n"
    "                     integrations the parts' batch already made with the\n"
    "                     same bounds (any other needs the traces: give it to\n"
    "                     batch)\n"
    "  --rt-id-tol, --ratio-tol, --ladder, --min-match  identification, as in\n"
    "                     batch\n"
    "\n"
    "exit code: 0 when every file of the parts was processed, 1 when at least\n"
    "one was not (as the batch would say), 64 usage error, 65 a part is not a\n"
    "complete vxrun table (another header, a damaged row, a last line cut\n"
    "short, a file already in another part), a measurement part is damaged or\n"
    "does not match the table parts, the rows do not follow the targets table,\n"
    "or the targets table or sample list is malformed, 66 a part, a list, the\n"
    "targets table or the sample list cannot be read, 73 an output cannot be\n"
    "written. Every error names the part.\n";

constexpr std::string_view kInputsUsage =
    "usage: vxrun inputs INPUTS...\n"
    "\n"
    "Prints, one per line, the inputs 'vxrun batch' would read for the same\n"
    "INPUTS (files, folders, quoted glob patterns), in its order: sorted by\n"
    "path, without duplicates. A folder without .mzML, .mzML.gz or .cdf files and a\n"
    "pattern that matches nothing are printed as given: batch gives them rows\n"
    "that say so. Workflow engines use it to split a sequence into jobs.\n"
    "\n"
    "exit code: 0, or 64 when no INPUTS are given.\n";

constexpr std::string_view kConvertUsage =
    "usage: vxrun convert FILE.cdf -o OUT.mzML\n"
    "\n"
    "Writes an ANDI-MS (AIA) netCDF file as indexed mzML with zlib-compressed\n"
    "64-bit arrays, for tools that read only mzML. The chain reads .cdf files\n"
    "directly; converting is not needed for vxrun.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE   the mzML file to write (its folder must exist)\n"
    "\n"
    "exit code: 0, 1 the file is not a usable ANDI-MS file (the message says\n"
    "why), 64 usage error, 73 the output cannot be written.\n";
constexpr std::string_view kLadderUsage =
    "usage: vxrun ladder ALKANES.mzML --first CN [--ion MZ] [--mz-tol DA] [-o FILE]\n"
    "\n"
    "Finds the n-alkane peaks of a ladder run in the trace of one ion and\n"
    "numbers them from the first alkane that elutes. Writes the ladder table\n"
    "(carbon, rt in minutes) that --ladder reads; a hand-written table with\n"
    "the same two columns works as well. Missing alkanes, extra peaks and\n"
    "irregular gaps are reported on stderr.\n"
    "\n"
    "options:\n"
    "  --first CN         carbon number of the first alkane (C8 or 8), 1..200\n"
    "  --ion MZ           the ion to trace (default 57; 71 and 85 also suit)\n"
    "  --mz-tol DA        m/z tolerance in daltons (default 0.5)\n"
    "  -o, --output FILE  the ladder table (default: standard output)\n"
    "  -q, --quiet        no summary line on stderr (warnings still)\n"
    "\n"
    "exit code: 0 with a ladder of two or more alkanes, 1 when fewer were\n"
    "found, 64/66/69/73 as listed in 'vxrun --help'.\n";

constexpr std::string_view kSearchUsage =
    "usage: vxrun search FILE.mzML --mz MZ --rt RT --library LIB.msp [options]\n"
    "\n"
    "Fits the peak of ion MZ near RT in a full-scan run, takes its\n"
    "background-subtracted apex spectrum and scores it against every entry of\n"
    "the library. Prints the best matches, best first: rank, name,\n"
    "match_score, reverse_match (0..999) and the entry's retention index.\n"
    "\n"
    "options:\n"
    "  --mz MZ --rt RT    the peak: an ion of it and its retention time (min)\n"
    "  --mz-tol DA        m/z tolerance in daltons (default 0.5)\n"
    "  --rt-tol MIN       half-width of the fit window, minutes (default 0.3)\n"
    "  --library LIB.msp  the mass spectral library (NIST MSP text)\n"
    "  --top N            how many matches to print (default 10)\n"
    "\n"
    "exit code: 0 when the peak was fitted and scored, 1 when the file could\n"
    "not be used or no peak was fitted, 64/65/66/69 as listed in 'vxrun --help'.\n";

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
constexpr std::array<Topic, 10> kTopics{{{"", kOverview},
                                        {"search", kSearchUsage},
                                        {"ladder", kLadderUsage},
                                        {"chain", kChainUsage},
                                        {"batch", kBatchUsage},
                                        {"merge", kMergeUsage},
                                        {"inputs", kInputsUsage},
                                        {"list", kListUsage},
                                        {"run", kRunUsage},
                                        {"convert", kConvertUsage}}};

// ---- values ----------------------------------------------------------------

// CLI11 runs these on the raw text before any callback sees it; a refusal
// becomes "OPTION needs DESCRIPTION". Numbers are read with number_text
// (locale-free), never with CLI11's own conversions.
CLI::Validator accept_if(std::function<bool(const std::string&)> ok) {
  return {
      [ok = std::move(ok)](std::string& v) { return ok(v) ? "" : std::string("bad"); },
      ""};
}

CLI::Validator finite_from(double lo) {
  return accept_if([lo](const std::string& v) {
    const auto d = parse_double(v);
    return d && std::isfinite(*d) && *d >= lo;
  });
}

CLI::Validator whole_from_to(int64_t lo, int64_t hi) {
  return accept_if([lo, hi](const std::string& v) {
    const auto n = parse_integer(v);
    return n && *n >= lo && *n <= hi;
  });
}

const CLI::Validator& non_empty() {
  static const CLI::Validator kNonEmpty =
      accept_if([](const std::string& v) { return !v.empty(); });
  return kNonEmpty;
}

constexpr double kAny = -std::numeric_limits<double>::infinity();

// An option with one value; `needs` is what the usage error says it needs.
CLI::Option* value_option(CLI::App& cmd, const std::string& names, std::string needs,
                          std::function<void(const std::string&)> store) {
  return cmd.add_option_function<std::string>(names, std::move(store), std::move(needs))
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::Option* path_option(CLI::App& cmd, const std::string& names, std::string needs,
                         std::string& into) {
  return value_option(cmd, names, std::move(needs),
                      [&into](const std::string& v) { into = v; })
      ->check(non_empty());
}

CLI::Option* number_option(CLI::App& cmd, const std::string& names, std::string needs,
                           double lo, std::function<void(double)> store) {
  return value_option(cmd, names, std::move(needs),
                      [store = std::move(store)](const std::string& v) {
                        store(*parse_double(v));
                      })
      ->check(finite_from(lo));
}

CLI::Option* whole_option(CLI::App& cmd, const std::string& names, std::string needs,
                          int64_t lo, int64_t hi, std::function<void(int64_t)> store) {
  return value_option(cmd, names, std::move(needs),
                      [store = std::move(store)](const std::string& v) {
                        store(*parse_integer(v));
                      })
      ->check(whole_from_to(lo, hi));
}

CLI::Option* flag(CLI::App& cmd, const std::string& names, std::function<void()> set) {
  return cmd.add_flag_callback(names, std::move(set))->disable_flag_override();
}

// ---- the commands ----------------------------------------------------------

// The peak decision of every target's fit (chain and batch).
void declare_decision_options(CLI::App& cmd, peaks::DecisionOptions& d) {
  number_option(cmd, "--min-sn", "a number of 0 or more", 0.0,
                [&d](double v) { d.min_sn = v; });
  whole_option(cmd, "--min-points", "a whole number from 1 to 10000", 1, 10000,
               [&d](int64_t n) { d.min_points = static_cast<int>(n); });
  flag(cmd, "--deconvolve", [&d] { d.deconvolve = true; });
}

// What chain and batch share: the targets and their defaults, plots, the
// report, threads, the peak decisions.
void declare_target_options(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("inputs", o.inputs)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  number_option(cmd, "--mz", "a number", kAny, [&o](double v) { o.mz = v; });
  number_option(cmd, "--rt", "a number", kAny, [&o](double v) { o.rt = v; });
  CLI::Option* mz_tol =
      number_option(cmd, "--mz-tol", "a number of 0 or more", 0.0, [&o](double v) {
        o.defaults.mz_tol = v;
        o.mz_tol_given = true;
      });
  number_option(cmd, "--rt-tol", "a number of 0 or more", 0.0,
                [&o](double v) { o.defaults.rt_tol = v; });
  flag(cmd, "--exact", [&o] { o.defaults.exact = true; })->excludes(mz_tol);
  whole_option(cmd, "--max-iter", "a whole number from 1 to 10000", 1, kMaxIterationLimit,
               [&o](int64_t n) { o.defaults.max_iter = n; });
  path_option(cmd, "--targets", "a file", o.targets_file);
  whole_option(cmd, "-j,--jobs", "a thread count from 0 (one per core) to 1024", 0, 1024,
               [&o](int64_t n) { o.jobs = static_cast<unsigned>(n); });
  path_option(cmd, "--plot", "a folder", o.plot_dir);
  path_option(cmd, "--report", "a file", o.report_path);
  declare_decision_options(cmd, o.decisions);
}

// The identification criteria chain, batch and merge share.
void declare_identification_options(CLI::App& cmd, IdentificationOptions& id) {
  number_option(cmd, "--rt-id-tol", "a number of 0 or more", 0.0, [&id](double v) {
    id.criteria.rt_id_tol = v;
    id.given = true;
  });
  number_option(cmd, "--ratio-tol", "a percentage of 0 or more", 0.0, [&id](double v) {
    id.criteria.ratio_tol = v;
    id.given = true;
  });
  path_option(cmd, "--ladder", "a file", id.ladder_file);
  number_option(cmd, "--min-match", "a score of 0 or more (0..999)", 0.0, [&id](double v) {
    id.criteria.min_match = v;
    id.given = true;
  });
}

}  // namespace

std::optional<std::pair<double, double>> parse_percent_range(std::string_view text) {
  const auto comma = text.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const auto lo = parse_double(text.substr(0, comma));
  const auto hi = parse_double(text.substr(comma + 1));
  if (!lo || !hi || !std::isfinite(*lo) || !std::isfinite(*hi) || *lo < 0.0 || !(*lo < *hi))
    return std::nullopt;
  return std::pair{*lo, *hi};
}

namespace {

// The carbon number as chemists write it (C8) or bare (8).
std::optional<int> parse_carbon(std::string_view v) {
  if (!v.empty() && (v.front() == 'C' || v.front() == 'c')) v.remove_prefix(1);
  const auto n = parse_integer(v);
  if (!n || *n < 1 || *n > 200) return std::nullopt;
  return static_cast<int>(*n);
}

void declare_search(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("inputs", o.inputs)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  number_option(cmd, "--mz", "a number", kAny, [&o](double v) { o.mz = v; });
  number_option(cmd, "--rt", "a number", kAny, [&o](double v) { o.rt = v; });
  number_option(cmd, "--mz-tol", "a number of 0 or more", 0.0,
                [&o](double v) { o.defaults.mz_tol = v; });
  number_option(cmd, "--rt-tol", "a number of 0 or more", 0.0,
                [&o](double v) { o.defaults.rt_tol = v; });
  whole_option(cmd, "--top", "a whole number from 1 to 100000", 1, 100000,
               [&o](int64_t n) { o.search.top = n; });
}

void declare_ladder(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("inputs", o.inputs)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  value_option(cmd, "--first", "a carbon number such as C8 (1..200)",
               [&o](const std::string& v) { o.ladder.first_carbon = *parse_carbon(v); })
      ->check(accept_if([](const std::string& v) { return parse_carbon(v).has_value(); }));
  number_option(cmd, "--ion", "a number of 0 or more", 0.0,
                [&o](double v) { o.ladder.ion = v; });
  number_option(cmd, "--mz-tol", "a number of 0 or more", 0.0,
                [&o](double v) { o.defaults.mz_tol = v; });
  path_option(cmd, "-o,--output", "a file", o.ladder.out_path);
  flag(cmd, "-q,--quiet", [&o] { o.quiet = true; });
}

void declare_chain(CLI::App& cmd, CliOptions& o) {
  declare_target_options(cmd, o);
  path_option(cmd, "--out", "a folder", o.out_dir);
  declare_identification_options(cmd, o.identification);
}

// batch's quantitation: the sample list, its outputs and the curve settings.
void declare_quant_options(CLI::App& cmd, QuantOptions& q) {
  path_option(cmd, "--samples", "a file", q.samples_file);
  path_option(cmd, "--quant", "a file", q.quant_path);
  path_option(cmd, "--quant-jsonl", "a file", q.quant_jsonl_path);
  path_option(cmd, "--calibration", "a file", q.calibration_path);
  path_option(cmd, "--calibration-jsonl", "a file", q.calibration_jsonl_path);
  path_option(cmd, "--cal-plots", "a folder", q.plot_dir);
  value_option(cmd, "--model", "linear or quadratic", [&q](const std::string& v) {
    q.calibration.model = *parse_model(v);
    q.settings_given = true;
  })->check(accept_if([](const std::string& v) { return parse_model(v).has_value(); }));
  value_option(cmd, "--weighting", "none, 1/x or 1/x2", [&q](const std::string& v) {
    q.calibration.weighting = *parse_weighting(v);
    q.settings_given = true;
  })->check(accept_if([](const std::string& v) { return parse_weighting(v).has_value(); }));
  flag(cmd, "--through-origin", [&q] { q.calibration.through_origin = q.settings_given = true; });
  number_option(cmd, "--blank-threshold", "a percentage of 0 or more", 0.0, [&q](double v) {
    q.blank_threshold_percent = v;
    q.settings_given = true;
  });
  value_option(cmd, "--amount-unit", "a unit such as ng/mL",
               [&q](const std::string& v) { q.amount_unit = v; })
      ->check(non_empty());
  number_option(cmd, "--qc-limits", "a percentage of 0 or more", 0.0,
                [&q](double v) { q.qc_limit_percent = v; });
  value_option(cmd, std::string(kIstdLimitsOption),
               "two percentages LO,HI with 0 <= LO < HI (such as 50,150)",
               [&q](const std::string& v) {
                 const auto range = *parse_percent_range(v);
                 q.istd_low_percent = range.first;
                 q.istd_high_percent = range.second;
               })
      ->check(accept_if(
          [](const std::string& v) { return parse_percent_range(v).has_value(); }));
  value_option(cmd, "--response", "area, integrated_area or height",
               [&q](const std::string& v) {
                 q.response = *quant::parse_response_source(v);
                 q.settings_given = true;
               })
      ->check(accept_if(
          [](const std::string& v) { return quant::parse_response_source(v).has_value(); }));
}

void declare_batch(CLI::App& cmd, CliOptions& o) {
  declare_target_options(cmd, o);
  path_option(cmd, "--table", "a file", o.table_path);
  path_option(cmd, "--jsonl", "a file", o.jsonl_path);
  flag(cmd, "-q,--quiet", [&o] { o.quiet = true; });
  flag(cmd, "--progress", [&o] { o.progress_bar = true; });
  flag(cmd, "--no-progress", [&o] { o.progress_bar = false; });
  declare_quant_options(cmd, o.quant);
  path_option(cmd, "--measurements", "a file", o.measurements_path);
  path_option(cmd, "--review", "a file", o.review_path);
  declare_identification_options(cmd, o.identification);
}

void declare_merge(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("parts", o.parts)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  path_option(cmd, "--list", "a file", o.parts_list);
  path_option(cmd, "--table", "a file", o.table_path);
  path_option(cmd, "--jsonl", "a file", o.jsonl_path);
  flag(cmd, "-q,--quiet", [&o] { o.quiet = true; });
  path_option(cmd, "--targets", "a file", o.targets_file);
  path_option(cmd, "--report", "a file", o.report_path);
  path_option(cmd, "--plot", "a folder", o.plot_dir);
  declare_quant_options(cmd, o.quant);
  cmd.add_option("--measurements", o.measurement_parts, "a file")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(non_empty());
  path_option(cmd, "--measurements-list", "a file", o.measurements_list);
  path_option(cmd, "--review", "a file", o.review_path);
  declare_identification_options(cmd, o.identification);
}

void declare_inputs(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("inputs", o.inputs)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void declare_convert(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("inputs", o.inputs)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  path_option(cmd, "-o,--output", "a file", o.convert_output);
}

// Commands without arguments still collect them, to say so.
void declare_no_arguments(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("arguments", o.stray)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

// Parameters and inputs keep their slot order across -p/-n and -i/-I; the
// values are collected from CLI11's parse order once parsing is done
// (collect_run_values).
void declare_run(CLI::App& cmd, CliOptions& o) {
  cmd.add_option("step", o.run.step);
  for (const auto& [names, needs] : {std::pair{"-p", "a text"}, std::pair{"-I", "a text"},
                                     std::pair{"-i", "a file"}}) {
    cmd.add_option(names, needs)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  cmd.add_option("-n", "a number")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(finite_from(kAny));
  whole_option(cmd, "-o", "a slot count from 0 to 64", 0, 64,
               [&o](int64_t n) { o.run.outputs = static_cast<uint64_t>(n); });
  path_option(cmd, "-d", "a folder", o.run.out_dir);
}

void declare_help(CLI::App& cmd, CliOptions& o) { cmd.add_option("topic", o.help_topic); }

// The post-parse checks that tie several options together.
std::string check_chain_or_batch(const CliOptions& o);
std::string check_merge(const CliOptions& o);
std::string check_inputs(const CliOptions& o);
std::string check_quant_outputs(const CliOptions& o);
std::string check_no_arguments(const CliOptions& o);
std::string check_run(const CliOptions& o);
std::string check_help(const CliOptions& o);
std::string check_convert(const CliOptions& o);

struct CommandEntry {
  std::string_view name;
  Command command;
  void (*declare)(CLI::App&, CliOptions&);
  std::string (*check)(const CliOptions&);
};

std::string check_ladder(const CliOptions& o);
void declare_ladder(CLI::App& cmd, CliOptions& o);

std::string check_search(const CliOptions& o);
void declare_search(CLI::App& cmd, CliOptions& o);

constexpr std::array<CommandEntry, 11> kCommands{{
    {"search", Command::kSearch, declare_search, check_search},
    {"ladder", Command::kLadder, declare_ladder, check_ladder},
    {"chain", Command::kChain, declare_chain, check_chain_or_batch},
    {"batch", Command::kBatch, declare_batch, check_chain_or_batch},
    {"merge", Command::kMerge, declare_merge, check_merge},
    {"inputs", Command::kInputs, declare_inputs, check_inputs},
    {"list", Command::kList, declare_no_arguments, check_no_arguments},
    {"run", Command::kRun, declare_run, check_run},
    {"help", Command::kHelp, declare_help, check_help},
    {"version", Command::kVersion, declare_no_arguments, check_no_arguments},
    {"convert", Command::kConvert, declare_convert, check_convert},
}};

// batch and merge write a table and JSON Lines; only one may be stdout.
std::string check_standard_output(const CliOptions& o) {
  if (o.jsonl_path == "-" && (o.table_path.empty() || o.table_path == "-"))
    return "--jsonl - needs --table FILE: both cannot go to standard output";
  return {};
}

}  // namespace

bool quantitation_requested(const CliOptions& o) {
  return o.quant.wanted() || (!o.quant.samples_file.empty() && !o.report_path.empty());
}

bool is_msp_path(std::string_view path) {
  constexpr std::string_view kEnding = ".msp";
  if (path.size() < kEnding.size()) return false;
  path = path.substr(path.size() - kEnding.size());
  for (std::size_t i = 0; i < kEnding.size(); ++i) {
    const char c = path[i] >= 'A' && path[i] <= 'Z' ? static_cast<char>(path[i] - 'A' + 'a') : path[i];
    if (c != kEnding[i]) return false;
  }
  return true;
}

bool identification_requested(const CliOptions& o) {
  return o.identification.given || !o.quant.samples_file.empty();
}

namespace {

std::string check_chain_or_batch(const CliOptions& o) {
  const bool single = o.mz || o.rt;
  if (!o.targets_file.empty() && single) return "give either --targets or --mz and --rt";
  if (o.targets_file.empty() && !(o.mz && o.rt))
    return "give --mz and --rt, or --targets";
  if (o.command == Command::kChain && o.inputs.size() != 1) {
    return "chain takes exactly one file";
  }
  if (o.command == Command::kBatch && o.inputs.empty()) return "batch needs input files";
  if (const std::string e = check_standard_output(o); !e.empty()) return e;
  if (const std::string e = check_quant_outputs(o); !e.empty()) return e;
  if (single) {
    if (const auto p = target_problem(make_target("", *o.mz, *o.rt, o.defaults)))
      return *p;
  }
  return {};
}

std::string check_quant_outputs(const CliOptions& o) {
  // A sample list alone is not refused: its standards give the
  // identification references.
  if (o.quant.settings_given && !quantitation_requested(o)) {
    return "quantitation options need --quant, --quant-jsonl, --calibration, "
           "--calibration-jsonl, --cal-plots, or --report with --samples";
  }
  return {};
}

std::string check_search(const CliOptions& o) {
  if (o.inputs.size() != 1) return "search takes exactly one file";
  if (!o.mz || !o.rt) return "search needs --mz and --rt";
  if (o.identification.msp_file.empty()) return "search needs --library LIB.msp";
  if (const auto p = target_problem(make_target("", *o.mz, *o.rt, o.defaults))) return *p;
  return {};
}

std::string check_ladder(const CliOptions& o) {
  if (o.inputs.size() != 1) return "ladder takes exactly one file";
  if (o.ladder.first_carbon == 0) return "ladder needs --first, the first alkane's carbon number";
  return {};
}

std::string check_merge(const CliOptions& o) {
  if (o.parts.empty() && o.parts_list.empty())
    return "merge needs part tables (or --list FILE)";
  if (std::string e = check_quant_outputs(o); !e.empty()) return e;
  const bool measurements = !o.measurement_parts.empty() || !o.measurements_list.empty();
  if (measurements && !quantitation_requested(o) && !identification_requested(o))
    return "--measurements and --measurements-list only serve the quantitation outputs "
           "and identification";
  if (!o.plot_dir.empty() && o.report_path.empty())
    return "merge --plot only links the figures from --report";
  if ((o.quant.wanted() || !o.report_path.empty()) && o.targets_file.empty())
    return "--report and the quantitation outputs of merge need --targets";
  if (identification_requested(o) && o.targets_file.empty())
    return "identification in merge needs --targets";
  return check_standard_output(o);
}

// The same refusal as batch's, so a caller sees one exit code for both.
std::string check_inputs(const CliOptions& o) {
  return o.inputs.empty() ? "inputs needs input files" : "";
}

std::string check_no_arguments(const CliOptions& o) {
  if (o.stray.empty()) return {};
  return std::string(o.command == Command::kList ? "list" : "version") +
         " takes no arguments";
}

std::string check_run(const CliOptions& o) {
  return o.run.step.empty() ? "run needs a step name" : "";
}

std::string check_convert(const CliOptions& o) {
  if (o.inputs.size() != 1) return "convert takes exactly one .cdf file";
  if (o.convert_output.empty()) return "convert needs -o OUT.mzML";
  return {};
}

std::string check_help(const CliOptions& o) {
  if (usage_text(o.help_topic).empty()) return "no help for '" + o.help_topic + "'";
  return {};
}

// ---- parsing ---------------------------------------------------------------

struct Parser {
  CLI::App app{"", "vxrun"};
  bool version = false;

  explicit Parser(CliOptions& o) {
    app.allow_extras();  // unknown words are reported by report_extras
    // One command at most: after it, a word such as "list" is a file name.
    app.require_subcommand(0, 1);
    // Both libraries are "--library": the steps' (a shared object) and a
    // mass spectral one (FILE.msp), told apart by the ending, so both may
    // be given on one command line.
    app.add_option_function<std::vector<std::string>>(
           "--library",
           [&o](const std::vector<std::string>& values) {
             for (const std::string& v : values) {
               if (is_msp_path(v)) {
                 o.identification.msp_file = v;
                 o.identification.given = true;
               } else {
                 o.library = v;
               }
             }
           },
           "a path")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->check(non_empty());
    flag(app, "-V,--version", [this] { version = true; });
    for (const CommandEntry& c : kCommands) {
      CLI::App* cmd = app.add_subcommand(std::string(c.name));
      cmd->fallthrough();  // --library, --version after the command
      c.declare(*cmd, o);
    }
  }

  [[nodiscard]] const CLI::App* command() const {
    const auto used = app.get_subcommands();
    return used.empty() ? nullptr : used.front();
  }
};

// "-j/--jobs": every name of the option, as users may have typed either.
std::string display_name(const CLI::Option& opt) {
  std::string out;
  for (const std::string& s : opt.get_snames()) out += (out.empty() ? "-" : "/-") + s;
  for (const std::string& l : opt.get_lnames()) out += (out.empty() ? "--" : "/--") + l;
  return out;
}

bool names_option(std::string_view message, std::string_view name) {
  return message.starts_with(name) && message.size() > name.size() &&
         (message[name.size()] == ':' || message[name.size()] == ' ');
}

// CLI11's messages begin with the option's name ("--mz: ...", "exact was
// given ..."); the option's description says what it needs.
std::string usage_error(const Parser& p, const CLI::ParseError& e) {
  const std::string what = e.what();
  if (dynamic_cast<const CLI::ExcludesError*>(&e) != nullptr) return what;
  std::vector<const CLI::App*> apps{&p.app};
  if (const CLI::App* cmd = p.command()) apps.push_back(cmd);
  for (const CLI::App* a : apps) {
    for (const CLI::Option* opt : a->get_options()) {
      std::vector<std::string> names;
      for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
      for (const std::string& l : opt->get_lnames()) {
        names.push_back("--" + l);
        names.push_back(l);
      }
      for (const std::string& n : names) {
        if (!names_option(what, n)) continue;
        return display_name(*opt) + (opt->get_expected_max() == 0
                                         ? " takes no value"
                                         : " needs " + opt->get_description());
      }
    }
  }
  return what;
}

// Words CLI11 could not place, in order: unknown options and commands.
std::string report_extras(const Parser& p) {
  for (const std::string& word : p.app.remaining(true)) {
    if (word == "--") continue;  // CLI11 keeps the end-of-options mark here
    if (word.size() > 1 && word.front() == '-') {
      return "unknown option " +
             (word.starts_with("--") ? word.substr(0, word.find('=')) : word);
    }
    if (p.command() == nullptr) return "unknown command '" + word + "'";
    return "unexpected argument '" + word + "'";
  }
  return {};
}

// The values of -p/-n and -i/-I in the order they were given.
void collect_run_values(const CLI::App& cmd, RunOptions& run) {
  std::map<const CLI::Option*, std::size_t> used;
  for (const CLI::Option* opt : cmd.parse_order()) {
    const std::string name = opt->get_name();
    const std::size_t k = used[opt]++;
    if (name.size() != 2 || k >= opt->results().size()) continue;
    const std::string& value = opt->results()[k];
    StepArgument a;
    a.text = value;
    if (name == "-n") {
      a.source = StepArgument::Source::kNumber;
      a.number = *parse_double(value);
    } else if (name == "-i") {
      a.source = StepArgument::Source::kFile;
    }
    if (name == "-p" || name == "-n") run.params.push_back(std::move(a));
    if (name == "-i" || name == "-I") run.inputs.push_back(std::move(a));
  }
}

std::string help_topic_of(const CLI::App* cmd, const CliOptions& o) {
  if (cmd == nullptr || cmd->get_name() == "version") return "";
  if (cmd->get_name() == "help") return o.help_topic;
  return cmd->get_name();
}

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
  Parser p(o);
  // CLI11 takes the words last to first.
  std::vector<std::string> words(args.rbegin(), args.rend());
  try {
    p.app.parse(words);
  } catch (const CLI::CallForHelp&) {
    o.help_topic = help_topic_of(p.command(), o);
    o.command = Command::kHelp;
    return out;
  } catch (const CLI::ParseError& e) {
    out.error = usage_error(p, e);
    return out;
  }
  if (out.error = report_extras(p); !out.error.empty()) return out;
  if (p.version) {
    o.command = Command::kVersion;
    return out;
  }
  const CLI::App* cmd = p.command();
  if (cmd == nullptr) {
    out.error = "no command given";
    return out;
  }
  for (const CommandEntry& c : kCommands) {
    if (c.name != cmd->get_name()) continue;
    o.command = c.command;
    if (c.command == Command::kRun) collect_run_values(*cmd, o.run);
    out.error = c.check(o);
  }
  return out;
}

std::vector<std::string> command_option_names(std::string_view command) {
  CliOptions o;
  Parser p(o);
  std::vector<std::string> names;
  const CLI::App& app = p.app;
  const auto named = [&](const CLI::App* a) { return a->get_name() == command; };
  for (const CLI::App* cmd : app.get_subcommands(named)) {
    for (const CLI::Option* opt : cmd->get_options()) {
      if (opt == cmd->get_help_ptr()) continue;
      for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
      for (const std::string& l : opt->get_lnames()) names.push_back("--" + l);
    }
  }
  return names;
}

}  // namespace vx::host::cli
