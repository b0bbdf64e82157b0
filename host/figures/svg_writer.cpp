// Each element is appended straight into one string; coordinates go through
// a stack buffer, so drawing a few thousand points allocates only as the
// document grows.
#include "svg_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "number_text.hpp"
#include "utf8.hpp"

namespace vx::host::figures {

using base::format_general;
using base::general_text;
using base::kNumberTextSize;
using base::utf8_length;


namespace {

// Bytes of the character at s[i]: a whole UTF-8 sequence, else one byte.
std::size_t char_length(std::string_view s, std::size_t i) {
  return std::max<std::size_t>(utf8_length(s, i), 1);
}

// Advance widths of DejaVu Sans for ' ' to '~', in thousandths of an em.
constexpr std::array<unsigned short, 95> kAsciiWidths{
    318,  401, 460, 838, 636, 950, 780, 275, 390, 390, 500, 838, 318, 361, 318, 337,
    636,  636, 636, 636, 636, 636, 636, 636, 636, 636, 337, 337, 838, 838, 838, 531,
    1000, 684, 686, 698, 770, 632, 575, 775, 752, 295, 295, 656, 557, 863, 748, 787,
    603,  787, 695, 635, 611, 732, 684, 989, 685, 611, 685, 390, 337, 390, 838, 500,
    500,  613, 635, 550, 635, 615, 352, 635, 634, 278, 278, 579, 278, 974, 634, 612,
    635,  635, 411, 521, 392, 634, 592, 818, 592, 592, 525, 636, 337, 636, 838};

// The characters the captions use beyond ASCII; any other counts as a full
// em, which errs on the wide side.
double char_em(std::string_view ch) {
  if (ch.size() == 1) {
    const auto c = static_cast<unsigned char>(ch[0]);
    return c >= 32 && c < 127 ? kAsciiWidths[c - 32] / 1000.0 : 1.0;
  }
  if (ch == "\xC2\xB7") return 0.318;      // middle dot
  if (ch == "\xC2\xB2") return 0.401;      // superscript two
  if (ch == "\xC2\xB1") return 0.838;      // plus-minus
  if (ch == "\xCF\x83") return 0.634;      // sigma
  if (ch == "\xE2\x80\x93") return 0.500;  // en dash
  return 1.0;
}

// Plain decimals with as many places as the tick step needs ("30000",
// "1.05"); exponent notation only for very large or very small values.
std::string tick_label(double v, double step) {
  step = std::abs(step);
  if (std::abs(v) < step * 1e-9) v = 0.0;
  if (std::abs(v) >= 1e7 || !(step >= 1e-6)) return general_text(v, 6);
  const int places =
      std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 8);
  char buf[kNumberTextSize];
  const auto [end, ec] =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, places);
  return ec == std::errc() ? std::string(buf, end) : general_text(v, 6);
}

}  // namespace

void AxisRange::add(double v) {
  if (!std::isfinite(v)) return;
  lo = std::min(lo, v);
  hi = std::max(hi, v);
}

void AxisRange::widen(double pad_fraction) {
  if (empty()) {
    lo = 0.0;
    hi = 1.0;
    return;
  }
  double span = hi - lo;
  if (!(span > 0.0)) span = std::max(std::abs(hi) * 0.1, 1.0);
  lo -= span * pad_fraction;
  hi += span * pad_fraction;
  if (lo == hi) hi = lo + 1.0;
}

double PlotArea::px(double x_value) const {
  return left + (x_value - x.lo) / (x.hi - x.lo) * width;
}

double PlotArea::py(double y_value) const {
  return bottom() - (y_value - y.lo) / (y.hi - y.lo) * height;
}

bool PlotArea::shows(double x_value, double y_value) const {
  return std::isfinite(x_value) && std::isfinite(y_value) && x_value >= x.lo &&
         x_value <= x.hi;
}

std::vector<double> nice_ticks(double lo, double hi, int count) {
  std::vector<double> ticks;
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo) || count < 1) return ticks;
  const double raw = (hi - lo) / count;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  const double norm = raw / mag;
  const double step = (norm < 1.5   ? 1.0
                       : norm < 3.0 ? 2.0
                       : norm < 7.0 ? 5.0
                                    : 10.0) *
                      mag;
  const double first = std::ceil(lo / step - 1e-9);
  for (double k = first;; k += 1.0) {
    const double v = k * step;
    if (v > hi + step * 1e-9 || ticks.size() > 100) break;
    ticks.push_back(v);
  }
  return ticks;
}

double text_width(std::string_view utf8, double font_size) {
  double em = 0.0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = char_length(utf8, i);
    em += char_em(utf8.substr(i, n));
    i += n;
  }
  return em * font_size;
}

