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

  // A warning goes on with the run: `consoleText` and `logText` are what the console and
  // the log get, `text` (the warning alone, without line breaks) goes into the result's list.
  void warn(const std::string& text, const std::string& consoleText, const std::string& logText) {
    console << consoleText;
    log << logText;
    if (warnings) warnings->push_back(text);
  }
};

}  // namespace qbr
