#pragma once

#include "base/run_io.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Places the grid nodes on every element (count from `gridCount` or from the length
// and `ah`, bounded to 3..500), stores their parameters and coordinates in the
// element, sets `nd0` and `nd`, and reports the grid to the log and a summary line to
// the console.
void buildGrids(ProblemModel& model, RunIo& io);

// Places n nodes on one element (n >= 2): the midpoints of n equal parameter intervals
// on lines and curves, their right ends on circles; sets `gridCount` to n.
void placeNodes(BoundaryElement& element, const PointTable& points, std::int32_t n);

}  // namespace qbr
