// JSON input scanning: one forward walk over the outermost object. Values of
// members before the wanted one are skipped by counting brackets of their own
// kind, never parsed.
#include "common/json_scanner.hpp"

#include <cstring>

#include "common/number_reader.hpp"

namespace vx::common {
namespace {

// The member walk skips JSON white space only; number and string reads trim
// with the wider "C" isspace set.
bool is_json_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t skip_blanks(std::string_view t, std::size_t i) {
  while (i < t.size() && is_json_blank(t[i])) ++i;
  return i;
}

// From an opening quote at i, the offset just past the closing quote (a
// backslash makes the next byte ordinary), or the end of the text.
std::size_t skip_string(std::string_view t, std::size_t i) {
  ++i;
  while (i < t.size()) {
    if (t[i] == '\\') {
      i += 2;
      continue;
    }
    if (t[i] == '"') return i + 1;
    ++i;
  }
  return t.size();
}

// From an opening bracket at i, the offset just past the bracket of the same
// kind that closes it, or the end of the text.
std::size_t skip_bracketed(std::string_view t, std::size_t i) {
  const char open = t[i];
  const char close = open == '[' ? ']' : '}';
  std::size_t depth = 0;
  while (i < t.size()) {
    const char c = t[i];
    if (c == '"') {
      i = skip_string(t, i);
      continue;
    }
    if (c == open) {
      ++depth;
    } else if (c == close && --depth == 0) {
      return i + 1;
    }
    ++i;
  }
  return t.size();
}

std::size_t skip_scalar(std::string_view t, std::size_t i) {
  while (i < t.size()) {
    const char c = t[i];
    if (c == ',' || c == '}' || c == ']' || is_json_blank(c)) break;
    ++i;
  }
  return i;
}

// Reads the key starting at i (a quote) and compares it, after backslash
// removal, with want; returns the offset after the key.
std::size_t read_key(std::string_view t, std::size_t i, std::string_view want,
                     bool& matches) {
  std::size_t k = 0;  // bytes of the collected key so far
  bool same = true;
  ++i;
  while (i < t.size() && t[i] != '"') {
    if (t[i] == '\\') {
      ++i;
      if (i >= t.size()) break;  // a trailing backslash ends the key
    }
    same = same && k < want.size() && want[k] == t[i];
    ++k;
    ++i;
  }
  if (i < t.size()) ++i;  // the closing quote
  matches = same && k == want.size() && k != 0;
  return i;
}

std::string_view unquote_trimmed(std::string_view raw) {
  std::string_view v = trim_spaces(raw);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

std::string_view until_nul(std::string_view text) {
  // An empty view may have a null data pointer, which memchr must not get.
  if (text.empty()) return text;
  const void* nul = std::memchr(text.data(), '\0', text.size());
  if (nul == nullptr) return text;
  return text.substr(
      0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

std::optional<std::string_view> find_member_text(std::string_view t,
                                                 std::string_view key) {
  std::size_t i = skip_blanks(t, 0);
  if (i >= t.size() || t[i] != '{') return std::nullopt;
  ++i;
  for (;;) {
    i = skip_blanks(t, i);
    if (i < t.size() && t[i] == '}') return std::nullopt;
    bool matches = false;
    if (i < t.size() && t[i] == '"') i = read_key(t, i, key, matches);
    i = skip_blanks(t, i);
    if (i >= t.size() || t[i] != ':') return std::nullopt;
    i = skip_blanks(t, i + 1);
    const std::size_t start = i;
    if (i < t.size()) {
      const char c = t[i];
      if (c == '"') {
        i = skip_string(t, i);
      } else if (c == '[' || c == '{') {
        i = skip_bracketed(t, i);
      } else {
        i = skip_scalar(t, i);
      }
    }
    if (matches) return t.substr(start, i - start);
    i = skip_blanks(t, i);
    if (i >= t.size() || t[i] != ',') return std::nullopt;
    ++i;
  }
}

std::optional<double> read_number_member(std::string_view json, std::string_view key) {
  const auto raw = find_member_text(json, key);
  if (!raw) return std::nullopt;
  double v = 0.0;
  if (scan_strtod(unquote_trimmed(*raw), v) == 0) return std::nullopt;
  return v;
}

bool read_string_member(std::string_view json, std::string_view key, std::string& out) {
  const auto raw = find_member_text(json, key);
  if (!raw) return false;
  out.assign(unquote_trimmed(*raw));
  return !out.empty();
}

void parse_number_list(std::string_view text, std::vector<double>& out) {
  std::size_t i = 0;
  while (i < text.size()) {
    double v = 0.0;
    const std::size_t used = scan_strtod(text.substr(i), v);
    if (used != 0) {
      out.push_back(v);
      i += used;
      continue;
    }
    // Nothing converts here. Every blank of a run would skip to the same
    // byte and fail the same way, so the run and that byte go at once; this
    // keeps long runs of blanks linear.
    while (i < text.size() && is_c_space(static_cast<unsigned char>(text[i]))) ++i;
    ++i;
  }
}

std::vector<double> parse_number_list(std::string_view text) {
  std::vector<double> out;
  parse_number_list(text, out);
  return out;
}

}  // namespace vx::common
