// ngspice line models: the CPL element with the RLGC matrices, and the ideal T line.
#include <cstdio>
#include <sstream>
#include <string>

#include "qbr/error.hpp"
#include "qbr/export.hpp"

namespace qbr {

namespace {

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

// The upper triangle row by row, as the CPL model reads a symmetric matrix; the two
// triangles of the computed matrices agree to rounding, and their mean is written.
std::string triangle(const Matrix<double>& m) {
  std::string out;
  for (int r = 0; r < m.rows(); ++r) {
    for (int c = r; c < m.cols(); ++c) {
      out += ' ';
      out += number(0.5 * (m(r, c) + m(c, r)));
    }
  }
  return out;
}

std::string ports(const char* side, int conductors) {
  std::string out;
  for (int c = 1; c <= conductors; ++c) out += std::string(" ") + side + std::to_string(c);
  return out + " " + side + "0";
}

}  // namespace

std::string spiceModel(const Result& result, double lengthM, const std::string& name) {
  if (!result.line) {
    throw Error(
        "\nThe line model needs the capacitance: give the permittivity of the dielectric "
        "(a \"permittivity\" line in the input);\n");
  }
  if (!(lengthM > 0.0)) throw Error("\nThe line model needs a positive length;\n");
  const LineParameters& line = *result.line;
  const int n = result.conductors;
  Matrix<double> resistance = result.resistanceOhmPerM;
  if (line.lossless) resistance = Matrix<double>(n, n);
  std::ostringstream out;
  out << "* qbr line model: " << result.settings.caption << "\n"
      << "* " << n << (n == 1 ? " conductor" : " conductors")
      << (result.hasReturnConductor ? " against conductor 0" : " against the reference")
      << ", length " << number(lengthM) << " m, R and G at " << number(result.frequencyHz)
      << " Hz, relative permittivity " << number(line.permittivityRelative) << ", loss tangent "
      << number(line.lossTangent) << "\n"
      << ".subckt " << name << ports("in", n) << ports("out", n) << "\n"
      << "P1" << ports("in", n) << ports("out", n) << " " << name << "_rlgc len="
      << number(lengthM) << "\n"
      << ".model " << name << "_rlgc cpl length=" << number(lengthM) << "\n"
      << "+ R=" << triangle(resistance) << "\n"
      << "+ L=" << triangle(result.inductanceHPerM) << "\n"
      << "+ G=" << triangle(line.conductanceSPerM) << "\n"
      << "+ C=" << triangle(line.capacitanceFPerM) << "\n"
      << ".ends " << name << "\n";
  if (line.lossless && n == 1) {
    out << "* the ideal line: Z0 and the delay of the length\n"
        << ".subckt " << name << "_ideal in1 in0 out1 out0\n"
        << "T1 in1 in0 out1 out0 Z0=" << number(line.characteristicImpedanceOhm(0, 0).real())
        << " TD=" << number(lengthM * line.modalDelaySPerM[0]) << "\n"
        << ".ends " << name << "_ideal\n";
  }
  return out.str();
}

}  // namespace qbr
