// Targets: the compounds to look for in every file, one per row of a TSV or
// CSV table with a header (name, mz, rt and optionally mz_tol, rt_tol, exact,
// max_iter, and for quantitation qualifiers, qualifier_tol, mz_tol_ppm, istd;
// for identification ri, ri_tol, library_name). A row may give ri instead of
// rt: its window then needs a ladder.
// Empty optional cells take the command line's defaults. Errors name the
// source and line so a typo in a 300-row table is easy to find.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::tables {

// Limits the host enforces before a step ever sees a value.
inline constexpr int64_t kMaxIterationLimit = 10000;

// The command line's defaults for a target's empty cells, written once here:
// a Target starts from them too.
inline constexpr double kDefaultMzTolerance = 0.5;  // daltons
inline constexpr double kDefaultRtTolerance = 0.3;  // minutes, the fit window's half-width
inline constexpr int64_t kDefaultIterationLimit = 100;

struct TargetDefaults {
  double mz_tol = kDefaultMzTolerance;
  double rt_tol = kDefaultRtTolerance;
  bool exact = false;  // exact m/z match instead of the tolerance window
  int64_t max_iter = kDefaultIterationLimit;
};

// A qualifier ion: its m/z and its expected area in % of the quantifier's.
struct Qualifier {
  double mz = 0.0;
  double expected_percent = 0.0;
};

inline constexpr double kDefaultQualifierTolerance = 20.0;  // % of the expected ratio

struct Target {
  std::string name;
  double mz = 0.0;
  double rt = 0.0;
  double mz_tol = kDefaultMzTolerance;  // Da; with mz_tol_ppm, the ppm tolerance at mz
  double rt_tol = kDefaultRtTolerance;
  bool exact = false;
  int64_t max_iter = kDefaultIterationLimit;
  std::vector<Qualifier> qualifiers;
  double qualifier_tol = kDefaultQualifierTolerance;
  std::optional<double> mz_tol_ppm;  // set: the m/z window scales with each ion's m/z
  std::string istd;                  // the internal standard's target name, or empty
  // Given by retention index: with a ladder, the window is placed at the time
  // ri elutes in that run (rt and rt_tol are then set from ri and ri_tol).
  std::optional<double> ri = {};
  std::optional<double> ri_tol = {};  // index units; empty: the default (10)
  std::string library_name = {};      // the .msp entry; empty: the target's name
  bool rt_given = true;               // false: rt waits for the ladder
};

// The m/z tolerance (Da) a trace of ion mz uses for this target.
double mz_tolerance_at(const Target& t, double mz);

// The target that traces and fits one of t's qualifier ions around the
// retention time rt (the quantifier's fitted one), with t's windows.
Target qualifier_target(const Target& t, const Qualifier& q, double rt);

// A target built from the command line's --mz/--rt and the defaults.
Target make_target(std::string name, double mz, double rt, const TargetDefaults& d);

// Why a target's values cannot be run (non-finite m/z, negative tolerance,
// iteration limit outside 1..10000), or nullopt when they can.
std::optional<std::string> target_problem(const Target& t);

struct TargetsParse {
  std::vector<Target> targets;
  std::vector<std::string> errors;  // "SOURCE:LINE: what"; empty on success
};

// Parses a targets table. The delimiter is a tab when the header line holds
// one, else a comma (CSV fields may be double-quoted, "" inside quotes is a
// quote). Blank lines and lines starting with '#' are skipped; CRLF line ends
// and a UTF-8 byte-order mark are accepted. Column names are matched without
// regard to case; unknown columns are an error so a misspelt optional column
// does not silently fall back to the default.
TargetsParse parse_targets(std::string_view text, const TargetDefaults& defaults,
                           std::string_view source);

}  // namespace vx::host::tables
