// The public API: models built in code against the same lines in a file, the per-node
// solution against the current condition, solves in parallel threads, errors and
// warnings, and the JSON document's round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <thread>

#include "model/constants.hpp"
#include "qbr/qbr.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::sourcePath;

// examples/microstrip_sc.txt, statement by statement (with its even grid: a model built
// in code grades its grids unless told otherwise).
Model microstripInCode() {
  Model m;
  m.caption("Superconducting microstrip: 2 um wide strip 0.2 um above a 20 um ground strip")
      .grid("uniform")
      .lengthUnit("um")
      .frequency(10, "ghz")
      .lambda(0.09)
      .ah(0.02)
      .rectangle(-10, 10, -0.2, 0, 0, 0, 500, 10)
      .rectangle(-1, 1, 0.2, 0.4, 1, 0, 100, 10);
  return m;
}

// A copper coax (examples/coax_copper.txt at coarser grids), from text.
Model copperCoax() {
  return Model::fromText(
      "lengthunit mm\nfrequency 1 mhz\nvariables impedance\npatch 0 nc 58\npt 0 0 0\n"
      "circle 1 0 0.5 + 0 60\ncircle 0 0 1.75 - 0 120\ncircle 0 0 2.0 + 0 120\n");
}

// Everything but the times, which differ from run to run.
void expectSameSolution(const Result& a, const Result& b) {
  EXPECT_EQ(a.printed, b.printed);
  EXPECT_EQ(a.impedanceOhmPerM, b.impedanceOhmPerM);
  EXPECT_EQ(a.excitations, b.excitations);
  EXPECT_EQ(a.settings, b.settings);
  EXPECT_EQ(a.nd, b.nd);
}

TEST(Api, AModelBuiltInCodeComputesExactlyWhatItsInputFileDoes) {
  const Result fromFile = solve(Model::fromFile(sourcePath("examples/microstrip_sc.txt")));
  const Result inCode = solve(microstripInCode());
  expectSameSolution(fromFile, inCode);

  // The value the README and the program print, and its SI forms.
  ASSERT_EQ(inCode.conductors, 1);
  EXPECT_EQ(inCode.mode, Result::Mode::kInductance);
  EXPECT_NEAR(inCode.printed(0, 0).real(), 0.168699, 5e-7);
  EXPECT_DOUBLE_EQ(inCode.inductanceHPerM(0, 0), inCode.printed(0, 0).real() * 1e-6);
  EXPECT_DOUBLE_EQ(inCode.impedanceOhmPerM(0, 0).imag(),
                   inCode.omegaRadPerS * inCode.inductanceHPerM(0, 0));
  EXPECT_EQ(inCode.frequencyHz, 1e10);
  EXPECT_EQ(inCode.lengthUnitM, 1e-6);
  EXPECT_EQ(inCode.settings.frequencyUnit, "ghz");
  EXPECT_EQ(inCode.settings.patches.at(0).lambda, 0.09);
}

// The surface current density, summed over each node's share of the outline, carries
// the excitation: +1 A on the driven conductor, -1 A on the return, none elsewhere; on
// an even grid the share is the cell of equal cells round the node, on a graded grid
// (a model built in code) whatever the grading makes it.
TEST(Api, TheSurfaceCurrentDensityCarriesOneAmpereOutAndBack) {
  Model twoStrips = microstripInCode();
  twoStrips.rectangle(3, 5, 0.2, 0.4, 2, 0, 100, 10);
  const Result r = solve(twoStrips);
  ASSERT_EQ(r.excitations.size(), 2u);
  const auto& even = r.excitations[0].nodes;
  // The strip's bottom side (element 4, after the ground's 1020 nodes): 100 nodes in the
  // middles of equal cells of 2 um.
  ASSERT_EQ(even[1020 + 20].element, 4);
  EXPECT_NEAR(even[1020 + 20].outlineShareM, 2e-6 / 100, 1e-15);
  Model graded = twoStrips;
  graded.grid("graded");
  for (const Result& result : {r, solve(graded)}) {
    for (const Excitation& excitation : result.excitations) {
      double current[3] = {0, 0, 0};
      for (const NodeValue& node : excitation.nodes)
        current[node.conductor] += node.currentDensity.real() * node.outlineShareM;
      for (int c = 0; c < 3; ++c) {
        const double expected = c == excitation.conductor ? 1.0 : c == 0 ? -1.0 : 0.0;
        EXPECT_NEAR(current[c], expected, 1e-9)
            << "excitation " << excitation.conductor << ", conductor " << c;
      }
    }
  }
}

