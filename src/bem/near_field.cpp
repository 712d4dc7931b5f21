#include "bem/near_field.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

namespace qbr {

namespace {

// A piece is near when the observation point is closer to it than half its length: the
// 6-point rule then errs by about 1e-7 of the entry or more (1e-5 at a quarter, percents
// below a tenth); further away by less than 1e-7.
constexpr double kNearRatio = 0.5;
// The interior kernel needs grading where it decays within the piece. On the pieces next
// to the observation point, which carry the logarithm at their end, from |k| times the
// piece's length of 1; on the others from 3, where the 6-point rule still integrates
// exp(-|k| s) to about 3e-7.
constexpr double kDecayingSpanTouching = 1.0;
constexpr double kDecayingSpan = 3.0;

// Gauss-Legendre, 8 points on [-1, 1], for the graded panels.
constexpr std::array<double, 8> kPanelAbscissae = {
    -0.9602898564975363, -0.7966664774136267, -0.5255324099163290, -0.1834346424956498,
    0.1834346424956498,  0.5255324099163290,  0.7966664774136267,  0.9602898564975363};
constexpr std::array<double, 8> kPanelWeights = {
    0.1012285362903763, 0.2223810344533745, 0.3137066458778873, 0.3626837833783620,
    0.3626837833783620, 0.3137066458778873, 0.2223810344533745, 0.1012285362903763};

// Panels of a graded rule never get shorter than this share of the piece.
constexpr double kSmallestPanel = 1e-12;
// Where the interior kernel decays, panels grow no longer than two decay lengths (the
// 8-point rule integrates exp(-s) over them to about 1e-12) until the kernel has died
// away (the cut-off lies at 20 decay lengths of Im k, 28 of |k| for a normal metal).
constexpr double kDecayPanel = 2.0;
constexpr double kDecayZone = 30.0;

double squaredDistance(const ElementGeometry& geometry, double t, double x0, double y0) {
  const Vec2 p = geometry.pointAt(t);
  return (p.x - x0) * (p.x - x0) + (p.y - y0) * (p.y - y0);
}

// The parameter of the point of [a, b] nearest to (x0, y0): the best of 17 samples, then
// golden sections between its neighbours (the squared distance is unimodal there for
// the short pieces of a grid).
double nearestParameter(const ElementGeometry& geometry, double a, double b, double x0, double y0) {
  constexpr int kSamples = 16;
  int best = 0;
  double bestValue = squaredDistance(geometry, a, x0, y0);
  for (int i = 1; i <= kSamples; ++i) {
    const double t = a + (b - a) * i / kSamples;
    const double value = squaredDistance(geometry, t, x0, y0);
    if (value < bestValue) {
      best = i;
      bestValue = value;
    }
  }
  double lo = a + (b - a) * std::max(best - 1, 0) / kSamples;
  double hi = a + (b - a) * std::min(best + 1, kSamples) / kSamples;
  constexpr double kGolden = 0.6180339887498949;
  double t1 = hi - kGolden * (hi - lo);
  double t2 = lo + kGolden * (hi - lo);
  double f1 = squaredDistance(geometry, t1, x0, y0);
  double f2 = squaredDistance(geometry, t2, x0, y0);
  for (int i = 0; i < 60; ++i) {
    if (f1 < f2) {
      hi = t2;
      t2 = t1;
      f2 = f1;
      t1 = hi - kGolden * (hi - lo);
      f1 = squaredDistance(geometry, t1, x0, y0);
    } else {
      lo = t1;
      t1 = t2;
      f1 = f2;
      t2 = lo + kGolden * (hi - lo);
      f2 = squaredDistance(geometry, t2, x0, y0);
    }
  }
  const double t = (lo + hi) / 2.0;
  return squaredDistance(geometry, t, x0, y0) <= bestValue ? t : a + (b - a) * best / kSamples;
}

void accumulate(FlankSums& sums, Complex value, double weight, double rising, double falling) {
  sums.constant += value * weight;
  sums.rising += value * (weight * rising);
  sums.falling += value * (weight * falling);
}

}  // namespace

PieceSummary summarisePiece(const ElementGeometry& geometry, double a, double b) {
  PieceSummary piece;
  piece.a = a;
  piece.b = b;
  constexpr int kSamples = 8;
  std::array<Vec2, kSamples + 1> samples{};
  for (int i = 0; i <= kSamples; ++i) {
    samples[static_cast<std::size_t>(i)] = geometry.pointAt(a + (b - a) * i / kSamples);
    piece.cx += samples[static_cast<std::size_t>(i)].x / (kSamples + 1);
    piece.cy += samples[static_cast<std::size_t>(i)].y / (kSamples + 1);
  }
  const double mid = (a + b) / 2.0;
  const double half = (b - a) / 2.0;
  for (std::size_t i = 0; i < kGaussAbscissae.size(); ++i)
    piece.length += geometry.jacobianAt(mid + half * kGaussAbscissae[i]) * half * kGaussWeights[i];
  // The samples are an eighth of the piece apart; between them the arc strays from its
  // chords by far less than the margin.
  for (const Vec2& p : samples)
    piece.radius = std::max(piece.radius, std::hypot(p.x - piece.cx, p.y - piece.cy));
  piece.radius += piece.length / 8.0;
  return piece;
}

std::optional<double> touchingParameter(const ElementGeometry& geometry, double a, double b,
                                        double tau) {
  // Node parameters are at least 2/500 apart; a shift by the period rounds by far less.
  constexpr double kSame = 1e-12;
  for (const double shift : {0.0, -2.0, 2.0}) {
    if (shift != 0.0 && geometry.hasEndPoints()) break;
    if (std::fabs(a - (tau + shift)) < kSame) return a;
    if (std::fabs(b - (tau + shift)) < kSame) return b;
  }
  return std::nullopt;
}

PieceRule pieceRule(const PieceSummary& piece, const ElementGeometry& geometry, double x0,
                    double y0, std::optional<double> touching, bool helmholtz, double kModulus,
                    double reach, bool secondOrder) {
  PieceRule rule;
  if (touching) {
    const bool decayingHere = helmholtz && kModulus * piece.length > kDecayingSpanTouching;
    // On the plain grids the pieces next to the row node keep the plain rule (with the
    // logarithm taken out for the node's own hat) until the kernel decays within them; to
    // second order every hat on them has its logarithm taken out.
    if (!decayingHere && !secondOrder) return rule;
    rule.helmholtz = helmholtz;
    rule.laplace = secondOrder;
    rule.touching = true;
    rule.tauPiece = *touching;
    rule.nearest = *touching;
    rule.scale =
        decayingHere ? 1.0 / (kModulus * geometry.jacobianAt(*touching)) : piece.b - piece.a;
    rule.decayLength = decayingHere ? rule.scale : 0.0;
    return rule;
  }
  const bool decaying = helmholtz && kModulus * piece.length > kDecayingSpan;
  // Nothing of the piece is closer than `bound` when the disc around it is that far away.
  const double bound =
      decaying ? std::max(kNearRatio * piece.length, reach) : kNearRatio * piece.length;
  const double dx = x0 - piece.cx;
  const double dy = y0 - piece.cy;
  if (dx * dx + dy * dy >= (piece.radius + bound) * (piece.radius + bound)) return rule;

  const double nearest = nearestParameter(geometry, piece.a, piece.b, x0, y0);
  const double distance = std::sqrt(squaredDistance(geometry, nearest, x0, y0));
  rule.laplace = distance < kNearRatio * piece.length;
  rule.helmholtz = helmholtz && (rule.laplace || (decaying && distance < reach));
  if (!rule.refined()) return rule;
  rule.nearest = nearest;
  double scale = distance;
  if (rule.helmholtz && decaying) scale = std::min(scale, 1.0 / kModulus);
  rule.scale = scale / geometry.jacobianAt(nearest);
  if (rule.helmholtz && decaying)
    rule.decayLength = 1.0 / (kModulus * geometry.jacobianAt(nearest));
  return rule;
}

Complex flankValue(const FlankSums& sums, Flank flank) {
  switch (flank) {
    case Flank::Rising:
      return sums.rising;
    case Flank::Falling:
      return sums.falling;
    case Flank::Constant:
      break;
  }
  return sums.constant;
}

RefinedPiece integrateNearPiece(const KernelContext& ctx, const ElementGeometry& geometry, double a,
                                double b, const PieceRule& rule) {
  RefinedPiece out;
  const double span = b - a;
  // An observation point on the piece's end (a node of one element where another ends)
  // would have panels too short for the parameter's rounding near +-1: a Gauss point
  // would fall on the point itself.
  const double resolvable =
      64.0 * std::numeric_limits<double>::epsilon() * std::max({1.0, std::fabs(a), std::fabs(b)});
  const double scale = std::max({rule.scale, kSmallestPanel * span, resolvable});
  // Panel ends, from `nearest` outwards on either side: nearest +- scale * 0, 1, 2, 4, ...
  const auto panels = [&](double from, double to, auto&& visit) {
    const double direction = to > from ? 1.0 : -1.0;
    const double extent = std::fabs(to - from);
    double lo = 0.0;
    double hi = std::min(scale, extent);
    while (lo < extent) {
      visit(from + direction * lo, from + direction * hi);
      lo = hi;
      hi = 2.0 * hi;
      if (rule.decayLength > 0.0 && lo < kDecayZone * rule.decayLength)
        hi = std::min(hi, lo + kDecayPanel * rule.decayLength);
      hi = std::min(hi, extent);
    }
  };
  const auto panel = [&](double p, double q) {
    const double mid = (p + q) / 2.0;
    const double half = std::fabs(q - p) / 2.0;
    for (std::size_t i = 0; i < kPanelAbscissae.size(); ++i) {
      const double t = mid + half * kPanelAbscissae[i];
      const double w = half * kPanelWeights[i];
      const double rising = (t - a) / span;
      const double falling = (b - t) / span;
      const Vec2 p0 = geometry.pointAt(t);
      const Vec2 n = geometry.normalAt(t);
      if (rule.laplace) {
        double single = laplaceKernel(ctx, p0.x, p0.y);
        if (rule.touching) single += std::log(std::fabs(t - rule.tauPiece));
        accumulate(out.laplaceSingle, single, w, rising, falling);
        accumulate(out.laplaceDouble, laplaceNormalKernel(ctx, p0.x, p0.y, n.x, n.y), w, rising,
                   falling);
        if (ctx.field) {
          accumulate(out.laplaceField, laplaceFieldKernel(ctx, p0.x, p0.y), w, rising, falling);
        }
      }
      if (rule.helmholtz) {
        const HelmholtzPair h = helmholtzKernels(ctx, p0.x, p0.y, n.x, n.y);
        Complex single = h.single;
        if (rule.touching) single += std::log(std::fabs(t - rule.tauPiece));
        accumulate(out.helmholtzSingle, single, w, rising, falling);
        accumulate(out.helmholtzDouble, h.normal, w, rising, falling);
      }
    }
  };
  const double nearest = std::clamp(rule.nearest, a, b);
  if (nearest > a) panels(nearest, a, panel);
  if (nearest < b) panels(nearest, b, panel);
  return out;
}

double flankLogIntegral(double a, double b, Flank flank, double tau) {
  switch (flank) {
    case Flank::Rising:
      return linearPieceLogIntegral(a, b, a, b, tau);
    case Flank::Falling:
      return linearPieceLogIntegral(a, b, b, a, tau);
    case Flank::Constant:
      break;
  }
  return constantPieceLogIntegral(a, b, tau);
}

}  // namespace qbr
