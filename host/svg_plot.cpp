// Layout: a fixed 760 x 520 canvas; the data rectangle leaves room for the
// axis labels on the left and below and for the caption lines at the bottom.
#include "svg_plot.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

#include "number_text.hpp"

namespace vx::host {

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there are
// not one (file names need not be UTF-8, an SVG must be).
std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  std::size_t n = 0;
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    n = 3;
  else if (c >= 0xF0 && c <= 0xF4)
    n = 4;
  else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  }
  if (c == 0xE0 && b(i + 1) < 0xA0) return 0;   // overlong
  if (c == 0xED && b(i + 1) >= 0xA0) return 0;  // surrogate
  if (c == 0xF0 && b(i + 1) < 0x90) return 0;   // overlong
  if (c == 0xF4 && b(i + 1) >= 0x90) return 0;  // beyond U+10FFFF
  return n;
}

namespace {

constexpr double kWidth = 760;
constexpr double kLeft = 88;
constexpr double kRight = 24;
constexpr double kTop = 44;
constexpr double kPlotHeight = 340;
constexpr double kCaptionLine = 18;


void append_escaped(std::string& out, std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
      const std::size_t n = utf8_length(s, i);
      if (n == 0) {
        out += '?';
        ++i;
      } else {
        out.append(s.substr(i, n));
        i += n;
      }
      continue;
    }
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // Control bytes are not allowed in XML 1.0 text.
        out += (u >= 0x20 || c == '\t') ? c : ' ';
    }
    ++i;
  }
}

void append_coord(std::string& out, double v) {
  char buf[kNumberTextSize];
  out.append(buf, format_general(std::round(v * 100.0) / 100.0, 8, buf));
}

struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  [[nodiscard]] bool empty() const { return lo > hi; }
  // A degenerate range gets a width so that the scale never divides by 0.
  void widen(double pad_fraction) {
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
};

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

namespace {

// One legend entry: a 20-unit sample of a line drawn with style, and its label.
void append_legend_line(std::string& out, double x, double y, std::string_view style,
                        std::string_view label) {
  out += R"(<line x1=")";
  append_coord(out, x);
  out += R"(" y1=")";
  append_coord(out, y - 4);
  out += R"(" x2=")";
  append_coord(out, x + 20);
  out += R"(" y2=")";
  append_coord(out, y - 4);
  out += "\" ";
  out += style;
  out += R"(/><text x=")";
  append_coord(out, x + 26);
  out += R"(" y=")";
  append_coord(out, y);
  out += "\">";
  out += label;
  out += "</text>\n";
}

}  // namespace

