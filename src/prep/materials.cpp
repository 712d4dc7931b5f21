#include "prep/materials.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace qbr {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kPiFull = 3.14159265358979323846;

// ---- Quadrature -------------------------------------------------------------------------

// The 15-point Kronrod rule and its embedded 7-point Gauss rule on [-1, 1]: abscissae from
// the centre out (the last is the centre), weights in the same order.
constexpr std::array<double, 8> kKronrodX = {
    0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
    0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
    0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
    0.207784955007898467600689403773245, 0.000000000000000000000000000000000};
constexpr std::array<double, 8> kKronrodW = {
    0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
    0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
    0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
    0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
// Gauss weights of the abscissae 1, 3, 5 and the centre of the Kronrod list.
constexpr std::array<double, 4> kGaussW = {
    0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
    0.381830050505118944950369775488975, 0.417959183673469387755102040816327};

struct Piece {
  double a, b, value, error;
};

template <typename F>
Piece kronrod(const F& f, double a, double b) {
  const double centre = 0.5 * (a + b);
  const double half = 0.5 * (b - a);
  const double fc = f(centre);
  double kronrodSum = fc * kKronrodW[7];
  double gaussSum = fc * kGaussW[3];
  for (int i = 0; i < 7; ++i) {
    const double dx = half * kKronrodX[static_cast<std::size_t>(i)];
    const double pair = f(centre - dx) + f(centre + dx);
    kronrodSum += pair * kKronrodW[static_cast<std::size_t>(i)];
    if (i % 2 == 1) gaussSum += pair * kGaussW[static_cast<std::size_t>(i / 2)];
  }
  return {a, b, kronrodSum * half, std::fabs((kronrodSum - gaussSum) * half)};
}

// Globally adaptive Gauss-Kronrod: the piece with the largest error estimate is halved
// until the estimates add up to `tolerance` of the integral. The integrands below are
// smooth on their intervals once their square-root end singularities are substituted
// away, so the Gauss-Kronrod difference overstates the error by far.
template <typename F>
double integrate(const F& f, double a, double b, double tolerance = 1e-13) {
  if (!(b > a)) return 0.0;
  std::vector<Piece> pieces{kronrod(f, a, b)};
  constexpr int kMaxPieces = 4000;
  for (;;) {
    double value = 0.0, error = 0.0;
    std::size_t worst = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      value += pieces[i].value;
      error += pieces[i].error;
      if (pieces[i].error > pieces[worst].error) worst = i;
    }
    if (error <= tolerance * std::fabs(value) || error == 0.0 ||
        static_cast<int>(pieces.size()) >= kMaxPieces) {
      return value;
    }
    const Piece p = pieces[worst];
    const double middle = 0.5 * (p.a + p.b);
    pieces[worst] = kronrod(f, p.a, middle);
    pieces.push_back(kronrod(f, middle, p.b));
  }
}

// ---- Occupation ---------------------------------------------------------------------------

double logCosh(double x) {
  x = std::fabs(x);
  return x + std::log1p(std::exp(-2.0 * x)) - kLn2;
}

// x > 0.
double logSinh(double x) {
  return x + std::log(-std::expm1(-2.0 * x)) - kLn2;
}

// f(e) - f(e + w) of the Fermi function f(e) = 1 / (exp(e / tau) + 1), w > 0, as
// sinh(w / 2 tau) / (2 cosh(e / 2 tau) cosh((e + w) / 2 tau)): no cancellation however
// small w is, no overflow however low the temperature.
double fermiDifference(double e, double w, double tau) {
  if (tau == 0.0) return e < 0.0 && e + w > 0.0 ? 1.0 : 0.0;
  return std::exp(logSinh(w / (2.0 * tau)) - kLn2 - logCosh(e / (2.0 * tau)) -
                  logCosh((e + w) / (2.0 * tau)));
}

// 1 - 2 f(e).
double pairOccupation(double e, double tau) {
  if (tau == 0.0) return e > 0.0 ? 1.0 : e < 0.0 ? -1.0 : 0.0;
  return std::tanh(e / (2.0 * tau));
}

// ---- The gap equation -----------------------------------------------------------------------

