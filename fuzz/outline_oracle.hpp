#pragma once

// Independent checks of the outline verdicts (checkOutlines) on arbitrary geometry, for
// the fuzz target and the regression tests: a contact that stops the run must be real,
// and a model that passes must show no contact that a chord polygon of its elements
// proves, and must enclose a positive area of metal with every conductor.

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "base/fatal_stop.hpp"
#include "model/problem_model.hpp"
#include "prep/element_paths.hpp"
#include "prep/intersections.hpp"
#include "prep/loops.hpp"
#include "prep/model_checks.hpp"

namespace qbr::fuzzing {

// The element's point at parameter t in [-1, 1].
inline Vec2 trackPoint(const ProblemModel& model, std::int32_t e, double t) {
  return model.elements[static_cast<std::size_t>(e)].geometry(model.points).pointAt(t);
}

// Distance from `x` to the element: exact for a circle; for a line or curve the least
// over the ends and the critical points of |p(t) - x|^2, where g(t) = (p(t) - x) . p'(t)
// changes sign. g' is a quadratic whose roots cut [-1, 1] into pieces where g is
// monotone, so bisection finds each sign change.
inline double distanceToElement(const ProblemModel& model, std::int32_t e, Vec2 x) {
  const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
  if (element.kind == kCircle) {
    const CirclePath circle = circlePathOf(element, model.points);
    return std::fabs(norm(x - circle.centre) - circle.radius);
  }
  const QuadraticPath path = quadraticPathOf(element, model.points);
  const auto g = [&](double t) { return dot(path.at(t) - x, path.derivativeAt(t)); };
  std::array<double, 4> cuts{-1.0, 1.0, 1.0, 1.0};
  const int roots = quadraticRootsInside(6.0 * dot(path.a, path.a), 6.0 * dot(path.a, path.b),
                                         dot(path.b, path.b) + 2.0 * dot(path.a, path.c - x),
                                         cuts.data() + 1);
  const std::size_t count = static_cast<std::size_t>(std::clamp(roots, 0, 2)) + 2;
  // Roots lie inside (-1, 1), so the entries not written (1.0) stay at the end.
  std::sort(cuts.begin(), cuts.end());
  double best = std::min(norm(path.at(-1.0) - x), norm(path.at(1.0) - x));
  for (std::size_t k = 0; k + 1 < count; ++k) {
    double lo = cuts[k];
    double hi = cuts[k + 1];
    if ((g(lo) > 0.0) == (g(hi) > 0.0)) continue;
    for (int i = 0; i < 200; ++i) {
      const double mid = 0.5 * (lo + hi);
      ((g(mid) > 0.0) == (g(lo) > 0.0) ? lo : hi) = mid;
    }
    best = std::min(best, norm(path.at(0.5 * (lo + hi)) - x));
  }
  return best;
}

// The element as a chord polygon of n sides, and how far the track may stray from it.
inline std::vector<Vec2> chordPolygon(const ProblemModel& model, std::int32_t e, int n,
                                      double& deviation) {
  const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
  if (element.kind == kCircle) {
    deviation = element.R * (1.0 - std::cos(kPi / n)) * (1.0 + 1e-9);
  } else {
    // p(t) = c + b t + a t^2 leaves the chord of a piece of width h by |a| h^2 / 4 at most.
    const double h = 2.0 / n;
    deviation = norm(quadraticPathOf(element, model.points).a) * h * h / 4.0 * (1.0 + 1e-9);
  }
  std::vector<Vec2> vertices;
  for (int i = 0; i <= n; ++i) vertices.push_back(trackPoint(model, e, -1.0 + 2.0 * i / n));
  return vertices;
}

// Whether segments [a0, a1] and [b0, b1] cross with every end point further than
// `margin` from the other segment's line: then tracks within margin / 2 of each cross.
inline bool crossWithMargin(Vec2 a0, Vec2 a1, Vec2 b0, Vec2 b1, double margin) {
  const auto side = [](Vec2 p, Vec2 q, Vec2 x) {
    const double length = norm(q - p);
    return length > 0.0 ? cross(q - p, x - p) / length : 0.0;
  };
  const double s0 = side(a0, a1, b0);
  const double s1 = side(a0, a1, b1);
  const double s2 = side(b0, b1, a0);
  const double s3 = side(b0, b1, a1);
  return ((s0 > margin && s1 < -margin) || (s0 < -margin && s1 > margin)) &&
         ((s2 > margin && s3 < -margin) || (s2 < -margin && s3 > margin));
}

// What is wrong with checkOutlines' verdict on the model, or an empty string.
inline std::string outlineFault(const ProblemModel& model) {
  const std::vector<Loop> loops = findLoops(model);
  const double tolerance = contactTolerance(model);
  bool passed = true;
  try {
    checkOutlines(model);
  } catch (const FatalError&) {
    passed = false;
  }
  if (!passed) {
    // The contact it reports lies on both elements, within the tolerance.
    if (const auto contact = findContact(model, loops)) {
      for (const std::int32_t e : {contact->first, contact->second}) {
        if (distanceToElement(model, e, contact->point) > 4.0 * tolerance) {
          return "contact point away from element " + std::to_string(e);
        }
      }
    }
    return {};
  }

  // No two elements that are not neighbours cross visibly.
  const SharedEndMap shared = sharedEnds(loops);
  constexpr int kSides = 16;
  for (std::int32_t i = 0; i < model.elementCount; ++i) {
    double di = 0.0;
    const std::vector<Vec2> pi = chordPolygon(model, i, kSides, di);
    for (std::int32_t j = i + 1; j < model.elementCount; ++j) {
      if (shared.count({i, j}) != 0) continue;
      double dj = 0.0;
      const std::vector<Vec2> pj = chordPolygon(model, j, kSides, dj);
      for (int a = 0; a < kSides; ++a) {
        for (int b = 0; b < kSides; ++b) {
          if (crossWithMargin(pi[a], pi[a + 1], pj[b], pj[b + 1], 2.0 * (di + dj + tolerance))) {
            return "elements " + std::to_string(i) + " and " + std::to_string(j) +
                   " cross unnoticed";
          }
        }
      }
    }
  }
  // Metal counter-clockwise, holes clockwise inside it: each conductor's loops together
  // enclose a positive area.
  for (std::int32_t c = 0; c <= kMaxConductorNumber; ++c) {
    double area = 0.0;
    bool any = false;
    for (const Loop& loop : loops) {
      if (loop.conductor != c || !loop.closed) continue;
      area += signedArea(model, loop);
      any = true;
    }
    if (any && !(area > 0.0)) return "conductor " + std::to_string(c) + " encloses no area";
  }
  return {};
}

}  // namespace qbr::fuzzing
