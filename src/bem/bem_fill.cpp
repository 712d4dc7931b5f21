#include "bem/bem_fill.hpp"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "bem/bessel.hpp"
#include "bem/fill_geometry.hpp"
#include "bem/geometry.hpp"
#include "bem/hankel.hpp"
#include "bem/node_integrals.hpp"

namespace qbr {

namespace {

constexpr char kSpinner[] = "|/-\\";

// Beyond |Im(k r)| = 20 on its decaying side the Hankel function is taken as exactly zero
// (hankel.cpp); the fill tests the argument first and skips the Bessel work altogether.
constexpr double kHankelCutOff = 20.0;

// Row nodes per parallel task. Their rows are assembled in a scratch block and written to
// the column-major matrix column by column, 2 * kRowBlock entries at a time, instead of
// one entry per column and page.
constexpr int kRowBlock = 8;

constexpr std::size_t kGauss = static_cast<std::size_t>(kFillGaussOrder);

std::size_t idx(int i) {
  return static_cast<std::size_t>(i);
}

// The kernels of node_integrals.cpp, with every operation in the same order so that the
// values agree bit for bit, but the Laplace kernel and its normal derivative from one
// distance, and K and dK/dn from one Hankel pair.
struct LaplaceValues {
  double single;  // G
  double normal;  // dG/dn
};

inline LaplaceValues laplaceKernels(double x, double y, double nx, double ny, double x0, double y0,
                                    bool symmetryOn) {
  const double dx = x - x0;
  const double dy = y - y0;
  const double r2 = dx * dx + dy * dy;
  const double along = dx * nx + dy * ny;
  if (!symmetryOn) return {-0.5 * std::log(r2), -along / r2};
  const double ys = y + y0;
  const double image2 = dx * dx + ys * ys;
  return {-0.5 * std::log(r2 / image2), (dx * nx + ys * ny) / image2 - along / r2};
}

// What the Helmholtz kernels of one patch share: the wave number, which Hankel function
// decays, and the constant factors of K and dK/dn.
struct Medium {
  Complex k{};
  bool firstKind = false;
  Complex singleFactor{};  // +-j pi/2
  Complex normalFactor{};  // -+j pi/2 times k
};

Medium mediumOf(Complex k) {
  Medium m;
  m.k = k;
  m.firstKind = k.imag() > 0.0;
  m.singleFactor = m.firstKind ? Complex(0.0, kPi / 2.0) : Complex(0.0, -kPi / 2.0);
  m.normalFactor =
      cplx::product(m.firstKind ? Complex(0.0, -kPi / 2.0) : Complex(0.0, kPi / 2.0), k);
  return m;
}

struct HelmholtzValues {
  Complex single;  // K
  Complex normal;  // dK/dn
};

inline HelmholtzValues helmholtzKernels(const Medium& medium, double x, double y, double nx,
                                        double ny, double x0, double y0) {
  const double dx = x - x0;
  const double dy = y - y0;
  const double r = std::sqrt(dx * dx + dy * dy);
  const double along = dx * nx + dy * ny;
  const Complex z(medium.k.real() * r, medium.k.imag() * r);
  if (medium.firstKind ? z.imag() > kHankelCutOff : z.imag() < -kHankelCutOff) return {};
  const HankelPair h = medium.firstKind ? hankelFirstPair(z) : hankelSecondPair(z);
  const Complex n = cplx::product(medium.normalFactor, h.h1);
  return {cplx::product(medium.singleFactor, h.h0), {n.real() * along / r, n.imag() * along / r}};
}

// One column element as the fill uses it: its Gauss-point tables and its medium.
struct ColumnElement {
  FillElement samples;
  Medium medium;
};

// The kernels of one row node at every Gauss point of one column element, each times the
// point's weight: the factor that both nodes sharing the point multiply by their hat.
struct KernelScratch {
  std::vector<double> single, normal;
  std::vector<Complex> hSingle, hNormal;

