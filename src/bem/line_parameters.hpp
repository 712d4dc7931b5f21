#pragma once

#include "qbr/result.hpp"

namespace qbr {

// The line's modes and characteristic impedance from its per-unit-length matrices (SI
// units, conductors x conductors): L and R from the inductance problem, C from the
// electrostatic one, G = omega tan(delta) C. When `lossless`, R and G are taken as 0
// (their computed values are rounding noise) and everything follows from L C, at any
// frequency; otherwise from Z Y at omega > 0.
LineParameters lineParameters(const Matrix<double>& inductance, const Matrix<double>& resistance,
                              const Matrix<double>& capacitance, double omega,
                              double permittivityRelative, double lossTangent, bool lossless);

// The same with the conductance matrix given (dielectric regions, whose loss tangents
// differ): G = omega C'' of the complex capacitance C' - j C''.
LineParameters lineParameters(const Matrix<double>& inductance, const Matrix<double>& resistance,
                              const Matrix<double>& capacitance, const Matrix<double>& conductance,
                              double omega, bool lossless);

// See qbr::lineDetails.
LineDetails lineDetails(const LineParameters& line, const Matrix<double>& inductance,
                        const Matrix<double>& resistance, double omega);

// The scattering matrix of `lengthM` metres of line with per-unit-length Z = R + j omega L
// and Y = G + j omega C (SI, conductors x conductors), 2N x 2N: ports 1..N the near ends
// of conductors 1..N, N+1..2N their far ends, each against conductor 0 (or the
// reference), all with the real reference impedance `referenceOhm`.
Matrix<std::complex<double>> lineScattering(const Matrix<std::complex<double>>& impedance,
                                            const Matrix<std::complex<double>>& admittance,
                                            double lengthM, double referenceOhm);

}  // namespace qbr