namespace {

// Pieces of a word that is wider than a whole line, cut between characters.
std::vector<std::string> cut_word(std::string_view word, double max_width,
                                  double font_size) {
  std::vector<std::string> out(1);
  double used = 0.0;
  for (std::size_t k = 0; k < word.size();) {
    const std::size_t n = char_length(word, k);
    const double w = text_width(word.substr(k, n), font_size);
    if (used > 0.0 && used + w > max_width) {
      out.emplace_back();
      used = 0.0;
    }
    out.back().append(word.substr(k, n));
    used += w;
    k += n;
  }
  return out;
}

}  // namespace

std::vector<std::string> wrap_text(std::string_view text, double max_width,
                                   double font_size, std::string_view separator) {
  if (separator.empty()) separator = " ";
  std::string_view mark = separator;  // what a broken line ends with: "·", ","
  while (!mark.empty() && mark.back() == ' ') mark.remove_suffix(1);
  std::vector<std::string> out;
  std::string current;
  for (std::size_t i = 0; i <= text.size();) {
    const std::size_t end = std::min(text.find(separator, i), text.size());
    const std::string_view part = text.substr(i, end - i);
    i = end + separator.size();
    if (!current.empty()) {
      std::string joined = current + std::string(separator) + std::string(part);
      if (text_width(joined, font_size) <= max_width) {
        current = std::move(joined);
        continue;
      }
      out.push_back(current + std::string(mark));
      current.clear();
    }
    if (text_width(part, font_size) <= max_width) {
      current = part;
      continue;
    }
    std::vector<std::string> pieces = separator == " "
                                          ? cut_word(part, max_width, font_size)
                                          : wrap_text(part, max_width, font_size, " ");
    current = std::move(pieces.back());
    pieces.pop_back();
    for (std::string& p : pieces) out.push_back(std::move(p));
  }
  out.push_back(std::move(current));
  return out;
}

SvgWriter::SvgWriter(double width, double height, double font_size) {
  out_.reserve(8192);
  out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out_ += R"(<svg xmlns="http://www.w3.org/2000/svg" version="1.1")";
  attr("width", width);
  attr("height", height);
  out_ += R"( viewBox="0 0 )";
  coord(width);
  out_ += ' ';
  coord(height);
  out_ += R"(" font-family="DejaVu Sans, Arial, Helvetica, sans-serif")";
  attr("font-size", font_size);
  out_ += ">\n<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
}

void SvgWriter::coord(double v) {
  char buf[kNumberTextSize];
  out_.append(buf, format_general(std::round(v * 100.0) / 100.0, 8, buf));
}

void SvgWriter::attr(std::string_view name, double v) {
  out_ += ' ';
  out_ += name;
  out_ += "=\"";
  coord(v);
  out_ += '"';
}

void SvgWriter::escaped(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      const std::size_t n = utf8_length(s, i);
      if (n == 0) {
        out_ += '?';
        ++i;
      } else {
        out_.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '&':
        out_ += "&amp;";
        break;
      case '<':
        out_ += "&lt;";
        break;
      case '>':
        out_ += "&gt;";
        break;
      case '"':
        out_ += "&quot;";
        break;
      default:
        // Control bytes are not allowed in XML 1.0 text.
        out_ += (u >= 0x20 || c == '\t') ? c : ' ';
    }
    ++i;
  }
}

void SvgWriter::open_group(std::string_view attributes) {
  out_ += "<g ";
  out_ += attributes;
  out_ += ">\n";
}

void SvgWriter::close_group() { out_ += "</g>\n"; }

void SvgWriter::text(double x, double y, std::string_view content,
                     std::string_view style) {
  out_ += "<text";
  attr("x", x);
  attr("y", y);
  if (!style.empty()) (out_ += ' ') += style;
  out_ += '>';
  escaped(content);
  out_ += "</text>\n";
}

void SvgWriter::vertical_text(double x, double y, std::string_view content,
                              std::string_view style) {
  out_ += "<text transform=\"translate(";
  coord(x);
  out_ += ' ';
  coord(y);
  out_ += ") rotate(-90)\"";
  if (!style.empty()) (out_ += ' ') += style;
  out_ += '>';
  escaped(content);
  out_ += "</text>\n";
}

void SvgWriter::line(double x1, double y1, double x2, double y2, std::string_view style,
                     std::string_view css_class) {
  element("line", {{"x1", x1}, {"y1", y1}, {"x2", x2}, {"y2", y2}}, style, css_class);
}

void SvgWriter::rect(double x, double y, double w, double h, std::string_view style) {
  element("rect", {{"x", x}, {"y", y}, {"width", w}, {"height", h}}, style, {});
}

