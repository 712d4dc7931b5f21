#pragma once

#include <complex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qbr {

// A small dense matrix with (r, c) access from 0 and row-major storage: entry (r, c) of a
// conductor matrix belongs to conductors r + 1 and c + 1.
template <typename T>
class Matrix {
 public:
  Matrix() = default;
  Matrix(int rows, int cols)
      : rows_(rows), cols_(cols), data_(static_cast<std::size_t>(rows) * cols) {}
  Matrix(int rows, int cols, std::vector<T> rowMajor)
      : rows_(rows), cols_(cols), data_(std::move(rowMajor)) {
    if (data_.size() != static_cast<std::size_t>(rows) * cols) {
      throw std::invalid_argument("Matrix: the entries do not fill rows x cols");
    }
  }
  int rows() const { return rows_; }
  int cols() const { return cols_; }
  T& operator()(int r, int c) { return data_[index(r, c)]; }
  const T& operator()(int r, int c) const { return data_[index(r, c)]; }
  const std::vector<T>& rowMajor() const { return data_; }
  bool operator==(const Matrix&) const = default;

 private:
  std::size_t index(int r, int c) const {
    if (r < 0 || r >= rows_ || c < 0 || c >= cols_) throw std::out_of_range("Matrix index");
    return static_cast<std::size_t>(r) * cols_ + c;
  }
  int rows_ = 0;
  int cols_ = 0;
  std::vector<T> data_;
};

// The surface roughness of a normal-metal patch as the model gives it ("roughness" line),
// lengths in length units.
struct RoughnessSettings {
  std::string model;          // "hammerstad", "groisse" or "huray"
  double rms = 0.0;           // Hammerstad, Groisse: rms height
  double sphereRadius = 0.0;  // Huray
  double spheres = 0.0;       // Huray: per tile, or per square length unit without a tile
  double tileArea = 0.0;      // Huray: in square length units; 0 when not given
  bool operator==(const RoughnessSettings&) const = default;
};

// A superconductor given by its transition temperature (patch kinds "mb" and "twofluid"),
// as the model gives it.
struct SuperconductorSettings {
  std::string model;            // "mb" (Mattis-Bardeen) or "twofluid"
  double tcK = 0.0;             // transition temperature ("mb": 0 when given by the gap)
  double rhoNMicroOhmCm = 0.0;  // normal-state resistivity
  double gapMeV = 0.0;          // "mb": Delta at T = 0 (0: 1.764 k Tc)
  double lambda0 = 0.0;         // "twofluid": lambda at T = 0, in length units
  bool operator==(const SuperconductorSettings&) const = default;
};

// A dielectric as the model gives it ("dielectric" and "layer" lines): relative
// permittivity and loss tangent, stated at `statedAt` (in `statedUnit`) for the wideband
// Debye model, or constant (statedAt 0).
struct DielectricSettings {
  double permittivity = 1.0;
  double lossTangent = 0.0;
  double statedAt = 0.0;
  std::string statedUnit;
  bool operator==(const DielectricSettings&) const = default;
};

// A "layer" line: the slab from y1 to y2 (length units, before gridsize).
struct LayerSettings {
  double y1 = 0.0;
  double y2 = 0.0;
  DielectricSettings dielectric;
  bool operator==(const LayerSettings&) const = default;
};

// One material patch as the model gives it (before any unit conversion).
struct PatchSettings {
  int patch = 0;
  bool superconducting = true;
  double sigma = 0.0;   // in the model's conductance unit
  double lambda = 0.0;  // London penetration depth, in length units
  double mu = 1.0;      // relative permeability
  std::optional<RoughnessSettings> roughness;
  // Kinds "mb" and "twofluid" (then superconducting is true and sigma, lambda not used).
  std::optional<SuperconductorSettings> superconductor;
  // A "dielectric" patch (then superconducting is false and sigma, lambda, mu not used).
  std::optional<DielectricSettings> dielectric;
  bool operator==(const PatchSettings&) const = default;
};

// The settings as read (words as written, lower-cased; numbers before unit conversion).
struct Settings {
  std::string caption;
  std::string lengthUnit = "um";
  double gridSize = 1.0;
  double frequency = 1.0;
  std::string frequencyUnit = "mhz";
  std::string conductanceUnit = "ms/m";
  std::string variables = "phases";
  std::string symmetry = "off";
  std::string grid = "uniform";
  double ah = 1.0;
  std::vector<PatchSettings> patches;
  // "permittivity" (relative, of the homogeneous dielectric round the conductors) when
  // given, and "losstangent" (0 when not given).
  std::optional<double> permittivity;
  double lossTangent = 0.0;
  // "temperature", in its unit ("k" or "mk"), when given.
  std::optional<double> temperature;
  std::string temperatureUnit = "k";
  std::vector<LayerSettings> layers;
  // "accuracy": the tolerance the file asks its grids to be refined to, when given.
  std::optional<double> accuracy;
  bool operator==(const Settings&) const = default;
};

