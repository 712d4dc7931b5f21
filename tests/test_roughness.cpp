// Surface roughness: each model's factor at the ends of its range and against its closed
// forms, the split of a coax's resistance between two metals against the exact wire and
// tube, the mutual terms as the bilinear form of each patch's loss, and the texts of
// models without roughness left as they were.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "base/run_io.hpp"
#include "bem/patch_losses.hpp"
#include "bem/structured_solve.hpp"
#include "prep/grids.hpp"
#include "prep/roughness.hpp"
#include "prep/setup.hpp"
#include "prep/work_arrays.hpp"
#include "qbr/qbr.hpp"
#include "support/coax_reference.hpp"

namespace qbr {
namespace {

using reference::Cd;
using reference::kMu0Full;
using reference::kPiFull;

constexpr double kCopper = 5.8e7;  // S/m

// The skin depth from the textbook's form, full-precision pi.
double textbookSkinDepth(double frequency, double sigma) {
  return 1.0 / std::sqrt(kPiFull * frequency * kMu0Full * sigma);
}

Roughness rms(RoughnessModel model, double metres) {
  Roughness r;
  r.model = model;
  r.rms = metres;
  return r;
}

TEST(RoughnessFactor, TendsToOneForSmoothSurfacesAndLowFrequenciesAndSaturatesAtTwo) {
  MaterialPatch copper;
  copper.superconducting = false;
  copper.sigma = kCopper;
  const double low = skinDepthM(copper, kTwoPi * 1.0);     // 1 Hz: 66 mm
  const double high = skinDepthM(copper, kTwoPi * 100e9);  // 100 GHz: 0.21 um
  EXPECT_NEAR(low / textbookSkinDepth(1.0, kCopper), 1.0, 1e-10);
  EXPECT_NEAR(high / textbookSkinDepth(100e9, kCopper), 1.0, 1e-10);

  for (RoughnessModel model : {RoughnessModel::kHammerstad, RoughnessModel::kGroisse}) {
    EXPECT_EQ(roughnessFactor(rms(model, 0.0), 1.0, high), 1.0);
    EXPECT_EQ(roughnessFactor(rms(model, 1e-6), 1.0, skinDepthM(copper, 0.0)), 1.0);
  }
  // Hammerstad at both ends against its asymptotes: K - 1 = (2.8/pi) (Delta/delta)^2 far
  // below, 2 - K = (2/pi) / (1.4 (Delta/delta)^2) far above.
  const Roughness foil = rms(RoughnessModel::kHammerstad, 1e-6);
  const double below = 1e-6 / low;  // 1.5e-5: K - 1 = 2e-10, held in K to 1e-16 / 2e-10
  EXPECT_NEAR((roughnessFactor(foil, 1.0, low) - 1.0) / (2.8 / kPiFull * below * below), 1.0, 2e-6);
  const double above = 100.0;
  const Roughness deep = rms(RoughnessModel::kHammerstad, above * high);
  EXPECT_NEAR((2.0 - roughnessFactor(deep, 1.0, high)) / (2.0 / kPiFull / (1.4 * above * above)),
              1.0, 1e-6);
  // Groisse: K = 1 + exp(-x), x = (delta / 2 Delta)^1.6, underflowing to exactly 1 at
  // 1 Hz; far above, 2 - K = x (1 - x/2) to third order.
  EXPECT_EQ(roughnessFactor(rms(RoughnessModel::kGroisse, 1e-6), 1.0, low), 1.0);
  const double x = std::pow(0.5 / above, 1.6);
  EXPECT_NEAR((2.0 - roughnessFactor(rms(RoughnessModel::kGroisse, above * high), 1.0, high)) /
                  (x * (1.0 - 0.5 * x)),
              1.0, 1e-7);
  // A length unit other than the metre: 1 um written in mm.
  EXPECT_EQ(roughnessFactor(rms(RoughnessModel::kHammerstad, 1e-3), 1e-3, high),
            roughnessFactor(foil, 1.0, high));
}

// Huray's closed form as published: K = A_matte/A_flat + (3/2) sum over sphere sizes of
// (N 4 pi a^2 / A_flat) / (1 + delta/a + delta^2 / (2 a^2)), with a flat base (A_matte =
// A_flat), through the input line: 14 spheres of radius 0.5 um on a tile of 115 um^2,
// written in millimetres.
TEST(RoughnessFactor, HurayMatchesItsPublishedClosedForm) {
  const double a = 0.5e-6;
  const double tile = 115e-12;
  const double spheres = 14;
  const double frequency = 10e9;
  const Result r = solve(
      Model::fromText("lengthunit mm\nfrequency 10 ghz\nvariables impedance\npatch 0 nc 58\n"
                      "roughness 0 huray 0.0005 14 0.000115\npt 0 0 0\ncircle 1 0 0.5 + 0 40\n"
                      "circle 0 0 1.75 - 0 60\ncircle 0 0 2 + 0 60\n"));
  ASSERT_TRUE(r.roughness);
  ASSERT_EQ(r.roughness->patches.size(), 1u);
  const PatchLoss& patch = r.roughness->patches[0];
  const double delta = textbookSkinDepth(frequency, kCopper);
  const double published = 1.0 + 1.5 * (spheres * 4 * kPiFull * a * a / tile) /
                                     (1 + delta / a + delta * delta / (2 * a * a));
  std::printf("Huray, a = 0.5 um, 14 spheres on 115 um^2, 10 GHz: K = %.12f, published %.12f\n",
              patch.factor, published);
  EXPECT_NEAR(patch.factor, published, 1e-9);
  EXPECT_NEAR(patch.spheresPerM2, spheres / tile, 1e-9 * spheres / tile);

  // The same density per unit area (spheres per mm^2), and the ends of the range: 1 at
  // low frequency, 1 + 6 pi a^2 N / A as the skin depth vanishes.
  Roughness perArea;
  perArea.model = RoughnessModel::kHuray;
  perArea.sphereRadius = 0.0005;
  perArea.spheres = spheres / 115e-6;
  EXPECT_NEAR(roughnessFactor(perArea, 1e-3, delta), published, 1e-9);
  const double low = textbookSkinDepth(1.0, kCopper);
  EXPECT_NEAR((roughnessFactor(perArea, 1e-3, low) - 1.0) /
                  (12 * kPiFull * a * a * a * a * spheres / tile / (low * low)),
              1.0, 1e-4);
  EXPECT_NEAR(roughnessFactor(perArea, 1e-3, 1e-6 * a), 1 + 6 * kPiFull * a * a * spheres / tile,
              1e-5);
}

// Copper wire inside a tube of another metal (20 MS/m), 1.5 um rms roughness on the tube:
// each patch's share of R against the exact internal resistance of the wire and of the
// tube, and R with the roughness against R_wire + K R_tube.
TEST(PatchLosses, TheSplitOfACoaxIsTheExactWireAndTube) {
  const double a = 0.5e-3, b = 1.75e-3, c = 2.0e-3;
  for (double frequency : {1.0, 1e11}) {  // a/delta 0.0075 and 2400
    const double omega = 2 * kPiFull * frequency;
    const Cd jOmegaMu(0.0, omega * kMu0Full);
    const double wire =
        reference::wireImpedance(Cd(0.0, -omega * kMu0Full * 58e6), jOmegaMu, a).real();
    const double tube =
        reference::tubeImpedance(Cd(0.0, -omega * kMu0Full * 20e6), jOmegaMu, b, c).real();

    char text[512];
    std::snprintf(text, sizeof text,
                  "lengthunit mm\nfrequency %g hz\nvariables impedance\npatch 0 nc 58\n"
                  "patch 1 nc 20\nroughness 1 hammerstad 0.0015\npt 0 0 0\n"
                  "circle 1 0 0.5 + 0 100\ncircle 0 0 1.75 - 1 200\ncircle 0 0 2 + 1 200\n",
                  frequency);
    const Result r = solve(Model::fromText(text));
    ASSERT_TRUE(r.roughness);
    const RoughnessLosses& losses = *r.roughness;
    ASSERT_EQ(losses.patches.size(), 2u);
    const double wireShare = losses.patches[0].smoothResistanceOhmPerM(0, 0);
    const double tubeShare = losses.patches[1].smoothResistanceOhmPerM(0, 0);
    const double k = losses.patches[1].factor;
    std::printf(
        "coax at %g Hz: wire %.9g (exact %.9g), tube %.9g (exact %.9g), K %.6f, "
        "flux mismatch %.1e\n",
        frequency, wireShare, wire, tubeShare, tube, k, losses.fluxMismatch);
    EXPECT_EQ(losses.patches[0].factor, 1.0);
    // The grid's error: at 100 GHz the nodes lie 150 skin depths apart on the tube.
    EXPECT_NEAR(wireShare / wire, 1.0, 5e-5);
    EXPECT_NEAR(tubeShare / tube, 1.0, 5e-5);
    EXPECT_NEAR((wireShare + tubeShare) / losses.smoothResistanceOhmPerM(0, 0), 1.0, 1e-14);
    EXPECT_NEAR(r.resistanceOhmPerM(0, 0) / (wire + k * tube), 1.0, 5e-5);
    EXPECT_EQ(r.impedanceOhmPerM(0, 0).imag(), r.printed(0, 0).imag() * 1e-6)
        << "the reactance stays as it is";
    if (frequency < 1e4) {
      EXPECT_LT(k - 1.0, 1e-9);  // a skin depth of 11 cm on a 1.5 um roughness: 1.6e-10
    }
  }
}

// The boundary solution's split of the losses of one input text, phase by phase.
struct Split {
  PatchResistance losses;
  ConductorMatrix m;
};

Split splitOf(const std::string& text) {
  ProblemModel model = Model::fromText(text).tables();
  std::ostringstream sink;
  RunIo io{sink, sink, nullptr};
  setUpModel(model, io);
  buildGrids(model, io);
  WorkArrays work = allocateWorkArrays(model, false);
  const Unknowns unknowns(model);
  Split split;
  split.m = solveStructured(model, unknowns, work.b, {}, 1);
  split.losses = patchResistance(model, unknowns, work.b, split.m);
  return split;
}

// Two strips of one metal on patches 1 and 2 over a ground of patch 0, driven as two
// conductors and as one: fed 1/2 A each, the patches of the pair lose what the merged
// strips lose with 1 A, and that combination holds the mutual terms.
TEST(PatchLosses, MutualTermsAreTheBilinearFormOfEachPatchsLoss) {
  const std::string head =
      "lengthunit mm\nfrequency 5 ghz\nvariables impedance\ngrid graded\npatch 0 nc 58\n"
      "patch 1 nc 58\npatch 2 nc 58\nrect -5 5 -1.635 -1.6 0 0 200 4\n"
      "rect -1.2 -0.2 0 0.035 1 1 100 4\n";
  const Split pair = splitOf(head + "rect 0.2 1.2 0 0.035 2 2 100 4\n");
  const Split merged = splitOf(head + "rect 0.2 1.2 0 0.035 1 2 100 4\n");
  ASSERT_EQ(pair.m.size(), 2);
  ASSERT_EQ(merged.m.size(), 1);
  for (int p = 0; p < 3; ++p) {
    const Matrix<double>& d = pair.losses.raw[static_cast<std::size_t>(p)];
    EXPECT_EQ(d(0, 1), d(1, 0));
    const double even = 0.25 * (d(0, 0) + d(0, 1) + d(1, 0) + d(1, 1));
    const double one = merged.losses.raw[static_cast<std::size_t>(p)](0, 0);
    EXPECT_NEAR(even / one, 1.0, 1e-9) << "patch " << p;
    EXPECT_GT(std::fabs(d(0, 1)), 0.05 * d(0, 0)) << "the mutual term must matter here";
  }
  // The shares add up to the solver's R entry by entry, to rounding.
  const Matrix<double> total = resistanceOf(pair.m, 2 * kPi * 5e9, false);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 2; ++j) {
      double sum = 0.0;
      for (const Matrix<double>& share : pair.losses.shares) sum += share(i, j);
      EXPECT_NEAR(sum, total(i, j), 1e-13 * total(0, 0));
    }
  }
  std::printf("pair: flux mismatch %.1e, merged %.1e\n", pair.losses.mismatch,
              merged.losses.mismatch);
  EXPECT_LT(pair.losses.mismatch, 0.02);
}

