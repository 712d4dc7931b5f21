#pragma once

#include "model/constants.hpp"

namespace qbr {

// Hankel functions H(1) = J + jY and H(2) = J - jY of orders 0 and 1. Each is exactly
// 0 where it has decayed below e^-20 of its scale: the first kind for Im z > 20, the
// second kind for Im z < -20.
Complex hankel0First(Complex z);
Complex hankel0Second(Complex z);
Complex hankel1First(Complex z);
Complex hankel1Second(Complex z);

// Orders 0 and 1 of one kind at the same argument, evaluated together (sharing the
// modulus, the branch and the asymptotic factors); bit for bit equal to the separate calls.
struct HankelPair {
  Complex h0;
  Complex h1;
};
HankelPair hankelFirstPair(Complex z);
HankelPair hankelSecondPair(Complex z);

// H0(1) and H1(1) on the positive imaginary axis, z = j x with x >= 0: the kernel of a
// lossless superconductor, (j pi/2) H0(1)(j x) = K0(x). The general forms lose digits there
// to the cancellation of J and j Y (relative errors up to 3% near x = 8, where K0 is 1e-4);
// from x = 2 to the cut-off these come from K0 and K1 to rounding instead. Graded grids,
// which aim at errors far below 1e-5, use them.
HankelPair hankelFirstPairImaginary(double x);

// The distance beyond which the decaying Hankel function of k r is cut off, with a
// relative margin far above the rounding of r and of k r (infinity when k does not decay).
double hankelReach(Complex k);

}  // namespace qbr
