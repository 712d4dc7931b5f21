// Hostile input through the phases before the matrix fill, exactly as the fuzz target
// runs it (fuzz/input_phases.hpp): every input ends in a fatal stop with a message, or
// in a model fit for the fill. Holds the replay of the fuzz corpus and of every fuzzer
// finding, and the decisions on numbers no computation can use.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "../fuzz/input_phases.hpp"
#include "model/line_tokens.hpp"
#include "support/contact_cases.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using fuzzing::PhaseOutcome;
using fuzzing::runInputPhases;
using testing::TempDir;

// The phases name their files relative to the working directory; each test works in a
// fresh directory of its own and goes back afterwards.
class RobustnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // Runs `bytes` and returns the stop message; fails when there is none.
  static std::string stop(const std::string& bytes) {
    const PhaseOutcome outcome = runInputPhases(bytes);
    EXPECT_TRUE(outcome.stopped) << "no fatal stop for:\n" << bytes;
    return outcome.message;
  }
  // Runs `bytes`, which must pass every phase and leave a model fit for the fill.
  static PhaseOutcome passes(const std::string& bytes) {
    PhaseOutcome outcome = runInputPhases(bytes);
    EXPECT_FALSE(outcome.stopped) << outcome.message << "for:\n" << bytes;
    EXPECT_EQ(outcome.fault, "") << bytes;
    return outcome;
  }
  static std::string atLine(int line, const std::string& problem, const std::string& text) {
    return "\nLine " + std::to_string(line) + " of the input file: " + problem + ": " + text + "\n";
  }

 private:
  TempDir dir_;
  std::filesystem::path previous_;
};

// A superconducting wire that needs nothing else to be solvable.
const std::string kWire = "lambda 0.1\npt 0 0 0\ncircle 1 0 1 + 0 8\n";

std::vector<std::filesystem::path> filesIn(const std::string& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(testing::sourcePath(folder))) {
    files.push_back(entry.path());
  }
  return files;
}

TEST_F(RobustnessTest, FuzzCorpusEndsInAStopOrASoundModel) {
  const std::vector<std::filesystem::path> files = filesIn("fuzz/corpus");
  ASSERT_GE(files.size(), 10u);
  // Seeds lead the fuzzer into the deep phases: all but these reach the grids.
  const std::set<std::string> stopping{"dxc_incomplete.txt", "error_point_number.txt"};
  for (const std::filesystem::path& file : files) {
    const PhaseOutcome outcome = runInputPhases(testing::readFile(file));
    EXPECT_EQ(outcome.stopped, stopping.count(file.filename().string()) == 1)
        << file << outcome.message;
    if (outcome.stopped) {
      EXPECT_NE(outcome.message.find_first_not_of('\n'), std::string::npos) << file;
    }
    EXPECT_EQ(outcome.fault, "") << file;
  }
}

TEST_F(RobustnessTest, PolylineFileAfterTheFirstNulByte) {
  const std::string polyline = "head\n$POLYLINE\nx\n2\n0 0\n2 0\n2 1\n0 1\n$EOF\n";
  const PhaseOutcome outcome =
      passes("lambda 0.1\npl 2 1 0\ndxc poly.dxc\n" + std::string(1, '\0') + polyline);
  EXPECT_NE(outcome.log.find("4 boundary elements;"), std::string::npos);
  EXPECT_EQ(testing::readFile("poly.dxc"), polyline);
}

