#include "bem/solution.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "base/console_progress.hpp"
#include "base/fatal_stop.hpp"
#include "bem/blas_threads.hpp"
#include "bem/lu.hpp"

namespace qbr {

ConductorMatrix conductorMatrixFromSolutions(const ProblemModel& model, const Unknowns& unknowns,
                                             const ComplexMatrix& b) {
  const int count = model.conductorCount;
  const bool hasReturn = unknowns.hasReturnConductor();
  ConductorMatrix result(count);
  const Complex w(0.0, model.omega);
  for (int c = 1; c <= count; ++c) {
    for (int r = 1; r <= count; ++r) {
      Complex v = b(unknowns.conductor(r), c);
      // Potentials are measured against the return conductor.
      if (hasReturn) v -= b(unknowns.conductor(0), c);
      result(r, c) = model.phaseVariables ? v * 0.4 * kPi : (v * w) * 0.4 * kPi;
      // The last line of defence: a value that is not a number is never reported as
      // a result.
      if (!std::isfinite(result(r, c).real()) || !std::isfinite(result(r, c).imag())) {
        fatalStop("\nThe conductor matrix is not finite (conductor " + std::to_string(r) +
                  ", current in " + std::to_string(c) +
                  "); check materials, frequency and grids;\n");
      }
    }
  }
  return result;
}

ConductorMatrix solveConductorMatrix(const ProblemModel& model, const Unknowns& unknowns,
                                     WorkArrays& work, std::ostream& console) {
  return solveConductorMatrix(model, unknowns, work, consoleSpinner(console), 0);
}

ConductorMatrix solveConductorMatrix(const ProblemModel& model, const Unknowns& unknowns,
                                     WorkArrays& work, const ProgressCallback& progress,
                                     int threads) {
  const int count = model.conductorCount;
  const bool hasReturn = unknowns.hasReturnConductor();
  if (work.A.rows() != unknowns.nd() || work.b.rows() != unknowns.nd() || work.b.cols() < count) {
    throw std::invalid_argument("solveConductorMatrix: work arrays do not fit the unknowns");
  }

  const BlasSession blas(threads);
  luFactor(work.A, work.pivots, progress);

  ComplexMatrix& b = work.b;
  for (int c = 1; c <= count; ++c) {
    std::fill(b.column(c), b.column(c) + b.rows(), Complex(0.0, 0.0));
    if (hasReturn) b(unknowns.conductor(0), c) = Complex(-1.0, 0.0);
    b(unknowns.conductor(c), c) = Complex(1.0, 0.0);
  }
  luSolve(work.A, work.pivots, b);

  return conductorMatrixFromSolutions(model, unknowns, b);
}

}  // namespace qbr
