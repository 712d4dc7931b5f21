// qbr::solve: the phases of one computation on a copy of the model's tables, the result
// taken off the solution before the work arrays go.
#include "qbr/solve.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <streambuf>

#include "api/electrostatics_cache.hpp"
#include "base/fatal_stop.hpp"
#include "base/run_io.hpp"
#include "bem/bem_fill.hpp"
#include "bem/capacitance.hpp"
#include "bem/line_parameters.hpp"
#include "bem/node_integrals.hpp"
#include "bem/panels.hpp"
#include "bem/patch_losses.hpp"
#include "bem/resolution.hpp"
#include "bem/solution.hpp"
#include "bem/structured_solve.hpp"
#include "model/geometry.hpp"
#include "model/input_reader.hpp"
#include "model/problem_model.hpp"
#include "plot/eps_plot.hpp"
#include "prep/dielectrics.hpp"
#include "prep/echo.hpp"
#include "prep/grids.hpp"
#include "prep/materials.hpp"
#include "prep/model_checks.hpp"
#include "prep/roughness.hpp"
#include "prep/setup.hpp"
#include "prep/unknowns.hpp"
#include "prep/work_arrays.hpp"
#include "qbr/error.hpp"
#include "report/line_report.hpp"
#include "report/reports.hpp"
#include "report/roughness_report.hpp"
#include "report/superconductor_report.hpp"

namespace qbr {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Discards the program's texts when the caller does not want them.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The boundary solution of every excitation at every node: the unknowns are densities
// per unit of the element parameter, so both are divided by the Jacobian at the node.
std::vector<Excitation> nodeValues(const ProblemModel& model, const Unknowns& unknowns,
                                   const ComplexMatrix& solutions) {
  std::vector<Excitation> excitations(static_cast<std::size_t>(model.conductorCount));
  for (int c = 1; c <= model.conductorCount; ++c) {
    Excitation& excitation = excitations[static_cast<std::size_t>(c - 1)];
    excitation.conductor = c;
    excitation.nodes.reserve(static_cast<std::size_t>(model.nd0 / 2));
    for (int e = 0; e < model.elementCount; ++e) {
      const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
      const ElementGeometry geometry = element.geometry(model.points);
      for (int i = 1; i <= element.gridCount; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        const double jacobian = geometry.jacobianAt(element.nodeT[k]);
        NodeValue v;
        v.element = e;
        v.node = i;
        v.x = element.nodeX[k];
        v.y = element.nodeY[k];
        v.conductor = element.conductor;
        v.field = solutions(unknowns.nodeFirst(e, i), c) / jacobian;
        v.normalDerivative = solutions(unknowns.nodeSecond(e, i), c) / jacobian;
        v.currentDensity = v.normalDerivative / model.lengthScale;
        v.outlineShareM =
            jacobian *
            nodeIntegral(KernelContext{}, geometry, element.nodeT, i, IntegralKind::Unit, 0.0)
                .real() *
            model.lengthScale;
        excitation.nodes.push_back(v);
      }
    }
  }
  return excitations;
}

void setMatrices(Result& r, const ConductorMatrix& m, const ProblemModel& model) {
  const int n = m.size();
  r.printed = Matrix<Complex>(n, n);
  r.impedanceOhmPerM = Matrix<Complex>(n, n);
  r.inductanceHPerM = Matrix<double>(n, n);
  r.resistanceOhmPerM = Matrix<double>(n, n);
  const double w = model.omega;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      // Printed scales: pH/um and ohm/m times 1e6, both 1e6 times the SI unit.
      const Complex printed = m(i + 1, j + 1);
      r.printed(i, j) = printed;
      if (model.phaseVariables) {
        const double l = printed.real() * 1e-6;
        const double resistance = -printed.imag() * w * 1e-6;
        r.inductanceHPerM(i, j) = l;
        r.resistanceOhmPerM(i, j) = resistance;
        r.impedanceOhmPerM(i, j) = Complex(resistance, w * l);
      } else {
        const Complex z = printed * 1e-6;
        r.impedanceOhmPerM(i, j) = z;
        r.resistanceOhmPerM(i, j) = z.real();
        r.inductanceHPerM(i, j) = z.imag() / w;
      }
    }
  }
}

// Each dissipating patch's share of the smooth R from the boundary solution, and its
// roughness factor at the run's frequency.
RoughnessLosses roughnessLosses(const ProblemModel& model, const PatchResistance& split,
                                const ConductorMatrix& smooth) {
  RoughnessLosses losses;
  losses.smoothResistanceOhmPerM = resistanceOf(smooth, model.omega, model.phaseVariables);
  losses.fluxMismatch = split.mismatch;
  for (int p = 0; p < kMaxPatches; ++p) {
    if (!split.lossy[static_cast<std::size_t>(p)]) continue;
    const MaterialPatch& patch = model.patches[static_cast<std::size_t>(p)];
    const Roughness& r = patch.roughness;
    PatchLoss loss;
    loss.patch = p;
    loss.model = roughnessModelName(r.model);
    if (r.model == RoughnessModel::kHuray) {
      loss.sphereRadiusM = r.sphereRadius * model.lengthScale;
      loss.spheresPerM2 = spheresPerSquareMetre(r, model.lengthScale);
    } else if (r.model != RoughnessModel::kNone) {
      loss.rmsM = r.rms * model.lengthScale;
    }
    loss.skinDepthM = skinDepthM(patch, model.omega);
    loss.factor = patch.lossFactor;
    loss.smoothResistanceOhmPerM = split.shares[static_cast<std::size_t>(p)];
    losses.patches.push_back(std::move(loss));
  }
  return losses;
}

