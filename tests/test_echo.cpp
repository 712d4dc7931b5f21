#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "base/fatal_stop.hpp"
#include "model/problem_model.hpp"
#include "prep/echo.hpp"
#include "prep/grids.hpp"
#include "prep/setup.hpp"

namespace qbr {
namespace {

BoundaryElement& addElement(ProblemModel& m, std::int32_t kind, std::array<std::int32_t, 3> points,
                            int conductor, int patch) {
  BoundaryElement& e = m.elements[static_cast<std::size_t>(m.elementCount++)];
  e.kind = kind;
  e.pointNumbers = points;
  e.conductor = conductor;
  e.patch = patch;
  return e;
}

// A line and a curve on conductor 1 (normal metal) and a superconducting return wire.
ProblemModel smallModel() {
  ProblemModel m;
  setDefaults(m);
  m.caption = "Two lines over a ground";
  m.frequency = 1;
  m.frequencyUnit = "ghz";
  m.gridsize = 2;
  m.ah = 0.5;
  m.patchCount = 2;
  m.patches[0].superconducting = false;
  m.patches[0].sigma = 58;
  m.patches[1].lambda = 0.5;
  findOrAddPoint(m, 0, 0);
  findOrAddPoint(m, 1, 0);
  findOrAddPoint(m, 1, 1.5);
  addElement(m, kLine, {0, 1, 0}, 1, 0);
  addElement(m, kCurve, {0, 1, 2}, 1, 0).gridCount = 12;
  BoundaryElement& wire = addElement(m, kCircle, {2, 0, 0}, 0, 1);
  wire.R = 0.25;
  wire.dir = false;
  wire.gridCount = 8;
  return m;
}

TEST(Echo, SmallModelAndItsGridReport) {
  ProblemModel m = smallModel();
  std::ostringstream setUpConsole, setUpLog;
  RunIo setUpIo{setUpConsole, setUpLog};
  setUpModel(m, setUpIo);

  std::ostringstream console, log;
  RunIo io{console, log};
  echoModel(m, io);
  EXPECT_EQ(console.str(), "Two lines over a ground\n");
  EXPECT_EQ(log.str(),
            "Two lines over a ground\n"
            "1 conductors;\n"
            "2 material patches;\n"
            "3 basic points;\n"
            "3 boundary elements;\n"
            "Symmetry: off\n"
            "Frequency: 1e+09 hz\n"
            "Conductivity units: ms/m\n"
            "Length units: um\n"
            "Variables: phases\n"
            "gridsize=2\n"
            "ah=0.5\n"
            "\n"
            "Patch 0: NC   s=5.8e+07S/m  mu=1  k=(0.478513,-0.478513)  wave/h=(13.1306,13.1306)\n"
            "Patch 1: SC   lambda= 0.5  s=0S/m  mu=1  k=(0,2)  wave/h=(0,-6.28319)\n"
            "\n"
            "\nCond[0]:  n_memb=1\n"
            "Cond[0].memb[*]:  2"
            "\nCond[1]:  n_memb=2\n"
            "Cond[1].memb[*]:  0  1"
            "\n"
            "\nPoints (3):\n"
            "0  x=0    y=0\n"
            "1  x=2    y=0\n"
            "2  x=2    y=3\n"
            "\n"
            "\nE[0]: line   n0=0  n1=1  conductor=1   patch=0"
            "\nE[1]: curve  n0=0  n1=1  n2=2  conductor=1   patch=0"
            "\nE[2]: circle, centre in point 2  R=0.5   dir=0  conductor=0   patch=1");

  console.str("");
  log.str("");
  buildGrids(m, io);
  // The line is 2 long with ah 0.5: four nodes; the others have their counts given.
  EXPECT_EQ(log.str(),
            "\n\nnd=50     nd0=48\n\n"
            "element 0  ni=4\n"
            "element 1  ni=12\n"
            "element 2  ni=8\n"
            "\n");
  EXPECT_EQ(console.str(), "Conductors:  1   Number of unknowns:  50   Frequency:  1e+09 hz\n");
}

TEST(Echo, EmptyCaptionEmptyReturnConductorAndCounterClockwiseCircle) {
  ProblemModel m;
  setDefaults(m);
  m.frequency = 50;
  m.frequencyUnit = "hz";
  m.patches[0].lambda = 0.1;
  findOrAddPoint(m, 1, 3);
  addElement(m, kCircle, {0, 0, 0}, 1, 0).R = 2;
  std::ostringstream console, log;
  RunIo io{console, log};
  setUpModel(m, io);
  echoModel(m, io);
  EXPECT_EQ(console.str(), "\n");
  const std::string text = log.str();
  EXPECT_EQ(text.substr(0, 2), "\n1");
  EXPECT_NE(text.find("Frequency: 50 hz\n"), std::string::npos);
  EXPECT_NE(text.find("\nCond[0]:  n_memb=0\nCond[0].memb[*]:\nCond[1]:"), std::string::npos);
  EXPECT_NE(text.find("0  x=1    y=3\n"), std::string::npos);
  EXPECT_NE(text.find("R=2   dir=1  conductor=1"), std::string::npos);

  log.str("");
  buildGrids(m, io);
  EXPECT_EQ(console.str(), "\nConductors:  1   Number of unknowns:  27   Frequency:  50 hz\n");
}

TEST(Echo, UnknownElementKindStopsAfterTheElementsBefore) {
  ProblemModel m;
  setDefaults(m);
  findOrAddPoint(m, 0, 0);
  findOrAddPoint(m, 1, 0);
  addElement(m, kLine, {0, 1, 0}, 1, 0);
  addElement(m, 3, {0, 1, 0}, 1, 0);
  m.conductorCount = 1;
  std::ostringstream console, log;
  RunIo io{console, log};
  try {
    echoModel(m, io);
    FAIL() << "no stop";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nerror form of element\n");
  }
  const std::string tail = "y=0\n\n\nE[0]: line   n0=0  n1=1  conductor=1   patch=0\nE[1]: ";
  const std::string text = log.str();
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
}  // namespace qbr
