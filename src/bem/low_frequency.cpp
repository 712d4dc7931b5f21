#include "bem/low_frequency.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "model/geometry.hpp"

namespace qbr {

namespace {

constexpr double kEulerGamma = 0.57721566490153286061;
// The constant of K' near its source, over -ln(r/D).
constexpr double kStaticConstant = 5.0;

// A smooth step from 1 (at or below `start`) to 0 (at or beyond `end`) in |Im k| D.
double blendAt(double decayTimesSize, double start, double end) {
  if (decayTimesSize <= start) return 1.0;
  if (decayTimesSize >= end) return 0.0;
  const double x = (decayTimesSize - start) / (end - start);
  return 0.5 * (1.0 + std::cos(kPiFull * x));
}

}  // namespace

LowFrequencyForm lowFrequencyForm(const ProblemModel& model) {
  LowFrequencyForm form;
  std::array<Box, kMaxConductorNumber + 1> box{};
  std::array<bool, kMaxConductorNumber + 1> seen{};
  std::array<double, kMaxConductorNumber + 1> decay{};
  for (std::int32_t e = 0; e < model.elementCount; ++e) {
    const BoundaryElement& element = model.elements[static_cast<std::size_t>(e)];
    const auto c = static_cast<std::size_t>(element.conductor);
    if (c >= box.size()) continue;
    const Box b = element.geometry(model.points).boundingBox();
    Box& all = box[c];
    if (!seen[c]) all = b;
    seen[c] = true;
    all.xmin = std::min(all.xmin, b.xmin);
    all.xmax = std::max(all.xmax, b.xmax);
    all.ymin = std::min(all.ymin, b.ymin);
    all.ymax = std::max(all.ymax, b.ymax);
    const Complex k = model.patches[static_cast<std::size_t>(element.patch)].k;
    decay[c] = std::max(decay[c], std::fabs(k.imag()));
  }
  for (std::size_t c = 0; c < box.size(); ++c) {
    if (!seen[c]) continue;
    form.size[c] = std::hypot(box[c].xmax - box[c].xmin, box[c].ymax - box[c].ymin);
    const double x = decay[c] * form.size[c];
    // The shifted kernel J0 carries multipoles of order (kD)^n that, weighted by beta,
    // make the interior single layer nearly singular once kD reaches a few (measured: L of
    // a PCB microstrip 1e-3 off at |Im k| D = 3): it is used only while J0 is nearly 1 over
    // the conductor. The smooth column integral is accurate wherever the Gauss points
    // resolve the kernel and is needed as long as the resistance dwarfs the reactance
    // (C ~ R / omega): it gives way to the sum only at a skin depth of D / 8 to D / 16.
    form.kernelBlend[c] = blendAt(x, 0.5, 2.0);
    form.columnBlend[c] = blendAt(x, 8.0, 16.0);
  }
  return form;
}

Complex kernelShift(Complex k, double size, double kernelBlend) {
  if (kernelBlend == 0.0) return {};
  // K = (j pi/2) H0(1)(kr) for Im k > 0, (-j pi/2) H0(2)(kr) otherwise, both
  // -ln r - ln(k/2) - gamma +- j pi/2 near the source.
  const Complex c = -std::log(k / 2.0) - kEulerGamma +
                    Complex(0.0, k.imag() > 0.0 ? kPiFull / 2.0 : -kPiFull / 2.0);
  return kKernelScale * kernelBlend * (c - std::log(size) - kStaticConstant);
}

}  // namespace qbr
