#include "bem/bem_fill.hpp"

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "base/console_progress.hpp"
#include "bem/bessel.hpp"
#include "bem/fill_geometry.hpp"
#include "bem/hankel.hpp"
#include "bem/low_frequency.hpp"
#include "bem/near_field.hpp"
#include "bem/node_integrals.hpp"
#include "model/geometry.hpp"

namespace qbr {

namespace {

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

// What the Helmholtz kernels of one patch on one conductor share: the wave number, which
// Hankel function decays, the constant factors of K and dK/dn, and the low-frequency form
// (low_frequency.hpp): its blend and the shift beta of the kernel.
struct Medium {
  Complex k{};
  bool firstKind = false;
  Complex singleFactor{};  // +-j pi/2
  Complex normalFactor{};  // -+j pi/2 times k
  // Beyond this distance the kernels are cut off, with a relative margin far above the
  // rounding of r and of k r: whatever lies wholly beyond it is zero without a doubt.
  double reach = std::numeric_limits<double>::infinity();
  // Blends of the low-frequency form: the shift of the kernel and the column integral.
  double kernelBlend = 0.0;
  double columnBlend = 0.0;
  Complex beta{};
  Complex betaK2{};  // beta k^2
  Complex k2{};      // k^2
  double kModulus = 0.0;
  // Graded grids: a lossless superconductor's kernel from K0 and K1 to rounding.
  bool exactImaginaryAxis = false;
};

inline HankelPair hankelPairOf(const Medium& medium, Complex z) {
  if (!medium.firstKind) return hankelSecondPair(z);
  if (medium.exactImaginaryAxis && z.real() == 0.0) return hankelFirstPairImaginary(z.imag());
  return hankelFirstPair(z);
}

Medium mediumOf(Complex k, double size, double kernelBlend, double columnBlend) {
  Medium m;
  m.k = k;
  m.firstKind = k.imag() > 0.0;
  m.singleFactor = m.firstKind ? Complex(0.0, kPi / 2.0) : Complex(0.0, -kPi / 2.0);
  m.normalFactor =
      cplx::product(m.firstKind ? Complex(0.0, -kPi / 2.0) : Complex(0.0, kPi / 2.0), k);
  m.kernelBlend = kernelBlend;
  m.columnBlend = columnBlend;
  m.beta = kernelShift(k, size, kernelBlend);
  m.k2 = k * k;
  m.betaK2 = m.beta * m.k2;
  m.kModulus = std::abs(k);
  // The low-frequency form needs every point of the conductor: the shifted kernel does
  // not decay, and the column integral carries the static part everywhere. It is only
  // used where |Im k| D < 16, inside the cut-off.
  if (columnBlend == 0.0) m.reach = hankelReach(k);
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
  if (medium.kernelBlend > 0.0) {
    const HelmholtzSample s = helmholtzSample(z, medium.firstKind);
    const Complex n = cplx::product(medium.normalFactor, s.h1);
    return {
        cplx::product(medium.singleFactor, s.h0) - medium.beta * s.j0,
        Complex(n.real() * along / r, n.imag() * along / r) + medium.betaK2 * s.j1OverZ * along};
  }
  if (medium.firstKind ? z.imag() > kHankelCutOff : z.imag() < -kHankelCutOff) return {};
  const HankelPair h = hankelPairOf(medium, z);
  const Complex n = cplx::product(medium.normalFactor, h.h1);
  return {cplx::product(medium.singleFactor, h.h0), {n.real() * along / r, n.imag() * along / r}};
}

// One column element as the fill uses it: its Gauss-point tables and its medium.
struct ColumnElement {
  FillElement samples;
  Medium medium;
};

// Two doubles side by side in one SSE2 register. Lane arithmetic is plain IEEE arithmetic,
// so each lane carries exactly the bits of the scalar expression.
using Lanes = double __attribute__((vector_size(16)));
using LaneIndex = std::int64_t __attribute__((vector_size(16)));

// The kernels of one row node at every Gauss point of one column element, each times the
// point's weight (the factor that both nodes sharing the point multiply by their hat),
// and the intermediate values of the passes that compute them.
struct KernelScratch {
  std::vector<double> r2, along, image2, alongImage, logArgument, lnValue;
  std::vector<double> laplaceSingle, laplaceNormal;
  std::vector<double> r;
  std::vector<Lanes> h0, h1;   // Hankel functions of orders 0 and 1, (re, im)
  std::vector<Lanes> laplace;  // (G w, dG/dn w)
  std::vector<Lanes> single;   // K w as (re, im)
  std::vector<Lanes> normal;   // dK/dn w as (re, im)
  // The conductor column's low-frequency integral over the column element, for the row
  // node being filled (see low_frequency.hpp).
  Complex smoothColumn;
  // The pieces of the column element that the row node sees in its near field, with
  // their graded integrals (near_field.hpp).
  struct NearPiece {
    int piece;
    double a, b;
    PieceRule rule;
    RefinedPiece values;
  };
  std::vector<NearPiece> near;
  const NearPiece* nearPiece(int piece) const {
    for (const NearPiece& n : near)
      if (n.piece == piece) return &n;
    return nullptr;
  }

