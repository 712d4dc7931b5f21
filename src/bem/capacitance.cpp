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
#include <type_traits>
#include <vector>

#include "base/fatal_stop.hpp"
#include "bem/blas_threads.hpp"
#include "bem/fill_geometry.hpp"
#include "bem/lapack_dense.hpp"
#include "bem/near_field.hpp"
#include "bem/node_integrals.hpp"
#include "bem/resolution.hpp"
#include "model/geometry.hpp"
#include "prep/dielectrics.hpp"
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
  int conductor = 0;  // -1 on a dielectric interface
};

// The single layer of the metal's nodes, and the normal field of the dielectric
// interfaces' nodes, over every piece of every element, against the three shapes a hat
// can have there (near_field.hpp's flanks). Elements are the metal's, in the model's
// order, then the interfaces.
class ChargeRows {
 public:
  ChargeRows(const ProblemModel& model, const DielectricLayout* layout) : model_(model) {
    for (int e = 0; e < model.elementCount; ++e) add(model.elements[idx(e)], false);
    if (layout != nullptr) {
      for (const BoundaryElement& element : layout->interfaces) add(element, true);
    }
    nodeCount_ = static_cast<int>(rows_.size());
  }

  int nodeCount() const { return nodeCount_; }
  int elementCount() const { return static_cast<int>(elements_.size()); }
  const RowNode& row(int k) const { return rows_[idx(k)]; }
  int unknown(int e, int j) const { return offset_[idx(e)] + j - 1; }
  const BoundaryElement& element(int e) const { return *source_[idx(e)]; }
  const ElementGeometry& geometry(int e) const { return geometry_[idx(e)]; }

  // Row k: out[unknown] = int G phi_j dt (a metal node) or int E_n phi_j dt (an interface
  // node) for every node j.
  void fill(int k, std::vector<FlankSums>& sums, double* out, std::size_t stride) const {
    const RowNode& r = rows_[idx(k)];
    const BoundaryElement& rowElement = *source_[idx(r.element)];
    KernelContext ctx;
    ctx.x0 = rowElement.nodeX[idx(r.node)];
    ctx.y0 = rowElement.nodeY[idx(r.node)];
    ctx.symmetryOn = model_.symmetryOn;
    const double tau = rowElement.nodeT[idx(r.node)];
    const bool field = r.conductor < 0;
    if (field) {
      const Vec2 n = geometry_[idx(r.element)].normalAt(tau);
      ctx.field = true;
      ctx.n0x = n.x;
      ctx.n0y = n.y;
    }
    for (int e = 0; e < elementCount(); ++e) {
      const FillElement& f = elements_[idx(e)];
      const std::optional<double> own = e == r.element ? std::optional<double>(tau) : std::nullopt;
      if (field) {
        fieldSums(ctx, e, own, sums);
      } else {
        pieceSums(ctx, e, own, sums);
      }
      for (int j = 1; j <= f.nodeCount; ++j) {
        double value = 0.0;
        for (const PieceUse& use : f.support[idx(j)])
          value += flankValue(sums[idx(use.piece)], use.flank).real();
        out[idx(unknown(e, j)) * stride] = value;
      }
    }
  }

