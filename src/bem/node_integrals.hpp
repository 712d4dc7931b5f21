#pragma once

#include <array>
#include <limits>
#include <vector>

#include "model/constants.hpp"
#include "model/geometry.hpp"

namespace qbr {

// Gauss-Legendre, 6 points on [-1, 1], to the ten digits the program has always used;
// the node integrals and the matrix fill sample the same parameters with it.
inline constexpr std::array<double, 6> kGaussAbscissae = {
    -0.9324695142, -0.6612093865, -0.2386191861, 0.2386191861, 0.6612093865, 0.9324695142};
inline constexpr std::array<double, 6> kGaussWeights = {0.1713244924, 0.360761573, 0.4679139346,
                                                        0.4679139346, 0.360761573, 0.1713244924};

// What is integrated over a piece of an element, against the node's shape function.
// The regularised kinds add ln|t - tau| so that the self term can be integrated by
// Gauss points and the logarithm taken back out in closed form (nodeLogIntegral).
enum class IntegralKind {
  LaplaceSingleRegularised = 0,  // ln|t - tau| + G
  LaplaceSingle,                 // G
  LaplaceDouble,                 // dG/dn
  Unit,                          // 1
  HelmholtzSingleRegularised,    // K + ln|t - tau| (real part)
  HelmholtzSingle,               // K
  HelmholtzDouble                // dK/dn
};

// What the kernels see: the observation point, the wave number of the source patch,
// the low-frequency shift of the interior kernel (K - beta J0(kr), low_frequency.hpp) and
// whether the Laplace kernels carry the odd image in y = 0.
//
// For the near-field rule (near_field.hpp) the piece integrals also need to know whether
// the observation point is a node of the element being integrated (`ownElement`, at the
// parameter tau given to the integral), whether the interior kernel is wanted for this
// element (`interior`: same conductor) and where it is cut off (`reach`).
struct KernelContext {
  double x0 = 0, y0 = 0;
  Complex k{};
  Complex beta{};
  bool symmetryOn = false;
  bool ownElement = false;
  bool interior = false;
  double reach = std::numeric_limits<double>::infinity();
  bool secondOrder = false;  // graded grids: see pieceRule
  // The electrostatics of dielectric interfaces: the near-field rule also integrates the
  // normal field at the observation point, whose unit normal this is.
  bool field = false;
  double n0x = 0.0, n0y = 0.0;
};

// G = -ln r (with the image: -ln r + ln r', r' the distance to (x0, -y0)).
double laplaceKernel(const KernelContext&, double x, double y);
// dG/dn at the source point (x, y) with unit normal (nx, ny).
double laplaceNormalKernel(const KernelContext&, double x, double y, double nx, double ny);
// -dG/dn0 at the observation point along its unit normal (ctx.n0x, ctx.n0y): the normal
// field there of a unit line charge at (x, y), (r0 - r).n0 / |r0 - r|^2, without 2 pi
// (with the image, whose charge is opposite).
double laplaceFieldKernel(const KernelContext&, double x, double y);
// K = (j pi/2) H0(1)(k r) for Im k > 0, else (-j pi/2) H0(2)(k r); both ~ -ln r at 0.
// With a shift beta the kernel is K - beta J0(kr).
Complex helmholtzKernel(const KernelContext&, double x, double y);
Complex helmholtzNormalKernel(const KernelContext&, double x, double y, double nx, double ny);
// K and dK/dn together, from one evaluation of the cylinder functions.
struct HelmholtzPair {
  Complex single;
  Complex normal;
};
HelmholtzPair helmholtzKernels(const KernelContext&, double x, double y, double nx, double ny);

// Integrals in the element parameter t (no Jacobian), by the 6-point Gauss rule, or by
// the graded rule of near_field.hpp where the piece is near the observation point or the
// interior kernel decays within it.
// Over [a, b] of integrand(kind).
Complex constantPieceIntegral(const KernelContext&, const ElementGeometry&, double a, double b,
                              IntegralKind, double tau);
// Over [a, b] of integrand(kind) times (t - z0)/(z1 - z0).
Complex linearPieceIntegral(const KernelContext&, const ElementGeometry&, double a, double b,
                            double z0, double z1, IntegralKind, double tau);
// Over the support of node j of integrand(kind) times the node's shape function.
// nodeT holds the node parameters at 1..n (nodeT.size() == n + 1, slot 0 unused).
Complex nodeIntegral(const KernelContext&, const ElementGeometry&, const std::vector<double>& nodeT,
                     int j, IntegralKind, double tau);
// The same support, of ln|t - tau| times the shape function, in closed form.
double nodeLogIntegral(const ElementGeometry&, const std::vector<double>& nodeT, int j, double tau);

// Over [a, b], ln|t - tau| times (t - z0)/(z1 - z0), and ln|t - tau| alone, in closed form.
double linearPieceLogIntegral(double a, double b, double z0, double z1, double tau);
double constantPieceLogIntegral(double a, double b, double tau);

}  // namespace qbr