  void reserve(std::size_t n) {
    for (std::vector<double>* v : {&r2, &along, &image2, &alongImage, &logArgument, &lnValue,
                                   &laplaceSingle, &laplaceNormal, &r})
      v->resize(n);
    h0.resize(n);
    h1.resize(n);
    laplace.resize(n);
    single.resize(n);
    normal.resize(n);
  }
};

// The piece sums of the node integrals: sum of (value w) (t - z0) over the piece's Gauss
// points in their order, from 0, then divided by (z1 - z0); two sums side by side.
inline Lanes pieceSum(const std::vector<Lanes>& weighted, const PieceUse& use) {
  const Lanes* v = weighted.data() + idx(use.piece) * kGauss;
  Lanes sum = {0.0, 0.0};
  for (std::size_t i = 0; i < kGauss; ++i) sum = sum + v[i] * use.factor[i];
  return sum / use.divisor;
}

inline Lanes supportSum(const std::vector<Lanes>& weighted, const std::array<PieceUse, 2>& uses) {
  return pieceSum(weighted, uses[0]) + pieceSum(weighted, uses[1]);
}

// Progress in steps of (row element, column element, row node): one step for every row
// node filled against one column element, in whatever order the passes take them; an
// event only when the count grows.
class FillProgress {
 public:
  FillProgress(const ProblemModel& model, ProgressCallback callback)
      : callback_(std::move(callback)) {
    if (!callback_) return;
    Progress begin;
    begin.phase = Progress::Phase::kFill;
    for (int m = 0; m < model.elementCount; ++m) {
      total_ += static_cast<std::int64_t>(model.elementCount) * model.elements[idx(m)].gridCount;
      begin.elementNodes.push_back(model.elements[idx(m)].gridCount);
    }
    begin.total = total_;
    callback_(begin);
  }

  void advanceTo(std::int64_t steps) {
    if (!callback_) return;
    const std::int64_t target = std::min(steps, total_);
    if (target <= done_) return;
    done_ = target;
    send(Progress::Stage::kAdvance);
  }

  void end() {
    if (!callback_) return;
    advanceTo(total_);
    send(Progress::Stage::kEnd);
  }

 private:
  void send(Progress::Stage stage) const {
    sendProgress(callback_, Progress::Phase::kFill, stage, done_, total_);
  }

  ProgressCallback callback_;
  std::int64_t total_ = 0;
  std::int64_t done_ = 0;
};

class NodeBlockFill {
 public:
  NodeBlockFill(const ProblemModel& model, const Unknowns& unknowns)
      : model_(model), unknowns_(unknowns), nd_(unknowns.nd()), nd0_(unknowns.nd0()) {
    const int count = model.elementCount;
    geometry_.reserve(idx(count));
    columns_.reserve(idx(count));
    const LowFrequencyForm form = lowFrequencyForm(model);
    for (int c = 0; c <= kMaxConductorNumber; ++c) columnBlend_[idx(c)] = form.columnBlend[idx(c)];
    for (int e = 0; e < count; ++e) {
      const BoundaryElement& element = model.elements[idx(e)];
      const MaterialPatch& patch = model.patches[idx(element.patch)];
      const auto c = idx(element.conductor);
      geometry_.push_back(element.geometry(model.points));
      columns_.push_back(
          {buildFillElement(element, geometry_.back(), patch),
           mediumOf(patch.k, form.size[c], form.kernelBlend[c], form.columnBlend[c])});
      columns_.back().medium.exactImaginaryAxis = model.gradedGrids;
      maxPoints_ = std::max(maxPoints_, columns_.back().samples.t.size());
      for (int i = 1; i <= element.gridCount; ++i) rowNodes_.push_back({e, i});
    }
  }

