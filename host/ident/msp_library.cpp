// The MSP reader: one pass over the lines with a small state per entry.
// Values stay views into the text until an entry is stored.
#include "msp_library.hpp"

#include <cctype>

#include "text_lines.hpp"

namespace vx::host::ident {
namespace {

using detail::line_error;
using detail::quoted_excerpt;

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Lower case without blanks, '_' and '-': "Num Peaks" and "NUM_PEAKS" are
// the same key.
std::string normalised_key(std::string_view key) {
  std::string k;
  k.reserve(key.size());
  for (char c : key) {
    if (c == ' ' || c == '\t' || c == '_' || c == '-') continue;
    k += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return k;
}

// A field line is "Key: value" with a key that starts with a letter; peak
// lines start with a digit, so an annotation's ':' never makes one.
bool split_field(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::string_view t = detail::trim(line);
  if (t.empty() || !is_letter(t.front())) return false;
  const std::size_t colon = t.find(':');
  if (colon == std::string_view::npos) return false;
  key = detail::trim(t.substr(0, colon));
  value = detail::trim(t.substr(colon + 1));
  return true;
}

std::optional<double> parse_retention_index(std::string_view v) {
  if (auto x = detail::parse_number(v)) return x;
  // NIST: "SemiStdNP=1043/4/62 StdNP=1037/0/6 StdPolar=1412/11/18".
  for (std::string_view label : {"SemiStdNP=", "StdNP="}) {
    std::size_t at = v.find(label);
    // "StdNP=" also occurs inside "SemiStdNP="; only a whole label counts.
    while (at != std::string_view::npos && at > 0 && v[at - 1] != ' ' &&
           v[at - 1] != '\t') {
      at = v.find(label, at + 1);
    }
    if (at == std::string_view::npos) continue;
    std::string_view num = v.substr(at + label.size());
    num = num.substr(0, num.find_first_of("/ \t"));
    if (auto x = detail::parse_number(num)) return x;
  }
  return std::nullopt;
}

std::optional<double> parse_retention_time(std::string_view v) {
  const std::size_t end = v.find_first_of(" \t");
  const auto x = detail::parse_number(v.substr(0, end));
  if (!x) return std::nullopt;
  const std::string_view unit =
      end == std::string_view::npos ? "" : detail::trim(v.substr(end));
  if (unit.empty() || detail::same_ignoring_case(unit, "min")) return x;
  if (detail::same_ignoring_case(unit, "s") || detail::same_ignoring_case(unit, "sec")) {
    return *x / 60.0;
  }
  return std::nullopt;
}

struct Pending {
  LibraryEntry entry;
  bool active = false;
  bool failed = false;
  bool has_name = false;
  std::optional<long long> num_peaks;
  std::size_t num_peaks_line = 0;
};

class Reader {
 public:
  explicit Reader(std::string_view source) : source_(source) {}

  void line(std::string_view text, std::size_t no) {
    if (detail::trim(text).empty()) {
      finish(no);
      return;
    }
    std::string_view key;
    std::string_view value;
    const bool field = split_field(text, key, value);
    const std::string k = field ? normalised_key(key) : std::string();
    if (p_.active && p_.failed) {
      // Skip the rest of a damaged entry; a Name: line starts the next one.
      if (!(field && k == "name")) return;
      p_ = Pending{};
    }
    if (p_.active && !field && collecting_peaks()) {
      peak_line(text, no);
      return;
    }
    if (!field) {
      stray_line(text, no);
    } else if (k == "name") {
      name_field(value, no);
    } else {
      other_field(k, key, value, no);
    }
  }

  // Ends the current entry at line `no` (a blank line, the next entry or
  // one past the end).
  void finish(std::size_t no) {
    if (p_.active && !p_.failed) {
      if (!p_.has_name) {
        error(p_.entry.line, "entry without NAME");
      } else if (!p_.num_peaks) {
        error(p_.entry.line,
              "entry " + quoted_excerpt(p_.entry.name) + " has no Num Peaks");
      } else if (static_cast<long long>(p_.entry.peaks.size()) < *p_.num_peaks) {
        error(no, "entry " + quoted_excerpt(p_.entry.name) + " ends after " +
                      std::to_string(p_.entry.peaks.size()) + " of its " +
                      std::to_string(*p_.num_peaks) + " peaks (Num Peaks on line " +
                      std::to_string(p_.num_peaks_line) + ")");
      } else {
        out_.entries.push_back(std::move(p_.entry));
      }
    }
    p_ = Pending{};
  }

  MspParse take() { return std::move(out_); }

 private:
  // A line that is neither a field nor an expected peak line. The message
  // tells a peak line past the count, or before it, from plain stray text,
  // since those are the usual ways a hand-edited entry goes wrong.
  void stray_line(std::string_view text, std::size_t no) {
    if (!p_.active) {
      error(no, "line " + quoted_excerpt(detail::trim(text)) + " outside an entry");
      return;
    }
    const std::string_view t = detail::trim(text);
    const bool numeric = (t.front() >= '0' && t.front() <= '9') || t.front() == '.';
    if (!numeric) {
      fail(no, "line " + quoted_excerpt(t) + " is neither a field nor a peak");
    } else if (p_.num_peaks) {
      fail(no, "more peaks than Num Peaks (" + std::to_string(*p_.num_peaks) +
                   ") in entry " + quoted_excerpt(p_.entry.name));
    } else {
      fail(no, "peak line before Num Peaks in entry " + quoted_excerpt(p_.entry.name));
    }
  }

  // Name: always starts a new entry, even without a blank line before it.
  void name_field(std::string_view value, std::size_t no) {
    if (p_.active) finish(no);
    start(no);
    if (value.empty()) {
      fail(no, "empty NAME");
      return;
    }
    p_.entry.name = std::string(value);
    p_.has_name = true;
  }

  // Every field but Name:; k is the normalised key. Fields the library does
  // not interpret are kept as written.
  void other_field(const std::string& k, std::string_view key, std::string_view value,
                   std::size_t no) {
    if (!p_.active) start(no);
    if (collecting_peaks()) {
      // A field where peaks should continue: the list was cut short.
      finish(no);
      start(no);
    }
    if (k == "numpeaks") {
      num_peaks_field(value, no);
    } else if (k == "retentionindex" || k == "ri") {
      p_.entry.retention_index = parse_retention_index(value);
      if (!p_.entry.retention_index)
        fail(no, "retention index " + quoted_excerpt(value) + " is not a number");
    } else if (k == "retentiontime" || k == "rt") {
      p_.entry.retention_time = parse_retention_time(value);
      if (!p_.entry.retention_time) {
        fail(no, "retention time " + quoted_excerpt(value) +
                     " is not a number of minutes or seconds");
      }
    } else if (k == "precursormz") {
      p_.entry.precursor_mz = detail::parse_number(value);
      if (!p_.entry.precursor_mz)
        fail(no, "precursor m/z " + quoted_excerpt(value) + " is not a number");
    } else {
      p_.entry.fields.emplace_back(std::string(key), std::string(value));
    }
  }

  // The peak count is what tells peak lines from the next entry's text, so
  // it is taken once, bounded, and only for an entry with a name.
  void num_peaks_field(std::string_view value, std::size_t no) {
    const auto n = detail::parse_integer(value);
    if (p_.num_peaks) {
      fail(no, "Num Peaks twice in entry " + quoted_excerpt(p_.entry.name));
    } else if (!n || *n < 0 || *n > kMaxMspPeaks) {
      fail(no, "Num Peaks " + quoted_excerpt(value) +
                   " is not a whole number from 0 to 100000");
    } else if (!p_.has_name) {
      fail(p_.entry.line, "entry without NAME");
    } else {
      p_.num_peaks = *n;
      p_.num_peaks_line = no;
      p_.entry.peaks.reserve(static_cast<std::size_t>(*n));
    }
  }
  bool collecting_peaks() const {
    return p_.num_peaks && static_cast<long long>(p_.entry.peaks.size()) < *p_.num_peaks;
  }

  void start(std::size_t no) {
    p_ = Pending{};
    p_.active = true;
    p_.entry.line = no;
  }

  void error(std::size_t no, std::string_view what) {
    if (out_.errors.size() < kMaxMspErrors) {
      out_.errors.push_back(line_error(source_, no, what));
    } else if (out_.errors.size() == kMaxMspErrors) {
      out_.errors.push_back(std::string(source_) + ": more than " +
                            std::to_string(kMaxMspErrors) +
                            " errors; the rest are not listed");
    }
  }

  void fail(std::size_t no, std::string_view what) {
    error(no, what);
    p_.failed = true;
  }

  // One or more "mz intensity" pairs separated by blanks or ';', each
  // optionally followed by a quoted annotation.
  void peak_line(std::string_view text, std::size_t no) {
    // A plain double and a flag: GCC 12 at -O1 misjudges an optional<double>
    // here as maybe uninitialised.
    double mz = 0.0;
    bool have_mz = false;
    bool pair_done = false;  // an annotation may follow
    std::size_t i = 0;
    while (i < text.size()) {
      const char c = text[i];
      if (c == ' ' || c == '\t' || c == ';' || c == '\r') {
        ++i;
        continue;
      }
      if (c == '"') {
        const std::size_t close = text.find('"', i + 1);
        if (!pair_done || close == std::string_view::npos) {
          fail(no, close == std::string_view::npos ? "unterminated quoted annotation"
                                                   : "annotation before its peak");
          return;
        }
        i = close + 1;
        pair_done = false;
        continue;
      }
      std::size_t end = i;
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' &&
             text[end] != ';' && text[end] != '"' && text[end] != '\r') {
        ++end;
      }
      const std::string_view token = text.substr(i, end - i);
      i = end;
      const auto v = detail::parse_number(token);
      if (!v) {
        fail(no, "peak value " + quoted_excerpt(token) + " is not a number");
        return;
      }
      if (!have_mz) {
        if (!(*v > 0.0)) {
          fail(no, "peak m/z " + quoted_excerpt(token) + " is not positive");
          return;
        }
        mz = *v;
        have_mz = true;
        pair_done = false;
        continue;
      }
      if (*v < 0.0) {
        fail(no, "peak intensity " + quoted_excerpt(token) + " is negative");
        return;
      }
      if (!collecting_peaks()) {
        fail(no, "more peaks than Num Peaks (" + std::to_string(*p_.num_peaks) +
                     ") in entry " + quoted_excerpt(p_.entry.name));
        return;
      }
      p_.entry.peaks.push_back({mz, *v});
      have_mz = false;
      pair_done = true;
    }
    if (have_mz) fail(no, "peak m/z without its intensity");
  }

  std::string_view source_;
  Pending p_;
  MspParse out_;
};

}  // namespace

MspParse parse_msp(std::string_view text, std::string_view source) {
  Reader reader(source);
  detail::Lines lines(text);
  std::string_view line;
  std::size_t no = 0;
  while (lines.next(line, no)) reader.line(line, no);
  reader.finish(no);  // a list cut short by the end names the last line
  return reader.take();
}

}  // namespace vx::host::ident
