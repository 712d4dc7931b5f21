#pragma once

#include <ostream>

namespace qbr {

// Where a phase writes: the console (standard output in the program) and the run log
// qbr.log. Tests hand in string streams.
struct RunIo {
  std::ostream& console;
  std::ostream& log;
};

}  // namespace qbr
