#include "model/input_reader.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "model/line_tokens.hpp"
#include "model/polyline_import.hpp"
#include "model/rectangle.hpp"
#include "model/spelling.hpp"

namespace qbr {

namespace {

constexpr std::string_view kSource = "the input file";

constexpr std::string_view kKeywords[] = {"ah",
                                          "lambda",
                                          "sigma",
                                          "gridsize",
                                          "frequency",
                                          "lengthunit",
                                          "conductanceunit",
                                          "symmetry",
                                          "variables",
                                          "permittivity",
                                          "losstangent",
                                          "grid",
                                          "temperature",
                                          "patch",
                                          "roughness",
                                          "pl",
                                          "pt",
                                          "line",
                                          "curve",
                                          "circle",
                                          "el",
                                          "rect",
                                          "dxc",
                                          "dielectric",
                                          "layer",
                                          "accuracy"};

std::string inQuotes(std::string_view word) {
  std::string text(1, '"');
  text.append(word).push_back('"');
  return text;
}

// A setting word the set-up reads as one of `known` (the last for any other word):
// another word is a slip that would pass silently.
void checkSettingWord(const TokenCursor& tokens, const char* what, const std::string& word,
                      std::span<const std::string_view> known, const std::string& otherwise) {
  if (std::find(known.begin(), known.end(), word) != known.end()) return;
  std::string list;
  for (std::size_t i = 0; i < known.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == known.size() ? " nor " : ", ") + inQuotes(known[i]);
  }
  tokens.warn(std::string("the ") + what + " " + inQuotes(word) + " is neither " + list +
              didYouMean(word, known) + "; " + otherwise);
}

// Unit words the set-up refuses; said here, where the line is known.
void checkUnitWord(const TokenCursor& tokens, const char* what, const std::string& word,
                   std::span<const std::string_view> known) {
  if (std::find(known.begin(), known.end(), word) != known.end()) return;
  std::string list;
  for (std::size_t i = 0; i < known.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == known.size() ? " or " : ", ") + std::string(known[i]);
  }
  std::string hint = didYouMean(word, known);
  // The long forms of the micrometre, which no distance rule finds.
  if (hint.empty() && (word == "micron" || word == "microns" || word == "\u00b5m" ||
                       word == "\u03bcm" || word == "micrometer" || word == "micrometre")) {
    hint = " (did you mean \"um\"?)";
  }
  tokens.warn(std::string("the ") + what + " " + inQuotes(word) + " is not one of " + list + hint +
              "; the run cannot go on with it");
}

constexpr std::string_view kLengthUnits[] = {"m", "cm", "mm", "um"};
constexpr std::string_view kFrequencyUnits[] = {"hz", "khz", "mhz", "ghz"};
constexpr std::string_view kConductanceUnits[] = {"s/m", "ms/m"};
constexpr std::string_view kTemperatureUnits[] = {"k", "mk"};
constexpr std::string_view kPatchKinds[] = {"sc", "nc", "mb", "twofluid"};

// Explicit grid counts outside 3..500 are bounded by the grids without a word, and a
// negative one falls back to the spacing `ah`: both are likely slips.
void checkGridCount(const TokenCursor& tokens, const char* what, std::int32_t count) {
  if (count < 0) {
    tokens.warn(std::string("the ") + what + " " + std::to_string(count) +
                " is negative; the grid is chosen from ah as for 0");
  } else if (count > 0 && count < kMinGridCount) {
    tokens.warn(std::string("the ") + what + " " + std::to_string(count) + " is below " +
                std::to_string(kMinGridCount) + "; the element gets " +
                std::to_string(kMinGridCount) + " nodes");
  } else if (count > kMaxGridCount) {
    tokens.warn(std::string("the ") + what + " " + std::to_string(count) + " is above " +
                std::to_string(kMaxGridCount) + "; the element gets " +
                std::to_string(kMaxGridCount) + " nodes");
  }
}

// Comments, captions and blank lines are recognised on the line as written, before it
// is lower-cased.
enum class LineClass { kSkip, kCaption, kKeyword };

LineClass classify(std::string_view line) {
  if (line.starts_with("  ")) return LineClass::kSkip;
  if (line.empty() || line == "\t") return LineClass::kSkip;
  if (line.starts_with("rem") || line.starts_with("REM") || line.starts_with("//")) {
    return LineClass::kSkip;
  }
  if (line.starts_with("cc")) return LineClass::kCaption;
  return LineClass::kKeyword;
}

