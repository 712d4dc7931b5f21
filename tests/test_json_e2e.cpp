// The program's options for scripts: every bundled example run with --no-wait --quiet
// --json writes a JSON result whose matrix is the one printed in qbr.log, digit for
// digit, and which reads back to the same text; a run that stops writes none.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "qbr/qbr.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runQbr;
using testing::sourcePath;
using testing::TempDir;

// The upper triangle as the run log prints it, from the JSON's matrix in printed units.
std::string logLines(const Result& r) {
  std::ostringstream text;
  for (int i = 1; i <= r.conductors; ++i) {
    for (int j = i; j <= r.conductors; ++j) {
      const std::complex<double> z = r.printed(i - 1, j - 1);
      if (r.mode == Result::Mode::kInductance) {
        text << i << "  " << j << "   " << z << "\n";
      } else {
        text << "i=" << i << "  j=" << j << "   R=" << z.real() << "   X=" << z.imag()
             << "   L=" << z.imag() / r.omegaRadPerS << "\n";
      }
    }
  }
  return text.str();
}

TEST(JsonE2e, EveryExampleWritesTheMatrixItPrintsAndReadsBack) {
  int examples = 0;
  for (const auto& entry : fs::directory_iterator(sourcePath("examples"))) {
    if (entry.path().extension() != ".txt") continue;
    ++examples;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    TempDir dir;
    for (const auto& file : fs::directory_iterator(sourcePath("examples"))) {
      if (file.is_regular_file()) fs::copy_file(file.path(), dir / file.path().filename().string());
    }
    const testing::ProgramRun run =
        runQbr(dir.path(), {"--no-wait", "--quiet", "--json", "result.json", name});
    ASSERT_EQ(run.exitStatus, 0) << run.console;
    EXPECT_EQ(run.console.find("Filling BEM matrix"), std::string::npos);
    EXPECT_EQ(run.console.find("Wait to close"), std::string::npos);

    const std::string json = readFile(dir / "result.json");
    const Result result = Result::fromJson(json);
    EXPECT_EQ(result.toJson(), json);
    EXPECT_NE(readFile(dir / "qbr.log").find(logLines(result)), std::string::npos)
        << logLines(result);
    EXPECT_EQ(result.excitations.size(), static_cast<std::size_t>(result.conductors));
    EXPECT_EQ(result.excitations.at(0).nodes.size() * 2 + result.conductors +
                  (result.hasReturnConductor ? 1 : 0),
              static_cast<std::size_t>(result.nd));
  }
  EXPECT_GE(examples, 5);

  TempDir dir;
  const testing::ProgramRun missing =
      runQbr(dir.path(), {"--no-wait", "--json", "result.json", "--", "missing.txt"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_NE(missing.console.find("\nCan not open input file missing.txt\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "result.json"));
}

TEST(JsonE2e, HelpVersionAndABadOption) {
  TempDir dir;
  const testing::ProgramRun help = runQbr(dir.path(), {"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.console.find("--json FILE"), std::string::npos) << help.console;
  const testing::ProgramRun version = runQbr(dir.path(), {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_EQ(version.console, versionText() + "\n");
  const testing::ProgramRun bad = runQbr(dir.path(), {"--fast", "model.txt"});
  EXPECT_EQ(bad.exitStatus, 1);
  EXPECT_NE(bad.console.find("--fast"), std::string::npos) << bad.console;
  EXPECT_FALSE(fs::exists(dir / "qbr.log"));
}

}  // namespace
}  // namespace qbr
