#include "report/line_report.hpp"

#include <cmath>
#include <sstream>
#include <string>

namespace qbr {

namespace {

constexpr double kSpeedOfLight = 299792458.0;

// Attenuation in dB per Np.
const double kDecibelPerNeper = 20.0 / std::log(10.0);

template <typename T>
void matrixLines(std::ostream& text, const Matrix<T>& m, double scale) {
  for (int i = 0; i < m.rows(); ++i)
    for (int j = 0; j < m.cols(); ++j)
      text << i + 1 << "  " << j + 1 << "   " << m(i, j) * scale << "\n";
}

void impedanceValue(std::ostream& text, std::complex<double> z, bool lossless) {
  if (lossless) {
    text << z.real();
  } else {
    text << z;
  }
}

void impedanceMatrixLines(std::ostream& text, const LineParameters& line) {
  text << "\nCharacteristic impedance matrix [ohm]:\n\n";
  for (int i = 0; i < line.characteristicImpedanceOhm.rows(); ++i) {
    for (int j = 0; j < line.characteristicImpedanceOhm.cols(); ++j) {
      text << i + 1 << "  " << j + 1 << "   ";
      impedanceValue(text, line.characteristicImpedanceOhm(i, j), line.lossless);
      text << "\n";
    }
  }
}

}  // namespace

void reportLineParameters(const LineParameters& line, double frequencyHz,
                          const std::string& reference, RunIo& io) {
  std::ostringstream text;
  text << "\nCapacitance matrix [pF/m] (relative permittivity " << line.permittivityRelative;
  if (!reference.empty()) text << "; potentials against " << reference;
  text << "):\n\n";
  matrixLines(text, line.capacitanceFPerM, 1e12);
  if (line.lossTangent > 0.0) {
    text << "\nConductance matrix [S/m] (loss tangent " << line.lossTangent << "):\n\n";
    matrixLines(text, line.conductanceSPerM, 1.0);
  }
  text << "\nLine parameters at " << frequencyHz << " hz" << (line.lossless ? ", lossless" : "")
       << ":\n\n";
  const std::size_t modes = line.modalVelocityMPerS.size();
  if (modes == 1) {
    text << "Z0 [ohm]:  ";
    impedanceValue(text, line.characteristicImpedanceOhm(0, 0), line.lossless);
    text << "\nPhase velocity [m/s]:  " << line.modalVelocityMPerS[0] << " ("
         << line.modalVelocityMPerS[0] / kSpeedOfLight << " c)\n";
    text << "Delay [ps/mm]:  " << line.modalDelaySPerM[0] * 1e9 << "\n";
    if (!line.lossless) {
      text << "Attenuation [dB/m]:  " << line.modalAttenuationNpPerM[0] * kDecibelPerNeper << "\n";
    }
  } else {
    text << "Mode   velocity [m/s]   (of c)   delay [ps/mm]"
         << (line.lossless ? "" : "   attenuation [dB/m]") << "\n";
    for (std::size_t k = 0; k < modes; ++k) {
      text << k + 1 << "   " << line.modalVelocityMPerS[k] << "   "
           << line.modalVelocityMPerS[k] / kSpeedOfLight << "   " << line.modalDelaySPerM[k] * 1e9;
      if (!line.lossless) text << "   " << line.modalAttenuationNpPerM[k] * kDecibelPerNeper;
      text << "\n";
    }
    impedanceMatrixLines(text, line);
  }
  text << "\n";
  io.console << text.str();
  io.log << text.str();
}

void reportLineParameters(const LineParameters& line, double frequencyHz,
                          const std::string& reference, RunIo& io, const LineDetails& details) {
  std::ostringstream text;
  const bool lossy = !line.lossless;
  text << "\nCapacitance matrix [pF/m] (dielectric regions: " << line.dielectricRegions;
  if (!reference.empty()) text << "; potentials against " << reference;
  text << "):\n\n";
  matrixLines(text, line.capacitanceFPerM, 1e12);
  text << "\nCapacitance matrix in vacuum [pF/m]:\n\n";
  matrixLines(text, line.vacuumCapacitanceFPerM, 1e12);
  bool dielectricLoss = false;
  for (const double g : line.conductanceSPerM.rowMajor())
    dielectricLoss = dielectricLoss || g != 0.0;
  if (dielectricLoss) {
    text << "\nConductance matrix [S/m]:\n\n";
    matrixLines(text, line.conductanceSPerM, 1.0);
  }
  text << "\nLine parameters at " << frequencyHz << " hz" << (line.lossless ? ", lossless" : "")
       << ":\n\n";
  const std::size_t modes = line.modalVelocityMPerS.size();
  const auto attenuation = [&](std::size_t k) {
    // + 0.0: a loss that is not there prints as 0, not -0.
    text << line.modalAttenuationNpPerM[k] * kDecibelPerNeper + 0.0 << " (conductors "
         << details.modalConductorAttenuationNpPerM[k] * kDecibelPerNeper + 0.0 << ", dielectric "
         << details.modalDielectricAttenuationNpPerM[k] * kDecibelPerNeper + 0.0 << ")";
  };
  if (modes == 1) {
    text << "Z0 [ohm]:  ";
    impedanceValue(text, line.characteristicImpedanceOhm(0, 0), line.lossless);
    text << "\nEffective permittivity:  " << details.modalEffectivePermittivity[0];
    text << "\nPhase velocity [m/s]:  " << line.modalVelocityMPerS[0] << " ("
         << line.modalVelocityMPerS[0] / kSpeedOfLight << " c)\n";
    text << "Delay [ps/mm]:  " << line.modalDelaySPerM[0] * 1e9 << "\n";
    if (lossy) {
      text << "Attenuation [dB/m]:  ";
      attenuation(0);
      text << "\n";
    }
  } else {
    text << "Mode   eps_eff   velocity [m/s]   (of c)   delay [ps/mm]"
         << (line.lossless ? "" : "   attenuation [dB/m] (conductors, dielectric)") << "\n";
    for (std::size_t k = 0; k < modes; ++k) {
      text << k + 1 << "   " << details.modalEffectivePermittivity[k] << "   "
           << line.modalVelocityMPerS[k] << "   " << line.modalVelocityMPerS[k] / kSpeedOfLight
           << "   " << line.modalDelaySPerM[k] * 1e9;
      if (lossy) {
        text << "   ";
        attenuation(k);
      }
      text << "\n";
    }
    impedanceMatrixLines(text, line);
  }
  if (details.pair) {
    text << "\nEven and odd mode impedance [ohm]:  ";
    impedanceValue(text, details.evenOhm, line.lossless);
    text << "   ";
    impedanceValue(text, details.oddOhm, line.lossless);
    text << "\nDifferential and common mode impedance [ohm]:  ";
    impedanceValue(text, details.differentialOhm, line.lossless);
    text << "   ";
    impedanceValue(text, details.commonOhm, line.lossless);
    text << "\nCrosstalk coefficients: near end " << details.nearEndCoupling << ", far end "
         << details.farEndCouplingSPerM * 1e9 << " ps/mm\n";
  }
  text << "\nInductance per conductor [pH/um]: external, internal (or kinetic), its share of "
          "L\n\n";
  for (std::size_t i = 0; i < details.internalInductanceHPerM.size(); ++i) {
    const int c = static_cast<int>(i);
    text << c + 1 << "   " << details.externalInductanceHPerM(c, c) * 1e6 << "   "
         << details.internalInductanceHPerM[i] * 1e6 << "   " << details.internalFraction[i]
         << "\n";
  }
  text << "\n";
  io.console << text.str();
  io.log << text.str();
}

}  // namespace qbr
