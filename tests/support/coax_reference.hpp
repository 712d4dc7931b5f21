#pragma once

// Closed-form references for round conductors: the superconducting coax from modified
// Bessel functions, and the internal impedance of a normal-metal wire and tube from a
// Runge-Kutta integration of the radial field equation. Header only, so that the tests
// and the accuracy tool in bench/ share one copy without linking the test library.
// Everything here uses full-precision pi: the references are independent of the
// program's own constants.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>

namespace qbr::reference {

using Cd = std::complex<double>;

inline constexpr double kPiFull = 3.14159265358979323846;
inline constexpr double kMu0Full = 4e-7 * kPiFull;

// The axial field E(r) inside a round conductor satisfies E'' + E'/r + k^2 E = 0 with
// k^2 = -j omega mu sigma (normal metal) or -1/lambda^2 (lossless superconductor). What
// the impedance needs is the log-derivative y = E'/E, which obeys the Riccati equation
//   y' = -y/r - k^2 - y^2.
// Integrated with classical Runge-Kutta in the direction in which E grows, y is drawn to
// the growing solution's value, so the integration is stable and, unlike E itself, never
// overflows, however many skin depths the conductor is thick. No Bessel function is
// involved. Steps of about 1/1000 of a skin depth keep it exact to rounding.
inline Cd integrateLogDerivative(Cd k2, double r0, Cd y, double r1) {
  const double depth = 1.0 / std::sqrt(std::abs(k2));
  const int steps = std::max(20000, static_cast<int>(std::fabs(r1 - r0) / depth * 1000.0));
  const double h = (r1 - r0) / steps;
  const auto rhs = [k2](double r, Cd v) { return -v / r - k2 - v * v; };
  double r = r0;
  for (int i = 0; i < steps; ++i) {
    const Cd a = rhs(r, y);
    const Cd b = rhs(r + h / 2, y + h / 2 * a);
    const Cd c = rhs(r + h / 2, y + h / 2 * b);
    const Cd d = rhs(r + h, y + h * c);
    y += h / 6 * (a + 2.0 * b + 2.0 * c + d);
    r += h;
  }
  return y;
}

// Internal impedance per metre of a round wire of radius a: Z = j omega mu E(a) / (2 pi a
// E'(a)), from H(a) = I / (2 pi a) = E'(a) / (j omega mu). `jOmegaMu` is j omega mu.
inline Cd wireImpedance(Cd k2, Cd jOmegaMu, double a) {
  const double r0 = 1e-6 * a;  // start off the axis with the regular solution, y = -k^2 r / 2
  const Cd y = integrateLogDerivative(k2, r0, -k2 * r0 / 2.0, a);
  return jOmegaMu / (2 * kPiFull * a * y);
}

// The same for a hollow wire a1 < r < a2 carrying the current: no field in its bore, so
// E'(a1) = 0.
inline Cd hollowWireImpedance(Cd k2, Cd jOmegaMu, double a1, double a2) {
  const Cd y = integrateLogDerivative(k2, a1, 0.0, a2);
  return jOmegaMu / (2 * kPiFull * a2 * y);
}

// Internal impedance of the return tube b < r < c, seen at its bore: no field outside
// (E'(c) = 0), the inner current enclosed at r = b.
inline Cd tubeImpedance(Cd k2, Cd jOmegaMu, double b, double c) {
  const Cd y = integrateLogDerivative(k2, c, 0.0, b);
  return -jOmegaMu / (2 * kPiFull * b * y);
}

// Inductance per unit length, in pH/um, of a lossless superconducting coax (wire radius
// a, tube b to c, penetration depth lambda, all in one length unit): the field between
// the conductors, (mu0 / 2 pi) ln(b/a), and the kinetic and internal inductance of the
// current layers on the wire and inside the tube.
struct ScCoaxInductance {
  double external = 0.0;
  double wire = 0.0;
  double tube = 0.0;
  double total() const { return external + wire + tube; }
};

// I0(x)/I1(x) and K0(x)/K1(x), by the asymptotic series where the functions themselves
// overflow or underflow (x above 30: the terms left out are below 1e-16 there).
inline double ratioI0I1(double x) {
  if (x <= 30.0) return std::cyl_bessel_i(0.0, x) / std::cyl_bessel_i(1.0, x);
  // I_nu(x) ~ e^x / sqrt(2 pi x) sum_k (-1)^k a_k(nu) / x^k.
  const auto series = [x](double nu, double sign) {
    const double mu = 4.0 * nu * nu;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 12; ++k) {
      term *= sign * (mu - (2.0 * k - 1.0) * (2.0 * k - 1.0)) / (k * 8.0 * x);
      sum += term;
    }
    return sum;
  };
  return series(0.0, -1.0) / series(1.0, -1.0);
}
inline double ratioK0K1(double x) {
  if (x <= 30.0) return std::cyl_bessel_k(0.0, x) / std::cyl_bessel_k(1.0, x);
  const auto series = [x](double nu) {
    const double mu = 4.0 * nu * nu;
    double term = 1.0, sum = 1.0;
    for (int k = 1; k < 12; ++k) {
      term *= (mu - (2.0 * k - 1.0) * (2.0 * k - 1.0)) / (k * 8.0 * x);
      sum += term;
    }
    return sum;
  };
  return series(0.0) / series(1.0);
}

