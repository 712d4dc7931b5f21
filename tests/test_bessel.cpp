#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "bem/bessel.hpp"
#include "bem/bessel_tables.hpp"
#include "bem/hankel.hpp"

namespace qbr {
namespace {

constexpr double kPiExact = 3.14159265358979323846;

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
bool sameBits(Complex a, Complex b) {
  return sameBits(a.real(), b.real()) && sameBits(a.imag(), b.imag());
}

std::string show(Complex z) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "(%.17g, %.17g)", z.real(), z.imag());
  return buffer;
}

// ---------------------------------------------------------------------------------------
// Independent oracle: integral representations, evaluated by the trapezoidal rule. No
// code or coefficient is shared with the implementation.

// J_n(z) = (1/2pi) integral over a full period of cos(n t - z sin t); the trapezoidal rule
// on a periodic analytic integrand converges geometrically.
Complex oracleJ(int n, Complex z) {
  constexpr int kPoints = 512;
  Complex sum{0.0, 0.0};
  for (int k = 0; k < kPoints; ++k) {
    const double t = 2.0 * kPiExact * k / kPoints;
    sum += std::cos(static_cast<double>(n) * t - z * std::sin(t));
  }
  return sum / static_cast<double>(kPoints);
}

// K_n(x) = integral_0^inf exp(-x cosh t) cosh(n t) dt for Re x > 0. The integrand is
// analytic in the strip |Im t| < pi/2 - |arg x|, so the trapezoidal rule with a step well
// inside that width is accurate to rounding.
Complex oracleK(int n, Complex x) {
  const double strip = 0.5 * kPiExact - std::abs(std::arg(x));
  const double step = 2.0 * kPiExact * (0.8 * strip) / 48.0;
  const double end = std::acosh(1.0 + 60.0 / x.real());
  Complex sum = 0.5 * std::exp(-x);
  for (double t = step; t <= end; t += step) sum += std::exp(-x * std::cosh(t)) * std::cosh(n * t);
  return sum * step;
}

// The Hankel function that decays away from the real axis: H(1) for Im z > 0, H(2) for
// Im z < 0, from K_n of -iz or iz.
Complex oracleDecayingHankel(int n, Complex z) {
  const Complex j{0.0, 1.0};
  const Complex twoOverPiJ = 2.0 / (kPiExact * j);
  if (z.imag() > 0.0) return twoOverPiJ * std::pow(-j, n) * oracleK(n, -j * z);
  return -twoOverPiJ * std::pow(j, n) * oracleK(n, j * z);
}

// Y_n from J_n and the decaying Hankel function (Im z != 0).
Complex oracleY(int n, Complex z) {
  const Complex j{0.0, 1.0};
  const Complex jn = oracleJ(n, z);
  const Complex h = oracleDecayingHankel(n, z);
  return z.imag() > 0.0 ? -j * (h - jn) : -j * (jn - h);
}

// Size of the cylinder functions at z: e^|Im z| / sqrt(|z|) in the large, 1 in the small.
double envelope(Complex z) {
  return std::exp(std::abs(z.imag())) * std::sqrt(2.0 / (kPiExact * std::max(std::abs(z), 1.0)));
}

// Error relative to the value, or to the envelope where the value is near a zero.
double scaledError(Complex value, Complex reference, Complex z) {
  return std::abs(value - reference) / std::max(std::abs(reference), envelope(z));
}

TEST(BesselOracle, ReproducesStandardLibraryOnItsOwn) {
  for (double x : {0.3, 1.0, 5.0, 12.0, 19.5}) {
    for (int n : {0, 1}) {
      EXPECT_NEAR(oracleJ(n, x).real(), std::cyl_bessel_j(n, x), 1e-14) << n << " " << x;
      const double k = std::cyl_bessel_k(n, x);
      EXPECT_NEAR(oracleK(n, x).real() / k, 1.0, 1e-13) << n << " " << x;
      // J_n(iy) = i^n I_n(y)
      const Complex jImag = oracleJ(n, Complex{0.0, x});
      const Complex expected = std::pow(Complex{0.0, 1.0}, n) * std::cyl_bessel_i(n, x);
      EXPECT_LT(std::abs(jImag - expected) / std::abs(expected), 1e-14) << n << " " << x;
    }
  }
}