TEST(Api, AModelBuiltInCodeHasGradedGrids) {
  Model m;
  EXPECT_EQ(m.settings().grid, "graded");
  EXPECT_EQ(Model::fromText("lambda 0.09\n").settings().grid, "uniform");
}

TEST(Api, SolvesInTwoThreadsAtOnceEqualSolvesOneAfterTheOther) {
  const Model strip = microstripInCode();
  const Model coax = copperCoax();
  // One of them on one thread: the factorisation's last bits depend on OpenBLAS's thread
  // count, which is the whole process's.
  SolveOptions oneThread;
  oneThread.threads = 1;
  const Result stripAlone = solve(strip);
  const Result coaxAlone = solve(coax, oneThread);

  Result stripTogether;
  Result coaxTogether;
  std::thread first([&] { stripTogether = solve(strip); });
  std::thread second([&] { coaxTogether = solve(coax, oneThread); });
  first.join();
  second.join();
  expectSameSolution(stripAlone, stripTogether);
  expectSameSolution(coaxAlone, coaxTogether);
}

TEST(Api, OutlinesFollowTheElementsAfterGridsize) {
  Model m;
  m.gridSize(2).rectangle(0, 1, 0, 0.5, 1, 3);
  const int centre = m.point(0, 3);
  m.circle(1, centre, 0.25, false);
  const auto outlines = m.outlines(5);
  ASSERT_EQ(outlines.size(), 5u);
  // The rectangle's third side runs from (x2, y2) to (x1, y2), scaled by gridsize.
  EXPECT_EQ(outlines[2].patch, 3);
  EXPECT_DOUBLE_EQ(outlines[2].points.front().x, 2.0);
  EXPECT_DOUBLE_EQ(outlines[2].points.back().x, 0.0);
  EXPECT_DOUBLE_EQ(outlines[2].points[2].y, 1.0);
  // The clockwise circle of radius 0.5 around (0, 6): from its left point, a quarter on
  // through its top.
  EXPECT_NEAR(outlines[4].points[0].x, -0.5, 1e-12);
  EXPECT_NEAR(outlines[4].points[1].y, 6.5, 1e-9);
  Model undefined;
  undefined.line(1, 0, 7);
  EXPECT_THROW(undefined.outlines(), Error);
}

// The message of the library's Error that `action` throws, or "no error".
template <typename Action>
std::string messageOf(const Action& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.message();
  }
  return "no error";
}

TEST(Api, ErrorsCarryTheProgramsMessages) {
  EXPECT_EQ(messageOf([] { Model::fromFile("no-such-file.txt"); }),
            "\nCan not open input file no-such-file.txt");
  EXPECT_EQ(messageOf([] { Model().patch(kMaxPatches, "sc"); }), "\nToo large patch number, STOP\n");
  EXPECT_EQ(messageOf([] { Model().ah(0); }),
            "\nLine 1 of the model: the grid interval \"0\" is not positive: ah 0\n");
  EXPECT_EQ(messageOf([] {
              Model m;
              for (int i = 0; i <= kMaxElements / 4; ++i) m.rectangle(i, i + 0.5, 0, 1, 1);
            }),
            "\nToo many boundary elements generated from rectangles\n");
  EXPECT_EQ(messageOf([] { solve(Model().line(1, 0, 1)); }),
            "\nElement 0 uses point 0, which is not defined\n");
  EXPECT_EQ(messageOf([] { solve(Model().lengthUnit("furlong").rectangle(-1, 1, 0, 1, 1)); }),
            "\nUnknown length unit\n");
  try {
    solve(Model().lengthUnit("furlong"));
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Unknown length unit");
  }
}

