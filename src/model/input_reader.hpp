#pragma once

#include <string>

#include "model/problem_model.hpp"

namespace qbr {

// Reads the input description `name` into `model` (after setDefaults). Stops the run
// through fatalStop on every error.
void readInputFile(ProblemModel& model, const std::string& name);

}  // namespace qbr