// Patch numbers index the patch table; one beyond it would be read by the set-up and
// the fill, so it stops the run where it is written.
std::int32_t checkedPatch(TokenCursor& tokens, std::int32_t patch) {
  if (patch >= kMaxPatches) {
    tokens.fail("the patch number " + std::to_string(patch) + " is larger than " +
                std::to_string(kMaxPatches - 1));
  }
  return patch;
}

// "patch n mb Tc rho_n [gap]" and "patch n twofluid Tc rho_n lambda0": a superconductor by
// its transition temperature in kelvin and normal-state resistivity in microohm cm; the
// Mattis-Bardeen one may give its gap at T = 0 in meV (and then Tc 0: from the gap), the
// two-fluid one gives its penetration depth at T = 0 in length units.
void readTemperatureModel(MaterialPatch& patch, TokenCursor& tokens, bool mattisBardeen) {
  patch.superconducting = true;
  patch.mu = 1.0;
  patch.model = mattisBardeen ? MaterialModel::kMattisBardeen : MaterialModel::kTwoFluid;
  patch.tc = tokens.real("critical temperature",
                         mattisBardeen ? RealRange::kNotNegative : RealRange::kPositive);
  patch.rhoN = tokens.real("normal-state resistivity", RealRange::kPositive);
  if (mattisBardeen) {
    patch.gap = tokens.optionalReal("gap", RealRange::kNotNegative).value_or(0.0);
    if (patch.tc == 0.0 && patch.gap == 0.0) {
      tokens.fail("the critical temperature and the gap are both 0; give one of them");
    }
  } else {
    patch.lambda0 = tokens.real("lambda at zero temperature", RealRange::kPositive);
  }
}

void readPatchLine(ProblemModel& model, TokenCursor& tokens, const SourceLine& line) {
  const std::int32_t n = tokens.index("patch number");
  if (n >= kMaxPatches) fatalStop("\nToo large patch number, STOP\n");
  MaterialPatch& patch = model.patches[n];
  const std::string& kind = tokens.word("patch kind");
  if (n + 1 > model.patchCount) model.patchCount = n + 1;
  patch.dielectric = false;
  if (kind == "mb" || kind == "twofluid") {
    readTemperatureModel(patch, tokens, kind == "mb");
    return;
  }
  patch.superconducting = kind == "sc";
  patch.model = MaterialModel::kGiven;
  checkSettingWord(tokens, "patch kind", kind, kPatchKinds,
                   "patch " + std::to_string(n) + " is read as a normal conductor");
  // Negative material constants have no physical meaning; a zero mu would make every
  // normal conductor's wave number vanish.
  if (auto sigma = tokens.optionalReal("sigma", RealRange::kNotNegative)) {
    patch.sigma = *sigma;
    model.uncheckedSigma[static_cast<std::size_t>(n)] = linePlace(line);
  }
  if (auto lambda = tokens.optionalReal("lambda", RealRange::kNotNegative)) {
    patch.lambda = *lambda;
    if (!patch.superconducting && *lambda > 0.0) {
      tokens.warn("patch " + std::to_string(n) +
                  " is a normal conductor: its lambda is not used (a superconductor is "
                  "\"patch " +
                  std::to_string(n) + " sc sigma lambda\")");
    }
  }
  if (auto mu = tokens.optionalReal("mu", RealRange::kPositive)) patch.mu = *mu;
}

// "er [tand [f [unit]]]" of a "dielectric" or "layer" line.
Medium readMedium(TokenCursor& tokens) {
  Medium medium;
  medium.permittivity = tokens.real("relative permittivity", RealRange::kPositive);
  if (medium.permittivity < 1.0) {
    std::ostringstream text;
    text << "the relative permittivity " << medium.permittivity << " is below 1, that of vacuum";
    tokens.warn(text.str());
  }
  if (auto tanDelta = tokens.optionalReal("loss tangent", RealRange::kNotNegative)) {
    medium.lossTangent = *tanDelta;
  }
  if (auto at = tokens.optionalReal("frequency of the stated values", RealRange::kPositive)) {
    medium.statedAt = *at;
    medium.statedUnit = tokens.optionalWord().value_or("mhz");
    checkUnitWord(tokens, "frequency unit", medium.statedUnit, kFrequencyUnits);
  }
  return medium;
}

