// Scheduling: one pool job per file runs the ingestion. When the step hands
// over the spectra document, that job traces and fits every target on it,
// helped by idle workers (ThreadPool::run_all puts the helpers at the front
// of the queue), so a file's targets finish before another file is started,
// and the document is never copied. Rows and hooks follow once the
// step has returned and the file's status is known.
#include "batch_runner.hpp"

#include <glob.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>

#include "review.hpp"
#include "run_inputs.hpp"
#include "thread_pool.hpp"

namespace vx::host::chain {

using tables::kFitSuccess;
using base::ThreadPool;
using tables::IonFit;
using tables::Measurement;
using tables::Qualifier;
using tables::ResultRow;
using tables::Target;
using tables::kStatusNoMzmlFiles;
using tables::kStatusOk;
using tables::qualifier_target;
using tables::row_processed;

namespace {

namespace fs = std::filesystem;

bool ends_with_ignoring_case(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  s = s.substr(s.size() - suffix.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(s[i]) != lower(suffix[i])) return false;
  }
  return true;
}

// ANDI/AIA netCDF exports (.cdf) are read beside mzML.
bool input_name(std::string_view name) {
  return ends_with_ignoring_case(name, ".mzml") ||
         ends_with_ignoring_case(name, ".mzml.gz") || is_andi_path(name);
}

bool has_glob_chars(std::string_view s) {
  return s.find_first_of("*?[") != std::string_view::npos;
}

}  // namespace

std::vector<BatchFile> expand_inputs(std::span<const std::string> inputs) {
  std::vector<BatchFile> files;
  for (const std::string& arg : inputs) {
    std::error_code ec;
    if (fs::is_directory(arg, ec)) {
      std::size_t found = 0;
      for (fs::directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!input_name(name)) continue;
        files.push_back({it->path().string(), "", ""});
        ++found;
      }
      if (found == 0) {
        files.push_back({arg, std::string(kStatusNoMzmlFiles),
                         ec ? "cannot list the folder: " + ec.message()
                            : "the folder holds no .mzML, .mzML.gz or .cdf file"});
      }
      continue;
    }
    if (!fs::exists(fs::symlink_status(arg, ec)) && has_glob_chars(arg)) {
      glob_t g{};
      if (glob(arg.c_str(), 0, nullptr, &g) == 0 && g.gl_pathc > 0) {
        for (std::size_t i = 0; i < g.gl_pathc; ++i)
          files.push_back({g.gl_pathv[i], "", ""});
        globfree(&g);
        continue;
      }
      globfree(&g);
    }
    files.push_back({arg, "", ""});
  }
  std::stable_sort(
      files.begin(), files.end(),
      [](const BatchFile& a, const BatchFile& b) { return a.path < b.path; });
  files.erase(std::unique(files.begin(), files.end(),
                          [](const BatchFile& a, const BatchFile& b) {
                            return a.path == b.path;
                          }),
              files.end());
  return files;
}

std::vector<IonFit> trace_qualifiers(const ChainSteps& steps,
                                     const FollowUps::Document& document,
                                     std::size_t first, const Target& target,
                                     const TargetRun& quantifier,
                                     std::vector<QualifierTrace>* traces) {
  std::vector<IonFit> fits;
  fits.reserve(target.qualifiers.size());
  const bool fitted = quantifier.fit.fit_status == kFitSuccess && quantifier.fit.retention_time &&
                      std::isfinite(*quantifier.fit.retention_time);
  const double rt = fitted ? *quantifier.fit.retention_time : target.rt;
  // Only a qualifier's S/N and detection are read: its decision stops there
  // and spends nothing on bounds or the coelution fits.
  peaks::DecisionOptions decisions;
  decisions.detection_only = true;
  std::string buffer;
  for (std::size_t i = 0; i < target.qualifiers.size(); ++i) {
    const std::string_view spectra = document(first + i, buffer);
    const TargetRun run =
        run_target(steps, spectra, qualifier_target(target, target.qualifiers[i], rt),
                   /*keep_points=*/traces != nullptr, &decisions);
    if (traces != nullptr) traces->push_back({run.trace_facts, run.fit.baseline});
    IonFit fit;
    fit.fit_status = run.status == kStatusOk ? run.fit.fit_status : run.status;
    fit.area = run.fit.area;
    fit.retention_time = run.fit.retention_time;
    if (run.decision) {
      fit.signal_to_noise = run.decision->signal_to_noise;
      fit.detection = run.decision->detection();
    }
    fits.push_back(std::move(fit));
  }
  return fits;
}

