#include "prep/intersections.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#include "base/fatal_stop.hpp"

namespace qbr {

namespace {

// Halvings of the parameter range before a box is decided by its centre alone: boxes
// of 2^-50 are far below any tolerance.
constexpr int kMaxDepth = 50;
constexpr double kMinWidth = 2.0 / (1LL << kMaxDepth);
// Boxes one pair may take. Only neighbours meeting at an angle within about 1e-8 of
// zero come near it; such a pair is taken as touching.
constexpr long kMaxBoxes = 1'000'000;

using ControlPolygon = std::array<Vec2, 3>;

// Bernstein control points of the path over [u, v]: the path there lies in their
// convex hull.
ControlPolygon controlPolygon(const QuadraticPath& path, double u, double v) {
  const Vec2 start = path.at(u);
  return {start, start + (0.5 * (v - u)) * path.derivativeAt(u), path.at(v)};
}

Vec2 unit(Vec2 v) {
  const double length = norm(v);
  return length > 0.0 ? (1.0 / length) * v : Vec2{};
}

// The point of the segment [u, v] closest to the origin.
Vec2 closestToOrigin(Vec2 u, Vec2 v) {
  const Vec2 d = v - u;
  const double dd = dot(d, d);
  const double f = dd > 0.0 ? std::clamp(-dot(u, d) / dd, 0.0, 1.0) : 0.0;
  return u + f * d;
}

// The distance from the origin to the triangle (filled) of three points.
double distanceToTriangle(const ControlPolygon& corner) {
  const double c0 = cross(corner[1] - corner[0], Vec2{} - corner[0]);
  const double c1 = cross(corner[2] - corner[1], Vec2{} - corner[1]);
  const double c2 = cross(corner[0] - corner[2], Vec2{} - corner[2]);
  const bool degenerate = cross(corner[1] - corner[0], corner[2] - corner[0]) == 0.0;
  if (!degenerate && ((c0 >= 0.0 && c1 >= 0.0 && c2 >= 0.0) || (c0 <= 0.0 && c1 <= 0.0 && c2 <= 0.0))) {
    return 0.0;
  }
  return std::min({norm(closestToOrigin(corner[0], corner[1])),
                   norm(closestToOrigin(corner[1], corner[2])),
                   norm(closestToOrigin(corner[2], corner[0]))});
}

// The point of the convex hull of `points` closest to the origin (the origin itself when
// the hull holds it). Its direction is the best one to separate the hull from the
// origin: with it the enclosure test is sharp, and boxes along two close parallel
// tracks need only shrink with the square root of the gap.
template <std::size_t N>
Vec2 closestHullPoint(std::array<Vec2, N> points) {
  std::sort(points.begin(), points.end(),
            [](Vec2 u, Vec2 v) { return u.x < v.x || (u.x == v.x && u.y < v.y); });
  // Andrew's monotone chain, counter-clockwise.
  std::array<Vec2, 2 * N> hull;
  std::size_t k = 0;
  for (std::size_t i = 0; i < N; ++i) {
    while (k >= 2 && cross(hull[k - 1] - hull[k - 2], points[i] - hull[k - 2]) <= 0.0) --k;
    hull[k++] = points[i];
  }
  for (std::size_t i = N - 1, lower = k + 1; i-- > 0;) {
    while (k >= lower && cross(hull[k - 1] - hull[k - 2], points[i] - hull[k - 2]) <= 0.0) --k;
    hull[k++] = points[i];
  }
  const std::size_t n = k > 1 ? k - 1 : 1;  // the last point repeats the first
  if (n == 1) return hull[0];
  bool inside = n >= 3;
  Vec2 best = hull[0];
  for (std::size_t i = 0; i < n; ++i) {
    const Vec2 a = hull[i];
    const Vec2 b = hull[(i + 1) % n];
    if (cross(b - a, Vec2{} - a) < 0.0) inside = false;
    const Vec2 c = closestToOrigin(a, b);
    if (norm(c) < norm(best)) best = c;
  }
  return inside ? Vec2{} : best;
}

// Whether some direction puts every point beyond its bound: then no convex combination
// of the points (with bounds combined alike) comes within its bound of the origin.
// The candidate directions are those given and the four axes.
template <std::size_t N>
bool separated(const std::array<Vec2, N>& points, const std::array<double, N>& bounds,
               std::initializer_list<Vec2> directions) {
  const auto beyond = [&](Vec2 n) {
    for (std::size_t i = 0; i < N; ++i) {
      if (!(dot(n, points[i]) > bounds[i])) return false;
    }
    return true;
  };
  for (const Vec2 n : directions) {
    if ((n.x != 0.0 || n.y != 0.0) && beyond(n)) return true;
  }
  return beyond({1.0, 0.0}) || beyond({-1.0, 0.0}) || beyond({0.0, 1.0}) || beyond({0.0, -1.0});
}

// The length of the control polygon over [u, v], at least that of the track.
double trackLength(const QuadraticPath& path, double u, double v) {
  const ControlPolygon c = controlPolygon(path, u, v);
  return norm(c[1] - c[0]) + norm(c[2] - c[1]);
}

struct ParamBox {
  double s0, s1, t0, t1;
  int depth;
};

// The search for a pair (s, t) with |p(s) - q(t)| within the tolerance, over boxes of
// the parameter square, each dropped when an enclosure of p - q over it keeps clear.
class PairSearch {
 public:
  PairSearch(const QuadraticPath& p, const QuadraticPath& q, const std::vector<SharedEnd>& shared,
             double tolerance)
      : p_(p), q_(q), shared_(shared), tolerance_(tolerance) {}

