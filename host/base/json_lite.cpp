// Recursive descent over a string_view; depth is counted so a hostile
// document cannot exhaust the stack. Numbers go through std::from_chars.
#include "json_lite.hpp"

#include <charconv>
#include <cstdint>
#include <limits>

namespace vx::host::base {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonParse run() {
    JsonParse out;
    JsonValue v;
    skip_blanks();
    if (parse_value(v, 0)) {
      skip_blanks();
      if (pos_ == text_.size()) {
        out.value = std::move(v);
        return out;
      }
      fail("unexpected text after the document");
    }
    out.error = error_;
    out.offset = pos_;
    return out;
  }

 private:
  bool fail(const char* why) {
    if (error_.empty()) error_ = why;
    return false;
  }

  void skip_blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool take_word(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool parse_value(JsonValue& v, std::size_t depth) {
    if (depth >= kMaxDepth) return fail("document nested too deeply");
    if (pos_ >= text_.size()) return fail("unexpected end of text");
    const char c = text_[pos_];
    switch (c) {
      case '{':
        return parse_object(v, depth);
      case '[':
        return parse_array(v, depth);
      case '"':
        v.kind = JsonValue::Kind::kString;
        return parse_string(v.text);
      case 't':
      case 'f':
      case 'n':
        if (take_word("true") || take_word("false")) {
          v.kind = JsonValue::Kind::kBool;
          v.boolean = c == 't';
          return true;
        }
        if (take_word("null")) {
          v.kind = JsonValue::Kind::kNull;
          return true;
        }
        return fail("unknown word");
      default:
        return parse_number(v);
    }
  }

  bool parse_number(JsonValue& v) {
    v.kind = JsonValue::Kind::kNumber;
    if (take_word("NaN")) {
      v.number = std::numeric_limits<double>::quiet_NaN();
      return true;
    }
    if (take_word("Infinity")) {
      v.number = std::numeric_limits<double>::infinity();
      return true;
    }
    if (take_word("-Infinity")) {
      v.number = -std::numeric_limits<double>::infinity();
      return true;
    }
    // JSON's grammar is narrower than from_chars': check it first so that
    // "inf", "nan", "1." or ".5" are rejected.
    std::size_t p = pos_;
    const auto digit = [&](std::size_t i) {
      return i < text_.size() && text_[i] >= '0' && text_[i] <= '9';
    };
    if (p < text_.size() && text_[p] == '-') ++p;
    if (!digit(p)) return fail("invalid number");
    if (text_[p] == '0') {
      ++p;
    } else {
      while (digit(p)) ++p;
    }
    if (p < text_.size() && text_[p] == '.') {
      ++p;
      if (!digit(p)) return fail("invalid number");
      while (digit(p)) ++p;
    }
    if (p < text_.size() && (text_[p] == 'e' || text_[p] == 'E')) {
      ++p;
      if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) ++p;
      if (!digit(p)) return fail("invalid number");
      while (digit(p)) ++p;
    }
    const auto [end, ec] =
        std::from_chars(text_.data() + pos_, text_.data() + p, v.number);
    if (ec == std::errc::result_out_of_range) {
      // Too small (a negative exponent, or "0.000…") reads as zero, too big
      // as an infinity, each with the number's sign.
      const std::string_view t = text_.substr(pos_, p - pos_);
      const bool negative = t.front() == '-';
      const std::size_t e = t.find_first_of("eE");
      const bool tiny =
          (e != std::string_view::npos && e + 1 < t.size() && t[e + 1] == '-') ||
          t[negative ? 1 : 0] == '0';
      const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
      v.number = negative ? -magnitude : magnitude;
    } else if (ec != std::errc() || end != text_.data() + p) {
      return fail("invalid number");
    }
    pos_ = p;
    return true;
  }

  static bool hex_value(char c, uint32_t& out) {
    if (c >= '0' && c <= '9')
      out = out * 16 + static_cast<uint32_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
      out = out * 16 + static_cast<uint32_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      out = out * 16 + static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;
    return true;
  }

