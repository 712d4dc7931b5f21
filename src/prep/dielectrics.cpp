#include "prep/dielectrics.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>

#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"
#include "prep/element_paths.hpp"
#include "prep/grids.hpp"
#include "prep/intersections.hpp"
#include "prep/loops.hpp"
#include "prep/setup.hpp"

namespace qbr {

namespace {

std::size_t idx(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

// The corners of the wideband Debye model, in Hz: the loss tangent is nearly constant
// between them, which covers 1 kHz to 100 GHz with a decade to spare on either side.
constexpr double kDebyeLow = 1e2;
constexpr double kDebyeHigh = 1e12;

Complex debyeShape(double frequencyHz) {
  const Complex jf(0.0, frequencyHz);
  return std::log10((kDebyeHigh + jf) / (kDebyeLow + jf));
}

// ---------------------------------------------------------------------------------
// Where the outlines meet.

// An element as the intersection search sees it: a polynomial path in t (lines and
// curves) or a circle, with the implicit equation of its shape.
class Shape {
 public:
  Shape(const BoundaryElement& element, const PointTable& points)
      : geometry_(element.geometry(points)), circle_(element.kind == kCircle) {
    if (circle_) {
      circlePath_ = circlePathOf(element, points);
      ccw_ = element.dir;
    } else {
      path_ = quadraticPathOf(element, points);
      // A curve whose points lie on one line is a line run unevenly.
      const double bend = std::fabs(cross(path_.a, path_.b));
      curved_ = norm(path_.a) > 0.0 && bend > 1e-12 * norm(path_.a) * norm(path_.b);
    }
  }

  const ElementGeometry& geometry() const { return geometry_; }
  bool closed() const { return circle_; }

  // Implicit equation g(p) = 0 of the whole shape, scaled so that near the shape |g|
  // is about the distance from it.
  double implicit(Vec2 p) const {
    if (circle_) {
      const Vec2 d = p - circlePath_.centre;
      return (dot(d, d) - circlePath_.radius * circlePath_.radius) / (2.0 * circlePath_.radius);
    }
    const Vec2 d = p - path_.c;
    if (!curved_) return cross(path_.b, d) / norm(path_.b);
    // With U = b, W = a: cross(U, d) = s^2 cross(U, W), cross(W, d) = s cross(W, U).
    const double c = cross(path_.a, path_.b);
    const double w = cross(path_.a, d);
    const double g = c * cross(path_.b, d) + w * w;
    // |grad g| on the curve at parameter s is |c| |b + 2 s a|.
    const double s = w / c;
    const double gradient = std::fabs(c) * norm(path_.b + (2.0 * s) * path_.a);
    return g / std::max(gradient, std::numeric_limits<double>::min());
  }

  // Whether p, which lies on the whole shape, lies on the element (within `slack` in t).
  bool covers(Vec2 p, double slack) const {
    if (circle_) return true;
    const Vec2 d = p - path_.c;
    double s = 0.0;
    if (curved_) {
      s = cross(path_.a, d) / cross(path_.a, path_.b);
    } else {
      // d = b s + a s^2 along one line: the root of the projection nearest to [-1, 1].
      const double bb = dot(path_.b, path_.b);
      const double ab = dot(path_.a, path_.b);
      double roots[2];
      const int n = quadraticRootsInside(ab / bb, 1.0, -dot(d, path_.b) / bb, roots);
      s = n > 0 ? roots[0] : dot(d, path_.b) / bb;
      if (ab == 0.0) s = dot(d, path_.b) / bb;
    }
    return s >= -1.0 - slack && s <= 1.0 + slack;
  }

  // The element's end points (none for a circle).
  std::vector<Vec2> ends() const {
    if (circle_) return {};
    return {path_.at(-1.0), path_.at(1.0)};
  }

  // Parameters t in (-1, 1) (a circle: [-1, 1)) where the element crosses the zero set
  // of `g`: sign changes of g along it, bracketed on the monotone stretches of the
  // quartic g(p(t)) for lines and curves, on a fine sampling for circles.
  template <typename G>
  std::vector<double> crossings(const G& g) const {
    std::vector<double> roots;
    const auto value = [&](double t) { return g(geometry_.pointAt(t)); };
    if (circle_) {
      constexpr int kSamples = 2048;
      double previous = value(-1.0);
      for (int i = 1; i <= kSamples; ++i) {
        const double t = -1.0 + 2.0 * i / kSamples;
        const double current = value(t);
        if ((previous < 0.0) != (current < 0.0)) {
          roots.push_back(bisect(value, t - 2.0 / kSamples, t));
        }
        previous = current;
      }
      return roots;
    }
    // g(p(t)) is a polynomial of degree 4 at most: its coefficients from five samples.
    const std::array<double, 5> at = {-1.0, -0.5, 0.0, 0.5, 1.0};
    std::array<double, 5> values{};
    for (std::size_t i = 0; i < 5; ++i) values[i] = value(at[i]);
    const std::array<double, 5> poly = interpolate(at, values);
    std::vector<double> stretchEnds = {-1.0};
    for (const double c : realRoots(derivative(poly), 3)) stretchEnds.push_back(c);
    stretchEnds.push_back(1.0);
    const auto p = [&](double t) { return evaluate(poly, t); };
    for (std::size_t i = 0; i + 1 < stretchEnds.size(); ++i) {
      const double a = stretchEnds[i];
      const double b = stretchEnds[i + 1];
      if (b <= a) continue;
      if ((p(a) < 0.0) != (p(b) < 0.0)) roots.push_back(bisect(p, a, b));
    }
    return roots;
  }

  // The parameter of the element's point nearest to p.
  double nearest(Vec2 p) const { return nearestParameter(geometry_, p); }

 private:
  template <typename F>
  static double bisect(const F& f, double a, double b) {
    const bool negativeAtA = f(a) < 0.0;
    for (int i = 0; i < 80; ++i) {
      const double m = 0.5 * (a + b);
      if ((f(m) < 0.0) == negativeAtA) {
        a = m;
      } else {
        b = m;
      }
    }
    return 0.5 * (a + b);
  }

  // Coefficients c0 + c1 t + ... + c4 t^4 through five points (Newton's differences).
  static std::array<double, 5> interpolate(const std::array<double, 5>& x,
                                           const std::array<double, 5>& y) {
    std::array<double, 5> d = y;
    for (std::size_t k = 1; k < 5; ++k)
      for (std::size_t i = 4; i >= k; --i) d[i] = (d[i] - d[i - 1]) / (x[i] - x[i - k]);
    std::array<double, 5> c{};
    // Horner's expansion of the Newton form into powers of t.
    for (std::size_t k = 5; k-- > 0;) {
      std::array<double, 5> next{};
      for (std::size_t i = 0; i < 4; ++i) {
        next[i + 1] += c[i];
        next[i] -= c[i] * x[k];
      }
      next[0] += d[k];
      c = next;
    }
    return c;
  }
  static std::array<double, 5> derivative(const std::array<double, 5>& c) {
    return {c[1], 2.0 * c[2], 3.0 * c[3], 4.0 * c[4], 0.0};
  }
  static double evaluate(const std::array<double, 5>& c, double t) {
    return (((c[4] * t + c[3]) * t + c[2]) * t + c[1]) * t + c[0];
  }
  // Real roots in (-1, 1) of the polynomial of degree `degree`, ascending: between the
  // roots of its derivative it is monotone.
  static std::vector<double> realRoots(const std::array<double, 5>& c, int degree) {
    std::vector<double> roots;
    if (degree <= 0) return roots;
    std::vector<double> ends = {-1.0};
    if (degree > 1) {
      for (const double r : realRoots(derivative(c), degree - 1)) ends.push_back(r);
    }
    ends.push_back(1.0);
    const auto f = [&](double t) { return evaluate(c, t); };
    for (std::size_t i = 0; i + 1 < ends.size(); ++i) {
      if (ends[i + 1] <= ends[i]) continue;
      if ((f(ends[i]) < 0.0) != (f(ends[i + 1]) < 0.0))
        roots.push_back(bisect(f, ends[i], ends[i + 1]));
    }
    return roots;
  }

  ElementGeometry geometry_;
  bool circle_ = false;
  bool ccw_ = true;
  bool curved_ = false;
  QuadraticPath path_;
  CirclePath circlePath_;
};

// The parameters on `e` where `f` meets it so that the media beside `e` may change:
// where f crosses e, and where an end of f lies on e (a corner on a side, the ends of a
// stretch the two share). Sorted, without repeats and without e's own ends.
std::vector<double> meetingParameters(const Shape& e, const Shape& f, double tolerance) {
  std::vector<double> params;
  const double length = e.geometry().measureLength();
  // Where f's whole shape runs along e, every point is a root: only f's ends count.
  bool alongside = true;
  for (int i = 0; i <= 16 && alongside; ++i) {
    alongside = std::fabs(f.implicit(e.geometry().pointAt(-1.0 + i / 8.0))) < tolerance;
  }
  if (!alongside) {
    const double slack = tolerance / std::max(f.geometry().measureLength(), tolerance);
    for (const double t : e.crossings([&](Vec2 p) { return f.implicit(p); })) {
      if (f.covers(e.geometry().pointAt(t), 4.0 * slack)) params.push_back(t);
    }
  }
  for (const Vec2 end : f.ends()) {
    const double t = e.nearest(end);
    const Vec2 d = e.geometry().pointAt(t) - end;
    if (norm(d) < tolerance) params.push_back(t);
  }
  std::sort(params.begin(), params.end());
  std::vector<double> kept;
  const double same = std::max(tolerance / length, 1e-12);
  for (const double t : params) {
    if (!e.closed() && (t <= -1.0 + same || t >= 1.0 - same)) continue;
    if (!kept.empty() && t - kept.back() < same) continue;
    kept.push_back(t);
  }
  if (e.closed() && kept.size() > 1 && kept.front() + 2.0 - kept.back() < same) kept.pop_back();
  return kept;
}

// The pieces of e between consecutive parameters (a circle's last piece runs past 1).
std::vector<std::pair<double, double>> piecesBetween(const Shape& e, std::vector<double> cuts) {
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::pair<double, double>> pieces;
  if (e.closed()) {
    if (cuts.empty()) return {{-1.0, 1.0}};
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) pieces.push_back({cuts[i], cuts[i + 1]});
    pieces.push_back({cuts.back(), cuts.front() + 2.0});
    return pieces;
  }
  double from = -1.0;
  for (const double t : cuts) {
    pieces.push_back({from, t});
    from = t;
  }
  pieces.push_back({from, 1.0});
  return pieces;
}

std::vector<double> mergedCuts(std::vector<double> cuts) {
  std::sort(cuts.begin(), cuts.end());
  std::vector<double> kept;
  for (const double t : cuts) {
    if (kept.empty() || t - kept.back() > 1e-12) kept.push_back(t);
  }
  return kept;
}

// ---------------------------------------------------------------------------------
// What fills a point.

// Where an interface ends on metal or at a corner of a region the bound charge is more
// singular than the metal's at its own corners, and the flux condition, unlike the
// single layer of the metal, gains no order from a variational form: its pieces are
// graded toward both ends as x^3 (see kMetalGrading). Measured on a strip resting on a
// slab in a shield: C converges at about second order, against first order at x^1.5.
constexpr double kInterfaceGrading = 3.0;

constexpr std::int32_t kMetal = -2;
constexpr std::int32_t kBackground = -1;

// The metal's loops and the dielectric outlines' loops, with what each encloses.
class MediaMap {
 public:
  explicit MediaMap(const ProblemModel& model)
      : metal_(model), dielectric_(model), mirror_(model.symmetryOn) {
    metalLoops_ = findLoops(metal_);
    dielectric_.elementCount = 0;
    for (const BoundaryElement& outline : model.dielectricOutlines) {
      BoundaryElement e = outline;
      e.conductor = 0;
      dielectric_.elements[idx(dielectric_.elementCount++)] = e;
    }
    dielectricLoops_ = findLoops(dielectric_);
    for (const Loop& loop : dielectricLoops_) {
      areas_.push_back(loop.closed ? std::fabs(signedArea(dielectric_, loop)) : 0.0);
    }
  }

