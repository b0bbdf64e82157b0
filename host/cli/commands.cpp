// The commands. Exit codes are decided here and only here.
#include "commands.hpp"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <vector>

#include "batch_runner.hpp"
#include "cell_text.hpp"
#include "exit_codes.hpp"
#include "file_io.hpp"
#include "host_session.hpp"
#include "injection_order.hpp"
#include "measurement_parts.hpp"
#include "number_text.hpp"
#include "progress.hpp"
#include "quant_outputs.hpp"
#include "quant_report.hpp"
#include "review.hpp"
#include "report_builder.hpp"
#include "run_checks.hpp"
#include "sequence_identification.hpp"
#include "ladder_finder.hpp"
#include "ladder_targets.hpp"
#include "msp_library.hpp"
#include "step_library.hpp"
#include "table_merge.hpp"
#include "table_text.hpp"
#include "trace_plot.hpp"

#ifndef VX_HOST_VERSION
#define VX_HOST_VERSION "unknown"
#endif

namespace vx::host::cli {

using base::fixed_text;
using base::general_text;
using base::kExitCannotWrite;
using base::kExitLibrary;
using base::kExitNoInput;
using base::kExitNotProcessed;
using base::kExitOk;
using base::kExitPartInvalid;
using base::kExitReviewInvalid;
using base::kExitTargetsInvalid;
using base::kExitUsage;
using base::read_whole_file;
using base::safe_file_name;
using base::shortest_text;
using base::write_text_file;
using plugin::HostCall;
using plugin::HostSession;
using plugin::StepLibrary;
using tables::MergeOutcome;
using tables::QualifierJoin;
using tables::ResultRow;
using tables::SampleAssignment;
using tables::SampleEntry;
using tables::TablePart;
using tables::Target;
using tables::TargetsParse;
using tables::join_qualifiers;
using tables::kStatusOk;
using tables::make_target;
using tables::measurements_jsonl;
using tables::merge_tables;
using tables::parse_targets;
using tables::rows_follow_targets;
using tables::table_jsonl;
using tables::table_tsv;
using chain::BatchFile;
using chain::BatchOutcome;
using chain::BatchSettings;
using chain::ChainSteps;
using chain::Ingestion;
using chain::TargetRun;
using chain::expand_inputs;
using chain::run_batch;
using quant::QuantOutcome;
using figures::attach_plot_writer;
using report::ReportCollector;
using report::ReportFacts;
using report::ReportModel;
using report::add_quant_sections;
using report::render_html_report;
using report::utc_time_text;


namespace {

namespace fs = std::filesystem;

// What a loading step gives: the value, or the exit code that says why
// there is none (the reason has been printed by then).
template <typename T>
struct Loaded {
  std::optional<T> value;
  int code = kExitOk;
};

// The --ladder table (an empty ladder without the option).
Loaded<std::vector<ident::Alkane>> load_ladder(const CliOptions& o, CommandIo& io) {
  const std::string& path = o.identification.ladder_file;
  if (path.empty()) return {std::vector<ident::Alkane>{}};
  const auto text = read_whole_file(path);
  if (!text) {
    io.err << "vxrun: cannot read the ladder " << path << "\n";
    return {std::nullopt, kExitNoInput};
  }
  ident::LadderParse parsed = ident::parse_ladder(*text, path);
  if (!parsed.errors.empty()) {
    for (const std::string& e : parsed.errors) io.err << "vxrun: " << e << "\n";
    return {std::nullopt, kExitTargetsInvalid};
  }
  return {std::move(parsed.alkanes)};
}

// The targets of a chain or batch: the table, or the single --mz/--rt target;
// targets given by retention index are placed in the --ladder run.
Loaded<std::vector<Target>> load_targets(const CliOptions& o, CommandIo& io) {
  if (o.targets_file.empty()) {
    return {std::vector<Target>{make_target(
        shortest_text(*o.mz) + "@" + shortest_text(*o.rt), *o.mz, *o.rt, o.defaults)}};
  }
  const auto text = read_whole_file(o.targets_file);
  if (!text) {
    io.err << "vxrun: cannot read the targets table " << o.targets_file << "\n";
    return {std::nullopt, kExitNoInput};
  }
  TargetsParse parsed = parse_targets(*text, o.defaults, o.targets_file);
  if (!parsed.errors.empty()) {
    for (const std::string& e : parsed.errors) io.err << "vxrun: " << e << "\n";
    return {std::nullopt, kExitTargetsInvalid};
  }
  const auto ladder = load_ladder(o, io);
  if (!ladder.value) return {std::nullopt, ladder.code};
  const std::vector<std::string> errors = tables::place_targets_by_index(
      parsed.targets, o.identification.ladder_file.empty() ? nullptr : &*ladder.value);
  if (!errors.empty()) {
    for (const std::string& e : errors) io.err << "vxrun: " << o.targets_file << ": " << e << "\n";
    return {std::nullopt, kExitTargetsInvalid};
  }
  return {std::move(parsed.targets)};
}

// The review decisions of --review, checked against the batch's files and
// targets before any file is read, so that a typo costs no run.
Loaded<tables::ReviewRead> load_review(const CliOptions& o, std::span<const BatchFile> files,
                                       std::span<const Target> targets, CommandIo& io) {
  if (o.review_path.empty()) return {tables::ReviewRead{}};
  const auto text = read_whole_file(o.review_path);
  if (!text) {
    io.err << "vxrun: cannot read the review " << o.review_path << "\n";
    return {std::nullopt, kExitNoInput};
  }
  std::vector<std::string> paths;
  for (const BatchFile& f : files) paths.push_back(f.path);
  tables::ReviewRead r = tables::read_review(*text, o.review_path, paths, targets);
  if (!r.errors.empty()) {
    for (const std::string& e : r.errors) io.err << "vxrun: " << e << "\n";
    return {std::nullopt, kExitReviewInvalid};
  }
  return {std::move(r)};
}

// What a target's library_name says when it wants no library match.
constexpr std::string_view kNoLibraryEntry = "-";

// The library spectrum of each target when --library names a .msp file (an
// empty list without one). Damaged entries and targets whose entry is
// missing stop the run with a message naming them.
Loaded<std::vector<std::optional<ident::UnitSpectrum>>> load_library_spectra(
    const CliOptions& o, std::span<const Target> targets, CommandIo& io) {
  using Spectra = std::vector<std::optional<ident::UnitSpectrum>>;
  const std::string& path = o.identification.msp_file;
  if (path.empty()) return {Spectra{}};
  const auto text = read_whole_file(path);
  if (!text) {
    io.err << "vxrun: cannot read the spectral library " << path << "\n";
    return {std::nullopt, kExitNoInput};
  }
  const ident::MspParse parsed = ident::parse_msp(*text, path);
  if (!parsed.errors.empty()) {
    for (const std::string& e : parsed.errors) io.err << "vxrun: " << e << "\n";
    return {std::nullopt, kExitTargetsInvalid};
  }
  Spectra spectra(targets.size());
  bool missing = false;
  for (std::size_t t = 0; t < targets.size(); ++t) {
    const std::string& name =
        targets[t].library_name.empty() ? targets[t].name : targets[t].library_name;
    if (name == kNoLibraryEntry) continue;
    const auto it = std::find_if(parsed.entries.begin(), parsed.entries.end(),
                                 [&](const ident::LibraryEntry& e) { return e.name == name; });
    if (it == parsed.entries.end()) {
      io.err << "vxrun: target '" << targets[t].name << "': no entry named '" << name
             << "' in " << path << " (give library_name, or '-' for no match)\n";
      missing = true;
      continue;
    }
    std::vector<double> mz, intensity;
    for (const ident::LibraryPeak& p : it->peaks) {
      mz.push_back(p.mz);
      intensity.push_back(p.intensity);
    }
    spectra[t] = ident::bin_unit_mass(mz, intensity);
  }
  if (missing) return {std::nullopt, kExitTargetsInvalid};
  return {std::move(spectra)};
}

// Every row's retention index, when --ladder gives a ladder.
void add_indices(const CliOptions& o, BatchOutcome& outcome, CommandIo& io) {
  if (o.identification.ladder_file.empty()) return;
  if (const auto ladder = load_ladder(o, io); ladder.value)
    tables::add_retention_indices(outcome.rows, *ladder.value);
}

// The sample list for batch's quantitation, checked against the targets and
// the files before any file is read.
Loaded<std::vector<SampleEntry>> load_samples(const CliOptions& o,
                                              std::span<const Target> targets,
                                              std::span<const BatchFile> files,
                                              CommandIo& io) {
  const std::string& path = o.quant.samples_file;
  std::optional<std::string> text;
  if (!path.empty() && !(text = read_whole_file(path))) {
    io.err << "vxrun: cannot read the sample list " << path << "\n";
    return {std::nullopt, kExitNoInput};
  }
  SampleAssignment a = samples_for_batch(text ? &*text : nullptr, path, targets, files);
  if (!a.errors.empty()) {
    for (const std::string& e : a.errors) io.err << "vxrun: " << e << "\n";
    return {std::nullopt, kExitTargetsInvalid};
  }
  return {std::move(a.per_file)};
}

bool make_folder(const std::string& dir, CommandIo& io) {
  if (dir.empty()) return true;
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    io.err << "vxrun: cannot create the folder " << dir << "\n";
    return false;
  }
  return true;
}

std::optional<std::string> write_documents(
    const fs::path& dir,
    std::initializer_list<std::pair<std::string_view, const std::string*>> docs) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  for (const auto& [name, text] : docs) {
    if (text == nullptr || text->empty()) continue;
    std::string error;
    if (!write_text_file((dir / name).string(), *text, &error)) return error;
  }
  return std::nullopt;
}

