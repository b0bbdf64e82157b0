// Targets table parsing. Cells are views into the text until a value is
// stored; numbers go through the locale-free parser.
#include "targets.hpp"

#include <array>
#include <cmath>
#include <map>
#include <set>

#include "number_text.hpp"
#include "table_text.hpp"

namespace vx::host {
namespace {

enum class Column {
  kName, kMz, kRt, kMzTol, kRtTol, kExact, kMaxIter,
  kQualifiers, kQualifierTol, kMzTolPpm, kIstd
};
constexpr std::size_t kColumnCount = 11;

struct ColumnName {
  std::string_view name;
  Column column;
};

// Accepted spellings; the first of each column is the documented one.
constexpr std::array<ColumnName, 20> kColumnNames{{
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

// "147:35;207:12.5": qualifier m/z and expected % of the quantifier's area.
std::optional<std::string> parse_qualifiers(std::string_view cell, std::vector<Qualifier>& out) {
  while (!cell.empty()) {
    const std::size_t semi = cell.find(';');
    const std::string_view item = trim_blanks(cell.substr(0, semi));
    cell = semi == std::string_view::npos ? std::string_view() : cell.substr(semi + 1);
    if (item.empty()) continue;
    const std::size_t colon = item.find(':');
    const auto mz = parse_double(item.substr(0, colon));
    const auto pct = colon == std::string_view::npos ? std::nullopt
                                                     : parse_double(item.substr(colon + 1));
    if (!mz || !pct || !std::isfinite(*mz) || *mz <= 0.0 || !std::isfinite(*pct) ||
        *pct <= 0.0) {
      return "qualifier '" + std::string(item) +
             "' is not MZ:PERCENT with a positive m/z and a positive percentage";
    }
    out.push_back({*mz, *pct});
  }
  return std::nullopt;
}

// Row-level checks of the quantitation columns, after the cells are read.
std::optional<std::string> quantitation_problem(Target& t,
                                                const std::vector<std::optional<Column>>& columns,
                                                const std::vector<std::string>& cells) {
  bool mz_tol_cell = false;
  for (std::size_t i = 0; i < cells.size(); ++i)
    mz_tol_cell = mz_tol_cell || (*columns[i] == Column::kMzTol && !cells[i].empty());
  if (t.mz_tol_ppm) {
    if (mz_tol_cell) return "give mz_tol (Da) or mz_tol_ppm, not both";
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

TargetsParse parse_targets(std::string_view text, const TargetDefaults& defaults,
                           std::string_view source) {
  TargetsParse out;
  const auto error = [&](std::size_t line, std::string_view what) {
    out.errors.push_back(std::string(source) + ":" + std::to_string(line) + ": " +
                         std::string(what));
  };

  std::vector<std::optional<Column>> columns;
  char delimiter = ',';
  bool have_header = false;
  std::vector<std::string> cells;
  std::set<std::string, std::less<>> names;
  std::vector<std::size_t> target_lines;
  std::size_t line_no = 0;
  TableLines lines(text);
  std::string_view line;
  while (lines.next(line, line_no)) {

    if (!have_header) {
      have_header = true;
      delimiter = line.find('\t') != std::string_view::npos ? '\t' : ',';
      if (!split_line(line, delimiter, cells)) {
        error(line_no, "unterminated quote in the header");
        return out;
      }
      std::array<bool, kColumnCount> seen{};
      for (const std::string& h : cells) {
        const auto col = column_of(h);
        if (!col) {
          error(line_no,
                "unknown column '" + h +
                    "' (expected name, mz, rt, mz_tol, rt_tol, exact, max_iter, "
                    "qualifiers, qualifier_tol, mz_tol_ppm, istd)");
          continue;
        }
        const auto k = static_cast<std::size_t>(*col);
        if (seen[k]) error(line_no, "column '" + h + "' given twice");
        seen[k] = true;
        columns.push_back(col);
      }
      if (!seen[static_cast<std::size_t>(Column::kMz)] ||
          !seen[static_cast<std::size_t>(Column::kRt)]) {
        error(line_no, "the header needs at least the columns mz and rt");
      }
      if (!out.errors.empty()) return out;
      continue;
    }

    if (!split_line(line, delimiter, cells)) {
      error(line_no, "unterminated quote");
      continue;
    }
    if (cells.size() > columns.size()) {
      error(line_no, "more cells than header columns");
      continue;
    }
    Target t = make_target("", 0.0, 0.0, defaults);
    bool have_mz = false;
    bool have_rt = false;
    bool bad = false;
    for (std::size_t i = 0; i < cells.size() && !bad; ++i) {
      const std::string& cell = cells[i];
      if (cell.empty()) continue;  // empty optional cells keep the defaults
      const Column col = *columns[i];
      const auto number = [&](double& dst) {
        if (const auto v = parse_double(cell)) {
          dst = *v;
          return true;
        }
        error(line_no, "'" + cell + "' is not a number");
        bad = true;
        return false;
      };
      switch (col) {
        case Column::kName:
          t.name = cell;
          break;
        case Column::kMz:
          have_mz = number(t.mz);
          break;
        case Column::kRt:
          have_rt = number(t.rt);
          break;
        case Column::kMzTol:
          number(t.mz_tol);
          break;
        case Column::kRtTol:
          number(t.rt_tol);
          break;
        case Column::kExact:
          if (const auto b = parse_bool(cell)) {
            t.exact = *b;
          } else {
            error(line_no, "'" + cell + "' is not true/false");
            bad = true;
          }
          break;
        case Column::kMaxIter:
          if (const auto n = parse_integer(cell)) {
            t.max_iter = *n;
          } else {
            error(line_no, "'" + cell + "' is not a whole number");
            bad = true;
          }
          break;
        case Column::kQualifiers:
          if (const auto problem = parse_qualifiers(cell, t.qualifiers)) {
            error(line_no, *problem);
            bad = true;
          }
          break;
        case Column::kQualifierTol:
          number(t.qualifier_tol);
          break;
        case Column::kMzTolPpm:
          if (double ppm = 0.0; number(ppm)) t.mz_tol_ppm = ppm;
          break;
        case Column::kIstd:
          t.istd = cell;
          break;
      }
    }
    if (bad) continue;
    if (const auto problem = quantitation_problem(t, columns, cells)) {
      error(line_no, *problem);
      continue;
    }
    if (!have_mz || !have_rt) {
      error(line_no, "mz and rt are required");
      continue;
    }
    if (const auto problem = target_problem(t)) {
      error(line_no, *problem);
      continue;
    }
    if (t.name.empty()) t.name = shortest_text(t.mz) + "@" + shortest_text(t.rt);
    if (!names.insert(t.name).second) {
      error(line_no, "target name '" + t.name + "' used twice");
      continue;
    }
    out.targets.push_back(std::move(t));
    target_lines.push_back(line_no);
  }
  line_no = lines.last_line();
  check_internal_standards(out.targets, target_lines, error);
  if (!have_header) {
    error(line_no == 0 ? 1 : line_no, "no header row");
  } else if (out.targets.empty() && out.errors.empty()) {
    error(line_no, "no targets");
  }
  return out;
}

}  // namespace vx::host
