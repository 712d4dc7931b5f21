#include "driver/driver.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <fstream>
#include <new>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include "base/console_progress.hpp"
#include "base/fatal_stop.hpp"
#include "driver/synthesis_run.hpp"
#include "model/constants.hpp"
#include "qbr/qbr.hpp"

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

struct CommandLine {
  bool noWait = false;
  bool quiet = false;
  bool strict = false;
  std::string json;
  std::string spice;
  std::string length;
  std::string synthesize;
  std::string vary;
  double tolerance = 1e-3;
  std::vector<std::string> files;
};

CLI::Validator formValidator(std::optional<SynthesisRequest> (*parse)(const std::string&),
                             const std::string& expected) {
  return CLI::Validator(
      [parse, expected](std::string& text) { return parse(text) ? std::string() : expected; }, "");
}

// "0.01", "1cm", "10 mm", "500um", "1m": a length in metres.
std::optional<double> lengthInMetres(const std::string& text) {
  std::size_t used = 0;
  double value = 0.0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  std::string unit = text.substr(used);
  unit.erase(0, unit.find_first_not_of(' '));
  const std::pair<const char*, double> units[] = {
      {"", 1.0}, {"m", 1.0}, {"cm", 1e-2}, {"mm", 1e-3}, {"um", 1e-6}};
  for (const auto& [name, metres] : units) {
    if (unit == name && std::isfinite(value) && value > 0.0) return value * metres;
  }
  return std::nullopt;
}

// Reads the options. Returns an exit status when the run ends here (help, version, a
// bad option), after writing what the parser has to say to the console.
std::optional<int> parseCommandLine(const std::vector<std::string>& args, CommandLine& line,
                                    std::ostream& console) {
  CLI::App app("Per-unit-length inductance and impedance matrices of transmission lines.", "qbr");
  app.add_flag("--no-wait", line.noWait, "End at once instead of waiting five seconds");
  app.add_flag("--quiet", line.quiet, "No progress lines on the console");
  app.add_flag("--strict", line.strict,
               "Stop (exit status 1) on any input warning: an unknown keyword or setting "
               "word, a conductivity beyond any metal's, ...");
  app.add_option("--json", line.json, "Also write the result as JSON into FILE")->type_name("FILE");
  CLI::Option* length =
      app.add_option("--length", line.length,
                     "Length of the exported line: a number and m, cm, mm or um (metres without)")
          ->type_name("LENGTH")
          ->check(CLI::Validator(
              [](std::string& text) {
                return lengthInMetres(text) ? std::string()
                                            : "not a positive number with m, cm, mm or um after it";
              },
              ""));
  app.add_option("--spice", line.spice,
                 "Also write an ngspice model of the line, LENGTH long, into FILE (needs the "
                 "permittivity in the input)")
      ->type_name("FILE")
      ->needs(length);
  CLI::Option* vary =
      app.add_option("--vary", line.vary,
                     "The word NAME that the input file uses in place of a number, and the "
                     "range LO:HI (0 < LO < HI) in which --synthesize looks for its value")
          ->type_name("NAME=LO:HI")
          ->check(formValidator(parseRange, "not NAME=LO:HI with a word and 0 < LO < HI"));
  CLI::Option* synthesize =
      app.add_option("--synthesize", line.synthesize,
                     "Find the value of --vary's NAME at which QUANTITY (Z0, Zdiff, Zcommon, "
                     "Zeven, Zodd or eps_eff) is TARGET")
          ->type_name("QUANTITY=TARGET")
          ->check(formValidator(parseTarget,
                                "not QUANTITY=TARGET with QUANTITY one of Z0, Zdiff, Zcommon, "
                                "Zeven, Zodd, eps_eff and a TARGET above 0"))
          ->needs(vary);
  vary->needs(synthesize);
  app.add_option("--tolerance", line.tolerance,
                 "How close --synthesize comes to its target, relative to it (default 1e-3)")
      ->type_name("TOL")
      ->check(CLI::PositiveNumber)
      ->needs(synthesize);
  app.set_version_flag("--version", versionText());
  // Any number of positional words: exactly one is the input file, otherwise the
  // program asks for it, as it always did.
  app.add_option("input-file", line.files, "The input description; asked for when not given");
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out;
    const int status = app.exit(error, out, out);
    console << out.str();
    console.flush();
    return status == 0 ? 0 : 1;
  }
  return std::nullopt;
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