// "dielectric n er [tand [f [unit]]]": the elements of patch n outline a dielectric.
void readDielectricLine(ProblemModel& model, TokenCursor& tokens) {
  const std::int32_t n = tokens.index("patch number");
  if (n >= kMaxPatches) fatalStop("\nToo large patch number, STOP\n");
  MaterialPatch& patch = model.patches[static_cast<std::size_t>(n)];
  patch.dielectric = true;
  patch.superconducting = false;
  patch.medium = readMedium(tokens);
  if (n + 1 > model.patchCount) model.patchCount = n + 1;
}

// "layer y1 y2 er [tand [f [unit]]]": a horizontal slab.
void readStackLayerLine(ProblemModel& model, TokenCursor& tokens) {
  if (static_cast<int>(model.layers.size()) >= kMaxDielectricLayers) {
    tokens.fail("more than " + std::to_string(kMaxDielectricLayers) + " layers");
  }
  Layer layer;
  layer.y1 = tokens.real("lower height y1");
  layer.y2 = tokens.real("upper height y2");
  if (!(layer.y1 != layer.y2)) tokens.fail("the layer has no thickness (y1 = y2)");
  if (layer.y1 > layer.y2) std::swap(layer.y1, layer.y2);
  layer.medium = readMedium(tokens);
  model.layers.push_back(layer);
}

constexpr std::string_view kRoughnessModels[] = {"hammerstad", "groisse", "huray", "none"};

// "roughness n model values": a correction of patch n's surface losses, lengths in length
// units. The kind of the patch is checked by the set-up: a "patch" line may follow.
void readRoughnessLine(ProblemModel& model, TokenCursor& tokens, const SourceLine& line) {
  const std::int32_t n = tokens.index("patch number");
  if (n >= kMaxPatches) fatalStop("\nToo large patch number, STOP\n");
  const std::string& name = tokens.word("roughness model");
  Roughness roughness;
  if (name == "hammerstad" || name == "groisse") {
    roughness.model = name == "hammerstad" ? RoughnessModel::kHammerstad : RoughnessModel::kGroisse;
    roughness.rms = tokens.real("rms roughness", RealRange::kNotNegative);
  } else if (name == "huray") {
    roughness.model = RoughnessModel::kHuray;
    roughness.sphereRadius = tokens.real("sphere radius", RealRange::kPositive);
    roughness.spheres = tokens.real("number of spheres", RealRange::kNotNegative);
    roughness.tileArea = tokens.optionalReal("tile area", RealRange::kPositive).value_or(0.0);
  } else if (name != "none") {
    checkSettingWord(tokens, "roughness model", name, kRoughnessModels,
                     "patch " + std::to_string(n) + " is taken as smooth");
    // The values of a model the reader does not know mean nothing: said once above.
    while (tokens.optionalWord()) {
    }
  }
  model.patches[static_cast<std::size_t>(n)].roughness = roughness;
  model.uncheckedRoughness[static_cast<std::size_t>(n)] =
      roughness.model == RoughnessModel::kNone ? std::string() : linePlace(line);
}

void readLayerLine(ProblemModel& model, TokenCursor& tokens) {
  const std::int32_t n = tokens.index("polyline layer number");
  if (n >= kMaxLayers) fatalStop("\nToo big polyline number, STOP\n");
  PolylineLayer& layer = model.polylineLayers[n];
  layer.conductor = tokens.index("conductor number");
  layer.patch = checkedPatch(tokens, tokens.index("patch number"));
}

void readPointLine(ProblemModel& model, TokenCursor& tokens) {
  if (model.pointCount >= kMaxPoints) fatalStop("Too many basic points, STOP");
  const std::int32_t n = tokens.index("point number");
  if (n != model.pointCount) fatalStop("\nError point number\n");
  const double x = tokens.real("x coordinate");
  const double y = tokens.real("y coordinate");
  findOrAddPoint(model, x, y);
}

void readCircleRest(BoundaryElement& element, TokenCursor& tokens, bool directionRequired) {
  element.R = tokens.real("radius");
  const std::optional<std::string> direction =
      directionRequired ? std::optional<std::string>(tokens.word("direction"))
                        : tokens.optionalWord();
  element.dir = !direction || direction->front() == '+';
  // Only the first character counts: "circle 1 0 2 3", meant with patch 3, would run
  // clockwise on patch 0.
  if (direction && *direction != "+" && *direction != "-") {
    tokens.warn("the direction " + inQuotes(*direction) +
                " is neither \"+\" nor \"-\"; the circle runs " +
                (element.dir ? "counter-clockwise" : "clockwise") +
                " (a patch number comes after the direction)");
  }
}

