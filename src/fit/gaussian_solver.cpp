// The Gaussian peak solver. Every expression keeps the operation order of the
// model as documented (exp((-0.5*z)*z), sums in window order, elimination with
// row p winning pivot ties) so that fits agree bit-closely with other
// implementations of the same rules. This file is compiled without
// floating-point contraction for the same reason.
#include "fit/gaussian_solver.hpp"

#include <algorithm>
#include <cmath>

namespace vx::fit {
namespace {

constexpr double kInitialDamping = 0.01;
constexpr double kDampingDecrease = 0.8;
constexpr double kDampingIncrease = 2.0;
constexpr double kDampingLimit = 1e6;
constexpr double kInitialPreviousRms = 1e300;
constexpr double kPivotThreshold = 1e-12;
constexpr double kStepTolerance = 1e-6;
constexpr double kWidthFloor = 1e-6;
constexpr double kBaselineFloor = 0.0;
constexpr double kAmplitudeFallback = 0.5;
constexpr double kScaleFloor = 1.0;
constexpr double kSqrtTwoPi = 2.5066282746310002;  // sqrt(6.283185307179586)

using Vec4 = std::array<double, 4>;
using Mat4 = std::array<Vec4, 4>;
using Augmented = std::array<std::array<double, 5>, 4>;

// Parameters in scaled units, in the order (A, mu, sigma, B) used throughout.
struct Params {
  double a = 0.0;
  double mu = 0.0;
  double sigma = 0.0;
  double b = 0.0;
};

// What one sweep over the window accumulates: the normal matrix J'J, the
// gradient J'r and the residual sum of squares.
struct Normal {
  Mat4 g{};
  Vec4 rhs{};
  double sse = 0.0;
};

// One sweep, one exponential per point. The Jacobian row is (e, A*e*z/sigma,
// A*e*z^2/sigma, 1); products with the constant 1 are the sums themselves and
// the matrix is symmetric bit for bit (x*y == y*x), so ten sums fill it.
// Points go in blocks on the stack: the divisions and products of a block
// vectorise, while every sum still runs in window order.
Normal sweep(const double* t, const double* y, std::size_t n, const Params& p) {
  double g00 = 0.0, g01 = 0.0, g02 = 0.0, g03 = 0.0;
  double g11 = 0.0, g12 = 0.0, g13 = 0.0;
  double g22 = 0.0, g23 = 0.0, g33 = 0.0;
  double r0 = 0.0, r1 = 0.0, r2 = 0.0, r3 = 0.0, sse = 0.0;
  constexpr std::size_t kBlock = 32;
  std::array<double, kBlock> z;
  std::array<double, kBlock> e;
  std::array<double, kBlock> j1;
  std::array<double, kBlock> j2;
  for (std::size_t at = 0; at < n; at += kBlock) {
    const std::size_t m = std::min(kBlock, n - at);
    for (std::size_t k = 0; k < m; ++k) z[k] = (t[at + k] - p.mu) / p.sigma;
    for (std::size_t k = 0; k < m; ++k) e[k] = std::exp((-0.5 * z[k]) * z[k]);
    for (std::size_t k = 0; k < m; ++k) {
      const double ae = p.a * e[k];
      j1[k] = ae * z[k] / p.sigma;
      j2[k] = ae * (z[k] * z[k]) / p.sigma;
    }
    for (std::size_t k = 0; k < m; ++k) {
      const double j0 = e[k];
      const double r = y[at + k] - (p.b + p.a * j0);
      g00 += j0 * j0;
      g01 += j0 * j1[k];
      g02 += j0 * j2[k];
      g03 += j0;
      g11 += j1[k] * j1[k];
      g12 += j1[k] * j2[k];
      g13 += j1[k];
      g22 += j2[k] * j2[k];
      g23 += j2[k];
      g33 += 1.0;
      r0 += r * j0;
      r1 += r * j1[k];
      r2 += r * j2[k];
      r3 += r;
      sse += r * r;
    }
  }
  Normal out;
  out.g = {Vec4{g00, g01, g02, g03}, Vec4{g01, g11, g12, g13}, Vec4{g02, g12, g22, g23},
           Vec4{g03, g13, g23, g33}};
  out.rhs = {r0, r1, r2, r3};
  out.sse = sse;
  return out;
}

// Gaussian elimination with partial pivoting (row p wins ties), then back
// substitution. A largest pivot candidate below the threshold gives the zero
// step.
Vec4 eliminate(Augmented m) {
  for (std::size_t p = 0; p < 4; ++p) {
    std::size_t best = p;
    double largest = std::fabs(m[p][p]);
    for (std::size_t r = p + 1; r < 4; ++r) {
      if (std::fabs(m[r][p]) > largest) {
        largest = std::fabs(m[r][p]);
        best = r;
      }
    }
    if (largest < kPivotThreshold) return Vec4{};
    if (best != p) std::swap(m[best], m[p]);
    for (std::size_t r = p + 1; r < 4; ++r) {
      const double f = m[r][p] / m[p][p];
      for (std::size_t c = p; c < 5; ++c) m[r][c] -= f * m[p][c];
    }
  }
  Vec4 d{};
  d[3] = m[3][4] / m[3][3];
  for (std::size_t j = 3; j-- > 0;) {
    double sum = 0.0;
    for (std::size_t v = j + 1; v < 4; ++v) sum += m[j][v] * d[v];
    d[j] = (m[j][4] - sum) / m[j][j];
  }
  return d;
}

// The damped step from a point whose sweep gave nm. When the baseline sits
// on its floor and the step would push it further down, the step is solved
// again with the baseline held: otherwise the floor undoes the baseline part
// of every step while the convergence test still sees it, and the fit could
// never settle.
Vec4 damped_step(const Normal& nm, double lambda, double baseline) {
  Augmented m{};
  for (std::size_t a = 0; a < 4; ++a) {
    for (std::size_t b = 0; b < 4; ++b) m[a][b] = nm.g[a][b];
    m[a][a] = nm.g[a][a] + lambda;
    m[a][4] = nm.rhs[a];
  }
  Vec4 d = eliminate(m);
  if (baseline == kBaselineFloor && d[3] < 0.0) {
    m[0][3] = 0.0;
    m[1][3] = 0.0;
    m[2][3] = 0.0;
    m[3] = {0.0, 0.0, 0.0, 1.0, 0.0};
    d = eliminate(m);
  }
  return d;
}

// The point reached from `from` by step d: the amplitude falls back to half
// when the step would make it negative; width and baseline keep their floors.
Params take_step(const Params& from, const Vec4& d) {
  double a = from.a + d[0];
  if (a < 0.0) a = kAmplitudeFallback * from.a;
  return Params{a, from.mu + d[1], std::max(kWidthFloor, from.sigma + d[2]),
                std::max(kBaselineFloor, from.b + d[3])};
}

bool settled(const Vec4& d) {
  return std::fabs(d[0]) < kStepTolerance && std::fabs(d[1]) < kStepTolerance &&
         std::fabs(d[2]) < kStepTolerance && std::fabs(d[3]) < kStepTolerance;
}

// Fitted values in trace units, with area and r^2 on the unscaled window.
GaussianFitOutcome success(const FitWindow& w, std::size_t n, const Params& p,
                           double scale, int passes) {
  GaussianFitOutcome out;
  out.status = FitStatus::kSuccess;
  out.converged = true;
  out.passes = passes;
  out.height = p.a * scale;
  out.center = p.mu;
  out.width = p.sigma;
  out.baseline = p.b * scale;
  out.area = kSqrtTwoPi * (out.width * out.height);

  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) total += w.intensities[i];
  const double mean = total / static_cast<double>(n);
  double ss_res = 0.0;
  double ss_tot = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double z = (w.times[i] - out.center) / out.width;
    const double model = out.height * std::exp((-0.5 * z) * z) + out.baseline;
    const double res = w.intensities[i] - model;
    const double dev = w.intensities[i] - mean;
    ss_res += res * res;
    ss_tot += dev * dev;
  }
  out.r_squared = ss_tot > 0.0 ? 1.0 - ss_res / ss_tot : 1.0;
  return out;
}

