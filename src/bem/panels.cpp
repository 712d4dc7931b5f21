#include "bem/panels.hpp"

#include <omp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "bem/blas_threads.hpp"
#include "bem/hankel.hpp"
#include "bem/lapack.hpp"
#include "bem/lapack_dense.hpp"
#include "model/geometry.hpp"

namespace qbr {

namespace {

constexpr double kPiFull = 3.14159265358979323846;
constexpr double kEuler = 0.57721566490153286061;
// K0 of an argument with a real part beyond this is below e^-30 of its value near the
// source: the interior kernel is 0 there.
constexpr double kReachArgument = 30.0;

// ---------------------------------------------------------------------------------------
// Cylinder functions K0, K1 (and I0 with the regular rest of K0 for the split of the
// logarithm) of w with Re w > 0, in the arithmetic T (double on the real axis).

template <class T>
struct K01 {
  T k0;
  T k1;
};

template <class T>
K01<T> seriesK01(T w) {
  const T t = w * w * 0.25;
  const T logHalf = std::log(w * 0.5);
  T term0 = 1.0;  // t^k / (k!)^2
  T term1 = 1.0;  // t^k / (k! (k+1)!)
  T i0 = 0.0, s0 = 0.0, i1 = 0.0, s1 = 0.0;
  double harmonic = 0.0;  // H_k
  for (int k = 0; k < 30; ++k) {
    const double next = harmonic + 1.0 / (k + 1);
    i0 += term0;
    s0 += term0 * harmonic;
    i1 += term1;
    s1 += term1 * (harmonic + next);
    if (std::norm(term0) < 1e-36 * std::norm(i0)) break;
    term0 *= t / static_cast<double>((k + 1) * (k + 1));
    term1 *= t / static_cast<double>((k + 1) * (k + 2));
    harmonic = next;
  }
  const T k0 = -(logHalf + kEuler) * i0 + s0;
  // K1 = 1/w + ln(w/2) I1 - (w/4) sum (psi(k+1) + psi(k+2)) t^k / (k! (k+1)!).
  const T k1 = 1.0 / w + logHalf * (w * 0.5) * i1 - (w * 0.25) * (s1 - 2.0 * kEuler * i1);
  return {k0, k1};
}

// Steed's evaluation of Temme's continued fraction for K0 and K1 (|w| >= 2).
template <class T>
K01<T> fractionK01(T w) {
  T b = 2.0 * (1.0 + w);
  T d = 1.0 / b;
  T h = d, delh = d;
  T q1 = 0.0, q2 = 1.0;
  const double a1 = 0.25;
  T q = a1, c = a1;
  double a = -a1;
  T s = 1.0 + q * delh;
  for (int i = 1; i < 500; ++i) {
    a -= 2.0 * i;
    c = -a * c / (i + 1.0);
    const T qnew = (q1 - b * q2) / a;
    q1 = q2;
    q2 = qnew;
    q += c * qnew;
    b += 2.0;
    d = 1.0 / (b + a * d);
    delh = (b * d - 1.0) * delh;
    h += delh;
    const T dels = q * delh;
    s += dels;
    if (std::norm(dels) < 1e-34 * std::norm(s)) break;
  }
  const T k0 = std::sqrt(kPiFull / (2.0 * w)) * std::exp(-w) / s;
  const T k1 = k0 * (w + 0.5 - a1 * h) / w;
  return {k0, k1};
}

// Hankel's expansion, for |w| >= 17 (its smallest term is then below 2e-15).
template <class T>
K01<T> asymptoticK01(T w) {
  T sum0 = 1.0, sum1 = 1.0, term0 = 1.0, term1 = 1.0;
  const T inv = 1.0 / (8.0 * w);
  for (int k = 1; k < 40; ++k) {
    const double odd = (2.0 * k - 1.0) * (2.0 * k - 1.0);
    term0 *= (0.0 - odd) / k * inv;
    term1 *= (4.0 - odd) / k * inv;
    sum0 += term0;
    sum1 += term1;
    if (std::norm(term0) < 1e-34 && std::norm(term1) < 1e-34) break;
  }
  const T scale = std::sqrt(kPiFull / (2.0 * w)) * std::exp(-w);
  return {scale * sum0, scale * sum1};
}

template <class T>
K01<T> kernelK01(T w) {
  const double size2 = std::norm(w);
  if (size2 <= 4.0) return seriesK01(w);
  if (size2 >= 289.0) return asymptoticK01(w);
  if constexpr (std::is_same_v<T, double>) {
    // On the real axis the Chebyshev fit of the superconductor's kernel (exact to
    // rounding from 2 to 20) is several times cheaper than the continued fraction.
    const HankelPair h = hankelFirstPairImaginary(w);
    return {-0.5 * kPiFull * h.h0.imag(), -0.5 * kPiFull * h.h1.real()};
  } else {
    return fractionK01(w);
  }
}

// K0 and K1 of kappa r as functions of the distance r, for one patch. A metal's kappa has a
// fixed argument (45 degrees), so between |w| = 2 and 17, where the continued fraction
// needs dozens of iterations, Chebyshev fits in |w| of K(w) e^w sqrt(w) stand in for it.
template <class T>
class RadialK01 {
 public:
  explicit RadialK01(T kappa) : kappa_(kappa) {
    if constexpr (!std::is_same_v<T, double>) {
      if (!(std::abs(kappa) > 0.0)) return;  // an unused patch without field depth
      for (int piece = 0; piece < 2; ++piece) {
        const double lo = kPieces[piece], hi = kPieces[piece + 1];
        std::array<T, kFit> g0, g1;
        for (int k = 0; k < kFit; ++k) {
          const double x = 0.5 * (lo + hi) + 0.5 * (hi - lo) * std::cos(kPiFull * (k + 0.5) / kFit);
          const T w = kappa / std::abs(kappa) * x;
          const K01<T> v = fractionK01(w);
          const T scale = std::exp(w) * std::sqrt(w);
          g0[static_cast<std::size_t>(k)] = v.k0 * scale;
          g1[static_cast<std::size_t>(k)] = v.k1 * scale;
        }
        for (int j = 0; j < kFit; ++j) {
          T c0 = 0.0, c1 = 0.0;
          for (int k = 0; k < kFit; ++k) {
            const double c = std::cos(kPiFull * j * (k + 0.5) / kFit);
            c0 += g0[static_cast<std::size_t>(k)] * c;
            c1 += g1[static_cast<std::size_t>(k)] * c;
          }
          fit0_[piece][static_cast<std::size_t>(j)] = c0 * (2.0 / kFit);
          fit1_[piece][static_cast<std::size_t>(j)] = c1 * (2.0 / kFit);
        }
      }
    }
  }

  K01<T> at(double r) const {
    if constexpr (std::is_same_v<T, double>) {
      return kernelK01(kappa_ * r);
    } else {
      const T w = kappa_ * r;
      const double x = std::abs(kappa_) * r;
      if (x <= kPieces[0] || x >= kPieces[2]) return kernelK01(w);
      const int piece = x < kPieces[1] ? 0 : 1;
      const double lo = kPieces[piece], hi = kPieces[piece + 1];
      const double u = (2.0 * x - lo - hi) / (hi - lo);
      T b0 = 0.0, b0Next = 0.0, b1 = 0.0, b1Next = 0.0;
      for (int j = kFit - 1; j >= 1; --j) {
        const T t0 = 2.0 * u * b0 - b0Next + fit0_[piece][static_cast<std::size_t>(j)];
        const T t1 = 2.0 * u * b1 - b1Next + fit1_[piece][static_cast<std::size_t>(j)];
        b0Next = b0;
        b0 = t0;
        b1Next = b1;
        b1 = t1;
      }
      const T scale = std::exp(-w) / std::sqrt(w);
      return {(u * b0 - b0Next + 0.5 * fit0_[piece][0]) * scale,
              (u * b1 - b1Next + 0.5 * fit1_[piece][0]) * scale};
    }
  }

