#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qbr/result.hpp"

namespace qbr {

struct ProblemModel;

// A cross-section to compute: settings, material patches, points and boundary elements.
// Made from input-file text, from an input file, or statement by statement in code. The
// methods mirror the keywords of the input file and go through the same reader: the
// same defaults, validation, capacities (1000 points, 200 elements, patches 0 to 31) and
// messages, so a model built here computes exactly what the same lines in a file do.
// A statement the reader refuses throws qbr::Error with the program's message, in which
// the statement is "line n of the model", counted from 1.
//
// What the reader doubts but can read (a word that is no keyword, a setting word it does
// not know, a conductivity beyond any metal's) is a warning, kept in warnings() and
// reported by the solve. A strict model throws qbr::Error on such a warning instead:
// fromText and fromFile with `strict`, and every statement after setStrict(true), which
// then leaves the model as it was before the statement.
class Model {
 public:
  struct Point {
    double x = 0.0;
    double y = 0.0;
  };

  Model();
  ~Model();
  Model(const Model& other);
  Model& operator=(const Model& other);
  Model(Model&&) noexcept;
  Model& operator=(Model&&) noexcept;

  // The whole text of an input file; "dxc" files are looked for relative to the
  // current directory, as the program does.
  static Model fromText(const std::string& text, bool strict = false);
  static Model fromFile(const std::string& path, bool strict = false);

  // Statements from now on throw on the reader's warnings instead of keeping them.
  Model& setStrict(bool strict);
  bool strict() const { return strict_; }
  // The reader's warnings so far, each naming its line ("Line 2: ...").
  const std::vector<std::string>& warnings() const;

  // One line of input-file syntax ("rect -1 1 0.2 0.4 1 0 100 10", "cc caption", ...).
  Model& statement(const std::string& line);

  // Settings: lengthunit, gridsize, frequency, conductanceunit, variables, symmetry, grid, ah,
  // lambda and sigma of patch 0, caption.
  Model& lengthUnit(const std::string& unit);
  Model& gridSize(double g);
  Model& frequency(double value, const std::string& unit = "hz");
  Model& conductanceUnit(const std::string& unit);
  Model& variables(const std::string& word);  // "phases" or "impedance"
  Model& symmetry(bool on);
  // "graded" (the default of a model built in code) clusters the nodes toward the corners
  // of the outlines and integrates the pieces next to every node to second order;
  // "uniform" (the default of input files) spreads them evenly.
  Model& grid(const std::string& word);
  Model& ah(double h);
  Model& lambda(double lambda);
  Model& sigma(double sigma);
  Model& caption(const std::string& text);
  // "permittivity": the relative permittivity of the dielectric round the conductors;
  // with it the solve also computes the capacitance and the line parameters
  // (Result::line). "losstangent": tan(delta) of that dielectric, for G.
  Model& permittivity(double relative);
  // "accuracy": grids chosen and refined until every printed entry is resolved to it. A
  // model built in code (not from text) that gives no grid count and no `ah` is solved to
  // kDefaultTolerance (solve.hpp) without it.
  Model& accuracy(double tolerance);
  Model& lossTangent(double tanDelta);

  // "patch n kind [sigma [lambda [mu]]]": kind "sc" or "nc"; values left out keep theirs.
  // The kinds given by a transition temperature have their own methods below.
  Model& patch(int n, const std::string& kind, std::optional<double> sigma = {},
               std::optional<double> lambda = {}, std::optional<double> mu = {});

  // "roughness n model values": the surface roughness of normal-metal patch n, lengths in
  // length units: "hammerstad" or "groisse" with {rms height}, "huray" with {sphere
  // radius, spheres per square length unit} or {sphere radius, spheres per tile, tile
  // area}, "none" with {} for a smooth surface again.
  Model& roughness(int n, const std::string& model, const std::vector<double>& values = {});

