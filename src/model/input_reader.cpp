#include "model/input_reader.hpp"

#include <fstream>

#include "driver/fatal_stop.hpp"

namespace qbr {

void readInputFile(ProblemModel& model, const std::string& name) {
  (void)model;
  std::ifstream file(name);
  if (!file) fatalStop("\nCan not open input file " + name);
}

}  // namespace qbr
