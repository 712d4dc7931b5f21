#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "bem/resolution.hpp"
#include "bem/solution.hpp"
#include "base/fatal_stop.hpp"

namespace qbr {
namespace {

// A model without elements' geometry: one element of `gridCount` nodes gives
// 2 * gridCount node unknowns ahead of the conductor unknowns.
ProblemModel modelWith(int gridCount, int conductorCount, bool hasReturn) {
  ProblemModel model;
  model.elementCount = 1;
  model.elements[0].gridCount = gridCount;
  model.conductorCount = conductorCount;
  model.conductors[0].n_memb = hasReturn ? 1 : 0;
  model.omega = 2.0 * kPi * 1e6;
  return model;
}

WorkArrays workFor(const Unknowns& unknowns) {
  WorkArrays work;
  work.A = ComplexMatrix(unknowns.nd(), unknowns.nd());
  work.b = ComplexMatrix(unknowns.nd(), unknowns.conductorCount());
  return work;
}

void expectClose(const Complex& actual, const Complex& expected, const char* what) {
  EXPECT_NEAR(actual.real(), expected.real(), 1e-12 * std::abs(expected)) << what;
  EXPECT_NEAR(actual.imag(), expected.imag(), 1e-12 * std::abs(expected)) << what;
}

TEST(SolveConductorMatrix, SingleConductorWithoutReturn) {
  const ProblemModel model = modelWith(1, 1, false);
  const Unknowns unknowns(model);
  ASSERT_EQ(unknowns.nd(), 3);
  WorkArrays work = workFor(unknowns);
  // Node equations x1 + a x3 = 0, x2 + b x3 = 0; current equation c x1 + g x3 = 1,
  // so x3 = 1 / (g - c a).
  const Complex a(0.5, 0.25), b(-1.0, 2.0), c(2.0, -1.0), g(4.0, 3.0);
  work.A(1, 1) = 1.0;
  work.A(1, 3) = a;
  work.A(2, 2) = 1.0;
  work.A(2, 3) = b;
  work.A(3, 1) = c;
  work.A(3, 3) = g;
  std::ostringstream console;
  const ConductorMatrix m = solveConductorMatrix(model, unknowns, work, console);

  EXPECT_EQ(console.str(), "LU:  \b/\b-\b  done;\n");
  ASSERT_EQ(m.size(), 1);
  const Complex potential = 1.0 / (g - c * a);
  expectClose(m(1, 1), potential * 0.4 * kPi, "inductance");
  expectClose(work.b(1, 1), -a * potential, "node unknown");
}

// Two reported conductors returning through conductor 0. With the conductor unknowns
// x0, x1, x2 the current rows read x0 + x1 + x2 = r0, 2 x0 + g1 x1 = r1, g2 x2 = r2;
// the first column needs a row exchange.
struct TwoConductorSystem {
  Complex g1{3.0, 1.0};
  Complex g2{0.5, -2.0};

