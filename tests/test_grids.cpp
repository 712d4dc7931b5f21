#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

#include "base/fatal_stop.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "prep/grids.hpp"
#include "prep/setup.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"

namespace qbr {
namespace {

class Grids : public ::testing::Test {
 protected:
  Grids() {
    setDefaults(model);
    model.patches[0].lambda = 0.1;
  }

  BoundaryElement& line(double length, int conductor = 1, int gridCount = 0) {
    const double y = model.elementCount;
    BoundaryElement& e = model.elements[static_cast<std::size_t>(model.elementCount++)];
    e.kind = kLine;
    e.pointNumbers = {findOrAddPoint(model, 0, y), findOrAddPoint(model, length, y), 0};
    e.conductor = conductor;
    e.gridCount = gridCount;
    return e;
  }
  BoundaryElement& circle(double radius, int conductor = 1, int gridCount = 0) {
    BoundaryElement& e = model.elements[static_cast<std::size_t>(model.elementCount++)];
    e.kind = kCircle;
    e.pointNumbers = {findOrAddPoint(model, 50, 50), 0, 0};
    e.R = radius;
    e.conductor = conductor;
    e.gridCount = gridCount;
    return e;
  }
  // Set-up and grids; returns the stop message, if any.
  std::string build() {
    RunIo io{console, log};
    try {
      setUpModel(model, io);
      buildGrids(model, io);
    } catch (const FatalError& error) {
      return error.message();
    }
    return "no stop";
  }
  int count(int e) const { return model.elements[static_cast<std::size_t>(e)].gridCount; }

