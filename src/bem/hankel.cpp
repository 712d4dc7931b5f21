#include "bem/hankel.hpp"

#include <cmath>
#include <limits>

#include "bem/bessel.hpp"

namespace qbr {

namespace {

// Beyond |Im z| = 20 the decaying Hankel function is below e^-20 of its scale and is
// taken as exactly 0; J and Y are huge there and J +- jY would be mostly rounding.
constexpr double kCutOff = 20.0;

// j * Y as a full complex product, (0 yr - yi, 0 yi + yr), then added to or taken from J.
inline Complex jTimes(Complex y) {
  return cplx::product(kJ, y);
}

inline Complex firstKind(const BesselJY& jy) {
  return jy.j + jTimes(jy.y);
}
inline Complex secondKind(const BesselJY& jy) {
  return jy.j - jTimes(jy.y);
}

inline bool firstKindVanishes(Complex z) {
  return z.imag() > kCutOff;
}
inline bool secondKindVanishes(Complex z) {
  return z.imag() < -kCutOff;
}

}  // namespace

Complex hankel0First(Complex z) {
  if (firstKindVanishes(z)) return {0.0, 0.0};
  return firstKind(besselJY0(z));
}

Complex hankel0Second(Complex z) {
  if (secondKindVanishes(z)) return {0.0, 0.0};
  return secondKind(besselJY0(z));
}

Complex hankel1First(Complex z) {
  if (firstKindVanishes(z)) return {0.0, 0.0};
  return firstKind(besselJY1(z));
}

Complex hankel1Second(Complex z) {
  if (secondKindVanishes(z)) return {0.0, 0.0};
  return secondKind(besselJY1(z));
}

double hankelReach(Complex k) {
  const double decay = std::fabs(k.imag());
  if (!(decay > 0.0)) return std::numeric_limits<double>::infinity();
  return kCutOff / decay * (1.0 + 1e-9);
}

HankelPair hankelFirstPair(Complex z) {
  if (firstKindVanishes(z)) return {{0.0, 0.0}, {0.0, 0.0}};
  const BesselJY01 jy = besselJY01(z);
  return {firstKind(jy.order0), firstKind(jy.order1)};
}

HankelPair hankelSecondPair(Complex z) {
  if (secondKindVanishes(z)) return {{0.0, 0.0}, {0.0, 0.0}};
  const BesselJY01 jy = besselJY01(z);
  return {secondKind(jy.order0), secondKind(jy.order1)};
}

}  // namespace qbr
