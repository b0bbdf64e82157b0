// Sample list parsing and matching to the batch's files. Entries are merged
// per file (the long form names a file once per compound), so duplicates and
// contradictions are caught wherever they stand in the list.
#include "sample_list.hpp"

#include <cmath>
#include <filesystem>
#include <map>

#include "number_text.hpp"
#include "table_text.hpp"

namespace vx::host::tables {

using base::TableLines;
using base::parse_double;
using base::same_ignoring_case;
using base::split_line;

namespace {

// Column roles; kAmountOf is a wide-form column named after a target.
enum class Role { kFile, kType, kTarget, kAmount, kAmountOf };

struct Column {
  Role role;
  std::size_t target = 0;  // kAmountOf
};

std::optional<Role> fixed_role(std::string_view h) {
  for (std::string_view s : {"file", "filename", "path"})
    if (same_ignoring_case(h, s)) return Role::kFile;
  for (std::string_view s : {"type", "sample_type"})
    if (same_ignoring_case(h, s)) return Role::kType;
  for (std::string_view s : {"target", "compound"})
    if (same_ignoring_case(h, s)) return Role::kTarget;
  for (std::string_view s : {"amount", "concentration"})
    if (same_ignoring_case(h, s)) return Role::kAmount;
  return std::nullopt;
}

std::optional<SampleType> parse_type(std::string_view s) {
  if (same_ignoring_case(s, "standard") || same_ignoring_case(s, "std") ||
      same_ignoring_case(s, "calibrant"))
    return SampleType::kStandard;
  if (same_ignoring_case(s, "sample") || same_ignoring_case(s, "unknown"))
    return SampleType::kSample;
  if (same_ignoring_case(s, "blank")) return SampleType::kBlank;
  if (same_ignoring_case(s, "qc")) return SampleType::kQc;
  return std::nullopt;
}

std::optional<std::size_t> target_index(std::span<const std::string> names,
                                        std::string_view s) {
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == s) return i;
  return std::nullopt;
}

struct Parser {
  std::span<const std::string> targets;
  std::string_view source;
  SampleListParse out;
  std::vector<Column> columns;
  std::map<std::string, std::size_t, std::less<>> by_file;  // file -> entry index
  char delimiter = ',';  // ';' makes a comma the decimal separator

  void error(std::size_t line, std::string_view what) {
    out.errors.push_back(std::string(source) + ":" + std::to_string(line) + ": " +
                         std::string(what));
  }

  bool header(const std::vector<std::string>& cells, std::size_t line) {
    bool file = false, type = false, target = false, amount = false, wide = false;
    for (const std::string& h : cells) {
      if (const auto role = fixed_role(h)) {
        bool& seen = *role == Role::kFile     ? file
                     : *role == Role::kType   ? type
                     : *role == Role::kTarget ? target
                                              : amount;
        if (seen) error(line, "column '" + h + "' given twice");
        seen = true;
        columns.push_back({*role});
      } else if (const auto t = target_index(targets, h)) {
        wide = true;
        columns.push_back({Role::kAmountOf, *t});
      } else {
        error(line, "column '" + h + "' is neither file, type, target, amount nor a target name");
      }
    }
    if (!file || !type) error(line, "the header needs the columns file and type");
    if (target != amount) error(line, "the columns target and amount go together");
    if (target && wide) error(line, "use either target and amount columns or one column per target, not both");
    return out.errors.empty();
  }

  void set_amount(SampleEntry& e, std::size_t t, std::string_view cell, std::size_t line) {
    const auto v = base::parse_cell_number(cell, delimiter);
    if (!v) return error(line, "amount '" + std::string(cell) + "' is not a number");
    if (!std::isfinite(*v) || *v <= 0.0)
      return error(line, "amount '" + std::string(cell) + "' must be a positive number");
    if (e.type != SampleType::kStandard && e.type != SampleType::kQc)
      return error(line, "only standards and QCs carry amounts");
    if (e.amounts[t]) return error(line, "a second amount for " + e.file + " and target " + targets[t]);
    e.amounts[t] = *v;
  }

