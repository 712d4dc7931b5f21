#include "bem/resolution.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <streambuf>

#include "base/fatal_stop.hpp"
#include "base/run_io.hpp"
#include "bem/bem_fill.hpp"
#include "bem/solution.hpp"
#include "bem/structured_solve.hpp"
#include "prep/grids.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"

namespace qbr {

namespace {

// Swallows the grid report, the spinners and the warnings of the silent solve.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::string percent(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g%%", 100.0 * x);
  return text;
}

}  // namespace

void checkInductanceAboveRounding(const ConductorMatrix& m, bool phaseVariables, int nd) {
  double largest = 0.0;
  for (int r = 1; r <= m.size(); ++r)
    for (int c = 1; c <= m.size(); ++c) largest = std::max(largest, std::abs(m(r, c)));
  const double rounding =
      std::sqrt(static_cast<double>(nd)) * std::numeric_limits<double>::epsilon() * largest;
  for (int r = 1; r <= m.size(); ++r) {
    // Inductance scale: (L, -R/omega); impedance scale: (R, X).
    const double inductive = std::fabs(phaseVariables ? m(r, r).real() : m(r, r).imag());
    if (inductive < rounding / kResolved) {
      fatalStop("\nAt this frequency the inductance of conductor " + std::to_string(r) +
                " is lost in rounding: its reactance is within a hundred rounding errors of its "
                "resistance; compute at a higher frequency (below the skin effect the inductance "
                "does not change with frequency);\n");
    }
  }
}

ConductorMatrix solveSilently(const ProblemModel& prepared, int divisor, bool structured,
                              int threads) {
  NullBuffer nullBuffer;
  std::ostream sink(&nullBuffer);
  RunIo silent{sink, sink};
  ProblemModel coarse = prepared;
  buildGrids(coarse, silent);
  placeGrids(coarse, coarserGridCounts(coarse, divisor));
  const Unknowns unknowns(coarse);
  WorkArrays work = allocateWorkArrays(coarse, !structured);
  if (structured) return solveStructured(coarse, unknowns, work.b, ProgressCallback{}, threads);
  fillBemMatrix(coarse, unknowns, work.A, ProgressCallback{}, threads);
  return solveConductorMatrix(coarse, unknowns, work, ProgressCallback{}, threads);
}

std::vector<std::int32_t> coarserGridCounts(const ProblemModel& gridded, int divisor) {
  std::vector<std::int32_t> counts;
  for (std::int32_t e = 0; e < gridded.elementCount; ++e)
    counts.push_back(std::max(
        2, (gridded.elements[static_cast<std::size_t>(e)].gridCount + divisor - 1) / divisor));
  return counts;
}

double gridCheckChange(double fine, double half, double quarter, double scale) {
  const double toHalf = std::fabs(fine - half) / scale;
  const double toQuarter = std::fabs(half - quarter) / scale;
  const bool regular = toQuarter >= 1.5 * toHalf && toQuarter <= 8.0 * toHalf;
  return regular ? toHalf : std::max(toHalf, toQuarter);
}

std::vector<std::string> gridResolutionWarnings(const ProblemModel& prepared,
                                                const ConductorMatrix& result, bool structured,
                                                int threads,
                                                std::vector<ConductorMatrix>* coarser) {
  const ConductorMatrix half = solveSilently(prepared, 2, structured, threads);
  const ConductorMatrix quarter = solveSilently(prepared, 4, structured, threads);
  if (coarser) *coarser = {half, quarter};
  std::vector<std::string> warnings;
  const int n = result.size();
  // Part 0 is the real part, part 1 the imaginary part of the printed entries.
  const auto part = [](const ConductorMatrix& m, int r, int c, int p) {
    return p == 0 ? m(r, c).real() : m(r, c).imag();
  };
  const bool inductance = prepared.phaseVariables;
  double largest[2] = {0.0, 0.0};
  for (int r = 1; r <= n; ++r)
    for (int p = 0; p < 2; ++p) largest[p] = std::max(largest[p], std::fabs(part(result, r, r, p)));
  // The resistive part of a lossless line is rounding noise: nothing to resolve.
  const int resistive = inductance ? 1 : 0;
  const bool lossless = largest[resistive] < 1e-9 * largest[1 - resistive];
  for (int r = 1; r <= n; ++r) {
    for (int c = r; c <= n; ++c) {
      for (int p = 0; p < 2; ++p) {
        if (lossless && p == resistive) continue;
        const double scale =
            std::sqrt(std::fabs(part(result, r, r, p)) * std::fabs(part(result, c, c, p)));
        if (!(scale > 0.0)) continue;
        const double change = gridCheckChange(part(result, r, c, p), part(half, r, c, p),
                                              part(quarter, r, c, p), scale);
        if (!(change > kResolved)) continue;
        char entry[32];
        std::snprintf(entry, sizeof entry, "[%d,%d]", r, c);
        std::string text = "Warning: ";
        if (inductance) {
          text.append(p == 0 ? "L" : "the imaginary part of L").append(entry);
        } else {
          text.append(p == 0 ? "R" : "X").append(entry);
          if (p == 1) text.append(" and L").append(entry);
        }
        text.append(" changes by ")
            .append(percent(change))
            .append(
                " on coarser grids, so it may be off by as much; refine the grid where "
                "the current crowds (a smaller ah or larger grid counts);");
        warnings.push_back(text);
      }
    }
  }
  return warnings;
}

}  // namespace qbr
