#include "prep/setup.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <sstream>
#include <string>

#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"
#include "prep/dielectrics.hpp"
#include "prep/materials.hpp"
#include "prep/roughness.hpp"

namespace qbr {

namespace {

double lengthScaleOf(const std::string& unit) {
  if (unit == "m") return 1.0;
  if (unit == "cm") return 0.01;
  if (unit == "mm") return 0.001;
  if (unit == "um") return 1e-06;
  fatalStop("\nUnknown length unit\n");
}

double conductivityFactorOf(const std::string& unit) {
  if (unit == "s/m") return 1.0;
  // Megasiemens per metre.
  if (unit == "ms/m") return 1000000.0;
  fatalStop("\nUnknown conductivity unit\n");
}

double temperatureFactorOf(const std::string& unit) {
  if (unit == "k") return 1.0;
  if (unit == "mk") return 0.001;
  fatalStop("\nUnknown temperature unit\n");
}

// Patches given by their transition temperature become the superconductor (or, at and
// above Tc, the normal metal) that they are at the run's temperature and frequency: lambda
// in length units and sigma in S/m, from which the wave number follows as for any other.
void deriveTemperatureModels(ProblemModel& model) {
  if (model.hasTemperature) {
    model.temperatureK = model.temperature * temperatureFactorOf(model.temperatureUnit);
  }
  for (std::int32_t i = 0; i < model.patchCount; ++i) {
    MaterialPatch& p = model.patches[static_cast<std::size_t>(i)];
    if (p.model == MaterialModel::kGiven) continue;
    if (!model.hasTemperature) {
      fatalStop("\nPatch " + std::to_string(i) + " (kind " +
                (p.model == MaterialModel::kMattisBardeen ? "mb" : "twofluid") +
                ") needs the temperature: give a \"temperature\" line (in kelvin);\n");
    }
    p.response = patchResponse(p, model.temperatureK, model.omega, model.lengthScale);
    p.superconducting = p.response.superconducting;
    p.sigma = p.response.sigma1SPerM;
    p.lambda = p.superconducting ? p.response.lambdaEffM / model.lengthScale : 0.0;
  }
}

// Coordinates and radii, in length units after scaling by `gridsize`, may not exceed
// this size: far beyond any cross-section, and small enough that squares of distances
// and the products of squares in the curve lengths and kernels stay finite.
constexpr double kMaxCoordinate = 1e30;

bool outOfRange(double v) {
  return !(std::fabs(v) <= kMaxCoordinate);
}

void checkScaledGeometry(const ProblemModel& model) {
  for (std::int32_t i = 0; i < model.pointCount; ++i) {
    const BasicPoint& p = model.points[static_cast<std::size_t>(i)];
    if (outOfRange(p.x) || outOfRange(p.y)) {
      std::ostringstream message;
      message << "\nPoint " << i << " is out of range after scaling by gridsize: x=" << p.x
              << "  y=" << p.y << ";\n";
      fatalStop(message.str());
    }
  }
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const double r = model.elements[static_cast<std::size_t>(e)].R;
    if (outOfRange(r)) {
      std::ostringstream message;
      message << "\nElement " << e
              << " has a radius out of range after scaling by gridsize: R=" << r << ";\n";
      fatalStop(message.str());
    }
  }
}

// Conductor and patch numbers index fixed tables; a number outside them would address
// memory that is not the model's.
void checkElementNumbers(const ProblemModel& model) {
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
    if (element.conductor < 0) {
      fatalStop("\nElement " + std::to_string(e) + " has the negative conductor number " +
                std::to_string(element.conductor) + ";\n");
    }
    if (element.patch < 0 || element.patch >= kMaxPatches) {
      fatalStop("\nElement " + std::to_string(e) + " names patch " + std::to_string(element.patch) +
                ", outside 0 to " + std::to_string(kMaxPatches - 1) + ";\n");
    }
  }
}

void buildMemberLists(ProblemModel& model) {
  try {
    for (std::int32_t c = 0; c <= kMaxConductorNumber; ++c) {
      Conductor& conductor = model.conductors[static_cast<std::size_t>(c)];
      conductor.n_memb = 0;
      conductor.memb.clear();
      if (c > model.conductorCount) continue;
      for (std::int32_t e = 0; e < model.elementCount; ++e) {
        if (model.elements[static_cast<std::size_t>(e)].conductor == c) ++conductor.n_memb;
      }
      conductor.memb.reserve(static_cast<std::size_t>(conductor.n_memb) + 1);
      for (std::int32_t e = 0; e < model.elementCount; ++e) {
        if (model.elements[static_cast<std::size_t>(e)].conductor == c) conductor.memb.push_back(e);
      }
    }
  } catch (const std::bad_alloc&) {
    fatalStop("\nError assigning conductor members\n");
  }
}

}  // namespace

