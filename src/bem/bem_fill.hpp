#pragma once

#include <ostream>

#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"
#include "prep/unknowns.hpp"

namespace qbr {

// Assembles the BEM system for the prepared model with its grids: for every grid node an
// exterior (Laplace) row and an interior (Helmholtz) row, then one current row per
// conductor. A is set to nd x nd (reallocated only when its size differs) and every entry
// is written or zero. Progress goes to `console`.
//
// This is the plain, entry-by-entry evaluation: every coefficient is its own node integral.
void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   std::ostream& console);

}  // namespace qbr
