#include "report/superconductor_report.hpp"

#include <cmath>
#include <sstream>
#include <string>

namespace qbr {

namespace {

void patchLines(std::ostream& text, const SuperconductingPatch& p) {
  const SuperconductorResponse& r = p.response;
  text << "Patch " << p.patch << " (" << (p.model == "mb" ? "Mattis-Bardeen" : "two-fluid")
       << ", Tc " << p.tcK << " K):  ";
  if (!r.superconducting) {
    text << "normal state (T >= Tc)  sigma " << r.sigma1SPerM << " S/m\n";
  } else {
    if (p.model == "mb") text << "gap " << r.gapMeV << " meV  ";
    text << "lambda_eff " << r.lambdaEffM << " m  sigma1 " << r.sigma1SPerM << " S/m  sigma2 "
         << r.sigma2SPerM << " S/m\n";
  }
  text << "  surface impedance of a film many lambda thick [ohm]:  " << r.surfaceImpedanceOhm
       << "\n";
}

}  // namespace

void reportSuperconductors(const SuperconductorReport& report, double frequencyHz, RunIo& io) {
  std::ostringstream text;
  text << "\nSuperconductors at " << report.temperatureK << " K and " << frequencyHz << " hz:\n\n";
  for (const SuperconductingPatch& p : report.patches) patchLines(text, p);
  text << "\nKinetic inductance [pH/um], L_k = L - L_ext (L_ext = mu0 eps0 / C0 of perfect "
          "conductors):\n\n"
       << "Conductor   L   L_ext   L_k   alpha = L_k / L\n";
  const int n = report.kineticInductanceHPerM.rows();
  for (int c = 0; c < n; ++c) {
    const double lk = report.kineticInductanceHPerM(c, c);
    const double lext = report.externalInductanceHPerM(c, c);
    text << c + 1 << "   " << (lk + lext) * 1e6 << "   " << lext * 1e6 << "   " << lk * 1e6 << "   "
         << report.kineticFraction[static_cast<std::size_t>(c)] << "\n";
  }
  if (report.conductorQ.empty()) {
    text << "\nConductor loss: none at zero frequency.\n";
  } else {
    text << "\nQuality factor of the conductor loss, Q_c = omega L / R:\n\n";
    for (int c = 0; c < n; ++c) {
      const double q = report.conductorQ[static_cast<std::size_t>(c)];
      text << c + 1 << "   ";
      if (std::isinf(q)) {
        text << "inf (no normal fluid: no loss)";
      } else {
        text << q;
      }
      text << "\n";
    }
  }
  text << "\n";
  io.console << text.str();
  io.log << text.str();
}

}  // namespace qbr