// "line", "curve", "circle" and "el" lines; `keyword` is one of them.
void readElementLine(ProblemModel& model, std::string_view keyword, TokenCursor& tokens) {
  if (model.elementCount >= kMaxElements) fatalStop("Too many boundary elements, STOP");
  BoundaryElement element;
  const bool byCoordinates = keyword == "el";
  if (byCoordinates) {
    element.kind = tokens.integer("element kind");
  } else {
    element.kind = keyword == "line" ? kLine : keyword == "curve" ? kCurve : kCircle;
  }
  element.conductor = tokens.index("conductor number");

  if (!byCoordinates) {
    const int count = element.kind == kLine ? 2 : element.kind == kCurve ? 3 : 1;
    for (int i = 0; i < count; ++i) element.pointNumbers[i] = tokens.index("point number");
    if (element.kind == kCircle) readCircleRest(element, tokens, false);
  } else {
    if (element.kind != kLine && element.kind != kCurve && element.kind != kCircle) {
      fatalStop("Unknown type of boundary elements, STOP");
    }
    const int count = element.kind == kLine ? 2 : element.kind == kCurve ? 3 : 1;
    for (int i = 0; i < count; ++i) {
      const double x = tokens.real("x coordinate");
      const double y = tokens.real("y coordinate");
      element.pointNumbers[i] = findOrAddPoint(model, x, y);
    }
    if (element.kind == kCircle) readCircleRest(element, tokens, true);
  }

  if (auto patch = tokens.optionalIndex("patch number")) {
    element.patch = checkedPatch(tokens, *patch);
  }
  if (auto gridCount = tokens.optionalInteger("grid count")) {
    element.gridCount = *gridCount;
    checkGridCount(tokens, "grid count", *gridCount);
  }
  model.elements[model.elementCount++] = std::move(element);
}

void readRectangleLine(ProblemModel& model, TokenCursor& tokens) {
  Rectangle rect;
  rect.x1 = tokens.real("x1");
  rect.x2 = tokens.real("x2");
  rect.y1 = tokens.real("y1");
  rect.y2 = tokens.real("y2");
  rect.conductor = tokens.optionalIndex("conductor number").value_or(0);
  rect.patch = checkedPatch(tokens, tokens.optionalIndex("patch number").value_or(0));
  rect.nx = tokens.optionalInteger("grid count nx").value_or(0);
  rect.ny = tokens.optionalInteger("grid count ny").value_or(0);
  checkGridCount(tokens, "grid count nx", rect.nx);
  checkGridCount(tokens, "grid count ny", rect.ny);
  addRectangle(model, rect);
}

void readPolylineFileLine(ProblemModel& model, TokenCursor& tokens) {
  const std::string& name = tokens.word("polyline file name");
  if (name.size() > static_cast<std::size_t>(kMaxFileNameLength)) {
    tokens.fail("the polyline file name is longer than " + std::to_string(kMaxFileNameLength) +
                " characters");
  }
  importPolylineFile(model, name);
}

// A keyword line that names no keyword is ignored (files may carry notes), with a
// warning that names the nearest keyword.
void warnUnknownKeyword(const TokenCursor& tokens, const std::string& word) {
  if (word == "rem" || word == "cc") {
    tokens.warn(inQuotes(word) +
                " is not a keyword here: comments begin with rem, REM or // and the caption "
                "with cc, at the very start of the line and in that case; the line is ignored");
    return;
  }
  tokens.warn(inQuotes(word) + " is not a keyword" + didYouMean(word, kKeywords) +
              "; the line is ignored");
}

