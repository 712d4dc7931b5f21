#include "model/problem_model.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"

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
    p.dielectric = false;
    p.medium = Medium{};
    p.roughness = Roughness{};
    p.model = MaterialModel::kGiven;
  }
  model.layers.clear();
  model.dielectricOutlines.clear();
  for (std::string& place : model.uncheckedSigma) place.clear();
  for (std::string& place : model.uncheckedRoughness) place.clear();
  model.inputWarnings.clear();
  model.mergedPoints.clear();
  for (PolylineLayer& layer : model.polylineLayers) layer.patch = 0;
}

bool ProblemModel::usesTemperatureModels() const {
  for (std::int32_t e = 0; e < elementCount; ++e) {
    const std::int32_t p = elements[static_cast<std::size_t>(e)].patch;
    if (p >= 0 && p < kMaxPatches &&
        patches[static_cast<std::size_t>(p)].model != MaterialModel::kGiven) {
      return true;
    }
  }
  return false;
}

std::int32_t findOrAddPoint(ProblemModel& model, double x, double y) {
  for (std::int32_t i = 0; i < model.pointCount; ++i) {
    const BasicPoint& p = model.points[i];
    if (std::fabs(p.x - x) < kTiny && std::fabs(p.y - y) < kTiny) {
      if ((p.x != x || p.y != y) && std::find(model.mergedPoints.begin(), model.mergedPoints.end(),
                                              i) == model.mergedPoints.end()) {
        model.mergedPoints.push_back(i);
      }
      return i;
    }
  }
  if (model.pointCount >= kMaxPoints) fatalStop("\nToo many points!\n");
  model.points[model.pointCount] = {x, y};
  return model.pointCount++;
}

std::string smallFeatureNote(const ProblemModel& model, std::int32_t e, bool tooShort) {
  const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
  const int used = element.kind == kLine ? 2 : element.kind == kCurve ? 3 : 1;
  bool merged = false;
  for (int i = 0; i < used; ++i) {
    merged = merged || std::find(model.mergedPoints.begin(), model.mergedPoints.end(),
                                 element.pointNumbers[static_cast<std::size_t>(i)]) !=
                           model.mergedPoints.end();
  }
  if (!merged && !tooShort) return {};
  // A tenth of a picometre in micrometres is no feature of a real line: the scale is off.
  const std::string remedy = model.lengthunit == "um" ? "check the coordinates and gridsize"
                             : model.lengthunit == "mm"
                                 ? "write the model in a smaller one (lengthunit um)"
                                 : "write the model in a smaller one (lengthunit um or mm)";
  return "Element " + std::to_string(e) +
         (merged ? " uses a point given twice at coordinates less than 1e-7 " + model.lengthunit +
                       " apart, which count as one point"
                 : " is shorter than 1e-7 " + model.lengthunit) +
         ": features this small vanish in this length unit; " + remedy + ";\n";
}

}  // namespace qbr
