#include "bem/node_integrals.hpp"

#include <array>
#include <cmath>
#include <optional>

#include "bem/bessel.hpp"
#include "bem/hankel.hpp"
#include "bem/near_field.hpp"

namespace qbr {

namespace {

Complex integrand(const KernelContext& ctx, const ElementGeometry& geometry, IntegralKind kind,
                  double t, double tau) {
  if (kind == IntegralKind::Unit) return {1.0, 0.0};
  const Vec2 p = geometry.pointAt(t);
  switch (kind) {
    case IntegralKind::LaplaceSingleRegularised:
      return {std::log(std::fabs(t - tau)) + laplaceKernel(ctx, p.x, p.y), 0.0};
    case IntegralKind::LaplaceSingle:
      return {laplaceKernel(ctx, p.x, p.y), 0.0};
    case IntegralKind::LaplaceDouble: {
      const Vec2 n = geometry.normalAt(t);
      return {laplaceNormalKernel(ctx, p.x, p.y, n.x, n.y), 0.0};
    }
    case IntegralKind::HelmholtzSingleRegularised:
      return helmholtzKernel(ctx, p.x, p.y) + std::log(std::fabs(t - tau));
    case IntegralKind::HelmholtzSingle:
      return helmholtzKernel(ctx, p.x, p.y);
    case IntegralKind::HelmholtzDouble: {
      const Vec2 n = geometry.normalAt(t);
      return helmholtzNormalKernel(ctx, p.x, p.y, n.x, n.y);
    }
    case IntegralKind::Unit:
      break;
  }
  return {1.0, 0.0};
}

// Closed-form primitives of ln|u| (u - x) and of ln|u|; both vanish as u -> 0, which is
// where an observation point sits at the end of a piece (to rounding: a circle's last
// node is 1 within a few ulps). Grids graded toward a dielectric junction put nodes
// within 1e-9 of an element's end: pieces that short still have their logarithm.
constexpr double kAtPieceEnd = 1e-13;

double linearLogPrimitive(double u, double x) {
  if (std::fabs(u) <= kAtPieceEnd) return 0.0;
  const double lnU = std::log(std::fabs(u));
  return 0.5 * u * u * (lnU - 0.5) - x * u * (lnU - 1.0);
}

double constantLogPrimitive(double u) {
  if (std::fabs(u) <= kAtPieceEnd) return 0.0;
  return u * (std::log(std::fabs(u)) - 1.0);
}

bool isHelmholtz(IntegralKind kind) {
  return kind == IntegralKind::HelmholtzSingleRegularised ||
         kind == IntegralKind::HelmholtzSingle || kind == IntegralKind::HelmholtzDouble;
}

// The graded rule's value for one kind over [a, b] against `flank`, or nothing where the
// plain rule serves.
std::optional<Complex> nearPieceIntegral(const KernelContext& ctx, const ElementGeometry& geometry,
                                         double a, double b, Flank flank, IntegralKind kind,
                                         double tau) {
  if (kind == IntegralKind::Unit) return std::nullopt;
  const PieceSummary summary = summarisePiece(geometry, a, b);
  // The regularised kinds are the self terms: their observation point is on the element.
  const bool own = ctx.ownElement || kind == IntegralKind::LaplaceSingleRegularised ||
                   kind == IntegralKind::HelmholtzSingleRegularised;
  const std::optional<double> touching =
      own ? touchingParameter(geometry, a, b, tau) : std::nullopt;
  const PieceRule rule = pieceRule(summary, geometry, ctx.x0, ctx.y0, touching, ctx.interior,
                                   std::abs(ctx.k), ctx.reach, ctx.secondOrder);
  if (!(isHelmholtz(kind) ? rule.helmholtz : rule.laplace)) return std::nullopt;
  const RefinedPiece piece = integrateNearPiece(ctx, geometry, a, b, rule);
  // On a piece that ends at the observation point the graded rule carries the logarithm
  // taken out of the single layers; outside the self term it comes back in closed form.
  const auto single = [&](const FlankSums& sums, bool regularised) -> Complex {
    const Complex v = flankValue(sums, flank);
    if (regularised || !rule.touching) return v;
    return v - flankLogIntegral(a, b, flank, rule.tauPiece);
  };
  switch (kind) {
    case IntegralKind::LaplaceSingleRegularised:
    case IntegralKind::LaplaceSingle:
      return single(piece.laplaceSingle, kind == IntegralKind::LaplaceSingleRegularised);
    case IntegralKind::HelmholtzSingleRegularised:
    case IntegralKind::HelmholtzSingle:
      return single(piece.helmholtzSingle, kind == IntegralKind::HelmholtzSingleRegularised);
    case IntegralKind::LaplaceDouble:
      return flankValue(piece.laplaceDouble, flank);
    case IntegralKind::HelmholtzDouble:
      return flankValue(piece.helmholtzDouble, flank);
    case IntegralKind::Unit:
      break;
  }
  return std::nullopt;
}

}  // namespace

double linearPieceLogIntegral(double a, double b, double z0, double z1, double tau) {
  return (linearLogPrimitive(b - tau, z0 - tau) - linearLogPrimitive(a - tau, z0 - tau)) /
         (z1 - z0);
}

double constantPieceLogIntegral(double a, double b, double tau) {
  return constantLogPrimitive(b - tau) - constantLogPrimitive(a - tau);
}

double laplaceKernel(const KernelContext& ctx, double x, double y) {
  const double dx = x - ctx.x0;
  const double dy = y - ctx.y0;
  const double r2 = dx * dx + dy * dy;
  if (!ctx.symmetryOn) return -0.5 * std::log(r2);
  const double ys = y + ctx.y0;
  return -0.5 * std::log(r2 / (dx * dx + ys * ys));
}

double laplaceNormalKernel(const KernelContext& ctx, double x, double y, double nx, double ny) {
  const double dx = x - ctx.x0;
  const double dy = y - ctx.y0;
  if (!ctx.symmetryOn) return -(dx * nx + dy * ny) / (dx * dx + dy * dy);
  const double ys = y + ctx.y0;
  return (dx * nx + ys * ny) / (dx * dx + ys * ys) - (dx * nx + dy * ny) / (dx * dx + dy * dy);
}

double laplaceFieldKernel(const KernelContext& ctx, double x, double y) {
  const double dx = x - ctx.x0;
  const double dy = y - ctx.y0;
  const double direct = -(dx * ctx.n0x + dy * ctx.n0y) / (dx * dx + dy * dy);
  if (!ctx.symmetryOn) return direct;
  const double ys = y + ctx.y0;
  return direct - (ys * ctx.n0y - dx * ctx.n0x) / (dx * dx + ys * ys);
}

// Im k > 0 (superconductor) decays with H(1), Im k < 0 (normal metal) with H(2); either
// way the kernel is the field of a unit line source, -ln r near it. The image in y = 0
// is never applied here: the interior of a conductor does not see the mirror plane.
Complex helmholtzKernel(const KernelContext& ctx, double x, double y) {
  return helmholtzKernels(ctx, x, y, 0.0, 0.0).single;
}

Complex helmholtzNormalKernel(const KernelContext& ctx, double x, double y, double nx, double ny) {
  return helmholtzKernels(ctx, x, y, nx, ny).normal;
}

// dK/dn = K'(r) (dr.n)/r with K'(r) = -+j pi/2 k H1(kr); the shift adds beta k J1(kr) (dr.n)/r
// = beta k^2 J1(z)/z (dr.n). The pair of one order is bitwise the separate functions.
HelmholtzPair helmholtzKernels(const KernelContext& ctx, double x, double y, double nx, double ny) {
  const double dx = x - ctx.x0;
  const double dy = y - ctx.y0;
  const double r = std::sqrt(dx * dx + dy * dy);
  const double a = dx * nx + dy * ny;
  const Complex z(ctx.k.real() * r, ctx.k.imag() * r);
  const bool firstKind = ctx.k.imag() > 0.0;
  const Complex singleFactor(0.0, firstKind ? kPi / 2.0 : -kPi / 2.0);
  const Complex normalFactor = Complex(0.0, firstKind ? -kPi / 2.0 : kPi / 2.0) * ctx.k;
  if (ctx.beta != Complex{}) {
    const HelmholtzSample s = helmholtzSample(z, firstKind);
    return {singleFactor * s.h0 - ctx.beta * s.j0,
            normalFactor * s.h1 * a / r + ctx.beta * ctx.k * ctx.k * s.j1OverZ * a};
  }
  const HankelPair h = !firstKind ? hankelSecondPair(z)
                       : ctx.secondOrder && z.real() == 0.0 ? hankelFirstPairImaginary(z.imag())
                                                            : hankelFirstPair(z);
  return {singleFactor * h.h0, normalFactor * h.h1 * a / r};
}

Complex constantPieceIntegral(const KernelContext& ctx, const ElementGeometry& geometry, double a,
                              double b, IntegralKind kind, double tau) {
  if (const auto near = nearPieceIntegral(ctx, geometry, a, b, Flank::Constant, kind, tau))
    return *near;
  const double mid = (a + b) / 2.0;
  const double half = (b - a) / 2.0;
  Complex sum{};
  for (std::size_t i = 0; i < kGaussAbscissae.size(); ++i) {
    const double t = mid + half * kGaussAbscissae[i];
    const double w = half * kGaussWeights[i];
    sum = sum + integrand(ctx, geometry, kind, t, tau) * w;
  }
  return sum;
}

Complex linearPieceIntegral(const KernelContext& ctx, const ElementGeometry& geometry, double a,
                            double b, double z0, double z1, IntegralKind kind, double tau) {
  if (z0 == a || z0 == b) {
    const Flank flank = z0 == a ? Flank::Rising : Flank::Falling;
    if (const auto near = nearPieceIntegral(ctx, geometry, a, b, flank, kind, tau)) return *near;
  }
  const double mid = (a + b) / 2.0;
  const double half = (b - a) / 2.0;
  Complex sum{};
  for (std::size_t i = 0; i < kGaussAbscissae.size(); ++i) {
    const double t = mid + half * kGaussAbscissae[i];
    const double w = half * kGaussWeights[i];
    sum = sum + integrand(ctx, geometry, kind, t, tau) * w * (t - z0);
  }
  return sum / (z1 - z0);
}

// The shape function of node j is the hat between its neighbours. On an element with end
// points the first and last hats continue as the constant 1 to the element's ends; on a
// circle the last node sits at t = 1 = -1 and its hat is written over [s(n-1) - 2, s1],
// with the observation parameter shifted by -2 along with it.
Complex nodeIntegral(const KernelContext& ctx, const ElementGeometry& geometry,
                     const std::vector<double>& nodeT, int j, IntegralKind kind, double tau) {
  const int n = static_cast<int>(nodeT.size()) - 1;
  const auto s = [&nodeT](int i) { return nodeT[static_cast<std::size_t>(i)]; };
  const bool open = geometry.hasEndPoints();
  if (j == 1) {
    const Complex right = linearPieceIntegral(ctx, geometry, s(1), s(2), s(2), s(1), kind, tau);
    if (open) return constantPieceIntegral(ctx, geometry, -1.0, s(1), kind, tau) + right;
    return linearPieceIntegral(ctx, geometry, -1.0, s(1), -1.0, s(1), kind, tau) + right;
  }
  if (j < n) {
    return linearPieceIntegral(ctx, geometry, s(j - 1), s(j), s(j - 1), s(j), kind, tau) +
           linearPieceIntegral(ctx, geometry, s(j), s(j + 1), s(j + 1), s(j), kind, tau);
  }
  if (open) {
    return linearPieceIntegral(ctx, geometry, s(n - 1), s(n), s(n - 1), s(n), kind, tau) +
           constantPieceIntegral(ctx, geometry, s(n), 1.0, kind, tau);
  }
  const double left = s(n - 1) - 2.0;
  return linearPieceIntegral(ctx, geometry, left, -1.0, left, -1.0, kind, tau - 2.0) +
         linearPieceIntegral(ctx, geometry, -1.0, s(1), s(1), -1.0, kind, tau - 2.0);
}

double nodeLogIntegral(const ElementGeometry& geometry, const std::vector<double>& nodeT, int j,
                       double tau) {
  const int n = static_cast<int>(nodeT.size()) - 1;
  const auto s = [&nodeT](int i) { return nodeT[static_cast<std::size_t>(i)]; };
  const bool open = geometry.hasEndPoints();
  if (j == 1) {
    const double right = linearPieceLogIntegral(s(1), s(2), s(2), s(1), tau);
    if (open) return constantPieceLogIntegral(-1.0, s(1), tau) + right;
    return linearPieceLogIntegral(-1.0, s(1), -1.0, s(1), tau) + right;
  }
  if (j < n) {
    return linearPieceLogIntegral(s(j - 1), s(j), s(j - 1), s(j), tau) +
           linearPieceLogIntegral(s(j), s(j + 1), s(j + 1), s(j), tau);
  }
  if (open)
    return linearPieceLogIntegral(s(n - 1), s(n), s(n - 1), s(n), tau) +
           constantPieceLogIntegral(s(n), 1.0, tau);
  const double left = s(n - 1) - 2.0;
  return linearPieceLogIntegral(left, -1.0, left, -1.0, tau - 2.0) +
         linearPieceLogIntegral(-1.0, s(1), s(1), -1.0, tau - 2.0);
}

}  // namespace qbr