// R vanishes: every patch on an element is a superconductor without normal electrons.
bool losslessConductors(const ProblemModel& model) {
  for (int e = 0; e < model.elementCount; ++e) {
    const MaterialPatch& patch =
        model.patches[static_cast<std::size_t>(model.elements[static_cast<std::size_t>(e)].patch)];
    if (!patch.superconducting || patch.sigma > 0.0) return false;
  }
  return true;
}

// R and G vanish: the conductors are lossless and the dielectric (every region of it) is,
// or the frequency is 0.
bool losslessLine(const ProblemModel& model) {
  if (model.omega == 0.0) return true;
  if (model.lossTangent > 0.0) return false;
  for (const BoundaryElement& outline : model.dielectricOutlines) {
    if (regionMedium(model, outline.patch).lossTangent > 0.0) return false;
  }
  return losslessConductors(model);
}

// Far below Tc the resistance of a superconductor is a small remainder of its reactance,
// of order sigma1 / sigma2 (3e-8 for niobium at 1 K and 5 GHz), and the solve's rounding
// error (measured: about 5e-13 of X on a coplanar line) swamps it. R is odd in sigma1 and X
// even: R(s sigma1) = s R(sigma1) (1 + O(s^2 (sigma1/sigma2)^2)). So when every patch on an
// element is a superconductor and the largest sigma1/sigma2 (omega mu0 sigma1 lambda^2) is
// below 1e-4, the model is solved once more on the same grids with every sigma1 raised to
// that ratio, and its resistance, scaled back, replaces the rounding noise: as right as R
// at that ratio (about 3e-5 of itself, where the kernels' general Hankel forms leave it),
// the scaling adding 1e-8. The reactance stays that of the run's own solve.
void resolveSmallResistance(const ProblemModel& prepared, double gridFactor, ConductorMatrix& m,
                            bool structured, int threads) {
  if (prepared.omega == 0.0) return;
  constexpr double kLinearRatio = 1e-4;
  double largest = 0.0;
  for (int e = 0; e < prepared.elementCount; ++e) {
    const MaterialPatch& p = prepared.patches[static_cast<std::size_t>(
        prepared.elements[static_cast<std::size_t>(e)].patch)];
    if (!p.superconducting) return;
    largest = std::max(largest, prepared.omega * kMu0 * p.sigma * p.lambda * p.lambda *
                                    prepared.lengthScale * prepared.lengthScale);
  }
  if (!(largest > 0.0 && largest < kLinearRatio)) return;
  const double scale = kLinearRatio / largest;
  ProblemModel raised = prepared;
  for (int i = 0; i < raised.patchCount; ++i) {
    MaterialPatch& p = raised.patches[static_cast<std::size_t>(i)];
    if (!p.superconducting) continue;
    p.sigma *= scale;
    p.k = waveNumber(raised, i);
  }
  const ConductorMatrix lossy = solveSilently(raised, gridFactor, structured, threads);
  for (int r = 1; r <= m.size(); ++r) {
    for (int c = 1; c <= m.size(); ++c) {
      const Complex z = m(r, c);
      const Complex w = lossy(r, c);
      // Inductance scale (L, -R/omega); impedance scale (R, X).
      m(r, c) = prepared.phaseVariables ? Complex(z.real(), w.imag() / scale)
                                        : Complex(w.real() / scale, z.imag());
    }
  }
}