  // "dielectric n er [tand [f [unit]]]": the elements of patch n outline a region of
  // dielectric; with `statedAt` the wideband Debye model with these values at that
  // frequency. "layer y1 y2 er [tand [f [unit]]]": a horizontal slab from y1 to y2 that
  // runs sideways beyond everything else.
  Model& dielectric(int n, double permittivity, double lossTangent = 0.0,
                    std::optional<double> statedAt = {}, const std::string& unit = "mhz");
  Model& layer(double y1, double y2, double permittivity, double lossTangent = 0.0,
               std::optional<double> statedAt = {}, const std::string& unit = "mhz");
  // "temperature T [unit]": the temperature of the patches of kinds "mb" and "twofluid";
  // unit "k" (kelvin) or "mk".
  Model& temperature(double value, const std::string& unit = "k");
  // "patch n mb Tc rho_n [gap]": a Mattis-Bardeen superconductor (local, dirty limit) by
  // its transition temperature in kelvin and normal-state resistivity in microohm cm;
  // gapMeV, Delta at T = 0 in meV, when it is not 1.764 k Tc (tcK 0: Tc from the gap).
  Model& mattisBardeenPatch(int n, double tcK, double rhoNMicroOhmCm, double gapMeV = 0.0);
  // "patch n twofluid Tc rho_n lambda0": the two-fluid superconductor, lambda0 in length
  // units: lambda = lambda0 / sqrt(1 - (T/Tc)^4), sigma1 = sigma_n (T/Tc)^4.
  Model& twoFluidPatch(int n, double tcK, double rhoNMicroOhmCm, double lambda0);

  // "pt": a basic point; returns its number (that of an earlier point within 1e-7).
  int point(double x, double y);

  // Elements by point numbers ("line", "curve", "circle") and by coordinates ("el 0/1/2").
  // gridCount 0 lets `ah` choose the number of nodes.
  Model& line(int conductor, int p0, int p1, int patch = 0, int gridCount = 0);
  Model& line(int conductor, Point p0, Point p1, int patch = 0, int gridCount = 0);
  Model& curve(int conductor, int p0, int p1, int p2, int patch = 0, int gridCount = 0);
  Model& curve(int conductor, Point p0, Point p1, Point p2, int patch = 0, int gridCount = 0);
  Model& circle(int conductor, int centre, double radius, bool counterClockwise = true,
                int patch = 0, int gridCount = 0);
  Model& circle(int conductor, Point centre, double radius, bool counterClockwise = true,
                int patch = 0, int gridCount = 0);
  // "rect x1 x2 y1 y2 c patch nx ny": four straight elements.
  Model& rectangle(double x1, double x2, double y1, double y2, int conductor = 0, int patch = 0,
                   int nx = 0, int ny = 0);
  // "pl layer c patch" and "dxc file".
  Model& polylineLayer(int layer, int conductor, int patch);
  Model& importPolylines(const std::string& file);

  // The outline of one element as drawn: points along it from its start (t = -1) to its
  // end (t = +1), equally spaced in its parameter, in length units after `gridsize`.
  // Elements of dielectric patches are `dielectric` and numbered among themselves (d0,
  // d1, ... in the program's drawing and messages); the metal's numbers skip them, as
  // the solve's node values do.
  struct ElementOutline {
    int element = 0;
    int conductor = 0;
    int patch = 0;
    std::vector<Point> points;
    bool dielectric = false;
  };
  // Every element's outline, for drawings of the cross-section; an element that names a
  // point not defined throws qbr::Error as a solve would.
  std::vector<ElementOutline> outlines(int pointsPerElement = 65) const;

  // The settings as they stand.
  Settings settings() const;
  int pointCount() const;
  int elementCount() const;

  // The tables behind the model (for the program and the library's own phases).
  const ProblemModel& tables() const { return *tables_; }

 private:
  std::unique_ptr<ProblemModel> tables_;
  long statements_ = 0;
  bool strict_ = false;
};

}  // namespace qbr
