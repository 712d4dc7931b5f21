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

// A meeting is reported only at a point where the two come within the tolerance; a piece
// is dropped only where an enclosure keeps them further apart than kClearFraction of it.
// Between the two either verdict is right, and that margin is what ends every search:
// a piece stays undecided only while its enclosure is wider than 1/32 of the tolerance,
// and the enclosures shrink with the pieces, so no piece gets shorter than about 1e-11
// of the model's extent (some 40 halvings of each parameter). The pieces a search takes
// are counted for the tests and the benchmark.
constexpr double kClearFraction = 0.875;

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

// Bernstein coefficients (degree 4) of the product of two quadratics given by theirs.
std::array<double, 5> bernsteinProduct(const std::array<double, 3>& f,
                                       const std::array<double, 3>& g) {
  return {f[0] * g[0], 0.5 * (f[0] * g[1] + f[1] * g[0]),
          (f[0] * g[2] + 4.0 * f[1] * g[1] + f[2] * g[0]) / 6.0, 0.5 * (f[1] * g[2] + f[2] * g[1]),
          f[2] * g[2]};
}

// Whether no point of the quadratic piece with control points `other` comes within
// `reach` of the piece [t0, t1] of `path`, shown by the implicit equation of the path's
// parabola: F(x) = cross(x - c, a)^2 - D cross(b, x - c), D = cross(b, a), vanishes on
// it, and a point x = path(t) + v with |v| <= reach has
// F(x) = -D cross(path'(t), v) + cross(v, a)^2, inside [-|D| M reach,
// |D| M reach + |a|^2 reach^2] with M the largest |path'| on the piece. Along the other
// piece F is a quartic, bounded by its Bernstein coefficients. Where the two run side by
// side at a nearly constant gap (concentric arcs) this decides pieces whose speed |path'|
// varies by less than the margin, where the hull of the control points would need
// pieces as short as the square root of the margin times the radius.
bool implicitlyApart(const QuadraticPath& path, double t0, double t1, const ControlPolygon& other,
                     double reach) {
  const double d = cross(path.b, path.a);
  if (d == 0.0) return false;  // a line, or a parabola flattened onto one: the hull is sharp
  std::array<double, 3> along;
  std::array<double, 3> across;
  for (std::size_t i = 0; i < 3; ++i) {
    const Vec2 x = other[i] - path.c;
    along[i] = cross(x, path.a);
    across[i] = cross(path.b, x);
  }
  const std::array<double, 5> square = bernsteinProduct(along, along);
  const std::array<double, 5> raised = bernsteinProduct(across, {1.0, 1.0, 1.0});
  const double size = std::fabs(d);
  double lowest = std::numeric_limits<double>::infinity();
  double highest = -lowest;
  double scale = 0.0;
  for (std::size_t k = 0; k < 5; ++k) {
    const double f = (square[k] - d * raised[k]) / size;
    lowest = std::min(lowest, f);
    highest = std::max(highest, f);
    scale = std::max(scale, square[k] / size + std::fabs(raised[k]));
  }
  const double speed = std::max(norm(path.derivativeAt(t0)), norm(path.derivativeAt(t1)));
  // The two terms of F nearly cancel near the parabola: allow for their rounding.
  const double rounding = 64.0 * std::numeric_limits<double>::epsilon() * scale;
  const double band = speed * reach + rounding;
  return lowest > band + dot(path.a, path.a) * reach * reach / size || highest < -band;
}

// The length of the control polygon over [u, v], at least that of the track.
double trackLength(const QuadraticPath& path, double u, double v) {
  const ControlPolygon c = controlPolygon(path, u, v);
  return norm(c[1] - c[0]) + norm(c[2] - c[1]);
}

// The distance of the parameter s from the end e (-1 or +1) of [-1, 1], and the
// parameter at distance sigma from it.
double distanceFromEnd(double e, double s) {
  return std::fabs(s - e);
}
double parameterAt(double e, double sigma) {
  return e * (1.0 - sigma);
}

// A box of two parameter ranges.
struct ParamBox {
  double s0, s1, t0, t1;
};

// Puts the two halves of the box, cut across its first range or its second, on the stack.
void pushHalves(std::vector<ParamBox>& stack, const ParamBox& box, bool cutFirst) {
  const double sc = 0.5 * (box.s0 + box.s1);
  const double tc = 0.5 * (box.t0 + box.t1);
  if (cutFirst) {
    stack.push_back({box.s0, sc, box.t0, box.t1});
    stack.push_back({sc, box.s1, box.t0, box.t1});
  } else {
    stack.push_back({box.s0, box.s1, box.t0, tc});
    stack.push_back({box.s0, box.s1, tc, box.t1});
  }
}

