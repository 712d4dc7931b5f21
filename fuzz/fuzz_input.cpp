// libFuzzer target: arbitrary bytes as an input file (and, after the first NUL byte, as
// the polyline file that a "dxc poly.dxc" line names) through the phases up to the
// grids. Every input must end either in a fatal stop with a message or in a model fit
// for the matrix fill; crashes, sanitizer reports, leaks and hangs are findings.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "input_phases.hpp"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The phases read and write files by name; each fuzzer process works in a directory
  // of its own.
  std::string pattern = (std::filesystem::temp_directory_path() / "qbr-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
    std::perror("qbr fuzz: working directory");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qbr::fuzzing::PhaseOutcome outcome =
      qbr::fuzzing::runInputPhases(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!outcome.fault.empty()) {
    std::fprintf(stderr, "model unfit for the fill after the grids: %s\n", outcome.fault.c_str());
    std::abort();
  }
  // A stop must tell the user why.
  if (outcome.stopped && outcome.message.find_first_not_of('\n') == std::string::npos) {
    std::fprintf(stderr, "fatal stop without a message\n");
    std::abort();
  }
  return 0;
}
