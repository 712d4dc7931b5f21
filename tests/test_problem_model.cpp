#include <gtest/gtest.h>

#include "base/fatal_stop.hpp"
#include "model/problem_model.hpp"

namespace qbr {
namespace {

TEST(FindOrAddPoint, SharesPointsWithinTheThresholdInEachCoordinate) {
  ProblemModel model;
  setDefaults(model);
  EXPECT_EQ(findOrAddPoint(model, 0.0, 0.0), 0);
  EXPECT_EQ(findOrAddPoint(model, 5e-8, -5e-8), 0);
  EXPECT_EQ(model.pointCount, 1);
  EXPECT_EQ(model.points[0].x, 0.0);  // the first coordinates are kept
  EXPECT_EQ(findOrAddPoint(model, 2e-7, 0.0), 1);
  // Close in x but far in y: a different point.
  EXPECT_EQ(findOrAddPoint(model, 0.5e-7, 1.0), 2);
  EXPECT_EQ(model.pointCount, 3);
  EXPECT_EQ(model.points[2].y, 1.0);
}

TEST(FindOrAddPoint, FullTableStillFindsButDoesNotAdd) {
  ProblemModel model;
  setDefaults(model);
  for (int i = 0; i < kMaxPoints; ++i) ASSERT_EQ(findOrAddPoint(model, i, -i), i);
  EXPECT_EQ(findOrAddPoint(model, 42.0, -42.0), 42);
  try {
    findOrAddPoint(model, 0.5, 0.5);
    FAIL() << "a 101st point was accepted";
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nToo many points!\n");
  }
  EXPECT_EQ(model.pointCount, kMaxPoints);
}

TEST(SetDefaults, ResetsTablesAndKeepsTextSettings) {
  ProblemModel model;
  model.pointCount = 7;
  model.elementCount = 3;
  model.patchCount = 4;
  model.conductorCount = 2;
  model.ah = 0.1;
  model.phaseVariables = false;
  model.symmetryOn = true;
  model.elements[5].gridCount = 9;
  model.elements[5].patch = 2;
  model.elements[5].dir = false;
  model.elements[5].nodeT.assign(4, 0.0);
  model.conductors[1].n_memb = 2;
  model.conductors[1].memb = {0, 1};
  model.patches[3] = MaterialPatch{false,
                                   {},
                                   {},
                                   0.2,
                                   58.0,
                                   3.0,
                                   true,
                                   Medium{4.3, 0.02, 0.0, ""},
                                   Roughness{RoughnessModel::kHammerstad, 1.0},
                                   1.0,
                                   MaterialModel::kTwoFluid,
                                   9.2,
                                   5.0,
                                   0.0,
                                   0.1,
                                   {}};
  model.polylineLayers[2].patch = 5;
  model.lengthunit = "mm";
  model.gridsize = 2.0;
  model.frequency = 10.0;

  setDefaults(model);
  EXPECT_EQ(model.pointCount, 0);
  EXPECT_EQ(model.elementCount, 0);
  EXPECT_EQ(model.patchCount, 0);
  EXPECT_EQ(model.conductorCount, 0);
  EXPECT_EQ(model.ah, 1.0);
  EXPECT_TRUE(model.phaseVariables);
  EXPECT_FALSE(model.symmetryOn);
  EXPECT_EQ(model.elements[5].gridCount, 0);
  EXPECT_EQ(model.elements[5].patch, 0);
  EXPECT_TRUE(model.elements[5].dir);
  EXPECT_TRUE(model.elements[5].nodeT.empty());
  EXPECT_EQ(model.conductors[1].n_memb, 0);
  EXPECT_TRUE(model.conductors[1].memb.empty());
  EXPECT_TRUE(model.patches[3].superconducting);
  EXPECT_EQ(model.patches[3].lambda, 0.0);
  EXPECT_EQ(model.patches[3].sigma, 0.0);
  EXPECT_EQ(model.patches[3].mu, 1.0);
  EXPECT_EQ(model.patches[3].roughness, Roughness{});
  EXPECT_EQ(model.patches[3].model, MaterialModel::kGiven);
  EXPECT_FALSE(model.patches[3].dielectric);
  EXPECT_EQ(model.polylineLayers[2].patch, 0);
  EXPECT_EQ(model.lengthunit, "mm");
  EXPECT_EQ(model.gridsize, 2.0);
  EXPECT_EQ(model.frequency, 10.0);
}

}  // namespace
}  // namespace qbr
