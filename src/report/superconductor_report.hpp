#pragma once

#include "base/run_io.hpp"
#include "qbr/result.hpp"

namespace qbr {

// The superconductors given by their transition temperature, after the other reports, to
// the console and the run log alike: each patch at the run's temperature and frequency
// (gap, lambda_eff, sigma1, sigma2 and its surface impedance, SI units), then per
// conductor L, L_ext, L_k = L - L_ext and alpha = L_k / L in pH/um, and the conductor Q.
void reportSuperconductors(const SuperconductorReport& report, double frequencyHz, RunIo& io);

}  // namespace qbr
