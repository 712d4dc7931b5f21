#include "bem/hankel.hpp"

#include <array>
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

namespace {

constexpr double kPiFull = 3.14159265358979323846;

// K0(x) and K1(x) for x >= 2 by Steed's continued fraction (Temme's CF2): exact to
// rounding, but 20 to 90 iterations; only used to build the table below.
void besselK01(double x, double& k0, double& k1) {
  double b = 2.0 * (1.0 + x), d = 1.0 / b, h = d, delh = d;
  double q1 = 0.0, q2 = 1.0;
  const double a1 = 0.25;
  double q = a1, c = a1, a = -a1;
  double s = 1.0 + q * delh;
  for (int i = 1; i < 300; ++i) {
    a -= 2.0 * i;
    c = -a * c / (i + 1.0);
    const double qnew = (q1 - b * q2) / a;
    q1 = q2;
    q2 = qnew;
    q += c * qnew;
    b += 2.0;
    d = 1.0 / (b + a * d);
    delh = (b * d - 1.0) * delh;
    h += delh;
    const double dels = q * delh;
    s += dels;
    if (std::fabs(dels) < 1e-17 * std::fabs(s)) break;
  }
  h = a1 * h;
  k0 = std::sqrt(kPiFull / (2.0 * x)) * std::exp(-x) / s;
  k1 = k0 * (x + 0.5 - h) / x;
}

// sqrt(x) e^x K0(x) and sqrt(x) e^x K1(x), smooth and slowly varying, as Chebyshev series on
// [2, 6] and [6, 21] (32 terms each: the nearest singularity, x = 0, leaves them exact to
// rounding), built once from the continued fraction.
constexpr int kTerms = 32;
struct ScaledK {
  double lo, hi;
  std::array<double, kTerms> k0{}, k1{};
};

ScaledK fitScaledK(double lo, double hi) {
  ScaledK fit{lo, hi, {}, {}};
  std::array<double, kTerms> f0{}, f1{};
  for (int j = 0; j < kTerms; ++j) {
    const double u = std::cos(kPiFull * (j + 0.5) / kTerms);
    const double x = 0.5 * (hi + lo) + 0.5 * (hi - lo) * u;
    double k0 = 0.0, k1 = 0.0;
    besselK01(x, k0, k1);
    const double scale = std::sqrt(x) * std::exp(x);
    f0[static_cast<std::size_t>(j)] = k0 * scale;
    f1[static_cast<std::size_t>(j)] = k1 * scale;
  }
  for (int k = 0; k < kTerms; ++k) {
    double s0 = 0.0, s1 = 0.0;
    for (int j = 0; j < kTerms; ++j) {
      const double t = std::cos(kPiFull * k * (j + 0.5) / kTerms);
      s0 += f0[static_cast<std::size_t>(j)] * t;
      s1 += f1[static_cast<std::size_t>(j)] * t;
    }
    fit.k0[static_cast<std::size_t>(k)] = (k == 0 ? 1.0 : 2.0) * s0 / kTerms;
    fit.k1[static_cast<std::size_t>(k)] = (k == 0 ? 1.0 : 2.0) * s1 / kTerms;
  }
  return fit;
}

const std::array<ScaledK, 2>& scaledKTables() {
  static const std::array<ScaledK, 2> tables = {fitScaledK(2.0, 6.0), fitScaledK(6.0, 21.0)};
  return tables;
}

}  // namespace

HankelPair hankelFirstPairImaginary(double x) {
  if (x < 2.0 || x > kCutOff) return hankelFirstPair(Complex(0.0, x));
  const ScaledK& fit = scaledKTables()[x < 6.0 ? 0 : 1];
  const double u = (2.0 * x - fit.lo - fit.hi) / (fit.hi - fit.lo);
  // Clenshaw's recurrence for both series at once.
  double b0 = 0.0, b0Next = 0.0, b1 = 0.0, b1Next = 0.0;
  for (int k = kTerms - 1; k >= 1; --k) {
    const double t0 = 2.0 * u * b0 - b0Next + fit.k0[static_cast<std::size_t>(k)];
    const double t1 = 2.0 * u * b1 - b1Next + fit.k1[static_cast<std::size_t>(k)];
    b0Next = b0;
    b0 = t0;
    b1Next = b1;
    b1 = t1;
  }
  const double scale = std::exp(-x) / std::sqrt(x);
  const double k0 = (u * b0 - b0Next + fit.k0[0]) * scale;
  const double k1 = (u * b1 - b1Next + fit.k1[0]) * scale;
  // K0(x) = (j pi/2) H0(1)(j x), K1(x) = -(pi/2) H1(1)(j x).
  const double twoOverPi = 2.0 / kPiFull;
  return {Complex(0.0, -twoOverPi * k0), Complex(-twoOverPi * k1, 0.0)};
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