  int rowNodeCount() const { return static_cast<int>(rowNodes_.size()); }
  std::size_t maxPoints() const { return maxPoints_; }

  int conductorOf(int node) const {
    return model_.elements[idx(rowNodes_[idx(node)].element)].conductor;
  }

  // Whether the row node meets column element e in a pass over `columns`.
  bool wanted(ColumnSet columns, int node, int e) const {
    if (columns == ColumnSet::kAll) return true;
    const bool own = columns_[idx(e)].samples.conductor == conductorOf(node);
    return own == (columns == ColumnSet::kOwnConductor);
  }
  std::int64_t stepsOf(ColumnSet columns, int node) const {
    std::int64_t steps = 0;
    for (int e = 0; e < model_.elementCount; ++e) steps += wanted(columns, node, e) ? 1 : 0;
    return steps;
  }

  // Rows of the row nodes nodes[0..count) against the column elements of `columns`, into
  // the block: rows 2k and 2k + 1 for nodes[k], all nd columns, leading dimension
  // 2 * kRowBlock; the columns of other elements are left as they were. Column element by
  // column element, so that the part of the block being written stays in cache while
  // every row node of the block visits it.
  void fillBlock(const int* nodes, int count, ColumnSet columns, std::vector<Complex>& block,
                 KernelScratch& scratch) const {
    const std::size_t ld = 2 * static_cast<std::size_t>(kRowBlock);
    const auto rows = [&](int k) { return block.data() + 2 * idx(k); };
    std::array<Complex, kRowBlock> smoothColumn{};
    for (int e = 0; e < model_.elementCount; ++e) {
      for (int k = 0; k < count; ++k) {
        if (!wanted(columns, nodes[k], e)) continue;
        fillRowNodeAgainst(rowNodes_[idx(nodes[k])], e, rows(k), ld, scratch);
        smoothColumn[idx(k)] += scratch.smoothColumn;
      }
    }
    // The conductor columns come from the node's own conductor alone.
    if (columns == ColumnSet::kOtherConductors) return;
    for (int k = 0; k < count; ++k)
      fillConductorColumns(rowNodes_[idx(nodes[k])], rows(k), ld, smoothColumn[idx(k)]);
  }

  // The entry of a node in its conductor's current row (in the node's second unknown):
  // the integral of its shape function.
  Complex currentWeight(int node) const {
    const RowNode& n = rowNodes_[idx(node)];
    KernelContext unused;
    return nodeIntegral(unused, geometry_[idx(n.element)], model_.elements[idx(n.element)].nodeT,
                        n.node, IntegralKind::Unit, 0.0);
  }

 private:
  struct RowNode {
    int element;
    int node;
  };

  static bool beyondReach(const FillElement::Disc& disc, double reach, double x0, double y0) {
    const double dx = disc.x - x0;
    const double dy = disc.y - y0;
    const double bound = reach + disc.radius;
    return dx * dx + dy * dy > bound * bound;
  }

