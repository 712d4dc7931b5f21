#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "model/geometry.hpp"
#include "base/fatal_stop.hpp"
#include "model/problem_model.hpp"
#include "plot/eps_plot.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::readFile;
using testing::TempDir;

// Builds a cross-section in code, the way the reader and the set-up leave it.
class ModelBuilder {
 public:
  ModelBuilder() { setDefaults(model); }

  ModelBuilder& line(double x0, double y0, double x1, double y1, int conductor = 0) {
    BoundaryElement& e = next(kLine, conductor);
    e.pointNumbers = {findOrAddPoint(model, x0, y0), findOrAddPoint(model, x1, y1), 0};
    computeLength(e, model.points);
    return *this;
  }
  ModelBuilder& curve(Vec2 start, Vec2 mid, Vec2 end, int conductor = 0) {
    BoundaryElement& e = next(kCurve, conductor);
    e.pointNumbers = {findOrAddPoint(model, start.x, start.y), findOrAddPoint(model, mid.x, mid.y),
                      findOrAddPoint(model, end.x, end.y)};
    computeLength(e, model.points);
    return *this;
  }
  ModelBuilder& circle(double cx, double cy, double r, int conductor = 0) {
    BoundaryElement& e = next(kCircle, conductor);
    e.pointNumbers = {findOrAddPoint(model, cx, cy), 0, 0};
    e.R = r;
    computeLength(e, model.points);
    return *this;
  }
  ModelBuilder& rect(double x0, double y0, double x1, double y1, int conductor = 0) {
    return line(x0, y0, x1, y0, conductor)
        .line(x1, y0, x1, y1, conductor)
        .line(x1, y1, x0, y1, conductor)
        .line(x0, y1, x0, y0, conductor);
  }

  ProblemModel model;

 private:
  BoundaryElement& next(std::int32_t kind, int conductor) {
    BoundaryElement& e = model.elements[static_cast<std::size_t>(model.elementCount++)];
    e.kind = kind;
    e.conductor = conductor;
    return e;
  }
};

