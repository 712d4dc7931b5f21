#pragma once

namespace qbr::bench {

// Least time to a relative error of 1e-3 ... 1e-6 in L (and R) on the microstrip of the
// gallery, superconducting and copper at 10 GHz, on even and graded grids: every grid of a
// family timed (best of `repeat`) and compared with the extrapolated reference. Prints a
// table per case; returns 0. `reference` instead extrapolates the references from the
// finest graded grids; grids finer than `maxFactor` are left out.
int runTimeToAccuracy(int repeat, bool reference, double maxFactor = 24.0);

}  // namespace qbr::bench
