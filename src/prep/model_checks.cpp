#include "prep/model_checks.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"
#include "prep/intersections.hpp"
#include "prep/loops.hpp"

namespace qbr {

namespace {

bool isFinite(Complex z) {
  return std::isfinite(z.real()) && std::isfinite(z.imag());
}

// Why the patch's wave number cannot be used, or an empty string when it can.
std::string waveNumberFault(const ProblemModel& model, std::int32_t patch) {
  const std::string name = "\nPatch " + std::to_string(patch);
  // The set-up computes k only for patches below patchCount; one above that has no
  // "patch" line, so its k was never computed (and with its initial lambda 0 it would
  // not be usable anyway).
  if (patch < 0 || patch >= model.patchCount || patch >= kMaxPatches) {
    return name + " has no usable wave number: give it a positive lambda or sigma;\n";
  }
  const MaterialPatch& p = model.patches[static_cast<std::size_t>(patch)];
  // A patch given by its transition temperature whose numbers lie so far out that its
  // conductivity overflows or vanishes.
  if (p.model != MaterialModel::kGiven &&
      (!isFinite(p.k) || (p.superconducting && !(p.lambda > 0.0 && std::isfinite(p.lambda))))) {
    std::ostringstream message;
    message << name << " (kind " << (p.model == MaterialModel::kMattisBardeen ? "mb" : "twofluid")
            << ") has no usable material at this temperature and frequency (lambda_eff "
            << p.response.lambdaEffM << " m, sigma1 " << p.response.sigma1SPerM
            << " S/m): check its Tc, rho_n and the temperature;\n";
    return message.str();
  }
  // Every patch starts as a superconductor without lambda, so a model that gives only
  // "sigma" lands here too.
  if (p.superconducting && p.lambda == 0.0 && p.sigma > 0.0) {
    return name +
           " is a superconductor with lambda 0: give it a positive lambda, or make it "
           "a normal conductor with a \"patch " +
           std::to_string(patch) + " nc\" line;\n";
  }
  if (p.superconducting && p.lambda == 0.0) {
    return name + " has no usable wave number: give it a positive lambda or sigma;\n";
  }
  if (!isFinite(p.k)) {
    return name +
           " has a wave number that is not finite: its lambda is too small, or its sigma, mu "
           "or the frequency too large;\n";
  }
  if (p.k != Complex(0.0, 0.0)) return {};
  // A normal metal at zero frequency carries no eddy currents: the interior equation
  // degenerates.
  if (!p.superconducting && p.sigma > 0.0 && model.omega == 0.0) {
    if (p.model != MaterialModel::kGiven) {
      return name +
             " is at or above its critical temperature, a normal conductor there, and "
             "needs a positive frequency;\n";
    }
    return name + " is a normal conductor and needs a positive frequency;\n";
  }
  // A normal conductor reads no lambda: asking for one would mislead.
  if (!p.superconducting) {
    return name +
           " is a normal conductor with sigma 0: give it a positive sigma, or make it a "
           "superconductor with a \"patch " +
           std::to_string(patch) +
           " sc sigma lambda\" line (a normal conductor's lambda is "
           "not used);\n";
  }
  return name + " has no usable wave number: give it a positive lambda or sigma;\n";
}

// The boundary of a patch must be made of closed loops, each run in one sense: then
// every point begins as many of the patch's lines and curves as it ends. An open or
// inconsistently directed boundary leaves the interior problem undefined, and its
// result would be printed like any other. Circles close on themselves.
void checkBoundariesAreClosed(const ProblemModel& model) {
  for (std::int32_t patch = 0; patch < kMaxPatches; ++patch) {
    std::array<int, kMaxPoints> balance{};
    for (std::int32_t e = 0; e < model.elementCount; ++e) {
      const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
      if (element.patch != patch || element.kind == kCircle) continue;
      const std::int32_t start = element.pointNumbers[0];
      const std::int32_t end = element.pointNumbers[element.kind == kCurve ? 2 : 1];
      if (start < 0 || start >= kMaxPoints || end < 0 || end >= kMaxPoints) continue;
      ++balance[static_cast<std::size_t>(start)];
      --balance[static_cast<std::size_t>(end)];
    }
    for (std::int32_t point = 0; point < kMaxPoints; ++point) {
      if (balance[static_cast<std::size_t>(point)] != 0) {
        fatalStop("\nThe boundary of patch " + std::to_string(patch) +
                  " is not closed, or not run in one sense, at point " + std::to_string(point) +
                  ";\n");
      }
    }
  }
}

// The lowest ordinate of an element: its box says it for lines and circles; a curve
// may bow below its three points.
double lowestOrdinate(const BoundaryElement& element, const PointTable& points) {
  const ElementGeometry g = element.geometry(points);
  if (element.kind != kCurve) return g.boundingBox().ymin;
  const double y0 = g.pointAt(-1.0).y;
  const double y1 = g.pointAt(0.0).y;
  const double y2 = g.pointAt(1.0).y;
  double lowest = std::min(y0, y2);
  // y(t) = a t^2 + b t + y1; a minimum inside (-1, 1) when it opens upward.
  const double a = (y0 - 2.0 * y1 + y2) / 2.0;
  const double b = (y2 - y0) / 2.0;
  if (a > 0.0) {
    const double t = -b / (2.0 * a);
    if (t > -1.0 && t < 1.0) lowest = std::min(lowest, g.pointAt(t).y);
  }
  return lowest;
}

// With symmetry on the line y = 0 is a mirror, and the model is its upper half: an
// element below it would meet its own image, where the kernels are singular.
void checkUpperHalfPlane(const ProblemModel& model) {
  if (!model.symmetryOn) return;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    if (lowestOrdinate(model.elements[static_cast<std::size_t>(e)], model.points) < -kTiny) {
      fatalStop("\nElement " + std::to_string(e) + " reaches below the symmetry line y = 0;\n");
    }
  }
}

}  // namespace

void checkOutlines(const ProblemModel& model) {
  checkBoundariesAreClosed(model);
  const std::vector<Loop> loops = findLoops(model);
  checkElementsDoNotMeet(model, loops);
  checkLoopNesting(model, loops);
}

void checkModelIsSolvable(const ProblemModel& model) {
  const std::int32_t reported = std::min(model.conductorCount, kMaxConductorNumber);
  for (std::int32_t c = 1; c <= reported; ++c) {
    if (model.conductors[static_cast<std::size_t>(c)].n_memb == 0) {
      fatalStop("\nConductor " + std::to_string(c) + " has no boundary elements;\n");
    }
  }

  bool found = false;
  std::int32_t lowest = 0;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const std::int32_t patch = model.elements[static_cast<std::size_t>(e)].patch;
    if (!waveNumberFault(model, patch).empty() && (!found || patch < lowest)) {
      found = true;
      lowest = patch;
    }
  }
  if (found) fatalStop(waveNumberFault(model, lowest));

  checkOutlines(model);
  checkUpperHalfPlane(model);

  // The impedance report gives L = X / omega, and at zero frequency every X is 0.
  if (!model.phaseVariables && !(model.omega > 0.0)) {
    fatalStop("\nThe impedance matrix needs a positive frequency;\n");
  }
}

}  // namespace qbr