  const ProblemModel& dielectricModel() const { return dielectric_; }
  const std::vector<Loop>& dielectricLoops() const { return dielectricLoops_; }

  bool inMetal(Vec2 p) const {
    // With symmetry on, the half plane below y = 0 stands for the ideal ground plane.
    if (mirror_ && p.y < 0.0) return true;
    for (std::int32_t c = 0; c <= kMaxConductorNumber; ++c) {
      int count = 0;
      for (const Loop& loop : metalLoops_) {
        if (loop.closed && loop.conductor == c && loopEncloses(metal_, loop, p)) ++count;
      }
      if (count % 2 == 1) return true;
    }
    return false;
  }

  // The index of the innermost dielectric loop around p, or -1.
  int innermostLoop(Vec2 p) const {
    int best = -1;
    for (std::size_t i = 0; i < dielectricLoops_.size(); ++i) {
      const Loop& loop = dielectricLoops_[i];
      if (!loop.closed || !loopEncloses(dielectric_, loop, p)) continue;
      if (best < 0 || areas_[i] < areas_[idx(best)]) best = static_cast<int>(i);
    }
    return best;
  }

  // kMetal, kBackground or the region number that fills p.
  std::int32_t regionAt(Vec2 p) const {
    if (inMetal(p)) return kMetal;
    const int loop = innermostLoop(p);
    return loop < 0 ? kBackground : dielectricLoops_[idx(loop)].patch;
  }

