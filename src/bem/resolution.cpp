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
#include "model/geometry.hpp"
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

GridSolution solveOnGrid(const ProblemModel& prepared, double factor, bool structured,
                         int threads) {
  NullBuffer nullBuffer;
  std::ostream sink(&nullBuffer);
  RunIo silent{sink, sink};
  GridSolution s{prepared, {}, {}, {}};
  buildGrids(s.model, silent);
  if (factor != 1.0) placeGrids(s.model, scaledGridCounts(s.model, factor));
  s.unknowns = Unknowns(s.model);
  s.work = allocateWorkArrays(s.model, !structured);
  if (structured) {
    s.m = solveStructured(s.model, s.unknowns, s.work.b, ProgressCallback{}, threads);
  } else {
    fillBemMatrix(s.model, s.unknowns, s.work.A, ProgressCallback{}, threads);
    s.m = solveConductorMatrix(s.model, s.unknowns, s.work, ProgressCallback{}, threads);
  }
  return s;
}

ConductorMatrix solveSilently(const ProblemModel& prepared, double factor, bool structured,
                              int threads) {
  GridSolution s = solveOnGrid(prepared, factor, structured, threads);
  releaseWorkArrays(s.model, s.work);
  return s.m;
}

FieldResolution fieldResolution(const ProblemModel& gridded) {
  FieldResolution worst;
  for (std::int32_t e = 0; e < gridded.elementCount; ++e) {
    const BoundaryElement& element = gridded.elements[static_cast<std::size_t>(e)];
    const MaterialPatch& patch = gridded.patches[static_cast<std::size_t>(element.patch)];
    if (patch.dielectric || element.kind == kCircle || element.gridCount < 2 ||
        element.nodeX.size() <= static_cast<std::size_t>(element.gridCount) ||
        !(std::abs(patch.k) > 0.0)) {
      continue;
    }
    // k = j / lambda, or (1 - j) / delta.
    const double depth = (patch.superconducting ? 1.0 : std::sqrt(2.0)) / std::abs(patch.k);
    const auto spacing = [&](std::int32_t i) {
      const std::size_t a = static_cast<std::size_t>(i);
      return std::hypot(element.nodeX[a + 1] - element.nodeX[a],
                        element.nodeY[a + 1] - element.nodeY[a]);
    };
    const double ratio = std::max(spacing(1), spacing(element.gridCount - 1)) / depth;
    double& most = patch.superconducting ? worst.superconducting : worst.normal;
    std::int32_t& at = patch.superconducting ? worst.superconductingElement : worst.normalElement;
    if (ratio > most) {
      most = ratio;
      at = e;
    }
  }
  return worst;
}

std::vector<std::int32_t> scaledGridCounts(const ProblemModel& gridded, double factor) {
  std::vector<std::int32_t> counts;
  for (std::int32_t e = 0; e < gridded.elementCount; ++e) {
    const double scaled = gridded.elements[static_cast<std::size_t>(e)].gridCount * factor;
    counts.push_back(std::max(2, static_cast<std::int32_t>(std::ceil(scaled - 1e-9))));
  }
  return counts;
}

LadderErrors ladderErrors(double coarse, double middle, double fine, double ratio) {
  constexpr double kSlowest = 1.0;
  constexpr double kFastest = 2.0;
  const double toMiddle = coarse - middle;
  const double toFine = middle - fine;
  const double slow = std::pow(ratio, kSlowest) / (std::pow(ratio, kSlowest) - 1.0);
  if (toFine == 0.0) return {std::fabs(toMiddle) * slow, 0.0, toMiddle == 0.0};
  const double q = toMiddle / toFine;
  if (q > 1.0) {
    const double order = std::clamp(std::log(q) / std::log(ratio), kSlowest, kFastest);
    const double f = std::pow(ratio, order);
    return {toFine * f / (f - 1.0), toFine / (f - 1.0), true};
  }
  // Of the other sign: the values oscillate about the limit, within the larger step.
  // Steps that grow: the grids have only begun to resolve something, and the error is
  // taken as the slowest order's.
  const double factor = q < 0.0 ? 1.0 : slow;
  const double larger = std::max(std::fabs(toMiddle), std::fabs(toFine));
  return {std::copysign(larger * factor, toFine), std::copysign(std::fabs(toFine) * factor, toFine),
          false};
}

