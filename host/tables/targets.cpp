// Targets table parsing. Cells are views into the text until a value is
// stored; numbers go through the locale-free parser.
#include "targets.hpp"

#include <array>
#include <cmath>
#include <map>
#include <set>

#include "number_text.hpp"
#include "table_text.hpp"

namespace vx::host::tables {

using base::TableLines;
using base::parse_double;
using base::parse_integer;
using base::same_ignoring_case;
using base::shortest_text;
using base::split_line;
using base::header_delimiter;
using base::parse_cell_number;
using base::trim_blanks;

namespace {

enum class Column {
  kName, kMz, kRt, kMzTol, kRtTol, kExact, kMaxIter,
  kQualifiers, kQualifierTol, kMzTolPpm, kIstd, kRi, kRiTol, kLibraryName
};
constexpr std::size_t kColumnCount = 14;

struct ColumnName {
  std::string_view name;
  Column column;
};

// Accepted spellings; the first of each column is the documented one.
constexpr std::array<ColumnName, 24> kColumnNames{{
    {"name", Column::kName},
    {"compound", Column::kName},
    {"mz", Column::kMz},
    {"m/z", Column::kMz},
    {"rt", Column::kRt},
    {"retention_time", Column::kRt},
    {"mz_tol", Column::kMzTol},
    {"mz_tolerance", Column::kMzTol},
    {"rt_tol", Column::kRtTol},
    {"rt_tolerance", Column::kRtTol},
    {"exact", Column::kExact},
    {"exact_match", Column::kExact},
    {"max_iter", Column::kMaxIter},
    {"max_iterations", Column::kMaxIter},
    {"iterations", Column::kMaxIter},
    {"qualifiers", Column::kQualifiers},
    {"qualifier_tol", Column::kQualifierTol},
    {"mz_tol_ppm", Column::kMzTolPpm},
    {"istd", Column::kIstd},
    {"internal_standard", Column::kIstd},
    {"ri", Column::kRi},
    {"retention_index", Column::kRi},
    {"ri_tol", Column::kRiTol},
    {"library_name", Column::kLibraryName},
}};

std::optional<Column> column_of(std::string_view header) {
  for (const ColumnName& c : kColumnNames) {
    if (same_ignoring_case(c.name, header)) return c.column;
  }
  return std::nullopt;
}

std::optional<bool> parse_bool(std::string_view s) {
  for (std::string_view yes : {"true", "yes", "1", "y"}) {
    if (same_ignoring_case(s, yes)) return true;
  }
  for (std::string_view no : {"false", "no", "0", "n"}) {
    if (same_ignoring_case(s, no)) return false;
  }
  return std::nullopt;
}

}  // namespace

Target make_target(std::string name, double mz, double rt, const TargetDefaults& d) {
  Target t;
  t.name = std::move(name);
  t.mz = mz;
  t.rt = rt;
  t.mz_tol = d.mz_tol;
  t.rt_tol = d.rt_tol;
  t.exact = d.exact;
  t.max_iter = d.max_iter;
  return t;
}

double mz_tolerance_at(const Target& t, double mz) {
  return t.mz_tol_ppm ? mz * *t.mz_tol_ppm * 1e-6 : t.mz_tol;
}

Target qualifier_target(const Target& t, const Qualifier& q, double rt) {
  Target out = t;
  out.name = t.name + "@" + shortest_text(q.mz);
  out.mz = q.mz;
  out.rt = rt;
  out.mz_tol = mz_tolerance_at(t, q.mz);
  out.qualifiers.clear();
  return out;
}

std::optional<std::string> target_problem(const Target& t) {
  if (!std::isfinite(t.mz) || t.mz <= 0.0) return "m/z must be a positive number";
  if (!std::isfinite(t.rt)) return "retention time must be a finite number";
  if (!std::isfinite(t.mz_tol) || t.mz_tol < 0.0)
    return "m/z tolerance must be 0 or more";
  if (!std::isfinite(t.rt_tol) || t.rt_tol < 0.0) {
    return "retention time tolerance must be 0 or more";
  }
  if (t.max_iter < 1 || t.max_iter > kMaxIterationLimit) {
    return "iteration limit must be between 1 and 10000";
  }
  return std::nullopt;
}

namespace {

// "147:35;207:12.5": qualifier m/z and expected % of the quantifier's area.
std::optional<std::string> parse_qualifiers(std::string_view cell, char delimiter,
                                            std::vector<Qualifier>& out) {
  while (!cell.empty()) {
    const std::size_t semi = cell.find(';');
    const std::string_view item = trim_blanks(cell.substr(0, semi));
    cell = semi == std::string_view::npos ? std::string_view() : cell.substr(semi + 1);
    if (item.empty()) continue;
    const std::size_t colon = item.find(':');
    const auto mz = parse_cell_number(item.substr(0, colon), delimiter);
    const auto pct = colon == std::string_view::npos
                         ? std::nullopt
                         : parse_cell_number(item.substr(colon + 1), delimiter);
    if (!mz || !pct || !std::isfinite(*mz) || *mz <= 0.0 || !std::isfinite(*pct) ||
        *pct <= 0.0) {
      return "qualifier '" + std::string(item) +
             "' is not MZ:PERCENT with a positive m/z and a positive percentage";
    }
    out.push_back({*mz, *pct});
  }
  return std::nullopt;
}

// Row-level checks of the quantitation columns once the cells are read; a
// ppm tolerance becomes the quantifier's window in Da here.
std::optional<std::string> quantitation_problem(Target& t, bool mz_tol_given) {
  if (t.mz_tol_ppm) {
    if (mz_tol_given) return "give mz_tol (Da) or mz_tol_ppm, not both";
    if (!std::isfinite(*t.mz_tol_ppm) || *t.mz_tol_ppm < 0.0)
      return "mz_tol_ppm must be 0 or more";
    t.mz_tol = mz_tolerance_at(t, t.mz);
  }
  if (!std::isfinite(t.qualifier_tol) || t.qualifier_tol <= 0.0)
    return "qualifier_tol must be a positive percentage";
  if (!t.istd.empty() && t.istd == t.name) return "target '" + t.name + "' is its own istd";
  return std::nullopt;
}

// Every istd must name another target, and following istd links must never
// come back to where it started.
template <typename Error>
void check_internal_standards(const std::vector<Target>& targets,
                              const std::vector<std::size_t>& lines, const Error& error) {
  std::map<std::string_view, std::size_t> index;
  for (std::size_t i = 0; i < targets.size(); ++i) index.emplace(targets[i].name, i);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (targets[i].istd.empty()) continue;
    if (!index.contains(targets[i].istd)) {
      error(lines[i], "istd '" + targets[i].istd + "' is not a target of this table");
      continue;
    }
    std::size_t at = i;
    for (std::size_t step = 0; step < targets.size(); ++step) {
      const auto next = index.find(targets[at].istd);
      if (targets[at].istd.empty() || next == index.end()) break;
      at = next->second;
      if (at == i) {
        error(lines[i], "istd links of '" + targets[i].name + "' form a cycle");
        break;
      }
    }
  }
}

// One parse: the header decides the delimiter and the columns, then each
// row becomes a target or an error naming its line.
class TargetsReader {
 public:
  TargetsReader(const TargetDefaults& defaults, std::string_view source)
      : defaults_(defaults), source_(source) {}

