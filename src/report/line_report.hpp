#pragma once

#include "base/run_io.hpp"
#include "qbr/result.hpp"

namespace qbr {

// The line parameters after the inductance or impedance report, to the console and the
// run log alike: the capacitance matrix in pF/m (and G in S/m with a loss tangent), then
// Z0, phase velocity, delay (and attenuation) of one line, or the modes and the
// characteristic impedance matrix of coupled lines. `reference` says what the potentials
// are measured against when there is no conductor 0 ("" with conductor 0).
void reportLineParameters(const LineParameters& line, double frequencyHz,
                          const std::string& reference, RunIo& io);

// The block of a cross-section with dielectric regions: its header names them, and beside
// the parameters above it gives C0, the effective permittivities, the attenuation's
// parts, the external and internal (kinetic) inductances and, for a pair, the even, odd,
// differential and common impedances and the crosstalk coefficients.
void reportLineParameters(const LineParameters& line, double frequencyHz,
                          const std::string& reference, RunIo& io, const LineDetails& details);

}  // namespace qbr