 private:
  void add(const BoundaryElement& element, bool interface) {
    const int e = static_cast<int>(elements_.size());
    source_.push_back(&element);
    offset_.push_back(static_cast<int>(rows_.size()));
    geometry_.push_back(element.geometry(model_.points));
    // The kernels here are Laplace's: the patch's wave number is not used.
    elements_.push_back(
        buildFillElement(element, geometry_.back(),
                         interface ? MaterialPatch{} : model_.patches[idx(element.patch)]));
    for (int i = 1; i <= element.gridCount; ++i)
      rows_.push_back({e, i, interface ? -1 : element.conductor});
  }

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
    // A node of a circle may lie where an interface ends on it: there the single layer of
    // the interface's end piece has the logarithm of the own element's pieces.
    std::optional<double> endHere;
    if (!tau && !far && geometry.hasEndPoints()) {
      for (const double end : {-1.0, 1.0}) {
        const Vec2 p = geometry.pointAt(end);
        if (std::hypot(p.x - ctx.x0, p.y - ctx.y0) <= 1e-9 * f.longestPiece) endHere = end;
      }
    }
    for (int p = 0; p < f.pieceCount; ++p) {
      const PieceSummary& piece = f.pieceSummary[idx(p)];
      std::optional<double> touching =
          tau ? touchingParameter(geometry, piece.a, piece.b, *tau) : std::nullopt;
      if (endHere && (piece.a == *endHere || piece.b == *endHere)) touching = endHere;
      const bool touches = touching.has_value();
      const double at = touching.value_or(0.0);
      FlankSums& s = sums[idx(p)];
      if (!far && !touches) {
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
        if (touches) value += std::log(std::fabs(f.t[g] - at));
        const double w = f.w[g];
        s.constant += value * w;
        s.rising += value * w * (f.t[g] - piece.a) / span;
        s.falling += value * w * (piece.b - f.t[g]) / span;
      }
      if (touches) {
        s.constant -= flankLogIntegral(piece.a, piece.b, Flank::Constant, at);
        s.rising -= flankLogIntegral(piece.a, piece.b, Flank::Rising, at);
        s.falling -= flankLogIntegral(piece.a, piece.b, Flank::Falling, at);
      }
    }
  }

  // The integrals of the normal field at the observation point over every piece of
  // element e. On its own element the field is smooth (the curvature's, 0 on a line):
  // the pieces that end at the observation point keep the Gauss rule, which never
  // samples it; pieces in the near field elsewhere get the graded rule.
  void fieldSums(const KernelContext& ctx, int e, std::optional<double> tau,
                 std::vector<FlankSums>& sums) const {
    const FillElement& f = elements_[idx(e)];
    const ElementGeometry& geometry = geometry_[idx(e)];
    sums.assign(idx(f.pieceCount), FlankSums{});
    if (tau && source_[idx(e)]->kind == kLine) return;
    const double dx = ctx.x0 - f.nearDisc.x;
    const double dy = ctx.y0 - f.nearDisc.y;
    const double bound = f.nearDisc.radius + 0.5 * f.longestPiece;
    const bool far = !tau && dx * dx + dy * dy >= bound * bound;
    constexpr double kNowhere = std::numeric_limits<double>::infinity();
    for (int p = 0; p < f.pieceCount; ++p) {
      const PieceSummary& piece = f.pieceSummary[idx(p)];
      const bool touching = tau && touchingParameter(geometry, piece.a, piece.b, *tau);
      FlankSums& s = sums[idx(p)];
      if (!far && !touching) {
        const PieceRule rule =
            pieceRule(piece, geometry, ctx.x0, ctx.y0, std::nullopt, false, 0.0, kNowhere, false);
        if (rule.laplace) {
          s = integrateNearPiece(ctx, geometry, piece.a, piece.b, rule).laplaceField;
          continue;
        }
      }
      const double span = piece.b - piece.a;
      for (std::size_t i = 0; i < kGaussAbscissae.size(); ++i) {
        const std::size_t g = idx(p) * kGaussAbscissae.size() + i;
        const double value = laplaceFieldKernel(ctx, f.x[g], f.y[g]);
        const double w = f.w[g];
        s.constant += value * w;
        s.rising += value * w * (f.t[g] - piece.a) / span;
        s.falling += value * w * (piece.b - f.t[g]) / span;
      }
    }
  }

  const ProblemModel& model_;
  std::vector<const BoundaryElement*> source_;
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

void solveDense(std::vector<Complex>& a, int n, std::vector<Complex>& b, int columns, int threads) {
  std::vector<int> pivots(idx(n));
  int info = 0;
  const BlasSession blas(threads);
  zgesv_(&n, &columns, a.data(), &n, pivots.data(), b.data(), &n, &info);
  if (info != 0) {
    fatalStop("\nThe electrostatic system is singular (zero pivot in column " +
              std::to_string(info) + ");\n");
  }
}

