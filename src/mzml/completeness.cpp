// Completeness of a read document. The root element is found past the
// prolog, and its end tag is looked for at the very end of the text, behind
// trailing white space, comments and processing instructions, which XML
// allows there. The index of an indexedmzML file sits between </mzML> and
// the end, so it is found by searching backwards from the end: its size
// grows with the spectra count, never with the data.
#include "mzml/completeness.hpp"

#include <algorithm>
#include <charconv>
#include <optional>

#include "mzml/xml_scan.hpp"

namespace vx::mzml {
namespace {

constexpr std::size_t kNpos = std::string_view::npos;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::size_t skip_blanks(std::string_view doc, std::size_t pos) {
  while (pos < doc.size() && is_blank(doc[pos])) ++pos;
  return pos;
}

std::string_view trim_blanks_right(std::string_view text) {
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

// The document element as found after the prolog.
struct Root {
  enum class Kind {
    kNotXml,       // the bytes do not start like XML: no structure to check
    kNoRoot,       // the text ends inside the prolog
    kOpenStart,    // the text ends inside the root's start tag
    kSelfClosing,  // <root .../>: nothing can follow it
    kFound,
  };
  Kind kind = Kind::kNotXml;
  std::string_view name;  // qualified name, prefix included
};

Root find_root(std::string_view doc) {
  Root root;
  std::size_t pos = doc.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  pos = skip_blanks(doc, pos);
  if (pos >= doc.size() || doc[pos] != '<') return root;
  // Declaration, processing instructions, comments and the document type.
  for (;;) {
    const std::string_view rest = doc.substr(pos);
    std::size_t close = 0;
    if (rest.starts_with("<?")) {
      close = doc.find("?>", pos + 2);
      if (close != kNpos) close += 2;
    } else if (rest.starts_with("<!--")) {
      close = doc.find("-->", pos + 4);
      if (close != kNpos) close += 3;
    } else if (rest.starts_with("<!")) {
      close = doc.find('>', pos + 2);
      if (close != kNpos) close += 1;
    } else if (rest.starts_with("<") || rest.empty()) {
      break;
    } else {
      return root;  // text before the root: not a document read as mzML
    }
    if (close == kNpos) {
      root.kind = Root::Kind::kNoRoot;
      return root;
    }
    pos = skip_blanks(doc, close);
  }
  if (pos >= doc.size()) {
    root.kind = Root::Kind::kNoRoot;
    return root;
  }
  std::size_t name_end = pos + 1;
  while (name_end < doc.size() &&
         !is_tag_delimiter(static_cast<unsigned char>(doc[name_end]))) {
    ++name_end;
  }
  root.name = doc.substr(pos + 1, name_end - pos - 1);
  const std::size_t gt = doc.find('>', name_end);
  if (gt == kNpos) {
    root.kind = Root::Kind::kOpenStart;
  } else if (root.name.empty()) {
    root.kind = Root::Kind::kNotXml;  // "< x" or UTF-16: not markup read here
  } else {
    root.kind = doc[gt - 1] == '/' ? Root::Kind::kSelfClosing : Root::Kind::kFound;
  }
  return root;
}

// The text without what XML allows after the root element: white space,
// comments and processing instructions.
std::string_view strip_trailing_misc(std::string_view doc) {
  for (;;) {
    doc = trim_blanks_right(doc);
    std::size_t open = kNpos;
    if (doc.ends_with("-->")) {
      open = doc.rfind("<!--");
    } else if (doc.ends_with("?>")) {
      open = doc.rfind("<?");
    }
    if (open == kNpos) return doc;
    doc = doc.substr(0, open);
  }
}

// True when text ends with the end tag of name ("</name>", white space
// allowed before the '>').
bool ends_with_end_tag(std::string_view text, std::string_view name) {
  if (!text.ends_with('>')) return false;
  text = trim_blanks_right(text.substr(0, text.size() - 1));
  if (!text.ends_with(name)) return false;
  text.remove_suffix(name.size());
  return text.ends_with("</");
}

// The unsigned decimal at the start of text, blanks around it allowed.
std::optional<uint64_t> leading_count(std::string_view text) {
  const std::size_t from = skip_blanks(text, 0);
  uint64_t v = 0;
  const auto [end, ec] =
      std::from_chars(text.data() + from, text.data() + text.size(), v);
  if (ec != std::errc() || end == text.data() + from) return std::nullopt;
  return v;
}

// The largest offset the index of an indexedmzML file names: each <offset>
// element and <indexListOffset>, found in the tail after the inner </mzML>.
std::optional<uint64_t> largest_index_offset(std::string_view tail) {
  std::optional<uint64_t> largest;
  for (const std::string_view tag :
       {std::string_view("offset"), std::string_view("indexListOffset")}) {
    std::size_t pos = 0;
    for (;;) {
      const std::size_t open = find_start_tag(tail, tag, pos);
      if (open == kNpos) break;
      const std::size_t gt = tail.find('>', open);
      if (gt == kNpos) break;
      pos = gt + 1;
      if (tail[gt - 1] == '/') continue;
      if (const auto v = leading_count(tail.substr(gt + 1));
          v && (!largest || *v > *largest))
        largest = v;
    }
  }
  return largest;
}

// The count declared by the spectrumList start tag before the first
// spectrum, when there is one.
std::optional<uint64_t> declared_spectra(std::string_view doc, const SpectraSeen& seen) {
  const std::size_t from = seen.run == kNpos ? 0 : seen.run;
  const std::string_view head =
      doc.substr(0, seen.first_spectrum == kNpos ? doc.size() : seen.first_spectrum);
  const std::size_t open =
      find_start_tag(head, "spectrumList", std::min(from, head.size()));
  if (open == kNpos) return std::nullopt;
  const std::size_t gt = doc.find('>', open);
  const std::string_view tag = doc.substr(open, gt == kNpos ? kNpos : gt - open);
  const std::string_view count = attribute_value(tag, "count");
  if (count.empty()) return std::nullopt;
  return leading_count(count);
}

void add_part(std::string& out, std::string_view part) {
  if (!out.empty()) out += "; ";
  out += part;
}

std::string end_tag(std::string_view name) {
  std::string s = "</";
  s += name;
  s += '>';
  return s;
}

}  // namespace

std::string missing_parts(std::string_view doc, const SpectraSeen& seen) {
  std::string out;
  if (const auto declared = declared_spectra(doc, seen);
      declared && *declared > seen.count) {
    add_part(out, std::to_string(seen.count) + " of " + std::to_string(*declared) +
                      " spectra");
  }

  const Root root = find_root(doc);
  switch (root.kind) {
    case Root::Kind::kNotXml:
    case Root::Kind::kSelfClosing:
      return out;
    case Root::Kind::kNoRoot:
      add_part(out, "the document ends before its root element");
      return out;
    case Root::Kind::kOpenStart:
      add_part(out, "the document ends inside the start tag of its root element");
      return out;
    case Root::Kind::kFound:
      break;
  }

  // An indexedmzML root wraps the mzML element (with the same prefix, if any)
  // and the index after it.
  const std::size_t colon = root.name.rfind(':');
  const std::string_view prefix =
      colon == kNpos ? std::string_view() : root.name.substr(0, colon + 1);
  const bool indexed = root.name.substr(prefix.size()) == "indexedmzML";
  const std::string inner = indexed ? std::string(prefix) + "mzML" : std::string();

  const std::string_view body = strip_trailing_misc(doc);
  if (!ends_with_end_tag(body, root.name)) {
    // The copy stopped early: say where, naming the first end tag missing.
    if (find_start_tag(doc, "spectrum", seen.resume) != kNpos) {
      add_part(out, "spectrum " + std::to_string(seen.count + 1) + " is cut off");
    }
    const bool inner_closed = indexed && doc.rfind(end_tag(inner)) != kNpos;
    add_part(out,
             "the document ends before " +
                 end_tag(indexed && !inner_closed ? std::string_view(inner) : root.name));
    return out;
  }

  if (indexed) {
    const std::size_t inner_close = body.rfind(end_tag(inner));
    if (inner_close == kNpos) {
      add_part(out, "the document has no " + end_tag(inner));
    } else if (const auto largest = largest_index_offset(body.substr(inner_close));
               largest && *largest >= doc.size()) {
      add_part(out, "the index points past the end of the file (offset " +
                        std::to_string(*largest) + ", file " +
                        std::to_string(doc.size()) + " bytes)");
    }
  }
  return out;
}

}  // namespace vx::mzml