  TargetsParse read(std::string_view text) {
    bool have_header = false;
    TableLines lines(text);
    std::string_view line;
    while (lines.next(line, line_no_)) {
      if (have_header) {
        read_row(line);
        continue;
      }
      have_header = true;
      if (!read_header(line)) return std::move(out_);
    }
    line_no_ = lines.last_line();
    check_internal_standards(out_.targets, target_lines_,
                             [this](std::size_t l, const std::string& w) { error(l, w); });
    if (!have_header) {
      error(line_no_ == 0 ? 1 : line_no_, "no header row");
    } else if (out_.targets.empty() && out_.errors.empty()) {
      error(line_no_, "no targets");
    }
    return std::move(out_);
  }

 private:
  void error(std::size_t line, std::string_view what) {
    out_.errors.push_back(std::string(source_) + ":" + std::to_string(line) + ": " +
                          std::string(what));
  }

  // False when the table cannot be read on (its errors are reported).
  bool read_header(std::string_view line) {
    delimiter_ = header_delimiter(line);
    if (!split_line(line, delimiter_, cells_)) {
      error(line_no_, "unterminated quote in the header");
      return false;
    }
    std::array<bool, kColumnCount> seen{};
    for (const std::string& h : cells_) {
      const auto col = column_of(h);
      if (!col) {
        error(line_no_, "unknown column '" + h +
                            "' (expected name, mz, rt, mz_tol, rt_tol, exact, max_iter, "
                            "qualifiers, qualifier_tol, mz_tol_ppm, istd, ri, ri_tol, "
                            "library_name)");
        continue;
      }
      const auto k = static_cast<std::size_t>(*col);
      if (seen[k]) error(line_no_, "column '" + h + "' given twice");
      seen[k] = true;
      columns_.push_back(*col);
    }
    if (!seen[static_cast<std::size_t>(Column::kMz)] ||
        (!seen[static_cast<std::size_t>(Column::kRt)] &&
         !seen[static_cast<std::size_t>(Column::kRi)])) {
      error(line_no_, "the header needs at least the columns mz and rt (or ri)");
    }
    return out_.errors.empty();
  }

