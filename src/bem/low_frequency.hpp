#pragma once

#include <array>

#include "model/constants.hpp"
#include "model/problem_model.hpp"

namespace qbr {

// The interior rows at low frequency.
//
// Inside a conductor the unknown is u = A - C, the field less the conductor's potential
// constant, and C grows as 1/omega: far below the skin effect C is the resistive voltage
// R I / (j omega mu0), and the inductance is its real part, a remainder smaller than the
// imaginary part by omega L / R (1e-6 for a PCB trace at 1 Hz, 1e-9 for a 1 um wire). Two
// things then spoil the remainder, and both are avoided here:
//
// 1. The conductor column s of an interior row is the row's response to a uniform u. Its
//    exact value is s = -pi + the boundary integral of dK/dn = k^2 times the area integral
//    of K, of order k^2. Summed from the discretised double layer it carries a quadrature
//    error of order one, which C (of order 1/k^2) turns into an error of order 1/k^2. So at
//    low frequency s is integrated from the smooth difference dK/dn - dG/dn of the kernel
//    and the static kernel: s = k^2 times the integral of (dr.n) F(kr)/(kr)^2, F taken from
//    the series of the cylinder functions without cancellation.
//
// 2. Near its source the kernel is K = -ln r + c(k) + O(k^2 r^2 ln r) with
//    c(k) = -ln(k/2) - gamma -+ j pi/2, a constant whose imaginary part (-pi/4 for a
//    normal metal) carries the discretisation error of the real static problem into the
//    imaginary part of the solution, i.e. into the inductance, divided by omega. Any
//    fundamental solution serves in Green's identity for the interior, so the kernel is
//    replaced by K' = K - beta J0(kr) with beta = c(k) - ln(D) - M0: near its source K' is
//    -ln(r/D) + M0, real, and its imaginary part is the true O(k^2) physics. D is the
//    conductor's size; M0 > 0 keeps the static single layer well away from its logarithmic
//    degeneracy (it strengthens the condition that the conductor's current is sigma V'
//    times its area, the direct-current resistance).
//
// Both forms are exact in the continuum and differ only by discretisation error, so they
// are blended smoothly in |Im k| D (the conductor's size over the skin or penetration
// depth): the column integral with weight b_column, the discrete sum with 1 - b_column;
// the shift as b_kernel beta. J0(kr) grows like exp(|Im k| r) and carries multipoles that,
// weighted by beta, make the interior single layer nearly singular once |k| D reaches a
// few, so the shift is only used while J0 is nearly 1 over the conductor.

// The program's kernel is (j pi/2) H0 with its ten-digit pi, kPi / pi times the exact
// kernel; the free term uses the same pi, so the two stay consistent.
inline constexpr double kPiFull = 3.14159265358979323846;
inline constexpr double kKernelScale = kPi / kPiFull;

struct LowFrequencyForm {
  // Per conductor 0..5: the diagonal D of the box around its elements, and the two blends
  // (1: low-frequency form, 0: plain form).
  std::array<double, kMaxConductorNumber + 1> size{};
  std::array<double, kMaxConductorNumber + 1> kernelBlend{};
  std::array<double, kMaxConductorNumber + 1> columnBlend{};
};

// From the prepared model (elements, points and patch wave numbers).
LowFrequencyForm lowFrequencyForm(const ProblemModel& model);

// b_kernel beta, in the program's kernel scale, for a patch with wave number k on a
// conductor of size D.
Complex kernelShift(Complex k, double size, double kernelBlend);

}  // namespace qbr
