#include "model/geometry.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/fatal_stop.hpp"

namespace qbr {

double guardedLog(double x) {
  return std::fabs(x) < kTiny ? 0.0 : std::log(x);
}

ElementGeometry::ElementGeometry(const BoundaryElement& element, const PointTable& points)
    : kind_(element.kind), radius_(element.R), dir_(element.dir), length_(element.length) {
  // Point numbers of "line", "curve" and "circle" lines reach us unchecked; never read
  // outside the table.
  const auto at = [&points](std::int32_t n) {
    if (n < 0 || n >= kMaxPoints) {
      fatalStop("\nElement point number " + std::to_string(n) + " is outside 0 to " +
                std::to_string(kMaxPoints - 1) + ";\n");
    }
    const BasicPoint& p = points[static_cast<std::size_t>(n)];
    return Vec2{p.x, p.y};
  };
  p0_ = at(element.pointNumbers[0]);
  if (kind_ != kCircle) p1_ = at(element.pointNumbers[1]);
  if (kind_ == kCurve) p2_ = at(element.pointNumbers[2]);
  if (element.tFrom != -1.0 || element.tTo != 1.0) {
    windowed_ = true;
    from_ = element.tFrom;
    half_ = (element.tTo - element.tFrom) / 2.0;
    // The stored length is the piece's; a line's Jacobian and normal want the whole one.
    if (kind_ == kLine) length_ = std::hypot(p1_.x - p0_.x, p1_.y - p0_.y);
  }
}

Vec2 ElementGeometry::pointAt(double t) const {
  return windowed_ ? shapePointAt(shape(t)) : shapePointAt(t);
}

double ElementGeometry::jacobianAt(double t) const {
  return windowed_ ? shapeJacobianAt(shape(t)) * half_ : shapeJacobianAt(t);
}

Vec2 ElementGeometry::normalAt(double t) const {
  return windowed_ ? shapeNormalAt(shape(t)) : shapeNormalAt(t);
}

double ElementGeometry::arcLengthTo(double t) const {
  return windowed_ ? shapeArcLengthTo(shape(t)) - shapeArcLengthTo(from_) : shapeArcLengthTo(t);
}

double ElementGeometry::measureLength() const {
  return windowed_ ? shapeArcLengthTo(shape(1.0)) - shapeArcLengthTo(from_) : shapeLength();
}

Vec2 ElementGeometry::shapePointAt(double t) const {
  switch (kind_) {
    case kLine:
      return {p0_.x + (p1_.x - p0_.x) * (t + 1.0) / 2.0, p0_.y + (p1_.y - p0_.y) * (t + 1.0) / 2.0};
    case kCurve: {
      const double w0 = t * (t - 1.0) / 2.0;
      const double w1 = 1.0 - t * t;
      const double w2 = t * (t + 1.0) / 2.0;
      return {p0_.x * w0 + p1_.x * w1 + p2_.x * w2, p0_.y * w0 + p1_.y * w1 + p2_.y * w2};
    }
    default: {
      const double theta = dir_ ? kPi * t : -kPi * t;
      return {p0_.x + radius_ * std::cos(theta), p0_.y + radius_ * std::sin(theta)};
    }
  }
}

Vec2 ElementGeometry::curveDerivative(double t) const {
  const double a = t - 0.5;
  const double b = -2.0 * t;
  const double c = t + 0.5;
  return {a * p0_.x + b * p1_.x + c * p2_.x, a * p0_.y + b * p1_.y + c * p2_.y};
}

double ElementGeometry::shapeJacobianAt(double t) const {
  switch (kind_) {
    case kLine:
      return length_ / 2.0;
    case kCurve: {
      const Vec2 d = curveDerivative(t);
      return std::sqrt(d.x * d.x + d.y * d.y);
    }
    default:
      return kPi * radius_;
  }
}

Vec2 ElementGeometry::shapeNormalAt(double t) const {
  switch (kind_) {
    case kLine:
      return {-(p1_.y - p0_.y) / length_, (p1_.x - p0_.x) / length_};
    case kCurve: {
      const Vec2 d = curveDerivative(t);
      const double norm = std::sqrt(d.x * d.x + d.y * d.y);
      return {-d.y / norm, d.x / norm};
    }
    default:
      if (dir_) return {-std::cos(kPi * t), -std::sin(kPi * t)};
      const double theta = -kPi * t;
      return {std::cos(theta), std::sin(theta)};
  }
}

double ElementGeometry::shapeArcLengthTo(double t) const {
  switch (kind_) {
    case kLine:
      return (t + 1.0) * length_ / 2.0;
    case kCircle:
      return (t + 1.0) * kPi * radius_;
    default:
      break;
  }
  // r'(tau) = a tau + b for the quadratic through the three points.
  const Vec2 a{p0_.x - 2.0 * p1_.x + p2_.x, p0_.y - 2.0 * p1_.y + p2_.y};
  const Vec2 b{(p2_.x - p0_.x) / 2.0, (p2_.y - p0_.y) / 2.0};
  const double aa = a.x * a.x + a.y * a.y;
  const double ab = a.x * b.x + a.y * b.y;
  const double bb = b.x * b.x + b.y * b.y;
  if (aa > kTiny) {
    const double sqrtAa = std::sqrt(aa);
    const auto primitive = [&](double tau) {
      // Q = |r'|^2 >= 0; where r' vanishes rounding may make it slightly negative.
      const double q = std::max(aa * tau * tau + 2.0 * ab * tau + bb, 0.0);
      const double sqrtQ = std::sqrt(q);
      const double lin = aa * tau + ab;
      return (lin * sqrtQ / aa +
              (aa * bb - ab * ab) / std::pow(aa, 1.5) * guardedLog(2.0 * (sqrtQ + lin / sqrtAa))) /
             2.0;
    };
    return primitive(t) - primitive(-1.0);
  }
  if (std::fabs(ab) > kTiny) {
    // Dropping the small quadratic term can push the linear |r'|^2 below zero where
    // r' nearly vanishes; it is >= 0 in truth, and a negative power base would be NaN.
    const auto power = [](double q) { return std::pow(std::max(q, 0.0), 1.5); };
    return (power(2.0 * ab * t + bb) - power(bb - 2.0 * ab)) / (3.0 * ab);
  }
  return (t + 1.0) * std::sqrt(bb);
}

Box ElementGeometry::boundingBox() const {
  switch (kind_) {
    case kLine:
      return {std::min(p0_.x, p1_.x), std::max(p0_.x, p1_.x), std::min(p0_.y, p1_.y),
              std::max(p0_.y, p1_.y)};
    case kCurve:
      return {std::min({p0_.x, p1_.x, p2_.x}), std::max({p0_.x, p1_.x, p2_.x}),
              std::min({p0_.y, p1_.y, p2_.y}), std::max({p0_.y, p1_.y, p2_.y})};
    default:
      return {p0_.x - radius_, p0_.x + radius_, p0_.y - radius_, p0_.y + radius_};
  }
}

double ElementGeometry::shapeLength() const {
  switch (kind_) {
    case kLine: {
      const double dx = p1_.x - p0_.x;
      const double dy = p1_.y - p0_.y;
      return std::sqrt(dx * dx + dy * dy);
    }
    case kCurve:
      return shapeArcLengthTo(1.0);
    default:
      return 2.0 * kPi * radius_;
  }
}

void computeLength(BoundaryElement& element, const PointTable& points) {
  element.length = element.geometry(points).measureLength();
  // Written so that a length that is not a number stops the run as well.
  if (!(element.length >= kTiny)) fatalStop("\nZero length element detected!\n");
}

double nearestParameter(const ElementGeometry& geometry, Vec2 p) {
  constexpr int kSamples = 64;
  const auto distance = [&](double t) {
    const Vec2 q = geometry.pointAt(t);
    return (q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y);
  };
  int best = 0;
  double bestValue = distance(-1.0);
  for (int i = 1; i <= kSamples; ++i) {
    const double value = distance(-1.0 + 2.0 * i / kSamples);
    if (value < bestValue) {
      best = i;
      bestValue = value;
    }
  }
  double lo = -1.0 + 2.0 * std::max(best - 1, 0) / kSamples;
  double hi = -1.0 + 2.0 * std::min(best + 1, kSamples) / kSamples;
  for (int i = 0; i < 80; ++i) {
    const double m1 = lo + (hi - lo) / 3.0;
    const double m2 = hi - (hi - lo) / 3.0;
    if (distance(m1) < distance(m2)) {
      hi = m2;
    } else {
      lo = m1;
    }
  }
  return (lo + hi) / 2.0;
}

}  // namespace qbr
