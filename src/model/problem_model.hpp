#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/constants.hpp"
#include "qbr/result.hpp"

namespace qbr {

class ElementGeometry;

struct BasicPoint {
  double x = 0.0;
  double y = 0.0;
};

using PointTable = std::array<BasicPoint, kMaxPoints>;

enum ElementKind : std::int32_t { kLine = 0, kCurve = 1, kCircle = 2 };

struct BoundaryElement {
  std::int32_t kind = kLine;
  // Grid nodes; 0 lets the grids choose the count from `ah`.
  std::int32_t gridCount = 0;
  // line: start, end; curve: start, mid-parameter point, end; circle: centre.
  std::array<std::int32_t, 3> pointNumbers{};
  double length = 0.0;
  std::int32_t patch = 0;
  double R = 0.0;
  // Circle traversal: true is counter-clockwise.
  bool dir = true;
  std::int32_t conductor = 0;
  // A piece of the element: the parameter range [tFrom, tTo] of the shape the points
  // define, run over as t goes from -1 to 1. Only the interfaces of dielectric regions,
  // pieces of the outlines as written, have another range than the whole [-1, 1].
  double tFrom = -1.0;
  double tTo = 1.0;
  // Grids chosen for a tolerance: a layer of nodes at an end, spaced `layerAtStart` or
  // `layerAtEnd` (length units) next to it and growing geometrically, on top of a graded base
  // of `layerBaseCount` nodes (0: no layer), where a gap at that end or the field depth of
  // a metal's corner lies far below the element's other scales.
  double layerAtStart = 0.0;
  double layerAtEnd = 0.0;
  double layerBaseCount = 0.0;
  // Layers inside the element, spreading both ways from a point of it: {u, spacing}, u in
  // (0, 1) the share of the parameter range from its start, where another conductor's
  // corner or a curved element comes close.
  std::vector<std::array<double, 2>> innerLayers;
  // The grid, indexed 1..gridCount; slot 0 is not used.
  std::vector<double> nodeT;
  std::vector<double> nodeX;
  std::vector<double> nodeY;

  // The element's shape with its defining points looked up in `points`.
  ElementGeometry geometry(const PointTable& points) const;
};

// A dielectric as written: relative permittivity and loss tangent, either constant or,
// with a frequency, the wideband Debye model that has these values there.
struct Medium {
  double permittivity = 1.0;
  double lossTangent = 0.0;
  double statedAt = 0.0;  // 0: constant; otherwise in `statedUnit`
  std::string statedUnit;
};

// A horizontal slab of dielectric between two heights (length units, before gridsize),
// running sideways beyond everything else in the cross-section.
struct Layer {
  double y1 = 0.0;
  double y2 = 0.0;
  Medium medium;
};

// A correction of a normal metal's surface losses for the roughness of its surface
// (prep/roughness.hpp); lengths in length units, as written (gridsize does not scale them).
enum class RoughnessModel : std::int32_t { kNone, kHammerstad, kGroisse, kHuray };

struct Roughness {
  RoughnessModel model = RoughnessModel::kNone;
  double rms = 0.0;           // Hammerstad, Groisse: rms height of the surface
  double sphereRadius = 0.0;  // Huray
  double spheres = 0.0;       // Huray: per tile, or per square length unit without a tile
  double tileArea = 0.0;      // Huray: square length units; 0 when not given
  bool operator==(const Roughness&) const = default;
};

// How a patch gives its material: "sc" and "nc" give lambda and sigma themselves; "mb"
// (Mattis-Bardeen) and "twofluid" give a superconductor by its transition temperature and
// normal-state resistivity, and the set-up derives lambda and sigma at the run's
// temperature and frequency.
enum class MaterialModel : std::int32_t { kGiven = 0, kMattisBardeen = 1, kTwoFluid = 2 };

struct MaterialPatch {
  bool superconducting = true;
  Complex k{};           // wave number per length unit (set-up)
  Complex wavelength{};  // 2 pi / k (set-up)
  double lambda = 0.0;   // London penetration depth, length units
  double sigma = 0.0;    // conductivity; in S/m after the set-up
  double mu = 1.0;       // relative permeability
  // A "dielectric" patch: its elements outline a region of `medium`, not metal.
  bool dielectric = false;
  Medium medium;
  Roughness roughness;
  double lossFactor = 1.0;  // K of the roughness at the run's frequency (set-up)
  MaterialModel model = MaterialModel::kGiven;
  double tc = 0.0;       // transition temperature, K ("mb": 0 takes it from the gap)
  double rhoN = 0.0;     // normal-state resistivity, microohm cm
  double gap = 0.0;      // "mb": Delta at T = 0 in meV (0: 1.764 k Tc)
  double lambda0 = 0.0;  // "twofluid": lambda at T = 0, length units
  // "mb" and "twofluid" at the run's temperature and frequency (set-up), from which
  // lambda and sigma come.
  SuperconductorResponse response;
};

struct Conductor {
  std::int32_t n_memb = 0;
  std::vector<std::int32_t> memb;  // element numbers, ascending
};

struct PolylineLayer {
  std::int32_t conductor = 0;
  std::int32_t patch = 0;
};

// The description of the cross-section being computed: settings, counts and the
// fixed-capacity tables. Numbers of points, elements, patches, conductors and layers
// index these tables from 0.
struct ProblemModel {
  // Settings as read.
  std::string caption;
  double ah = 1.0;
  double gridsize = 1.0;
  double frequency = 1.0;
  std::string frequencyUnit = "mhz";
  std::string lengthunit = "um";
  std::string conductanceunit = "ms/m";
  std::string symmetry = "off";
  std::string variables = "phases";
  // "graded": nodes clustered toward the corners of the outlines; any other word: even.
  std::string grid = "uniform";
  // The dielectric around the conductors: relative permittivity (0 when no "permittivity"
  // line was given: no capacitance is computed) and loss tangent.
  double permittivity = 0.0;
  double lossTangent = 0.0;
  // "accuracy": the relative error every printed entry is refined to (0: the grids as
  // given).
  double accuracy = 0.0;
  // The tolerance of a model that leaves every grid to the program (no grid count on any
  // element, no "ah" line) and asks for no accuracy: a model built in code gets the
  // library's default, input text 0 (its grids as the file gives them).
  double defaultAccuracy = 0.0;
  bool ahGiven = false;
  // The temperature of the superconductors of kinds "mb" and "twofluid", as written with
  // its unit word ("k" or "mk"); none until a "temperature" line gives it.
  bool hasTemperature = false;
  double temperature = 0.0;
  std::string temperatureUnit = "k";

