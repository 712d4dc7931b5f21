#pragma once

#include <functional>
#include <string>
#include <vector>

#include "qbr/result.hpp"

namespace qbr {

// The line quantities a synthesis can aim at, by the names the line report uses: "Z0" (Re
// Zc11), "Zdiff" and "Zcommon" (2 Z_odd and Z_even / 2 of two signal conductors), "Zeven",
// "Zodd" (their real parts, ohm) and "eps_eff" (of the fastest mode).
const std::vector<std::string>& lineQuantityNames();

// The quantity `name` of a result. Throws qbr::Error for a name not in
// lineQuantityNames(), a result without line parameters (no permittivity or dielectric
// regions in its model), and a pair quantity of a line without two signal conductors.
double lineQuantity(const Result& result, const std::string& name);

// One solve of a synthesis: the parameter and the quantity there.
struct SynthesisStep {
  double value = 0.0;
  double quantity = 0.0;
};

struct SynthesisOutcome {
  double value = 0.0;     // the parameter of the step closest to the target
  double achieved = 0.0;  // the quantity there
  // |achieved - target| over the local slope of the quantity against the parameter: how
  // far `value` may be from the exact root.
  double parameterError = 0.0;
  bool converged = false;            // |achieved - target| <= tolerance |target|
  std::vector<SynthesisStep> steps;  // in the order solved
  int best = 0;                      // the index of that step
};

struct SynthesisOptions {
  double tolerance = 1e-3;  // relative to the target
  int maxSolves = 30;       // the two ends included
  // The names the messages give the parameter and the quantity.
  std::string parameterName = "the parameter";
  std::string quantityName = "the quantity";
  // Hears of each solve as it is done (may be empty).
  std::function<void(const SynthesisStep&)> onStep;
};

// The value of a parameter between `low` and `high` (0 < low < high) at which
// `quantityAt(value)` (a solve and lineQuantity, say) reaches `target` within the
// tolerance: TOMS 748 (bracketing, as Brent's method, with cubic inverse interpolation) on
// the logarithm of the parameter, on which impedances depend nearly linearly; it stops at
// the first solve within the tolerance. The two ends are solved first; when the target is
// not between their quantities qbr::Error names both.
SynthesisOutcome synthesize(const std::function<double(double)>& quantityAt, double target,
                            double low, double high, const SynthesisOptions& options = {});

}  // namespace qbr
