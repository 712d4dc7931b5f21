#include "bem/fill_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "bem/node_integrals.hpp"

namespace qbr {

namespace {

// Appends the Gauss points of [a, b] and returns the new piece's index.
int addPiece(FillElement& fe, const ElementGeometry& geometry, double a, double b) {
  fe.pieceSummary.push_back(summarisePiece(geometry, a, b));
  const double mid = (a + b) / 2.0;
  const double half = (b - a) / 2.0;
  for (int i = 0; i < kFillGaussOrder; ++i) {
    const double t = mid + half * kGaussAbscissae[static_cast<std::size_t>(i)];
    const Vec2 p = geometry.pointAt(t);
    const Vec2 n = geometry.normalAt(t);
    fe.t.push_back(t);
    fe.x.push_back(p.x);
    fe.y.push_back(p.y);
    fe.nx.push_back(n.x);
    fe.ny.push_back(n.y);
    fe.w.push_back(half * kGaussWeights[static_cast<std::size_t>(i)]);
    fe.jacobian.push_back(geometry.jacobianAt(t));
  }
  return fe.pieceCount++;
}

// The hat's flank over `piece` rising from z0 (weight 0) to z1 (weight 1).
PieceUse linearUse(const FillElement& fe, int piece, double z0, double z1, bool shiftedTau) {
  PieceUse use;
  use.piece = piece;
  use.flank = z0 < z1 ? Flank::Rising : Flank::Falling;
  use.shiftedTau = shiftedTau;
  use.divisor = z1 - z0;
  for (int i = 0; i < kFillGaussOrder; ++i)
    use.factor[static_cast<std::size_t>(i)] =
        fe.t[static_cast<std::size_t>(piece * kFillGaussOrder + i)] - z0;
  return use;
}

PieceUse constantUse(int piece) {
  PieceUse use;
  use.piece = piece;
  use.factor.fill(1.0);
  return use;
}

// Centred on the mean of the Gauss points [first, last), through the farthest of them.
FillElement::Disc discAround(const FillElement& fe, int first, int last) {
  FillElement::Disc disc;
  if (last <= first) return disc;
  for (int g = first; g < last; ++g) {
    disc.x += fe.x[static_cast<std::size_t>(g)];
    disc.y += fe.y[static_cast<std::size_t>(g)];
  }
  disc.x /= last - first;
  disc.y /= last - first;
  for (int g = first; g < last; ++g)
    disc.radius = std::max(disc.radius, std::hypot(fe.x[static_cast<std::size_t>(g)] - disc.x,
                                                   fe.y[static_cast<std::size_t>(g)] - disc.y));
  return disc;
}

}  // namespace

// The supports follow the node integrals piece by piece: inner nodes span [s(j-1), s(j+1)];
// on an element with end points the first and last hats continue as the constant 1 to the
// ends; on a circle the first node's left flank starts at t = -1 and the last node (at
// t = 1) is written over [s(n-1) - 2, s1]. Its left flank is therefore a piece of its own,
// sampled at shifted parameters, while its right flank shares [-1, s1] with the first node.
FillElement buildFillElement(const BoundaryElement& element, const ElementGeometry& geometry,
                             const MaterialPatch& patch) {
  FillElement fe;
  const int n = element.gridCount;
  fe.nodeCount = n;
  fe.conductor = element.conductor;
  fe.k = patch.k;
  fe.mu = patch.mu;
  fe.nodeT = element.nodeT;
  const auto s = [&element](int i) { return element.nodeT[static_cast<std::size_t>(i)]; };
  const std::size_t points = static_cast<std::size_t>((n + 1) * kFillGaussOrder);
  for (std::vector<double>* v : {&fe.t, &fe.x, &fe.y, &fe.nx, &fe.ny, &fe.w, &fe.jacobian})
    v->reserve(points);

  fe.support.resize(static_cast<std::size_t>(n) + 1);
  fe.nodeJacobian.resize(static_cast<std::size_t>(n) + 1);
  const auto support = [&fe](int j) -> std::array<PieceUse, 2>& {
    return fe.support[static_cast<std::size_t>(j)];
  };

  const bool open = geometry.hasEndPoints();
  const int first = addPiece(fe, geometry, -1.0, s(1));
  support(1)[0] = open ? constantUse(first) : linearUse(fe, first, -1.0, s(1), false);
  for (int j = 1; j < n; ++j) {
    const int piece = addPiece(fe, geometry, s(j), s(j + 1));
    support(j)[1] = linearUse(fe, piece, s(j + 1), s(j), false);
    if (open || j + 1 < n) support(j + 1)[0] = linearUse(fe, piece, s(j), s(j + 1), false);
  }
  if (open) {
    support(n)[1] = constantUse(addPiece(fe, geometry, s(n), 1.0));
    fe.coveringPieces = fe.pieceCount;
  } else {
    fe.coveringPieces = fe.pieceCount;
    const double left = s(n - 1) - 2.0;
    support(n)[0] = linearUse(fe, addPiece(fe, geometry, left, -1.0), left, -1.0, true);
    support(n)[1] = linearUse(fe, first, s(1), -1.0, true);
  }

  for (int j = 1; j <= n; ++j)
    fe.nodeJacobian[static_cast<std::size_t>(j)] = geometry.jacobianAt(s(j));

  fe.pieceDisc.reserve(static_cast<std::size_t>(fe.pieceCount));
  for (int p = 0; p < fe.pieceCount; ++p)
    fe.pieceDisc.push_back(discAround(fe, p * kFillGaussOrder, (p + 1) * kFillGaussOrder));
  fe.elementDisc = discAround(fe, 0, fe.pieceCount * kFillGaussOrder);
  fe.nearDisc.x = fe.elementDisc.x;
  fe.nearDisc.y = fe.elementDisc.y;
  for (const PieceSummary& piece : fe.pieceSummary) {
    fe.nearDisc.radius =
        std::max(fe.nearDisc.radius,
                 std::hypot(piece.cx - fe.nearDisc.x, piece.cy - fe.nearDisc.y) + piece.radius);
    fe.longestPiece = std::max(fe.longestPiece, piece.length);
  }
  return fe;
}

}  // namespace qbr
