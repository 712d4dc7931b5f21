#include "bem/capacitance.hpp"

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/fatal_stop.hpp"
#include "bem/blas_threads.hpp"
#include "bem/fill_geometry.hpp"
#include "bem/lapack_dense.hpp"
#include "bem/near_field.hpp"
#include "bem/node_integrals.hpp"
#include "bem/resolution.hpp"
#include "model/geometry.hpp"
#include "prep/grids.hpp"

namespace qbr {

namespace {

std::size_t idx(int i) {
  return static_cast<std::size_t>(i);
}

// One grid node as a row of the system: where it is and on which element.
struct RowNode {
  int element = 0;
  int node = 0;
  int conductor = 0;
};

// The single layer of one row node over every piece of one element, against the three
// shapes a hat can have there (near_field.hpp's flanks).
class SingleLayerRows {
 public:
  explicit SingleLayerRows(const ProblemModel& model) : model_(model) {
    for (int e = 0; e < model.elementCount; ++e) {
      const BoundaryElement& element = model.elements[idx(e)];
      geometry_.push_back(element.geometry(model.points));
      elements_.push_back(
          buildFillElement(element, geometry_.back(), model.patches[idx(element.patch)]));
      for (int i = 1; i <= element.gridCount; ++i) rows_.push_back({e, i, element.conductor});
    }
    nodeCount_ = static_cast<int>(rows_.size());
    offset_.assign(idx(model.elementCount), 0);
    int offset = 0;
    for (int e = 0; e < model.elementCount; ++e) {
      offset_[idx(e)] = offset;
      offset += model.elements[idx(e)].gridCount;
    }
  }

  int nodeCount() const { return nodeCount_; }
  const RowNode& row(int k) const { return rows_[idx(k)]; }
  int unknown(int e, int j) const { return offset_[idx(e)] + j - 1; }

  // Row k of the single layer: out[unknown] = int G phi_j dt for every node j.
  void fill(int k, std::vector<FlankSums>& sums, double* out, std::size_t stride) const {
    const RowNode& r = rows_[idx(k)];
    const BoundaryElement& rowElement = model_.elements[idx(r.element)];
    KernelContext ctx;
    ctx.x0 = rowElement.nodeX[idx(r.node)];
    ctx.y0 = rowElement.nodeY[idx(r.node)];
    ctx.symmetryOn = model_.symmetryOn;
    const double tau = rowElement.nodeT[idx(r.node)];
    for (int e = 0; e < model_.elementCount; ++e) {
      const FillElement& f = elements_[idx(e)];
      pieceSums(ctx, e, e == r.element ? std::optional<double>(tau) : std::nullopt, sums);
      for (int j = 1; j <= f.nodeCount; ++j) {
        double value = 0.0;
        for (const PieceUse& use : f.support[idx(j)])
          value += flankValue(sums[idx(use.piece)], use.flank).real();
        out[idx(unknown(e, j)) * stride] = value;
      }
    }
  }