// `member`, when given, is one more member of the result's object, named "synthesis".
void writeJson(const Result& result, const std::string& name, const std::string& member = "") {
  std::string text = result.toJson();
  if (!member.empty()) text.insert(text.rfind("\n}"), ",\n \"synthesis\": " + member);
  std::ofstream file(name, std::ios::out | std::ios::trunc);
  if (file) file << text;
  file.close();
  if (!file) fatalStop("\nCannot write output file  < " + name + ">\n");
}

void writeSpice(const Result& result, const std::string& lengthText, const std::string& name) {
  // The option's check has read the length already.
  const std::string model = spiceModel(result, lengthInMetres(lengthText).value_or(0.0));
  std::ofstream file(name, std::ios::out | std::ios::trunc);
  if (file) file << model;
  file.close();
  if (!file) fatalStop("\nCannot write output file  < " + name + ">\n");
}

}  // namespace

std::string bannerText() {
  std::string title = "QBR: transmission line impedance matrix, superconductors";
  title.resize(kBannerInner, ' ');
  return horizontalRule(kTopLeft, kTopRight) + kVertical + title + kVertical + "\n" +
         horizontalRule(kBottomLeft, kBottomRight) + "\n";
}

int runProgram(const std::vector<std::string>& args, std::istream& in, std::ostream& console,
               const DriverOptions& options) {
  CommandLine commandLine;
  if (const std::optional<int> status = parseCommandLine(args, commandLine, console)) {
    return *status;
  }

  const Clock::time_point start = Clock::now();
  console << bannerText();

  std::string inputName;
  if (commandLine.files.size() == 1) {
    inputName = commandLine.files[0];
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

  try {
    log << "\nInput file: " << inputName << "\n";
    console << "Input file: " << inputName << "\n";
    if (inputName.size() > static_cast<std::size_t>(kMaxFileNameLength)) {
      fatalStop("\nInput file name is longer than 255 characters\n");
    }
    Result result;
    std::string synthesis;  // the JSON member of a synthesis
    if (!commandLine.synthesize.empty()) {
      SynthesisRequest request = *parseTarget(commandLine.synthesize);
      const SynthesisRequest range = *parseRange(commandLine.vary);
      request.parameter = range.parameter;
      request.low = range.low;
      request.high = range.high;
      request.tolerance = commandLine.tolerance;
      result = runSynthesis(request, inputName, commandLine.strict, console, log, synthesis);
    } else {
      const Model model = Model::fromFile(inputName, commandLine.strict);
      SolveOptions solveOptions;
      solveOptions.console = &console;
      solveOptions.log = &log;
      solveOptions.drawingBase = inputName;
      if (!commandLine.quiet) solveOptions.progress = consoleSpinner(console);
      result = solve(model, solveOptions);
    }
    if (!commandLine.json.empty()) writeJson(result, commandLine.json, synthesis);
    if (!commandLine.spice.empty()) writeSpice(result, commandLine.length, commandLine.spice);
  } catch (const FatalError& error) {
    return stopRun(error.message(), error.toLog(), console, log);
  } catch (const Error& error) {
    return stopRun(error.message(), true, console, log);
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
  if (commandLine.noWait) {
    console.flush();
    return 0;
  }
  console << "Wait to close 5 sek;\n";
  console.flush();
  if (options.closingWait) std::this_thread::sleep_until(start + std::chrono::seconds(seconds + 5));
  return 0;
}

}  // namespace qbr