double frequencyFactor(const std::string& unit) {
  if (unit == "hz") return 1.0;
  if (unit == "khz") return 1000.0;
  if (unit == "mhz") return 1000000.0;
  if (unit == "ghz") return 1000000000.0;
  fatalStop("\nUnknown frequency unit\n");
}

Complex waveNumber(const ProblemModel& model, int patch) {
  const MaterialPatch& p = model.patches[static_cast<std::size_t>(patch)];
  const double scale = model.lengthScale;
  const double x = model.omega * kMu0 * p.mu * p.sigma * (scale * scale);
  // The imaginary part of a superconductor's k^2 is 0 - X, so a lossless one keeps +0
  // and gets k = (0, 1/lambda).
  const Complex k2 =
      p.superconducting ? Complex(-1.0 / (p.lambda * p.lambda), 0.0 - x) : Complex(0.0, -x);
  return std::sqrt(k2);
}

void setUpModel(ProblemModel& model, RunIo& io) {
  // Outlines of dielectric regions are no metal: the conductors, their grids and the
  // inductance never see them.
  separateDielectricOutlines(model);
  model.symmetryOn = model.symmetry == "on";
  model.gradedGrids = model.grid == "graded";
  model.lengthScale = lengthScaleOf(model.lengthunit);
  const double frequencyAsRead = model.frequency;
  model.frequency *= frequencyFactor(model.frequencyUnit);
  model.omega = kPi * model.frequency + kPi * model.frequency;
  if (!std::isfinite(model.omega)) {
    std::ostringstream message;
    message << "\nThe frequency " << frequencyAsRead << " " << model.frequencyUnit
            << " is too large\n";
    fatalStop(message.str());
  }
  model.phaseVariables = model.variables == "phases";
  const double conductivityFactor = conductivityFactorOf(model.conductanceunit);

  // A model without "patch" lines still has patch 0, filled by "lambda" and "sigma".
  if (model.patchCount == 0) model.patchCount = 1;
  for (std::int32_t i = 0; i < model.patchCount; ++i) {
    model.patches[static_cast<std::size_t>(i)].sigma *= conductivityFactor;
  }
  deriveTemperatureModels(model);
  for (std::int32_t i = 0; i < model.pointCount; ++i) {
    BasicPoint& point = model.points[static_cast<std::size_t>(i)];
    point.x *= model.gridsize;
    point.y *= model.gridsize;
  }
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    model.elements[static_cast<std::size_t>(e)].R *= model.gridsize;
  }
  for (BoundaryElement& outline : model.dielectricOutlines) outline.R *= model.gridsize;

  checkScaledGeometry(model);
  checkElementNumbers(model);
  model.conductorCount = 1;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    model.conductorCount =
        std::max(model.conductorCount, model.elements[static_cast<std::size_t>(e)].conductor);
  }
  if (model.elementCount > 0 && model.conductorCount > kMaxConductorNumber) {
    fatalStop("\nToo many conductors;\n");
  }
  buildMemberLists(model);

  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
    // A side that vanished because the length unit is too coarse for it gets the remedy
    // beside the message.
    const double length = element.geometry(model.points).measureLength();
    if (!(length >= kTiny)) {
      const std::string note = smallFeatureNote(model, e, length > 0.0);
      if (!note.empty()) fatalStop("\nZero length element detected!\n" + note);
    }
    computeLength(element, model.points);
  }
  for (std::size_t d = 0; d < model.dielectricOutlines.size(); ++d) {
    BoundaryElement& outline = model.dielectricOutlines[d];
    if (!(outline.geometry(model.points).measureLength() >= kTiny)) {
      fatalStop("\nZero length element detected!\nElement d" + std::to_string(d) +
                " of the dielectric outlines is shorter than 1e-7 " + model.lengthunit + ";\n");
    }
    computeLength(outline, model.points);
  }
  addLayerOutlines(model);

  double kmin = std::numeric_limits<double>::infinity();
  for (std::int32_t i = 0; i < model.patchCount; ++i) {
    MaterialPatch& patch = model.patches[static_cast<std::size_t>(i)];
    if (patch.dielectric) continue;
    patch.k = waveNumber(model, i);
    patch.wavelength = Complex(kTwoPi, 0.0) / patch.k;
    kmin = std::min(kmin, std::abs(patch.k));
  }
  if (kmin < 1.0) {
    std::ostringstream warning;
    warning << "Wave number can bee too small (low frequency): " << kmin;
    const std::string text = warning.str();
    io.warn(text, text + "\n", "\n" + text + "\n\n");
  }
  model.roughSurfaces = setUpRoughness(model);
}

}  // namespace qbr