int finish_code(std::span<const std::string> write_errors, std::size_t files_failed,
                CommandIo& io) {
  for (const std::string& e : write_errors) io.err << "vxrun: " << e << "\n";
  if (!write_errors.empty()) return kExitCannotWrite;
  return files_failed == 0 ? kExitOk : kExitNotProcessed;
}

int finish_code(const BatchOutcome& outcome, CommandIo& io) {
  return finish_code(outcome.write_errors, outcome.files_failed, io);
}

// The table (standard output unless --table names a file) and the JSON
// Lines of batch and merge; what could not be written goes to errors.
void write_tables(const CliOptions& o, std::span<const ResultRow> rows, CommandIo& io,
                  std::vector<std::string>& errors) {
  const std::string table = table_tsv(rows);
  if (o.table_path.empty() || o.table_path == "-") {
    io.out << table;
    io.out.flush();
  } else {
    std::string error;
    if (!write_text_file(o.table_path, table, &error)) errors.push_back(error);
  }
  if (!o.jsonl_path.empty()) {
    std::string error;
    if (o.jsonl_path == "-") {
      io.out << table_jsonl(rows);
    } else if (!write_text_file(o.jsonl_path, table_jsonl(rows), &error)) {
      errors.push_back(error);
    }
  }
}

// The paths of a merge's parts: those given, then the lines of the list.
std::optional<std::vector<std::string>> part_paths(std::vector<std::string> paths,
                                                   const std::string& list_path,
                                                   CommandIo& io) {
  if (list_path.empty()) return paths;
  const auto list = read_whole_file(list_path);
  if (!list) {
    io.err << "vxrun: cannot read the list of parts " << list_path << "\n";
    return std::nullopt;
  }
  base::TextLines lines(*list);
  std::string_view line;
  std::size_t number = 0;
  while (lines.next(line, number)) {
    if (!line.empty()) paths.emplace_back(line);
  }
  return paths;
}

