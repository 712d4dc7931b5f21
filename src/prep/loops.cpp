#include "prep/loops.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/fatal_stop.hpp"
#include "prep/element_paths.hpp"

namespace qbr {

namespace {

const BoundaryElement& elementAt(const ProblemModel& model, std::int32_t e) {
  return model.elements[static_cast<std::size_t>(e)];
}

// The integral of x dy along the element: summed over a closed loop it is the area the
// loop encloses, positive for a loop run counter-clockwise.
double areaIntegral(const BoundaryElement& element, const PointTable& points) {
  if (element.kind == kCircle) return (element.dir ? kPi : -kPi) * element.R * element.R;
  // x(t) y'(t) is a cubic in t, which Simpson's rule integrates exactly.
  const QuadraticPath path = quadraticPathOf(element, points);
  const auto integrand = [&](double t) { return path.at(t).x * path.derivativeAt(t).y; };
  return (integrand(-1.0) + 4.0 * integrand(0.0) + integrand(1.0)) / 3.0;
}

// A point on the loop, away from every element's end: the first element's middle.
Vec2 pointOnLoop(const ProblemModel& model, const Loop& loop) {
  return elementAt(model, loop.elements.front()).geometry(model.points).pointAt(0.0);
}

// The direction from `from` that keeps furthest, in angle, from every corner of the
// loop: the middle of the widest gap between the corners' directions. A ray that way
// crosses elements only inside them, never through a shared end point.
Vec2 rayAvoidingCorners(const ProblemModel& model, const Loop& loop, Vec2 from) {
  std::vector<double> angles;
  for (const std::int32_t e : loop.elements) {
    const BasicPoint& p = model.points[static_cast<std::size_t>(startPoint(elementAt(model, e)))];
    angles.push_back(std::atan2(p.y - from.y, p.x - from.x));
  }
  std::sort(angles.begin(), angles.end());
  double widest = angles.front() + 2.0 * std::numbers::pi - angles.back();
  double middle = angles.back() + widest / 2.0;
  for (std::size_t i = 1; i < angles.size(); ++i) {
    if (angles[i] - angles[i - 1] > widest) {
      widest = angles[i] - angles[i - 1];
      middle = angles[i - 1] + widest / 2.0;
    }
  }
  return {std::cos(middle), std::sin(middle)};
}

}  // namespace

std::vector<Loop> findLoops(const ProblemModel& model) {
  std::vector<Loop> loops;
  std::vector<bool> used(static_cast<std::size_t>(model.elementCount), false);
  for (std::int32_t first = 0; first < model.elementCount; ++first) {
    if (used[static_cast<std::size_t>(first)]) continue;
    used[static_cast<std::size_t>(first)] = true;
    const BoundaryElement& head = elementAt(model, first);
    Loop loop{head.conductor, head.patch, {first}, head.kind == kCircle};
    if (head.kind != kCircle) {
      std::int32_t last = first;
      while (endPoint(elementAt(model, last)) != startPoint(head)) {
        std::int32_t next = -1;
        for (std::int32_t e = 0; e < model.elementCount && next < 0; ++e) {
          const BoundaryElement& candidate = elementAt(model, e);
          if (!used[static_cast<std::size_t>(e)] && candidate.kind != kCircle &&
              candidate.conductor == head.conductor && candidate.patch == head.patch &&
              startPoint(candidate) == endPoint(elementAt(model, last))) {
            next = e;
          }
        }
        if (next < 0) break;
        used[static_cast<std::size_t>(next)] = true;
        loop.elements.push_back(next);
        last = next;
      }
      loop.closed = endPoint(elementAt(model, last)) == startPoint(head);
    }
    loops.push_back(std::move(loop));
  }
  return loops;
}

double signedArea(const ProblemModel& model, const Loop& loop) {
  double area = 0.0;
  for (const std::int32_t e : loop.elements) area += areaIntegral(elementAt(model, e), model.points);
  return area;
}

bool loopEncloses(const ProblemModel& model, const Loop& loop, Vec2 point) {
  const BoundaryElement& head = elementAt(model, loop.elements.front());
  if (head.kind == kCircle) {
    const CirclePath circle = circlePathOf(head, model.points);
    return norm(point - circle.centre) < circle.radius;
  }
  // Parity of the crossings of a ray from the point. Where the ray only grazes a curve
  // the two roots come out both or neither, which leaves the parity alone.
  const Vec2 ray = rayAvoidingCorners(model, loop, point);
  bool inside = false;
  for (const std::int32_t e : loop.elements) {
    const QuadraticPath path = quadraticPathOf(elementAt(model, e), model.points);
    double roots[2];
    const int count = quadraticRootsInside(cross(ray, path.a), cross(ray, path.b),
                                           cross(ray, path.c - point), roots);
    for (int i = 0; i < count; ++i) {
      if (dot(ray, path.at(roots[i]) - point) > 0.0) inside = !inside;
    }
  }
  return inside;
}

std::string elementList(const Loop& loop) {
  std::string text = loop.elements.size() == 1 ? "element " : "elements ";
  for (std::size_t i = 0; i < loop.elements.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(loop.elements[i]);
  }
  return text;
}

void checkLoopNesting(const ProblemModel& model, const std::vector<Loop>& loops) {
  // How many loops of `conductor` other than `self` enclose the point.
  const auto enclosingCount = [&](std::int32_t conductor, const Loop& self, Vec2 point) {
    int count = 0;
    for (const Loop& other : loops) {
      if (&other != &self && other.closed && other.conductor == conductor &&
          loopEncloses(model, other, point)) {
        ++count;
      }
    }
    return count;
  };
  for (const Loop& loop : loops) {
    if (!loop.closed) continue;
    const bool outlinesMetal = enclosingCount(loop.conductor, loop, pointOnLoop(model, loop)) % 2 == 0;
    const bool counterClockwise = signedArea(model, loop) > 0.0;
    if (outlinesMetal && !counterClockwise) {
      fatalStop("\nThe loop of " + elementList(loop) + " (conductor " +
                std::to_string(loop.conductor) +
                ") runs clockwise: it outlines metal, so it must run counter-clockwise;\n");
    }
    if (!outlinesMetal && counterClockwise) {
      fatalStop("\nThe loop of " + elementList(loop) + " (conductor " +
                std::to_string(loop.conductor) +
                ") runs counter-clockwise: it outlines a hole, so it must run clockwise;\n");
    }
  }
  for (const Loop& loop : loops) {
    if (!loop.closed) continue;
    for (std::int32_t c = 0; c <= kMaxConductorNumber; ++c) {
      if (c != loop.conductor && enclosingCount(c, loop, pointOnLoop(model, loop)) % 2 == 1) {
        fatalStop("\nThe loop of " + elementList(loop) + " (conductor " +
                  std::to_string(loop.conductor) + ") lies inside the metal of conductor " +
                  std::to_string(c) + ";\n");
      }
    }
  }
}

}  // namespace qbr
