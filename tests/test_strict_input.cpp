// Slips of the pen in input files and builders: each one is said, naming its line, and
// strict reading stops on it; none computes silently.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.hpp"
#include "qbr/qbr.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::readFile;
using testing::TempDir;

// A superconducting wire that is solvable as it stands; the slip goes in as line 4.
std::string withSlip(const std::string& slip) {
  return "cc wire\npt 0 0 0\nfrequency 1 ghz\n" + slip + "\nlambda 0.1\ncircle 1 0 1 + 0 8\n";
}

struct Slip {
  const char* line;
  const char* said;  // part of the warning of line 4
};

const Slip kSlips[] = {
    {"lenghtunit mm", "\"lenghtunit\" is not a keyword (did you mean \"lengthunit\"?)"},
    {"permitivity 4.3", "(did you mean \"permittivity\"?)"},
    {"frequncy 10 ghz", "(did you mean \"frequency\"?)"},
    {"conductanceunt s/m", "(did you mean \"conductanceunit\"?)"},
    {"losstangnet 0.02", "(did you mean \"losstangent\"?)"},
    {"lamda 0.09", "(did you mean \"lambda\"?)"},
    {"rectangle -5 5 -3 -2", "(did you mean \"rect\"?)"},
    {"Rem a note", "comments begin with rem, REM or //"},
    {"frequency 10ghz", "the frequency \"10ghz\" is read as \"10\"; \"ghz\" after the number"},
    {"frequency 10 gigahertz",
     "the frequency unit \"gigahertz\" is not one of hz, khz, mhz or ghz"},
    {"lengthunit micron", "is not one of m, cm, mm or um (did you mean \"um\"?)"},
    {"conductanceunit s", "the conductance unit \"s\" is not one of s/m or ms/m"},
    {"patch 0 nc 5.8e7", "the conductivity 5.8e+13 S/m (5.8e+07 ms/m as written)"},
    {"sigma 3e8", "patch 0 has the conductivity 3e+14 S/m"},
    {"patch 1 nc 0 0.09", "patch 1 is a normal conductor: its lambda is not used"},
    {"patch 0 cs 0 0.09",
     "the patch kind \"cs\" is neither \"sc\", \"nc\", \"mb\" nor \"twofluid\" (did you mean "
     "\"sc\"?)"},
    {"temperature 20 millikelvin", "the temperature unit \"millikelvin\" is not one of k or mk"},
    {"variables impedence", "(did you mean \"impedance\"?); the impedance matrix is reported"},
    {"symmetry yes", "the symmetry word \"yes\" is neither \"on\" nor \"off\"; symmetry is off"},
    {"grid graduated", "(did you mean \"graded\"?); the grid is uniform"},
    {"circle 1 0 2 3", "the direction \"3\" is neither \"+\" nor \"-\"; the circle runs clockwise"},
    {"rect -5 5 -3 -2 0 0 100 10 7", "\"7\" after the last item of a \"rect\" line is ignored"},
    {"rect -5 5 -3 -2 0 0 1000 10", "the grid count nx 1000 is above 500"},
    {"el 0 1 -5 -3 5 -3 0 -4", "the grid count -4 is negative"},
    {"roughnes 0 groisse 1", "(did you mean \"roughness\"?)"},
    {"roughness 0 hamerstad 1",
     "the roughness model \"hamerstad\" is neither \"hammerstad\", \"groisse\", \"huray\" nor "
     "\"none\" (did you mean \"hammerstad\"?); patch 0 is taken as smooth"},
    {"roughness 0 huray 200 14 100", "patch 0 has spheres of radius 0.0002 m (200 um as written)"},
};

TEST(StrictInput, EverySlipIsSaidAtItsLineAndStrictReadingStopsOnIt) {
  for (const Slip& slip : kSlips) {
    const std::string text = withSlip(slip.line);
    const Model model = Model::fromText(text);
    ASSERT_FALSE(model.warnings().empty()) << slip.line;
    const std::string& warning = model.warnings().front();
    EXPECT_EQ(warning.rfind("Line 4: ", 0), 0u) << warning;
    EXPECT_NE(warning.find(slip.said), std::string::npos) << warning;

    try {
      Model::fromText(text, true);
      ADD_FAILURE() << "strict reading passed " << slip.line;
    } catch (const Error& error) {
      EXPECT_NE(error.message().find(warning), std::string::npos) << error.message();
      EXPECT_NE(error.message().find("Strict reading stops"), std::string::npos);
    }
  }
}

