#pragma once

namespace qbr::bench {

// The cost of dielectric regions against the same work without them, measured in the
// same run: the electrostatics per unknown, a whole solve, and a sweep of 40 frequencies
// (best of `repeat` for the first two). Prints the times and their ratios; returns 0.
int runDielectrics(int repeat);

}  // namespace qbr::bench
