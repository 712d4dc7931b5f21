#include "driver/driver.hpp"

#include <chrono>
#include <exception>
#include <fstream>
#include <new>
#include <thread>

#include "bem/bem_fill.hpp"
#include "bem/resolution.hpp"
#include "bem/solution.hpp"
#include "driver/fatal_stop.hpp"
#include "driver/run_io.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "plot/eps_plot.hpp"
#include "prep/echo.hpp"
#include "prep/grids.hpp"
#include "prep/model_checks.hpp"
#include "prep/setup.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"
#include "report/reports.hpp"

namespace qbr {

namespace {

using Clock = std::chrono::steady_clock;

const char* const kTopLeft = "\u2554";
const char* const kHorizontal = "\u2550";
const char* const kTopRight = "\u2557";
const char* const kVertical = "\u2551";
const char* const kBottomLeft = "\u255A";
const char* const kBottomRight = "\u255D";
constexpr int kBannerInner = 58;

std::string horizontalRule(const char* left, const char* right) {
  std::string line = left;
  for (int i = 0; i < kBannerInner; ++i) line += kHorizontal;
  return line + right + "\n";
}

// The phases of one computation, in their fixed order.
void runPhases(ProblemModel& model, const std::string& inputName, RunIo& io) {
  setDefaults(model);
  readInputFile(model, inputName);
  setUpModel(model, io);
  echoModel(model, io);
  writeEpsPlot(model.elements, model.elementCount, model.symmetryOn, inputName, model.points, io);
  checkModelIsSolvable(model);
  const ProblemModel prepared = model;
  const ConductorMatrix result = solveModel(model, io);
  if (model.phaseVariables) {
    reportInductanceMatrix(result, io);
  } else {
    reportImpedanceMatrix(result, model.omega, io);
  }
  for (const std::string& warning : gridResolutionWarnings(prepared, result)) {
    io.console << warning << "\n";
    io.log << warning << "\n";
  }
}

// Ends a run that cannot go on: the message and a line end to the console, then to
// the log.
int stopRun(const std::string& message, bool toLog, std::ostream& console, std::ostream& log) {
  console << message << "\n";
  console.flush();
  if (toLog) log << message << "\n";
  log.flush();
  return 1;
}

}  // namespace

ConductorMatrix solveModel(ProblemModel& model, RunIo& io) {
  buildGrids(model, io);
  WorkArrays work = allocateWorkArrays(model);
  const Unknowns unknowns(model);
  fillBemMatrix(model, unknowns, work.A, io.console);
  const ConductorMatrix result = solveConductorMatrix(model, unknowns, work, io.console);
  checkInductanceAboveRounding(result, model.phaseVariables, unknowns.nd());
  releaseWorkArrays(model, work);
  return result;
}

std::string bannerText() {
  std::string title = "QBR: transmission line impedance matrix, superconductors";
  title.resize(kBannerInner, ' ');
  return horizontalRule(kTopLeft, kTopRight) + kVertical + title + kVertical + "\n" +
         horizontalRule(kBottomLeft, kBottomRight) + "\n";
}

int runProgram(const std::vector<std::string>& args, std::istream& in, std::ostream& console,
               const DriverOptions& options) {
  const Clock::time_point start = Clock::now();
  console << bannerText();

  std::string inputName;
  if (args.size() == 1) {
    inputName = args[0];
  } else {
    console << "Enter input file name:  ";
    console.flush();
    in >> inputName;
    console << "\n";
    console.flush();
    if (inputName.empty()) {
      console << "\nNo input file name!\n";
      return 1;
    }
  }

  std::ofstream log(options.logPath, std::ios::out | std::ios::trunc);
  if (!log) {
    console << "\nCannot open output file  < " << options.logPath.string() << ">\n";
    return 1;
  }
  RunIo io{console, log};

  try {
    log << "\nInput file: " << inputName << "\n";
    console << "Input file: " << inputName << "\n";
    if (inputName.size() > static_cast<std::size_t>(kMaxFileNameLength)) {
      fatalStop("\nInput file name is longer than 255 characters\n");
    }
    ProblemModel model;
    runPhases(model, inputName, io);
  } catch (const FatalError& error) {
    return stopRun(error.message(), error.toLog(), console, log);
  } catch (const std::bad_alloc&) {
    // Every large allocation has its own message; this is the safety net for the rest.
    return stopRun("\nNot enough memory for this model;\n", true, console, log);
  } catch (const std::exception& error) {
    return stopRun(std::string("\nInternal error: ") + error.what() + ";\n", true, console, log);
  }

  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  const long long seconds = elapsed.count() / 1000;
  console << "\nTotal time " << seconds << " sec;\n";
  log << "\nTotal time " << seconds << " sec;\n";
  log.flush();
  // The log holds the only complete copy of a large matrix: a log that could not be
  // written (a full disk) is a failed run.
  if (!log) {
    console << "\nCannot write output file  < " << options.logPath.string() << ">\n";
    return 1;
  }
  console << "Wait to close 5 sek;\n";
  console.flush();
  if (options.closingWait) std::this_thread::sleep_until(start + std::chrono::seconds(seconds + 5));
  return 0;
}

}  // namespace qbr