  std::optional<Vec2> run() {
    std::vector<ParamBox> stack{{-1.0, 1.0, -1.0, 1.0, 0}};
    long boxes = 0;
    while (!stack.empty()) {
      const ParamBox box = stack.back();
      stack.pop_back();
      const double sc = 0.5 * (box.s0 + box.s1);
      const double tc = 0.5 * (box.t0 + box.t1);
      if (++boxes > kMaxBoxes) return 0.5 * (p_.at(sc) + q_.at(tc));
      const std::optional<Outcome> outcome = decide(box, sc, tc);
      if (outcome) {
        if (outcome->meet) return outcome->point;
        continue;
      }
      // Halve the side whose piece of track is longer, so that a long element against a
      // short one is not cut into needless pieces along the short one.
      const bool sNarrow = box.s1 - box.s0 <= kMinWidth;
      const bool tNarrow = box.t1 - box.t0 <= kMinWidth;
      if (sNarrow && tNarrow) continue;
      const bool splitS = tNarrow || (!sNarrow && trackLength(p_, box.s0, box.s1) >=
                                                     trackLength(q_, box.t0, box.t1));
      const int depth = box.depth + 1;
      if (splitS) {
        stack.push_back({box.s0, sc, box.t0, box.t1, depth});
        stack.push_back({sc, box.s1, box.t0, box.t1, depth});
      } else {
        stack.push_back({box.s0, box.s1, box.t0, tc, depth});
        stack.push_back({box.s0, box.s1, tc, box.t1, depth});
      }
    }
    return std::nullopt;
  }

 private:
  struct Outcome {
    bool meet;
    Vec2 point;
  };

  // The shared end nearest the box centre (in parameters), if any.
  const SharedEnd* nearestShared(double sc, double tc) const {
    const SharedEnd* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    for (const SharedEnd& end : shared_) {
      const double distance = std::fabs(sc - end.first) + std::fabs(tc - end.second);
      if (distance < best) {
        best = distance;
        nearest = &end;
      }
    }
    return nearest;
  }

  static bool holds(const ParamBox& box, const SharedEnd& end) {
    return (box.s0 == end.first || box.s1 == end.first) &&
           (box.t0 == end.second || box.t1 == end.second);
  }

  // Meets at the centre, keeps clear over the whole box, or undecided (nothing).
  std::optional<Outcome> decide(const ParamBox& box, double sc, double tc) const {
    int held = 0;
    for (const SharedEnd& end : shared_) held += holds(box, end) ? 1 : 0;
    if (held > 1) return std::nullopt;  // the whole square of a two-element loop
    const SharedEnd* end = nearestShared(sc, tc);
    return end ? decideNear(box, sc, tc, *end) : decideApart(box, sc, tc);
  }

