#pragma once

#include <cstdint>

#include "model/problem_model.hpp"

namespace qbr {

// An axis-parallel rectangle as a "rect" line gives it. nx is the grid count of the
// two sides parallel to x, ny that of the two sides parallel to y (0: automatic).
struct Rectangle {
  double x1 = 0.0;
  double x2 = 0.0;
  double y1 = 0.0;
  double y2 = 0.0;
  std::int32_t conductor = 0;
  std::int32_t patch = 0;
  std::int32_t nx = 0;
  std::int32_t ny = 0;
};

// Appends one straight element from (xStart, yStart) to (xEnd, yEnd); its ends are
// found or added through findOrAddPoint, start first.
void addRectangleSide(ProblemModel& model, std::int32_t conductor, std::int32_t patch,
                      std::int32_t gridCount, double xStart, double yStart, double xEnd,
                      double yEnd);

// The four sides as one closed loop: (x1,y1) -> (x2,y1) -> (x2,y2) -> (x1,y2) -> (x1,y1).
// Counter-clockwise when x1 < x2 and y1 < y2; the coordinates are not reordered.
void addRectangle(ProblemModel& model, const Rectangle& rect);

}  // namespace qbr