// Every part read whole (texts owns the bytes the parts point into); false
// after naming the first that cannot be read.
bool read_parts(const std::vector<std::string>& paths, std::vector<std::string>& texts,
                std::vector<TablePart>& parts, CommandIo& io) {
  texts.reserve(paths.size());
  for (const std::string& path : paths) {
    auto text = read_whole_file(path);
    if (!text) {
      io.err << "vxrun: cannot read the part " << path << "\n";
      return false;
    }
    texts.push_back(std::move(*text));
  }
  for (std::size_t i = 0; i < paths.size(); ++i) parts.push_back({paths[i], texts[i]});
  return true;
}

// Writes the label of a summary line, padded so that every value starts in
// the same column (labels may hold multi-byte UTF-8 characters such as r²).
std::ostream& field(std::ostream& out, std::string_view label, bool nested = true) {
  std::size_t width = nested ? 2 : 0;
  for (const char c : label) width += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  if (nested) out << "  ";
  out << label << std::string(width < 18 ? 18 - width : 1, ' ');
  return out;
}

// Values for reading: retention times to 4 decimals and r² to 5, the rest
// to 6 significant digits; the tables keep every digit.
enum class Rounding { kSignificant6, kDecimals4, kDecimals5 };

void print_value(std::ostream& out, std::string_view label,
                 const std::optional<double>& v, Rounding rounding,
                 std::string_view unit = "") {
  if (!v) return;
  field(out, label) << (rounding == Rounding::kSignificant6 ? general_text(*v, 6)
                        : rounding == Rounding::kDecimals4  ? fixed_text(*v, 4)
                                                            : fixed_text(*v, 5))
                    << unit << "\n";
}

void print_summary(std::ostream& out, const ResultRow& row, const Target& t, bool first) {
  if (first) {
    field(out, "file", false) << row.file << "\n";
    if (row.spectra) field(out, "spectra", false) << *row.spectra << "\n";
  }
  out << "\n";
  field(out, "target", false) << t.name << ": m/z " << general_text(t.mz, 8)
                              << (t.exact ? " exact"
                                          : " \xC2\xB1 " + general_text(t.mz_tol, 6))
                              << ", RT " << general_text(t.rt, 6) << " \xC2\xB1 "
                              << general_text(t.rt_tol, 6) << " min\n";
  if (row.status != kStatusOk)
    field(out, "status") << row.status << ": " << row.message << "\n";
  if (row.trace_points) {
    field(out, "trace") << *row.trace_points << " points";
    if (row.max_intensity)
      out << ", max intensity " << general_text(*row.max_intensity, 6);
    out << "\n";
  }
  if (!row.fit_status.empty()) {
    field(out, "fit") << row.fit_status;
    if (row.iterations) out << " (" << *row.iterations << " iterations)";
    out << "\n";
    print_value(out, "retention time", row.retention_time, Rounding::kDecimals4, " min");
    print_value(out, "height", row.height, Rounding::kSignificant6);
    print_value(out, "width (sigma)", row.width, Rounding::kSignificant6, " min");
    print_value(out, "area", row.area, Rounding::kSignificant6);
    print_value(out, "baseline", row.baseline, Rounding::kSignificant6);
    print_value(out, "r\xC2\xB2", row.r_squared, Rounding::kDecimals5);
  }
  if (!row.detection.empty()) {
    field(out, "detection") << row.detection << "\n";
    print_value(out, "signal/noise", row.signal_to_noise, Rounding::kSignificant6);
    print_value(out, "integrated area", row.integrated_area, Rounding::kSignificant6);
    if (row.peak_start && row.peak_end) {
      field(out, "peak bounds") << general_text(*row.peak_start, 6) << " to "
                                << general_text(*row.peak_end, 6) << " min\n";
    }
    print_value(out, "asymmetry", row.asymmetry, Rounding::kSignificant6);
    print_value(out, "component area", row.component_area, Rounding::kSignificant6);
  }
  field(out, "flags");
  for (std::size_t i = 0; i < row.flags.size(); ++i)
    out << (i ? ", " : "") << row.flags[i];
  if (row.flags.empty()) out << "none";
  out << "\n";
  if (!row.identified.empty()) {
    field(out, "identified") << row.identified;
    for (std::size_t i = 0; i < row.identification_flags.size(); ++i)
      out << (i ? ", " : " (") << row.identification_flags[i];
    out << (row.identification_flags.empty() ? "\n" : ")\n");
  }
}

