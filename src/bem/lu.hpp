#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <vector>

#include "prep/complex_matrix.hpp"
#include "qbr/progress.hpp"

namespace qbr {

// Columns per panel of the blocked factorisation, chosen by measurement on the 2-core
// development machine: 128 came within 2% of a bare zgetrf at n = 2000 and 4000;
// wider panels lost up to 9%, narrower ones at n = 4000.
inline constexpr int kLuPanelWidth = 128;

// Factorises the n x n matrix A (n = A.rows()) in place with partial pivoting: the
// unit lower factor L below the diagonal, U on and above it, as LAPACK leaves them.
// pivots gets n entries, 1-based: row k was exchanged with row pivots[k-1].
// Writes the progress spinner to the console (nothing for n = 1). Stops the run when
// a pivot is exactly zero, since the system is then singular.
void luFactor(ComplexMatrix& A, std::vector<int>& pivots, std::ostream& console);

// The same with a chosen panel width (tests and benchmarks).
void luFactor(ComplexMatrix& A, std::vector<int>& pivots, std::ostream& console, int panelWidth);

// The same with the progress as events (the console version is consoleSpinner's).
void luFactor(ComplexMatrix& A, std::vector<int>& pivots, const ProgressCallback& progress,
              int panelWidth = kLuPanelWidth);

// The number of the system's unknown that column j (1-based) of a factorised matrix
// stands for, as the stop for a singular system names it.
using ColumnNumbers = std::function<std::int64_t(std::int64_t)>;

// The same for a matrix whose columns are some of the system's unknowns (the structured
// solve's blocks): a zero pivot is reported in the system's numbering.
void luFactor(ComplexMatrix& A, std::vector<int>& pivots, const ProgressCallback& progress,
              int panelWidth, const ColumnNumbers& columnNumbers);

// Solves with the factors for all columns of b at once (b: n x m, overwritten by the
// solution).
void luSolve(const ComplexMatrix& A, const std::vector<int>& pivots, ComplexMatrix& b);

}  // namespace qbr