// Every input the fuzzer found a fault with, byte for byte, and how it ends now.
TEST_F(RobustnessTest, FuzzerFindings) {
  struct Finding {
    const char* file;
    std::string message;
  };
  const Finding findings[] = {
      // An infinite radius ("0.51e999") gave an infinite element length that passed
      // the zero-length test and put infinite nodes into the grid.
      {"infinite_radius.txt",
       atLine(4, "the radius \"0.51e999\" is not a finite number", "circle 1 0 0.51e999 200")},
      // A curve 44000 units long crossing a ground line: the outline oracle's distance
      // from the contact point to the curve took the wrong valley of a sampled distance.
      {"steep_curve_contact.txt",
       "\nPatch 0 has no usable wave number: give it a positive lambda or sigma;\n"},
      // A line 1.1e9 long near short ones: the contact search halved both parameters
      // alike and took over ten seconds under the sanitizers.
      {"long_element_search.txt", "\nConductor 1 has no boundary elements;\n"},
      // A rectangle 2 wide and 2e19 tall: its short sides are within the tolerance of
      // their neighbours, and the contact search ran to its box limit before it found
      // where (over ten seconds under the sanitizers).
      {"short_side_search.txt",
       "\nPatch 2 has no usable wave number: give it a positive lambda or sigma;\n"},
  };
  for (const Finding& finding : findings) {
    const std::string bytes =
        testing::readFile(testing::sourcePath(std::string("fuzz/regressions/") + finding.file));
    const PhaseOutcome outcome = runInputPhases(bytes);
    EXPECT_EQ(outcome.fault, "") << finding.file;
    EXPECT_EQ(outcome.message, finding.message) << finding.file;
  }
  // No finding is left without its expected outcome.
  EXPECT_EQ(filesIn("fuzz/regressions").size(), std::size(findings));
}

TEST_F(RobustnessTest, NonFiniteNumbersAreRefusedWhereTheyAreWritten) {
  const char* lines[][2] = {
      {"frequency nan", "the frequency \"nan\" is not a finite number"},
      {"Frequency INF GHz", "the frequency \"inf\" is not a finite number"},
      {"frequency 1e999", "the frequency \"1e999\" is not a finite number"},
      {"lambda -infinity", "the lambda \"-infinity\" is not a finite number"},
      {"sigma nan(1)", "the sigma \"nan(1)\" is not a finite number"},
      {"ah 1e400", "the grid interval \"1e400\" is not a finite number"},
      {"gridsize inf", "the grid size \"inf\" is not a finite number"},
      {"patch 1 nc 58 0 nan", "the mu \"nan\" is not a finite number"},
      {"pt 0 nan 0", "the x coordinate \"nan\" is not a finite number"},
      {"pt 0 0 -1e999", "the y coordinate \"-1e999\" is not a finite number"},
      {"circle 1 0 inf", "the radius \"inf\" is not a finite number"},
      {"el 2 1 0 0 1e999 +", "the radius \"1e999\" is not a finite number"},
      {"el 0 1 0 0 nan 1", "the x coordinate \"nan\" is not a finite number"},
      {"rect 0 1e400 0 1", "the x2 \"1e400\" is not a finite number"},
  };
  for (const auto& line : lines) {
    EXPECT_EQ(stop("cc title\n" + std::string(line[0]) + "\n"), atLine(2, line[1], line[0]));
  }
  EXPECT_EQ(stop("lambda 0.1\npl 0 1 0\ndxc poly.dxc\n" + std::string(1, '\0') +
                 "head\n$POLYLINE\nx\n0\n0 0\n1e999 0\n0 1\n$EOF\n"),
            "\nLine 6 of the polyline file poly.dxc: the vertex x coordinate is not a finite "
            "number: 1e999 0\n");
}

TEST_F(RobustnessTest, SettingsAndMaterialsOutsideTheirMeaningfulRange) {
  const char* lines[][2] = {
      {"ah 0", "the grid interval \"0\" is not positive"},
      {"ah -0", "the grid interval \"-0\" is not positive"},
      {"ah -0.1", "the grid interval \"-0.1\" is not positive"},
      {"gridsize 0", "the grid size \"0\" is not positive"},
      {"gridsize -2", "the grid size \"-2\" is not positive"},
      {"frequency -5 ghz", "the frequency \"-5\" is negative"},
      {"sigma -1", "the sigma \"-1\" is negative"},
      {"lambda -0.09", "the lambda \"-0.09\" is negative"},
      {"patch 1 nc -58", "the sigma \"-58\" is negative"},
      {"patch 1 sc 0 -0.1", "the lambda \"-0.1\" is negative"},
      {"patch 1 nc 58 0 0", "the mu \"0\" is not positive"},
      {"patch 1 nc 58 0 -1", "the mu \"-1\" is not positive"},
  };
  for (const auto& line : lines) {
    EXPECT_EQ(stop(std::string(line[0]) + "\n"), atLine(1, line[1], line[0]));
  }
  // Zero and negative zero where zero means something: no conductivity, no
  // superconductivity, the static limit.
  passes("sigma -0\nlambda 0.1\nfrequency 0\npt 0 -0 -0\ncircle 1 0 1 + 0 8\n");
}

