// The panel discretisation: its cylinder functions and its logarithmic product rule
// against closed forms, and whole solves against the node grids' references and
// reciprocity.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "base/run_io.hpp"
#include "bem/panels.hpp"
#include "prep/setup.hpp"
#include "qbr/qbr.hpp"

namespace qbr {
namespace {

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
    const PanelSolution s = solveOnPanels(prepared(microstrip("lambda 0.09")), panelLevel(3));
    EXPECT_TRUE(s.real);
    EXPECT_NEAR(s.matrix(1, 1).real() / 0.168766031, 1.0, 4e-6);
  }
  {
    const ProblemModel model = prepared(microstrip("patch 0 nc 58"));
    const PanelSolution s = solveOnPanels(model, panelLevel(3));
    EXPECT_FALSE(s.real);
    EXPECT_NEAR(s.matrix(1, 1).real() / 0.269663066, 1.0, 9e-6);
    EXPECT_NEAR(-model.omega * s.matrix(1, 1).imag() * 1e-6 / 54450.7213, 1.0, 9e-6);
  }
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

TEST(PanelSolve, RefusesCircles) {
  const ProblemModel model = prepared("lambda 0.05\nel 2 1 0 0 0.5 + 0 20\n");
  EXPECT_THROW(solveOnPanels(model, panelLevel(0)), std::invalid_argument);
}

}  // namespace
}  // namespace qbr