// Writes each output as the step hands it over (a document is valid only
// during that call) instead of keeping a copy of every document until the
// step returns: the host then holds at most the inputs. Number outputs are
// small and printed after the step, in their call order.
int run_and_stream_outputs(HostSession& session, StepEntry entry,
                           std::span<const StepValue> params,
                           std::span<const StepValue> inputs, uint64_t n_outputs,
                           const std::string& out_dir, CommandIo& io) {
  std::string error;
  const auto write = [&](uint64_t slot, std::string_view text) {
    if (!error.empty()) return;  // nothing more after the first failed write
    if (out_dir.empty()) {
      io.out << "output " << slot << ": " << text << "\n";
      return;
    }
    const std::string path =
        (fs::path(out_dir) / ("output_" + std::to_string(slot) + ".json")).string();
    if (!write_text_file(path, text, &error) && error.empty()) error = "cannot write " + path;
  };
  for (uint64_t slot = 0; slot < n_outputs; ++slot) {
    session.stream_output(slot, [&write, slot](std::string_view text) { write(slot, text); });
  }
  const StepStatus status = session.run(entry, params, inputs, n_outputs);
  for (const HostCall& c : session.calls()) {
    if (c.kind == HostCall::Kind::kSetOutputNumber) write(c.slot, shortest_text(c.number));
  }
  if (!error.empty()) {
    io.err << "vxrun: " << error << "\n";
    return kExitCannotWrite;
  }
  return status;
}

// The HTML report of a chain or batch run, when --report asks for one: the
// cell plots are gathered while the batch runs, the rest once it is done.
class ReportRun {
 public:
  ReportRun(const CliOptions& o, std::size_t n_files, const std::vector<Target>& targets)
      : options_(o),
        collector_(o.report_path.empty() ? 0 : n_files, targets),
        started_(std::chrono::system_clock::now()),
        clock_(std::chrono::steady_clock::now()) {}

  void attach(BatchSettings& settings) {
    if (!options_.report_path.empty()) collector_.attach(settings);
  }

  // What the report shows of the sequence besides the rows.
  const tables::ReviewRead* review = nullptr;
  std::vector<std::size_t> sample_lines;  // per file; empty without a sample list

  // Writes the report, with the quantitation when there is one; a failure
  // joins the outcome's write errors.
  void write(std::string_view command, std::span<const BatchFile> files,
             BatchOutcome& outcome, const CommandIo& io,
             const QuantOutcome* quant = nullptr) {
    if (options_.report_path.empty()) return;
    ReportFacts facts;
    facts.title = "vxrun " + std::string(command) + " report";
    facts.vxrun_version = VX_HOST_VERSION;
    facts.library_path = io.library_path;
    facts.library_contract = io.library_contract;
    facts.command_line = io.command_line;
    facts.started = utc_time_text(started_);
    facts.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clock_).count();
    ReportModel model = collector_.finish(std::move(facts), files, outcome.rows,
                                          options_.plot_dir, options_.report_path);
    if (quant != nullptr) add_quant_sections(model, *quant, quant_settings(options_.quant));
    add_sequence(model, files, quant);
    const std::string html = render_html_report(model);
    std::string error;
    if (!write_text_file(options_.report_path, html, &error))
      outcome.write_errors.push_back(error);
  }

 private:
  void add_sequence(ReportModel& m, std::span<const BatchFile> files,
                    const QuantOutcome* quant) const {
    std::vector<std::optional<std::string>> starts;
    if (sample_lines.empty()) {
      for (const BatchFile& f : files) starts.push_back(chain::file_start_time(f.path));
    }
    const chain::InjectionOrder order =
        chain::injection_order(files, options_.inputs, sample_lines, starts);
    m.injection_order = order.order;
    m.order_source = order.source;
    m.amount_unit = options_.quant.amount_unit;
    m.qc_limit_percent = options_.quant.qc_limit_percent;
    const quant::QuantSettings qs = quant_settings(options_.quant);
    m.istd_low_percent = qs.istd_low_percent;
    m.istd_high_percent = qs.istd_high_percent;
    if (quant != nullptr && !m.targets.empty()) {
      const std::size_t nt = m.targets.size();
      for (std::size_t i = 0; i < quant->rows.size(); ++i) {
        const quant::QuantRow& r = quant->rows[i];
        if (i % nt == 0) m.sample_types.push_back(r.sample_type);
        m.concentrations.push_back(r.concentration);
        m.accuracies.push_back(r.accuracy);
        for (const std::string& f : r.flags)
          if (f == quant::kFlagIstdOutOfRange) m.istd_out_of_range.push_back(i);
      }
      for (std::size_t t = 0; t < nt && t < quant->calibrations.size(); ++t)
        if (quant->calibrations[t].status == quant::kCalInternalStandard)
          m.istd_targets.push_back(t);
    }
    if (review != nullptr && !review->digest.empty()) {
      m.review = review->entries;
      m.review_digest = review->digest;
      m.review_source = options_.review_path;
    }
  }

  const CliOptions& options_;
  ReportCollector collector_;
  std::chrono::system_clock::time_point started_;
  std::chrono::steady_clock::time_point clock_;
};

}  // namespace

std::string contract_fingerprint(const StepLibrary& lib) {
  // 64-bit FNV-1a over "iri\tdigest\n" of every step, in table order.
  uint64_t h = 0xcbf29ce484222325ULL;
  const auto mix = [&](std::string_view s) {
    for (const char c : s) {
      h ^= static_cast<unsigned char>(c);
      h *= 0x100000001b3ULL;
    }
  };
  for (const std::string& iri : lib.iris()) {
    const auto d = lib.find(iri);
    mix(iri);
    mix("\t");
    mix(d && d->contract_digest != nullptr ? d->contract_digest : "");
    mix("\n");
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, h >>= 4) out[static_cast<std::size_t>(i)] = kHex[h & 15];
  return out;
}

int run_list_command(const StepLibrary& lib, std::ostream& out) {
  for (const std::string& iri : lib.iris()) {
    const auto d = lib.find(iri);
    out << iri << "\t" << (d && d->contract_digest != nullptr ? d->contract_digest : "")
        << "\n";
  }
  return kExitOk;
}

