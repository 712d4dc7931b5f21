#include "prep/echo.hpp"

#include "base/fatal_stop.hpp"
#include "prep/dielectrics.hpp"
#include "prep/roughness.hpp"

namespace qbr {

namespace {

// A patch given by its transition temperature: what was given, then what it is at the
// run's temperature and frequency, in SI units (sigma2 is infinite at zero frequency).
void echoTemperatureModel(std::ostream& log, const MaterialPatch& p) {
  const bool mattisBardeen = p.model == MaterialModel::kMattisBardeen;
  log << (mattisBardeen ? "MB " : "TWOFLUID ") << "  Tc=" << p.tc << "K  rho_n=" << p.rhoN
      << "uOhm*cm";
  if (mattisBardeen && p.gap > 0.0) log << "  gap(0)=" << p.gap << "meV";
  if (!mattisBardeen) log << "  lambda0= " << p.lambda0;
  const SuperconductorResponse& r = p.response;
  if (!r.superconducting) {
    log << "  normal state (T >= Tc)  s=" << p.sigma << "S/m";
  } else {
    if (mattisBardeen) log << "  gap=" << r.gapMeV << "meV";
    log << "  lambda_eff=" << r.lambdaEffM << "m  sigma1=" << r.sigma1SPerM
        << "S/m  sigma2=" << r.sigma2SPerM << "S/m";
  }
}

void echoMedium(std::ostream& log, const Medium& m, double frequencyHz) {
  log << "er=" << m.permittivity << "  tand=" << m.lossTangent;
  if (m.statedAt > 0.0 && m.lossTangent > 0.0) {
    log << "  (wideband Debye, stated at " << m.statedAt << " " << m.statedUnit
        << "; at the run's frequency eps=" << relativePermittivity(m, frequencyHz) << ")";
  }
  log << "\n";
}

void echoPatch(std::ostream& log, const ProblemModel& model, std::int32_t i) {
  const MaterialPatch& p = model.patches[static_cast<std::size_t>(i)];
  log << "Patch " << i << ": ";
  if (p.dielectric) {
    log << "dielectric  ";
    echoMedium(log, p.medium, model.frequency);
    return;
  }
  if (p.model != MaterialModel::kGiven) {
    echoTemperatureModel(log, p);
    log << "  mu=" << p.mu << "  k=" << p.k << "  "
        << "wave/h=" << p.wavelength / model.ah << "\n";
    return;
  }
  log << (p.superconducting ? "SC " : "NC ");
  if (p.superconducting) log << "  lambda= " << p.lambda;
  // Grid steps per complex wavelength: how finely the grid resolves the field inside.
  log << "  s=" << p.sigma << "S/m"
      << "  mu=" << p.mu << "  k=" << p.k << "  "
      << "wave/h=" << p.wavelength / model.ah << "\n";
  // In SI units, whatever the length unit; only for patches that have a roughness, so the
  // echo of every other model stays as it was.
  const Roughness& r = p.roughness;
  if (r.model == RoughnessModel::kNone) return;
  const double scale = model.lengthScale;
  log << "  roughness " << roughnessModelName(r.model) << ":";
  if (r.model == RoughnessModel::kHuray) {
    log << "  sphere radius=" << r.sphereRadius * scale << "m"
        << "  spheres=" << spheresPerSquareMetre(r, scale) << "/m2";
  } else {
    log << "  rms=" << r.rms * scale << "m";
  }
  const double delta = skinDepthM(p, model.omega);
  log << "  skin depth=" << delta << "m  K=" << roughnessFactor(r, scale, delta) << "\n";
}

void echoElement(std::ostream& log, const ProblemModel& model, std::int32_t e) {
  const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
  const auto& n = element.pointNumbers;
  log << "\nE[" << e << "]: ";
  switch (element.kind) {
    case kLine:
      log << "line   "
          << "n0=" << n[0] << "  n1=" << n[1];
      break;
    case kCurve:
      log << "curve  "
          << "n0=" << n[0] << "  n1=" << n[1] << "  n2=" << n[2];
      break;
    case kCircle:
      log << "circle, centre in point " << n[0] << "  R=" << element.R
          << "   dir=" << (element.dir ? 1 : 0);
      break;
    default:
      fatalStop("\nerror form of element\n");
  }
  log << "  conductor=" << element.conductor << "   patch=" << element.patch;
}

}  // namespace

void echoModel(const ProblemModel& model, RunIo& io) {
  std::ostream& log = io.log;
  io.console << model.caption << "\n";
  log << model.caption << "\n";

  log << model.conductorCount << " conductors;\n"
      << model.patchCount << " material patches;\n"
      << model.pointCount << " basic points;\n"
      << model.elementCount << " boundary elements;\n";

  // The words as stored, not as interpreted.
  log << "Symmetry: " << model.symmetry << "\n"
      << "Frequency: " << model.frequency << " "
      << "hz"
      << "\n"
      << "Conductivity units: " << model.conductanceunit << "\n"
      << "Length units: " << model.lengthunit << "\n"
      << "Variables: " << model.variables << "\n";
  // Only where it was asked for: the echo of every model written before stays as it was.
  if (model.grid != "uniform") log << "Grid: " << model.grid << "\n";
  if (model.hasTemperature) log << "Temperature: " << model.temperatureK << " K\n";
  log << "gridsize=" << model.gridsize << "\n"
      << "ah=" << model.ah << "\n\n";

  for (std::int32_t i = 0; i < model.patchCount; ++i) echoPatch(log, model, i);
  log << "\n";

  for (std::int32_t c = 0; c <= model.conductorCount; ++c) {
    const Conductor& conductor = model.conductors[static_cast<std::size_t>(c)];
    log << "\nCond[" << c << "]:"
        << "  n_memb=" << conductor.n_memb << "\n";
    log << "Cond[" << c << "].memb[*]:";
    for (std::int32_t m : conductor.memb) log << "  " << m;
  }
  log << "\n";

  log << "\nPoints (" << model.pointCount << "):\n";
  for (std::int32_t i = 0; i < model.pointCount; ++i) {
    const BasicPoint& p = model.points[static_cast<std::size_t>(i)];
    log << i << "  "
        << "x=" << p.x << "    y=" << p.y << "\n";
  }
  log << "\n";

  // Each element line is ended by whatever the log receives next.
  for (std::int32_t e = 0; e < model.elementCount; ++e) echoElement(log, model, e);
  // Only models with dielectric regions have these, so every other echo stays as it was.
  if (!model.layers.empty()) log << "\n";
  for (std::size_t i = 0; i < model.layers.size(); ++i) {
    const Layer& layer = model.layers[i];
    log << "\nLayer " << i + 1 << ": y=" << layer.y1 << ".." << layer.y2 << "  ";
    echoMedium(log, layer.medium, model.frequency);
  }
  for (std::size_t d = 0; d < model.dielectricOutlines.size(); ++d) {
    const BoundaryElement& outline = model.dielectricOutlines[d];
    const auto& n = outline.pointNumbers;
    log << "\nD[" << d << "]: ";
    switch (outline.kind) {
      case kLine:
        log << "line   n0=" << n[0] << "  n1=" << n[1];
        break;
      case kCurve:
        log << "curve  n0=" << n[0] << "  n1=" << n[1] << "  n2=" << n[2];
        break;
      default:
        log << "circle, centre in point " << n[0] << "  R=" << outline.R;
    }
    if (outline.patch >= kMaxPatches) {
      log << "  layer " << outline.patch - kMaxPatches + 1;
    } else {
      log << "  dielectric patch=" << outline.patch;
    }
  }
  log.flush();
}

}  // namespace qbr
