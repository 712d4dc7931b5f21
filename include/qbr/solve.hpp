#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "qbr/model.hpp"
#include "qbr/progress.hpp"
#include "qbr/result.hpp"

namespace qbr {

// The tolerance of models built in code that leave their grids to the program.
inline constexpr double kDefaultTolerance = 1e-3;

struct SolveOptions {
  // Threads of the matrix fill and the factorisation; 0: all cores (as the program).
  // The fill gives the same bits on any number of threads; OpenBLAS's last bits depend
  // on its thread count, so another count may change the last digits of a result.
  int threads = 0;
  // Called with the progress of the fill and the factorisation (see progress.hpp).
  ProgressCallback progress;
  // The program's texts, for front ends that want them: when set, the echo of the
  // model, the grid list, the warnings and the matrix report go to `log` as in
  // qbr.log, and the caption, the grid summary, the warnings and the matrix report go
  // to `console` as the program prints them. Both or neither.
  std::ostream* console = nullptr;
  std::ostream* log = nullptr;
  // After the solve, solve again on grids with 1/sqrt(2) and sqrt(2) times the nodes,
  // estimate every entry's error (Result::accuracy) and warn (Result::warnings) where one
  // is not resolved to about 1%, as the program does; this costs about three times the
  // solve. Off for sweeps that check their grids themselves.
  bool gridCheck = true;
  // When above 0, the grids are chosen for it: graded, counts from the local scales of
  // every element (lengths, gaps, film thicknesses, skin and penetration depths), then
  // refined by sqrt(2) in nodes until every printed entry's estimated relative error (and
  // every pair combination's) is at most `tolerance`; Result::accuracy carries the
  // estimates. A model's "accuracy" line asks for the same; this, when set, wins.
  // Otherwise a model built in code that gives no grid count to any element and no `ah`
  // is solved to kDefaultTolerance; one read from input text keeps its grids.
  double tolerance = 0.0;
  // How the system is solved. kStructured (the program's way) eliminates each conductor's
  // interior unknowns first and factorises a dense system on the exterior unknowns, about
  // half of them, in about a fifth of the time and under half the memory of the full
  // matrix, which it never holds; kDense factorises the full nd x nd matrix (the
  // reference). Both give the same conductor matrix to about 1e-12.
  enum class Solver { kStructured, kDense };
  Solver solver = Solver::kStructured;
  // When not empty, the cross-section is drawn as EPS into drawingBase + ".eps" (and
  // announced on the console and in the log), as the program draws it next to the input.
  std::string drawingBase;
};

// Computes the conductor matrix of the model and its boundary solution. Writes nothing
// to standard output or standard error and never ends the process; a model that cannot
// be computed throws qbr::Error. Reentrant: solves in several threads at once give the
// results each gives alone (their fills run side by side, their factorisations take
// turns, since OpenBLAS's thread count belongs to the whole process).
Result solve(const Model& model, const SolveOptions& options = {});

// The checks a solve makes before its grids (the set-up of units and materials, the
// outlines: closed, oriented, nested, not touching; the dielectric regions), without
// computing anything: for editors that check a model as it is typed. Returns the
// warnings a solve would report first (the reader's and the set-up's); a model that a
// solve would refuse at these checks throws qbr::Error with the same message.
std::vector<std::string> check(const Model& model);

// "qbr 0.1.0".
std::string versionText();

// The effective permittivities, the attenuation split into the conductors' and the
// dielectric's part, the external and internal (or kinetic) inductance and, for two
// signal conductors, the even and odd impedances and the crosstalk coefficients of a
// result with line parameters (a model with a permittivity or dielectric regions).
// Throws qbr::Error without them.
LineDetails lineDetails(const Result& result);

}  // namespace qbr
