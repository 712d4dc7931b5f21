#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "driver/run_io.hpp"
#include "model/conductor_matrix.hpp"
#include "model/problem_model.hpp"

namespace qbr {

struct DriverOptions {
  // The program always waits five seconds before it ends; in-process tests skip it.
  bool closingWait = true;
  std::filesystem::path logPath = "qbr.log";
};

// One run of the program: banner, input file name, run log, the phases, total time
// and closing wait. `args` are the command-line arguments after the program name.
// Returns the exit status.
int runProgram(const std::vector<std::string>& args, std::istream& in, std::ostream& console,
               const DriverOptions& options = {});

// The BEM part of a run on a prepared model (read, set up and checked): grids, work
// arrays, matrix fill, factorisation and solution. Releases the work arrays.
ConductorMatrix solveModel(ProblemModel& model, RunIo& io);

// The banner box, as written to the console.
std::string bannerText();

}  // namespace qbr