  // Derived by the set-up and the grids.
  double lengthScale = 0.0;
  bool symmetryOn = false;
  // Nodes clustered toward the corners of the outlines instead of spread evenly.
  bool gradedGrids = false;
  bool phaseVariables = true;
  double omega = 0.0;
  // Some patch that an element uses has a roughness: the losses get their correction.
  bool roughSurfaces = false;
  double temperatureK = 0.0;
  std::int32_t nd = 0;
  std::int32_t nd0 = 0;

  std::int32_t pointCount = 0;
  std::int32_t elementCount = 0;
  std::int32_t patchCount = 0;
  std::int32_t conductorCount = 0;

  PointTable points{};
  std::array<BoundaryElement, kMaxElements> elements{};
  std::array<MaterialPatch, kMaxPatches> patches{};
  std::array<Conductor, kMaxConductorNumber + 1> conductors{};
  std::array<PolylineLayer, kMaxLayers> polylineLayers{};
  std::vector<Layer> layers;
  // The elements of dielectric patches, moved here from `elements` by the set-up, which
  // adds the rectangles of the layers (patch kMaxPatches + layer); "d0, d1, ..." in
  // messages.
  std::vector<BoundaryElement> dielectricOutlines;

  // What the reader doubted, each naming its line ("Line 2: ..."): the run reports
  // these warnings before the model's echo.
  std::vector<std::string> inputWarnings;
  // Points that took the place of a point given at other coordinates within 1e-7 (the
  // coincidence rule of findOrAddPoint): a feature smaller than that has vanished.
  std::vector<std::int32_t> mergedPoints;
  // Where each patch's sigma was last given ("Line 4") while its plausibility is not
  // yet checked; empty once checked.
  std::array<std::string, kMaxPatches> uncheckedSigma;
  // The same for each patch's roughness lengths.
  std::array<std::string, kMaxPatches> uncheckedRoughness;

  // True when a patch of kind "mb" or "twofluid" is used by an element: the run then
  // reports the kinetic inductance, the surface impedances and the conductor Q.
  bool usesTemperatureModels() const;

  // True when conductor 0, the return conductor, has at least one element.
  bool hasReturnConductor() const { return conductors[0].n_memb > 0; }
};

// Puts the tables into their state before reading. Text settings, `gridsize` and
// `frequency` keep their values.
void setDefaults(ProblemModel& model);

// The one way to create a point from coordinates: a point within 1e-7 in both
// coordinates of an existing one is that point.
std::int32_t findOrAddPoint(ProblemModel& model, double x, double y);

// When element e uses a point that took the place of another within 1e-7 (or, with
// `tooShort`, is itself shorter than that), the sentence that tells the user why a
// small feature vanished and what to do; otherwise empty.
std::string smallFeatureNote(const ProblemModel& model, std::int32_t e, bool tooShort = false);

}  // namespace qbr
