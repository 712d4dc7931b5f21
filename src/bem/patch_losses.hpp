#pragma once

#include <array>

#include "model/conductor_matrix.hpp"
#include "model/problem_model.hpp"
#include "prep/complex_matrix.hpp"
#include "prep/unknowns.hpp"
#include "qbr/result.hpp"

namespace qbr {

// Where the resistance of the line is dissipated: each patch's share of R.
//
// The power that a current vector I (phasors, A) dissipates per unit length in a piece of
// metal is the Poynting flux through its outline into the metal,
//   P = Re of the integral of E_z conj(H_t) over the outline,
// with E_z = j omega mu0 (C - u) (the field inside, u the boundary value of A_z / mu0 and
// C the conductor's potential constant) and H_t = q, the normal derivative of u on the
// outside, which is the surface current density. Both are linear in I, so P is a
// Hermitian form I^H D I; its real part, the symmetric matrix Re D, is the patch's
// resistance: the loss of every real current vector, and its entries the mutual terms.
// Summed over the patches it is R in the continuum; on a grid the two differ by the
// grid's error of the exterior field's reciprocity: measured below 4e-6 of R on a coax from
// 1 Hz to 100 GHz, 0.1 to 1 % on a microstrip, whose corners the grid resolves worst,
// falling with the grid as R's own error does.
//
// `raw` holds the Poynting fluxes per patch. `shares` are the same made to add up to the
// solver's R entry by entry: the difference R - sum(raw) is given to the patches in
// proportion to |raw| of the entry, which moves each share by no more than that
// difference and keeps a patch that dissipates nothing at zero. So a model of one lossy
// patch has that patch's share equal to R exactly.
struct PatchResistance {
  // Per patch number, N x N in ohm/m (zero for patches without elements or loss).
  std::array<Matrix<double>, kMaxPatches> raw;
  std::array<Matrix<double>, kMaxPatches> shares;
  // Whether a patch carries elements and dissipates (a normal metal, or a superconductor
  // with normal electrons, sigma > 0).
  std::array<bool, kMaxPatches> lossy{};
  // max |R - sum(raw)| over the entries, relative to the largest |R| entry.
  double mismatch = 0.0;
};

// The resistance matrix in ohm/m of the conductor matrix m (inductance or impedance
// mode, as the solution leaves it), entry (i, j) from 0.
Matrix<double> resistanceOf(const ConductorMatrix& m, double omega, bool phaseVariables);

// From the solutions (nd x N, column c for a unit current in conductor c) on the model's
// grids, and the conductor matrix m read off them.
PatchResistance patchResistance(const ProblemModel& model, const Unknowns& unknowns,
                                const ComplexMatrix& solutions, const ConductorMatrix& m);

// m with each patch's share of the resistance multiplied by the patch's `lossFactor`:
// R becomes the sum of K times the shares; the reactance stays as it is.
ConductorMatrix withLossFactors(const ConductorMatrix& m, const PatchResistance& losses,
                                const ProblemModel& model);

}  // namespace qbr