// Near the point P that neighbours p and q share at (e, f), in the triangle
// sigma + tau <= 2 of parameter distances from it: p(s) - P = sigma U(s) and
// q(t) - P = -tau V(t) with U and V linear, so G = (p - q) / (sigma + tau) is a convex
// combination of U and V, and two neighbours meet there when |G| <= tolerance / 4: the
// tolerance shrinks in proportion to the distance from P, and only a zero angle
// between the two at P, or a piece that runs back over the other, brings G to zero.
// In r = sigma + tau and lambda = sigma / r,
//   G = lambda U0 + (1 - lambda) V0 + r (lambda^2 a_p - (1 - lambda)^2 a_q),
// U0 and V0 the directions in which p and q leave P: linear in r, quadratic in lambda
// and regular at P. A meeting of two neighbours at a small angle, or of a piece far
// shorter than the tolerance with its neighbour, is a wedge of angle 1e-9 at P in
// (s, t), which boxes there only reach after halving the whole square thirty times;
// here it is a band of lambda that every box of r holds.
class NearEndSearch {
 public:
  NearEndSearch(const QuadraticPath& p, const QuadraticPath& q, const SharedEnd& end,
                double tolerance)
      : p_(p),
        q_(q),
        end_(end),
        u0_(-1.0 * (end.first * p.b + 2.0 * p.a)),
        v0_(end.second * q.b + 2.0 * q.a),
        meet_(0.25 * tolerance),
        clear_(kClearFraction * meet_) {}

  std::optional<Vec2> run(long& pieces) const {
    // Boxes of r (first range) and lambda (second).
    std::vector<ParamBox> stack{{0.0, 2.0, 0.0, 1.0}};
    while (!stack.empty()) {
      const ParamBox box = stack.back();
      stack.pop_back();
      const double r0 = box.s0;
      const double r1 = box.s1;
      const double l0 = box.t0;
      const double l1 = box.t1;
      const double rc = 0.5 * (r0 + r1);
      const double lc = 0.5 * (l0 + l1);
      const Vec2 gc = g(rc, lc);
      ++pieces;
      if (norm(gc) <= meet_) return pointAt(rc, lc);
      // Bernstein coefficients: linear in r, quadratic in lambda.
      const std::array<Vec2, 3> a{along(l0), 0.5 * (along(l0) + along(l1)), along(l1)};
      const std::array<Vec2, 3> b{bend(l0), bend(l0) + (0.5 * (l1 - l0)) * bendSlope(l0), bend(l1)};
      std::array<Vec2, 6> control;
      for (std::size_t j = 0; j < 3; ++j) {
        control[j] = a[j] + r0 * b[j];
        control[3 + j] = a[j] + r1 * b[j];
      }
      std::array<double, 6> bounds;
      bounds.fill(clear_);
      if (separated(control, bounds, {unit(closestHullPoint(control)), unit(gc)})) continue;
      // Halve the range along which the control points spread further.
      double acrossR = 0.0;
      double acrossL = 0.0;
      for (std::size_t j = 0; j < 3; ++j) {
        acrossR = std::max(acrossR, norm(control[3 + j] - control[j]));
      }
      for (const std::size_t i : {0u, 3u}) {
        acrossL = std::max(
            {acrossL, norm(control[i + 1] - control[i]), norm(control[i + 2] - control[i + 1])});
      }
      pushHalves(stack, box, acrossR > acrossL);
    }
    return std::nullopt;
  }

 private:
  Vec2 along(double lambda) const { return lambda * u0_ + (1.0 - lambda) * v0_; }
  Vec2 bend(double lambda) const {
    return (lambda * lambda) * p_.a - ((1.0 - lambda) * (1.0 - lambda)) * q_.a;
  }
  Vec2 bendSlope(double lambda) const {
    return (2.0 * lambda) * p_.a + (2.0 * (1.0 - lambda)) * q_.a;
  }
  Vec2 g(double r, double lambda) const { return along(lambda) + r * bend(lambda); }
  Vec2 pointAt(double r, double lambda) const {
    return 0.5 * (p_.at(parameterAt(end_.first, lambda * r)) +
                  q_.at(parameterAt(end_.second, (1.0 - lambda) * r)));
  }

  const QuadraticPath& p_;
  const QuadraticPath& q_;
  SharedEnd end_;
  Vec2 u0_, v0_;
  double meet_, clear_;
};

// The search for a pair (s, t) with |p(s) - q(t)| within the tolerance, over boxes of
// the parameter square, each dropped when an enclosure of p - q over it keeps clear.
// With a shared end the tolerance is that of NearEndSearch, which has decided the
// triangle next to the end: here only the rest of the square is searched.
class BoxSearch {
 public:
  BoxSearch(const QuadraticPath& p, const QuadraticPath& q, const SharedEnd* end, double tolerance)
      : p_(end ? p.fromEnd(end->first) : p),
        q_(end ? q.fromEnd(end->second) : q),
        pAbsolute_(p),
        qAbsolute_(q),
        end_(end),
        tolerance_(tolerance) {}

