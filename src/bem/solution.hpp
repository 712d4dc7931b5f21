#pragma once

#include <ostream>

#include "model/conductor_matrix.hpp"
#include "model/problem_model.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"
#include "qbr/progress.hpp"

namespace qbr {

// Factorises the filled system once, solves for a unit current in every reported
// conductor (returning through conductor 0 when it has elements) and reads the
// conductor potentials off the solutions: the inductance matrix in pH/um when the
// model's variables are phases, otherwise the impedance matrix in ohm/m times 1e6.
// Overwrites work.A with its factors, work.pivots, and work.b with the solutions
// (column c for conductor c). Writes the factorisation progress to the console.
ConductorMatrix solveConductorMatrix(const ProblemModel& model, const Unknowns& unknowns,
                                     WorkArrays& work, std::ostream& console);

// The same with the factorisation's progress as events, and OpenBLAS on `threads`
// threads (0: as it is); one such factorisation and solution runs at a time in the
// process (see BlasSession).
ConductorMatrix solveConductorMatrix(const ProblemModel& model, const Unknowns& unknowns,
                                     WorkArrays& work, const ProgressCallback& progress,
                                     int threads);

// The conductor matrix from the solutions b (nd x N, column c for a unit current in
// conductor c); stops the run when an entry is not finite.
ConductorMatrix conductorMatrixFromSolutions(const ProblemModel& model, const Unknowns& unknowns,
                                             const ComplexMatrix& b);

}  // namespace qbr
