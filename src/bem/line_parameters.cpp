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

}  // namespace

LineParameters lineParameters(const Matrix<double>& inductance, const Matrix<double>& resistance,
                              const Matrix<double>& capacitance, double omega,
                              double permittivityRelative, double lossTangent, bool lossless) {
  const int n = inductance.rows();
  LineParameters p;
  p.permittivityRelative = permittivityRelative;
  p.lossTangent = lossTangent;
  p.lossless = lossless;
  p.capacitanceFPerM = capacitance;
  p.conductanceSPerM = Matrix<double>(n, n);
  // Per unit of j omega: L - j R / omega and C - j G / omega, so that Z Y = (j omega)^2 M.
  Square l(n), c(n);
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) {
      const double g = lossless ? 0.0 : omega * lossTangent * capacitance(r, k);
      p.conductanceSPerM(r, k) = g;
      l(r, k) = lossless ? Complex(inductance(r, k))
                         : Complex(inductance(r, k), -resistance(r, k) / omega);
      c(r, k) = lossless ? Complex(capacitance(r, k)) : Complex(capacitance(r, k), -g / omega);
    }
  }
  Square m = product(l, c);

  // M = T S^2 T^-1: gamma = j omega s, the forward root with Re s > 0.
  std::vector<Complex> eigen(idx(n));
  Square t(n);
  std::vector<Complex> work(idx(4 * n + 4));
  std::vector<double> rwork(idx(2 * n));
  const int lwork = static_cast<int>(work.size());
  int info = 0;
  Complex unusedLeft;
  const int one = 1;
  zgeev_("N", "V", &n, m.a.data(), &n, eigen.data(), &unusedLeft, &one, t.a.data(), &n, work.data(),
         &lwork, rwork.data(), &info, 1, 1);
  if (info != 0) throw std::runtime_error("lineParameters: the modes did not converge");
  std::vector<Complex> s(idx(n));
  for (int k = 0; k < n; ++k) s[idx(k)] = std::sqrt(eigen[idx(k)]);

  // Zc = Gamma^-1 Z = T S^-1 T^-1 (L - j R / omega).
  Square factors = t;
  Square x = l;
  std::vector<int> pivots(idx(n));
  zgesv_(&n, &n, factors.a.data(), &n, pivots.data(), x.a.data(), &n, &info);
  if (info != 0) throw std::runtime_error("lineParameters: the modes are not independent");
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

}  // namespace qbr
