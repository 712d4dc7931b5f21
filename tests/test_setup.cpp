#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "base/fatal_stop.hpp"
#include "model/problem_model.hpp"
#include "prep/model_checks.hpp"
#include "prep/setup.hpp"

namespace qbr {
namespace {

ProblemModel emptyModel() {
  ProblemModel model;
  setDefaults(model);
  return model;
}

void addLine(ProblemModel& m, double x0, double y0, double x1, double y1, int conductor,
             int patch = 0) {
  BoundaryElement& e = m.elements[static_cast<std::size_t>(m.elementCount++)];
  e.kind = kLine;
  e.pointNumbers = {findOrAddPoint(m, x0, y0), findOrAddPoint(m, x1, y1), 0};
  e.conductor = conductor;
  e.patch = patch;
}

void addCircle(ProblemModel& m, double xc, double yc, double radius, int conductor, int patch = 0) {
  BoundaryElement& e = m.elements[static_cast<std::size_t>(m.elementCount++)];
  e.kind = kCircle;
  e.pointNumbers = {findOrAddPoint(m, xc, yc), 0, 0};
  e.R = radius;
  e.conductor = conductor;
  e.patch = patch;
}

// A copper-like round wire: one normal patch, sigma 58 MS/m.
ProblemModel copperWire() {
  ProblemModel m = emptyModel();
  m.patches[0].superconducting = false;
  m.patches[0].sigma = 58;
  m.patchCount = 1;
  addCircle(m, 0, 0, 10, 1);
  return m;
}

struct SetUpRun {
  std::ostringstream console;
  std::ostringstream log;
  std::string stop = "no stop";
};

void runSetUp(ProblemModel& m, SetUpRun& run) {
  RunIo io{run.console, run.log};
  try {
    setUpModel(m, io);
  } catch (const FatalError& error) {
    run.stop = error.message();
  }
}

std::string setUpStop(ProblemModel m) {
  SetUpRun run;
  runSetUp(m, run);
  return run.stop;
}

std::string checkStop(const ProblemModel& m) {
  try {
    checkModelIsSolvable(m);
  } catch (const FatalError& error) {
    return error.message();
  }
  return "no stop";
}

TEST(SetUpUnits, LengthFrequencyAndConductivityWords) {
  const std::pair<const char*, double> lengths[] = {
      {"m", 1.0}, {"cm", 0.01}, {"mm", 0.001}, {"um", 1e-6}};
  for (const auto& [word, scale] : lengths) {
    ProblemModel m = copperWire();
    m.lengthunit = word;
    SetUpRun run;
    runSetUp(m, run);
    EXPECT_EQ(m.lengthScale, scale) << word;
  }
  const std::pair<const char*, double> frequencies[] = {
      {"hz", 50.0}, {"khz", 50e3}, {"mhz", 50e6}, {"ghz", 50e9}};
  for (const auto& [word, hertz] : frequencies) {
    ProblemModel m = copperWire();
    m.frequency = 50;
    m.frequencyUnit = word;
    SetUpRun run;
    runSetUp(m, run);
    EXPECT_EQ(m.frequency, hertz) << word;
  }

  ProblemModel m = copperWire();
  m.frequency = 2;
  m.frequencyUnit = "ghz";
  m.conductanceunit = "s/m";
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_EQ(m.frequency, 2e9);
  EXPECT_DOUBLE_EQ(m.omega, 12566370614.4);
  EXPECT_EQ(m.patches[0].sigma, 58.0);

  ProblemModel mega = copperWire();
  runSetUp(mega, run);
  // "ms/m" is megasiemens per metre.
  EXPECT_EQ(mega.patches[0].sigma, 58e6);
}

TEST(SetUpUnits, UnknownWordsStopInStepOrder) {
  ProblemModel m = copperWire();
  m.lengthunit = "microns";
  EXPECT_EQ(setUpStop(m), "\nUnknown length unit\n");
  m.lengthunit = "um.";
  EXPECT_EQ(setUpStop(m), "\nUnknown length unit\n");
  m.frequencyUnit = "gigahertz";
  EXPECT_EQ(setUpStop(m), "\nUnknown length unit\n");
  m.lengthunit = "um";
  EXPECT_EQ(setUpStop(m), "\nUnknown frequency unit\n");
  m.frequencyUnit = "ghz";
  m.conductanceunit = "ms/ms";
  EXPECT_EQ(setUpStop(m), "\nUnknown conductivity unit\n");
  m.conductanceunit = "MS/m";  // the reader lower-cases; upper case here is not a unit word
  EXPECT_EQ(setUpStop(m), "\nUnknown conductivity unit\n");
}

TEST(SetUpUnits, FlagsFromTheirWords) {
  ProblemModel m = copperWire();
  m.symmetry = "on";
  m.variables = "modes";
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_TRUE(m.symmetryOn);
  EXPECT_FALSE(m.phaseVariables);

  ProblemModel n = copperWire();
  n.symmetry = "yes";
  runSetUp(n, run);
  EXPECT_FALSE(n.symmetryOn);
  EXPECT_TRUE(n.phaseVariables);
}

TEST(SetUpGeometry, GridsizeScalesPointsAndRadiiOnceButNotAhOrLambda) {
  ProblemModel m = emptyModel();
  m.gridsize = 0.5;
  m.ah = 0.25;
  m.patches[0].lambda = 0.1;
  addLine(m, 0, 0, 6, 8, 1);
  addCircle(m, 2, 4, 3, 1);
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_EQ(m.points[1].x, 3.0);
  EXPECT_EQ(m.points[1].y, 4.0);
  EXPECT_EQ(m.points[2].x, 1.0);
  EXPECT_EQ(m.points[2].y, 2.0);
  EXPECT_EQ(m.elements[1].R, 1.5);
  EXPECT_EQ(m.ah, 0.25);
  EXPECT_EQ(m.patches[0].lambda, 0.1);
  // Lengths are measured on the scaled geometry.
  EXPECT_EQ(m.elements[0].length, 5.0);
  EXPECT_DOUBLE_EQ(m.elements[1].length, 3.0 * 3.1415926536);
}

TEST(SetUpGeometry, ZeroLengthElementStopsTheRun) {
  ProblemModel m = copperWire();
  addLine(m, 1, 1, 1, 1, 1);
  EXPECT_EQ(setUpStop(m), "\nZero length element detected!\n");
}

TEST(SetUpConductors, HighestConductorNumberAndMemberLists) {
  ProblemModel m = emptyModel();
  addLine(m, 0, 0, 1, 0, 5);
  addLine(m, 1, 0, 1, 1, 1);
  addLine(m, 1, 1, 0, 1, 2);
  addLine(m, 0, 1, 0, 0, 1);
  addLine(m, 5, 5, 6, 6, 0);
  m.patches[0].lambda = 0.05;
  SetUpRun run;
  runSetUp(m, run);
  ASSERT_EQ(run.stop, "no stop");
  EXPECT_EQ(m.conductorCount, 5);
  const std::vector<std::vector<int>> expected = {{4}, {1, 3}, {2}, {}, {}, {0}};
  for (int c = 0; c <= 5; ++c) {
    EXPECT_EQ(m.conductors[c].n_memb, static_cast<int>(expected[c].size())) << c;
    EXPECT_EQ(m.conductors[c].memb, expected[c]) << c;
  }
}

TEST(SetUpConductors, AllOnConductorZeroOrNoElementsGiveOne) {
  ProblemModel m = emptyModel();
  addLine(m, 0, 0, 1, 0, 0);
  addLine(m, 1, 0, 1, 1, 0);
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_EQ(m.conductorCount, 1);
  EXPECT_EQ(m.conductors[0].n_memb, 2);
  EXPECT_EQ(m.conductors[1].n_memb, 0);
  EXPECT_TRUE(m.conductors[1].memb.empty());

  ProblemModel none = emptyModel();
  runSetUp(none, run);
  EXPECT_EQ(none.conductorCount, 1);
}

TEST(SetUpConductors, SixConductorsAreTooMany) {
  ProblemModel m = emptyModel();
  addLine(m, 0, 0, 1, 0, 5);
  EXPECT_EQ(setUpStop(m), "no stop");
  addLine(m, 1, 0, 1, 1, 6);
  EXPECT_EQ(setUpStop(m), "\nToo many conductors;\n");
}

TEST(SetUpConductors, NumbersOutsideTheTablesStop) {
  ProblemModel m = emptyModel();
  addLine(m, 0, 0, 1, 0, 1);
  addLine(m, 1, 0, 1, 1, -2);
  EXPECT_EQ(setUpStop(m), "\nElement 1 has the negative conductor number -2;\n");
  m.elements[1].conductor = 1;
  m.elements[0].patch = 32;
  EXPECT_EQ(setUpStop(m), "\nElement 0 names patch 32, outside 0 to 31;\n");
  m.elements[0].patch = -1;
  EXPECT_EQ(setUpStop(m), "\nElement 0 names patch -1, outside 0 to 31;\n");
}

TEST(SetUpWaveNumbers, CopperInMicrometresWarns) {
  ProblemModel m = copperWire();
  m.frequency = 1;
  m.frequencyUnit = "ghz";
  SetUpRun run;
  runSetUp(m, run);
  const Complex k = m.patches[0].k;
  // Skin depth about 2.09 um: k = (1 - j) / delta.
  EXPECT_NEAR(std::abs(k), 0.67671976786, 1e-9);
  EXPECT_NEAR(k.real(), 0.47851313681733, 1e-12);
  EXPECT_DOUBLE_EQ(k.imag(), -k.real());
  EXPECT_NEAR(m.patches[0].wavelength.real(), 6.565321642986, 1e-9);
  EXPECT_NEAR(m.patches[0].wavelength.imag(), 6.565321642986, 1e-9);
  EXPECT_EQ(run.console.str(), "Wave number can bee too small (low frequency): 0.67672\n");
  EXPECT_EQ(run.log.str(), "\nWave number can bee too small (low frequency): 0.67672\n\n");
}

TEST(SetUpWaveNumbers, CopperInMillimetresDoesNotWarn) {
  ProblemModel m = copperWire();
  m.frequency = 1;
  m.frequencyUnit = "ghz";
  m.lengthunit = "mm";
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_NEAR(std::abs(m.patches[0].k), 676.71976786, 1e-6);
  EXPECT_EQ(run.console.str(), "");
  EXPECT_EQ(run.log.str(), "");
}

TEST(SetUpWaveNumbers, LosslessSuperconductorIsExact) {
  for (double frequency : {1.0, 1e6}) {
    ProblemModel m = emptyModel();
    m.frequency = frequency;
    m.patches[0].lambda = 0.5;
    addCircle(m, 0, 0, 10, 1);
    SetUpRun run;
    runSetUp(m, run);
    EXPECT_EQ(m.patches[0].k, Complex(0.0, 2.0));
    EXPECT_FALSE(std::signbit(m.patches[0].k.imag()));
    EXPECT_EQ(run.console.str(), "");
  }
  ProblemModel lossy = emptyModel();
  lossy.patches[0].lambda = 0.5;
  lossy.patches[0].sigma = 10;
  addCircle(lossy, 0, 0, 10, 1);
  SetUpRun run;
  runSetUp(lossy, run);
  EXPECT_GT(lossy.patches[0].k.real(), 0.0);
  EXPECT_LT(lossy.patches[0].k.imag(), 0.0);
}

TEST(SetUpWaveNumbers, NormalPatchWithoutConductivityHasZeroAndWarns) {
  ProblemModel m = copperWire();
  m.patches[0].sigma = 0;
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_EQ(m.patches[0].k, Complex(0.0, 0.0));
  EXPECT_EQ(run.console.str(), "Wave number can bee too small (low frequency): 0\n");
}

TEST(SetUpWaveNumbers, EveryPatchBelowPatchCountAndOnlyThose) {
  ProblemModel m = emptyModel();
  addCircle(m, 0, 0, 10, 1);
  // No "patch" line: patch 0 still gets its wave number.
  m.patches[0].lambda = 0.25;
  m.patches[3].lambda = 0.5;
  SetUpRun run;
  runSetUp(m, run);
  EXPECT_EQ(m.patchCount, 1);
  EXPECT_EQ(m.patches[0].k, Complex(0.0, 4.0));
  EXPECT_EQ(m.patches[3].k, Complex(0.0, 0.0));

  ProblemModel two = emptyModel();
  addCircle(two, 0, 0, 10, 1);
  two.patchCount = 2;
  two.patches[0].lambda = 0.25;
  two.patches[1].superconducting = false;
  two.patches[1].sigma = 2;
  runSetUp(two, run);
  EXPECT_EQ(two.patches[1].sigma, 2e6);
  EXPECT_GT(std::abs(two.patches[1].k), 0.0);
}

// Both mended checks run after the set-up; they stop models that would otherwise run
// to the end and report a matrix of not-a-numbers.
class SolvableCheck : public ::testing::Test {
 protected:
  ProblemModel prepared(ProblemModel m) {
    SetUpRun run;
    runSetUp(m, run);
    EXPECT_EQ(run.stop, "no stop");
    return m;
  }
  ProblemModel twoWires() {
    ProblemModel m = emptyModel();
    m.patches[0].lambda = 0.1;
    addCircle(m, 0, 0, 1, 1);
    addCircle(m, 5, 0, 1, 2);
    return m;
  }
};

TEST_F(SolvableCheck, SoundModelPasses) {
  EXPECT_EQ(checkStop(prepared(twoWires())), "no stop");
  ProblemModel withReturn = twoWires();
  addCircle(withReturn, 0, 8, 1, 0);
  EXPECT_EQ(checkStop(prepared(withReturn)), "no stop");
}

TEST_F(SolvableCheck, ReportedConductorWithoutElements) {
  ProblemModel gap = twoWires();
  gap.elements[1].conductor = 4;
  addCircle(gap, 9, 0, 1, 3);
  EXPECT_EQ(checkStop(prepared(gap)), "\nConductor 2 has no boundary elements;\n");

  ProblemModel allReturn = twoWires();
  allReturn.elements[0].conductor = 0;
  allReturn.elements[1].conductor = 0;
  EXPECT_EQ(checkStop(prepared(allReturn)), "\nConductor 1 has no boundary elements;\n");

  ProblemModel none = emptyModel();
  none.patches[0].lambda = 0.1;
  EXPECT_EQ(checkStop(prepared(none)), "\nConductor 1 has no boundary elements;\n");
}

TEST_F(SolvableCheck, PatchWithoutUsableWaveNumber) {
  const std::string patch0 =
      "\nPatch 0 has no usable wave number: give it a positive lambda or sigma;\n";
  // The initial state of every patch: superconducting with lambda 0.
  ProblemModel initial = twoWires();
  initial.patches[0].lambda = 0;
  EXPECT_EQ(checkStop(prepared(initial)), patch0);

  // A normal conductor reads no lambda: the message does not ask for one.
  ProblemModel normal = twoWires();
  normal.patches[0].superconducting = false;
  normal.patches[0].sigma = 0;
  normal.patches[0].lambda = 0.09;
  EXPECT_EQ(checkStop(prepared(normal)),
            "\nPatch 0 is a normal conductor with sigma 0: give it a positive sigma, or make it "
            "a superconductor with a \"patch 0 sc sigma lambda\" line (a normal conductor's "
            "lambda is not used);\n");

  ProblemModel still = twoWires();
  still.patches[0].superconducting = false;
  still.patches[0].sigma = 58;
  still.frequency = 0;
  EXPECT_EQ(checkStop(prepared(still)),
            "\nPatch 0 is a normal conductor and needs a positive frequency;\n");
  // Without a conductive term a superconductor keeps k = j / lambda at zero frequency.
  ProblemModel stillSc = twoWires();
  stillSc.frequency = 0;
  EXPECT_EQ(checkStop(prepared(stillSc)), "no stop");
}

TEST_F(SolvableCheck, LowestUnusablePatchAmongThoseUsed) {
  ProblemModel m = twoWires();
  m.patchCount = 5;
  for (int p = 1; p < 5; ++p) m.patches[p].lambda = 0.2;
  m.patches[2].lambda = 0;  // unusable but used by no element: harmless
  m.patches[4].lambda = 0;
  m.patches[3].lambda = 0;
  m.elements[0].patch = 4;
  m.elements[1].patch = 3;
  addCircle(m, 9, 0, 1, 2, 1);
  EXPECT_EQ(checkStop(prepared(m)),
            "\nPatch 3 has no usable wave number: give it a positive lambda or sigma;\n");
}

TEST_F(SolvableCheck, PatchWithoutPatchLineIsNotUsable) {
  // Element on patch 7 with no "patch" line: its k was never computed.
  ProblemModel m = twoWires();
  m.elements[1].patch = 7;
  m.patches[7].lambda = 0.3;  // even with data, patch 7 is outside patchCount
  EXPECT_EQ(checkStop(prepared(m)),
            "\nPatch 7 has no usable wave number: give it a positive lambda or sigma;\n");
}

TEST_F(SolvableCheck, ConductorsAreCheckedBeforePatches) {
  ProblemModel m = twoWires();
  m.patches[0].lambda = 0;
  m.elements[1].conductor = 3;
  EXPECT_EQ(checkStop(prepared(m)), "\nConductor 2 has no boundary elements;\n");
}

}  // namespace
}  // namespace qbr