TEST_F(RobustnessTest, HugeAndTinyValuesAfterConversion) {
  EXPECT_EQ(stop("frequency 1e300 ghz\n" + kWire), "\nThe frequency 1e+300 ghz is too large\n");
  EXPECT_EQ(stop("gridsize 1e20\nlambda 0.1\npt 0 0 0\npt 1 1e20 3\nline 1 0 1\n"),
            "\nPoint 1 is out of range after scaling by gridsize: x=1e+40  y=3e+20;\n");
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\ncircle 1 0 1e31\n"),
            "\nElement 0 has a radius out of range after scaling by gridsize: R=1e+31;\n");
  // Scaled to nothing, and radii that are no circles.
  EXPECT_EQ(stop("gridsize 1e-300\n" + kWire),
            "\nZero length element detected!\nElement 0 is shorter than 1e-7 um: features this "
            "small vanish in this length unit; check the coordinates and gridsize;\n");
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\ncircle 1 0 -1\n"), "\nZero length element detected!\n");
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\ncircle 1 0 1e-400\n"), "\nZero length element detected!\n");

  // Large models inside the bound, and any positive ah, are computed.
  const PhaseOutcome large = passes("gridsize 1e10\nlambda 1e9\npt 0 0 0\ncircle 1 0 1e19\n");
  EXPECT_NE(large.log.find("element 0  ni=500"), std::string::npos);
  EXPECT_NE(passes("ah 1e-300\nlambda 0.1\npt 0 0 0\ncircle 1 0 1\n").log.find("element 0  ni=500"),
            std::string::npos);
  EXPECT_NE(passes("ah 1e300\nlambda 0.1\npt 0 0 0\ncircle 1 0 1\n").log.find("element 0  ni=3"),
            std::string::npos);
  // Integers beyond every table: stopped by their own tests, never wrapped.
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\ncircle 2147483647 0 1\n"), "\nToo many conductors;\n");
  EXPECT_EQ(stop("patch 99999999999999999999 nc\n"),
            atLine(1, "the patch number \"99999999999999999999\" is out of range",
                   "patch 99999999999999999999 nc"));
  EXPECT_NE(
      passes("lambda 0.1\npt 0 0 0\ncircle 1 0 1 + 0 2147483647\n").log.find("element 0  ni=500"),
      std::string::npos);
}

TEST_F(RobustnessTest, WaveNumbersThatCannotBeUsed) {
  const std::string notFinite =
      "\nPatch 0 has a wave number that is not finite: its lambda is too small, or its sigma, "
      "mu or the frequency too large;\n";
  // -1 / lambda^2 overflows.
  EXPECT_EQ(stop("lambda 1e-200\npt 0 0 0\ncircle 1 0 1\n"), notFinite);
  // omega mu0 sigma L^2 overflows.
  EXPECT_EQ(stop("frequency 1e300 hz\npatch 0 nc 1e300\npt 0 0 0\ncircle 1 0 1\n"), notFinite);
  // A normal metal at zero frequency, and a superconductor whose 1 / lambda^2
  // underflows, have no interior wave number.
  EXPECT_EQ(stop("frequency 0\npatch 0 nc 58\npt 0 0 0\ncircle 1 0 1\n"),
            "\nPatch 0 is a normal conductor and needs a positive frequency;\n");
  EXPECT_EQ(stop("lambda 1e200\npt 0 0 0\ncircle 1 0 1\n"),
            "\nPatch 0 has no usable wave number: give it a positive lambda or sigma;\n");
  // Every patch starts as a superconductor: "sigma" alone does not make a metal.
  EXPECT_EQ(stop("sigma 58\npt 0 0 0\ncircle 1 0 1\n"),
            "\nPatch 0 is a superconductor with lambda 0: give it a positive lambda, or make it "
            "a normal conductor with a \"patch 0 nc\" line;\n");
}