// The patches of kinds "mb" and "twofluid" that elements use, and what they are at the
// run's temperature and frequency; the external inductance of the cross-section on the
// run's grids, and what follows for each conductor.
SuperconductorReport superconductorReport(const ProblemModel& gridded, const Result& r,
                                          int threads) {
  SuperconductorReport report;
  report.temperatureK = gridded.temperatureK;
  for (int i = 0; i < gridded.patchCount; ++i) {
    const MaterialPatch& p = gridded.patches[static_cast<std::size_t>(i)];
    if (p.model == MaterialModel::kGiven) continue;
    bool used = false;
    for (int e = 0; e < gridded.elementCount; ++e)
      used = used || gridded.elements[static_cast<std::size_t>(e)].patch == i;
    if (!used) continue;
    const bool mattisBardeen = p.model == MaterialModel::kMattisBardeen;
    const double tc = p.tc > 0.0 ? p.tc : p.gap * kJoulePerMeV / (kBcsGapRatio * kBoltzmannJPerK);
    report.patches.push_back({i, mattisBardeen ? "mb" : "twofluid", tc, p.response});
  }
  const Matrix<double>& l = r.inductanceHPerM;
  const int n = l.rows();
  report.externalInductanceHPerM = externalInductance(gridded, threads);
  report.kineticInductanceHPerM = Matrix<double>(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      report.kineticInductanceHPerM(i, j) = l(i, j) - report.externalInductanceHPerM(i, j);
  const bool lossless = losslessConductors(gridded);
  for (int c = 0; c < n; ++c) {
    report.kineticFraction.push_back(report.kineticInductanceHPerM(c, c) / l(c, c));
    if (gridded.omega > 0.0) {
      report.conductorQ.push_back(lossless ? std::numeric_limits<double>::infinity()
                                           : gridded.omega * l(c, c) / r.resistanceOhmPerM(c, c));
    }
  }
  return report;
}

Matrix<double> toMatrix(const std::vector<std::vector<double>>& a) {
  const int n = static_cast<int>(a.size());
  Matrix<double> m(n, n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c)
      m(r, c) = a[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
  return m;
}

// The grids on which C is refined to a tolerance: the automatic ones of the same
// cross-section with perfect conductors. The layers and counts that a field depth (skin
// or penetration) sets serve the current inside the metal, not the charge on it, and a
// frequency sweep then finds the same electrostatics at every frequency. Measured on the
// FR4 microstrip at 1e-4 (copper, 1 GHz: the conductor's grid ends at nd 11,650): 110 s
// with C's ladder from half of that grid, 46 s from half of these.
ProblemModel perfectConductorGrids(const ProblemModel& gridded) {
  ProblemModel model = gridded;
  chooseAutomaticGrids(model, true);
  std::vector<std::int32_t> counts;
  for (std::int32_t e = 0; e < model.elementCount; ++e)
    counts.push_back(model.elements[static_cast<std::size_t>(e)].gridCount);
  placeGrids(model, counts);
  return model;
}

// The capacitance of the cross-section and the line parameters that follow, reported
// after everything else.
void solveLine(const ProblemModel& model, const SolveOptions& options, double tolerance, Result& r,
               RunIo& io) {
  std::string reference;
  if (!model.hasReturnConductor()) {
    reference = model.symmetryOn ? "the ground plane y = 0"
                                 : "the reference one length unit away (no conductor 0)";
  }
  const bool regions = hasDielectricRegions(model);
  const bool toTolerance = tolerance > 0.0;
  std::optional<ProblemModel> own;
  if (toTolerance) own = perfectConductorGrids(model);
  const ProblemModel& grids = own ? *own : model;
  std::optional<DielectricLayout> layout;
  if (regions) layout = layOutDielectrics(grids, &io, 1, toTolerance);
  // A sweep over frequency meets the same electrostatics again and again.
  const std::string key = electrostaticsKey(grids, layout ? &*layout : nullptr, options.threads,
                                            options.gridCheck, tolerance);
  std::optional<LineElectrostatics> solved = cachedElectrostatics(key);
  if (!solved) {
    LineElectrostatics fresh;
    const double permittivity = regions ? 0.0 : model.permittivity;
    const DielectricLayout* interfaces = regions ? &*layout : nullptr;
    if (toTolerance) {
      ResolvedCapacitance resolved =
          resolveCapacitance(grids, nullptr, permittivity, interfaces, tolerance, options.threads);
      fresh.statics = std::move(resolved.statics);
      if (regions) {
        fresh.vacuumCapacitanceFPerM =
            solveElectrostatics(resolved.finest, 1.0, options.threads).capacitanceFPerM;
      }
      fresh.gridWarnings = std::move(resolved.warnings);
      fresh.errors = std::move(resolved.entries);
      fresh.pairErrors = std::move(resolved.pairs);
    } else {
      if (regions) {
        fresh.statics = solveElectrostatics(model, *layout, options.threads);
        fresh.vacuumCapacitanceFPerM =
            solveElectrostatics(model, 1.0, options.threads).capacitanceFPerM;
      } else {
        fresh.statics = solveElectrostatics(model, model.permittivity, options.threads);
      }
      if (options.gridCheck) {
        ResolvedCapacitance resolved = resolveCapacitance(model, &fresh.statics, permittivity,
                                                          interfaces, 0.0, options.threads);
        fresh.statics = std::move(resolved.statics);
        fresh.gridWarnings = std::move(resolved.warnings);
        fresh.errors = std::move(resolved.entries);
        fresh.pairErrors = std::move(resolved.pairs);
      }
    }
    rememberElectrostatics(key, fresh);
    solved = std::move(fresh);
  }
  const Electrostatics& statics = solved->statics;
  if (!regions) {
    r.line =
        lineParameters(r.inductanceHPerM, r.resistanceOhmPerM, statics.capacitanceFPerM,
                       model.omega, model.permittivity, model.lossTangent, losslessLine(model));
    reportLineParameters(*r.line, model.frequency, reference, io);
  } else {
    Matrix<double> conductance = statics.lossCapacitanceFPerM;
    for (int i = 0; i < conductance.rows(); ++i)
      for (int j = 0; j < conductance.cols(); ++j) conductance(i, j) *= model.omega;
    r.line = lineParameters(r.inductanceHPerM, r.resistanceOhmPerM, statics.capacitanceFPerM,
                            conductance, model.omega, losslessLine(model));
    r.line->permittivityRelative = model.permittivity > 0.0 ? model.permittivity : 1.0;
    r.line->lossTangent = model.permittivity > 0.0 ? model.lossTangent : 0.0;
    r.line->vacuumCapacitanceFPerM = solved->vacuumCapacitanceFPerM;
    r.line->dielectricRegions = dielectricSummary(model);
    reportLineParameters(*r.line, model.frequency, reference, io,
                         lineDetails(*r.line, r.inductanceHPerM, r.resistanceOhmPerM, model.omega));
  }
  for (const std::string& warning : solved->gridWarnings) {
    io.warn(warning, warning + "\n", warning + "\n");
  }
  if (!solved->errors.empty() && r.accuracy) {
    r.accuracy->capacitance = toMatrix(solved->errors);
    r.accuracy->capacitancePairs = toMatrix(solved->pairErrors);
  }
}

// The kinetic inductance is the difference of two inductances, so a small kinetic
// fraction magnifies their grid errors: it gets its own estimate, from L on the grids of
// the ladder and L_ext on the same grids, with a warning where L_k of a conductor is not
// resolved to `limit` of itself.
std::vector<std::string> kineticGridWarnings(const ProblemModel& gridded,
                                             const SuperconductorReport& report,
                                             const std::vector<ConductorMatrix>& ladder,
                                             LadderRung printed, double limit, int threads) {
  std::vector<std::string> warnings;
  if (ladder.size() != 3) return warnings;
  const int n = report.kineticInductanceHPerM.rows();
  // The grids of the ladder relative to the printed one.
  const double printedAt = printed == LadderRung::kMiddle ? 1 : 2;
  std::vector<std::vector<double>> kinetic;  // per rung: L_k of every conductor in H/m
  for (int k = 0; k < 3; ++k) {
    std::vector<double> lk;
    if (k == printedAt) {
      for (int c = 0; c < n; ++c) lk.push_back(report.kineticInductanceHPerM(c, c));
    } else {
      ProblemModel rung = gridded;
      placeGrids(rung, scaledGridCounts(gridded, std::pow(kLadderRatio, k - printedAt)));
      const Matrix<double> external = externalInductance(rung, threads);
      for (int c = 1; c <= n; ++c) {
        const Complex z = ladder[static_cast<std::size_t>(k)](c, c) * 1e-6;
        const double l = gridded.phaseVariables ? z.real() : z.imag() / gridded.omega;
        lk.push_back(l - external(c - 1, c - 1));
      }
    }
    kinetic.push_back(std::move(lk));
  }
  for (int c = 0; c < n; ++c) {
    const std::size_t i = static_cast<std::size_t>(c);
    const LadderErrors e = ladderErrors(kinetic[0][i], kinetic[1][i], kinetic[2][i]);
    const double estimate = std::fabs(printed == LadderRung::kMiddle ? e.middle : e.finest) /
                            std::fabs(report.kineticInductanceHPerM(c, c));
    if (!(estimate > limit)) continue;
    char text[240];
    std::snprintf(text, sizeof text,
                  "Warning: L_k[%d] (and alpha) is resolved to about %.0e only; refine the grid "
                  "where the current crowds (the edges and corners of the films);",
                  c + 1, estimate);
    warnings.emplace_back(text);
  }
  return warnings;
}

// The inductive and the resistive part of every entry of a conductor matrix, as printed:
// (L, -R/omega) in inductance mode, (R, X) in impedance mode.
std::vector<std::vector<double>> conductorPart(const ConductorMatrix& m, bool phaseVariables,
                                               bool inductive) {
  const int n = m.size();
  std::vector<std::vector<double>> part(static_cast<std::size_t>(n),
                                        std::vector<double>(static_cast<std::size_t>(n)));
  for (int r = 1; r <= n; ++r) {
    for (int c = 1; c <= n; ++c) {
      const Complex z = m(r, c);
      part[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(c - 1)] =
          (phaseVariables == inductive) ? z.real() : z.imag();
    }
  }
  return part;
}

// Whether the resistive part of a conductor matrix is rounding noise (a lossless line).
bool resistiveIsNoise(const ConductorMatrix& m, bool phaseVariables) {
  double largest[2] = {0.0, 0.0};
  for (int r = 1; r <= m.size(); ++r) {
    largest[0] = std::max(largest[0], std::fabs(m(r, r).real()));
    largest[1] = std::max(largest[1], std::fabs(m(r, r).imag()));
  }
  const int resistive = phaseVariables ? 1 : 0;
  return largest[resistive] < 1e-9 * largest[1 - resistive];
}

AccuracyEstimate conductorAccuracy(const std::vector<ConductorMatrix>& ladder, bool phaseVariables,
                                   LadderRung printed, const FieldResolution& field,
                                   bool* regular = nullptr) {
  AccuracyEstimate a;
  if (regular) *regular = true;
  a.passes = static_cast<int>(ladder.size());
  for (bool inductive : {true, false}) {
    if (!inductive && resistiveIsNoise(ladder[2], phaseVariables)) continue;
    const MatrixErrors e =
        matrixErrors(conductorPart(ladder[0], phaseVariables, inductive),
                     conductorPart(ladder[1], phaseVariables, inductive),
                     conductorPart(ladder[2], phaseVariables, inductive), printed);
    if (regular) *regular = *regular && e.regular;
    (inductive ? a.inductance : a.resistance) = toMatrix(e.entries);
    (inductive ? a.inductancePairs : a.resistancePairs) = toMatrix(e.pairs);
  }
  const auto atLeast = [](Matrix<double>& entries, Matrix<double>& pairs, double floor) {
    for (int r = 0; r < entries.rows(); ++r) {
      for (int c = 0; c < entries.cols(); ++c) {
        entries(r, c) = std::max(entries(r, c), floor);
        if (r != c) pairs(r, c) = std::max(pairs(r, c), floor);
      }
    }
  };
  if (field.normal > kUnresolvedDepths) {
    atLeast(a.resistance, a.resistancePairs, kUnresolvedSkinError);
  }
  if (field.superconducting > kUnresolvedDepths) {
    atLeast(a.inductance, a.inductancePairs, kUnresolvedPenetrationError);
  }
  return a;
}

MatrixErrors asErrors(const Matrix<double>& entries, const Matrix<double>& pairs) {
  MatrixErrors e;
  for (int r = 0; r < entries.rows(); ++r) {
    e.entries.emplace_back();
    e.pairs.emplace_back();
    for (int c = 0; c < entries.cols(); ++c) {
      e.entries.back().push_back(entries(r, c));
      e.pairs.back().push_back(pairs(r, c));
    }
  }
  return e;
}

void appendConductorWarnings(const AccuracyEstimate& a, bool phaseVariables, double limit,
                             const FieldResolution& field, std::vector<std::string>& warnings) {
  const auto unresolved = [&](double ratio, std::int32_t element, const char* depth,
                              const char* entry, double error) {
    if (!(ratio > kUnresolvedDepths) || !(error > 0.5 * limit)) return;
    char text[360];
    std::snprintf(text, sizeof text,
                  "Warning: the nodes next to the corners of element %d lie %.0f %s apart: the "
                  "current that crowds into the corners is not resolved, and %s may be off by "
                  "%.0f%% or more; give the sides more nodes (grid graded puts them at the "
                  "corners), or ask for an accuracy;",
                  element, ratio, depth, entry, 100.0 * error);
    warnings.emplace_back(text);
  };
  if (a.resistance.rows() > 0) {
    unresolved(field.normal, field.normalElement, "skin depths", "R", kUnresolvedSkinError);
  }
  unresolved(field.superconducting, field.superconductingElement, "penetration depths", "L",
             kUnresolvedPenetrationError);
  const std::string advice =
      "refine the grid where the current crowds (a smaller ah or larger grid counts), or ask "
      "for an accuracy;";
  appendResolutionWarnings(asErrors(a.inductance, a.inductancePairs), "L", limit, advice, warnings);
  if (a.resistance.rows() > 0) {
    appendResolutionWarnings(asErrors(a.resistance, a.resistancePairs), phaseVariables ? "L" : "R",
                             limit, advice, warnings,
                             phaseVariables ? "the imaginary part of " : "");
  }
}

// The grids refined by sqrt(2) in nodes from a share of the automatic counts that the
// tolerance sets (the first passes are cheap, and a cross-section that needs fewer nodes
// than its scales suggest stops sooner) until every entry's estimate on the finest is
// within the tolerance.
struct RefinedSolution {
  GridSolution solution;  // on the finest grid
  std::vector<ConductorMatrix> ladder;
  double factor = 1.0;  // of the finest grid's counts over the automatic ones
  int passes = 0;
};

constexpr int kMostRefinedUnknowns = 16000;

// The stop of a refinement that reaches the capacity first: the entries whose estimates
// exceed `limit` on the finest discretisation (of `nd` unknowns).
[[noreturn]] void stopAtCapacity(const AccuracyEstimate& a, bool phaseVariables, double tolerance,
                                 double limit, const FieldResolution& field, int nd) {
  std::vector<std::string> unresolved;
  appendConductorWarnings(a, phaseVariables, limit, field, unresolved);
  char text[160];
  std::snprintf(text, sizeof text,
                "\nThe accuracy %.0e is not reached within %d unknowns (the finest grid "
                "had %d):\n",
                tolerance, kMostRefinedUnknowns, nd);
  std::string message = text;
  for (const std::string& w : unresolved) message += w.substr(9) + "\n";
  if (unresolved.empty()) message += "the finest grids' steps do not yet fall regularly;\n";
  fatalStop(message + "ask for less, or give the grids yourself (without \"accuracy\");\n");
}

RefinedSolution refineToTolerance(const ProblemModel& prepared, double tolerance, bool structured,
                                  int threads) {
  std::vector<ConductorMatrix> passes;
  ToleranceTracker tracker{tolerance};
  double factor = firstRefinementFactor(tolerance);
  for (;;) {
    GridSolution s = solveOnGrid(prepared, factor, structured, threads);
    passes.push_back(s.m);
    if (passes.size() >= 3) {
      std::vector<ConductorMatrix> ladder(passes.end() - 3, passes.end());
      const FieldResolution field = fieldResolution(s.model);
      bool regular = true;
      const AccuracyEstimate a =
          conductorAccuracy(ladder, prepared.phaseVariables, LadderRung::kFinest, field, &regular);
      if (tracker.met(a.largest(), regular)) {
        return {std::move(s), std::move(ladder), factor, static_cast<int>(passes.size())};
      }
      if (s.model.nd * kLadderRatio > kMostRefinedUnknowns) {
        // Refinement stops within half the tolerance: the entries short of that.
        stopAtCapacity(a, prepared.phaseVariables, tolerance, kToleranceMargin * tolerance, field,
                       static_cast<int>(s.model.nd));
      }
    }
    factor *= kLadderRatio;
  }
}

// The tolerance the grids are refined to: the options', the model's "accuracy", or the
// default of a model built in code that leaves every grid to the program; 0 for none.
double askedTolerance(const ProblemModel& model, const SolveOptions& options) {
  if (options.tolerance > 0.0) return options.tolerance;
  if (model.accuracy > 0.0) return model.accuracy;
  if (model.defaultAccuracy <= 0.0 || model.ahGiven) return 0.0;
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    if (model.elements[static_cast<std::size_t>(e)].gridCount > 0) return 0.0;
  }
  return model.defaultAccuracy;
}

// Refined on panels: the estimates of the finer of two successive panel levels are their
// differences, entry by entry as the grids' ladder states them (off-diagonal entries
// relative to themselves or to a thousandth of their diagonal's, the pair combinations to
// themselves). The panels converge exponentially, so the difference is about the coarser
// level's error and far above the finer's (the gallery's microstrips: 1.5e-5 against
// 5e-6 between levels 0 and 1, 5.3e-5 against 2.4e-7 between 1 and 2).
AccuracyEstimate levelAccuracy(const ConductorMatrix& coarse, const ConductorMatrix& fine,
                               bool phaseVariables) {
  AccuracyEstimate a;
  for (bool inductive : {true, false}) {
    if (!inductive && resistiveIsNoise(fine, phaseVariables)) continue;
    const MatrixErrors e = levelDifferences(conductorPart(coarse, phaseVariables, inductive),
                                            conductorPart(fine, phaseVariables, inductive));
    (inductive ? a.inductance : a.resistance) = toMatrix(e.entries);
    (inductive ? a.inductancePairs : a.resistancePairs) = toMatrix(e.pairs);
  }
  return a;
}

// Where the panels serve a run to a tolerance: everything but what needs the node grids
// afterwards (rough surfaces split R by patch on the nodes; the temperature models' small
// resistance and kinetic estimates solve the node ladder again). What the panels refuse
// themselves (a metal without a field depth, a conductor number without elements) goes
// to the node grids too.
bool panelsServe(const ProblemModel& model) {
  return !model.roughSurfaces && !model.usesTemperatureModels();
}

struct PanelRefinement {
  PanelSolution solution;
  AccuracyEstimate accuracy;
};

// Panel levels 0, 1, ... until the difference of the last two is within the tolerance in
// every entry and pair combination; none where the panels do not serve (the node grids
// then take the run). A tolerance the panels do not meet within the capacity stops the
// run: the node grids, of second order, would need far more.
std::optional<PanelRefinement> refineOnPanels(const ProblemModel& prepared, double tolerance,
                                              int threads) {
  if (!panelsServe(prepared)) return std::nullopt;
  try {
    PanelSolution coarse = solveOnPanels(prepared, panelLevel(0), threads);
    for (int level = 1;; ++level) {
      PanelSolution fine = solveOnPanels(prepared, panelLevel(level), threads);
      AccuracyEstimate a = levelAccuracy(coarse.matrix, fine.matrix, prepared.phaseVariables);
      a.passes = level + 1;
      if (a.largest() <= tolerance) return PanelRefinement{std::move(fine), std::move(a)};
      // The next level grows about as this one did (a quarter more, for the unevenness of
      // the panels' halving).
      const double growth = static_cast<double>(fine.unknowns) / coarse.unknowns;
      if (1.25 * growth * fine.unknowns > kMostRefinedUnknowns) {
        stopAtCapacity(a, prepared.phaseVariables, tolerance, tolerance, FieldResolution{},
                       fine.unknowns);
      }
      coarse = std::move(fine);
    }
  } catch (const Error&) {
    throw;
  } catch (const std::runtime_error&) {
    // A singular panel system: the node grids say what is wrong with the model.
    return std::nullopt;
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

// The panels' report in place of the grids': the log gets the unknowns and every
// element's points, the console the line of the grids' report.
void reportPanels(const ProblemModel& model, const PanelSolution& s, RunIo& io) {
  std::vector<int> points(static_cast<std::size_t>(model.elementCount), 0);
  if (!s.excitations.empty()) {
    for (const NodeValue& v : s.excitations.front().nodes)
      ++points[static_cast<std::size_t>(v.element)];
  }
  io.log << "\n\nnd=" << s.unknowns << "     panels=" << s.panels << "\n\n";
  for (std::int32_t e = 0; e < model.elementCount; ++e)
    io.log << "element " << e << "  points=" << points[static_cast<std::size_t>(e)] << "\n";
  io.log << "\n";
  io.console << "Conductors:  " << model.conductorCount << "   Number of unknowns:  " << s.unknowns
             << "   Frequency:  " << model.frequency << " hz\n";
  io.log.flush();
}

// What a solve does before its grids: what the reader doubted first, then the set-up and
// the checks of the model. `shown` runs between the set-up and the checks (the echo and
// the drawing, so that a model the checks refuse is still echoed and drawn).
void prepareModel(ProblemModel& model, RunIo& io, const std::function<void()>& shown = {}) {
  for (const std::string& warning : model.inputWarnings) {
    io.warn(warning, warning + "\n", warning + "\n");
  }
  checkPointNumbers(model);
  setUpModel(model, io);
  if (shown) shown();
  checkModelIsSolvable(model);
  checkDielectricOutlines(model);
}

Result solveTables(const Model& input, const SolveOptions& options, RunIo& io) {
  const Clock::time_point start = Clock::now();
  Result r;
  r.settings = input.settings();
  // The phases work on a copy in place: the model stays as read, and solves of one
  // model in several threads share nothing.
  auto model = std::make_unique<ProblemModel>(input.tables());
  Clock::time_point phase = Clock::now();
  prepareModel(*model, io, [&] {
    echoModel(*model, io);
    if (!options.drawingBase.empty()) {
      writeEpsPlot(model->elements, model->elementCount, model->symmetryOn, options.drawingBase,
                   model->points, io, model->dielectricOutlines);
    }
  });
  // Asked for an accuracy, the grids are graded and start from the local scales.
  const double tolerance = askedTolerance(*model, options);
  if (tolerance > 0.0) {
    model->gradedGrids = true;
    chooseAutomaticGrids(*model);
  }
  // The model before its grids: the error estimate solves it again on other grids.
  const ProblemModel prepared = *model;
  r.times.setUp = secondsSince(phase);

  phase = Clock::now();
  const bool structured = options.solver == SolveOptions::Solver::kStructured;
  WorkArrays work;
  Unknowns unknowns;
  ConductorMatrix m;
  // The conductor matrices of the grid ladder: coarser, printed, finer.
  std::vector<ConductorMatrix> ladder;
  double gridFactor = 1.0;
  int refinementPasses = 0;
  std::optional<PanelRefinement> panels;
  if (tolerance > 0.0) panels = refineOnPanels(prepared, tolerance, options.threads);
  if (panels) {
    m = panels->solution.matrix;
    refinementPasses = panels->accuracy.passes;
    reportPanels(*model, panels->solution, io);
    r.times.grids = secondsSince(phase);
    r.times.fill = 0.0;
    r.times.factorisation = 0.0;
  } else if (tolerance > 0.0) {
    RefinedSolution refined = refineToTolerance(prepared, tolerance, structured, options.threads);
    *model = std::move(refined.solution.model);
    unknowns = refined.solution.unknowns;
    work = std::move(refined.solution.work);
    m = refined.solution.m;
    ladder = std::move(refined.ladder);
    gridFactor = refined.factor;
    refinementPasses = refined.passes;
    reportGrids(*model, io);
    r.times.grids = secondsSince(phase);
    r.times.fill = 0.0;
    r.times.factorisation = 0.0;
  } else {
    buildGrids(*model, io);
    work = allocateWorkArrays(*model, !structured);
    unknowns = Unknowns(*model);
    r.times.grids = secondsSince(phase);
    if (structured) {
      phase = Clock::now();
      StructuredTimes times;
      m = solveStructured(*model, unknowns, work.b, options.progress, options.threads, &times);
      r.times.fill = times.fill;
      r.times.factorisation = secondsSince(phase) - times.fill;
    } else {
      phase = Clock::now();
      fillBemMatrix(*model, unknowns, work.A, options.progress, options.threads);
      r.times.fill = secondsSince(phase);

      phase = Clock::now();
      m = solveConductorMatrix(*model, unknowns, work, options.progress, options.threads);
      r.times.factorisation = secondsSince(phase);
    }
  }
  const int nd = panels ? panels->solution.unknowns : static_cast<int>(unknowns.nd());
  checkInductanceAboveRounding(m, model->phaseVariables, nd);
  const ConductorMatrix solved = m;
  const FieldResolution field = panels ? FieldResolution{} : fieldResolution(*model);
  if (model->usesTemperatureModels()) {
    phase = Clock::now();
    resolveSmallResistance(prepared, gridFactor, m, structured, options.threads);
    r.times.superconductors += secondsSince(phase);
  }

  r.excitations = panels ? panels->solution.excitations : nodeValues(*model, unknowns, work.b);
  // Rough surfaces: the report and the result carry R with the roughness; the grid check
  // compares the smooth solution with those of coarser grids.
  ConductorMatrix reported = m;
  if (model->roughSurfaces) {
    const PatchResistance split = patchResistance(*model, unknowns, work.b, m);
    r.roughness = roughnessLosses(*model, split, m);
    reported = withLossFactors(m, split, *model);
  }
  // The electrostatic problem comes after the report, on the same grids, once the BEM
  // system's memory is free.
  std::unique_ptr<ProblemModel> gridded;
  if (model->permittivity > 0.0 || hasDielectricRegions(*model) || model->usesTemperatureModels()) {
    gridded = std::make_unique<ProblemModel>(*model);
  }
  releaseWorkArrays(*model, work);
  if (model->phaseVariables) {
    reportInductanceMatrix(reported, io);
  } else {
    reportImpedanceMatrix(reported, model->omega, io);
  }
  const LadderRung printedRung = tolerance > 0.0 ? LadderRung::kFinest : LadderRung::kMiddle;
  if (options.gridCheck || tolerance > 0.0) {
    phase = Clock::now();
    if (panels) {
      r.accuracy = panels->accuracy;
    } else {
      if (ladder.empty()) {
        ladder = {solveSilently(prepared, 1.0 / kLadderRatio, structured, options.threads), solved,
                  solveSilently(prepared, kLadderRatio, structured, options.threads)};
      }
      r.accuracy = conductorAccuracy(ladder, model->phaseVariables, printedRung, field);
    }
    r.accuracy->tolerance = tolerance;
    if (refinementPasses > 0) r.accuracy->passes = refinementPasses;
    std::vector<std::string> warnings;
    appendConductorWarnings(*r.accuracy, model->phaseVariables,
                            tolerance > 0.0 ? tolerance : kResolved, field, warnings);
    for (const std::string& warning : warnings) io.warn(warning, warning + "\n", warning + "\n");
    r.times.gridCheck = secondsSince(phase);
  }
  if (r.roughness) reportRoughness(*r.roughness, model->frequency, io);

  r.conductors = model->conductorCount;
  r.frequencyHz = model->frequency;
  r.omegaRadPerS = model->omega;
  r.mode = model->phaseVariables ? Result::Mode::kInductance : Result::Mode::kImpedance;
  r.nd = nd;
  r.hasReturnConductor = model->hasReturnConductor();
  r.lengthUnit = model->lengthunit;
  r.lengthUnitM = model->lengthScale;
  setMatrices(r, reported, *model);
  if (gridded && (gridded->permittivity > 0.0 || hasDielectricRegions(*gridded))) {
    phase = Clock::now();
    solveLine(*gridded, options, tolerance, r, io);
    r.times.capacitance = secondsSince(phase);
  }
  if (gridded && gridded->usesTemperatureModels()) {
    phase = Clock::now();
    r.superconductors = superconductorReport(*gridded, r, options.threads);
    reportSuperconductors(*r.superconductors, model->frequency, io);
    if (options.gridCheck || tolerance > 0.0) {
      for (const std::string& warning :
           kineticGridWarnings(*gridded, *r.superconductors, ladder, printedRung,
                               tolerance > 0.0 ? tolerance : kResolved, options.threads)) {
        io.warn(warning, warning + "\n", warning + "\n");
      }
    }
    r.times.superconductors += secondsSince(phase);
  }
  r.times.total = secondsSince(start);
  return r;
}

}  // namespace

Result solve(const Model& model, const SolveOptions& options) {
  if ((options.console == nullptr) != (options.log == nullptr)) {
    throw std::invalid_argument("qbr::solve: give both the console and the log, or neither");
  }
  NullBuffer nothing;
  std::ostream discard(&nothing);
  std::vector<std::string> warnings;
  RunIo io{options.console ? *options.console : discard, options.log ? *options.log : discard,
           &warnings};
  Result r;
  try {
    r = solveTables(model, options, io);
  } catch (const std::bad_alloc&) {
    // Every large allocation has its own message; this is the safety net for the rest.
    throw Error("\nNot enough memory for this model;\n");
  }
  r.warnings = std::move(warnings);
  return r;
}

std::vector<std::string> check(const Model& input) {
  NullBuffer nothing;
  std::ostream discard(&nothing);
  std::vector<std::string> warnings;
  RunIo io{discard, discard, &warnings};
  auto model = std::make_unique<ProblemModel>(input.tables());
  prepareModel(*model, io);
  return warnings;
}

std::string versionText() {
  return "qbr " QBR_VERSION;
}

LineDetails lineDetails(const Result& result) {
  if (!result.line) {
    throw Error(
        "\nThe line details need the capacitance: give the permittivity of the "
        "dielectric or its regions;\n");
  }
  return lineDetails(*result.line, result.inductanceHPerM, result.resistanceOhmPerM,
                     result.omegaRadPerS);
}

}  // namespace qbr

namespace qbr {

double AccuracyEstimate::largest() const {
  double most = 0.0;
  for (const Matrix<double>* m : {&inductance, &inductancePairs, &resistance, &resistancePairs,
                                  &capacitance, &capacitancePairs}) {
    for (double e : m->rowMajor()) most = std::max(most, e);
  }
  return most;
}

}  // namespace qbr
