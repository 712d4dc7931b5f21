#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bem/capacitance.hpp"
#include "model/problem_model.hpp"
#include "prep/dielectrics.hpp"

namespace qbr {

// The electrostatics of one cross-section as the line parameters need it: C (and with
// dielectric regions C0) and the grid check's warnings on C.
struct LineElectrostatics {
  Electrostatics statics;
  Matrix<double> vacuumCapacitanceFPerM;  // dielectric regions only
  std::vector<std::string> gridWarnings;
  // The error estimates of C (resolveCapacitance), when it ran.
  std::vector<std::vector<double>> errors;
  std::vector<std::vector<double>> pairErrors;
};

// A frequency sweep solves the same cross-section at many frequencies, and with
// dielectrics that do not depend on frequency its electrostatics is the same every time:
// the last few are kept in the process, keyed by everything they are computed from (the
// metal's shape and grids, the interfaces with their media, the symmetry, the thread
// count, whether the grid check ran), so that a hit returns the very bits a new solve
// would. Safe for solves in several threads at once.
std::string electrostaticsKey(const ProblemModel& gridded, const DielectricLayout* layout,
                              int threads, bool gridCheck, double tolerance);
std::optional<LineElectrostatics> cachedElectrostatics(const std::string& key);
void rememberElectrostatics(const std::string& key, const LineElectrostatics& value);

}  // namespace qbr
