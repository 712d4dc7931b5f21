// The JSON document of a result (schema version 1, described in the README) and its
// reader. nlohmann-json writes every double in the shortest form that reads back to
// the same bits.
#include <algorithm>
#include <limits>
#include <nlohmann/json.hpp>

#include "bem/line_parameters.hpp"
#include "qbr/error.hpp"
#include "qbr/result.hpp"

namespace qbr {

namespace {

// Objects keep the order in which the schema lists their members.
using json = nlohmann::ordered_json;
using Complex = std::complex<double>;

bool isFlat(const json& value) {
  return !value.is_structured() ||
         (value.is_array() && std::all_of(value.begin(), value.end(), [](const json& item) {
            return !item.is_structured() ||
                   (item.is_array() && std::none_of(item.begin(), item.end(), [](const json& x) {
                      return x.is_structured();
                    }));
          }));
}

// Objects one member per line; arrays of numbers and matrices (arrays of such arrays) on
// one line each, so that a node column or a matrix reads as a row of text.
void write(std::string& out, const json& value, int depth) {
  if (isFlat(value) || value.empty()) {
    out += value.dump();
    return;
  }
  const std::string indent(static_cast<std::size_t>(depth + 1), ' ');
  const bool object = value.is_object();
  out += object ? "{\n" : "[\n";
  bool first = true;
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (!first) out += ",\n";
    first = false;
    out += indent;
    if (object) out += json(it.key()).dump() + ": ";
    write(out, *it, depth + 1);
  }
  out += '\n';
  out.append(static_cast<std::size_t>(depth), ' ');
  out += object ? '}' : ']';
}

json realRows(const Matrix<double>& m) {
  json rows = json::array();
  for (int r = 0; r < m.rows(); ++r) {
    json row = json::array();
    for (int c = 0; c < m.cols(); ++c) row.push_back(m(r, c));
    rows.push_back(std::move(row));
  }
  return rows;
}

json complexRows(const Matrix<Complex>& m) {
  json re = json::array();
  json im = json::array();
  for (int r = 0; r < m.rows(); ++r) {
    json rowRe = json::array();
    json rowIm = json::array();
    for (int c = 0; c < m.cols(); ++c) {
      rowRe.push_back(m(r, c).real());
      rowIm.push_back(m(r, c).imag());
    }
    re.push_back(std::move(rowRe));
    im.push_back(std::move(rowIm));
  }
  return {{"re", std::move(re)}, {"im", std::move(im)}};
}

Matrix<double> readRealRows(const json& rows) {
  const int n = static_cast<int>(rows.size());
  Matrix<double> m(n, n == 0 ? 0 : static_cast<int>(rows.at(0).size()));
  for (int r = 0; r < m.rows(); ++r) {
    if (static_cast<int>(rows.at(r).size()) != m.cols()) throw Error("\nA matrix row is short\n");
    for (int c = 0; c < m.cols(); ++c) m(r, c) = rows.at(r).at(c).get<double>();
  }
  return m;
}

Matrix<Complex> readComplexRows(const json& value) {
  const Matrix<double> re = readRealRows(value.at("re"));
  const Matrix<double> im = readRealRows(value.at("im"));
  if (re.rows() != im.rows() || re.cols() != im.cols()) {
    throw Error("\nThe real and imaginary parts of a matrix differ in size\n");
  }
  Matrix<Complex> m(re.rows(), re.cols());
  for (int r = 0; r < m.rows(); ++r) {
    for (int c = 0; c < m.cols(); ++c) m(r, c) = Complex(re(r, c), im(r, c));
  }
  return m;
}

// The node table of one excitation as columns, one array per quantity (a tidy table
// that data-frame libraries take as it is).
json nodeColumns(const std::vector<NodeValue>& nodes) {
  json element = json::array(), node = json::array(), x = json::array(), y = json::array(),
       conductor = json::array(), fieldRe = json::array(), fieldIm = json::array(),
       dnRe = json::array(), dnIm = json::array(), kRe = json::array(), kIm = json::array(),
       share = json::array();
  for (const NodeValue& v : nodes) {
    element.push_back(v.element);
    node.push_back(v.node);
    x.push_back(v.x);
    y.push_back(v.y);
    conductor.push_back(v.conductor);
    fieldRe.push_back(v.field.real());
    fieldIm.push_back(v.field.imag());
    dnRe.push_back(v.normalDerivative.real());
    dnIm.push_back(v.normalDerivative.imag());
    kRe.push_back(v.currentDensity.real());
    kIm.push_back(v.currentDensity.imag());
    share.push_back(v.outlineShareM);
  }
  return {{"element", element},
          {"node", node},
          {"x_length_units", x},
          {"y_length_units", y},
          {"conductor", conductor},
          {"field_re", fieldRe},
          {"field_im", fieldIm},
          {"normal_derivative_per_length_unit_re", dnRe},
          {"normal_derivative_per_length_unit_im", dnIm},
          {"current_density_A_per_m_per_A_re", kRe},
          {"current_density_A_per_m_per_A_im", kIm},
          {"outline_share_m", share}};
}

std::vector<NodeValue> readNodeColumns(const json& table) {
  const json& element = table.at("element");
  std::vector<NodeValue> nodes(element.size());
  const auto column = [&](const char* name) -> const json& {
    const json& c = table.at(name);
    if (c.size() != nodes.size())
      throw Error(std::string("\nThe node column ") + name + " differs in length\n");
    return c;
  };
  const json &node = column("node"), &x = column("x_length_units"), &y = column("y_length_units"),
             &conductor = column("conductor"), &fieldRe = column("field_re"),
             &fieldIm = column("field_im"), &dnRe = column("normal_derivative_per_length_unit_re"),
             &dnIm = column("normal_derivative_per_length_unit_im"),
             &kRe = column("current_density_A_per_m_per_A_re"),
             &kIm = column("current_density_A_per_m_per_A_im");
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    NodeValue& v = nodes[i];
    v.element = element[i].get<int>();
    v.node = node[i].get<int>();
    v.x = x[i].get<double>();
    v.y = y[i].get<double>();
    v.conductor = conductor[i].get<int>();
    v.field = Complex(fieldRe[i].get<double>(), fieldIm[i].get<double>());
    v.normalDerivative = Complex(dnRe[i].get<double>(), dnIm[i].get<double>());
    v.currentDensity = Complex(kRe[i].get<double>(), kIm[i].get<double>());
    if (table.contains("outline_share_m"))
      v.outlineShareM = column("outline_share_m")[i].get<double>();
  }
  return nodes;
}

