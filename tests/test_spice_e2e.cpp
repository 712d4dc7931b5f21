// The exported line models run in ngspice: a step into 1 cm of a superconducting and of
// a copper microstrip terminated in Z0, and the near-end crosstalk of a coupled
// superconducting pair (its modes as ideal lines) against its even and odd modes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "qbr/qbr.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::readFile;
using testing::runQbr;
using testing::TempDir;

Result solveText(const std::string& input) {
  SolveOptions options;
  options.gridCheck = false;
  return solve(Model::fromText(input), options);
}

// Runs ngspice in batch mode on `netlist` (with the line model as line.cir beside it)
// and returns the values of its ".meas" lines.
std::map<std::string, double> simulate(const Result& result, double length,
                                       const std::string& netlist) {
  TempDir dir;
  dir.write("line.cir", spiceModel(result, length));
  dir.write("test.cir", netlist);
  const std::string command =
      "cd '" + dir.path().string() + "' && ngspice -b test.cir > out.txt 2>&1";
  // Batch mode ends with status 1 when the netlist prints nothing, as these only measure:
  // what counts is that every measurement is there.
  EXPECT_NE(std::system(command.c_str()), -1);
  const std::string out = readFile(dir / "out.txt");
  std::map<std::string, double> values;
  const std::regex line(R"((\w+)\s+=\s+([-+0-9.eE]+))");
  for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator();
       ++it) {
    values[(*it)[1]] = std::stod((*it)[2]);
  }
  return values;
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

// A 1 V step with a 2 ps edge through Z0 into 1 cm of `model`, Z0 at the far end. The
// input stays at 0.5 V once the edge has passed (a reflection would come back after
// 2 TD, within the window); the far end crosses 0.25 V one delay after the input.
struct StepResponse {
  double delay = 0.0;            // from input to far end at 0.25 V
  double low = 0.0, high = 0.0;  // the input from the edge on
};

StepResponse stepResponse(const Result& r, const std::string& model, double z0) {
  const double delay = 0.01 * r.line->modalDelaySPerM[0];
  const std::string netlist =
      "step into the exported line\n.include line.cir\nV1 s 0 PULSE(0 1 10p 2p 2p 1 2)\nR1 s a " +
      number(z0) + "\nX1 a 0 b 0 " + model + "\nR2 b 0 " + number(z0) + "\n.control\ntran 0.05p " +
      number(4 * delay + 20e-12) +
      "\nmeas tran ta WHEN v(a)=0.25 RISE=1\nmeas tran tb WHEN v(b)=0.25 RISE=1\n"
      "meas tran high MAX v(a) FROM=20p\nmeas tran low MIN v(a) FROM=20p\n.endc\n.end\n";
  std::map<std::string, double> v = simulate(r, 0.01, netlist);
  EXPECT_TRUE(v.count("ta") && v.count("tb") && v.count("high") && v.count("low")) << model;
  std::printf("%s: delay %.5g s against %.5g, input between %.6f and %.6f V\n", model.c_str(),
              v["tb"] - v["ta"], delay, v["low"], v["high"]);
  return {v["tb"] - v["ta"], v["low"], v["high"]};
}

// The lossless superconducting microstrip as an ideal line, and a copper microstrip of a
// printed circuit board at 1 GHz as ngspice's lossy line; the CPL card of each runs too.
TEST(SpiceE2e, AStepIntoTheLineTerminatedInZ0NeitherReflectsNorMissesItsDelay) {
  const Result superconducting = solveText(
      "cc superconducting microstrip\nlengthunit um\nfrequency 10 ghz\nlambda 0.09\n"
      "symmetry on\npermittivity 3.9\nrect -1 1 0.3 0.5 1 0 100 10\n");
  const Result copper = solveText(
      "cc copper microstrip\nlengthunit um\nfrequency 1 ghz\npatch 0 nc 58\n"
      "symmetry on\npermittivity 4.3\nrect -100 100 100 135 1 0 100 20\n");
  ASSERT_TRUE(superconducting.line && superconducting.line->lossless);
  ASSERT_TRUE(copper.line && !copper.line->lossless);
  for (const Result* r : {&superconducting, &copper}) {
    const double z0 = r->line->characteristicImpedanceOhm(0, 0).real();
    const StepResponse step = stepResponse(*r, "qbr_line", z0);
    EXPECT_LT(step.high - 0.5, 0.01) << r->settings.caption;
    EXPECT_LT(0.5 - step.low, 0.01) << r->settings.caption;
    EXPECT_NEAR(step.delay / (0.01 * r->line->modalDelaySPerM[0]), 1.0, 5e-3)
        << r->settings.caption;
    // The card reads: ngspice takes the matrices and runs the element.
    EXPECT_GT(stepResponse(*r, "qbr_line_rlgc", z0).delay, 0.0) << r->settings.caption;
  }
}