 private:
  // The integrals of G over every piece of element e. On the observation point's own
  // element (tau given) the two pieces that end at it carry the logarithm at that end:
  // G + ln|t - tau| is integrated by the Gauss rule and ln|t - tau| in closed form.
  // Pieces in the near field get the graded rule.
  void pieceSums(const KernelContext& ctx, int e, std::optional<double> tau,
                 std::vector<FlankSums>& sums) const {
    const FillElement& f = elements_[idx(e)];
    const ElementGeometry& geometry = geometry_[idx(e)];
    sums.assign(idx(f.pieceCount), FlankSums{});
    const double dx = ctx.x0 - f.nearDisc.x;
    const double dy = ctx.y0 - f.nearDisc.y;
    const double bound = f.nearDisc.radius + 0.5 * f.longestPiece;
    const bool far = !tau && dx * dx + dy * dy >= bound * bound;
    constexpr double kNowhere = std::numeric_limits<double>::infinity();
    for (int p = 0; p < f.pieceCount; ++p) {
      const PieceSummary& piece = f.pieceSummary[idx(p)];
      const std::optional<double> touching =
          tau ? touchingParameter(geometry, piece.a, piece.b, *tau) : std::nullopt;
      FlankSums& s = sums[idx(p)];
      if (!far && !touching) {
        // Never touching here (the pieces at the observation point are handled below on
        // every grid), so the order of the grids does not enter.
        const PieceRule rule =
            pieceRule(piece, geometry, ctx.x0, ctx.y0, std::nullopt, false, 0.0, kNowhere, false);
        if (rule.laplace) {
          s = integrateNearPiece(ctx, geometry, piece.a, piece.b, rule).laplaceSingle;
          continue;
        }
      }
      const double span = piece.b - piece.a;
      for (std::size_t i = 0; i < kGaussAbscissae.size(); ++i) {
        const std::size_t g = idx(p) * kGaussAbscissae.size() + i;
        double value = laplaceKernel(ctx, f.x[g], f.y[g]);
        if (touching) value += std::log(std::fabs(f.t[g] - *touching));
        const double w = f.w[g];
        s.constant += value * w;
        s.rising += value * w * (f.t[g] - piece.a) / span;
        s.falling += value * w * (piece.b - f.t[g]) / span;
      }
      if (touching) {
        s.constant -= flankLogIntegral(piece.a, piece.b, Flank::Constant, *touching);
        s.rising -= flankLogIntegral(piece.a, piece.b, Flank::Rising, *touching);
        s.falling -= flankLogIntegral(piece.a, piece.b, Flank::Falling, *touching);
      }
    }
  }

