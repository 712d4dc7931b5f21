#pragma once

// The direct-current inductance of rectangular bars: with uniform current in each bar,
// the inductance per unit length is (mu0 / 2 pi) times combinations of ln GMD, the mean of
// ln r over all pairs of points of two rectangles. That mean has a closed form: the
// fourfold integral of ln r is a sum over the corner differences of a fourth
// antiderivative. Header only, shared by the tests and the accuracy tool.

#include <cmath>

namespace qbr::reference {

struct Bar {
  double x1, x2, y1, y2;
  double area() const { return (x2 - x1) * (y2 - y1); }
};

// Phi with d^4 Phi / du^2 dv^2 = ln sqrt(u^2 + v^2); terms that vanish in the corner sums
// (at most linear in u or in v) are left out. Even in u and in v.
inline double logAntiderivative(double u, double v) {
  const double r2 = u * u + v * v;
  if (r2 == 0.0) return 0.0;
  const double lg = std::log(r2);
  double phi = -(u * u * u * u + v * v * v * v) * lg / 48.0 + u * u * v * v * lg / 8.0 -
               25.0 / 48.0 * u * u * v * v;
  if (u != 0.0 && v != 0.0)
    phi += u * u * u * v * std::atan(v / u) / 6.0 + u * v * v * v * std::atan(u / v) / 6.0;
  return phi;
}

// The mean of ln r over a point of `a` and a point of `b`.
inline double meanLogDistance(const Bar& a, const Bar& b) {
  const double us[4] = {a.x2 - b.x1, a.x2 - b.x2, a.x1 - b.x1, a.x1 - b.x2};
  const double vs[4] = {a.y2 - b.y1, a.y2 - b.y2, a.y1 - b.y1, a.y1 - b.y2};
  const double sign[4] = {1.0, -1.0, -1.0, 1.0};
  double sum = 0.0;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) sum += sign[i] * sign[j] * logAntiderivative(us[i], vs[j]);
  return sum / (a.area() * b.area());
}

// Loop inductance per unit length, in pH/um (= uH/m), of a bar carrying a current and a
// bar returning it, both uniformly.
inline double directCurrentInductance(const Bar& signal, const Bar& ground) {
  return 0.2 * (2.0 * meanLogDistance(signal, ground) - meanLogDistance(signal, signal) -
                meanLogDistance(ground, ground));
}

}  // namespace qbr::reference
