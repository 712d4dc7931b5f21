#include "model/input_reader.hpp"

#include <filesystem>
#include <fstream>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "model/line_tokens.hpp"
#include "model/polyline_import.hpp"
#include "model/rectangle.hpp"

namespace qbr {

namespace {

constexpr std::string_view kSource = "the input file";

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

void readPatchLine(ProblemModel& model, TokenCursor& tokens) {
  const std::int32_t n = tokens.index("patch number");
  if (n >= kMaxPatches) fatalStop("\nToo large patch number, STOP\n");
  MaterialPatch& patch = model.patches[n];
  patch.superconducting = tokens.word("patch kind") == "sc";
  // Negative material constants have no physical meaning; a zero mu would make every
  // normal conductor's wave number vanish.
  if (auto sigma = tokens.optionalReal("sigma", RealRange::kNotNegative)) patch.sigma = *sigma;
  if (auto lambda = tokens.optionalReal("lambda", RealRange::kNotNegative)) {
    patch.lambda = *lambda;
  }
  if (auto mu = tokens.optionalReal("mu", RealRange::kPositive)) patch.mu = *mu;
  if (n + 1 > model.patchCount) model.patchCount = n + 1;
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
  const std::optional<char> direction =
      directionRequired ? tokens.firstCharacter("direction") : tokens.optionalFirstCharacter();
  element.dir = !direction || *direction == '+';
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
  if (auto gridCount = tokens.optionalInteger("grid count")) element.gridCount = *gridCount;
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

void readKeywordLine(ProblemModel& model, const SourceLine& line) {
  TokenCursor tokens(splitTokens(toLowerAscii(std::string(line.text))), line);
  // A line of separators only holds nothing, like an empty one.
  if (!tokens.hasMore()) return;
  const std::string keyword = tokens.word("keyword");

  if (keyword == "ah") {
    model.ah = tokens.real("grid interval", RealRange::kPositive);
  } else if (keyword == "lambda") {
    model.patches[0].lambda = tokens.real("lambda", RealRange::kNotNegative);
  } else if (keyword == "sigma") {
    model.patches[0].sigma = tokens.real("sigma", RealRange::kNotNegative);
  } else if (keyword == "gridsize") {
    model.gridsize = tokens.real("grid size", RealRange::kPositive);
  } else if (keyword == "frequency") {
    model.frequency = tokens.real("frequency", RealRange::kNotNegative);
    if (auto unit = tokens.optionalWord()) model.frequencyUnit = *unit;
  } else if (keyword == "lengthunit") {
    model.lengthunit = tokens.word("length unit");
  } else if (keyword == "conductanceunit") {
    model.conductanceunit = tokens.word("conductance unit");
  } else if (keyword == "symmetry") {
    model.symmetry = tokens.word("symmetry word");
  } else if (keyword == "variables") {
    model.variables = tokens.word("variables word");
  } else if (keyword == "grid") {
    model.grid = tokens.word("grid word");
  } else if (keyword == "patch") {
    readPatchLine(model, tokens);
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
  }
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

void readInputText(ProblemModel& model, std::istream& in, const std::string& name) {
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
}

void readInputFile(ProblemModel& model, const std::string& name) {
  std::error_code ignored;
  if (std::filesystem::is_directory(name, ignored)) {
    fatalStop("\nCan not open input file " + name);
  }
  std::ifstream file(name);
  if (!file) fatalStop("\nCan not open input file " + name);
  readInputText(model, file, name);
}

}  // namespace qbr
