// Every bundled example runs end to end in the built program: exit status 0, the
// report on the console and in the log, and the drawing next to the input.
#include <gtest/gtest.h>

#include <complex>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace qbr {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runQbr;
using testing::sourcePath;
using testing::TempDir;

struct ExampleRun {
  testing::ProgramRun run;
  std::string log;
  std::string eps;
};

ExampleRun runExample(const TempDir& dir, const std::string& name, const std::string& text) {
  dir.write(name, text);
  ExampleRun result;
  result.run = runQbr(dir.path(), {name});
  result.log = readFile(dir / "qbr.log");
  result.eps = readFile(dir / (name + ".eps"));
  return result;
}

ExampleRun runBundledExample(const TempDir& dir, const std::string& name) {
  return runExample(dir, name, readFile(sourcePath("examples/" + name)));
}

void expectCompleteRun(const ExampleRun& r, const std::string& heading, int conductors) {
  EXPECT_EQ(r.run.exitStatus, 0) << r.run.console;
  EXPECT_NE(r.run.console.find("Conductors:  " + std::to_string(conductors) + "   "),
            std::string::npos);
  EXPECT_NE(r.run.console.find("Filling BEM matrix:  "), std::string::npos);
  EXPECT_NE(r.run.console.find("\b  done;\nLU:  "), std::string::npos);
  EXPECT_NE(r.run.console.find(heading), std::string::npos) << r.run.console;
  EXPECT_NE(r.run.console.find("Wait to close 5 sek;\n"), std::string::npos);
  EXPECT_NE(r.log.find(heading), std::string::npos);
  EXPECT_NE(r.log.find("\nTotal time "), std::string::npos);
  EXPECT_EQ(r.eps.rfind("%!PS-Adobe-3.0 EPSF-3.0\n", 0), 0u);
  EXPECT_EQ(r.log.find("nan"), std::string::npos) << r.log;
}

// The entries "i  j   (re,im)" of the inductance block of the log.
std::vector<std::complex<double>> inductanceEntries(const std::string& log) {
  std::vector<std::complex<double>> entries;
  const std::regex entry(R"((\d)  (\d)   \(([^,]+),([^)]+)\))");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), entry); it != std::sregex_iterator();
       ++it) {
    entries.emplace_back(std::stod((*it)[3]), std::stod((*it)[4]));
  }
  return entries;
}

TEST(ExamplesE2e, CopperCoax) {
  TempDir dir;
  expectCompleteRun(runBundledExample(dir, "coax_copper.txt"),
                    "Z[i,j]=R+j*X [Ohms/m]*1.e6 as R, X, L:", 1);
}

TEST(ExamplesE2e, SuperconductingCoax) {
  TempDir dir;
  expectCompleteRun(runBundledExample(dir, "coax_sc.txt"), "Inductance matrix [pH/um]", 1);
}

TEST(ExamplesE2e, SuperconductingMicrostrip) {
  TempDir dir;
  const ExampleRun r = runBundledExample(dir, "microstrip_sc.txt");
  expectCompleteRun(r, "Inductance matrix [pH/um]", 1);
  const auto entries = inductanceEntries(r.log);
  ASSERT_EQ(entries.size(), 1u);
  // A 2 um strip 0.2 um above its ground: a few tenths of a pH/um, geometric plus
  // kinetic inductance.
  EXPECT_GT(entries[0].real(), 0.1);
  EXPECT_LT(entries[0].real(), 0.5);
}

TEST(ExamplesE2e, CoupledStripsHaveASymmetricMatrixWithWeakerMutualInductance) {
  TempDir dir;
  const ExampleRun r = runBundledExample(dir, "coupled_strips_sc.txt");
  expectCompleteRun(r, "Inductance matrix [pH/um]", 2);
  const auto entries = inductanceEntries(r.log);  // 1-1, 1-2, 2-2
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_NEAR(entries[0].real(), entries[2].real(), 1e-4 * entries[0].real());
  EXPECT_GT(entries[1].real(), 0.0);
  EXPECT_LT(entries[1].real(), 0.5 * entries[0].real());
}

// The impedance report's L = X / omega is the inductance report's value.
TEST(ExamplesE2e, ImpedanceAndInductanceReportsAgree) {
  TempDir dir;
  const std::string coax = readFile(sourcePath("examples/coax_sc.txt"));
  const ExampleRun phases = runExample(dir, "phases.txt", coax);
  const ExampleRun impedance = runExample(dir, "impedance.txt", coax + "variables impedance\n");
  const auto entries = inductanceEntries(phases.log);
  ASSERT_EQ(entries.size(), 1u);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(impedance.log, match, std::regex(R"(L=(\S+)\n)")));
  EXPECT_NEAR(std::stod(match[1]) / entries[0].real(), 1.0, 1e-5);
}

}  // namespace
}  // namespace qbr
