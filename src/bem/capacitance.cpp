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

// A lossy dielectric makes the system complex, A = A0 + j A1, with A1 (the loss tangents'
// part) only on the interfaces' diagonal and the charge rows, small beside A0. Factorising
// A0 alone and iterating x <- A0^-1 (b - j A1 x), each step a solve with its factors,
// converges as tan(delta)^k (7 steps to 1e-11 at tan(delta) 0.02): a real LU instead of a
// complex one, a quarter of the work. Where it does not converge (large loss tangents) the
// complex LU of the whole takes over. `a` holds A0 (overwritten), `lossy` A1's entries
// (row, column, value); returns the solution for the real right sides `b`.
struct LossEntry {
  int row, column;
  double value;
};

// On grids graded to the dielectric junctions the system's rounding is higher: on the
// FR4 microstrips the steps stall between 1e-10 and 6e-9 of the solution, and would run
// to their limit and then the complex LU (four times the work). There they end once a
// step changes the solution by less than `enough` of it (0: the plain 1e-11); each step
// contracts by about the loss tangent, so what remains is some 1e-10 of it.
std::vector<Complex> solveNearlyReal(std::vector<double>& a, const std::vector<LossEntry>& lossy,
                                     int n, const std::vector<double>& b, int columns, int threads,
                                     double enough) {
  const std::size_t ld = idx(n);
  const std::vector<double> original = a;
  std::vector<int> pivots(ld);
  int info = 0;
  {
    const BlasSession blas(threads);
    dgetrf_(&n, &n, a.data(), &n, pivots.data(), &info);
  }
  if (info == 0) {
    // The real and imaginary parts of the solution, side by side: 2 columns per column.
    const int sides = 2 * columns;
    std::vector<double> x(ld * idx(sides), 0.0);
    std::vector<double> next(x.size());
    constexpr int kMostSteps = 60;
    for (int step = 0; step < kMostSteps; ++step) {
      // next = (b + A1 x_im) + j (-A1 x_re), then A0^-1 of both parts.
      for (int c = 0; c < columns; ++c) {
        double* re = next.data() + idx(2 * c) * ld;
        double* im = re + ld;
        const double* xRe = x.data() + idx(2 * c) * ld;
        const double* xIm = xRe + ld;
        std::copy_n(b.data() + idx(c) * ld, ld, re);
        std::fill_n(im, ld, 0.0);
        for (const LossEntry& e : lossy) {
          re[e.row] += e.value * xIm[e.column];
          im[e.row] -= e.value * xRe[e.column];
        }
      }
      {
        const BlasSession blas(threads);
        dgetrs_("N", &n, &sides, a.data(), &n, pivots.data(), next.data(), &n, &info, 1);
      }
      double change = 0.0;
      double size = 0.0;
      for (std::size_t i = 0; i < x.size(); ++i) {
        change = std::max(change, std::fabs(next[i] - x[i]));
        size = std::max(size, std::fabs(next[i]));
      }
      x.swap(next);
      // The steps stall at the rounding of the system (about 1e-12 of the solution on a
      // well-graded microstrip): 1e-11 is far below any printed digit.
      if (change <= std::max(1e-11, enough) * size) {
        std::vector<Complex> out(ld * idx(columns));
        for (int c = 0; c < columns; ++c) {
          const double* re = x.data() + idx(2 * c) * ld;
          for (std::size_t r = 0; r < ld; ++r) out[idx(c) * ld + r] = Complex(re[r], re[ld + r]);
        }
        return out;
      }
    }
  }
  std::vector<Complex> full(original.begin(), original.end());
  for (const LossEntry& e : lossy) full[idx(e.column) * ld + idx(e.row)] += Complex(0.0, e.value);
  std::vector<Complex> out(b.begin(), b.end());
  solveDense(full, n, out, columns, threads);
  return out;
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

namespace {

// The rows of the nodes, filled in parallel (column-major, size x size): the kernels'
// integrals and, in a metal node's row, -2 pi for its conductor's potential. Potential and
// charge row of conductor c sit after the nodes (0 only with a return conductor).
struct ChargeSystem {
  int n = 0;
  bool hasReturn = false;
  int conductors = 0;
  int size = 0;
  std::size_t ld = 0;
  int conductorSlot(int c) const { return n + c - (hasReturn ? 0 : 1); }
};

ChargeSystem chargeSystem(const ProblemModel& model, const ChargeRows& rows) {
  ChargeSystem system;
  system.n = rows.nodeCount();
  system.hasReturn = model.hasReturnConductor();
  system.conductors = model.conductorCount;
  system.size = system.n + system.conductors + (system.hasReturn ? 1 : 0);
  system.ld = idx(system.size);
  return system;
}

std::vector<double> filledRows(const ChargeRows& rows, const ChargeSystem& system, int threads) {
  const std::size_t ld = system.ld;
  std::vector<double> a(ld * ld, 0.0);
  const auto at = [&](int row, int column) -> double& { return a[idx(column) * ld + idx(row)]; };
#pragma omp parallel num_threads(threads > 0 ? threads : omp_get_max_threads())
  {
    std::vector<FlankSums> sums;
#pragma omp for schedule(dynamic, 8)
    for (int k = 0; k < system.n; ++k) {
      rows.fill(k, sums, &at(k, 0), ld);
      const int conductor = rows.row(k).conductor;
      if (conductor >= 0) at(k, system.conductorSlot(conductor)) = -2.0 * kPi;
    }
  }
  return a;
}

}  // namespace

Electrostatics solveElectrostatics(const ProblemModel& model, double permittivityRelative,
                                   int threads) {
  const ChargeRows rows(model, nullptr);
  const ChargeSystem system = chargeSystem(model, rows);
  const int n = system.n;
  const bool hasReturn = system.hasReturn;
  const int conductors = system.conductors;
  const auto conductorSlot = [&](int c) { return system.conductorSlot(c); };
  const int size = system.size;
  const std::size_t ld = system.ld;
  std::vector<double> a = filledRows(rows, system, threads);
  const auto at = [&](int row, int column) -> double& { return a[idx(column) * ld + idx(row)]; };
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

// The system with dielectric interfaces: `a` holds the rows of the metal's and the
// interfaces' nodes as the fill left them; the free terms and the charge rows are added
// here, their imaginary parts (loss tangents) apart.
Electrostatics solveWithInterfaces(const ProblemModel& model, const DielectricLayout& layout,
                                   const ChargeRows& rows, std::vector<double>& a, int threads) {
  const ChargeSystem system = chargeSystem(model, rows);
  const int n = system.n;
  const bool hasReturn = system.hasReturn;
  const int conductors = system.conductors;
  const auto conductorSlot = [&](int c) { return system.conductorSlot(c); };
  const int size = system.size;
  const std::size_t ld = system.ld;
  const auto at = [&](int row, int column) -> double& { return a[idx(column) * ld + idx(row)]; };
  std::vector<LossEntry> lossy;
  const auto add = [&](int row, int column, Complex value) {
    at(row, column) += value.real();
    if (value.imag() != 0.0) lossy.push_back({row, column, value.imag()});
  };

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
      add(k, k, kPi * (left + right) / ((left - right) * jacobian));
      continue;
    }
    // The free charge: eps of the medium outside times the total charge, along each side.
    Complex charge = 0.0;
    const bool open = rows.geometry(r.element).hasEndPoints();
    for (const MediumSide& side : layout.metalSides[idx(r.element)]) {
      charge += side.permittivity * hatIntegral(element, open, r.node, side.t0, side.t1);
    }
    add(conductorSlot(r.conductor), k, charge);
  }

  std::vector<double> b(ld * idx(conductors), 0.0);
  for (int c = 1; c <= conductors; ++c) {
    b[idx(c - 1) * ld + idx(conductorSlot(c))] = 1.0;
    if (hasReturn) b[idx(c - 1) * ld + idx(conductorSlot(0))] = -1.0;
  }
  std::vector<Complex> x;
  if (lossy.empty()) {
    solveDense(a, size, b, conductors, threads);
    x.assign(b.begin(), b.end());
  } else {
    x = solveNearlyReal(a, lossy, size, b, conductors, threads,
                        layout.gradedToJunctions ? 1e-8 : 0.0);
  }

  Electrostatics out;
  out.potential = Matrix<double>(conductors, conductors);
  std::vector<Complex> p(idx(conductors * conductors));
  for (int c = 0; c < conductors; ++c) {
    const Complex* column = x.data() + idx(c) * ld;
    for (int r = 0; r < conductors; ++r) {
      Complex v = column[conductorSlot(r + 1)];
      if (hasReturn) v -= column[conductorSlot(0)];
      if (!std::isfinite(v.real()) || !std::isfinite(v.imag())) {
        fatalStop("\nThe capacitance matrix is not finite (conductor " + std::to_string(r + 1) +
                  ", charge on " + std::to_string(c + 1) + "); check the grids;\n");
      }
      out.potential(r, c) = v.real();
      p[idx(c * conductors + r)] = v;
    }
  }
  out.capacitanceFPerM = Matrix<double>(conductors, conductors);
  out.lossCapacitanceFPerM = Matrix<double>(conductors, conductors);
  if (lossy.empty()) {
    std::vector<double> real(p.size());
    for (std::size_t i = 0; i < p.size(); ++i) real[i] = p[i].real();
    out.capacitanceFPerM = capacitanceOf(real, conductors, kEpsilon0, threads);
    return out;
  }
  const Matrix<Complex> c = capacitanceOf(p, conductors, Complex(kEpsilon0), threads);
  for (int i = 0; i < conductors; ++i) {
    for (int j = 0; j < conductors; ++j) {
      out.capacitanceFPerM(i, j) = c(i, j).real();
      out.lossCapacitanceFPerM(i, j) = -c(i, j).imag();
    }
  }
  return out;
}

}  // namespace