// Two strips over the plane, driven on strip 1 through R0 with all ends in R0. Until the
// far ends answer (2 TD), the even and odd modes see their line's input impedance: the
// near end of strip 2 stands at (V/2) (Ze/(Ze + R0) - Zo/(Zo + R0)), Ze and Zo from the
// characteristic impedance matrix, Zc11 +- Zc12.
TEST(SpiceE2e, NearEndCrosstalkOfACoupledPairIsThatOfItsModes) {
  const Result r = solveText(
      "cc pair\nlengthunit um\nfrequency 10 ghz\nlambda 0.09\nsymmetry on\npermittivity 3.9\n"
      "rect -2.5 -0.5 1 1.5 1 0 200 30\nrect 0.5 2.5 1 1.5 2 0 200 30\n");
  ASSERT_TRUE(r.line);
  const double length = 0.01;
  const Matrix<std::complex<double>>& zc = r.line->characteristicImpedanceOhm;
  const double even = (zc(0, 0) + zc(0, 1)).real();
  const double odd = (zc(0, 0) - zc(0, 1)).real();
  const double r0 = 50.0;
  const double expected = 0.5 * (even / (even + r0) - odd / (odd + r0));
  const double delay = length * r.line->modalDelaySPerM[0];
  const std::string netlist =
      "near-end crosstalk\n.include line.cir\nV1 s 0 PULSE(0 1 10p 2p 2p 1 2)\n"
      "R1 s a1 50\nR2 a2 0 50\nR3 b1 0 50\nR4 b2 0 50\nX1 a1 a2 0 b1 b2 0 qbr_line\n"
      ".control\ntran 0.02p " +
      number(2 * delay) + "\nmeas tran next FIND v(a2) AT=" + number(10e-12 + delay) +
      "\n.endc\n.end\n";
  std::map<std::string, double> v = simulate(r, length, netlist);
  ASSERT_TRUE(v.count("next"));
  std::printf("near-end crosstalk %.6f V, from the modes %.6f V\n", v["next"], expected);
  EXPECT_GT(expected, 0.02);
  EXPECT_NEAR(v["next"] / expected, 1.0, 0.01);
}

// The program's options: --spice writes the model for the length given in any unit; a
// length without a unit it knows is refused before the run, a model without the
// permittivity after the report, with the message and status 1.
// Far-end crosstalk comes from the dielectric: the pair on an oxide layer under air has
// two modes of different speed. During a slow edge the far end of the quiet line sees
// K_f l dV/dt of the wave launched on the driven one (weak coupling), K_f from the line
// details; the exported modes in ngspice give it within the approximation's few percent.
TEST(SpiceE2e, FarEndCrosstalkOfAPairOnALayerIsThatOfItsCoefficient) {
  const Result r = solveText(
      "cc pair\nlengthunit um\nfrequency 10 ghz\nlambda 0.09\nsymmetry on\nlayer 0 1 3.9\n"
      "rect -2.5 -0.5 1 1.5 1 0 200 30\nrect 0.5 2.5 1 1.5 2 0 200 30\n");
  ASSERT_TRUE(r.line);
  const LineDetails details = lineDetails(r);
  const double length = 0.01;
  const double rise = 100e-12;
  const double delay = length * r.line->modalDelaySPerM[0];
  const std::string netlist =
      "far-end crosstalk\n.include line.cir\nV1 s 0 PULSE(0 1 10p " + number(rise) +
      " 1p 1 2)\nR1 s a1 50\nR2 a2 0 50\nR3 b1 0 50\nR4 b2 0 50\n"
      "X1 a1 a2 0 b1 b2 0 qbr_line\n.control\ntran 0.05p " +
      number(10e-12 + delay + rise) +
      "\nmeas tran launched FIND v(a1) AT=" + number(10e-12 + rise) +
      "\nmeas tran fext FIND v(b2) AT=" + number(10e-12 + delay + 0.6 * rise) + "\n.endc\n.end\n";
  std::map<std::string, double> v = simulate(r, length, netlist);
  ASSERT_TRUE(v.count("fext") && v.count("launched"));
  const double expected = details.farEndCouplingSPerM * length * v["launched"] / rise;
  std::printf("far-end crosstalk %.6f V, from K_f %.6f V\n", v["fext"], expected);
  EXPECT_LT(expected, -0.005);
  EXPECT_NEAR(v["fext"] / expected, 1.0, 0.1);
}

TEST(SpiceE2e, TheProgramWritesTheModelOfTheLengthAskedFor) {
  TempDir dir;
  const std::string line = "lengthunit um\nlambda 0.09\nsymmetry on\nel 2 1 0 5 1 + 0 40\n";
  dir.write("with.txt", line + "permittivity 2\n");
  dir.write("without.txt", line);
  const auto written = runQbr(
      dir.path(), {"--no-wait", "--quiet", "--spice", "m.cir", "--length", "5mm", "with.txt"});
  ASSERT_EQ(written.exitStatus, 0) << written.console;
  EXPECT_NE(readFile(dir / "m.cir").find(" len=0.005\n"), std::string::npos)
      << readFile(dir / "m.cir");
  const auto badLength =
      runQbr(dir.path(), {"--no-wait", "--spice", "n.cir", "--length", "5 furlongs", "with.txt"});
  EXPECT_EQ(badLength.exitStatus, 1);
  EXPECT_NE(badLength.console.find("not a positive number with m, cm, mm or um"),
            std::string::npos);
  const auto noPermittivity =
      runQbr(dir.path(), {"--no-wait", "--spice", "n.cir", "--length", "1cm", "without.txt"});
  EXPECT_EQ(noPermittivity.exitStatus, 1);
  EXPECT_NE(noPermittivity.console.find("The line model needs the capacitance"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "n.cir"));
}

}  // namespace
}  // namespace qbr
