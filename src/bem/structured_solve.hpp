#pragma once

#include "model/conductor_matrix.hpp"
#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"
#include "prep/unknowns.hpp"
#include "qbr/progress.hpp"

namespace qbr {

// The system solved conductor by conductor, without its nd x nd matrix.
//
// The interior row of a node and the current row of a conductor couple only that
// conductor's unknowns (U, Q and the constant C), so per conductor with n nodes the
// n + 1 rows [interior; current] against (Q, C) form a square block P, and
//   P [Q; C] = -[I_U; 0] U + [0; current].
// Eliminating Q and C with a dense LU of P leaves the exterior rows as a dense system in
// the U of all nodes, the Schur complement S = E_U - E_Q X (X the Q rows of
// P^-1 [I_U; 0]), about half the unknowns of the full system.
//
// P is the interior single layer bordered by the conductor column and the current row. It
// stays well conditioned where the others degenerate: at strong skin effect and small
// penetration depths the single layer is nearly local (a diagonal of about the depth
// times the node spacing) while the double layer I_U tends to half the identity; far
// below the skin effect the single layer is kept off its logarithmic degeneracy by the
// kernel's shift (low_frequency.hpp), and the conductor column is exact and small, of
// order k^2, which gives C its 1/k^2 through one pivot of P, as in the full system.
// Eliminating U instead would need the interior double layer, singular for constants at
// low frequency.
//
// Order of the work: the rows of each conductor against its own elements (the interior
// block, and its exterior rows against itself), P factorised and X formed; then the
// exterior rows against the other conductors, in panels of rows whose products with X go
// straight into S, so that E_Q is never held whole. Then S is factorised, solved for all
// conductors at once, and Q and C are recovered per conductor.
//
// `solutions` is set to nd x N: column c the whole solution for a unit current in
// conductor c (returning through conductor 0 when it has elements), as the full solve
// leaves it. Progress: the fill's steps during the fills (the factorisations of P and the
// products with X run between them), then the factorisation's nd - 1 steps in proportion
// to the work of S's factorisation. A zero pivot stops the run with the full system's
// message, naming the unknown whose column it was in. Where the memory cannot be had, the
// run stops with "main arrays are not allocated".
struct StructuredTimes {
  double fill = 0.0;           // the fills of the rows
  double factorisation = 0.0;  // everything else: P, X, the products, S, the solves
};

ConductorMatrix solveStructured(const ProblemModel& model, const Unknowns& unknowns,
                                ComplexMatrix& solutions, const ProgressCallback& progress,
                                int threads, StructuredTimes* times = nullptr);

}  // namespace qbr