void readKeywordLine(ProblemModel& model, const SourceLine& line) {
  TokenCursor tokens(splitTokens(toLowerAscii(std::string(line.text))), line, &model.inputWarnings);
  // A line of separators only holds nothing, like an empty one.
  if (!tokens.hasMore()) return;
  const std::string keyword = tokens.word("keyword");

  if (keyword == "ah") {
    model.ah = tokens.real("grid interval", RealRange::kPositive);
    model.ahGiven = true;
  } else if (keyword == "lambda") {
    model.patches[0].lambda = tokens.real("lambda", RealRange::kNotNegative);
  } else if (keyword == "sigma") {
    model.patches[0].sigma = tokens.real("sigma", RealRange::kNotNegative);
    model.uncheckedSigma[0] = linePlace(line);
  } else if (keyword == "gridsize") {
    model.gridsize = tokens.real("grid size", RealRange::kPositive);
  } else if (keyword == "frequency") {
    model.frequency = tokens.real("frequency", RealRange::kNotNegative);
    if (auto unit = tokens.optionalWord()) {
      model.frequencyUnit = *unit;
      checkUnitWord(tokens, "frequency unit", *unit, kFrequencyUnits);
    }
  } else if (keyword == "lengthunit") {
    model.lengthunit = tokens.word("length unit");
    checkUnitWord(tokens, "length unit", model.lengthunit, kLengthUnits);
  } else if (keyword == "conductanceunit") {
    model.conductanceunit = tokens.word("conductance unit");
    checkUnitWord(tokens, "conductance unit", model.conductanceunit, kConductanceUnits);
  } else if (keyword == "symmetry") {
    model.symmetry = tokens.word("symmetry word");
    constexpr std::string_view known[] = {"on", "off"};
    checkSettingWord(tokens, "symmetry word", model.symmetry, known, "symmetry is off");
  } else if (keyword == "variables") {
    model.variables = tokens.word("variables word");
    constexpr std::string_view known[] = {"phases", "impedance"};
    checkSettingWord(tokens, "variables word", model.variables, known,
                     "the impedance matrix is reported");
  } else if (keyword == "permittivity") {
    model.permittivity = tokens.real("permittivity", RealRange::kPositive);
  } else if (keyword == "accuracy") {
    model.accuracy = tokens.real("accuracy", RealRange::kPositive);
    if (model.accuracy >= 0.1 || model.accuracy < 1e-8) {
      std::ostringstream text;
      text << "the accuracy " << model.accuracy
           << " is outside 1e-8..0.1; the grids are chosen for 1e-3";
      model.accuracy = 1e-3;
      tokens.warn(text.str());
    }
  } else if (keyword == "losstangent") {
    model.lossTangent = tokens.real("loss tangent", RealRange::kNotNegative);
  } else if (keyword == "temperature") {
    model.temperature = tokens.real("temperature", RealRange::kNotNegative);
    model.hasTemperature = true;
    model.temperatureUnit = "k";
    if (auto unit = tokens.optionalWord()) {
      model.temperatureUnit = *unit;
      checkUnitWord(tokens, "temperature unit", *unit, kTemperatureUnits);
    }
  } else if (keyword == "grid") {
    model.grid = tokens.word("grid word");
    constexpr std::string_view known[] = {"graded", "uniform"};
    checkSettingWord(tokens, "grid word", model.grid, known, "the grid is uniform");
  } else if (keyword == "patch") {
    readPatchLine(model, tokens, line);
  } else if (keyword == "roughness") {
    readRoughnessLine(model, tokens, line);
  } else if (keyword == "pl") {
    readLayerLine(model, tokens);
  } else if (keyword == "pt") {
    readPointLine(model, tokens);
  } else if (keyword == "line" || keyword == "curve" || keyword == "circle" || keyword == "el") {
    readElementLine(model, keyword, tokens);
  } else if (keyword == "rect") {
    readRectangleLine(model, tokens);
  } else if (keyword == "dxc") {
    readPolylineFileLine(model, tokens);
  } else if (keyword == "dielectric") {
    readDielectricLine(model, tokens);
  } else if (keyword == "layer") {
    readStackLayerLine(model, tokens);
  } else {
    warnUnknownKeyword(tokens, keyword);
    return;
  }
  tokens.warnAboutRest(keyword);
}

int usedPointCount(const BoundaryElement& element) {
  return element.kind == kLine ? 2 : element.kind == kCurve ? 3 : 1;
}

}  // namespace

void checkPointNumbers(const ProblemModel& model) {
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& element = model.elements[e];
    for (int i = 0; i < usedPointCount(element); ++i) {
      const std::int32_t p = element.pointNumbers[i];
      if (p < 0 || p >= model.pointCount) {
        fatalStop("\nElement " + std::to_string(e) + " uses point " + std::to_string(p) +
                  ", which is not defined\n");
      }
    }
  }
}

void readInputLine(ProblemModel& model, const SourceLine& line) {
  switch (classify(line.text)) {
    case LineClass::kSkip:
      break;
    case LineClass::kCaption:
      model.caption = line.text.size() >= 4 ? std::string(line.text.substr(3)) : std::string();
      break;
    case LineClass::kKeyword:
      readKeywordLine(model, line);
      break;
  }
}