// The integral over [t0, t1] of node j's hat (in t, without the Jacobian), the hat as the
// fill's supports have it: flanks between neighbouring nodes, the constant 1 out to the
// ends of an open element; on a circle the last node (t = 1) falls over [1, s1 + 2].
double hatIntegral(const BoundaryElement& element, bool open, int j, double t0, double t1) {
  const auto s = [&](int i) { return element.nodeT[idx(i)]; };
  const int n = element.gridCount;
  struct Part {
    double a, b;
    Flank flank;
  };
  std::vector<Part> parts;
  if (j > 1) parts.push_back({s(j - 1), s(j), Flank::Rising});
  if (j == 1)
    parts.push_back(open ? Part{-1.0, s(1), Flank::Constant} : Part{-1.0, s(1), Flank::Rising});
  if (j < n) parts.push_back({s(j), s(j + 1), Flank::Falling});
  if (j == n)
    parts.push_back(open ? Part{s(n), 1.0, Flank::Constant}
                         : Part{1.0, s(1) + 2.0, Flank::Falling});
  double total = 0.0;
  for (const Part& part : parts) {
    const double span = part.b - part.a;
    for (int shift = open ? 0 : -2; shift <= (open ? 0 : 2); shift += 2) {
      const double p = std::max(part.a, t0 + shift);
      const double q = std::min(part.b, t1 + shift);
      if (!(q > p)) continue;
      switch (part.flank) {
        case Flank::Constant:
          total += q - p;
          break;
        case Flank::Rising:
          total += ((q - part.a) * (q - part.a) - (p - part.a) * (p - part.a)) / (2.0 * span);
          break;
        case Flank::Falling:
          total += ((part.b - p) * (part.b - p) - (part.b - q) * (part.b - q)) / (2.0 * span);
          break;
      }
    }
  }
  return total;
}

// C = eps0 P^-1 from the potentials P (column c: conductor c + 1 charged), symmetrised.
template <typename Scalar>
Matrix<Scalar> capacitanceOf(const std::vector<Scalar>& p, int conductors, Scalar eps,
                             int threads) {
  std::vector<Scalar> work = p;
  std::vector<Scalar> inverse(idx(conductors * conductors), Scalar(0.0));
  for (int c = 0; c < conductors; ++c) inverse[idx(c * conductors + c)] = Scalar(1.0);
  solveDense(work, conductors, inverse, conductors, threads);
  Matrix<Scalar> out(conductors, conductors);
  for (int r = 0; r < conductors; ++r) {
    for (int c = 0; c < conductors; ++c) {
      // P is symmetric; so is C, to rounding: its two triangles are averaged.
      out(r, c) =
          eps * Scalar(0.5) * (inverse[idx(c * conductors + r)] + inverse[idx(r * conductors + c)]);
    }
  }
  return out;
}

}  // namespace

Electrostatics solveElectrostatics(const ProblemModel& model, double permittivityRelative,
                                   int threads) {
  const ChargeRows rows(model, nullptr);
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
  }
  out.capacitanceFPerM = capacitanceOf(p, conductors, kEpsilon0 * permittivityRelative, threads);
  out.lossCapacitanceFPerM = Matrix<double>(conductors, conductors);
  return out;
}

