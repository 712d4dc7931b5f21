// qbr-bench --dielectrics: what dielectric regions cost, as ratios against the same
// work without them measured in the same run.
//   1. The electrostatics with interfaces against the electrostatics in vacuum with as
//      many unknowns (the metal's grid made finer to match): the price of the flux
//      condition per unknown.
//   2. A whole solve of the gallery's FR4 microstrip (regions, C, C0, line parameters and
//      the grid check) against the same cross-section without the substrate and without
//      line parameters (the inductance alone).
//   3. A sweep of 40 frequencies of each, one solve after another in one process as a
//      sweep's worker does: with a dielectric that does not depend on frequency the
//      electrostatics is solved once and found again.
#include "bench_dielectrics.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "base/run_io.hpp"
#include "bem/capacitance.hpp"
#include "model/problem_model.hpp"
#include "prep/dielectrics.hpp"
#include "prep/grids.hpp"
#include "prep/model_checks.hpp"
#include "prep/setup.hpp"
#include "qbr/qbr.hpp"

namespace qbr::bench {

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
double bestSeconds(int repeat, F&& work) {
  double best = 1e300;
  for (int i = 0; i < repeat; ++i) {
    const Clock::time_point start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

// `nudge` moves the trace's edges by that many mm: a cross-section the process has not
// solved before, whose electrostatics it cannot have kept.
std::string board(bool substrate, double frequencyHz, double nudge = 0.0) {
  std::ostringstream text;
  text.precision(17);
  text << "lengthunit mm\nfrequency " << frequencyHz << " hz\nvariables impedance\ngrid graded\n"
       << "patch 0 nc 58\nrect -10 10 -1.635 -1.6 0 0 400 8\nrect " << -1.5 - nudge << " "
       << 1.5 + nudge << " 0 0.035 1 0 200 8\n";
  if (substrate) text << "dielectric 1 4.3 0.02\nrect -10 10 -1.6 0 0 1 200 40\n";
  return text.str();
}

ProblemModel gridded(const std::string& text) {
  ProblemModel model = Model::fromText(text).tables();
  std::ostringstream console, log;
  RunIo io{console, log, nullptr};
  setUpModel(model, io);
  checkModelIsSolvable(model);
  buildGrids(model, io);
  return model;
}

}  // namespace

int runDielectrics(int repeat) {
  // 1. Per unknown.
  const ProblemModel withRegions = gridded(board(true, 1e9));
  const DielectricLayout layout = layOutDielectrics(withRegions, nullptr);
  int interfaceNodes = 0;
  for (const BoundaryElement& e : layout.interfaces) interfaceNodes += e.gridCount;
  const int metalNodes = withRegions.nd0 / 2;
  const int unknowns = metalNodes + interfaceNodes;
  ProblemModel vacuum = withRegions;
  std::vector<std::int32_t> counts;
  const double scale = static_cast<double>(unknowns) / metalNodes;
  int vacuumNodes = 0;
  for (std::int32_t e = 0; e < vacuum.elementCount; ++e) {
    counts.push_back(std::clamp<std::int32_t>(
        static_cast<std::int32_t>(vacuum.elements[static_cast<std::size_t>(e)].gridCount * scale +
                                  0.5),
        3, 2000));
    vacuumNodes += counts.back();
  }
  placeGrids(vacuum, counts);
  const double withTime = bestSeconds(repeat, [&] { solveElectrostatics(withRegions, layout, 0); });
  const double vacuumTime = bestSeconds(repeat, [&] { solveElectrostatics(vacuum, 1.0, 0); });
  std::printf(
      "electrostatics, FR4 microstrip: %d unknowns with interfaces (%d on them) %.3f s, "
      "%d in vacuum %.3f s: ratio %.2f\n",
      unknowns, interfaceNodes, withTime, vacuumNodes, vacuumTime, withTime / vacuumTime);

  // 2. Whole solves. Each solve anew: a solve of the same model would find its electrostatics kept.
  int variant = 0;
  const auto fresh = [&](bool substrate) {
    return Model::fromText(board(substrate, 1e9, 1e-9 * ++variant));
  };
  const double solveWith = bestSeconds(repeat, [&] { solve(fresh(true)); });
  const double solveBare = bestSeconds(repeat, [&] { solve(fresh(false)); });
  std::printf(
      "whole solve with the grid check: with the substrate %.3f s, without %.3f s: "
      "ratio %.2f\n",
      solveWith, solveBare, solveWith / solveBare);

  // 3. Sweeps of 40 frequencies, 10 MHz to 40 GHz, one worker.
  const auto sweep = [&](bool substrate) {
    return bestSeconds(1, [&] {
      for (int k = 0; k < 40; ++k) {
        const double f = 1e7 * std::pow(4000.0, k / 39.0);
        solve(Model::fromText(board(substrate, f)));
      }
    });
  };
  const double sweepWith = sweep(true);
  const double sweepBare = sweep(false);
  std::printf("sweep of 40 frequencies: with the substrate %.2f s, without %.2f s: ratio %.3f\n",
              sweepWith, sweepBare, sweepWith / sweepBare);
  return 0;
}

}  // namespace qbr::bench