  const ProblemModel& model_;
  std::vector<ElementGeometry> geometry_;
  std::vector<FillElement> elements_;
  std::vector<RowNode> rows_;
  std::vector<int> offset_;
  int nodeCount_ = 0;
};

// Solves the n x n column-major system for the columns of b; stops the run where it is
// singular. Holds the BLAS as the inductance's solve does, so that solves in several
// threads give the bits each gives alone.
void solveDense(std::vector<double>& a, int n, std::vector<double>& b, int columns, int threads) {
  std::vector<int> pivots(idx(n));
  int info = 0;
  const BlasSession blas(threads);
  dgesv_(&n, &columns, a.data(), &n, pivots.data(), b.data(), &n, &info);
  if (info != 0) {
    fatalStop("\nThe electrostatic system is singular (zero pivot in column " +
              std::to_string(info) + ");\n");
  }
}

}  // namespace

Electrostatics solveElectrostatics(const ProblemModel& model, double permittivityRelative,
                                   int threads) {
  const SingleLayerRows rows(model);
  const int n = rows.nodeCount();
  const bool hasReturn = model.hasReturnConductor();
  const int conductors = model.conductorCount;
  // Potential and charge row of conductor c (0 only with a return conductor).
  const auto conductorSlot = [&](int c) { return n + c - (hasReturn ? 0 : 1); };
  const int size = n + conductors + (hasReturn ? 1 : 0);
  const std::size_t ld = idx(size);

  std::vector<double> a(ld * ld, 0.0);
  const auto at = [&](int row, int column) -> double& { return a[idx(column) * ld + idx(row)]; };
#pragma omp parallel num_threads(threads > 0 ? threads : omp_get_max_threads())
  {
    std::vector<FlankSums> sums;
#pragma omp for schedule(dynamic, 8)
    for (int k = 0; k < n; ++k) {
      rows.fill(k, sums, &at(k, 0), ld);
      at(k, conductorSlot(rows.row(k).conductor)) = -2.0 * kPi;
    }
  }
  // The charge rows: int q ds over each conductor, q J interpolated between the nodes.
  for (int k = 0; k < n; ++k) {
    const RowNode& r = rows.row(k);
    const BoundaryElement& element = model.elements[idx(r.element)];
    const ElementGeometry geometry = element.geometry(model.points);
    at(conductorSlot(r.conductor), k) =
        nodeIntegral(KernelContext{}, geometry, element.nodeT, r.node, IntegralKind::Unit, 0.0)
            .real();
  }

  // A unit charge on each reported conductor, taken back from conductor 0.
  std::vector<double> b(ld * idx(conductors), 0.0);
  for (int c = 1; c <= conductors; ++c) {
    b[idx(c - 1) * ld + idx(conductorSlot(c))] = 1.0;
    if (hasReturn) b[idx(c - 1) * ld + idx(conductorSlot(0))] = -1.0;
  }
  solveDense(a, size, b, conductors, threads);

  Electrostatics out;
  out.potential = Matrix<double>(conductors, conductors);
  std::vector<double> p(idx(conductors * conductors));
  std::vector<double> inverse(idx(conductors * conductors), 0.0);
  for (int c = 0; c < conductors; ++c) {
    const double* x = b.data() + idx(c) * ld;
    for (int r = 0; r < conductors; ++r) {
      double v = x[conductorSlot(r + 1)];
      if (hasReturn) v -= x[conductorSlot(0)];
      if (!std::isfinite(v)) {
        fatalStop("\nThe capacitance matrix is not finite (conductor " + std::to_string(r + 1) +
                  ", charge on " + std::to_string(c + 1) + "); check the grids;\n");
      }
      out.potential(r, c) = v;
      p[idx(c * conductors + r)] = v;
    }
    inverse[idx(c * conductors + c)] = 1.0;
  }
  solveDense(p, conductors, inverse, conductors, threads);
  out.capacitanceFPerM = Matrix<double>(conductors, conductors);
  const double eps = kEpsilon0 * permittivityRelative;
  for (int r = 0; r < conductors; ++r) {
    for (int c = 0; c < conductors; ++c) {
      // P is symmetric; so is C, to rounding: its two triangles are averaged.
      out.capacitanceFPerM(r, c) =
          eps * 0.5 * (inverse[idx(c * conductors + r)] + inverse[idx(r * conductors + c)]);
    }
  }
  return out;
}

Matrix<double> externalInductance(const ProblemModel& gridded, int threads) {
  const Matrix<double> c0 = solveElectrostatics(gridded, 1.0, threads).capacitanceFPerM;
  const int n = c0.rows();
  std::vector<double> a(idx(n * n));
  std::vector<double> inverse(idx(n * n), 0.0);
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) a[idx(c * n + r)] = c0(r, c);
    inverse[idx(r * n + r)] = 1.0;
  }
  solveDense(a, n, inverse, n, threads);
  Matrix<double> l(n, n);
  for (int r = 0; r < n; ++r) {
    for (int c = 0; c < n; ++c) {
      // C0 is symmetric, so is its inverse, to rounding: the two triangles are averaged.
      l(r, c) = kMu0 * kEpsilon0 * 0.5 * (inverse[idx(c * n + r)] + inverse[idx(r * n + c)]);
    }
  }
  return l;
}

std::vector<std::string> capacitanceGridWarnings(const ProblemModel& gridded,
                                                 const Matrix<double>& capacitance,
                                                 double permittivityRelative, int threads) {
  const auto coarser = [&](int divisor) {
    ProblemModel coarse = gridded;
    placeGrids(coarse, coarserGridCounts(gridded, divisor));
    return solveElectrostatics(coarse, permittivityRelative, threads).capacitanceFPerM;
  };
  const Matrix<double> half = coarser(2);
  const Matrix<double> quarter = coarser(4);
  std::vector<std::string> warnings;
  for (int r = 0; r < capacitance.rows(); ++r) {
    for (int c = r; c < capacitance.cols(); ++c) {
      const double scale = std::sqrt(std::fabs(capacitance(r, r) * capacitance(c, c)));
      const double change = gridCheckChange(capacitance(r, c), half(r, c), quarter(r, c), scale);
      if (!(change > kResolved)) continue;
      char text[200];
      std::snprintf(text, sizeof text,
                    "Warning: C[%d,%d] changes by %.2g%% on coarser grids, so it may be off by "
                    "as much; refine the grid where the charge crowds (edges and corners);",
                    r + 1, c + 1, 100.0 * change);
      warnings.emplace_back(text);
    }
  }
  return warnings;
}

}  // namespace qbr