TEST_F(RobustnessTest, PatchBoundariesMustBeClosedLoops) {
  const std::string square = "pt 0 0 0\npt 1 1 0\npt 2 1 1\npt 3 0 1\n";
  const auto notClosed = [](int patch, int point) {
    return "\nThe boundary of patch " + std::to_string(patch) +
           " is not closed, or not run in one sense, at point " + std::to_string(point) + ";\n";
  };
  passes("lambda 0.1\n" + square + "line 1 0 1\nline 1 1 2\nline 1 2 3\nline 1 3 0\n");
  // A lone strip: the interior has no boundary around it.
  EXPECT_EQ(stop("lambda 0.1\n" + square + "line 1 0 1 0 5\n"), notClosed(0, 0));
  // One side given the wrong way round.
  EXPECT_EQ(stop("lambda 0.1\n" + square + "line 1 0 1\nline 1 1 2\nline 1 3 2\nline 1 3 0\n"),
            notClosed(0, 2));
  // A closed curve-and-line loop on patch 0, an open one on patch 1.
  EXPECT_EQ(stop("lambda 0.1\npatch 1 sc 0 0.1\n" + square +
                 "curve 1 0 1 2\nline 1 2 0\nline 2 3 0 1\nline 2 0 2 1\n"),
            notClosed(1, 2));
  // Two separate loops of one conductor.
  passes("lambda 0.1\n" + square +
         "pt 4 -1 0\npt 5 -2 0\npt 6 -2 -1\nline 1 0 1\nline 1 1 2\nline 1 2 0\n"
         "line 1 4 5\nline 1 5 6\nline 1 6 4\n");
}

