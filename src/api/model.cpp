// qbr::Model: the model tables with the input file's reader in front of them.
#include "qbr/model.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <vector>

#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "qbr/solve.hpp"
#include "prep/roughness.hpp"

namespace qbr {

namespace {

// Shortest text that reads back as the same double.
std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

std::string number(int v) {
  return std::to_string(v);
}

std::string words(const std::vector<std::string>& items) {
  std::string line;
  for (const std::string& item : items) {
    if (!line.empty()) line += ' ';
    line += item;
  }
  return line;
}

std::string coordinates(Model::Point p) {
  return words({number(p.x), number(p.y)});
}

}  // namespace

// A model built in code gets graded grids unless it asks otherwise, and grids refined to
// the library's default tolerance where it leaves them all to the program; one read from
// input text keeps the input file's defaults, the even grid and the counts as written, so
// that files reproduce their results.
Model::Model() : tables_(std::make_unique<ProblemModel>()) {
  setDefaults(*tables_);
  tables_->grid = "graded";
  tables_->defaultAccuracy = kDefaultTolerance;
}
Model::~Model() = default;
Model::Model(const Model& other)
    : tables_(std::make_unique<ProblemModel>(*other.tables_)),
      statements_(other.statements_),
      strict_(other.strict_) {}
Model& Model::operator=(const Model& other) {
  if (this != &other) {
    tables_ = std::make_unique<ProblemModel>(*other.tables_);
    statements_ = other.statements_;
    strict_ = other.strict_;
  }
  return *this;
}
Model::Model(Model&&) noexcept = default;
Model& Model::operator=(Model&&) noexcept = default;

Model Model::fromText(const std::string& text, bool strict) {
  Model model;
  model.tables_->grid = "uniform";
  model.tables_->defaultAccuracy = 0.0;
  std::istringstream in(text);
  readInputText(*model.tables_, in, "text", strict);
  model.strict_ = strict;
  return model;
}

Model Model::fromFile(const std::string& path, bool strict) {
  Model model;
  model.tables_->grid = "uniform";
  model.tables_->defaultAccuracy = 0.0;
  readInputFile(*model.tables_, path, strict);
  model.strict_ = strict;
  return model;
}

Model& Model::setStrict(bool strict) {
  strict_ = strict;
  return *this;
}

const std::vector<std::string>& Model::warnings() const {
  return tables_->inputWarnings;
}

Model& Model::statement(const std::string& line) {
  // Statements are lines of an input file called "the model"; the file's line length
  // limit holds for them too.
  const long number = ++statements_;
  if (line.size() > kMaxLineLength) stopAtLongLine("the model", number);
  if (!strict_) {
    readInputLine(*tables_, SourceLine{"the model", number, line});
    checkConductivities(*tables_);
    checkRoughness(*tables_);
    return *this;
  }
  // A strict statement that the reader doubts leaves the model as it was.
  ProblemModel before = *tables_;
  const std::size_t known = tables_->inputWarnings.size();
  readInputLine(*tables_, SourceLine{"the model", number, line});
  checkConductivities(*tables_);
  checkRoughness(*tables_);
  if (tables_->inputWarnings.size() > known) {
    const std::vector<std::string> doubts(tables_->inputWarnings.begin() + known,
                                          tables_->inputWarnings.end());
    *tables_ = std::move(before);
    --statements_;
    stopAtInputWarnings(doubts);
  }
  return *this;
}

Model& Model::lengthUnit(const std::string& unit) {
  return statement(words({"lengthunit", unit}));
}
Model& Model::gridSize(double g) {
  return statement(words({"gridsize", number(g)}));
}
Model& Model::frequency(double value, const std::string& unit) {
  return statement(words({"frequency", number(value), unit}));
}
Model& Model::conductanceUnit(const std::string& unit) {
  return statement(words({"conductanceunit", unit}));
}
Model& Model::variables(const std::string& word) {
  return statement(words({"variables", word}));
}
Model& Model::symmetry(bool on) {
  return statement(on ? "symmetry on" : "symmetry off");
}
Model& Model::grid(const std::string& word) {
  return statement(words({"grid", word}));
}
Model& Model::ah(double h) {
  return statement(words({"ah", number(h)}));
}
Model& Model::lambda(double lambda) {
  return statement(words({"lambda", number(lambda)}));
}
Model& Model::sigma(double sigma) {
  return statement(words({"sigma", number(sigma)}));
}
Model& Model::accuracy(double tolerance) {
  return statement(words({"accuracy", number(tolerance)}));
}
Model& Model::permittivity(double relative) {
  return statement(words({"permittivity", number(relative)}));
}
Model& Model::lossTangent(double tanDelta) {
  return statement(words({"losstangent", number(tanDelta)}));
}
Model& Model::caption(const std::string& text) {
  return statement(words({"cc", text}));
}

Model& Model::temperature(double value, const std::string& unit) {
  return statement(words({"temperature", number(value), unit}));
}

Model& Model::mattisBardeenPatch(int n, double tcK, double rhoNMicroOhmCm, double gapMeV) {
  std::vector<std::string> line{"patch", number(n), "mb", number(tcK), number(rhoNMicroOhmCm)};
  if (gapMeV != 0.0) line.push_back(number(gapMeV));
  return statement(words(line));
}

Model& Model::twoFluidPatch(int n, double tcK, double rhoNMicroOhmCm, double lambda0) {
  return statement(words(
      {"patch", number(n), "twofluid", number(tcK), number(rhoNMicroOhmCm), number(lambda0)}));
}

Model& Model::patch(int n, const std::string& kind, std::optional<double> sigma,
                    std::optional<double> lambda, std::optional<double> mu) {
  // Their tokens are not sigma, lambda and mu: the numbers would be read as Tc and rho_n.
  std::string lower = kind;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (lower == "mb" || lower == "twofluid") {
    throw Error("\nPatch kind " + kind + " takes other numbers than sigma, lambda and mu: use " +
                (lower == "mb" ? "mattisBardeenPatch" : "twoFluidPatch") + ";\n");
  }
  // Optional tokens can only be left out from the end: a value given after one left
  // out keeps the one left out as it stands.
  const MaterialPatch current =
      n >= 0 && n < kMaxPatches ? tables_->patches[static_cast<std::size_t>(n)] : MaterialPatch{};
  std::vector<std::string> line{"patch", number(n), kind};
  if (sigma || lambda || mu) line.push_back(number(sigma.value_or(current.sigma)));
  if (lambda || mu) line.push_back(number(lambda.value_or(current.lambda)));
  if (mu) line.push_back(number(*mu));
  return statement(words(line));
}

Model& Model::dielectric(int n, double permittivity, double lossTangent,
                         std::optional<double> statedAt, const std::string& unit) {
  std::vector<std::string> line{"dielectric", number(n), number(permittivity), number(lossTangent)};
  if (statedAt) line.insert(line.end(), {number(*statedAt), unit});
  return statement(words(line));
}

Model& Model::layer(double y1, double y2, double permittivity, double lossTangent,
                    std::optional<double> statedAt, const std::string& unit) {
  std::vector<std::string> line{"layer", number(y1), number(y2), number(permittivity),
                                number(lossTangent)};
  if (statedAt) line.insert(line.end(), {number(*statedAt), unit});
  return statement(words(line));
}

Model& Model::roughness(int n, const std::string& model, const std::vector<double>& values) {
  std::vector<std::string> line{"roughness", number(n), model};
  for (double v : values) line.push_back(number(v));
  return statement(words(line));
}

int Model::point(double x, double y) {
  statement(words({"pt", number(tables_->pointCount), number(x), number(y)}));
  // The point exists now, as a new one or as the earlier one it coincides with.
  return findOrAddPoint(*tables_, x, y);
}

Model& Model::line(int conductor, int p0, int p1, int patch, int gridCount) {
  return statement(
      words({"line", number(conductor), number(p0), number(p1), number(patch), number(gridCount)}));
}
Model& Model::line(int conductor, Point p0, Point p1, int patch, int gridCount) {
  return statement(words({"el 0", number(conductor), coordinates(p0), coordinates(p1),
                          number(patch), number(gridCount)}));
}
Model& Model::curve(int conductor, int p0, int p1, int p2, int patch, int gridCount) {
  return statement(words({"curve", number(conductor), number(p0), number(p1), number(p2),
                          number(patch), number(gridCount)}));
}
Model& Model::curve(int conductor, Point p0, Point p1, Point p2, int patch, int gridCount) {
  return statement(words({"el 1", number(conductor), coordinates(p0), coordinates(p1),
                          coordinates(p2), number(patch), number(gridCount)}));
}
Model& Model::circle(int conductor, int centre, double radius, bool counterClockwise, int patch,
                     int gridCount) {
  return statement(words({"circle", number(conductor), number(centre), number(radius),
                          counterClockwise ? "+" : "-", number(patch), number(gridCount)}));
}
Model& Model::circle(int conductor, Point centre, double radius, bool counterClockwise, int patch,
                     int gridCount) {
  return statement(words({"el 2", number(conductor), coordinates(centre), number(radius),
                          counterClockwise ? "+" : "-", number(patch), number(gridCount)}));
}
Model& Model::rectangle(double x1, double x2, double y1, double y2, int conductor, int patch,
                        int nx, int ny) {
  return statement(words({"rect", number(x1), number(x2), number(y1), number(y2), number(conductor),
                          number(patch), number(nx), number(ny)}));
}
Model& Model::polylineLayer(int layer, int conductor, int patch) {
  return statement(words({"pl", number(layer), number(conductor), number(patch)}));
}
Model& Model::importPolylines(const std::string& file) {
  return statement(words({"dxc", file}));
}

Settings Model::settings() const {
  const ProblemModel& m = *tables_;
  Settings s;
  s.caption = m.caption;
  s.lengthUnit = m.lengthunit;
  s.gridSize = m.gridsize;
  s.frequency = m.frequency;
  s.frequencyUnit = m.frequencyUnit;
  s.conductanceUnit = m.conductanceunit;
  s.variables = m.variables;
  s.symmetry = m.symmetry;
  s.grid = m.grid;
  s.ah = m.ah;
  if (m.permittivity > 0.0) s.permittivity = m.permittivity;
  s.lossTangent = m.lossTangent;
  if (m.hasTemperature) s.temperature = m.temperature;
  s.temperatureUnit = m.temperatureUnit;
  if (m.accuracy > 0.0) s.accuracy = m.accuracy;
  // A model without "patch" lines still has patch 0, from "lambda" and "sigma".
  const int patches = std::max(m.patchCount, 1);
  for (int i = 0; i < patches; ++i) {
    const MaterialPatch& p = m.patches[static_cast<std::size_t>(i)];
    PatchSettings patch{i,    p.superconducting, p.sigma,      p.lambda,
                        p.mu, std::nullopt,      std::nullopt, std::nullopt};
    if (p.dielectric) {
      patch.dielectric = DielectricSettings{p.medium.permittivity, p.medium.lossTangent,
                                            p.medium.statedAt, p.medium.statedUnit};
    }
    const Roughness& r = p.roughness;
    if (r.model != RoughnessModel::kNone) {
      patch.roughness = RoughnessSettings{roughnessModelName(r.model), r.rms, r.sphereRadius,
                                          r.spheres, r.tileArea};
    }
    if (p.model != MaterialModel::kGiven) {
      patch.superconductor =
          SuperconductorSettings{p.model == MaterialModel::kMattisBardeen ? "mb" : "twofluid", p.tc,
                                 p.rhoN, p.gap, p.lambda0};
    }
    s.patches.push_back(std::move(patch));
  }
  for (const Layer& layer : m.layers) {
    s.layers.push_back({layer.y1, layer.y2,
                        DielectricSettings{layer.medium.permittivity, layer.medium.lossTangent,
                                           layer.medium.statedAt, layer.medium.statedUnit}});
  }
  return s;
}

std::vector<Model::ElementOutline> Model::outlines(int pointsPerElement) const {
  checkPointNumbers(*tables_);
  PointTable points = tables_->points;
  for (BasicPoint& p : points) {
    p.x *= tables_->gridsize;
    p.y *= tables_->gridsize;
  }
  const int samples = std::max(pointsPerElement, 2);
  std::vector<ElementOutline> outlines;
  int metal = 0;
  int dielectric = 0;
  for (int e = 0; e < tables_->elementCount; ++e) {
    BoundaryElement element = tables_->elements[static_cast<std::size_t>(e)];
    element.R *= tables_->gridsize;
    const ElementGeometry geometry = element.geometry(points);
    const bool isDielectric = element.patch >= 0 && element.patch < kMaxPatches &&
                              tables_->patches[static_cast<std::size_t>(element.patch)].dielectric;
    ElementOutline outline{
        isDielectric ? dielectric++ : metal++, element.conductor, element.patch, {}, isDielectric};
    for (int i = 0; i < samples; ++i) {
      const Vec2 p = geometry.pointAt(-1.0 + 2.0 * i / (samples - 1));
      outline.points.push_back({p.x, p.y});
    }
    outlines.push_back(std::move(outline));
  }
  return outlines;
}

int Model::pointCount() const {
  return tables_->pointCount;
}
int Model::elementCount() const {
  return tables_->elementCount;
}

}  // namespace qbr