void SvgWriter::element(std::string_view tag, std::initializer_list<Coordinate> coords,
                        std::string_view style, std::string_view css_class) {
  (out_ += '<') += tag;
  if (!css_class.empty()) ((out_ += " class=\"") += css_class) += '"';
  for (const auto& [name, v] : coords) attr(name, v);
  if (!style.empty()) (out_ += ' ') += style;
  out_ += "/>\n";
}

void SvgWriter::circle(double cx, double cy, double r, std::string_view style) {
  element("circle", {{"cx", cx}, {"cy", cy}, {"r", r}}, style, {});
}

void SvgWriter::axes(const PlotArea& area, std::string_view x_label,
                     std::string_view y_label) {
  const std::vector<double> xt = nice_ticks(area.x.lo, area.x.hi, 6);
  const std::vector<double> yt = nice_ticks(area.y.lo, area.y.hi, 5);
  open_group(R"(stroke="#e3e3e3" stroke-width="1")");
  for (const double x : xt) line(area.px(x), area.top, area.px(x), area.bottom());
  for (const double y : yt) line(area.left, area.py(y), area.right(), area.py(y));
  close_group();
  open_group(R"(fill="#333333")");
  const double x_step = xt.size() > 1 ? xt[1] - xt[0] : area.x.hi - area.x.lo;
  const double y_step = yt.size() > 1 ? yt[1] - yt[0] : area.y.hi - area.y.lo;
  for (const double x : xt) {
    text(area.px(x), area.bottom() + 18, tick_label(x, x_step),
         R"(text-anchor="middle")");
  }
  for (const double y : yt) {
    text(area.left - 6, area.py(y) + 4, tick_label(y, y_step), R"(text-anchor="end")");
  }
  text(area.left + area.width / 2, area.bottom() + 38, x_label,
       R"(text-anchor="middle")");
  vertical_text(area.left - 70, area.top + area.height / 2, y_label,
                R"(text-anchor="middle")");
  close_group();
}

void SvgWriter::begin_clipped(const PlotArea& area, std::string_view clip_id) {
  out_ += "<clipPath id=\"";
  escaped(clip_id);
  out_ += "\"><rect";
  attr("x", area.left);
  attr("y", area.top);
  attr("width", area.width);
  attr("height", area.height);
  out_ += "/></clipPath>\n<g clip-path=\"url(#";
  escaped(clip_id);
  out_ += ")\">\n";
}

void SvgWriter::polyline(const PlotArea& area, std::span<const double> xs,
                         std::span<const double> ys, std::string_view style) {
  const std::size_t mark = out_.size();
  out_ += "<polyline ";
  out_ += style;
  out_ += " points=\"";
  const std::size_t first = out_.size();
  for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
    if (!area.shows(xs[i], ys[i])) continue;
    if (out_.size() > first) out_ += ' ';
    coord(area.px(xs[i]));
    out_ += ',';
    coord(area.py(ys[i]));
  }
  if (out_.size() == first) {
    out_.resize(mark);
    return;
  }
  out_ += "\"/>\n";
}

void SvgWriter::markers(const PlotArea& area, std::span<const double> xs,
                        std::span<const double> ys, double r,
                        std::string_view group_attributes) {
  open_group(group_attributes);
  for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
    if (area.shows(xs[i], ys[i])) circle(area.px(xs[i]), area.py(ys[i]), r);
  }
  close_group();
}

void SvgWriter::frame(const PlotArea& area) {
  rect(area.left, area.top, area.width, area.height,
       R"(fill="none" stroke="#333333" stroke-width="1")");
}

void SvgWriter::legend(double x, double y, std::span<const LegendEntry> entries,
                       double font_size) {
  out_ += "<g class=\"legend\" font-size=\"";
  coord(font_size);
  out_ += "\">\n";
  for (const LegendEntry& e : entries) {
    const bool marker = e.sample == LegendEntry::Sample::kMarker;
    const double label_x = x + (marker ? 18 : 26);
    if (marker) {
      circle(x + 8, y - 4, 3, e.style);
    } else {
      line(x, y - 4, x + 20, y - 4, e.style);
    }
    out_.pop_back();  // sample and label share a line
    text(label_x, y, e.label);
    x = e.width > 0 ? x + e.width : label_x + text_width(e.label, font_size) + 16;
  }
  close_group();
}

void SvgWriter::text_lines(double x, double y, double line_height,
                           std::span<const std::string> lines,
                           std::string_view group_attributes) {
  open_group(group_attributes);
  for (const std::string& l : lines) {
    text(x, y, l);
    y += line_height;
  }
  close_group();
}

std::string SvgWriter::finish() {
  out_ += "</svg>\n";
  return std::move(out_);
}

}  // namespace vx::host::figures
