// Cell writers; see cell_text.hpp.
#include "cell_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <span>

#include "number_text.hpp"
#include "utf8.hpp"

namespace vx::host::base {
namespace {

// The code of raw in the table, or 0 when raw is written as it is.
char escape_code(std::span<const Escape> table, char raw) {
  for (const Escape& e : table) {
    if (e.raw == raw) return e.code;
  }
  return 0;
}

}  // namespace

void append_tsv_text(std::string& out, std::string_view s) {
  for (const char c : s) {
    if (const char code = escape_code(kTsvEscapes, c)) {
      out += '\\';
      out += code;
    } else {
      out += c;
    }
  }
}

void append_json_text(std::string& out, std::string_view s, JsonText mode) {
  static constexpr char kHex[] = "0123456789abcdef";
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  const bool html = mode == JsonText::kInsideHtml;
  out += '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const auto u = static_cast<unsigned char>(c);
    if (html && u >= 0x80) {
      const std::size_t n = utf8_length(s, i);
      out.append(n == 0 ? kReplacement : s.substr(i, n));
      i += n == 0 ? 0 : n - 1;
      continue;
    }
    const bool markup = u == '<' || u == '>' || u == '&';
    const char code = html && u < 0x20 ? '\0' : escape_code(kJsonEscapes, c);
    if (code != '\0') {
      out += '\\';
      out += code;
    } else if (u < 0x20 || (html && markup)) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void append_number(std::string& out, double v) {
  char buf[kNumberTextSize];
  out.append(buf, format_shortest(v, buf));
}

void append_integer(std::string& out, int64_t v) {
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(end - buf));
}

void append_integer(std::string& out, uint64_t v) {
  char buf[24];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, static_cast<std::size_t>(end - buf));
}

void append_json_number(std::string& out, std::optional<double> v) {
  if (!v || !std::isfinite(*v)) {
    out += "null";
  } else {
    append_number(out, *v);
  }
}

RowWriter::RowWriter(std::string& out, Format format) : out_(out), format_(format) {}

bool RowWriter::start(std::string_view key) {
  const bool first = first_;
  first_ = false;
  switch (format_) {
    case Format::kTsvHeader:
      if (!first) out_ += '\t';
      out_ += key;
      return false;
    case Format::kTsv:
      if (!first) out_ += '\t';
      return true;
    case Format::kJsonl:
      out_ += first ? "{\"" : ",\"";
      out_ += key;
      out_ += "\":";
      return true;
  }
  return true;
}

void RowWriter::text(std::string_view key, std::string_view v) {
  if (!start(key)) return;
  if (format_ == Format::kJsonl) {
    append_json_text(out_, v);
  } else {
    append_tsv_text(out_, v);
  }
}

void RowWriter::number(std::string_view key, std::optional<double> v) {
  if (!start(key)) return;
  if (format_ == Format::kJsonl) {
    append_json_number(out_, v);
  } else if (v) {
    append_number(out_, *v);
  }
}

template <typename T>
void RowWriter::whole(std::string_view key, std::optional<T> v) {
  if (!start(key)) return;
  if (v) {
    append_integer(out_, *v);
  } else if (format_ == Format::kJsonl) {
    out_ += "null";
  }
}

void RowWriter::count(std::string_view key, std::optional<uint64_t> v) { whole(key, v); }

void RowWriter::integer(std::string_view key, std::optional<int64_t> v) { whole(key, v); }

void RowWriter::flag(std::string_view key, bool v) {
  if (start(key)) out_ += v ? "true" : "false";
}

void RowWriter::list(std::string_view key, std::span<const std::string> items) {
  if (!start(key)) return;
  if (format_ == Format::kJsonl) out_ += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out_ += ',';
    if (format_ == Format::kJsonl) {
      append_json_text(out_, items[i]);
    } else {
      append_tsv_text(out_, items[i]);
    }
  }
  if (format_ == Format::kJsonl) out_ += ']';
}

void RowWriter::custom(std::string_view key, std::string_view tsv, std::string_view json) {
  if (!start(key)) return;
  if (format_ == Format::kJsonl) {
    out_ += json;
  } else {
    append_tsv_text(out_, tsv);
  }
}

void RowWriter::end() {
  if (format_ == Format::kJsonl) out_ += first_ ? "{}" : "}";
  out_ += '\n';
  first_ = true;
}

bool tsv_unescape(std::string_view cell, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < cell.size(); ++i) {
    if (cell[i] != '\\') {
      out += cell[i];
      continue;
    }
    if (++i == cell.size()) return false;
    const auto e = std::find_if(kTsvEscapes.begin(), kTsvEscapes.end(),
                                [&](const Escape& x) { return x.code == cell[i]; });
    if (e == kTsvEscapes.end()) return false;
    out += e->raw;
  }
  return true;
}

}  // namespace vx::host::base
