#pragma once

#include <ostream>

#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"
#include "prep/unknowns.hpp"
#include "qbr/progress.hpp"

namespace qbr {

// Assembles the BEM system for the prepared model with its grids: for every grid node an
// exterior (Laplace) row and an interior (Helmholtz) row, then one current row per
// conductor. A is set to nd x nd (reallocated only when its size differs) and every entry
// is written. Progress goes to `console` ("Filling BEM matrix:  ", one spinner step per
// row element, column element and row node, "\b  done;\n").
//
// Each entry is the node integral of its kernel, evaluated with the Gauss points of every
// element sampled once and each kernel value shared by the two nodes whose shape functions
// overlap at that point; rows are filled in parallel. The result does not depend on the
// number of threads, bit for bit.
void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   std::ostream& console);

// The same with the progress as events (the console version is consoleSpinner's) on
// `threads` threads (0: OpenMP's default).
void fillBemMatrix(const ProblemModel& model, const Unknowns& unknowns, ComplexMatrix& A,
                   const ProgressCallback& progress, int threads);

}  // namespace qbr
