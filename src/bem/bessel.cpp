#include "bem/bessel.hpp"

#include <array>
#include <cmath>
#include <cstddef>

namespace qbr {

namespace {

// Full double precision here, unlike the program's ten-decimal pi: the phases of the
// asymptotic forms need every bit to keep J and Y consistent across |z| = 8.
constexpr double kTwoOverPi = 0.6366197723675814;
constexpr double kPiOver4 = 0.7853981633974483;
constexpr double kThreePiOver4 = 3.0 * kPiOver4;
constexpr double kSwitchRadius = 8.0;

// Rational approximations, constant term first. Small arguments: polynomials in z^2.
constexpr std::array<double, 9> kJ0Num = {
    4.9337872517941336e+20,  -1.1791576291076106e+20, 6.382059341072356e+18,
    -1.3676203530881714e+17, 1434354939140344.0,      -8085222034853.794,
    25071582855.36882,       -40504123.71833133,      26857.86856980015};
constexpr std::array<double, 9> kJ0Den = {
    4.9337872517941336e+20, 5.428918384092285e+18, 3.0246356167094628e+16,
    112775673967979.84,     312304311494.12134,    669998767.298224,
    1114636.0984629854,     1363.0636523289706,    1.0};
constexpr std::array<double, 9> kY0Num = {
    -2.7502866786291098e+19, 6.587473275719555e+19, -5.247065581112765e+18,
    1.375624316399344e+17,   -1648605817185729.5,   10255208596863.943,
    -34363712229.790405,     59152134.6568689,      -41370.35497933149};
constexpr std::array<double, 9> kY0Den = {
    3.726458838986166e+20, 4.19241704341084e+18, 2.392883043499782e+16,
    91620380340751.86,     261306575504.10812,   579512264.070073,
    1001702.6412889062,    1282.452772478994,    1.0};
constexpr std::array<double, 9> kJ1Num = {
    5.811993540016061e+20,  -6.672106568924916e+19, 2.3164335806340024e+18,
    -3.588817569910106e+16, 290879526383477.56,     -1322983480332.1265,
    3413234182.3017006,     -4695753.530642996,     2701.1227108923235};
constexpr std::array<double, 9> kJ1Den = {
    1.1623987080032122e+21, 1.185770712190321e+19, 6.092061398917522e+16,
    208166122130760.75,     524371026216.76495,    1013863514.358674,
    1501793.5949985855,     1606.9315734814877,    1.0};
constexpr std::array<double, 10> kY1Num = {-9.963753424306922e+22,  2.6554738314348545e+22,
                                           -1.2122975554145097e+21, 2.1931073399177978e+19,
                                           -1.9658874627221408e+17, 956993023992168.4,
                                           -2580681702194.451,      3639488548.124002,
                                           -2108847.5401331238,     0.0};
constexpr std::array<double, 10> kY1Den = {5.082067366941243e+23,  5.435310377188854e+21,
                                           2.9549879358971486e+19, 1.0822582594088195e+17,
                                           297663212564727.7,      646534088126.5276,
                                           1128686837.1694422,     1563282.7548995805,
                                           1612.361029677001,      1.0};

// Large arguments: polynomials in 64 / z^2 for the factors P and Q of the Hankel form.
constexpr std::array<double, 7> kP0Num = {5393485.083869439,
                                          12332384.76817638,
                                          8413041.45655044,
                                          2016135.2830499837,
                                          153982.65326239113,
                                          2485.271928957404,
                                          0.0};
constexpr std::array<double, 7> kP0Den = {5393485.083869439,
                                          12338310.22786325,
                                          8426449.050629796,
                                          2025066.801570134,
                                          156001.7276940031,
                                          2615.7007369208395,
                                          1.0};
constexpr std::array<double, 7> kQ0Num = {-3984.6173575952225,
                                          -10381.416987484641,
                                          -8239.066313485606,
                                          -2365.956170779108,
                                          -226.2630641933704,
                                          -4.887199395841262,
                                          0.0};
constexpr std::array<double, 7> kQ0Den = {255015.51088609424,
                                          666745.4239319827,
                                          533291.3634216897,
                                          156021.32066792916,
                                          15704.891915153956,
                                          408.7714673983499,
                                          1.0};
constexpr std::array<double, 7> kP1Num = {-4435757.816794128,
                                          -9942246.505077641,
                                          -6603373.248364939,
                                          -1523529.3511811374,
                                          -109824.05543459347,
                                          -1611.6166443246102,
                                          0.0};
constexpr std::array<double, 7> kP1Den = {-4435757.816794128,
                                          -9934124.389934586,
                                          -6585339.4797230875,
                                          -1511809.5066341609,
                                          -107263.8599110382,
                                          -1455.0094401904962,
                                          1.0};
constexpr std::array<double, 7> kQ1Num = {33220.913409857225,
                                          85145.1606753357,
                                          66178.83658127084,
                                          18494.262873223866,
                                          1706.375429020768,
                                          35.26513384663603,
                                          0.0};
constexpr std::array<double, 7> kQ1Den = {708712.8194102874,
                                          1819458.0422439973,
                                          1419460.669603721,
                                          400294.43582266977,
                                          37890.2297457722,
                                          863.8367769604992,
                                          1.0};

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
