// Compact spectra documents against the whole document: the trace (both the
// fast and the exact reading) and the fit must come out byte for byte the
// same, on every shared sample file, on documents with odd numbers and odd
// entries, and on broken documents.
#include "compact_spectra.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../trace/spectra_document.hpp"
#include "batch_runner.hpp"
#include "chain_runner.hpp"
#include "common/json_scanner.hpp"
#include "test_support.hpp"
#include "trace/trace_extract.hpp"
#include "trace/trace_step.hpp"

namespace vx::host::chain {

using tables::qualifier_target;
using tables::Target;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A target that traces query q around rt.
Target target_of(const IonQuery& q, double rt, double rt_tol) {
  Target t;
  t.name = "t";
  t.mz = q.mz;
  t.rt = rt;
  t.mz_tol = q.tolerance;
  t.rt_tol = rt_tol;
  t.exact = q.exact;
  return t;
}

std::string trace_texts(std::string_view doc, const IonQuery& q, bool exact_reading) {
  const trace::TraceQuery tq{q.mz, q.tolerance, q.exact};
  trace::Trace t;
  if (exact_reading) {
    trace::extract_trace_exact(doc, tq, t);
  } else {
    trace::extract_trace(doc, tq, t);
  }
  return trace::trace_document(t, tq) + trace::diagnostics_document(t, tq);
}

// The oracle: every query traced on its group's compact document, with the
// fast and with the exact reading, gives the bytes of the whole document.
void expect_same_traces(std::string_view full, const std::vector<IonQuery>& queries) {
  const CompactSpectra compact(full, queries);
  std::string buffer;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const std::string_view doc = compact.document(compact.group_of(i), buffer);
    const std::string want = trace_texts(full, queries[i], false);
    SCOPED_TRACE("query " + std::to_string(i) + ": mz " + std::to_string(queries[i].mz) +
                 " tol " + std::to_string(queries[i].tolerance) +
                 (queries[i].exact ? " exact" : ""));
    EXPECT_TRUE(vx::testing::same_bytes(trace_texts(doc, queries[i], false), want));
    EXPECT_TRUE(vx::testing::same_bytes(trace_texts(doc, queries[i], true), want));
  }
}

// Table-only runs on documents restricted in time: the row's facts (fit,
// whole-run trace totals, flags) are those of the whole document, for
// windows inside, across and beyond the run's ends.
// Every other target's range is copied to its group's hot text, so groups
// read some targets from it and some from the document.
void expect_same_restricted(const ChainSteps& steps, std::string_view full,
                            const std::vector<IonQuery>& queries, uint32_t seed) {
  std::mt19937 rng(seed);
  constexpr double kRtTols[] = {0.3, 0.0, 0.05, 2.0, 40.0};
  std::vector<Target> targets;
  std::vector<TimeRange> hot;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    targets.push_back(target_of(queries[i], static_cast<double>(rng() % 240) / 20.0 - 1.0,
                                kRtTols[rng() % std::size(kRtTols)]));
    hot.push_back(i % 2 == 0 ? *trace_range(targets[i].rt, targets[i].rt_tol)
                             : TimeRange{});
  }
  const CompactSpectra compact(full, queries, hot);
  ASSERT_TRUE(compact.restrictable());
  std::string buffer;
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const Target& target = targets[i];
    const auto range = trace_range(target.rt, target.rt_tol);
    ASSERT_TRUE(range);
    const std::size_t g = compact.group_of(i);
    const TargetRun want = run_target(steps, full, target, false);
    const TargetRun got =
        run_target_within(steps, compact.document(g, buffer, *range), target,
                          compact.totals(i, queries[i]));
    SCOPED_TRACE("query " + std::to_string(i) + " rt " + std::to_string(target.rt) + " +- " +
                 std::to_string(target.rt_tol));
    EXPECT_EQ(got.status, want.status);
    EXPECT_EQ(got.fit_result, want.fit_result);
    EXPECT_EQ(got.fit_diagnostics, want.fit_diagnostics);
    EXPECT_EQ(got.trace_facts.matched_ion_count, want.trace_facts.matched_ion_count);
    EXPECT_EQ(got.trace_facts.max_intensity, want.trace_facts.max_intensity);
    EXPECT_EQ(got.flags, want.flags);
  }
}