 private:
  ProblemModel metal_;
  ProblemModel dielectric_;
  bool mirror_ = false;
  std::vector<Loop> metalLoops_;
  std::vector<Loop> dielectricLoops_;
  std::vector<double> areas_;
};

std::string outlineList(const Loop& loop) {
  std::string text = loop.elements.size() == 1 ? "element " : "elements ";
  for (std::size_t i = 0; i < loop.elements.size(); ++i) {
    if (i > 0) text += ", ";
    text.push_back('d');
    text += std::to_string(loop.elements[i]);
  }
  return text;
}

std::string regionName(std::int32_t region) {
  if (region >= kMaxPatches) return "layer " + std::to_string(region - kMaxPatches + 1);
  return "patch " + std::to_string(region);
}

// The whole extent of the metal and the dielectric outlines, after gridsize.
Box modelBox(const ProblemModel& model) {
  Box box{std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  const auto grow = [&](const BoundaryElement& e) {
    const Box b = e.geometry(model.points).boundingBox();
    box.xmin = std::min(box.xmin, b.xmin);
    box.xmax = std::max(box.xmax, b.xmax);
    box.ymin = std::min(box.ymin, b.ymin);
    box.ymax = std::max(box.ymax, b.ymax);
  };
  for (std::int32_t e = 0; e < model.elementCount; ++e) grow(model.elements[idx(e)]);
  for (const BoundaryElement& e : model.dielectricOutlines) grow(e);
  return box;
}

// The offset from a piece's middle to either side at which the media beside it are
// told: far below any gap the checks let pass, far above the rounding of coordinates.
double sideOffset(const ProblemModel& model) {
  const Box box = modelBox(model);
  const double extent = std::max(box.xmax - box.xmin, box.ymax - box.ymin);
  const double largest = std::max(
      {std::fabs(box.xmin), std::fabs(box.xmax), std::fabs(box.ymin), std::fabs(box.ymax)});
  return 1e-10 * extent + 1e3 * std::numeric_limits<double>::epsilon() * largest;
}

double meetingTolerance(const ProblemModel& model) {
  return 4.0 * sideOffset(model);
}

// Every piece of every dielectric outline element, split where any element meets it,
// with what lies on either side.
struct OutlinePiece {
  std::int32_t outline = 0;
  double t0 = -1.0, t1 = 1.0;
  std::int32_t left = kBackground, right = kBackground;
  Vec2 middle;
  double length = 0.0;
};

std::vector<OutlinePiece> outlinePieces(const ProblemModel& model, const MediaMap& media) {
  const double tolerance = meetingTolerance(model);
  const double offset = sideOffset(model);
  std::vector<Shape> metal;
  for (std::int32_t e = 0; e < model.elementCount; ++e)
    metal.emplace_back(model.elements[idx(e)], model.points);
  std::vector<Shape> outlines;
  for (const BoundaryElement& e : model.dielectricOutlines) outlines.emplace_back(e, model.points);

  std::vector<OutlinePiece> pieces;
  for (std::size_t d = 0; d < outlines.size(); ++d) {
    std::vector<double> cuts;
    const auto cutBy = [&](const Shape& other) {
      for (const double t : meetingParameters(outlines[d], other, tolerance)) cuts.push_back(t);
    };
    for (const Shape& m : metal) cutBy(m);
    for (std::size_t o = 0; o < outlines.size(); ++o)
      if (o != d) cutBy(outlines[o]);
    for (const auto& [t0, t1] : piecesBetween(outlines[d], mergedCuts(cuts))) {
      BoundaryElement piece = model.dielectricOutlines[d];
      piece.tFrom = t0;
      piece.tTo = t1;
      const ElementGeometry g = piece.geometry(model.points);
      OutlinePiece out;
      out.outline = static_cast<std::int32_t>(d);
      out.t0 = t0;
      out.t1 = t1;
      out.middle = g.pointAt(0.0);
      out.length = g.measureLength();
      if (!(out.length > tolerance)) continue;
      const Vec2 n = g.normalAt(0.0);
      out.left = media.regionAt(out.middle + offset * n);
      out.right = media.regionAt(out.middle - offset * n);
      pieces.push_back(out);
    }
  }
  return pieces;
}

Complex mediumAt(const ProblemModel& model, std::int32_t region, Complex background) {
  if (region == kBackground) return background;
  return relativePermittivity(regionMedium(model, region), model.frequency);
}

// The metal beside the end of an interface: the coarsest average node spacing of its
// elements there (at a corner, the longer side's).
struct MetalGrid {
  double spacing = std::numeric_limits<double>::infinity();
  // The finest average spacing among the metal elements there.
  double finest = std::numeric_limits<double>::infinity();
};

// Nodes for a piece of an outline: its share of the outline's grid count, or its length
// over ah; where it ends on metal, at least as many as the metal's spacing there gives
// it: the charge crowds toward such an end as on the metal beside it, and a gap between
// two films, a small piece of a long outline, would otherwise get a handful (six across
// the gaps of the gallery's coplanar line put C 20 % high). Measured on the FR4
// microstrip: bounded by 240 nodes, or by the metal element's count, C stops converging
// with the metal's refinement at about 1e-4; unbounded (up to 500) it converges to 4e-6.
std::int32_t countFor(const BoundaryElement& outline, double pieceLength, double outlineLength,
                      double ah, const MetalGrid& metal) {
  double count = outline.gridCount > 0 ? std::ceil(outline.gridCount * pieceLength / outlineLength)
                                       : std::ceil(pieceLength / ah);
  count = std::max(count, std::ceil(pieceLength / metal.spacing));
  if (!(count >= kMinGridCount)) count = kMinGridCount;
  if (count > kMaxGridCount) count = kMaxGridCount;
  return static_cast<std::int32_t>(count);
}

// Junction grading. Beside a metal corner on a dielectric the charge density falls off as
// r^(nu - 1), and on the interface beside it too; nu is 0.525 for a strip's edge on
// silicon (er 11.7), 0.56 on FR4 (4.3), 2/3 at a corner in one medium. A grid graded as
// s^q leaves an error of about n^(-q nu) there: the x^2 of the metal's grading gives C
// first order (measured: the coplanar line on silicon and the FR4 microstrip both
// converge as n^-1 in the metal's count). s^4 gives second order for every nu above 1/2.
constexpr double kJunctionGrading = 4.0;
// The nodes of all elements at a junction start at one distance from it, the coarsest
// first node's among them (each graded s^4 alone): an element whose nodes sit far closer
// to the junction than its neighbour's collocates a charge its neighbour does not resolve
// (with s^4 on every element alone the coplanar line's C went up by 6e-4 from one pass
// to the next, from the finest first node down it went 9 % off). Never closer than this
// share of an element's length: at 1e-10 the FR4 microstrip's C no longer changed
// monotonically from pass to pass, at 1e-9 it does.
constexpr double kJunctionClosest = 1e-9;

// n nodes on an open element graded toward its start as s^qStart and toward its end as
// (1 - s)^qEnd, s at the midpoints of n equal steps.
void placeEndGradedNodes(BoundaryElement& element, const PointTable& points, std::int32_t n,
                         double qStart, double qEnd) {
  placeNodes(element, points, n);
  const ElementGeometry geometry = element.geometry(points);
  if (!geometry.hasEndPoints()) return;
  for (std::int32_t i = 1; i <= n; ++i) {
    const double s = (i - 0.5) / n;
    const double a = std::pow(s, qStart);
    element.nodeT[idx(i)] = 2.0 * a / (a + std::pow(1.0 - s, qEnd)) - 1.0;
    const Vec2 p = geometry.pointAt(element.nodeT[idx(i)]);
    element.nodeX[idx(i)] = p.x;
    element.nodeY[idx(i)] = p.y;
  }
}

// The grids of the metal (lines and curves) and of the interfaces graded toward the
// junctions, as their base gradings elsewhere.
void gradeToJunctions(ProblemModel& model, DielectricLayout& layout, double metalGrading) {
  std::vector<BoundaryElement*> elements;
  std::vector<std::array<double, 2>> grading;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    BoundaryElement& element = model.elements[idx(e)];
    if (element.kind == kCircle) continue;
    elements.push_back(&element);
    grading.push_back({metalGrading, metalGrading});
  }
  for (BoundaryElement& piece : layout.interfaces) {
    elements.push_back(&piece);
    grading.push_back({kInterfaceGrading, kInterfaceGrading});
  }
  std::vector<std::array<Vec2, 2>> ends;
  for (const BoundaryElement* element : elements) {
    const ElementGeometry g = element->geometry(model.points);
    ends.push_back({g.pointAt(-1.0), g.pointAt(1.0)});
  }
  const double tolerance = meetingTolerance(model);
  for (const auto& junction : layout.junctions) {
    const Vec2 at{junction[0], junction[1]};
    std::vector<std::pair<std::size_t, std::size_t>> here;  // element, end
    for (std::size_t k = 0; k < elements.size(); ++k)
      for (std::size_t side = 0; side < 2; ++side)
        if (norm(ends[k][side] - at) <= tolerance) here.push_back({k, side});
    // The first node of n graded as s^q lies at length * (1 / 2n)^q from the end.
    const auto first = [&](std::size_t k, double q) {
      return elements[k]->length * std::pow(0.5 / elements[k]->gridCount, q);
    };
    double distance = 0.0;
    for (const auto& [k, side] : here) {
      distance = std::max(distance, std::max(first(k, kJunctionGrading),
                                             kJunctionClosest * elements[k]->length));
    }
    for (const auto& [k, side] : here) {
      const double q = std::log(distance / elements[k]->length) /
                       std::log(0.5 / elements[k]->gridCount);
      grading[k][side] = std::max(q, 1.0);
    }
  }
  for (std::size_t k = 0; k < elements.size(); ++k) {
    placeEndGradedNodes(*elements[k], model.points, elements[k]->gridCount, grading[k][0],
                        grading[k][1]);
  }
}

void placeInterfaceNodes(BoundaryElement& piece, const PointTable& points, std::int32_t n) {
  placeGradedNodes(piece, points, n, true, true, kInterfaceGrading);
}

}  // namespace

Complex relativePermittivity(const Medium& medium, double frequencyHz) {
  const Complex stated(medium.permittivity, -medium.permittivity * medium.lossTangent);
  if (medium.statedAt <= 0.0 || medium.lossTangent == 0.0) return stated;
  // eps = eps_inf + k F(f): k from the loss, eps_inf from the real part at the stated f.
  const Complex atStated = debyeShape(medium.statedAt * frequencyFactor(medium.statedUnit));
  const double k = stated.imag() / atStated.imag();
  const double infinite = stated.real() - k * atStated.real();
  return infinite + k * debyeShape(frequencyHz);
}

bool hasDielectricRegions(const ProblemModel& model) {
  return !model.dielectricOutlines.empty() || !model.layers.empty();
}

void separateDielectricOutlines(ProblemModel& model) {
  std::int32_t kept = 0;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    BoundaryElement& element = model.elements[idx(e)];
    const bool dielectric = element.patch >= 0 && element.patch < kMaxPatches &&
                            model.patches[idx(element.patch)].dielectric;
    if (dielectric) {
      model.dielectricOutlines.push_back(std::move(element));
    } else if (kept != e) {
      model.elements[idx(kept++)] = std::move(element);
    } else {
      ++kept;
    }
  }
  for (std::int32_t e = kept; e < model.elementCount; ++e)
    model.elements[idx(e)] = BoundaryElement{};
  model.elementCount = kept;
}

