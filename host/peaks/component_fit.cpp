// EMG and two-Gaussian least squares for the peak decisions (contract in the
// header). Everything is solved in units of the single fit (time in widths
// from its center, intensity in heights above its baseline) so that every
// parameter is of order one and one finite-difference step suits them all.
#include "component_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vx::host::peaks {

namespace {

constexpr double kSqrt2Pi = 2.5066282746310002;
constexpr double kSqrtPi = 1.7724538509055160;
constexpr std::size_t kMinPoints = 12;
constexpr int kMaxIterations = 200;
constexpr std::size_t kScreenStarts = 3;  // the first of fit_two_gaussians' starts

// The Gaussian's shape factor; gaussian() is h times it, so a Jacobian
// column that only moves h reuses the exponential bit for bit.
double gaussian_shape(double c, double s, double u) {
  const double z = (u - c) / s;
  return std::exp(-0.5 * z * z);
}

double gaussian(double h, double c, double s, double u) { return h * gaussian_shape(c, s, u); }

// The EMG at one point split into what depends on the height and what does
// not, so the height's Jacobian column reuses the erfc and exponentials; the
// value is assembled in the same order as a whole evaluation, bit for bit.
struct EmgParts {
  enum Kind : std::uint8_t { kZero, kGaussian, kExact, kAsymptotic } kind = kZero;
  double width = 0.0, tau = 0.0, e = 0.0, erfcx = 0.0;

  double value(double height) const {
    switch (kind) {
      case kZero:
        return 0.0;
      case kGaussian:
        return height * e;
      case kExact: {
        const double area = height * width * kSqrt2Pi;
        return area / (2.0 * tau) * e;
      }
      case kAsymptotic: {
        const double area = height * width * kSqrt2Pi;
        return area / (2.0 * tau) * e * erfcx;
      }
    }
    return 0.0;
  }
};

EmgParts emg_parts(double center, double width, double tau, double t) {
  EmgParts out;
  if (!(width > 0.0)) return out;
  out.width = width;
  out.tau = tau;
  // A tail far shorter than the width is the Gaussian itself, and the EMG
  // formula would divide by an underflowing τ.
  if (!(tau > 1e-6 * width)) {
    out.kind = EmgParts::kGaussian;
    out.e = gaussian_shape(center, width, t);
    return out;
  }
  const double x = t - center;
  const double z = width / tau;
  const double arg = (z - x / width) / std::sqrt(2.0);
  if (arg < 25.0) {
    // erfc(arg) ≥ 1e-274 here and 0.5·z² < 700, so the sum of exponents is
    // the value's own logarithm and neither factor overflows on its own.
    out.kind = EmgParts::kExact;
    out.e = std::exp(0.5 * z * z - x / tau + std::log(std::erfc(arg)));
    return out;
  }
  // exp(0.5z² − x/τ)·erfc(arg) = exp(−x²/2σ²)·erfcx(arg), and the scaled
  // complementary error function is its asymptotic series this far out.
  const double inv2 = 1.0 / (arg * arg);
  out.kind = EmgParts::kAsymptotic;
  out.erfcx = (1.0 - 0.5 * inv2 + 0.75 * inv2 * inv2) / (arg * kSqrtPi);
  out.e = std::exp(-0.5 * (x / width) * (x / width));
  return out;
}

struct Normalized {
  std::vector<double> u, v;
};

std::optional<Normalized> normalize(std::span<const double> t, std::span<const double> y,
                                    const GaussianStart& g) {
  if (!std::isfinite(g.center) || !std::isfinite(g.height) || !std::isfinite(g.width) ||
      !std::isfinite(g.baseline) || !(g.height > 0.0) || !(g.width > 0.0)) {
    return std::nullopt;
  }
  Normalized n;
  const std::size_t count = std::min(t.size(), y.size());
  n.u.reserve(count);
  n.v.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(t[i]) || !std::isfinite(y[i])) continue;
    n.u.push_back((t[i] - g.center) / g.width);
    n.v.push_back((y[i] - g.baseline) / g.height);
  }
  if (n.u.size() < kMinPoints) return std::nullopt;
  return n;
}

template <std::size_t N>
using Params = std::array<double, N>;