  // The kernels at every Gauss point of `column`, each the expression of laplaceKernels and
  // helmholtzKernels operation for operation. The Laplace kernels go in passes that the
  // compiler runs two points at a time around the calls of log. The Helmholtz kernels are
  // wanted only with `helmholtz`; pieces wholly beyond the cut-off are zero without any
  // evaluation. Returns whether any Helmholtz value may be nonzero.
  bool evaluateKernels(const ColumnElement& column, double x0, double y0, bool helmholtz,
                       KernelScratch& s) const {
    const FillElement& f = column.samples;
    const std::size_t points = f.t.size();
    const double* __restrict x = f.x.data();
    const double* __restrict y = f.y.data();
    const double* __restrict nx = f.nx.data();
    const double* __restrict ny = f.ny.data();
    const double* __restrict w = f.w.data();
    double* __restrict r2 = s.r2.data();
    double* __restrict along = s.along.data();
    double* __restrict lnValue = s.lnValue.data();
    double* __restrict single = s.laplaceSingle.data();
    double* __restrict normal = s.laplaceNormal.data();

    if (!model_.symmetryOn) {
      for (std::size_t g = 0; g < points; ++g) {
        const double dx = x[g] - x0;
        const double dy = y[g] - y0;
        r2[g] = dx * dx + dy * dy;
        along[g] = dx * nx[g] + dy * ny[g];
      }
      for (std::size_t g = 0; g < points; ++g) lnValue[g] = std::log(r2[g]);
      for (std::size_t g = 0; g < points; ++g) {
        single[g] = -0.5 * lnValue[g] * w[g];
        normal[g] = -along[g] / r2[g] * w[g];
      }
    } else {
      double* __restrict image2 = s.image2.data();
      double* __restrict alongImage = s.alongImage.data();
      double* __restrict logArgument = s.logArgument.data();
      for (std::size_t g = 0; g < points; ++g) {
        const double dx = x[g] - x0;
        const double dy = y[g] - y0;
        const double ys = y[g] + y0;
        r2[g] = dx * dx + dy * dy;
        along[g] = dx * nx[g] + dy * ny[g];
        image2[g] = dx * dx + ys * ys;
        alongImage[g] = dx * nx[g] + ys * ny[g];
      }
      for (std::size_t g = 0; g < points; ++g) logArgument[g] = r2[g] / image2[g];
      for (std::size_t g = 0; g < points; ++g) lnValue[g] = std::log(logArgument[g]);
      for (std::size_t g = 0; g < points; ++g) {
        single[g] = -0.5 * lnValue[g] * w[g];
        normal[g] = (alongImage[g] / image2[g] - along[g] / r2[g]) * w[g];
      }
    }
    Lanes* laplace = s.laplace.data();
    for (std::size_t g = 0; g < points; ++g) laplace[g] = Lanes{single[g], normal[g]};

    const Medium& medium = column.medium;
    s.smoothColumn = Complex{};
    if (!helmholtz || beyondReach(f.elementDisc, medium.reach, x0, y0)) return false;
    if (medium.columnBlend > 0.0) {
      evaluateLowFrequencyKernels(column, s);
      return true;
    }
    // The Hankel pairs first, then their products in a pass of plain lane arithmetic, free
    // of calls.
    double* __restrict r = s.r.data();
    Lanes* __restrict h0 = s.h0.data();
    Lanes* __restrict h1 = s.h1.data();
    for (int p = 0; p < f.pieceCount; ++p) {
      const std::size_t first = idx(p) * kGauss;
      if (beyondReach(f.pieceDisc[idx(p)], medium.reach, x0, y0)) {
        for (std::size_t g = first; g < first + kGauss; ++g) {
          r[g] = 1.0;
          h0[g] = Lanes{0.0, 0.0};
          h1[g] = Lanes{0.0, 0.0};
        }
        continue;
      }
      for (std::size_t g = first; g < first + kGauss; ++g) {
        r[g] = std::sqrt(r2[g]);
        const Complex z(medium.k.real() * r[g], medium.k.imag() * r[g]);
        if (medium.firstKind ? z.imag() > kHankelCutOff : z.imag() < -kHankelCutOff) {
          h0[g] = Lanes{0.0, 0.0};
          h1[g] = Lanes{0.0, 0.0};
          continue;
        }
        const HankelPair h = hankelPairOf(medium, z);
        h0[g] = Lanes{h.h0.real(), h.h0.imag()};
        h1[g] = Lanes{h.h1.real(), h.h1.imag()};
      }
    }
    // a b as (ar br - ai bi, ar bi + ai br), the operations of cplx::product: ar times b
    // plus (-ai, ai) times b swapped, where adding -(ai bi) is subtracting ai bi.
    const auto product = [](Complex a, Lanes b) {
      const Lanes swapped = __builtin_shuffle(b, LaneIndex{1, 0});
      return a.real() * b + Lanes{-a.imag(), a.imag()} * swapped;
    };
    Lanes* __restrict hSingle = s.single.data();
    Lanes* __restrict hNormal = s.normal.data();
    for (std::size_t g = 0; g < points; ++g) {
      hSingle[g] = product(medium.singleFactor, h0[g]) * w[g];
      hNormal[g] = product(medium.normalFactor, h1[g]) * along[g] / r[g] * w[g];
    }
    return true;
  }