// ---------------------------------------------------------------------------------------

struct Tabulated {
  const char* name;
  Complex (*function)(Complex);
  Complex z;
  Complex expected;
  double tolerance;
};

TEST(Bessel, MatchesTabulatedValues) {
  const Complex kelvinArgument = std::polar(2.0, 3.0 * kPiExact / 4.0);
  const Tabulated cases[] = {
      {"J0(1)", besselJ0, 1.0, 0.7651976866, 1e-10},
      {"Y0(1)", besselY0, 1.0, 0.0882569642, 1e-10},
      {"J1(1)", besselJ1, 1.0, 0.4400505857, 1e-10},
      {"Y1(1)", besselY1, 1.0, -0.7812128213, 1e-10},
      {"J0(10)", besselJ0, 10.0, -0.2459357645, 1e-10},
      {"Y0(10)", besselY0, 10.0, 0.0556711673, 1e-10},
      {"ber 2 + i bei 2", besselJ0, kelvinArgument, {0.7517341827, 0.9722916273}, 1e-10},
      {"J0(3+3i)", besselJ0, {3.0, 3.0}, {-3.3665008292, -2.0954292210}, 1e-10},
      {"Y0(3+3i)", besselY0, {3.0, 3.0}, {2.1138131628, -3.3621343652}, 1e-10},
      {"J0(6+6i)", besselJ0, {6.0, 6.0}, {43.152433698, 35.415082908}, 1e-9},
  };
  for (const Tabulated& c : cases) {
    const Complex value = c.function(c.z);
    EXPECT_NEAR(value.real(), c.expected.real(), c.tolerance) << c.name;
    EXPECT_NEAR(value.imag(), c.expected.imag(), c.tolerance) << c.name;
  }
  // Real arguments give real results up to rounding.
  EXPECT_LT(std::abs(besselY0(10.0).imag()), 1e-16);
  EXPECT_LT(std::abs(besselJ1(10.0).imag()), 1e-16);
}

TEST(Bessel, ValuesAtTheOrigin) {
  EXPECT_EQ(besselJ0({0.0, 0.0}), Complex(1.0, 0.0));
  EXPECT_EQ(besselJ1({0.0, 0.0}), Complex(0.0, 0.0));
  // z = 0 lies outside the domain of Y: log 0 and 1/0 make it non-finite.
  EXPECT_FALSE(std::isfinite(std::abs(besselY0({0.0, 0.0}))));
  EXPECT_FALSE(std::isfinite(std::abs(besselY1({0.0, 0.0}))));
}

TEST(Bessel, AsymptoticFactorsStartFromTheirLimits) {
  // P -> 1, Q -> -1/(8z) for order 0 and 3/(8z) for order 1 as z grows.
  const Complex z{3.0e4, -2.0e4};
  const AsymptoticPQ pq0 = asymptoticPQ0(z);
  const AsymptoticPQ pq1 = asymptoticPQ1(z);
  EXPECT_NEAR(std::abs(pq0.P - 1.0), 0.0, 1e-9);
  EXPECT_NEAR(std::abs(pq1.P - 1.0), 0.0, 1e-9);
  EXPECT_LT(std::abs(pq0.Q / (-1.0 / (8.0 * z)) - 1.0), 1e-7);
  EXPECT_LT(std::abs(pq1.Q / (3.0 / (8.0 * z)) - 1.0), 1e-7);
}

// The asymptotic form rebuilt from the public P and Q, for telling the branches apart.
Complex asymptoticJ0(Complex z) {
  const AsymptoticPQ pq = asymptoticPQ0(z);
  const Complex x = z - 0.7853981633974483;
  return std::sqrt(0.6366197723675814 / z) * (pq.P * std::cos(x) - pq.Q * std::sin(x));
}