inline ScCoaxInductance superconductingCoaxInductance(double lambda, double a, double b, double c) {
  ScCoaxInductance l;
  l.external = 0.2 * std::log(b / a);
  l.wire = 0.2 * lambda / a * ratioI0I1(a / lambda);
  const double bl = b / lambda;
  const double cl = c / lambda;
  if (cl - bl > 40.0) {
    // A tube many penetration depths thick: no field reaches its outside.
    l.tube = 0.2 * lambda / b * ratioK0K1(bl);
    return l;
  }
  l.tube = 0.2 * lambda / b *
           (std::cyl_bessel_i(0.0, bl) * std::cyl_bessel_k(1.0, cl) +
            std::cyl_bessel_k(0.0, bl) * std::cyl_bessel_i(1.0, cl)) /
           (std::cyl_bessel_k(1.0, bl) * std::cyl_bessel_i(1.0, cl) -
            std::cyl_bessel_i(1.0, bl) * std::cyl_bessel_k(1.0, cl));
  return l;
}

// Impedance per unit length, in ohm/m times 1e6 (the program's impedance scale), of a
// normal-metal coax: wire radius a, tube b to c in metres, conductivity sigma in S/m,
// relative permeability 1, angular frequency omega in rad/s.
inline Cd normalCoaxImpedance(double sigma, double omega, double a, double b, double c) {
  const Cd jOmegaMu{0.0, omega * kMu0Full};
  const Cd k2 = -jOmegaMu * sigma;
  return (wireImpedance(k2, jOmegaMu, a) + tubeImpedance(k2, jOmegaMu, b, c) +
          jOmegaMu / (2 * kPiFull) * std::log(b / a)) *
         1e6;
}

// Internal impedance of a round normal-metal wire alone, same units as above.
inline Cd normalWireInternalImpedance(double sigma, double omega, double a) {
  const Cd jOmegaMu{0.0, omega * kMu0Full};
  return wireImpedance(-jOmegaMu * sigma, jOmegaMu, a) * 1e6;
}

// The input text of a coax centred on the origin: the wire (conductor 1) run
// counter-clockwise, the tube (conductor 0, the return) with its bore clockwise and its
// outside counter-clockwise. Radii are given in the length unit times `scale`; nA, nB, nC
// are the grid counts of the three circles; `material` and `extra` are further lines.
inline std::string coaxInput(const std::string& unit, const std::string& material, double scale,
                             double a, double b, double c, int nA, int nB, int nC,
                             const std::string& extra = "") {
  char text[1024];
  std::snprintf(text, sizeof text,
                "lengthunit %s\n%s\n%s"
                "pt 0 0 0\n"
                "circle 1 0 %.17g + 0 %d\n"
                "circle 0 0 %.17g - 0 %d\n"
                "circle 0 0 %.17g + 0 %d\n",
                unit.c_str(), material.c_str(), extra.c_str(), a * scale, nA, b * scale, nB,
                c * scale, nC);
  return text;
}

}  // namespace qbr::reference
