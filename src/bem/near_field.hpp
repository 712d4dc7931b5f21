#pragma once

#include <optional>

#include "bem/node_integrals.hpp"
#include "model/geometry.hpp"

namespace qbr {

// The near field of a piece of an element.
//
// Every piece between neighbouring nodes is integrated with the 6-point Gauss rule. That
// rule is exact to rounding for a kernel that varies on the scale of the piece, and fails
// where the kernel varies on a shorter one:
// - near-singular: the observation point lies close to the piece compared with its length
//   (the other face of a thin film, the facing side of a narrow gap), where ln r and
//   (dr.n)/r^2 vary on the scale of the distance;
// - decaying: |k| times the piece's length is large (strong skin effect, a penetration
//   depth far below the node spacing), where the interior kernel dies within a few skin
//   depths of the observation point.
// Such pieces are integrated with Gauss panels graded geometrically toward the point of
// the piece nearest to the observation point, down to the distance or the skin depth.
// Where the observation point is an end of the piece (its own element), the logarithm of
// the single layer is taken out and integrated in closed form. The decision is geometric,
// per observation point and piece, so that the matrix does not depend on the order or the
// threads in which its entries are computed.

// A piece [a, b] of an element as the near-field test sees it: a disc that contains it
// and its arc length.
struct PieceSummary {
  double a = 0.0, b = 0.0;
  double cx = 0.0, cy = 0.0, radius = 0.0;
  double length = 0.0;
};
PieceSummary summarisePiece(const ElementGeometry& geometry, double a, double b);

// The end of [a, b] at which the observation point, a node of the same element at
// parameter tau, lies, if it is one of them; a circle's parameter is periodic with period 2.
std::optional<double> touchingParameter(const ElementGeometry& geometry, double a, double b,
                                        double tau);

// How one piece is integrated from one observation point.
struct PieceRule {
  bool laplace = false;    // the Laplace kernels need the graded rule
  bool helmholtz = false;  // the Helmholtz kernels need it
  // The observation point is an end of the piece: the single layers are integrated as
  // G + ln|t - tauPiece| and K + ln|t - tauPiece|.
  bool touching = false;
  double tauPiece = 0.0;
  double nearest = 0.0;      // parameter of the point of the piece nearest to the observation point
  double scale = 0.0;        // length, in t, below which the kernels vary near `nearest`
  double decayLength = 0.0;  // 1/|k| in t where the interior kernel decays within the piece
  bool refined() const { return laplace || helmholtz; }
};

// What the observation point (x0, y0) sees of the piece. `touching` as from
// touchingParameter; `helmholtz` whether the interior kernel, of wave number modulus
// `kModulus`, is wanted (same conductor) and reaches `reach` (its cut-off distance, or
// infinity).
// `secondOrder`: the pieces next to the observation point take the logarithm out of every
// hat on them (graded grids), not only out of the observation node's own.
PieceRule pieceRule(const PieceSummary& piece, const ElementGeometry& geometry, double x0,
                    double y0, std::optional<double> touching, bool helmholtz, double kModulus,
                    double reach, bool secondOrder);

// Integrals of a kernel f over a piece against the three shapes a node's hat can have on
// it: the constant 1, the rising flank (t - a)/(b - a) and the falling flank (b - t)/(b - a).
struct FlankSums {
  Complex constant, rising, falling;
};

enum class Flank { Constant, Rising, Falling };
Complex flankValue(const FlankSums& sums, Flank flank);

struct RefinedPiece {
  FlankSums laplaceSingle, laplaceDouble;
  FlankSums laplaceField;  // with ctx.field only
  // With `touching`, the single layer is K + ln|t - tauPiece|.
  FlankSums helmholtzSingle, helmholtzDouble;
};

// The graded rule over [a, b] for the kernels the rule asks for (the others stay 0).
RefinedPiece integrateNearPiece(const KernelContext& ctx, const ElementGeometry& geometry, double a,
                                double b, const PieceRule& rule);

// The integral over [a, b] of ln|t - tau| times the flank, in closed form.
double flankLogIntegral(double a, double b, Flank flank, double tau);

}  // namespace qbr