TEST(Api, WarningsGoToTheResultAndToTheProgramsTexts) {
  // A copper wire whose skin depth is far above its radius: |k| < 1 per length unit.
  const Model wire = Model::fromText(
      "lengthunit mm\nfrequency 43.67 hz\npatch 0 nc 58\npt 0 0 0\ncircle 1 0 1 + 0 40\n");
  const Result quiet = solve(wire);
  ASSERT_EQ(quiet.warnings.size(), 1u);
  EXPECT_EQ(quiet.warnings[0].rfind("Wave number can bee too small (low frequency): 0.", 0), 0u);

  std::ostringstream console;
  std::ostringstream log;
  SolveOptions texts;
  texts.console = &console;
  texts.log = &log;
  const Result told = solve(wire, texts);
  EXPECT_NE(console.str().find(told.warnings[0] + "\n"), std::string::npos);
  EXPECT_NE(log.str().find("\n" + told.warnings[0] + "\n\n"), std::string::npos);
  EXPECT_NE(log.str().find("Inductance matrix [pH/um]:"), std::string::npos);
}

TEST(Api, CheckStopsWhereASolveWouldAndReturnsItsWarnings) {
  // The checks before the grids, alone: the same message as the solve for a strip
  // written clockwise, the same warnings as the solve's first ones for a model it takes.
  const Model clockwise = Model::fromText(
      "lengthunit um\nlambda 0.09\nrect -10 10 -0.2 0 0 0 50 5\nrect 1 -1 0.2 0.4 1 0 20 5\n");
  const std::string stop = messageOf([&] { check(clockwise); });
  EXPECT_NE(stop.find("The loop of elements 4, 5, 6, 7 (conductor 1) runs clockwise"),
            std::string::npos);
  EXPECT_EQ(stop, messageOf([&] { solve(clockwise); }));
  const Model wire = Model::fromText(
      "lengthunit mm\nfrequency 43.67 hz\npatch 0 nc 58\npt 0 0 0\ncircle 1 0 1 + 0 40\nfoo 1\n");
  const std::vector<std::string> warnings = check(wire);
  const Result result = solve(wire);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings,
            std::vector<std::string>(result.warnings.begin(), result.warnings.begin() + 2));
}

TEST(Api, JsonReadsBackToTheSameResultBitForBit) {
  Result r = solve(copperCoax());
  // Numbers at the edges of what a double holds must survive the text too.
  r.printed(0, 0) = {std::numeric_limits<double>::denorm_min(), -0.0};
  r.inductanceHPerM(0, 0) = std::numeric_limits<double>::max();
  r.resistanceOhmPerM(0, 0) = 0.1 + 0.2;
  r.warnings = {"a \"quoted\" warning\twith a tab"};
  const std::string text = r.toJson();
  const Result back = Result::fromJson(text);
  EXPECT_EQ(back, r);
  EXPECT_TRUE(std::signbit(back.printed(0, 0).imag()));
  EXPECT_EQ(back.toJson(), text);

  const Result withoutNodes = Result::fromJson(r.toJson(false));
  EXPECT_TRUE(withoutNodes.excitations.at(0).nodes.empty());
  EXPECT_EQ(withoutNodes.printed, r.printed);

  std::string future = text;
  future.replace(future.find("\"schema_version\": 1"), 19, "\"schema_version\": 2");
  EXPECT_THROW(Result::fromJson(future), Error);
  EXPECT_THROW(Result::fromJson("{\"schema_version\": 1}"), Error);
}

}  // namespace
}  // namespace qbr