int run_version_command(const StepLibrary* lib, std::string_view library_path,
                        std::string_view load_error, std::ostream& out) {
  out << "vxrun " << VX_HOST_VERSION << "\n";
  out << "library " << library_path << "\n";
  if (lib == nullptr || !lib->loaded()) {
    out << "  not loaded: " << load_error << "\n";
    return kExitLibrary;
  }
  // The library exports no version of its own: its steps' contract digests
  // are what identifies it, summed up in one fingerprint.
  out << "  contract set " << contract_fingerprint(*lib) << "\n";
  out << "  steps:\n";
  for (const std::string& iri : lib->iris()) {
    const auto d = lib->find(iri);
    out << "    " << iri << "  "
        << (d && d->contract_digest != nullptr ? d->contract_digest : "") << "\n";
  }
  return kExitOk;
}

int run_step_command(const StepLibrary& lib, const RunOptions& run, CommandIo& io) {
  const auto step = lib.find(run.step);
  if (!step) {
    io.err << "vxrun: unknown step " << run.step << "\n";
    return kExitUsage;
  }
  HostSession session;
  std::vector<StepValue> params;
  std::vector<StepValue> inputs;
  for (const StepArgument& a : run.params) {
    params.push_back(a.source == StepArgument::Source::kNumber ? session.float64(a.number)
                                                               : session.text(a.text));
  }
  for (const StepArgument& a : run.inputs) {
    if (a.source != StepArgument::Source::kFile) {
      inputs.push_back(session.text(a.text));
      continue;
    }
    const auto bytes = read_whole_file(a.text);
    if (!bytes) {
      io.err << "vxrun: cannot read " << a.text << "\n";
      return kExitNoInput;
    }
    inputs.push_back(session.text(*bytes));
  }
  const uint64_t n_outputs = run.outputs;
  const std::string& out_dir = run.out_dir;
  if (!make_folder(out_dir, io)) return kExitCannotWrite;
  return run_and_stream_outputs(session, step->entry, params, inputs, n_outputs, out_dir,
                                io);
}

namespace {

// Every output file's folder is checked before the first input is read.
bool outputs_writable(const CliOptions& o, CommandIo& io) {
  const auto problem = unwritable_output(output_files(o));
  if (problem) io.err << "vxrun: " << *problem << "\n";
  return !problem;
}

}  // namespace

int run_chain_command(const CliOptions& o, const ChainSteps& steps, CommandIo& io) {
  if (!outputs_writable(o, io)) return kExitCannotWrite;
  const auto loaded = load_targets(o, io);
  if (!loaded.value) return loaded.code;
  const std::vector<Target>& targets = *loaded.value;
  if (!make_folder(o.out_dir, io) || !make_folder(o.plot_dir, io))
    return kExitCannotWrite;

  auto library = load_library_spectra(o, targets, io);
  if (!library.value) return library.code;
  const std::vector<BatchFile> files{{o.inputs.front(), "", ""}};
  ReportRun report(o, files.size(), targets);
  BatchSettings settings;
  settings.targets = targets;
  settings.jobs = o.jobs;
  settings.decisions = o.decisions;
  settings.library_spectra = std::move(*library.value);
  if (!o.out_dir.empty()) {
    const fs::path out_dir = o.out_dir;
    const bool per_target_folders = !o.targets_file.empty();
    settings.on_ingestion = [out_dir](std::size_t, const Ingestion& in) {
      return write_documents(out_dir, {{kSpectraFile, &in.spectra},
                                       {kChromatogramsFile, &in.chromatograms},
                                       {kRunSummaryFile, &in.run_summary},
                                       {kIngestionDiagnosticsFile, &in.diagnostics}});
    };
    settings.on_target = [out_dir, per_target_folders, &targets](
                             std::size_t, std::size_t t, const TargetRun& run) {
      const fs::path dir =
          per_target_folders ? out_dir / safe_file_name(targets[t].name) : out_dir;
      return write_documents(dir, {{kTraceFile, &run.trace},
                                   {kTraceDiagnosticsFile, &run.trace_diagnostics},
                                   {kFitResultFile, &run.fit_result},
                                   {kFitDiagnosticsFile, &run.fit_diagnostics}});
    };
  }
  report.attach(settings);
  if (!o.plot_dir.empty()) attach_plot_writer(settings, files, o.plot_dir);
  BatchOutcome outcome = run_batch(steps, files, settings);
  add_indices(o, outcome, io);
  if (identification_requested(o)) {
    // One file has no standards: the targets table gives the references.
    quant::identify_rows(targets, {}, chain::batch_measurements(outcome), outcome.rows,
                         o.identification.criteria);
  }
  for (std::size_t t = 0; t < outcome.rows.size(); ++t) {
    print_summary(io.out, outcome.rows[t], targets[t], t == 0);
  }
  io.err << outside_run_warnings(outcome.rows, targets);
  report.write("chain", files, outcome, io);
  return finish_code(outcome, io);
}

