// The panel discretisation: its cylinder functions, its logarithmic product rule and its
// near-field rules against closed forms; whole solves against closed forms (coax, bars at
// low frequency), the node grids' references, reciprocity and the mirror.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "base/run_io.hpp"
#include "bem/panels.hpp"
#include "prep/setup.hpp"
#include "qbr/qbr.hpp"
#include "support/bar_reference.hpp"
#include "support/coax_reference.hpp"

namespace qbr {
namespace {

double kPiFull() {
  return std::acos(-1.0);
}

// K0(w) and K1(w) as the integrals over t > 0 of exp(-w cosh t) (cosh t)^n, Re w > 0: the
// trapezoid rule of a doubly-exponentially decaying analytic integrand, exact to rounding.
Complex kIntegral(Complex w, int n) {
  const double h = 0.02;
  Complex sum = 0.5 * std::exp(-w);
  for (int i = 1; w.real() * std::cosh(i * h) < 750.0; ++i) {
    const double c = std::cosh(i * h);
    sum += std::exp(-w * c) * (n == 0 ? 1.0 : c);
  }
  return sum * h;
}

TEST(PanelKernels, BesselKMatchesIntegralsAndLibraryOnAndOffTheRealAxis) {
  // Arguments of a superconductor (real), a metal (45 degrees) and beyond, across the
  // switches between series, continued fraction, table and expansion (|w| = 2, 17).
  for (double angle : {0.0, 0.5, 0.7853981633974483, 0.9}) {
    for (double r = 0.01; r < 60.0; r *= 1.13) {
      const Complex w = std::polar(r, angle);
      const BesselK01 k = besselK01(w);
      EXPECT_LT(std::abs(k.k0 / kIntegral(w, 0) - 1.0), 2e-14) << w;
      EXPECT_LT(std::abs(k.k1 / kIntegral(w, 1) - 1.0), 2e-14) << w;
      if (angle == 0.0) {
        EXPECT_NEAR(k.k0.real() / std::cyl_bessel_k(0.0, r), 1.0, 1e-14) << r;
        EXPECT_NEAR(k.k1.real() / std::cyl_bessel_k(1.0, r), 1.0, 1e-14) << r;
      }
    }
  }
}

TEST(PanelKernels, EndLogarithmRuleIsExactForPolynomials) {
  // The integral over [-1, 1] of ln(1 + x) (1 + x)^k is 2^(k+1) (ln 2/(k+1) - 1/(k+1)^2);
  // the plain rule integrates (1 + x)^k to 2^(k+1)/(k+1).
  for (int n : {4, 9, 16}) {
    std::vector<double> x, w;
    gaussLegendre(n, x, w);
    const std::vector<double> weights = logEndWeights(n);
    for (int k = 0; k < n; ++k) {
      double plain = 0.0, logarithmic = 0.0;
      for (std::size_t m = 0; m < x.size(); ++m) {
        plain += w[m] * std::pow(1.0 + x[m], k);
        logarithmic += weights[m] * std::pow(1.0 + x[m], k);
      }
      const double scale = std::pow(2.0, k + 1);
      EXPECT_NEAR(plain, scale / (k + 1), 1e-14 * scale);
      EXPECT_NEAR(logarithmic, scale * (std::log(2.0) / (k + 1) - 1.0 / ((k + 1) * (k + 1))),
                  1e-13 * scale)
          << "n " << n << " k " << k;
    }
  }
}

double sum(const std::vector<double>& v) {
  double s = 0.0;
  for (double x : v) s += x;
  return s;
}

Complex sum(const std::vector<Complex>& v) {
  Complex s = 0.0;
  for (Complex x : v) s += x;
  return s;
}

TEST(PanelKernels, LogarithmOnAndNearAPanelMatchesClosedForms) {
  // Panel from (-1, 0) to (1, 0), normal (0, 1). With u = s - x0, the antiderivative of
  // ln(u^2 + d^2) is u ln(u^2 + d^2) - 2u + 2d atan(u/d), that of u ln(u^2 + d^2) is
  // ((u^2 + d^2) ln(u^2 + d^2) - u^2)/2; d/(u^2 + d^2) integrates to atan(u/d).
  const double x0 = 0.3;
  const double lo = -1.0 - x0, hi = 1.0 - x0;
  for (int order : {6, 16}) {
    for (double d : {0.5, 1e-2, 1e-5}) {
      const PanelWeights w = panelWeights({-1.0, 0.0}, {1.0, 0.0}, order, {x0, d}, {0.0, 1.0});
      const auto f0 = [d](double u) {
        return u * std::log(u * u + d * d) - 2.0 * u + 2.0 * d * std::atan(u / d);
      };
      const auto f1 = [d](double u) {
        return 0.5 * ((u * u + d * d) * std::log(u * u + d * d) - u * u);
      };
      EXPECT_NEAR(sum(w.laplaceSingle), -0.5 * (f0(hi) - f0(lo)), 1e-13) << order << " " << d;
      // The density s: the basis reproduces it exactly.
      std::vector<double> x, gw;
      gaussLegendre(order, x, gw);
      double moment = 0.0;
      for (int j = 0; j < order; ++j) moment += w.laplaceSingle[j] * x[j];
      EXPECT_NEAR(moment, -0.5 * (f1(hi) - f1(lo) + x0 * (f0(hi) - f0(lo))), 1e-13);
      EXPECT_NEAR(sum(w.laplaceDouble), std::atan(hi / d) - std::atan(lo / d), 1e-12);
    }
    // On the panel: the integral of -ln|s - x0| over [-1, 1], no double layer.
    const PanelWeights on = panelWeights({-1.0, 0.0}, {1.0, 0.0}, order, {x0, 0.0}, {0.0, 1.0});
    EXPECT_NEAR(sum(on.laplaceSingle),
                -((1.0 - x0) * std::log(1.0 - x0) + (1.0 + x0) * std::log(1.0 + x0) - 2.0), 1e-13);
    EXPECT_EQ(sum(on.laplaceDouble), 0.0);
  }
}

TEST(PanelKernels, InteriorKernelOnLongPanelsMatchesTheLineIntegral) {
  // Over an infinite line at distance d, K0(kappa r) integrates to (pi/kappa) e^(-kappa d)
  // and its normal derivative to pi e^(-kappa d). A panel 100 field depths long, the
  // target on it or just off it: a superconductor (kappa = 1/lambda) and a metal
  // (kappa = (1 + j)/delta).
  for (Complex k : {Complex(0.0, 20.0), Complex(20.0, -20.0)}) {
    const Complex kappa =
        k.imag() > 0.0 ? Complex(k.imag(), -k.real()) : Complex(-k.imag(), k.real());
    for (double d : {0.0, 1e-4, 0.03}) {
      const PanelWeights w = panelWeights({-2.5, 0.0}, {2.5, 0.0}, 12, {0.123, d}, k);
      const Complex single = kPiFull() / kappa * std::exp(-kappa * d);
      EXPECT_LT(std::abs(sum(w.interiorSingle) / single - 1.0), 1e-12) << k << " " << d;
      if (d > 0.0) {
        const Complex dbl = kPiFull() * std::exp(-kappa * d);
        EXPECT_LT(std::abs(sum(w.interiorDouble) / dbl - 1.0), 1e-12) << k << " " << d;
      }
    }
  }
}

ProblemModel prepared(const std::string& text) {
  ProblemModel model = Model::fromText(text).tables();
  std::ostringstream console, log;
  RunIo io{console, log, nullptr};
  setUpModel(model, io);
  return model;
}

// The gallery's microstrip: a strip 2 x 0.2 um 0.2 um above a ground 20 x 0.2 um.
std::string microstrip(const std::string& material) {
  return "frequency 10 ghz\n" + material +
         "\nel 0 0 -10 -0.2 10 -0.2 0 10\nel 0 0 10 -0.2 10 0 0 2\nel 0 0 10 0 -10 0 0 10\n"
         "el 0 0 -10 0 -10 -0.2 0 2\nrect -1 1 0.2 0.4 1 0 10 2\n";
}

TEST(PanelSolve, MicrostripsAgreeWithTheNodeGridReferences) {
  // References extrapolated from graded node grids, with their uncertainty.
  {
    // Run to a tolerance: two levels within 1e-6 of each other.
    const PanelRun run = solveOnPanelsTo(prepared(microstrip("lambda 0.09")), 1e-6);
    EXPECT_TRUE(run.met);
    EXPECT_LE(run.estimate, 1e-6);
    EXPECT_TRUE(run.solution.real);
    EXPECT_NEAR(run.solution.matrix(1, 1).real() / 0.168766031, 1.0, 4e-6);
  }
  {
    const ProblemModel model = prepared(microstrip("patch 0 nc 58"));
    const PanelSolution s = solveOnPanels(model, panelLevel(3));
    EXPECT_FALSE(s.real);
    EXPECT_NEAR(s.matrix(1, 1).real() / 0.269663066, 1.0, 9e-6);
    EXPECT_NEAR(-model.omega * s.matrix(1, 1).imag() * 1e-6 / 54450.7213, 1.0, 9e-6);
  }
}

TEST(PanelSolve, RoundWireOverAGroundStripConvergesWithoutCorners) {
  // Nothing but the gap grades the ground under the wire: levels 1, 2 and 4 within 1e-5
  // and 1e-9 of each other.
  const ProblemModel model =
      prepared("lambda 0.09\npt 0 0 0.7\nrect -10 10 -0.2 0 0 0 10 2\ncircle 1 0 0.5 + 0 40\n");
  const double l1 = solveOnPanels(model, panelLevel(1)).matrix(1, 1).real();
  const double l2 = solveOnPanels(model, panelLevel(2)).matrix(1, 1).real();
  const double l4 = solveOnPanels(model, panelLevel(4)).matrix(1, 1).real();
  EXPECT_NEAR(l1 / l4, 1.0, 1e-5);
  EXPECT_NEAR(l2 / l4, 1.0, 1e-9);
}

TEST(PanelSolve, CoaxialLinesOnArcsMatchTheirClosedForms) {
  // Wire radius 0.5 um, tube 1 to 1.5 um: superconducting (lambda 0.1 um, London
  // inductance from I0, I1, K0, K1) and copper at 1 GHz (Z from the radial field
  // equation). Both within a few 1e-12 (the program's ten-digit pi is 7e-12 off).
  const ProblemModel sc =
      prepared(reference::coaxInput("um", "lambda 0.1", 1.0, 0.5, 1.0, 1.5, 0, 0, 0));
  const reference::ScCoaxInductance l =
      reference::superconductingCoaxInductance(0.1, 0.5, 1.0, 1.5);
  const PanelSolution s = solveOnPanels(sc, panelLevel(2));
  EXPECT_NEAR(s.matrix(1, 1).real() / (l.external + l.wire + l.tube), 1.0, 1e-10);
  // The current spreads evenly over the wire (1 A over 2 pi a) and the tube's bore.
  for (const NodeValue& v : s.excitations.front().nodes) {
    const double radius = std::hypot(v.x, v.y);
    if (radius < 1.2) {
      EXPECT_NEAR(v.currentDensity.real() * 2.0 * kPiFull() * radius * 1e-6,
                  radius < 0.7 ? 1.0 : -1.0, 1e-10);
    }
  }
  const ProblemModel cu = prepared(reference::coaxInput(
      "um", "frequency 1 ghz\npatch 0 nc 58\nvariables impedance", 1.0, 0.5, 1.0, 1.5, 0, 0, 0));
  const reference::Cd z = reference::normalCoaxImpedance(58e6, cu.omega, 0.5e-6, 1e-6, 1.5e-6);
  const PanelSolution c = solveOnPanels(cu, panelLevel(2));
  EXPECT_NEAR(c.matrix(1, 1).real() / z.real(), 1.0, 1e-10);
  EXPECT_NEAR(c.matrix(1, 1).imag() / z.imag(), 1.0, 1e-10);
}

TEST(PanelSolve, CopperBarsAtLowFrequencyHaveTheDirectCurrentLineParameters) {
  // Copper bars 2 x 0.2 um over 6 x 0.2 um at 1 kHz (skin depth 2 mm): uniform current, so
  // L is the closed form of the bars' mean log distances and R = 1/(sigma A1) + 1/(sigma A2).
  // L is the real part of a constant whose imaginary part is 4e7 times larger here.
  const ProblemModel model = prepared(
      "frequency 1 khz\npatch 0 nc 58\nrect -1 1 0.2 0.4 1 0 10 2\nrect -3 3 -0.4 -0.2 0 0 10 2\n");
  const PanelSolution s = solveOnPanels(model, panelLevel(3));
  const double inductance =
      reference::directCurrentInductance({-1.0, 1.0, 0.2, 0.4}, {-3.0, 3.0, -0.4, -0.2});
  const double resistance = 1.0 / (58e6 * 0.4e-12) + 1.0 / (58e6 * 1.2e-12);
  EXPECT_NEAR(s.matrix(1, 1).real() / inductance, 1.0, 5e-8);
  EXPECT_NEAR(-model.omega * s.matrix(1, 1).imag() * 1e-6 / resistance, 1.0, 1e-9);
}

TEST(PanelSolve, TwoStripsWithoutReturnAreReciprocalAndMirrorSymmetric) {
  // Two superconducting strips side by side, no return conductor: L12 = L21 by
  // reciprocity (the discretisation does not impose it) and L11 = L22 by the mirror.
  const ProblemModel model =
      prepared("lambda 0.05\nrect -2 -0.5 0 0.3 1 0 10 2\nrect 0.5 2 0 0.3 2 0 10 2\n");
  const PanelSolution s = solveOnPanels(model, panelLevel(3));
  ASSERT_EQ(s.matrix.size(), 2);
  EXPECT_NEAR(s.matrix(1, 2).real() / s.matrix(2, 1).real(), 1.0, 1e-8);
  EXPECT_NEAR(s.matrix(1, 1).real() / s.matrix(2, 2).real(), 1.0, 1e-8);
}

TEST(PanelSolve, MirrorHalvesTheLineOfAStripAndItsImage) {
  // A strip above the mirror y = 0 (odd image, no return conductor) against the strip and
  // its mirror image carrying the return current: the field is odd, the image's constant
  // is minus the strip's, so the full line has twice the inductance of the half.
  const std::string strip = "lambda 0.09\nrect -1 1 0.2 0.4 1 0 10 2\n";
  const PanelSolution full =
      solveOnPanels(prepared(strip + "rect -1 1 -0.4 -0.2 0 0 10 2\n"), panelLevel(3));
  const PanelSolution half = solveOnPanels(prepared("symmetry on\n" + strip), panelLevel(3));
  EXPECT_NEAR(full.matrix(1, 1).real() / (2.0 * half.matrix(1, 1).real()), 1.0, 1e-9);
}

TEST(PanelSolve, CurvesAgreeWithLinesWhereStraightAndConvergeWhereCurved) {
  // A strip over a ground whose top is a quadratic curve: through three points on a line
  // it is the line (the panels and their Jacobian coincide); bulging 0.2 um, levels 3 and 4
  // agree within 2e-9.
  const std::string ground = "lambda 0.09\nrect -10 10 -0.2 0 0 0 10 2\n";
  const std::string sides =
      "el 0 1 -1 0.2 1 0.2 0 10\nel 0 1 1 0.2 1 0.4 0 2\nel 0 1 -1 0.4 -1 0.2 0 2\n";
  const double line =
      solveOnPanels(prepared(ground + "rect -1 1 0.2 0.4 1 0 10 2\n"), panelLevel(2))
          .matrix(1, 1)
          .real();
  const double straight =
      solveOnPanels(prepared(ground + sides + "el 1 1 1 0.4 0 0.4 -1 0.4 0 10\n"), panelLevel(2))
          .matrix(1, 1)
          .real();
  EXPECT_NEAR(straight / line, 1.0, 1e-11);
  const ProblemModel bump = prepared(ground + sides + "el 1 1 1 0.4 0 0.6 -1 0.4 0 10\n");
  const double l3 = solveOnPanels(bump, panelLevel(3)).matrix(1, 1).real();
  const double l4 = solveOnPanels(bump, panelLevel(4)).matrix(1, 1).real();
  EXPECT_NEAR(l3 / l4, 1.0, 2e-9);
  EXPECT_LT(l4, line);  // more metal carrying the current: less kinetic inductance
}

}  // namespace
}  // namespace qbr