std::vector<double> readNumbers(const json& list) {
  return list.get<std::vector<double>>();
}

// The line parameters: present only when the model gives the permittivity.
json lineObject(const LineParameters& p) {
  json propagation = {{"re", json::array()}, {"im", json::array()}};
  for (const Complex& gamma : p.modalPropagationPerM) {
    propagation["re"].push_back(gamma.real());
    propagation["im"].push_back(gamma.imag());
  }
  json out = {{"permittivity_relative", p.permittivityRelative},
              {"loss_tangent", p.lossTangent},
              {"lossless", p.lossless},
              {"capacitance_F_per_m", realRows(p.capacitanceFPerM)},
              {"conductance_S_per_m", realRows(p.conductanceSPerM)},
              {"characteristic_impedance_ohm", complexRows(p.characteristicImpedanceOhm)},
              {"modes",
               {{"velocity_m_per_s", p.modalVelocityMPerS},
                {"delay_s_per_m", p.modalDelaySPerM},
                {"attenuation_Np_per_m", p.modalAttenuationNpPerM},
                {"propagation_per_m", propagation}}}};
  // Dielectric regions: C0 is no multiple of C, and the document says what they are. A
  // homogeneous dielectric's document stays as it always was (C0 = C / eps_r).
  if (!p.dielectricRegions.empty()) {
    out["dielectric_regions"] = p.dielectricRegions;
    out["vacuum_capacitance_F_per_m"] = realRows(p.vacuumCapacitanceFPerM);
  }
  return out;
}

