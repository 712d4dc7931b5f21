#pragma once

#include <array>
#include <string>
#include <vector>

#include "base/run_io.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Dielectric regions and layers.
//
// A region is a closed outline of elements that name a "dielectric" patch (any kind of
// element, in either sense); a "layer" is a horizontal slab, which the set-up turns into
// a rectangle wide enough to run beyond everything else. Regions may nest (the innermost
// one holds at a point), share sides, and overlap the metal, which wins where it lies.
// The electrostatics needs only what the outlines leave exposed: the pieces between two
// different media (dielectric interfaces), and along every side of metal, the medium
// that touches it.

// The relative permittivity of `medium` at `frequencyHz`, complex: eps' (1 - j tan d). A
// medium stated at a frequency follows the wideband Debye model (Djordjevic-Sarkar):
// eps(w) = eps_inf + k log10((w2 + j w) / (w1 + j w)), w1 = 2 pi 100 Hz, w2 = 2 pi 1 THz,
// with eps_inf and k such that it has the stated values at the stated frequency. Its loss
// is nearly constant between the two corners and the model is causal at every frequency.
Complex relativePermittivity(const Medium& medium, double frequencyHz);

// True when the model has dielectric regions or layers (after separateDielectricOutlines).
bool hasDielectricRegions(const ProblemModel& model);

// The elements of dielectric patches are no metal: moves them from `elements` to
// `dielectricOutlines`, keeping the order of both. Before any other step of the set-up.
void separateDielectricOutlines(ProblemModel& model);

// Adds the rectangle of every layer to `dielectricOutlines` (coordinates after gridsize;
// region number kMaxPatches + layer). The rectangle runs sideways from the middle of the
// rest of the cross-section by layerHalfWidth; beyond the rest of the cross-section its
// long sides are pieces four times longer each, of 24 nodes, so that the far field,
// which fades there, costs few unknowns.
void addLayerOutlines(ProblemModel& model);

// Half the width of the rectangle that stands for the layers: the half-width of the rest
// of the cross-section plus twenty times the larger of its width and the height of the
// stack. Measured on a microstrip over FR4: C changes by 4e-9 when the slabs are made
// eight times wider (5e-8 from a quarter of it); the test holds the truncation to 1e-6.
double layerHalfWidth(double width, double stackHeight);

// The medium of a region number: a dielectric patch or a layer.
const Medium& regionMedium(const ProblemModel& model, std::int32_t region);

// The regions' outlines must close, and two regions may not overlap unless one contains
// the other. Stops the run naming the outline elements (d0, d1, ... in the order of the
// dielectric outlines). Needs the metal checked (checkModelIsSolvable).
void checkDielectricOutlines(const ProblemModel& model);

// Along a metal element, the medium outside over [t0, t1] of its parameter.
struct MediumSide {
  double t0 = -1.0;
  double t1 = 1.0;
  Complex permittivity{1.0, 0.0};  // relative
};

// What the electrostatics sees of the dielectrics at the run's frequency.
struct DielectricLayout {
  Complex background{1.0, 0.0};  // outside every region
  // Pieces of dielectric outlines between two different media, with their grids. The
  // normal of a piece (left of its direction) points into `permittivityLeft`.
  std::vector<BoundaryElement> interfaces;
  std::vector<Complex> permittivityLeft;
  std::vector<Complex> permittivityRight;
  std::vector<std::int32_t> outlineOf;  // the dielectric outline element of each piece
  // Per metal element, the media outside it in order along it, covering [-1, 1] (a
  // circle's pieces may run past 1, its parameter being periodic).
  std::vector<std::vector<MediumSide>> metalSides;
  // Runs refined to a tolerance: the junctions, points where an interface ends on metal
  // (metal, the dielectric and another medium meet), toward which the grids are graded
  // on every element that ends there (gradeMetalForDielectrics).
  bool gradedToJunctions = false;
  std::vector<std::array<double, 2>> junctions;
};

// The exposed interfaces and the media along the metal, with grids on the interfaces
// (counts from the outline's grid count by length, or from ah; graded toward both ends
// on graded grids; divided by `gridDivisor` for the grid check). Needs the metal's grids
// and checkDielectricOutlines. Writes the interfaces to the log when `io` is given, and
// warns there of regions that lie wholly inside metal. `toTolerance` (runs refined to a
// tolerance) records the junctions for their grading, and gives an interface that runs
// from metal to metal (the gap between two conductors) as many nodes as the finer
// metal's average spacing at its ends gives it.
DielectricLayout layOutDielectrics(const ProblemModel& model, RunIo* io, int gridDivisor = 1,
                                   bool toTolerance = false);

// The metal's grids for the electrostatics with dielectric regions: the same counts,
// graded toward both ends of every line and curve as x^2 (the inductance's graded grids
// take x^1.5, toward corners only). Where a dielectric interface meets metal the charge
// is more singular than at a corner in one medium; x^1.5 leaves C there first order.
// With the layout's junctions (runs to a tolerance) the ends at a junction, of metal and
// of interfaces alike, are graded further (see the definition), and the interfaces'
// nodes are placed here too.
void gradeMetalForDielectrics(ProblemModel& model, DielectricLayout& layout);

// The same layout with `factor` times the nodes on the interfaces (rounded up, at least 2).
DielectricLayout scaledLayout(const ProblemModel& model, const DielectricLayout& layout,
                              double factor);

// "region 3 (patch 3: eps_r 4.3, tan d 0.02)"-style descriptions of the media, for the
// report's header.
std::string dielectricSummary(const ProblemModel& model);

}  // namespace qbr