// Solves a·x = b by Gaussian elimination with partial pivoting; false when
// the matrix is singular.
template <std::size_t N>
bool solve(std::array<std::array<double, N>, N> a, Params<N> b, Params<N>& x) {
  for (std::size_t col = 0; col < N; ++col) {
    std::size_t piv = col;
    for (std::size_t r = col + 1; r < N; ++r) {
      if (std::fabs(a[r][col]) > std::fabs(a[piv][col])) piv = r;
    }
    if (!(std::fabs(a[piv][col]) > 1e-300)) return false;
    std::swap(a[piv], a[col]);
    std::swap(b[piv], b[col]);
    for (std::size_t r = col + 1; r < N; ++r) {
      const double f = a[r][col] / a[col][col];
      for (std::size_t k = col; k < N; ++k) a[r][k] -= f * a[col][k];
      b[r] -= f * b[col];
    }
  }
  for (std::size_t i = N; i-- > 0;) {
    double acc = b[i];
    for (std::size_t k = i + 1; k < N; ++k) acc -= a[i][k] * x[k];
    x[i] = acc / a[i][i];
  }
  for (double v : x) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// Also keeps each point's parts (model.at) for the Jacobian of the next
// iteration, which starts where an accepted trial ended.
template <std::size_t N, class Model>
double rss_of(const Normalized& n, const Params<N>& p, const Model& model,
              std::vector<typename Model::Parts>& parts) {
  double ss = 0.0;
  for (std::size_t i = 0; i < n.u.size(); ++i) {
    const double r = n.v[i] - model.at(p, n.u[i], parts[i]);
    ss += r * r;
  }
  return ss;
}

struct Solution {
  double rss;
  bool ok;
};

// Levenberg–Marquardt with a forward-difference Jacobian accumulated point by
// point into the normal equations; nothing is allocated per iteration. Each
// point keeps the exponentials of the current parameters (from the residual
// sum that accepted them), and each model gives a point's row of differences
// reusing those a step leaves unchanged: most of a peak decision's time is
// spent here. Marquardt's scaling (λ·diag) keeps steps sane for parameters of
// different sensitivity.
// done(rss) ends the fit early at an accepted residual sum, as a
// converged one.
template <std::size_t N, class Model, class Done>
Solution levenberg_marquardt(const Normalized& n, Params<N>& p, const Model& model,
                             const Done& done) {
  std::vector<typename Model::Parts> parts(n.u.size()), trial_parts(n.u.size());
  double rss = rss_of<N>(n, p, model, parts);
  if (!std::isfinite(rss)) return {rss, false};
  if (done(rss)) return {rss, true};
  double lambda = 1e-3;
  for (int it = 0; it < kMaxIterations; ++it) {
    std::array<std::array<double, N>, N> a{};
    Params<N> g{};
    Params<N> step{};
    for (std::size_t j = 0; j < N; ++j) step[j] = 1e-7 * std::max(1.0, std::fabs(p[j]));
    for (std::size_t i = 0; i < n.u.size(); ++i) {
      Params<N> row{};
      const double f0 = model.jacobian_row(p, step, n.u[i], parts[i], row);
      const double r = n.v[i] - f0;
      for (std::size_t j = 0; j < N; ++j) {
        g[j] += row[j] * r;
        for (std::size_t k = 0; k <= j; ++k) a[j][k] += row[j] * row[k];
      }
    }
    for (std::size_t j = 0; j < N; ++j) {
      for (std::size_t k = j + 1; k < N; ++k) a[j][k] = a[k][j];
    }
    bool accepted = false;
    while (lambda < 1e12) {
      auto damped = a;
      for (std::size_t j = 0; j < N; ++j) damped[j][j] += lambda * (a[j][j] + 1e-12);
      Params<N> delta{};
      if (solve<N>(damped, g, delta)) {
        Params<N> q = p;
        for (std::size_t j = 0; j < N; ++j) q[j] += delta[j];
        const double trial = rss_of<N>(n, q, model, trial_parts);
        if (std::isfinite(trial) && trial < rss) {
          const double gain = rss - trial;
          p = q;
          parts.swap(trial_parts);
          rss = trial;
          lambda = std::max(lambda * 0.3, 1e-12);
          accepted = true;
          if (gain <= 1e-10 * rss || done(rss)) return {rss, true};
          break;
        }
      }
      lambda *= 10.0;
    }
    if (!accepted) break;  // no downhill step left: a minimum
  }
  return {rss, std::isfinite(rss)};
}

// EMG parameters: baseline, Gaussian height, center, σ, τ (normalized units).
// at(p, u, parts) is operator() that also keeps the point's exponentials;
// jacobian_row, given those parts of p, returns the value at u and sets
// row[j] to the forward difference (model(p + step[j]·e_j, u) − value) /
// step[j], each term computed exactly as operator() would compute it.
struct EmgModel {
  using Parts = EmgParts;
  double operator()(const Params<5>& p, double u) const {
    return p[0] + emg_value(p[1], p[2], std::fabs(p[3]), std::fabs(p[4]), u);
  }
  double at(const Params<5>& p, double u, Parts& parts) const {
    parts = emg_parts(p[2], std::fabs(p[3]), std::fabs(p[4]), u);
    return p[0] + parts.value(p[1]);
  }
  double jacobian_row(const Params<5>& p, const Params<5>& step, double u,
                      const Parts& parts, Params<5>& row) const {
    const double v = parts.value(p[1]);
    const double f0 = p[0] + v;
    row[0] = ((p[0] + step[0]) + v - f0) / step[0];
    row[1] = (p[0] + parts.value(p[1] + step[1]) - f0) / step[1];
    for (std::size_t j = 2; j < 5; ++j) {
      Params<5> q = p;
      q[j] += step[j];
      row[j] = ((*this)(q, u) - f0) / step[j];
    }
    return f0;
  }
};

// Two Gaussians: baseline, height 1, center 1, height 2, center 2, shared σ.
struct PairModel {
  struct Parts {
    double e1 = 0.0, e2 = 0.0;
  };
  double operator()(const Params<6>& p, double u) const {
    const double s = std::fabs(p[5]);
    return p[0] + gaussian(p[1], p[2], s, u) + gaussian(p[3], p[4], s, u);
  }
  double at(const Params<6>& p, double u, Parts& parts) const {
    const double s = std::fabs(p[5]);
    parts.e1 = gaussian_shape(p[2], s, u);
    parts.e2 = gaussian_shape(p[4], s, u);
    return p[0] + p[1] * parts.e1 + p[3] * parts.e2;
  }
  double jacobian_row(const Params<6>& p, const Params<6>& step, double u,
                      const Parts& parts, Params<6>& row) const {
    const double s = std::fabs(p[5]);
    const double e1 = parts.e1;
    const double e2 = parts.e2;
    const double g1 = p[1] * e1;
    const double g2 = p[3] * e2;
    const double f0 = p[0] + g1 + g2;
    row[0] = ((p[0] + step[0]) + g1 + g2 - f0) / step[0];
    row[1] = (p[0] + (p[1] + step[1]) * e1 + g2 - f0) / step[1];
    row[2] = (p[0] + gaussian(p[1], p[2] + step[2], s, u) + g2 - f0) / step[2];
    row[3] = (p[0] + g1 + (p[3] + step[3]) * e2 - f0) / step[3];
    row[4] = (p[0] + g1 + gaussian(p[3], p[4] + step[4], s, u) - f0) / step[4];
    Params<6> q = p;
    q[5] += step[5];
    row[5] = ((*this)(q, u) - f0) / step[5];
    return f0;
  }
};

}  // namespace