// int_0^inf du / (exp(a cosh u) + 1) = int_0^inf f(E) / E dxi with xi = Delta sinh u,
// a = Delta / kT. The integrand is even and analytic within pi/2 of the real axis, so the
// trapezoidal rule with step h converges as exp(-pi^2 / h).
double gapIntegral(double a) {
  constexpr double h = 1.0 / 16.0;
  // Beyond a cosh u = 800 the terms are below 1e-347.
  const double uMax = std::acosh(std::max(1.0, 800.0 / a)) + 1.0;
  double sum = 0.5 / (std::exp(a) + 1.0);
  for (double u = h; u <= uMax; u += h) sum += 1.0 / (std::exp(a * std::cosh(u)) + 1.0);
  return h * sum;
}

// ---- Mattis-Bardeen ---------------------------------------------------------------------------
// Energies in units of Delta: w = hbar omega / Delta, tau = k T / Delta. With
// n(E) = E^2 + 1 + w E,
//   sigma1/sigma_n = (2/w) int_1^inf [f(E) - f(E+w)] n / (sqrt(E^2-1) sqrt((E+w)^2-1)) dE
//                  - (1/w) int_{1-w}^{-1} [1 - 2 f(E+w)] n / (sqrt(E^2-1) sqrt((E+w)^2-1)) dE,
//   sigma2/sigma_n = (1/w) int_{max(1-w,-1)}^1 [1 - 2 f(E+w)] n / (sqrt(1-E^2) sqrt((E+w)^2-1)) dE,
// the second term of sigma1 only for w > 2. Every square root that vanishes at an end of its
// interval is taken out by a substitution that turns the pair of them into a constant.

// The thermal quasiparticles: E = 1 + x, x = w sinh^2 u, so that
// sqrt(x (x + w)) = w sinh u cosh u = dx / (2 du).
double sigma1Thermal(double w, double tau) {
  if (tau == 0.0) return 0.0;
  // Where f(E) - f(E + w) has fallen by e^-60 from its value at the gap edge.
  const double uMax = std::asinh(std::sqrt(60.0 * tau / w));
  const auto integrand = [w, tau](double u) {
    const double s = std::sinh(u);
    const double x = w * s * s;
    const double e = 1.0 + x;
    return 2.0 * (e * e + 1.0 + w * e) / std::sqrt((x + 2.0) * (x + w + 2.0)) *
           fermiDifference(e, w, tau);
  };
  return 2.0 / w * integrate(integrand, 0.0, uMax);
}

// Pair breaking, w > 2: E = 1 - w + (w - 2) sin^2 t. The density of states |E| / sqrt(E^2 - 1)
// times the coherence factor 1 + 1 / (E (E + w)) is n / (sqrt(E^2 - 1) sqrt((E+w)^2 - 1)) times
// the sign of E, negative here.
double sigma1PairBreaking(double w, double tau) {
  if (!(w > 2.0)) return 0.0;
  const auto integrand = [w, tau](double t) {
    const double s = std::sin(t);
    const double e = 1.0 - w + (w - 2.0) * s * s;
    return -2.0 * (e * e + 1.0 + w * e) / std::sqrt((1.0 - e) * (e + w + 1.0)) *
           pairOccupation(e + w, tau);
  };
  return integrate(integrand, 0.0, 0.5 * kPiFull) / w;
}

double sigma2Integral(double w, double tau) {
  if (w <= 2.0) {
    // E = 1 - w + w sin^2 t: sqrt((1 - E)(E + w - 1)) = w sin t cos t.
    const auto integrand = [w, tau](double t) {
      const double s = std::sin(t);
      const double e = 1.0 - w + w * s * s;
      return 2.0 * (e * e + 1.0 + w * e) / std::sqrt((1.0 + e) * (e + w + 1.0)) *
             pairOccupation(e + w, tau);
    };
    return integrate(integrand, 0.0, 0.5 * kPiFull) / w;
  }
  // E = -cos t: sqrt(1 - E^2) = sin t.
  const auto integrand = [w, tau](double t) {
    const double e = -std::cos(t);
    return (e * e + 1.0 + w * e) / std::sqrt((e + w - 1.0) * (e + w + 1.0)) *
           pairOccupation(e + w, tau);
  };
  return integrate(integrand, 0.0, kPiFull) / w;
}

std::complex<double> bulkSurfaceImpedance(double omega, double sigma1, double sigma2) {
  if (omega == 0.0) return {0.0, 0.0};
  return std::sqrt(std::complex<double>(0.0, omega * kMu0) / std::complex<double>(sigma1, -sigma2));
}