std::string render_plot_svg(const PlotInput& in) {
  Range xr;
  xr.add(in.x_min);
  xr.add(in.x_max);
  if (xr.empty() || xr.lo == xr.hi) {
    for (double x : in.point_x) xr.add(x);
    for (double x : in.curve_x) xr.add(x);
    xr.widen(0.05);
  }
  Range yr;
  for (std::size_t i = 0; i < in.point_x.size() && i < in.point_y.size(); ++i) {
    if (std::isfinite(in.point_x[i])) yr.add(in.point_y[i]);
  }
  for (std::size_t i = 0; i < in.curve_x.size() && i < in.curve_y.size(); ++i) {
    if (std::isfinite(in.curve_x[i])) yr.add(in.curve_y[i]);
  }
  if (in.baseline) yr.add(*in.baseline);
  const bool no_data = yr.empty();
  yr.widen(0.06);

  const double plot_w = kWidth - kLeft - kRight;
  const double bottom = kTop + kPlotHeight;
  const double height =
      bottom + 64 + kCaptionLine * static_cast<double>(in.caption.size()) + 10;
  const auto sx = [&](double x) {
    return kLeft + (x - xr.lo) / (xr.hi - xr.lo) * plot_w;
  };
  const auto sy = [&](double y) {
    return bottom - (y - yr.lo) / (yr.hi - yr.lo) * kPlotHeight;
  };
  const auto inside = [&](double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && x >= xr.lo && x <= xr.hi;
  };

  std::string out;
  out.reserve(8192 + 64 * (in.point_x.size() + in.curve_x.size()));
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += R"(<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width=")";
  append_coord(out, kWidth);
  out += R"(" height=")";
  append_coord(out, height);
  out += R"(" viewBox="0 0 )";
  append_coord(out, kWidth);
  out += ' ';
  append_coord(out, height);
  out +=
      "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"12\">\n";
  out += "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  out += R"(<text x=")";
  append_coord(out, kLeft);
  out += R"(" y="26" font-size="15" font-weight="bold">)";
  append_escaped(out, in.title);
  out += "</text>\n";

  // Grid, ticks and tick labels.
  out += "<g stroke=\"#e3e3e3\" stroke-width=\"1\">\n";
  const std::vector<double> xt = nice_ticks(xr.lo, xr.hi, 6);
  const std::vector<double> yt = nice_ticks(yr.lo, yr.hi, 5);
  for (double x : xt) {
    out += R"(<line x1=")";
    append_coord(out, sx(x));
    out += R"(" y1=")";
    append_coord(out, kTop);
    out += R"(" x2=")";
    append_coord(out, sx(x));
    out += R"(" y2=")";
    append_coord(out, bottom);
    out += "\"/>\n";
  }
  for (double y : yt) {
    out += R"(<line x1=")";
    append_coord(out, kLeft);
    out += R"(" y1=")";
    append_coord(out, sy(y));
    out += R"(" x2=")";
    append_coord(out, kLeft + plot_w);
    out += R"(" y2=")";
    append_coord(out, sy(y));
    out += "\"/>\n";
  }
  out += "</g>\n<g fill=\"#333333\">\n";
  const double x_step = xt.size() > 1 ? xt[1] - xt[0] : xr.hi - xr.lo;
  const double y_step = yt.size() > 1 ? yt[1] - yt[0] : yr.hi - yr.lo;
  for (double x : xt) {
    out += R"(<text x=")";
    append_coord(out, sx(x));
    out += R"(" y=")";
    append_coord(out, bottom + 18);
    out += R"(" text-anchor="middle">)";
    append_escaped(out, tick_label(x, x_step));
    out += "</text>\n";
  }
  for (double y : yt) {
    out += R"(<text x=")";
    append_coord(out, kLeft - 6);
    out += R"(" y=")";
    append_coord(out, sy(y) + 4);
    out += R"(" text-anchor="end">)";
    append_escaped(out, tick_label(y, y_step));
    out += "</text>\n";
  }
  out += R"(<text x=")";
  append_coord(out, kLeft + plot_w / 2);
  out += R"(" y=")";
  append_coord(out, bottom + 38);
  out += R"(" text-anchor="middle">)";
  append_escaped(out, in.x_label);
  out += "</text>\n<text transform=\"translate(18 ";
  append_coord(out, kTop + kPlotHeight / 2);
  out += R"svg() rotate(-90)" text-anchor="middle">)svg";
  append_escaped(out, in.y_label);
  out += "</text>\n</g>\n";

  // Data, clipped to the plot rectangle.
  out += R"(<clipPath id="plot-area"><rect x=")";
  append_coord(out, kLeft);
  out += R"(" y=")";
  append_coord(out, kTop);
  out += R"(" width=")";
  append_coord(out, plot_w);
  out += R"(" height=")";
  append_coord(out, kPlotHeight);
  out += "\"/></clipPath>\n<g clip-path=\"url(#plot-area)\">\n";
  if (in.baseline && std::isfinite(*in.baseline)) {
    out += R"(<line class="baseline" x1=")";
    append_coord(out, kLeft);
    out += R"(" y1=")";
    append_coord(out, sy(*in.baseline));
    out += R"(" x2=")";
    append_coord(out, kLeft + plot_w);
    out += R"(" y2=")";
    append_coord(out, sy(*in.baseline));
    out += "\" stroke=\"#2a9d3a\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n";
  }
  std::string points;
  for (std::size_t i = 0; i < in.curve_x.size() && i < in.curve_y.size(); ++i) {
    if (!inside(in.curve_x[i], in.curve_y[i])) continue;
    if (!points.empty()) points += ' ';
    append_coord(points, sx(in.curve_x[i]));
    points += ',';
    append_coord(points, sy(in.curve_y[i]));
  }
  if (!points.empty()) {
    out += R"(<polyline class="fit" fill="none" stroke="#d62728" stroke-width="2" )"
           R"(points=")";
    out += points;
    out += "\"/>\n";
  }
  out += "<g class=\"trace\" fill=\"#1f5fbf\">\n";
  for (std::size_t i = 0; i < in.point_x.size() && i < in.point_y.size(); ++i) {
    if (!inside(in.point_x[i], in.point_y[i])) continue;
    out += R"(<circle cx=")";
    append_coord(out, sx(in.point_x[i]));
    out += R"(" cy=")";
    append_coord(out, sy(in.point_y[i]));
    out += "\" r=\"3\"/>\n";
  }
  out += "</g>\n</g>\n";
  if (no_data) {
    out += R"(<text x=")";
    append_coord(out, kLeft + plot_w / 2);
    out += R"(" y=")";
    append_coord(out, kTop + kPlotHeight / 2);
    out += R"(" text-anchor="middle" font-size="14" fill="#777777">no trace points in )"
           "the fit window</text>\n";
  }
  out += R"(<rect x=")";
  append_coord(out, kLeft);
  out += R"(" y=")";
  append_coord(out, kTop);
  out += R"(" width=")";
  append_coord(out, plot_w);
  out += R"(" height=")";
  append_coord(out, kPlotHeight);
  out += "\" fill=\"none\" stroke=\"#333333\" stroke-width=\"1\"/>\n";

  // Legend in one row under the axis label, where it never hides data.
  const double lx = kLeft;
  const double ly = bottom + 58;
  out += "<g class=\"legend\" font-size=\"11\">\n<circle cx=\"";
  append_coord(out, lx + 8);
  out += R"(" cy=")";
  append_coord(out, ly - 4);
  out += R"(" r="3" fill="#1f5fbf"/><text x=")";
  append_coord(out, lx + 18);
  out += R"(" y=")";
  append_coord(out, ly);
  out += "\">trace points</text>\n";
  append_legend_line(out, lx + 110, ly, R"(stroke="#d62728" stroke-width="2")", "fitted curve");
  append_legend_line(out, lx + 226, ly,
                     R"(stroke="#2a9d3a" stroke-width="1.5" stroke-dasharray="6 4")",
                     "baseline");
  out += "</g>\n";

  out += "<g class=\"caption\" fill=\"#222222\">\n";
  double cy = bottom + 82;
  for (const std::string& line : in.caption) {
    out += R"(<text x=")";
    append_coord(out, kLeft);
    out += R"(" y=")";
    append_coord(out, cy);
    out += R"(">)";
    append_escaped(out, line);
    out += "</text>\n";
    cy += kCaptionLine;
  }
  out += "</g>\n</svg>\n";
  return out;
}

}  // namespace vx::host
