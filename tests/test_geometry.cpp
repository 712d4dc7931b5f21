#include <gtest/gtest.h>

#include <cmath>

#include "model/geometry.hpp"
#include "base/fatal_stop.hpp"
#include "model/problem_model.hpp"

namespace qbr {
namespace {

struct Shape {
  PointTable points{};
  BoundaryElement element;
};

Shape line(Vec2 a, Vec2 b) {
  Shape s;
  s.points[0] = {a.x, a.y};
  s.points[1] = {b.x, b.y};
  s.element.kind = kLine;
  s.element.pointNumbers = {0, 1, 0};
  return s;
}

Shape curve(Vec2 a, Vec2 m, Vec2 b) {
  Shape s;
  s.points[0] = {a.x, a.y};
  s.points[1] = {m.x, m.y};
  s.points[2] = {b.x, b.y};
  s.element.kind = kCurve;
  s.element.pointNumbers = {0, 1, 2};
  return s;
}

Shape circle(Vec2 centre, double radius, bool dir) {
  Shape s;
  s.points[4] = {centre.x, centre.y};
  s.element.kind = kCircle;
  // Only the centre is read; the other numbers must not matter.
  s.element.pointNumbers = {4, -1, 999};
  s.element.R = radius;
  s.element.dir = dir;
  return s;
}

ElementGeometry measured(Shape& s) {
  computeLength(s.element, s.points);
  return s.element.geometry(s.points);
}

std::string stopMessage(Shape& s) {
  try {
    computeLength(s.element, s.points);
  } catch (const FatalError& error) {
    return error.message();
  }
  return "no stop";
}

TEST(Geometry, ParabolaArcLengthIsClosedForm) {
  Shape s = curve({0, 0}, {1, 1}, {2, 0});
  const ElementGeometry g = measured(s);
  const double expected = std::sqrt(5.0) + std::log(2.0 + std::sqrt(5.0)) / 2.0;
  EXPECT_NEAR(s.element.length, expected, 1e-12);
  EXPECT_NEAR(g.arcLengthTo(0.0), expected / 2.0, 1e-12);
  EXPECT_NEAR(g.arcLengthTo(-1.0), 0.0, 1e-15);
  EXPECT_DOUBLE_EQ(g.arcLengthTo(1.0), s.element.length);
  // y = x (2 - x): the apex is the point at mid-parameter, with the tangent along x.
  const Vec2 apex = g.pointAt(0.0);
  EXPECT_DOUBLE_EQ(apex.x, 1.0);
  EXPECT_DOUBLE_EQ(apex.y, 1.0);
  const Vec2 n = g.normalAt(0.0);
  EXPECT_NEAR(n.x, 0.0, 1e-15);
  EXPECT_NEAR(n.y, 1.0, 1e-15);
  const Box box = g.boundingBox();
  EXPECT_EQ(box.xmin, 0.0);
  EXPECT_EQ(box.xmax, 2.0);
  EXPECT_EQ(box.ymin, 0.0);
  EXPECT_EQ(box.ymax, 1.0);
}

TEST(Geometry, CurveWithMidpointInTheMiddleBehavesLikeALine) {
  Shape c = curve({1, 2}, {2.5, 4}, {4, 6});
  Shape l = line({1, 2}, {4, 6});
  const ElementGeometry gc = measured(c);
  const ElementGeometry gl = measured(l);
  EXPECT_NEAR(c.element.length, 5.0, 1e-14);
  EXPECT_DOUBLE_EQ(l.element.length, 5.0);
  for (double t : {-1.0, -0.6, 0.0, 0.3, 1.0}) {
    EXPECT_NEAR(gc.pointAt(t).x, gl.pointAt(t).x, 1e-14) << t;
    EXPECT_NEAR(gc.pointAt(t).y, gl.pointAt(t).y, 1e-14) << t;
    EXPECT_NEAR(gc.jacobianAt(t), 2.5, 1e-14) << t;
    EXPECT_NEAR(gc.normalAt(t).x, gl.normalAt(t).x, 1e-14) << t;
    EXPECT_NEAR(gc.normalAt(t).y, gl.normalAt(t).y, 1e-14) << t;
    EXPECT_NEAR(gc.arcLengthTo(t), gl.arcLengthTo(t), 1e-14) << t;
  }
  // Left of the direction of travel.
  EXPECT_DOUBLE_EQ(gl.normalAt(0.0).x, -0.8);
  EXPECT_DOUBLE_EQ(gl.normalAt(0.0).y, 0.6);
  EXPECT_TRUE(gl.hasEndPoints());
  EXPECT_TRUE(gc.hasEndPoints());
}

TEST(Geometry, CirclePointsAndNormalsInBothDirections) {
  Shape ccw = circle({1, 2}, 3, true);
  const ElementGeometry g = measured(ccw);
  EXPECT_NEAR(g.pointAt(-0.5).x, 1.0, 1e-9);
  EXPECT_NEAR(g.pointAt(-0.5).y, -1.0, 1e-9);
  EXPECT_NEAR(g.normalAt(-0.5).x, 0.0, 1e-9);
  EXPECT_NEAR(g.normalAt(-0.5).y, 1.0, 1e-9);  // towards the centre
  EXPECT_NEAR(g.pointAt(0.0).x, 4.0, 1e-12);
  EXPECT_NEAR(g.pointAt(0.0).y, 2.0, 1e-12);

  Shape cw = circle({1, 2}, 3, false);
  const ElementGeometry h = measured(cw);
  EXPECT_NEAR(h.pointAt(-0.5).x, 1.0, 1e-9);
  EXPECT_NEAR(h.pointAt(-0.5).y, 5.0, 1e-9);
  EXPECT_NEAR(h.normalAt(-0.5).x, 0.0, 1e-9);
  EXPECT_NEAR(h.normalAt(-0.5).y, 1.0, 1e-9);  // away from the centre

  for (const ElementGeometry* e : {&g, &h}) {
    EXPECT_FALSE(e->hasEndPoints());
    EXPECT_NEAR(e->pointAt(-1.0).x, -2.0, 1e-12);
    EXPECT_NEAR(e->pointAt(1.0).x, -2.0, 1e-12);
    EXPECT_NEAR(e->pointAt(-1.0).y, e->pointAt(1.0).y, 1e-9);
    const Box box = e->boundingBox();
    EXPECT_EQ(box.xmin, -2.0);
    EXPECT_EQ(box.xmax, 4.0);
    EXPECT_EQ(box.ymin, -1.0);
    EXPECT_EQ(box.ymax, 5.0);
    // The normal is the travel direction turned left.
    for (double t : {-0.9, -0.2, 0.4, 0.8}) {
      const double dt = 1e-6;
      const Vec2 a = e->pointAt(t - dt);
      const Vec2 b = e->pointAt(t + dt);
      const double tx = b.x - a.x;
      const double ty = b.y - a.y;
      const double norm = std::hypot(tx, ty);
      EXPECT_NEAR(e->normalAt(t).x, -ty / norm, 1e-8);
      EXPECT_NEAR(e->normalAt(t).y, tx / norm, 1e-8);
    }
  }
}

TEST(Geometry, CircleLengthUsesTheTenDecimalPi) {
  Shape s = circle({0, 0}, 1.0, true);
  const ElementGeometry g = measured(s);
  EXPECT_EQ(s.element.length, 6.2831853072);
  EXPECT_NE(s.element.length, 2.0 * M_PI);
  EXPECT_EQ(g.jacobianAt(0.3), 3.1415926536);
  EXPECT_EQ(g.arcLengthTo(1.0), s.element.length);
}

// ds/dt must be |dr/dt| everywhere: the fill integrates over t with this Jacobian.
TEST(Geometry, ArcLengthDerivativeIsTheJacobianForEveryKind) {
  std::vector<Shape> shapes = {line({0.5, -1}, {3, 2}), circle({2, 1}, 0.7, true),
                               circle({2, 1}, 0.7, false), curve({0, 0}, {1, 1}, {2, 0}),
                               curve({0, 0}, {3, 0.5}, {1, 2}),
                               // A tight curve whose derivative turns against a.
                               curve({0, 0}, {2, 0}, {1, 0.1})};
  for (Shape& s : shapes) {
    const ElementGeometry g = measured(s);
    for (double t = -0.95; t < 1.0; t += 0.1) {
      const double h = 1e-5;
      const double derivative = (g.arcLengthTo(t + h) - g.arcLengthTo(t - h)) / (2.0 * h);
      EXPECT_NEAR(derivative, g.jacobianAt(t), 1e-7 * (1.0 + g.jacobianAt(t)))
          << "kind " << s.element.kind << " t " << t;
    }
    EXPECT_NEAR(g.arcLengthTo(-1.0), 0.0, 1e-12);
    EXPECT_DOUBLE_EQ(g.arcLengthTo(1.0), s.element.length);
  }
}

TEST(Geometry, DegenerateElementsStopTheRun) {
  const std::string message = "\nZero length element detected!\n";
  Shape coincident = line({1, 1}, {1, 1});
  EXPECT_EQ(stopMessage(coincident), message);
  Shape nearly = line({1, 1}, {1 + 5e-8, 1});
  EXPECT_EQ(stopMessage(nearly), message);
  Shape point = curve({2, 3}, {2, 3}, {2, 3});
  EXPECT_EQ(stopMessage(point), message);
  Shape zeroRadius = circle({0, 0}, 0.0, true);
  EXPECT_EQ(stopMessage(zeroRadius), message);
  Shape negativeRadius = circle({0, 0}, -1.0, true);
  EXPECT_EQ(stopMessage(negativeRadius), message);
  Shape notANumber = line({0, 0}, {NAN, 0});
  EXPECT_EQ(stopMessage(notANumber), message);
  Shape fine = line({0, 0}, {2e-7, 0});
  EXPECT_EQ(stopMessage(fine), "no stop");
}

// Where the quadratic term is dropped, the linear |r'|^2 can dip below zero although
// the curve is a proper one; its length must stay a number.
TEST(Geometry, NearlyStraightShortCurveHasAFiniteLength) {
  // a = (3e-4, 0), b = (-4e-4, 0): aa <= 1e-7, |ab| > 1e-7 and bb + 2ab < 0.
  Shape s = curve({0, 0}, {-5.5e-4, 0}, {-8e-4, 0});
  EXPECT_EQ(stopMessage(s), "no stop");
  EXPECT_TRUE(std::isfinite(s.element.length));
  EXPECT_GT(s.element.length, 6e-4);
  EXPECT_LE(s.element.length, 8e-4 + 1e-12);
}

// Middle point at three quarters: a straight run whose speed vanishes at the end, where
// |r'|^2 evaluates to about -1e-15 with these coordinates.
TEST(Geometry, CurveStoppingAtItsEndHasItsChordLength) {
  Shape s = curve({0, 0}, {-1.125, 3.915}, {-1.5, 5.22});
  EXPECT_EQ(stopMessage(s), "no stop");
  EXPECT_NEAR(s.element.length, std::hypot(1.5, 5.22), 1e-12);
  const ElementGeometry g = s.element.geometry(s.points);
  EXPECT_NEAR(g.arcLengthTo(0.0), 0.75 * std::hypot(1.5, 5.22), 1e-12);
}

TEST(Geometry, PointNumbersOutsideTheTableStopTheRun) {
  Shape s = line({0, 0}, {1, 0});
  const std::string table = " is outside 0 to " + std::to_string(kMaxPoints - 1) + ";\n";
  s.element.pointNumbers[1] = kMaxPoints;
  EXPECT_EQ(stopMessage(s), "\nElement point number " + std::to_string(kMaxPoints) + table);
  s.element.pointNumbers[1] = -3;
  EXPECT_EQ(stopMessage(s), "\nElement point number -3" + table);
  // An undefined slot inside the table is read as it stands.
  s.element.pointNumbers[1] = 57;
  s.points[57] = {0, 4};
  EXPECT_EQ(stopMessage(s), "no stop");
  EXPECT_DOUBLE_EQ(s.element.length, 4.0);
}

}  // namespace
}  // namespace qbr
