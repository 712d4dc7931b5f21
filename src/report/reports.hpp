#pragma once

#include "base/run_io.hpp"
#include "model/conductor_matrix.hpp"

namespace qbr {

// The inductance matrix in pH/um: the upper triangle to the run log, the leading
// block of at most 4 x 4 (both triangles) to the console.
void reportInductanceMatrix(const ConductorMatrix& m, RunIo& io);

// The impedance matrix as resistance, reactance and inductance L = X / omega: the upper
// triangle to the run log, that of the leading block of at most 4 x 4 to the console.
void reportImpedanceMatrix(const ConductorMatrix& m, double omega, RunIo& io);

}  // namespace qbr
