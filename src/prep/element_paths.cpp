#include "prep/element_paths.hpp"

#include <cmath>

namespace qbr {

double norm(Vec2 v) { return std::hypot(v.x, v.y); }

namespace {

Vec2 pointOf(const PointTable& points, std::int32_t n) {
  // Point numbers were checked when the element's geometry was first formed.
  const BasicPoint& p = points[static_cast<std::size_t>(n)];
  return {p.x, p.y};
}

}  // namespace

QuadraticPath quadraticPathOf(const BoundaryElement& element, const PointTable& points) {
  const Vec2 p0 = pointOf(points, element.pointNumbers[0]);
  const Vec2 p1 = pointOf(points, element.pointNumbers[1]);
  if (element.kind == kLine) return {0.5 * (p0 + p1), 0.5 * (p1 - p0), {}};
  // The parabola through p0 (t = -1), p1 (t = 0) and p2 (t = 1).
  const Vec2 p2 = pointOf(points, element.pointNumbers[2]);
  return {p1, 0.5 * (p2 - p0), 0.5 * (p0 + p2) - p1};
}

CirclePath circlePathOf(const BoundaryElement& element, const PointTable& points) {
  return {pointOf(points, element.pointNumbers[0]), element.R};
}

std::int32_t startPoint(const BoundaryElement& element) { return element.pointNumbers[0]; }

std::int32_t endPoint(const BoundaryElement& element) {
  return element.pointNumbers[element.kind == kCurve ? 2 : 1];
}

int quadraticRootsInside(double a, double b, double c, double roots[2]) {
  int count = 0;
  const auto keep = [&](double t) {
    if (t > -1.0 && t < 1.0) roots[count++] = t;
  };
  if (a == 0.0) {
    if (b != 0.0) keep(-c / b);
    return count;
  }
  const double discriminant = b * b - 4.0 * a * c;
  if (discriminant < 0.0) return 0;
  const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
  if (q == 0.0) return 0;  // b = c = 0: a double root at 0 that crosses nothing
  keep(q / a);
  keep(c / q);
  return count;
}

}  // namespace qbr
