#pragma once

#include <ostream>

#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"
#include "prep/unknowns.hpp"

namespace qbr {

// The BEM system written entry by entry, every coefficient its own node integral: the
// reference that the fast fill is checked and timed against. Same contract as
// fillBemMatrix: A becomes nd x nd with every entry written or zero, and the console gets
// the same spinner text.
void fillBemMatrixLiteral(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                          std::ostream& console);

}  // namespace qbr