std::optional<ident::UnitSpectrum> peak_spectrum(const ScanLookup& scans, const TargetRun& run) {
  const FitFacts& fit = run.fit;
  if (run.status != kStatusOk || fit.fit_status != kFitSuccess || !fit.retention_time ||
      !fit.width || !std::isfinite(*fit.width) || *fit.width <= 0.0)
    return std::nullopt;
  const double c = *fit.retention_time;
  const double k = 3.0 * *fit.width;
  const auto apex = scans.nearest(c);
  const auto start = scans.nearest(c - k);
  const auto end = scans.nearest(c + k);
  if (!apex || !start || !end) return std::nullopt;
  return ident::background_subtracted({apex->mz, apex->intensity},
                                      {start->mz, start->intensity}, {end->mz, end->intensity});
}

std::optional<ident::MatchScore> match_peak(const ScanLookup& scans, const TargetRun& run,
                                            const ident::UnitSpectrum& library) {
  const auto peak = peak_spectrum(scans, run);
  if (!peak) return std::nullopt;
  return ident::match_score(*peak, library);
}

std::vector<Measurement> batch_measurements(const BatchOutcome& outcome) {
  std::vector<Measurement> out(outcome.rows.size());
  for (std::size_t i = 0; i < outcome.rows.size(); ++i) {
    const ResultRow& row = outcome.rows[i];
    IonFit& q = out[i].quantifier;
    q.fit_status = row_processed(row) ? row.fit_status : row.status;
    q.area = row.area;
    q.retention_time = row.retention_time;
    q.signal_to_noise = row.signal_to_noise;
    q.detection = row.detection;
    q.integrated_area = row.integrated_area;
    q.height = row.height;
    // A review has already spoken through the decision columns (a rejection
    // is not_detected, a manual integration the integrated area); the action
    // travels along so the quantitation can say which rows it overruled.
    out[i].review = row.review;
    if (i < outcome.qualifier_fits.size()) out[i].qualifiers = outcome.qualifier_fits[i];
  }
  return out;
}

namespace {

// One call of run_batch: what the tasks of all files share. Each task writes
// only its own file's rows; errors go through a lock.
class BatchJob {
 public:
  BatchJob(const ChainSteps& steps, std::span<const BatchFile> files,
           const BatchSettings& settings)
      : steps_(steps), files_(files), settings_(settings), pool_(settings.jobs) {
    outcome_.rows.resize(files.size() * n_targets_);
    outcome_.qualifier_fits.resize(files.size() * n_targets_);
  }

  BatchOutcome run() {
    for (std::size_t f = 0; f < files_.size(); ++f)
      pool_.submit([this, f] { run_file(f); });
    pool_.wait();
    for (std::size_t f = 0; f < files_.size(); ++f) {
      if (!file_processed(f)) ++outcome_.files_failed;
    }
    std::sort(outcome_.write_errors.begin(), outcome_.write_errors.end());
    return std::move(outcome_);
  }

 private:
  ResultRow& row(std::size_t f, std::size_t t) {
    return outcome_.rows[f * n_targets_ + t];
  }

  [[nodiscard]] bool file_processed(std::size_t f) const {
    for (std::size_t t = 0; t < n_targets_; ++t) {
      if (!row_processed(outcome_.rows[f * n_targets_ + t])) return false;
    }
    return true;
  }

  void report(std::optional<std::string> error) {
    if (!error) return;
    const std::lock_guard lock(errors_mutex_);
    outcome_.write_errors.push_back(std::move(*error));
  }

  // Every row of the file is written by now, so reading them is safe.
  void file_done(std::size_t f) {
    if (!settings_.on_file_done) return;
    std::string_view status = kStatusOk;
    for (std::size_t t = 0; t < n_targets_ && status == kStatusOk; ++t) {
      if (!row_processed(row(f, t))) status = row(f, t).status;
    }
    settings_.on_file_done(files_[f].path, status);
  }