// The boundary solution at one grid node, for one excitation (a current of 1 A into the
// excited conductor, returned through conductor 0 when it has elements).
// - field: u, the magnetic vector potential A_z per ampere divided by mu0 (so mu0 times
//   the difference of two conductors' u is an inductance in H/m); dimensionless.
// - normalDerivative: q = du/dn on the outside of the boundary, the normal pointing into
//   the metal (left of the element's direction of travel), per length unit.
// - currentDensity: the surface current density of this node in A/m per ampere of the
//   excited conductor, q / (length unit in metres). Positive where current flows in the
//   excited conductor's direction: summed with each node's share of the outline in
//   metres it gives +1 over the excited conductor and -1 over the return conductor.
struct NodeValue {
  int element = 0;  // from 0, in the model's element order
  int node = 0;     // from 1 to the element's grid count
  double x = 0.0;   // position in length units (after gridsize)
  double y = 0.0;
  int conductor = 0;  // the element's conductor
  std::complex<double> field;
  std::complex<double> normalDerivative;
  std::complex<double> currentDensity;  // A/m per A
  // The node's share of its outline in metres (the integral of its hat along the
  // boundary): currentDensity times outlineShareM, summed over a conductor's nodes, is the
  // conductor's current, on any grid (graded grids space the nodes unevenly).
  double outlineShareM = 0.0;
  bool operator==(const NodeValue&) const = default;
};

struct Excitation {
  int conductor = 0;  // the conductor driven with 1 A (1 to conductors)
  std::vector<NodeValue> nodes;
  bool operator==(const Excitation&) const = default;
};

// Wall-clock seconds of each phase of one solve.
struct PhaseTimes {
  double setUp = 0.0;          // units, materials, checks (and the drawing when asked for)
  double grids = 0.0;          // grids and work arrays
  double fill = 0.0;           // system matrix
  double factorisation = 0.0;  // LU and solve for all conductors
  double gridCheck = 0.0;      // the solves on coarser grids (SolveOptions::gridCheck)
  double total = 0.0;
  double capacitance = 0.0;  // the electrostatic problem and the line parameters (within total)
  // With "mb" or "twofluid" patches: the second solve for R far below Tc, L_ext and its
  // grid check (within total).
  double superconductors = 0.0;
  bool operator==(const PhaseTimes&) const = default;
};

// The line as a circuit simulator sees it, when the model gives the permittivity of its
// dielectric: per-unit-length C and G beside the result's L and R, and what follows
// from them at the run's frequency. Matrices are conductors x conductors; modes are in
// order of falling velocity.
struct LineParameters {
  double permittivityRelative = 0.0;
  double lossTangent = 0.0;
  // No resistance and no conductance: every patch a superconductor without normal
  // electrons (sigma 0) and no dielectric loss. Then R and G are exactly 0 here, the
  // impedances are real and the attenuation 0.
  bool lossless = false;
  Matrix<double> capacitanceFPerM;  // referenced to conductor 0, as the inductance
  Matrix<double> conductanceSPerM;  // G = omega tan(delta) C
  // Of the modes, the eigenvectors of Z Y (Z = R + j omega L, Y = G + j omega C; of L C
  // when lossless): gamma = alpha + j beta, phase velocity omega / beta, delay beta /
  // omega per metre, attenuation alpha.
  std::vector<std::complex<double>> modalPropagationPerM;
  std::vector<double> modalVelocityMPerS;
  std::vector<double> modalDelaySPerM;
  std::vector<double> modalAttenuationNpPerM;
  // Zc with V = Zc I for the waves travelling forward: (Z Y)^-1/2 Z. One conductor: Z0.
  Matrix<std::complex<double>> characteristicImpedanceOhm;
  // C0: the capacitance of the same conductors in vacuum, from which the effective
  // permittivity and the external inductance follow (C / eps_r in a homogeneous
  // dielectric).
  Matrix<double> vacuumCapacitanceFPerM;
  // The dielectric regions and layers, as the report's header names them ("" for the
  // homogeneous dielectric of "permittivity").
  std::string dielectricRegions;
  bool operator==(const LineParameters&) const = default;
};

