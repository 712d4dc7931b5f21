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

namespace {

// At low frequency a normal metal's resistance dwarfs its reactance, and the
// reactance is a small difference of large terms of the solution, with an error of
// about 1e-7 times the ratio of the two (a copper coax with a 1 um wire, in um units:
// 0.4% off at 100 kHz where the ratio is 3.4e4, 1% at 10 kHz, the wrong sign at
// 1 kHz). Below the skin effect the inductance no longer changes with frequency, so
// the cure is a higher frequency.
void checkInductanceIsResolved(const ConductorMatrix& m, bool phaseVariables) {
  constexpr double kMaxResistanceToReactance = 1e4;
  for (int r = 1; r <= m.size(); ++r) {
    // Inductance scale: (L, -R/omega); impedance scale: (R, X).
    const double reactive = std::fabs(phaseVariables ? m(r, r).real() : m(r, r).imag());
    const double resistive = std::fabs(phaseVariables ? m(r, r).imag() : m(r, r).real());
    if (resistive > kMaxResistanceToReactance * reactive) {
      fatalStop("\nAt this frequency the resistance of conductor " + std::to_string(r) +
                " is more than 1e4 times its reactance, so its inductance is lost in "
                "rounding; compute at a higher frequency (below the skin effect the inductance "
                "does not change with frequency);\n");
    }
  }
}

}  // namespace

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
  checkInductanceIsResolved(result, model.phaseVariables);
  return result;
}

}  // namespace qbr
