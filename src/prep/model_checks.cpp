#include "prep/model_checks.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "driver/fatal_stop.hpp"

namespace qbr {

namespace {

bool usableWaveNumber(const ProblemModel& model, std::int32_t patch) {
  // The set-up computes k only for patches below patchCount; one above that has no
  // "patch" line, so its k was never computed (and with its initial lambda 0 it would
  // not be usable anyway).
  if (patch < 0 || patch >= model.patchCount || patch >= kMaxPatches) return false;
  const Complex k = model.patches[static_cast<std::size_t>(patch)].k;
  return std::isfinite(k.real()) && std::isfinite(k.imag()) && k != Complex(0.0, 0.0);
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
    if (!usableWaveNumber(model, patch) && (!found || patch < lowest)) {
      found = true;
      lowest = patch;
    }
  }
  if (found) {
    fatalStop("\nPatch " + std::to_string(lowest) +
              " has no usable wave number: give it a positive lambda or sigma;\n");
  }
}

}  // namespace qbr
