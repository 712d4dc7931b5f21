#pragma once

#include <vector>

#include "base/run_io.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Places the grid nodes on every element (count from `gridCount` or from the length
// and `ah`, bounded to 3..500), stores their parameters and coordinates in the
// element, sets `nd0` and `nd`, and reports the grid to the log and a summary line to
// the console.
void buildGrids(ProblemModel& model, RunIo& io);

// The report of buildGrids for grids already placed.
void reportGrids(const ProblemModel& model, RunIo& io);

// The grids from which "accuracy" starts, from the local scales of every element: the
// smaller of its length and the distance to any element it does not meet (a gap, or the
// other face of a film), and the depth of its patch's field (1/|k|: lambda, or
// delta/sqrt 2). Graded grids place their nodes next to the corners about L/n^1.5 apart,
// so a scale s is met there with about (L/s)^(2/3) nodes. Where a gap at an end, or the
// field depth at a corner of a metal of mu_r 1, is the smallest scale, a layer at that end
// meets it instead, with nodes that grow with the logarithm of L over it; likewise inside an
// element where another element's corner comes close (a strip's edges above a ground) or
// a curved element comes closest (a wire above a plane). With symmetry the plane y = 0
// counts as a conductor. Sets `gridCount`, `layerAtStart`, `layerAtEnd`, `innerLayers` and
// `layerBaseCount` of every element. `perfectConductors`: the grids of the electrostatics,
// which see no field depth and always take the layers (the charge crowds into gaps and
// under another conductor's corners as a superconductor's current does).
void chooseAutomaticGrids(ProblemModel& model, bool perfectConductors = false);

// Places the nodes of every element anew, counts[e] on element e (at least 2), graded
// toward the corners or even as the model asks; sets `nd0` and `nd`. Writes nothing.
void placeGrids(ProblemModel& model, const std::vector<std::int32_t>& counts);

// Places n nodes on one element (n >= 2): the midpoints of n equal parameter intervals
// on lines and curves, their right ends on circles; sets `gridCount` to n.
void placeNodes(BoundaryElement& element, const PointTable& points, std::int32_t n);

// n nodes graded toward the corner ends of a line or curve, where the field and the
// current crowd (circles, and lines without a corner, are placed evenly): the node
// parameters follow x^grading near a graded end, x those of the even grid.
void placeGradedNodes(BoundaryElement& element, const PointTable& points, std::int32_t n,
                      bool cornerAtStart, bool cornerAtEnd, double grading = 1.5);

}  // namespace qbr
