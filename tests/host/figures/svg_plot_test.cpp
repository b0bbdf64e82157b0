#include "svg_plot.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace vx::host::figures {
namespace {

PlotInput gaussian_plot() {
  PlotInput p;
  p.title = "sim_basic.mzML \xC2\xB7 P01 (m/z 73, RT 1.178 min)";
  p.x_min = 1.05;
  p.x_max = 1.31;
  for (int i = 0; i <= 78; ++i) {
    const double t = 1.05 + i * (0.26 / 78);
    const double z = (t - 1.178) / 0.032;
    p.point_x.push_back(t);
    p.point_y.push_back(1366 + 28066 * std::exp(-0.5 * z * z) + 30 * std::sin(i * 1.7));
  }
  for (int i = 0; i <= 400; ++i) {
    const double t = 1.05 + i * (0.26 / 400);
    const double z = (t - 1.178) / 0.032;
    p.curve_x.push_back(t);
    p.curve_y.push_back(1366 + 28066 * std::exp(-0.5 * z * z));
  }
  p.baseline = 1366;
  p.caption = {"fit: success, 9 iterations   RT 1.17795 min",
               "baseline 1366.18   r\xC2\xB2 0.999", "flags: gcms.fit.solver_converged"};
  return p;
}

// Centres of the data points: circles of radius 3 that end their element
// (the legend's marker carries a fill and is left out).
std::vector<std::pair<double, double>> data_circles(const std::string& svg) {
  std::vector<std::pair<double, double>> out;
  const auto number_after = [&](std::size_t at, std::string_view key, double& v) {
    const std::size_t p = svg.find(key, at);
    if (p == std::string::npos) return std::string::npos;
    const char* begin = svg.data() + p + key.size();
    const auto [end, ec] = std::from_chars(begin, svg.data() + svg.size(), v);
    return ec == std::errc() ? static_cast<std::size_t>(end - svg.data())
                             : std::string::npos;
  };
  for (std::size_t p = svg.find("<circle "); p != std::string::npos;
       p = svg.find("<circle ", p + 1)) {
    double x = 0;
    double y = 0;
    const std::size_t after_x = number_after(p, "cx=\"", x);
    const std::size_t after_y =
        after_x == std::string::npos ? after_x : number_after(after_x, "cy=\"", y);
    constexpr std::string_view kEnd = R"(" r="3"/>)";
    if (after_y != std::string::npos && svg.compare(after_y, kEnd.size(), kEnd) == 0) {
      out.emplace_back(x, y);
    }
  }
  return out;
}

std::size_t count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
  return n;
}

// Every coordinate of a circle must fall inside the plot rectangle; a wrong
// scale or an inverted y axis shows up here.
TEST(SvgPlot, PointsAreScaledIntoThePlotArea) {
  const std::string svg = render_plot_svg(gaussian_plot());
  EXPECT_EQ(count(svg, "<circle cx="), 79u + 1u);  // the points and the legend's marker
  EXPECT_EQ(data_circles(svg).size(), 79u);
  double highest_y = 1e9;
  double x_of_highest = 0;
  for (const auto& [x, y] : data_circles(svg)) {
    EXPECT_GE(x, 88.0);
    EXPECT_LE(x, 760.0 - 24.0);
    EXPECT_GE(y, 44.0);
    EXPECT_LE(y, 44.0 + 340.0);
    if (y < highest_y) {
      highest_y = y;
      x_of_highest = x;
    }
  }
  // The apex (t = 1.178) lies about half-way across the window, near the top.
  EXPECT_NEAR(x_of_highest, 88 + (1.178 - 1.05) / 0.26 * 648, 10);
  EXPECT_LT(highest_y, 44 + 340 * 0.1);
  EXPECT_EQ(count(svg, "<polyline class=\"fit\""), 1u);
  EXPECT_EQ(count(svg, "class=\"baseline\""), 1u);
  EXPECT_NE(svg.find("flags: gcms.fit.solver_converged"), std::string::npos);
  // Tick labels in plain decimals with the places the step needs.
  EXPECT_EQ(svg.find("e+0"), std::string::npos);
  EXPECT_NE(svg.find(">25000</text>"), std::string::npos);
  EXPECT_NE(svg.find(">1.15</text>"), std::string::npos);
}

TEST(SvgPlot, TextIsEscapedAndInvalidUtf8Replaced) {
  PlotInput p = gaussian_plot();
  p.title = "a<b>&\"c\" \xFF\xC3\xA9 \x01";
  const std::string svg = render_plot_svg(p);
  EXPECT_NE(svg.find("a&lt;b&gt;&amp;&quot;c&quot; ?\xC3\xA9  </text>"),
            std::string::npos);
}

TEST(SvgPlot, EmptyAndNonFiniteDataStillGiveAFigure) {
  PlotInput empty;
  empty.title = "nothing";
  empty.x_min = 4.5;
  empty.x_max = 5.5;
  const std::string a = render_plot_svg(empty);
  EXPECT_NE(a.find("no trace points in the fit window"), std::string::npos);
  EXPECT_EQ(a.find("nan"), std::string::npos);
  EXPECT_EQ(a.find("inf"), std::string::npos);

  PlotInput odd = gaussian_plot();
  odd.point_y[3] = std::numeric_limits<double>::quiet_NaN();
  odd.point_x[4] = std::numeric_limits<double>::infinity();
  odd.baseline = std::numeric_limits<double>::quiet_NaN();
  odd.x_min = odd.x_max = 1.2;  // a zero-width window falls back to the data
  const std::string b = render_plot_svg(odd);
  EXPECT_EQ(b.find("nan"), std::string::npos);
  EXPECT_EQ(b.find("inf"), std::string::npos);
  EXPECT_EQ(count(b, "<circle cx="), 77u + 1u);
}