// What follows from the line parameters, for the reader of the document (not read back:
// lineDetails computes it from the rest).
json detailsObject(const LineDetails& d) {
  json out = {{"effective_permittivity", d.modalEffectivePermittivity},
              {"conductor_attenuation_Np_per_m", d.modalConductorAttenuationNpPerM},
              {"dielectric_attenuation_Np_per_m", d.modalDielectricAttenuationNpPerM},
              {"external_inductance_H_per_m", realRows(d.externalInductanceHPerM)},
              {"internal_inductance_H_per_m", d.internalInductanceHPerM},
              {"internal_fraction", d.internalFraction}};
  if (d.pair) {
    const auto complexValue = [](std::complex<double> z) {
      return json{{"re", z.real()}, {"im", z.imag()}};
    };
    out["even_ohm"] = complexValue(d.evenOhm);
    out["odd_ohm"] = complexValue(d.oddOhm);
    out["differential_ohm"] = complexValue(d.differentialOhm);
    out["common_ohm"] = complexValue(d.commonOhm);
    out["near_end_coupling"] = d.nearEndCoupling;
    out["far_end_coupling_s_per_m"] = d.farEndCouplingSPerM;
  }
  return out;
}

LineParameters readLine(const json& j) {
  LineParameters p;
  p.permittivityRelative = j.at("permittivity_relative").get<double>();
  p.lossTangent = j.at("loss_tangent").get<double>();
  p.lossless = j.at("lossless").get<bool>();
  p.capacitanceFPerM = readRealRows(j.at("capacitance_F_per_m"));
  p.conductanceSPerM = readRealRows(j.at("conductance_S_per_m"));
  p.characteristicImpedanceOhm = readComplexRows(j.at("characteristic_impedance_ohm"));
  const json& modes = j.at("modes");
  p.modalVelocityMPerS = readNumbers(modes.at("velocity_m_per_s"));
  p.modalDelaySPerM = readNumbers(modes.at("delay_s_per_m"));
  p.modalAttenuationNpPerM = readNumbers(modes.at("attenuation_Np_per_m"));
  const std::vector<double> re = readNumbers(modes.at("propagation_per_m").at("re"));
  const std::vector<double> im = readNumbers(modes.at("propagation_per_m").at("im"));
  if (re.size() != im.size()) throw Error("\nThe modal propagation lists differ in length\n");
  for (std::size_t k = 0; k < re.size(); ++k) p.modalPropagationPerM.emplace_back(re[k], im[k]);
  if (j.contains("dielectric_regions")) {
    p.dielectricRegions = j.at("dielectric_regions").get<std::string>();
    p.vacuumCapacitanceFPerM = readRealRows(j.at("vacuum_capacitance_F_per_m"));
  } else {
    const int n = p.capacitanceFPerM.rows();
    p.vacuumCapacitanceFPerM = Matrix<double>(n, n);
    for (int r = 0; r < n; ++r)
      for (int k = 0; k < n; ++k)
        p.vacuumCapacitanceFPerM(r, k) = p.capacitanceFPerM(r, k) / p.permittivityRelative;
  }
  return p;
}

// A patch's roughness as written; only for patches that have one, so the documents of
// every other model stay as they were.
json roughnessSettingsObject(const RoughnessSettings& r) {
  json out = {{"model", r.model}};
  if (r.model == "huray") {
    out["sphere_radius_length_units"] = r.sphereRadius;
    if (r.tileArea > 0.0) {
      out["spheres_per_tile"] = r.spheres;
      out["tile_area_square_length_units"] = r.tileArea;
    } else {
      out["spheres_per_square_length_unit"] = r.spheres;
    }
  } else {
    out["rms_length_units"] = r.rms;
  }
  return out;
}

// Infinities (sigma2 at zero frequency, lambda above Tc, the Q of a lossless line) are
// written as null, which JSON has for them.
double readNumber(const json& value) {
  return value.is_null() ? std::numeric_limits<double>::infinity() : value.get<double>();
}

std::vector<double> readNumbersOrNull(const json& list) {
  std::vector<double> out;
  for (const json& v : list) out.push_back(readNumber(v));
  return out;
}

