#include "prep/model_checks.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "driver/fatal_stop.hpp"

namespace qbr {

namespace {

bool isFinite(Complex z) {
  return std::isfinite(z.real()) && std::isfinite(z.imag());
}

// Why the patch's wave number cannot be used, or an empty string when it can.
std::string waveNumberFault(const ProblemModel& model, std::int32_t patch) {
  const std::string name = "\nPatch " + std::to_string(patch);
  // The set-up computes k only for patches below patchCount; one above that has no
  // "patch" line, so its k was never computed (and with its initial lambda 0 it would
  // not be usable anyway).
  if (patch < 0 || patch >= model.patchCount || patch >= kMaxPatches) {
    return name + " has no usable wave number: give it a positive lambda or sigma;\n";
  }
  const MaterialPatch& p = model.patches[static_cast<std::size_t>(patch)];
  // Every patch starts as a superconductor without lambda, so a model that gives only
  // "sigma" lands here too.
  if (p.superconducting && p.lambda == 0.0 && p.sigma > 0.0) {
    return name +
           " is a superconductor with lambda 0: give it a positive lambda, or make it "
           "a normal conductor with a \"patch " +
           std::to_string(patch) + " nc\" line;\n";
  }
  if (p.superconducting && p.lambda == 0.0) {
    return name + " has no usable wave number: give it a positive lambda or sigma;\n";
  }
  if (!isFinite(p.k)) {
    return name +
           " has a wave number that is not finite: its lambda is too small, or its sigma, mu "
           "or the frequency too large;\n";
  }
  if (p.k != Complex(0.0, 0.0)) return {};
  // A normal metal at zero frequency carries no eddy currents: the interior equation
  // degenerates.
  if (!p.superconducting && p.sigma > 0.0 && model.omega == 0.0) {
    return name + " is a normal conductor and needs a positive frequency;\n";
  }
  return name + " has no usable wave number: give it a positive lambda or sigma;\n";
}

}  // namespace

void checkModelIsSolvable(const ProblemModel& model) {
  const std::int32_t reported = std::min(model.conductorCount, kMaxConductorNumber);
  for (std::int32_t c = 1; c <= reported; ++c) {
    if (model.conductors[static_cast<std::size_t>(c)].n_memb == 0) {
      fatalStop("\nConductor " + std::to_string(c) + " has no boundary elements;\n");
    }
  }

  bool found = false;
  std::int32_t lowest = 0;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const std::int32_t patch = model.elements[static_cast<std::size_t>(e)].patch;
    if (!waveNumberFault(model, patch).empty() && (!found || patch < lowest)) {
      found = true;
      lowest = patch;
    }
  }
  if (found) fatalStop(waveNumberFault(model, lowest));

  // The impedance report gives L = X / omega, and at zero frequency every X is 0.
  if (!model.phaseVariables && !(model.omega > 0.0)) {
    fatalStop("\nThe impedance matrix needs a positive frequency;\n");
  }
}

}  // namespace qbr
