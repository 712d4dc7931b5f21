#pragma once

#include <string>

#include "model/problem_model.hpp"

namespace qbr {

// Reads the input description `name` into `model` (after setDefaults): settings,
// patches, layers, points and elements, with "rect" lines expanded and "dxc" files
// imported where they stand. Once the whole file is read, every point number an
// element uses must name a defined point. Stops the run through fatalStop on every
// error; writes nothing else.
void readInputFile(ProblemModel& model, const std::string& name);

}  // namespace qbr