 private:
  static constexpr int kFit = 40;
  static constexpr double kPieces[3] = {2.0, 6.0, 17.0};
  T kappa_;
  std::array<std::array<T, kFit>, 2> fit0_{}, fit1_{};
};

// I0(w) and K0(w) + ln(r) I0(w) for w = kappa r, |w| <= 2: the kernel K0 = -ln(r) I0 + rest
// with the logarithm of the distance split off, the rest computed without cancellation.
template <class T>
void splitK0(T kappa, double r, T& i0Out, T& restOut) {
  const T t = kappa * kappa * (r * r * 0.25);
  T term = 1.0, i0 = 0.0, s0 = 0.0;
  double harmonic = 0.0;
  for (int k = 0; k < 30; ++k) {
    i0 += term;
    s0 += term * harmonic;
    if (std::norm(term) < 1e-36 * std::norm(i0)) break;
    term *= t / static_cast<double>((k + 1) * (k + 1));
    harmonic += 1.0 / (k + 1);
  }
  i0Out = i0;
  restOut = -(std::log(kappa * 0.5) + kEuler) * i0 + s0;
}

// The regular part at low frequency, |kappa r| <= 2: I0(w), I1(w) of w = kappa r, and
// F = 1/r - kappa K1(kappa r), the difference of the interior and exterior normal
// derivatives' radial factors, from the series without the cancellation of the 1/r.
template <class T>
struct Regular {
  T i0, i1, f;
  // w K1(w) = 1 - d1 + w I1(w) ln r: the rest d1 = -w I1 ln(kappa/2) + (w^2/4) sum (...),
  // for the logarithm of the normal derivative on a curved panel.
  T d1;
};

template <class T>
Regular<T> regularPart(T kappa, double r) {
  const T w = kappa * r;
  const T t = w * w * 0.25;
  T term0 = 1.0, term1 = 1.0, i0 = 0.0, sum1 = 0.0, s1 = 0.0;
  double harmonic = 0.0;
  for (int k = 0; k < 30; ++k) {
    const double next = harmonic + 1.0 / (k + 1);
    i0 += term0;
    sum1 += term1;
    s1 += term1 * (harmonic + next - 2.0 * kEuler);
    if (std::norm(term0) < 1e-36 * std::norm(i0)) break;
    term0 *= t / static_cast<double>((k + 1) * (k + 1));
    term1 *= t / static_cast<double>((k + 1) * (k + 2));
    harmonic = next;
  }
  const T i1 = w * 0.5 * sum1;
  // K1 = 1/w + ln(w/2) I1 - (w/4) sum (psi(k+1) + psi(k+2)) t^k / (k! (k+1)!).
  const T f = -kappa * (std::log(w * 0.5) * i1 - w * 0.25 * s1);
  const T d1 = -w * i1 * std::log(kappa * 0.5) + w * w * 0.25 * s1;
  return {i0, i1, f, d1};
}

// ---------------------------------------------------------------------------------------
// Gauss-Legendre rules.

struct Rule {
  int n = 0;
  std::vector<double> x, w, bary, logEnd;
};

void legendreRule(int n, std::vector<double>& x, std::vector<double>& w) {
  x.assign(static_cast<std::size_t>(n), 0.0);
  w.assign(static_cast<std::size_t>(n), 0.0);
  for (int i = 0; i < (n + 1) / 2; ++i) {
    double z = std::cos(kPiFull * (i + 0.75) / (n + 0.5));
    double dp = 1.0;
    for (int it = 0; it < 100; ++it) {
      double p0 = 1.0, p1 = z;
      for (int k = 2; k <= n; ++k) {
        const double p2 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / k;
        p0 = p1;
        p1 = p2;
      }
      if (n == 1) p0 = 1.0, p1 = z;
      dp = n * (z * p1 - p0) / (z * z - 1.0);
      const double dz = p1 / dp;
      z -= dz;
      if (std::fabs(dz) < 1e-16) break;
    }
    double p0 = 1.0, p1 = z;
    for (int k = 2; k <= n; ++k) {
      const double p2 = ((2.0 * k - 1.0) * z * p1 - (k - 1.0) * p0) / k;
      p0 = p1;
      p1 = p2;
    }
    dp = n * (z * p1 - p0) / (z * z - 1.0);
    const std::size_t lo = static_cast<std::size_t>(i);
    const std::size_t hi = static_cast<std::size_t>(n - 1 - i);
    x[lo] = -z;
    x[hi] = z;
    w[lo] = w[hi] = 2.0 / ((1.0 - z * z) * dp * dp);
  }
}

const Rule& ruleOf(int n) {
  static thread_local std::vector<Rule> rules(64);
  Rule& r = rules.at(static_cast<std::size_t>(n));
  if (r.n == 0) {
    legendreRule(n, r.x, r.w);
    r.bary.resize(static_cast<std::size_t>(n));
    for (int j = 0; j < n; ++j) {
      const std::size_t u = static_cast<std::size_t>(j);
      r.bary[u] = ((j % 2) ? -1.0 : 1.0) * std::sqrt((1.0 - r.x[u] * r.x[u]) * r.w[u]);
    }
    r.logEnd = logEndWeights(n);
    r.n = n;
  }
  return r;
}

// The Lagrange basis of the rule's abscissae at xi.
void lagrangeAt(const Rule& rule, double xi, double* basis) {
  double sum = 0.0;
  for (int j = 0; j < rule.n; ++j) {
    const std::size_t u = static_cast<std::size_t>(j);
    const double diff = xi - rule.x[u];
    if (diff == 0.0) {
      for (int k = 0; k < rule.n; ++k) basis[k] = k == j ? 1.0 : 0.0;
      return;
    }
    basis[j] = rule.bary[u] / diff;
    sum += basis[j];
  }
  for (int j = 0; j < rule.n; ++j) basis[j] /= sum;
}

// ---------------------------------------------------------------------------------------
// Panels.

// A straight panel from a along e, an arc of a circle from the angle theta0 turning by
// `turn` (counter-clockwise when positive), or a piece of a quadratic curve. The panel's
// coordinate s runs from 0 to `length`: arc length on lines and arcs, proportional to the
// curve's parameter on curves (whose Jacobian ds/dcoordinate is then near 1).
struct Panel {
  bool arc = false;
  bool curve = false;  // a piece [t0, t1] of the quadratic through q0, q1, q2 (t = -1, 0, 1)
  Vec2 q0, q1, q2;
  double t0 = -1.0, t1 = 1.0;
  Vec2 a;
  Vec2 e;  // unit tangent
  Vec2 n;  // unit normal, left of the tangent: into the conductor
  Vec2 centre;
  double radius = 0.0;
  double theta0 = 0.0;
  double turn = 0.0;
  double length = 0.0;
  int element = 0;
  int conductor = 0;
  int patch = 0;
  int first = 0;  // index of its first node
};

double distanceToSegment(Vec2 p, Vec2 a, Vec2 b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double len2 = dx * dx + dy * dy;
  double s = len2 > 0.0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0.0;
  s = std::clamp(s, 0.0, 1.0);
  const double ox = p.x - a.x - s * dx, oy = p.y - a.y - s * dy;
  return std::sqrt(ox * ox + oy * oy);
}

// The angle x - y folded into (-pi, pi].
double angleBetween(double x, double y) {
  return std::remainder(x - y, 2.0 * kPiFull);
}

Vec2 curvePoint(const Panel& p, double t) {
  const double w0 = t * (t - 1.0) / 2.0, w1 = 1.0 - t * t, w2 = t * (t + 1.0) / 2.0;
  return {p.q0.x * w0 + p.q1.x * w1 + p.q2.x * w2, p.q0.y * w0 + p.q1.y * w1 + p.q2.y * w2};
}

Vec2 curveDerivative(const Panel& p, double t) {
  const double a = t - 0.5, b = -2.0 * t, c = t + 0.5;
  return {a * p.q0.x + b * p.q1.x + c * p.q2.x, a * p.q0.y + b * p.q1.y + c * p.q2.y};
}

Vec2 curveSecond(const Panel& p) {
  return {p.q0.x - 2.0 * p.q1.x + p.q2.x, p.q0.y - 2.0 * p.q1.y + p.q2.y};
}

// The curve's parameter per unit of the panel's coordinate.
double parameterRate(const Panel& p) {
  return (p.t1 - p.t0) / p.length;
}

// ds/dcoordinate: 1 on lines and arcs.
double jacobianOn(const Panel& p, double s) {
  if (!p.curve) return 1.0;
  const Vec2 d = curveDerivative(p, p.t0 + parameterRate(p) * s);
  return std::hypot(d.x, d.y) * parameterRate(p);
}

// The parameter of the curve panel's point nearest to x: the nearest of 33 points, then
// Newton's method on (r(t) - x).r'(t) = 0 within the panel.
double nearestOnCurve(const Panel& p, Vec2 x) {
  double best = p.t0, bestDistance = std::numeric_limits<double>::infinity();
  for (int k = 0; k <= 32; ++k) {
    const double t = p.t0 + (p.t1 - p.t0) * k / 32.0;
    const Vec2 y = curvePoint(p, t);
    const double d2 = (y.x - x.x) * (y.x - x.x) + (y.y - x.y) * (y.y - x.y);
    if (d2 < bestDistance) bestDistance = d2, best = t;
  }
  const Vec2 second = curveSecond(p);
  for (int it = 0; it < 8; ++it) {
    const Vec2 y = curvePoint(p, best), d = curveDerivative(p, best);
    const double g = (y.x - x.x) * d.x + (y.y - x.y) * d.y;
    const double h = d.x * d.x + d.y * d.y + (y.x - x.x) * second.x + (y.y - x.y) * second.y;
    if (!(h > 0.0)) break;
    best = std::clamp(best - g / h, std::min(p.t0, p.t1), std::max(p.t0, p.t1));
  }
  return best;
}

Vec2 pointOn(const Panel& p, double s) {
  if (p.curve) return curvePoint(p, p.t0 + parameterRate(p) * s);
  if (!p.arc) return {p.a.x + p.e.x * s, p.a.y + p.e.y * s};
  const double theta = p.theta0 + p.turn * s / p.length;
  return {p.centre.x + p.radius * std::cos(theta), p.centre.y + p.radius * std::sin(theta)};
}

Vec2 normalOn(const Panel& p, double s) {
  if (p.curve) {
    const Vec2 d = curveDerivative(p, p.t0 + parameterRate(p) * s);
    const double norm = std::hypot(d.x, d.y);
    return {-d.y / norm, d.x / norm};
  }
  if (!p.arc) return p.n;
  const double theta = p.theta0 + p.turn * s / p.length;
  const double sign = p.turn > 0.0 ? -1.0 : 1.0;  // left of the travel
  return {sign * std::cos(theta), sign * std::sin(theta)};
}

double distanceToPanel(Vec2 x, const Panel& p) {
  if (p.curve) {
    const Vec2 y = curvePoint(p, nearestOnCurve(p, x));
    return std::hypot(y.x - x.x, y.y - x.y);
  }
  if (!p.arc) return distanceToSegment(x, p.a, pointOn(p, p.length));
  const double rho = std::hypot(x.x - p.centre.x, x.y - p.centre.y);
  const double off =
      angleBetween(std::atan2(x.y - p.centre.y, x.x - p.centre.x), p.theta0 + 0.5 * p.turn);
  if (std::fabs(off) <= 0.5 * std::fabs(p.turn)) return std::fabs(rho - p.radius);
  const Vec2 s = pointOn(p, 0.0), t = pointOn(p, p.length);
  return std::min(std::hypot(x.x - s.x, x.y - s.y), std::hypot(x.x - t.x, x.y - t.y));
}

// The wave number's decay direction: the interior kernel is K0(kappa r).
Complex kappaOf(Complex k) {
  return k.imag() > 0.0 ? Complex(k.imag(), -k.real()) : Complex(-k.imag(), k.real());
}

template <class T>
T toScalar(Complex z) {
  if constexpr (std::is_same_v<T, double>) {
    return z.real();
  } else {
    return z;
  }
}

// What one target point sees of one panel: the weights of its p nodes for the single and
// double layer of the exterior (Laplace) and of the interior (K0 of kappa r).
template <class T>
struct Weights {
  std::vector<double> sl, dl;
  std::vector<T> sk, dk;
  // At low frequency: the integral over the panel of the interior normal derivative less
  // the exterior one, the panel's share of the conductor column.
  T column = 0.0;
  std::vector<double> basis;
  explicit Weights(int p)
      : sl(static_cast<std::size_t>(p)),
        dl(static_cast<std::size_t>(p)),
        sk(static_cast<std::size_t>(p)),
        dk(static_cast<std::size_t>(p)),
        basis(static_cast<std::size_t>(p)) {}
};

struct Geometry {
  std::vector<Panel> panels;
  std::vector<Vec2> nodes;
  std::vector<Vec2> normals;
  std::vector<double> weights;  // arc length
  std::vector<int> panelOf;
  int order = 0;
};

struct Interval {
  double from, to;  // offsets along the panel from the point nearest to the target
  int singular;     // 0 none, -1 the target at `from`, +1 at `to`
};

// The target seen from a panel: the nearest point `at` (arc length), the target's arc
// coordinate less `at` (`along`, 0 when the nearest point is inside), its distance d (0 on
// the panel). Source points are taken relative to `at`, so that their distances from a
// target close to the panel keep their digits (the coordinates' rounding does not vary
// from point to point).
struct Offset {
  bool arc = false;
  bool curve = false;
  bool self = false;
  double at = 0.0, along = 0.0, d = 0.0;
  double across = 0.0;                         // line: the target's height over the panel's line
  double radius = 0.0, rho = 0.0, sign = 1.0;  // arc: radii of source and target, turn
  // curve: parameter rate, r(t*) - x, r'(t*) and r'' at the nearest parameter t*
  double rate = 0.0;
  Vec2 w0, d1, d2;

