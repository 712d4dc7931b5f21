#pragma once

#include "base/run_io.hpp"
#include "qbr/result.hpp"

namespace qbr {

// The surface roughness after the inductance or impedance report (which includes it), to
// the console and the run log alike: every patch that dissipates with its model, skin
// depth and factor K in SI units, then the resistance without roughness and each patch's
// share of it, upper triangle, in ohm/m times 1e6 as the impedance report prints R.
void reportRoughness(const RoughnessLosses& losses, double frequencyHz, RunIo& io);

}  // namespace qbr