  // No shared end: p - q must keep the full tolerance.
  std::optional<Outcome> decideApart(const ParamBox& box, double sc, double tc) const {
    const Vec2 pc = p_.at(sc);
    const Vec2 qc = q_.at(tc);
    const Vec2 fc = pc - qc;
    if (norm(fc) <= tolerance_) return Outcome{true, 0.5 * (pc + qc)};
    const ControlPolygon pp = controlPolygon(p_, box.s0, box.s1);
    const ControlPolygon qq = controlPolygon(q_, box.t0, box.t1);
    std::array<Vec2, 9> f;
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) f[3 * i + j] = pp[i] - qq[j];
    }
    std::array<double, 9> bounds;
    bounds.fill(tolerance_);
    if (separated(f, bounds, {unit(closestHullPoint(f)), unit(fc)})) return Outcome{false, {}};
    return std::nullopt;
  }

  // Near the point P that the two share at (e, f): with sigma = |s - e| and
  // tau = |t - f|, p(s) - P = sigma U(s) and q(t) - P = -tau V(t), U and V linear, so
  // p - q = sigma U + tau V and G = (p - q) / (sigma + tau) is a convex combination of
  // U(s) and V(t). The tolerance is (sigma + tau) / 4 of the full one, that is |G|
  // must stay above a quarter of it: a non-zero angle between the two at P does that.
  std::optional<Outcome> decideNear(const ParamBox& box, double sc, double tc,
                                    const SharedEnd& end) const {
    const QuadraticPath p = p_.fromEnd(end.first);
    const QuadraticPath q = q_.fromEnd(end.second);
    const auto sigma = [&](double s) { return std::fabs(s - end.first); };
    const auto tau = [&](double t) { return std::fabs(t - end.second); };
    const auto weight = [&](double s, double t) { return 0.25 * (sigma(s) + tau(t)); };
    // U(s) = (p(s) - P) / sigma; V(t) = (P - q(t)) / tau.
    const auto u = [&](double s) { return (-end.first) * (p.b + (s + end.first) * p.a); };
    const auto v = [&](double t) { return end.second * (q.b + (t + end.second) * q.a); };

    const Vec2 pc = p.at(sc);
    const Vec2 qc = q.at(tc);
    const Vec2 fc = pc - qc;
    if (norm(fc) <= tolerance_ * weight(sc, tc)) {
      return Outcome{true, 0.5 * (p_.at(sc) + q_.at(tc))};
    }

    // Enclosure of p - q against the shrinking tolerance: tolerance * weight is linear
    // in s and t, so its Bernstein coefficients are its values at the ends and the
    // middle of each side.
    const ControlPolygon pp = controlPolygon(p, box.s0, box.s1);
    const ControlPolygon qq = controlPolygon(q, box.t0, box.t1);
    const std::array<double, 3> ss{box.s0, sc, box.s1};
    const std::array<double, 3> ts{box.t0, tc, box.t1};
    std::array<Vec2, 9> f;
    std::array<double, 9> fBounds;
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) {
        f[3 * i + j] = pp[i] - qq[j];
        fBounds[3 * i + j] = tolerance_ * weight(ss[i], ts[j]);
      }
    }
    const Vec2 towards = unit(closestToOrigin(u(sc), v(tc)));
    if (separated(f, fBounds, {unit(closestHullPoint(f)), unit(fc), towards})) {
      return Outcome{false, {}};
    }

    // Enclosure of G: lambda = sigma / (sigma + tau) ranges over [lo, hi] on the box.
    const double sigmaMin = std::min(sigma(box.s0), sigma(box.s1));
    const double sigmaMax = std::max(sigma(box.s0), sigma(box.s1));
    const double tauMin = std::min(tau(box.t0), tau(box.t1));
    const double tauMax = std::max(tau(box.t0), tau(box.t1));
    const double lo = sigmaMin > 0.0 ? sigmaMin / (sigmaMin + tauMax) : 0.0;
    const double hi = tauMin > 0.0 ? sigmaMax / (sigmaMax + tauMin) : 1.0;
    const std::array<Vec2, 2> us{u(box.s0), u(box.s1)};
    const std::array<Vec2, 2> vs{v(box.t0), v(box.t1)};
    std::array<Vec2, 8> g;
    std::size_t k = 0;
    for (const double lambda : {lo, hi}) {
      for (const Vec2 ui : us) {
        for (const Vec2 vj : vs) g[k++] = lambda * ui + (1.0 - lambda) * vj;
      }
    }
    std::array<double, 8> gBounds;
    gBounds.fill(0.25 * tolerance_);
    if (separated(g, gBounds, {unit(closestHullPoint(g)), unit(fc), towards})) {
      return Outcome{false, {}};
    }

    // A box at P that no enclosure clears however small: the two leave P in one
    // direction.
    if (holds(box, end) && box.s1 - box.s0 <= kMinWidth && box.t1 - box.t0 <= kMinWidth) {
      return Outcome{true, p_.at(end.first)};
    }
    return std::nullopt;
  }

  const QuadraticPath& p_;
  const QuadraticPath& q_;
  const std::vector<SharedEnd>& shared_;
  double tolerance_;
};

