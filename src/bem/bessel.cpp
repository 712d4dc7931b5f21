#include "bem/bessel.hpp"

#include <array>
#include <cmath>
#include <cstddef>

#include "bem/bessel_tables.hpp"

namespace qbr {

namespace {

using namespace bessel_tables;

constexpr double kThreePiOver4 = 3.0 * kPiOver4;
constexpr double kSwitchRadius = 8.0;

using cplx::product;
using cplx::quotient;

// Horner's rule from the highest coefficient down, acc = acc * x + c_i, for a numerator
// and a denominator at once: the two chains run side by side in the two lanes of an SSE2
// register. Lane arithmetic is plain IEEE double arithmetic, so each lane carries exactly
// the bits of the scalar recurrence.
using Lanes = double __attribute__((vector_size(16)));

struct PolynomialPair {
  Complex first;
  Complex second;
};

template <std::size_t N>
inline PolynomialPair hornerPair(const std::array<double, N>& a, const std::array<double, N>& b,
                                 Complex x) {
  const Lanes xr = {x.real(), x.real()};
  const Lanes xi = {x.imag(), x.imag()};
  Lanes re = {0.0, 0.0};
  Lanes im = {0.0, 0.0};
  for (std::size_t i = N; i-- > 0;) {
    const Lanes c = {a[i], b[i]};
    const Lanes nextRe = (re * xr - im * xi) + c;
    const Lanes nextIm = re * xi + im * xr;
    re = nextRe;
    im = nextIm;
  }
  return {{re[0], im[0]}, {re[1], im[1]}};
}

template <std::size_t N>
inline Complex rational(const std::array<double, N>& num, const std::array<double, N>& den,
                        Complex x) {
  const PolynomialPair p = hornerPair(num, den, x);
  return quotient(p.first, p.second);
}

inline Complex scaled(double s, Complex a) {
  return {a.real() * s, a.imag() * s};
}

// Small-argument forms; w = z^2, logZ = principal log z.
inline Complex smallJ0(Complex w) {
  return rational(kJ0Num, kJ0Den, w);
}

inline Complex smallY0(Complex w, Complex j0, Complex logZ) {
  return rational(kY0Num, kY0Den, w) + product(scaled(kTwoOverPi, j0), logZ);
}

inline Complex smallJ1(Complex z, Complex w) {
  const PolynomialPair p = hornerPair(kJ1Num, kJ1Den, w);
  return quotient(product(z, p.first), p.second);
}

inline Complex smallY1(Complex z, Complex w, Complex j1, Complex logZ) {
  const PolynomialPair p = hornerPair(kY1Num, kY1Den, w);
  const Complex first = quotient(product(z, p.first), p.second);
  const Complex bracket = product(j1, logZ) - quotient(Complex{1.0, 0.0}, z);
  return first + scaled(kTwoOverPi, bracket);
}

// What the asymptotic forms of both orders share at one argument.
struct AsymptoticCommon {
  Complex u;           // 64 / z^2
  Complex eightOverZ;  // 8 / z
};

inline AsymptoticCommon asymptoticCommon(Complex z) {
  return {quotient(Complex{64.0, 0.0}, product(z, z)), quotient(Complex{8.0, 0.0}, z)};
}

template <std::size_t N>
inline AsymptoticPQ evaluatePQ(const std::array<double, N>& pNum, const std::array<double, N>& pDen,
                               const std::array<double, N>& qNum, const std::array<double, N>& qDen,
                               const AsymptoticCommon& common) {
  const Complex p = rational(pNum, pDen, common.u);
  const Complex q = product(common.eightOverZ, rational(qNum, qDen, common.u));
  return {p, q};
}

inline AsymptoticPQ pq0(const AsymptoticCommon& common) {
  return evaluatePQ(kP0Num, kP0Den, kQ0Num, kQ0Den, common);
}
inline AsymptoticPQ pq1(const AsymptoticCommon& common) {
  return evaluatePQ(kP1Num, kP1Den, kQ1Num, kQ1Den, common);
}

// sqrt((2/pi) / z), principal root.
inline Complex amplitude(Complex z) {
  return std::sqrt(quotient(Complex{kTwoOverPi, 0.0}, z));
}

// J = A (P cos x - Q sin x), Y = A (P sin x + Q cos x) with x = z - phase. Only the real
// part of z is shifted, so cosh and sinh of Im z are common to both orders.
inline BesselJY asymptoticJY(const AsymptoticPQ& pq, double shiftedRe, double coshIm, double sinhIm,
                             Complex amp) {
  const double s = std::sin(shiftedRe);
  const double c = std::cos(shiftedRe);
  const Complex sinX{s * coshIm, c * sinhIm};
  const Complex cosX{c * coshIm, -s * sinhIm};
  const Complex j = product(amp, product(pq.P, cosX) - product(pq.Q, sinX));
  const Complex y = product(amp, product(pq.P, sinX) + product(pq.Q, cosX));
  return {j, y};
}

inline BesselJY asymptoticJY0(Complex z, const AsymptoticCommon& common, double coshIm,
                              double sinhIm, Complex amp) {
  return asymptoticJY(pq0(common), z.real() - kPiOver4, coshIm, sinhIm, amp);
}

inline BesselJY asymptoticJY1(Complex z, const AsymptoticCommon& common, double coshIm,
                              double sinhIm, Complex amp) {
  return asymptoticJY(pq1(common), z.real() - kThreePiOver4, coshIm, sinhIm, amp);
}

inline bool smallBranch(Complex z) {
  return std::abs(z) <= kSwitchRadius;
}

}  // namespace

AsymptoticPQ asymptoticPQ0(Complex z) {
  return pq0(asymptoticCommon(z));
}

AsymptoticPQ asymptoticPQ1(Complex z) {
  return pq1(asymptoticCommon(z));
}

BesselJY besselJY0(Complex z) {
  if (smallBranch(z)) {
    const Complex w = product(z, z);
    const Complex j0 = smallJ0(w);
    return {j0, smallY0(w, j0, std::log(z))};
  }
  return asymptoticJY0(z, asymptoticCommon(z), std::cosh(z.imag()), std::sinh(z.imag()),
                       amplitude(z));
}

BesselJY besselJY1(Complex z) {
  if (smallBranch(z)) {
    const Complex w = product(z, z);
    const Complex j1 = smallJ1(z, w);
    return {j1, smallY1(z, w, j1, std::log(z))};
  }
  return asymptoticJY1(z, asymptoticCommon(z), std::cosh(z.imag()), std::sinh(z.imag()),
                       amplitude(z));
}

BesselJY01 besselJY01(Complex z) {
  if (smallBranch(z)) {
    const Complex w = product(z, z);
    const Complex logZ = std::log(z);
    const Complex j0 = smallJ0(w);
    const Complex j1 = smallJ1(z, w);
    return {{j0, smallY0(w, j0, logZ)}, {j1, smallY1(z, w, j1, logZ)}};
  }
  const AsymptoticCommon common = asymptoticCommon(z);
  const double coshIm = std::cosh(z.imag());
  const double sinhIm = std::sinh(z.imag());
  const Complex amp = amplitude(z);
  return {asymptoticJY0(z, common, coshIm, sinhIm, amp),
          asymptoticJY1(z, common, coshIm, sinhIm, amp)};
}

HelmholtzSample helmholtzSample(Complex z, bool firstKind) {
  // The kernel's factor -+j pi/2 times r dK/dr = +-j pi/2 z H1 contributes, with
  // H1 = J1 +- j Y1, sigma j pi/2 z J1 + pi/2 z Y1, sigma = -1 for the first kind.
  const Complex sigmaHalfJPi(0.0, firstKind ? -2.0 * kPiOver4 : 2.0 * kPiOver4);
  const auto hankel = [firstKind](const BesselJY& jy) {
    return firstKind ? jy.j + product(kJ, jy.y) : jy.j - product(kJ, jy.y);
  };
  if (smallBranch(z)) {
    const Complex w = product(z, z);
    const Complex logZ = std::log(z);
    const Complex j0 = smallJ0(w);
    const PolynomialPair j1Pair = hornerPair(kJ1Num, kJ1Den, w);
    const Complex j1OverZ = quotient(j1Pair.first, j1Pair.second);
    const Complex j1 = product(z, j1OverZ);
    const PolynomialPair y1Pair = hornerPair(kY1Num, kY1Den, w);
    const Complex y1Regular = quotient(y1Pair.first, y1Pair.second);
    const Complex y1 = product(z, y1Regular) +
                       scaled(kTwoOverPi, product(j1, logZ) - quotient(Complex{1.0, 0.0}, z));
    // Y1 = z R + (2/pi)(J1 ln z - 1/z) makes pi/2 z Y1 = pi/2 z^2 R + z J1 ln z - 1, so
    // F / z^2 = J1/z (sigma j pi/2 + ln z) + pi/2 R.
    const Complex f = product(j1OverZ, sigmaHalfJPi + logZ) + scaled(2.0 * kPiOver4, y1Regular);
    return {hankel({j0, smallY0(w, j0, logZ)}), hankel({j1, y1}), j0, j1OverZ, f};
  }
  const BesselJY01 jy = besselJY01(z);
  const Complex h1 = hankel(jy.order1);
  const Complex inverse = quotient(Complex{1.0, 0.0}, z);
  const Complex f = product(inverse, inverse) + product(product(sigmaHalfJPi, h1), inverse);
  return {hankel(jy.order0), h1, jy.order0.j, product(jy.order1.j, inverse), f};
}

Complex besselJ0(Complex z) {
  if (smallBranch(z)) return smallJ0(product(z, z));
  return besselJY0(z).j;
}

Complex besselY0(Complex z) {
  return besselJY0(z).y;
}

Complex besselJ1(Complex z) {
  if (smallBranch(z)) return smallJ1(z, product(z, z));
  return besselJY1(z).j;
}

Complex besselY1(Complex z) {
  return besselJY1(z).y;
}

}  // namespace qbr