  Offset(Vec2 x, const Panel& p, bool onPanel) : self(onPanel) {
    if (p.curve) {
      curve = true;
      rate = parameterRate(p);
      const double t = nearestOnCurve(p, x);
      at = std::clamp((t - p.t0) / rate, 0.0, p.length);
      const Vec2 y = curvePoint(p, t);
      w0 = self ? Vec2{} : Vec2{y.x - x.x, y.y - x.y};
      d1 = curveDerivative(p, t);
      d2 = curveSecond(p);
      d = std::hypot(w0.x, w0.y);
      return;
    }
    if (!p.arc) {
      const double rx = x.x - p.a.x, ry = x.y - p.a.y;
      const double s = rx * p.e.x + ry * p.e.y;
      at = std::clamp(s, 0.0, p.length);
      along = self ? 0.0 : s - at;
      across = self ? 0.0 : rx * p.n.x + ry * p.n.y;
      d = std::sqrt(along * along + across * across);
      return;
    }
    arc = true;
    radius = p.radius;
    sign = p.turn > 0.0 ? 1.0 : -1.0;
    rho = self ? p.radius : std::hypot(x.x - p.centre.x, x.y - p.centre.y);
    const double off =
        angleBetween(std::atan2(x.y - p.centre.y, x.x - p.centre.x), p.theta0 + 0.5 * p.turn);
    const double s = 0.5 * p.length + sign * off * p.radius;
    at = std::clamp(s, 0.0, p.length);
    along = self ? 0.0 : s - at;
    double a;
    d = self ? 0.0 : 1.0;
    if (!self) sample(0.0, d, a);
  }

  // The distance r of the source at offset u and a = (y - x).n there.
  void sample(double u, double& r, double& a) const {
    if (curve) {
      // A quadratic: r(t* + dt) = r(t*) + dt r'(t*) + dt^2 r''/2 exactly.
      const double dt = u * rate;
      const Vec2 v{w0.x + dt * (d1.x + 0.5 * dt * d2.x), w0.y + dt * (d1.y + 0.5 * dt * d2.y)};
      const Vec2 tangent{d1.x + dt * d2.x, d1.y + dt * d2.y};
      const double norm = std::hypot(tangent.x, tangent.y);
      const Vec2 n{-tangent.y / norm, tangent.x / norm};
      r = std::hypot(v.x, v.y);
      // On the curve itself (r(t*) = x) the tangent part cancels: a = -dt^2 r''.n / 2.
      a = self ? -0.5 * dt * dt * (d2.x * n.x + d2.y * n.y) : v.x * n.x + v.y * n.y;
      return;
    }
    if (!arc) {
      const double t = u - along;
      r = std::sqrt(t * t + across * across);
      a = -across;
      return;
    }
    const double half = std::sin(0.5 * (u - along) / radius);
    const double gap = radius - rho;
    r = std::sqrt(gap * gap + 4.0 * radius * rho * half * half);
    a = -sign * (gap + 2.0 * rho * half * half);
  }

  // ds/du at offset u: 1 on lines and arcs.
  double jacobian(double u) const {
    if (!curve) return 1.0;
    const double dt = u * rate;
    return std::hypot(d1.x + dt * d2.x, d1.y + dt * d2.y) * rate;
  }

