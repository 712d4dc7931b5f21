#include "qbr/synthesis.hpp"

#include <algorithm>
#include <boost/math/tools/toms748_solve.hpp>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>

#include "qbr/error.hpp"
#include "qbr/solve.hpp"

namespace qbr {

namespace {

std::string shortNumber(double value) {
  std::ostringstream text;
  text.precision(6);
  text << value;
  return text.str();
}

// Ends the root finder from its stopping test once a solve has reached the tolerance.
struct Reached {};

}  // namespace

const std::vector<std::string>& lineQuantityNames() {
  static const std::vector<std::string> names = {"Z0",    "Zdiff", "Zcommon",
                                                 "Zeven", "Zodd",  "eps_eff"};
  return names;
}

double lineQuantity(const Result& result, const std::string& name) {
  bool known = false;
  for (const std::string& n : lineQuantityNames()) known = known || n == name;
  if (!known) {
    std::string list;
    for (const std::string& n : lineQuantityNames()) list += (list.empty() ? "" : ", ") + n;
    throw Error("\nUnknown line quantity " + name + ": one of " + list + ";\n");
  }
  if (!result.line) {
    throw Error("\n" + name +
                " needs the line parameters: give the permittivity of the dielectric or its "
                "regions;\n");
  }
  if (name == "Z0") return result.line->characteristicImpedanceOhm(0, 0).real();
  const LineDetails details = lineDetails(result);
  if (name == "eps_eff") return details.modalEffectivePermittivity.at(0);
  if (!details.pair) throw Error("\n" + name + " needs two signal conductors;\n");
  if (name == "Zdiff") return details.differentialOhm.real();
  if (name == "Zcommon") return details.commonOhm.real();
  if (name == "Zeven") return details.evenOhm.real();
  return details.oddOhm.real();
}

SynthesisOutcome synthesize(const std::function<double(double)>& quantityAt, double target,
                            double low, double high, const SynthesisOptions& options) {
  if (!(low > 0.0 && low < high && std::isfinite(high))) {
    throw Error("\nThe range of a synthesis must be positive and rising: low " + shortNumber(low) +
                ", high " + shortNumber(high) + ";\n");
  }
  if (!(options.tolerance > 0.0) || options.maxSolves < 3) {
    throw Error("\nA synthesis needs a tolerance above 0 and at least three solves;\n");
  }
  SynthesisOutcome outcome;
  const double allowed = options.tolerance * std::abs(target);
  auto residual = [&](double value) {
    const SynthesisStep step{value, quantityAt(value)};
    outcome.steps.push_back(step);
    if (options.onStep) options.onStep(step);
    const double miss = std::abs(step.quantity - target);
    const SynthesisStep& best = outcome.steps[outcome.best];
    if (miss < std::abs(best.quantity - target)) {
      outcome.best = static_cast<int>(outcome.steps.size()) - 1;
    }
    return step.quantity - target;
  };
  const double fLow = residual(low);
  const double fHigh = residual(high);
  if (fLow * fHigh > 0.0) {
    const std::string& p = options.parameterName;
    const std::string& q = options.quantityName;
    throw Error("\nThe target " + q + " = " + shortNumber(target) +
                " is not between the ends of the range: " + p + " = " + shortNumber(low) +
                " gives " + q + " = " + shortNumber(outcome.steps[0].quantity) + ", " + p + " = " +
                shortNumber(high) + " gives " + q + " = " + shortNumber(outcome.steps[1].quantity) +
                "; widen the range;\n");
  }
  auto withinTolerance = [&] {
    return std::abs(outcome.steps[outcome.best].quantity - target) <= allowed;
  };
  // The root finder works on u = ln(value).
  auto inner = [&](double u) {
    const double f = residual(std::exp(u));
    if (withinTolerance()) throw Reached{};
    return f;
  };
  auto bracketClosed = [](double a, double b) {
    return std::abs(b - a) <= 1e-12 * std::max(std::abs(a), 1.0);
  };
  if (!withinTolerance()) {
    std::uintmax_t solves = static_cast<std::uintmax_t>(options.maxSolves - 2);
    try {
      boost::math::tools::toms748_solve(inner, std::log(low), std::log(high), fLow, fHigh,
                                        bracketClosed, solves);
    } catch (const Reached&) {
    }
  }
  const SynthesisStep& best = outcome.steps[outcome.best];
  outcome.value = best.value;
  outcome.achieved = best.quantity;
  outcome.converged = withinTolerance();
  // The slope from the nearest other step, as d quantity / d value.
  double slope = 0.0;
  double nearest = std::numeric_limits<double>::infinity();
  for (const SynthesisStep& step : outcome.steps) {
    const double distance = std::abs(step.value - best.value);
    if (distance > 0.0 && distance < nearest) {
      nearest = distance;
      slope = (step.quantity - best.quantity) / (step.value - best.value);
    }
  }
  outcome.parameterError = slope != 0.0 ? std::abs(best.quantity - target) / std::abs(slope) : 0.0;
  return outcome;
}

}  // namespace qbr