double EmgFit::area() const { return height * width * kSqrt2Pi; }

double TwoGaussianFit::area(int i) const {
  return height[static_cast<std::size_t>(i)] * width * kSqrt2Pi;
}

double emg_value(double height, double center, double width, double tau, double t) {
  return emg_parts(center, width, tau, t).value(height);
}

namespace {

constexpr auto kNeverDone = [](double) { return false; };

// done(rss_in_data_units) as for levenberg_marquardt; the starts stop at the
// first that is done.
template <class Done>
std::optional<EmgFit> emg_from_starts(std::span<const double> t, std::span<const double> y,
                                      const GaussianStart& start, const Done& done) {
  const auto n = normalize(t, y, start);
  if (!n) return std::nullopt;
  // A tail shifts the apex later than the Gaussian part's center and narrows
  // the Gaussian part; the starts span short to long tails.
  constexpr Params<5> kStarts[] = {{0.0, 1.0, -0.2, 0.9, 0.3},
                                   {0.0, 1.0, -0.5, 0.75, 0.8},
                                   {0.0, 1.0, -0.8, 0.6, 1.6}};
  // The residual sum in the data's units is computed the one way the result
  // reports it, so done sees the number the caller will compare.
  const auto in_data_units = [&](double rss) { return rss * start.height * start.height; };
  const auto start_done = [&](double rss) { return done(in_data_units(rss)); };
  std::optional<EmgFit> best;
  for (const auto& s : kStarts) {
    Params<5> p = s;
    const Solution sol = levenberg_marquardt<5>(*n, p, EmgModel{}, start_done);
    if (!sol.ok || (best && in_data_units(sol.rss) >= best->rss)) continue;
    best = EmgFit{
        start.baseline + start.height * p[0], start.height * p[1],
        start.center + start.width * p[2],    start.width * std::fabs(p[3]),
        start.width * std::fabs(p[4]),        in_data_units(sol.rss)};
    if (done(best->rss)) break;
  }
  return best;
}

}  // namespace