  // ln(r/|u|) for a target on the panel: 0 on a line, ln of the chord over the arc, of
  // |r'(t*) + dt r''/2| dt/du on a curve.
  double logRatio(double u) const {
    if (curve) {
      const double dt = u * rate;
      return std::log(std::hypot(d1.x + 0.5 * dt * d2.x, d1.y + 0.5 * dt * d2.y) * rate);
    }
    if (!arc || u == 0.0) return 0.0;
    const double x = 0.5 * u / radius;
    return std::log(std::sin(std::fabs(x)) / std::fabs(x));
  }
};

// Intervals of a panel [0, length] around the target's nearest point: the first `first`
// long on the panel, d long off it, then growing geometrically by 2 away from it, none
// longer than `cap`, none whose start lies farther than `reach` from the target.
void intervalsAround(double length, const Offset& o, double first, double cap, double reach,
                     std::vector<Interval>& out) {
  out.clear();
  const bool onPanel = o.d == 0.0;
  for (int side = -1; side <= 1; side += 2) {
    const double span = side < 0 ? o.at : length - o.at;
    if (span <= 0.0) continue;
    double pos = 0.0;
    double h = std::min(onPanel ? first : o.d, cap);
    bool firstPiece = true;
    while (pos < span) {
      if (reach < std::numeric_limits<double>::infinity()) {
        double r, a;
        o.sample(side * pos, r, a);
        if (r > reach) break;
      }
      double end = std::min(span, pos + h);
      if (span - end < 0.25 * h) end = span;
      const double s0 = side < 0 ? -end : pos;
      const double s1 = side < 0 ? -pos : end;
      int singular = 0;
      if (onPanel && firstPiece) singular = side < 0 ? 1 : -1;
      out.push_back({s0, s1, singular});
      firstPiece = false;
      pos = end;
      h = std::min(cap, std::max(h, pos));
    }
  }
}

template <class T>
class Assembler {
 public:
  // `shift` per panel: beta of the low-frequency kernel K0(kappa r) - beta I0(kappa r), or
  // not a number where the plain kernel is used; `radial` per patch, the kernel of its
  // kappa (built once per system: every thread's assembler reads the same fits).
  Assembler(const Geometry& g, const std::vector<T>& kappa, const std::vector<double>& reach,
            const std::vector<T>& shift, const std::vector<RadialK01<T>>& radial)
      : g_(g),
        kappa_(kappa),
        reach_(reach),
        shift_(shift),
        radial_(radial),
        nodes_(ruleOf(g.order)),
        quad_(ruleOf(std::max(g.order, kIntervalPoints))) {}

  // Laplace weights of panel q seen from node target (or point x).
  void laplace(int target, int q, Weights<T>& out) const {
    laplaceAt(g_.nodes[static_cast<std::size_t>(target)],
              g_.panelOf[static_cast<std::size_t>(target)] == q, q, out);
  }

  // The same for a point x, on panel q when `self`: the image of a node in the mirror.
  void laplaceAt(Vec2 x, bool self, int q, Weights<T>& out) const {
    const Panel& pq = g_.panels[static_cast<std::size_t>(q)];
    const int p = g_.order;
    const double dist = self ? 0.0 : distanceToPanel(x, pq);
    std::fill(out.sl.begin(), out.sl.end(), 0.0);
    std::fill(out.dl.begin(), out.dl.end(), 0.0);
    if (!self && dist > kNear * pq.length) {
      for (int j = 0; j < p; ++j) {
        const std::size_t u = static_cast<std::size_t>(pq.first + j);
        const double dx = g_.nodes[u].x - x.x, dy = g_.nodes[u].y - x.y;
        const double r2 = dx * dx + dy * dy;
        const double a = dx * g_.normals[u].x + dy * g_.normals[u].y;
        out.sl[static_cast<std::size_t>(j)] = -0.5 * std::log(r2) * g_.weights[u];
        out.dl[static_cast<std::size_t>(j)] = -a / r2 * g_.weights[u];
      }
      return;
    }
    const Offset o(x, pq, self);
    std::vector<Interval>& iv = scratch_;
    intervalsAround(pq.length, o, pq.length, std::numeric_limits<double>::infinity(),
                    std::numeric_limits<double>::infinity(), iv);
    overIntervals(pq, o, iv, out.basis.data(), [&](const IntervalPoint& at) {
      double g;
      if (at.in.singular != 0) {
        // -ln r = -ln|u| - ln(r/|u|) on the target's own panel: the product rule of the
        // end logarithm for the first, the plain rule for the smooth rest.
        g = -endLogWeight(at) - o.logRatio(at.u) * at.ws;
      } else {
        g = -std::log(at.r) * at.ws;
      }
      const double dg = -at.a / (at.r * at.r) * at.ws;
      for (int j = 0; j < p; ++j) {
        out.sl[static_cast<std::size_t>(j)] += g * out.basis[static_cast<std::size_t>(j)];
        out.dl[static_cast<std::size_t>(j)] += dg * out.basis[static_cast<std::size_t>(j)];
      }
    });
  }

  // Interior weights of panel q seen from node target; false when it is out of reach.
  bool helmholtz(int target, int q, Weights<T>& out) const {
    const Panel& pq = g_.panels[static_cast<std::size_t>(q)];
    const Vec2 x = g_.nodes[static_cast<std::size_t>(target)];
    const int p = g_.order;
    const double reach = reach_[static_cast<std::size_t>(pq.patch)];
    const bool self = g_.panelOf[static_cast<std::size_t>(target)] == q;
    const double dist = self ? 0.0 : distanceToPanel(x, pq);
    if (dist > reach) return false;
    const T kappa = kappa_[static_cast<std::size_t>(pq.patch)];
    const double kabs = std::abs(kappa);
    // The longest panel the plain rule of its own points, and the longest interval the
    // interval rule, integrates.
    const double resolved = kResolved * p / kabs;
    const double intervalCap = kResolved * quad_.n / kabs;
    const T beta = shift_[static_cast<std::size_t>(q)];
    const bool low = beta == beta;
    std::fill(out.sk.begin(), out.sk.end(), T(0.0));
    std::fill(out.dk.begin(), out.dk.end(), T(0.0));
    out.column = 0.0;
    // The kernel's values at distance r, across a = (y - x).n, times the weight ws.
    const auto sample = [&](double r, double a, double ws, T& single, T& normal) {
      const K01<T> kk = radial_[static_cast<std::size_t>(pq.patch)].at(r);
      single = kk.k0 * ws;
      normal = -kappa * kk.k1 * (a / r * ws);
      if (low) {
        const Regular<T> reg = regularPart(kappa, r);
        single -= beta * reg.i0 * ws;
        normal -= beta * kappa * reg.i1 * (a / r * ws);
        out.column += (reg.f - beta * kappa * reg.i1) * (a / r * ws);
      }
    };
    if (!self && dist > kNear * pq.length && pq.length <= resolved) {
      for (int j = 0; j < p; ++j) {
        const std::size_t u = static_cast<std::size_t>(pq.first + j);
        const double dx = g_.nodes[u].x - x.x, dy = g_.nodes[u].y - x.y;
        const double r = std::sqrt(dx * dx + dy * dy);
        sample(r, dx * g_.normals[u].x + dy * g_.normals[u].y, g_.weights[u],
               out.sk[static_cast<std::size_t>(j)], out.dk[static_cast<std::size_t>(j)]);
      }
      return true;
    }
    const Offset o(x, pq, self);
    std::vector<Interval>& iv = scratch_;
    const double singularSpan = kSplitArgument / kabs;
    intervalsAround(pq.length, o, std::min(singularSpan, pq.length), intervalCap, reach, iv);
    overIntervals(pq, o, iv, out.basis.data(), [&](const IntervalPoint& at) {
      const double r = at.r, a = at.a, ws = at.ws;
      T v, dv;
      if (at.in.singular == 0) {
        sample(r, a, ws, v, dv);
      } else {
        // On the target's own panel ln r = ln|u| + ln(r/|u|), and the product rule of the
        // end logarithm takes ln|u|: K0(kappa r) = -ln(r) I0(kappa r) + rest, and the
        // normal derivative dG/dn w K1(w) = dG/dn (1 - d1 + w I1(w) ln r), whose
        // logarithm a curved panel does not cancel (on a line dG/dn is 0 there).
        T i0, rest;
        splitK0(kappa, r, i0, rest);
        const Regular<T> reg = regularPart(kappa, r);
        const double wl = endLogWeight(at);
        const double ratio = o.logRatio(at.u);
        const double dgdn = -a / (r * r);
        const T wi1 = kappa * r * reg.i1;
        v = (rest - ratio * i0 - (low ? beta * i0 : T(0.0))) * ws - i0 * wl;
        dv = dgdn * (1.0 - reg.d1 + wi1 * ratio) * ws + dgdn * wi1 * wl;
        if (low) {
          dv -= beta * kappa * reg.i1 * (a / r * ws);
          out.column += -dgdn * (reg.d1 - wi1 * ratio) * ws + dgdn * wi1 * wl -
                        beta * kappa * reg.i1 * (a / r * ws);
        }
      }
      for (int j = 0; j < p; ++j) {
        out.sk[static_cast<std::size_t>(j)] += v * out.basis[static_cast<std::size_t>(j)];
        out.dk[static_cast<std::size_t>(j)] += dv * out.basis[static_cast<std::size_t>(j)];
      }
    });
    return true;
  }

