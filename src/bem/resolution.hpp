#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/conductor_matrix.hpp"
#include "model/problem_model.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"

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

// An entry is resolved when its estimated error is at most this share of it.
inline constexpr double kResolved = 0.01;

// The grids of an error estimate grow by this factor in node count from one to the next:
// the run's grid between one with 1/sqrt(2) and one with sqrt(2) times its nodes.
inline constexpr double kLadderRatio = 1.4142135623730951;

// Refining to a tolerance stops when every estimate is within this share of it: the
// estimates are within a factor of 2 of the true error in most cases measured, and the
// result must meet the tolerance, not only its estimate.
inline constexpr double kToleranceMargin = 0.5;

// The grid counts of a gridded model times `factor`, rounded up and at least two (the
// hats need them, and every element takes part).
std::vector<std::int32_t> scaledGridCounts(const ProblemModel& gridded, double factor);

// The errors (value - limit) of the middle and of the finest of three values on grids
// whose node counts grow by `ratio` from one to the next, by Richardson's rule with the
// order observed on the three (bounded to 1..2: piecewise linear hats converge at second
// order at best, and a faster order seen on coarse grids is pre-asymptotic). Where they do
// not converge regularly the larger step stands for the error: as it is where the steps
// change sign (the values oscillate about the limit), times the factor of first order
// where the step to the finest grid is as large as the step before it.
// Calibrated on cross-sections with known answers (bench/calibration): with the finer
// grid in the ladder, a grid still on its pre-asymptotic plateau shows itself.
struct LadderErrors {
  double middle = 0.0;
  double finest = 0.0;
  bool regular = true;  // the steps shrink without changing sign
};
LadderErrors ladderErrors(double coarse, double middle, double fine, double ratio = kLadderRatio);

// What an error of entry (r, c) of a matrix is measured against: the entry itself, for an
// off-diagonal entry at least a thousandth of the geometric mean of its diagonal entries
// (a coupling far below that is resolved when the diagonal is).
double entryScale(double entry, double diagonalR, double diagonalC);

// Relative error estimates of the entries of a real symmetric matrix from its values on
// three grids of a ladder: entry (r, c) of `entries` for r <= c, and the pair
// combinations (A_rr + A_cc)/2 - A_rc, relative to themselves, in `pairs` (r < c). `of`:
// the error of the middle or of the finest grid.
struct MatrixErrors {
  std::vector<std::vector<double>> entries;
  std::vector<std::vector<double>> pairs;
  bool regular = true;  // every entry's and pair's ladder
};

// Refining to a tolerance has met it when the estimates of the last two ladders are
// within kToleranceMargin of it and the last ladder converges regularly: a sequence that
// turns (a fast error component dying, a slow one of the other sign left) shows a small
// step at its turn, and one ladder alone would stop there (measured: by 3.5 times, and a
// plateau 20 times below the tolerance by 7 times). Steps a thousand times below the
// tolerance need no regularity: their noise (quadrature, rounding) need not fall with the
// grid, and waiting for it to would refine without end (a copper coax at 1 THz asked for
// 1e-3, estimates near 1e-7: 8 passes instead of 4).
// Two ladders in a row whose estimates lie ten times below the tolerance need no
// regularity either: the steps of superconducting strips over a ground turn in sign at
// estimates of 5e-6 (asked 1e-4) and then fall at first order, and waiting for regular steps
// took 11 passes and 6,146 unknowns where 6 and 1,098 met the tolerance. The estimate of a
// plateau can fall 7 times short of its error (measured: 1.8e-6 against 1.24e-5); ten
// times below the tolerance, the result still meets it.
inline constexpr double kIrregularWithin = 0.1;

