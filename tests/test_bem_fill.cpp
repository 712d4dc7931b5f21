#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include "bem/bem_fill.hpp"
#include "bem/low_frequency.hpp"
#include "bem/solution.hpp"
#include "bem/structured_solve.hpp"
#include "base/console_progress.hpp"
#include "base/fatal_stop.hpp"
#include "model/geometry.hpp"
#include "bem/node_integrals.hpp"
#include "model/rectangle.hpp"
#include "oracle/literal_fill.hpp"
#include "prep/grids.hpp"
#include "prep/work_arrays.hpp"

namespace qbr {
namespace {

// A cross-section built in code: elements with their grid counts, conductors and patches;
// `prepare` measures the elements, counts the conductor members and builds the grids.
struct TestModel {
  ProblemModel model;

  int point(Vec2 p) {
    model.points[static_cast<std::size_t>(model.pointCount)] = {p.x, p.y};
    return model.pointCount++;
  }
  BoundaryElement& add(std::int32_t kind, int n, int conductor, int patch) {
    BoundaryElement& e = model.elements[static_cast<std::size_t>(model.elementCount++)];
    e.kind = kind;
    e.gridCount = n;
    e.conductor = conductor;
    e.patch = patch;
    return e;
  }
  void circle(Vec2 centre, double radius, int n, int conductor, int patch = 0,
              bool counterClockwise = true) {
    BoundaryElement& e = add(kCircle, n, conductor, patch);
    e.pointNumbers = {point(centre), 0, 0};
    e.R = radius;
    e.dir = counterClockwise;
  }
  // Four straight sides, counter-clockwise; nx nodes on the sides along x, ny on the others.
  void rectangle(double x1, double x2, double y1, double y2, int nx, int ny, int conductor,
                 int patch = 0) {
    addRectangle(model, {x1, x2, y1, y2, conductor, patch, nx, ny});
  }
  void curve(Vec2 a, Vec2 mid, Vec2 b, int n, int conductor, int patch = 0) {
    BoundaryElement& e = add(kCurve, n, conductor, patch);
    e.pointNumbers = {point(a), point(mid), point(b)};
  }
  void patch(int p, Complex k, double mu = 1.0) {
    model.patches[static_cast<std::size_t>(p)].k = k;
    model.patches[static_cast<std::size_t>(p)].mu = mu;
    model.patchCount = std::max(model.patchCount, p + 1);
  }
  void prepare() {
    for (int e = 0; e < model.elementCount; ++e) {
      BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
      computeLength(element, model.points);
      model.conductors[static_cast<std::size_t>(element.conductor)].n_memb++;
      model.conductorCount = std::max({model.conductorCount, element.conductor, 1});
    }
    std::ostringstream console, log;
    RunIo io{console, log};
    buildGrids(model, io);
  }
  const BoundaryElement& element(int e) const {
    return model.elements[static_cast<std::size_t>(e)];
  }
  ElementGeometry geometry(int e) const { return element(e).geometry(model.points); }
};

struct Filled {
  Unknowns unknowns;
  ComplexMatrix A;
  std::string console;
};

Filled fill(const ProblemModel& model) {
  Filled f{Unknowns(model), {}, {}};
  std::ostringstream console;
  fillBemMatrix(model, f.unknowns, f.A, console);
  f.console = console.str();
  return f;
}

// A smooth (C1) closed curve of four parabolic arcs, counter-clockwise: the quadratic
// B-spline of the square with corners (+-1, +-1), each arc running from one edge
// midpoint to the next with the corner as its control point.
void roundedSquare(TestModel& t, int n, int conductor) {
  const Vec2 mids[4] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
  const Vec2 corners[4] = {{1, -1}, {1, 1}, {-1, 1}, {-1, -1}};
  for (int i = 0; i < 4; ++i) {
    const Vec2 a = mids[i];
    const Vec2 b = mids[(i + 1) % 4];
    const Vec2 c = corners[i];
    t.curve(a, {(a.x + 2 * c.x + b.x) / 4, (a.y + 2 * c.y + b.y) / 4}, b, n, conductor);
  }
}

// Applies the node block of A to node values u and normal derivatives q given at the
// nodes' positions (with the node normal, pointing into the conductor): the unknowns are
// U = u J and Q = q J. Returns the largest |residual| over the chosen rows.
using NodeField = std::function<Complex(Vec2 p, Vec2 n)>;
double largestResidual(const TestModel& t, const Filled& f, const NodeField& u, const NodeField& q,
                       bool interiorRows) {
  const std::int32_t nd0 = f.unknowns.nd0();
  std::vector<Complex> x(static_cast<std::size_t>(nd0) + 1);
  for (int e = 0; e < t.model.elementCount; ++e) {
    const ElementGeometry g = t.geometry(e);
    for (int i = 1; i <= t.element(e).gridCount; ++i) {
      const double tn = t.element(e).nodeT[static_cast<std::size_t>(i)];
      const Vec2 p = g.pointAt(tn);
      const Vec2 n = g.normalAt(tn);
      x[static_cast<std::size_t>(f.unknowns.nodeFirst(e, i))] = u(p, n) * g.jacobianAt(tn);
      x[static_cast<std::size_t>(f.unknowns.nodeSecond(e, i))] = q(p, n) * g.jacobianAt(tn);
    }
  }
  double worst = 0.0;
  for (int r = interiorRows ? 2 : 1; r <= nd0; r += 2) {
    Complex sum{};
    for (int c = 1; c <= nd0; ++c) sum += f.A(r, c) * x[static_cast<std::size_t>(c)];
    worst = std::max(worst, std::abs(sum));
  }
  return worst;
}

// Nonzero entries of one row or column over 1..nd.
std::vector<int> nonzeroInRow(const Filled& f, int r) {
  std::vector<int> out;
  for (int c = 1; c <= f.unknowns.nd(); ++c)
    if (f.A(r, c) != Complex{}) out.push_back(c);
  return out;
}
std::vector<int> nonzeroInColumn(const Filled& f, int c) {
  std::vector<int> out;
  for (int r = 1; r <= f.unknowns.nd(); ++r)
    if (f.A(r, c) != Complex{}) out.push_back(r);
  return out;
}

// J0 and J1 of complex argument by their power series (|z| up to about 5).
std::pair<Complex, Complex> besselJ01Series(Complex z) {
  const Complex q = z * z / 4.0;
  Complex term = 1.0, j0 = 0.0, j1 = 0.0;
  for (int m = 0; m < 60; ++m) {
    if (m > 0) term *= -q / (static_cast<double>(m) * m);
    j0 += term;
    j1 += term / (m + 1.0);
  }
  return {j0, z / 2.0 * j1};
}

const Complex kSuperconductor(0.0, 1.0 / 0.3);
const Complex kNormalMetal = Complex(1.0, -1.0) / 0.5;

TEST(BemFill, SingleCircleWithoutReturnConductor) {
  TestModel t;
  t.circle({0.5, -0.3}, 1.2, 3, 1);
  t.patch(0, kSuperconductor);
  t.prepare();
  const Filled f = fill(t.model);
  ASSERT_EQ(f.unknowns.nd(), 7);
  ASSERT_EQ(f.A.rows(), 7);
  EXPECT_EQ(nonzeroInRow(f, 7), (std::vector<int>{2, 4, 6}));
  EXPECT_EQ(nonzeroInColumn(f, 7), (std::vector<int>{2, 4, 6}));
  for (int c : {2, 4, 6}) EXPECT_NEAR(f.A(7, c).real(), 2.0 / 3.0, 1e-12);
  for (int r = 1; r <= 6; ++r)
    for (int c = 1; c <= 6; ++c) EXPECT_NE(f.A(r, c), Complex{}) << r << "," << c;
}

TEST(BemFill, ConductorUnknownsAndCouplingBetweenConductors) {
  TestModel t;
  t.circle({0, 0}, 3.0, 3, 0);
  t.circle({-1, 0}, 0.5, 4, 1, 1);
  t.circle({1, 0}, 0.5, 5, 2, 1);
  t.patch(0, kNormalMetal);
  t.patch(1, kSuperconductor);
  t.prepare();
  t.model.conductorCount = 3;  // conductor 3 carries no element
  const Filled f = fill(t.model);
  ASSERT_EQ(f.unknowns.nd0(), 24);
  ASSERT_EQ(f.unknowns.nd(), 28);

  // Conductors 0, 1, 2 own unknowns 25, 26, 27: each current row reaches the second
  // unknowns of its own nodes, each conductor column the interior rows of its own nodes.
  const std::vector<int> secondOf[3] = {{2, 4, 6}, {8, 10, 12, 14}, {16, 18, 20, 22, 24}};
  for (int c = 0; c <= 2; ++c) {
    EXPECT_EQ(nonzeroInRow(f, 25 + c), secondOf[c]) << c;
    EXPECT_EQ(nonzeroInColumn(f, 25 + c), secondOf[c]) << c;
  }
  EXPECT_TRUE(nonzeroInRow(f, 28).empty());
  EXPECT_TRUE(nonzeroInColumn(f, 28).empty());

  // Interior rows see only their own conductor; exterior rows see every node.
  const auto conductorOfColumn = [](int c) { return c <= 6 ? 0 : c <= 14 ? 1 : 2; };
  for (int r = 1; r <= 24; ++r) {
    for (int c = 1; c <= 24; ++c) {
      const bool interior = r % 2 == 0;
      if (interior && conductorOfColumn(r) != conductorOfColumn(c)) {
        EXPECT_EQ(f.A(r, c), Complex{}) << r << "," << c;
      } else {
        EXPECT_NE(f.A(r, c), Complex{}) << r << "," << c;
      }
    }
  }
}

// The exact interior kernel K = (j pi/2) H0(1)(kr) for Im k > 0, (-j pi/2) H0(2)(kr)
// otherwise, with Y0 by its power series (|kr| up to about 5).
Complex exactKernelSeries(Complex k, double r) {
  const Complex z = k * r;
  const Complex q = z * z / 4.0;
  Complex term = 1.0, j0 = 0.0, tail = 0.0;
  double harmonic = 0.0;
  for (int m = 0; m < 60; ++m) {
    if (m > 0) {
      term *= -q / (static_cast<double>(m) * m);
      harmonic += 1.0 / m;
      tail -= term * harmonic;
    }
    j0 += term;
  }
  const double pi = 3.14159265358979323846;
  const Complex y0 = 2.0 / pi * ((std::log(z / 2.0) + 0.57721566490153286061) * j0 + tail);
  return k.imag() > 0.0 ? Complex(0.0, pi / 2.0) * (j0 + Complex(0.0, 1.0) * y0)
                        : Complex(0.0, -pi / 2.0) * (j0 - Complex(0.0, 1.0) * y0);
}

// The conductor column of an interior row is the row's response to a uniform field equal
// to the conductor's potential constant, -pi + the boundary integral of dK/dn = k^2 times
// the area integral of K. Where the conductor is large against the skin or penetration
// depth it is the discrete sum of the row (U = J times the constant at every node); where
// it is small the sum's quadrature error, multiplied by a constant of order 1/k^2, would
// swamp the inductance, and the column is the exact integral. For a disc of radius a, by
// Graf's addition theorem, k^2 times the integral of K over the disc seen from its rim is
// 2 pi a k J1(ka) K(a) with K(a) = K at r = a (the same for the kernel's shift by J0).
TEST(BemFill, ConductorColumnIsTheResponseToAUniformInteriorField) {
  {
    TestModel t;
    roundedSquare(t, 5, 1);
    t.circle({3, 0}, 0.5, 4, 2, 1);
    t.patch(0, kNormalMetal * 20.0);
    t.patch(1, kSuperconductor * 20.0);
    t.prepare();
    const Filled f = fill(t.model);
    for (int m = 0; m < t.model.elementCount; ++m) {
      const int c = t.element(m).conductor;
      for (int i = 1; i <= t.element(m).gridCount; ++i) {
        const int row = f.unknowns.nodeSecond(m, i);
        Complex sum = f.A(row, f.unknowns.conductor(c));
        const double scale = std::abs(sum);
        for (int e = 0; e < t.model.elementCount; ++e) {
          const ElementGeometry g = t.geometry(e);
          for (int j = 1; j <= t.element(e).gridCount; ++j) {
            const double J = g.jacobianAt(t.element(e).nodeT[static_cast<std::size_t>(j)]);
            sum += f.A(row, f.unknowns.nodeFirst(e, j)) * J;
          }
        }
        EXPECT_LT(std::abs(sum), 1e-13 * scale) << m << " " << i;
        EXPECT_GT(scale, 0.0);
      }
    }
  }
  const double a = 1.0;
  for (const Complex k : {Complex(1.0, -1.0) / 200.0, Complex(0.0, 1.0) / 1.5}) {
    TestModel t;
    t.circle({0.3, -0.2}, a, 48, 1);
    t.patch(0, k);
    t.prepare();
    const Filled f = fill(t.model);
    const LowFrequencyForm form = lowFrequencyForm(t.model);
    ASSERT_EQ(form.columnBlend[1], 1.0) << k;
    const Complex beta = kernelShift(k, form.size[1], form.kernelBlend[1]);
    const auto [j0, j1] = besselJ01Series(k * a);
    const Complex expected =
        2.0 * kPiFull * a * k * j1 * (kKernelScale * exactKernelSeries(k, a) - beta * j0);
    for (int i = 1; i <= 48; ++i) {
      const Complex column = f.A(f.unknowns.nodeSecond(0, i), f.unknowns.conductor(1));
      EXPECT_LT(std::abs(column / expected - 1.0), 1e-8)
          << k << " node " << i << ": " << column << " against " << expected;
    }
  }
}

// dG/dn between two points of a circle is 1/(2R) whatever they are, so the exterior
// double-layer entries are known exactly; the self entry adds PI / J = 1/R.
TEST(BemFill, CircleDoubleLayerAndFreeTerms) {
  const double radius = 0.6;
  const int n = 6;
  TestModel t;
  t.circle({0.2, 0.7}, radius, n, 1);
  t.patch(0, kNormalMetal);
  t.prepare();
  const Filled f = fill(t.model);
  const ElementGeometry g = t.geometry(0);
  for (int N = 1; N <= n; ++N) {
    for (int j = 1; j <= n; ++j) {
      const double expected = 1.0 / (n * radius) + (N == j ? 1.0 / radius : 0.0);
      EXPECT_NEAR(f.A(2 * N - 1, 2 * j - 1).real(), expected, 1e-12) << N << "," << j;
      EXPECT_EQ(f.A(2 * N - 1, 2 * j - 1).imag(), 0.0);
    }
    const double tau = t.element(0).nodeT[static_cast<std::size_t>(N)];
    const Vec2 p = g.pointAt(tau);
    KernelContext ctx;
    ctx.x0 = p.x;
    ctx.y0 = p.y;
    ctx.k = kNormalMetal;
    ctx.ownElement = true;
    ctx.interior = true;
    const Complex doubleLayer =
        nodeIntegral(ctx, g, t.element(0).nodeT, N, IntegralKind::HelmholtzDouble, tau);
    EXPECT_NEAR((f.A(2 * N, 2 * N - 1) + doubleLayer).real(), 1.0 / radius, 1e-12);
    EXPECT_NEAR((f.A(2 * N, 2 * N - 1) + doubleLayer).imag(), 0.0, 1e-12);
  }
}

TEST(BemFill, PermeabilityScalesOnlyTheInteriorSingleLayerOfItsPatch) {
  const auto build = [](double mu) {
    TestModel t;
    t.circle({0, 0}, 1.0, 4, 1, 0);
    t.circle({0, 0}, 2.0, 3, 1, 1);  // same conductor, other patch
    t.circle({4, 0}, 1.0, 3, 2, 1);  // other conductor, same patch
    t.patch(0, kNormalMetal);
    t.patch(1, kNormalMetal * 0.5, mu);
    t.prepare();
    return t;
  };
  const TestModel plain = build(1.0);
  const TestModel doubled = build(2.0);
  const Filled a = fill(plain.model);
  const Filled b = fill(doubled.model);
  ASSERT_EQ(a.unknowns.nd(), b.unknowns.nd());
  int doubledCount = 0;
  for (int r = 1; r <= a.unknowns.nd(); ++r) {
    for (int c = 1; c <= a.unknowns.nd(); ++c) {
      // Second unknowns of the patch-1 elements are the columns 10..14 (even) and 16..20.
      const bool patchColumn = c > 8 && c <= 20 && c % 2 == 0;
      const bool interiorRow = r <= 20 && r % 2 == 0;
      if (patchColumn && interiorRow) {
        EXPECT_EQ(b.A(r, c), 2.0 * a.A(r, c)) << r << "," << c;
        if (a.A(r, c) != Complex{}) ++doubledCount;
      } else {
        EXPECT_EQ(b.A(r, c), a.A(r, c)) << r << "," << c;
      }
    }
  }
  // Conductor 1: 7 interior rows by its 3 patch-1 nodes; conductor 2: 3 by 3.
  EXPECT_EQ(doubledCount, 7 * 3 + 3 * 3);
}

TEST(BemFill, ConsoleShowsOneSpinnerStepPerRowNodeAndColumnElement) {
  TestModel t;
  t.circle({0, 0}, 1.0, 3, 1);
  t.circle({3, 0}, 1.0, 5, 1);
  t.patch(0, kSuperconductor);
  t.prepare();
  EXPECT_EQ(fill(t.model).console,
            "Filling BEM matrix:  "
            "\b/\b-\b\\\b/\b-\b\\"
            "\b/\b-\b\\\b|\b/\b/\b-\b\\\b|\b/"
            "\b  done;\n");
}

// The exterior rows are Green's identity for the region outside the conductor, whose
// outward normal is the element normal (into the conductor): for a harmonic u,
//   pi u(x) + PV integral of u dG/dn ds - integral of G du/dn ds + I_inf = 0,
// where I_inf, the contribution of a large circle at infinity, is -2 pi times the
// constant that u tends to there and 0 for u = c ln r + O(1/r). The rows leave I_inf
// out, so they vanish for the field of a line current, u = -ln|x - xc|, while the
// constant u = 1 gives 2 pi: the free term pi plus the double layer of a constant on a
// closed curve seen from a point of it, pi.
TEST(BemFill, ExteriorRowsAreGreensIdentityOutsideTheConductor) {
  // On a circle the double layer is 1/(2R) everywhere: the constant is exact to rounding.
  {
    TestModel t;
    t.circle({0.3, 0.4}, 0.8, 7, 1);
    t.patch(0, kNormalMetal);
    t.prepare();
    const Filled f = fill(t.model);
    const ElementGeometry g = t.geometry(0);
    for (int N = 1; N <= 7; ++N) {
      Complex row{};
      for (int j = 1; j <= 7; ++j)
        row += f.A(2 * N - 1, 2 * j - 1) * g.jacobianAt(t.element(0).nodeT[j]);
      EXPECT_NEAR(row.real(), 2.0 * kPi, 1e-11) << N;
    }
  }

  // On a smooth curve that is no circle both identities hold up to the discretisation
  // error, which must fall as the grid is refined.
  const Vec2 xc{0.1, -0.2};
  const NodeField lineCurrent = [xc](Vec2 p, Vec2) {
    return Complex(-std::log(std::hypot(p.x - xc.x, p.y - xc.y)));
  };
  const NodeField lineCurrentFlux = [xc](Vec2 p, Vec2 n) {
    const double dx = p.x - xc.x, dy = p.y - xc.y;
    return Complex(-(dx * n.x + dy * n.y) / (dx * dx + dy * dy));
  };
  std::vector<double> constantError, currentError;
  for (int n : {6, 24}) {
    TestModel t;
    roundedSquare(t, n, 1);
    t.patch(0, kNormalMetal);
    t.prepare();
    const Filled f = fill(t.model);
    // U = J, Q = 0 in every exterior row, against 2 PI.
    double worst = 0.0;
    for (int r = 1; r <= f.unknowns.nd0(); r += 2) {
      Complex row{};
      for (int e = 0; e < 4; ++e)
        for (int j = 1; j <= n; ++j)
          row += f.A(r, f.unknowns.nodeFirst(e, j)) *
                 t.geometry(e).jacobianAt(t.element(e).nodeT[static_cast<std::size_t>(j)]);
      worst = std::max(worst, std::abs(row - 2.0 * kPi));
    }
    constantError.push_back(worst);
    currentError.push_back(largestResidual(t, f, lineCurrent, lineCurrentFlux, false));
  }
  // Measured: 6.3e-3 and 3.9e-4 for the constant, 2.3e-2 and 3.2e-3 for the line current.
  EXPECT_LT(constantError[0], 1e-2);
  EXPECT_LT(constantError[1], constantError[0] / 8);
  EXPECT_LT(currentError[0], 5e-2);
  EXPECT_LT(currentError[1], currentError[0] / 4);
}

// The interior rows are Green's identity for the Helmholtz equation inside the
// conductor, whose outward normal is minus the element normal:
//   pi u - PV integral of u dK/dn ds + integral of K du/dn ds = 0,
// with du/dn on the inside mu times the exterior-side q of the unknowns. u = J0(k rho)
// about the centre of a circle solves it.
TEST(BemFill, InteriorRowsAreGreensIdentityInsideTheConductor) {
  const Vec2 centre{0.2, 0.1};
  const double radius = 1.0;
  struct Case {
    Complex k;
    double mu;
  };
  for (const Case c :
       {Case{kNormalMetal, 1.0}, Case{kNormalMetal, 2.0}, Case{kSuperconductor, 1.0}}) {
    const auto [j0, j1] = besselJ01Series(c.k * radius);
    std::vector<double> error;
    for (int n : {8, 32, 64}) {
      TestModel t;
      t.circle(centre, radius, n, 1);
      t.patch(0, c.k, c.mu);
      t.prepare();
      const Filled f = fill(t.model);
      const NodeField u = [&](Vec2, Vec2) { return j0; };
      const NodeField q = [&](Vec2, Vec2) { return c.k * j1 / c.mu; };
      error.push_back(largestResidual(t, f, u, q, true) / std::abs(j0));
    }
    // Measured: at 8 nodes |k| times the node spacing exceeds 1 and the pieces next to the
    // row node are integrated by the graded rule with the logarithm taken out: 1.4e-7. At
    // 32 and 64 nodes the plain rule: 1.5e-4 and 7e-5 (first order: the pieces next to the
    // row node carry the logarithm unregularised for the neighbouring nodes).
    EXPECT_LT(error[0], 1e-6) << c.k;
    EXPECT_LT(error[1], 2e-3) << c.k;
    EXPECT_LT(error[2], error[1] / 1.5) << c.k;
  }
}

// The fast fill against the entry-by-entry evaluation, on models that between them have
// every element kind and every branch of the kernels.
struct OracleCase {
  const char* name;
  TestModel model;
  // The model has Gauss points beyond the Hankel cut-off on its own conductor.
  bool reachesCutOff = false;
};

// solvable: the superconducting circle runs counter-clockwise, around the conductor's inside
// (clockwise it encloses the conductor's outside, a system near a singular one).
std::vector<OracleCase> oracleCases(bool solvable = false) {
  const Complex superconductor(0.0, 1.0 / 0.09);
  std::vector<OracleCase> cases;

  // Superconducting strips over a ground strip, as rectangles: at lambda = 0.09 the
  // interior kernels vanish beyond 1.8 along the ground strip.
  {
    OracleCase c{"strips over ground", {}, true};
    c.model.rectangle(-6.0, 6.0, -0.4, -0.2, 24, 3, 0);
    c.model.rectangle(-3.0, -1.0, 0.0, 0.2, 10, 3, 1);
    c.model.rectangle(1.0, 4.0, 0.0, 0.2, 12, 3, 2);
    c.model.patch(0, superconductor);
    cases.push_back(std::move(c));
  }
  // Normal-metal coax: the wire counter-clockwise, the tube's bore clockwise and its outer
  // circle counter-clockwise, the tube with mu = 3 and its own wave number; the skin depth
  // exceeds the radii, so no kernel is cut off.
  {
    OracleCase c{"coax", {}, false};
    c.model.circle({0.1, -0.2}, 0.5, 17, 1, 0);
    c.model.circle({0.1, -0.2}, 1.75, 23, 0, 1, false);
    c.model.circle({0.1, -0.2}, 2.0, 25, 0, 1);
    c.model.patch(0, Complex(1.0, -1.0) / 0.8);
    c.model.patch(1, Complex(1.0, -1.0) / 1.3, 3.0);
    cases.push_back(std::move(c));
  }
  // Mirror plane on, no return conductor: a curved conductor of normal metal with a thin
  // skin (the second-kind Hankel functions are cut off too), a superconducting circle run
  // clockwise, a rectangle on one conductor with two patches.
  {
    OracleCase c{"symmetry, curves, mixed patches", {}, true};
    c.model.model.symmetryOn = true;
    const Vec2 mids[4] = {{1, 1}, {2, 2}, {1, 3}, {0, 2}};
    const Vec2 corners[4] = {{2, 1}, {2, 3}, {0, 3}, {0, 1}};
    for (int i = 0; i < 4; ++i) {
      const Vec2 a = mids[i], b = mids[(i + 1) % 4], k = corners[i];
      c.model.curve(a, {(a.x + 2 * k.x + b.x) / 4, (a.y + 2 * k.y + b.y) / 4}, b, 9, 1, 0);
    }
    c.model.circle({4.0, 1.5}, 0.7, 14, 2, 1, solvable);
    c.model.rectangle(-3.0, -1.0, 0.5, 1.5, 8, 5, 3, 2);
    c.model.model.elements[static_cast<std::size_t>(c.model.model.elementCount - 1)].patch = 3;
    c.model.patch(0, Complex(1.0, -1.0) / 0.03, 2.0);
    c.model.patch(1, superconductor);
    c.model.patch(2, Complex(1.0, -1.0) / 0.4);
    c.model.patch(3, superconductor * 0.5, 1.5);
    cases.push_back(std::move(c));
  }
  // Far below the skin effect: the low-frequency form with the shifted kernel and the
  // smooth conductor column, on a normal-metal wire and a superconducting tube.
  {
    OracleCase c{"low frequency", {}, false};
    c.model.circle({0.1, -0.2}, 0.5, 11, 1, 0);
    c.model.circle({0.1, -0.2}, 1.75, 13, 0, 1, false);
    c.model.circle({0.1, -0.2}, 2.0, 15, 0, 1);
    c.model.patch(0, Complex(1.0, -1.0) / 300.0);
    c.model.patch(1, Complex(0.0, 1.0) / 8.0);
    cases.push_back(std::move(c));
  }
  for (OracleCase& c : cases) c.model.prepare();
  return cases;
}

double largestMagnitude(const ComplexMatrix& A) {
  double largest = 0.0;
  for (std::int64_t c = 1; c <= A.cols(); ++c)
    for (std::int64_t r = 1; r <= A.rows(); ++r) largest = std::max(largest, std::abs(A(r, c)));
  return largest;
}

TEST(BemFillOracle, EveryEntryAgreesWithTheEntryByEntryFill) {
  for (const OracleCase& c : oracleCases()) {
    const Filled fast = fill(c.model.model);
    Filled literal{Unknowns(c.model.model), {}, {}};
    std::ostringstream console;
    fillBemMatrixLiteral(c.model.model, literal.unknowns, literal.A, console);
    literal.console = console.str();

    EXPECT_EQ(fast.console, literal.console) << c.name;
    const int nd = literal.unknowns.nd();
    ASSERT_EQ(fast.A.rows(), nd) << c.name;
    const double tolerance = 1e-10 * largestMagnitude(literal.A);
    int cutOffEntries = 0;
    for (int col = 1; col <= nd; ++col) {
      for (int r = 1; r <= nd; ++r) {
        ASSERT_LE(std::abs(fast.A(r, col) - literal.A(r, col)), tolerance)
            << c.name << " entry " << r << "," << col << ": " << fast.A(r, col) << " against "
            << literal.A(r, col);
        // An interior row against a node of its own conductor is zero only where all of
        // the node's Gauss points lie beyond the cut-off.
        const bool nodeBlock = r <= literal.unknowns.nd0() && col <= literal.unknowns.nd0();
        if (nodeBlock && r % 2 == 0 && literal.A(r, col) == Complex{} &&
            literal.A(r - 1, col) != Complex{})
          ++cutOffEntries;
      }
    }
    if (c.reachesCutOff) {
      EXPECT_GT(cutOffEntries, 0) << c.name;
    }
  }
}

TEST(BemFillOracle, SameMatrixForAnyNumberOfThreads) {
  const int threads = omp_get_max_threads();
  for (const OracleCase& c : oracleCases()) {
    omp_set_num_threads(1);
    const Filled one = fill(c.model.model);
    omp_set_num_threads(2);
    const Filled two = fill(c.model.model);
    omp_set_num_threads(threads);
    EXPECT_EQ(one.console, two.console) << c.name;
    const int nd = one.unknowns.nd();
    int differing = 0;
    for (int col = 1; col <= nd; ++col)
      for (int r = 1; r <= nd; ++r) differing += one.A(r, col) == two.A(r, col) ? 0 : 1;
    EXPECT_EQ(differing, 0) << c.name;
  }
}

// A matrix of the right size is reused without clearing: every entry must be written.
TEST(BemFillOracle, ReusedMatrixIsOverwrittenEverywhere) {
  const std::vector<OracleCase> cases = oracleCases();
  const ProblemModel& model = cases[2].model.model;
  const Filled fresh = fill(model);
  const int nd = fresh.unknowns.nd();
  ComplexMatrix A(nd, nd);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int col = 1; col <= nd; ++col)
    for (int r = 1; r <= nd; ++r) A(r, col) = Complex(nan, nan);
  std::ostringstream console;
  fillBemMatrix(model, fresh.unknowns, A, console);
  int differing = 0;
  for (int col = 1; col <= nd; ++col)
    for (int r = 1; r <= nd; ++r) differing += A(r, col) == fresh.A(r, col) ? 0 : 1;
  EXPECT_EQ(differing, 0);
}

// The structured solve against the full system on the oracle models (between them: a
// return conductor whose nodes come after another conductor's, none at all, the mirror,
// several patches on one conductor, the cut-off and the low-frequency form): the conductor
// matrix, every unknown of the solution, and the console's texts, byte for byte.
struct Solved {
  ConductorMatrix m;
  ComplexMatrix solutions;
  std::string console;
};

Solved solveFull(ProblemModel model) {
  const Unknowns unknowns(model);
  model.nd = unknowns.nd();
  WorkArrays work = allocateWorkArrays(model);
  std::ostringstream console;
  fillBemMatrix(model, unknowns, work.A, console);
  Solved s{solveConductorMatrix(model, unknowns, work, console), std::move(work.b), {}};
  s.console = console.str();
  return s;
}

Solved solveInBlocks(const ProblemModel& model) {
  std::ostringstream console;
  Solved s;
  s.m = solveStructured(model, Unknowns(model), s.solutions, consoleSpinner(console), 0);
  s.console = console.str();
  return s;
}

TEST(StructuredSolve, AgreesWithTheFullSystem) {
  for (OracleCase& c : oracleCases(true)) {
    const Solved full = solveFull(c.model.model);
    const Solved blocks = solveInBlocks(c.model.model);
    EXPECT_EQ(blocks.console, full.console) << c.name;
    double largest = 0.0;
    for (int r = 1; r <= full.m.size(); ++r)
      for (int col = 1; col <= full.m.size(); ++col)
        largest = std::max(largest, std::abs(full.m(r, col)));
    for (int r = 1; r <= full.m.size(); ++r)
      for (int col = 1; col <= full.m.size(); ++col)
        EXPECT_LE(std::abs(blocks.m(r, col) - full.m(r, col)), 1e-10 * largest)
            << c.name << " [" << r << "," << col << "]";
    ASSERT_EQ(blocks.solutions.rows(), full.solutions.rows()) << c.name;
    ASSERT_EQ(blocks.solutions.cols(), full.solutions.cols()) << c.name;
    const double scale = largestMagnitude(full.solutions);
    for (std::int64_t col = 1; col <= full.solutions.cols(); ++col)
      for (std::int64_t r = 1; r <= full.solutions.rows(); ++r)
        ASSERT_LE(std::abs(blocks.solutions(r, col) - full.solutions(r, col)), 1e-10 * scale)
            << c.name << " unknown " << r << ", current in " << col;
  }
}

// A conductor without elements leaves its current row empty: both solves stop, naming the
// same column (its potential constant).
TEST(StructuredSolve, SingularSystemStopsAsTheFullSystemDoes) {
  std::vector<OracleCase> cases = oracleCases();
  ProblemModel& model = cases[1].model.model;
  model.conductorCount = 2;
  const auto message = [&](const std::function<void()>& solve) {
    try {
      solve();
    } catch (const FatalError& error) {
      return error.message();
    }
    return std::string("no stop");
  };
  const std::string full = message([&] { solveFull(model); });
  EXPECT_EQ(full, "\nThe BEM system is singular (zero pivot in column " +
                      std::to_string(Unknowns(model).conductor(2)) + ");\n");
  EXPECT_EQ(message([&] { solveInBlocks(model); }), full);
}

}  // namespace
}  // namespace qbr
