#include "oracle/literal_fill.hpp"

#include <cstddef>
#include <limits>
#include <vector>

#include "bem/bessel.hpp"
#include "bem/hankel.hpp"
#include "bem/low_frequency.hpp"
#include "model/geometry.hpp"
#include "bem/node_integrals.hpp"

namespace qbr {

namespace {

constexpr char kSpinner[] = "|/-\\";

const BoundaryElement& elementAt(const ProblemModel& model, int e) {
  return model.elements[static_cast<std::size_t>(e)];
}

const MaterialPatch& patchOf(const ProblemModel& model, const BoundaryElement& element) {
  return model.patches[static_cast<std::size_t>(element.patch)];
}

double at(const std::vector<double>& grid, int i) {
  return grid[static_cast<std::size_t>(i)];
}

// The integral over the boundary of conductor c of dK'/dn - (kPi/pi) dG/dn seen from
// (x0, y0): k^2 (dr.n) (kPi/pi F(z)/z^2 + beta J1(z)/z), piece by piece over the node
// intervals with the 6-point rule, ds = J dt.
Complex smoothConductorColumn(const ProblemModel& model, const LowFrequencyForm& form, int c,
                              double x0, double y0, const std::vector<ElementGeometry>& geometry) {
  Complex sum{};
  for (int q = 0; q < model.elementCount; ++q) {
    const BoundaryElement& element = elementAt(model, q);
    if (element.conductor != c) continue;
    const ElementGeometry& g = geometry[static_cast<std::size_t>(q)];
    const Complex k = patchOf(model, element).k;
    const auto cc = static_cast<std::size_t>(c);
    const Complex beta = kernelShift(k, form.size[cc], form.kernelBlend[cc]);
    std::vector<double> ends{-1.0};
    for (int j = 1; j <= element.gridCount; ++j) ends.push_back(at(element.nodeT, j));
    if (g.hasEndPoints()) ends.push_back(1.0);
    for (std::size_t p = 0; p + 1 < ends.size(); ++p) {
      const double mid = (ends[p] + ends[p + 1]) / 2.0;
      const double half = (ends[p + 1] - ends[p]) / 2.0;
      for (std::size_t i = 0; i < kGaussAbscissae.size(); ++i) {
        const double t = mid + half * kGaussAbscissae[i];
        const Vec2 point = g.pointAt(t);
        const Vec2 normal = g.normalAt(t);
        const double dx = point.x - x0;
        const double dy = point.y - y0;
        const double r = std::sqrt(dx * dx + dy * dy);
        const HelmholtzSample h = helmholtzSample(k * r, k.imag() > 0.0);
        sum += k * k * (kKernelScale * h.fOverZ2 + beta * h.j1OverZ) *
               ((dx * normal.x + dy * normal.y) * g.jacobianAt(t) * half * kGaussWeights[i]);
      }
    }
  }
  return sum;
}

}  // namespace

void fillBemMatrixLiteral(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                          std::ostream& console) {
  const int nd = unknowns.nd();
  const int elementCount = model.elementCount;

  if (A.rows() != nd || A.cols() != nd) {
    A = ComplexMatrix(nd, nd);
  } else {
    for (int c = 1; c <= nd; ++c)
      for (int r = 1; r <= nd; ++r) A(r, c) = Complex{};
  }

  std::vector<ElementGeometry> geometry;
  geometry.reserve(static_cast<std::size_t>(elementCount));
  for (int e = 0; e < elementCount; ++e)
    geometry.push_back(elementAt(model, e).geometry(model.points));

  KernelContext ctx;
  ctx.symmetryOn = model.symmetryOn;
  ctx.secondOrder = model.gradedGrids;
  const LowFrequencyForm form = lowFrequencyForm(model);

  // Node block: the exterior and interior row of every node against the two unknowns of
  // every node.
  console << "Filling BEM matrix:  ";
  for (int m = 0; m < elementCount; ++m) {
    const BoundaryElement& rowElement = elementAt(model, m);
    for (int e = 0; e < elementCount; ++e) {
      const BoundaryElement& colElement = elementAt(model, e);
      const ElementGeometry& colGeometry = geometry[static_cast<std::size_t>(e)];
      const std::vector<double>& colT = colElement.nodeT;
      ctx.k = patchOf(model, colElement).k;
      const auto colConductor = static_cast<std::size_t>(colElement.conductor);
      ctx.beta = kernelShift(ctx.k, form.size[colConductor], form.kernelBlend[colConductor]);
      // The near-field rule needs to know where the interior kernel is cut off (nowhere
      // in the low-frequency form), whether it is wanted, and whether the row node lies on
      // this element.
      ctx.reach = form.columnBlend[colConductor] > 0.0 ? std::numeric_limits<double>::infinity()
                                                       : hankelReach(ctx.k);
      ctx.ownElement = e == m;
      const double mu = patchOf(model, colElement).mu;
      const bool sameConductor = rowElement.conductor == colElement.conductor;
      ctx.interior = sameConductor;

      for (int N = 1; N <= rowElement.gridCount; ++N) {
        ctx.x0 = at(rowElement.nodeX, N);
        ctx.y0 = at(rowElement.nodeY, N);
        const double tau = at(rowElement.nodeT, N);
        console << '\b' << kSpinner[N % 4];

        const int r1 = unknowns.nodeFirst(m, N);
        const int r2 = unknowns.nodeSecond(m, N);
        for (int j = 1; j <= colElement.gridCount; ++j) {
          const int c1 = unknowns.nodeFirst(e, j);
          const int c2 = unknowns.nodeSecond(e, j);
          const bool self = e == m && j == N;
          const auto I = [&](IntegralKind kind) {
            return nodeIntegral(ctx, colGeometry, colT, j, kind, tau);
          };
          // The logarithm of the self term is integrated in closed form: the regularised
          // kinds carry ln|t - tau| through the Gauss rule and F takes it out again.
          const double F = self ? nodeLogIntegral(colGeometry, colT, j, tau) : 0.0;

          A(r1, c1) = I(IntegralKind::LaplaceDouble);
          A(r1, c2) = self ? -(I(IntegralKind::LaplaceSingleRegularised) - F)
                           : -I(IntegralKind::LaplaceSingle);
          // The interior field of a conductor only sees the boundary of that conductor.
          if (sameConductor) {
            A(r2, c1) = -I(IntegralKind::HelmholtzDouble);
            A(r2, c2) = self ? mu * (I(IntegralKind::HelmholtzSingleRegularised) - F)
                             : mu * I(IntegralKind::HelmholtzSingle);
          }
          if (self) {
            // Half the full angle at a smooth boundary point, per unit of t.
            const double freeTerm = kPi / geometry[static_cast<std::size_t>(m)].jacobianAt(tau);
            A(r1, c1) += freeTerm;
            A(r2, c1) += freeTerm;
          }
        }
      }
    }
  }
  console << "\b  done;\n";

  // Conductor block: current rows, and the coupling of every interior row to its
  // conductor's potential constant.
  for (int m = 0; m < elementCount; ++m) {
    const BoundaryElement& element = elementAt(model, m);
    const int c = element.conductor;
    const int O = unknowns.conductor(c);
    for (int i = 1; i <= element.gridCount; ++i) {
      const int row = unknowns.nodeSecond(m, i);
      A(O, row) = nodeIntegral(ctx, geometry[static_cast<std::size_t>(m)], element.nodeT, i,
                               IntegralKind::Unit, 0.0);
      // A uniform u equal to the constant puts J times it into every first unknown of the
      // conductor; s is minus this row's response to that, so the interior unknown
      // becomes u minus the constant.
      Complex s{};
      for (int q = 0; q < elementCount; ++q) {
        const BoundaryElement& other = elementAt(model, q);
        if (other.conductor != c) continue;
        for (int j = 1; j <= other.gridCount; ++j) {
          const double J = geometry[static_cast<std::size_t>(q)].jacobianAt(at(other.nodeT, j));
          s = s - J * A(row, unknowns.nodeFirst(q, j));
        }
      }
      // At low frequency the column is integrated from the smooth difference of the
      // kernel and the static kernel (low_frequency.hpp), blended with the sum.
      const double blend = form.columnBlend[static_cast<std::size_t>(c)];
      if (blend > 0.0) {
        const Complex smooth = smoothConductorColumn(model, form, c, at(element.nodeX, i),
                                                     at(element.nodeY, i), geometry);
        s = blend * smooth + (1.0 - blend) * s;
      }
      A(row, O) = s;
    }
  }
}

}  // namespace qbr
