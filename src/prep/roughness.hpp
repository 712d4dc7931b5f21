#pragma once

#include <string>

#include "model/problem_model.hpp"

namespace qbr {

// Surface roughness of normal metals: the factor K by which a rough surface dissipates
// more than a smooth one carrying the same surface current, at the skin depth delta of
// the run's frequency. All three are corrections to the loss of a smooth-surface
// solution, valid where the roughness is small against the conductor's size and its
// curvature; none changes the field outside or the inductance.
//
// - Hammerstad-Jensen, rms height Delta: K = 1 + (2/pi) atan(1.4 (Delta/delta)^2), fitted
//   to a surface of periodic grooves across the current; it saturates at 2.
// - Groisse, rms height Delta: K = 1 + exp(-(delta / (2 Delta))^1.6); saturates at 2.
// - Huray's snowball model: spheres of radius a, N of them per area A of flat surface, on
//   a flat base; each absorbs from the field at the surface as a well-conducting sphere:
//   K = 1 + (N/A) 6 pi a^2 / (1 + delta/a + delta^2/(2 a^2)), with no bound but
//   1 + 6 pi a^2 N/A.
// All three tend to 1 as delta grows (low frequency) and as the roughness vanishes.

// The skin depth of a patch's metal in metres, sqrt(2 / (omega mu0 mu sigma)); infinite
// at omega = 0 or sigma = 0.
double skinDepthM(const MaterialPatch& patch, double omega);

// K of `roughness` (lengths in length units of lengthScale metres) at skin depth
// delta (metres); 1 for RoughnessModel::kNone.
double roughnessFactor(const Roughness& roughness, double lengthScale, double skinDepthM);

// Huray's spheres per square metre; 0 for the other models.
double spheresPerSquareMetre(const Roughness& roughness, double lengthScale);

// "hammerstad", "groisse", "huray" or "none".
std::string roughnessModelName(RoughnessModel model);

// For the set-up: every patch that an element uses and that has a roughness must be a
// normal metal, else the run stops; then each patch's `lossFactor` becomes its K at the
// run's frequency. True when some patch that an element uses has a roughness.
bool setUpRoughness(ProblemModel& model);

}  // namespace qbr
