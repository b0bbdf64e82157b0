// Retention index arithmetic and the ladder table. The bracket search is a
// binary search over the ladder, so indexing a whole results table against
// a long ladder costs little.
#include "retention_index.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>

#include "text_lines.hpp"

namespace vx::host::ident {
namespace {

// "C12". Built by appending: GCC 12's -Wrestrict misfires on a literal
// added to a temporary string in optimised builds.
std::string carbon_name(int carbon) {
  std::string name = "C";
  name += std::to_string(carbon);
  return name;
}

// The pair of alkanes that brackets x (a time or an index); x outside the
// ladder takes the nearest pair. position(a) maps an alkane to x's scale.
template <typename Position>
std::size_t bracket(std::span<const Alkane> ladder, double x, Position position) {
  // First alkane whose position exceeds x; the bracket starts one before it.
  const auto it =
      std::upper_bound(ladder.begin(), ladder.end(), x,
                       [&](double v, const Alkane& a) { return v < position(a); });
  const auto after = static_cast<std::size_t>(it - ladder.begin());
  if (after == 0) return 0;
  return std::min(after - 1, ladder.size() - 2);
}

double carbon_index(const Alkane& a) { return 100.0 * a.carbon; }

using detail::line_error;

// One ladder file, line by line: the first content line is the header, which
// fixes the delimiter and where carbon and rt are; every later one is an
// alkane. A bad row is reported and skipped so one pass lists every error.
class LadderReader {
 public:
  explicit LadderReader(std::string_view source) : source_(source) {}

  // False when the header lacks carbon or rt: no row can be read then.
  bool header(std::string_view line, std::size_t line_no) {
    delimiter_ = line.find('\t') != std::string_view::npos ? '\t' : ',';
    split(line);
    columns_ = cells_.size();
    for (std::size_t c = 0; c < cells_.size(); ++c) {
      int* slot = nullptr;
      if (detail::same_ignoring_case(cells_[c], "carbon")) {
        slot = &carbon_col_;
      } else if (detail::same_ignoring_case(cells_[c], "rt") ||
                 detail::same_ignoring_case(cells_[c], "retention_time")) {
        slot = &rt_col_;
      } else {
        out_.errors.push_back(line_error(source_, line_no,
                                         "unknown column " +
                                             detail::quoted_excerpt(cells_[c]) +
                                             " (a ladder has carbon and rt)"));
        continue;
      }
      if (*slot >= 0) {
        out_.errors.push_back(line_error(
            source_, line_no, "column " + detail::quoted_excerpt(cells_[c]) + " twice"));
      }
      *slot = static_cast<int>(c);
    }
    if (carbon_col_ < 0 || rt_col_ < 0) {
      out_.errors.push_back(
          line_error(source_, line_no, "the header needs carbon and rt columns"));
      return false;
    }
    return true;
  }

  void row(std::string_view line, std::size_t line_no) {
    split(line);
    if (cells_.size() != columns_) {
      out_.errors.push_back(line_error(source_, line_no,
                                       std::to_string(cells_.size()) +
                                           " cells where the header has " +
                                           std::to_string(columns_)));
      return;
    }
    const std::string_view carbon_cell = cells_[static_cast<std::size_t>(carbon_col_)];
    const std::string_view rt_cell = cells_[static_cast<std::size_t>(rt_col_)];
    const auto carbon = detail::parse_integer(carbon_cell);
    const auto rt = detail::parse_number(rt_cell);
    if (!carbon || *carbon < kMinCarbon || *carbon > kMaxCarbon) {
      out_.errors.push_back(line_error(source_, line_no,
                                       "carbon " + detail::quoted_excerpt(carbon_cell) +
                                           " is not a whole number from 1 to 200"));
      return;
    }
    if (!rt || *rt < 0.0) {
      out_.errors.push_back(line_error(source_, line_no,
                                       "rt " + detail::quoted_excerpt(rt_cell) +
                                           " is not a finite number of minutes >= 0"));
      return;
    }
    append(Alkane{static_cast<int>(*carbon), *rt}, line_no);
  }

  LadderParse take() { return std::move(out_); }

