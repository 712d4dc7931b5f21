// qbr-accuracy: runs the program's computation on cross-sections with a closed-form answer
// and prints markdown tables of computed value, reference, relative error and run time.
//
//   qbr-accuracy                 the full tables (about a minute on two cores)
//   qbr-accuracy --quick         a few small cases, checked against error bounds; exit
//                                status 1 when one is exceeded (run by CTest)
//   qbr-accuracy --plot FILE     also writes the convergence of the superconducting coax
//                                as an EPS drawing
//   qbr-accuracy --reference sc-coax LAMBDA A B C
//                                prints the London inductance (pH/um) of a
//                                superconducting coax; all lengths in one unit
//   qbr-accuracy --reference nc-coax SIGMA A B C FREQUENCY
//                                prints R, X (ohm/m times 1e6) and L (pH/um) of a
//                                normal-metal coax; S/m, metres, hertz
//   qbr-accuracy --run FILE      computes an input file in process and prints entry
//                                (1, 1) of its result with nine digits
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "qbr/qbr.hpp"
#include "support/coax_reference.hpp"
#include "support/trust_models.hpp"

namespace {

namespace fs = std::filesystem;
using qbr::reference::Cd;
using qbr::reference::kMu0Full;
using qbr::reference::kPiFull;

struct Result {
  Cd value;  // conductor matrix entry (1, 1)
  int nd = 0;
  double omega = 0.0;
  bool inductance = true;  // the inductance report, not the impedance report
  double seconds = 0.0;
};

// A solve of an input file through the library: read, set up, check, grids, fill,
// factorisation and solution. The time covers all of them.
Result computeFile(const std::string& file) {
  Result result;
  const auto start = std::chrono::steady_clock::now();
  try {
    const qbr::Result r = qbr::solve(qbr::Model::fromFile(file));
    result.value = r.printed(0, 0);
    result.nd = r.nd;
    result.omega = r.omegaRadPerS;
    result.inductance = r.mode == qbr::Result::Mode::kInductance;
  } catch (const qbr::Error& error) {
    std::fprintf(stderr, "qbr-accuracy: the run of %s stopped:%s\n", file.c_str(),
                 error.message().c_str());
    std::exit(2);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

// The same on an input text, through a temporary file.
Result compute(const std::string& input) {
  const fs::path file =
      fs::temp_directory_path() / ("qbr-accuracy-" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream out(file);
    out << input;
  }
  const Result result = computeFile(file.string());
  fs::remove(file);
  return result;
}

double relativeError(double computed, double reference) {
  return std::fabs(computed / reference - 1.0);
}

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// Failed bounds of the quick mode; each is reported and makes the exit status 1.
struct Checks {
  int failures = 0;
  void bound(bool ok, const std::string& what) {
    if (!ok) {
      ++failures;
      std::fprintf(stderr, "qbr-accuracy: FAILED: %s\n", what.c_str());
    }
  }
};

// --- Superconducting coax over the grid ---------------------------------------------

constexpr double kLambda = 0.09;  // um
constexpr double kScA = 1.0;
constexpr double kScB = 3.0;
constexpr double kScC = 4.0;

struct ConvergencePoint {
  double spacing;  // node spacing on the wire over the penetration or skin depth
  double error;
};

// One line of the convergence plot.
struct Series {
  std::string label;
  const char* colour;  // PostScript rgb
  std::vector<ConvergencePoint> points;
};

double observedOrder(const std::vector<ConvergencePoint>& points) {
  const ConvergencePoint& first = points[points.size() - 2];
  const ConvergencePoint& last = points.back();
  return std::log(first.error / last.error) / std::log(first.spacing / last.spacing);
}

std::vector<ConvergencePoint> superconductingCoaxTable(const std::vector<int>& wireNodes,
                                                       Checks& checks, bool quick,
                                                       std::vector<ConvergencePoint>* graded) {
  const double reference =
      qbr::reference::superconductingCoaxInductance(kLambda, kScA, kScB, kScC).total();
  std::printf(
      "Superconducting coax: wire radius 1 um, tube 3 to 4 um, lambda 0.09 um, 10 GHz; "
      "inductance in pH/um; node spacing h = 2 pi a / n on the wire and the bore.\n\n");
  std::printf(
      "| nodes wire/bore/outside | nd | h (um) | h/lambda | L computed | L reference | "
      "rel. error | time (s) | graded grid: rel. error |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  std::vector<ConvergencePoint> points;
  for (int n : wireNodes) {
    const int tube = 3 * n;
    const Result r = compute(qbr::reference::coaxInput("um", "frequency 10 ghz\npatch 0 sc 0 0.09",
                                                       1.0, kScA, kScB, kScC, n, tube, tube));
    const double h = 2 * kPiFull * kScA / n;
    const double error = relativeError(r.value.real(), reference);
    const Result g = compute(qbr::reference::coaxInput(
        "um", "frequency 10 ghz\npatch 0 sc 0 0.09", 1.0, kScA, kScB, kScC, n, tube, tube,
        "grid graded\n"));
    const double gradedError = relativeError(g.value.real(), reference);
    if (graded) graded->push_back({h / kLambda, std::max(gradedError, 1e-12)});
    std::printf("| %d/%d/%d | %d | %.4f | %.3f | %.9f | %.9f | %.2e | %.2f | %.1e |\n", n, tube,
                tube, r.nd, h, h / kLambda, r.value.real(), reference, error, r.seconds,
                gradedError);
    checks.bound(gradedError < 2e-6, "superconducting coax on a graded grid: error " +
                                         format("%.2e", gradedError));
    // Nodes more than a penetration depth apart have the pieces next to each node
    // integrated by the graded rule, more closely than finer grids with the plain rule:
    // the error falls with the grid on either side of h = lambda.
    if (!points.empty() && (points.back().spacing > 1.0) == (h > kLambda)) {
      checks.bound(error < points.back().error,
                   "superconducting coax: the error must shrink with the grid (n = " +
                       std::to_string(n) + ")");
    }
    checks.bound(std::fabs(r.value.imag()) < 1e-9,
                 "superconducting coax: a lossless line has no resistance");
    // First order in h: the error per unit of h/lambda stays near 1e-4 from the coarsest
    // grid on.
    checks.bound(error < 4e-4 * h / kLambda, "superconducting coax: error " +
                                                 format("%.2e", error) + " at h/lambda " +
                                                 format("%.3f", h / kLambda));
    points.push_back({h / kLambda, error});
  }
  std::printf("\n");
  if (!quick && points.size() >= 2) {
    std::printf("Observed order of convergence between the two finest even grids: %.2f.\n\n",
                observedOrder(points));
  }
  return points;
}

// The copper coax at a skin depth of a third of the wire radius on even and graded grids.
std::array<std::vector<ConvergencePoint>, 2> copperCoaxConvergence() {
  const double ratio = 3.0;
  const double omega = 2.0 / (kMu0Full * 58e6 * std::pow(0.5e-3 / ratio, 2));
  const double frequency = omega / (2 * kPiFull);
  const Cd reference = qbr::reference::normalCoaxImpedance(58e6, omega, 0.5e-3, 1.75e-3, 2e-3);
  std::printf(
      "Copper coax at a skin depth of a third of the wire radius (%.4g Hz), on even and graded "
      "grids: relative error of R and L.\n\n",
      frequency);
  std::printf("| nodes wire/tube | h / delta | even: R | even: L | graded: R | graded: L |\n");
  std::printf("|---|---|---|---|---|---|\n");
  std::array<std::vector<ConvergencePoint>, 2> series;
  char material[200];
  std::snprintf(material, sizeof material,
                "frequency %.17g hz\nconductanceunit s/m\nvariables impedance\npatch 0 nc 58e6",
                frequency);
  for (const int n : {10, 20, 40, 80, 160}) {
    const double h = 2 * kPiFull * 0.5e-3 / n / (0.5e-3 / ratio);
    double errors[2][2] = {};
    for (int graded = 0; graded < 2; ++graded) {
      const Result r = compute(qbr::reference::coaxInput("mm", material, 1e3, 0.5e-3, 1.75e-3,
                                                         2e-3, n, 3 * n, 3 * n,
                                                         graded ? "grid graded\n" : ""));
      errors[graded][0] = relativeError(r.value.real(), reference.real());
      errors[graded][1] = relativeError(r.value.imag(), reference.imag());
      // Errors below 1e-12 are rounding; the plot keeps that floor.
      series[static_cast<std::size_t>(graded)].push_back(
          {h, std::max({errors[graded][0], errors[graded][1], 1e-12})});
    }
    std::printf("| %d/%d | %.2f | %.1e | %.1e | %.1e | %.1e |\n", n, 3 * n, h, errors[0][0],
                errors[0][1], errors[1][0], errors[1][1]);
  }
  // From 20 to 80 nodes on the wire: on the finest graded grids R reaches rounding.
  const auto order = [](const std::vector<ConvergencePoint>& p) {
    return std::log(p[1].error / p[3].error) / std::log(p[1].spacing / p[3].spacing);
  };
  std::printf("\nObserved order from 20 to 80 nodes on the wire: even %.2f, graded %.2f.\n\n",
              order(series[0]), order(series[1]));
  return series;
}

// --- Copper coax over frequency -----------------------------------------------------

constexpr double kSigma = 58e6;  // S/m
constexpr double kCuA = 0.5e-3;  // m
constexpr double kCuB = 1.75e-3;
constexpr double kCuC = 2.0e-3;

std::string copperMaterial(double frequency) {
  char material[256];
  std::snprintf(material, sizeof material,
                "frequency %.17g hz\nconductanceunit s/m\nvariables impedance\npatch 0 nc %.17g",
                frequency, kSigma);
  return material;
}

// Angular frequency at which the skin depth is a / ratio.
double omegaForRatio(double a, double ratio) {
  const double delta = a / ratio;
  return 2.0 / (kMu0Full * kSigma * delta * delta);
}

struct CopperCase {
  double ratio;  // wire radius over skin depth
  int nodes;     // on the wire; the tube circles get three times as many
  double bound;  // relative error allowed in the quick mode
};

void copperCoaxTable(const std::vector<CopperCase>& cases, Checks& checks) {
  std::printf(
      "Copper coax: wire radius 0.5 mm, tube 1.75 to 2 mm, 58 MS/m; R in ohm/m times 1e6, "
      "L in pH/um; delta is the skin depth.\n\n");
  std::printf(
      "| a/delta | frequency (Hz) | nodes | nd | R computed | R reference | rel. error | "
      "L computed | L reference | rel. error | time (s) |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const CopperCase& cs : cases) {
    const double omega = omegaForRatio(kCuA, cs.ratio);
    const double frequency = omega / (2 * kPiFull);
    const Cd reference = qbr::reference::normalCoaxImpedance(kSigma, omega, kCuA, kCuB, kCuC);
    const int tube = 3 * cs.nodes;
    const Result r = compute(qbr::reference::coaxInput("mm", copperMaterial(frequency), 1e3, kCuA,
                                                       kCuB, kCuC, cs.nodes, tube, tube));
    const double errorR = relativeError(r.value.real(), reference.real());
    const double errorL = relativeError(r.value.imag(), reference.imag());
    std::printf("| %g | %.4g | %d/%d/%d | %d | %.7g | %.7g | %.1e | %.7g | %.7g | %.1e | %.2f |\n",
                cs.ratio, frequency, cs.nodes, tube, tube, r.nd, r.value.real(), reference.real(),
                errorR, r.value.imag() / r.omega, reference.imag() / omega, errorL, r.seconds);
    checks.bound(errorR < cs.bound && errorL < cs.bound,
                 "copper coax at a/delta " + format("%g", cs.ratio) + ": errors " +
                     format("%.2e", errorR) + ", " + format("%.2e", errorL));
  }
  std::printf("\n");
}

// --- Round wire alone, from direct current to strong skin effect -----------------------

// A copper wire of radius 1 mm without a return conductor, in millimetres: the field
// outside then carries the logarithm ln(1 / a) with a in length units, which vanishes
// for a = 1, so the reported L is the wire's internal inductance alone.
void roundWireTable(const std::vector<CopperCase>& cases, Checks& checks) {
  const double a = 1e-3;
  const double dcResistance = 1.0 / (kSigma * kPiFull * a * a) * 1e6;
  std::printf(
      "Round copper wire alone: radius 1 mm, no return conductor (the logarithmic reference "
      "at one length unit, 1 mm, vanishes at the wire's surface); R over the direct-current "
      "resistance %.6g ohm/m times 1e6, internal inductance in pH/um (direct-current limit "
      "0.05).\n\n",
      dcResistance);
  std::printf(
      "| a/delta | frequency (Hz) | nodes | delta/h | R/Rdc computed | R/Rdc reference | "
      "rel. error | L computed | L reference | rel. error | time (s) |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (const CopperCase& cs : cases) {
    const double omega = omegaForRatio(a, cs.ratio);
    const double frequency = omega / (2 * kPiFull);
    const Cd reference = qbr::reference::normalWireInternalImpedance(kSigma, omega, a);
    char input[512];
    std::snprintf(input, sizeof input, "lengthunit mm\n%s\npt 0 0 0\ncircle 1 0 1 + 0 %d\n",
                  copperMaterial(frequency).c_str(), cs.nodes);
    const Result r = compute(input);
    const double h = 2 * kPiFull * a / cs.nodes;
    const double errorR = relativeError(r.value.real(), reference.real());
    const double errorL = relativeError(r.value.imag(), reference.imag());
    std::printf("| %g | %.4g | %d | %.2f | %.7g | %.7g | %.1e | %.7g | %.7g | %.1e | %.2f |\n",
                cs.ratio, frequency, cs.nodes, a / cs.ratio / h, r.value.real() / dcResistance,
                reference.real() / dcResistance, errorR, r.value.imag() / r.omega,
                reference.imag() / omega, errorL, r.seconds);
    checks.bound(errorR < cs.bound && errorL < cs.bound,
                 "round wire at a/delta " + format("%g", cs.ratio) + ": errors " +
                     format("%.2e", errorR) + ", " + format("%.2e", errorL));
  }
  std::printf("\n");
}

// --- Superconducting microstrip: no closed form, the change with the grid ------------

// The bundled microstrip (2 um strip 0.2 um over a 20 um ground, films 0.2 um thick,
// lambda 0.09 um) on finer and finer grids. Its corners make it converge more slowly
// than the round conductors, so it shows how far a grid step can be trusted.
void microstripTable() {
  struct Grid {
    int ground;  // nodes on the long sides of the ground strip
    int strip;   // nodes on the long sides of the signal strip
    int edge;    // nodes on every 0.2 um side
  };
  std::printf(
      "Superconducting microstrip (examples/microstrip_sc.txt), no closed form: the "
      "inductance in pH/um as the grid is refined; h is the node spacing on the signal "
      "strip.\n\n");
  std::printf(
      "| nodes ground/strip/edges | nd | h (um) | h/lambda | L | change from the previous "
      "grid | time (s) |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  double previous = 0.0;
  for (const Grid& g : {Grid{125, 25, 3}, Grid{250, 50, 5}, Grid{500, 100, 10}, Grid{500, 200, 20},
                        Grid{500, 400, 40}}) {
    char input[512];
    std::snprintf(input, sizeof input,
                  "lengthunit um\nfrequency 10 ghz\nlambda 0.09\n"
                  "rect -10 10 -0.2 0 0 0 %d %d\nrect -1 1 0.2 0.4 1 0 %d %d\n",
                  g.ground, g.edge, g.strip, g.edge);
    const Result r = compute(input);
    const double h = 2.0 / g.strip;
    const double l = r.value.real();
    std::printf("| %d/%d/%d | %d | %.4f | %.3f | %.6f | %s | %.2f |\n", g.ground, g.strip, g.edge,
                r.nd, h, h / kLambda, l,
                previous == 0.0 ? "" : format("%+.1e", l / previous - 1.0).c_str(), r.seconds);
    previous = l;
  }
  std::printf("\n");
}

// --- Far below the skin effect ------------------------------------------------------

// The copper PCB microstrip (a 200 x 35 um trace 100 um above a 2 mm ground of the same
// thickness) against the direct-current values of its bars, and a 1 um copper wire with a
// tube return (3 to 4 um) against the exact solution, from 1 Hz: the resistance exceeds
// the reactance by up to 1e6 and 3e9 there.
void lowFrequencyTable(Checks& checks, bool quick) {
  const qbr::reference::DirectCurrent dc = qbr::reference::pcbMicrostripDirectCurrent();
  const double dcInductance = dc.inductance;
  const double dcResistance = dc.resistance;
  if (!quick) {
    std::printf(
        "Copper PCB microstrip, 200 x 35 um trace 100 um above a 2 mm x 35 um ground, "
        "1,266 nodes; against the direct-current R = %.6g ohm/m "
        "times 1e6 and L = %.6f pH/um of "
        "uniform currents (mean ln r over the bars).\n\n",
        dcResistance, dcInductance);
    std::printf("| frequency (Hz) | R / R_dc - 1 | L | L / L_dc - 1 | R / omega L | time (s) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const double frequency : {1.0, 10.0, 100.0, 1000.0}) {
      const Result r = compute(qbr::reference::pcbMicrostripInput(frequency));
      const double l = r.value.imag() / r.omega;
      std::printf("| %g | %+.1e | %.6f | %+.1e | %.1e | %.2f |\n", frequency,
                  r.value.real() / dcResistance - 1.0, l, l / dcInductance - 1.0,
                  r.value.real() / r.value.imag(), r.seconds);
      checks.bound(relativeError(r.value.real(), dcResistance) < 1e-4 &&
                       relativeError(l, dcInductance) < 5e-3,
                   "PCB microstrip at " + format("%g", frequency) + " Hz");
    }
    std::printf("\n");
  }
  std::printf(
      "Copper wire, radius 1 um, tube return 3 to 4 um (60/120/120 nodes), against the exact "
      "solution.\n\n");
  std::printf(
      "| frequency (Hz) | R computed | R rel. error | L computed | L reference | "
      "L rel. error | R / omega L |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const double frequency :
       quick ? std::vector<double>{1.0} : std::vector<double>{1.0, 1e2, 1e4, 1e6, 1e8, 1e10}) {
    const double omega = 2 * kPiFull * frequency;
    const Cd reference = qbr::reference::normalCoaxImpedance(kSigma, omega, 1e-6, 3e-6, 4e-6);
    char material[160];
    std::snprintf(material, sizeof material,
                  "frequency %.17g hz\nvariables impedance\npatch 0 nc 58", frequency);
    const Result r =
        compute(qbr::reference::coaxInput("um", material, 1.0, 1.0, 3.0, 4.0, 60, 120, 120));
    const double errorR = relativeError(r.value.real(), reference.real());
    const double errorL = relativeError(r.value.imag(), reference.imag());
    std::printf("| %g | %.7g | %.1e | %.7g | %.7g | %.1e | %.1e |\n", frequency, r.value.real(),
                errorR, r.value.imag() / r.omega, reference.imag() / omega, errorL,
                reference.real() / reference.imag());
    checks.bound(errorR < 1e-4 && errorL < 1e-3,
                 "copper wire at " + format("%g", frequency) + " Hz");
  }
  std::printf("\n");
}

// --- Strong skin effect -----------------------------------------------------------------

// The gallery's copper coax at 1 and 10 GHz: skin depths of 2.1 and 0.66 um against nodes
// 6 to 100 um apart.
void strongSkinTable(Checks& checks, bool quick) {
  std::printf(
      "Copper coax of the gallery (wire 0.5 mm, tube 1.75 to 2 mm) at strong skin effect, the "
      "same number of nodes on every circle; h is the node spacing on the wire.\n\n");
  std::printf(
      "| frequency | nodes per circle | h / delta | R rel. error | L rel. error | time (s) |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const double frequency : {1e9, 1e10}) {
    const double omega = 2 * kPiFull * frequency;
    const double delta = std::sqrt(2.0 / (omega * kMu0Full * kSigma));
    const Cd reference = qbr::reference::normalCoaxImpedance(kSigma, omega, kCuA, kCuB, kCuC);
    for (const int n : quick ? std::vector<int>{125} : std::vector<int>{125, 250, 500}) {
      const Result r = compute(qbr::reference::coaxInput("mm", copperMaterial(frequency), 1e3, kCuA,
                                                         kCuB, kCuC, n, n, n));
      const double errorR = relativeError(r.value.real(), reference.real());
      const double errorL = relativeError(r.value.imag(), reference.imag());
      std::printf("| %g GHz | %d | %.1f | %.1e | %.1e | %.2f |\n", frequency / 1e9, n,
                  2 * kPiFull * kCuA / n / delta, errorR, errorL, r.seconds);
      checks.bound(errorR < 1e-3 && errorL < 1e-4, "copper coax at " + format("%g", frequency) +
                                                       " Hz, " + std::to_string(n) + " nodes");
    }
  }
  std::printf("\n");
}

// --- Thin films ----------------------------------------------------------------------------

// Films far thinner than the node spacing: a 5 nm superconducting strip (lambda 0.4 um,
// 2 um wide, 0.2 um above a thick ground), a superconducting tube 1% of lambda thick as a
// coax's inner conductor, and a copper tube 0.2 um thick on a 100 um radius at 1 GHz.
void thinFilmTable(Checks& checks, bool quick) {
  const auto film = [](int n) { return compute(qbr::reference::thinFilmInput(n)); };
  const double bound = qbr::reference::kThinFilmKineticInductance;
  std::printf(
      "A 5 nm superconducting strip, 2 um wide, lambda 0.4 um, 0.2 um above a thick ground; L "
      "in pH/um against 400 nodes across the strip (its kinetic inductance mu0 lambda^2 / (w t) "
      "= %.3f is a lower bound).\n\n",
      bound);
  std::printf("| nodes across | h / t | L | rel. to 400 nodes | time (s) |\n");
  std::printf("|---|---|---|---|---|\n");
  const double fine = quick ? 0.0 : film(400).value.real();
  for (const int n : quick ? std::vector<int>{10} : std::vector<int>{10, 20, 50, 100}) {
    const Result r = film(n);
    std::printf("| %d | %.0f | %.4f | %s | %.2f |\n", n, 2.0 / n / 0.005, r.value.real(),
                quick ? "" : format("%+.1e", r.value.real() / fine - 1.0).c_str(), r.seconds);
    checks.bound(r.value.real() > 0.99 * bound, "5 nm film at " + std::to_string(n) + " nodes");
  }
  std::printf("\n");
  std::printf("| wall | nodes per circle | h / wall | L or R rel. error | time (s) |\n");
  std::printf("|---|---|---|---|---|\n");
  for (const double ratio : {0.02, 0.01}) {
    const double wall = ratio * kLambda;
    const Result r = compute(qbr::reference::hollowScCoaxInput(kLambda, wall, 140));
    const double error =
        relativeError(r.value.real(), qbr::reference::hollowScCoaxInductance(kLambda, wall));
    std::printf("| superconducting, %g lambda | 140 | %.0f | L %.1e | %.2f |\n", ratio,
                2 * kPiFull / 140 / wall, error, r.seconds);
    checks.bound(error < 5e-3, "superconducting tube wall " + format("%g", ratio));
  }
  {
    const Cd reference = qbr::reference::copperTubeWallImpedance();
    const Result r = compute(qbr::reference::copperTubeWallInput());
    const double errorR = relativeError(r.value.real(), reference.real());
    const double errorL = relativeError(r.value.imag(), reference.imag());
    std::printf("| copper 0.2 um on 100 um, 1 GHz | 200 | %.0f | R %.1e, L %.1e | %.2f |\n",
                2 * kPiFull * 100 / 200 / 0.2, errorR, errorL, r.seconds);
    checks.bound(errorR < 5e-3 && errorL < 5e-3, "copper tube wall");
  }
  std::printf("\n");
}

// --- Convergence plot -------------------------------------------------------------

// Relative error against node spacing on logarithmic axes, with lines of slope one and
// two for comparison.
void writeConvergencePlot(const std::string& name, const std::vector<Series>& series) {
  double lx0 = 1e300, lx1 = -1e300, ly0 = 1e300, ly1 = -1e300;
  for (const Series& line : series) {
    for (const ConvergencePoint& p : line.points) {
      lx0 = std::min(lx0, std::floor(std::log10(p.spacing)));
      lx1 = std::max(lx1, std::ceil(std::log10(p.spacing)));
      ly0 = std::min(ly0, std::floor(std::log10(p.error)));
      ly1 = std::max(ly1, std::ceil(std::log10(p.error)));
    }
  }
  if (lx0 > lx1) return;
  const double x0 = 80, x1 = 380, y0 = 60, y1 = 330;  // plot area on the page
  const auto px = [&](double h) { return x0 + (std::log10(h) - lx0) / (lx1 - lx0) * (x1 - x0); };
  const auto py = [&](double e) { return y0 + (std::log10(e) - ly0) / (ly1 - ly0) * (y1 - y0); };
  std::ofstream eps(name);
  eps << "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 420 360\n"
      << "/Helvetica findfont 10 scalefont setfont\n"
      << "/ctr { dup stringwidth pop 2 div neg 0 rmoveto show } def\n"
      << "1 setgray 0 0 420 360 rectfill 0 setgray\n";
  for (int d = static_cast<int>(lx0); d <= static_cast<int>(lx1); ++d) {
    const double x = x0 + (d - lx0) / (lx1 - lx0) * (x1 - x0);
    eps << "0.85 setgray 0.5 setlinewidth " << x << " " << y0 << " moveto " << x << " " << y1
        << " lineto stroke 0 setgray\n"
        << x << " " << y0 - 16 << " moveto (1e" << d << ") ctr\n";
  }
  for (int d = static_cast<int>(ly0); d <= static_cast<int>(ly1); ++d) {
    const double y = y0 + (d - ly0) / (ly1 - ly0) * (y1 - y0);
    eps << "0.85 setgray 0.5 setlinewidth " << x0 << " " << y << " moveto " << x1 << " " << y
        << " lineto stroke 0 setgray\n"
        << x0 - 36 << " " << y - 4 << " moveto (1e" << d << ") show\n";
  }
  eps << "0.5 setlinewidth " << x0 << " " << y0 << " " << x1 - x0 << " " << y1 - y0
      << " rectstroke\n"
      << (x0 + x1) / 2 << " " << y0 - 36
      << " moveto (node spacing on the wire / penetration or skin depth) ctr\n"
      << "gsave " << x0 - 46 << " " << (y0 + y1) / 2
      << " translate 90 rotate 0 0 moveto (relative error) ctr grestore\n"
      << (x0 + x1) / 2 << " " << y1 + 14
      << " moveto (Coaxial lines: error against the grid, even and graded) ctr\n";
  eps << "gsave " << x0 << " " << y0 << " " << x1 - x0 << " " << y1 - y0 << " rectclip\n";
  // Slopes one and two through the finest point of the first series.
  const ConvergencePoint& anchor = series.front().points.back();
  const double hA = std::pow(10.0, lx0);
  const double hB = std::pow(10.0, lx1);
  for (const int order : {1, 2}) {
    eps << "0.5 setgray [4 3] 0 setdash 1 setlinewidth " << px(hA) << " "
        << py(anchor.error * std::pow(hA / anchor.spacing, order)) << " moveto " << px(hB) << " "
        << py(anchor.error * std::pow(hB / anchor.spacing, order)) << " lineto stroke [] 0 setdash\n";
  }
  for (const Series& line : series) {
    eps << line.colour << " setrgbcolor 1.5 setlinewidth newpath";
    for (std::size_t i = 0; i < line.points.size(); ++i) {
      eps << " " << px(line.points[i].spacing) << " " << py(line.points[i].error)
          << (i == 0 ? " moveto" : " lineto");
    }
    eps << " stroke\n";
    for (const ConvergencePoint& p : line.points)
      eps << "newpath " << px(p.spacing) << " " << py(p.error) << " 2.5 0 360 arc fill\n";
  }
  eps << "grestore\n";
  // The legend in the lower right corner, where the graded grids have left the page.
  double y = y0 + 10 + 13.0 * static_cast<double>(series.size());
  eps << "1 setgray " << x1 - 170 << " " << y0 + 4 << " 166 " << y - y0 + 8 << " rectfill\n";
  for (const Series& line : series) {
    eps << line.colour << " setrgbcolor " << x1 - 165 << " " << y << " moveto (" << line.label
        << ") show\n";
    y -= 13;
  }
  eps << "0.4 setgray " << x1 - 165 << " " << y << " moveto (dashed: slopes 1 and 2) show\nshowpage\n";
}

// --- Entry ------------------------------------------------------------------------

double number(const char* text) {
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text || *end != '\0') {
    std::fprintf(stderr, "qbr-accuracy: not a number: %s\n", text);
    std::exit(2);
  }
  return value;
}

int printReference(int argc, char** argv) {
  const std::string kind = argc > 2 ? argv[2] : "";
  if (kind == "sc-coax" && argc == 7) {
    const auto l = qbr::reference::superconductingCoaxInductance(number(argv[3]), number(argv[4]),
                                                                 number(argv[5]), number(argv[6]));
    std::printf("L=%.9g\n", l.total());
    return 0;
  }
  if (kind == "nc-coax" && argc == 8) {
    const double omega = 2 * kPiFull * number(argv[7]);
    const Cd z = qbr::reference::normalCoaxImpedance(number(argv[3]), omega, number(argv[4]),
                                                     number(argv[5]), number(argv[6]));
    std::printf("R=%.9g X=%.9g L=%.9g\n", z.real(), z.imag(), z.imag() / omega);
    return 0;
  }
  std::fprintf(stderr,
               "usage: qbr-accuracy --reference sc-coax LAMBDA A B C\n"
               "       qbr-accuracy --reference nc-coax SIGMA A B C FREQUENCY\n");
  return 2;
}

// Entry (1, 1) of an input file's result, with more digits than the report prints.
int printRun(const std::string& file) {
  const Result r = computeFile(file);
  if (r.inductance) {
    std::printf("L=%.9g\n", r.value.real());
  } else {
    std::printf("R=%.9g X=%.9g L=%.9g\n", r.value.real(), r.value.imag(), r.value.imag() / r.omega);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::string plot;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--reference") return printReference(argc, argv);
    if (arg == "--run" && argc == 3) return printRun(argv[2]);
    if (arg == "--quick") {
      quick = true;
    } else if (arg == "--plot" && i + 1 < argc) {
      plot = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: qbr-accuracy [--quick] [--plot FILE.eps] | --reference ... | --run "
                   "FILE\n");
      return 2;
    }
  }

  Checks checks;
  std::vector<Series> convergence;
  if (quick) {
    superconductingCoaxTable({10, 20}, checks, true, nullptr);
    copperCoaxTable({{1.0, 40, 1e-3}}, checks);
    roundWireTable({{3.0, 100, 1e-3}}, checks);
    lowFrequencyTable(checks, true);
    strongSkinTable(checks, true);
    thinFilmTable(checks, true);
  } else {
    std::vector<ConvergencePoint> scGraded;
    const std::vector<ConvergencePoint> scEven =
        superconductingCoaxTable({10, 20, 40, 80, 160}, checks, false, &scGraded);
    const auto copper = copperCoaxConvergence();
    convergence = {{"superconducting coax, even grid", "0 0 0.8", scEven},
                   {"superconducting coax, graded grid", "0.3 0.6 1", scGraded},
                   {"copper coax, even grid", "0.8 0 0", copper[0]},
                   {"copper coax, graded grid", "1 0.5 0.3", copper[1]}};
    copperCoaxTable({{0.2, 160, 1e-3},
                     {0.5, 160, 1e-3},
                     {1.0, 160, 1e-3},
                     {2.0, 160, 1e-3},
                     {3.0, 160, 1e-3},
                     {5.0, 160, 1e-3},
                     {8.0, 160, 1e-3}},
                    checks);
    roundWireTable({{0.1, 500, 1e-3},
                    {0.3, 500, 1e-3},
                    {1.0, 500, 1e-3},
                    {3.0, 500, 1e-3},
                    {10.0, 500, 1e-3},
                    {20.0, 500, 1e-2},
                    {40.0, 500, 1e-2},
                    {100.0, 500, 1e-2}},
                   checks);
    microstripTable();
    lowFrequencyTable(checks, false);
    strongSkinTable(checks, false);
    thinFilmTable(checks, false);
  }
  if (!plot.empty() && !convergence.empty()) writeConvergencePlot(plot, convergence);
  if (checks.failures > 0) {
    std::fprintf(stderr, "qbr-accuracy: %d bound(s) exceeded\n", checks.failures);
    return 1;
  }
  return 0;
}
