// EMG and two-Gaussian least squares for the peak decisions (contract in the
// header). Everything is solved in units of the single fit (time in widths
// from its center, intensity in heights above its baseline) so that every
// parameter is of order one and one finite-difference step suits them all.
#include "component_fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vx::host::peaks {

namespace {

constexpr double kSqrt2Pi = 2.5066282746310002;
constexpr double kSqrtPi = 1.7724538509055160;
constexpr std::size_t kMinPoints = 12;
constexpr int kMaxIterations = 200;

double gaussian(double h, double c, double s, double u) {
  const double z = (u - c) / s;
  return h * std::exp(-0.5 * z * z);
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

template <std::size_t N, class Model>
double rss_of(const Normalized& n, const Params<N>& p, const Model& model) {
  double ss = 0.0;
  for (std::size_t i = 0; i < n.u.size(); ++i) {
    const double r = n.v[i] - model(p, n.u[i]);
    ss += r * r;
  }
  return ss;
}

struct Solution {
  double rss;
  bool ok;
};

// Levenberg–Marquardt with a forward-difference Jacobian accumulated point by
// point into the normal equations, so nothing is stored per point or
// allocated per iteration. Marquardt's scaling (λ·diag) keeps steps sane for
// parameters of different sensitivity.
template <std::size_t N, class Model>
Solution levenberg_marquardt(const Normalized& n, Params<N>& p, const Model& model) {
  double rss = rss_of<N>(n, p, model);
  if (!std::isfinite(rss)) return {rss, false};
  double lambda = 1e-3;
  for (int it = 0; it < kMaxIterations; ++it) {
    std::array<std::array<double, N>, N> a{};
    Params<N> g{};
    Params<N> step{};
    for (std::size_t j = 0; j < N; ++j) step[j] = 1e-7 * std::max(1.0, std::fabs(p[j]));
    for (std::size_t i = 0; i < n.u.size(); ++i) {
      const double f0 = model(p, n.u[i]);
      Params<N> row{};
      for (std::size_t j = 0; j < N; ++j) {
        Params<N> q = p;
        q[j] += step[j];
        row[j] = (model(q, n.u[i]) - f0) / step[j];
      }
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
        const double trial = rss_of<N>(n, q, model);
        if (std::isfinite(trial) && trial < rss) {
          const double gain = rss - trial;
          p = q;
          rss = trial;
          lambda = std::max(lambda * 0.3, 1e-12);
          accepted = true;
          if (gain <= 1e-10 * rss) return {rss, true};
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
struct EmgModel {
  double operator()(const Params<5>& p, double u) const {
    return p[0] + emg_value(p[1], p[2], std::fabs(p[3]), std::fabs(p[4]), u);
  }
};

// Two Gaussians: baseline, height 1, center 1, height 2, center 2, shared σ.
struct PairModel {
  double operator()(const Params<6>& p, double u) const {
    const double s = std::fabs(p[5]);
    return p[0] + gaussian(p[1], p[2], s, u) + gaussian(p[3], p[4], s, u);
  }
};

}  // namespace

double EmgFit::area() const { return height * width * kSqrt2Pi; }

double TwoGaussianFit::area(int i) const {
  return height[static_cast<std::size_t>(i)] * width * kSqrt2Pi;
}

double emg_value(double height, double center, double width, double tau, double t) {
  if (!(width > 0.0)) return 0.0;
  // A tail far shorter than the width is the Gaussian itself, and the EMG
  // formula would divide by an underflowing τ.
  if (!(tau > 1e-6 * width)) return gaussian(height, center, width, t);
  const double x = t - center;
  const double z = width / tau;
  const double arg = (z - x / width) / std::sqrt(2.0);
  const double area = height * width * kSqrt2Pi;
  if (arg < 25.0) {
    // erfc(arg) ≥ 1e-274 here and 0.5·z² < 700, so the sum of exponents is
    // the value's own logarithm and neither factor overflows on its own.
    const double e = 0.5 * z * z - x / tau + std::log(std::erfc(arg));
    return area / (2.0 * tau) * std::exp(e);
  }
  // exp(0.5z² − x/τ)·erfc(arg) = exp(−x²/2σ²)·erfcx(arg), and the scaled
  // complementary error function is its asymptotic series this far out.
  const double inv2 = 1.0 / (arg * arg);
  const double erfcx = (1.0 - 0.5 * inv2 + 0.75 * inv2 * inv2) / (arg * kSqrtPi);
  return area / (2.0 * tau) * std::exp(-0.5 * (x / width) * (x / width)) * erfcx;
}

std::optional<EmgFit> fit_emg(std::span<const double> t, std::span<const double> y,
                              const GaussianStart& start) {
  const auto n = normalize(t, y, start);
  if (!n) return std::nullopt;
  // A tail shifts the apex later than the Gaussian part's center and narrows
  // the Gaussian part; the starts span short to long tails.
  constexpr Params<5> kStarts[] = {{0.0, 1.0, -0.2, 0.9, 0.3},
                                   {0.0, 1.0, -0.5, 0.75, 0.8},
                                   {0.0, 1.0, -0.8, 0.6, 1.6}};
  std::optional<EmgFit> best;
  for (const auto& s : kStarts) {
    Params<5> p = s;
    const Solution sol = levenberg_marquardt<5>(*n, p, EmgModel{});
    if (!sol.ok || (best && sol.rss * start.height * start.height >= best->rss)) continue;
    best = EmgFit{
        start.baseline + start.height * p[0], start.height * p[1],
        start.center + start.width * p[2],    start.width * std::fabs(p[3]),
        start.width * std::fabs(p[4]),        sol.rss * start.height * start.height};
  }
  return best;
}

std::optional<TwoGaussianFit> fit_two_gaussians(std::span<const double> t,
                                                std::span<const double> y,
                                                const GaussianStart& start) {
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
  std::optional<TwoGaussianFit> best;
  for (const auto& s : starts) {
    Params<6> p = s;
    const Solution sol = levenberg_marquardt<6>(*n, p, PairModel{});
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