TEST(StrictInput, CleanInputHasNoWarningsAndSlipsThatStopNameTheirLine) {
  EXPECT_TRUE(Model::fromText(withSlip("rem nothing wrong"), true).warnings().empty());
  EXPECT_TRUE(
      Model::fromText(withSlip("conductanceunit s/m\npatch 0 sc 5.8e7 0.1")).warnings().empty());
  for (const char* line : {"frequency ghz 10", "ah 0", "permittivity -4", "patch 0 nc -58"}) {
    try {
      Model::fromText(withSlip(line));
      ADD_FAILURE() << "no stop for " << line;
    } catch (const Error& error) {
      EXPECT_EQ(error.message().rfind("\nLine 4 of the input file: ", 0), 0u) << error.message();
    }
  }
}

// Warnings come before the echo on the console and in the log, and in the result.
TEST(StrictInput, WarningsReachConsoleLogAndResult) {
  const Model model = Model::fromText(withSlip("permitivity 4.3"));
  std::ostringstream console, log;
  SolveOptions options;
  options.console = &console;
  options.log = &log;
  options.gridCheck = false;
  const Result result = solve(model, options);
  ASSERT_FALSE(result.warnings.empty());
  EXPECT_EQ(result.warnings.front(), model.warnings().front());
  EXPECT_FALSE(result.line.has_value());
  const std::string line = model.warnings().front() + "\n";
  EXPECT_EQ(console.str().rfind(line + "wire\n", 0), 0u) << console.str();
  EXPECT_EQ(log.str().rfind(line + "wire\n", 0), 0u);
  EXPECT_NE(result.toJson(false).find("did you mean"), std::string::npos);
}

TEST(StrictInput, TheProgramStopsWithStatusOneUnderStrict) {
  TempDir dir;
  const std::string input = dir.write("slip.txt", withSlip("lenghtunit mm")).string();
  std::istringstream in;
  std::ostringstream console;
  EXPECT_EQ(runProgram({"--no-wait", "--strict", input}, in, console, {false, dir / "qbr.log"}), 1);
  const std::string warning = "Line 4: \"lenghtunit\" is not a keyword";
  EXPECT_NE(console.str().find(warning), std::string::npos) << console.str();
  EXPECT_NE(readFile(dir / "qbr.log").find(warning), std::string::npos);
}

TEST(StrictInput, AStrictStatementThatIsDoubtedLeavesTheModelAsItWas) {
  Model model;
  model.setStrict(true).lambda(0.1);
  EXPECT_THROW(model.lengthUnit("micron"), Error);
  EXPECT_THROW(model.statement("patch 0 nc 5.8e7"), Error);
  EXPECT_EQ(model.settings().lengthUnit, "um");
  EXPECT_EQ(model.settings().patches.at(0).sigma, 0.0);
  // The line numbers of later statements are not shifted by the refused ones.
  try {
    model.statement("ah -1");
    ADD_FAILURE();
  } catch (const Error& error) {
    EXPECT_EQ(error.message().rfind("\nLine 2 of the model: ", 0), 0u) << error.message();
  }
}

// Features smaller than the coincidence distance 1e-7 vanish in metres: the stops say
// why and what to do, and the same model in micrometres computes.
TEST(StrictInput, FeaturesBelowTheCoincidenceDistanceGetTheRemedy) {
  const auto stopOf = [](const std::string& text) {
    try {
      solve(Model::fromText(text), {});
    } catch (const Error& error) {
      return error.message();
    }
    return std::string("no stop");
  };
  const std::string film = "lengthunit m\nlambda 1e-7\nrect -1e-5 1e-5 0 5e-8 1 0 20 4\n";
  const std::string filmStop = stopOf(film);
  EXPECT_EQ(filmStop.rfind("\nZero length element detected!\n", 0), 0u) << filmStop;
  EXPECT_NE(filmStop.find("write the model in a smaller one"), std::string::npos) << filmStop;

  const std::string gap =
      "lengthunit m\nlambda 1e-7\nrect -1e-5 -2.5e-8 0 1e-6 1 0 20 4\nrect 2.5e-8 1e-5 0 1e-6 2 "
      "0 20 4\nrect -1e-5 1e-5 -2e-6 -1e-6 0 0 20 4\n";
  const std::string gapStop = stopOf(gap);
  EXPECT_NE(gapStop.find("touch or cross"), std::string::npos) << gapStop;
  EXPECT_NE(gapStop.find("write the model in a smaller one"), std::string::npos) << gapStop;

  // A normal conductor without sigma: the message does not ask for the lambda it ignores.
  const std::string nc = stopOf("patch 0 nc 0 0.09\npt 0 0 0\ncircle 1 0 1 + 0 8\n");
  EXPECT_NE(nc.find("normal conductor with sigma 0: give it a positive sigma"), std::string::npos)
      << nc;

  SolveOptions quick;
  quick.gridCheck = false;
  EXPECT_NO_THROW(
      solve(Model::fromText("lengthunit um\nlambda 0.1\nrect -10 10 0 0.05 1 0 20 4\n"), quick));
}

}  // namespace
}  // namespace qbr
