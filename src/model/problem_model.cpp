#include "model/problem_model.hpp"

#include <cmath>

#include "model/geometry.hpp"
#include "base/fatal_stop.hpp"

namespace qbr {

ElementGeometry BoundaryElement::geometry(const PointTable& points) const {
  return ElementGeometry(*this, points);
}

void setDefaults(ProblemModel& model) {
  model.conductorCount = 0;
  model.elementCount = 0;
  model.pointCount = 0;
  model.patchCount = 0;
  model.ah = 1.0;
  model.phaseVariables = true;
  model.symmetryOn = false;
  for (BoundaryElement& e : model.elements) {
    e.gridCount = 0;
    e.patch = 0;
    e.dir = true;
    e.nodeT.clear();
    e.nodeX.clear();
    e.nodeY.clear();
  }
  for (Conductor& c : model.conductors) {
    c.n_memb = 0;
    c.memb.clear();
  }
  for (MaterialPatch& p : model.patches) {
    p.superconducting = true;
    p.lambda = 0.0;
    p.sigma = 0.0;
    p.mu = 1.0;
  }
  for (PolylineLayer& layer : model.polylineLayers) layer.patch = 0;
}

std::int32_t findOrAddPoint(ProblemModel& model, double x, double y) {
  for (std::int32_t i = 0; i < model.pointCount; ++i) {
    const BasicPoint& p = model.points[i];
    if (std::fabs(p.x - x) < kTiny && std::fabs(p.y - y) < kTiny) return i;
  }
  if (model.pointCount >= kMaxPoints) fatalStop("\nToo many points!\n");
  model.points[model.pointCount] = {x, y};
  return model.pointCount++;
}

}  // namespace qbr