namespace {

// The system with dielectric interfaces, in real or complex arithmetic: `kernels` holds
// the rows of the metal's and the interfaces' nodes as the fill left them.
template <typename Scalar>
Electrostatics solveWithInterfaces(const ProblemModel& model, const DielectricLayout& layout,
                                   const ChargeRows& rows, const std::vector<double>& kernels,
                                   int threads) {
  const auto scalar = [](Complex z) {
    if constexpr (std::is_same_v<Scalar, double>) {
      return z.real();
    } else {
      return z;
    }
  };
  const int n = rows.nodeCount();
  const bool hasReturn = model.hasReturnConductor();
  const int conductors = model.conductorCount;
  const auto conductorSlot = [&](int c) { return n + c - (hasReturn ? 0 : 1); };
  const int size = n + conductors + (hasReturn ? 1 : 0);
  const std::size_t ld = idx(size);
  std::vector<Scalar> a(kernels.begin(), kernels.end());
  const auto at = [&](int row, int column) -> Scalar& { return a[idx(column) * ld + idx(row)]; };

  const int metalElements = model.elementCount;
  for (int k = 0; k < n; ++k) {
    const RowNode& r = rows.row(k);
    const BoundaryElement& element = rows.element(r.element);
    if (r.conductor < 0) {
      // The jump of the normal field across a sheet of charge: (pi / lambda) sigma, with
      // sigma = (density per unit t) / J and lambda = (eps_l - eps_r) / (eps_l + eps_r).
      const std::size_t i = idx(r.element - metalElements);
      const Complex left = layout.permittivityLeft[i];
      const Complex right = layout.permittivityRight[i];
      const double jacobian = rows.geometry(r.element).jacobianAt(element.nodeT[idx(r.node)]);
      at(k, k) += scalar(kPi * (left + right) / ((left - right) * jacobian));
      continue;
    }
    // The free charge: eps of the medium outside times the total charge, along each side.
    Complex charge = 0.0;
    const bool open = rows.geometry(r.element).hasEndPoints();
    for (const MediumSide& side : layout.metalSides[idx(r.element)]) {
      charge += side.permittivity * hatIntegral(element, open, r.node, side.t0, side.t1);
    }
    at(conductorSlot(r.conductor), k) = scalar(charge);
  }

  std::vector<Scalar> b(ld * idx(conductors), Scalar(0.0));
  for (int c = 1; c <= conductors; ++c) {
    b[idx(c - 1) * ld + idx(conductorSlot(c))] = Scalar(1.0);
    if (hasReturn) b[idx(c - 1) * ld + idx(conductorSlot(0))] = Scalar(-1.0);
  }
  solveDense(a, size, b, conductors, threads);

  Electrostatics out;
  out.potential = Matrix<double>(conductors, conductors);
  std::vector<Scalar> p(idx(conductors * conductors));
  for (int c = 0; c < conductors; ++c) {
    const Scalar* x = b.data() + idx(c) * ld;
    for (int r = 0; r < conductors; ++r) {
      Scalar v = x[conductorSlot(r + 1)];
      if (hasReturn) v -= x[conductorSlot(0)];
      if (!std::isfinite(std::real(v)) || !std::isfinite(std::imag(v))) {
        fatalStop("\nThe capacitance matrix is not finite (conductor " + std::to_string(r + 1) +
                  ", charge on " + std::to_string(c + 1) + "); check the grids;\n");
      }
      out.potential(r, c) = std::real(v);
      p[idx(c * conductors + r)] = v;
    }
  }
  const Matrix<Scalar> c = capacitanceOf(p, conductors, Scalar(kEpsilon0), threads);
  out.capacitanceFPerM = Matrix<double>(conductors, conductors);
  out.lossCapacitanceFPerM = Matrix<double>(conductors, conductors);
  for (int i = 0; i < conductors; ++i) {
    for (int j = 0; j < conductors; ++j) {
      out.capacitanceFPerM(i, j) = std::real(c(i, j));
      out.lossCapacitanceFPerM(i, j) = -std::imag(c(i, j));
    }
  }
  return out;
}

bool lossy(const DielectricLayout& layout) {
  const auto complex = [](Complex z) { return z.imag() != 0.0; };
  if (complex(layout.background)) return true;
  if (std::any_of(layout.permittivityLeft.begin(), layout.permittivityLeft.end(), complex) ||
      std::any_of(layout.permittivityRight.begin(), layout.permittivityRight.end(), complex)) {
    return true;
  }
  for (const std::vector<MediumSide>& sides : layout.metalSides)
    for (const MediumSide& side : sides)
      if (complex(side.permittivity)) return true;
  return false;
}

}  // namespace

Electrostatics solveElectrostatics(const ProblemModel& gridded, const DielectricLayout& layout,
                                   int threads) {
  ProblemModel model = gridded;
  gradeMetalForDielectrics(model);
  const ChargeRows rows(model, &layout);
  const int n = rows.nodeCount();
  const bool hasReturn = model.hasReturnConductor();
  const int conductors = model.conductorCount;
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
      if (rows.row(k).conductor >= 0) at(k, conductorSlot(rows.row(k).conductor)) = -2.0 * kPi;
    }
  }
  if (lossy(layout)) return solveWithInterfaces<Complex>(model, layout, rows, a, threads);
  return solveWithInterfaces<double>(model, layout, rows, a, threads);
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
                                                 double permittivityRelative,
                                                 const DielectricLayout* layout, int threads) {
  const auto coarser = [&](int divisor) {
    ProblemModel coarse = gridded;
    placeGrids(coarse, coarserGridCounts(gridded, divisor));
    if (layout == nullptr) {
      return solveElectrostatics(coarse, permittivityRelative, threads).capacitanceFPerM;
    }
    return solveElectrostatics(coarse, coarserLayout(coarse, *layout, divisor), threads)
        .capacitanceFPerM;
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
