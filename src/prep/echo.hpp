#pragma once

#include "base/run_io.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Writes the prepared model to the run log as the later phases will use it (frequency
// in hertz, conductivities in S/m, scaled coordinates); the caption also goes to the
// console. Stops the run at an element of unknown kind.
void echoModel(const ProblemModel& model, RunIo& io);

}  // namespace qbr
