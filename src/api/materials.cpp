// The superconductors' material models for callers of the library.
#include "qbr/materials.hpp"

#include "model/constants.hpp"
#include "prep/materials.hpp"

namespace qbr {

namespace {

// The program's angular frequency, so that a patch and a call of these functions agree
// to the bit.
double omegaOf(double frequencyHz) {
  return kPi * frequencyHz + kPi * frequencyHz;
}

}  // namespace

SuperconductorResponse mattisBardeen(double tcK, double rhoNMicroOhmCm, double temperatureK,
                                     double frequencyHz, double gapMeV) {
  return mattisBardeenResponse(tcK, rhoNMicroOhmCm, gapMeV, temperatureK, omegaOf(frequencyHz));
}

SuperconductorResponse twoFluid(double tcK, double rhoNMicroOhmCm, double lambda0M,
                                double temperatureK, double frequencyHz) {
  return twoFluidResponse(tcK, rhoNMicroOhmCm, lambda0M, temperatureK, omegaOf(frequencyHz));
}

double bcsGap(double reducedTemperature) {
  return bcsGapRatio(reducedTemperature);
}

std::pair<double, double> mattisBardeenConductivity(double hbarOmegaOverGap, double kTOverGap) {
  const ConductivityRatio ratio = mattisBardeenRatio(hbarOmegaOverGap, kTOverGap);
  return {ratio.sigma1, ratio.sigma2};
}

}  // namespace qbr
