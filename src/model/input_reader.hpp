#pragma once

#include <istream>
#include <string>
#include <vector>

#include "model/line_tokens.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Reads the input description `name` into `model` (after setDefaults): settings,
// patches, layers, points and elements, with "rect" lines expanded and "dxc" files
// imported where they stand. Once the whole file is read, every point number an
// element uses must name a defined point. Stops the run through fatalStop on every
// error; writes nothing else. What it reads but doubts (a word that is no keyword, a
// setting word it does not know, a conductivity beyond any metal's) goes into
// `model.inputWarnings`, each naming its line; `strict` stops the run on them instead.
void readInputFile(ProblemModel& model, const std::string& name, bool strict = false);

// The same for the text of an input description; `name` appears in the message of a
// read error.
void readInputText(ProblemModel& model, std::istream& in, const std::string& name,
                   bool strict = false);

// A conductivity above 1e11 S/m, given since the last check, is a warning: most likely
// siemens per metre written under the default unit, megasiemens per metre.
void checkConductivities(ProblemModel& model);

// A roughness length (rms height, sphere radius) above 0.1 mm, given since the last
// check, is a warning: foils are rough by a few micrometres, so the length is most likely
// written in another unit than the model's.
void checkRoughness(ProblemModel& model);

// Strict reading: stops the run with every warning in `warnings` when there is one.
void stopAtInputWarnings(const std::vector<std::string>& warnings);

// One line of an input description: a comment, the caption or a keyword line.
void readInputLine(ProblemModel& model, const SourceLine& line);

// Element lines may name points that a later "pt" line defines, so the numbers are
// checked once the whole description is read: every point number an element uses must
// name a defined point.
void checkPointNumbers(const ProblemModel& model);

}  // namespace qbr