void checkConductivities(ProblemModel& model) {
  const double factor = model.conductanceunit == "s/m"    ? 1.0
                        : model.conductanceunit == "ms/m" ? 1e6
                                                          : 0.0;
  // No metal conducts better than about 1e10 S/m, ultrapure copper at 4 K included.
  constexpr double kMostConductive = 1e11;
  for (int i = 0; i < kMaxPatches; ++i) {
    const MaterialPatch& patch = model.patches[static_cast<std::size_t>(i)];
    const std::string place = std::move(model.uncheckedSigma[static_cast<std::size_t>(i)]);
    model.uncheckedSigma[static_cast<std::size_t>(i)].clear();
    if (place.empty()) continue;
    // An unknown unit stops the run at the set-up.
    const double sigma = patch.sigma * factor;
    if (!(sigma > kMostConductive)) continue;
    std::ostringstream text;
    text << place << ": patch " << i << " has the conductivity " << sigma << " S/m (" << patch.sigma
         << " " << model.conductanceunit << " as written), more than any metal has (1e11 S/m); ";
    if (factor > 1.0) {
      text << "conductivities are in ms/m, megasiemens per metre, unless a \"conductanceunit "
              "s/m\" line says otherwise (copper is 58 ms/m)";
    } else {
      text << "check the value (copper is 5.8e7 S/m)";
    }
    model.inputWarnings.push_back(text.str());
  }
}

void checkRoughness(ProblemModel& model) {
  double scale = 0.0;
  if (model.lengthunit == "m") scale = 1.0;
  if (model.lengthunit == "cm") scale = 0.01;
  if (model.lengthunit == "mm") scale = 0.001;
  if (model.lengthunit == "um") scale = 1e-6;
  // Copper foils have rms heights and nodule radii of a few micrometres; a tenth of a
  // millimetre is a length written in the wrong unit.
  constexpr double kRoughest = 1e-4;
  for (int i = 0; i < kMaxPatches; ++i) {
    const std::string place = std::move(model.uncheckedRoughness[static_cast<std::size_t>(i)]);
    model.uncheckedRoughness[static_cast<std::size_t>(i)].clear();
    if (place.empty()) continue;
    const Roughness& r = model.patches[static_cast<std::size_t>(i)].roughness;
    const bool spheres = r.model == RoughnessModel::kHuray;
    const double length = spheres ? r.sphereRadius : r.rms;
    // An unknown unit stops the run at the set-up.
    if (!(length * scale > kRoughest)) continue;
    std::ostringstream text;
    text << place << ": patch " << i << " has "
         << (spheres ? "spheres of radius " : "the rms height ") << length * scale << " m ("
         << length << " " << model.lengthunit
         << " as written), more than the roughness of any copper foil (a few um); roughness "
            "lengths are in the length unit";
    model.inputWarnings.push_back(text.str());
  }
}

void stopAtInputWarnings(const std::vector<std::string>& warnings) {
  if (warnings.empty()) return;
  std::string message = "\n";
  for (const std::string& warning : warnings) message += warning + "\n";
  message +=
      "Strict reading stops at input warnings: mend the lines above, or read the input "
      "without strict checking;\n";
  fatalStop(std::move(message));
}

void readInputText(ProblemModel& model, std::istream& in, const std::string& name, bool strict) {
  std::string text;
  long number = 0;
  std::size_t total = 0;
  for (;;) {
    const LineRead read = readTextLine(in, text);
    if (read == LineRead::kEnd) break;
    ++number;
    if (read == LineRead::kTooLong) stopAtLongLine(kSource, number);
    countFileLength(total, text, kSource);
    // Editors on Windows may put a byte order mark before the first keyword.
    if (number == 1 && text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    readInputLine(model, SourceLine{kSource, number, text});
  }
  // A read error must not pass for the end of the file: the model would be cut short.
  if (in.bad()) fatalStop("\nCan not read input file " + name);
  checkPointNumbers(model);
  checkConductivities(model);
  checkRoughness(model);
  if (strict) stopAtInputWarnings(model.inputWarnings);
}

void readInputFile(ProblemModel& model, const std::string& name, bool strict) {
  std::error_code ignored;
  if (std::filesystem::is_directory(name, ignored)) {
    fatalStop("\nCan not open input file " + name);
  }
  std::ifstream file(name);
  if (!file) fatalStop("\nCan not open input file " + name);
  readInputText(model, file, name, strict);
}

}  // namespace qbr
