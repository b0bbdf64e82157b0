// Targets: the compounds to look for in every file, one per row of a TSV or
// CSV table with a header (name, mz, rt and optionally mz_tol, rt_tol, exact,
// max_iter). Empty optional cells take the command line's defaults. Errors
// name the source and line so a typo in a 300-row table is easy to find.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host {

// Limits the host enforces before a step ever sees a value.
inline constexpr int64_t kMaxIterationLimit = 10000;

struct TargetDefaults {
  double mz_tol = 0.5;  // daltons
  double rt_tol = 0.3;  // minutes
  bool exact = false;   // exact m/z match instead of the tolerance window
  int64_t max_iter = 100;
};

struct Target {
  std::string name;
  double mz = 0.0;
  double rt = 0.0;
  double mz_tol = 0.5;
  double rt_tol = 0.3;
  bool exact = false;
  int64_t max_iter = 100;
};

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

}  // namespace vx::host
