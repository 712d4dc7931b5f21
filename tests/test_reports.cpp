#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>

#include "report/reports.hpp"

namespace qbr {
namespace {

// Entry (i, j) = (10 i + j, -j / 4), distinct in every position.
ConductorMatrix numbered(int n) {
  ConductorMatrix m(n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) m(i, j) = Complex(10.0 * i + j, -0.25 * j);
  }
  return m;
}

struct Captured {
  std::string console;
  std::string log;
};

Captured inductance(const ConductorMatrix& m) {
  std::ostringstream console, log;
  RunIo io{console, log};
  reportInductanceMatrix(m, io);
  return {console.str(), log.str()};
}

Captured impedance(const ConductorMatrix& m, double omega) {
  std::ostringstream console, log;
  RunIo io{console, log};
  reportImpedanceMatrix(m, omega, io);
  return {console.str(), log.str()};
}

TEST(InductanceReport, OneConductor) {
  const Captured out = inductance(numbered(1));
  EXPECT_EQ(out.log, "\nInductance matrix [pH/um]:\n\n1  1   (11,-0.25)\n\n");
  EXPECT_EQ(out.console, "\n\n\nInductance matrix [pH/um]:\n\n1  1   (11,-0.25)\n\n");
}

TEST(InductanceReport, ThreeConductorsLogUpperTriangleConsoleBothTriangles) {
  const Captured out = inductance(numbered(3));
  EXPECT_EQ(out.log,
            "\nInductance matrix [pH/um]:\n\n"
            "1  1   (11,-0.25)\n1  2   (12,-0.5)\n1  3   (13,-0.75)\n"
            "2  2   (22,-0.5)\n2  3   (23,-0.75)\n"
            "3  3   (33,-0.75)\n\n");
  EXPECT_EQ(out.console,
            "\n\n\nInductance matrix [pH/um]:\n\n"
            "1  1   (11,-0.25)\n1  2   (12,-0.5)\n1  3   (13,-0.75)\n"
            "2  1   (21,-0.25)\n2  2   (22,-0.5)\n2  3   (23,-0.75)\n"
            "3  1   (31,-0.25)\n3  2   (32,-0.5)\n3  3   (33,-0.75)\n\n");
}

TEST(InductanceReport, FourConductorsFillTheConsoleBlock) {
  const Captured out = inductance(numbered(4));
  const auto line = [](int i, int j) {
    const std::string x = j == 1 ? "-0.25" : j == 2 ? "-0.5" : j == 3 ? "-0.75" : "-1";
    return std::to_string(i) + "  " + std::to_string(j) + "   (" + std::to_string(10 * i + j) +
           "," + x + ")\n";
  };
  std::string square, triangle;
  for (int i = 1; i <= 4; ++i) {
    for (int j = 1; j <= 4; ++j) {
      square += line(i, j);
      if (j >= i) triangle += line(i, j);
    }
  }
  EXPECT_EQ(out.console, "\n\n\nInductance matrix [pH/um]:\n\n" + square + "\n");
  EXPECT_EQ(out.log, "\nInductance matrix [pH/um]:\n\n" + triangle + "\n");
}

TEST(InductanceReport, FiveConductorsShowTheLeadingSubmatrixOnTheConsole) {
  const Captured out = inductance(numbered(5));
  EXPECT_EQ(out.log,
            "\nInductance matrix [pH/um]:\n\n"
            "1  1   (11,-0.25)\n1  2   (12,-0.5)\n1  3   (13,-0.75)\n1  4   (14,-1)\n"
            "1  5   (15,-1.25)\n"
            "2  2   (22,-0.5)\n2  3   (23,-0.75)\n2  4   (24,-1)\n2  5   (25,-1.25)\n"
            "3  3   (33,-0.75)\n3  4   (34,-1)\n3  5   (35,-1.25)\n"
            "4  4   (44,-1)\n4  5   (45,-1.25)\n"
            "5  5   (55,-1.25)\n\n");
  EXPECT_EQ(out.console,
            "\n\n\nInductance matrix [pH/um] (4*4 submatrix):\n\n"
            "1  1   (11,-0.25)\n1  2   (12,-0.5)\n1  3   (13,-0.75)\n1  4   (14,-1)\n"
            "2  1   (21,-0.25)\n2  2   (22,-0.5)\n2  3   (23,-0.75)\n2  4   (24,-1)\n"
            "3  1   (31,-0.25)\n3  2   (32,-0.5)\n3  3   (33,-0.75)\n3  4   (34,-1)\n"
            "4  1   (41,-0.25)\n4  2   (42,-0.5)\n4  3   (43,-0.75)\n4  4   (44,-1)\n\n");
}

TEST(ImpedanceReport, ThreeConductorsUpperTriangleInBoth) {
  const Captured out = impedance(numbered(3), 0.5);
  const std::string lines =
      "i=1  j=1   R=11   X=-0.25   L=-0.5\n"
      "i=1  j=2   R=12   X=-0.5   L=-1\n"
      "i=1  j=3   R=13   X=-0.75   L=-1.5\n"
      "i=2  j=2   R=22   X=-0.5   L=-1\n"
      "i=2  j=3   R=23   X=-0.75   L=-1.5\n"
      "i=3  j=3   R=33   X=-0.75   L=-1.5\n";
  EXPECT_EQ(out.log, "\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n" + lines + "\n");
  EXPECT_EQ(out.console, "\n\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n" + lines + "\n");
}

TEST(ImpedanceReport, OneAndFourConductorsHaveNoSubmatrixLine) {
  const Captured one = impedance(numbered(1), 1.0);
  EXPECT_EQ(
      one.console,
      "\n\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\ni=1  j=1   R=11   X=-0.25   L=-0.25\n\n");
  EXPECT_EQ(one.log,
            "\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\ni=1  j=1   R=11   X=-0.25   L=-0.25\n\n");

  const Captured four = impedance(numbered(4), 1.0);
  std::string lines;
  for (int i = 1; i <= 4; ++i) {
    for (int j = i; j <= 4; ++j) {
      const std::string x = j == 1 ? "-0.25" : j == 2 ? "-0.5" : j == 3 ? "-0.75" : "-1";
      lines += "i=" + std::to_string(i) + "  j=" + std::to_string(j) +
               "   R=" + std::to_string(10 * i + j) + "   X=" + x + "   L=" + x + "\n";
    }
  }
  EXPECT_EQ(four.console, "\n\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n" + lines + "\n");
  EXPECT_EQ(four.log, "\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n" + lines + "\n");
}

TEST(ImpedanceReport, FiveConductorsSubmatrixLineFollowsTheHeading) {
  const Captured out = impedance(numbered(5), 1.0);
  EXPECT_EQ(out.console,
            "\n\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n (4*4 submatrix):\n\n"
            "i=1  j=1   R=11   X=-0.25   L=-0.25\ni=1  j=2   R=12   X=-0.5   L=-0.5\n"
            "i=1  j=3   R=13   X=-0.75   L=-0.75\ni=1  j=4   R=14   X=-1   L=-1\n"
            "i=2  j=2   R=22   X=-0.5   L=-0.5\ni=2  j=3   R=23   X=-0.75   L=-0.75\n"
            "i=2  j=4   R=24   X=-1   L=-1\n"
            "i=3  j=3   R=33   X=-0.75   L=-0.75\ni=3  j=4   R=34   X=-1   L=-1\n"
            "i=4  j=4   R=44   X=-1   L=-1\n\n");
  EXPECT_EQ(out.log,
            "\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n"
            "i=1  j=1   R=11   X=-0.25   L=-0.25\ni=1  j=2   R=12   X=-0.5   L=-0.5\n"
            "i=1  j=3   R=13   X=-0.75   L=-0.75\ni=1  j=4   R=14   X=-1   L=-1\n"
            "i=1  j=5   R=15   X=-1.25   L=-1.25\n"
            "i=2  j=2   R=22   X=-0.5   L=-0.5\ni=2  j=3   R=23   X=-0.75   L=-0.75\n"
            "i=2  j=4   R=24   X=-1   L=-1\ni=2  j=5   R=25   X=-1.25   L=-1.25\n"
            "i=3  j=3   R=33   X=-0.75   L=-0.75\ni=3  j=4   R=34   X=-1   L=-1\n"
            "i=3  j=5   R=35   X=-1.25   L=-1.25\n"
            "i=4  j=4   R=44   X=-1   L=-1\ni=4  j=5   R=45   X=-1.25   L=-1.25\n"
            "i=5  j=5   R=55   X=-1.25   L=-1.25\n\n");
}

TEST(Reports, WorkedEntryAndDefaultNumberFormat) {
  ConductorMatrix m(2);
  m(1, 1) = Complex(1.0 / 3.0, 1234567.0);
  m(1, 2) = Complex(0.5, 2.0);
  m(2, 1) = Complex(0.5, 2.0);
  m(2, 2) = Complex(1e-9, -7.0);
  std::ostringstream console, log;
  console << std::fixed << std::setprecision(2);  // state left behind by someone else
  log << std::scientific;
  RunIo io{console, log};
  reportImpedanceMatrix(m, 2.0, io);
  EXPECT_EQ(log.str(),
            "\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n"
            "i=1  j=1   R=0.333333   X=1.23457e+06   L=617284\n"
            "i=1  j=2   R=0.5   X=2   L=1\n"
            "i=2  j=2   R=1e-09   X=-7   L=-3.5\n\n");
  const Captured out = inductance(m);
  EXPECT_NE(out.log.find("\n1  2   (0.5,2)\n"), std::string::npos);
  EXPECT_NE(out.console.find("\n2  1   (0.5,2)\n"), std::string::npos);
}

}  // namespace
}  // namespace qbr