json patchObject(const PatchSettings& p) {
  if (!p.superconductor) {
    return {{"patch", p.patch},
            {"kind", p.superconducting ? "sc" : "nc"},
            {"sigma_conductance_units", p.sigma},
            {"lambda_length_units", p.lambda},
            {"mu_relative", p.mu}};
  }
  const SuperconductorSettings& sc = *p.superconductor;
  json out = {{"patch", p.patch},
              {"kind", sc.model},
              {"sigma_conductance_units", p.sigma},
              {"lambda_length_units", p.lambda},
              {"mu_relative", p.mu},
              {"tc_K", sc.tcK},
              {"rho_n_microohm_cm", sc.rhoNMicroOhmCm}};
  if (sc.model == "mb") {
    out["gap_meV"] = sc.gapMeV;
  } else {
    out["lambda0_length_units"] = sc.lambda0;
  }
  return out;
}

RoughnessSettings readRoughnessSettings(const json& j) {
  RoughnessSettings r;
  r.model = j.at("model").get<std::string>();
  if (r.model == "huray") {
    r.sphereRadius = j.at("sphere_radius_length_units").get<double>();
    if (j.contains("tile_area_square_length_units")) {
      r.spheres = j.at("spheres_per_tile").get<double>();
      r.tileArea = j.at("tile_area_square_length_units").get<double>();
    } else {
      r.spheres = j.at("spheres_per_square_length_unit").get<double>();
    }
  } else {
    r.rms = j.at("rms_length_units").get<double>();
  }
  return r;
}

json roughnessObject(const RoughnessLosses& losses) {
  json patches = json::array();
  for (const PatchLoss& p : losses.patches) {
    json item = {{"patch", p.patch}, {"model", p.model}};
    if (p.model == "huray") {
      item["sphere_radius_m"] = p.sphereRadiusM;
      item["spheres_per_m2"] = p.spheresPerM2;
    } else if (p.model != "none") {
      item["rms_m"] = p.rmsM;
    }
    item["skin_depth_m"] = p.skinDepthM;
    item["factor"] = p.factor;
    item["smooth_resistance_ohm_per_m"] = realRows(p.smoothResistanceOhmPerM);
    patches.push_back(std::move(item));
  }
  return {{"smooth_resistance_ohm_per_m", realRows(losses.smoothResistanceOhmPerM)},
          {"flux_mismatch", losses.fluxMismatch},
          {"patches", patches}};
}

constexpr std::pair<const char*, Matrix<double> AccuracyEstimate::*> kAccuracyMembers[] = {
    {"inductance", &AccuracyEstimate::inductance},
    {"inductance_pairs", &AccuracyEstimate::inductancePairs},
    {"resistance", &AccuracyEstimate::resistance},
    {"resistance_pairs", &AccuracyEstimate::resistancePairs},
    {"capacitance", &AccuracyEstimate::capacitance},
    {"capacitance_pairs", &AccuracyEstimate::capacitancePairs}};

json accuracyObject(const AccuracyEstimate& a) {
  json object = {{"tolerance", a.tolerance}, {"passes", a.passes}};
  for (const auto& [name, member] : kAccuracyMembers) {
    if ((a.*member).rows() > 0) object[name] = realRows(a.*member);
  }
  return object;
}

AccuracyEstimate readAccuracy(const json& j) {
  AccuracyEstimate a;
  a.tolerance = j.at("tolerance").get<double>();
  a.passes = j.at("passes").get<int>();
  for (const auto& [name, member] : kAccuracyMembers) {
    if (j.contains(name)) a.*member = readRealRows(j.at(name));
  }
  return a;
}

RoughnessLosses readRoughness(const json& j) {
  RoughnessLosses losses;
  losses.smoothResistanceOhmPerM = readRealRows(j.at("smooth_resistance_ohm_per_m"));
  losses.fluxMismatch = j.at("flux_mismatch").get<double>();
  for (const json& item : j.at("patches")) {
    PatchLoss p;
    p.patch = item.at("patch").get<int>();
    p.model = item.at("model").get<std::string>();
    p.rmsM = item.value("rms_m", 0.0);
    p.sphereRadiusM = item.value("sphere_radius_m", 0.0);
    p.spheresPerM2 = item.value("spheres_per_m2", 0.0);
    p.skinDepthM = item.at("skin_depth_m").get<double>();
    p.factor = item.at("factor").get<double>();
    p.smoothResistanceOhmPerM = readRealRows(item.at("smooth_resistance_ohm_per_m"));
    losses.patches.push_back(std::move(p));
  }
  return losses;
}