// What follows from the line parameters and the inductance problem (lineDetails).
struct LineDetails {
  // Per mode, in the order of LineParameters: (c / v)^2; the attenuation with only the
  // conductors' loss (G = 0) and with only the dielectric's (R = 0), whose sum is the
  // attenuation to first order in the losses.
  std::vector<double> modalEffectivePermittivity;
  std::vector<double> modalConductorAttenuationNpPerM;
  std::vector<double> modalDielectricAttenuationNpPerM;
  // L_ext = mu0 eps0 C0^-1: the inductance the same conductors would have with the
  // current on their surfaces (perfect conductors). Per conductor, L - L_ext on the
  // diagonal: the internal inductance of a normal metal or the kinetic inductance of a
  // superconductor, and its share of L.
  Matrix<double> externalInductanceHPerM;
  std::vector<double> internalInductanceHPerM;
  std::vector<double> internalFraction;
  // Two signal conductors: the even and odd mode impedances from the characteristic
  // impedance matrix (Z11 + Z22)/2 +- Z12, exact for a symmetric pair; differential 2
  // Z_odd and common Z_even / 2; and the crosstalk coefficients of weak coupling between
  // matched lines, from the self and mutual L and C (Maxwell's C12 < 0): near end
  // (backward) K_b = (L12/L + C12m/C)/4 and far end (forward) K_f = -sqrt(L C)/2
  // (L12/L - C12m/C), in s/m, so that the far end sees K_f l dV/dt of a step V(t) sent
  // along l metres of the other line. C12m = -C12.
  bool pair = false;
  std::complex<double> evenOhm, oddOhm, differentialOhm, commonOhm;
  double nearEndCoupling = 0.0;
  double farEndCouplingSPerM = 0.0;
};

// One patch that dissipates (a normal metal, or a superconductor with sigma > 0) in a
// model with surface roughness, at the run's frequency.
struct PatchLoss {
  int patch = 0;
  std::string model;           // "hammerstad", "groisse", "huray", or "none" (a smooth patch)
  double rmsM = 0.0;           // Hammerstad, Groisse
  double sphereRadiusM = 0.0;  // Huray
  double spheresPerM2 = 0.0;   // Huray
  double skinDepthM = 0.0;
  double factor = 1.0;  // K: the patch's losses over those of its smooth surface
  // The patch's share of the smooth resistance: the power its outline takes in, as a
  // bilinear form of the conductor currents (N x N); the shares add up to the smooth R.
  Matrix<double> smoothResistanceOhmPerM;
  bool operator==(const PatchLoss&) const = default;
};

// Where the roughness of the normal metals goes: Result::resistanceOhmPerM is
// the sum over the patches of K times their share, R beside it without roughness.
struct RoughnessLosses {
  Matrix<double> smoothResistanceOhmPerM;  // N x N, the solver's R of smooth surfaces
  std::vector<PatchLoss> patches;          // in patch order
  // The largest difference between the sum of the patches' Poynting fluxes and the
  // smooth R, relative to R's largest entry: the grid's error of the split (the shares
  // are made to add up to R exactly).
  double fluxMismatch = 0.0;
  bool operator==(const RoughnessLosses&) const = default;
};

// How a superconducting film responds at one temperature and frequency, in SI units: its
// complex conductivity sigma = sigma1 - j sigma2 and what follows from it.
struct SuperconductorResponse {
  bool superconducting = true;  // false at and above Tc: a normal metal of sigma_n
  double gapMeV = 0.0;          // Mattis-Bardeen: Delta(T); 0 above Tc and for two fluids
  double sigma1SPerM = 0.0;     // normal-fluid (quasiparticle) conductivity
  double sigma2SPerM = 0.0;     // the superfluid's; infinite at zero frequency
  // 1 / sqrt(omega mu0 sigma2) (at zero frequency the static London limit); infinite
  // above Tc.
  double lambdaEffM = 0.0;
  // sqrt(j omega mu0 / sigma): the surface impedance R_s + j X_s of a film many lambda
  // thick, per square; 0 at zero frequency.
  std::complex<double> surfaceImpedanceOhm;
  bool operator==(const SuperconductorResponse&) const = default;
};

// A patch of kind "mb" or "twofluid" at the run's temperature and frequency.
struct SuperconductingPatch {
  int patch = 0;
  std::string model;  // "mb" or "twofluid"
  double tcK = 0.0;   // as used (from the gap when given as 0)
  SuperconductorResponse response;
  bool operator==(const SuperconductingPatch&) const = default;
};

