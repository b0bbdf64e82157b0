// Retention indices from an n-alkane ladder (van den Dool and Kratz, for
// linear temperature programmes), their inverse for targets given by index,
// and the ladder table (TSV/CSV `carbon`, `rt`). Pure functions on plain
// values; no I/O. Part of vx_host_ident, which uses the standard library only.
//
// Between bracketing alkanes C_n (time t_n) and C_N (t_N), N > n:
//   RI = 100 · (n + (N − n) · (t − t_n) / (t_N − t_n))
// which is the textbook 100 · (n + (t − t_n) / (t_{n+1} − t_n)) for
// consecutive alkanes; ladders that skip carbon numbers (even-only mixes)
// interpolate across the gap. Outside the ladder the nearest pair (the first
// two or the last two alkanes) is extended and the value is flagged
// extrapolated: an index outside the ladder is an estimate, never a
// silently equal-quality number.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::ident {

// One alkane of a ladder run: its carbon number and retention time (min).
struct Alkane {
  int carbon = 0;
  double rt = 0.0;
  friend bool operator==(const Alkane&, const Alkane&) = default;
};

// The flag a result carries when its index (or time) lies outside the ladder.
inline constexpr std::string_view kFlagRiExtrapolated = "ri_extrapolated";
// A target's index window when the targets table gives only `ri`.
inline constexpr double kDefaultRiTolerance = 10.0;  // index units
// Carbon numbers a ladder may hold (methane to far beyond any GC column).
inline constexpr int kMinCarbon = 1;
inline constexpr int kMaxCarbon = 200;

// Why a ladder cannot be used: fewer than two alkanes, a carbon number
// outside 1..200, carbon numbers or times not strictly increasing, or a
// non-finite time. nullopt when it can.
std::optional<std::string> ladder_problem(std::span<const Alkane> ladder);

struct RetentionIndex {
  double value = 0.0;
  bool extrapolated = false;  // rt before the first or after the last alkane
};

// The index of retention time rt (min). nullopt when the ladder is unusable
// (ladder_problem) or rt is not finite. Exactly at an alkane the index is
// 100·n; at the first and last alkane it is not extrapolated.
std::optional<RetentionIndex> retention_index(std::span<const Alkane> ladder, double rt);

struct RetentionTime {
  double value = 0.0;
  bool extrapolated = false;  // index below the first or above the last alkane's
};

// The inverse: the retention time at which index ri elutes in this ladder's
// run, t = t_n + (ri/100 − n) · (t_N − t_n) / (N − n), same brackets and same
// extrapolation rule. nullopt for an unusable ladder or a non-finite ri.
std::optional<RetentionTime> retention_time_at(std::span<const Alkane> ladder, double ri);

// The fit window of a target given by index: the times of ri − ri_tol and
// ri + ri_tol. Spacing changes along the ladder, so the window need not be
// symmetric around rt; rt_tol is the larger half so the symmetric window a
// target row holds covers both ends.
struct RtWindow {
  double rt = 0.0;            // time of ri
  double rt_lo = 0.0;         // time of ri − ri_tol
  double rt_hi = 0.0;         // time of ri + ri_tol
  double rt_tol = 0.0;        // max(rt − rt_lo, rt_hi − rt)
  bool extrapolated = false;  // any of the three outside the ladder
};
// nullopt for an unusable ladder, a non-finite ri or a negative or
// non-finite ri_tol.
std::optional<RtWindow> rt_window_for_ri(std::span<const Alkane> ladder, double ri,
                                         double ri_tol = kDefaultRiTolerance);

struct LadderParse {
  std::vector<Alkane> alkanes;
  std::vector<std::string> errors;  // "SOURCE:LINE: what"; empty on success
};

// Reads a ladder table: a header row naming `carbon` and `rt` (any order,
// any letter case; `retention_time` is accepted for rt), tab-delimited when
// the header holds a tab, else comma-delimited. Lines starting with '#' and
// blank lines are skipped; CRLF and a UTF-8 byte-order mark are accepted.
// Unknown columns, a missing or extra cell, a carbon number that is not a
// whole number in 1..200, a time that is not a finite number ≥ 0, carbon
// numbers or times that do not strictly increase are errors naming the line;
// fewer than two alkanes names the last line, a text without a header row
// only the source.
LadderParse parse_ladder(std::string_view text, std::string_view source);

// The table parse_ladder reads: "carbon\trt\n" then one row per alkane,
// times in the shortest text that reads back to the same double.
std::string format_ladder(std::span<const Alkane> ladder);

}  // namespace vx::host::ident