  std::optional<Vec2> run(long& pieces) const {
    std::vector<ParamBox> stack{{-1.0, 1.0, -1.0, 1.0}};
    while (!stack.empty()) {
      const ParamBox box = stack.back();
      stack.pop_back();
      if (end_ &&
          weight(far(box.s0, box.s1, end_->first), far(box.t0, box.t1, end_->second)) <= 0.5) {
        continue;
      }
      const double sc = 0.5 * (box.s0 + box.s1);
      const double tc = 0.5 * (box.t0 + box.t1);
      const Vec2 fc = p_.at(sc) - q_.at(tc);
      ++pieces;
      if (norm(fc) <= tolerance_ * weight(sc, tc)) {
        return 0.5 * (pAbsolute_.at(sc) + qAbsolute_.at(tc));
      }
      if (clear(box, fc)) continue;
      // Halve the side whose piece of track is longer, so that a long element against a
      // short one is not cut into needless pieces along the short one.
      pushHalves(stack, box, trackLength(p_, box.s0, box.s1) >= trackLength(q_, box.t0, box.t1));
    }
    return std::nullopt;
  }

 private:
  // The fraction of the tolerance that applies at (s, t): all of it apart from shared
  // ends, (sigma + tau) / 4 of it near one.
  double weight(double s, double t) const {
    return end_ ? 0.25 * (distanceFromEnd(end_->first, s) + distanceFromEnd(end_->second, t)) : 1.0;
  }
  // The end of [u, v] further from the end e.
  static double far(double u, double v, double e) {
    return distanceFromEnd(e, u) > distanceFromEnd(e, v) ? u : v;
  }

  // Whether an enclosure of p - q over the box keeps clear of the tolerance, which is
  // linear in s and t: its Bernstein coefficients are its values at the ends and the
  // middle of each side.
  bool clear(const ParamBox& box, Vec2 fc) const {
    const ControlPolygon pp = controlPolygon(p_, box.s0, box.s1);
    const ControlPolygon qq = controlPolygon(q_, box.t0, box.t1);
    const std::array<double, 3> ss{box.s0, 0.5 * (box.s0 + box.s1), box.s1};
    const std::array<double, 3> ts{box.t0, 0.5 * (box.t0 + box.t1), box.t1};
    std::array<Vec2, 9> f;
    std::array<double, 9> bounds;
    double reach = 0.0;
    for (std::size_t i = 0; i < 3; ++i) {
      for (std::size_t j = 0; j < 3; ++j) {
        f[3 * i + j] = pp[i] - qq[j];
        bounds[3 * i + j] = kClearFraction * tolerance_ * weight(ss[i], ts[j]);
        reach = std::max(reach, bounds[3 * i + j]);
      }
    }
    return separated(f, bounds, {unit(closestHullPoint(f)), unit(fc)}) ||
           implicitlyApart(q_, box.t0, box.t1, pp, reach) ||
           implicitlyApart(p_, box.s0, box.s1, qq, reach);
  }

  QuadraticPath p_, q_;  // measured from the shared end, if any
  const QuadraticPath& pAbsolute_;
  const QuadraticPath& qAbsolute_;
  const SharedEnd* end_;
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
    const Box box =
        model.elements[static_cast<std::size_t>(e)].geometry(model.points).boundingBox();
    xmin = std::min(xmin, box.xmin);
    xmax = std::max(xmax, box.xmax);
    ymin = std::min(ymin, box.ymin);
    ymax = std::max(ymax, box.ymax);
  }
  if (model.elementCount == 0) return 0.0;
  const double extent = std::max(xmax - xmin, ymax - ymin);
  const double largest =
      std::max({std::fabs(xmin), std::fabs(xmax), std::fabs(ymin), std::fabs(ymax)});
  return 1e-9 * extent + 64.0 * std::numeric_limits<double>::epsilon() * largest;
}

std::optional<Vec2> pathsMeet(const QuadraticPath& p, const QuadraticPath& q,
                              const std::vector<SharedEnd>& shared, double tolerance,
                              long* pieces) {
  long count = 0;
  std::optional<Vec2> point;
  for (const SharedEnd& end : shared) {
    point = NearEndSearch(p, q, end, tolerance).run(count);
    if (point) break;
  }
  // Two neighbours that share both ends are a loop of two: the triangles at the two
  // opposite corners cover the square.
  if (!point && shared.size() < 2) {
    point = BoxSearch(p, q, shared.empty() ? nullptr : &shared.front(), tolerance).run(count);
  }
  if (pieces) *pieces += count;
  return point;
}