  // Gauss-Legendre points per interval, at least (the panel's order when it is higher).
  static constexpr int kIntervalPoints = 16;
  // A target within this many panel lengths of a panel is integrated on intervals.
  static constexpr double kNear = 1.5;
  // Intervals and far panels for the interior kernel: at most this many times the order
  // over |kappa| long.
  static constexpr double kResolved = 0.4;
  // The logarithm's split interval at the target: |kappa| times its length at most this.
  static constexpr double kSplitArgument = 2.0;

 private:
  // A quadrature point of an interval: its offset u along the panel, the Jacobian ds/du,
  // the weight ws (ds included), the distance r from the target and a = (y - x).n.
  struct IntervalPoint {
    const Interval& in;
    std::size_t m;
    double half, u, jac, ws, r, a;
  };

  // Every quadrature point of the intervals `iv` of panel pq seen from the target through
  // `o`, with the panel's Lagrange basis there in `basis`.
  template <class Point>
  void overIntervals(const Panel& pq, const Offset& o, const std::vector<Interval>& iv,
                     double* basis, Point&& point) const {
    for (const Interval& in : iv) {
      const double half = 0.5 * (in.to - in.from), mid = 0.5 * (in.to + in.from);
      for (int m = 0; m < quad_.n; ++m) {
        const std::size_t um = static_cast<std::size_t>(m);
        const double u = mid + half * quad_.x[um];
        lagrangeAt(nodes_, 2.0 * (o.at + u) / pq.length - 1.0, basis);
        const double jac = o.jacobian(u);  // ds per unit of the panel's coordinate
        const double ws = half * quad_.w[um] * jac;
        double r, a;
        o.sample(u, r, a);
        point(IntervalPoint{in, um, half, u, jac, ws, r, a});
      }
    }
  }

  // The product rule's weight of ln|u| at a point of the interval that ends at the target.
  double endLogWeight(const IntervalPoint& at) const {
    const std::size_t um = at.m;
    return at.jac * at.half *
           (std::log(at.half) * quad_.w[um] +
            quad_.logEnd[at.in.singular < 0 ? um : static_cast<std::size_t>(quad_.n) - 1 - um]);
  }