std::string pointText(Vec2 point, double tolerance, const std::string& unit) {
  // Rounding noise of a coordinate that is zero would print as 1e-17.
  const auto clean = [&](double v) { return std::fabs(v) <= tolerance ? 0.0 : v; };
  std::ostringstream text;
  text << std::setprecision(6) << "(" << clean(point.x) << ", " << clean(point.y) << ") " << unit;
  return text.str();
}

}  // namespace

double contactTolerance(const ProblemModel& model) {
  double xmin = std::numeric_limits<double>::infinity();
  double xmax = -xmin;
  double ymin = xmin;
  double ymax = -xmin;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const Box box = model.elements[static_cast<std::size_t>(e)].geometry(model.points).boundingBox();
    xmin = std::min(xmin, box.xmin);
    xmax = std::max(xmax, box.xmax);
    ymin = std::min(ymin, box.ymin);
    ymax = std::max(ymax, box.ymax);
  }
  if (model.elementCount == 0) return 0.0;
  const double extent = std::max(xmax - xmin, ymax - ymin);
  const double largest = std::max({std::fabs(xmin), std::fabs(xmax), std::fabs(ymin), std::fabs(ymax)});
  return 1e-9 * extent + 64.0 * std::numeric_limits<double>::epsilon() * largest;
}

std::optional<Vec2> pathsMeet(const QuadraticPath& p, const QuadraticPath& q,
                              const std::vector<SharedEnd>& shared, double tolerance) {
  return PairSearch(p, q, shared, tolerance).run();
}

std::optional<Vec2> circleMeetsPath(const CirclePath& circle, const QuadraticPath& path,
                                    double tolerance) {
  // The path measured from the centre: it meets the circle where its distance d(t)
  // from the centre comes within the tolerance of the radius.
  const QuadraticPath d{path.c - circle.centre, path.b, path.a};
  const auto offset = [&](double t) { return norm(d.at(t)) - circle.radius; };
  struct Interval {
    double u, v;
    int depth;
  };
  std::vector<Interval> stack{{-1.0, 1.0, 0}};
  while (!stack.empty()) {
    const Interval piece = stack.back();
    stack.pop_back();
    const double mid = 0.5 * (piece.u + piece.v);
    for (const double t : {piece.u, mid, piece.v}) {
      if (std::fabs(offset(t)) <= tolerance) return path.at(t);
    }
    // Outside at one end, inside at the other: it crosses in between.
    if ((offset(piece.u) > 0.0) != (offset(piece.v) > 0.0)) {
      double u = piece.u;
      double v = piece.v;
      for (int i = 0; i < 200 && std::fabs(offset(0.5 * (u + v))) > tolerance; ++i) {
        ((offset(0.5 * (u + v)) > 0.0) == (offset(u) > 0.0) ? u : v) = 0.5 * (u + v);
      }
      return path.at(0.5 * (u + v));
    }
    const ControlPolygon hull = controlPolygon(d, piece.u, piece.v);
    const double nearest = distanceToTriangle(hull);
    const double farthest = std::max({norm(hull[0]), norm(hull[1]), norm(hull[2])});
    if (nearest > circle.radius + tolerance || farthest < circle.radius - tolerance) continue;
    if (piece.depth >= kMaxDepth) continue;
    stack.push_back({piece.u, mid, piece.depth + 1});
    stack.push_back({mid, piece.v, piece.depth + 1});
  }
  return std::nullopt;
}