double layerHalfWidth(double width, double stackHeight) {
  return width / 2.0 + 20.0 * std::max(width, stackHeight);
}

void addLayerOutlines(ProblemModel& model) {
  if (model.layers.empty()) return;
  const Box box = modelBox(model);
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const Layer& layer : model.layers) {
    low = std::min(low, layer.y1 * model.gridsize);
    high = std::max(high, layer.y2 * model.gridsize);
  }
  const bool any = box.xmin <= box.xmax;
  const double width = any ? box.xmax - box.xmin : high - low;
  const double middle = any ? (box.xmin + box.xmax) / 2.0 : 0.0;
  const double stack = std::max(high, any ? box.ymax : high) - std::min(low, any ? box.ymin : low);
  const double half = layerHalfWidth(width, stack);
  // Beyond the rest of the cross-section the field in the slabs fades: the sides run on
  // in pieces four times longer each, with a few nodes apiece, out to the truncation.
  const double margin = std::max(stack, 0.25 * width);
  std::vector<double> right = {width / 2.0 + margin};
  for (double piece = 4.0 * margin; right.back() < half; piece *= 4.0) {
    right.push_back(std::min(right.back() + piece, half));
  }
  std::vector<double> breaks;
  for (auto it = right.rbegin(); it != right.rend(); ++it) breaks.push_back(middle - *it);
  for (const double x : right) breaks.push_back(middle + x);
  const std::size_t sidePieces = breaks.size() - 1;
  if (model.dielectricOutlines.size() + (2 * sidePieces + 2) * model.layers.size() >
      idx(kMaxElements)) {
    fatalStop("\nToo many boundary elements generated from layers\n");
  }
  constexpr std::int32_t kFarCount = 24;
  const std::size_t core = breaks.size() / 2 - 1;  // the piece across the cross-section
  for (std::size_t i = 0; i < model.layers.size(); ++i) {
    const double y1 = model.layers[i].y1 * model.gridsize;
    const double y2 = model.layers[i].y2 * model.gridsize;
    const auto add = [&](Vec2 from, Vec2 to, std::int32_t count) {
      BoundaryElement side;
      side.kind = kLine;
      side.patch = kMaxPatches + static_cast<std::int32_t>(i);
      side.gridCount = count;
      side.pointNumbers[0] = findOrAddPoint(model, from.x, from.y);
      side.pointNumbers[1] = findOrAddPoint(model, to.x, to.y);
      computeLength(side, model.points);
      model.dielectricOutlines.push_back(side);
    };
    // Counter-clockwise: along the bottom, up, back along the top, down.
    for (std::size_t k = 0; k < sidePieces; ++k)
      add({breaks[k], y1}, {breaks[k + 1], y1}, k == core ? 0 : kFarCount);
    add({breaks.back(), y1}, {breaks.back(), y2}, kFarCount);
    for (std::size_t k = sidePieces; k-- > 0;)
      add({breaks[k + 1], y2}, {breaks[k], y2}, k == core ? 0 : kFarCount);
    add({breaks.front(), y2}, {breaks.front(), y1}, kFarCount);
  }
}