struct PlotRun {
  std::string fileName;
  std::vector<std::string> lines;
  std::string text;
  std::string console;
  std::string log;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

PlotRun plot(const TempDir& dir, const ProblemModel& model, bool symmetry = false) {
  std::ostringstream console;
  std::ostringstream log;
  RunIo io{console, log};
  const std::string input = (dir / "model.txt").string();
  writeEpsPlot(model.elements, model.elementCount, symmetry, input, model.points, io);
  PlotRun run;
  run.fileName = input + ".eps";
  run.text = readFile(run.fileName);
  run.lines = splitLines(run.text);
  run.console = console.str();
  run.log = log.str();
  return run;
}

bool hasLine(const PlotRun& run, const std::string& line) {
  return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
}

// The line right after the first occurrence of `line`.
std::string lineAfter(const PlotRun& run, const std::string& line) {
  const auto it = std::find(run.lines.begin(), run.lines.end(), line);
  if (it == run.lines.end() || it + 1 == run.lines.end()) return "<none>";
  return *(it + 1);
}

// "%%CreationDate: " and the 24-character calendar text, e.g. "Thu Jan  1 00:00:00 1970".
bool isCalendarLine(const std::string& line) {
  const std::string prefix = "%%CreationDate: ";
  if (line.rfind(prefix, 0) != 0 || line.size() != prefix.size() + 24) return false;
  const std::string date = line.substr(prefix.size());
  const std::string days = "Mon Tue Wed Thu Fri Sat Sun";
  const std::string months = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec";
  const auto oneOf = [](const std::string& names, const std::string& word) {
    const std::size_t at = names.find(word);
    return at != std::string::npos && at % 4 == 0;
  };
  if (!oneOf(days, date.substr(0, 3)) || !oneOf(months, date.substr(4, 3))) return false;
  // d: digit, s: blank or digit, other characters literal.
  const std::string form = "___ ___ sd dd:dd:dd dddd";
  for (std::size_t i = 0; i < form.size(); ++i) {
    const bool digit = date[i] >= '0' && date[i] <= '9';
    if ((form[i] == 'd' && !digit) || (form[i] == 's' && !digit && date[i] != ' ') ||
        (form[i] == ' ' && date[i] != ' ') || (form[i] == ':' && date[i] != ':')) {
      return false;
    }
  }
  return true;
}

const std::vector<std::string> kProcedures = {
    "/c1  {1 0 0     setrgbcolor} def",   "/c2  {0 1 0     setrgbcolor} def",
    "/c3  {0 0 1     setrgbcolor} def",   "/c4  {0 1 1     setrgbcolor} def",
    "/c5  {1 0 1     setrgbcolor} def",   "/c6  {1 1 0     setrgbcolor} def",
    "/c7  {0.5 0 1     setrgbcolor} def", "/c8  {0.6 0.2 0.2   setrgbcolor} def",
    "/c9  {0.5 0 0     setrgbcolor} def", "/c10 {0 0.5 0     setrgbcolor} def",
    "/c11 {0 0 0.5     setrgbcolor} def", "/c12 {0 0.5 0.5   setrgbcolor} def",
    "/c13 {0.5 0 0.5   setrgbcolor} def", "/c14 {0.5 0.5 0   setrgbcolor} def",
    "/c15 {0.25 0 0.5  setrgbcolor} def", "/c16 {0 0 0     setrgbcolor} def",
};

TEST(PageCoordinate, MapsTheWindowOntoThePageAndTruncatesTowardZero) {
  // Box [0, 10] x [0, 2]: the window is [-0.5, 10.5] x [-4.5, 6.5].
  EXPECT_EQ(pageCoordinate(0.0, 50, 550, -0.5, 10.5), 72);
  EXPECT_EQ(pageCoordinate(10.0, 50, 550, -0.5, 10.5), 527);
  EXPECT_EQ(pageCoordinate(0.0, 300, 800, -4.5, 6.5), 504);
  EXPECT_EQ(pageCoordinate(2.0, 300, 800, -4.5, 6.5), 595);
  EXPECT_EQ(pageCoordinate(-0.5, 50, 550, -0.5, 10.5), 50);
  EXPECT_EQ(pageCoordinate(10.5, 50, 550, -0.5, 10.5), 550);
  // -0.55 and -1.5 on the page: toward zero, not down.
  EXPECT_EQ(pageCoordinate(-0.0011, 0, 500, 0.0, 1.0), 0);
  EXPECT_EQ(pageCoordinate(-0.003, 0, 500, 0.0, 1.0), -1);
}

TEST(PageCoordinate, DegenerateInputsGiveBoundedIntegers) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(pageCoordinate(1e300, 50, 550, 0.0, 1.0), 1000000000);
  EXPECT_EQ(pageCoordinate(-1e300, 50, 550, 0.0, 1.0), -1000000000);
  EXPECT_EQ(pageCoordinate(inf, 50, 550, 0.0, 1.0), 1000000000);
  EXPECT_EQ(pageCoordinate(nan, 50, 550, 0.0, 1.0), 0);
  EXPECT_EQ(pageCoordinate(2.0, 50, 550, 1.0, 1.0), 1000000000);  // window without size
  EXPECT_EQ(pageCoordinate(1.0, 50, 550, 1.0, 1.0), 0);           // 0 / 0
}