  void fill(const Unknowns& u, ComplexMatrix& A) const {
    A(1, 1) = 1.0;
    A(2, 2) = 1.0;
    A(1, u.conductor(1)) = Complex(0.3, -0.7);  // node rows depend on the constants
    A(2, u.conductor(0)) = Complex(-1.5, 0.2);
    A(u.conductor(0), u.conductor(0)) = 1.0;
    A(u.conductor(0), u.conductor(1)) = 1.0;
    A(u.conductor(0), u.conductor(2)) = 1.0;
    A(u.conductor(1), u.conductor(0)) = 2.0;
    A(u.conductor(1), u.conductor(1)) = g1;
    A(u.conductor(2), u.conductor(2)) = g2;
  }
  // Potentials against conductor 0, v[r][c], solved by hand.
  std::array<std::array<Complex, 3>, 3> potentials() const {
    std::array<std::array<Complex, 3>, 3> v{};
    {  // c = 1: r = (-1, 1, 0)
      const Complex x2 = 0.0;
      const Complex x1 = 3.0 / (g1 - 2.0);
      const Complex x0 = -1.0 - x1;
      v[1][1] = x1 - x0;
      v[2][1] = x2 - x0;
    }
    {  // c = 2: r = (-1, 0, 1)
      const Complex x2 = 1.0 / g2;
      const Complex x1 = (-1.0 - x2) / (1.0 - g1 / 2.0);
      const Complex x0 = -g1 * x1 / 2.0;
      v[1][2] = x1 - x0;
      v[2][2] = x2 - x0;
    }
    return v;
  }
};

TEST(SolveConductorMatrix, ReturnConductorGivesPotentialDifferences) {
  ProblemModel model = modelWith(1, 2, true);
  const Unknowns unknowns(model);
  ASSERT_EQ(unknowns.nd(), 5);
  const TwoConductorSystem system;
  const auto v = system.potentials();

  for (const bool phases : {true, false}) {
    model.phaseVariables = phases;
    WorkArrays work = workFor(unknowns);
    system.fill(unknowns, work.A);
    std::ostringstream console;
    const ConductorMatrix m = solveConductorMatrix(model, unknowns, work, console);
    ASSERT_EQ(m.size(), 2);
    for (int r = 1; r <= 2; ++r) {
      for (int c = 1; c <= 2; ++c) {
        const Complex x = v[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
        // Impedance: R = -0.4 pi omega Im v, X = 0.4 pi omega Re v.
        const Complex expected = phases ? x * 0.4 * kPi
                                        : Complex(-0.4 * kPi * model.omega * x.imag(),
                                                  0.4 * kPi * model.omega * x.real());
        expectClose(m(r, c), expected, phases ? "inductance" : "impedance");
      }
    }
    // Column c of b holds the whole solution for a unit current in conductor c.
    EXPECT_NEAR(std::abs(work.b(unknowns.conductor(2), 2) - 1.0 / system.g2), 0.0, 1e-14);
  }
}

TEST(SolveConductorMatrix, ConductorWithoutElementsStopsInsteadOfPrintingNaN) {
  // Conductor 2 carries no element: its row and column of A stay zero.
  const ProblemModel model = modelWith(1, 2, false);
  const Unknowns unknowns(model);
  WorkArrays work = workFor(unknowns);
  work.A(1, 1) = 1.0;
  work.A(2, 2) = 1.0;
  work.A(unknowns.conductor(1), unknowns.conductor(1)) = 2.0;
  std::ostringstream console;
  try {
    solveConductorMatrix(model, unknowns, work, console);
    ADD_FAILURE() << "singular system solved";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nThe BEM system is singular (zero pivot in column 4);\n");
  }
}

TEST(SolveConductorMatrix, ANonFiniteResultStopsTheRun) {
  const ProblemModel model = modelWith(1, 1, false);
  const Unknowns unknowns(model);
  WorkArrays work = workFor(unknowns);
  work.A(1, 1) = 1.0;
  work.A(2, 2) = 1.0;
  work.A(3, 3) = Complex(std::nan(""), 0.0);
  std::ostringstream console;
  try {
    solveConductorMatrix(model, unknowns, work, console);
    ADD_FAILURE() << "a not-a-number result was returned";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(),
              "\nThe conductor matrix is not finite (conductor 1, current in 1); check "
              "materials, frequency and grids;\n");
  }
}

// A self inductance within a hundred rounding errors of the resistance (sqrt(nd) units of
// roundoff of the largest entry) is refused: in the impedance scale (R, X) and in the
// inductance scale (L, -R/omega) alike.
TEST(SolveConductorMatrix, AnInductanceLostInRoundingStopsTheRun) {
  for (const bool phases : {false, true}) {
    for (const double ratio : {1e-10, 1e-14}) {
      ConductorMatrix m(2);
      const Complex resistiveOnly = phases ? Complex(0.0, -1.0) : Complex(1.0, 0.0);
      const Complex inductiveOnly = phases ? Complex(1.0, 0.0) : Complex(0.0, 1.0);
      m(1, 1) = resistiveOnly + ratio * inductiveOnly;
      m(2, 2) = resistiveOnly + 0.5 * inductiveOnly;
      m(1, 2) = m(2, 1) = 0.1 * inductiveOnly;
      if (ratio > 1e-12) {
        EXPECT_NO_THROW(checkInductanceAboveRounding(m, phases, 2500)) << ratio;
        continue;
      }
      try {
        checkInductanceAboveRounding(m, phases, 2500);
        ADD_FAILURE() << "an inductance beyond the precision was reported";
      } catch (const FatalError& error) {
        EXPECT_NE(error.message().find("inductance of conductor 1 is lost in rounding"),
                  std::string::npos);
      }
    }
  }
}

// Refinement to 1e-4 stops on the second of two ladders in a row within half of it when
// the last converges regularly; irregular ladders need both ten times below it.
TEST(ToleranceTracker, StopsOnTwoLaddersWithinAndRegularOrBothFarBelow) {
  ToleranceTracker regular{1e-4};
  EXPECT_FALSE(regular.met(4e-5, true));
  EXPECT_FALSE(regular.met(6e-5, true));  // beyond half the tolerance
  EXPECT_FALSE(regular.met(4e-5, true));
  EXPECT_TRUE(regular.met(4e-5, true));
  ToleranceTracker irregular{1e-4};
  EXPECT_FALSE(irregular.met(4e-5, false));
  EXPECT_FALSE(irregular.met(4e-5, false));
  EXPECT_FALSE(irregular.met(9e-6, false));  // the ladder before was not far below
  EXPECT_TRUE(irregular.met(9e-6, false));
}

}  // namespace
}  // namespace qbr
