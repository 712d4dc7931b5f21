#include "plot/eps_plot.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"

namespace qbr {

namespace {

// The drawing window on the page, in PostScript points.
constexpr int kPageLeft = 50;
constexpr int kPageRight = 550;
constexpr int kPageBottom = 300;
constexpr int kPageTop = 800;

// Far beyond any page, well inside the int32 range.
constexpr double kPageLimit = 1e9;

const char* const kColourProcedures[] = {
    "/c1  {1 0 0     setrgbcolor} def",   "/c2  {0 1 0     setrgbcolor} def",
    "/c3  {0 0 1     setrgbcolor} def",   "/c4  {0 1 1     setrgbcolor} def",
    "/c5  {1 0 1     setrgbcolor} def",   "/c6  {1 1 0     setrgbcolor} def",
    "/c7  {0.5 0 1     setrgbcolor} def", "/c8  {0.6 0.2 0.2   setrgbcolor} def",
    "/c9  {0.5 0 0     setrgbcolor} def", "/c10 {0 0.5 0     setrgbcolor} def",
    "/c11 {0 0 0.5     setrgbcolor} def", "/c12 {0 0.5 0.5   setrgbcolor} def",
    "/c13 {0.5 0 0.5   setrgbcolor} def", "/c14 {0.5 0.5 0   setrgbcolor} def",
    "/c15 {0.25 0 0.5  setrgbcolor} def", "/c16 {0 0 0     setrgbcolor} def",
};

struct Window {
  double x0, x1, y0, y1;
};

// The square window around the model box, with a 5 % margin on the longer side; the
// shorter side is centred.
Window squareWindow(const Box& box) {
  double mx = 0.05 * std::fabs(box.xmax - box.xmin);
  double my = 0.05 * std::fabs(box.ymax - box.ymin);
  // A model flat in one direction borrows the margin of the other.
  if (std::fabs(my) < kTiny) my = mx;
  if (std::fabs(mx) < kTiny) mx = my;

  Window w{};
  if ((box.xmax - box.xmin + 2.0 * mx) / (box.ymax - box.ymin + 2.0 * my) > 1.0) {
    w.x0 = box.xmin - mx;
    w.x1 = box.xmax + mx;
    const double cy = (box.ymin + box.ymax) * 0.5;
    const double half = (w.x1 - w.x0) * 250 / 500;
    w.y0 = cy - half;
    w.y1 = cy + half;
  } else {
    w.y0 = box.ymin - my;
    w.y1 = box.ymax + my;
    const double cx = (box.xmin + box.xmax) * 0.5;
    const double half = (w.y1 - w.y0) * 250 / 500;
    w.x0 = cx - half;
    w.x1 = cx + half;
  }
  return w;
}

Box modelBox(const std::array<BoundaryElement, kMaxElements>& elements, std::int32_t count,
             const PointTable& points) {
  Box box = elements[0].geometry(points).boundingBox();
  for (std::int32_t e = 0; e < count; ++e) {
    const Box b = elements[e].geometry(points).boundingBox();
    box.xmin = std::min(box.xmin, b.xmin);
    box.ymin = std::min(box.ymin, b.ymin);
    box.xmax = std::max(box.xmax, b.xmax);
    box.ymax = std::max(box.ymax, b.ymax);
  }
  return box;
}

// The local time as the 24-character calendar text, e.g. "Thu Jan  1 00:00:00 1970".
std::string calendarText() {
  const std::time_t now = std::time(nullptr);
  // ctime_r: ctime's text in a buffer of our own, since solves may draw in several
  // threads at once.
  char buffer[64];
  const char* text = ctime_r(&now, buffer);
  if (text == nullptr) return "Thu Jan  1 00:00:00 1970";
  std::string s(text);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

// Writes whole lines, each flushed, so a run that stops later leaves a readable file.
class EpsWriter {
 public:
  EpsWriter(std::ofstream& out, const Window& w) : out_(out), w_(w) {}

  void line(const std::string& text) { out_ << text << "\n" << std::flush; }

  int x(double v) const { return pageCoordinate(v, kPageLeft, kPageRight, w_.x0, w_.x1); }
  int y(double v) const { return pageCoordinate(v, kPageBottom, kPageTop, w_.y0, w_.y1); }

  std::string at(double px, double py) const {
    return std::to_string(x(px)) + " " + std::to_string(y(py));
  }
  void moveTo(double px, double py) { line(at(px, py) + "  moveto"); }
  void lineTo(double px, double py) { line(at(px, py) + "  lineto"); }

 private:
  std::ofstream& out_;
  Window w_;
};

void drawElement(EpsWriter& eps, const BoundaryElement& element, const std::string& label,
                 const PointTable& points) {
  const ElementGeometry g = element.geometry(points);
  const auto point = [&](int i) {
    return points[static_cast<std::size_t>(element.pointNumbers[static_cast<std::size_t>(i)])];
  };

  eps.line("newpath");
  switch (element.kind) {
    case kLine:
      eps.moveTo(point(0).x, point(0).y);
      eps.lineTo(point(1).x, point(1).y);
      break;
    case kCurve: {
      // A parabola is exactly a Bezier curve: its quadratic control point is
      // 2 P1 - (P0 + P2) / 2 (P1 being the point at mid-parameter), raised to the
      // cubic control points that PostScript takes. Points on the curve used as
      // control points would draw it skewed and too flat.
      const BasicPoint p0 = point(0);
      const BasicPoint p1 = point(1);
      const BasicPoint p2 = point(2);
      const Vec2 q{2.0 * p1.x - (p0.x + p2.x) / 2.0, 2.0 * p1.y - (p0.y + p2.y) / 2.0};
      const Vec2 a{p0.x + 2.0 / 3.0 * (q.x - p0.x), p0.y + 2.0 / 3.0 * (q.y - p0.y)};
      const Vec2 b{p2.x + 2.0 / 3.0 * (q.x - p2.x), p2.y + 2.0 / 3.0 * (q.y - p2.y)};
      eps.moveTo(point(0).x, point(0).y);
      eps.line(eps.at(a.x, a.y) + " " + eps.at(b.x, b.y) + " " + eps.at(point(2).x, point(2).y) +
               " curveto");
      break;
    }
    case kCircle: {
      const BasicPoint c = point(0);
      const int r = eps.x(c.x + element.R) - eps.x(c.x);
      eps.moveTo(c.x + element.R, c.y);
      eps.line(eps.at(c.x, c.y) + " " + std::to_string(r) + " 0 360 arc");
      break;
    }
    default:
      break;
  }
  eps.line("stroke");
  eps.line("c16");
  eps.line("newpath");

  const Vec2 at = g.pointAt(0.75);
  eps.moveTo(at.x, at.y);
  eps.line(label + " show");
}

std::string metalLabel(std::int32_t index, const BoundaryElement& element) {
  char text[48];
  std::snprintf(text, sizeof text, "(%3d(%2d))", static_cast<int>(index),
                static_cast<int>(element.conductor));
  return text;
}

}  // namespace

std::int32_t pageCoordinate(double v, int a, int b, double lo, double hi) {
  const double page = a + (b - a) * (v - lo) / (hi - lo);
  if (std::isnan(page)) return 0;
  return static_cast<std::int32_t>(std::clamp(page, -kPageLimit, kPageLimit));
}

void writeEpsPlot(const std::array<BoundaryElement, kMaxElements>& elements,
                  std::int32_t elementCount, bool symmetryOn, const std::string& inputName,
                  const PointTable& points, RunIo& io,
                  const std::vector<BoundaryElement>& dielectricOutlines) {
  const std::string fileName = inputName + ".eps";
  std::ofstream out(fileName, std::ios::out | std::ios::trunc);
  if (!out) fatalStopConsoleOnly("\nCannot open PostScript file  < " + fileName + ">");

  io.log << "\nPostScript file: " << fileName << "\n";
  io.console << "PostScript file: " << fileName << "\n";

  const std::int32_t count = std::clamp<std::int32_t>(elementCount, 0, kMaxElements);
  // Without elements there is nothing to size the window by; a unit square keeps the
  // axes on the page.
  Window w{-1.0, 1.0, -1.0, 1.0};
  if (count > 0) {
    w = squareWindow(modelBox(elements, count, points));
    // A box of no extent (or of non-finite coordinates) would leave the page mapping
    // without a scale.
    if (!(w.x1 - w.x0 > 0.0) || !(w.y1 - w.y0 > 0.0) || !std::isfinite(w.x1 - w.x0) ||
        !std::isfinite(w.y1 - w.y0)) {
      const double cx = std::isfinite(w.x0 + w.x1) ? (w.x0 + w.x1) * 0.5 : 0.0;
      const double cy = std::isfinite(w.y0 + w.y1) ? (w.y0 + w.y1) * 0.5 : 0.0;
      w = {cx - 1.0, cx + 1.0, cy - 1.0, cy + 1.0};
    }
  }
  EpsWriter eps(out, w);

  eps.line("%!PS-Adobe-3.0 EPSF-3.0");
  eps.line("%%Creator: QBR");
  eps.line("%%Title: " + inputName + " data");
  eps.line("%%CreationDate: " + calendarText());
  eps.line("%%BoundingBox: " + std::to_string(kPageLeft) + " " + std::to_string(kPageBottom) + " " +
           std::to_string(kPageRight) + " " + std::to_string(kPageTop));
  for (const char* procedure : kColourProcedures) eps.line(procedure);

  eps.line("/Times-Roman findfont");
  eps.line("9 scalefont");
  eps.line("setfont");
  eps.line("0 setlinewidth");
  eps.line("newpath");
  eps.moveTo(w.x0, w.y0);
  eps.lineTo(w.x1, w.y0);
  eps.lineTo(w.x1, w.y1);
  eps.lineTo(w.x0, w.y1);
  eps.lineTo(w.x0, w.y0);
  eps.line("clip");
  eps.line("newpath");

  // The line y = 0; drawn thick and blue when it is the symmetry plane.
  eps.moveTo(w.x0, 0.0);
  if (symmetryOn) {
    eps.line("2 setlinewidth");
    eps.line("c3");
  } else {
    eps.line("c16");
  }
  eps.lineTo(w.x1, 0.0);
  eps.line("stroke");

  eps.line("newpath");
  eps.line("0 setlinewidth");
  eps.line("c16");
  eps.moveTo(0.0, w.y0);
  eps.lineTo(0.0, w.y1);
  eps.line("stroke");
  eps.line("2 setlinewidth");
  eps.line("stroke");
  eps.line("2 setlinewidth");

  for (std::int32_t e = 0; e < count; ++e)
    drawElement(eps, elements[e], metalLabel(e, elements[e]), points);
  // The outlines of dielectric regions and layers, dashed and grey, labelled d0, d1, ...
  for (std::size_t d = 0; d < dielectricOutlines.size(); ++d) {
    eps.line("[4 3] 0 setdash 0.55 setgray");
    drawElement(eps, dielectricOutlines[d], "(d" + std::to_string(d) + ")", points);
    eps.line("[] 0 setdash");
  }
  out.close();
}

}  // namespace qbr
