// ngspice line models: the CPL element with the RLGC matrices; for a lossless line the
// ideal T line, or for coupled lines their modes as ideal lines between controlled
// sources; for one lossy line the LTRA element.
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bem/lapack_dense.hpp"
#include "bem/line_parameters.hpp"
#include "qbr/error.hpp"
#include "qbr/export.hpp"

namespace qbr {

namespace {

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

// The upper triangle row by row, as the CPL model reads a symmetric matrix (its reading
// of a 3 x 3 matrix was checked on delays of uncoupled lines); the two triangles of the
// computed matrices agree to rounding, and their mean is written.
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

// Symmetric n x n, column-major: eigenvalues ascending, eigenvectors in the columns.
struct SymmetricEigen {
  std::vector<double> values, vectors;
};

SymmetricEigen symmetricEigen(std::vector<double> a, int n) {
  SymmetricEigen out;
  out.values.resize(static_cast<std::size_t>(n));
  int lwork = 64 * n;
  std::vector<double> work(static_cast<std::size_t>(lwork));
  int info = 0;
  dsyev_("V", "U", &n, a.data(), &n, out.values.data(), work.data(), &lwork, &info, 1, 1);
  if (info != 0) throw Error("\nThe modes of the line did not converge;\n");
  out.vectors = std::move(a);
  return out;
}

// The modes of a lossless line (Paul's decoupling of multiconductor lines): with
// C^1/2 L C^1/2 = U diag(mu) U^T, the voltages V = Tv Vm and currents I = Ti Im,
// Tv = C^-1/2 U s and Ti = C^1/2 U / s = Tv^-T, split the line into ideal lines of
// Zm = sqrt(mu) / s^2 and delay sqrt(mu) per metre. s^2, the mean of C's diagonal,
// brings the modal quantities to volts and ohms. Port k at each end: a zero source senses
// I_k, a chain of sources E(k, m) = Tv(k, m) Vm puts the port's voltage together, and
// current sources F(m, k) = Tv(k, m) I_k drive the modal lines with Im = Tv^T I.
std::string modalNetwork(const Matrix<double>& l, const Matrix<double>& c, double length,
                         const std::string& name) {
  const int n = l.rows();
  const auto at = [n](int r, int k) { return static_cast<std::size_t>(k * n + r); };
  std::vector<double> cm(static_cast<std::size_t>(n * n));
  double scale2 = 0.0;
  for (int r = 0; r < n; ++r) {
    scale2 += c(r, r) / n;
    for (int k = 0; k < n; ++k) cm[at(r, k)] = 0.5 * (c(r, k) + c(k, r));
  }
  const SymmetricEigen ce = symmetricEigen(cm, n);
  std::vector<double> root(static_cast<std::size_t>(n * n)), inverseRoot(root.size());
  for (int r = 0; r < n; ++r) {
    for (int k = 0; k < n; ++k) {
      for (int q = 0; q < n; ++q) {
        const double v = ce.vectors[at(r, q)] * ce.vectors[at(k, q)];
        root[at(r, k)] += v * std::sqrt(ce.values[static_cast<std::size_t>(q)]);
        inverseRoot[at(r, k)] += v / std::sqrt(ce.values[static_cast<std::size_t>(q)]);
      }
    }
  }
  std::vector<double> m(root.size());
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      for (int p = 0; p < n; ++p)
        for (int q = 0; q < n; ++q)
          m[at(r, k)] += root[at(r, p)] * 0.5 * (l(p, q) + l(q, p)) * root[at(q, k)];
  const SymmetricEigen modes = symmetricEigen(m, n);
  const double s = std::sqrt(scale2);
  std::vector<double> tv(root.size());
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      for (int p = 0; p < n; ++p)
        tv[at(r, k)] += inverseRoot[at(r, p)] * modes.vectors[at(p, k)] * s;

  std::ostringstream out;
  out << "* the modes as ideal lines between controlled sources\n"
      << ".subckt " << name << ports("in", n) << ports("out", n) << "\n";
  for (int q = 0; q < n; ++q) {
    const double mu = modes.values[static_cast<std::size_t>(q)];
    out << "T" << q + 1 << " min" << q + 1 << " 0 mout" << q + 1
        << " 0 Z0=" << number(std::sqrt(mu) / scale2) << " TD=" << number(length * std::sqrt(mu))
        << "\n";
  }
  for (const std::string side : {"in", "out"}) {
    const std::string mode = side == "in" ? "min" : "mout";
    for (int k = 1; k <= n; ++k) {
      const std::string port = side + std::to_string(k);
      out << "Vs" << port << " " << port << " " << port << "_1 0\n";
      for (int q = 1; q <= n; ++q) {
        const std::string to = q == n ? side + "0" : port + "_" + std::to_string(q + 1);
        out << "E" << port << "_" << q << " " << port << "_" << q << " " << to << " " << mode << q
            << " 0 " << number(tv[at(k - 1, q - 1)]) << "\n";
        out << "F" << port << "_" << q << " 0 " << mode << q << " Vs" << port << " "
            << number(tv[at(k - 1, q - 1)]) << "\n";
      }
    }
  }
  out << ".ends " << name << "\n";
  return out.str();
}

// A model, a length and a frequency fit for a line model.
void checkLineModel(const Result& result, double lengthM) {
  if (!result.line) {
    throw Error(
        "\nThe line model needs the capacitance: give the permittivity of the dielectric "
        "(a \"permittivity\" line in the input);\n");
  }
  if (!(lengthM > 0.0)) throw Error("\nThe line model needs a positive length;\n");
}

void checkScattering(double lengthM, double referenceOhm) {
  if (!(lengthM > 0.0) || !std::isfinite(lengthM)) {
    throw Error("\nThe line model needs a positive length;\n");
  }
  if (!(referenceOhm > 0.0) || !std::isfinite(referenceOhm)) {
    throw Error("\nThe S-parameters need a positive reference impedance;\n");
  }
}

bool validSample(const LineSample& sample, int n) {
  const auto square = [n](const Matrix<std::complex<double>>& m) {
    return m.rows() == n && m.cols() == n;
  };
  return n >= 1 && square(sample.impedanceOhmPerM) && square(sample.admittanceSPerM) &&
         sample.frequencyHz > 0.0 && std::isfinite(sample.frequencyHz);
}

}  // namespace

Matrix<std::complex<double>> scattering(const LineSample& sample, double lengthM,
                                        double referenceOhm) {
  checkScattering(lengthM, referenceOhm);
  if (!validSample(sample, sample.impedanceOhmPerM.rows())) {
    throw Error("\nThe S-parameters need one model at frequencies above 0;\n");
  }
  return lineScattering(sample.impedanceOhmPerM, sample.admittanceSPerM, lengthM, referenceOhm);
}

std::string touchstone(const std::vector<LineSample>& samples, double lengthM, double referenceOhm,
                       const std::string& caption) {
  if (samples.empty()) throw Error("\nThe S-parameters need at least one frequency;\n");
  checkScattering(lengthM, referenceOhm);
  const int n = samples.front().impedanceOhmPerM.rows();
  std::ostringstream out;
  out << "! qbr: S-parameters of " << number(lengthM) << " m of line"
      << (caption.empty() ? "" : ": " + caption) << "\n! ports 1.." << n
      << ": near ends of conductors 1.." << n << "; " << n + 1 << ".." << 2 * n
      << ": their far ends\n# Hz S RI R " << number(referenceOhm) << "\n";
  for (const LineSample& sample : samples) {
    if (!validSample(sample, n)) {
      throw Error("\nThe S-parameters need one model at frequencies above 0;\n");
    }
    const Matrix<std::complex<double>> s =
        lineScattering(sample.impedanceOhmPerM, sample.admittanceSPerM, lengthM, referenceOhm);
    const auto entry = [&](int i, int j) {
      std::string text = " ";
      text += number(s(i, j).real());
      text += ' ';
      text += number(s(i, j).imag());
      return text;
    };
    out << number(sample.frequencyHz);
    if (n == 1) {
      out << entry(0, 0) << entry(1, 0) << entry(0, 1) << entry(1, 1) << "\n";
      continue;
    }
    for (int i = 0; i < 2 * n; ++i) {
      for (int j = 0; j < 2 * n; ++j) {
        if (j > 0 && j % 4 == 0) out << "\n";
        out << entry(i, j);
      }
      out << "\n";
    }
  }
  return out.str();
}

std::string touchstone(const std::vector<Result>& sweep, double lengthM, double referenceOhm) {
  if (sweep.empty()) throw Error("\nThe S-parameters need at least one frequency;\n");
  std::vector<LineSample> samples;
  for (const Result& r : sweep) {
    checkLineModel(r, lengthM);
    const LineParameters& line = *r.line;
    const int n = r.conductors;
    const double w = r.omegaRadPerS;
    LineSample sample{r.frequencyHz, Matrix<std::complex<double>>(n, n),
                      Matrix<std::complex<double>>(n, n)};
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        // A lossless line's R is rounding noise: left out, as in its line parameters.
        sample.impedanceOhmPerM(i, j) = line.lossless
                                            ? std::complex<double>(0.0, w * r.inductanceHPerM(i, j))
                                            : r.impedanceOhmPerM(i, j);
        sample.admittanceSPerM(i, j) = {line.conductanceSPerM(i, j),
                                        w * line.capacitanceFPerM(i, j)};
      }
    }
    samples.push_back(std::move(sample));
  }
  return touchstone(samples, lengthM, referenceOhm, sweep.front().settings.caption);
}

