#include "report/roughness_report.hpp"

#include <sstream>

namespace qbr {

void reportRoughness(const RoughnessLosses& losses, double frequencyHz, RunIo& io) {
  std::ostringstream text;
  text << "\nSurface roughness at " << frequencyHz << " hz (the matrix above includes it):\n\n";
  for (const PatchLoss& p : losses.patches) {
    text << "Patch " << p.patch << ": " << p.model;
    if (p.model == "huray") {
      text << "  sphere radius=" << p.sphereRadiusM << "m  spheres=" << p.spheresPerM2 << "/m2";
    } else if (p.model != "none") {
      text << "  rms=" << p.rmsM << "m";
    }
    text << "  skin depth=" << p.skinDepthM << "m  K=" << p.factor << "\n";
  }
  text << "\nR of smooth surfaces [Ohms/m]*1.e6, and each patch's share:\n\n";
  const Matrix<double>& smooth = losses.smoothResistanceOhmPerM;
  for (int i = 0; i < smooth.rows(); ++i) {
    for (int j = i; j < smooth.cols(); ++j) {
      text << "i=" << i + 1 << "  j=" << j + 1 << "   R=" << smooth(i, j) * 1e6;
      for (const PatchLoss& p : losses.patches) {
        text << "   patch " << p.patch << ": " << p.smoothResistanceOhmPerM(i, j) * 1e6;
      }
      text << "\n";
    }
  }
  // The shares come from the power each outline takes in; on a grid these add up to R
  // only within the grid's error, and the rest is shared out in proportion.
  text << "\nThe patches' losses from the boundary solution add up to R within "
       << losses.fluxMismatch << " of its largest entry.\n\n";
  io.console << text.str();
  io.log << text.str();
}

}  // namespace qbr
