#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/problem_model.hpp"

namespace qbr {

// One closed polyline of an import file, as collected.
struct Polyline {
  std::int32_t elevation = 0;                                 // index into polylineLayers
  std::array<std::int32_t, kMaxPolylineVertices> vertices{};  // basic point numbers
  std::int32_t count = 0;
};

// Reads the polyline file `name` ("$POLYLINE" blocks, ended by "$EOF") and appends the
// vertices as points and every completed polyline as straight elements.
void importPolylineFile(ProblemModel& model, const std::string& name);

// Turns one polyline into a closed, counter-clockwise chain of straight elements whose
// conductor and patch come from the layer of its elevation. The chain is closed
// whether or not the file repeats the first vertex at the end; edges between equal
// points are left out.
void addPolylineElements(ProblemModel& model, const Polyline& polyline);

}  // namespace qbr