std::string spiceModel(const Result& result, double lengthM, const std::string& name) {
  checkLineModel(result, lengthM);
  const LineParameters& line = *result.line;
  const int n = result.conductors;
  Matrix<double> resistance = result.resistanceOhmPerM;
  if (line.lossless) resistance = Matrix<double>(n, n);
  const std::string rlgc = name + "_rlgc";
  std::ostringstream out;
  out << "* qbr line model: " << result.settings.caption << "\n"
      << "* " << n << (n == 1 ? " conductor" : " conductors")
      << (result.hasReturnConductor          ? " against conductor 0"
          : result.settings.symmetry == "on" ? " against the ground plane y = 0"
                                             : " against the reference one length unit away")
      << ", length " << number(lengthM) << " m, R and G at " << number(result.frequencyHz)
      << " Hz, relative permittivity " << number(line.permittivityRelative) << ", loss tangent "
      << number(line.lossTangent) << "\n"
      << "* the RLGC matrices per metre in ngspice's coupled-line element\n"
      << ".subckt " << rlgc << ports("in", n) << ports("out", n) << "\n"
      << "P1" << ports("in", n) << ports("out", n) << " " << rlgc << " len=" << number(lengthM)
      << "\n"
      << ".model " << rlgc << " cpl length=" << number(lengthM) << "\n"
      << "+ R=" << triangle(resistance) << "\n"
      << "+ L=" << triangle(result.inductanceHPerM) << "\n"
      << "+ G=" << triangle(line.conductanceSPerM) << "\n"
      << "+ C=" << triangle(line.capacitanceFPerM) << "\n"
      << ".ends " << rlgc << "\n";
  if (!line.lossless && n == 1) {
    out << "* the lossy line (ngspice's LTRA) with the same R, L, G, C\n"
        << ".subckt " << name << " in1 in0 out1 out0\n"
        << "O1 in1 in0 out1 out0 " << name << "_ltra\n"
        << ".model " << name << "_ltra ltra R=" << number(resistance(0, 0))
        << " L=" << number(result.inductanceHPerM(0, 0))
        << " G=" << number(line.conductanceSPerM(0, 0))
        << " C=" << number(line.capacitanceFPerM(0, 0)) << " LEN=" << number(lengthM) << "\n"
        << ".ends " << name << "\n";
  } else if (!line.lossless) {
    out << ".subckt " << name << ports("in", n) << ports("out", n) << "\n"
        << "X1" << ports("in", n) << ports("out", n) << " " << rlgc << "\n"
        << ".ends " << name << "\n";
  } else if (n == 1) {
    out << "* the ideal line: Z0 and the delay of the length\n"
        << ".subckt " << name << " in1 in0 out1 out0\n"
        << "T1 in1 in0 out1 out0 Z0=" << number(line.characteristicImpedanceOhm(0, 0).real())
        << " TD=" << number(lengthM * line.modalDelaySPerM[0]) << "\n"
        << ".ends " << name << "\n";
  } else {
    out << modalNetwork(result.inductanceHPerM, line.capacitanceFPerM, lengthM, name);
  }
  return out.str();
}

}  // namespace qbr
