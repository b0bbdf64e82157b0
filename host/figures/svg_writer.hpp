// Layer host/figures (vx_host_figures): SVG drawing, the trace and calibration
// figures. May use: chain, quant, tables, plugin, base.
//
// Small pieces for x/y figures written as plain SVG 1.1 text: a plot area
// with its two linear scales, axes with grid and round ticks, a polyline,
// circle markers, a one-row legend and caption lines wrapped to a width.
// Nothing here knows what is plotted; svg_plot.cpp (trace and fit) is one
// user. Text is XML-escaped (invalid UTF-8 becomes '?'), coordinates are
// rounded to 0.01 and written locale-free, non-finite data points are left
// out. Element ids (the clip path) are the caller's: figures placed inline in
// one HTML page need different ones.
#pragma once

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <initializer_list>
#include <utility>
#include <vector>

namespace vx::host::figures {

// A data range on one axis; empty until a finite value is added.
struct AxisRange {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();

  void add(double v);
  [[nodiscard]] bool empty() const { return lo > hi; }
  // Pads both ends by pad_fraction of the width; a degenerate range gets a
  // width first and an empty one becomes [0, 1], so a scale never divides
  // by zero.
  void widen(double pad_fraction);
};

// The data rectangle in picture units and the ranges it shows (y grows up).
struct PlotArea {
  double left = 0, top = 0, width = 0, height = 0;
  AxisRange x, y;

  [[nodiscard]] double px(double x_value) const;
  [[nodiscard]] double py(double y_value) const;
  [[nodiscard]] double right() const { return left + width; }
  [[nodiscard]] double bottom() const { return top + height; }
  // Finite and within the x range (points outside it are not drawn).
  [[nodiscard]] bool shows(double x_value, double y_value) const;
};

// Round tick positions covering [lo, hi], about `count` of them.
std::vector<double> nice_ticks(double lo, double hi, int count);

// Width of a text in picture units, from the advance widths of DejaVu Sans,
// the first font the figures ask for (the fallbacks are narrower).
double text_width(std::string_view utf8, double font_size);
// Splits a text into lines no wider than max_width, preferably where the
// separator stands (a broken line keeps the separator's mark, " · " -> "·");
// a part too wide for a line is broken at blanks, a word too wide between
// characters. An empty text gives one empty line.
std::vector<std::string> wrap_text(std::string_view text, double max_width,
                                   double font_size, std::string_view separator = " ");

struct LegendEntry {
  enum class Sample { kMarker, kLine };
  Sample sample = Sample::kLine;
  std::string_view style;  // attributes of the sample: fill, or stroke and dashes
  std::string_view label;
  double width = 0;  // room the entry takes in the row; 0: from the label's width
};

class SvgWriter {
 public:
  // Opens the document: prolog, <svg> of this size, white background.
  SvgWriter(double width, double height, double font_size = 12);

  void open_group(std::string_view attributes);
  void close_group();

  // style: further attributes written after the coordinates; css_class,
  // when given, before them.
  void text(double x, double y, std::string_view content, std::string_view style = {});
  // Text turned to run upwards, centred on (x, y).
  void vertical_text(double x, double y, std::string_view content,
                     std::string_view style = {});
  void line(double x1, double y1, double x2, double y2, std::string_view style = {},
            std::string_view css_class = {});
  void rect(double x, double y, double w, double h, std::string_view style = {});
  void circle(double cx, double cy, double r, std::string_view style = {});

  // Grid lines, tick labels under and left of the area and the two axis
  // labels; about 6 ticks on x and 5 on y.
  void axes(const PlotArea& area, std::string_view x_label, std::string_view y_label);
  // Starts a group whose content is clipped to the area; end it with close_group.
  void begin_clipped(const PlotArea& area, std::string_view clip_id);
  // The points the area shows, joined by a line (nothing when none).
  void polyline(const PlotArea& area, std::span<const double> xs,
                std::span<const double> ys, std::string_view style);
  // A group of circles of radius r at the points the area shows.
  void markers(const PlotArea& area, std::span<const double> xs,
               std::span<const double> ys, double r, std::string_view group_attributes);
  void frame(const PlotArea& area);
  // One row of entries starting at (x, baseline y).
  void legend(double x, double y, std::span<const LegendEntry> entries,
              double font_size = 11);
  // One text element per line, line_height apart, in a group.
  void text_lines(double x, double y, double line_height,
                  std::span<const std::string> lines, std::string_view group_attributes);

  // Closes the document and hands it over; the writer is empty afterwards.
  std::string finish();

 private:
  void coord(double v);
  void attr(std::string_view name, double v);
  // An empty element with coordinate attributes, then the style text.
  using Coordinate = std::pair<std::string_view, double>;
  void element(std::string_view tag, std::initializer_list<Coordinate> coords,
               std::string_view style, std::string_view css_class);
  void escaped(std::string_view s);

  std::string out_;
};

}  // namespace vx::host::figures
