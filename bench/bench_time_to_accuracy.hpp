#pragma once

#include <string>

namespace qbr::bench {

// The input text of the gallery's microstrip in `material` ("lambda 0.09", "patch 0 nc 58"),
// on graded or even grids whose counts are the base counts times `factor`.
std::string microstripText(const std::string& material, bool graded, double factor);

// Least time to a relative error of 1e-3 ... 1e-6 in L (and R) on the microstrip of the
// gallery, superconducting and copper at 10 GHz, on even and graded grids: every grid of a
// family timed (best of `repeat`) and compared with the extrapolated reference. Prints a
// table per case; returns 0. `reference` instead extrapolates the references from the
// finest graded grids; grids finer than `maxFactor` are left out.
int runTimeToAccuracy(int repeat, bool reference, double maxFactor = 24.0);

}  // namespace qbr::bench
