#pragma once

#include <istream>
#include <string>

#include "model/line_tokens.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Reads the input description `name` into `model` (after setDefaults): settings,
// patches, layers, points and elements, with "rect" lines expanded and "dxc" files
// imported where they stand. Once the whole file is read, every point number an
// element uses must name a defined point. Stops the run through fatalStop on every
// error; writes nothing else.
void readInputFile(ProblemModel& model, const std::string& name);

// The same for the text of an input description; `name` appears in the message of a
// read error.
void readInputText(ProblemModel& model, std::istream& in, const std::string& name);

// One line of an input description: a comment, the caption or a keyword line.
void readInputLine(ProblemModel& model, const SourceLine& line);

// Element lines may name points that a later "pt" line defines, so the numbers are
// checked once the whole description is read: every point number an element uses must
// name a defined point.
void checkPointNumbers(const ProblemModel& model);

}  // namespace qbr