 private:
  // The cells of one line, trimmed; an empty last cell after a trailing
  // delimiter counts, so such a row is caught by the cell count.
  void split(std::string_view l) {
    cells_.clear();
    std::size_t start = 0;
    while (true) {
      const std::size_t end = l.find(delimiter_, start);
      cells_.push_back(detail::trim(
          l.substr(start, end == std::string_view::npos ? end : end - start)));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  // The index arithmetic brackets by binary search, so both carbon numbers
  // and times must increase; a row that breaks either is left out.
  void append(const Alkane& a, std::size_t line_no) {
    if (!out_.alkanes.empty()) {
      const Alkane& prev = out_.alkanes.back();
      if (a.carbon <= prev.carbon) {
        out_.errors.push_back(line_error(source_, line_no,
                                         "carbon numbers must increase: C" +
                                             std::to_string(a.carbon) + " after C" +
                                             std::to_string(prev.carbon)));
        return;
      }
      if (!(a.rt > prev.rt)) {
        out_.errors.push_back(
            line_error(source_, line_no,
                       "times must increase: C" + std::to_string(a.carbon) +
                           " does not elute after C" + std::to_string(prev.carbon)));
        return;
      }
    }
    out_.alkanes.push_back(a);
  }

  std::string_view source_;
  LadderParse out_;
  char delimiter_ = '\t';
  int carbon_col_ = -1;
  int rt_col_ = -1;
  std::size_t columns_ = 0;
  std::vector<std::string_view> cells_;
};

}  // namespace

std::optional<std::string> ladder_problem(std::span<const Alkane> ladder) {
  if (ladder.size() < 2) {
    return "a ladder needs at least two alkanes (it has " +
           std::to_string(ladder.size()) + ")";
  }
  for (std::size_t i = 0; i < ladder.size(); ++i) {
    const Alkane& a = ladder[i];
    if (a.carbon < kMinCarbon || a.carbon > kMaxCarbon) {
      return "carbon number " + std::to_string(a.carbon) + " is outside 1..200";
    }
    if (!std::isfinite(a.rt))
      return carbon_name(a.carbon) + " has no finite time";
    if (i > 0 && a.carbon <= ladder[i - 1].carbon) {
      return "carbon numbers must increase (" + carbon_name(a.carbon) + " after " +
             carbon_name(ladder[i - 1].carbon) + ")";
    }
    if (i > 0 && !(a.rt > ladder[i - 1].rt)) {
      return "times must increase (" + carbon_name(a.carbon) + " does not elute after " +
             carbon_name(ladder[i - 1].carbon) + ")";
    }
  }
  return std::nullopt;
}

std::optional<RetentionIndex> retention_index(std::span<const Alkane> ladder, double rt) {
  if (!std::isfinite(rt) || ladder_problem(ladder)) return std::nullopt;
  const std::size_t i = bracket(ladder, rt, [](const Alkane& a) { return a.rt; });
  const Alkane& lo = ladder[i];
  const Alkane& hi = ladder[i + 1];
  RetentionIndex r;
  r.value =
      100.0 * (lo.carbon + (hi.carbon - lo.carbon) * (rt - lo.rt) / (hi.rt - lo.rt));
  r.extrapolated = rt < ladder.front().rt || rt > ladder.back().rt;
  return r;
}

std::optional<RetentionTime> retention_time_at(std::span<const Alkane> ladder,
                                               double ri) {
  if (!std::isfinite(ri) || ladder_problem(ladder)) return std::nullopt;
  const std::size_t i = bracket(ladder, ri, carbon_index);
  const Alkane& lo = ladder[i];
  const Alkane& hi = ladder[i + 1];
  RetentionTime t;
  t.value = lo.rt + (ri / 100.0 - lo.carbon) * (hi.rt - lo.rt) / (hi.carbon - lo.carbon);
  t.extrapolated = ri < carbon_index(ladder.front()) || ri > carbon_index(ladder.back());
  return t;
}

std::optional<RtWindow> rt_window_for_ri(std::span<const Alkane> ladder, double ri,
                                         double ri_tol) {
  if (!std::isfinite(ri_tol) || ri_tol < 0.0) return std::nullopt;
  const auto mid = retention_time_at(ladder, ri);
  const auto lo = retention_time_at(ladder, ri - ri_tol);
  const auto hi = retention_time_at(ladder, ri + ri_tol);
  if (!mid || !lo || !hi) return std::nullopt;
  RtWindow w;
  w.rt = mid->value;
  w.rt_lo = lo->value;
  w.rt_hi = hi->value;
  w.rt_tol = std::max(w.rt - w.rt_lo, w.rt_hi - w.rt);
  w.extrapolated = mid->extrapolated || lo->extrapolated || hi->extrapolated;
  return w;
}

LadderParse parse_ladder(std::string_view text, std::string_view source) {
  LadderReader reader(source);
  detail::Lines lines(text);
  std::string_view line;
  std::size_t line_no = 0;
  std::size_t last_line = 0;
  bool header_seen = false;
  while (lines.next(line, line_no)) {
    last_line = line_no;
    const std::string_view content = detail::trim(line);
    if (content.empty() || content.front() == '#') continue;
    if (header_seen) {
      reader.row(line, line_no);
      continue;
    }
    header_seen = true;
    if (!reader.header(line, line_no)) return reader.take();
  }
  LadderParse out = reader.take();
  if (!header_seen) {
    out.errors.push_back(std::string(source) + ": no header row (carbon, rt)");
  } else if (out.errors.empty() && out.alkanes.size() < 2) {
    out.errors.push_back(line_error(source, last_line,
                                    "a ladder needs at least two alkanes (it has " +
                                        std::to_string(out.alkanes.size()) + ")"));
  }
  return out;
}

std::string format_ladder(std::span<const Alkane> ladder) {
  std::string out = "carbon\trt\n";
  char buf[32];
  for (const Alkane& a : ladder) {
    out.append(buf, std::to_chars(buf, buf + sizeof buf, a.carbon).ptr);
    out += '\t';
    // Shortest round-trip text: parse_ladder gives back the same double.
    out.append(buf, std::to_chars(buf, buf + sizeof buf, a.rt).ptr);
    out += '\n';
  }
  return out;
}

}  // namespace vx::host::ident