TEST(Bessel, SwitchesToTheAsymptoticFormJustBeyondModulusEight) {
  const double above = std::nextafter(8.0, 9.0);
  for (Complex onCircle :
       {Complex{8.0, 0.0}, Complex{0.0, 8.0}, Complex{0.0, -8.0}, Complex{-8.0, 0.0}}) {
    const Complex beyond = onCircle * (above / 8.0);
    ASSERT_GT(std::abs(beyond), 8.0);
    // Just beyond: the asymptotic form, reproduced to rounding.
    EXPECT_LT(std::abs(besselJ0(beyond) - asymptoticJ0(beyond)) / std::abs(asymptoticJ0(beyond)),
              1e-14)
        << show(onCircle);
  }
  // On the circle itself the small form: on the imaginary axis it differs from the
  // asymptotic one in the seventh digit, on the positive real axis the two agree closely.
  for (Complex onAxis : {Complex{0.0, 8.0}, Complex{0.0, -8.0}}) {
    const double gap = std::abs(besselJ0(onAxis) / asymptoticJ0(onAxis) - 1.0);
    EXPECT_GT(gap, 1e-8) << show(onAxis);
    EXPECT_LT(gap, 1e-6) << show(onAxis);
  }
  EXPECT_LT(std::abs(besselJ0(8.0) / asymptoticJ0(8.0) - 1.0), 1e-9);
  // On the negative real axis only the small form is right: J0 is even.
  const Complex minusEight{-8.0, 0.0};
  EXPECT_NEAR(besselJ0(minusEight).real(), std::cyl_bessel_j(0.0, 8.0), 1e-14);
  EXPECT_GT(std::abs(asymptoticJ0(minusEight).real() - std::cyl_bessel_j(0.0, 8.0)), 0.1);
}

TEST(Hankel, DecayedKindIsExactlyZeroBeyondTheCutOff) {
  const Complex zero{0.0, 0.0};
  const Complex below{1.0, -21.0};
  const Complex above{1.0, 21.0};
  EXPECT_TRUE(sameBits(hankel0Second(below), zero));
  EXPECT_TRUE(sameBits(hankel1Second(below), zero));
  EXPECT_TRUE(sameBits(hankelSecondPair(below).h0, zero));
  EXPECT_TRUE(sameBits(hankelSecondPair(below).h1, zero));
  EXPECT_TRUE(sameBits(hankel0First(above), zero));
  EXPECT_TRUE(sameBits(hankel1First(above), zero));
  EXPECT_TRUE(sameBits(hankelFirstPair(above).h0, zero));
  EXPECT_TRUE(sameBits(hankelFirstPair(above).h1, zero));
  // Just past 20 is cut, exactly 20 is still evaluated.
  EXPECT_TRUE(sameBits(hankel0Second({1.0, std::nextafter(-20.0, -21.0)}), zero));
  EXPECT_TRUE(sameBits(hankel0First({1.0, std::nextafter(20.0, 21.0)}), zero));
  // Exactly 20 is evaluated as J -+ jY. In double precision cosh 20 == sinh 20, so the
  // evaluated value there cancels to 0 as well; just inside the cut-off it does not.
  const Complex j{0.0, 1.0};
  for (double re : {1.0, -3.0, 12.0}) {
    const Complex edgeBelow{re, -20.0};
    const Complex edgeAbove{re, 20.0};
    EXPECT_EQ(hankel0Second(edgeBelow), besselJ0(edgeBelow) - j * besselY0(edgeBelow));
    EXPECT_EQ(hankel1Second(edgeBelow), besselJ1(edgeBelow) - j * besselY1(edgeBelow));
    EXPECT_EQ(hankel0First(edgeAbove), besselJ0(edgeAbove) + j * besselY0(edgeAbove));
    EXPECT_EQ(hankel1First(edgeAbove), besselJ1(edgeAbove) + j * besselY1(edgeAbove));
    EXPECT_NE(hankel0Second({re, -17.0}), zero);
    EXPECT_NE(hankel1First({re, 17.0}), zero);
  }
  // The growing kind of the other half-plane is never cut.
  EXPECT_GT(std::abs(hankel0First(below)), 1e6);
  EXPECT_GT(std::abs(hankel1Second(above)), 1e6);
}

