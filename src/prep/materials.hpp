#pragma once

// Superconductors given as their designers know them: a transition temperature (or a
// gap), a normal-state resistivity and the temperature of the run. This unit turns them
// into the complex conductivity sigma = sigma1 - j sigma2 at the run's frequency, and so
// into the penetration depth and normal-fluid conductivity that the kernels already take:
// the superconductor's k^2 = -1/lambda^2 - j omega mu0 sigma1 L^2 is -j omega mu0 sigma
// L^2 exactly when lambda = 1/sqrt(omega mu0 sigma2).

#include "model/problem_model.hpp"
#include "qbr/result.hpp"

namespace qbr {

// SI values (exact since 2019).
inline constexpr double kBoltzmannJPerK = 1.380649e-23;
inline constexpr double kHbarJS = 1.054571817e-34;
inline constexpr double kJoulePerMeV = 1.602176634e-22;
// Delta(0) / (k Tc) of weak-coupling BCS theory, pi / e^gamma (gamma: Euler's constant).
inline constexpr double kBcsGapRatio = 1.7638769888620457;

// Delta(T) / Delta(0) of weak-coupling BCS theory at T / Tc: the root of the gap
// equation ln(Delta0 / Delta) = 2 int_0^inf f(sqrt(xi^2 + Delta^2)) / sqrt(xi^2 + Delta^2)
// dxi (f the Fermi function), solved numerically. 1 at T = 0, 0 at and above Tc.
double bcsGapRatio(double reducedTemperature);

// sigma / sigma_n of the Mattis-Bardeen theory in the local (dirty) limit, as functions of
// hbar omega / Delta (> 0) and k T / Delta (>= 0): the real part sigma1 / sigma_n and
// sigma2 / sigma_n (sigma = sigma1 - j sigma2), integrated numerically to about 1e-12,
// the pair-breaking term above hbar omega = 2 Delta included.
struct ConductivityRatio {
  double sigma1 = 0.0;
  double sigma2 = 0.0;
};
ConductivityRatio mattisBardeenRatio(double hbarOmegaOverGap, double kTOverGap);

// The response of a Mattis-Bardeen film: transition temperature tcK (0: from the gap,
// Delta0 = 1.764 k Tc), normal-state resistivity in microohm cm, the zero-temperature gap
// in meV (0: 1.764 k Tc), at the temperature in kelvin and the angular frequency omega in
// rad/s. At omega = 0 sigma2 is infinite and omega sigma2 the static London limit
// pi sigma_n Delta tanh(Delta / 2kT) / hbar; sigma1 is given as 0 there (omega sigma1 -> 0,
// all the kernels see).
SuperconductorResponse mattisBardeenResponse(double tcK, double rhoNMicroOhmCm, double gapMeV,
                                             double temperatureK, double omega);

// The two-fluid film: lambda(T) = lambda0 / sqrt(1 - (T/Tc)^4), sigma1 = sigma_n (T/Tc)^4.
SuperconductorResponse twoFluidResponse(double tcK, double rhoNMicroOhmCm, double lambda0M,
                                        double temperatureK, double omega);

// The response of a patch of kind "mb" or "twofluid" in a model set up to SI units
// (omega, lengthScale, the temperature in kelvin).
SuperconductorResponse patchResponse(const MaterialPatch& patch, double temperatureK, double omega,
                                     double lengthScale);

}  // namespace qbr