GaussianFitOutcome unstable(int passes) {
  GaussianFitOutcome out;
  out.passes = passes;
  return out;
}

}  // namespace

GaussianFitOutcome fit_gaussian_peak(const FitWindow& window,
                                     const PeakEstimate& estimate, int iteration_limit) {
  const int limit = std::clamp(iteration_limit, kMinIterationLimit, kMaxIterationLimit);
  const std::size_t n = std::min(window.times.size(), window.intensities.size());
  const double scale = std::max(kScaleFloor, estimate.height);
  std::vector<double> scaled(n);
  for (std::size_t i = 0; i < n; ++i) scaled[i] = window.intensities[i] / scale;
  const auto count = static_cast<double>(n);

  Params p{estimate.height / scale, estimate.center, estimate.width,
           estimate.baseline / scale};
  double lambda = kInitialDamping;
  double previous_rms = kInitialPreviousRms;
  // The last accepted point and its sweep: a rejected pass retries from there
  // with more damping instead of rebuilding the system it just rejected.
  bool have_accepted = false;
  Params accepted;
  Normal accepted_normal;

  for (int k = 0;; ++k) {
    const Normal nm = sweep(window.times.data(), scaled.data(), n, p);
    const double rms = std::sqrt(nm.sse / count);
    if (previous_rms > rms) {
      const Vec4 d = damped_step(nm, lambda, p.b);
      accepted = p;
      accepted_normal = nm;
      have_accepted = true;
      p = take_step(p, d);
      lambda = kDampingDecrease * lambda;
      previous_rms = rms;
      if (settled(d)) return success(window, n, p, scale, k + 1);
    } else {
      lambda = kDampingIncrease * lambda;
      if (lambda > kDampingLimit) return unstable(k + 1);
      // Before any accepted pass (a first RMS that is not finite) there is
      // nothing to retry from; the parameters stay and the damping grows.
      if (have_accepted) {
        p = take_step(accepted, damped_step(accepted_normal, lambda, accepted.b));
      }
    }
    if (k + 1 == limit) return unstable(limit);
  }
}