// ---------------------------------------------------------------------------------------
// Accuracy against the oracle. Wave numbers of normal metals have arg -pi/4, those of
// superconductors lie on the positive imaginary axis or, with losses, between -pi/4 and
// -pi/2; k r keeps that argument. The Bessel functions are checked all around, the
// decaying Hankel functions on the rays the fill uses.

struct RegionError {
  std::string name;
  double worst = 0.0;
  Complex worstAt{0.0, 0.0};
  void add(double error, Complex z) {
    if (error > worst) {
      worst = error;
      worstAt = z;
    }
  }
  void report(const char* what) const {
    std::printf("worst %s, %-40s %.2e at %s\n", what, name.c_str(), worst, show(worstAt).c_str());
    ::testing::Test::RecordProperty(what + (": " + name), std::to_string(worst));
  }
};

std::vector<Complex> offAxisGrid() {
  const double moduli[] = {0.05, 0.3,  1.0, 2.5,  4.0,  6.0,  7.5,  7.99,
                           8.0,  8.01, 9.0, 11.0, 13.0, 15.0, 17.5, 20.0};
  std::vector<Complex> grid;
  for (double rho : moduli) {
    // Every 7.5 degrees, off the real axis (the oracle of Y needs Im z != 0).
    for (int k = -23; k <= 23; ++k)
      if (k != 0) grid.push_back(std::polar(rho, k * kPiExact / 24.0));
  }
  return grid;
}

TEST(BesselAccuracy, AgreesWithIntegralRepresentationsByRegion) {
  RegionError small{"|z| <= 8"};
  RegionError nearReal{"|z| > 8, |arg z| <= pi/4"};
  RegionError fillQuadrant{"|z| > 8, pi/4 < |arg z| <= pi/2"};
  RegionError leftOfImaginary{"|z| > 8, pi/2 < |arg z| < 3pi/4"};
  RegionError nearNegativeReal{"|z| > 8, |arg z| >= 3pi/4"};
  for (Complex z : offAxisGrid()) {
    const double error = std::max(
        {scaledError(besselJ0(z), oracleJ(0, z), z), scaledError(besselJ1(z), oracleJ(1, z), z),
         scaledError(besselY0(z), oracleY(0, z), z), scaledError(besselY1(z), oracleY(1, z), z)});
    const double arg = std::abs(std::arg(z)) / kPiExact;
    if (std::abs(z) <= 8.0)
      small.add(error, z);
    else if (arg <= 0.25 + 1e-12)
      nearReal.add(error, z);
    else if (arg <= 0.5 + 1e-12)
      fillQuadrant.add(error, z);
    else if (arg < 0.75 - 1e-12)
      leftOfImaginary.add(error, z);
    else
      nearNegativeReal.add(error, z);
  }
  for (const RegionError* r :
       {&small, &nearReal, &fillQuadrant, &leftOfImaginary, &nearNegativeReal})
    r->report("error of J0 Y0 J1 Y1");
  // The rational forms are weakest where they meet at |z| = 8 off the real axis; the
  // asymptotic P and Q in 64/z^2 are even in z and lose the Stokes terms that matter more
  // and more towards the negative real axis.
  EXPECT_LT(small.worst, 1e-8);
  EXPECT_LT(nearReal.worst, 1e-8);
  EXPECT_LT(fillQuadrant.worst, 1e-6);
  EXPECT_LT(leftOfImaginary.worst, 1e-5);
  EXPECT_LT(nearNegativeReal.worst, 0.2);
}

TEST(BesselAccuracy, AgreesWithTheStandardLibraryOnThePositiveRealAxis) {
  RegionError small{"0 < x <= 8"};
  RegionError large{"8 < x <= 30"};
  for (double x = 0.01; x <= 30.0; x += 0.0625) {
    const double envelope = std::sqrt(2.0 / (kPiExact * std::max(x, 1.0)));
    const double error =
        std::max({
            std::abs(besselJ0(x) - std::cyl_bessel_j(0.0, x)),
            std::abs(besselJ1(x) - std::cyl_bessel_j(1.0, x)),
            std::abs(besselY0(x) - std::cyl_neumann(0.0, x)) / std::max(1.0, std::abs(besselY0(x))),
            std::abs(besselY1(x) - std::cyl_neumann(1.0, x)) / std::max(1.0, std::abs(besselY1(x))),
        }) /
        envelope;
    (x <= 8.0 ? small : large).add(error, x);
  }
  small.report("error on the real axis");
  large.report("error on the real axis");
  EXPECT_LT(small.worst, 1e-13);
  EXPECT_LT(large.worst, 1e-13);
}