  void reserve(std::size_t n) {
    single.resize(n);
    normal.resize(n);
    hSingle.resize(n);
    hNormal.resize(n);
  }
};

// The piece sums of the node integrals: sum of (value w) (t - z0) over the piece's Gauss
// points in their order, from 0, then divided by (z1 - z0).
inline double pieceSum(const std::vector<double>& weighted, const PieceUse& use) {
  const double* v = weighted.data() + idx(use.piece) * kGauss;
  double sum = 0.0;
  for (std::size_t i = 0; i < kGauss; ++i) sum = sum + v[i] * use.factor[i];
  return sum / use.divisor;
}

inline Complex pieceSum(const std::vector<Complex>& weighted, const PieceUse& use) {
  const Complex* v = weighted.data() + idx(use.piece) * kGauss;
  double re = 0.0;
  double im = 0.0;
  for (std::size_t i = 0; i < kGauss; ++i) {
    re = re + v[i].real() * use.factor[i];
    im = im + v[i].imag() * use.factor[i];
  }
  return {re / use.divisor, im / use.divisor};
}

// The fixed spinner text, one "\b" and character per (row element, column element, row
// node), written as a prefix that grows with the share of row nodes done.
class Spinner {
 public:
  explicit Spinner(const ProblemModel& model) : model_(model) {
    for (int m = 0; m < model.elementCount; ++m)
      total_ += static_cast<std::int64_t>(model.elementCount) * model.elements[idx(m)].gridCount;
  }

  void advanceTo(std::int64_t doneNodes, std::int64_t totalNodes, std::ostream& console) {
    const std::int64_t target = totalNodes > 0 ? total_ * doneNodes / totalNodes : total_;
    if (target <= written_) return;
    std::string text;
    text.reserve(static_cast<std::size_t>(2 * (target - written_)));
    for (; written_ < target; ++written_) {
      // Row elements without nodes have no steps.
      while (model_.elements[idx(m_)].gridCount == 0) ++m_;
      text += '\b';
      text += kSpinner[node_ % 4];
      if (++node_ > model_.elements[idx(m_)].gridCount) {
        node_ = 1;
        if (++e_ == model_.elementCount) {
          e_ = 0;
          ++m_;
        }
      }
    }
    console << text;
    console.flush();
  }

 private:
  const ProblemModel& model_;
  std::int64_t total_ = 0;
  std::int64_t written_ = 0;
  int m_ = 0, e_ = 0, node_ = 1;
};

class NodeBlockFill {
 public:
  NodeBlockFill(const ProblemModel& model, const Unknowns& unknowns)
      : model_(model), unknowns_(unknowns), nd_(unknowns.nd()), nd0_(unknowns.nd0()) {
    const int count = model.elementCount;
    geometry_.reserve(idx(count));
    columns_.reserve(idx(count));
    for (int e = 0; e < count; ++e) {
      const BoundaryElement& element = model.elements[idx(e)];
      const MaterialPatch& patch = model.patches[idx(element.patch)];
      geometry_.push_back(element.geometry(model.points));
      columns_.push_back({buildFillElement(element, geometry_.back(), patch), mediumOf(patch.k)});
      maxPoints_ = std::max(maxPoints_, columns_.back().samples.t.size());
      for (int i = 1; i <= element.gridCount; ++i) rowNodes_.push_back({e, i});
    }
  }

  int rowNodeCount() const { return static_cast<int>(rowNodes_.size()); }
  std::size_t maxPoints() const { return maxPoints_; }

  // Rows of the global row nodes [first, last): node g owns rows 2g + 1 and 2g + 2. The
  // block holds all nd columns with leading dimension 2 * kRowBlock.
  void fillBlock(int first, int last, std::vector<Complex>& block, KernelScratch& scratch,
                 ComplexMatrix& A) const {
    const std::size_t ld = 2 * static_cast<std::size_t>(kRowBlock);
    for (int g = first; g < last; ++g)
      fillRowNode(rowNodes_[idx(g)], block.data() + 2 * idx(g - first), ld, scratch);
    const std::size_t height = 2 * idx(last - first);
    const std::int64_t firstRow = 2 * static_cast<std::int64_t>(first) + 1;
    for (int c = 1; c <= nd_; ++c) {
      const Complex* from = block.data() + idx(c - 1) * ld;
      std::copy(from, from + height, &A(firstRow, c));
    }
  }

  // The current rows: the integral of each node's shape function in that node's second
  // unknown, nothing else.
  void fillCurrentRows(ComplexMatrix& A) const {
    for (int c = 1; c <= nd_; ++c)
      for (int r = nd0_ + 1; r <= nd_; ++r) A(r, c) = Complex{};
    KernelContext unused;
    for (const RowNode& node : rowNodes_) {
      const BoundaryElement& element = model_.elements[idx(node.element)];
      A(unknowns_.conductor(element.conductor), unknowns_.nodeSecond(node.element, node.node)) =
          nodeIntegral(unused, geometry_[idx(node.element)], element.nodeT, node.node,
                       IntegralKind::Unit, 0.0);
    }
  }