double firstRefinementFactor(double tolerance) {
  constexpr double kHalf = 0.5;
  constexpr double kFrom = 1e-4;
  constexpr double kCoarsest = 0.16;
  if (!(tolerance > kFrom)) return kHalf;
  return std::max(kCoarsest, kHalf * std::sqrt(kFrom / tolerance));
}

double entryScale(double entry, double diagonalR, double diagonalC) {
  return std::max(std::fabs(entry), 1e-3 * std::sqrt(std::fabs(diagonalR * diagonalC)));
}

MatrixErrors matrixErrors(const std::vector<std::vector<double>>& coarse,
                          const std::vector<std::vector<double>>& middle,
                          const std::vector<std::vector<double>>& fine, LadderRung of) {
  const std::size_t n = middle.size();
  MatrixErrors e{std::vector<std::vector<double>>(n, std::vector<double>(n, 0.0)),
                 std::vector<std::vector<double>>(n, std::vector<double>(n, 0.0))};
  const auto relative = [&](double a, double b, double c, double scale) {
    if (!(scale > 0.0)) return 0.0;
    const LadderErrors errors = ladderErrors(a, b, c);
    const double relative =
        std::fabs(of == LadderRung::kMiddle ? errors.middle : errors.finest) / scale;
    // Steps at the rounding level tell nothing of regularity.
    e.regular = e.regular && (errors.regular || relative < 1e-10);
    return relative;
  };
  const std::vector<std::vector<double>>& printed = of == LadderRung::kMiddle ? middle : fine;
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = r; c < n; ++c) {
      const double scale = r == c ? std::fabs(printed[r][r])
                                  : entryScale(printed[r][c], printed[r][r], printed[c][c]);
      e.entries[r][c] = e.entries[c][r] = relative(coarse[r][c], middle[r][c], fine[r][c], scale);
      if (r == c) continue;
      const auto pair = [&](const std::vector<std::vector<double>>& m) {
        return 0.5 * (m[r][r] + m[c][c]) - m[r][c];
      };
      e.pairs[r][c] = e.pairs[c][r] =
          relative(pair(coarse), pair(middle), pair(fine), std::fabs(pair(printed)));
    }
  }
  return e;
}

MatrixErrors levelDifferences(const std::vector<std::vector<double>>& coarse,
                              const std::vector<std::vector<double>>& fine) {
  const std::size_t n = fine.size();
  MatrixErrors e{std::vector<std::vector<double>>(n, std::vector<double>(n, 0.0)),
                 std::vector<std::vector<double>>(n, std::vector<double>(n, 0.0))};
  const auto relative = [](double a, double b, double scale) {
    return scale > 0.0 ? std::fabs(b - a) / scale : 0.0;
  };
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = r; c < n; ++c) {
      const double scale =
          r == c ? std::fabs(fine[r][r]) : entryScale(fine[r][c], fine[r][r], fine[c][c]);
      e.entries[r][c] = e.entries[c][r] = relative(coarse[r][c], fine[r][c], scale);
      if (r == c) continue;
      const auto pair = [&](const std::vector<std::vector<double>>& m) {
        return 0.5 * (m[r][r] + m[c][c]) - m[r][c];
      };
      e.pairs[r][c] = e.pairs[c][r] = relative(pair(coarse), pair(fine), std::fabs(pair(fine)));
    }
  }
  return e;
}

void appendResolutionWarnings(const MatrixErrors& errors, const std::string& symbol, double limit,
                              const std::string& advice, std::vector<std::string>& warnings,
                              const std::string& part) {
  const std::size_t n = errors.entries.size();
  const auto warn = [&](const std::string& entry, double estimate) {
    if (!(estimate > limit)) return;
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.0e", estimate);
    warnings.push_back("Warning: " + part + entry + " is resolved to about " + figure + " only; " +
                       advice);
  };
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = r; c < n; ++c) {
      const std::string rc = "[" + std::to_string(r + 1) + "," + std::to_string(c + 1) + "]";
      warn(symbol + rc, errors.entries[r][c]);
    }
  }
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t c = r + 1; c < n; ++c) {
      const std::string i = std::to_string(r + 1);
      const std::string j = std::to_string(c + 1);
      warn("(" + symbol + "[" + i + "," + i + "] + " + symbol + "[" + j + "," + j + "])/2 - " +
               symbol + "[" + i + "," + j + "]",
           errors.pairs[r][c]);
    }
  }
}

}  // namespace qbr
