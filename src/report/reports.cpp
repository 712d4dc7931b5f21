#include "report/reports.hpp"

#include <algorithm>
#include <sstream>
#include <string>

namespace qbr {

namespace {

constexpr int kConsoleBlock = 4;

void inductanceLine(std::ostream& text, const ConductorMatrix& m, int i, int j) {
  text << i << "  " << j << "   " << m(i, j) << "\n";
}

void impedanceLine(std::ostream& text, const ConductorMatrix& m, double omega, int i, int j) {
  const Complex z = m(i, j);
  text << "i=" << i << "  j=" << j << "   R=" << z.real() << "   X=" << z.imag()
       << "   L=" << z.imag() / omega << "\n";
}

}  // namespace

void reportInductanceMatrix(const ConductorMatrix& m, RunIo& io) {
  const int n = m.size();
  // Composed in a fresh stream: the default number format whatever flags the log or
  // console carry.
  std::ostringstream log;
  log << "\nInductance matrix [pH/um]:\n\n";
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) inductanceLine(log, m, i, j);
  }
  log << "\n";
  io.log << log.str();

  std::ostringstream console;
  console << "\n\n\nInductance matrix [pH/um]";
  console << (n > kConsoleBlock ? " (4*4 submatrix):\n\n" : ":\n\n");
  const int shown = std::min(n, kConsoleBlock);
  for (int i = 1; i <= shown; ++i) {
    for (int j = 1; j <= shown; ++j) inductanceLine(console, m, i, j);
  }
  console << "\n";
  io.console << console.str();
}

void reportImpedanceMatrix(const ConductorMatrix& m, double omega, RunIo& io) {
  const int n = m.size();
  std::ostringstream log;
  log << "\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n";
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) impedanceLine(log, m, omega, i, j);
  }
  log << "\n";
  io.log << log.str();

  std::ostringstream console;
  console << "\n\nZ[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:\n\n";
  if (n > kConsoleBlock) console << " (4*4 submatrix):\n\n";
  const int shown = std::min(n, kConsoleBlock);
  for (int i = 1; i <= shown; ++i) {
    for (int j = i; j <= shown; ++j) impedanceLine(console, m, omega, i, j);
  }
  console << "\n";
  io.console << console.str();
}

}  // namespace qbr