SuperconductorResponse normalState(double sigmaN, double omega) {
  SuperconductorResponse r;
  r.superconducting = false;
  r.sigma1SPerM = sigmaN;
  r.lambdaEffM = kInfinity;
  r.surfaceImpedanceOhm = bulkSurfaceImpedance(omega, sigmaN, 0.0);
  return r;
}

}  // namespace

double bcsGapRatio(double reducedTemperature) {
  const double t = reducedTemperature;
  if (!(t > 0.0)) return 1.0;
  if (t >= 1.0) return 0.0;
  // g(d) = -ln d - 2 I(d kBcsGapRatio / t) falls from ln(1/t) > 0 at d -> 0 to -2 I < 0 at
  // d = 1: bisection on the ratio d.
  const auto g = [t](double d) { return -std::log(d) - 2.0 * gapIntegral(d * kBcsGapRatio / t); };
  if (!(g(1.0) < 0.0)) return 1.0;  // so cold that the thermal integral is below rounding
  double lo = 0.0, hi = 1.0;
  while (hi - lo > 1e-17 * hi) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    (mid > 0.0 && g(mid) > 0.0 ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

ConductivityRatio mattisBardeenRatio(double hbarOmegaOverGap, double kTOverGap) {
  const double w = hbarOmegaOverGap;
  const double tau = kTOverGap;
  return {sigma1Thermal(w, tau) + sigma1PairBreaking(w, tau), sigma2Integral(w, tau)};
}

SuperconductorResponse mattisBardeenResponse(double tcK, double rhoNMicroOhmCm, double gapMeV,
                                             double temperatureK, double omega) {
  const double sigmaN = 1.0 / (rhoNMicroOhmCm * 1e-8);
  const double gap0 = gapMeV > 0.0 ? gapMeV * kJoulePerMeV : kBcsGapRatio * kBoltzmannJPerK * tcK;
  const double tc = tcK > 0.0 ? tcK : gap0 / (kBcsGapRatio * kBoltzmannJPerK);
  const double gap = gap0 * bcsGapRatio(temperatureK / tc);
  if (!(gap > 0.0)) return normalState(sigmaN, omega);
  const double kT = kBoltzmannJPerK * temperatureK;
  SuperconductorResponse r;
  r.gapMeV = gap / kJoulePerMeV;
  // omega sigma2, finite as omega -> 0: the static London limit.
  double omegaSigma2 = sigmaN * kPiFull * gap / kHbarJS * pairOccupation(gap, kT);
  if (omega > 0.0) {
    const ConductivityRatio ratio = mattisBardeenRatio(kHbarJS * omega / gap, kT / gap);
    r.sigma1SPerM = sigmaN * ratio.sigma1;
    r.sigma2SPerM = sigmaN * ratio.sigma2;
    omegaSigma2 = omega * r.sigma2SPerM;
  } else {
    r.sigma2SPerM = kInfinity;
  }
  r.lambdaEffM = 1.0 / std::sqrt(kMu0 * omegaSigma2);
  r.surfaceImpedanceOhm = bulkSurfaceImpedance(omega, r.sigma1SPerM, r.sigma2SPerM);
  return r;
}

SuperconductorResponse twoFluidResponse(double tcK, double rhoNMicroOhmCm, double lambda0M,
                                        double temperatureK, double omega) {
  const double sigmaN = 1.0 / (rhoNMicroOhmCm * 1e-8);
  const double t = temperatureK / tcK;
  if (!(t < 1.0)) return normalState(sigmaN, omega);
  const double t4 = t * t * t * t;
  SuperconductorResponse r;
  r.lambdaEffM = lambda0M / std::sqrt(1.0 - t4);
  r.sigma1SPerM = sigmaN * t4;
  r.sigma2SPerM = omega > 0.0 ? 1.0 / (omega * kMu0 * r.lambdaEffM * r.lambdaEffM) : kInfinity;
  r.surfaceImpedanceOhm = bulkSurfaceImpedance(omega, r.sigma1SPerM, r.sigma2SPerM);
  return r;
}

SuperconductorResponse patchResponse(const MaterialPatch& patch, double temperatureK, double omega,
                                     double lengthScale) {
  if (patch.model == MaterialModel::kTwoFluid) {
    return twoFluidResponse(patch.tc, patch.rhoN, patch.lambda0 * lengthScale, temperatureK, omega);
  }
  return mattisBardeenResponse(patch.tc, patch.rhoN, patch.gap, temperatureK, omega);
}

}  // namespace qbr
