#pragma once

// The cross-sections at the ends of the range, with their references: a copper PCB
// microstrip far below the skin effect (its direct-current values), a superconducting
// coax whose inner conductor is a tube far thinner than the penetration depth, a copper
// tube wall far thinner than the skin depth, and a 5 nm superconducting film. Header only,
// shared by the physics tests and the accuracy tool.

#include <cmath>
#include <cstdio>
#include <string>

#include "support/bar_reference.hpp"
#include "support/coax_reference.hpp"

namespace qbr::reference {

// A 200 x 35 um copper trace 100 um above a 2 mm x 35 um copper ground, 1,266 nodes, in
// the impedance report.
inline std::string pcbMicrostripInput(double frequency) {
  char input[1024];
  std::snprintf(input, sizeof input,
                "frequency %.17g hz\nvariables impedance\npatch 0 nc 58\n"
                "el 0 0 -1000 -35 -300 -35 0 100\nel 0 0 -300 -35 300 -35 0 100\n"
                "el 0 0 300 -35 1000 -35 0 100\nel 0 0 1000 -35 1000 0 0 20\n"
                "el 0 0 1000 0 300 0 0 100\nel 0 0 300 0 -300 0 0 400\n"
                "el 0 0 -300 0 -1000 0 0 100\nel 0 0 -1000 0 -1000 -35 0 20\n"
                "rect -100 100 100 135 1 0 400 100\n",
                frequency);
  return input;
}

// Its uniform-current values: R in ohm/m times 1e6, L in pH/um.
struct DirectCurrent {
  double resistance;
  double inductance;
};
inline DirectCurrent pcbMicrostripDirectCurrent() {
  const Bar strip{-100.0, 100.0, 100.0, 135.0};
  const Bar ground{-1000.0, 1000.0, -35.0, 0.0};
  const double sigma = 58e6;  // S/m; areas in um^2
  return {(1.0 / strip.area() + 1.0 / ground.area()) / sigma * 1e12 * 1e6,
          directCurrentInductance(strip, ground)};
}

// A superconducting coax (penetration depth lambda, um) whose inner conductor is a tube of
// outer radius 1 um and the given wall, the return a tube from 3 to 4 um; n nodes per circle.
inline std::string hollowScCoaxInput(double lambda, double wall, int n) {
  char input[512];
  std::snprintf(input, sizeof input,
                "frequency 10 ghz\npatch 0 sc 0 %.17g\npt 0 0 0\ncircle 1 0 1 + 0 %d\n"
                "circle 1 0 %.17g - 0 %d\ncircle 0 0 3 - 0 %d\ncircle 0 0 4 + 0 %d\n",
                lambda, n, 1.0 - wall, n, n, n);
  return input;
}
inline double hollowScCoaxInductance(double lambda, double wall) {
  const Cd k2 = -1.0 / (lambda * lambda);
  const Cd jOmegaMu{0.0, 1.0};  // per unit of omega mu0
  return 0.2 * std::log(3.0) + ((hollowWireImpedance(k2, jOmegaMu, 1.0 - wall, 1.0) +
                                 tubeImpedance(k2, jOmegaMu, 3.0, 4.0)) /
                                jOmegaMu)
                                       .real() *
                                   0.4 * kPiFull;
}

// A copper tube 0.2 um thick on a 100 um radius carrying the current, the return a tube from
// 300 to 400 um, at 1 GHz (skin depth 2.1 um), 200 nodes per circle; impedance in ohm/m
// times 1e6.
inline std::string copperTubeWallInput() {
  return "frequency 1 ghz\nvariables impedance\npatch 0 nc 58\npt 0 0 0\n"
         "circle 1 0 100 + 0 200\ncircle 1 0 99.8 - 0 200\ncircle 0 0 300 - 0 200\n"
         "circle 0 0 400 + 0 200\n";
}
inline Cd copperTubeWallImpedance() {
  const double omega = 2.0 * kPiFull * 1e9;
  const Cd jOmegaMu{0.0, omega * kMu0Full};
  const Cd k2 = -jOmegaMu * 58e6;
  return (hollowWireImpedance(k2, jOmegaMu, 99.8e-6, 100e-6) +
          tubeImpedance(k2, jOmegaMu, 300e-6, 400e-6) + jOmegaMu / (2 * kPiFull) * std::log(3.0)) *
         1e6;
}

// A 5 nm superconducting film 2 um wide (lambda 0.4 um) 0.2 um above a thick ground
// (lambda 0.05 um), n nodes across; its kinetic inductance mu0 lambda^2 / (w t) in pH/um is
// a lower bound of L.
inline std::string thinFilmInput(int n, const std::string& extra = "") {
  char input[256];
  std::snprintf(input, sizeof input,
                "%spatch 0 sc 0 0.05\npatch 1 sc 0 0.4\nrect -5 5 -1 0 0 0 400 40\n"
                "rect -1 1 0.2 0.205 1 1 %d 3\n",
                extra.c_str(), n);
  return input;
}
inline constexpr double kThinFilmKineticInductance = 0.4 * kPiFull * 0.4 * 0.4 / (2.0 * 0.005);

}  // namespace qbr::reference
