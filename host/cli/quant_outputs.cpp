// Quantitation outputs; file names of the plots follow the batch plots'
// rules (safe characters only).
#include "quant_outputs.hpp"

#include <filesystem>

#include "calibration_plot.hpp"
#include "file_io.hpp"
#include "quant_tables.hpp"

namespace vx::host::cli {

using base::safe_file_name;
using base::write_text_file;
using tables::SampleAssignment;
using tables::SampleEntry;
using tables::SampleListParse;
using tables::Target;
using tables::assign_samples;
using tables::parse_sample_list;
using chain::BatchFile;
using chain::BatchOutcome;
using chain::batch_measurements;
using quant::QuantOutcome;
using quant::QuantSettings;
using quant::calibration_jsonl;
using quant::calibration_tsv;
using quant::quant_jsonl;
using quant::quant_tsv;
using quant::quantitate;
using figures::render_calibration_svg;

SampleAssignment samples_for_batch(const std::string* list_text, std::string_view source,
                                   std::span<const Target> targets,
                                   std::span<const BatchFile> files) {
  std::vector<std::string> names, paths;
  for (const Target& t : targets) names.push_back(t.name);
  for (const BatchFile& f : files) paths.push_back(f.path);
  if (list_text == nullptr) return assign_samples({}, paths, names.size(), source);
  const SampleListParse list = parse_sample_list(*list_text, names, source);
  if (!list.errors.empty()) return {{}, list.errors};
  return assign_samples(list, paths, names.size(), source);
}

QuantOutcome quantitate_batch(const QuantOptions& q, std::span<const Target> targets,
                              std::span<const SampleEntry> samples,
                              const BatchOutcome& outcome) {
  return quantitate(targets, samples, batch_measurements(outcome), quant_settings(q));
}

QuantSettings quant_settings(const QuantOptions& q) {
  QuantSettings settings;
  settings.calibration = q.calibration;
  settings.blank_threshold_percent = q.blank_threshold_percent;
  settings.response = q.response;
  settings.istd_low_percent = q.istd_low_percent;
  settings.istd_high_percent = q.istd_high_percent;
  return settings;
}

void write_quantitation(const QuantOptions& q, std::span<const Target> targets,
                        std::span<const SampleEntry> samples, BatchOutcome& outcome) {
  write_quantitation(q, targets, quantitate_batch(q, targets, samples, outcome), outcome);
}

void write_quantitation(const QuantOptions& q, std::span<const Target> targets,
                        const QuantOutcome& quant, BatchOutcome& outcome) {
  std::vector<std::string> names;
  for (const Target& t : targets) names.push_back(t.name);
  const auto write = [&](const std::string& path, const std::string& text) {
    std::string error;
    if (!path.empty() && !write_text_file(path, text, &error))
      outcome.write_errors.push_back(error);
  };
  if (!q.quant_path.empty()) write(q.quant_path, quant_tsv(quant.rows));
  if (!q.quant_jsonl_path.empty()) write(q.quant_jsonl_path, quant_jsonl(quant.rows));
  if (!q.calibration_path.empty())
    write(q.calibration_path, calibration_tsv(quant.calibrations, names));
  if (!q.calibration_jsonl_path.empty())
    write(q.calibration_jsonl_path, calibration_jsonl(quant.calibrations, names));
  if (q.plot_dir.empty()) return;
  for (std::size_t t = 0; t < targets.size(); ++t) {
    const std::string path = (std::filesystem::path(q.plot_dir) /
                              ("calibration__" + safe_file_name(names[t]) + ".svg"))
                                 .string();
    write(path, render_calibration_svg(quant.calibrations[t], names[t],
                                       !targets[t].istd.empty()));
  }
}

}  // namespace vx::host::cli
