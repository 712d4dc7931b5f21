#pragma once

#include "model/problem_model.hpp"

namespace qbr {

struct Vec2 {
  double x = 0.0;
  double y = 0.0;
};

struct Box {
  double xmin = 0.0;
  double xmax = 0.0;
  double ymin = 0.0;
  double ymax = 0.0;
};

// ln x, or 0 when |x| < 1e-7.
double guardedLog(double x);

// The shape of one boundary element over its parameter t in [-1, 1] (start at -1,
// travel towards +1), with the coordinates of its defining points copied in. The
// normal is the tangent turned left by 90 degrees: inward for a boundary run
// counter-clockwise.
class ElementGeometry {
 public:
  ElementGeometry(const BoundaryElement& element, const PointTable& points);

  Vec2 pointAt(double t) const;
  double jacobianAt(double t) const;   // |dr/dt|
  Vec2 normalAt(double t) const;       // unit normal
  double arcLengthTo(double t) const;  // arc length from t = -1 to t
  // A piece of a circle has ends like a line.
  bool hasEndPoints() const { return kind_ == kLine || kind_ == kCurve || windowed_; }
  // The whole shape's box (a piece lies within it).
  Box boundingBox() const;

  // Arc length of the whole element, computed from the points (not the stored length).
  double measureLength() const;

 private:
  Vec2 curveDerivative(double t) const;
  // The shape's parameter at the piece's parameter t.
  double shape(double t) const { return from_ + (t + 1.0) * half_; }
  Vec2 shapePointAt(double t) const;
  double shapeJacobianAt(double t) const;
  Vec2 shapeNormalAt(double t) const;
  double shapeArcLengthTo(double t) const;
  double shapeLength() const;

  bool windowed_ = false;
  double from_ = -1.0;
  double half_ = 1.0;  // half the piece's range of the shape's parameter

  std::int32_t kind_;
  Vec2 p0_, p1_, p2_;  // circle: p0_ is the centre
  double radius_;
  bool dir_;
  double length_;  // the element's stored length: lines use it for the Jacobian and normal
};

// Sets the element's `length`; a length below 1e-7 (or not a number) stops the run.
void computeLength(BoundaryElement& element, const PointTable& points);

// The parameter of the element's point nearest to p: the nearest of 65 points along it,
// refined by a ternary search between that point's neighbours (exact to rounding on lines
// and arcs).
double nearestParameter(const ElementGeometry& geometry, Vec2 p);

}  // namespace qbr