  void read_row(std::string_view line) {
    if (!split_line(line, delimiter_, cells_))
      return error(line_no_, "unterminated quote");
    if (cells_.size() > columns_.size()) {
      return error(line_no_, "more cells than header columns");
    }
    Target t = make_target("", 0.0, 0.0, defaults_);
    std::array<bool, kColumnCount> given{};
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      if (cells_[i].empty()) continue;  // empty optional cells keep the defaults
      if (!read_cell(columns_[i], cells_[i], t)) return;
      given[static_cast<std::size_t>(columns_[i])] = true;
    }
    t.rt_given = given[static_cast<std::size_t>(Column::kRt)];
    if (!given[static_cast<std::size_t>(Column::kMz)] || (!t.rt_given && !t.ri)) {
      return error(line_no_, "mz and rt (or ri) are required");
    }
    if (t.ri && (!std::isfinite(*t.ri) || *t.ri < 0.0))
      return error(line_no_, "ri must be a finite number of 0 or more");
    if (t.ri_tol && (!std::isfinite(*t.ri_tol) || *t.ri_tol < 0.0))
      return error(line_no_, "ri_tol must be a finite number of 0 or more");
    if (const auto problem = quantitation_problem(t, given[static_cast<std::size_t>(Column::kMzTol)]))
      return error(line_no_, *problem);
    if (const auto problem = target_problem(t)) return error(line_no_, *problem);
    if (t.name.empty())
      t.name = shortest_text(t.mz) + "@" + (t.rt_given ? shortest_text(t.rt) : "RI" + shortest_text(*t.ri));
    if (!names_.insert(t.name).second) {
      return error(line_no_, "target name '" + t.name + "' used twice");
    }
    out_.targets.push_back(std::move(t));
    target_lines_.push_back(line_no_);
  }

  // False (and the error reported) when the cell cannot be that column's value.
  bool read_cell(Column col, const std::string& cell, Target& t) {
    const auto number = [&](double& dst) {
      const auto v = parse_cell_number(cell, delimiter_);
      if (v) dst = *v;
      return v.has_value();
    };
    bool ok = true;
    switch (col) {
      case Column::kName:
        t.name = cell;
        return true;
      case Column::kMz:
        ok = number(t.mz);
        break;
      case Column::kRt:
        ok = number(t.rt);
        break;
      case Column::kMzTol:
        ok = number(t.mz_tol);
        break;
      case Column::kRtTol:
        ok = number(t.rt_tol);
        break;
      case Column::kExact: {
        const auto b = parse_bool(cell);
        if (b) t.exact = *b;
        if (!b) error(line_no_, "'" + cell + "' is not true/false");
        return b.has_value();
      }
      case Column::kMaxIter: {
        const auto n = parse_integer(cell);
        if (n) t.max_iter = *n;
        if (!n) error(line_no_, "'" + cell + "' is not a whole number");
        return n.has_value();
      }
      case Column::kQualifiers: {
        const auto problem = parse_qualifiers(cell, delimiter_, t.qualifiers);
        if (problem) error(line_no_, *problem);
        return !problem;
      }
      case Column::kQualifierTol:
        ok = number(t.qualifier_tol);
        break;
      case Column::kMzTolPpm: {
        double ppm = 0.0;
        ok = number(ppm);
        if (ok) t.mz_tol_ppm = ppm;
        break;
      }
      case Column::kIstd:
        t.istd = cell;
        return true;
      case Column::kRi: {
        double ri = 0.0;
        ok = number(ri);
        if (ok) t.ri = ri;
        break;
      }
      case Column::kRiTol: {
        double tol = 0.0;
        ok = number(tol);
        if (ok) t.ri_tol = tol;
        break;
      }
      case Column::kLibraryName:
        t.library_name = cell;
        return true;
    }
    if (!ok) error(line_no_, "'" + cell + "' is not a number");
    return ok;
  }

  const TargetDefaults& defaults_;
  std::string_view source_;
  TargetsParse out_;
  std::vector<Column> columns_;
  char delimiter_ = ',';
  std::vector<std::string> cells_;
  std::set<std::string, std::less<>> names_;
  std::size_t line_no_ = 0;
  std::vector<std::size_t> target_lines_;  // the line of each target
};

}  // namespace

TargetsParse parse_targets(std::string_view text, const TargetDefaults& defaults,
                           std::string_view source) {
  return TargetsReader(defaults, source).read(text);
}

}  // namespace vx::host::tables
