#include "bem/line_parameters.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "bem/lapack_dense.hpp"

namespace qbr {

namespace {

using Complex = std::complex<double>;

std::size_t idx(int i) {
  return static_cast<std::size_t>(i);
}

// Column-major n x n, as LAPACK takes it.
struct Square {
  int n;
  std::vector<Complex> a;
  explicit Square(int size) : n(size), a(idx(size * size)) {}
  Complex& operator()(int r, int c) { return a[idx(c * n + r)]; }
  Complex operator()(int r, int c) const { return a[idx(c * n + r)]; }
};

Square product(const Square& x, const Square& y) {
  Square out(x.n);
  for (int r = 0; r < x.n; ++r)
    for (int c = 0; c < x.n; ++c)
      for (int k = 0; k < x.n; ++k) out(r, c) += x(r, k) * y(k, c);
  return out;
}

// M = T diag(values) T^-1.
struct Eigen {
  std::vector<Complex> values;
  Square vectors;
};

Eigen eigen(Square m) {
  const int n = m.n;
  Eigen out{std::vector<Complex>(idx(n)), Square(n)};
  std::vector<Complex> work(idx(4 * n + 4));
  std::vector<double> rwork(idx(2 * n));
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  Complex unusedLeft;
  const int one = 1;
  zgeev_("N", "V", &n, m.a.data(), &n, out.values.data(), &unusedLeft, &one, out.vectors.a.data(),
         &n, work.data(), &lwork, rwork.data(), &info, 1, 1);
  if (info != 0) throw std::runtime_error("lineParameters: the modes did not converge");
  return out;
}

// a^-1 b for the columns of b.
Square solve(Square a, Square b) {
  std::vector<int> pivots(idx(a.n));
  int info = 0;
  const int columns = b.n;
  zgesv_(&a.n, &columns, a.a.data(), &a.n, pivots.data(), b.a.data(), &a.n, &info);
  if (info != 0) throw std::runtime_error("lineParameters: a singular matrix");
  return b;
}

}  // namespace

namespace {

// The modes and the characteristic impedance from L, R, C and G (G computed by `g`).
template <typename Conductance>
LineParameters modesOf(const Matrix<double>& inductance, const Matrix<double>& resistance,
                       const Matrix<double>& capacitance, double omega, bool lossless,
                       const Conductance& conductance) {
  const int n = inductance.rows();
  LineParameters p;
  p.lossless = lossless;
  p.capacitanceFPerM = capacitance;
  p.conductanceSPerM = Matrix<double>(n, n);
  // Per unit of j omega: L - j R / omega and C - j G / omega, so that Z Y = (j omega)^2 M.
  Square l(n), c(n);
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) {
      const double g = lossless ? 0.0 : conductance(r, k);
      p.conductanceSPerM(r, k) = g;
      l(r, k) = lossless ? Complex(inductance(r, k))
                         : Complex(inductance(r, k), -resistance(r, k) / omega);
      c(r, k) = lossless ? Complex(capacitance(r, k)) : Complex(capacitance(r, k), -g / omega);
    }
  }
  // M = (L - j R / omega) (C - j G / omega) = T S^2 T^-1: gamma = j omega s, the forward
  // root with Re s > 0.
  const Eigen modes = eigen(product(l, c));
  const Square& t = modes.vectors;
  std::vector<Complex> s(idx(n));
  for (int k = 0; k < n; ++k) s[idx(k)] = std::sqrt(modes.values[idx(k)]);

  // Zc = Gamma^-1 Z = T S^-1 T^-1 (L - j R / omega).
  Square x = solve(t, l);
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k) x(r, k) /= s[idx(r)];
  const Square zc = product(t, x);
  p.characteristicImpedanceOhm = Matrix<Complex>(n, n);
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      p.characteristicImpedanceOhm(r, k) = lossless ? Complex(zc(r, k).real()) : zc(r, k);

  std::vector<int> order(idx(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return s[idx(a)].real() < s[idx(b)].real(); });
  for (const int k : order) {
    const Complex root = lossless ? Complex(s[idx(k)].real()) : s[idx(k)];
    p.modalPropagationPerM.push_back(Complex(0.0, omega) * root);
    p.modalDelaySPerM.push_back(root.real());
    p.modalVelocityMPerS.push_back(1.0 / root.real());
    p.modalAttenuationNpPerM.push_back(lossless ? 0.0 : -omega * root.imag());
  }
  return p;
}

}  // namespace

LineParameters lineParameters(const Matrix<double>& inductance, const Matrix<double>& resistance,
                              const Matrix<double>& capacitance, double omega,
                              double permittivityRelative, double lossTangent, bool lossless) {
  LineParameters p = modesOf(inductance, resistance, capacitance, omega, lossless,
                             [&](int r, int k) { return omega * lossTangent * capacitance(r, k); });
  p.permittivityRelative = permittivityRelative;
  p.lossTangent = lossTangent;
  const int n = capacitance.rows();
  p.vacuumCapacitanceFPerM = Matrix<double>(n, n);
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      p.vacuumCapacitanceFPerM(r, k) = capacitance(r, k) / permittivityRelative;
  return p;
}

LineParameters lineParameters(const Matrix<double>& inductance, const Matrix<double>& resistance,
                              const Matrix<double>& capacitance, const Matrix<double>& conductance,
                              double omega, bool lossless) {
  return modesOf(inductance, resistance, capacitance, omega, lossless,
                 [&](int r, int k) { return conductance(r, k); });
}

