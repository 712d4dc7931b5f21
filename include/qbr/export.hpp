#pragma once

#include <complex>
#include <string>
#include <vector>

#include "qbr/result.hpp"

namespace qbr {

// Line models for circuit simulators, from a result whose model gave the permittivity
// (Result::line); without it they throw qbr::Error.
//
// spiceModel: an ngspice netlist fragment for a line `lengthM` metres long, to be read
// with .include; every subcircuit has the ports in1 .. inN, in0 (the near end of
// conductor 0, or of the reference), out1 .. outN, out0.
// - `name`_rlgc: ngspice's multiconductor RLGC element (CPL) with the per-unit-length
//   R, L, G, C matrices of the result (SI units, upper triangles). It has no
//   frequency-dependent loss: R and G are those of the run's frequency.
// - `name`: the model to use. For a lossless line the ideal line (T element, Z0 and
//   TD = length / velocity), for coupled lossless lines their modes as ideal lines
//   between controlled sources (exact); for one lossy line ngspice's lossy line (LTRA)
//   with R, L, G, C; for coupled lossy lines `name`_rlgc. With ngspice 39 the CPL
//   element is unreliable on lines of little or no loss: with R = 0 it may lose the
//   coupling of modes of different velocity or present an open input, depending on
//   the values (seen on a pair and on the gallery's stripline), hence the ideal lines.
std::string spiceModel(const Result& result, double lengthM, const std::string& name = "qbr_line");

// touchstone: the S-parameters of a line `lengthM` metres long over the results of a
// frequency sweep (one model at several frequencies above 0, every result with its line
// parameters) as a Touchstone file, version 1: "# Hz S RI R <referenceOhm>", one block per
// result in the sweep's order. 2N ports: 1..N the near ends of conductors 1..N, N+1..2N
// their far ends, each against conductor 0 (or the reference); a two-port lists S11 S21
// S12 S22, larger ones row by row, four entries a line.
std::string touchstone(const std::vector<Result>& sweep, double lengthM,
                       double referenceOhm = 50.0);

// One frequency of a line for the Touchstone file below: the per-unit-length series
// impedance Z = R + j omega L and shunt admittance Y = G + j omega C, SI units, N x N.
struct LineSample {
  double frequencyHz = 0.0;
  Matrix<std::complex<double>> impedanceOhmPerM;
  Matrix<std::complex<double>> admittanceSPerM;
};

// The same file from Z and Y given frequency by frequency (frequencies above 0, one N
// for all), with `caption` in its comment line; for sweeps made elsewhere, such as a
// table of results.
std::string touchstone(const std::vector<LineSample>& samples, double lengthM,
                       double referenceOhm = 50.0, const std::string& caption = "");

// The single-ended S-matrix (2N x 2N, ports numbered as in the Touchstone file) of one
// sample's line `lengthM` metres long, every port against the real `referenceOhm`.
Matrix<std::complex<double>> scattering(const LineSample& sample, double lengthM,
                                        double referenceOhm = 50.0);

}  // namespace qbr