FitExcerpts build_fit_excerpts(const FitWindow& window, double height, double center,
                               double width, double baseline) {
  FitExcerpts out;
  const std::size_t n = std::min(window.times.size(), window.intensities.size());
  if (n == 0) return out;
  const std::vector<double>& t = window.times;
  const std::vector<double>& y = window.intensities;
  const double curve_width = std::max(kWidthFloor, width);

  double lo = t[0];
  double hi = t[0];
  for (std::size_t i = 1; i < n; ++i) {
    if (t[i] < lo) lo = t[i];
    if (t[i] > hi) hi = t[i];
  }
  const double range = hi - lo;

  // The segment search starts at 0 for every grid time. While the grid times
  // do not decrease, the segment found for one time is a valid start for the
  // next, which keeps the search linear over the window.
  std::size_t q = 0;
  double previous_tau = 0.0;
  for (std::size_t j = 0; j < kExcerptPoints; ++j) {
    const double tau = (static_cast<double>(j) * range) / 49.0 + lo;
    out.times[j] = tau;
    if (n == 1) {
      out.trace[j] = y[0];
    } else {
      if (j == 0 || !(tau >= previous_tau)) q = 0;
      while (q + 1 < n && tau > t[q + 1]) ++q;
      if (q + 1 == n) {
        out.trace[j] = y[n - 1];
      } else {
        const double span = t[q + 1] - t[q];
        out.trace[j] =
            span > 0.0 ? ((tau - t[q]) / span) * (y[q + 1] - y[q]) + y[q] : y[q];
      }
    }
    previous_tau = tau;
    const double z = (tau - center) / curve_width;
    out.curve[j] = std::exp((-0.5 * z) * z) * height + baseline;
  }
  return out;
}

}  // namespace vx::fit