// Elements of any conductors and patches may meet only where one side of an outline ends
// and the next begins; the contact tolerance is 1e-9 of the model's extent.
TEST_F(RobustnessTest, ElementsThatTouchOrCross) {
  const auto meet = [](int a, int b, const std::string& where) {
    return "\nElements " + std::to_string(a) + " and " + std::to_string(b) + " touch or cross at " +
           where +
           " (coordinates after gridsize): elements may meet only where one side of an outline "
           "ends and the next begins;\n";
  };
  const std::string ground = "lambda 0.09\nrect -10 10 -0.2 0 0 0 50 5\n";
  // Crossing lines: the microstrip's strip moved down into the ground.
  EXPECT_EQ(stop(ground + "rect -1 1 -0.1 0.1 1\n"), meet(2, 5, "(1, 0) um"));
  // Collinear overlap: the strip resting on the ground.
  EXPECT_EQ(stop(ground + "rect -1 1 0 0.2 1\n"), meet(2, 4, "(0, 0) um"));
  // Two rectangles of different conductors sharing an edge (first met at its corner), and
  // one rectangle drawn twice.
  EXPECT_EQ(stop("lambda 0.1\nrect 0 2 0 1 1\nrect 2 4 0 1 2\n"), meet(0, 4, "(2, 0) um"));
  EXPECT_EQ(stop("lambda 0.1\nrect 0 2 0 1 1\nrect 0 2 0 1 1\n"), meet(0, 4, "(1, 0) um"));
  // A line through a circle, tangent circles, a circle drawn twice.
  EXPECT_EQ(stop(ground + "el 2 1 0 0.5 0.6 +\n"), meet(2, 4, "(-0.331662, 0) um"));
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\npt 1 3 0\ncircle 1 0 1\ncircle 2 1 2\n"),
            meet(0, 1, "(1, 0) um"));
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\ncircle 1 0 1\ncircle 2 0 1\n"), meet(0, 1, "(1, 0) um"));
  // An arc touching a line at one point: the parabola y = 1 - x^2 under the line y = 1;
  // 1e-6 of the model's size below it, it passes.
  const std::string lens = "lambda 0.1\nel 1 1 1 0 0 1 -1 0\nel 0 1 -1 0 1 0\n";
  EXPECT_EQ(stop(lens + "rect -1 1 1 2 2\n"), meet(0, 2, "(0, 1) um"));
  passes(lens + "rect -1 1 1.000002 2 2\n");
  // A conductor that follows the whole arc 1e-6 of the model's size above it.
  passes(lens +
         "el 1 2 -1 3e-6 0 1.000003 1 3e-6\nel 0 2 1 3e-6 1 3\nel 0 2 1 3 -1 3\n"
         "el 0 2 -1 3 -1 3e-6\n");
  // Two loops of one conductor through one point touch there.
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\npt 1 1 0\npt 2 1 1\npt 3 -1 0\npt 4 -1 -1\n"
                 "line 1 0 1\nline 1 1 2\nline 1 2 0\nline 1 0 3\nline 1 3 4\nline 1 4 0\n"),
            meet(0, 3, "(0, 0) um"));
  // A side that runs back along the one before it, and a curve that runs back over itself.
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\npt 1 2 0\npt 2 1 0\npt 3 1 1\n"
                 "line 1 0 1\nline 1 1 2\nline 1 2 3\nline 1 3 0\n"),
            meet(0, 1, "(1.66667, 0) um"));
  EXPECT_EQ(
      stop("lambda 0.1\npt 0 0 0\npt 1 2 0\npt 2 1 0\ncurve 1 0 1 2\nline 1 2 0\n"),
      "\nElement 0 runs back over itself at (2.04167, 0) um (coordinates after gridsize): the "
      "middle point of a curve whose points lie on one line must lie between the other "
      "two;\n");

  // Shared end points pass at any angle, and thin films and narrow gaps are legitimate: a
  // 5 nm film on a strip over a ground, a 0.2 um tube wall on a 100 um radius, a 1 nm gap
  // in a 1 mm model, a curve leaving a line at a sharp angle.
  passes(ground + "rect -1 1 0.2 0.205 1 0 20 3\n");
  passes(
      "lambda 0.09\npt 0 0 0\ncircle 1 0 1 + 0 10\ncircle 0 0 100 - 0 10\n"
      "circle 0 0 100.2 + 0 10\n");
  passes("lengthunit mm\nlambda 1e-4\nrect 0 0.5 0 0.1 0 0 10 3\nrect 0.500001 1 0 0.1 1 0 10 3\n");
  passes("lambda 0.1\npt 0 0 0\npt 1 2 0\npt 2 1 0.02\nline 1 0 1\ncurve 1 1 2 0\n");
  passes(
      "lambda 0.1\npt 0 0 0\npt 1 2 0\npt 2 1 -0.05\npt 3 1 0.05\ncurve 1 0 2 1\n"
      "curve 1 1 3 0\n");
}

