// Whole computations checked against closed-form physics: coaxial lines of normal
// metal over frequency and of superconductor, and the independence of the result from
// the length unit. The references are computed here from the formulas, never from the
// program's own output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "model/conductor_matrix.hpp"
#include "qbr/qbr.hpp"
#include "support/bar_reference.hpp"
#include "support/coax_reference.hpp"
#include "support/test_support.hpp"
#include "support/trust_models.hpp"

namespace qbr {
namespace {

using reference::Cd;
using reference::coaxInput;
using reference::kMu0Full;
using reference::kPiFull;
using reference::normalCoaxImpedance;
using reference::superconductingCoaxInductance;
using reference::tubeImpedance;
using reference::wireImpedance;

// Solves an input text through the library and returns the conductor matrix as printed.
// The physics is checked against closed forms here; the grid's own error estimate has
// its tests below.
ConductorMatrix compute(const std::string& input) {
  SolveOptions options;
  options.gridCheck = false;
  const Result result = solve(Model::fromText(input), options);
  ConductorMatrix m(result.conductors);
  for (int r = 1; r <= m.size(); ++r) {
    for (int c = 1; c <= m.size(); ++c) m(r, c) = result.printed(r - 1, c - 1);
  }
  return m;
}

// A superconducting coax: the inductance is the field between the conductors,
// (mu0 / 2 pi) ln(b/a), plus the kinetic and internal inductance of the current layers
// on the wire and inside the tube, in closed form with modified Bessel functions.
TEST(Physics, SuperconductingCoaxMatchesTheLondonSolution) {
  const double lambda = 0.09;
  const double a = 1.0;
  const double b = 3.0;
  const double c = 4.0;
  const reference::ScCoaxInductance london = superconductingCoaxInductance(lambda, a, b, c);
  const double wire = london.wire;
  const double tube = london.tube;
  const double reference = london.total();

  // The same ODE reference, as a check of the test's own two references.
  const Cd k2 = -1.0 / (lambda * lambda);
  const Cd jOmegaMu{0.0, 1.0};  // per unit of omega mu0: inductances in units of mu0
  const double odeWire = (wireImpedance(k2, jOmegaMu, a) / jOmegaMu).real() * 0.4 * kPiFull;
  const double odeTube = (tubeImpedance(k2, jOmegaMu, b, c) / jOmegaMu).real() * 0.4 * kPiFull;
  EXPECT_NEAR(odeWire, wire, 1e-10);
  EXPECT_NEAR(odeTube, tube, 1e-10);

  const std::string sc = "frequency 10 ghz\npatch 0 sc 0 0.09";
  double previousError = 1.0;
  for (int n : {40, 80, 160}) {
    const ConductorMatrix m = compute(coaxInput("um", sc, 1.0, a, b, c, n, 3 * n, 3 * n));
    const double error = std::fabs(m(1, 1).real() / reference - 1.0);
    std::printf(
        "superconducting coax, %d/%d/%d nodes: L = %.9f pH/um, reference %.9f, "
        "relative error %.2e\n",
        n, 3 * n, 3 * n, m(1, 1).real(), reference, error);
    EXPECT_LT(std::fabs(m(1, 1).imag()), 1e-9) << "a lossless line has no resistance";
    // With 40 nodes on the wire they lie 1.75 penetration depths apart and the pieces
    // next to each node are integrated by the graded rule (7.6e-6); from 80 nodes on by
    // the plain rule, whose error falls with the grid (1.2e-5, 5.9e-6).
    if (n == 40) {
      EXPECT_LT(error, 1e-5);
    } else {
      EXPECT_LT(error, previousError) << "the error must shrink with the grid";
      previousError = error;
    }
  }
  EXPECT_LT(previousError, 1e-5);
}

// A copper coax from skin depth far beyond the wire radius (resistance 1/(sigma pi a^2),
// internal inductance mu0/(8 pi) = 0.05 pH/um) to strong skin effect, against the
// exact internal impedances of wire and tube.
TEST(Physics, CopperCoaxImpedanceFollowsTheSkinEffect) {
  const double sigma = 58e6;  // S/m
  const double a = 0.5e-3;    // m
  const double b = 1.75e-3;
  const double c = 2.0e-3;
  struct Case {
    double radiusOverSkinDepth;
    int nodes;
    double tolerance;
  };
  for (const Case& cs :
       {Case{0.2, 60, 1e-4}, Case{1.0, 60, 1e-4}, Case{3.0, 80, 2e-4}, Case{8.0, 160, 2e-4}}) {
    const double delta = a / cs.radiusOverSkinDepth;
    const double omega = 2.0 / (kMu0Full * sigma * delta * delta);
    const double frequency = omega / (2 * kPiFull);
    const Cd reference = normalCoaxImpedance(sigma, omega, a, b, c);

    char material[256];
    std::snprintf(material, sizeof material,
                  "frequency %.17g hz\nconductanceunit s/m\nvariables impedance\npatch 0 nc %.17g",
                  frequency, sigma);
    const ConductorMatrix m =
        compute(coaxInput("mm", material, 1e3, a, b, c, cs.nodes, 3 * cs.nodes, 3 * cs.nodes));
    const Cd z = m(1, 1);
    std::printf(
        "copper coax, a/delta = %g: R = %.7g (reference %.7g), L = %.7g pH/um "
        "(reference %.7g)\n",
        cs.radiusOverSkinDepth, z.real(), reference.real(), z.imag() / omega,
        reference.imag() / omega);
    EXPECT_NEAR(z.real() / reference.real(), 1.0, cs.tolerance)
        << "a/delta " << cs.radiusOverSkinDepth;
    EXPECT_NEAR(z.imag() / reference.imag(), 1.0, cs.tolerance)
        << "a/delta " << cs.radiusOverSkinDepth;
    if (cs.radiusOverSkinDepth < 0.5) {
      // Nearly uniform current: direct-current resistance and the wire's internal
      // inductance mu0 / (8 pi) on top of the field between the conductors.
      const double dcResistance =
          (1.0 / (sigma * kPiFull * a * a) + 1.0 / (sigma * kPiFull * (c * c - b * b))) * 1e6;
      EXPECT_NEAR(z.real() / dcResistance, 1.0, 0.01);
      EXPECT_NEAR(z.imag() / omega - 0.2 * std::log(b / a), 0.05, 0.01);
    }
  }
}

// Far below the skin effect the current is uniform: R is the direct-current resistance and
// L the inductance of the uniform current, which the resistance exceeds by a factor of up
// to 3e9 here (a 1 um copper wire at 1 Hz). The inductance is a small remainder of the
// solution and must not take the discretisation error of the resistive part with it.
TEST(Physics, CopperWireFromOneHertzToOneMegahertz) {
  const double sigma = 58e6;
  for (const double frequency : {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6}) {
    const double omega = 2.0 * kPiFull * frequency;
    const Cd reference = normalCoaxImpedance(sigma, omega, 1e-6, 3e-6, 4e-6);
    char material[160];
    std::snprintf(material, sizeof material,
                  "frequency %.17g hz\nvariables impedance\npatch 0 nc 58", frequency);
    const Cd z = compute(coaxInput("um", material, 1.0, 1.0, 3.0, 4.0, 60, 120, 120))(1, 1);
    EXPECT_NEAR(z.real() / reference.real(), 1.0, 1e-4) << frequency << " Hz";
    EXPECT_NEAR(z.imag() / reference.imag(), 1.0, 1e-3) << frequency << " Hz";
  }
}

// Asked for an accuracy, the same wire from 1 Hz to 100 GHz (its radius 47 skin depths)
// meets the closed form within the tolerance, states so, and its boundary currents add up
// to the ampere it carries (wire) and returns (tube).
TEST(Physics, ACopperCoaxAskedForAnAccuracyMeetsItFromOneHertzTo100Gigahertz) {
  const double sigma = 58e6;
  for (const double frequency : {1.0, 1e6, 1e11}) {
    const double omega = 2.0 * kPiFull * frequency;
    const Cd reference = normalCoaxImpedance(sigma, omega, 1e-6, 3e-6, 4e-6);
    char material[160];
    std::snprintf(material, sizeof material,
                  "frequency %.17g hz\nvariables impedance\npatch 0 nc 58", frequency);
    SolveOptions options;
    options.tolerance = 1e-6;
    const Result r = solve(
        Model::fromText(coaxInput("um", material, 1.0, 1.0, 3.0, 4.0, 60, 120, 120)), options);
    const Cd z = r.printed(0, 0);
    EXPECT_NEAR(z.real() / reference.real(), 1.0, 1e-6) << frequency << " Hz";
    EXPECT_NEAR(z.imag() / reference.imag(), 1.0, 1e-6) << frequency << " Hz";
    EXPECT_LE(r.accuracy->largest(), 1e-6);
    double wire = 0.0, tube = 0.0;
    for (const NodeValue& v : r.excitations.at(0).nodes)
      (v.conductor == 1 ? wire : tube) += (v.currentDensity * v.outlineShareM).real();
    EXPECT_NEAR(wire, 1.0, 1e-9) << frequency << " Hz";
    EXPECT_NEAR(tube, -1.0, 1e-9) << frequency << " Hz";
  }
}

// A copper PCB microstrip, 200 x 35 um over a 2 mm ground of the same thickness: up to
// 1 kHz (skin depth 2 mm) R and L are their direct-current values, from the mean of ln r
// over the bars' cross-sections.
TEST(Physics, PcbMicrostripBelowTheSkinEffectHasItsDirectCurrentValues) {
  using reference::Bar;
  const Bar unitSquare{0.0, 1.0, 0.0, 1.0};
  EXPECT_NEAR(reference::meanLogDistance(unitSquare, unitSquare),
              std::log(2.0) / 3.0 + kPiFull / 3.0 - 25.0 / 12.0, 1e-12);
  const reference::DirectCurrent dc = reference::pcbMicrostripDirectCurrent();
  for (const double frequency : {1.0, 1e1, 1e2, 1e3}) {
    const Cd z = compute(reference::pcbMicrostripInput(frequency))(1, 1);
    const double omega = 2.0 * kPi * frequency;
    EXPECT_NEAR(z.real() / dc.resistance, 1.0, 1e-4) << frequency << " Hz";
    EXPECT_NEAR(z.imag() / omega / dc.inductance, 1.0, 5e-3) << frequency << " Hz";
  }
}

// Strong skin effect: the copper coax of the gallery at 1 and 10 GHz, skin depths of 2.1 and
// 0.66 um against nodes 6 to 25 um apart. The interior kernel dies within a few skin
// depths of each node; the pieces it lives on are integrated by the graded rule.
TEST(Physics, CopperCoaxAtStrongSkinEffect) {
  const double sigma = 58e6;
  for (const double frequency : {1e9, 1e10}) {
    const double omega = 2.0 * kPiFull * frequency;
    const Cd reference = normalCoaxImpedance(sigma, omega, 0.5e-3, 1.75e-3, 2e-3);
    char material[160];
    std::snprintf(material, sizeof material,
                  "frequency %.17g hz\nvariables impedance\npatch 0 nc 58", frequency);
    double previous = 1.0;
    for (const int n : frequency < 5e9 ? std::vector<int>{250} : std::vector<int>{125, 250, 500}) {
      const Cd z = compute(coaxInput("mm", material, 1e3, 0.5e-3, 1.75e-3, 2e-3, n, n, n))(1, 1);
      const double errorR = std::fabs(z.real() / reference.real() - 1.0);
      const double errorL = std::fabs(z.imag() / reference.imag() - 1.0);
      // Measured: 3.6e-6, 1.7e-6 and 7.6e-7 in R and L alike.
      EXPECT_LT(errorR, 1e-5) << frequency << " Hz, " << n << " nodes";
      EXPECT_LT(errorL, 1e-5) << frequency << " Hz, " << n << " nodes";
      EXPECT_LT(errorR, previous) << "the error must fall with the grid";
      previous = errorR;
    }
  }
}

// Walls and films far thinner than the node spacing: the other face of the wall lies
// closer to every node than the pieces are long, and a penetration depth far below the
// spacing keeps its kinetic inductance.
TEST(Physics, ThinWallsAndSmallPenetrationDepths) {
  const double lambda = 0.09;
  // A coax whose inner conductor is a superconducting tube (wall 2% and 1% of lambda),
  // 140 nodes per circle: about 0.5 lambda apart, 25 to 50 wall thicknesses.
  for (const double wall : {0.02 * lambda, 0.01 * lambda}) {
    EXPECT_NEAR(compute(reference::hollowScCoaxInput(lambda, wall, 140))(1, 1).real() /
                    reference::hollowScCoaxInductance(lambda, wall),
                1.0, 1e-4)
        << "wall " << wall;
  }
  // A copper tube 0.2 um thick on a 100 um radius at 1 GHz (skin depth 2.1 um), 200 nodes.
  const Cd tube = reference::copperTubeWallImpedance();
  const Cd z = compute(reference::copperTubeWallInput())(1, 1);
  EXPECT_NEAR(z.real() / tube.real(), 1.0, 1e-4);
  EXPECT_NEAR(z.imag() / tube.imag(), 1.0, 1e-4);
  // A superconducting coax with lambda from a/10 down to a/1e5 (nodes up to 1250 lambda
  // apart): its kinetic inductance, L less the lambda -> 0 limit on the same grid.
  const auto coax = [](double lambda) {
    char material[96];
    std::snprintf(material, sizeof material, "frequency 10 ghz\npatch 0 sc 0 %.17g", lambda);
    return compute(coaxInput("um", material, 1.0, 1.0, 3.0, 4.0, 100, 100, 100))(1, 1).real();
  };
  const double limit = coax(1e-8);
  for (const double ratio : {1e-1, 1e-2, 1e-3, 1e-4, 1e-5}) {
    const reference::ScCoaxInductance london = superconductingCoaxInductance(ratio, 1.0, 3.0, 4.0);
    EXPECT_NEAR((coax(ratio) - limit) / (london.wire + london.tube), 1.0, 1e-2) << ratio;
  }
  // A 5 nm film, 2 um wide, lambda 0.4 um (kinetic inductance mu0 lambda^2 / (w t) =
  // 20.106 pH/um, a lower bound of L), 0.2 um above a thick ground: 40 film thicknesses
  // between nodes at 10 nodes across (before: -7.4 pH/um at 20 nodes). What remains is the
  // grid's error at the film's edges, first order in the spacing.
  const auto film = [](int n) { return compute(reference::thinFilmInput(n))(1, 1).real(); };
  const double fine = film(200);
  double previous = 1.0;
  for (const int n : {10, 20, 50}) {
    const double l = film(n);
    const double error = std::fabs(l / fine - 1.0);
    // Measured: -0.92%, -0.44%, -0.13% against 200 nodes (-0.94%, -0.45%, -0.15% against
    // the extrapolated value).
    EXPECT_LT(error, previous) << n;
    EXPECT_LT(error, n == 10 ? 1e-2 : 5e-3) << n;
    if (n > 10) {
      EXPECT_GT(l, reference::kThinFilmKineticInductance) << n;
    }
    previous = error;
  }
}

// A printed number is right to about 1% or the run says so. The grid's error is estimated
// by Richardson's rule on the run's grid and grids with 1/sqrt(2) and sqrt(2) times its
// nodes: on a superconducting microstrip refined from 5.5 penetration depths along the
// strip (1.2% below the converged 0.168759 pH/um) the estimate is never below a third of
// the true error, and warns where that is about 1% (the two coarsest grids; the coarsest has
// ground nodes 11 penetration depths apart, caught by the rule for unresolved fields). A copper PCB
// microstrip at 100 GHz, nodes 0.5 um apart against a skin depth of 0.21 um, warns on R.
// And at 1e-6 Hz a 1 um wire's inductance is refused: it is within rounding of its
// resistance.
TEST(Physics, UnresolvedResultsAreReported) {
  const auto microstrip = [](int m) {
    char input[256];
    std::snprintf(input, sizeof input,
                  "frequency 10 ghz\nlambda 0.09\nrect -10 10 -0.2 0 0 0 %d %d\n"
                  "rect -1 1 0.2 0.4 1 0 %d %d\n",
                  20 * m, 3 * m, 4 * m, 3 * m);
    return solve(Model::fromText(input));
  };
  for (int m : {1, 2, 4, 8}) {
    const Result r = microstrip(m);
    const double error = std::fabs(r.inductanceHPerM(0, 0) * 1e6 / 0.168759 - 1.0);
    ASSERT_TRUE(r.accuracy.has_value());
    const double estimate = r.accuracy->inductance(0, 0);
    EXPECT_GE(estimate, error / 3.0) << m;
    EXPECT_LE(estimate, std::max(3.0 * error, 1e-3)) << m;
    EXPECT_EQ(r.warnings.empty(), m >= 4) << m;
    if (m == 1) {
      EXPECT_NE(r.warnings[0].find("lie 11 penetration depths apart"), std::string::npos)
          << r.warnings[0];
    }
  }
  const std::vector<std::string> pcb =
      solve(Model::fromText("frequency 100 ghz\nvariables impedance\npatch 0 nc 58\n"
                            "el 0 0 -1000 -35 -300 -35 0 100\nel 0 0 -300 -35 300 -35 0 100\n"
                            "el 0 0 300 -35 1000 -35 0 100\nel 0 0 1000 -35 1000 0 0 20\n"
                            "el 0 0 1000 0 300 0 0 100\nel 0 0 300 0 -300 0 0 400\n"
                            "el 0 0 -300 0 -1000 0 0 100\nel 0 0 -1000 0 -1000 -35 0 20\n"
                            "rect -100 100 100 135 1 0 400 100\n"))
          .warnings;
  ASSERT_FALSE(pcb.empty());
  EXPECT_NE(pcb.back().find("R[1,1] is resolved to about "), std::string::npos) << pcb.back();
  try {
    compute(coaxInput("um", "frequency 1e-6 hz\nvariables impedance\npatch 0 nc 58", 1.0, 1.0, 3.0,
                      4.0, 60, 120, 120));
    ADD_FAILURE() << "an inductance lost in rounding was reported";
  } catch (const Error& error) {
    EXPECT_NE(error.message().find("is lost in rounding"), std::string::npos);
  }
}

// Graded grids (nodes clustered toward corners, the pieces next to every node integrated
// with their logarithm taken out): the superconducting coax, which has no corners, is
// within 1e-6 of the London solution with 10 nodes on the wire (3e-5 on the even grid); the
// superconducting microstrip of the gallery converges at about second order (its error
// 3.0e-4, 1.0e-4, 3.0e-5 at 306, 612 and 1,224 nodes, against 1.6e-3, 5.6e-4, 1.9e-4 on
// even grids of the same counts).
TEST(Physics, GradedGridsConvergeFaster) {
  const reference::ScCoaxInductance london = superconductingCoaxInductance(0.09, 1.0, 3.0, 4.0);
  const std::string sc = "frequency 10 ghz\npatch 0 sc 0 0.09";
  const double graded =
      compute(coaxInput("um", sc, 1.0, 1.0, 3.0, 4.0, 10, 30, 30, "grid graded\n"))(1, 1).real();
  const double even = compute(coaxInput("um", sc, 1.0, 1.0, 3.0, 4.0, 10, 30, 30))(1, 1).real();
  EXPECT_LT(std::fabs(graded / london.total() - 1.0), 1e-6);
  EXPECT_GT(std::fabs(even / london.total() - 1.0), 1e-5);

  const auto microstrip = [](int m) {
    char input[1024];
    std::snprintf(input, sizeof input,
                  "grid graded\nfrequency 10 ghz\nlambda 0.09\n"
                  "el 0 0 -10 -0.2 10 -0.2 0 %d\nel 0 0 10 -0.2 10 0 0 %d\n"
                  "el 0 0 10 0 2 0 0 %d\nel 0 0 2 0 -2 0 0 %d\nel 0 0 -2 0 -10 0 0 %d\n"
                  "el 0 0 -10 0 -10 -0.2 0 %d\nrect -1 1 0.2 0.4 1 0 %d %d\n",
                  25 * m, 2 * m, 20 * m, 40 * m, 20 * m, 2 * m, 20 * m, 2 * m);
    return compute(input)(1, 1).real();
  };
  // The copper coax at a skin depth of a third of the wire radius: doubling the nodes on a
  // graded grid divides the error by about 10 (order 3.6), on the even grid by far less.
  const double a = 0.5e-3, omega = 2.0 / (kMu0Full * 58e6 * std::pow(a / 3.0, 2));
  const Cd exact = normalCoaxImpedance(58e6, omega, a, 1.75e-3, 2e-3);
  char material[200];
  std::snprintf(material, sizeof material,
                "frequency %.17g hz\nconductanceunit s/m\nvariables impedance\npatch 0 nc 58e6",
                omega / (2 * kPiFull));
  const auto coaxError = [&](int n) {
    const Cd z = compute(
        coaxInput("mm", material, 1e3, a, 1.75e-3, 2e-3, n, 3 * n, 3 * n, "grid graded\n"))(1, 1);
    return std::max(std::fabs(z.real() / exact.real() - 1.0),
                    std::fabs(z.imag() / exact.imag() - 1.0));
  };
  const double e20 = coaxError(20), e40 = coaxError(40);
  EXPECT_GT(e20 / e40, 4.0) << e20 << " " << e40;  // second order or better

  const double l2 = microstrip(2), l4 = microstrip(4), l8 = microstrip(8);
  // Successive changes falling by 2.8 or more: an order of 1.5 or better.
  EXPECT_GT((l4 - l2) / (l8 - l4), 2.8) << l2 << " " << l4 << " " << l8;
  EXPECT_NEAR(l8 / 0.168766, 1.0, 6e-5);
}

// The same structure with its return conductor, written in um, mm and m (coordinates,
// radii and lambda scaled), gives the same matrix: with a return conductor nothing
// depends on the length unit.
TEST(Physics, ResultDoesNotDependOnTheLengthUnit) {
  const auto input = [](const std::string& unit, double scale) {
    char material[128];
    std::snprintf(material, sizeof material, "frequency 1 ghz\npatch 0 sc 0 %.17g", 0.09 * scale);
    return coaxInput(unit, material, scale, 1.0, 3.0, 4.0, 30, 60, 60);
  };
  const Cd inMicrometres = compute(input("um", 1.0))(1, 1);
  const Cd inMillimetres = compute(input("mm", 1e-3))(1, 1);
  const Cd inMetres = compute(input("m", 1e-6))(1, 1);
  EXPECT_NEAR(inMillimetres.real() / inMicrometres.real(), 1.0, 1e-9);
  EXPECT_NEAR(inMetres.real() / inMicrometres.real(), 1.0, 1e-9);
}

}  // namespace
}  // namespace qbr
