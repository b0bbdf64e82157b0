// The commands. Exit codes are decided here and only here.
#include "commands.hpp"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "batch_runner.hpp"
#include "exit_codes.hpp"
#include "host_session.hpp"
#include "number_text.hpp"
#include "step_library.hpp"

#ifndef VX_HOST_VERSION
#define VX_HOST_VERSION "unknown"
#endif

namespace vx::host {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> read_whole_file(const std::string& path) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(ss).str();
}

// The targets of a chain or batch: the table, or the single --mz/--rt target.
std::optional<std::vector<Target>> load_targets(const CliOptions& o, CommandIo& io,
                                                int& code) {
  if (o.targets_file.empty()) {
    return std::vector<Target>{make_target(
        shortest_text(*o.mz) + "@" + shortest_text(*o.rt), *o.mz, *o.rt, o.defaults)};
  }
  const auto text = read_whole_file(o.targets_file);
  if (!text) {
    io.err << "vxrun: cannot read the targets table " << o.targets_file << "\n";
    code = kExitNoInput;
    return std::nullopt;
  }
  TargetsParse parsed = parse_targets(*text, o.defaults, o.targets_file);
  if (!parsed.errors.empty()) {
    for (const std::string& e : parsed.errors) io.err << "vxrun: " << e << "\n";
    code = kExitTargetsInvalid;
    return std::nullopt;
  }
  return std::move(parsed.targets);
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

int finish_code(const BatchOutcome& outcome, CommandIo& io) {
  for (const std::string& e : outcome.write_errors) io.err << "vxrun: " << e << "\n";
  if (!outcome.write_errors.empty()) return kExitCannotWrite;
  return outcome.files_failed == 0 ? kExitOk : kExitNotProcessed;
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

void print_value(std::ostream& out, std::string_view label,
                 const std::optional<double>& v, std::string_view unit = "") {
  if (v) field(out, label) << general_text(*v, 6) << unit << "\n";
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
    print_value(out, "retention time", row.retention_time, " min");
    print_value(out, "height", row.height);
    print_value(out, "width (sigma)", row.width, " min");
    print_value(out, "area", row.area);
    print_value(out, "baseline", row.baseline);
    print_value(out, "r\xC2\xB2", row.r_squared);
  }
  field(out, "flags");
  for (std::size_t i = 0; i < row.flags.size(); ++i)
    out << (i ? ", " : "") << row.flags[i];
  if (row.flags.empty()) out << "none";
  out << "\n";
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

int run_chain_command(const CliOptions& o, const ChainSteps& steps, CommandIo& io) {
  int code = kExitOk;
  const auto targets = load_targets(o, io, code);
  if (!targets) return code;
  if (!make_folder(o.out_dir, io) || !make_folder(o.plot_dir, io))
    return kExitCannotWrite;

  const std::vector<BatchFile> files{{o.inputs.front(), "", ""}};
  BatchSettings settings;
  settings.targets = *targets;
  settings.jobs = o.jobs;
  settings.plot_dir = o.plot_dir;
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
          per_target_folders ? out_dir / safe_file_name((*targets)[t].name) : out_dir;
      return write_documents(dir, {{kTraceFile, &run.trace},
                                   {kTraceDiagnosticsFile, &run.trace_diagnostics},
                                   {kFitResultFile, &run.fit_result},
                                   {kFitDiagnosticsFile, &run.fit_diagnostics}});
    };
  }
  const BatchOutcome outcome = run_batch(steps, files, settings);
  for (std::size_t t = 0; t < outcome.rows.size(); ++t) {
    print_summary(io.out, outcome.rows[t], (*targets)[t], t == 0);
  }
  return finish_code(outcome, io);
}

int run_batch_command(const CliOptions& o, const ChainSteps& steps, CommandIo& io) {
  int code = kExitOk;
  const auto targets = load_targets(o, io, code);
  if (!targets) return code;
  if (!make_folder(o.plot_dir, io)) return kExitCannotWrite;

  const std::vector<BatchFile> files = expand_inputs(o.inputs);
  Progress::Mode mode = Progress::Mode::kNone;
  if (!o.quiet) {
    const bool bar = o.progress_bar.value_or(io.progress_is_terminal);
    mode = bar ? Progress::Mode::kBar : Progress::Mode::kLines;
  }
  Progress progress(io.progress, mode, files.size());
  BatchSettings settings;
  settings.targets = *targets;
  settings.jobs = o.jobs;
  settings.plot_dir = o.plot_dir;
  settings.progress = &progress;
  BatchOutcome outcome = run_batch(steps, files, settings);
  progress.finish();

  const std::string table = table_tsv(outcome.rows);
  if (o.table_path.empty() || o.table_path == "-") {
    io.out << table;
    io.out.flush();
  } else {
    std::string error;
    if (!write_text_file(o.table_path, table, &error))
      outcome.write_errors.push_back(error);
  }
  if (!o.jsonl_path.empty()) {
    std::string error;
    if (o.jsonl_path == "-") {
      io.out << table_jsonl(outcome.rows);
    } else if (!write_text_file(o.jsonl_path, table_jsonl(outcome.rows), &error)) {
      outcome.write_errors.push_back(error);
    }
  }
  if (!o.quiet) {
    io.err << "vxrun: " << files.size() << " files, " << outcome.rows.size() << " rows";
    if (outcome.files_failed > 0)
      io.err << ", " << outcome.files_failed << " not processed";
    io.err << "\n";
  }
  return finish_code(outcome, io);
}

}  // namespace vx::host