namespace {

// What batch and merge do once they hold the rows: quantitate when asked,
// write the report, the tables, the measurement parts and the quantitation
// outputs, and decide the exit code. report_io is what the report says
// about the run (merge loads no library).
// The trace of each row a review integrates by hand is at hand only while
// the batch runs: its area is taken there, on the worker that ran it.
void attach_manual_integration(BatchSettings& settings, const tables::ReviewRead& review,
                               std::size_t n_targets,
                               std::vector<std::optional<double>>& areas) {
  areas.assign(review.entries.size(), std::nullopt);
  std::map<std::size_t, std::size_t> entry_of_row;
  for (std::size_t i = 0; i < review.entries.size(); ++i) {
    const tables::ReviewEntry& e = review.entries[i];
    if (e.action == tables::kReviewIntegrate)
      entry_of_row.emplace(e.file_index * n_targets + e.target_index, i);
  }
  if (entry_of_row.empty()) return;
  settings.on_target = [&review, &areas, n_targets, rows = std::move(entry_of_row),
                        next = std::move(settings.on_target)](
                           std::size_t f, std::size_t t, const TargetRun& run) {
    if (const auto it = rows.find(f * n_targets + t); it != rows.end()) {
      const tables::ReviewEntry& e = review.entries[it->second];
      areas[it->second] =
          tables::manual_area(run.trace_facts.retention_time, run.trace_facts.intensity,
                              run.fit.baseline, *e.start_rt, *e.end_rt);
    }
    return next ? next(f, t, run) : std::nullopt;
  };
}

// Applies a loaded review to the rows; false after naming the decisions
// that could not be applied.
bool apply_loaded_review(const CliOptions& o, const tables::ReviewRead& review,
                         std::size_t n_targets, std::span<const std::optional<double>> areas,
                         BatchOutcome& outcome, CommandIo& io) {
  if (o.review_path.empty()) return true;
  const std::vector<std::string> errors =
      tables::apply_review(outcome.rows, n_targets, review, areas, o.review_path);
  for (const std::string& e : errors) io.err << "vxrun: " << e << "\n";
  return errors.empty();
}

// The terminal's last line: how many rows ask for a look.
void print_row_counts(std::ostream& err, std::span<const ResultRow> rows) {
  const tables::RowCounts c = tables::count_rows(rows);
  err << ", " << c.flagged << " flagged, " << c.not_detected << " not detected";
}

void finish_rows(const CliOptions& o, std::string_view command,
                 std::span<const Target> targets, std::span<const BatchFile> files,
                 const std::optional<std::vector<SampleEntry>>& samples,
                 BatchOutcome& outcome, ReportRun& report, CommandIo& io,
                 const CommandIo& report_io) {
  // Identification first: the quantitation drops the concentrations of the
  // peaks it rejects.
  if (identification_requested(o)) {
    const std::vector<SampleEntry> none;
    quant::identify_rows(targets, samples ? *samples : none, chain::batch_measurements(outcome),
                         outcome.rows, o.identification.criteria);
  }
  std::optional<QuantOutcome> quant;
  if (samples && quantitation_requested(o)) quant = quantitate_batch(o.quant, targets, *samples, outcome);
  if (quant) quant::apply_identification(outcome.rows, *quant);
  report.write(command, files, outcome, report_io, quant ? &*quant : nullptr);
  write_tables(o, outcome.rows, io, outcome.write_errors);
  if (std::string error;
      !o.measurements_path.empty() &&
      !write_text_file(o.measurements_path,
                       measurements_jsonl(outcome.rows, outcome.qualifier_fits), &error))
    outcome.write_errors.push_back(error);
  if (quant) write_quantitation(o.quant, targets, *quant, outcome);
}

Progress::Mode progress_mode(const CliOptions& o, const CommandIo& io) {
  if (o.quiet) return Progress::Mode::kNone;
  const bool bar = o.progress_bar.value_or(io.progress_is_terminal);
  return bar ? Progress::Mode::kBar : Progress::Mode::kLines;
}

}  // namespace

int run_batch_command(const CliOptions& o, const ChainSteps& steps, CommandIo& io) {
  if (!outputs_writable(o, io)) return kExitCannotWrite;
  const auto loaded = load_targets(o, io);
  if (!loaded.value) return loaded.code;
  const std::vector<Target>& targets = *loaded.value;
  if (!make_folder(o.plot_dir, io)) return kExitCannotWrite;

  const std::vector<BatchFile> files = expand_inputs(o.inputs);
  Loaded<std::vector<SampleEntry>> samples;
  if (quantitation_requested(o) || !o.quant.samples_file.empty()) {
    samples = load_samples(o, targets, files, io);
    if (!samples.value) return samples.code;
    if (!make_folder(o.quant.plot_dir, io)) return kExitCannotWrite;
  }
  const auto review = load_review(o, files, targets, io);
  if (!review.value) return review.code;
  auto library = load_library_spectra(o, targets, io);
  if (!library.value) return library.code;
  Progress progress(io.progress, progress_mode(o, io), files.size());
  ReportRun report(o, files.size(), targets);
  report.review = &*review.value;
  if (samples.value)
    for (const SampleEntry& s : *samples.value) report.sample_lines.push_back(s.line);
  BatchSettings settings;
  settings.targets = targets;
  settings.jobs = o.jobs;
  settings.decisions = o.decisions;
  settings.library_spectra = std::move(*library.value);
  settings.on_file_done = [&progress](std::string_view path, std::string_view status) {
    progress.file_done(path, status);
  };
  std::vector<std::optional<double>> manual_areas;
  attach_manual_integration(settings, *review.value, targets.size(), manual_areas);
  report.attach(settings);
  if (!o.plot_dir.empty()) attach_plot_writer(settings, files, o.plot_dir);
  BatchOutcome outcome = run_batch(steps, files, settings);
  progress.finish();
  io.err << outside_run_warnings(outcome.rows, targets);
  const bool reviewed =
      apply_loaded_review(o, *review.value, targets.size(), manual_areas, outcome, io);
  add_indices(o, outcome, io);
  finish_rows(o, "batch", targets, files, samples.value, outcome, report, io, io);
  if (!o.quiet) {
    io.err << "vxrun: " << files.size() << " files, " << outcome.rows.size() << " rows";
    if (outcome.files_failed > 0)
      io.err << ", " << outcome.files_failed << " not processed";
    print_row_counts(io.err, outcome.rows);
    io.err << "\n";
  }
  const int code = finish_code(outcome, io);
  return reviewed || code == kExitCannotWrite ? code : kExitReviewInvalid;
}

