#pragma once

// Closed-form references for round conductors: the superconducting coax from modified
// Bessel functions, and the internal impedance of a normal-metal wire and tube from a
// Runge-Kutta integration of the radial field equation. Header only, so that the tests
// and the accuracy tool in bench/ share one copy without linking the test library.
// Everything here uses full-precision pi: the references are independent of the
// program's own constants.

#include <cmath>
#include <complex>
#include <cstdio>
#include <string>

namespace qbr::reference {

using Cd = std::complex<double>;

inline constexpr double kPiFull = 3.14159265358979323846;
inline constexpr double kMu0Full = 4e-7 * kPiFull;

// The axial field E(r) inside a round conductor satisfies E'' + E'/r + k^2 E = 0 with
// k^2 = -j omega mu sigma (normal metal) or -1/lambda^2 (lossless superconductor).
// Integrated with classical Runge-Kutta in the direction in which the solution grows,
// which is stable; no Bessel function is involved.
struct FieldState {
  Cd e;
  Cd de;
};

inline FieldState integrateField(Cd k2, double r0, FieldState start, double r1, int steps) {
  const double h = (r1 - r0) / steps;
  const auto rhs = [k2](double r, const FieldState& s) {
    return FieldState{s.de, -s.de / r - k2 * s.e};
  };
  FieldState s = start;
  double r = r0;
  for (int i = 0; i < steps; ++i) {
    const FieldState a = rhs(r, s);
    const FieldState b = rhs(r + h / 2, {s.e + h / 2 * a.e, s.de + h / 2 * a.de});
    const FieldState c = rhs(r + h / 2, {s.e + h / 2 * b.e, s.de + h / 2 * b.de});
    const FieldState d = rhs(r + h, {s.e + h * c.e, s.de + h * c.de});
    s.e += h / 6 * (a.e + 2.0 * b.e + 2.0 * c.e + d.e);
    s.de += h / 6 * (a.de + 2.0 * b.de + 2.0 * c.de + d.de);
    r += h;
  }
  return s;
}

// Internal impedance per metre of a round wire of radius a: Z = j omega mu E(a) / (2 pi a
// E'(a)), from H(a) = I / (2 pi a) = E'(a) / (j omega mu). `jOmegaMu` is j omega mu.
inline Cd wireImpedance(Cd k2, Cd jOmegaMu, double a, int steps = 20000) {
  const double r0 = 1e-4 * a;  // start off the axis with the regular series
  const FieldState start{1.0 - k2 * r0 * r0 / 4.0, -k2 * r0 / 2.0};
  const FieldState end = integrateField(k2, r0, start, a, steps);
  return jOmegaMu * end.e / (2 * kPiFull * a * end.de);
}

// Internal impedance of the return tube b < r < c, seen at its bore: no field outside
// (E'(c) = 0), the inner current enclosed at r = b.
inline Cd tubeImpedance(Cd k2, Cd jOmegaMu, double b, double c, int steps = 20000) {
  const FieldState end = integrateField(k2, c, {1.0, 0.0}, b, steps);
  return -jOmegaMu * end.e / (2 * kPiFull * b * end.de);
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

inline ScCoaxInductance superconductingCoaxInductance(double lambda, double a, double b, double c) {
  ScCoaxInductance l;
  l.external = 0.2 * std::log(b / a);
  l.wire =
      0.2 * lambda / a * std::cyl_bessel_i(0.0, a / lambda) / std::cyl_bessel_i(1.0, a / lambda);
  const double bl = b / lambda;
  const double cl = c / lambda;
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