std::optional<EmgFit> fit_emg(std::span<const double> t, std::span<const double> y,
                              const GaussianStart& start) {
  return emg_from_starts(t, y, start, kNeverDone);
}

std::optional<EmgFit> fit_emg(std::span<const double> t, std::span<const double> y,
                              const GaussianStart& start, const EmgEnough& enough) {
  return emg_from_starts(t, y, start, [&](double rss) { return enough.reached(rss); });
}

std::optional<TwoGaussianFit> fit_two_gaussians(std::span<const double> t,
                                                std::span<const double> y,
                                                const GaussianStart& start,
                                                PairStarts which) {
  const auto n = normalize(t, y, start);
  if (!n) return std::nullopt;
  // Starts: a second component on the single fit's largest residual lobe (a
  // shoulder), and pairs split evenly around its center at two separations
  // and three height ratios (a single fit sits between two merged peaks).
  std::size_t lobe = 0;
  double lobe_value = -1.0;
  for (std::size_t i = 0; i < n->u.size(); ++i) {
    const double r = n->v[i] - gaussian(1.0, 0.0, 1.0, n->u[i]);
    if (r > lobe_value) {
      lobe_value = r;
      lobe = i;
    }
  }
  const double ul = n->u[lobe];
  std::array<Params<6>, 7> starts{};
  starts[0] = {0.0, 1.0, -0.5 * ul, std::max(lobe_value, 0.1), ul, 0.8};
  std::size_t k = 1;
  for (double a : {0.5, 1.0}) {
    starts[k++] = {0.0, 0.7, -a, 0.3, a, 0.7};
    starts[k++] = {0.0, 0.3, -a, 0.7, a, 0.7};
    starts[k++] = {0.0, 0.6, -a, 0.6, a, 0.7};
  }
  // The screen keeps the starts that found the best pair on most peaks of a
  // 500-target run (the lobe, then the close splits); the other four mostly
  // crawl along the same flat valley of a single peak to the same residual.
  const std::size_t count = which == PairStarts::kScreen ? kScreenStarts : starts.size();
  std::optional<TwoGaussianFit> best;
  for (std::size_t i = 0; i < count; ++i) {
    Params<6> p = starts[i];
    const Solution sol = levenberg_marquardt<6>(*n, p, PairModel{}, kNeverDone);
    if (!sol.ok || (best && sol.rss * start.height * start.height >= best->rss)) continue;
    TwoGaussianFit f{};
    f.baseline = start.baseline + start.height * p[0];
    f.width = start.width * std::fabs(p[5]);
    const bool swap = p[4] < p[2];
    f.height = {start.height * (swap ? p[3] : p[1]), start.height * (swap ? p[1] : p[3])};
    f.center = {start.center + start.width * (swap ? p[4] : p[2]),
                start.center + start.width * (swap ? p[2] : p[4])};
    f.rss = sol.rss * start.height * start.height;
    best = f;
  }
  return best;
}

}  // namespace vx::host::peaks
