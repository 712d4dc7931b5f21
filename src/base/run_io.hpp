#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qbr {

// Where a phase writes: the console (standard output in the program) and the run log
// qbr.log; a library solve without the program's texts hands in streams that discard
// them. Tests hand in string streams. Warnings are also collected for the result.
struct RunIo {
  std::ostream& console;
  std::ostream& log;
  std::vector<std::string>* warnings = nullptr;

  // A warning goes on with the run: its line on the console, set off by blank lines in
  // the log, and into the result's list.
  void warn(const std::string& text) {
    console << text << "\n";
    log << "\n" << text << "\n\n";
    if (warnings) warnings->push_back(text);
  }
};

}  // namespace qbr
