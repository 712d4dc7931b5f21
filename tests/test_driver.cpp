// The driver run in-process, without the closing wait.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "driver/driver.hpp"
#include "driver/synthesis_run.hpp"
#include "qbr/error.hpp"
#include "qbr/synthesis.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::readFile;
using testing::TempDir;

// Counts code points, not bytes: the frame is drawn with multi-byte characters.
std::size_t codePoints(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

TEST(Driver, BannerIsABoxSixtyCharactersWideFollowedByAnEmptyLine) {
  std::istringstream lines(bannerText());
  std::vector<std::string> rows;
  for (std::string row; std::getline(lines, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(codePoints(rows[i]), 60u) << rows[i];
  EXPECT_EQ(rows[0].rfind("\u2554", 0), 0u);
  EXPECT_EQ(rows[1].find("\u2551QBR:"), 0u);
  EXPECT_EQ(rows[2].rfind("\u255A", 0), 0u);
  EXPECT_EQ(rows[3], "");
}

TEST(Driver, AFileNameLongerThan255CharactersIsRejected) {
  TempDir dir;
  std::ostringstream console;
  std::istringstream in;
  const std::string name(256, 'a');
  const int status = runProgram({name}, in, console, {false, dir / "qbr.log"});
  EXPECT_EQ(status, 1);
  EXPECT_NE(console.str().find("longer than 255 characters"), std::string::npos);
  EXPECT_NE(readFile(dir / "qbr.log").find("longer than 255 characters"), std::string::npos);
}

TEST(Synthesis, TheParameterIsSubstitutedWhereATokenIsAnExpressionOfIt) {
  int uses = 0;
  const std::string text = substituteParameter(
      "cc strip W wide\nrect -W/2, W/2 0 0.035 1 0 160 8\nrect=(G/2+1.5)*2 WW 2W W_1 -W\n", "W",
      3.0, uses);
  EXPECT_EQ(uses, 3);
  EXPECT_EQ(text,
            "cc strip W wide\nrect -1.5, 1.5 0 0.035 1 0 160 8\nrect=(G/2+1.5)*2 WW 2W W_1 -3\n");
  EXPECT_TRUE(parseRange("W=1:5") && parseTarget("Zdiff=100"));
  EXPECT_FALSE(parseRange("W=5:1") || parseRange("W=0:1") || parseRange("2W=1:2") ||
               parseTarget("Zfoo=50") || parseTarget("Z0=-5") || parseTarget("Z0"));
}

// A quantity falling nearly as the logarithm of the parameter, as a strip's impedance against
// its width.
TEST(Synthesis, ReachesTheTargetInFewSolvesAndNamesBothEndsWhenItIsNotBracketed) {
  auto quantity = [](double w) { return 90.0 - 30.0 * std::log(w) + std::sqrt(w); };
  const SynthesisOutcome found = synthesize(quantity, 50.0, 1.0, 5.0);
  EXPECT_TRUE(found.converged);
  EXPECT_LE(std::abs(found.achieved - 50.0), 1e-3 * 50.0);
  EXPECT_LE(found.steps.size(), 10u);
  EXPECT_EQ(found.achieved, quantity(found.value));
  double lo = 1.0, hi = 5.0;  // the root by bisection
  for (int i = 0; i < 60; ++i) (quantity((lo + hi) / 2) > 50.0 ? lo : hi) = (lo + hi) / 2;
  EXPECT_LE(std::abs(found.value - lo), 1.5 * found.parameterError + 1e-12);
  SynthesisOptions options;
  options.parameterName = "W";
  options.quantityName = "Z0";
  try {
    synthesize(quantity, 50.0, 1.0, 2.0, options);
    ADD_FAILURE() << "no error";
  } catch (const Error& error) {
    EXPECT_EQ(error.message(),
              "\nThe target Z0 = 50 is not between the ends of the range: W = 1 gives Z0 = 91, "
              "W = 2 gives Z0 = 70.6198; widen the range;\n");
  }
}

// The wrong inputs of --synthesize: the parser's, the template's, the model's.
TEST(Synthesis, WrongInputsStopTheRunWithStatusOne) {
  TempDir dir;
  const std::string input = (dir / "strip.txt").string();
  std::ofstream(input) << "lengthunit um\nfrequency 10 ghz\nlambda 0.09\n"
                          "rect -10 10 -0.2 0 0 0 60 4\nrect -W/2 W/2 0.2 0.4 1 0 20 4\n";
  auto run = [&](std::vector<std::string> args, const std::string& expected) {
    std::ostringstream console;
    std::istringstream in;
    args.insert(args.begin(), "--no-wait");
    args.push_back(input);
    EXPECT_EQ(runProgram(args, in, console, {false, dir / "qbr.log"}), 1) << console.str();
    EXPECT_NE(console.str().find(expected), std::string::npos) << console.str();
  };
  run({"--synthesize", "Zfoo=50", "--vary", "W=1:2"}, "--synthesize: not QUANTITY=TARGET");
  run({"--synthesize", "Z0=50", "--vary", "W=2:1"}, "--vary: not NAME=LO:HI");
  run({"--synthesize", "Z0=50"}, "--synthesize requires --vary");
  run({"--synthesize", "Z0=50", "--vary", "X=1:2"}, "strip.txt uses no X in place of a number");
  run({"--synthesize", "Z0=50", "--vary", "W=1:2"},
      "Z0 needs the line parameters: give the permittivity");
}

}  // namespace
}  // namespace qbr
