// The built program against files it cannot open, read or write: each run stops with
// its message and exit status 1, before the five-second closing wait.
//
// The tests run as root, which reads and writes files whatever their permission bits.
// Where a permission is the point, the program runs as the unprivileged user nobody
// (through setpriv); those cases are skipped where that is not possible.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>

#include "driver/driver.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::readFile;
using testing::runQbr;
using testing::TempDir;

const std::string kModel = "lambda 0.1\npt 0 0 0\ncircle 1 0 1 + 0 8\n";

std::string quote(const std::string& word) {
  return "'" + word + "'";  // the paths here hold no quotes
}

bool canRunAsNobody() {
  return geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0;
}

// Runs qbr in `workDir` with `arg` as the user nobody.
ProgramRun runQbrAsNobody(const fs::path& workDir, const std::string& arg) {
  TempDir scratch;
  const fs::path output = scratch / "stdout.txt";
  const std::string command =
      "cd " + quote(workDir.string()) + " && setpriv --reuid=65534 --regid=65534 --clear-groups " +
      quote(QBR_EXECUTABLE) + " " + quote(arg) + " </dev/null > " + quote(output.string());
  const int status = std::system(command.c_str());
  ProgramRun run;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.console = readFile(output);
  return run;
}

// A directory that nobody may enter and, when `writable`, write into.
void openTo(const fs::path& dir, bool writable) {
  fs::permissions(dir, writable
                           ? fs::perms::all
                           : fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                 fs::perms::others_read | fs::perms::others_exec);
}

std::string stopText(const std::string& name, const std::string& message) {
  return bannerText() + "Input file: " + name + "\n" + message + "\n";
}

TEST(RobustnessE2e, InputFileThatIsADirectory) {
  TempDir dir;
  fs::create_directory(dir / "input.txt");
  const ProgramRun run = runQbr(dir.path(), {"input.txt"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, stopText("input.txt", "\nCan not open input file input.txt"));
  EXPECT_EQ(readFile(dir / "qbr.log"),
            "\nInput file: input.txt\n\nCan not open input file input.txt\n");
}

TEST(RobustnessE2e, InputFileThatCannotBeRead) {
  // Opens, but reading its first page fails.
  TempDir dir;
  const ProgramRun run = runQbr(dir.path(), {"/proc/self/mem"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, stopText("/proc/self/mem", "\nCan not read input file /proc/self/mem"));
}

TEST(RobustnessE2e, InputFileWithoutReadPermission) {
  if (!canRunAsNobody()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  openTo(dir.path(), true);
  dir.write("secret.txt", kModel);
  fs::permissions(dir / "secret.txt", fs::perms::owner_read | fs::perms::owner_write);
  const ProgramRun run = runQbrAsNobody(dir.path(), "secret.txt");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, stopText("secret.txt", "\nCan not open input file secret.txt"));
  EXPECT_EQ(readFile(dir / "qbr.log"),
            "\nInput file: secret.txt\n\nCan not open input file secret.txt\n");
}

TEST(RobustnessE2e, PolylineFileWithoutReadPermission) {
  if (!canRunAsNobody()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  openTo(dir.path(), true);
  dir.write("model.txt", "lambda 0.1\ndxc shapes.dxc\n");
  dir.write("shapes.dxc", "head\n$EOF\n");
  fs::permissions(dir / "shapes.dxc", fs::perms::owner_read | fs::perms::owner_write);
  const ProgramRun run = runQbrAsNobody(dir.path(), "model.txt");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, stopText("model.txt", "\nCan not open DXC file\n"));
}

TEST(RobustnessE2e, PostScriptFileThatCannotBeOpened) {
  // The stop reaches the console only; the log keeps the echo written before it.
  TempDir dir;
  dir.write("model.txt", kModel);
  fs::create_directory(dir / "model.txt.eps");
  const ProgramRun run = runQbr(dir.path(), {"model.txt"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.console.ends_with("\nCannot open PostScript file  < model.txt.eps>\n"))
      << run.console;
  const std::string log = readFile(dir / "qbr.log");
  EXPECT_NE(log.find("1 boundary elements;"), std::string::npos);
  EXPECT_EQ(log.find("PostScript"), std::string::npos);
}

TEST(RobustnessE2e, PostScriptFileInADirectoryWithoutWritePermission) {
  if (!canRunAsNobody()) GTEST_SKIP() << "needs root and setpriv";
  TempDir work;
  TempDir inputs;
  openTo(work.path(), true);
  openTo(inputs.path(), false);
  const fs::path input = inputs.write("model.txt", kModel);
  const ProgramRun run = runQbrAsNobody(work.path(), input.string());
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(
      run.console.ends_with("\nCannot open PostScript file  < " + input.string() + ".eps>\n"))
      << run.console;
  EXPECT_FALSE(fs::exists(input.string() + ".eps"));
}

TEST(RobustnessE2e, LogInADirectoryWithoutWritePermission) {
  if (!canRunAsNobody()) GTEST_SKIP() << "needs root and setpriv";
  TempDir dir;
  openTo(dir.path(), false);
  dir.write("model.txt", kModel);
  const ProgramRun run = runQbrAsNobody(dir.path(), "model.txt");
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.console, bannerText() + "\nCannot open output file  < qbr.log>\n");
  EXPECT_FALSE(fs::exists(dir / "qbr.log"));
}

TEST(RobustnessE2e, OddlyWrittenNumbersAndZeroFrequencyAreComputed) {
  // A lossless superconductor's wave number does not depend on the frequency, so the
  // static case must give the inductance of the 10 GHz case exactly, whatever the
  // spelling of the numbers (signed zeros, underflow to zero, exponents, hex).
  TempDir dir;
  dir.write("plain.txt",
            "frequency 10 ghz\nlambda 0.09\npt 0 0 0\n"
            "circle 1 0 1 + 0 12\ncircle 0 0 3 - 0 16\ncircle 0 0 4 + 0 16\n");
  dir.write("odd.txt",
            "FREQUENCY=0,GHZ\nlambda 9e-2\nsigma -0\npt 0 -0 1e-999\n"
            "circle +1 0 0x1p0 + 0 12\ncircle 0 0 3.0e0 - 0 16\ncircle 0 0 +4 + 0 16\n");
  auto plain = std::async(std::launch::async, [&] { return runQbr(dir.path(), {"plain.txt"}); });
  TempDir other;
  const ProgramRun odd = runQbr(other.path(), {(dir / "odd.txt").string()});
  const ProgramRun reference = plain.get();
  ASSERT_EQ(reference.exitStatus, 0) << reference.console;
  ASSERT_EQ(odd.exitStatus, 0) << odd.console;
  const auto matrix = [](const std::string& console) {
    const std::size_t start = console.find("Inductance matrix");
    return console.substr(start, console.find("Total time") - start);
  };
  EXPECT_EQ(matrix(odd.console), matrix(reference.console));
  EXPECT_EQ(matrix(odd.console).find("nan"), std::string::npos) << odd.console;
  EXPECT_EQ(matrix(odd.console).find("inf"), std::string::npos) << odd.console;
  EXPECT_NE(odd.console.find("Frequency:  0 hz"), std::string::npos);
}

}  // namespace
}  // namespace qbr