std::optional<Vec2> circleMeetsPath(const CirclePath& circle, const QuadraticPath& path,
                                    double tolerance, long* pieces) {
  // The path measured from the centre: it meets the circle where its distance |d(t)|
  // from the centre comes within the tolerance of the radius. |d|^2 is a quartic whose
  // Bernstein coefficients bound it on a piece.
  const QuadraticPath d{path.c - circle.centre, path.b, path.a};
  const double radius = circle.radius;
  const auto offset = [&](double t) { return norm(d.at(t)) - radius; };
  const double clear = kClearFraction * tolerance;
  const double outside = (radius + clear) * (radius + clear);
  const double inside = radius > clear ? (radius - clear) * (radius - clear) : -1.0;
  const double rounding = 1.0 + 16.0 * std::numeric_limits<double>::epsilon();
  struct Interval {
    double u, v;
  };
  std::vector<Interval> stack{{-1.0, 1.0}};
  long count = 0;
  std::optional<Vec2> point;
  while (!stack.empty() && !point) {
    const Interval piece = stack.back();
    stack.pop_back();
    ++count;
    const double mid = 0.5 * (piece.u + piece.v);
    for (const double t : {piece.u, mid, piece.v}) {
      if (!point && std::fabs(offset(t)) <= tolerance) point = path.at(t);
    }
    if (point) break;
    // Outside at one end, inside at the other: it crosses in between.
    if ((offset(piece.u) > 0.0) != (offset(piece.v) > 0.0)) {
      double u = piece.u;
      double v = piece.v;
      for (int i = 0; i < 200 && std::fabs(offset(0.5 * (u + v))) > tolerance; ++i) {
        ((offset(0.5 * (u + v)) > 0.0) == (offset(u) > 0.0) ? u : v) = 0.5 * (u + v);
      }
      point = path.at(0.5 * (u + v));
      break;
    }
    const ControlPolygon c = controlPolygon(d, piece.u, piece.v);
    // Bernstein coefficients of |d|^2, the product of d with itself.
    const std::array<double, 5> h{dot(c[0], c[0]), dot(c[0], c[1]),
                                  (2.0 * dot(c[0], c[2]) + 4.0 * dot(c[1], c[1])) / 6.0,
                                  dot(c[1], c[2]), dot(c[2], c[2])};
    const double lowest = *std::min_element(h.begin(), h.end());
    const double highest = *std::max_element(h.begin(), h.end());
    if (lowest > outside * rounding || highest * rounding < inside) continue;
    stack.push_back({piece.u, mid});
    stack.push_back({mid, piece.v});
  }
  if (pieces) *pieces += count;
  return point;
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

std::optional<Contact> findContact(const ProblemModel& model, const std::vector<Loop>& loops,
                                   long* pieces) {
  const double tolerance = contactTolerance(model);
  const SharedEndMap shared = sharedEnds(loops);
  const std::vector<SharedEnd> none;
  const auto element = [&](std::int32_t e) -> const BoundaryElement& {
    return model.elements[static_cast<std::size_t>(e)];
  };
  for (std::int32_t i = 0; i < model.elementCount; ++i) {
    if (element(i).kind == kCurve) {
      if (const auto point =
              pathDoublesBack(quadraticPathOf(element(i), model.points), tolerance)) {
        return Contact{i, i, *point};
      }
    }
    for (std::int32_t j = i + 1; j < model.elementCount; ++j) {
      const BoundaryElement& a = element(i);
      const BoundaryElement& b = element(j);
      std::optional<Vec2> point;
      if (a.kind == kCircle && b.kind == kCircle) {
        point =
            circlesMeet(circlePathOf(a, model.points), circlePathOf(b, model.points), tolerance);
      } else if (a.kind == kCircle) {
        point = circleMeetsPath(circlePathOf(a, model.points), quadraticPathOf(b, model.points),
                                tolerance, pieces);
      } else if (b.kind == kCircle) {
        point = circleMeetsPath(circlePathOf(b, model.points), quadraticPathOf(a, model.points),
                                tolerance, pieces);
      } else {
        const auto found = shared.find({i, j});
        point = pathsMeet(quadraticPathOf(a, model.points), quadraticPathOf(b, model.points),
                          found == shared.end() ? none : found->second, tolerance, pieces);
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
  std::string note = smallFeatureNote(model, contact->first);
  if (note.empty()) note = smallFeatureNote(model, contact->second);
  fatalStop("\nElements " + std::to_string(contact->first) + " and " +
            std::to_string(contact->second) + " touch or cross at " + where +
            ": elements may meet only where one side of an outline ends and the next begins;\n" +
            note);
}

}  // namespace qbr