  // The Helmholtz kernels in the low-frequency form: K - beta J0, dK/dn + beta k^2 J1/z
  // (dr.n), and the conductor column's smooth integrand k^2 F(z)/z^2 (dr.n) + beta k^2 J1/z
  // (dr.n) integrated over the pieces that cover the element once (ds = J dt).
  void evaluateLowFrequencyKernels(const ColumnElement& column, KernelScratch& s) const {
    const FillElement& f = column.samples;
    const Medium& medium = column.medium;
    const std::size_t covering = idx(f.coveringPieces) * kGauss;
    Complex smooth{};
    for (std::size_t g = 0; g < f.t.size(); ++g) {
      const double r = std::sqrt(s.r2[g]);
      const double along = s.along[g];
      const HelmholtzSample h =
          helmholtzSample(Complex(medium.k.real() * r, medium.k.imag() * r), medium.firstKind);
      const Complex single = cplx::product(medium.singleFactor, h.h0) - medium.beta * h.j0;
      const Complex n = cplx::product(medium.normalFactor, h.h1);
      const Complex normal =
          Complex(n.real() * along / r, n.imag() * along / r) + medium.betaK2 * h.j1OverZ * along;
      s.single[g] = Lanes{single.real(), single.imag()} * f.w[g];
      s.normal[g] = Lanes{normal.real(), normal.imag()} * f.w[g];
      if (g < covering) {
        smooth += (kKernelScale * medium.k2 * h.fOverZ2 + medium.betaK2 * h.j1OverZ) *
                  (along * f.jacobian[g] * f.w[g]);
      }
    }
    s.smoothColumn = smooth;
  }

  // The single layers of the self term carry ln|t - tau| through the Gauss rule; the
  // logarithm comes back out in closed form, by nodeLogIntegral.
  struct Regularised {
    double laplace;
    Complex helmholtz;
  };

  Regularised regularisedSelf(const ColumnElement& column, int j, double x0, double y0, double tau,
                              const KernelScratch& scratch) const {
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
      const KernelScratch::NearPiece* nearLaplace = scratch.nearPiece(use.piece);
      if (nearLaplace && nearLaplace->rule.laplace) {
        out.laplace = out.laplace + flankValue(nearLaplace->values.laplaceSingle, use.flank).real();
      } else {
        out.laplace = out.laplace + laplace / use.divisor;
      }
      // Where the interior kernel decays within the piece, the graded rule (which carries
      // the same logarithm) replaces the Gauss sum.
      const KernelScratch::NearPiece* near = scratch.nearPiece(use.piece);
      if (near && near->rule.helmholtz) {
        out.helmholtz = out.helmholtz + flankValue(near->values.helmholtzSingle, use.flank);
      } else {
        out.helmholtz = out.helmholtz + Complex(re / use.divisor, im / use.divisor);
      }
    }
    return out;
  }

