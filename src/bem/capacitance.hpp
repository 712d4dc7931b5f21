#pragma once

#include <string>
#include <vector>

#include "model/problem_model.hpp"
#include "prep/dielectrics.hpp"
#include "qbr/result.hpp"

namespace qbr {

// The electrostatic problem of the cross-section: perfectly conducting conductors in a
// homogeneous dielectric, the potential constant on each conductor, the surface charge
// the unknown.
//
// Outside the metal the potential is harmonic; on the boundary, with G = -ln r and u
// going to 0 at infinity like the charge's logarithm, the exterior rows of the BEM system
// read  pi u + int u dG/dn ds - int G q ds = 0,  q = du/dn into the metal = rho_s / eps.
// With u = V_c constant over the closed outlines of conductor c, int dG/dn ds is pi on c's
// own boundary and 0 elsewhere, so each node's row becomes the single-layer equation
//   int G q ds = 2 pi V_c(node),
// and one row per conductor prescribes its charge, int q ds = Q_c / eps. A unit charge
// on each reported conductor, taken back from conductor 0 when it has elements, gives
// the potentials as the inductance problem gives them for a unit current: against
// conductor 0, or without it against the reference one length unit away (the logarithm
// of the net charge), or the ideal ground plane of `symmetry on` (the image charge has
// the opposite sign). In the perfect-conductor limit this is the exterior inductance
// problem itself, so L_ext = mu0 P and L_ext C = mu0 eps.
struct Electrostatics {
  // P(r, c): potential of conductor r + 1 against the reference per unit of
  // int q ds (= Q / eps) on conductor c + 1; dimensionless.
  Matrix<double> potential;
  // C = eps0 eps_r P^-1, in F/m.
  Matrix<double> capacitanceFPerM;
  // With lossy dielectrics C is complex, C' - j C'': this is C'', so that G = omega C''.
  Matrix<double> lossCapacitanceFPerM;
};

// Needs the model's grids (buildGrids). Fills and solves in parallel on `threads`
// threads (0: OpenMP's default); stops the run when the system is singular.
Electrostatics solveElectrostatics(const ProblemModel& model, double permittivityRelative,
                                   int threads = 0);

// With dielectric regions (layOutDielectrics): the unknown is the total charge (free and
// bound) on the metal and on the interfaces, over eps0. On the metal the potential is
// the conductor's; on an interface between media l (the side its normal points to) and
// r the normal flux is continuous, eps_l E_l = eps_r E_r, which with E = E_pv +- sigma/2
// reads (pi / lambda) sigma + int sigma (r0 - r).n0 / |r0 - r|^2 ds = 0, lambda =
// (eps_l - eps_r) / (eps_l + eps_r); a conductor's free charge is the total charge times
// the permittivity of the medium outside, integrated along its sides. Complex
// permittivities (loss tangents) make the system complex and C = C' - j C''.
Electrostatics solveElectrostatics(const ProblemModel& model, const DielectricLayout& layout,
                                   int threads = 0);
// The inductance per unit length of the same cross-section with perfect conductors, in
// H/m, referenced as the inductance problem's (conductor 0, the ground plane of `symmetry
// on`, or the reference one length unit away): L_ext = mu0 eps0 C0^-1, with C0 the
// capacitance in vacuum on the model's grids. The field of perfect conductors stays out of
// the metal, and in a homogeneous medium L_ext C = mu0 eps, so this is the inductance of
// the field outside the conductors; the kinetic (and internal) inductance of real
// conductors is L - L_ext. Needs the model's grids, as solveElectrostatics.
Matrix<double> externalInductance(const ProblemModel& gridded, int threads = 0);

// The capacitance's error estimate (resolution.hpp), on electrostatic grids with
// 1/sqrt(2), 1 and sqrt(2) times the nodes of `gridded` (with `layout`, the interfaces'
// grids scaled alike): warnings where an entry or a pair combination is not resolved to
// 1%; `printed` is the solution on `gridded` itself. With a tolerance, the ladder runs from
// the share of `gridded`'s nodes that firstRefinementFactor gives, and on to finer grids
// until the finest is resolved to the tolerance (`printed` may then be null); `statics` is
// that finest grid's solution and `finest` its grids.
struct ResolvedCapacitance {
  Electrostatics statics;
  ProblemModel finest;
  std::vector<std::vector<double>> entries;  // relative error estimates, as MatrixErrors
  std::vector<std::vector<double>> pairs;
  int passes = 0;
  std::vector<std::string> warnings;
};
ResolvedCapacitance resolveCapacitance(const ProblemModel& gridded, const Electrostatics* printed,
                                       double permittivityRelative, const DielectricLayout* layout,
                                       double tolerance, int threads = 0);

// The vacuum permittivity in F/m (CODATA 2018).
inline constexpr double kEpsilon0 = 8.8541878128e-12;

}  // namespace qbr