// Queries around the values a document holds: hits, exact hits, window
// edges on both sides, the ends of the range, overlapping windows, zero
// and odd tolerances, and a few values far off.
std::vector<IonQuery> random_queries(std::string_view doc, uint32_t seed, std::size_t n) {
  std::vector<double> values = common::parse_number_list(doc.substr(0, 1 << 20));
  std::erase_if(values, [](double v) { return !std::isfinite(v); });
  if (values.empty()) values = {73.0};
  std::mt19937 rng(seed);
  const auto pick = [&] { return values[rng() % values.size()]; };
  const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
  constexpr double kTols[] = {0.0, 0.5, 1e-3, 2.5, 1e-9, 0.25};
  std::vector<IonQuery> q;
  while (q.size() < n) {
    const double tol = kTols[rng() % std::size(kTols)];
    const double v = pick();
    switch (rng() % 8) {
      case 0: q.push_back({v, tol, (rng() & 1) != 0}); break;
      case 1: q.push_back({v + tol, tol, false}); break;
      case 2: q.push_back({v - tol, tol, false}); break;
      case 3: q.push_back({*lo - tol, tol, false}); q.push_back({*hi + tol, tol, false}); break;
      case 4: q.push_back({v, 0.5, false}); q.push_back({v + 0.3, 0.5, false}); q.push_back({v + 0.7, 0.4, false}); break;
      case 5: q.push_back({*lo + (*hi - *lo) * static_cast<double>(rng() % 1000) / 1000.0, tol, false}); break;
      case 6: q.push_back({std::round(v), 0.5, false}); q.push_back({std::round(v) + 1, 0.5, false}); break;
      default: q.push_back({v, tol, true}); break;
    }
  }
  return q;
}

std::vector<std::filesystem::path> sample_files() {
  std::vector<std::filesystem::path> files;
  for (const char* dir : {"data/mzml", "data/mzml/public"}) {
    const auto folder = vx::testing::shared_file(dir);
    if (folder.empty()) continue;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      if (name.ends_with(".mzML") || name.ends_with(".mzML.gz")) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(CompactSpectra, SampleFilesTraceAndFitTheSame) {
  const ChainSteps steps{vx::testing::step_entry(kIngestionStep),
                         vx::testing::step_entry(kTraceStep), vx::testing::step_entry(kFitStep)};
  const auto files = sample_files();
  ASSERT_GE(files.size(), 20U) << "the shared sample folder is missing";
  uint32_t seed = 1;
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const Ingestion ingestion = run_ingestion(steps, file.string());
    if (!ingestion.has_spectra_document()) continue;
    const std::string& full = ingestion.spectra;
    const std::vector<IonQuery> queries = random_queries(full, seed++, 24);
    expect_same_traces(full, queries);

    const CompactSpectra compact(full, queries);
    EXPECT_EQ(compact.verbatim_entries(), 0U) << "the ingestion layout must always compact";
    std::string buffer;
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < queries.size(); ++i) {
      const Target target =
          target_of(queries[i], 1.0 + static_cast<double>(rng() % 200) / 20.0, 0.3);
      const TargetRun want = run_target(steps, full, target);
      const TargetRun got =
          run_target(steps, compact.document(compact.group_of(i), buffer), target);
      EXPECT_EQ(got.trace, want.trace);
      EXPECT_EQ(got.trace_diagnostics, want.trace_diagnostics);
      EXPECT_EQ(got.fit_result, want.fit_result);
      EXPECT_EQ(got.fit_diagnostics, want.fit_diagnostics);
    }
    expect_same_restricted(steps, full, queries, seed);
  }
}