// A model without roughness, or with roughness only on a patch no element uses, prints
// what it always printed; one with roughness reads back from its JSON, says its
// parameters in SI units in the echo, and refuses a roughness on a superconductor.
TEST(PatchLosses, RoughnessOnlyWhereAskedFor) {
  const std::string model =
      "lengthunit mm\nfrequency 1 ghz\npatch 0 nc 58\npt 0 0 0\ncircle 1 0 0.5 + 0 40\n"
      "circle 0 0 1.75 - 0 60\ncircle 0 0 2 + 0 60\n";
  const auto texts = [](const std::string& text, Result* result = nullptr) {
    std::ostringstream console, log;
    SolveOptions options;
    options.console = &console;
    options.log = &log;
    const Result r = solve(Model::fromText(text), options);
    if (result) *result = r;
    return console.str() + "\f" + log.str() + "\f" + r.toJson(false).substr(0, 600);
  };
  const std::string plain = texts(model);
  EXPECT_EQ(texts(model + "roughness 0 none\n"), plain);
  EXPECT_EQ(texts(model + "roughness 3 groisse 0.001\n"), plain);

  Result rough;
  const std::string withRoughness = texts(model + "roughness 0 groisse 0.001\n", &rough);
  EXPECT_NE(withRoughness.find("  roughness groisse:  rms=1e-06m  skin depth=2.0"),
            std::string::npos)
      << withRoughness;
  EXPECT_NE(withRoughness.find("Surface roughness at 1e+09 hz"), std::string::npos);
  EXPECT_EQ(Result::fromJson(rough.toJson()), rough);
  ASSERT_TRUE(rough.roughness);
  EXPECT_GT(rough.resistanceOhmPerM(0, 0), rough.roughness->smoothResistanceOhmPerM(0, 0));

  try {
    solve(
        Model::fromText("frequency 1 ghz\nroughness 0 hammerstad 1\nlambda 0.1\npt 0 0 0\n"
                        "circle 1 0 1 + 0 8\n"));
    ADD_FAILURE() << "a superconductor took a roughness";
  } catch (const Error& error) {
    EXPECT_EQ(error.message(),
              "\nPatch 0 is a superconductor: its roughness is for normal metals (\"patch 0 nc "
              "sigma\");\n");
  }
}

}  // namespace
}  // namespace qbr
