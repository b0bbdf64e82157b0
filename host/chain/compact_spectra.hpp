// Compact spectra documents: one pass over the ingestion step's spectra
// document derives, for each group of ion queries whose m/z windows overlap,
// a document with every spectrum entry but only the peaks inside the group's
// window. The trace step gives the same bytes from it as from the whole
// document, at a small fraction of the cost. Never throws except
// std::bad_alloc; never reads outside the given view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vx::host::chain {

// One ion the trace step is asked for: its parameters 2, 1 and 0.
struct IonQuery {
  double mz = 0.0;
  double tolerance = 0.0;  // daltons; the trace step ignores it in exact mode
  bool exact = false;
};

// Closed m/z interval; lo > hi holds nothing.
struct MzWindow {
  double lo = 0.0;
  double hi = -1.0;
  [[nodiscard]] bool empty() const { return !(lo <= hi); }
};

// A window that holds every m/z the trace step matches for q, widened by a
// margin far above the rounding of its own comparison (so a value read a few
// units in the last place off still lands inside).
MzWindow query_window(const IonQuery& q);

// From this many queries on, deriving compact documents costs less than
// tracing the whole document once per query (bench/targets_bench.sh).
inline constexpr std::size_t kCompactFromQueries = 3;

// A table-only run traces each target on the spectra its fit can use, not
// on the whole run: the fit only reads the points inside its window. The
// document holds the fit window widened on each side by window_widths times
// its width plus minutes, room for per-target work that looks past the
// window (noise beside it, integration bounds walking out); enlarge it here
// when such work needs more.
struct TraceMargin {
  double window_widths = 0.0;
  double minutes = 0.0;
};
inline constexpr TraceMargin kTraceMargin{2.0, 0.5};

// Closed range of scan times in minutes.
struct TimeRange {
  double lo = 0.0;
  double hi = -1.0;
};

// The range a target's restricted document holds: rt +- rt_tol widened by
// kTraceMargin; nullopt when that is not a finite range (the whole run is
// traced then).
std::optional<TimeRange> trace_range(double rt, double rt_tol);

// What the trace step reports over the whole run: its number of points and
// their largest intensity (0 without points).
struct TraceTotals {
  uint64_t points = 0;
  double max_intensity = 0.0;
};

class CompactSpectra {
 public:
  // Reads spectra once. The view must stay valid while documents are
  // written; the object keeps no copy of it. hot[q], when given, is the
  // range query q's restricted documents will ask for (lo > hi: none): the
  // pass copies the number texts of its group's peaks inside it into one
  // buffer per group, so those documents read a few hot kilobytes instead of
  // numbers pages apart in the spectra document. Any range still works.
  CompactSpectra(std::string_view spectra, std::span<const IonQuery> queries,
                 std::span<const TimeRange> hot = {});

  [[nodiscard]] std::size_t group_count() const { return group_windows_.size(); }
  [[nodiscard]] std::size_t group_of(std::size_t query) const { return group_of_[query]; }
  [[nodiscard]] const MzWindow& group_window(std::size_t g) const {
    return group_windows_[g];
  }
  // Entries whose peaks were filtered, and entries copied as they stand.
  [[nodiscard]] std::size_t compact_entries() const { return compact_entries_; }
  [[nodiscard]] std::size_t verbatim_entries() const {
    return entries_.size() - compact_entries_;
  }

  // The compact document of group g, written into buffer (its capacity is
  // reused); returns a view of it.
  std::string_view document(std::size_t g, std::string& buffer) const;

  // Restricted documents need every entry's time and peaks, which only the
  // entries in the ingestion layout give.
  [[nodiscard]] bool restrictable() const { return compact_entries_ == entries_.size(); }

  // The document of group g with only the entries that hold one of its
  // peaks and whose scan time lies in range: entries without such a peak
  // give the trace no point, and the fit never reads a point outside its
  // window, so the fit comes out the same. Only when restrictable().
  std::string_view document(std::size_t g, std::string& buffer, const TimeRange& range) const;

  // The trace step's totals for query q (one of the queries given) over
  // the whole run, from the peaks its group kept. Only when restrictable().
  [[nodiscard]] TraceTotals totals(std::size_t q, const IonQuery& query) const;

 private:
  struct Entry {
    uint64_t begin = 0;     // the '{'
    uint64_t size = 0;      // through the closing '}'
    uint64_t skeleton = 0;  // where the entry starts in skeleton_
    // Offsets from begin: one past each list's '[', and each list's ']'.
    // All zero for an entry copied as it stands.
    uint32_t mz_open = 0, mz_close = 0, int_open = 0, int_close = 0;
    double minutes = 0.0;  // scan time; only for compacted entries
  };
  // A peak kept for a group: its entry and where its two numbers start,
  // as offsets from the entry's begin.
  // The values come from the one pass, a few units in the last place off
  // and then rounded to float: enough to settle all but the peaks on a
  // window's edge or next to the largest intensity, which totals() reads
  // again exactly. Floats keep the peaks of hundreds of groups small.
  // text is where its group's hot text holds "mz,intensity," (kNoText when
  // the peak lies outside the group's hot ranges).
  struct Peak {
    uint32_t entry = 0;
    uint32_t mz = 0;
    uint32_t intensity = 0;
    uint32_t text = 0;
    float mz_value = 0.0F;
    float intensity_value = 0.0F;
  };
  class Reader;
  void add_entry(Entry e);

  std::string_view text_;
  std::vector<MzWindow> group_windows_;
  std::vector<std::size_t> group_of_;
  std::vector<Entry> entries_;
  std::vector<std::vector<Peak>> kept_;  // per group, in document order
  // Per group: the union of its queries' hot ranges, sorted and disjoint,
  // and the number texts of the peaks inside it, in document order.
  std::vector<std::vector<TimeRange>> hot_ranges_;
  std::vector<std::string> hot_text_;
  // Bytes of hot text still allowed: a share of the spectra document, so
  // that wide or many ranges cannot double the run's memory; peaks past it
  // are read from the document as before.
  static constexpr std::size_t kHotShare = 8;
  std::size_t hot_budget_ = 0;
  std::size_t compact_entries_ = 0;
  bool times_ascending_ = false;  // entries' times never decrease
  // Every entry, each compact one with its lists emptied, joined by ','.
  // Documents are written from it rather than from the spectra document:
  // it is read front to back, where the entries' pieces lie a page or more
  // apart in the whole document (a cache and TLB miss each).
  std::string skeleton_;
};

// Groups queries: sorted by window, a query joins the current group when its
// window overlaps the group's and the group then spans at most kGroupSpan
// times its widest member, so neighbouring unit-mass windows do not chain
// into one group that holds the whole spectrum. Queries that match nothing
// share one group. Returns the group of each query and each group's window.
inline constexpr double kGroupSpan = 3.0;
std::vector<std::size_t> group_queries(std::span<const IonQuery> queries,
                                       std::vector<MzWindow>& windows);

}  // namespace vx::host::chain