// The hot text only moves where a restricted document reads its numbers
// from: any range asked for gives the same bytes whatever the hot ranges,
// including ranges that overlap, nest, touch the run's ends or miss it.
TEST(CompactSpectra, HotTextGivesTheSameRestrictedDocuments) {
  std::vector<trace::docs::Spectrum> spectra;
  for (int i = 0; i < 40; ++i) {
    const double v = static_cast<double>(i);
    spectra.push_back({.time = 1.0 + 0.25 * v,
                       .mz = {72.9 + 0.01 * v, 73.0, 73.2, 90.0},
                       .intensity = {10.0 + v, 0.0, 1e-3 * v, 5.0}});
  }
  const std::string doc = trace::docs::spectra_document(spectra);
  const std::vector<IonQuery> queries{
      {73.0, 0.3, false}, {73.1, 0.3, false}, {90.0, 0.5, false}};
  const CompactSpectra plain(doc, queries);
  ASSERT_TRUE(plain.restrictable());
  struct Case {
    const char* name;
    std::vector<TimeRange> hot;
  };
  const Case cases[] = {
      {"none", {}},
      {"one range in the middle", {{3.0, 5.0}}},
      {"overlapping ranges of one group", {{2.0, 4.0}, {3.5, 6.0}, {7.0, 8.0}}},
      {"nested ranges", {{1.0, 10.0}, {3.0, 4.0}, {}}},
      {"ranges over both ends of the run", {{-5.0, 1.5}, {9.5, 30.0}, {-1.0, 100.0}}},
      {"ranges that miss the run", {{-9.0, -1.0}, {50.0, 60.0}, {}}},
      {"a point on an entry's time", {{3.25, 3.25}, {3.25, 3.25}, {3.25, 3.25}}},
      {"an empty and a NaN range", {{5.0, 4.0}, {kNaN, kNaN}, {}}},
  };
  const TimeRange asked[] = {{3.0, 5.0},  {0.0, 20.0}, {2.9, 6.1},   {3.25, 3.25},
                             {-4.0, 1.2}, {9.6, 12.0}, {20.0, 30.0}, {kNaN, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CompactSpectra hot(doc, queries, c.hot);
    ASSERT_EQ(hot.group_count(), plain.group_count());
    std::string want;
    std::string got;
    for (std::size_t g = 0; g < plain.group_count(); ++g) {
      for (const TimeRange& r : asked) {
        SCOPED_TRACE("group " + std::to_string(g) + " range " + std::to_string(r.lo) +
                     ".." + std::to_string(r.hi));
        EXPECT_TRUE(
            vx::testing::same_bytes(hot.document(g, got, r), plain.document(g, want, r)));
      }
      EXPECT_EQ(hot.document(g, got), plain.document(g, want));
    }
  }
}

// Documents with every number form the writer produces, and entries in
// other forms, which are copied whole; want_verbatim counts those.
TEST(CompactSpectra, OddNumbersAndEntriesTraceTheSame) {
  using trace::docs::Spectrum;
  const ChainSteps steps{vx::testing::step_entry(kIngestionStep),
                         vx::testing::step_entry(kTraceStep), vx::testing::step_entry(kFitStep)};
  const std::string plain = trace::docs::spectra_document({
      {1.5, "minute", {72.5, 73.0, 73.5, 73.50001, 74.0}, {10, 30, 20, 99, 5}},
      {90, "second", {kNaN, 73.0, kInf, -kInf, 73.2}, {5, kNaN, 7, 8, kInf}},
      {kNaN, "hour", {73.0, 73.1, 73.2, 73.3, 73.4}, {1, 2, 3}},
      {2.5, "minute", {73.0, 73.2}, {0.5, 0.8, 9, 9, 9}},
      {3.0, "s", {}, {}},
      {-0.0, "millisecond", {1e-7, 2.5e-300, 1e300, -0.0, 0.0, 73.000000001}, {1, 2, 3, 4, 5, 6}},
      {4.0, "minute", {73, 73, 73}, {0, -1, 0.2}},
  });
  // An entry in another form spliced in after the first entry.
  const auto with = [&](std::string_view odd) {
    std::string d = plain;
    d.insert(d.find("},{") + 2, std::string(odd) + ",");
    return d;
  };
  const std::string entry =
      R"({"index":9,"scan_start_time":5,"scan_start_time_unit":"minute","ms_level":1,)"
      R"("spectrum_type":"centroid spectrum","mz_array":[73],"intensity_array":[50],)"
      R"("mz_array_dtype":"float64","intensity_array_dtype":"float32","array_compression":"none"})";
  const auto edit = [&](std::string_view from, std::string_view to) {
    std::string e = entry;
    e.replace(e.find(from), from.size(), to);
    return with(e);
  };
  struct Case {
    std::string name;
    std::string doc;
    std::size_t want_verbatim;
  };
  const std::vector<Case> cases = {
      {"writer forms", plain, 0},
      {"layout entry spliced", with(entry), 0},
      // Digit runs read several at a time, up to and past the mantissa's cap;
      // numbers whose leading digits alone would place them far from 73.
      {"long digit runs",
       edit("[73],\"intensity_array\":[50]",
            "[73.00000000,72.5000000000000000000001,72.49999999999999999999,00000073."
            "4999999,"
            "73499999999999999999e-18,7350000000000000000000000e-23,73."
            "5000000000000000001,"
            "1.5e2,0.0000000073e10,65535.95,65536.5,99999.9],"
            "\"intensity_array\":[12345678,1.2345678901234567890,123456789012345678901,"
            "0.000000000001,5,6,7,8,9,10,11,"
            // a point as the last byte of one 32-byte look
            "1234567890123456789012345678901.5]"),
       0},
      {"escaped unit", edit("\"minute\"", R"("min\"ute\\")"), 1},
      {"blank after colon", edit("\"mz_array\":[73]", "\"mz_array\": [73]"), 1},
      {"plus sign", edit("[73]", "[+73]"), 1},
      {"bare point", edit("[73]", "[73.]"), 1},
      {"leading point", edit("[50]", "[.5]"), 1},
      {"hex", edit("[73]", "[0x49]"), 1},
      {"exponent without digits", edit("[73]", "[73e]"), 1},
      {"two numbers in one element", edit("[73]", "[72-73]"), 1},
      {"empty element", edit("[73]", "[73,,73]"), 1},
      {"trailing comma", edit("[50]", "[50,]"), 1},
      {"lower-case nan", edit("[73]", "[nan]"), 1},
      {"minus NaN", edit("[73]", "[-NaN]"), 1},
      {"members reordered", edit("\"ms_level\":1,", "") + "", 1},
      {"nested object", edit("\"ms_level\":1", "\"ms_level\":{\"x\":[73]}"), 1},
      {"second m/z list",
       edit("\"array_compression\":\"none\"",
            "\"array_compression\":\"none\",\"mz_array\":[1]"),
       1},
      {"control byte in a string", edit("centroid", "cent\x01roid"), 1},
      {"bracketed entry ends the walk", with("[" + entry + "]"), 0},
      {"text between entries", with("\"x}{\",17,null"), 0},
      {"stray closing brace", with("}" + entry), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_same_traces(c.doc, random_queries(c.doc, 7, 60));
    const CompactSpectra compact(c.doc, std::vector<IonQuery>{{73.0, 0.5, false}});
    EXPECT_EQ(compact.verbatim_entries(), c.want_verbatim);
    if (compact.restrictable()) expect_same_restricted(steps, c.doc, random_queries(c.doc, 9, 60), 5);
  }
}

// Broken and truncated documents, and random byte damage: whatever the
// trace step makes of them, the compact document gives the same.
TEST(CompactSpectra, BrokenDocumentsTraceTheSame) {
  const std::string good = trace::docs::spectra_document(
      {{1.0, "minute", {73, 74}, {5, 6}}, {2.0, "minute", {73.25}, {7}}});
  const std::vector<std::string> docs = {
      "",
      "{",
      R"({"spectra":)",
      R"({"spectra":[)",
      R"({"spectra" :[{"mz_array":[73],"intensity_array":[5]}]})",
      R"({"other":[{"mz_array":[73],"intensity_array":[5]}],"spectra":[{"mz_array":[73],"intensity_array":[6]}]})",
      R"(x"spectra":{[{"mz_array":[73],"intensity_array":[5]}]})",
      R"({"spectra":[}{"mz_array":[73],"intensity_array":[5]}{"mz_array":[73],"intensity_array":[6]}]})",
      R"({"spectra":[{"mz_array":[73],"intensity_array":[5]}]]{"mz_array":[73],"intensity_array":[6]}]})",
      good.substr(0, 60) + std::string(1, '\0') + good.substr(60),
      good + std::string(1, '\0') + good,
      std::string(1, '\0') + good,
      good.substr(0, 11) + std::string(1, '\0') + good.substr(11),
      good.substr(0, 12) + std::string(1, '\0') + good.substr(12),
  };
  std::vector<std::string> all = docs;
  for (std::size_t cut = 0; cut <= good.size(); cut += 7) all.push_back(good.substr(0, cut));
  std::mt19937 rng(11);
  constexpr char kBytes[] = "{}[]\",:\\0123456789.-eEN \x00";
  for (int i = 0; i < 400; ++i) {
    std::string d = good;
    for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k)
      d[rng() % d.size()] = kBytes[rng() % (sizeof kBytes - 1)];
    all.push_back(std::move(d));
  }
  for (std::size_t i = 0; i < all.size(); ++i) {
    SCOPED_TRACE("document " + std::to_string(i) + ": " + all[i].substr(0, 120));
    expect_same_traces(all[i], {{73, 0.5, false}, {73.25, 0, false}, {74, 0, true},
                                {73, kNaN, false}, {73, -1, false}, {73, kInf, false}});
  }
}

// Follow-up ions (qualifiers) traced on the documents run_targets hands
// them give the whole document's bytes, on the compact path and the direct
// one, and every target's own run is there when its follow-ups run.
TEST(CompactSpectra, FollowUpIonsTraceTheSame) {
  const ChainSteps steps{vx::testing::step_entry(kIngestionStep),
                         vx::testing::step_entry(kTraceStep), vx::testing::step_entry(kFitStep)};
  const auto file = vx::testing::shared_file("data/mzml/fullscan_basic.mzML");
  ASSERT_FALSE(file.empty()) << "the shared sample folder is missing";
  const Ingestion ingestion = run_ingestion(steps, file.string());
  const std::vector<IonQuery> pool = random_queries(ingestion.spectra, 5, 12);
  const auto target_of_query = [](const IonQuery& q) { return target_of(q, 5.0, 0.5); };
  for (const std::size_t n_targets : {std::size_t{1}, std::size_t{6}}) {
    SCOPED_TRACE(std::to_string(n_targets) + " targets");
    std::vector<Target> targets;
    for (std::size_t t = 0; t < n_targets; ++t) targets.push_back(target_of_query(pool[t]));
    FollowUps follow;
    follow.queries.assign(pool.begin() + 6, pool.begin() + (n_targets == 1 ? 7 : 12));
    std::vector<TargetRun> runs(n_targets);
    std::vector<int> followed(n_targets, 0);
    follow.after = [&](std::size_t t, const TargetRun& run, const FollowUps::Document& doc) {
      EXPECT_EQ(&run, &runs[t]);
      ++followed[t];
      std::string buffer;
      for (std::size_t q = 0; q < follow.queries.size(); ++q) {
        const Target ion = target_of_query(follow.queries[q]);
        EXPECT_EQ(run_target(steps, doc(q, buffer), ion).trace,
                  run_target(steps, ingestion.spectra, ion).trace);
      }
    };
    run_targets(
        steps, ingestion.spectra, targets, runs,
        [](std::size_t n, const std::function<void(std::size_t)>& job) {
          for (std::size_t i = 0; i < n; ++i) job(i);
        },
        true, follow);
    for (std::size_t t = 0; t < n_targets; ++t) {
      EXPECT_EQ(followed[t], 1);
      EXPECT_EQ(runs[t].trace, run_target(steps, ingestion.spectra, targets[t]).trace);
    }
  }
}

// Qualifier ions are decided only as far as detection: on a sample file's
// compounds (strong, weak and absent ions), the S/N and detection a
// qualifier reports are those of the whole decision on the same ion.
TEST(TraceQualifiers, ReportTheWholeDecisionsSnAndDetection) {
  const ChainSteps steps{vx::testing::step_entry(kIngestionStep),
                         vx::testing::step_entry(kTraceStep), vx::testing::step_entry(kFitStep)};
  const auto file = vx::testing::shared_file("data/mzml/fullscan_basic.mzML");
  ASSERT_FALSE(file.empty()) << "the shared sample folder is missing";
  const Ingestion ingestion = run_ingestion(steps, file.string());
  struct Case {
    double mz, rt;
    std::vector<double> qualifiers;
  };
  const Case cases[] = {
      {112.0531, 1.196, {68.0255, 70.0387, 64.0299, 60.0342, 500.5}},
      {79.0241, 1.313, {102.0525, 101.0574, 87.0415}},
      {38.0296, 1.404, {70.0387, 127.0423, 55.0145}},
  };
  const FollowUps::Document whole = [&](std::size_t, std::string&) {
    return std::string_view(ingestion.spectra);
  };
  int detected = 0, not_detected = 0;
  for (const Case& c : cases) {
    Target target;
    target.name = "t";
    target.mz = c.mz;
    target.rt = c.rt;
    target.mz_tol = 0.3;
    target.rt_tol = 0.1;
    for (double q : c.qualifiers) target.qualifiers.push_back({q, 50.0});
    const TargetRun quantifier = run_target(steps, ingestion.spectra, target, false);
    const auto fits = trace_qualifiers(steps, whole, 0, target, quantifier);
    ASSERT_EQ(fits.size(), c.qualifiers.size());
    // The qualifiers are traced around the quantifier's fitted time.
    const bool fitted = quantifier.fit.fit_status == tables::kFitSuccess &&
                        quantifier.fit.retention_time;
    const double rt = fitted ? *quantifier.fit.retention_time : c.rt;
    for (std::size_t i = 0; i < fits.size(); ++i) {
      SCOPED_TRACE(std::to_string(c.mz) + " qualifier " + std::to_string(c.qualifiers[i]));
      const TargetRun full = run_target(
          steps, ingestion.spectra, qualifier_target(target, target.qualifiers[i], rt), false);
      ASSERT_TRUE(full.decision.has_value());
      EXPECT_EQ(fits[i].signal_to_noise, full.decision->signal_to_noise);
      EXPECT_EQ(fits[i].detection, full.decision->detection());
      ++(full.decision->detected ? detected : not_detected);
    }
  }
  EXPECT_GE(detected, 5);
  EXPECT_GE(not_detected, 1);
}

TEST(CompactSpectra, GroupsOverlappingWindowsWithoutChaining) {
  struct Case {
    std::string name;
    std::vector<IonQuery> queries;
    std::vector<std::size_t> want_group;
  };
  const std::vector<Case> cases = {
      {"same window twice", {{73, 0.5, false}, {73, 0.5, false}}, {0, 0}},
      {"overlapping", {{73, 0.5, false}, {73.3, 0.5, false}}, {0, 0}},
      {"apart", {{73, 0.5, false}, {75, 0.5, false}}, {0, 1}},
      {"unit masses do not chain", {{50, 0.5, false}, {51, 0.5, false}, {52, 0.5, false},
                                    {53, 0.5, false}, {54, 0.5, false}},
       {0, 0, 0, 1, 1}},
      {"nested in a wide window", {{100, 50, false}, {73, 0.5, false}, {120, 0, true}},
       {0, 0, 0}},
      {"exact next to each other", {{73, 0, true}, {73.5, 0, true}}, {0, 1}},
      {"match nothing: one group, last",
       {{kNaN, 0.5, false}, {73, 0.5, false}, {73, -1, false}, {73, kNaN, false}},
       {1, 0, 1, 1}},
      {"infinite tolerance holds everything", {{73, kInf, false}, {500, 0.5, false}}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<MzWindow> windows;
    EXPECT_EQ(group_queries(c.queries, windows), c.want_group);
    for (std::size_t i = 0; i < c.queries.size(); ++i) {
      const MzWindow w = query_window(c.queries[i]);
      const MzWindow& g = windows[c.want_group[i]];
      if (!w.empty()) {
        EXPECT_TRUE(g.lo <= w.lo && w.hi <= g.hi) << "query " << i;
      }
    }
  }
}

}  // namespace
}  // namespace vx::host::chain
