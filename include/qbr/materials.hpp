#pragma once

#include <utility>

#include "qbr/result.hpp"

namespace qbr {

// The superconductors of the patch kinds "mb" and "twofluid" on their own, in SI units at
// one temperature and frequency: what a patch of that kind becomes in a solve.

// A Mattis-Bardeen film (local, dirty limit): transition temperature in kelvin (0 when
// the gap is given: Delta(0) = 1.764 k Tc), normal-state resistivity in microohm cm, the
// temperature in kelvin and the frequency in hertz; gapMeV is Delta at T = 0 when it is not
// 1.764 k Tc (strong coupling), the temperature dependence staying that of BCS theory.
SuperconductorResponse mattisBardeen(double tcK, double rhoNMicroOhmCm, double temperatureK,
                                     double frequencyHz, double gapMeV = 0.0);

// A two-fluid film: lambda = lambda0 / sqrt(1 - (T/Tc)^4), sigma1 = sigma_n (T/Tc)^4, lambda0
// in metres.
SuperconductorResponse twoFluid(double tcK, double rhoNMicroOhmCm, double lambda0M,
                                double temperatureK, double frequencyHz);

// Delta(T) / Delta(0) of weak-coupling BCS theory at the reduced temperature T / Tc.
double bcsGap(double reducedTemperature);

// sigma1 / sigma_n and sigma2 / sigma_n of the Mattis-Bardeen integrals at hbar omega / Delta
// (> 0) and k T / Delta (>= 0).
std::pair<double, double> mattisBardeenConductivity(double hbarOmegaOverGap, double kTOverGap);

}  // namespace qbr
