#pragma once

#include <vector>

#include "base/run_io.hpp"
#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"

namespace qbr {

// The large arrays of the BEM system, allocated once after the grids.
struct WorkArrays {
  ComplexMatrix A;          // nd x nd system matrix, column-major
  ComplexMatrix b;          // nd x N right-hand sides, one column per reported conductor;
                            // overwritten with the solutions
  std::vector<int> pivots;  // nd row exchanges of the factorisation (LAPACK convention)
};

// Allocates A, b and the pivots for model.nd unknowns and model.conductorCount
// conductors (without A and the pivots when `withMatrix` is false: the structured solve
// keeps its own, smaller arrays); stops the run with "\nmain arrays are not allocated\n"
// when the memory cannot be had.
WorkArrays allocateWorkArrays(const ProblemModel& model, bool withMatrix = true);

// Releases the work arrays, the grid arrays of every element and the conductor member
// lists.
void releaseWorkArrays(ProblemModel& model, WorkArrays& work);

}  // namespace qbr
