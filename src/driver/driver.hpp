#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace qbr {

struct DriverOptions {
  // The program always waits five seconds before it ends; in-process tests skip it.
  bool closingWait = true;
  std::filesystem::path logPath = "qbr.log";
};

// One run of the program: options, banner, input file name, run log, the solve through
// the library, total time and closing wait. `args` are the command-line arguments after
// the program name. Returns the exit status.
int runProgram(const std::vector<std::string>& args, std::istream& in, std::ostream& console,
               const DriverOptions& options = {});

// The banner box, as written to the console.
std::string bannerText();

}  // namespace qbr