  const Geometry& g_;
  const std::vector<T>& kappa_;
  const std::vector<double>& reach_;
  const std::vector<T>& shift_;
  const std::vector<RadialK01<T>>& radial_;  // per patch
  const Rule& nodes_;                        // the panel's own points
  const Rule& quad_;                         // the points of each interval
  mutable std::vector<Interval> scratch_;
};

// Corners: the end points of lines where the boundary of a conductor turns.
// The unit tangents of a line or curve at its start and end, and its end points.
struct Ends {
  Vec2 start, end, startTangent, endTangent;
};

Ends endsOf(const ProblemModel& model, const BoundaryElement& el) {
  const auto at = [&](int k) {
    const BasicPoint q =
        model.points[static_cast<std::size_t>(el.pointNumbers[static_cast<std::size_t>(k)])];
    return Vec2{q.x, q.y};
  };
  const auto unit = [](Vec2 v) {
    const double n = std::hypot(v.x, v.y);
    return Vec2{v.x / n, v.y / n};
  };
  Ends ends;
  ends.start = at(0);
  if (el.kind == kCurve) {
    Panel p;
    p.q0 = at(0);
    p.q1 = at(1);
    p.q2 = at(2);
    ends.end = p.q2;
    ends.startTangent = unit(curveDerivative(p, -1.0));
    ends.endTangent = unit(curveDerivative(p, 1.0));
  } else {
    ends.end = at(1);
    ends.startTangent = ends.endTangent =
        unit({ends.end.x - ends.start.x, ends.end.y - ends.start.y});
  }
  return ends;
}

// Corners: the end points of lines and curves where the boundary of a conductor turns.
std::vector<Vec2> cornersOf(const ProblemModel& model) {
  std::vector<Vec2> corners;
  for (int e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& el = model.elements[static_cast<std::size_t>(e)];
    if (el.kind == kCircle) continue;  // closed and smooth
    const Ends mine = endsOf(model, el);
    // The element that continues the boundary from this one's end.
    bool smooth = false;
    for (int f = 0; f < model.elementCount; ++f) {
      const BoundaryElement& next = model.elements[static_cast<std::size_t>(f)];
      if (f == e || next.kind == kCircle || next.conductor != el.conductor) continue;
      const Ends theirs = endsOf(model, next);
      if (std::hypot(theirs.start.x - mine.end.x, theirs.start.y - mine.end.y) > 1e-9 * el.length) {
        continue;
      }
      const Vec2 u = mine.endTangent, v = theirs.startTangent;
      smooth = std::fabs(u.x * v.y - u.y * v.x) < 1e-12 && u.x * v.x + u.y * v.y > 0.0;
      break;
    }
    if (!smooth) corners.push_back(mine.end);
  }
  return corners;
}

// The elements as shapes for distances: segments and whole circles.
struct Shape {
  int conductor = 0;
  bool circle = false;
  Vec2 a, b;  // segment ends, or the centre in a
  double radius = 0.0;
};

double distanceToShape(Vec2 x, const Shape& s) {
  if (!s.circle) return distanceToSegment(x, s.a, s.b);
  return std::fabs(std::hypot(x.x - s.a.x, x.y - s.a.y) - s.radius);
}

// The distance of a panel from a shape of another conductor (they do not meet): exact for
// a segment against a segment or a circle; from 17 points of an arc, less half their
// spacing, otherwise.
double distancePanelToShape(const Panel& p, const Shape& s) {
  if (!p.arc && !p.curve) {
    const Vec2 a = p.a, b = pointOn(p, p.length);
    if (s.circle) return std::max(0.0, distanceToSegment(s.a, a, b) - s.radius);
    return std::min({distanceToSegment(a, s.a, s.b), distanceToSegment(b, s.a, s.b),
                     distanceToSegment(s.a, a, b), distanceToSegment(s.b, a, b)});
  }
  double d = std::numeric_limits<double>::infinity();
  for (int k = 0; k <= 16; ++k)
    d = std::min(d, distanceToShape(pointOn(p, p.length * k / 16.0), s));
  return std::max(0.0, d - p.length / 32.0);
}

Geometry layOutPanels(const ProblemModel& model, const PanelSettings& settings, double hMin) {
  Geometry g;
  g.order = settings.order;
  std::vector<Vec2> corners = cornersOf(model);
  // With the mirror, the images of the corners grade the panels near y = 0 as well.
  if (model.symmetryOn) {
    const std::size_t own = corners.size();
    for (std::size_t c = 0; c < own; ++c) corners.push_back({corners[c].x, -corners[c].y});
  }
  std::vector<Shape> shapes;
  for (int e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& el = model.elements[static_cast<std::size_t>(e)];
    const BasicPoint a = model.points[static_cast<std::size_t>(el.pointNumbers[0])];
    Shape shape;
    shape.conductor = el.conductor;
    shape.a = {a.x, a.y};
    std::vector<Shape> own;
    if (el.kind == kCircle) {
      shape.circle = true;
      shape.radius = el.R;
      own.push_back(shape);
    } else if (el.kind == kCurve) {
      // A curve as 16 chords: close enough to grade by.
      Panel curve;
      curve.q0 = shape.a;
      const BasicPoint q1 = model.points[static_cast<std::size_t>(el.pointNumbers[1])];
      const BasicPoint q2 = model.points[static_cast<std::size_t>(el.pointNumbers[2])];
      curve.q1 = {q1.x, q1.y};
      curve.q2 = {q2.x, q2.y};
      for (int k = 0; k < 16; ++k) {
        shape.a = curvePoint(curve, -1.0 + k / 8.0);
        shape.b = curvePoint(curve, -1.0 + (k + 1) / 8.0);
        own.push_back(shape);
      }
    } else {
      const BasicPoint b = model.points[static_cast<std::size_t>(el.pointNumbers[1])];
      shape.b = {b.x, b.y};
      own.push_back(shape);
    }
    for (Shape& piece : own) {
      shapes.push_back(piece);
      // With the mirror, the image of every conductor is another conductor.
      if (model.symmetryOn) {
        piece.conductor = -1;
        piece.a.y = -piece.a.y;
        piece.b.y = -piece.b.y;
        shapes.push_back(piece);
      }
    }
  }
  const Rule& rule = ruleOf(g.order);
  for (int e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& el = model.elements[static_cast<std::size_t>(e)];
    // The element as one panel over its whole length, to be cut.
    Panel whole;
    whole.conductor = el.conductor;
    whole.patch = el.patch;
    whole.element = e;
    const BasicPoint a = model.points[static_cast<std::size_t>(el.pointNumbers[0])];
    std::vector<std::array<double, 2>> stack, pieces;
    if (el.kind == kCircle) {
      // From the angle pi (the parameter's start), counter-clockwise when `dir`; first
      // cut into equal arcs of at most spread pi/16.
      whole.arc = true;
      whole.centre = {a.x, a.y};
      whole.radius = el.R;
      whole.theta0 = el.dir ? -kPiFull : kPiFull;
      whole.turn = el.dir ? 2.0 * kPiFull : -2.0 * kPiFull;
      whole.length = 2.0 * kPiFull * el.R;
      const int arcs = std::max(4, static_cast<int>(std::ceil(32.0 / settings.spread)));
      for (int k = arcs - 1; k >= 0; --k) {
        stack.push_back({whole.length * k / arcs, whole.length * (k + 1) / arcs});
      }
    } else if (el.kind == kCurve) {
      const BasicPoint q1 = model.points[static_cast<std::size_t>(el.pointNumbers[1])];
      const BasicPoint q2 = model.points[static_cast<std::size_t>(el.pointNumbers[2])];
      whole.curve = true;
      whole.q0 = {a.x, a.y};
      whole.q1 = {q1.x, q1.y};
      whole.q2 = {q2.x, q2.y};
      whole.length = el.length;
      stack.push_back({0.0, el.length});
    } else {
      const BasicPoint b = model.points[static_cast<std::size_t>(el.pointNumbers[1])];
      whole.a = {a.x, a.y};
      whole.e = {(b.x - a.x) / el.length, (b.y - a.y) / el.length};
      whole.n = {-whole.e.y, whole.e.x};
      whole.length = el.length;
      stack.push_back({0.0, el.length});
    }
    // The piece [s0, s1] of the element as a panel of its own.
    const auto piece = [&](double s0, double s1) {
      Panel p = whole;
      if (p.arc) {
        p.theta0 = whole.theta0 + whole.turn * s0 / whole.length;
        p.turn = whole.turn * (s1 - s0) / whole.length;
      } else if (p.curve) {
        p.t0 = -1.0 + 2.0 * s0 / whole.length;
        p.t1 = -1.0 + 2.0 * s1 / whole.length;
      } else {
        p.a = pointOn(whole, s0);
      }
      p.length = s1 - s0;
      return p;
    };
    // Halve pieces until none is longer than spread times its distance from the nearest
    // corner or other conductor (and than the smallest panel).
    while (!stack.empty()) {
      const auto [s0, s1] = stack.back();
      stack.pop_back();
      const Panel p = piece(s0, s1);
      const Vec2 p0 = pointOn(p, 0.0), p1 = pointOn(p, p.length);
      double dist = std::numeric_limits<double>::infinity();
      bool atStart = false, atEnd = false;
      const double touch = 1e-12 * whole.length;
      for (const Vec2& c : corners) {
        dist = std::min(dist, distanceToPanel(c, p));
        atStart = atStart || std::hypot(c.x - p0.x, c.y - p0.y) < touch;
        atEnd = atEnd || std::hypot(c.x - p1.x, c.y - p1.y) < touch;
      }
      // The distance from the other conductors: the field between conductors varies on
      // the scale of their gap even where no corner is near (a round wire over a plane).
      for (const Shape& other : shapes) {
        if (other.conductor != el.conductor) dist = std::min(dist, distancePanelToShape(p, other));
      }
      const double len = s1 - s0;
      if (len > std::max(settings.spread * dist, hMin)) {
        // A panel at one corner is split where its outer part just meets the spread: the
        // panels grow from the corner by 1 + spread.
        double mid = 0.5 * (s0 + s1);
        if (atStart != atEnd) {
          mid = atStart ? s0 + len / (1.0 + settings.spread) : s1 - len / (1.0 + settings.spread);
        }
        stack.push_back({mid, s1});
        stack.push_back({s0, mid});
      } else {
        pieces.push_back({s0, s1});
      }
    }
    for (const auto& [s0, s1] : pieces) {
      Panel p = piece(s0, s1);
      p.first = static_cast<int>(g.nodes.size());
      for (int j = 0; j < g.order; ++j) {
        const double s = 0.5 * p.length * (1.0 + rule.x[static_cast<std::size_t>(j)]);
        g.nodes.push_back(pointOn(p, s));
        g.normals.push_back(normalOn(p, s));
        g.weights.push_back(0.5 * p.length * rule.w[static_cast<std::size_t>(j)] *
                            jacobianOn(p, s));
        g.panelOf.push_back(static_cast<int>(g.panels.size()));
      }
      g.panels.push_back(p);
    }
  }
  return g;
}

// Far below the skin effect (or with a penetration depth far beyond the conductor) the
// conductor's constant C grows like 1/k^2 and the inductance is the small real remainder
// of it. The kernel's constant near its source, -ln(kappa/2) - gamma, is then complex for a
// metal and carries the discretisation error of the static problem into that remainder.
// Any fundamental solution serves, so the kernel becomes K0(kappa r) - beta I0(kappa r) with
// beta = -ln(kappa/2) - gamma - ln D - 1: near its source -ln(r/D) + 1, real, with D the
// conductor's size (the 1 keeps the static single layer away from its logarithmic
// degeneracy). Used per panel where |kappa| D <= 1, so that I0 stays near 1; elsewhere the
// shift is not a number and the plain kernel is used.
template <class T>
std::vector<T> lowFrequencyShifts(const Geometry& g, const std::vector<T>& kappa) {
  std::array<Box, kMaxConductorNumber + 1> box;
  std::array<bool, kMaxConductorNumber + 1> seen{};
  for (const Panel& p : g.panels) {
    const std::size_t c = static_cast<std::size_t>(p.conductor);
    // A line's ends, or the box of an arc's whole circle.
    Vec2 lo = p.arc ? Vec2{p.centre.x - p.radius, p.centre.y - p.radius} : pointOn(p, 0.0);
    Vec2 hi = p.arc ? Vec2{p.centre.x + p.radius, p.centre.y + p.radius} : pointOn(p, p.length);
    if (p.curve) {
      for (int k = 1; k < 8; ++k) {
        const Vec2 q = pointOn(p, p.length * k / 8.0);
        lo = {std::min(lo.x, q.x), std::min(lo.y, q.y)};
        hi = {std::max(hi.x, q.x), std::max(hi.y, q.y)};
      }
    }
    if (!seen[c]) box[c] = {lo.x, lo.x, lo.y, lo.y};
    seen[c] = true;
    box[c].xmin = std::min({box[c].xmin, lo.x, hi.x});
    box[c].xmax = std::max({box[c].xmax, lo.x, hi.x});
    box[c].ymin = std::min({box[c].ymin, lo.y, hi.y});
    box[c].ymax = std::max({box[c].ymax, lo.y, hi.y});
  }
  std::vector<T> shift(g.panels.size(), T(std::numeric_limits<double>::quiet_NaN()));
  for (std::size_t i = 0; i < g.panels.size(); ++i) {
    const Panel& p = g.panels[i];
    const Box& b = box[static_cast<std::size_t>(p.conductor)];
    const double size = std::hypot(b.xmax - b.xmin, b.ymax - b.ymin);
    const T k = kappa[static_cast<std::size_t>(p.patch)];
    if (std::abs(k) * size <= 1.0) shift[i] = -std::log(k * 0.5) - kEuler - std::log(size) - 1.0;
  }
  return shift;
}

// Solves A X = B with A stored by rows (the fill writes rows): LAPACK factorises the
// transpose it sees and solves with it transposed back.
void solveByRows(double* a, std::vector<double>& b, int n, int nrhs) {
  std::vector<int> pivots(static_cast<std::size_t>(n));
  int info = 0;
  dgetrf_(&n, &n, a, &n, pivots.data(), &info);
  if (info != 0) throw std::runtime_error("panel system is singular");
  dgetrs_("T", &n, &nrhs, a, &n, pivots.data(), b.data(), &n, &info, 1);
}

void solveByRows(Complex* a, std::vector<Complex>& b, int n, int nrhs) {
  std::vector<int> pivots(static_cast<std::size_t>(n));
  int info = 0;
  zgetrf_(&n, &n, a, &n, pivots.data(), &info);
  if (info != 0) throw std::runtime_error("panel system is singular");
  zgetrs_("T", &n, &nrhs, a, &n, pivots.data(), b.data(), &n, &info, 1);
}

template <class T>
PanelSolution assembleAndSolve(const ProblemModel& model, const Geometry& g, int threads) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const int p = g.order;
  const int nodes = static_cast<int>(g.nodes.size());
  const bool hasReturn = model.hasReturnConductor();
  const int z = hasReturn ? 1 : 0;
  const int conductors = model.conductorCount;
  const int n = 2 * nodes + conductors + z;
  const auto slot = [&](int c) { return 2 * nodes + c - 1 + z; };
  std::vector<T> kappa(static_cast<std::size_t>(model.patchCount));
  std::vector<double> reach(static_cast<std::size_t>(model.patchCount));
  std::vector<double> mu(static_cast<std::size_t>(model.patchCount));
  for (int i = 0; i < model.patchCount; ++i) {
    const std::size_t u = static_cast<std::size_t>(i);
    const Complex k = kappaOf(model.patches[u].k);
    kappa[u] = toScalar<T>(k);
    reach[u] = kReachArgument / k.real();
    mu[u] = model.patches[u].mu;
  }
  const std::vector<T> shift = lowFrequencyShifts(g, kappa);
  const std::vector<RadialK01<T>> radial(kappa.begin(), kappa.end());
  // Zeroed pages straight from the allocator: the system is large and mostly overwritten.
  // All bits zero is 0.0, and std::complex<double> has the layout of two doubles.
  const std::unique_ptr<T, void (*)(void*)> matrix(
      static_cast<T*>(
          std::calloc(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), sizeof(T))),
      std::free);
  if (!matrix) throw std::bad_alloc();
  T* const a = matrix.get();
  const auto at = [&](int row, int col) -> T& {
    return a[static_cast<std::size_t>(row) * static_cast<std::size_t>(n) +
             static_cast<std::size_t>(col)];
  };
  const int panelCount = static_cast<int>(g.panels.size());
  const bool mirror = model.symmetryOn;
  // Small systems in one thread: the threads' start costs more than it saves. Measured on
  // two idle cores, the copper microstrip's levels 0 to 2 (128 to 384 points): 0.11 s in
  // one thread, 0.075 s in two (and the BLAS in two from 600 unknowns).
  const int team = threads > 0 ? threads : omp_get_max_threads();
#pragma omp parallel if (nodes >= 100) num_threads(team)
  {
    Assembler<T> assembler(g, kappa, reach, shift, radial);
    Weights<T> w(p), image(p);
#pragma omp for schedule(dynamic, 8)
    for (int i = 0; i < nodes; ++i) {
      const int ownPanel = g.panelOf[static_cast<std::size_t>(i)];
      const Panel& own = g.panels[static_cast<std::size_t>(ownPanel)];
      const Vec2 x = g.nodes[static_cast<std::size_t>(i)];
      T interiorResponse = 0.0;  // the interior double layer's response to u = 1
      T column = 0.0;            // the same from the difference of the kernels
      for (int q = 0; q < panelCount; ++q) {
        const Panel& pq = g.panels[static_cast<std::size_t>(q)];
        assembler.laplace(i, q, w);
        if (mirror) {
          // The odd image in y = 0: the exterior kernels seen from the mirrored node are
          // subtracted (a node on the mirror line is its own image there).
          assembler.laplaceAt({x.x, -x.y}, q == ownPanel && x.y == 0.0, q, image);
          for (int j = 0; j < p; ++j) {
            const std::size_t u = static_cast<std::size_t>(j);
            w.sl[u] -= image.sl[u];
            w.dl[u] -= image.dl[u];
          }
        }
        for (int j = 0; j < p; ++j) {
          const std::size_t u = static_cast<std::size_t>(j);
          at(i, pq.first + j) += w.dl[u];
          at(i, nodes + pq.first + j) -= w.sl[u];
        }
        if (pq.conductor != own.conductor || !assembler.helmholtz(i, q, w)) continue;
        const double m = mu[static_cast<std::size_t>(pq.patch)];
        for (int j = 0; j < p; ++j) {
          const std::size_t u = static_cast<std::size_t>(j);
          at(nodes + i, pq.first + j) -= w.dk[u];
          at(nodes + i, nodes + pq.first + j) += m * w.sk[u];
          interiorResponse += w.dk[u];
        }
        column += w.column;
      }
      at(i, i) += kPiFull;
      at(nodes + i, i) += kPiFull;
      // The conductor column: minus the interior row's response to a uniform u. The free
      // term and the exterior double layer of the closed boundary cancel (both pi), so at
      // low frequency, where the response is a small k^2 remainder of them, it is taken from
      // the integral of the kernels' difference instead of the sum.
      const T beta = shift[static_cast<std::size_t>(ownPanel)];
      at(nodes + i, slot(own.conductor)) = beta == beta ? column : -(kPiFull - interiorResponse);
    }
  }
  for (int i = 0; i < nodes; ++i) {
    const Panel& own = g.panels[static_cast<std::size_t>(g.panelOf[static_cast<std::size_t>(i)])];
    at(slot(own.conductor), nodes + i) = g.weights[static_cast<std::size_t>(i)];
  }
  const Clock::time_point filled = Clock::now();
  std::vector<T> b(static_cast<std::size_t>(n) * static_cast<std::size_t>(conductors), T(0.0));
  for (int c = 1; c <= conductors; ++c) {
    const std::size_t col = static_cast<std::size_t>(c - 1) * static_cast<std::size_t>(n);
    b[col + static_cast<std::size_t>(slot(c))] = 1.0;
    if (hasReturn) b[col + static_cast<std::size_t>(slot(0))] = -1.0;
  }
  {
    const BlasSession blas(n < 600 ? 1 : threads);
    solveByRows(a, b, n, conductors);
  }
  const Clock::time_point solved = Clock::now();

