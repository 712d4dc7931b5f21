#pragma once

#include <complex>
#include <cstdint>

namespace qbr {

using Complex = std::complex<double>;

// The program's pi: ten decimals, used wherever the computation needs pi (angular
// frequency, circle geometry, free terms, output scaling). Only the cylinder
// functions use full-precision 2/pi and pi/4.
inline constexpr double kPi = 3.1415926536;
inline constexpr double kTwoPi = kPi + kPi;
// Vacuum permeability in H/m.
inline constexpr double kMu0 = 4e-7 * kPi;
// One absolute threshold for coincident points, zero lengths, guarded logarithms
// and pivots.
inline constexpr double kTiny = 1e-7;
inline constexpr Complex kJ{0.0, 1.0};

// Capacities of the model tables.
inline constexpr int kMaxPoints = 1000;
inline constexpr int kMaxElements = 200;
inline constexpr int kMaxPatches = 32;
inline constexpr int kMaxConductorNumber = 5;
inline constexpr int kMaxLayers = 10;
inline constexpr int kMaxDielectricLayers = 32;
inline constexpr int kMaxPolylineVertices = 100;
inline constexpr int kMinGridCount = 3;
inline constexpr int kMaxGridCount = 500;
inline constexpr int kMaxFileNameLength = 255;

}  // namespace qbr
