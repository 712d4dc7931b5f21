#pragma once

#include <string>

#include "qbr/result.hpp"

namespace qbr {

// Line models for circuit simulators, from a result whose model gave the permittivity
// (Result::line); without it they throw qbr::Error.
//
// spiceModel: an ngspice netlist fragment for a line `lengthM` metres long, to be read
// with .include. Subcircuit `name` holds the multiconductor RLGC element (CPL) with the
// per-unit-length R, L, G, C matrices of the result (SI units, upper triangles);
// ports in1 .. inN, the near end of conductor 0 (in0), then out1 .. outN, out0. A
// lossless line of one conductor also gets subcircuit `name`_ideal, the ideal line
// (T element) with Z0 and the delay TD = length / velocity, ports in1 in0 out1 out0.
// The CPL element has no frequency-dependent loss: R and G are those of the run's
// frequency.
std::string spiceModel(const Result& result, double lengthM, const std::string& name = "qbr_line");

}  // namespace qbr