TEST(SvgPlot, TicksAreRoundAndCoverTheRange) {
  struct Case {
    double lo, hi;
    std::vector<double> want;
  };
  const Case cases[] = {
      {0, 10, {0, 2, 4, 6, 8, 10}},
      {1.05, 1.31, {1.05, 1.1, 1.15, 1.2, 1.25, 1.3}},
      {-3, 3, {-3, -2, -1, 0, 1, 2, 3}},
      {1000, 30000, {5000, 10000, 15000, 20000, 25000, 30000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lo);
    const auto t = nice_ticks(c.lo, c.hi, 6);
    ASSERT_EQ(t.size(), c.want.size());
    for (std::size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], c.want[i], 1e-9);
  }
  EXPECT_TRUE(nice_ticks(1, 1, 5).empty());
  EXPECT_TRUE(nice_ticks(0, std::numeric_limits<double>::infinity(), 5).empty());
}

// The figure must render in a real SVG renderer, not just look like XML.
TEST(SvgPlot, RendersWithRsvg) {
  if (std::system("command -v rsvg-convert >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "rsvg-convert (librsvg2-bin) is not installed";
  }
  const auto dir = std::filesystem::temp_directory_path() / "vx_svg_plot_test";
  std::filesystem::create_directories(dir);
  PlotInput p = gaussian_plot();
  p.title = "a<b>&\"c\" \xFF";
  for (const auto& [name, input] :
       {std::pair{"peak", p}, std::pair{"empty", PlotInput{}}}) {
    const auto svg = dir / (std::string(name) + ".svg");
    const auto png = dir / (std::string(name) + ".png");
    std::ofstream(svg) << render_plot_svg(input);
    const std::string cmd =
        "rsvg-convert -o '" + png.string() + "' '" + svg.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_GT(std::filesystem::file_size(png), 1000u);
  }
}

}  // namespace
}  // namespace vx::host::figures

namespace vx::host::figures {
namespace {

TEST(SvgWriter, WrapTextBreaksAtTheSeparatorThenBlanksThenCharacters) {
  const std::string_view dot = " \xC2\xB7 ";
  struct Case {
    std::string text;
    double width;  // in em at font size 1
    std::string_view separator;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"", 10, " ", {""}},
      {"short line", 100, " ", {"short line"}},
      {"aaaa bbbb cccc", 5.5, " ", {"aaaa bbbb", "cccc"}},
      {"aaaa bbbb cccc", 2.6, " ", {"aaaa", "bbbb", "cccc"}},
      {"aaaaaaaa", 2.6, " ", {"aaaa", "aaaa"}},
      {"aa bb \xC2\xB7 cc dd \xC2\xB7 ee",
       6.6,
       dot,
       {"aa bb \xC2\xB7 cc dd \xC2\xB7", "ee"}},
      {"aa bb \xC2\xB7 cc dd", 3, dot, {"aa bb \xC2\xB7", "cc dd"}},
      {"aa bb cc dd \xC2\xB7 e", 3, dot, {"aa bb", "cc dd \xC2\xB7", "e"}},
      {"a, b, c", 1.5, ", ", {"a,", "b,", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " / " + std::to_string(c.width));
    EXPECT_EQ(wrap_text(c.text, c.width, 1.0, c.separator), c.want);
  }
  // Widths follow the font: narrow letters take less room than wide ones.
  EXPECT_LT(text_width("iiii", 12), text_width("mmmm", 12));
  EXPECT_NEAR(text_width("0123456789", 10), 63.6, 1e-9);
}

// A caption too long for one line wraps inside the picture, loses no value,
// and makes the picture taller rather than running off its right edge.
TEST(SvgPlot, LongCaptionsWrapInsideThePicture) {
  PlotInput p = gaussian_plot();
  const std::string long_name(120, 'x');
  p.caption = {
      "baseline 887.139 \xC2\xB7 r\xC2\xB2 0.99983 \xC2\xB7 m/z 147 \xC2\xB1 0.3 "
      "\xC2\xB7 "
      "window 1.3057\xE2\x80\x93"
      "1.5057 min \xC2\xB7 60 of 211 trace points in the window",
      "fit: failed (" + long_name + ")", "flags: none"};
  const std::string one_line = render_plot_svg(gaussian_plot());
  const std::string svg = render_plot_svg(p);
  std::vector<std::string> lines;
  const std::string open = "<text x=\"88\" y=\"";
  const std::size_t caption = svg.find("<g class=\"caption\"");
  for (std::size_t at = svg.find(open, caption); at != std::string::npos;
       at = svg.find(open, at + 1)) {
    const std::size_t begin = svg.find('>', at) + 1;
    lines.push_back(svg.substr(begin, svg.find("</text>", begin) - begin));
  }
  ASSERT_GT(lines.size(), p.caption.size());
  std::string all;
  for (const std::string& l : lines) {
    EXPECT_LE(text_width(l, 12), 760.0 - 88 - 24) << l;
    all += l;
  }
  EXPECT_NE(all.find("60 of 211 trace points in the window"), std::string::npos);
  EXPECT_NE(all.find(long_name.substr(0, 40)), std::string::npos);
  EXPECT_EQ(std::count(all.begin(), all.end(), 'x'), 120);
  const auto height = [](const std::string& doc) {
    double h = 0;
    const char* at = doc.data() + doc.find("height=\"") + 8;
    std::from_chars(at, doc.data() + doc.size(), h);
    return h;
  };
  EXPECT_EQ(height(svg), height(one_line) + 18.0 * static_cast<double>(lines.size() - 3));
}

}  // namespace
}  // namespace vx::host::figures
