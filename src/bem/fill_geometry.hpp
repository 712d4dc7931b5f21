#pragma once

#include <array>
#include <vector>

#include "bem/near_field.hpp"
#include "bem/node_integrals.hpp"
#include "model/geometry.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// The node integrals sample every piece of an element with the same 6-point Gauss rule;
// the fill samples each piece once and shares the kernel values between the two nodes
// whose shape functions overlap there.
inline constexpr int kFillGaussOrder = static_cast<int>(kGaussAbscissae.size());

// One of the two parts of a node's support, as the node integral sums it: a piece of the
// element and, at each of its Gauss points, the factor (t - z0) of the node's hat, the
// sum over the piece being divided by (z1 - z0) afterwards. The constant continuation of
// the first and last hat to an element end has factor and divisor 1, which leaves every
// product and quotient exact, so one code path serves both.
struct PieceUse {
  int piece = 0;
  Flank flank = Flank::Constant;
  // The last node of a circle writes its hat over [s(n-1) - 2, s1] and measures the
  // observation parameter shifted by -2 with it.
  bool shiftedTau = false;
  double divisor = 1.0;
  std::array<double, kFillGaussOrder> factor{};
};

// An element as the fill sees it: the Gauss points of every piece with their positions,
// unit normals and weights (half the piece length times the Gauss weight), computed with
// the very operations of the node integrals, so that every sample agrees to the last bit;
// for every node the two parts of its support; and the material of its patch.
struct FillElement {
  int nodeCount = 0;
  int pieceCount = 0;
  // Gauss points, piece after piece, kFillGaussOrder of them per piece.
  std::vector<double> t, x, y, nx, ny, w;
  // |dr/dt| at every Gauss point.
  std::vector<double> jacobian;
  // Pieces 0 .. coveringPieces - 1 cover the element once; a circle's last piece repeats
  // the arc of the piece before it, shifted by one period.
  int coveringPieces = 0;
  // A circle round the Gauss points of each piece, and one round all of them: where it
  // lies wholly beyond the reach of a decaying kernel, no point inside needs evaluating.
  struct Disc {
    double x = 0.0, y = 0.0, radius = 0.0;
  };
  std::vector<Disc> pieceDisc;
  Disc elementDisc;
  // Every piece as the near-field test sees it, a disc containing all of them and the
  // longest piece's arc length.
  std::vector<PieceSummary> pieceSummary;
  Disc nearDisc;
  double longestPiece = 0.0;
  // Node j (1..nodeCount; slot 0 unused): left part then right part of its support.
  std::vector<std::array<PieceUse, 2>> support;
  // |dr/dt| at node j (slot 0 unused).
  std::vector<double> nodeJacobian;
  // Node parameters as the grid holds them (slot 0 unused).
  std::vector<double> nodeT;
  int conductor = 0;
  Complex k{};
  double mu = 1.0;
};

FillElement buildFillElement(const BoundaryElement& element, const ElementGeometry& geometry,
                             const MaterialPatch& patch);

}  // namespace qbr
