#include <iostream>
#include <string>
#include <vector>

#include "driver/driver.hpp"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return qbr::runProgram(args, std::cin, std::cout);
}