TEST(BesselAccuracy, SatisfiesTheWronskian) {
  // J1 Y0 - J0 Y1 = 2 / (pi z); where |Im z| is large both products are huge and the
  // identity says nothing, so the defect is measured against their size.
  RegionError wronskian{"|Im z| <= 4, |arg z| <= 3pi/4"};
  for (Complex z : offAxisGrid()) {
    if (std::abs(z.imag()) > 4.0 || std::abs(std::arg(z)) > 0.75 * kPiExact) continue;
    const Complex a = besselJ1(z) * besselY0(z);
    const Complex b = besselJ0(z) * besselY1(z);
    const double defect = std::abs(a - b - 2.0 / (kPiExact * z));
    wronskian.add(defect / (std::abs(a) + std::abs(b)), z);
  }
  wronskian.report("Wronskian defect");
  EXPECT_LT(wronskian.worst, 1e-7);
}

TEST(HankelAccuracy, DecayingKindOnTheRaysTheFillUses) {
  // Normal metal: H(2) on arg -pi/4 until Im z reaches the cut-off; superconductor: H(1)
  // on the positive imaginary axis; lossy superconductor: H(2) towards -pi/2. Where the
  // function has decayed, J and jY cancel and only the absolute error is meaningful.
  struct Ray {
    const char* name;
    double arg;
  };
  const Ray rays[] = {{"H(2) on arg -pi/4", -0.25 * kPiExact},
                      {"H(2) on arg -3pi/8", -0.375 * kPiExact},
                      {"H(2) on arg -15pi/32", -15.0 / 32.0 * kPiExact},
                      {"H(1) on the positive imaginary axis", 0.5 * kPiExact}};
  for (const Ray& ray : rays) {
    RegionError relative{std::string(ray.name) + ", |Im z| <= 3"};
    RegionError absolute{std::string(ray.name) + ", up to the cut-off"};
    for (double rho = 0.02; std::abs(std::sin(ray.arg)) * rho <= 20.0; rho += 0.1) {
      const Complex z = std::polar(rho, ray.arg);
      const bool first = z.imag() > 0.0;
      const HankelPair h = first ? hankelFirstPair(z) : hankelSecondPair(z);
      const Complex h0 = oracleDecayingHankel(0, z);
      const Complex h1 = oracleDecayingHankel(1, z);
      const double error = std::max(std::abs(h.h0 - h0), std::abs(h.h1 - h1));
      absolute.add(error, z);
      if (std::abs(z.imag()) <= 3.0)
        relative.add(
            std::max(std::abs(h.h0 - h0) / std::abs(h0), std::abs(h.h1 - h1) / std::abs(h1)), z);
    }
    relative.report("relative error");
    absolute.report("absolute error");
    EXPECT_LT(relative.worst, 1e-8) << ray.name;
    EXPECT_LT(absolute.worst, 1e-5) << ray.name;
  }
}

// ---------------------------------------------------------------------------------------
// The pair calls against the separate ones, bit for bit.

std::vector<Complex> denseGrid() {
  std::vector<Complex> grid;
  for (double rho : {1e-300, 1e-12, 1e-3, 0.5, 3.0, 7.9, 8.0, std::nextafter(8.0, 9.0), 8.2, 12.0,
                     19.0, 20.0, 26.0, 40.0})
    for (int k = 0; k < 96; ++k) grid.push_back(std::polar(rho, -kPiExact + k * kPiExact / 48.0));
  for (double re = -30.0; re <= 30.0; re += 0.37) {
    for (double im : {-25.0, std::nextafter(-20.0, -21.0), -20.0, std::nextafter(-20.0, 0.0), -19.0,
                      -3.3, -1e-9, -0.0, 0.0, 1e-9, 3.3, 19.0, std::nextafter(20.0, 0.0), 20.0,
                      std::nextafter(20.0, 21.0), 25.0})
      grid.push_back({re, im});
  }
  for (double onAxis : {-8.0, 8.0, 0.0}) {
    grid.push_back({onAxis, 0.0});
    grid.push_back({0.0, onAxis});
  }
  return grid;
}

