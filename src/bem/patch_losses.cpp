#include "bem/patch_losses.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "bem/node_integrals.hpp"
#include "model/geometry.hpp"

namespace qbr {

namespace {

// One piece of an element between two parameters, over which the densities U (u times
// the Jacobian) and Q (q times the Jacobian) run linearly from the node at `a` (index
// `left`) to the node at `b` (index `right`), or stay at one node's value (left == right)
// on the end pieces of an open element.
struct Piece {
  double a, b;
  int left, right;
};

std::vector<Piece> piecesOf(const ElementGeometry& geometry, const std::vector<double>& nodeT) {
  const int n = static_cast<int>(nodeT.size()) - 1;
  const auto s = [&nodeT](int i) { return nodeT[static_cast<std::size_t>(i)]; };
  std::vector<Piece> pieces;
  if (geometry.hasEndPoints()) {
    pieces.push_back({-1.0, s(1), 1, 1});
  } else {
    // The last node of a circle sits at t = 1, which is t = -1.
    pieces.push_back({-1.0, s(1), n, 1});
  }
  for (int i = 1; i < n; ++i) pieces.push_back({s(i), s(i + 1), i, i + 1});
  if (geometry.hasEndPoints()) pieces.push_back({s(n), 1.0, n, n});
  return pieces;
}

}  // namespace

Matrix<double> resistanceOf(const ConductorMatrix& m, double omega, bool phaseVariables) {
  const int n = m.size();
  Matrix<double> r(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Complex printed = m(i + 1, j + 1);
      // Printed scales: pH/um and ohm/m times 1e6.
      r(i, j) = phaseVariables ? -printed.imag() * omega * 1e-6 : printed.real() * 1e-6;
    }
  }
  return r;
}

PatchResistance patchResistance(const ProblemModel& model, const Unknowns& unknowns,
                                const ComplexMatrix& solutions, const ConductorMatrix& m) {
  const int count = model.conductorCount;
  PatchResistance result;
  for (Matrix<double>& raw : result.raw) raw = Matrix<double>(count, count);

  // flux(p)[i][j]: the integral of (C - u) for a unit current in j times conj(q) for a
  // unit current in i, over the outlines of patch p.
  std::vector<std::vector<Complex>> flux(
      kMaxPatches, std::vector<Complex>(static_cast<std::size_t>(count * count)));
  std::vector<Complex> w(static_cast<std::size_t>(count));
  std::vector<Complex> q(static_cast<std::size_t>(count));
  for (int e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
    const MaterialPatch& material = model.patches[static_cast<std::size_t>(element.patch)];
    if (!(material.sigma > 0.0)) continue;
    result.lossy[static_cast<std::size_t>(element.patch)] = true;
    std::vector<Complex>& sum = flux[static_cast<std::size_t>(element.patch)];
    const ElementGeometry geometry = element.geometry(model.points);
    const int conductorUnknown = unknowns.conductor(element.conductor);
    for (const Piece& piece : piecesOf(geometry, element.nodeT)) {
      // A piece that wraps round t = -1 on a circle ends where it begins in parameter.
      const double mid = 0.5 * (piece.a + piece.b);
      const double half = 0.5 * (piece.b - piece.a);
      for (std::size_t g = 0; g < kGaussAbscissae.size(); ++g) {
        const double t = mid + half * kGaussAbscissae[g];
        const double weight = half * kGaussWeights[g];
        const double toRight =
            piece.left == piece.right ? 0.0 : (t - piece.a) / (piece.b - piece.a);
        const double jacobian = geometry.jacobianAt(t);
        for (int c = 1; c <= count; ++c) {
          const auto at = [&](int node, bool second) {
            return second ? solutions(unknowns.nodeSecond(e, node), c)
                          : solutions(unknowns.nodeFirst(e, node), c);
          };
          const Complex U =
              (1.0 - toRight) * at(piece.left, false) + toRight * at(piece.right, false);
          const Complex Q =
              (1.0 - toRight) * at(piece.left, true) + toRight * at(piece.right, true);
          w[static_cast<std::size_t>(c - 1)] = solutions(conductorUnknown, c) - U / jacobian;
          q[static_cast<std::size_t>(c - 1)] = Q * weight;
        }
        for (int i = 0; i < count; ++i) {
          for (int j = 0; j < count; ++j) {
            sum[static_cast<std::size_t>(i * count + j)] +=
                w[static_cast<std::size_t>(j)] * std::conj(q[static_cast<std::size_t>(i)]);
          }
        }
      }
    }
  }

  // E_z = j omega mu0 (C - u) per ampere, in V/m; q dl is dimensionless.
  const Complex factor(0.0, model.omega * kMu0);
  const Matrix<double> total = resistanceOf(m, model.omega, model.phaseVariables);
  Matrix<double> sum(count, count);
  Matrix<double> weights(count, count);
  for (int p = 0; p < kMaxPatches; ++p) {
    if (!result.lossy[static_cast<std::size_t>(p)]) continue;
    const std::vector<Complex>& f = flux[static_cast<std::size_t>(p)];
    Matrix<double>& raw = result.raw[static_cast<std::size_t>(p)];
    for (int i = 0; i < count; ++i) {
      for (int j = 0; j < count; ++j) {
        const Complex ij = factor * f[static_cast<std::size_t>(i * count + j)];
        const Complex ji = factor * f[static_cast<std::size_t>(j * count + i)];
        raw(i, j) = 0.5 * (ij.real() + ji.real());
        sum(i, j) += raw(i, j);
        weights(i, j) += std::fabs(raw(i, j));
      }
    }
  }

  double largest = 0.0;
  double difference = 0.0;
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < count; ++j) {
      largest = std::max(largest, std::fabs(total(i, j)));
      difference = std::max(difference, std::fabs(total(i, j) - sum(i, j)));
    }
  }
  result.mismatch = largest > 0.0 ? difference / largest : 0.0;

  for (int p = 0; p < kMaxPatches; ++p) {
    const Matrix<double>& raw = result.raw[static_cast<std::size_t>(p)];
    Matrix<double>& share = result.shares[static_cast<std::size_t>(p)];
    share = Matrix<double>(count, count);
    if (!result.lossy[static_cast<std::size_t>(p)]) continue;
    for (int i = 0; i < count; ++i) {
      for (int j = 0; j < count; ++j) {
        const double part = weights(i, j) > 0.0 ? std::fabs(raw(i, j)) / weights(i, j) : 0.0;
        share(i, j) = raw(i, j) + (total(i, j) - sum(i, j)) * part;
      }
    }
  }
  return result;
}

ConductorMatrix withLossFactors(const ConductorMatrix& m, const PatchResistance& losses,
                                const ProblemModel& model) {
  ConductorMatrix rough = m;
  for (int i = 0; i < m.size(); ++i) {
    for (int j = 0; j < m.size(); ++j) {
      double extra = 0.0;
      for (int p = 0; p < kMaxPatches; ++p) {
        if (!losses.lossy[static_cast<std::size_t>(p)]) continue;
        const double k = model.patches[static_cast<std::size_t>(p)].lossFactor;
        extra += (k - 1.0) * losses.shares[static_cast<std::size_t>(p)](i, j);
      }
      // Printed scales: (L, -R/omega) in pH/um, or R + jX in ohm/m times 1e6.
      rough(i + 1, j + 1) += model.phaseVariables ? Complex(0.0, -extra * 1e6 / model.omega)
                                                  : Complex(extra * 1e6, 0.0);
    }
  }
  return rough;
}

}  // namespace qbr
