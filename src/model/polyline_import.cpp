#include "model/polyline_import.hpp"

#include <filesystem>
#include <fstream>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "model/line_tokens.hpp"

namespace qbr {

namespace {

enum class ImportState { kIdle, kSkip, kElevation, kVertices };

bool isBlank(std::string_view text) {
  return text.find_first_not_of(" \t\v\f\r") == std::string_view::npos;
}

std::int32_t readElevation(const SourceLine& line) {
  std::int32_t elevation = 0;
  switch (parseInt32(std::string(line.text).c_str(), elevation)) {
    case ParseStatus::kOk:
      break;
    case ParseStatus::kOutOfRange:
      stopAtLine(line, "the elevation number is out of range");
    case ParseStatus::kNotANumber:
    case ParseStatus::kNotFinite:
      stopAtLine(line, "the elevation number is missing or not an integer");
  }
  if (elevation < 0) stopAtLine(line, "the elevation number is negative");
  if (elevation >= kMaxLayers) fatalStop("\nToo large elevation number;\n");
  return elevation;
}

void addVertex(ProblemModel& model, Polyline& polyline, const SourceLine& line) {
  const std::string text(line.text);
  const char* rest = text.c_str();
  double x = 0.0;
  double y = 0.0;
  const auto check = [&line](ParseStatus status, const char* what) {
    if (status == ParseStatus::kNotFinite) {
      stopAtLine(line, std::string("the vertex ") + what + " is not a finite number");
    }
    if (status != ParseStatus::kOk) {
      stopAtLine(line, std::string("the vertex ") + what + " is not a number");
    }
  };
  check(parseReal(rest, x, &rest), "x coordinate");
  if (isBlank(rest)) stopAtLine(line, "the vertex y coordinate is missing");
  check(parseReal(rest, y, &rest), "y coordinate");
  if (polyline.count >= kMaxPolylineVertices) {
    stopAtLine(line,
               "a polyline has more than " + std::to_string(kMaxPolylineVertices) + " vertices");
  }
  polyline.vertices[polyline.count++] = findOrAddPoint(model, x, y);
}

}  // namespace

void importPolylineFile(ProblemModel& model, const std::string& name) {
  std::error_code ignored;
  if (std::filesystem::is_directory(name, ignored)) fatalStop("\nCan not open DXC file\n");
  std::ifstream file(name);
  if (!file) fatalStop("\nCan not open DXC file\n");

  const std::string source = "the polyline file " + name;
  std::string text;
  long number = 0;
  std::size_t total = 0;
  // Polylines that are not completed make no elements, so a file cut short by a read
  // error would silently lose them.
  const auto next = [&]() {
    const LineRead read = readTextLine(file, text);
    if (read == LineRead::kEnd && file.bad()) fatalStop("\nCan not read DXC file\n");
    if (read == LineRead::kEnd) return false;
    ++number;
    if (read == LineRead::kTooLong) stopAtLongLine(source, number);
    countFileLength(total, text, source);
    return true;
  };
  if (!next()) return;  // the first line is a header

  ImportState state = ImportState::kIdle;
  Polyline polyline;
  while (next()) {
    const SourceLine line{source, number, text};
    if (text.starts_with("$EOF")) {
      if (state == ImportState::kVertices) addPolylineElements(model, polyline);
      return;
    }
    if (text.starts_with("$POLYLINE")) {
      if (state == ImportState::kVertices) addPolylineElements(model, polyline);
      polyline = Polyline{};
      state = ImportState::kSkip;
      continue;
    }
    switch (state) {
      case ImportState::kIdle:
        break;
      case ImportState::kSkip:
        state = ImportState::kElevation;
        break;
      case ImportState::kElevation:
        polyline.elevation = readElevation(line);
        state = ImportState::kVertices;
        break;
      case ImportState::kVertices:
        // A blank line holds no vertex; skipping it loses nothing.
        if (!isBlank(text)) addVertex(model, polyline, line);
        break;
    }
  }
  // Without "$EOF" the last polyline stays incomplete: its points exist, its elements
  // are not made.
}

void addPolylineElements(ProblemModel& model, const Polyline& polyline) {
  if (polyline.elevation < 0 || polyline.elevation >= kMaxLayers) {
    fatalStop("\nToo large elevation number;\n");
  }
  const std::int32_t n = polyline.count;
  auto point = [&](std::int32_t k) -> const BasicPoint& {
    return model.points[polyline.vertices[k % n]];
  };

  // Signed area by the trapezoid rule over the closed polygon; positive when the
  // vertices run counter-clockwise.
  double area = 0.0;
  for (std::int32_t k = 0; k < n; ++k) {
    const BasicPoint& a = point(k);
    const BasicPoint& b = point(k + 1);
    area += (a.x + b.x) / 2.0 * (b.y - a.y);
  }
  if (!(area > kTiny || area < -kTiny)) fatalStop("\nPolyline has zero square!\n");
  const bool reversed = area < 0.0;

  const PolylineLayer& layer = model.polylineLayers[polyline.elevation];
  // The last edge runs back to the first vertex; when the file repeats the first
  // vertex at the end, that edge and any other between equal points would have zero
  // length and is left out.
  for (std::int32_t k = 0; k < n; ++k) {
    const std::int32_t from = polyline.vertices[k];
    const std::int32_t to = polyline.vertices[(k + 1) % n];
    if (from == to) continue;
    if (model.elementCount >= kMaxElements) {
      fatalStop("Too many boundary elements from polylines, STOP");
    }
    BoundaryElement edge;
    edge.kind = kLine;
    edge.conductor = layer.conductor;
    edge.patch = layer.patch;
    edge.pointNumbers[0] = reversed ? to : from;
    edge.pointNumbers[1] = reversed ? from : to;
    model.elements[model.elementCount++] = std::move(edge);
  }
}

}  // namespace qbr
