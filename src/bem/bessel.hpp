#pragma once

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

}  // namespace qbr
