#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "qbr/result.hpp"

namespace qbr {

// The input file as a template of one parameter: every token (between blanks, tabs,
// commas and '=') that names `name` as a word is an arithmetic expression of it and of
// numbers (+ - * /, brackets: "W", "-W/2", "G/2+1.5") and becomes its value; captions
// stay as written. Returns the text and, in `uses`, how many tokens it replaced.
std::string substituteParameter(const std::string& text, const std::string& name, double value,
                                int& uses);

// What --synthesize and --vary ask for.
struct SynthesisRequest {
  std::string quantity;  // one of lineQuantityNames()
  double target = 0.0;
  std::string parameter;
  double low = 0.0;
  double high = 0.0;
  double tolerance = 1e-3;  // relative to the target
};

// "Z0=50": the quantity and the target; "W=1:5": the parameter and its range. An empty
// optional for text of another form.
std::optional<SynthesisRequest> parseTarget(const std::string& text);
std::optional<SynthesisRequest> parseRange(const std::string& text);

// The run of a synthesis over the template `inputName`: every solve's value and quantity
// to the console and the log as it is done, then the report of the solve closest to the
// target (as a run of the program writes it) and the outcome. Throws qbr::Error when the
// template does not use the parameter, the target is not bracketed or the solves run out.
// Returns that solve's result and, in `json`, the "synthesis" member for the JSON file.
Result runSynthesis(const SynthesisRequest& request, const std::string& inputName, bool strict,
                    std::ostream& console, std::ostream& log, std::string& json);

}  // namespace qbr