PatchSettings readPatch(const json& p) {
  PatchSettings patch{p.at("patch").get<int>(),
                      p.at("kind").get<std::string>() != "nc",
                      p.at("sigma_conductance_units").get<double>(),
                      p.at("lambda_length_units").get<double>(),
                      p.at("mu_relative").get<double>(),
                      std::nullopt,
                      std::nullopt,
                      std::nullopt};
  const std::string kind = p.at("kind").get<std::string>();
  if (kind == "mb" || kind == "twofluid") {
    patch.superconductor = SuperconductorSettings{
        kind, p.at("tc_K").get<double>(), p.at("rho_n_microohm_cm").get<double>(),
        kind == "mb" ? p.at("gap_meV").get<double>() : 0.0,
        kind == "mb" ? 0.0 : p.at("lambda0_length_units").get<double>()};
  }
  return patch;
}

json superconductorObject(const SuperconductorReport& report) {
  json patches = json::array();
  for (const SuperconductingPatch& p : report.patches) {
    const SuperconductorResponse& r = p.response;
    patches.push_back(
        {{"patch", p.patch},
         {"kind", p.model},
         {"tc_K", p.tcK},
         {"superconducting", r.superconducting},
         {"gap_meV", r.gapMeV},
         {"sigma1_S_per_m", r.sigma1SPerM},
         {"sigma2_S_per_m", r.sigma2SPerM},
         {"lambda_eff_m", r.lambdaEffM},
         {"surface_impedance_ohm",
          {{"re", r.surfaceImpedanceOhm.real()}, {"im", r.surfaceImpedanceOhm.imag()}}}});
  }
  return {{"temperature_K", report.temperatureK},
          {"patches", patches},
          {"external_inductance_H_per_m", realRows(report.externalInductanceHPerM)},
          {"kinetic_inductance_H_per_m", realRows(report.kineticInductanceHPerM)},
          {"kinetic_fraction", report.kineticFraction},
          {"quality_factor_conductor", report.conductorQ}};
}

SuperconductorReport readSuperconductors(const json& j) {
  SuperconductorReport report;
  report.temperatureK = j.at("temperature_K").get<double>();
  for (const json& p : j.at("patches")) {
    SuperconductingPatch patch;
    patch.patch = p.at("patch").get<int>();
    patch.model = p.at("kind").get<std::string>();
    patch.tcK = p.at("tc_K").get<double>();
    SuperconductorResponse& r = patch.response;
    r.superconducting = p.at("superconducting").get<bool>();
    r.gapMeV = p.at("gap_meV").get<double>();
    r.sigma1SPerM = readNumber(p.at("sigma1_S_per_m"));
    r.sigma2SPerM = readNumber(p.at("sigma2_S_per_m"));
    r.lambdaEffM = readNumber(p.at("lambda_eff_m"));
    r.surfaceImpedanceOhm = Complex(p.at("surface_impedance_ohm").at("re").get<double>(),
                                    p.at("surface_impedance_ohm").at("im").get<double>());
    report.patches.push_back(std::move(patch));
  }
  report.externalInductanceHPerM = readRealRows(j.at("external_inductance_H_per_m"));
  report.kineticInductanceHPerM = readRealRows(j.at("kinetic_inductance_H_per_m"));
  report.kineticFraction = readNumbers(j.at("kinetic_fraction"));
  report.conductorQ = readNumbersOrNull(j.at("quality_factor_conductor"));
  return report;
}

json dielectricObject(const DielectricSettings& d) {
  json out = {{"permittivity_relative", d.permittivity}, {"loss_tangent", d.lossTangent}};
  if (d.statedAt > 0.0) {
    out["stated_at"] = d.statedAt;
    out["stated_unit"] = d.statedUnit;
  }
  return out;
}

DielectricSettings readDielectric(const json& j) {
  return {j.at("permittivity_relative").get<double>(), j.at("loss_tangent").get<double>(),
          j.value("stated_at", 0.0), j.value("stated_unit", std::string())};
}

