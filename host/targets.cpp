// Targets table parsing. Cells are views into the text until a value is
// stored; numbers go through the locale-free parser.
#include "targets.hpp"

#include <array>
#include <cmath>
#include <set>

#include "number_text.hpp"

namespace vx::host {
namespace {

enum class Column { kName, kMz, kRt, kMzTol, kRtTol, kExact, kMaxIter };

struct ColumnName {
  std::string_view name;
  Column column;
};

// Accepted spellings; the first of each column is the documented one.
constexpr std::array<ColumnName, 15> kColumnNames{{
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
}};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::optional<Column> column_of(std::string_view header) {
  for (const ColumnName& c : kColumnNames) {
    if (same_ignoring_case(c.name, header)) return c.column;
  }
  return std::nullopt;
}

// Splits one line into cells. CSV cells may be quoted; quotes are removed.
// Returns false for an unterminated quote.
bool split_line(std::string_view line, char delimiter, std::vector<std::string>& cells) {
  cells.clear();
  std::size_t i = 0;
  while (true) {
    std::string cell;
    // Blanks before an opening quote are allowed.
    std::size_t j = i;
    while (j < line.size() && line[j] == ' ') ++j;
    if (delimiter == ',' && j < line.size() && line[j] == '"') {
      i = j + 1;
      while (true) {
        if (i >= line.size()) return false;
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell += line[i++];
      }
      // Anything between the closing quote and the delimiter is kept.
      const std::size_t stop = line.find(delimiter, i);
      cell.append(trim(line.substr(
          i, stop == std::string_view::npos ? std::string_view::npos : stop - i)));
      cells.push_back(std::move(cell));
      if (stop == std::string_view::npos) return true;
      i = stop + 1;
      continue;
    }
    const std::size_t stop = line.find(delimiter, i);
    cells.emplace_back(trim(line.substr(
        i, stop == std::string_view::npos ? std::string_view::npos : stop - i)));
    if (stop == std::string_view::npos) return true;
    i = stop + 1;
  }
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
  return Target{std::move(name), mz, rt, d.mz_tol, d.rt_tol, d.exact, d.max_iter};
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

// One parse: the header decides the delimiter and the columns, then each
// row becomes a target or an error naming its line.
class TargetsReader {
 public:
  TargetsReader(const TargetDefaults& defaults, std::string_view source)
      : defaults_(defaults), source_(source) {}

  TargetsParse read(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    bool have_header = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
      const std::size_t nl = std::min(text.find('\n', pos), text.size());
      std::string_view line = text.substr(pos, nl - pos);
      pos = nl + 1;
      ++line_no_;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (trim(line).empty() || trim(line).front() == '#') continue;
      if (have_header) {
        read_row(line);
        continue;
      }
      have_header = true;
      if (!read_header(line)) return std::move(out_);
    }
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
    delimiter_ = line.find('\t') != std::string_view::npos ? '\t' : ',';
    if (!split_line(line, delimiter_, cells_)) {
      error(line_no_, "unterminated quote in the header");
      return false;
    }
    std::array<bool, 7> seen{};
    for (const std::string& h : cells_) {
      const auto col = column_of(h);
      if (!col) {
        error(line_no_, "unknown column '" + h +
                            "' (expected name, mz, rt, mz_tol, rt_tol, exact, max_iter)");
        continue;
      }
      const auto k = static_cast<std::size_t>(*col);
      if (seen[k]) error(line_no_, "column '" + h + "' given twice");
      seen[k] = true;
      columns_.push_back(*col);
    }
    if (!seen[static_cast<std::size_t>(Column::kMz)] ||
        !seen[static_cast<std::size_t>(Column::kRt)]) {
      error(line_no_, "the header needs at least the columns mz and rt");
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
    std::array<bool, 7> given{};
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      if (cells_[i].empty()) continue;  // empty optional cells keep the defaults
      if (!read_cell(columns_[i], cells_[i], t)) return;
      given[static_cast<std::size_t>(columns_[i])] = true;
    }
    if (!given[static_cast<std::size_t>(Column::kMz)] ||
        !given[static_cast<std::size_t>(Column::kRt)]) {
      return error(line_no_, "mz and rt are required");
    }
    if (const auto problem = target_problem(t)) return error(line_no_, *problem);
    if (t.name.empty()) t.name = shortest_text(t.mz) + "@" + shortest_text(t.rt);
    if (!names_.insert(t.name).second) {
      return error(line_no_, "target name '" + t.name + "' used twice");
    }
    out_.targets.push_back(std::move(t));
  }

  // False (and the error reported) when the cell cannot be that column's value.
  bool read_cell(Column col, const std::string& cell, Target& t) {
    const auto number = [&](double& dst) {
      const auto v = parse_double(cell);
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
};

}  // namespace

TargetsParse parse_targets(std::string_view text, const TargetDefaults& defaults,
                           std::string_view source) {
  return TargetsReader(defaults, source).read(text);
}

}  // namespace vx::host