const Medium& regionMedium(const ProblemModel& model, std::int32_t region) {
  if (region >= kMaxPatches) return model.layers[idx(region - kMaxPatches)].medium;
  return model.patches[idx(region)].medium;
}

void checkDielectricOutlines(const ProblemModel& model) {
  if (model.dielectricOutlines.empty()) return;
  const MediaMap media(model);
  const std::vector<Loop>& loops = media.dielectricLoops();
  for (const Loop& loop : loops) {
    if (!loop.closed) {
      fatalStop("\nThe outline of dielectric " + regionName(loop.patch) + " (" + outlineList(loop) +
                ") is not closed: its elements must join end to start into closed loops;\n");
    }
  }
  // Two loops overlap unless every piece of one lies inside the other, outside it or on
  // it: pieces on both sides of the other's outline mean their areas cross.
  const std::vector<OutlinePiece> pieces = outlinePieces(model, media);
  const double offset = sideOffset(model);
  const ProblemModel& outlines = media.dielectricModel();
  for (std::size_t a = 0; a < loops.size(); ++a) {
    for (std::size_t b = 0; b < loops.size(); ++b) {
      if (a == b) continue;
      bool inside = false;
      bool outside = false;
      for (const OutlinePiece& piece : pieces) {
        if (std::find(loops[b].elements.begin(), loops[b].elements.end(), piece.outline) ==
            loops[b].elements.end()) {
          continue;
        }
        BoundaryElement element = model.dielectricOutlines[idx(piece.outline)];
        element.tFrom = piece.t0;
        element.tTo = piece.t1;
        const Vec2 n = element.geometry(model.points).normalAt(0.0);
        const bool leftIn = loopEncloses(outlines, loops[a], piece.middle + offset * n);
        const bool rightIn = loopEncloses(outlines, loops[a], piece.middle - offset * n);
        if (leftIn != rightIn) continue;  // on a's outline
        (leftIn ? inside : outside) = true;
      }
      if (inside && outside) {
        fatalStop("\nThe dielectric regions outlined by " + outlineList(loops[a]) + " (" +
                  regionName(loops[a].patch) + ") and by " + outlineList(loops[b]) + " (" +
                  regionName(loops[b].patch) +
                  ") overlap: regions may touch or lie one inside the other, but not cross;\n");
      }
    }
  }
}

