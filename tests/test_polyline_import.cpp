#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "base/fatal_stop.hpp"
#include "model/input_reader.hpp"
#include "model/polyline_import.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::TempDir;
using Edge = std::pair<std::pair<double, double>, std::pair<double, double>>;

std::string polyline(int elevation, const std::string& vertices) {
  return "$POLYLINE\nlayer\n" + std::to_string(elevation) + "\n" + vertices;
}

class PolylineImportTest : public ::testing::Test {
 protected:
  void SetUp() override { setDefaults(model); }
  // Writes `body` after a header line as a polyline file and imports it.
  void import(const std::string& body) {
    importPolylineFile(model, dir.write("shapes.dxc", "header\n" + body).string());
  }
  std::string stop(const std::string& body) {
    try {
      import(body);
    } catch (const FatalError& error) {
      return error.message();
    }
    ADD_FAILURE() << "no fatal stop for:\n" << body;
    return {};
  }
  std::set<Edge> edges() const {
    std::set<Edge> result;
    for (int e = 0; e < model.elementCount; ++e) {
      const BasicPoint& a = model.points[model.elements[e].pointNumbers[0]];
      const BasicPoint& b = model.points[model.elements[e].pointNumbers[1]];
      result.insert({{a.x, a.y}, {b.x, b.y}});
    }
    return result;
  }

  TempDir dir;
  ProblemModel model;
};

const std::set<Edge> kCounterClockwiseSquare = {
    {{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 1}}, {{0, 1}, {0, 0}}};

TEST_F(PolylineImportTest, BothSensesAndBothClosingFormsGiveTheSameLoop) {
  const std::string forms[] = {
      "0 0\n1 0\n1 1\n0 1\n",       // counter-clockwise, open
      "0 0\n1 0\n1 1\n0 1\n0 0\n",  // counter-clockwise, first vertex repeated
      "0 0\n0 1\n1 1\n1 0\n",       // clockwise, open
      "0 0\n0 1\n1 1\n1 0\n0 0\n",  // clockwise, first vertex repeated
  };
  for (const std::string& vertices : forms) {
    setDefaults(model);
    import(polyline(0, vertices) + "$EOF\n");
    EXPECT_EQ(model.elementCount, 4) << vertices;
    EXPECT_EQ(model.pointCount, 4);
    EXPECT_EQ(edges(), kCounterClockwiseSquare) << vertices;
    for (int e = 0; e < model.elementCount; ++e) {
      EXPECT_EQ(model.elements[e].kind, kLine);
      EXPECT_EQ(model.elements[e].gridCount, 0);
    }
  }
  // The table keeps the file order of the edges: the clockwise file's first edge is
  // its (0,0)-(0,1) side, turned round.
  EXPECT_EQ(model.elements[0].pointNumbers[0], 1);
  EXPECT_EQ(model.elements[0].pointNumbers[1], 0);
}

TEST_F(PolylineImportTest, FileStructure) {
  import(
      "0 0\n5 5\n"  // before the first marker: ignored
      "$POLYLINEX\nanything\n1\n0 0\n\n2 0\r\n  2 2 trailing\n0 2" +
      std::string(300, ' ') + "\n" + polyline(2, "5 5\n6 5\n5 6\n") + "$EOF\n" +
      polyline(3, "7 7\n8 7\n7 8\n"));
  EXPECT_EQ(model.elementCount, 7);  // the square and the triangle
  EXPECT_EQ(model.pointCount, 7);    // the polyline after $EOF is never read
  // The square: a blank line skipped, CR dropped, trailing text ignored, long line read.
  EXPECT_EQ(model.points[2].x, 2.0);
  EXPECT_EQ(model.points[2].y, 2.0);
  EXPECT_EQ(model.points[3].x, 0.0);
  EXPECT_EQ(model.points[3].y, 2.0);
}

TEST_F(PolylineImportTest, MissingEndLineCompletesNothing) {
  import(polyline(0, "0 0\n1 0\n1 1\n"));
  EXPECT_EQ(model.elementCount, 0);
  EXPECT_EQ(model.pointCount, 3);
  import(polyline(0, "0 0\n1 0\n1 1\n") + polyline(0, "0 0\n"));
  EXPECT_EQ(model.elementCount, 3);  // the first one, completed by the second marker
}