 private:
  struct RowNode {
    int element;
    int node;
  };

  void evaluateKernels(const ColumnElement& column, double x0, double y0, bool helmholtz,
                       KernelScratch& s) const {
    const FillElement& f = column.samples;
    const std::size_t points = f.t.size();
    for (std::size_t g = 0; g < points; ++g) {
      const LaplaceValues l =
          laplaceKernels(f.x[g], f.y[g], f.nx[g], f.ny[g], x0, y0, model_.symmetryOn);
      s.single[g] = l.single * f.w[g];
      s.normal[g] = l.normal * f.w[g];
    }
    if (!helmholtz) return;
    for (std::size_t g = 0; g < points; ++g) {
      const HelmholtzValues h =
          helmholtzKernels(column.medium, f.x[g], f.y[g], f.nx[g], f.ny[g], x0, y0);
      s.hSingle[g] = {h.single.real() * f.w[g], h.single.imag() * f.w[g]};
      s.hNormal[g] = {h.normal.real() * f.w[g], h.normal.imag() * f.w[g]};
    }
  }

  // The single layers of the self term carry ln|t - tau| through the Gauss rule; the
  // logarithm comes back out in closed form, by nodeLogIntegral.
  struct Regularised {
    double laplace;
    Complex helmholtz;
  };

  Regularised regularisedSelf(const ColumnElement& column, int j, double x0, double y0,
                              double tau) const {
    const FillElement& f = column.samples;
    Regularised out{0.0, {}};
    for (const PieceUse& use : f.support[idx(j)]) {
      const double tauPiece = use.shiftedTau ? tau - 2.0 : tau;
      double laplace = 0.0;
      double re = 0.0;
      double im = 0.0;
      for (std::size_t i = 0; i < kGauss; ++i) {
        const std::size_t g = idx(use.piece) * kGauss + i;
        const double lnDistance = std::log(std::fabs(f.t[g] - tauPiece));
        const LaplaceValues l =
            laplaceKernels(f.x[g], f.y[g], f.nx[g], f.ny[g], x0, y0, model_.symmetryOn);
        const HelmholtzValues h =
            helmholtzKernels(column.medium, f.x[g], f.y[g], f.nx[g], f.ny[g], x0, y0);
        laplace = laplace + (lnDistance + l.single) * f.w[g] * use.factor[i];
        re = re + (h.single.real() + lnDistance) * f.w[g] * use.factor[i];
        im = im + h.single.imag() * f.w[g] * use.factor[i];
      }
      out.laplace = out.laplace + laplace / use.divisor;
      out.helmholtz = out.helmholtz + Complex(re / use.divisor, im / use.divisor);
    }
    return out;
  }