  // The pieces of column element e in the near field of the row node, integrated by the
  // graded rule. A quick test against a disc around the whole element leaves out every
  // element that is far from the row node.
  void findNearPieces(const RowNode& rowNode, int e, bool interior, KernelScratch& scratch) const {
    scratch.near.clear();
    const ColumnElement& column = columns_[idx(e)];
    const FillElement& f = column.samples;
    const Medium& medium = column.medium;
    const BoundaryElement& rowElement = model_.elements[idx(rowNode.element)];
    const double x0 = rowElement.nodeX[idx(rowNode.node)];
    const double y0 = rowElement.nodeY[idx(rowNode.node)];
    const bool own = e == rowNode.element;
    if (!own) {
      // Any piece must be nearer than half its length, or within the reach of a kernel
      // that decays within it (|k| l > 3), to need the graded rule.
      const bool decaying = interior && medium.kModulus * f.longestPiece > 3.0;
      const double bound =
          decaying ? std::max(0.5 * f.longestPiece, medium.reach) : 0.5 * f.longestPiece;
      const double dx = x0 - f.nearDisc.x;
      const double dy = y0 - f.nearDisc.y;
      if (dx * dx + dy * dy >= (f.nearDisc.radius + bound) * (f.nearDisc.radius + bound)) return;
    }
    const ElementGeometry& geometry = geometry_[idx(e)];
    const double tau = rowElement.nodeT[idx(rowNode.node)];
    KernelContext ctx;
    ctx.x0 = x0;
    ctx.y0 = y0;
    ctx.k = medium.k;
    ctx.beta = medium.beta;
    ctx.symmetryOn = model_.symmetryOn;
    for (int p = 0; p < f.pieceCount; ++p) {
      const PieceSummary& piece = f.pieceSummary[idx(p)];
      const std::optional<double> touching =
          own ? touchingParameter(geometry, piece.a, piece.b, tau) : std::nullopt;
      const PieceRule rule = pieceRule(piece, geometry, x0, y0, touching, interior, medium.kModulus,
                                       medium.reach, model_.gradedGrids);
      if (!rule.refined()) continue;
      scratch.near.push_back(
          {p, piece.a, piece.b, rule, integrateNearPiece(ctx, geometry, piece.a, piece.b, rule)});
    }
  }

  // One part of a node's support from the graded rule where the piece is in the near
  // field, else from the Gauss sums: the Laplace kernels as (G, dG/dn), the interior
  // kernels as K and dK/dn. On a piece that ends at the row node the graded K carries
  // ln|t - tau|, which comes back out in closed form.
  struct SupportValues {
    Lanes laplace{0.0, 0.0};
    Complex single{}, normal{};
  };
  static void addUse(const KernelScratch& scratch, const PieceUse& use, bool helmholtz,
                     SupportValues& v) {
    const KernelScratch::NearPiece* near = scratch.nearPiece(use.piece);
    if (near && near->rule.laplace) {
      double single = flankValue(near->values.laplaceSingle, use.flank).real();
      if (near->rule.touching)
        single -= flankLogIntegral(near->a, near->b, use.flank, near->rule.tauPiece);
      v.laplace =
          v.laplace + Lanes{single, flankValue(near->values.laplaceDouble, use.flank).real()};
    } else {
      v.laplace = v.laplace + pieceSum(scratch.laplace, use);
    }
    if (!helmholtz) return;
    if (near && near->rule.helmholtz) {
      v.single += flankValue(near->values.helmholtzSingle, use.flank);
      if (near->rule.touching)
        v.single -= flankLogIntegral(near->a, near->b, use.flank, near->rule.tauPiece);
      v.normal += flankValue(near->values.helmholtzDouble, use.flank);
    } else {
      const Lanes single = pieceSum(scratch.single, use);
      const Lanes normal = pieceSum(scratch.normal, use);
      v.single += Complex(single[0], single[1]);
      v.normal += Complex(normal[0], normal[1]);
    }
  }