json settingsObject(const Settings& s) {
  json patches = json::array();
  for (const PatchSettings& p : s.patches) {
    json patch = patchObject(p);
    if (p.roughness) patch["roughness"] = roughnessSettingsObject(*p.roughness);
    // A dielectric patch: its kind and medium; only such models have it.
    if (p.dielectric) {
      patch["kind"] = "dielectric";
      patch["dielectric"] = dielectricObject(*p.dielectric);
    }
    patches.push_back(std::move(patch));
  }
  json out = {{"caption", s.caption},
              {"lengthunit", s.lengthUnit},
              {"gridsize", s.gridSize},
              {"frequency", s.frequency},
              {"frequency_unit", s.frequencyUnit},
              {"conductanceunit", s.conductanceUnit},
              {"variables", s.variables},
              {"symmetry", s.symmetry},
              {"grid", s.grid},
              {"ah_length_units", s.ah},
              {"patches", patches}};
  if (s.permittivity) {
    out["permittivity"] = *s.permittivity;
    out["losstangent"] = s.lossTangent;
  }
  if (s.temperature) {
    out["temperature"] = *s.temperature;
    out["temperature_unit"] = s.temperatureUnit;
  }
  if (!s.layers.empty()) {
    json layers = json::array();
    for (const LayerSettings& layer : s.layers) {
      layers.push_back({{"y1_length_units", layer.y1},
                        {"y2_length_units", layer.y2},
                        {"dielectric", dielectricObject(layer.dielectric)}});
    }
    out["layers"] = layers;
  }
  if (s.accuracy) out["accuracy"] = *s.accuracy;
  return out;
}

Settings readSettings(const json& j) {
  Settings s;
  s.caption = j.at("caption").get<std::string>();
  s.lengthUnit = j.at("lengthunit").get<std::string>();
  s.gridSize = j.at("gridsize").get<double>();
  s.frequency = j.at("frequency").get<double>();
  s.frequencyUnit = j.at("frequency_unit").get<std::string>();
  s.conductanceUnit = j.at("conductanceunit").get<std::string>();
  s.variables = j.at("variables").get<std::string>();
  s.symmetry = j.at("symmetry").get<std::string>();
  // Results written before graded grids existed were all on even grids.
  s.grid = j.value("grid", std::string("uniform"));
  s.ah = j.at("ah_length_units").get<double>();
  for (const json& p : j.at("patches")) {
    PatchSettings patch = readPatch(p);
    if (p.contains("roughness")) patch.roughness = readRoughnessSettings(p.at("roughness"));
    if (p.contains("dielectric")) {
      patch.superconducting = false;
      patch.dielectric = readDielectric(p.at("dielectric"));
    }
    s.patches.push_back(std::move(patch));
  }
  if (j.contains("permittivity")) {
    s.permittivity = j.at("permittivity").get<double>();
    s.lossTangent = j.at("losstangent").get<double>();
  }
  if (j.contains("temperature")) {
    s.temperature = j.at("temperature").get<double>();
    s.temperatureUnit = j.at("temperature_unit").get<std::string>();
  }
  if (j.contains("accuracy")) s.accuracy = j.at("accuracy").get<double>();
  if (j.contains("layers")) {
    for (const json& layer : j.at("layers")) {
      s.layers.push_back({layer.at("y1_length_units").get<double>(),
                          layer.at("y2_length_units").get<double>(),
                          readDielectric(layer.at("dielectric"))});
    }
  }
  return s;
}

}  // namespace