  ProblemModel model;
  std::ostringstream console, log;
};

TEST_F(Grids, CountsFromLengthAndAh) {
  line(10.2);
  line(10.0);
  line(1.5);
  circle(1.0);
  ASSERT_EQ(build(), "no stop");
  EXPECT_EQ(count(0), 11);
  EXPECT_EQ(count(1), 10);
  EXPECT_EQ(count(2), 3);  // ceiling 2, raised to the minimum
  EXPECT_EQ(count(3), 7);  // 6.2831853072
}

TEST_F(Grids, GivenCountsAreBounded) {
  line(1.0, 1, 2);
  line(1.0, 1, 1000);
  line(1.0, 1, -4);
  line(1.0, 1, 500);
  ASSERT_EQ(build(), "no stop");
  EXPECT_EQ(count(0), 3);
  EXPECT_EQ(count(1), 500);
  EXPECT_EQ(count(2), 3);
  EXPECT_EQ(count(3), 500);
  EXPECT_EQ(model.elements[1].nodeT.size(), 501u);
}

// A count from ah outside 3..500 is bounded with one warning line on the console and in
// the log; given counts are bounded silently, counts inside the range say nothing.
TEST_F(Grids, BoundedCountsFromAhAreReported) {
  model.ah = 0.001;
  line(1.0);
  line(0.0015);
  line(0.25);
  line(5.0, 1, 1000);
  ASSERT_EQ(build(), "no stop");
  const std::string warnings =
      "Element 0: ah asks for 1000 nodes, the grid has 500;\n"
      "Element 1: ah asks for 2 nodes, the grid has 3;\n";
  EXPECT_EQ(console.str().substr(0, warnings.size()), warnings);
  EXPECT_EQ(console.str().find("Element 2"), std::string::npos);
  EXPECT_EQ(console.str().find("Element 3"), std::string::npos);
  EXPECT_EQ(log.str().substr(0, warnings.size()), warnings);
}

// ceil(length / ah) can be far outside the int range; it is bounded before conversion.
// The echo measures each patch's wavelength in steps of ah; where the counts given make a
// patch's grid coarser than ah, the grid report gives the figure on the coarsest grid.
TEST_F(Grids, PatchesGriddedCoarserThanAhAreReported) {
  model.ah = 0.5;
  line(4.0, 1, 4);  // h = 1, coarser than ah
  line(4.0, 1, 16);
  ASSERT_EQ(build(), "no stop");
  EXPECT_NE(log.str().find("Patch 0: wave/h=(0,-0.628319) on its coarsest grid (element 0, h=1)\n"),
            std::string::npos)
      << log.str();
  model = ProblemModel{};
  setDefaults(model);
  model.patches[0].lambda = 0.1;
  log.str("");
  line(4.0);  // from ah
  line(4.0, 1, 16);
  ASSERT_EQ(build(), "no stop");
  EXPECT_EQ(log.str().find("coarsest grid"), std::string::npos) << log.str();
}

// "grid graded" clusters the nodes toward the corners of an outline: where two elements
// meet at an angle, not where an element continues another in a straight line, and not on
// circles; the counts stay as asked.
TEST_F(Grids, GradedGridsClusterTowardCorners) {
  model.grid = "graded";
  // An L-shaped run: element 0 along x, element 1 straight on, element 2 turning up.
  const auto p = [&](double x, double y) { return findOrAddPoint(model, x, y); };
  const auto add = [&](int a, int b) {
    BoundaryElement& e = model.elements[static_cast<std::size_t>(model.elementCount++)];
    e.kind = kLine;
    e.pointNumbers = {a, b, 0};
    e.conductor = 1;
    e.gridCount = 10;
  };
  add(p(0, 0), p(2, 0));
  add(p(2, 0), p(4, 0));
  add(p(4, 0), p(4, 2));
  circle(1.0, 1, 10);
  ASSERT_EQ(build(), "no stop");
  const auto spacing = [&](int e, int i) {
    const auto& t = model.elements[static_cast<std::size_t>(e)].nodeT;
    return t[static_cast<std::size_t>(i + 1)] - t[static_cast<std::size_t>(i)];
  };
  for (int e : {0, 1, 2, 3}) EXPECT_EQ(count(e), 10) << e;
  // Element 0: no corner at either end (its start is free, its end runs straight on).
  EXPECT_NEAR(spacing(0, 1), 0.2, 1e-12);
  EXPECT_NEAR(spacing(0, 9), 0.2, 1e-12);
  // Element 1: a corner at its end only; element 2: at its start only.
  EXPECT_NEAR(spacing(1, 1), spacing(1, 5), 0.2 * 0.5);  // coarse, nearly even at the start
  EXPECT_LT(spacing(1, 9), 0.5 * spacing(1, 1));
  EXPECT_LT(spacing(2, 1), 0.5 * spacing(2, 9));
  EXPECT_NEAR(spacing(3, 1), 0.2, 1e-12);  // the circle
  // The report of the echo says so; an even grid says nothing.
  EXPECT_EQ(model.gradedGrids, true);
}

TEST_F(Grids, AutomaticGridsMeetAnotherConductorsCornersInsideAnElement) {
  // A strip 2 wide 0.05 above a ground 10 wide whose top is one element: the strip's edges
  // shape the ground's current over about the gap, at x = -1 and 1, in its middle.
  std::istringstream text(
      "grid graded\nlambda 0.05\nrect -5 5 -0.2 0 0 0\nrect -1 1 0.05 0.25 1 0\n");
  readInputText(model, text, "text", false);
  RunIo io{console, log};
  setUpModel(model, io);
  model.gradedGrids = true;
  chooseAutomaticGrids(model);
  std::vector<std::int32_t> counts;
  std::size_t top = 0;
  for (std::size_t e = 0; e < static_cast<std::size_t>(model.elementCount); ++e) {
    const BoundaryElement& element = model.elements[e];
    counts.push_back(element.gridCount);
    const BasicPoint& start = model.points[static_cast<std::size_t>(element.pointNumbers[0])];
    if (std::fabs(element.length - 10.0) < 1e-9 && start.y == 0.0) top = e;
  }
  placeGrids(model, counts);
  const BoundaryElement& ground = model.elements[top];
  ASSERT_EQ(ground.innerLayers.size(), 2u);
  // Next to the edges the nodes lie about half the gap apart, three times closer than
  // at x = -3.
  for (double edge : {-1.0, 1.0}) {
    double nearEdge = 0.0;
    double away = 1e300;
    for (std::int32_t i = 1; i < ground.gridCount; ++i) {
      const double x = 0.5 * (ground.nodeX[i] + ground.nodeX[i + 1]);
      const double h = std::fabs(ground.nodeX[i + 1] - ground.nodeX[i]);
      if (std::fabs(x - edge) < 0.05) nearEdge = std::max(nearEdge, h);
      if (std::fabs(x + 3.0) < 0.5) away = std::min(away, h);
    }
    EXPECT_GT(nearEdge, 0.0) << edge;
    EXPECT_LT(nearEdge, 0.03) << edge;
    EXPECT_GT(away, 3.0 * nearEdge) << edge;
  }
}

TEST_F(Grids, DegenerateAhNeverReachesTheConversion) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::pair<double, int> cases[] = {{0.0, 500}, {-0.0, 3}, {1e-300, 500}, {-1e-300, 3},
                                          {-2.0, 3},  {inf, 3},  {1e-3, 500},   {4.0 / 498.5, 499}};
  for (const auto& [ah, expected] : cases) {
    setDefaults(model);
    model.patches[0].lambda = 0.1;
    model.ah = ah;
    line(4.0);
    ASSERT_EQ(build(), "no stop") << ah;
    EXPECT_EQ(count(0), expected) << ah;
  }
  setDefaults(model);
  model.patches[0].lambda = 0.1;
  model.ah = std::numeric_limits<double>::quiet_NaN();
  line(4.0);
  EXPECT_EQ(build(), "\nElement 0 gets no grid count from length 4 and ah=nan;\n");
}

TEST_F(Grids, NodeParametersAndCoordinates) {
  line(8.0, 1, 4);
  circle(2.0, 1, 4);
  ASSERT_EQ(build(), "no stop");
  const BoundaryElement& l = model.elements[0];
  const BoundaryElement& c = model.elements[1];
  const double lineT[] = {-0.75, -0.25, 0.25, 0.75};
  const double lineX[] = {1, 3, 5, 7};
  const double circleT[] = {-0.5, 0.0, 0.5, 1.0};
  const double circleX[] = {50, 52, 50, 48};
  const double circleY[] = {48, 50, 52, 50};  // counter-clockwise from the left end
  for (int i = 1; i <= 4; ++i) {
    EXPECT_DOUBLE_EQ(l.nodeT[i], lineT[i - 1]) << i;
    EXPECT_DOUBLE_EQ(l.nodeX[i], lineX[i - 1]) << i;
    EXPECT_DOUBLE_EQ(l.nodeY[i], 0.0) << i;
    EXPECT_DOUBLE_EQ(c.nodeT[i], circleT[i - 1]) << i;
    EXPECT_NEAR(c.nodeX[i], circleX[i - 1], 1e-9) << i;
    EXPECT_NEAR(c.nodeY[i], circleY[i - 1], 1e-9) << i;
  }
}

TEST_F(Grids, UnknownNumberingOfTwoElements) {
  line(1.0, 1, 3);
  line(1.0, 1, 12);
  ASSERT_EQ(build(), "no stop");
  EXPECT_EQ(model.nd0, 30);
  EXPECT_EQ(model.nd, 31);
  const Unknowns u(model);
  EXPECT_EQ(u.nd0(), 30);
  EXPECT_EQ(u.nd(), 31);
  EXPECT_EQ(u.nodeFirst(0, 1), 1);
  EXPECT_EQ(u.nodeSecond(0, 3), 6);
  EXPECT_EQ(u.nodeFirst(1, 1), 7);
  EXPECT_EQ(u.nodeSecond(1, 1), 8);
  EXPECT_EQ(u.nodeSecond(1, 12), 30);
  EXPECT_FALSE(u.hasReturnConductor());
  EXPECT_EQ(u.conductor(1), 31);
}

TEST_F(Grids, UnknownNumberingWithAReturnConductor) {
  line(1.0, 1, 3);
  line(1.0, 0, 12);
  ASSERT_EQ(build(), "no stop");
  EXPECT_EQ(model.conductorCount, 1);
  EXPECT_EQ(model.nd0, 30);
  EXPECT_EQ(model.nd, 32);
  const Unknowns u(model);
  EXPECT_TRUE(u.hasReturnConductor());
  EXPECT_EQ(u.conductor(0), 31);
  EXPECT_EQ(u.conductor(1), 32);
}

TEST_F(Grids, AllOnTheReturnConductorStillNumberConductorOne) {
  line(1.0, 0, 5);
  ASSERT_EQ(build(), "no stop");
  EXPECT_EQ(model.nd, 12);
  EXPECT_EQ(Unknowns(model).conductor(1), model.nd);
}

TEST_F(Grids, WorkArraysAreZeroWithTheirShapesAndAreReleased) {
  line(1.0, 1, 3);
  line(1.0, 2, 12);
  ASSERT_EQ(build(), "no stop");
  ASSERT_EQ(model.nd, 32);
  WorkArrays work = allocateWorkArrays(model);
  EXPECT_EQ(work.A.rows(), 32);
  EXPECT_EQ(work.A.cols(), 32);
  EXPECT_EQ(work.b.rows(), 32);
  EXPECT_EQ(work.b.cols(), 2);
  EXPECT_EQ(work.pivots.size(), 32u);
  for (int j = 1; j <= 32; ++j) {
    for (int i = 1; i <= 32; ++i) ASSERT_EQ(work.A(i, j), Complex(0.0, 0.0)) << i << "," << j;
  }
  for (int c = 1; c <= 2; ++c) {
    for (int i = 1; i <= 32; ++i) ASSERT_EQ(work.b(i, c), Complex(0.0, 0.0));
  }

  releaseWorkArrays(model, work);
  EXPECT_TRUE(work.A.empty());
  EXPECT_TRUE(work.b.empty());
  EXPECT_TRUE(work.pivots.empty());
  for (const BoundaryElement& e : model.elements) {
    EXPECT_TRUE(e.nodeT.empty() && e.nodeX.empty() && e.nodeY.empty());
  }
  for (const Conductor& c : model.conductors) EXPECT_TRUE(c.memb.empty());
}

TEST_F(Grids, WorkArraysThatCannotBeHadStopTheRun) {
  model.nd = std::numeric_limits<std::int32_t>::max();
  model.conductorCount = 5;
  try {
    allocateWorkArrays(model);
    FAIL() << "no stop";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nmain arrays are not allocated\n");
  }
}

}  // namespace
}  // namespace qbr