namespace {

// The merged rows as a batch's outcome, or the exit code after saying why.
Loaded<BatchOutcome> merge_parts(const CliOptions& o, std::span<const Target> targets,
                                 CommandIo& io) {
  std::vector<std::string> texts;
  std::vector<TablePart> parts;
  const auto paths = part_paths(o.parts, o.parts_list, io);
  if (!paths || !read_parts(*paths, texts, parts, io)) return {std::nullopt, kExitNoInput};
  MergeOutcome merged = merge_tables(parts);
  // The report and the quantitation place rows by file and target index.
  if (merged.error.empty() && !targets.empty())
    merged.error = rows_follow_targets(merged.rows, targets);
  if (!merged.error.empty()) {
    io.err << "vxrun: " << merged.error << "\n";
    return {std::nullopt, kExitPartInvalid};
  }
  if (!o.quiet) {
    io.err << "vxrun: " << parts.size() << " parts, " << merged.rows.size() << " rows";
    if (merged.files_failed > 0)
      io.err << ", " << merged.files_failed << " files not processed";
    io.err << "\n";
  }
  BatchOutcome out;
  out.rows = std::move(merged.rows);
  out.files_failed = merged.files_failed;
  return {std::move(out)};
}

// The merged files, in the batch's order (the rows are sorted by file).
std::vector<BatchFile> merged_files(std::span<const ResultRow> rows) {
  std::vector<BatchFile> files;
  for (const ResultRow& row : rows) {
    if (files.empty() || files.back().path != row.file)
      files.push_back({row.file, "", ""});
  }
  return files;
}

// The qualifier fits of the merged rows, from the measurement parts. Targets
// without qualifier ions need none. Returns the exit code (kExitOk: go on).
int add_qualifier_fits(const CliOptions& o, std::span<const Target> targets,
                       BatchOutcome& outcome, CommandIo& io) {
  std::vector<std::string> texts;
  std::vector<TablePart> parts;
  const auto paths = part_paths(o.measurement_parts, o.measurements_list, io);
  if (!paths || !read_parts(*paths, texts, parts, io)) return kExitNoInput;
  bool qualifiers = false;
  for (const Target& t : targets) qualifiers = qualifiers || !t.qualifiers.empty();
  if (paths->empty() && !qualifiers) return kExitOk;
  if (paths->empty()) {
    io.err << "vxrun: the targets have qualifier ions: give their --measurements parts\n";
    return kExitUsage;
  }
  QualifierJoin join = join_qualifiers(outcome.rows, targets, parts);
  if (!join.error.empty()) {
    io.err << "vxrun: " << join.error << "\n";
    return kExitPartInvalid;
  }
  outcome.qualifier_fits = std::move(join.per_row);
  // Tables without the detection columns leave the rows undecided: the
  // parts then carry the batch's decision, which identification needs.
  for (std::size_t i = 0; i < outcome.rows.size() && i < join.quantifiers.size(); ++i) {
    ResultRow& row = outcome.rows[i];
    if (!row.detection.empty()) continue;
    row.signal_to_noise = join.quantifiers[i].signal_to_noise;
    row.detection = join.quantifiers[i].detection;
  }
  return kExitOk;
}

}  // namespace

int run_merge_command(const CliOptions& o, CommandIo& io) {
  if (!outputs_writable(o, io)) return kExitCannotWrite;
  std::vector<Target> targets;
  if (!o.targets_file.empty()) {
    auto loaded = load_targets(o, io);
    if (!loaded.value) return loaded.code;
    targets = std::move(*loaded.value);
  }
  ReportRun report(o, 0, targets);  // no cell plots: the runs are gone
  auto merged = merge_parts(o, targets, io);
  if (!merged.value) return merged.code;
  BatchOutcome& outcome = *merged.value;
  const std::vector<BatchFile> files = merged_files(outcome.rows);
  Loaded<std::vector<SampleEntry>> samples;
  if (quantitation_requested(o) || identification_requested(o)) {
    if (const int code = add_qualifier_fits(o, targets, outcome, io); code != kExitOk)
      return code;
    samples = load_samples(o, targets, files, io);
    if (!samples.value) return samples.code;
    if (!make_folder(o.quant.plot_dir, io)) return kExitCannotWrite;
  }
  // merge never loads the step library: the report says so.
  const auto review = load_review(o, files, targets, io);
  if (!review.value) return review.code;
  // The traces are gone after the batch: a manual integration is applied
  // here only when the part's batch made it (the workflow gives each part the
  // integrations of its files).
  const std::vector<std::optional<double>> areas =
      tables::applied_manual_areas(outcome.rows, targets.size(), *review.value);
  for (std::size_t i = 0; i < review.value->entries.size(); ++i) {
    const tables::ReviewEntry& e = review.value->entries[i];
    if (e.action != tables::kReviewIntegrate || areas[i]) continue;
    io.err << "vxrun: " << o.review_path << ":" << e.line
           << ": a manual integration needs the trace: give the review to vxrun batch\n";
    return kExitReviewInvalid;
  }
  if (!apply_loaded_review(o, *review.value, targets.size(), areas, outcome, io))
    return kExitReviewInvalid;
  report.review = &*review.value;
  if (samples.value)
    for (const SampleEntry& s : *samples.value) report.sample_lines.push_back(s.line);
  CommandIo report_io = io;
  report_io.library_path = "not loaded (merge reads the tables of earlier runs)";
  report_io.library_contract.clear();
  finish_rows(o, "merge", targets, files, samples.value, outcome, report, io, report_io);
  return finish_code(outcome, io);
}