TEST(EpsPlot, WholeFileOfALineACurveAndACircle) {
  TempDir dir;
  ModelBuilder b;
  b.line(0, 0, 10, 0).curve({10, 0}, {8, 5}, {10, 10}).circle(5, 5, 2, 1);
  const PlotRun run = plot(dir, b.model);

  const std::vector<std::string> expected = {
      "%!PS-Adobe-3.0 EPSF-3.0",
      "%%Creator: QBR",
      "%%Title: " + (dir / "model.txt").string() + " data",
      "<date>",
      "%%BoundingBox: 50 300 550 800",
  };
  std::vector<std::string> all = expected;
  all.insert(all.end(), kProcedures.begin(), kProcedures.end());
  // Window [-0.5, 10.5] in both directions: X(x) = trunc(50 + 500 (x + 0.5) / 11).
  const std::vector<std::string> body = {
      "/Times-Roman findfont", "9 scalefont", "setfont", "0 setlinewidth", "newpath",
      "50 300  moveto", "550 300  lineto", "550 800  lineto", "50 800  lineto", "50 300  lineto",
      "clip", "newpath",
      // y = 0
      "50 322  moveto", "c16", "550 322  lineto", "stroke",
      // x = 0
      "newpath", "0 setlinewidth", "c16", "72 300  moveto", "72 800  lineto", "stroke",
      "2 setlinewidth", "stroke", "2 setlinewidth",
      // line (0,0)-(10,0); label at (8.75, 0)
      "newpath", "72 322  moveto", "527 322  lineto", "stroke", "c16", "newpath", "470 322  moveto",
      "(  0( 0)) show",
      // curve from (10, 0) through (8, 5) to (10, 10): the exact Bezier form of the
      // parabola has the control points (7.33, 3.33) and (7.33, 6.67); label at (9.125, 8.75)
      "newpath", "527 322  moveto", "406 474 406 625 527 777 curveto", "stroke", "c16", "newpath",
      "487 720  moveto", "(  1( 0)) show",
      // circle around (5, 5), radius 2; label at 135 degrees
      "newpath", "390 550  moveto", "300 550 90 0 360 arc", "stroke", "c16", "newpath",
      "235 614  moveto", "(  2( 1)) show"};
  all.insert(all.end(), body.begin(), body.end());

  ASSERT_EQ(run.lines.size(), all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i == 3) continue;
    EXPECT_EQ(run.lines[i], all[i]) << "line " << i + 1;
  }
  EXPECT_TRUE(isCalendarLine(run.lines[3])) << run.lines[3];
  EXPECT_EQ(run.lines[3].size(), std::string("%%CreationDate: ").size() + 24);

  // Every line ends with "\n", nothing follows the last label, no carriage returns.
  EXPECT_EQ(run.text.back(), '\n');
  EXPECT_EQ(run.text.find('\r'), std::string::npos);
  EXPECT_EQ(run.text.find("showpage"), std::string::npos);

  EXPECT_EQ(run.console, "PostScript file: " + run.fileName + "\n");
  EXPECT_EQ(run.log, "\nPostScript file: " + run.fileName + "\n");
}

TEST(EpsPlot, WindowOfTheWorkedExamples) {
  TempDir dir;
  {
    // Unit circle: window [-1.1, 1.1] squared.
    ModelBuilder b;
    b.circle(0, 0, 1);
    const PlotRun run = plot(dir, b.model);
    EXPECT_EQ(lineAfter(run, "527 550  moveto"), "300 550 227 0 360 arc");
    EXPECT_TRUE(hasLine(run, "50 550  moveto"));   // y = 0 through the middle
    EXPECT_TRUE(hasLine(run, "300 300  moveto"));  // x = 0 through the middle
  }
  {
    // Box [0, 10] x [0, 2], wider than high: window [-0.5, 10.5] x [-4.5, 6.5].
    ModelBuilder b;
    b.rect(0, 0, 10, 2, 1);
    const PlotRun run = plot(dir, b.model);
    EXPECT_EQ(lineAfter(run, "50 504  moveto"), "c16");
    EXPECT_TRUE(hasLine(run, "550 504  lineto"));
    EXPECT_EQ(lineAfter(run, "72 300  moveto"), "72 800  lineto");
    EXPECT_EQ(lineAfter(run, "527 504  moveto"), "527 595  lineto");
    EXPECT_EQ(lineAfter(run, "72 595  moveto"), "72 504  lineto");
  }
  {
    // All on one horizontal line y = 1: the vertical margin borrows the horizontal one,
    // x in [-0.4, 8.4], y in [-3.4, 5.4], the line in the middle of the page.
    ModelBuilder b;
    b.line(0, 1, 4, 1).line(4, 1, 8, 1);
    const PlotRun run = plot(dir, b.model);
    EXPECT_EQ(lineAfter(run, "72 550  moveto"), "300 550  lineto");
    EXPECT_EQ(lineAfter(run, "300 550  moveto"), "527 550  lineto");
    // y = 0 at trunc(300 + 500 * 3.4 / 8.8) = 493.
    EXPECT_EQ(lineAfter(run, "50 493  moveto"), "c16");
  }
  {
    // A tall model: the window is centred horizontally.
    ModelBuilder b;
    b.line(1, 0, 1, 20);
    const PlotRun run = plot(dir, b.model);
    // window y [-1, 21], x [-10, 12]
    EXPECT_EQ(lineAfter(run, "300 322  moveto"), "300 777  lineto");
  }
}