struct ToleranceTracker {
  double tolerance = 0.0;
  bool previousWithin = false;
  bool previousFar = false;
  bool met(double largest, bool regular) {
    const bool within = largest <= kToleranceMargin * tolerance;
    const bool far = largest <= kIrregularWithin * tolerance;
    const bool done = within && previousWithin &&
                      (regular || largest <= 1e-3 * tolerance || (far && previousFar));
    previousWithin = within;
    previousFar = far;
    return done;
  }
};
// The first grid of a refinement to a tolerance, as a factor of the automatic counts
// (chooseAutomaticGrids). Half of them down to 1e-4; a looser tolerance starts coarser, as
// the square root of the tolerance (the grids converge at second order in their nodes), so
// that the two ladders that confirm it are not spent far below it; never below 0.16,
// where most elements sit at the least count of two nodes, which no finer rung of the
// ladder refines, and the steps would hide those elements' errors. Measured on the
// calibration set (33 cross-sections against their references): asked 1e-3, the node
// counts of the superconducting ones fell 1.1 to 3 times (normal metals, which need more
// passes, little) and every entry stayed within 3.2e-4; asked 1e-2, within 2.5e-3.
double firstRefinementFactor(double tolerance);

// The estimates of the finer of two solutions that converge far faster than the grids'
// second order (panels of growing order): |fine - coarse| of every entry and pair
// combination, relative as matrixErrors makes them.
MatrixErrors levelDifferences(const std::vector<std::vector<double>>& coarse,
                              const std::vector<std::vector<double>>& fine);

enum class LadderRung { kMiddle, kFinest };
MatrixErrors matrixErrors(const std::vector<std::vector<double>>& coarse,
                          const std::vector<std::vector<double>>& middle,
                          const std::vector<std::vector<double>>& fine, LadderRung of);

// A grid whose nodes next to a metal's corners lie many field depths apart (the skin depth
// of a normal metal, the penetration depth of a superconductor) sits on a plateau: the
// current crowds into the corners within that depth, finer grids move the result little
// until they resolve it, and the ladder's estimate says nothing. Measured on the
// calibration set: normal metals' R 1.6 to 16 % off with estimates of 0.2 to 4 % wherever
// that spacing exceeded 10 skin depths; a superconducting microstrip's L 1.2 % off with an
// estimate of 0.2 % at 11 penetration depths. Returns per kind of metal the largest ratio of
// spacing to depth next to a corner (the first and last interval of every line and curve)
// and its element (-1 without such metal).
struct FieldResolution {
  double normal = 0.0;
  std::int32_t normalElement = -1;
  double superconducting = 0.0;
  std::int32_t superconductingElement = -1;
};
FieldResolution fieldResolution(const ProblemModel& gridded);
// Above this ratio the field is taken as unresolved: R's entries (normal metal) are taken
// as off by at least kUnresolvedSkinError, L's (superconductor) by at least
// kUnresolvedPenetrationError.
inline constexpr double kUnresolvedDepths = 10.0;
inline constexpr double kUnresolvedSkinError = 0.06;
inline constexpr double kUnresolvedPenetrationError = 0.01;

// A solution on one grid, with what the reports need of it.
struct GridSolution {
  ProblemModel model;  // gridded
  Unknowns unknowns;
  WorkArrays work;  // the solutions in b
  ConductorMatrix m;
};

// The model solved silently (no texts, no progress) on the grids `buildGrids` gives it,
// with `factor` times the nodes on every element (at least two). `prepared` is the model
// as it stood before its grids were built.
GridSolution solveOnGrid(const ProblemModel& prepared, double factor, bool structured, int threads);

// The model solved silently (no texts, no progress) on its grids with `factor` times the
// nodes on every element (at least two): factor 1 is the run's own grid. `prepared` is
// the model as it stood before its grids were built.
ConductorMatrix solveSilently(const ProblemModel& prepared, double factor, bool structured,
                              int threads);

// Warning lines for the entries whose estimate exceeds `limit`: "Warning: L[1,1] is
// resolved to about 3e-02 only; ..." with `symbol` for the matrix, `part` before the entry
// ("the imaginary part of ") and `advice` at the end.
void appendResolutionWarnings(const MatrixErrors& errors, const std::string& symbol, double limit,
                              const std::string& advice, std::vector<std::string>& warnings,
                              const std::string& part = "");

}  // namespace qbr