std::string Result::toJson(bool withNodes) const {
  const bool inductance = mode == Mode::kInductance;
  json excitationList = json::array();
  for (const Excitation& e : excitations) {
    json item = {{"conductor", e.conductor}};
    if (withNodes) item["nodes"] = nodeColumns(e.nodes);
    excitationList.push_back(std::move(item));
  }
  json printedMatrix = complexRows(printed);
  printedMatrix["unit"] = inductance ? "pH/um" : "ohm/m*1e6";
  json document = {{"schema_version", kJsonSchemaVersion},
                   {"settings", settingsObject(settings)},
                   {"conductors", conductors},
                   {"frequency_Hz", frequencyHz},
                   {"omega_rad_per_s", omegaRadPerS},
                   {"mode", inductance ? "inductance" : "impedance"},
                   {"nd", nd},
                   {"has_return_conductor", hasReturnConductor},
                   {"length_unit", lengthUnit},
                   {"length_unit_m", lengthUnitM},
                   {"matrices",
                    {{"impedance_ohm_per_m", complexRows(impedanceOhmPerM)},
                     {"inductance_H_per_m", realRows(inductanceHPerM)},
                     {"resistance_ohm_per_m", realRows(resistanceOhmPerM)},
                     {"printed", printedMatrix}}},
                   {"excitations", excitationList},
                   {"phase_times_s",
                    {{"set_up", times.setUp},
                     {"grids", times.grids},
                     {"fill", times.fill},
                     {"factorisation", times.factorisation},
                     {"grid_check", times.gridCheck},
                     {"total", times.total}}},
                   {"warnings", warnings}};
  if (line) {
    document["phase_times_s"]["capacitance"] = times.capacitance;
    document["line_parameters"] = lineObject(*line);
    if (!line->dielectricRegions.empty()) {
      document["line_parameters"]["details"] =
          detailsObject(lineDetails(*line, inductanceHPerM, resistanceOhmPerM, omegaRadPerS));
    }
  }
  if (roughness) document["roughness"] = roughnessObject(*roughness);
  if (accuracy) document["accuracy"] = accuracyObject(*accuracy);
  if (superconductors) {
    document["phase_times_s"]["superconductors"] = times.superconductors;
    document["superconductors"] = superconductorObject(*superconductors);
  }
  std::string text;
  write(text, document, 0);
  return text + "\n";
}

Result Result::fromJson(const std::string& text) {
  try {
    const json j = json::parse(text);
    const int version = j.at("schema_version").get<int>();
    if (version != kJsonSchemaVersion) {
      throw Error("\nThe JSON result has schema version " + std::to_string(version) +
                  "; this qbr reads version " + std::to_string(kJsonSchemaVersion) + "\n");
    }
    Result r;
    r.settings = readSettings(j.at("settings"));
    r.conductors = j.at("conductors").get<int>();
    r.frequencyHz = j.at("frequency_Hz").get<double>();
    r.omegaRadPerS = j.at("omega_rad_per_s").get<double>();
    const std::string mode = j.at("mode").get<std::string>();
    if (mode != "inductance" && mode != "impedance") {
      throw Error("\nThe JSON result has the unknown mode " + mode + "\n");
    }
    r.mode = mode == "inductance" ? Mode::kInductance : Mode::kImpedance;
    r.nd = j.at("nd").get<int>();
    r.hasReturnConductor = j.at("has_return_conductor").get<bool>();
    r.lengthUnit = j.at("length_unit").get<std::string>();
    r.lengthUnitM = j.at("length_unit_m").get<double>();
    const json& matrices = j.at("matrices");
    r.impedanceOhmPerM = readComplexRows(matrices.at("impedance_ohm_per_m"));
    r.inductanceHPerM = readRealRows(matrices.at("inductance_H_per_m"));
    r.resistanceOhmPerM = readRealRows(matrices.at("resistance_ohm_per_m"));
    r.printed = readComplexRows(matrices.at("printed"));
    for (const json& e : j.at("excitations")) {
      Excitation excitation;
      excitation.conductor = e.at("conductor").get<int>();
      if (e.contains("nodes")) excitation.nodes = readNodeColumns(e.at("nodes"));
      r.excitations.push_back(std::move(excitation));
    }
    const json& t = j.at("phase_times_s");
    r.times = {t.at("set_up").get<double>(),     t.at("grids").get<double>(),
               t.at("fill").get<double>(),       t.at("factorisation").get<double>(),
               t.at("grid_check").get<double>(), t.at("total").get<double>()};
    r.warnings = j.at("warnings").get<std::vector<std::string>>();
    if (j.contains("line_parameters")) {
      r.line = readLine(j.at("line_parameters"));
      r.times.capacitance = t.at("capacitance").get<double>();
    }
    if (j.contains("roughness")) r.roughness = readRoughness(j.at("roughness"));
    if (j.contains("accuracy")) r.accuracy = readAccuracy(j.at("accuracy"));
    if (j.contains("superconductors")) {
      r.superconductors = readSuperconductors(j.at("superconductors"));
      r.times.superconductors = t.at("superconductors").get<double>();
    }
    return r;
  } catch (const json::exception& e) {
    throw Error(std::string("\nNot a qbr result in JSON: ") + e.what() + "\n");
  }
}

}  // namespace qbr
