#include <gtest/gtest.h>

#include <utility>

#include "base/fatal_stop.hpp"
#include "model/input_reader.hpp"
#include "model/rectangle.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using Segment = std::pair<std::pair<double, double>, std::pair<double, double>>;

Segment segment(const ProblemModel& model, int e) {
  const BasicPoint& a = model.points[model.elements[e].pointNumbers[0]];
  const BasicPoint& b = model.points[model.elements[e].pointNumbers[1]];
  return {{a.x, a.y}, {b.x, b.y}};
}

TEST(Rectangle, FourSidesInOrderWithSharedCorners) {
  ProblemModel model;
  setDefaults(model);
  addRectangle(model, Rectangle{0, 2, 0, 1});
  ASSERT_EQ(model.elementCount, 4);
  ASSERT_EQ(model.pointCount, 4);
  EXPECT_EQ(segment(model, 0), Segment({0, 0}, {2, 0}));
  EXPECT_EQ(segment(model, 1), Segment({2, 0}, {2, 1}));
  EXPECT_EQ(segment(model, 2), Segment({2, 1}, {0, 1}));
  EXPECT_EQ(segment(model, 3), Segment({0, 1}, {0, 0}));
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(model.elements[e].kind, kLine);
    EXPECT_EQ(model.elements[e].pointNumbers[0], e);  // corners numbered in loop order
    EXPECT_EQ(model.elements[e].pointNumbers[1], (e + 1) % 4);
    EXPECT_EQ(model.elements[e].patch, 0);
    EXPECT_EQ(model.elements[e].conductor, 0);
    EXPECT_EQ(model.elements[e].gridCount, 0);
  }

  // A second rectangle touching the first at (2, 1) shares that corner.
  addRectangle(model, Rectangle{2, 3, 1, 2, 1, 4, 10, 4});
  EXPECT_EQ(model.elementCount, 8);
  EXPECT_EQ(model.pointCount, 7);
  EXPECT_EQ(model.elements[4].pointNumbers[0], 2);
  const int grids[] = {10, 4, 10, 4};
  for (int e = 4; e < 8; ++e) {
    EXPECT_EQ(model.elements[e].gridCount, grids[e - 4]);
    EXPECT_EQ(model.elements[e].conductor, 1);
    EXPECT_EQ(model.elements[e].patch, 4);
  }
}

TEST(Rectangle, SwappedCoordinatesReverseTheLoop) {
  ProblemModel model;
  setDefaults(model);
  addRectangle(model, Rectangle{2, 0, 0, 1});
  EXPECT_EQ(segment(model, 0), Segment({2, 0}, {0, 0}));
  EXPECT_EQ(segment(model, 1), Segment({0, 0}, {0, 1}));
}

TEST(Rectangle, SidesThatFitAreKeptBeforeTheStop) {
  for (int before = kMaxElements - 4; before <= kMaxElements; ++before) {
    ProblemModel model;
    setDefaults(model);
    model.elementCount = before;
    try {
      addRectangle(model, Rectangle{0, 1, 0, 1});
      EXPECT_EQ(before, kMaxElements - 4);
    } catch (const FatalError& error) {
      EXPECT_GT(before, kMaxElements - 4);
      EXPECT_EQ(error.message(), "\nToo many boundary elements generated from rectangles\n");
    }
    EXPECT_EQ(model.elementCount, std::min(before + 4, kMaxElements));
    // The sides that fit are the first ones of the loop; side i starts at corner i.
    for (int e = before; e < model.elementCount; ++e) {
      EXPECT_EQ(model.elements[e].pointNumbers[0], e - before);
    }
  }
}

TEST(Rectangle, NewCornerBeyondThePointTable) {
  ProblemModel model;
  setDefaults(model);
  for (int i = 0; i < kMaxPoints - 2; ++i) findOrAddPoint(model, i, 10);
  try {
    addRectangle(model, Rectangle{0, 1, 0, 1});
    FAIL();
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nToo many points!\n");
  }
  EXPECT_EQ(model.elementCount, 1);  // the first side had both its corners
}

TEST(Rectangle, ReadFromRectLines) {
  testing::TempDir dir;
  ProblemModel model;
  setDefaults(model);
  readInputFile(model,
                dir.write("in.txt", "RECT -1, 1, 0.2, 0.4\nrect 0 1 0 1 2 3 100 10\n").string());
  ASSERT_EQ(model.elementCount, 8);
  EXPECT_EQ(segment(model, 0), Segment({-1, 0.2}, {1, 0.2}));
  EXPECT_EQ(model.elements[0].gridCount, 0);
  EXPECT_EQ(model.elements[4].conductor, 2);
  EXPECT_EQ(model.elements[4].patch, 3);
  EXPECT_EQ(model.elements[4].gridCount, 100);
  EXPECT_EQ(model.elements[5].gridCount, 10);
}

}  // namespace
}  // namespace qbr