DielectricLayout layOutDielectrics(const ProblemModel& model, RunIo* io, int gridDivisor,
                                   bool toTolerance) {
  DielectricLayout layout;
  layout.gradedToJunctions = toTolerance;
  layout.background = model.permittivity > 0.0
                          ? Complex(model.permittivity, -model.permittivity * model.lossTangent)
                          : Complex(1.0, 0.0);
  const MediaMap media(model);
  const double tolerance = meetingTolerance(model);
  const double offset = sideOffset(model);

  std::vector<Shape> outlines;
  for (const BoundaryElement& e : model.dielectricOutlines) outlines.emplace_back(e, model.points);
  std::vector<Shape> metal;
  for (std::int32_t e = 0; e < model.elementCount; ++e)
    metal.emplace_back(model.elements[idx(e)], model.points);
  // The grid of the metal element with the coarsest average spacing among those on which
  // a point lies (at a corner, the longer side's); none where there is no metal.
  const auto metalGridAt = [&](Vec2 p) {
    MetalGrid grid{0.0};
    for (std::int32_t e = 0; e < model.elementCount; ++e) {
      const Shape& shape = metal[idx(e)];
      if (norm(shape.geometry().pointAt(shape.nearest(p)) - p) > tolerance) continue;
      const BoundaryElement& element = model.elements[idx(e)];
      const double spacing = element.length / std::max(element.gridCount, 1);
      grid.spacing = std::max(grid.spacing, spacing);
      grid.finest = std::min(grid.finest, spacing);
    }
    return grid.spacing > 0.0 ? grid : MetalGrid{};
  };

  // The exposed pieces of the outlines; a side two regions share appears once.
  std::vector<double> outlineLength;
  for (const BoundaryElement& e : model.dielectricOutlines)
    outlineLength.push_back(e.geometry(model.points).measureLength());
  std::vector<OutlinePiece> kept;
  // Regions that fill some space outside the metal: the medium beside a piece of outline
  // or a side of metal.
  std::vector<bool> regionUsed(idx(kMaxPatches + kMaxDielectricLayers), false);
  const auto use = [&](std::int32_t region) {
    if (region >= 0) regionUsed[idx(region)] = true;
  };
  for (const OutlinePiece& piece : outlinePieces(model, media)) {
    use(piece.left);
    use(piece.right);
    if (piece.left == kMetal || piece.right == kMetal) continue;
    const Complex left = mediumAt(model, piece.left, layout.background);
    const Complex right = mediumAt(model, piece.right, layout.background);
    if (left == right) continue;
    const bool repeated = std::any_of(kept.begin(), kept.end(), [&](const OutlinePiece& other) {
      return norm(other.middle - piece.middle) < tolerance &&
             std::fabs(other.length - piece.length) < tolerance;
    });
    if (repeated) continue;
    kept.push_back(piece);
    BoundaryElement element = model.dielectricOutlines[idx(piece.outline)];
    element.tFrom = piece.t0;
    element.tTo = piece.t1;
    element.conductor = -1;
    computeLength(element, model.points);
    const ElementGeometry g = element.geometry(model.points);
    const MetalGrid start = metalGridAt(g.pointAt(-1.0));
    const MetalGrid end = metalGridAt(g.pointAt(1.0));
    MetalGrid metal = start.spacing < end.spacing ? start : end;
    if (toTolerance) {
      for (const auto& [t, here] : {std::pair{-1.0, start}, std::pair{1.0, end}}) {
        if (std::isfinite(here.spacing))
          layout.junctions.push_back({g.pointAt(t).x, g.pointAt(t).y});
      }
      // Between two conductors the field is strongest; the charge on the gap's interface
      // crowds toward both edges as on the finest metal there. Measured on the coplanar
      // line on silicon (6 um gaps beside 0.2 um thick strips): with the coarser metal's
      // spacing (18 nodes) C is 3 % high on the run's own grids, with the finer's (210)
      // within 3e-4.
      if (std::isfinite(start.spacing) && std::isfinite(end.spacing))
        metal.spacing = std::min(start.finest, end.finest);
    }
    const std::int32_t n =
        std::max(countFor(element, element.length, outlineLength[idx(piece.outline)], model.ah,
                          metal) /
                     gridDivisor,
                 2);
    placeInterfaceNodes(element, model.points, n);
    layout.interfaces.push_back(std::move(element));
    layout.permittivityLeft.push_back(left);
    layout.permittivityRight.push_back(right);
    layout.outlineOf.push_back(piece.outline);
  }

  // The media along the metal.
  for (const BoundaryElement& e : model.dielectricOutlines) outlines.emplace_back(e, model.points);
  for (std::int32_t m = 0; m < model.elementCount; ++m) {
    const BoundaryElement& element = model.elements[idx(m)];
    const Shape shape(element, model.points);
    std::vector<double> cuts;
    for (const Shape& o : outlines)
      for (const double t : meetingParameters(shape, o, tolerance)) cuts.push_back(t);
    std::vector<MediumSide> sides;
    for (const auto& [t0, t1] : piecesBetween(shape, mergedCuts(cuts))) {
      const double middle = 0.5 * (t0 + t1);
      const ElementGeometry& g = shape.geometry();
      const Vec2 outside = g.pointAt(middle) - offset * g.normalAt(middle);
      std::int32_t region = kBackground;
      if (!media.inMetal(outside)) {
        const int loop = media.innermostLoop(outside);
        if (loop >= 0) region = media.dielectricLoops()[idx(loop)].patch;
      }
      use(region);
      sides.push_back({t0, t1, mediumAt(model, region, layout.background)});
    }
    layout.metalSides.push_back(std::move(sides));
  }

  if (io != nullptr) {
    for (std::int32_t region = 0; region < kMaxPatches + kMaxDielectricLayers; ++region) {
      if (regionUsed[idx(region)] ||
          !std::any_of(model.dielectricOutlines.begin(), model.dielectricOutlines.end(),
                       [&](const BoundaryElement& e) { return e.patch == region; })) {
        continue;
      }
      const std::string text = "Warning: dielectric " + regionName(region) +
                               " fills no space outside the metal and the regions inside it, "
                               "so it has no effect;";
      io->warn(text, text + "\n", text + "\n");
    }
    std::ostringstream log;
    log << "\nDielectric interfaces: " << layout.interfaces.size() << "\n";
    for (std::size_t i = 0; i < layout.interfaces.size(); ++i) {
      const BoundaryElement& e = layout.interfaces[i];
      log << "interface " << i << "  outline d" << layout.outlineOf[i] << "  t=" << e.tFrom << ".."
          << e.tTo << "  eps left=" << layout.permittivityLeft[i]
          << "  right=" << layout.permittivityRight[i] << "  ni=" << e.gridCount << "\n";
    }
    io->log << log.str();
  }
  return layout;
}

