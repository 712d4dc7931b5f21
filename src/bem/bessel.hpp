#pragma once

#include <cmath>

#include "model/constants.hpp"

namespace qbr {

// Bessel functions of the first and second kind, orders 0 and 1, of complex argument:
// rational approximations in z^2 for |z| <= 8, the Hankel asymptotic form with
// rational P and Q in 64/z^2 beyond. Pure functions, safe to call from many threads.
Complex besselJ0(Complex z);
Complex besselY0(Complex z);
Complex besselJ1(Complex z);
Complex besselY1(Complex z);

// The asymptotic factors P and Q of one order at z (|z| > 8).
struct AsymptoticPQ {
  Complex P;
  Complex Q;
};
AsymptoticPQ asymptoticPQ0(Complex z);
AsymptoticPQ asymptoticPQ1(Complex z);

// J and Y of one order at the same argument, evaluated together: the small form of Y
// needs J anyway, and the asymptotic form shares P, Q, the shifted-argument sine and
// cosine and the amplitude. Bitwise equal to the separate functions.
struct BesselJY {
  Complex j;
  Complex y;
};
BesselJY besselJY0(Complex z);
BesselJY besselJY1(Complex z);

// J0, Y0, J1, Y1 at the same argument, sharing additionally the modulus, z^2, log z,
// 64/z^2, 8/z, the amplitude and the hyperbolic functions of Im z. Bitwise equal to
// the separate functions.
struct BesselJY01 {
  BesselJY order0;
  BesselJY order1;
};
BesselJY01 besselJY01(Complex z);

// Everything the interior kernel needs at one argument z = kr when its static part is
// treated apart (low frequency): the Hankel functions of orders 0 and 1 of the kernel's
// kind (first for Im k > 0, second otherwise), J0(z), J1(z)/z, and
//   F(z)/z^2 = (1 + r dK/dr) / z^2   for K = (+-j pi/2) H0(kr),
// which tends to (ln(z/2) + gamma - 1/2 -+ j pi/2) / 2 as z -> 0 (the upper sign for the
// first kind). For |z| <= 8 the small forms give F without cancellation: the 1/z of Y1
// cancels the 1 analytically. Beyond, F comes from the Hankel function itself.
struct HelmholtzSample {
  Complex h0;
  Complex h1;
  Complex j0;
  Complex j1OverZ;
  Complex fOverZ2;
};
HelmholtzSample helmholtzSample(Complex z, bool firstKind);

// Complex product and quotient written out on real and imaginary parts, for hot loops.
// g++ compiles std::complex's * and / into calls that recover infinities from NaN
// results; these give the same bits for finite operands and results without the call.
namespace cplx {

// (ar br - ai bi, ar bi + ai br): the textbook product that std::complex computes
// before its NaN check.
inline Complex product(Complex a, Complex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// Smith's quotient with the branch on |Re b| < |Im b| that the runtime library uses.
// The library additionally rescales by powers of two near underflow and overflow;
// inside the window below no intermediate can underflow or overflow, so the scaling
// would be exact and the bits agree. Anything else goes to std::complex itself.
inline Complex quotient(Complex num, Complex den) {
  constexpr double kLow = 1e-100;
  constexpr double kHigh = 1e100;
  const double a = num.real();
  const double b = num.imag();
  const double c = den.real();
  const double d = den.imag();
  const double absA = std::fabs(a);
  const double absB = std::fabs(b);
  const bool numeratorOk = (a == 0.0 || (absA >= kLow && absA <= kHigh)) &&
                           (b == 0.0 || (absB >= kLow && absB <= kHigh));
  const double absC = std::fabs(c);
  const double absD = std::fabs(d);
  if (absC < absD) {
    const double ratio = c / d;
    if (numeratorOk && absD >= kLow && absD <= kHigh && (c == 0.0 || std::fabs(ratio) >= kLow)) {
      const double denom = c * ratio + d;
      return {(a * ratio + b) / denom, (b * ratio - a) / denom};
    }
  } else {
    const double ratio = d / c;
    if (numeratorOk && absC >= kLow && absC <= kHigh && (d == 0.0 || std::fabs(ratio) >= kLow)) {
      const double denom = d * ratio + c;
      return {(b * ratio + a) / denom, (b - a * ratio) / denom};
    }
  }
  return num / den;
}

}  // namespace cplx

}  // namespace qbr