  // Rows r1 (exterior) and r2 (interior) of one node into out[0] and out[1] of every block
  // column.
  void fillRowNode(const RowNode& rowNode, Complex* out, std::size_t ld,
                   KernelScratch& scratch) const {
    const int m = rowNode.element;
    const int N = rowNode.node;
    const BoundaryElement& rowElement = model_.elements[idx(m)];
    const FillElement& rowSamples = columns_[idx(m)].samples;
    const double x0 = rowElement.nodeX[idx(N)];
    const double y0 = rowElement.nodeY[idx(N)];
    const double tau = rowElement.nodeT[idx(N)];
    const int conductor = rowElement.conductor;
    const auto entry = [out, ld](int column) { return out + idx(column - 1) * ld; };

    for (int e = 0; e < model_.elementCount; ++e) {
      const ColumnElement& column = columns_[idx(e)];
      const FillElement& f = column.samples;
      // The interior field of a conductor only sees the boundary of that conductor.
      const bool sameConductor = f.conductor == conductor;
      evaluateKernels(column, x0, y0, sameConductor, scratch);
      const double mu = f.mu;

      for (int j = 1; j <= f.nodeCount; ++j) {
        const std::array<PieceUse, 2>& support = f.support[idx(j)];
        const int c1 = unknowns_.nodeFirst(e, j);
        Complex* first = entry(c1);
        Complex* second = entry(c1 + 1);
        const double doubleLayer =
            pieceSum(scratch.normal, support[0]) + pieceSum(scratch.normal, support[1]);

        if (e == m && j == N) {
          const double F = nodeLogIntegral(geometry_[idx(e)], f.nodeT, j, tau);
          const Regularised reg = regularisedSelf(column, j, x0, y0, tau);
          const Complex helmholtzDouble =
              pieceSum(scratch.hNormal, support[0]) + pieceSum(scratch.hNormal, support[1]);
          // Half the full angle at a smooth boundary point, per unit of t.
          const double freeTerm = kPi / rowSamples.nodeJacobian[idx(N)];
          first[0] = Complex(doubleLayer + freeTerm, 0.0);
          second[0] = -(Complex(reg.laplace, 0.0) - F);
          first[1] = -helmholtzDouble;
          first[1] += freeTerm;
          second[1] = mu * (reg.helmholtz - F);
          continue;
        }

        first[0] = Complex(doubleLayer, 0.0);
        second[0] = -Complex(
            pieceSum(scratch.single, support[0]) + pieceSum(scratch.single, support[1]), 0.0);
        if (sameConductor) {
          first[1] =
              -(pieceSum(scratch.hNormal, support[0]) + pieceSum(scratch.hNormal, support[1]));
          second[1] =
              mu * (pieceSum(scratch.hSingle, support[0]) + pieceSum(scratch.hSingle, support[1]));
        } else {
          first[1] = Complex{};
          second[1] = Complex{};
        }
      }
    }

    // Conductor columns: the interior row couples to its own conductor's potential
    // constant. A uniform u equal to the constant puts J times it into every first
    // unknown of the conductor; s is minus this row's response to that, so the interior
    // unknown becomes u minus the constant.
    for (int c = nd0_ + 1; c <= nd_; ++c) {
      entry(c)[0] = Complex{};
      entry(c)[1] = Complex{};
    }
    Complex s{};
    for (int q = 0; q < model_.elementCount; ++q) {
      const FillElement& f = columns_[idx(q)].samples;
      if (f.conductor != conductor) continue;
      for (int j = 1; j <= f.nodeCount; ++j)
        s = s - f.nodeJacobian[idx(j)] * entry(unknowns_.nodeFirst(q, j))[1];
    }
    entry(unknowns_.conductor(conductor))[1] = s;
  }

  const ProblemModel& model_;
  const Unknowns& unknowns_;
  int nd_;
  int nd0_;
  std::vector<ElementGeometry> geometry_;
  std::vector<ColumnElement> columns_;
  std::vector<RowNode> rowNodes_;
  std::size_t maxPoints_ = 0;
};

}  // namespace

void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   std::ostream& console) {
  const int nd = unknowns.nd();
  // Every entry is written below; a matrix of the right size is reused as it is.
  if (A.rows() != nd || A.cols() != nd) A = ComplexMatrix(nd, nd);

  const NodeBlockFill fill(model, unknowns);
  const int rowNodes = fill.rowNodeCount();
  const int blocks = (rowNodes + kRowBlock - 1) / kRowBlock;
  Spinner spinner(model);
  std::atomic<std::int64_t> done{0};
  std::exception_ptr failure;

  console << "Filling BEM matrix:  ";
  console.flush();
  // No exception may leave a worksharing loop (the other threads would wait at its end for
  // ever): the first failure is kept, the remaining blocks are skipped, and it is thrown
  // again once the threads have joined.
  std::atomic<bool> failed{false};
  const auto keep = [&] {
#pragma omp critical(qbr_fill_failure)
    if (!failure) failure = std::current_exception();
    failed = true;
  };
#pragma omp parallel
  {
    std::vector<Complex> block;
    KernelScratch scratch;
    try {
      block.resize(2 * idx(kRowBlock) * idx(nd));
      scratch.reserve(fill.maxPoints());
    } catch (...) {
      keep();
    }
#pragma omp for schedule(dynamic, 1)
    for (int b = 0; b < blocks; ++b) {
      if (failed) continue;
      try {
        const int first = b * kRowBlock;
        const int last = std::min(rowNodes, first + kRowBlock);
        fill.fillBlock(first, last, block, scratch, A);
        const std::int64_t now = done.fetch_add(last - first) + (last - first);
        if (omp_get_thread_num() == 0) spinner.advanceTo(now, rowNodes, console);
      } catch (...) {
        keep();
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
  spinner.advanceTo(rowNodes, rowNodes, console);
  console << "\b  done;\n";

  fill.fillCurrentRows(A);
}

}  // namespace qbr