TEST(EpsPlot, LabelsArePaddedAndTheSymmetryPlaneIsDrawnThickAndBlue) {
  TempDir dir;
  ModelBuilder b;
  for (int i = 0; i < 8; ++i) b.line(i, 1, i + 1, 1, i == 7 ? 2 : 0);
  b.line(0, 3, 8, 3, 5);
  const PlotRun run = plot(dir, b.model, true);
  EXPECT_TRUE(hasLine(run, "(  7( 2)) show"));
  EXPECT_TRUE(hasLine(run, "(  8( 5)) show"));

  const auto clip = std::find(run.lines.begin(), run.lines.end(), "clip");
  ASSERT_GE(run.lines.end() - clip, 7);
  // The five lines after "clip", "newpath": moveto, width 2, blue, lineto, stroke.
  EXPECT_EQ(clip[3], "2 setlinewidth");
  EXPECT_EQ(clip[4], "c3");
  EXPECT_EQ(clip[5].substr(clip[5].size() - 8), "  lineto");
  EXPECT_EQ(clip[6], "stroke");

  const PlotRun plain = plot(dir, b.model, false);
  const auto plainClip = std::find(plain.lines.begin(), plain.lines.end(), "clip");
  EXPECT_EQ(plainClip[3], "c16");
  EXPECT_EQ(std::count(plain.lines.begin(), plain.lines.end(), "c3"), 0);
  EXPECT_EQ(plain.lines.size() + 1, run.lines.size());
}

TEST(EpsPlot, ModelWithoutElementsStillGivesAValidFile) {
  TempDir dir;
  ModelBuilder b;
  const PlotRun run = plot(dir, b.model);
  ASSERT_GE(run.lines.size(), 5u + kProcedures.size());
  EXPECT_EQ(run.lines.front(), "%!PS-Adobe-3.0 EPSF-3.0");
  for (std::size_t i = 0; i < kProcedures.size(); ++i) EXPECT_EQ(run.lines[5 + i], kProcedures[i]);
  // Window [-1, 1] squared: both axes through the centre of the page.
  EXPECT_TRUE(hasLine(run, "50 550  moveto"));
  EXPECT_TRUE(hasLine(run, "300 300  moveto"));
  EXPECT_EQ(run.lines.back(), "2 setlinewidth");
  EXPECT_EQ(run.text.find("show"), std::string::npos);
  EXPECT_EQ(run.console, "PostScript file: " + run.fileName + "\n");
}

TEST(EpsPlot, UnwritableLocationStopsOnTheConsoleOnly) {
  TempDir dir;
  ModelBuilder b;
  b.circle(0, 0, 1);
  std::ostringstream console;
  std::ostringstream log;
  RunIo io{console, log};
  const std::string input = (dir / "no-such-dir" / "model.txt").string();
  try {
    writeEpsPlot(b.model.elements, b.model.elementCount, false, input, b.model.points, io);
    FAIL() << "no stop";
  } catch (const FatalError& error) {
    EXPECT_FALSE(error.toLog());
    // The driver adds the one final line end.
    EXPECT_EQ(error.message() + "\n", "\nCannot open PostScript file  < " + input + ".eps>\n");
  }
  EXPECT_EQ(console.str(), "");
  EXPECT_EQ(log.str(), "");
  EXPECT_FALSE(std::filesystem::exists(dir / "no-such-dir"));
}

TEST(EpsPlot, GhostscriptRendersTheDrawing) {
  if (std::system("command -v gs > /dev/null 2>&1") != 0) GTEST_SKIP() << "gs not installed";
  TempDir dir;
  ModelBuilder b;
  // Microstrip: ground plane, strip above it, a wire and a bent trace.
  b.rect(0, 0, 100, 10, 0).rect(40, 15, 60, 18, 1).circle(80, 30, 5, 2);
  b.curve({10, 20}, {20, 30}, {30, 20}, 3);
  const PlotRun run = plot(dir, b.model);
  const std::filesystem::path png = dir / "plot.png";
  const std::string command =
      "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -dEPSCrop -sOutputFile='" + png.string() +
      "' '" + run.fileName + "' > /dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(std::filesystem::exists(png));
  EXPECT_GT(std::filesystem::file_size(png), 0u);
}

}  // namespace
}  // namespace qbr