Electrostatics solveElectrostatics(const ProblemModel& gridded, const DielectricLayout& given,
                                   int threads) {
  ProblemModel model = gridded;
  DielectricLayout layout = given;
  gradeMetalForDielectrics(model, layout);
  const ChargeRows rows(model, &layout);
  std::vector<double> a = filledRows(rows, chargeSystem(model, rows), threads);
  return solveWithInterfaces(model, layout, rows, a, threads);
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

ResolvedCapacitance resolveCapacitance(const ProblemModel& gridded, const Electrostatics* printed,
                                       double permittivityRelative, const DielectricLayout* layout,
                                       double tolerance, int threads) {
  ProblemModel finest;
  const auto solveAt = [&](double factor) {
    finest = gridded;
    if (factor == 1.0 && printed != nullptr) return *printed;
    placeGrids(finest, scaledGridCounts(gridded, factor));
    if (layout == nullptr) return solveElectrostatics(finest, permittivityRelative, threads);
    return solveElectrostatics(finest, scaledLayout(finest, *layout, factor), threads);
  };
  const auto rows = [](const Matrix<double>& c) {
    std::vector<std::vector<double>> a(static_cast<std::size_t>(c.rows()));
    for (int r = 0; r < c.rows(); ++r)
      for (int k = 0; k < c.cols(); ++k) a[static_cast<std::size_t>(r)].push_back(c(r, k));
    return a;
  };
  constexpr double kMostRefinement = 16.0;
  const bool refine = tolerance > 0.0;
  std::vector<Electrostatics> ladder;
  // Refined to a tolerance, C's ladder starts at the share of `gridded`'s counts that the
  // conductor's ladder starts at of its own (below half for a loose tolerance).
  double factor = refine ? firstRefinementFactor(tolerance) : 1.0 / kLadderRatio;
  for (int k = 0; k < 3; ++k, factor *= kLadderRatio) ladder.push_back(solveAt(factor));
  ResolvedCapacitance result;
  ToleranceTracker tracker{tolerance};
  for (;;) {
    const std::size_t n = ladder.size();
    const MatrixErrors e = matrixErrors(
        rows(ladder[n - 3].capacitanceFPerM), rows(ladder[n - 2].capacitanceFPerM),
        rows(ladder[n - 1].capacitanceFPerM), refine ? LadderRung::kFinest : LadderRung::kMiddle);
    double largest = 0.0;
    for (const auto* m : {&e.entries, &e.pairs})
      for (const auto& row : *m)
        for (double x : row) largest = std::max(largest, x);
    // The grid counts grow with the factor, the system as its square: a factor of 16 is
    // 256 times the memory of the run's own grid.
    const bool met = refine && tracker.met(largest, e.regular);
    // A ladder that met the tolerance with irregular steps states no less than the one
    // before it: on a substrate the errors of the strip's faces and of its sides have
    // opposite signs and step as their counts round, and a last step that happened to be
    // small (coplanar line on silicon at 1e-3: 1e-6 after 1.2e-4) said 1e-6 where C was
    // 6.8e-5 off; the ladder before it said 1.2e-4.
    if (met && !e.regular && !result.entries.empty()) {
      for (auto [now, before] :
           {std::pair{&e.entries, &result.entries}, std::pair{&e.pairs, &result.pairs}}) {
        for (std::size_t i = 0; i < now->size(); ++i)
          for (std::size_t j = 0; j < (*now)[i].size(); ++j)
            (*before)[i][j] = std::max((*before)[i][j], (*now)[i][j]);
      }
    } else {
      result.entries = e.entries;
      result.pairs = e.pairs;
    }
    if (!refine || met || factor > kMostRefinement) break;
    ladder.push_back(solveAt(factor));
    factor *= kLadderRatio;
  }
  result.passes = static_cast<int>(ladder.size());
  result.statics = refine ? ladder.back() : *printed;
  if (refine) result.finest = std::move(finest);
  appendResolutionWarnings(MatrixErrors{result.entries, result.pairs}, "C",
                           refine ? tolerance : kResolved,
                           "refine the grid where the charge crowds (edges and corners), or ask "
                           "for an accuracy;",
                           result.warnings);
  return result;
}

}  // namespace qbr
