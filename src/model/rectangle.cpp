#include "model/rectangle.hpp"

#include "base/fatal_stop.hpp"

namespace qbr {

void addRectangleSide(ProblemModel& model, std::int32_t conductor, std::int32_t patch,
                      std::int32_t gridCount, double xStart, double yStart, double xEnd,
                      double yEnd) {
  if (model.elementCount >= kMaxElements) {
    fatalStop("\nToo many boundary elements generated from rectangles\n");
  }
  BoundaryElement side;
  side.kind = kLine;
  side.conductor = conductor;
  side.gridCount = gridCount;
  side.patch = patch;
  side.pointNumbers[0] = findOrAddPoint(model, xStart, yStart);
  side.pointNumbers[1] = findOrAddPoint(model, xEnd, yEnd);
  model.elements[model.elementCount++] = std::move(side);
}

void addRectangle(ProblemModel& model, const Rectangle& r) {
  addRectangleSide(model, r.conductor, r.patch, r.nx, r.x1, r.y1, r.x2, r.y1);
  addRectangleSide(model, r.conductor, r.patch, r.ny, r.x2, r.y1, r.x2, r.y2);
  addRectangleSide(model, r.conductor, r.patch, r.nx, r.x2, r.y2, r.x1, r.y2);
  addRectangleSide(model, r.conductor, r.patch, r.ny, r.x1, r.y2, r.x1, r.y1);
}

}  // namespace qbr