  PanelSolution out;
  out.matrix = ConductorMatrix(conductors);
  for (int c = 1; c <= conductors; ++c) {
    const std::size_t col = static_cast<std::size_t>(c - 1) * static_cast<std::size_t>(n);
    for (int r = 1; r <= conductors; ++r) {
      Complex v = Complex(b[col + static_cast<std::size_t>(slot(r))]);
      if (hasReturn) v -= Complex(b[col + static_cast<std::size_t>(slot(0))]);
      out.matrix(r, c) =
          model.phaseVariables ? v * 0.4 * kPi : v * Complex(0.0, model.omega) * 0.4 * kPi;
    }
  }
  // The boundary solution at every point, element by element as the node grids report it.
  out.excitations.resize(static_cast<std::size_t>(conductors));
  for (int c = 1; c <= conductors; ++c) {
    Excitation& excitation = out.excitations[static_cast<std::size_t>(c - 1)];
    excitation.conductor = c;
    excitation.nodes.reserve(static_cast<std::size_t>(nodes));
    const std::size_t col = static_cast<std::size_t>(c - 1) * static_cast<std::size_t>(n);
    int element = -1, count = 0;
    for (int i = 0; i < nodes; ++i) {
      const std::size_t u = static_cast<std::size_t>(i);
      const Panel& own = g.panels[static_cast<std::size_t>(g.panelOf[u])];
      count = own.element == element ? count + 1 : 1;
      element = own.element;
      NodeValue v;
      v.element = own.element;
      v.node = count;
      v.x = g.nodes[u].x;
      v.y = g.nodes[u].y;
      v.conductor = own.conductor;
      v.field = Complex(b[col + u]);
      v.normalDerivative = Complex(b[col + static_cast<std::size_t>(nodes) + u]);
      v.currentDensity = v.normalDerivative / model.lengthScale;
      v.outlineShareM = g.weights[u] * model.lengthScale;
      excitation.nodes.push_back(v);
    }
  }
  out.unknowns = n;
  out.panels = panelCount;
  out.real = std::is_same_v<T, double>;
  out.fillSeconds = std::chrono::duration<double>(filled - start).count();
  out.solveSeconds = std::chrono::duration<double>(solved - filled).count();
  return out;
}

}  // namespace