TEST_F(PolylineImportTest, VerticesReuseExistingPoints) {
  findOrAddPoint(model, 9, 9);
  findOrAddPoint(model, 1, 0);
  import(polyline(0, "0 0\n1.00000005 0\n0 1\n") + "$EOF\n");
  EXPECT_EQ(model.pointCount, 4);
  EXPECT_EQ(model.elements[0].pointNumbers[1], 1);
}

TEST_F(PolylineImportTest, FatalStops) {
  const std::string name = (dir / "shapes.dxc").string();
  EXPECT_EQ(stop(polyline(10, "0 0\n") + "$EOF\n"), "\nToo large elevation number;\n");
  EXPECT_EQ(stop(polyline(0, "0 0\n1 1\n2 2\n") + "$EOF\n"), "\nPolyline has zero square!\n");
  EXPECT_EQ(stop(polyline(0, "0 0\n1 1\n") + "$EOF\n"), "\nPolyline has zero square!\n");
  EXPECT_EQ(stop(polyline(0, "") + "$EOF\n"), "\nPolyline has zero square!\n");
  EXPECT_EQ(stop(polyline(-1, "")),
            "\nLine 4 of the polyline file " + name + ": the elevation number is negative: -1\n");
  EXPECT_EQ(
      stop(polyline(0, "0 0\n1 x\n")),
      "\nLine 6 of the polyline file " + name + ": the vertex y coordinate is not a number: 1 x\n");
  EXPECT_EQ(stop("$POLYLINE\nlayer\n\n"),
            "\nLine 4 of the polyline file " + name +
                ": the elevation number is missing or not an integer: \n");
  EXPECT_EQ(stop("$POLYLINE\nlayer\n99999999999\n"),
            "\nLine 4 of the polyline file " + name +
                ": the elevation number is out of range: 99999999999\n");
  EXPECT_EQ(stop(polyline(0, "1.5\n")), "\nLine 5 of the polyline file " + name +
                                            ": the vertex y coordinate is missing: 1.5\n");
  EXPECT_EQ(stop(polyline(0, "a 1\n")), "\nLine 5 of the polyline file " + name +
                                            ": the vertex x coordinate is not a number: a 1\n");

  setDefaults(model);
  std::string many;
  for (int i = 0; i <= 100; ++i) many += std::to_string(i) + " " + std::to_string(i % 2) + "\n";
  EXPECT_EQ(stop(polyline(0, many)), "\nLine 105 of the polyline file " + name +
                                         ": a polyline has more than 100 vertices: 100 0\n");

  setDefaults(model);
  model.elementCount = kMaxElements - 3;
  EXPECT_EQ(stop(polyline(0, "0 0\n1 0\n1 1\n0 1\n") + "$EOF\n"),
            "Too many boundary elements from polylines, STOP");
  EXPECT_EQ(model.elementCount, kMaxElements);

  try {
    importPolylineFile(model, (dir / "none.dxc").string());
    FAIL();
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nCan not open DXC file\n");
  }
}

TEST_F(PolylineImportTest, LayersComeFromPlLinesOfTheInputFile) {
  dir.write("shapes.dxc", "h\n" + polyline(3, "0 0\n2 0\n2 2\n0 2\n") +
                              polyline(4, "0 0\n-1 0\n0 -1\n") + "$EOF\n");
  const std::string dxc = (dir / "shapes.dxc").string();
  const std::string input = "rect 2 3 0 1 1\npl 3 2 5\nDXC " + dxc + "\npl 4 1 1\nline 0 0 1\n";
  readInputFile(model, dir.write("in.txt", input).string());
  ASSERT_EQ(model.elementCount, 12);  // 4 + 4 + 3 + the line after the "dxc" line
  EXPECT_EQ(model.elements[4].conductor, 2);
  EXPECT_EQ(model.elements[4].patch, 5);
  EXPECT_EQ(model.elements[4].pointNumbers[0], 4);  // (0, 0)
  EXPECT_EQ(model.elements[4].pointNumbers[1], 0);  // shares the rectangle's corner (2, 0)
  EXPECT_EQ(model.elements[8].conductor, 0);        // layer 4 was set too late
  EXPECT_EQ(model.elements[8].patch, 0);
  EXPECT_EQ(model.elements[11].kind, kLine);

  setDefaults(model);
  try {
    readInputFile(model, dir.write("in2.txt", "dxc " + dxc + "x\n").string());
    FAIL();
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nCan not open DXC file\n");
  }
}

}  // namespace
}  // namespace qbr
