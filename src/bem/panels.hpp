#pragma once

#include <vector>

#include "model/conductor_matrix.hpp"
#include "model/constants.hpp"
#include "model/geometry.hpp"
#include "model/problem_model.hpp"
#include "qbr/result.hpp"

namespace qbr {

// A Nystroem discretisation of the same boundary integral equations as the node grids
// (exterior Laplace row, interior Helmholtz row per node, one current row per conductor),
// with u and q sampled at the Gauss-Legendre points of panels: pieces of the lines, curves
// and circles of the cross-section. Panels
// are halved until each is at most `spread` times its distance from the nearest corner of any
// conductor, and the panels that touch a corner down to `smallest` times the shallowest
// field depth (lambda of a superconductor, skin depth of a metal) of the model.
struct PanelSettings {
  int order = 16;          // Gauss-Legendre points per panel
  double spread = 1.0;     // panel length per distance to the nearest corner
  double smallest = 1e-3;  // the panels at a corner, in field depths
};

// One ladder of discretisations for error estimates: levels 0 and 1 have panels of order
// 4 and 6 growing by 9 from corners, the smallest 3 field depths long; from level 2 on
// the panels grow by 5, and each level adds 2 to the order and halves the smallest panel.
PanelSettings panelLevel(int level);

struct PanelSolution {
  ConductorMatrix matrix;  // pH/um, or R + jX in ohm/m times 1e6, as solveConductorMatrix
  // Per excited conductor, u and q at every Gauss-Legendre point (numbered from 1 along
  // each element) with its quadrature weight as the share of the outline.
  std::vector<Excitation> excitations;
  int unknowns = 0;
  int panels = 0;
  bool real = false;  // every entry of the system was real: solved in real arithmetic
  double fillSeconds = 0.0;
  double solveSeconds = 0.0;
  double seconds() const { return fillSeconds + solveSeconds; }
};

// Solves a prepared model (setUpModel has run: lengths, conductor lists, wave numbers)
// made of lines, quadratic curves and circles (with symmetry on: in the upper half plane,
// mirrored with the odd image in y = 0). Throws std::invalid_argument for pieces of
// elements (the dielectric interfaces), a conductor number without elements, or a patch
// without loss or penetration depth (k = 0).
// `threads`: for the fill and the factorisation (0: OpenMP's default).
PanelSolution solveOnPanels(const ProblemModel& model, const PanelSettings& settings,
                            int threads = 0);

// A solve to a tolerance: levels `firstLevel`, firstLevel + 1, ... of panelLevel until
// two successive ones agree within `tolerance`, relative, in the real and in the imaginary
// part of every entry of the conductor matrix (parts below 1e-9 of the largest entry are
// rounding noise of a lossless line and not compared), or `lastLevel` is reached. The
// finer solution is returned with the largest relative difference as its estimate.
struct PanelRun {
  PanelSolution solution;
  int level = 0;
  double estimate = 0.0;
  bool met = false;
};
PanelRun solveOnPanelsTo(const ProblemModel& model, double tolerance, int firstLevel = 0,
                         int lastLevel = 8);

// The interior kernel's cylinder functions K0(w) and K1(w) for Re w > 0 (the kernel of a
// patch is K0 of w = -j k r for Im k > 0, of w = j k r otherwise): power series up to
// |w| = 2, Steed's continued fraction beyond.
struct BesselK01 {
  Complex k0;
  Complex k1;
};
BesselK01 besselK01(Complex w);

// What a target point sees of one straight panel from a to b with `order` Gauss-Legendre
// points: per point the weight of the density there in the single and double layer of
// the exterior kernel -ln r and of the interior kernel K0 of a patch with wave number k,
// integrated against the panel's Lagrange basis (the fill's near-field and singular rules:
// the target may lie on the panel or next to it).
struct PanelWeights {
  std::vector<double> laplaceSingle, laplaceDouble;
  std::vector<Complex> interiorSingle, interiorDouble;
};
PanelWeights panelWeights(Vec2 a, Vec2 b, int order, Vec2 target, Complex k);

// The n-point Gauss-Legendre rule on [-1, 1], abscissae ascending.
void gaussLegendre(int n, std::vector<double>& x, std::vector<double>& w);

// Weights W_m of the n-point Gauss-Legendre abscissae x_m for the logarithm at the left
// end, the integral over [-1, 1] of ln(1 + x) g(x) = sum of W_m g(x_m), exact for
// polynomials g of degree below n.
std::vector<double> logEndWeights(int n);

}  // namespace qbr
