#pragma once

#include "model/geometry.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// Small vector arithmetic for the geometric checks.
inline Vec2 operator+(Vec2 u, Vec2 v) { return {u.x + v.x, u.y + v.y}; }
inline Vec2 operator-(Vec2 u, Vec2 v) { return {u.x - v.x, u.y - v.y}; }
inline Vec2 operator*(double f, Vec2 v) { return {f * v.x, f * v.y}; }
inline double dot(Vec2 u, Vec2 v) { return u.x * v.x + u.y * v.y; }
inline double cross(Vec2 u, Vec2 v) { return u.x * v.y - u.y * v.x; }
double norm(Vec2 v);

// A line or a curve as a polynomial in its parameter t in [-1, 1]:
// p(t) = c + b t + a t^2, with a = 0 for a line. Same points as ElementGeometry::pointAt
// up to rounding; the polynomial form is what the root bracketing needs.
struct QuadraticPath {
  Vec2 c, b, a;

  Vec2 at(double t) const { return c + t * (b + t * a); }
  Vec2 derivativeAt(double t) const { return b + (2.0 * t) * a; }
  // The same path measured from its own end point at parameter `end` (-1 or +1):
  // p(t) - p(end), formed from b and a alone, so that it carries no rounding of the
  // absolute coordinates.
  QuadraticPath fromEnd(double end) const { return {-1.0 * (end * b + a), b, a}; }
};

struct CirclePath {
  Vec2 centre;
  double radius = 0.0;
};

QuadraticPath quadraticPathOf(const BoundaryElement& element, const PointTable& points);
CirclePath circlePathOf(const BoundaryElement& element, const PointTable& points);

// Parameters of an element's first and last point, and their point numbers (lines and
// curves only).
std::int32_t startPoint(const BoundaryElement& element);
std::int32_t endPoint(const BoundaryElement& element);

// Roots of a t^2 + b t + c = 0 in the open interval (-1, 1), computed without
// cancellation; a double root may come out as two close roots or none. Returns how
// many were written to `roots`.
int quadraticRootsInside(double a, double b, double c, double roots[2]);

}  // namespace qbr
