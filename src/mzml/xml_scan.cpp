// XML scanning over views. Start tags are found with memchr on '<' followed
// by a compare of the name, which skips long base64 runs (they hold no '<')
// at memory speed; nothing is copied.
#include "mzml/xml_scan.hpp"

#include <cstring>

namespace vx::mzml {
namespace {

constexpr std::size_t kNpos = std::string_view::npos;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// First '<' at or after from that is followed by body (the pattern "<" +
// body), with the whole pattern inside text.
std::size_t find_lt_pattern(std::string_view text, std::string_view body,
                            std::size_t from) {
  const std::size_t plen = body.size() + 1;
  if (plen > text.size()) return kNpos;
  const std::size_t last = text.size() - plen;  // last offset a match can start
  const char* const base = text.data();
  std::size_t pos = from;
  while (pos <= last) {
    const void* hit = std::memchr(base + pos, '<', last - pos + 1);
    if (hit == nullptr) return kNpos;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    // The first byte is compared inline: most '<' start another name.
    if (body.empty() ||
        (base[at + 1] == body[0] &&
         std::memcmp(base + at + 2, body.data() + 1, body.size() - 1) == 0)) {
      return at;
    }
    pos = at + 1;
  }
  return kNpos;
}

// Offset of the next start tag "<tag" followed by a delimiter (or by the end
// of the text) at or after start; a rejected candidate resumes the search
// just past its pattern, so "<scan" never matches "<scanList".
std::size_t locate_start_tag(std::string_view text, std::string_view tag,
                             std::size_t start) {
  const std::size_t plen = tag.size() + 1;
  if (plen > text.size() || start > text.size() - plen) return kNpos;
  std::size_t open = find_lt_pattern(text, tag, start);
  while (open != kNpos) {
    const std::size_t after = open + plen;
    if (after >= text.size() ||
        is_tag_delimiter(static_cast<unsigned char>(text[after]))) {
      return open;
    }
    open = find_lt_pattern(text, tag, after);
  }
  return kNpos;
}

// Offset of "</tag>" at or after from.
std::size_t find_end_tag(std::string_view text, std::string_view tag, std::size_t from) {
  const std::size_t plen = tag.size() + 3;
  if (from > text.size() || plen > text.size() - from) return kNpos;
  const std::size_t last = text.size() - plen;
  const char* const base = text.data();
  std::size_t pos = from;
  while (pos <= last) {
    const void* hit = std::memchr(base + pos, '<', last - pos + 1);
    if (hit == nullptr) return kNpos;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
    if (base[at + 1] == '/' && base[at + 2 + tag.size()] == '>' &&
        std::memcmp(base + at + 2, tag.data(), tag.size()) == 0) {
      return at;
    }
    pos = at + 1;
  }
  return kNpos;
}

// The located start tag of the next element named tag: its offset, the
// offset of the '>' that ends it, and whether it is self-closing.
struct StartTag {
  std::size_t open = kNpos;
  std::size_t gt = kNpos;
  bool self_closing = false;
};

StartTag start_tag(std::string_view text, std::string_view tag, std::size_t start) {
  StartTag s;
  const std::size_t open = locate_start_tag(text, tag, start);
  if (open == kNpos) return s;
  // The first '>' ends the start tag wherever it stands: quoting is ignored.
  const std::size_t gt = text.find('>', open);
  if (gt == kNpos) return s;
  s.open = open;
  s.gt = gt;
  s.self_closing = gt >= 1 && text[gt - 1] == '/';
  return s;
}

}  // namespace

std::size_t find_text(std::string_view text, std::string_view pattern, std::size_t from) {
  return text.find(pattern, from);
}

std::size_t find_start_tag(std::string_view text, std::string_view tag,
                           std::size_t start) {
  return locate_start_tag(text, tag, start);
}

std::string_view find_element(std::string_view text, std::string_view tag,
                              std::size_t start, std::size_t& end_out) {
  const StartTag s = start_tag(text, tag, start);
  if (s.open == kNpos) return {};
  std::size_t end = 0;
  if (s.self_closing) {
    end = s.gt + 1;
  } else {
    const std::size_t close = find_end_tag(text, tag, s.gt);
    if (close == kNpos) return {};
    end = close + tag.size() + 3;
  }
  end_out = end;
  return text.substr(s.open, end - s.open);
}

std::string_view element_content(std::string_view text, std::string_view tag,
                                 std::size_t start) {
  const StartTag s = start_tag(text, tag, start);
  if (s.open == kNpos || s.self_closing) return {};
  const std::size_t close = find_end_tag(text, tag, s.gt);
  if (close == kNpos) return {};
  return text.substr(s.gt + 1, close - s.gt - 1);
}

std::string_view attribute_value(std::string_view text, std::string_view name) {
  const std::size_t plen = name.size() + 2;
  if (text.size() < plen) return {};
  std::size_t at = text.find(name);
  while (at != kNpos) {
    const std::size_t value_start = at + plen;
    const bool pattern = value_start <= text.size() && text[at + name.size()] == '=' &&
                         text[at + name.size() + 1] == '"';
    // The name must start an attribute: at the start of the text or after a
    // blank, so "filename" never answers for "name".
    if (pattern && (at == 0 || is_blank(text[at - 1]))) {
      if (value_start >= text.size()) return {};
      const std::size_t quote = text.find('"', value_start);
      if (quote == kNpos) return {};
      return text.substr(value_start, quote - value_start);
    }
    at = text.find(name, at + 1);
  }
  return {};
}

}  // namespace vx::mzml