  // Rows r1 (exterior) and r2 (interior) of one row node against the nodes of column
  // element e, into out[0] and out[1] of the block columns.
  void fillRowNodeAgainst(const RowNode& rowNode, int e, Complex* out, std::size_t ld,
                          KernelScratch& scratch) const {
    const int m = rowNode.element;
    const int N = rowNode.node;
    const BoundaryElement& rowElement = model_.elements[idx(m)];
    const double x0 = rowElement.nodeX[idx(N)];
    const double y0 = rowElement.nodeY[idx(N)];
    const ColumnElement& column = columns_[idx(e)];
    const FillElement& f = column.samples;
    // The interior field of a conductor only sees the boundary of that conductor.
    const bool sameConductor = f.conductor == rowElement.conductor;
    const bool helmholtz = evaluateKernels(column, x0, y0, sameConductor, scratch);
    findNearPieces(rowNode, e, sameConductor, scratch);
    const double mu = f.mu;

    for (int j = 1; j <= f.nodeCount; ++j) {
      const std::array<PieceUse, 2>& support = f.support[idx(j)];
      Complex* first = out + idx(unknowns_.nodeFirst(e, j) - 1) * ld;
      Complex* second = first + ld;
      const bool near = !scratch.near.empty() && (scratch.nearPiece(support[0].piece) ||
                                                  scratch.nearPiece(support[1].piece));

      if (e == m && j == N) {
        const double tau = rowElement.nodeT[idx(N)];
        const double F = nodeLogIntegral(geometry_[idx(e)], f.nodeT, j, tau);
        const Regularised reg = regularisedSelf(column, j, x0, y0, tau, scratch);
        Lanes laplace = supportSum(scratch.laplace, support);
        Complex helmholtzDouble{};
        if (near) {
          SupportValues v;
          for (const PieceUse& use : support) addUse(scratch, use, helmholtz, v);
          helmholtzDouble = v.normal;
          laplace[1] = v.laplace[1];
        } else if (helmholtz) {
          const Lanes normal = supportSum(scratch.normal, support);
          helmholtzDouble = Complex(normal[0], normal[1]);
        }
        // Half the full angle at a smooth boundary point, per unit of t.
        const double freeTerm = kPi / f.nodeJacobian[idx(N)];
        first[0] = Complex(laplace[1] + freeTerm, 0.0);
        second[0] = -(Complex(reg.laplace, 0.0) - F);
        first[1] = -helmholtzDouble;
        first[1] += freeTerm;
        second[1] = mu * (reg.helmholtz - F);
        continue;
      }

      if (near) {
        SupportValues v;
        for (const PieceUse& use : support) addUse(scratch, use, helmholtz, v);
        first[0] = Complex(v.laplace[1], 0.0);
        second[0] = -Complex(v.laplace[0], 0.0);
        first[1] = -v.normal;
        second[1] = mu * v.single;
        continue;
      }
      const Lanes laplace = supportSum(scratch.laplace, support);
      const double doubleLayer = laplace[1];

      first[0] = Complex(doubleLayer, 0.0);
      second[0] = -Complex(laplace[0], 0.0);
      if (helmholtz) {
        const Lanes helmholtzDouble = supportSum(scratch.normal, support);
        const Lanes helmholtzSingle = supportSum(scratch.single, support);
        first[1] = -Complex(helmholtzDouble[0], helmholtzDouble[1]);
        second[1] = mu * Complex(helmholtzSingle[0], helmholtzSingle[1]);
      } else {
        first[1] = Complex{};
        second[1] = Complex{};
      }
    }
  }

  // Conductor columns of the two rows of one row node, once its node columns are done:
  // the interior row couples to its own conductor's potential constant. A uniform u
  // equal to the constant puts J times it into every first unknown of the conductor; s
  // is minus this row's response to that, so the interior unknown becomes u minus the
  // constant.
  void fillConductorColumns(const RowNode& rowNode, Complex* out, std::size_t ld,
                            Complex smoothColumn) const {
    const auto entry = [out, ld](int column) { return out + idx(column - 1) * ld; };
    const int conductor = model_.elements[idx(rowNode.element)].conductor;
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
    // At low frequency the smooth integral of the column, blended into the sum.
    const double blend = columnBlend_[idx(conductor)];
    if (blend > 0.0) s = blend * smoothColumn + (1.0 - blend) * s;
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
  std::array<double, kMaxConductorNumber + 1> columnBlend_{};
};

}  // namespace

void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   std::ostream& console) {
  fillBemMatrix(model, unknowns, A, consoleSpinner(console), 0);
}

struct SystemRows::Impl {
  Impl(const ProblemModel& model, const Unknowns& unknowns, const ProgressCallback& progress,
       int threads)
      : fill(model, unknowns), spinner(model, progress), nd(unknowns.nd()), threads(threads) {}
  NodeBlockFill fill;
  FillProgress spinner;
  int nd;
  int threads;
  std::atomic<std::int64_t> steps{0};
};

