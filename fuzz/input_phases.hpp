#pragma once

// The phases of a run up to the grids, fed with arbitrary bytes: shared by the fuzz
// target and by the regression tests that replay what the fuzzer found. Header-only,
// so the fuzzer's own build (clang, libFuzzer) and the test build each compile it.

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "base/fatal_stop.hpp"
#include "base/run_io.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "plot/eps_plot.hpp"
#include "prep/echo.hpp"
#include "prep/grids.hpp"
#include "prep/model_checks.hpp"
#include "prep/setup.hpp"
#include "outline_oracle.hpp"

namespace qbr::fuzzing {

// Names in the current directory. The polyline name is lower case because the reader
// lower-cases the whole "dxc" line.
inline constexpr const char* kInputName = "input.txt";
inline constexpr const char* kPolylineName = "poly.dxc";

struct PhaseOutcome {
  bool stopped = false;  // a fatal stop ended the run
  std::string message;   // its message
  std::string fault;     // what makes a model that passed every phase unfit (modelFault),
                         // or a wrong outline verdict (outlineFault)
  std::string console;
  std::string log;
};

// A model that came through the grids must be one the matrix fill can work on: every
// element a finite, non-degenerate length and finite nodes, every used patch a finite
// non-zero wave number, the unknowns counted consistently. Anything else would flow
// into the matrix and come out as a result that was never computed. Returns what is
// wrong, or an empty string.
inline std::string modelFault(const ProblemModel& model) {
  if (model.elementCount < 0 || model.elementCount > kMaxElements) return "element count";
  if (model.conductorCount < 1 || model.conductorCount > kMaxConductorNumber) {
    return "conductor count";
  }
  if (!std::isfinite(model.omega) || model.omega < 0.0) return "omega";
  std::int64_t nodes = 0;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
    if (!std::isfinite(element.length) || element.length < kTiny) return "element length";
    if (element.patch < 0 || element.patch >= model.patchCount) return "element patch";
    const Complex k = model.patches[static_cast<std::size_t>(element.patch)].k;
    if (!std::isfinite(k.real()) || !std::isfinite(k.imag()) || k == Complex(0.0, 0.0)) {
      return "wave number";
    }
    const std::int32_t n = element.gridCount;
    if (n < kMinGridCount || n > kMaxGridCount) return "grid count";
    if (element.nodeX.size() != static_cast<std::size_t>(n) + 1) return "grid arrays";
    for (std::int32_t i = 1; i <= n; ++i) {
      const std::size_t s = static_cast<std::size_t>(i);
      if (!std::isfinite(element.nodeX[s]) || !std::isfinite(element.nodeY[s]) ||
          !(element.nodeT[s] >= -1.0 && element.nodeT[s] <= 1.0)) {
        return "grid node";
      }
    }
    nodes += n;
  }
  const std::int64_t nd0 = 2 * nodes;
  const std::int64_t nd = nd0 + model.conductorCount + (model.hasReturnConductor() ? 1 : 0);
  if (model.nd0 != nd0 || model.nd != nd) return "unknown count";
  for (std::int32_t c = 1; c <= model.conductorCount; ++c) {
    if (model.conductors[static_cast<std::size_t>(c)].n_memb == 0) return "empty conductor";
  }
  return {};
}

// Splits `data` at its first NUL byte: the bytes before it become the input file
// kInputName, the bytes after it the polyline file kPolylineName (empty without a
// NUL), both written to the current directory. Then runs setDefaults, readInputFile,
// setUpModel, the outline oracle (outlineFault), echoModel, writeEpsPlot,
// checkModelIsSolvable and buildGrids as the program does, with string streams for the
// console and the log. A fatal stop is a proper outcome; a model that passes every
// phase must have no modelFault, and no input may have an outlineFault.
inline PhaseOutcome runInputPhases(std::string_view data) {
  const std::size_t split = data.find('\0');
  const std::string_view input = data.substr(0, split);
  const std::string_view polyline =
      split == std::string_view::npos ? std::string_view() : data.substr(split + 1);
  {
    std::ofstream(kInputName, std::ios::binary | std::ios::trunc)
        .write(input.data(), static_cast<std::streamsize>(input.size()));
    std::ofstream(kPolylineName, std::ios::binary | std::ios::trunc)
        .write(polyline.data(), static_cast<std::streamsize>(polyline.size()));
  }

  std::ostringstream console;
  std::ostringstream log;
  RunIo io{console, log};
  PhaseOutcome outcome;
  ProblemModel model;
  try {
    setDefaults(model);
    readInputFile(model, kInputName);
    setUpModel(model, io);
    // The outline checks see every geometry that got this far, whatever its materials.
    outcome.fault = outlineFault(model);
    echoModel(model, io);
    writeEpsPlot(model.elements, model.elementCount, model.symmetryOn, kInputName, model.points,
                 io);
    checkModelIsSolvable(model);
    buildGrids(model, io);
    if (outcome.fault.empty()) outcome.fault = modelFault(model);
  } catch (const FatalError& error) {
    outcome.stopped = true;
    outcome.message = error.message();
  }
  outcome.console = console.str();
  outcome.log = log.str();
  return outcome;
}

}  // namespace qbr::fuzzing