// Contact within 7/8 of the tolerance always stops the run, a gap wider than the
// tolerance never does, and that margin bounds the search, whatever the geometry: the
// pieces it takes are counted.
TEST_F(RobustnessTest, ContactSearchIsDecidedInFewPieces) {
  using testing::ringSectors;
  using testing::sliverTriangle;
  using testing::stripOverLongGround;
  const auto modelOf = [](const std::string& input) {
    return testing::modelOfInput(input, "input.txt");
  };
  const double arcs = contactTolerance(modelOf(ringSectors(1, 1.0)));
  const double ground = contactTolerance(modelOf(stripOverLongGround(5.0)));
  const double triangle = contactTolerance(modelOf(sliverTriangle(1.0)));
  const struct {
    std::string input;
    bool meets;
  } cases[] = {
      {ringSectors(1, 1.05 * arcs), false},
      {ringSectors(1, 0.8 * arcs), true},
      {stripOverLongGround(1.05 * ground), false},
      {stripOverLongGround(0.8 * ground), true},
      {sliverTriangle(1.05 * triangle), false},
      {sliverTriangle(0.8 * triangle), true},
      // Sides of 2 against sides of 2e19.
      {"lambda 0.1\nrect 0 2 0 2e19\n", true},
  };
  for (const auto& c : cases) {
    const ProblemModel model = modelOf(c.input);
    long pieces = 0;
    EXPECT_EQ(findContact(model, findLoops(model), &pieces).has_value(), c.meets) << c.input;
    EXPECT_LT(pieces, 1000) << c.input;
  }
}

// A loop's sense follows from its nesting among the loops of its conductor: metal
// counter-clockwise, a hole in it clockwise, an island in the hole counter-clockwise.
TEST_F(RobustnessTest, LoopsRunByTheirNesting) {
  const auto wrong = [](const std::string& elements, int c, bool hole) {
    return "\nThe loop of " + elements + " (conductor " + std::to_string(c) +
           (hole ? ") runs counter-clockwise: it outlines a hole, so it must run clockwise;\n"
                 : ") runs clockwise: it outlines metal, so it must run counter-clockwise;\n");
  };
  // A rectangle with a rectangular hole, the hole run each way.
  passes("lambda 0.1\nrect -2 2 -2 2 1\nrect 1 -1 -1 1 1\n");
  EXPECT_EQ(stop("lambda 0.1\nrect -2 2 -2 2 1\nrect -1 1 -1 1 1\n"),
            wrong("elements 4, 5, 6, 7", 1, true));
  EXPECT_EQ(stop("lambda 0.1\nrect 2 -2 -2 2 1\nrect 1 -1 -1 1 1\n"),
            wrong("elements 0, 1, 2, 3", 1, false));
  // A tube inside a tube of one conductor, and a wire in the inner bore.
  const std::string tubes =
      "lambda 0.1\npt 0 0 0\ncircle 0 0 9 + 0 8\ncircle 0 0 8 - 0 8\ncircle 1 0 2 + 0 8\n";
  passes(tubes + "circle 0 0 5 + 0 8\ncircle 0 0 4 - 0 8\n");
  EXPECT_EQ(stop(tubes + "circle 0 0 5 - 0 8\ncircle 0 0 4 - 0 8\n"), wrong("element 3", 0, false));
  // The superconducting coax with its bore written "+".
  EXPECT_EQ(stop("lambda 0.09\npt 0 0 0\ncircle 1 0 1 + 0 8\ncircle 0 0 3 + 0 8\n"
                 "circle 0 0 4 + 0 8\n"),
            wrong("element 1", 0, true));
  // Two separate strips of one conductor, the second written from right to left.
  const std::string ground = "lambda 0.1\nrect -10 10 -0.2 0\n";
  passes(ground + "rect -3 -1 0.2 0.4 1\nrect 1 3 0.2 0.4 1\n");
  EXPECT_EQ(stop(ground + "rect -3 -1 0.2 0.4 1\nrect 3 1 0.2 0.4 1\n"),
            wrong("elements 8, 9, 10, 11", 1, false));
  // A closed curve-and-line outline in both senses: the arc bows above its chord.
  const std::string points = "lambda 0.1\npt 0 0 0\npt 1 1 0.6\npt 2 2 1\n";
  passes(points + "curve 1 2 1 0\nline 1 0 2\n");
  EXPECT_EQ(stop(points + "curve 1 0 1 2\nline 1 2 0\n"), wrong("elements 0, 1", 1, false));
  // A wire inside the solid metal of another conductor.
  EXPECT_EQ(stop("lambda 0.1\npt 0 0 0\ncircle 0 0 5\ncircle 1 0 1\n"),
            "\nThe loop of element 1 (conductor 1) lies inside the metal of conductor 0;\n");
}

