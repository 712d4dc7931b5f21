// qbr-bench-panels: the Nystroem discretisation on Gauss-Legendre panels (bem/panels.hpp)
// on the gallery's microstrip, superconducting and copper at 10 GHz. Per level of the ladder
// the unknowns, the times of fill and solve (best of `repeat`), L (and R) against the
// references of the node grids and against the finest level; a different fine
// discretisation as a check of that level; and the time of runs to a tolerance, which
// climb the ladder from level 0 until two levels agree within the tolerance.
//
//   qbr-bench-panels [repeat] [finest level]
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "base/run_io.hpp"
#include "bem/panels.hpp"
#include "bench_time_to_accuracy.hpp"
#include "prep/setup.hpp"
#include "qbr/qbr.hpp"

namespace {

using qbr::PanelSettings;
using qbr::PanelSolution;

struct Case {
  const char* name;
  const char* material;
  // The node grids' references (bench_time_to_accuracy.cpp): L in pH/um, R in ohm/m
  // (0: lossless), and their relative uncertainty.
  double inductance;
  double resistance;
  double uncertainty;
};

struct Row {
  int level = 0;
  PanelSettings settings;
  int panels = 0;
  int unknowns = 0;
  bool real = false;
  double fill = 0.0;
  double solve = 0.0;
  double inductance = 0.0;  // pH/um
  double resistance = 0.0;  // ohm/m
  double seconds() const { return fill + solve; }
};

qbr::ProblemModel prepared(const Case& c) {
  qbr::ProblemModel model =
      qbr::Model::fromText(qbr::bench::microstripText(c.material, false, 1.0)).tables();
  std::ostringstream console, log;
  qbr::RunIo io{console, log, nullptr};
  qbr::setUpModel(model, io);
  return model;
}

Row measure(const Case& c, const PanelSettings& settings, int repeat) {
  const qbr::ProblemModel model = prepared(c);
  Row row;
  row.settings = settings;
  row.fill = row.solve = std::numeric_limits<double>::infinity();
  for (int r = 0; r < repeat; ++r) {
    const PanelSolution s = qbr::solveOnPanels(model, settings);
    if (s.seconds() < row.seconds()) {
      row.fill = s.fillSeconds;
      row.solve = s.solveSeconds;
    }
    row.panels = s.panels;
    row.unknowns = s.unknowns;
    row.real = s.real;
    // L in pH/um is the real part of the phase-variable matrix; R = Re(j omega Z) in ohm/m.
    row.inductance = s.matrix(1, 1).real();
    row.resistance = -model.omega * s.matrix(1, 1).imag() * 1e-6;
  }
  return row;
}

// The worse relative change of L and (where the line has loss) R from row a to row b.
double change(const Case& c, const Row& a, const Row& b) {
  double e = std::fabs(b.inductance / a.inductance - 1.0);
  if (c.resistance != 0.0) e = std::max(e, std::fabs(b.resistance / a.resistance - 1.0));
  return e;
}

void printCase(const Case& c, int repeat, int finest) {
  const bool lossy = c.resistance != 0.0;
  std::printf("\n### %s\n\n", c.name);
  std::printf("Node grids' references: L %.9f pH/um%s, +-%.0e.\n\n", c.inductance,
              lossy ? (", R " + std::to_string(c.resistance) + " ohm/m").c_str() : "",
              c.uncertainty);
  std::vector<Row> rows;
  for (int level = 0; level <= finest; ++level) {
    rows.push_back(measure(c, qbr::panelLevel(level), level >= 5 ? 1 : repeat));
    rows.back().level = level;
  }
  const Row& best = rows.back();
  std::printf(
      "| level | order | spread | smallest | panels | unknowns | fill (s) | solve (s) | "
      "L (pH/um) | L vs node ref |%s change from previous | error vs level %d |\n",
      lossy ? " R (ohm/m) | R vs node ref |" : "", finest);
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|%s---:|---:|\n",
              lossy ? "---:|---:|" : "");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    std::printf("| %d | %d | %g | %g | %d | %d | %.4f | %.4f | %.12f | %+.1e |", r.level,
                r.settings.order, r.settings.spread, r.settings.smallest, r.panels, r.unknowns,
                r.fill, r.solve, r.inductance, r.inductance / c.inductance - 1.0);
    if (lossy) {
      std::printf(" %.8f | %+.1e |", r.resistance, r.resistance / c.resistance - 1.0);
    }
    if (i == 0) {
      std::printf(" |");
    } else {
      std::printf(" %.1e |", change(c, rows[i - 1], r));
    }
    if (&r == &best) {
      std::printf(" |\n");
    } else {
      std::printf(" %.1e |\n", change(c, best, r));
    }
  }

  // A discretisation of another kind of refinement (more and smaller panels at order 16)
  // as a check of the finest level.
  PanelSettings check;
  check.order = 16;
  check.spread = 2.0;
  check.smallest = 0.03;
  const Row other = measure(c, check, 1);
  std::printf(
      "\nCheck: order 16, spread 2, smallest 0.03: %d unknowns, %.2f s; L %.12f%s; relative "
      "difference from level %d: %.1e\n",
      other.unknowns, other.seconds(), other.inductance,
      lossy ? (", R " + std::to_string(other.resistance)).c_str() : "", finest,
      change(c, best, other));

  // Runs to a tolerance (solveOnPanelsTo from level 0, timed whole, best of `repeat`): the
  // finer of the two levels that agree is the answer, their difference the estimate; and
  // what the last two levels alone cost (a run that starts at the right level).
  std::printf(
      "\n| tolerance | levels | time from level 0 (s) | time of the last two (s) | "
      "unknowns | estimate | error vs level %d |\n|---:|---:|---:|---:|---:|---:|---:|\n",
      finest);
  const qbr::ProblemModel model = prepared(c);
  for (double tol : {1e-3, 1e-4, 1e-5, 1e-6, 1e-7, 1e-8}) {
    double seconds = std::numeric_limits<double>::infinity();
    qbr::PanelRun run;
    for (int r = 0; r < repeat; ++r) {
      const auto start = std::chrono::steady_clock::now();
      run = qbr::solveOnPanelsTo(model, tol, 0, finest - 1);
      seconds = std::min(
          seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    if (!run.met) {
      std::printf("| %.0e | beyond level %d | | | | | |\n", tol, finest - 1);
      continue;
    }
    const Row& last = rows[static_cast<std::size_t>(run.level)];
    const Row& before = rows[static_cast<std::size_t>(run.level - 1)];
    std::printf("| %.0e | 0-%d | %.4f | %.4f | %d | %.1e | %.1e |\n", tol, run.level, seconds,
                before.seconds() + last.seconds(), run.solution.unknowns, run.estimate,
                change(c, best, last));
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int repeat = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const int finest = argc > 2 ? std::max(2, std::atoi(argv[2])) : 6;
  static const Case cases[] = {
      {"superconducting microstrip (lambda 0.09 um)", "lambda 0.09", 0.168766031, 0.0, 4e-6},
      {"copper microstrip at 10 GHz", "patch 0 nc 58", 0.269663066, 54450.7213, 9e-6},
  };
  for (const Case& c : cases) printCase(c, repeat, finest);
  return 0;
}
