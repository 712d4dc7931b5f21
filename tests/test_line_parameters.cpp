// The capacitance and the line parameters against closed forms computed here: the coax,
// a wire over the ideal ground plane and a lone wire (the references of the potentials),
// the identity L_ext C = mu0 eps, a stripline against its conformal map, a wide
// superconducting microstrip against Chang's and Swihart's forms, and the modes of
// coupled lines against their even and odd halves.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>
#include <string>

#include "base/run_io.hpp"
#include "bem/capacitance.hpp"
#include "bem/line_parameters.hpp"
#include "prep/grids.hpp"
#include "prep/setup.hpp"
#include "qbr/qbr.hpp"
#include "support/coax_reference.hpp"

namespace qbr {
namespace {

using reference::kMu0Full;
using reference::kPiFull;
using Cd = std::complex<double>;

constexpr double kEps0 = 8.8541878128e-12;

Result solveText(const std::string& input) {
  SolveOptions options;
  options.gridCheck = false;
  return solve(Model::fromText(input), options);
}

// The electrostatic problem alone, on the model's grids.
Electrostatics staticsOf(const std::string& input, double permittivityRelative) {
  ProblemModel model = Model::fromText(input).tables();
  std::ostringstream sink;
  RunIo io{sink, sink, nullptr};
  setUpModel(model, io);
  buildGrids(model, io);
  return solveElectrostatics(model, permittivityRelative);
}

double capacitance(const Result& r, int i = 0, int j = 0) {
  return r.line->capacitanceFPerM(i, j);
}

// A superconducting coax with a penetration depth 1e-6 of the wire radius: its
// inductance is the exterior one to about 1e-6. The potential references: conductor 0
// (the coax), the ideal ground plane (a wire at height h over it: image charge of the
// opposite sign) and, without either, the circle of one length unit round a lone wire.
TEST(LineParameters, CapacitanceOfRoundConductorsAndTheIdentityLextCEqualsMuEps) {
  const double epsR = 2.5;
  const double eps = kEps0 * epsR;
  const std::string material = "frequency 10 ghz\nlambda 1e-6\npermittivity 2.5";
  const Result coax =
      solveText(reference::coaxInput("um", material, 1.0, 1.0, 3.0, 4.0, 200, 300, 300));
  ASSERT_TRUE(coax.line);
  const double c = capacitance(coax);
  EXPECT_NEAR(c / (2 * kPiFull * eps / std::log(3.0)), 1.0, 1e-4);
  const double l = coax.inductanceHPerM(0, 0);
  EXPECT_NEAR(l * c / (kMu0Full * eps), 1.0, 1e-4);
  EXPECT_TRUE(coax.line->lossless);
  EXPECT_NEAR(coax.line->characteristicImpedanceOhm(0, 0).real(), std::sqrt(l / c),
              1e-9 * std::sqrt(l / c));
  EXPECT_NEAR(coax.line->modalVelocityMPerS[0] * std::sqrt(l * c), 1.0, 1e-12);

  const Result overPlane =
      solveText(material + "\nsymmetry on\nlengthunit um\nel 2 1 0 5 1 + 0 200\n");
  EXPECT_NEAR(capacitance(overPlane) / (2 * kPiFull * eps / std::acosh(5.0)), 1.0, 1e-4);

  // ln(1/a) with a = 0.5 length units; in millimetres the same wire is another line.
  const Result alone = solveText(material + "\nlengthunit um\nel 2 1 0 0 0.5 + 0 200\n");
  EXPECT_NEAR(capacitance(alone) / (2 * kPiFull * eps / std::log(2.0)), 1.0, 1e-4);
  EXPECT_FALSE(alone.hasReturnConductor);
}

// A strip of width w and no thickness midway between two ground planes b apart (here
// 1e-5 thick, the planes 12 b wide, the field at their ends e^-17 of that under the
// strip). The conformal map of the cross-section onto a parallel-plate capacitor gives
// C = 4 eps K(k') / K(k), k = sech(pi w / 2b), k' = tanh(pi w / 2b) (the stripline of
// Cohn, 1954); K by the arithmetic-geometric mean.
double ellipticK(double k) {
  double a = 1.0;
  double b = std::sqrt(1.0 - k * k);
  while (std::fabs(a - b) > 1e-15 * a) {
    const double mean = 0.5 * (a + b);
    b = std::sqrt(a * b);
    a = mean;
  }
  return kPiFull / (2.0 * a);
}

TEST(LineParameters, StriplineMatchesItsConformalMap) {
  const Electrostatics r = staticsOf(
      "lengthunit um\nlambda 0.09\n"
      "rect -6 6 0.5 1 0 0 500 20\nrect -6 6 -1 -0.5 0 0 500 20\n"
      "rect -0.5 0.5 -0.000005 0.000005 1 0 500 3\n",
      1.0);
  const double x = kPiFull * 1.0 / 2.0;
  const double closedForm = 4 * kEps0 * ellipticK(std::tanh(x)) / ellipticK(1.0 / std::cosh(x));
  // Measured: -1.5e-4, the grid at the strip's edges and its thickness.
  EXPECT_NEAR(r.capacitanceFPerM(0, 0) / closedForm, 1.0, 5e-4);
}

// A superconducting strip of width w and thickness t at height h over a ground plane.
// Swihart's parallel-plate line (J. Appl. Phys. 32, 461, 1961) slows the wave by the
// kinetic inductance of the strip, L = mu0 h / w (1 + (lambda / h) coth(t / lambda)), and
// Chang (J. Appl. Phys. 50, 8129, 1979) widens it by the fringe factor K of a thick strip
// over a plane: C = eps w K / h, L divided by K. Here w = 10 h and t = 5.6 lambda, where
// the forms apply (a wide strip, the current on the face towards the ground); the ground
// is the ideal plane of `symmetry on`, without kinetic inductance of its own.
double changFringeFactor(double w, double h, double t) {
  const double b = 1.0 + t / h;
  const double p = 2 * b * b - 1 + 2 * b * std::sqrt(b * b - 1);
  const double sp = std::sqrt(p);
  const double eta =
      sp * (kPiFull * w / (2 * h) + (p + 1) / (2 * sp) * (1 + std::log(4 / (p - 1))) -
            2 * std::atanh(1 / sp));
  const double rb = eta + (p + 1) / 2 * std::log(std::max(eta, p));  // w / h >= 5
  const double lnRa =
      -1 - kPiFull * w / (2 * h) - (p + 1) / sp * std::atanh(1 / sp) - std::log((p - 1) / (4 * p));
  return 2 * h / (kPiFull * w) * (std::log(2 * rb) - lnRa);
}

TEST(LineParameters, WideSuperconductingMicrostripMatchesChangAndSwihart) {
  const double w = 10.0, h = 1.0, t = 0.5, lambda = 0.09, epsR = 3.9;
  const Result r = solveText(
      "lengthunit um\nfrequency 10 ghz\nlambda 0.09\nsymmetry on\npermittivity 3.9\n"
      "rect -5 5 1 1.5 1 0 500 50\n");
  const double k = changFringeFactor(w, h, t);
  const double l = kMu0Full * h / (w * k) * (1 + lambda / h / std::tanh(t / lambda));
  const double c = kEps0 * epsR * w * k / h;
  // Measured: C 0.16 %, Z0 0.05 %, velocity 0.2 % from the forms.
  EXPECT_NEAR(capacitance(r) / c, 1.0, 5e-3);
  EXPECT_NEAR(r.line->characteristicImpedanceOhm(0, 0).real() / std::sqrt(l / c), 1.0, 5e-3);
  EXPECT_NEAR(r.line->modalVelocityMPerS[0] * std::sqrt(l * c), 1.0, 5e-3);
}

// Two equal copper wires over the ground plane with a lossy dielectric: the even and odd
// modes of a symmetric pair are those of the 1 x 1 lines Z11 +- Z12, Y11 +- Y12, so the
// modal solution of the 2 x 2 matrices must give their gamma and Z0. With tan(delta) the
// conductance is omega tan(delta) C. The result with its line parameters reads back from
// JSON to the same bits.
TEST(LineParameters, ModesOfASymmetricLossyPairAreItsEvenAndOddHalves) {
  const Result r = solveText(
      "lengthunit um\nfrequency 1 ghz\npatch 0 nc 58\nsymmetry on\npermittivity 4.3\n"
      "losstangent 0.02\nel 2 1 -3 4 1 + 0 100\nel 2 2 3 4 1 + 0 100\n");
  ASSERT_TRUE(r.line);
  const LineParameters& p = *r.line;
  EXPECT_FALSE(p.lossless);
  const double omega = r.omegaRadPerS;
  EXPECT_DOUBLE_EQ(p.conductanceSPerM(0, 1), omega * 0.02 * p.capacitanceFPerM(0, 1));
  const Cd j(0.0, 1.0);
  const auto z = [&](int a, int b) { return r.impedanceOhmPerM(a, b); };
  const auto y = [&](int a, int b) {
    return p.conductanceSPerM(a, b) + j * omega * p.capacitanceFPerM(a, b);
  };
  const Cd even = std::sqrt((z(0, 0) + z(0, 1)) * (y(0, 0) + y(0, 1)));
  const Cd odd = std::sqrt((z(0, 0) - z(0, 1)) * (y(0, 0) - y(0, 1)));
  ASSERT_EQ(p.modalPropagationPerM.size(), 2u);
  // The faster mode comes first, whichever it is.
  const bool evenFirst = even.imag() < odd.imag();
  EXPECT_LT(std::abs(p.modalPropagationPerM[evenFirst ? 0 : 1] / even - 1.0), 1e-9);
  EXPECT_LT(std::abs(p.modalPropagationPerM[evenFirst ? 1 : 0] / odd - 1.0), 1e-9);
  EXPECT_NEAR(p.modalAttenuationNpPerM[evenFirst ? 0 : 1], even.real(), 1e-9 * even.real());
  const Cd zEven = std::sqrt((z(0, 0) + z(0, 1)) / (y(0, 0) + y(0, 1)));
  const Cd zOdd = std::sqrt((z(0, 0) - z(0, 1)) / (y(0, 0) - y(0, 1)));
  const Matrix<Cd>& zc = p.characteristicImpedanceOhm;
  EXPECT_LT(std::abs((zc(0, 0) + zc(0, 1)) / zEven - 1.0), 1e-9);
  EXPECT_LT(std::abs((zc(0, 0) - zc(0, 1)) / zOdd - 1.0), 1e-9);
  EXPECT_GT(p.modalAttenuationNpPerM[0], 0.0);

  EXPECT_EQ(Result::fromJson(r.toJson()), r);

  // The four-port of 1 cm of the pair is the sum and difference of the two-ports of its
  // even and odd lines: S11 = G (1 - E^2) / (1 - G^2 E^2), S21 = E (1 - G^2) / (1 - G^2 E^2),
  // G = (Zm - 50) / (Zm + 50), E = exp(-gamma l).
  Matrix<Cd> zz(2, 2), yy(2, 2);
  for (int a = 0; a < 2; ++a)
    for (int b = 0; b < 2; ++b) {
      zz(a, b) = z(a, b);
      yy(a, b) = y(a, b);
    }
  const Matrix<Cd> s = lineScattering(zz, yy, 0.01, 50.0);
  const auto twoPort = [](Cd zm, Cd gamma) {
    const Cd g = (zm - 50.0) / (zm + 50.0);
    const Cd e = std::exp(-gamma * 0.01);
    const Cd d = 1.0 - g * g * e * e;
    return std::pair<Cd, Cd>{g * (1.0 - e * e) / d, e * (1.0 - g * g) / d};
  };
  const auto [evenS11, evenS21] = twoPort(zEven, even);
  const auto [oddS11, oddS21] = twoPort(zOdd, odd);
  EXPECT_LT(std::abs(s(0, 0) - 0.5 * (evenS11 + oddS11)), 1e-9);
  EXPECT_LT(std::abs(s(1, 0) - 0.5 * (evenS11 - oddS11)), 1e-9);
  EXPECT_LT(std::abs(s(2, 0) - 0.5 * (evenS21 + oddS21)), 1e-9);
  EXPECT_LT(std::abs(s(3, 0) - 0.5 * (evenS21 - oddS21)), 1e-9);
  EXPECT_LT(std::abs(s(3, 2) - s(1, 0)), 1e-9) << "the far ends see the pair from the other side";
  // The public face gives the same matrix; a sample at 0 Hz is refused.
  const Matrix<Cd> fromApi = scattering({r.frequencyHz, zz, yy}, 0.01, 50.0);
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 4; ++b) EXPECT_EQ(fromApi(a, b), s(a, b));
  EXPECT_THROW(scattering({0.0, zz, yy}, 0.01, 50.0), Error);

  // Touchstone: a four-port, the rows of S on lines of four entries, one block per result.
  const std::string text = touchstone({r, r}, 0.01);
  EXPECT_NE(text.find("\n# Hz S RI R 50\n"), std::string::npos) << text;
  std::istringstream data(text.substr(text.find("# Hz")));
  std::string header;
  std::getline(data, header);
  int numbers = 0;
  for (double v; data >> v;) ++numbers;
  EXPECT_EQ(numbers, 2 * (1 + 2 * 16));
}

}  // namespace
}  // namespace qbr