  bool read_hex4(uint32_t& code) {
    if (text_.size() - pos_ < 4) return fail("truncated \\u escape");
    code = 0;
    for (int i = 0; i < 4; ++i) {
      if (!hex_value(text_[pos_++], code)) return fail("invalid \\u escape");
    }
    return true;
  }

  static void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool parse_string(std::string& out) {
    ++pos_;  // opening quote
    while (true) {
      if (pos_ >= text_.size()) return fail("unterminated string");
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return fail("control byte in string");
      if (c != '\\') {
        // Copy the run of plain bytes at once.
        const std::size_t stop = text_.find_first_of("\"\\", pos_);
        const std::size_t end = stop == std::string_view::npos ? text_.size() : stop;
        std::size_t i = pos_;
        while (i < end && static_cast<unsigned char>(text_[i]) >= 0x20) ++i;
        out.append(text_.substr(pos_, i - pos_));
        pos_ = i;
        continue;
      }
      if (!parse_escape(out)) return false;
    }
  }

  // The escape after a backslash (pos_ is on the backslash).
  bool parse_escape(std::string& out) {
    if (++pos_ >= text_.size()) return fail("unterminated string");
    const char e = text_[pos_++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt";
    static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
    if (const std::size_t k = kFrom.find(e); k != std::string_view::npos) {
      out += kTo[k];
      return true;
    }
    if (e != 'u') return fail("invalid escape");
    uint32_t code = 0;
    if (!read_hex4(code)) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      uint32_t low = 0;
      if (text_.substr(pos_, 2) != "\\u") return fail("unpaired surrogate");
      pos_ += 2;
      if (!read_hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail("unpaired surrogate");
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return fail("unpaired surrogate");
    }
    append_utf8(out, code);
    return true;
  }

  bool parse_array(JsonValue& v, std::size_t depth) {
    v.kind = JsonValue::Kind::kArray;
    ++pos_;
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      return true;
    }
    while (true) {
      skip_blanks();
      JsonValue& item = v.items.emplace_back();
      if (!parse_value(item, depth + 1)) return false;
      skip_blanks();
      if (pos_ >= text_.size()) return fail("unterminated array");
      if (text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (text_[pos_] == ']') {
        ++pos_;
        return true;
      }
      return fail("expected ',' or ']'");
    }
  }

  bool parse_object(JsonValue& v, std::size_t depth) {
    v.kind = JsonValue::Kind::kObject;
    ++pos_;
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      return true;
    }
    while (true) {
      skip_blanks();
      if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected a key");
      JsonMember& m = v.members.emplace_back();
      if (!parse_string(m.key)) return false;
      skip_blanks();
      if (pos_ >= text_.size() || text_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      skip_blanks();
      if (!parse_value(m.value, depth + 1)) return false;
      skip_blanks();
      if (pos_ >= text_.size()) return fail("unterminated object");
      if (text_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (text_[pos_] == '}') {
        ++pos_;
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::find(std::string_view key) const {
  if (kind != Kind::kObject) return nullptr;
  for (const JsonMember& m : members) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

std::optional<double> JsonValue::number_at(std::string_view key) const {
  const JsonValue* v = find(key);
  if (v == nullptr || v->kind != Kind::kNumber) return std::nullopt;
  return v->number;
}

std::optional<bool> JsonValue::bool_at(std::string_view key) const {
  const JsonValue* v = find(key);
  if (v == nullptr || v->kind != Kind::kBool) return std::nullopt;
  return v->boolean;
}

std::optional<std::string> JsonValue::text_at(std::string_view key) const {
  const JsonValue* v = find(key);
  if (v == nullptr || v->kind != Kind::kString) return std::nullopt;
  return v->text;
}

std::vector<double> JsonValue::numbers_at(std::string_view key) const {
  std::vector<double> out;
  const JsonValue* v = find(key);
  if (v == nullptr || v->kind != Kind::kArray) return out;
  out.reserve(v->items.size());
  for (const JsonValue& item : v->items) {
    if (item.kind == Kind::kNumber) out.push_back(item.number);
  }
  return out;
}

JsonParse parse_json(std::string_view text) { return Parser(text).run(); }

}  // namespace vx::host::base
