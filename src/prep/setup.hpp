#pragma once

#include <string>

#include "base/run_io.hpp"
#include "model/constants.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Hertz per unit of a frequency: "hz", "khz", "mhz", "ghz"; any other word stops the run
// with "Unknown frequency unit".
double frequencyFactor(const std::string& unit);

// Brings the model as read into the units of the computation, once and in place:
// unit words become factors, coordinates and radii are scaled by `gridsize`,
// conductivities go to S/m, the angular frequency is derived, the conductor member
// lists are built, every element measures its length and every patch gets its complex
// wave number and the factor of its surface roughness (prep/roughness.hpp). Warns on the console
// and in the log when the smallest |k| is below 1.
void setUpModel(ProblemModel& model, RunIo& io);

// Complex wave number of a patch, per length unit; needs `omega`, `lengthScale` and
// the patch's sigma in S/m.
Complex waveNumber(const ProblemModel& model, int patch);

}  // namespace qbr