TEST(HankelPair, EqualsTheSeparateFunctionsBitForBit) {
  for (Complex z : denseGrid()) {
    const HankelPair first = hankelFirstPair(z);
    const HankelPair second = hankelSecondPair(z);
    ASSERT_TRUE(sameBits(first.h0, hankel0First(z))) << show(z);
    ASSERT_TRUE(sameBits(first.h1, hankel1First(z))) << show(z);
    ASSERT_TRUE(sameBits(second.h0, hankel0Second(z))) << show(z);
    ASSERT_TRUE(sameBits(second.h1, hankel1Second(z))) << show(z);
    const BesselJY01 jy = besselJY01(z);
    ASSERT_TRUE(sameBits(jy.order0.j, besselJ0(z))) << show(z);
    ASSERT_TRUE(sameBits(jy.order0.y, besselY0(z))) << show(z);
    ASSERT_TRUE(sameBits(jy.order1.j, besselJ1(z))) << show(z);
    ASSERT_TRUE(sameBits(jy.order1.y, besselY1(z))) << show(z);
  }
}

// ---------------------------------------------------------------------------------------
// A literal transcription of the method in plain std::complex arithmetic, for checking
// that the written-out arithmetic of the implementation changes no bit.

namespace literal {

// The coefficients are the implementation's own: this transcription checks the
// arithmetic, the oracle above checks the values.
using namespace bessel_tables;
const double twoOverPi = kTwoOverPi;
const double piOver4 = kPiOver4;

template <std::size_t N>
Complex horner(const std::array<double, N>& c, Complex x) {
  Complex acc{0.0, 0.0};
  for (std::size_t i = c.size(); i-- > 0;) acc = acc * x + c[i];
  return acc;
}

using Table7 = std::array<double, 7>;
AsymptoticPQ pq(const Table7& pn, const Table7& pd, const Table7& qn, const Table7& qd, Complex z) {
  const Complex u = Complex(64.0, 0.0) / (z * z);
  return {horner(pn, u) / horner(pd, u), (Complex(8.0, 0.0) / z) * (horner(qn, u) / horner(qd, u))};
}

Complex sinOf(Complex x) {
  return {std::sin(x.real()) * std::cosh(x.imag()), std::cos(x.real()) * std::sinh(x.imag())};
}
Complex cosOf(Complex x) {
  return {std::cos(x.real()) * std::cosh(x.imag()), -std::sin(x.real()) * std::sinh(x.imag())};
}
Complex amplitude(Complex z) {
  return std::sqrt(Complex(twoOverPi, 0.0) / z);
}

Complex J0(Complex z) {
  if (std::abs(z) <= 8.0) {
    const Complex w = z * z;
    return horner(kJ0Num, w) / horner(kJ0Den, w);
  }
  const AsymptoticPQ f = pq(kP0Num, kP0Den, kQ0Num, kQ0Den, z);
  const Complex x = z - piOver4;
  return amplitude(z) * (f.P * cosOf(x) - f.Q * sinOf(x));
}

Complex Y0(Complex z) {
  if (std::abs(z) <= 8.0) {
    const Complex w = z * z;
    return horner(kY0Num, w) / horner(kY0Den, w) + twoOverPi * J0(z) * std::log(z);
  }
  const AsymptoticPQ f = pq(kP0Num, kP0Den, kQ0Num, kQ0Den, z);
  const Complex x = z - piOver4;
  return amplitude(z) * (f.P * sinOf(x) + f.Q * cosOf(x));
}

Complex J1(Complex z) {
  if (std::abs(z) <= 8.0) {
    const Complex w = z * z;
    return z * horner(kJ1Num, w) / horner(kJ1Den, w);
  }
  const AsymptoticPQ f = pq(kP1Num, kP1Den, kQ1Num, kQ1Den, z);
  const Complex x = z - 3.0 * piOver4;
  return amplitude(z) * (f.P * cosOf(x) - f.Q * sinOf(x));
}

Complex Y1(Complex z) {
  if (std::abs(z) <= 8.0) {
    const Complex w = z * z;
    return z * horner(kY1Num, w) / horner(kY1Den, w) + twoOverPi * (J1(z) * std::log(z) - 1.0 / z);
  }
  const AsymptoticPQ f = pq(kP1Num, kP1Den, kQ1Num, kQ1Den, z);
  const Complex x = z - 3.0 * piOver4;
  return amplitude(z) * (f.P * sinOf(x) + f.Q * cosOf(x));
}

}  // namespace literal