std::optional<Vec2> circlesMeet(const CirclePath& first, const CirclePath& second,
                                double tolerance) {
  const Vec2 between = second.centre - first.centre;
  const double d = norm(between);
  const double r1 = first.radius;
  const double r2 = second.radius;
  // Apart, or one inside the other without contact.
  if (d > r1 + r2 + tolerance || d < std::fabs(r1 - r2) - tolerance) return std::nullopt;
  // One circle drawn twice.
  if (d <= tolerance) return first.centre + Vec2{r1, 0.0};
  // Where the line through the centres meets the common chord, and half the chord.
  const double along = (d * d + r1 * r1 - r2 * r2) / (2.0 * d);
  const double half = std::sqrt(std::max(r1 * r1 - along * along, 0.0));
  const Vec2 axis = (1.0 / d) * between;
  return first.centre + along * axis + half * Vec2{-axis.y, axis.x};
}

std::optional<Vec2> pathDoublesBack(const QuadraticPath& path, double tolerance) {
  // p(t1) - p(t2) = (t1 - t2) (b + a (t1 + t2)): the track comes back to itself where
  // b + a s nearly vanishes for some s = t1 + t2 inside (-2, 2), that is where the
  // tangent turns round.
  const double aa = dot(path.a, path.a);
  if (aa == 0.0) return std::nullopt;
  const double s = -dot(path.a, path.b) / aa;
  if (!(s > -2.0 && s < 2.0)) return std::nullopt;
  if (norm(path.b + s * path.a) > 0.25 * tolerance) return std::nullopt;
  return path.at(0.5 * s);
}

SharedEndMap sharedEnds(const std::vector<Loop>& loops) {
  SharedEndMap shared;
  for (const Loop& loop : loops) {
    const std::size_t n = loop.elements.size();
    if (n < 2) continue;
    for (std::size_t k = 0; k + 1 < n || (loop.closed && k < n); ++k) {
      const std::int32_t a = loop.elements[k];
      const std::int32_t b = loop.elements[(k + 1) % n];
      // a ends (t = 1) where b starts (t = -1).
      if (a < b) {
        shared[{a, b}].push_back({1.0, -1.0});
      } else {
        shared[{b, a}].push_back({-1.0, 1.0});
      }
    }
  }
  return shared;
}

std::optional<Contact> findContact(const ProblemModel& model, const std::vector<Loop>& loops) {
  const double tolerance = contactTolerance(model);
  const SharedEndMap shared = sharedEnds(loops);
  const std::vector<SharedEnd> none;
  const auto element = [&](std::int32_t e) -> const BoundaryElement& {
    return model.elements[static_cast<std::size_t>(e)];
  };
  for (std::int32_t i = 0; i < model.elementCount; ++i) {
    if (element(i).kind == kCurve) {
      if (const auto point = pathDoublesBack(quadraticPathOf(element(i), model.points), tolerance)) {
        return Contact{i, i, *point};
      }
    }
    for (std::int32_t j = i + 1; j < model.elementCount; ++j) {
      const BoundaryElement& a = element(i);
      const BoundaryElement& b = element(j);
      std::optional<Vec2> point;
      if (a.kind == kCircle && b.kind == kCircle) {
        point = circlesMeet(circlePathOf(a, model.points), circlePathOf(b, model.points), tolerance);
      } else if (a.kind == kCircle) {
        point = circleMeetsPath(circlePathOf(a, model.points), quadraticPathOf(b, model.points),
                                tolerance);
      } else if (b.kind == kCircle) {
        point = circleMeetsPath(circlePathOf(b, model.points), quadraticPathOf(a, model.points),
                                tolerance);
      } else {
        const auto found = shared.find({i, j});
        point = pathsMeet(quadraticPathOf(a, model.points), quadraticPathOf(b, model.points),
                          found == shared.end() ? none : found->second, tolerance);
      }
      if (point) return Contact{i, j, *point};
    }
  }
  return std::nullopt;
}

void checkElementsDoNotMeet(const ProblemModel& model, const std::vector<Loop>& loops) {
  const std::optional<Contact> contact = findContact(model, loops);
  if (!contact) return;
  const std::string where = pointText(contact->point, contactTolerance(model), model.lengthunit) +
                            " (coordinates after gridsize)";
  if (contact->first == contact->second) {
    fatalStop("\nElement " + std::to_string(contact->first) + " runs back over itself at " + where +
              ": the middle point of a curve whose points lie on one line must lie between the "
              "other two;\n");
  }
  fatalStop("\nElements " + std::to_string(contact->first) + " and " +
            std::to_string(contact->second) + " touch or cross at " + where +
            ": elements may meet only where one side of an outline ends and the next begins;\n");
}

}  // namespace qbr
