#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "bem/hankel.hpp"
#include "model/geometry.hpp"
#include "bem/node_integrals.hpp"

namespace qbr {
namespace {

constexpr double kTruePi = std::numbers::pi;

ElementGeometry makeGeometry(BoundaryElement element, const std::vector<Vec2>& pts) {
  PointTable points{};
  for (std::size_t i = 0; i < pts.size(); ++i) points[i] = {pts[i].x, pts[i].y};
  computeLength(element, points);
  return element.geometry(points);
}

ElementGeometry line(Vec2 a, Vec2 b) {
  BoundaryElement e;
  e.kind = kLine;
  e.pointNumbers = {0, 1, 0};
  return makeGeometry(e, {a, b});
}

ElementGeometry curve(Vec2 a, Vec2 mid, Vec2 b) {
  BoundaryElement e;
  e.kind = kCurve;
  e.pointNumbers = {0, 1, 2};
  return makeGeometry(e, {a, mid, b});
}

ElementGeometry circle(Vec2 centre, double radius) {
  BoundaryElement e;
  e.kind = kCircle;
  e.pointNumbers = {0, 0, 0};
  e.R = radius;
  e.dir = true;
  return makeGeometry(e, {centre});
}

// Node parameters as the grids place them, slot 0 unused.
std::vector<double> openGrid(int n) {
  std::vector<double> t(static_cast<std::size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) t[static_cast<std::size_t>(i)] = -1.0 + (2.0 * i - 1.0) / n;
  return t;
}

std::vector<double> circleGrid(int n) {
  std::vector<double> t(static_cast<std::size_t>(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) t[static_cast<std::size_t>(i)] = -1.0 + 2.0 * i / n;
  return t;
}

// The shape function of node j as a piecewise linear list of (t, value) knots. On a
// circle the last node's hat is centred at t = 1 and continues past it to s1 + 2.
struct Knot {
  double t, v;
};
std::vector<Knot> shapeKnots(const std::vector<double>& s, int j, bool open) {
  const int n = static_cast<int>(s.size()) - 1;
  auto at = [&s](int i) { return s[static_cast<std::size_t>(i)]; };
  if (open && j == 1) return {{-1, 1}, {at(1), 1}, {at(2), 0}};
  if (open && j == n) return {{at(n - 1), 0}, {at(n), 1}, {1, 1}};
  if (j == 1) return {{-1, 0}, {at(1), 1}, {at(2), 0}};
  if (j == n) return {{at(n - 1), 0}, {1, 1}, {at(1) + 2.0, 0}};
  return {{at(j - 1), 0}, {at(j), 1}, {at(j + 1), 0}};
}

// Tanh-sinh quadrature of f(t, distance to a, distance to b) over [a, b]; the distances
// are passed exactly so that logarithmic end-point singularities are integrated to
// near machine precision.
double tanhSinh(double a, double b, const std::function<double(double, double, double)>& f) {
  const double h = 1.0 / 64.0;
  const double half = (b - a) / 2.0;
  double sum = 0.0;
  for (int k = -256; k <= 256; ++k) {
    const double s = k * h;
    const double y = kTruePi / 2.0 * std::sinh(s);
    const double w = kTruePi / 2.0 * std::cosh(s) / (std::cosh(y) * std::cosh(y));
    const double dA = half * 2.0 / (std::exp(-2.0 * y) + 1.0);
    const double dB = half * 2.0 / (std::exp(2.0 * y) + 1.0);
    if (w == 0.0 || dA == 0.0 || dB == 0.0) continue;
    sum += w * f(k < 0 ? a + dA : b - dB, dA, dB);
  }
  return sum * h * half;
}

// The integral of g(t, |t - tau|) times the shape function, split at the knots and at tau.
double integrateAgainstShape(const std::vector<Knot>& knots, double tau,
                             const std::function<double(double, double)>& g) {
  double total = 0.0;
  for (std::size_t k = 0; k + 1 < knots.size(); ++k) {
    const Knot lo = knots[k];
    const Knot hi = knots[k + 1];
    std::vector<double> cuts{lo.t};
    if (tau > lo.t && tau < hi.t) cuts.push_back(tau);
    cuts.push_back(hi.t);
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
      const double p = cuts[c];
      const double q = cuts[c + 1];
      total += tanhSinh(p, q, [&](double t, double dA, double dB) {
        const double d = p == tau ? dA : q == tau ? dB : std::fabs(t - tau);
        return g(t, d) * (lo.v + (hi.v - lo.v) * (t - lo.t) / (hi.t - lo.t));
      });
    }
  }
  return total;
}

KernelContext at(double x0, double y0, Complex k = {}, bool symmetry = false) {
  KernelContext ctx;
  ctx.x0 = x0;
  ctx.y0 = y0;
  ctx.k = k;
  ctx.symmetryOn = symmetry;
  return ctx;
}

// Power series of J0, Y0 and J1 at complex z (|z| up to about 5), as an independent
// reference for the Hankel functions at complex argument.
struct SeriesBessel {
  Complex j0, y0, j1;
};
SeriesBessel besselSeries(Complex z) {
  const Complex q = z * z / 4.0;
  Complex term = 1.0;  // (-q)^m / (m!)^2
  Complex j0 = 0.0, ySum = 0.0, j1 = 0.0;
  double harmonic = 0.0;
  for (int m = 0; m < 60; ++m) {
    if (m > 0) {
      term *= -q / (static_cast<double>(m) * m);
      harmonic += 1.0 / m;
    }
    j0 += term;
    ySum -= harmonic * term;
    j1 += term / (m + 1.0);
  }
  const double euler = std::numbers::egamma;
  return {j0, 2.0 / kTruePi * ((std::log(z / 2.0) + euler) * j0 + ySum), z / 2.0 * j1};
}

TEST(NodeIntegrals, UnitKindIntegratesTheShapeFunction) {
  const KernelContext ctx;
  const ElementGeometry open = line({0, 0}, {3, 1});
  const ElementGeometry ring = circle({0, 0}, 2.0);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_NEAR(nodeIntegral(ctx, open, openGrid(3), j, IntegralKind::Unit, 0).real(), 2.0 / 3.0,
                1e-12);
    EXPECT_NEAR(nodeIntegral(ctx, ring, circleGrid(3), j, IntegralKind::Unit, 0).real(), 2.0 / 3.0,
                1e-12);
  }
  for (int n : {4, 5, 7, 12, 500}) {
    double openSum = 0.0;
    double ringSum = 0.0;
    for (int j = 1; j <= n; ++j) {
      const Complex a = nodeIntegral(ctx, open, openGrid(n), j, IntegralKind::Unit, 0);
      const Complex b = nodeIntegral(ctx, ring, circleGrid(n), j, IntegralKind::Unit, 0);
      EXPECT_EQ(a.imag(), 0.0);
      openSum += a.real();
      ringSum += b.real();
    }
    EXPECT_NEAR(openSum, 2.0, 1e-11) << n;
    EXPECT_NEAR(ringSum, 2.0, 1e-11) << n;
  }
}

TEST(NodeIntegrals, LogIntegralWorkedValues) {
  const ElementGeometry open = line({0, 0}, {1, 0});
  const std::vector<double> s = openGrid(5);  // spacing h = 0.4
  const double h = 0.4;
  EXPECT_NEAR(nodeLogIntegral(open, s, 3, s[3]), h * std::log(h) - 1.5 * h, 1e-14);
  EXPECT_NEAR(nodeLogIntegral(open, s, 1, s[1]),
              (1 + s[1]) * (std::log(1 + s[1]) - 1) + 0.5 * h * std::log(h) - 0.75 * h, 1e-14);
  // Unit spacing: the middle node of a hat over [-1, 1].
  EXPECT_NEAR(nodeLogIntegral(open, {0, -1, 0, 1}, 2, 0.0), -1.5, 1e-15);
}

TEST(NodeIntegrals, LogIntegralMatchesIndependentQuadrature) {
  const auto logOf = [](double, double d) { return std::log(d); };
  for (const bool isOpen : {true, false}) {
    const ElementGeometry geometry = isOpen ? line({0, 0}, {1, 0}) : circle({0, 0}, 1);
    for (int n : {3, 6}) {
      const std::vector<double> s = isOpen ? openGrid(n) : circleGrid(n);
      std::vector<double> taus{-1.0, 1.0, 0.123, 2.5, -3.0};
      for (int i = 1; i <= n; ++i) taus.push_back(s[static_cast<std::size_t>(i)]);
      for (int i = 1; i < n; ++i)
        taus.push_back(0.5 * (s[static_cast<std::size_t>(i)] + s[static_cast<std::size_t>(i + 1)]));
      for (int j = 1; j <= n; ++j) {
        for (double tau : taus) {
          // On a circle the last node's pieces see tau - 2 beyond the wrap; the knots above
          // run past t = 1 instead, which is the same distance.
          const double expected = integrateAgainstShape(shapeKnots(s, j, isOpen), tau, logOf);
          EXPECT_NEAR(nodeLogIntegral(geometry, s, j, tau), expected, 1e-13)
              << (isOpen ? "open" : "circle") << " n=" << n << " j=" << j << " tau=" << tau;
        }
      }
    }
  }
}

TEST(NodeIntegrals, LaplaceIntegralsMatchFineQuadratureOnEveryElementKind) {
  const std::vector<ElementGeometry> shapes{line({0, 0}, {2, 1}), curve({0, 0}, {1, 1}, {2, 0}),
                                            circle({0.5, 0.2}, 0.8)};
  const KernelContext ctx = at(0.7, 2.3);
  for (std::size_t k = 0; k < shapes.size(); ++k) {
    const ElementGeometry& g = shapes[k];
    const int n = 7;
    const std::vector<double> s = g.hasEndPoints() ? openGrid(n) : circleGrid(n);
    for (int j = 1; j <= n; ++j) {
      const auto knots = shapeKnots(s, j, g.hasEndPoints());
      const double single = integrateAgainstShape(knots, 10.0, [&](double t, double) {
        const Vec2 p = g.pointAt(t);
        return -std::log(std::hypot(p.x - ctx.x0, p.y - ctx.y0));
      });
      const double dbl = integrateAgainstShape(knots, 10.0, [&](double t, double) {
        const Vec2 p = g.pointAt(t);
        const Vec2 nrm = g.normalAt(t);
        const double dx = p.x - ctx.x0, dy = p.y - ctx.y0;
        return -(dx * nrm.x + dy * nrm.y) / (dx * dx + dy * dy);
      });
      EXPECT_NEAR(nodeIntegral(ctx, g, s, j, IntegralKind::LaplaceSingle, 0).real(), single, 1e-8)
          << k << " " << j;
      EXPECT_NEAR(nodeIntegral(ctx, g, s, j, IntegralKind::LaplaceDouble, 0).real(), dbl, 1e-8)
          << k << " " << j;
    }
  }
}

// On a circle every node sees the same neighbourhood, so the regularised self terms are
// equal at every node, the last one (at t = 1, its hat wrapping through t = -1) included,
// and equal to the singular integral of the kernel against the hat.
TEST(NodeIntegrals, CircleSelfTermsAgreeAtEveryNodeAndWithSingularQuadrature) {
  const double radius = 0.7;
  const double lambda = 0.5;
  const ElementGeometry ring = circle({0.3, -0.2}, radius);
  const int n = 16;
  const std::vector<double> s = circleGrid(n);
  // Chord length at parameter distance d.
  const auto chord = [&](double d) { return 2.0 * radius * std::sin(kPi * d / 2.0); };
  const auto knotsAtOne = shapeKnots(s, n, false);
  const double laplaceRef =
      integrateAgainstShape(knotsAtOne, 1.0, [&](double, double d) { return -std::log(chord(d)); });
  const double helmholtzRef = integrateAgainstShape(
      knotsAtOne, 1.0, [&](double, double d) { return std::cyl_bessel_k(0.0, chord(d) / lambda); });
  for (int j = 1; j <= n; ++j) {
    const double tau = s[static_cast<std::size_t>(j)];
    const Vec2 p = ring.pointAt(tau);
    const KernelContext ctx = at(p.x, p.y, {0.0, 1.0 / lambda});
    const double F = nodeLogIntegral(ring, s, j, tau);
    const Complex lap = nodeIntegral(ctx, ring, s, j, IntegralKind::LaplaceSingleRegularised, tau);
    const Complex hel =
        nodeIntegral(ctx, ring, s, j, IntegralKind::HelmholtzSingleRegularised, tau);
    EXPECT_NEAR(lap.real() - F, laplaceRef, 1e-9) << j;
    // The Gauss rule meets the r^2 ln r term of K0 here: about 1e-7 at 16 nodes, falling
    // as h^3.
    EXPECT_NEAR(hel.real() - F, helmholtzRef, 2e-7) << j;
    EXPECT_NEAR(hel.imag(), 0.0, 1e-7) << j;
  }
}

// Where the observation point is close to a node's support compared with its pieces
// (a thin film's other face, a narrow gap) or the interior kernel decays within a piece
// (strong skin effect), the node integrals must still match a fine quadrature of the
// kernel against the shape function, split at the point nearest to the observation point.
// With the plain 6-point rule these were off by percents up to absurd values.
TEST(NodeIntegrals, NearFieldIntegralsMatchFineQuadrature) {
  const std::vector<ElementGeometry> shapes{line({0, 0}, {2, 1}), curve({0, 0}, {1, 1}, {2, 0}),
                                            circle({0.5, 0.2}, 0.8)};
  const Complex decaying(0.0, 1.0 / 0.01);  // a penetration depth far below the spacing
  const int n = 7;
  const int j = 3;
  for (const ElementGeometry& g : shapes) {
    const std::vector<double> s = g.hasEndPoints() ? openGrid(n) : circleGrid(n);
    const auto knots = shapeKnots(s, j, g.hasEndPoints());
    const double tNear = 0.5 * (s[j] + s[j + 1]);
    const Vec2 foot = g.pointAt(tNear);
    const Vec2 normal = g.normalAt(tNear);
    const double pieceLength = g.jacobianAt(tNear) * (s[j + 1] - s[j]);
    for (const double offset : {1e-4, 3e-2}) {
      KernelContext ctx = at(foot.x + offset * pieceLength * normal.x,
                             foot.y + offset * pieceLength * normal.y, decaying);
      ctx.interior = true;
      ctx.reach = hankelReach(decaying);
      const auto fine = [&](const std::function<Complex(Vec2, Vec2)>& kernel) {
        const auto part = [&](bool imaginary) {
          return integrateAgainstShape(knots, tNear, [&](double t, double) {
            const Complex v = kernel(g.pointAt(t), g.normalAt(t));
            return imaginary ? v.imag() : v.real();
          });
        };
        return Complex(part(false), part(true));
      };
      const struct {
        IntegralKind kind;
        std::function<Complex(Vec2, Vec2)> kernel;
      } cases[] = {
          {IntegralKind::LaplaceSingle,
           [&](Vec2 p, Vec2) { return Complex(laplaceKernel(ctx, p.x, p.y)); }},
          {IntegralKind::LaplaceDouble,
           [&](Vec2 p, Vec2 m) { return Complex(laplaceNormalKernel(ctx, p.x, p.y, m.x, m.y)); }},
          {IntegralKind::HelmholtzSingle,
           [&](Vec2 p, Vec2) { return helmholtzKernel(ctx, p.x, p.y); }},
          {IntegralKind::HelmholtzDouble,
           [&](Vec2 p, Vec2 m) { return helmholtzNormalKernel(ctx, p.x, p.y, m.x, m.y); }},
      };
      for (const auto& c : cases) {
        const Complex expected = fine(c.kernel);
        const Complex got = nodeIntegral(ctx, g, s, j, c.kind, 0.0);
        // The piece beside the near one lies half its length away and keeps the plain rule,
        // good to about 1e-7 there.
        EXPECT_LT(std::abs(got - expected), 3e-7 * std::max(1.0, std::abs(expected)))
            << "shape " << (&g - shapes.data()) << " kind " << static_cast<int>(c.kind)
            << " offset " << offset << ": " << got << " against " << expected;
      }
    }
  }
  // The row node itself, with the interior kernel decaying within a piece: its own hat
  // (the logarithm taken out) and its neighbour's, which ends at it.
  const ElementGeometry g = curve({0, 0}, {1, 1}, {2, 0});
  const std::vector<double> s = openGrid(n);
  const double tau = s[j];
  const Vec2 p = g.pointAt(tau);
  KernelContext ctx = at(p.x, p.y, decaying);
  ctx.interior = true;
  ctx.ownElement = true;
  ctx.reach = hankelReach(decaying);
  const auto kernel = [&](double t, double) {
    const Vec2 q = g.pointAt(t);
    // The fine rule's nodes approach tau to within rounding; the kernel's logarithm is
    // integrable there.
    if (q.x == p.x && q.y == p.y) return 0.0;
    return helmholtzKernel(ctx, q.x, q.y).real();
  };
  const double own = integrateAgainstShape(shapeKnots(s, j, true), tau, kernel);
  const double F = nodeLogIntegral(g, s, j, tau);
  EXPECT_NEAR(nodeIntegral(ctx, g, s, j, IntegralKind::HelmholtzSingleRegularised, tau).real() - F,
              own, 1e-8);
  const double neighbour = integrateAgainstShape(shapeKnots(s, j + 1, true), tau, kernel);
  EXPECT_NEAR(nodeIntegral(ctx, g, s, j + 1, IntegralKind::HelmholtzSingle, tau).real(), neighbour,
              1e-8);
}

TEST(Kernels, SymmetryImageVanishesOnTheMirrorLine) {
  const KernelContext ctx = at(0.3, 1.7, {}, true);
  for (double x : {-5.0, 0.0, 0.3, 2.0}) EXPECT_EQ(laplaceKernel(ctx, x, 0.0), 0.0) << x;
  for (Vec2 p : {Vec2{1.0, 0.5}, Vec2{-2.0, 3.0}, Vec2{0.3, -1.0}}) {
    const double r = std::hypot(p.x - 0.3, p.y - 1.7);
    const double rImage = std::hypot(p.x - 0.3, p.y + 1.7);
    EXPECT_NEAR(laplaceKernel(ctx, p.x, p.y), -std::log(r) + std::log(rImage), 1e-14);
    EXPECT_NEAR(laplaceKernel(at(0.3, 1.7), p.x, p.y), -std::log(r), 1e-14);
  }
  // The image never reaches the Helmholtz kernel.
  const Complex k(2.0, -2.0);
  EXPECT_EQ(helmholtzKernel(at(0.3, 1.7, k, true), 1.0, 0.0),
            helmholtzKernel(at(0.3, 1.7, k, false), 1.0, 0.0));
}

TEST(Kernels, NormalKernelsAreNormalDerivativesOfTheKernels) {
  const double step = 1e-5;
  const Vec2 nrm{0.6, -0.8};
  for (const bool symmetry : {false, true}) {
    const KernelContext ctx = at(0.4, 0.9, {}, symmetry);
    for (Vec2 p : {Vec2{1.5, 0.2}, Vec2{-0.7, 2.1}}) {
      const double fd = (laplaceKernel(ctx, p.x + step * nrm.x, p.y + step * nrm.y) -
                         laplaceKernel(ctx, p.x - step * nrm.x, p.y - step * nrm.y)) /
                        (2 * step);
      EXPECT_NEAR(laplaceNormalKernel(ctx, p.x, p.y, nrm.x, nrm.y), fd, 1e-8);
    }
  }
  for (const Complex k : {Complex(1.5, -1.5), Complex(0.0, 2.0), Complex(0.8, 0.0)}) {
    const KernelContext ctx = at(0.4, 0.9, k);
    const Vec2 p{1.5, 0.2};
    const Complex fd = (helmholtzKernel(ctx, p.x + step * nrm.x, p.y + step * nrm.y) -
                        helmholtzKernel(ctx, p.x - step * nrm.x, p.y - step * nrm.y)) /
                       (2 * step);
    const Complex dK = helmholtzNormalKernel(ctx, p.x, p.y, nrm.x, nrm.y);
    EXPECT_NEAR(dK.real(), fd.real(), 1e-7) << k;
    EXPECT_NEAR(dK.imag(), fd.imag(), 1e-7) << k;
  }
}

TEST(Kernels, LosslessSuperconductorKernelIsTheModifiedBesselFunction) {
  const double lambda = 0.25;
  const KernelContext ctx = at(1.0, -1.0, {0.0, 1.0 / lambda});
  for (double r : {0.01, 0.1, 0.3, 0.8, 1.5}) {
    const double x = 1.0 + r * 0.6;
    const double y = -1.0 + r * 0.8;
    const Complex K = helmholtzKernel(ctx, x, y);
    EXPECT_NEAR(K.real(), std::cyl_bessel_k(0.0, r / lambda), 2e-8 * (1 + K.real())) << r;
    EXPECT_NEAR(K.imag(), 0.0, 1e-8) << r;
    // dK/dn = -K1(r / lambda) / lambda times dr/dn; here n = (0.6, 0.8) is along r.
    const Complex dK = helmholtzNormalKernel(ctx, x, y, 0.6, 0.8);
    const double expected = -std::cyl_bessel_k(1.0, r / lambda) / lambda;
    EXPECT_NEAR(dK.real(), expected, 1e-7 * std::fabs(expected) + 5e-9) << r;
    EXPECT_NEAR(dK.imag(), 0.0, 1e-8 * std::fabs(expected)) << r;
  }
}

TEST(Kernels, NormalMetalKernelIsTheSecondHankelFunction) {
  // Real wave number: K = -(pi/2) Y0(kr) - j (pi/2) J0(kr).
  const double kr = 2.0;
  const KernelContext real = at(0.0, 0.0, {kr, 0.0});
  const Complex K = helmholtzKernel(real, 0.6, 0.8);
  EXPECT_NEAR(K.real(), -kTruePi / 2 * std::cyl_neumann(0.0, kr), 1e-8);
  EXPECT_NEAR(K.imag(), -kTruePi / 2 * std::cyl_bessel_j(0.0, kr), 1e-8);
  // dK/dn = j (pi/2) k H1(2)(kr) dr/dn with H1(2) = J1 - j Y1.
  const Complex dK = helmholtzNormalKernel(real, 0.6, 0.8, 0.6, 0.8);
  const Complex h1(std::cyl_bessel_j(1.0, kr), -std::cyl_neumann(1.0, kr));
  const Complex expected = Complex(0.0, kTruePi / 2) * kr * h1;
  EXPECT_NEAR(dK.real(), expected.real(), 1e-8);
  EXPECT_NEAR(dK.imag(), expected.imag(), 1e-8);
  // Skin-effect wave number (1 - j)/delta at a few distances, against power series.
  const double delta = 0.4;
  const Complex k = Complex(1.0, -1.0) / delta;
  for (double r : {0.05, 0.3, 0.9, 1.4}) {
    const SeriesBessel b = besselSeries(k * r);
    const Complex ref = Complex(0.0, -kTruePi / 2) * (b.j0 - Complex(0.0, 1.0) * b.y0);
    const Complex got = helmholtzKernel(at(0.0, 0.0, k), 0.0, r);
    EXPECT_NEAR(got.real(), ref.real(), 1e-8 * (1 + std::abs(ref))) << r;
    EXPECT_NEAR(got.imag(), ref.imag(), 1e-8 * (1 + std::abs(ref))) << r;
  }
}

// Beyond 20 / |Im k| the interior field has decayed below e^-20 and the Hankel functions
// return exact zeros; the regularised kind then keeps nothing but its logarithm.
TEST(NodeIntegrals, HelmholtzKindsVanishExactlyBeyondTheCutOff) {
  const ElementGeometry g = line({1.0, 0.0}, {1.0, 1.0});
  const std::vector<double> s = openGrid(4);
  for (const Complex k : {Complex(10.0, -10.0), Complex(0.0, 10.0), Complex(0.5, 10.0)}) {
    const double cutoff = 20.0 / std::fabs(k.imag());  // 2: the element lies beyond it
    const KernelContext far = at(1.0 - cutoff - 1e-9, 0.0, k);
    // Closer to the cut-off the Hankel combination cancels to rounding, sometimes to 0.
    const KernelContext near = at(1.0 - 0.5 * cutoff, 0.5, k);
    const double tau = 3.0;  // away from [-1, 1], so the logarithm is smooth there
    for (int j = 1; j <= 4; ++j) {
      EXPECT_EQ(nodeIntegral(far, g, s, j, IntegralKind::HelmholtzSingle, tau), Complex(0.0))
          << k << j;
      EXPECT_EQ(nodeIntegral(far, g, s, j, IntegralKind::HelmholtzDouble, tau), Complex(0.0))
          << k << j;
      const Complex reg = nodeIntegral(far, g, s, j, IntegralKind::HelmholtzSingleRegularised, tau);
      EXPECT_EQ(reg.imag(), 0.0);
      EXPECT_NEAR(reg.real(), nodeLogIntegral(g, s, j, tau), 1e-10);
      EXPECT_NE(nodeIntegral(near, g, s, j, IntegralKind::HelmholtzSingle, tau), Complex(0.0));
    }
  }
}

}  // namespace
}  // namespace qbr
