// qbr._core: the C++ API for Python. Thin on purpose: the model goes through the input
// reader, the solve runs in C++ with the GIL released, and the result's matrices and node
// values become numpy arrays. The Pythonic face (keyword builder, DataFrames, sweeps,
// plots) is the package around this module.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <complex>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "qbr/qbr.hpp"

namespace py = pybind11;

namespace {

template <typename T>
py::array_t<T> toArray(const qbr::Matrix<T>& m) {
  py::array_t<T> a({m.rows(), m.cols()});
  std::copy(m.rowMajor().begin(), m.rowMajor().end(), a.mutable_data());
  return a;
}

template <typename T>
py::array_t<T> toArray(const std::vector<T>& v) {
  py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
  std::copy(v.begin(), v.end(), a.mutable_data());
  return a;
}

using ComplexArray = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;

// A square complex matrix of numpy's, rows first.
qbr::Matrix<std::complex<double>> toMatrix(const ComplexArray& a) {
  if (a.ndim() != 2 || a.shape(0) != a.shape(1)) {
    throw py::value_error("the per-unit-length matrices must be square");
  }
  const int n = static_cast<int>(a.shape(0));
  qbr::Matrix<std::complex<double>> m(n, n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) m(r, c) = a.at(r, c);
  return m;
}

// The node values of every excitation as columns, one row per (excitation, node); the
// names are those of the JSON result, complex values in one column each.
py::dict nodeColumns(const qbr::Result& r) {
  std::size_t rows = 0;
  for (const qbr::Excitation& e : r.excitations) rows += e.nodes.size();
  const auto n = static_cast<py::ssize_t>(rows);
  py::array_t<int> excitation(n), element(n), node(n), conductor(n);
  py::array_t<double> x(n), y(n), share(n);
  py::array_t<std::complex<double>> field(n), derivative(n), density(n);
  py::ssize_t i = 0;
  for (const qbr::Excitation& e : r.excitations) {
    for (const qbr::NodeValue& v : e.nodes) {
      excitation.mutable_at(i) = e.conductor;
      element.mutable_at(i) = v.element;
      node.mutable_at(i) = v.node;
      conductor.mutable_at(i) = v.conductor;
      x.mutable_at(i) = v.x;
      y.mutable_at(i) = v.y;
      field.mutable_at(i) = v.field;
      derivative.mutable_at(i) = v.normalDerivative;
      density.mutable_at(i) = v.currentDensity;
      share.mutable_at(i) = v.outlineShareM;
      ++i;
    }
  }
  py::dict columns;
  columns["excitation"] = excitation;
  columns["element"] = element;
  columns["node"] = node;
  columns["x_length_units"] = x;
  columns["y_length_units"] = y;
  columns["conductor"] = conductor;
  columns["field"] = field;
  columns["normal_derivative_per_length_unit"] = derivative;
  columns["current_density_A_per_m_per_A"] = density;
  columns["outline_share_m"] = share;
  return columns;
}

// `capacitance` only for a model with the permittivity, `superconductors` only for one with
// patches of kinds "mb" or "twofluid", as in the JSON.
py::dict phaseTimes(const qbr::PhaseTimes& t, bool withCapacitance, bool withSuperconductors) {
  py::dict d;
  d["set_up"] = t.setUp;
  d["grids"] = t.grids;
  d["fill"] = t.fill;
  d["factorisation"] = t.factorisation;
  d["grid_check"] = t.gridCheck;
  d["total"] = t.total;
  if (withCapacitance) d["capacitance"] = t.capacitance;
  if (withSuperconductors) d["superconductors"] = t.superconductors;
  return d;
}

qbr::Model::Point toPoint(const std::pair<double, double>& p) {
  return {p.first, p.second};
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "qbr's C++ library: models, the solve and its result (use the qbr package).";

  static py::exception<qbr::Error> modelError(m, "ModelError", PyExc_Exception);
  modelError.doc() =
      "A model qbr cannot read or compute. str() is the program's message without its line "
      "breaks; .message is the text exactly as the program prints it.";
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const qbr::Error& e) {
      const auto type = py::reinterpret_borrow<py::object>(modelError);
      py::object error = type(e.what());
      error.attr("message") = e.message();
      PyErr_SetObject(modelError.ptr(), error.ptr());
    }
  });

  py::class_<qbr::RoughnessSettings>(m, "RoughnessSettings")
      .def_readonly("model", &qbr::RoughnessSettings::model)
      .def_readonly("rms", &qbr::RoughnessSettings::rms)
      .def_readonly("sphere_radius", &qbr::RoughnessSettings::sphereRadius)
      .def_readonly("spheres", &qbr::RoughnessSettings::spheres)
      .def_readonly("tile_area", &qbr::RoughnessSettings::tileArea);
  py::class_<qbr::SuperconductorSettings>(m, "SuperconductorSettings")
      .def_readonly("model", &qbr::SuperconductorSettings::model)
      .def_readonly("tc_K", &qbr::SuperconductorSettings::tcK)
      .def_readonly("rho_n_microohm_cm", &qbr::SuperconductorSettings::rhoNMicroOhmCm)
      .def_readonly("gap_meV", &qbr::SuperconductorSettings::gapMeV)
      .def_readonly("lambda0", &qbr::SuperconductorSettings::lambda0);

  py::class_<qbr::DielectricSettings>(m, "DielectricSettings")
      .def_readonly("permittivity", &qbr::DielectricSettings::permittivity)
      .def_readonly("loss_tangent", &qbr::DielectricSettings::lossTangent)
      .def_readonly("stated_at", &qbr::DielectricSettings::statedAt)
      .def_readonly("stated_unit", &qbr::DielectricSettings::statedUnit);
  py::class_<qbr::LayerSettings>(m, "LayerSettings")
      .def_readonly("y1", &qbr::LayerSettings::y1)
      .def_readonly("y2", &qbr::LayerSettings::y2)
      .def_readonly("dielectric", &qbr::LayerSettings::dielectric);

  py::class_<qbr::PatchSettings>(m, "PatchSettings")
      .def_readonly("patch", &qbr::PatchSettings::patch)
      .def_readonly("superconducting", &qbr::PatchSettings::superconducting)
      .def_readonly("sigma", &qbr::PatchSettings::sigma)
      .def_readonly("lambda_", &qbr::PatchSettings::lambda)
      .def_readonly("mu", &qbr::PatchSettings::mu)
      .def_readonly("roughness", &qbr::PatchSettings::roughness)
      .def_readonly("superconductor", &qbr::PatchSettings::superconductor)
      .def_readonly("dielectric", &qbr::PatchSettings::dielectric);

  py::class_<qbr::Settings>(m, "Settings")
      .def_readonly("caption", &qbr::Settings::caption)
      .def_readonly("lengthunit", &qbr::Settings::lengthUnit)
      .def_readonly("gridsize", &qbr::Settings::gridSize)
      .def_readonly("frequency", &qbr::Settings::frequency)
      .def_readonly("frequency_unit", &qbr::Settings::frequencyUnit)
      .def_readonly("conductanceunit", &qbr::Settings::conductanceUnit)
      .def_readonly("variables", &qbr::Settings::variables)
      .def_readonly("symmetry", &qbr::Settings::symmetry)
      .def_readonly("grid", &qbr::Settings::grid)
      .def_readonly("ah", &qbr::Settings::ah)
      .def_readonly("permittivity", &qbr::Settings::permittivity)
      .def_readonly("losstangent", &qbr::Settings::lossTangent)
      .def_readonly("temperature", &qbr::Settings::temperature)
      .def_readonly("temperature_unit", &qbr::Settings::temperatureUnit)
      .def_readonly("accuracy", &qbr::Settings::accuracy)
      .def_readonly("patches", &qbr::Settings::patches)
      .def_readonly("layers", &qbr::Settings::layers);

  py::class_<qbr::Model::ElementOutline>(m, "ElementOutline")
      .def_readonly("element", &qbr::Model::ElementOutline::element)
      .def_readonly("conductor", &qbr::Model::ElementOutline::conductor)
      .def_readonly("patch", &qbr::Model::ElementOutline::patch)
      .def_readonly("dielectric", &qbr::Model::ElementOutline::dielectric)
      .def_property_readonly("points", [](const qbr::Model::ElementOutline& o) {
        py::array_t<double> a({static_cast<py::ssize_t>(o.points.size()), py::ssize_t{2}});
        for (std::size_t i = 0; i < o.points.size(); ++i) {
          a.mutable_at(i, 0) = o.points[i].x;
          a.mutable_at(i, 1) = o.points[i].y;
        }
        return a;
      });

  using Model = qbr::Model;
  using P = std::pair<double, double>;
  py::class_<Model>(m, "Model")
      .def(py::init<>())
      .def_static("from_text", &Model::fromText, py::arg("text"), py::arg("strict") = false)
      .def_static("from_file", &Model::fromFile, py::arg("path"), py::arg("strict") = false)
      .def("set_strict", &Model::setStrict, py::arg("strict"))
      .def_property_readonly("strict", &Model::strict)
      .def_property_readonly("warnings", &Model::warnings)
      .def("copy", [](const Model& model) { return Model(model); })
      .def("statement", &Model::statement, py::arg("line"))
      .def("length_unit", &Model::lengthUnit)
      .def("grid_size", &Model::gridSize)
      .def("frequency", &Model::frequency, py::arg("value"), py::arg("unit") = "hz")
      .def("conductance_unit", &Model::conductanceUnit)
      .def("variables", &Model::variables)
      .def("symmetry", &Model::symmetry)
      .def("grid", &Model::grid)
      .def("ah", &Model::ah)
      .def("lambda_", &Model::lambda)
      .def("sigma", &Model::sigma)
      .def("caption", &Model::caption)
      .def("permittivity", &Model::permittivity)
      .def("losstangent", &Model::lossTangent)
      .def("patch", &Model::patch, py::arg("n"), py::arg("kind"), py::arg("sigma") = py::none(),
           py::arg("lambda_") = py::none(), py::arg("mu") = py::none())
      .def("roughness", &Model::roughness, py::arg("n"), py::arg("model"),
           py::arg("values") = std::vector<double>{})
      .def("dielectric", &Model::dielectric, py::arg("n"), py::arg("permittivity"),
           py::arg("loss_tangent") = 0.0, py::arg("stated_at") = py::none(),
           py::arg("unit") = "mhz")
      .def("layer", &Model::layer, py::arg("y1"), py::arg("y2"), py::arg("permittivity"),
           py::arg("loss_tangent") = 0.0, py::arg("stated_at") = py::none(),
           py::arg("unit") = "mhz")
      .def("temperature", &Model::temperature, py::arg("value"), py::arg("unit") = "k")
      .def("accuracy", &Model::accuracy, py::arg("tolerance"))
      .def("mattis_bardeen_patch", &Model::mattisBardeenPatch, py::arg("n"), py::arg("tc_K"),
           py::arg("rho_n_microohm_cm"), py::arg("gap_meV") = 0.0)
      .def("two_fluid_patch", &Model::twoFluidPatch, py::arg("n"), py::arg("tc_K"),
           py::arg("rho_n_microohm_cm"), py::arg("lambda0"))
      .def("point", &Model::point)
      .def("line", py::overload_cast<int, int, int, int, int>(&Model::line))
      .def("line",
           [](Model& model, int c, P p0, P p1, int patch, int n) -> Model& {
             return model.line(c, toPoint(p0), toPoint(p1), patch, n);
           })
      .def("curve", py::overload_cast<int, int, int, int, int, int>(&Model::curve))
      .def("curve",
           [](Model& model, int c, P p0, P p1, P p2, int patch, int n) -> Model& {
             return model.curve(c, toPoint(p0), toPoint(p1), toPoint(p2), patch, n);
           })
      .def("circle", py::overload_cast<int, int, double, bool, int, int>(&Model::circle))
      .def("circle",
           [](Model& model, int c, P centre, double r, bool ccw, int patch, int n) -> Model& {
             return model.circle(c, toPoint(centre), r, ccw, patch, n);
           })
      .def("rectangle", &Model::rectangle)
      .def("polyline_layer", &Model::polylineLayer)
      .def("import_polylines", &Model::importPolylines)
      .def_property_readonly("settings", &Model::settings)
      .def_property_readonly("point_count", &Model::pointCount)
      .def_property_readonly("element_count", &Model::elementCount)
      .def("outlines", &Model::outlines, py::arg("points_per_element") = 65);

  py::class_<qbr::SolveOptions>(m, "SolveOptions")
      .def(py::init<>())
      .def_readwrite("threads", &qbr::SolveOptions::threads)
      .def_readwrite("grid_check", &qbr::SolveOptions::gridCheck)
      .def_readwrite("tolerance", &qbr::SolveOptions::tolerance)
      .def_readwrite("drawing_base", &qbr::SolveOptions::drawingBase)
      // progress(phase, done, total), phase "fill" or "factorisation": called from the
      // solve's threads with the GIL taken, at each phase's begin and end and whenever a
      // further percent is done (the library's events are far finer). Exceptions it
      // raises are reported as unraisable and do not stop the solve.
      .def_property(
          "progress", [](const qbr::SolveOptions& o) { return static_cast<bool>(o.progress); },
          [](qbr::SolveOptions& o, const py::object& callback) {
            if (callback.is_none()) {
              o.progress = nullptr;
              return;
            }
            // Copies of the options (the solve makes them without the GIL) share one
            // reference, released with the GIL taken.
            std::shared_ptr<py::object> held(new py::object(callback), [](py::object* p) {
              py::gil_scoped_acquire gil;
              delete p;
            });
            auto lastPercent = std::make_shared<std::atomic<int>>(-1);
            o.progress = [held, lastPercent](const qbr::Progress& p) {
              const int percent = p.total > 0 ? static_cast<int>(100 * p.done / p.total) : 0;
              if (p.stage == qbr::Progress::Stage::kAdvance &&
                  lastPercent->exchange(percent) == percent) {
                return;
              }
              if (p.stage != qbr::Progress::Stage::kAdvance) lastPercent->store(-1);
              py::gil_scoped_acquire gil;
              try {
                (*held)(p.phase == qbr::Progress::Phase::kFill ? "fill" : "factorisation", p.done,
                        p.total);
              } catch (py::error_already_set& error) {
                error.discard_as_unraisable("qbr progress callback");
              }
            };
          })
      .def_property(
          "solver",
          [](const qbr::SolveOptions& o) {
            return o.solver == qbr::SolveOptions::Solver::kDense ? "dense" : "structured";
          },
          [](qbr::SolveOptions& o, const std::string& name) {
            if (name == "structured") {
              o.solver = qbr::SolveOptions::Solver::kStructured;
            } else if (name == "dense") {
              o.solver = qbr::SolveOptions::Solver::kDense;
            } else {
              throw py::value_error("solver must be \"structured\" or \"dense\", not \"" + name +
                                    "\"");
            }
          });

  using Line = qbr::LineParameters;
  py::class_<Line>(m, "LineParameters")
      .def_readonly("permittivity_relative", &Line::permittivityRelative)
      .def_readonly("loss_tangent", &Line::lossTangent)
      .def_readonly("lossless", &Line::lossless)
      .def_property_readonly("capacitance_F_per_m",
                             [](const Line& p) { return toArray(p.capacitanceFPerM); })
      .def_property_readonly("conductance_S_per_m",
                             [](const Line& p) { return toArray(p.conductanceSPerM); })
      .def_property_readonly("characteristic_impedance_ohm",
                             [](const Line& p) { return toArray(p.characteristicImpedanceOhm); })
      .def_property_readonly("velocity_m_per_s",
                             [](const Line& p) { return toArray(p.modalVelocityMPerS); })
      .def_property_readonly("delay_s_per_m",
                             [](const Line& p) { return toArray(p.modalDelaySPerM); })
      .def_property_readonly("attenuation_Np_per_m",
                             [](const Line& p) { return toArray(p.modalAttenuationNpPerM); })
      .def_property_readonly("propagation_per_m",
                             [](const Line& p) { return toArray(p.modalPropagationPerM); })
      .def_property_readonly("vacuum_capacitance_F_per_m",
                             [](const Line& p) { return toArray(p.vacuumCapacitanceFPerM); })
      .def_readonly("dielectric_regions", &Line::dielectricRegions)
      .def("__repr__", [](const Line& p) {
        std::ostringstream text;
        const std::size_t modes = p.modalVelocityMPerS.size();
        text << "<qbr.LineParameters " << (p.dielectricRegions.empty() ? "homogeneous eps_r " : "")
             << (p.dielectricRegions.empty() ? std::to_string(p.permittivityRelative)
                                             : p.dielectricRegions)
             << (p.lossless ? ", lossless" : "") << ": ";
        for (std::size_t k = 0; k < modes; ++k) {
          const std::complex<double> z =
              p.characteristicImpedanceOhm(static_cast<int>(k), static_cast<int>(k));
          text << (k ? "; " : "") << (modes > 1 ? "mode " + std::to_string(k + 1) + " " : "")
               << "v " << p.modalVelocityMPerS[k] / 299792458.0 << " c, Z"
               << (modes > 1 ? "c" : "0")
               << (modes > 1 ? "[" + std::to_string(k + 1) + "," + std::to_string(k + 1) + "] "
                             : " ")
               << (p.lossless ? std::abs(z.real()) : std::abs(z)) << " ohm";
          if (!p.lossless)
            text << ", " << p.modalAttenuationNpPerM[k] * 8.685889638065035 << " dB/m";
        }
        text << ">";
        return text.str();
      });

  using Details = qbr::LineDetails;
  py::class_<Details>(m, "LineDetails")
      .def_property_readonly("effective_permittivity",
                             [](const Details& d) { return toArray(d.modalEffectivePermittivity); })
      .def_property_readonly(
          "conductor_attenuation_Np_per_m",
          [](const Details& d) { return toArray(d.modalConductorAttenuationNpPerM); })
      .def_property_readonly(
          "dielectric_attenuation_Np_per_m",
          [](const Details& d) { return toArray(d.modalDielectricAttenuationNpPerM); })
      .def_property_readonly("external_inductance_H_per_m",
                             [](const Details& d) { return toArray(d.externalInductanceHPerM); })
      .def_property_readonly("internal_inductance_H_per_m",
                             [](const Details& d) { return toArray(d.internalInductanceHPerM); })
      .def_property_readonly("internal_fraction",
                             [](const Details& d) { return toArray(d.internalFraction); })
      .def_readonly("pair", &Details::pair)
      .def_readonly("even_ohm", &Details::evenOhm)
      .def_readonly("odd_ohm", &Details::oddOhm)
      .def_readonly("differential_ohm", &Details::differentialOhm)
      .def_readonly("common_ohm", &Details::commonOhm)
      .def_readonly("near_end_coupling", &Details::nearEndCoupling)
      .def_readonly("far_end_coupling_s_per_m", &Details::farEndCouplingSPerM);

  using PatchLoss = qbr::PatchLoss;
  py::class_<PatchLoss>(m, "PatchLoss")
      .def_readonly("patch", &PatchLoss::patch)
      .def_readonly("model", &PatchLoss::model)
      .def_readonly("rms_m", &PatchLoss::rmsM)
      .def_readonly("sphere_radius_m", &PatchLoss::sphereRadiusM)
      .def_readonly("spheres_per_m2", &PatchLoss::spheresPerM2)
      .def_readonly("skin_depth_m", &PatchLoss::skinDepthM)
      .def_readonly("factor", &PatchLoss::factor)
      .def_property_readonly("smooth_resistance_ohm_per_m",
                             [](const PatchLoss& p) { return toArray(p.smoothResistanceOhmPerM); });

  using Accuracy = qbr::AccuracyEstimate;
  py::class_<Accuracy>(m, "AccuracyEstimate")
      .def_readonly("tolerance", &Accuracy::tolerance)
      .def_readonly("passes", &Accuracy::passes)
      .def_property_readonly("largest", &Accuracy::largest)
      .def_property_readonly("inductance", [](const Accuracy& a) { return toArray(a.inductance); })
      .def_property_readonly("inductance_pairs",
                             [](const Accuracy& a) { return toArray(a.inductancePairs); })
      .def_property_readonly("resistance", [](const Accuracy& a) { return toArray(a.resistance); })
      .def_property_readonly("resistance_pairs",
                             [](const Accuracy& a) { return toArray(a.resistancePairs); })
      .def_property_readonly("capacitance",
                             [](const Accuracy& a) { return toArray(a.capacitance); })
      .def_property_readonly("capacitance_pairs",
                             [](const Accuracy& a) { return toArray(a.capacitancePairs); });

  using Losses = qbr::RoughnessLosses;
  py::class_<Losses>(m, "RoughnessLosses")
      .def_property_readonly("smooth_resistance_ohm_per_m",
                             [](const Losses& l) { return toArray(l.smoothResistanceOhmPerM); })
      .def_readonly("patches", &Losses::patches)
      .def_readonly("flux_mismatch", &Losses::fluxMismatch);

  using Response = qbr::SuperconductorResponse;
  py::class_<Response>(m, "SuperconductorResponse")
      .def_readonly("superconducting", &Response::superconducting)
      .def_readonly("gap_meV", &Response::gapMeV)
      .def_readonly("sigma1_S_per_m", &Response::sigma1SPerM)
      .def_readonly("sigma2_S_per_m", &Response::sigma2SPerM)
      .def_readonly("lambda_eff_m", &Response::lambdaEffM)
      .def_readonly("surface_impedance_ohm", &Response::surfaceImpedanceOhm);

  py::class_<qbr::SuperconductingPatch>(m, "SuperconductingPatch")
      .def_readonly("patch", &qbr::SuperconductingPatch::patch)
      .def_readonly("kind", &qbr::SuperconductingPatch::model)
      .def_readonly("tc_K", &qbr::SuperconductingPatch::tcK)
      .def_readonly("response", &qbr::SuperconductingPatch::response);

  using Report = qbr::SuperconductorReport;
  py::class_<Report>(m, "SuperconductorReport")
      .def_readonly("temperature_K", &Report::temperatureK)
      .def_readonly("patches", &Report::patches)
      .def_property_readonly("external_inductance_H_per_m",
                             [](const Report& r) { return toArray(r.externalInductanceHPerM); })
      .def_property_readonly("kinetic_inductance_H_per_m",
                             [](const Report& r) { return toArray(r.kineticInductanceHPerM); })
      .def_property_readonly("kinetic_fraction",
                             [](const Report& r) { return toArray(r.kineticFraction); })
      .def_property_readonly("quality_factor_conductor",
                             [](const Report& r) { return toArray(r.conductorQ); });

  m.def("mattis_bardeen", &qbr::mattisBardeen, py::arg("tc_K"), py::arg("rho_n_microohm_cm"),
        py::arg("temperature_K"), py::arg("frequency_Hz"), py::arg("gap_meV") = 0.0);
  m.def("two_fluid", &qbr::twoFluid, py::arg("tc_K"), py::arg("rho_n_microohm_cm"),
        py::arg("lambda0_m"), py::arg("temperature_K"), py::arg("frequency_Hz"));
  m.def("bcs_gap", &qbr::bcsGap, py::arg("reduced_temperature"));
  m.def("mattis_bardeen_conductivity", &qbr::mattisBardeenConductivity,
        py::arg("hbar_omega_over_gap"), py::arg("kT_over_gap"));

  using Result = qbr::Result;
  py::class_<Result>(m, "Result")
      .def_readonly("conductors", &Result::conductors)
      .def_readonly("frequency_Hz", &Result::frequencyHz)
      .def_readonly("omega_rad_per_s", &Result::omegaRadPerS)
      .def_property_readonly("mode",
                             [](const Result& r) {
                               return r.mode == Result::Mode::kInductance ? "inductance"
                                                                          : "impedance";
                             })
      .def_readonly("nd", &Result::nd)
      .def_readonly("has_return_conductor", &Result::hasReturnConductor)
      .def_readonly("length_unit", &Result::lengthUnit)
      .def_readonly("length_unit_m", &Result::lengthUnitM)
      .def_property_readonly("impedance_ohm_per_m",
                             [](const Result& r) { return toArray(r.impedanceOhmPerM); })
      .def_property_readonly("inductance_H_per_m",
                             [](const Result& r) { return toArray(r.inductanceHPerM); })
      .def_property_readonly("resistance_ohm_per_m",
                             [](const Result& r) { return toArray(r.resistanceOhmPerM); })
      .def_property_readonly("printed", [](const Result& r) { return toArray(r.printed); })
      .def("node_columns", &nodeColumns)
      .def_readonly("line_parameters", &Result::line)
      .def_readonly("roughness", &Result::roughness)
      .def_readonly("accuracy", &Result::accuracy)
      .def_readonly("superconductors", &Result::superconductors)
      .def_property_readonly("phase_times_s",
                             [](const Result& r) {
                               return phaseTimes(r.times, r.line.has_value(),
                                                 r.superconductors.has_value());
                             })
      .def_readonly("warnings", &Result::warnings)
      .def_readonly("settings", &Result::settings)
      .def("to_json", &Result::toJson, py::arg("with_nodes") = true)
      .def_static("from_json", &Result::fromJson, py::arg("text"))
      .def(py::pickle([](const Result& r) { return r.toJson(); },
                      [](const std::string& text) { return Result::fromJson(text); }));

  // The model is copied while the GIL is held, so that another Python thread may go on
  // building it while this one computes.
  m.def(
      "solve",
      [](const Model& model, const qbr::SolveOptions& options) {
        const Model copy = model;
        const qbr::SolveOptions own = options;
        py::gil_scoped_release release;
        return qbr::solve(copy, own);
      },
      py::arg("model"), py::arg("options") = qbr::SolveOptions{});

  m.def(
      "check",
      [](const Model& model) {
        const Model copy = model;
        py::gil_scoped_release release;
        return qbr::check(copy);
      },
      py::arg("model"),
      "The checks a solve makes before its grids, without solving: returns the warnings, "
      "raises ModelError with the solve's message.");

  m.def("line_details", py::overload_cast<const Result&>(&qbr::lineDetails), py::arg("result"),
        "Effective permittivities, the attenuation's parts, L_ext and the internal "
        "inductance, and for a pair the even/odd impedances and crosstalk coefficients.");
  m.def("spice_model", &qbr::spiceModel, py::arg("result"), py::arg("length_m"),
        py::arg("name") = "qbr_line");
  m.def("touchstone",
        py::overload_cast<const std::vector<Result>&, double, double>(&qbr::touchstone),
        py::arg("results"), py::arg("length_m"), py::arg("reference_ohm") = 50.0);
  // The same file from Z and Y per frequency (complex N x N arrays, SI per metre).
  m.def(
      "touchstone_samples",
      [](const std::vector<double>& frequencies, const std::vector<ComplexArray>& impedances,
         const std::vector<ComplexArray>& admittances, double lengthM, double referenceOhm,
         const std::string& caption) {
        if (impedances.size() != frequencies.size() || admittances.size() != frequencies.size()) {
          throw py::value_error("one impedance and one admittance matrix per frequency");
        }
        std::vector<qbr::LineSample> samples;
        for (std::size_t k = 0; k < frequencies.size(); ++k) {
          samples.push_back({frequencies[k], toMatrix(impedances[k]), toMatrix(admittances[k])});
        }
        return qbr::touchstone(samples, lengthM, referenceOhm, caption);
      },
      py::arg("frequencies_Hz"), py::arg("impedances_ohm_per_m"), py::arg("admittances_S_per_m"),
      py::arg("length_m"), py::arg("reference_ohm") = 50.0, py::arg("caption") = "");

  m.def(
      "scattering",
      [](double frequencyHz, const ComplexArray& impedance, const ComplexArray& admittance,
         double lengthM, double referenceOhm) {
        return toArray(qbr::scattering({frequencyHz, toMatrix(impedance), toMatrix(admittance)},
                                       lengthM, referenceOhm));
      },
      py::arg("frequency_Hz"), py::arg("impedance_ohm_per_m"), py::arg("admittance_S_per_m"),
      py::arg("length_m"), py::arg("reference_ohm") = 50.0,
      "The single-ended S-matrix (2N x 2N) of a line from its Z and Y per metre.");

  m.def("version", &qbr::versionText);
}