  void run_file(std::size_t f) {
    const BatchFile& file = files_[f];
    if (!file.problem.empty()) {
      for (std::size_t t = 0; t < n_targets_; ++t) {
        row(f, t) =
            make_problem_row(file.path, settings_.targets[t], file.problem, file.message);
      }
      file_done(f);
      return;
    }
    // The traces run while the ingestion step still holds the spectra
    // document, on this thread and on idle workers; only when the documents
    // are to be written is the document kept and traced after.
    std::vector<TargetRun> runs(n_targets_);
    std::vector<std::optional<ident::MatchScore>> matches(n_targets_);
    const auto trace_all = [&](std::string_view spectra) {
      // Qualifier ions join the targets' compact documents; each is traced
      // right after its target, whose fitted time it needs.
      FollowUps follow;
      std::vector<std::size_t> first_ion(n_targets_);
      for (std::size_t t = 0; t < n_targets_; ++t) {
        first_ion[t] = follow.queries.size();
        const Target& target = settings_.targets[t];
        for (const Qualifier& q : target.qualifiers) {
          const Target ion = qualifier_target(target, q, target.rt);
          follow.queries.push_back({ion.mz, ion.mz_tol, ion.exact});
        }
      }
      // Each worker writes only its own target's slot.
      std::vector<std::vector<QualifierTrace>> qualifier_traces(n_targets_);
      follow.after = [&](std::size_t t, const TargetRun& run,
                         const FollowUps::Document& document) {
        outcome_.qualifier_fits[f * n_targets_ + t] =
            trace_qualifiers(steps_, document, first_ion[t], settings_.targets[t], run,
                             settings_.peak_views ? &qualifier_traces[t] : nullptr);
      };
      run_targets(
          steps_, spectra, settings_.targets, runs,
          [&](std::size_t n, const std::function<void(std::size_t)>& job) {
            pool_.run_all(n, job);
          },
          static_cast<bool>(settings_.on_target), follow, settings_.decisions);
      if (settings_.peak_views) {
        const ScanLookup scans(spectra);
        for (std::size_t t = 0; t < n_targets_; ++t) {
          runs[t].qualifier_traces = std::move(qualifier_traces[t]);
          runs[t].spectrum = peak_spectrum(scans, runs[t]);
          if (runs[t].spectrum && runs[t].fit.retention_time) {
            if (const auto apex = scans.nearest(*runs[t].fit.retention_time))
              runs[t].apex_scan_ions = apex->mz.size();
          }
        }
      }
      // The library match reads a few scans while the document is still held.
      if (!settings_.library_spectra.empty()) {
        const ScanLookup scans(spectra);
        for (std::size_t t = 0; t < n_targets_ && t < settings_.library_spectra.size(); ++t) {
          if (settings_.library_spectra[t])
            matches[t] = match_peak(scans, runs[t], *settings_.library_spectra[t]);
        }
      }
    };
    const bool keep_documents = static_cast<bool>(settings_.on_ingestion);
    const Ingestion ingestion = run_ingestion(
        steps_, file.path, keep_documents ? SpectraVisitor() : SpectraVisitor(trace_all));
    if (keep_documents) {
      report(settings_.on_ingestion(f, ingestion));
      if (ingestion.has_spectra_document()) trace_all(ingestion.spectra);
    }
    for (std::size_t t = 0; t < n_targets_; ++t) {
      const TargetRun* run = ingestion.has_spectra_document() ? &runs[t] : nullptr;
      row(f, t) = make_row(file.path, ingestion, settings_.targets[t], run);
      if (matches[t]) {
        row(f, t).match_score = matches[t]->forward;
        row(f, t).reverse_match = matches[t]->reverse;
      }
      if (run != nullptr && settings_.on_target) report(settings_.on_target(f, t, *run));
    }
    file_done(f);
  }


  const ChainSteps& steps_;
  std::span<const BatchFile> files_;
  const BatchSettings& settings_;
  const std::size_t n_targets_ = settings_.targets.size();
  BatchOutcome outcome_;
  std::mutex errors_mutex_;
  ThreadPool pool_;  // last: its workers stop before the members they use go
};

}  // namespace

BatchOutcome run_batch(const ChainSteps& steps, std::span<const BatchFile> files,
                       const BatchSettings& settings) {
  return BatchJob(steps, files, settings).run();
}

}  // namespace vx::host::chain