void gradeMetalForDielectrics(ProblemModel& model, DielectricLayout& layout) {
  constexpr double kMetalGrading = 2.0;
  if (layout.gradedToJunctions) {
    gradeToJunctions(model, layout, kMetalGrading);
    return;
  }
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    BoundaryElement& element = model.elements[idx(e)];
    if (element.kind == kCircle) continue;
    placeGradedNodes(element, model.points, element.gridCount, true, true, kMetalGrading);
  }
}

DielectricLayout scaledLayout(const ProblemModel& model, const DielectricLayout& layout,
                              double factor) {
  DielectricLayout scaled = layout;
  for (BoundaryElement& e : scaled.interfaces) {
    const double n = std::ceil(e.gridCount * factor - 1e-9);
    placeInterfaceNodes(e, model.points, std::max(static_cast<std::int32_t>(n), 2));
  }
  return scaled;
}

std::string dielectricSummary(const ProblemModel& model) {
  std::ostringstream text;
  bool first = true;
  const auto medium = [&](const std::string& name, const Medium& m) {
    text << (first ? "" : "; ") << name << " " << m.permittivity;
    if (m.lossTangent > 0.0) text << " tan d " << m.lossTangent;
    if (m.statedAt > 0.0 && m.lossTangent > 0.0)
      text << " (wideband, at " << m.statedAt << " " << m.statedUnit << ")";
    first = false;
  };
  for (std::int32_t p = 0; p < model.patchCount && p < kMaxPatches; ++p) {
    const MaterialPatch& patch = model.patches[idx(p)];
    if (!patch.dielectric) continue;
    const bool used = std::any_of(model.dielectricOutlines.begin(), model.dielectricOutlines.end(),
                                  [&](const BoundaryElement& e) { return e.patch == p; });
    if (used) medium("patch " + std::to_string(p) + " er", patch.medium);
  }
  for (std::size_t i = 0; i < model.layers.size(); ++i) {
    const Layer& layer = model.layers[i];
    std::ostringstream name;
    name << "layer y " << layer.y1 << ".." << layer.y2 << " er";
    medium(name.str(), layer.medium);
  }
  Medium outside;
  outside.permittivity = model.permittivity > 0.0 ? model.permittivity : 1.0;
  outside.lossTangent = model.permittivity > 0.0 ? model.lossTangent : 0.0;
  medium("elsewhere er", outside);
  return text.str();
}

}  // namespace qbr
