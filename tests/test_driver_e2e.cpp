// Runs of the built program in a temporary directory: what the user sees on the
// console, what lands in qbr.log, and the exit status.
#include <gtest/gtest.h>

#include <filesystem>

#include "driver/driver.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::readFile;
using testing::runQbr;
using testing::TempDir;

TEST(DriverE2e, MissingInputFileIsReportedOnConsoleAndInTheLog) {
  TempDir dir;
  const auto run = runQbr(dir.path(), {"nothere.txt"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console,
            bannerText() + "Input file: nothere.txt\n\nCan not open input file nothere.txt\n");
  EXPECT_EQ(readFile(dir / "qbr.log"),
            "\nInput file: nothere.txt\n\nCan not open input file nothere.txt\n");
}

TEST(DriverE2e, PromptTakesTheFirstWordWhenNoOrSeveralArgumentsAreGiven) {
  TempDir dir;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    const auto run = runQbr(dir.path(), args, "nothere.txt and more\n");
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.console, bannerText() +
                               "Enter input file name:  \nInput file: nothere.txt\n\n"
                               "Can not open input file nothere.txt\n");
  }
}

TEST(DriverE2e, EndOfInputAtThePromptStopsBeforeTheLogIsOpened) {
  TempDir dir;
  const auto run = runQbr(dir.path(), {}, "");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, bannerText() + "Enter input file name:  \n\nNo input file name!\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "qbr.log"));
}

TEST(DriverE2e, AnExistingLogIsOverwritten) {
  TempDir dir;
  dir.write("qbr.log", "an earlier run's log\n");
  const auto run = runQbr(dir.path(), {"nothere.txt"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(readFile(dir / "qbr.log").find("earlier"), std::string::npos);
}

TEST(DriverE2e, AnUnwritableLogStopsTheRun) {
  TempDir dir;
  std::filesystem::create_directory(dir / "qbr.log");  // a directory cannot be opened as a file
  const auto run = runQbr(dir.path(), {"nothere.txt"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, bannerText() + "\nCannot open output file  < qbr.log>\n");
}

TEST(DriverE2e, ALogThatCannotBeWrittenFailsTheRun) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TempDir dir;
  std::filesystem::create_symlink("/dev/full", dir / "qbr.log");
  dir.write("wire.txt", "lambda 0.1\npt 0 0 0\ncircle 1 0 1 + 0 8\n");
  const auto run = runQbr(dir.path(), {"wire.txt"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.console.find("\nCannot write output file  < qbr.log>\n"), std::string::npos);
  EXPECT_EQ(run.console.find("Wait to close"), std::string::npos);
}

}  // namespace
}  // namespace qbr