TEST(BesselArithmetic, WrittenOutArithmeticChangesNoBit) {
  const Complex j{0.0, 1.0};
  for (Complex z : denseGrid()) {
    if (!std::isfinite(std::abs(literal::Y1(z)))) continue;  // z = 0
    ASSERT_TRUE(sameBits(besselJ0(z), literal::J0(z))) << show(z);
    ASSERT_TRUE(sameBits(besselY0(z), literal::Y0(z))) << show(z);
    ASSERT_TRUE(sameBits(besselJ1(z), literal::J1(z))) << show(z);
    ASSERT_TRUE(sameBits(besselY1(z), literal::Y1(z))) << show(z);
    if (z.imag() >= -20.0) {
      ASSERT_TRUE(sameBits(hankel0Second(z), literal::J0(z) - j * literal::Y0(z))) << show(z);
      ASSERT_TRUE(sameBits(hankel1Second(z), literal::J1(z) - j * literal::Y1(z))) << show(z);
    }
    if (z.imag() <= 20.0) {
      ASSERT_TRUE(sameBits(hankel0First(z), literal::J0(z) + j * literal::Y0(z))) << show(z);
      ASSERT_TRUE(sameBits(hankel1First(z), literal::J1(z) + j * literal::Y1(z))) << show(z);
    }
  }
}

// ---------------------------------------------------------------------------------------
// The written-out complex arithmetic gives the bits of std::complex.

TEST(ComplexArithmetic, ProductAndQuotientMatchStdComplex) {
  std::mt19937_64 random(20240611);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-330, 310);
  std::uniform_int_distribution<int> kind(0, 19);
  const double specials[] = {0.0,
                             -0.0,
                             1e-310,
                             -1e-300,
                             1e-100,
                             1e100,
                             1e300,
                             64.0,
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
  auto draw = [&]() {
    const int k = kind(random);
    if (k < 10) return specials[k];
    // Mostly moderate magnitudes, as in the fill; sometimes anything.
    const int e = k < 17 ? exponent(random) / 10 : exponent(random);
    return std::ldexp(mantissa(random), static_cast<int>(e * 3.3219));
  };
  int products = 0;
  for (int i = 0; i < 2000000; ++i) {
    const Complex a{draw(), draw()};
    const Complex b{draw(), draw()};
    const Complex quotient = cplx::quotient(a, b);
    const Complex expectedQuotient = a / b;
    ASSERT_TRUE(sameBits(quotient, expectedQuotient) ||
                (std::isnan(quotient.real()) && std::isnan(expectedQuotient.real()) &&
                 std::isnan(quotient.imag()) == std::isnan(expectedQuotient.imag())))
        << show(a) << " / " << show(b);
    const Complex expectedProduct = a * b;
    if (std::isfinite(expectedProduct.real()) && std::isfinite(expectedProduct.imag()) &&
        std::isfinite(std::abs(a)) && std::isfinite(std::abs(b))) {
      ++products;
      ASSERT_TRUE(sameBits(cplx::product(a, b), expectedProduct)) << show(a) << " * " << show(b);
    }
  }
  EXPECT_GT(products, 500000);
}

}  // namespace
}  // namespace qbr
