#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bem/lapack.hpp"
#include "bem/lu.hpp"
#include "base/fatal_stop.hpp"

namespace qbr {
namespace {

// The plain row-oriented elimination the blocked factorisation must agree with:
// exchanges applied lazily column by column, negated multipliers, ties keep the upper
// row, pivots chosen by the true modulus, tiny pivots and tiny updates skipped.
void referenceFactor(ComplexMatrix& A, std::vector<int>& p) {
  const int n = static_cast<int>(A.rows());
  p.assign(static_cast<std::size_t>(n) + 1, 0);
  for (int k = 1; k <= n - 1; ++k) {
    int l = k;
    for (int i = k + 1; i <= n; ++i) {
      if (std::abs(A(i, k)) > std::abs(A(l, k))) l = i;
    }
    p[static_cast<std::size_t>(k)] = l;
    std::swap(A(l, k), A(k, k));
    const Complex t = A(k, k);
    if (std::abs(t) < kTiny) continue;
    for (int i = k + 1; i <= n; ++i) A(i, k) = (-A(i, k)) / t;
    for (int j = k + 1; j <= n; ++j) {
      std::swap(A(l, j), A(k, j));
      const Complex s = A(k, j);
      if (std::abs(s) >= kTiny) {
        for (int i = k + 1; i <= n; ++i) A(i, j) += A(i, k) * s;
      }
    }
  }
}

// b is 1-based (slot 0 unused).
void referenceSolve(const ComplexMatrix& A, std::vector<Complex>& b, const std::vector<int>& p) {
  const int n = static_cast<int>(A.rows());
  if (n == 1) {
    b[1] = b[1] / A(1, 1);
    return;
  }
  for (int k = 1; k <= n - 1; ++k) {
    const int l = p[static_cast<std::size_t>(k)];
    std::swap(b[static_cast<std::size_t>(l)], b[static_cast<std::size_t>(k)]);
    const Complex t = b[static_cast<std::size_t>(k)];
    for (int i = k + 1; i <= n; ++i) b[static_cast<std::size_t>(i)] += A(i, k) * t;
  }
  for (int k = n; k >= 2; --k) {
    b[static_cast<std::size_t>(k)] = b[static_cast<std::size_t>(k)] / A(k, k);
    const Complex t = -b[static_cast<std::size_t>(k)];
    for (int i = 1; i <= k - 1; ++i) b[static_cast<std::size_t>(i)] += t * A(i, k);
  }
  b[1] = b[1] / A(1, 1);
}

ComplexMatrix copyOf(const ComplexMatrix& m) {
  ComplexMatrix c(m.rows(), m.cols());
  std::copy(m.data(), m.data() + m.rows() * m.cols(), c.data());
  return c;
}

ComplexMatrix randomMatrix(int rows, int cols, unsigned seed, bool realOnly = false) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  ComplexMatrix m(rows, cols);
  for (int j = 1; j <= cols; ++j) {
    for (int i = 1; i <= rows; ++i) {
      const double re = dist(gen);
      const double im = realOnly ? 0.0 : dist(gen);
      m(i, j) = Complex(re, im);
    }
  }
  return m;
}

ComplexMatrix matrixOf(std::initializer_list<std::initializer_list<Complex>> rows) {
  const int n = static_cast<int>(rows.size());
  ComplexMatrix m(n, static_cast<int>(rows.begin()->size()));
  int i = 1;
  for (const auto& row : rows) {
    int j = 1;
    for (const Complex& value : row) m(i, j++) = value;
    ++i;
  }
  return m;
}

double largestModulus(const ComplexMatrix& m) {
  double largest = 0.0;
  for (std::int64_t i = 0; i < m.rows() * m.cols(); ++i)
    largest = std::max(largest, std::abs(m.data()[i]));
  return largest;
}

// Factorises with the fast path and with the reference, solves `rhs` columns with both
// and returns the largest difference of the solutions relative to their largest entry.
double solutionDifference(const ComplexMatrix& A, const ComplexMatrix& rhs, int panelWidth) {
  ComplexMatrix fast = copyOf(A);
  std::vector<int> pivots;
  std::ostringstream console;
  luFactor(fast, pivots, console, panelWidth);
  ComplexMatrix x = copyOf(rhs);
  luSolve(fast, pivots, x);

  ComplexMatrix ref = copyOf(A);
  std::vector<int> refPivots;
  referenceFactor(ref, refPivots);
  double difference = 0.0;
  const double scale = largestModulus(x);
  for (int c = 1; c <= rhs.cols(); ++c) {
    std::vector<Complex> b(static_cast<std::size_t>(A.rows()) + 1);
    for (int i = 1; i <= A.rows(); ++i) b[static_cast<std::size_t>(i)] = rhs(i, c);
    referenceSolve(ref, b, refPivots);
    for (int i = 1; i <= A.rows(); ++i) {
      difference = std::max(difference, std::abs(x(i, c) - b[static_cast<std::size_t>(i)]));
    }
  }
  return difference / scale;
}

TEST(LuFactor, TwoByTwoExampleExchangesRowsAndSolves) {
  ComplexMatrix A = matrixOf({{1.0, 2.0}, {3.0, 4.0}});
  std::vector<int> pivots;
  std::ostringstream console;
  luFactor(A, pivots, console);
  ASSERT_EQ(pivots.size(), 2u);
  EXPECT_EQ(pivots[0], 2);
  EXPECT_EQ(A(1, 1), Complex(3.0));
  EXPECT_EQ(A(1, 2), Complex(4.0));
  EXPECT_NEAR(A(2, 1).real(), 1.0 / 3.0, 1e-15);  // the multiplier itself, not negated
  EXPECT_NEAR(A(2, 2).real(), 2.0 / 3.0, 1e-15);

  ComplexMatrix b(2, 1);
  b(1, 1) = 5.0;
  b(2, 1) = 6.0;
  luSolve(A, pivots, b);
  EXPECT_NEAR(b(1, 1).real(), -4.0, 1e-14);
  EXPECT_NEAR(b(2, 1).real(), 4.5, 1e-14);
  EXPECT_EQ(b(1, 1).imag(), 0.0);

  // The reference gives the same factors with the negated multiplier.
  ComplexMatrix ref = matrixOf({{1.0, 2.0}, {3.0, 4.0}});
  std::vector<int> refPivots;
  referenceFactor(ref, refPivots);
  EXPECT_EQ(refPivots[1], 2);
  EXPECT_NEAR(ref(2, 1).real(), -1.0 / 3.0, 1e-15);
  std::vector<Complex> rb{0.0, 5.0, 6.0};
  referenceSolve(ref, rb, refPivots);
  EXPECT_NEAR(rb[1].real(), -4.0, 1e-14);
  EXPECT_NEAR(rb[2].real(), 4.5, 1e-14);
}

TEST(LuFactor, PivotTiesKeepTheUpperRow) {
  // Equal moduli in the pivot column, by both the true modulus and the sum of parts.
  ComplexMatrix A =
      matrixOf({{Complex(1, 0), 2.0, 0.5}, {Complex(-1, 0), 3.0, 1.0}, {Complex(0, 1), 1.0, 4.0}});
  ComplexMatrix ref = copyOf(A);
  std::vector<int> pivots;
  std::ostringstream console;
  luFactor(A, pivots, console, 1);
  EXPECT_EQ(pivots[0], 1);
  std::vector<int> refPivots;
  referenceFactor(ref, refPivots);
  EXPECT_EQ(refPivots[1], 1);
  EXPECT_EQ(pivots[1], refPivots[2]);
}

TEST(LuFactor, ConsoleShowsOneSpinnerStepPerEliminatedColumn) {
  struct Case {
    int n;
    int panelWidth;
    std::string text;
  };
  const std::vector<Case> cases = {
      {1, kLuPanelWidth, ""},
      {2, kLuPanelWidth, "LU:  \b/\b  done;\n"},
      {5, kLuPanelWidth, "LU:  \b/\b-\b\\\b|\b  done;\n"},
      {5, 2, "LU:  \b/\b-\b\\\b|\b  done;\n"},
      {6, 3, "LU:  \b/\b-\b\\\b|\b/\b  done;\n"},
      {6, 1, "LU:  \b/\b-\b\\\b|\b/\b  done;\n"},
  };
  for (const Case& c : cases) {
    ComplexMatrix A = randomMatrix(c.n, c.n, 7);
    std::vector<int> pivots;
    std::ostringstream console;
    luFactor(A, pivots, console, c.panelWidth);
    EXPECT_EQ(console.str(), c.text) << "n = " << c.n << ", panel width " << c.panelWidth;
    EXPECT_EQ(pivots.size(), static_cast<std::size_t>(c.n));
  }
}

TEST(LuFactor, SizeOneIsSolvedByDivision) {
  ComplexMatrix A(1, 1);
  A(1, 1) = Complex(0.0, 2.0);
  std::vector<int> pivots;
  std::ostringstream console;
  luFactor(A, pivots, console);
  EXPECT_EQ(console.str(), "");
  ASSERT_EQ(pivots, std::vector<int>{1});
  ComplexMatrix b(1, 2);
  b(1, 1) = Complex(4.0, 0.0);
  b(1, 2) = Complex(0.0, 1.0);
  luSolve(A, pivots, b);
  EXPECT_EQ(b(1, 1), Complex(0.0, -2.0));
  EXPECT_EQ(b(1, 2), Complex(0.5, 0.0));
}

TEST(LuFactor, RandomComplexSystemsAgreeWithTheReference) {
  struct Case {
    int n;
    int panelWidth;
  };
  // Sizes below, at and across panel boundaries, including widths that do not divide n.
  const std::vector<Case> cases = {
      {2, kLuPanelWidth},   {3, 2},  {17, 4}, {64, 8}, {100, 32}, {257, 32}, {300, kLuPanelWidth},
      {401, kLuPanelWidth}, {129, 1}};
  unsigned seed = 11;
  for (const Case& c : cases) {
    const ComplexMatrix A = randomMatrix(c.n, c.n, seed++);
    const ComplexMatrix rhs = randomMatrix(c.n, 3, seed++);
    EXPECT_LT(solutionDifference(A, rhs, c.panelWidth), 1e-10)
        << "n = " << c.n << ", panel width " << c.panelWidth;
  }
}

TEST(LuFactor, UpperFactorAndPivotsMatchTheReferenceOnRealSystems) {
  // On real data both pivot rules measure the same modulus, so the pivot sequences
  // must coincide and U must agree to rounding.
  for (const int n : {5, 70, 300}) {
    const ComplexMatrix A = randomMatrix(n, n, 100 + static_cast<unsigned>(n), true);
    ComplexMatrix fast = copyOf(A);
    std::vector<int> pivots;
    std::ostringstream console;
    luFactor(fast, pivots, console, 16);
    ComplexMatrix ref = copyOf(A);
    std::vector<int> refPivots;
    referenceFactor(ref, refPivots);

    for (int k = 1; k <= n - 1; ++k) {
      ASSERT_EQ(pivots[static_cast<std::size_t>(k - 1)], refPivots[static_cast<std::size_t>(k)])
          << "n = " << n << ", column " << k;
    }
    const double scale = largestModulus(ref);
    double difference = 0.0;
    for (int j = 1; j <= n; ++j) {
      for (int i = 1; i <= j; ++i)
        difference = std::max(difference, std::abs(fast(i, j) - ref(i, j)));
    }
    EXPECT_LT(difference / scale, 1e-12) << "n = " << n;
  }
}

TEST(LuFactor, ExactlyZeroPivotStopsTheRun) {
  const int blasThreads = openblas_get_num_threads();
  struct Case {
    int n;
    int zeroColumn;
    int panelWidth;
  };
  for (const Case& c :
       std::vector<Case>{{1, 1, kLuPanelWidth}, {4, 2, kLuPanelWidth}, {20, 11, 4}}) {
    ComplexMatrix A = randomMatrix(c.n, c.n, 5);
    for (int i = 1; i <= c.n; ++i) A(i, c.zeroColumn) = 0.0;
    std::vector<int> pivots;
    std::ostringstream console;
    try {
      luFactor(A, pivots, console, c.panelWidth);
      ADD_FAILURE() << "no stop for a singular system of size " << c.n;
    } catch (const FatalError& error) {
      EXPECT_EQ(error.message(), "\nThe BEM system is singular (zero pivot in column " +
                                     std::to_string(c.zeroColumn) + ");\n");
      EXPECT_TRUE(error.toLog());
    }
    // The panel runs on one BLAS thread; the stop must not leave the pool shrunk.
    EXPECT_EQ(openblas_get_num_threads(), blasThreads);
  }
}

TEST(LuFactor, SmallButNonzeroEntriesAreNotDropped) {
  // In small length units genuine coefficients fall below 1e-7; the factorisation must
  // treat them as the numbers they are.
  ComplexMatrix A = matrixOf({{1e-9, 2e-9}, {3e-9, 4e-9}});
  std::vector<int> pivots;
  std::ostringstream console;
  luFactor(A, pivots, console);
  ComplexMatrix b(2, 1);
  b(1, 1) = 5e-9;
  b(2, 1) = 6e-9;
  luSolve(A, pivots, b);
  EXPECT_NEAR(b(1, 1).real(), -4.0, 1e-12);
  EXPECT_NEAR(b(2, 1).real(), 4.5, 1e-12);
}

}  // namespace
}  // namespace qbr