SystemRows::SystemRows(const ProblemModel& model, const Unknowns& unknowns,
                       const ProgressCallback& progress, int threads)
    : impl_(std::make_unique<Impl>(model, unknowns, progress, threads)) {}

SystemRows::~SystemRows() = default;

int SystemRows::nodeCount() const {
  return impl_->fill.rowNodeCount();
}

int SystemRows::conductorOf(int node) const {
  return impl_->fill.conductorOf(node);
}

Complex SystemRows::currentWeight(int node) const {
  return impl_->fill.currentWeight(node);
}

void SystemRows::fill(const std::vector<int>& nodes, ColumnSet columns,
                      const std::function<void(const RowGroup&)>& sink) {
  Impl& impl = *impl_;
  const NodeBlockFill& fill = impl.fill;
  const int count = static_cast<int>(nodes.size());
  const int groups = (count + kRowBlock - 1) / kRowBlock;
  std::exception_ptr failure;
  // No exception may leave a worksharing loop (the other threads would wait at its end for
  // ever): the first failure is kept, the remaining groups are skipped, and it is thrown
  // again once the threads have joined.
  std::atomic<bool> failed{false};
  const auto keep = [&] {
#pragma omp critical(qbr_fill_failure)
    if (!failure) failure = std::current_exception();
    failed = true;
  };
#pragma omp parallel num_threads(impl.threads > 0 ? impl.threads : omp_get_max_threads())
  {
    std::vector<Complex> block;
    KernelScratch scratch;
    try {
      block.resize(2 * idx(kRowBlock) * idx(impl.nd));
      scratch.reserve(fill.maxPoints());
    } catch (...) {
      keep();
    }
#pragma omp for schedule(dynamic, 1)
    for (int b = 0; b < groups; ++b) {
      if (failed) continue;
      try {
        const int first = b * kRowBlock;
        const int size = std::min(count, first + kRowBlock) - first;
        const int* group = nodes.data() + first;
        fill.fillBlock(group, size, columns, block, scratch);
        sink(RowGroup{group, size, block.data(), 2 * idx(kRowBlock)});
        std::int64_t steps = 0;
        for (int k = 0; k < size; ++k) steps += fill.stepsOf(columns, group[k]);
        const std::int64_t now = impl.steps.fetch_add(steps) + steps;
        if (omp_get_thread_num() == 0) impl.spinner.advanceTo(now);
      } catch (...) {
        keep();
      }
    }
  }
  if (failure) std::rethrow_exception(failure);
  impl.spinner.advanceTo(impl.steps);
}

void SystemRows::finish() {
  impl_->spinner.end();
}

void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   const ProgressCallback& progress, int threads) {
  const int nd = unknowns.nd();
  // Every entry is written below; a matrix of the right size is reused as it is.
  if (A.rows() != nd || A.cols() != nd) A = ComplexMatrix(nd, nd);

  SystemRows rows(model, unknowns, progress, threads);
  std::vector<int> nodes(idx(rows.nodeCount()));
  std::iota(nodes.begin(), nodes.end(), 0);
  // The rows of a group are consecutive, two per node: written column by column,
  // 2 * kRowBlock entries at a time, instead of one entry per column and page.
  rows.fill(nodes, ColumnSet::kAll, [&A, nd](const RowGroup& group) {
    const std::int64_t firstRow = 2 * static_cast<std::int64_t>(group.nodes[0]) + 1;
    const std::size_t height = 2 * idx(group.count);
    for (int c = 1; c <= nd; ++c) {
      const Complex* from = &group.at(0, 0, c);
      std::copy(from, from + height, &A(firstRow, c));
    }
  });
  rows.finish();

  // The current rows: the integral of each node's shape function in that node's second
  // unknown, nothing else.
  for (int c = 1; c <= nd; ++c)
    for (int r = unknowns.nd0() + 1; r <= nd; ++r) A(r, c) = Complex{};
  for (int g = 0; g < rows.nodeCount(); ++g)
    A(unknowns.conductor(rows.conductorOf(g)), 2 * g + 2) = rows.currentWeight(g);
}

}  // namespace qbr