BesselK01 besselK01(Complex w) {
  const K01<Complex> k = kernelK01<Complex>(w);
  return {k.k0, k.k1};
}

void gaussLegendre(int n, std::vector<double>& x, std::vector<double>& w) {
  legendreRule(n, x, w);
}

std::vector<double> logEndWeights(int n) {
  std::vector<double> x, w;
  legendreRule(n, x, w);
  // Moments of ln(1 + x) against the Legendre polynomials: 2 ln 2 - 2 for P0 and
  // (-1)^(k+1) 2 / (k (k + 1)) for P_k, k >= 1.
  std::vector<double> moment(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) {
    moment[static_cast<std::size_t>(k)] =
        k == 0 ? 2.0 * std::log(2.0) - 2.0 : ((k % 2) ? 2.0 : -2.0) / (k * (k + 1.0));
  }
  std::vector<double> out(static_cast<std::size_t>(n));
  for (int m = 0; m < n; ++m) {
    const double xm = x[static_cast<std::size_t>(m)];
    double p0 = 1.0, p1 = xm, sum = 0.5 * moment[0];
    if (n > 1) sum += 1.5 * moment[1] * p1;
    for (int k = 2; k < n; ++k) {
      const double p2 = ((2.0 * k - 1.0) * xm * p1 - (k - 1.0) * p0) / k;
      p0 = p1;
      p1 = p2;
      sum += 0.5 * (2.0 * k + 1.0) * moment[static_cast<std::size_t>(k)] * p2;
    }
    out[static_cast<std::size_t>(m)] = sum * w[static_cast<std::size_t>(m)];
  }
  return out;
}

PanelWeights panelWeights(Vec2 a, Vec2 b, int order, Vec2 target, Complex k) {
  Geometry g;
  g.order = order;
  Panel p;
  p.a = a;
  p.length = std::hypot(b.x - a.x, b.y - a.y);
  p.e = {(b.x - a.x) / p.length, (b.y - a.y) / p.length};
  p.n = {-p.e.y, p.e.x};
  g.panels.push_back(p);
  const Rule& rule = ruleOf(order);
  for (int j = 0; j < order; ++j) {
    const double s = 0.5 * p.length * (1.0 + rule.x[static_cast<std::size_t>(j)]);
    g.nodes.push_back({a.x + p.e.x * s, a.y + p.e.y * s});
    g.normals.push_back(p.n);
    g.weights.push_back(0.5 * p.length * rule.w[static_cast<std::size_t>(j)]);
    g.panelOf.push_back(0);
  }
  // The target as one more point, on the panel when it lies on it.
  g.nodes.push_back(target);
  g.panelOf.push_back(distanceToSegment(target, a, b) < 1e-14 * p.length ? 0 : -1);
  const std::vector<Complex> kappa{kappaOf(k)};
  const std::vector<double> reach{kReachArgument / kappa[0].real()};
  const std::vector<Complex> plain(1, Complex(std::numeric_limits<double>::quiet_NaN()));
  const std::vector<RadialK01<Complex>> radial(kappa.begin(), kappa.end());
  const Assembler<Complex> assembler(g, kappa, reach, plain, radial);
  Weights<Complex> w(order);
  assembler.laplace(order, 0, w);
  PanelWeights out;
  out.laplaceSingle = w.sl;
  out.laplaceDouble = w.dl;
  if (!assembler.helmholtz(order, 0, w)) {
    std::fill(w.sk.begin(), w.sk.end(), Complex(0.0));
    std::fill(w.dk.begin(), w.dk.end(), Complex(0.0));
  }
  out.interiorSingle = w.sk;
  out.interiorDouble = w.dk;
  return out;
}

PanelSettings panelLevel(int level) {
  PanelSettings s;
  s.order = 4 + 2 * level;
  s.spread = level <= 1 ? 8.0 : 4.0;
  s.smallest = 3.0 * std::ldexp(1.0, -std::max(0, level - 1));
  return s;
}

PanelSolution solveOnPanels(const ProblemModel& model, const PanelSettings& settings, int threads) {
  if (settings.order < 2 || settings.order > 60) {
    throw std::invalid_argument("panel order must lie between 2 and 60");
  }
  bool real = true;
  double depth = std::numeric_limits<double>::infinity();
  double shortest = std::numeric_limits<double>::infinity();
  for (int e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& el = model.elements[static_cast<std::size_t>(e)];
    if (el.tFrom != -1.0 || el.tTo != 1.0) {
      throw std::invalid_argument("panels: element " + std::to_string(e) +
                                  " is a piece of a shape (only whole elements are panelled)");
    }
    if (model.symmetryOn) {
      const double radius = el.kind == kCircle ? el.R : 0.0;
      for (int end = 0; end < (el.kind == kCircle ? 1 : el.kind == kCurve ? 3 : 2); ++end) {
        if (model.points[static_cast<std::size_t>(el.pointNumbers[end])].y - radius < -kTiny) {
          throw std::invalid_argument("panels: element " + std::to_string(e) +
                                      " reaches below the symmetry line y = 0");
        }
      }
    }
    const Complex k = model.patches[static_cast<std::size_t>(el.patch)].k;
    if (!(std::abs(k) > 0.0)) {
      throw std::invalid_argument("panels: patch " + std::to_string(el.patch) +
                                  " has no field depth (k = 0)");
    }
    const Complex kappa = kappaOf(k);
    real = real && kappa.imag() == 0.0;
    depth = std::min(depth, 1.0 / kappa.real());
    shortest = std::min(shortest, el.length);
  }
  for (int c = 1; c <= model.conductorCount; ++c) {
    if (model.conductors[static_cast<std::size_t>(c)].n_memb == 0) {
      throw std::invalid_argument("panels: conductor " + std::to_string(c) + " has no element");
    }
  }
  const Geometry g = layOutPanels(model, settings, settings.smallest * std::min(depth, shortest));
  return real ? assembleAndSolve<double>(model, g, threads)
              : assembleAndSolve<Complex>(model, g, threads);
}

namespace {

double largestDifference(const ConductorMatrix& a, const ConductorMatrix& b) {
  double scale = 0.0;
  for (int r = 1; r <= b.size(); ++r) {
    for (int c = 1; c <= b.size(); ++c) scale = std::max(scale, std::abs(b(r, c)));
  }
  double worst = 0.0;
  const auto part = [&](double x, double y) {
    if (std::fabs(y) > 1e-9 * scale) worst = std::max(worst, std::fabs(x / y - 1.0));
  };
  for (int r = 1; r <= b.size(); ++r) {
    for (int c = 1; c <= b.size(); ++c) {
      part(a(r, c).real(), b(r, c).real());
      part(a(r, c).imag(), b(r, c).imag());
    }
  }
  return worst;
}

}  // namespace

PanelRun solveOnPanelsTo(const ProblemModel& model, double tolerance, int firstLevel,
                         int lastLevel) {
  PanelRun run;
  run.level = firstLevel;
  run.solution = solveOnPanels(model, panelLevel(firstLevel));
  run.estimate = std::numeric_limits<double>::infinity();
  for (int level = firstLevel + 1; level <= lastLevel; ++level) {
    PanelSolution finer = solveOnPanels(model, panelLevel(level));
    run.estimate = largestDifference(run.solution.matrix, finer.matrix);
    run.solution = std::move(finer);
    run.level = level;
    if (run.estimate <= tolerance) {
      run.met = true;
      break;
    }
  }
  return run;
}

}  // namespace qbr
