#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/conductor_matrix.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Whether the printed numbers are resolved: a printed number is right to about 1% or the
// run says so.

// Rounding. Far below the skin effect a normal metal's resistance exceeds its reactance
// by omega L / R (3e9 for a 1 um copper wire at 1 Hz), and the inductance is a remainder
// of the solution. Its rounding error is about sqrt(nd) times the unit roundoff of the
// matrix's largest entry (measured: below one roundoff of |Z| on a copper wire from 1 Hz
// down to 1e-9 Hz). Stops the run when a self inductance is not 100 times that, i.e. not
// resolved to 1% (a frequency below about 1e-4 Hz for that wire). The estimate rests on
// the resistive part and the size of the system, never on the inductance itself.
void checkInductanceAboveRounding(const ConductorMatrix& m, bool phaseVariables, int nd);

// An entry is resolved when a grid check finds it changing by at most this share of its
// scale.
inline constexpr double kResolved = 0.01;

// The grid counts of a gridded model divided by `divisor`, rounded up and at least two (the
// hats need them, and every element takes part): the coarser grids of a grid check.
std::vector<std::int32_t> coarserGridCounts(const ProblemModel& gridded, int divisor);

// What a grid check reads as the error of an entry from its values on the run's grid, on
// the half and on the quarter grid, relative to `scale`. The change to the half grid is
// about the error where the three grids converge regularly: the step from the quarter to
// the half grid 1.5 to 8 times as large, an order of convergence between 0.6 and 3. Where
// they do not, the grid is too coarse for the current layers to tell, and the larger
// change stands for the error.
double gridCheckChange(double fine, double half, double quarter, double scale);

// The model solved silently (no texts, no progress) on a grid with 1/divisor of the nodes of
// the run's grid on every element (at least two): divisor 1 is the run's own grid.
// `prepared` is the model as it stood before its grids were built.
ConductorMatrix solveSilently(const ProblemModel& prepared, int divisor, bool structured,
                              int threads);

// Discretisation. Solves the model twice more, silently, on grids with a half and a quarter
// of the nodes of every element (coarserGridCounts) and compares the printed entries: the method
// converges at first order in the node spacing or better, so the change is about the error of the
// finer grid or more. Returns a warning line for every entry of the upper triangle that
// changes by more than 1% of its scale (sqrt of the two diagonal entries' magnitudes of
// the same part; the resistive part of a lossless line, which is rounding noise, is left
// out). `prepared` is the model as it stood before its grids were built.
// `structured`: solve as solveStructured does, else with the full matrix. The coarser
// solves run on `threads` threads as the run's own do (0: all cores), so that solves side
// by side on one thread each do not each take every core for their check.
// `coarser`, when given, receives the conductor matrices of the half and the quarter grid.
std::vector<std::string> gridResolutionWarnings(const ProblemModel& prepared,
                                                const ConductorMatrix& result,
                                                bool structured = true, int threads = 0,
                                                std::vector<ConductorMatrix>* coarser = nullptr);

}  // namespace qbr
