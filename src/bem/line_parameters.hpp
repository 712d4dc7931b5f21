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

}  // namespace qbr