// What a model with patches of kind "mb" or "twofluid" reports besides L and R. Per
// conductor c (entry c - 1): its kinetic inductance L_k = L_cc - L_ext,cc, its kinetic
// fraction alpha = L_k / L_cc and the quality factor of its conductor losses
// Q_c = omega L_cc / R_cc (beta / 2 alpha_c of the line driven on c alone, to 1 / 4 Q_c^2).
struct SuperconductorReport {
  double temperatureK = 0.0;
  std::vector<SuperconductingPatch> patches;
  // mu0 eps0 C0^-1: the inductance of the same cross-section with perfect conductors, C0
  // the capacitance in vacuum on the same grids.
  Matrix<double> externalInductanceHPerM;
  Matrix<double> kineticInductanceHPerM;  // L - L_ext
  std::vector<double> kineticFraction;
  // Infinite where the line has no loss (every patch without normal fluid); empty at
  // zero frequency, where nothing is lost.
  std::vector<double> conductorQ;
  bool operator==(const SuperconductorReport&) const = default;
};

// How far the printed entries may be from the answer of an infinitely fine grid: relative
// error estimates by Richardson's rule with the observed order, from the run's grid and
// grids with 1/sqrt(2) and sqrt(2) times its nodes (or, with a tolerance, from the last
// three grids of the refinement, the printed one the finest). Matrices are N x N and
// symmetric; an off-diagonal entry's error is relative to the entry, or to a thousandth of
// its diagonal entries' geometric mean when it is smaller. `*Pairs` (i != j): of the pair
// combination (A_ii + A_jj)/2 - A_ij (L11 - L12 of a symmetric pair), relative to itself.
struct AccuracyEstimate {
  double tolerance = 0.0;  // asked for ("accuracy", SolveOptions::tolerance); 0: none
  int passes = 0;          // grids solved for the estimate, the printed one included
  Matrix<double> inductance;
  Matrix<double> inductancePairs;
  Matrix<double> resistance;  // with losses only
  Matrix<double> resistancePairs;
  Matrix<double> capacitance;  // with a dielectric only
  Matrix<double> capacitancePairs;
  // The largest of all the estimates above.
  double largest() const;
  bool operator==(const AccuracyEstimate&) const = default;
};

// The result of one solve. Matrices are conductors x conductors, the full square.
struct Result {
  enum class Mode { kInductance, kImpedance };  // the model's `variables`: phases, other

  static constexpr int kJsonSchemaVersion = 1;

  int conductors = 0;
  double frequencyHz = 0.0;
  double omegaRadPerS = 0.0;
  Mode mode = Mode::kInductance;
  int nd = 0;  // unknowns of the system
  bool hasReturnConductor = false;
  std::string lengthUnit;    // m, cm, mm or um
  double lengthUnitM = 0.0;  // the length unit in metres

  // Per unit length, in SI units: Z = R + jX in ohm/m; L = X / omega in H/m (in
  // inductance mode at zero frequency, the real part of the printed matrix); R in ohm/m,
  // with the surface roughness of the patches when the model gives one (`roughness`).
  Matrix<std::complex<double>> impedanceOhmPerM;
  Matrix<double> inductanceHPerM;
  Matrix<double> resistanceOhmPerM;
  // The matrix as the program prints it: (L, -R/omega) in pH/um in inductance mode,
  // R + jX in ohm/m times 1e6 in impedance mode.
  Matrix<std::complex<double>> printed;

  std::vector<Excitation> excitations;  // one per conductor, in order
  std::optional<LineParameters> line;   // when the model gives the permittivity
  // When a patch that an element uses has a surface roughness; the matrices above then
  // include it.
  std::optional<RoughnessLosses> roughness;
  // When an element lies on a patch of kind "mb" or "twofluid".
  std::optional<SuperconductorReport> superconductors;
  // With the grid check or a tolerance.
  std::optional<AccuracyEstimate> accuracy;
  PhaseTimes times;
  std::vector<std::string> warnings;  // the run's warnings, in order, as printed
  Settings settings;

  // The JSON document of the result (schema in the README, "schema_version" 1): full
  // double precision, which reads back to the same bits. `withNodes` false leaves out
  // the per-node data.
  std::string toJson(bool withNodes = true) const;
  // Reads a document written by toJson; throws qbr::Error on any other.
  static Result fromJson(const std::string& text);

  bool operator==(const Result&) const = default;
};

}  // namespace qbr