  void row(const std::vector<std::string>& cells, std::size_t line) {
    if (cells.size() > columns.size()) return error(line, "more cells than header columns");
    std::string_view file, type_text, target_text, amount_text;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      const Role r = columns[i].role;
      if (r == Role::kFile) file = cells[i];
      if (r == Role::kType) type_text = cells[i];
      if (r == Role::kTarget) target_text = cells[i];
      if (r == Role::kAmount) amount_text = cells[i];
    }
    if (file.empty()) return error(line, "the file cell is empty");
    const auto type = parse_type(type_text);
    if (!type) return error(line, "type '" + std::string(type_text) + "' is not standard, sample, blank or qc");
    auto [it, fresh] = by_file.try_emplace(std::string(file), out.entries.size());
    if (fresh) {
      out.entries.push_back({std::string(file), *type, std::vector<std::optional<double>>(targets.size()), line});
    } else if (out.entries[it->second].type != *type) {
      return error(line, "file '" + std::string(file) + "' was given another type on line " +
                             std::to_string(out.entries[it->second].line));
    } else if (target_text.empty() && amount_text.empty()) {
      return error(line, "file '" + std::string(file) + "' is listed twice");
    }
    SampleEntry& e = out.entries[it->second];
    if (!target_text.empty() || !amount_text.empty()) {
      const auto t = target_index(targets, target_text);
      if (!t) return error(line, "target '" + std::string(target_text) + "' is not in the targets table");
      if (amount_text.empty()) return error(line, "the amount cell is empty");
      return set_amount(e, *t, amount_text, line);
    }
    for (std::size_t i = 0; i < cells.size(); ++i) {
      if (columns[i].role == Role::kAmountOf && !cells[i].empty())
        set_amount(e, columns[i].target, cells[i], line);
    }
  }
};

// A view, not a shortened copy: resizing a string here made GCC 12's
// optimiser warn about an overlapping copy (-Wrestrict) that cannot happen.
std::string_view without_mzml_ending(std::string_view name) {
  for (std::string_view end : {".mzml.gz", ".mzml"}) {
    if (name.size() > end.size() &&
        same_ignoring_case(name.substr(name.size() - end.size()), end))
      return name.substr(0, name.size() - end.size());
  }
  return name;
}

}  // namespace

std::string_view sample_type_name(SampleType t) {
  switch (t) {
    case SampleType::kStandard:
      return "standard";
    case SampleType::kBlank:
      return "blank";
    case SampleType::kQc:
      return "qc";
    case SampleType::kSample:
      return "sample";
  }
  return "sample";
}

SampleListParse parse_sample_list(std::string_view text,
                                  std::span<const std::string> target_names,
                                  std::string_view source) {
  Parser p{target_names, source, {}, {}, {}, ','};
  TableLines lines(text);
  std::string_view line;
  std::size_t line_no = 0;
  std::vector<std::string> cells;
  bool have_header = false;
  char delimiter = ',';
  while (lines.next(line, line_no)) {
    if (!have_header) delimiter = p.delimiter = base::header_delimiter(line);
    if (!split_line(line, delimiter, cells)) {
      p.error(line_no, "unterminated quote");
      if (!have_header) return p.out;
      continue;
    }
    if (!have_header) {
      have_header = true;
      if (!p.header(cells, line_no)) return p.out;
      continue;
    }
    p.row(cells, line_no);
  }
  const std::size_t last = std::max<std::size_t>(lines.last_line(), 1);
  if (!have_header) {
    p.error(last, "the sample list is empty (no header row)");
  } else if (p.out.entries.empty() && p.out.errors.empty()) {
    p.error(last, "the sample list names no file");
  }
  for (const SampleEntry& e : p.out.entries) {
    bool any = false;
    for (const auto& a : e.amounts) any = any || a.has_value();
    if (e.type == SampleType::kStandard && !any)
      p.error(e.line, "standard '" + e.file + "' has no amount");
  }
  return std::move(p.out);
}

SampleAssignment assign_samples(const SampleListParse& list,
                                std::span<const std::string> paths,
                                std::size_t n_targets, std::string_view source) {
  namespace fs = std::filesystem;
  SampleAssignment out;
  out.per_file.resize(paths.size());
  for (std::size_t f = 0; f < paths.size(); ++f) {
    out.per_file[f].file = paths[f];
    out.per_file[f].amounts.assign(n_targets, std::nullopt);
  }
  std::vector<std::size_t> claimed_by(paths.size(), 0);
  for (const SampleEntry& e : list.entries) {
    const auto error = [&](const std::string& what) {
      out.errors.push_back(std::string(source) + ":" + std::to_string(e.line) + ": " + what);
    };
    std::vector<std::size_t> hits;
    for (std::size_t f = 0; f < paths.size(); ++f) {
      const std::string name = fs::path(paths[f]).filename().string();
      if (e.file == paths[f] || e.file == name || e.file == without_mzml_ending(name))
        hits.push_back(f);
    }
    if (hits.empty()) {
      error("file '" + e.file + "' is not among the batch's files");
      continue;
    }
    if (hits.size() > 1) {
      error("file '" + e.file + "' matches " + std::to_string(hits.size()) +
            " of the batch's files; give its path");
      continue;
    }
    const std::size_t f = hits.front();
    if (claimed_by[f] != 0) {
      error(paths[f] + " is already named on line " + std::to_string(claimed_by[f]));
      continue;
    }
    claimed_by[f] = e.line;
    out.per_file[f].type = e.type;
    out.per_file[f].amounts = e.amounts;
    out.per_file[f].line = e.line;
  }
  return out;
}

}  // namespace vx::host::tables