LineDetails lineDetails(const LineParameters& line, const Matrix<double>& inductance,
                        const Matrix<double>& resistance, double omega) {
  constexpr double kSpeedOfLight = 299792458.0;
  constexpr double kMu0Eps0 = 1.0 / (kSpeedOfLight * kSpeedOfLight);
  const int n = inductance.rows();
  LineDetails d;
  for (const double delay : line.modalDelaySPerM) {
    const double ratio = delay * kSpeedOfLight;
    d.modalEffectivePermittivity.push_back(ratio * ratio);
  }
  // The two parts of the loss: each loss alone, everything else as it is.
  const Matrix<double> none(n, n);
  const bool still = line.lossless || omega == 0.0;
  const LineParameters conductorOnly =
      still ? line
            : lineParameters(inductance, resistance, line.capacitanceFPerM, none, omega, false);
  const LineParameters dielectricOnly =
      still ? line
            : lineParameters(inductance, none, line.capacitanceFPerM, line.conductanceSPerM, omega,
                             false);
  d.modalConductorAttenuationNpPerM = conductorOnly.modalAttenuationNpPerM;
  d.modalDielectricAttenuationNpPerM = dielectricOnly.modalAttenuationNpPerM;

  // L_ext = mu0 eps0 C0^-1.
  Square c0(n), identity(n);
  for (int r = 0; r < n; ++r) {
    identity(r, r) = 1.0;
    for (int k = 0; k < n; ++k) c0(r, k) = line.vacuumCapacitanceFPerM(r, k);
  }
  const Square inverse = solve(c0, identity);
  d.externalInductanceHPerM = Matrix<double>(n, n);
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      d.externalInductanceHPerM(r, k) = kMu0Eps0 * 0.5 * (inverse(r, k) + inverse(k, r)).real();
  for (int i = 0; i < n; ++i) {
    const double internal = inductance(i, i) - d.externalInductanceHPerM(i, i);
    d.internalInductanceHPerM.push_back(internal);
    d.internalFraction.push_back(internal / inductance(i, i));
  }

  if (n == 2) {
    d.pair = true;
    const Matrix<Complex>& z = line.characteristicImpedanceOhm;
    const Complex self = 0.5 * (z(0, 0) + z(1, 1));
    const Complex mutual = 0.5 * (z(0, 1) + z(1, 0));
    d.evenOhm = self + mutual;
    d.oddOhm = self - mutual;
    d.differentialOhm = 2.0 * d.oddOhm;
    d.commonOhm = 0.5 * d.evenOhm;
    const double l = 0.5 * (inductance(0, 0) + inductance(1, 1));
    const double lm = 0.5 * (inductance(0, 1) + inductance(1, 0));
    const double c = 0.5 * (line.capacitanceFPerM(0, 0) + line.capacitanceFPerM(1, 1));
    const double cm = -0.5 * (line.capacitanceFPerM(0, 1) + line.capacitanceFPerM(1, 0));
    d.nearEndCoupling = 0.25 * (lm / l + cm / c);
    d.farEndCouplingSPerM = -0.5 * std::sqrt(l * c) * (lm / l - cm / c);
  }
  return d;
}

Matrix<Complex> lineScattering(const Matrix<Complex>& impedance, const Matrix<Complex>& admittance,
                               double lengthM, double referenceOhm) {
  const int n = impedance.rows();
  Square z(n), y(n);
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) {
      z(r, k) = impedance(r, k);
      y(r, k) = admittance(r, k);
    }
  }
  // Z Y = T Gamma^2 T^-1; the currents of the modes' voltages T are Yc T = Z^-1 T Gamma.
  const Eigen modes = eigen(product(z, y));
  const Square& t = modes.vectors;
  Square tGamma = t;
  std::vector<Complex> e(idx(n));
  for (int k = 0; k < n; ++k) {
    const Complex gamma = std::sqrt(modes.values[idx(k)]);
    for (int r = 0; r < n; ++r) tGamma(r, k) *= gamma;
    e[idx(k)] = std::exp(-gamma * lengthM);
  }
  const Square ycT = solve(z, tGamma);
  // With V(x) = T (e^-Gamma x f + e^-Gamma (l - x) g) and the power waves (V +- z I)/(2 sqrt z)
  // at the ports (currents into the line), incident a = P (f, g) and reflected b = Q (f, g):
  // P = [[Ap, Am E], [Am E, Ap]], Q = [[Am, Ap E], [Ap E, Am]], Ap,m = T +- z Yc T,
  // E = e^-Gamma l, every block bounded however long or lossy the line. S = Q P^-1.
  const int m = 2 * n;
  Square pT(m), qT(m);  // P and Q transposed: S^T = P^-T Q^T
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) {
      const Complex plus = t(r, k) + referenceOhm * ycT(r, k);
      const Complex minus = t(r, k) - referenceOhm * ycT(r, k);
      const Complex ek = e[idx(k)];
      pT(k, r) = plus;
      pT(k + n, r + n) = plus;
      pT(k + n, r) = minus * ek;
      pT(k, r + n) = minus * ek;
      qT(k, r) = minus;
      qT(k + n, r + n) = minus;
      qT(k + n, r) = plus * ek;
      qT(k, r + n) = plus * ek;
    }
  }
  const Square sT = solve(pT, qT);
  Matrix<Complex> out(m, m);
  for (int r = 0; r < m; ++r)
    for (int k = 0; k < m; ++k) out(r, k) = sT(k, r);
  return out;
}

}  // namespace qbr