TEST_F(RobustnessTest, WithSymmetryTheModelStaysAboveTheMirrorLine) {
  const std::string circle = "lambda 0.1\npt 0 0 0.5\ncircle 1 0 1\n";
  EXPECT_EQ(stop("symmetry on\n" + circle), "\nElement 0 reaches below the symmetry line y = 0;\n");
  passes(circle);
  // Touching the line is allowed, within the rounding of the scaled coordinates.
  passes("symmetry on\ngridsize 0.1\nlambda 0.1\npt 0 0 3\ncircle 1 0 3\n");
  // A curve whose three points lie above the line but whose arc bows below it.
  const std::string bowed =
      "lambda 0.1\npt 0 0 0\npt 1 1 0.1\npt 2 2 1\ncurve 1 0 1 2\nline 1 2 0\n";
  EXPECT_EQ(stop("symmetry on\n" + bowed), "\nElement 0 reaches below the symmetry line y = 0;\n");
  passes("symmetry on\nlambda 0.1\npt 0 0 0\npt 1 1 0.6\npt 2 2 1\ncurve 1 2 1 0\nline 1 0 2\n");
}

TEST_F(RobustnessTest, ZeroFrequency) {
  // A lossless superconductor at zero frequency: the static inductance.
  const PhaseOutcome still = passes("frequency 0\n" + kWire);
  EXPECT_NE(still.console.find("Frequency:  0 hz"), std::string::npos);
  // Its impedance would be zero and L = X / omega undefined.
  EXPECT_EQ(stop("frequency 0\nvariables impedance\n" + kWire),
            "\nThe impedance matrix needs a positive frequency;\n");
}

TEST_F(RobustnessTest, LinesBeyondTheLengthLimitStopTheRun) {
  const std::string longLine = "rem " + std::string(kMaxLineLength, 'x');
  EXPECT_EQ(stop("cc fine\n" + longLine + "\n" + kWire),
            "\nLine 2 of the input file is longer than 1048576 characters\n");
  // Exactly at the limit, without a final line break, the line is read.
  const std::string atLimit = "rem " + std::string(kMaxLineLength - 4, 'x');
  passes(kWire + atLimit);
  // A device that never ends a line, named as a polyline file, does not hang the run.
  EXPECT_EQ(stop("dxc /dev/zero\n"),
            "\nLine 1 of the polyline file /dev/zero is longer than 1048576 characters\n");
}

TEST_F(RobustnessTest, FilesBeyondTheLengthLimitStopTheRun) {
  // 17 lines of 1 MiB of comment reach the limit of 16 MiB.
  const std::string line = "rem " + std::string(kMaxLineLength - 5, 'x') + "\n";
  std::string text = kWire;
  for (int i = 0; i < 17; ++i) text += line;
  EXPECT_EQ(stop(text), "\nReading stopped: the input file is longer than 16777216 characters\n");
  std::ofstream("endless.dxc") << "head\n" << text;
  EXPECT_EQ(stop("dxc endless.dxc\n"),
            "\nReading stopped: the polyline file endless.dxc is longer than 16777216 "
            "characters\n");
  // A device that never ends: whatever it happens to hold, the run ends.
  EXPECT_NE(stop("dxc /dev/urandom\n"), "");
}

TEST_F(RobustnessTest, ReadErrorsAreNotTakenForTheEndOfTheFile) {
  // Opening /proc/self/mem succeeds; reading its first page fails.
  ProblemModel model;
  setDefaults(model);
  try {
    readInputFile(model, "/proc/self/mem");
    ADD_FAILURE() << "no stop";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nCan not read input file /proc/self/mem");
  }
  EXPECT_EQ(stop("dxc /proc/self/mem\n"), "\nCan not read DXC file\n");
  EXPECT_EQ(stop("dxc /\n"), "\nCan not open DXC file\n");
}

}  // namespace
}  // namespace qbr
