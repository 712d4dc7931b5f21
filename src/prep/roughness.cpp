#include "prep/roughness.hpp"

#include <cmath>
#include <limits>

#include "base/fatal_stop.hpp"

namespace qbr {

double skinDepthM(const MaterialPatch& patch, double omega) {
  const double x = omega * kMu0 * patch.mu * patch.sigma;
  return x > 0.0 ? std::sqrt(2.0 / x) : std::numeric_limits<double>::infinity();
}

double spheresPerSquareMetre(const Roughness& roughness, double lengthScale) {
  if (roughness.model != RoughnessModel::kHuray) return 0.0;
  const double area = roughness.tileArea > 0.0 ? roughness.tileArea : 1.0;
  return roughness.spheres / (area * lengthScale * lengthScale);
}

double roughnessFactor(const Roughness& roughness, double lengthScale, double skinDepthM) {
  switch (roughness.model) {
    case RoughnessModel::kNone:
      return 1.0;
    case RoughnessModel::kHammerstad: {
      const double ratio = roughness.rms * lengthScale / skinDepthM;
      return 1.0 + (2.0 / kPi) * std::atan(1.4 * ratio * ratio);
    }
    case RoughnessModel::kGroisse: {
      // delta / (2 Delta) is infinite for a smooth surface: exp(-inf) = 0.
      const double ratio = skinDepthM / (2.0 * roughness.rms * lengthScale);
      return 1.0 + std::exp(-std::pow(ratio, 1.6));
    }
    case RoughnessModel::kHuray: {
      // A sphere in the field at the surface absorbs sigma_abs = 3 pi k a^2 delta /
      // (1 + delta/a + delta^2/(2 a^2)) of the incident wave's power density S (k the
      // dielectric's wave number); the field there is doubled by the reflection, so it
      // takes 4 S sigma_abs, while the flat surface takes 2 k delta S per unit area. k
      // cancels in the ratio. Scattering is left out: (10/9) (k a)^3 a / delta of the
      // absorption, 6e-6 for a 2 um sphere at 100 GHz in a dielectric of epsilon_r 4.
      const double a = roughness.sphereRadius * lengthScale;
      const double d = skinDepthM / a;
      const double perSphere = 6.0 * kPi * a * a / (1.0 + d + 0.5 * d * d);
      return 1.0 + spheresPerSquareMetre(roughness, lengthScale) * perSphere;
    }
  }
  return 1.0;
}

std::string roughnessModelName(RoughnessModel model) {
  switch (model) {
    case RoughnessModel::kHammerstad:
      return "hammerstad";
    case RoughnessModel::kGroisse:
      return "groisse";
    case RoughnessModel::kHuray:
      return "huray";
    case RoughnessModel::kNone:
      break;
  }
  return "none";
}

bool setUpRoughness(ProblemModel& model) {
  std::array<bool, kMaxPatches> used{};
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    used[static_cast<std::size_t>(model.elements[static_cast<std::size_t>(e)].patch)] = true;
  }
  bool any = false;
  for (std::int32_t i = 0; i < kMaxPatches; ++i) {
    MaterialPatch& patch = model.patches[static_cast<std::size_t>(i)];
    patch.lossFactor = 1.0;
    if (!used[static_cast<std::size_t>(i)] || patch.roughness.model == RoughnessModel::kNone) {
      continue;
    }
    if (patch.superconducting) {
      fatalStop("\nPatch " + std::to_string(i) +
                " is a superconductor: its roughness is for normal metals (\"patch " +
                std::to_string(i) + " nc sigma\");\n");
    }
    any = true;
    patch.lossFactor =
        roughnessFactor(patch.roughness, model.lengthScale, skinDepthM(patch, model.omega));
  }
  return any;
}

}  // namespace qbr