int run_ladder_command(const CliOptions& o, const ChainSteps& steps, CommandIo& io) {
  Target ion = make_target("ladder", o.ladder.ion, 0.0, o.defaults);
  TargetRun trace;
  const Ingestion ingestion =
      run_ingestion(steps, o.inputs.front(), [&](std::string_view spectra) {
        trace = chain::run_trace_only(steps, spectra, ion);
      });
  if (ingestion.status != kStatusOk || !ingestion.has_spectra_document()) {
    io.err << "vxrun: " << o.inputs.front() << ": " << ingestion.status << ": "
           << ingestion.message << "\n";
    return kExitNotProcessed;
  }
  if (trace.status != kStatusOk) {
    io.err << "vxrun: " << o.inputs.front() << ": " << trace.message << "\n";
    return kExitNotProcessed;
  }
  const ident::LadderFind found =
      ident::find_ladder(trace.trace_facts.retention_time, trace.trace_facts.intensity,
                         o.ladder.first_carbon);
  for (const std::string& w : found.warnings) io.err << "vxrun: " << w << "\n";
  if (found.alkanes.size() < 2) {
    io.err << "vxrun: " << o.inputs.front() << ": fewer than two alkanes found on m/z "
           << shortest_text(o.ladder.ion) << ": no ladder written\n";
    return kExitNotProcessed;
  }
  const std::string table = ident::format_ladder(found.alkanes);
  if (o.ladder.out_path.empty() || o.ladder.out_path == "-") {
    io.out << table;
    io.out.flush();
    return io.out ? kExitOk : kExitCannotWrite;
  }
  std::string error;
  if (!write_text_file(o.ladder.out_path, table, &error)) {
    io.err << "vxrun: " << error << "\n";
    return kExitCannotWrite;
  }
  if (!o.quiet)
    io.err << "vxrun: " << found.alkanes.size() << " alkanes, C" << found.alkanes.front().carbon
           << " to C" << found.alkanes.back().carbon << "\n";
  return kExitOk;
}

int run_search_command(const CliOptions& o, const ChainSteps& steps, CommandIo& io) {
  const std::string& path = o.identification.msp_file;
  const auto text = read_whole_file(path);
  if (!text) {
    io.err << "vxrun: cannot read the spectral library " << path << "\n";
    return kExitNoInput;
  }
  const ident::MspParse library = ident::parse_msp(*text, path);
  if (!library.errors.empty()) {
    for (const std::string& e : library.errors) io.err << "vxrun: " << e << "\n";
    return kExitTargetsInvalid;
  }
  const Target target = make_target("peak", *o.mz, *o.rt, o.defaults);
  std::optional<ident::UnitSpectrum> peak;
  TargetRun run;
  const Ingestion ingestion =
      run_ingestion(steps, o.inputs.front(), [&](std::string_view spectra) {
        run = chain::run_target(steps, spectra, target, false);
        peak = chain::peak_spectrum(chain::ScanLookup(spectra), run);
      });
  if (ingestion.status != kStatusOk || !ingestion.has_spectra_document()) {
    io.err << "vxrun: " << o.inputs.front() << ": " << ingestion.status << ": "
           << ingestion.message << "\n";
    return kExitNotProcessed;
  }
  if (!peak || peak->empty()) {
    io.err << "vxrun: " << o.inputs.front() << ": no peak of m/z " << shortest_text(*o.mz)
           << " fitted near " << shortest_text(*o.rt) << " min (fit: "
           << (run.fit.fit_status.empty() ? "not run" : run.fit.fit_status) << ")\n";
    return kExitNotProcessed;
  }
  struct Hit {
    const ident::LibraryEntry* entry;
    ident::MatchScore score;
  };
  std::vector<Hit> hits;
  for (const ident::LibraryEntry& e : library.entries) {
    std::vector<double> mz, intensity;
    for (const ident::LibraryPeak& p : e.peaks) {
      mz.push_back(p.mz);
      intensity.push_back(p.intensity);
    }
    if (const auto s = ident::match_score(*peak, ident::bin_unit_mass(mz, intensity)))
      hits.push_back({&e, *s});
  }
  // Best forward score first; the reverse score and then the library's
  // order break ties, so the list is the same on every run.
  std::stable_sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    return a.score.forward != b.score.forward ? a.score.forward > b.score.forward
                                              : a.score.reverse > b.score.reverse;
  });
  io.out << "rank\tname\tmatch_score\treverse_match\tretention_index\n";
  for (std::size_t i = 0; i < hits.size() && i < static_cast<std::size_t>(o.search.top); ++i) {
    std::string name;
    base::append_tsv_text(name, hits[i].entry->name);
    io.out << i + 1 << '\t' << name << '\t' << hits[i].score.forward << '\t'
           << hits[i].score.reverse << '\t'
           << (hits[i].entry->retention_index ? shortest_text(*hits[i].entry->retention_index)
                                              : std::string())
           << '\n';
  }
  io.out.flush();
  return io.out ? kExitOk : kExitCannotWrite;
}

// The very expansion batch runs, so a workflow that splits a sequence into
// jobs reads the same files in the same order as one batch would.
int run_inputs_command(const CliOptions& o, CommandIo& io) {
  for (const BatchFile& f : expand_inputs(o.inputs)) io.out << f.path << '\n';
  io.out.flush();
  return io.out ? kExitOk : kExitCannotWrite;
}

}  // namespace vx::host::cli
