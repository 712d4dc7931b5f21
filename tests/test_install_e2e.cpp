// The install step: `cmake --install <build> --prefix <dir>` puts a working qbr into
// <dir>/bin, which runs from anywhere without the build tree, and the library with its
// headers and CMake package, which another project finds with find_package(qbr).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "qbr/qbr.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;

// A shell command from words and quoted paths. Built by appending: GCC 12 warns
// falsely about chains of string concatenation.
class Command {
 public:
  Command& word(const std::string& text) {
    text_.append(text).append(" ");
    return *this;
  }
  Command& path(const fs::path& p) {
    text_.append("'").append(p.string()).append("' ");
    return *this;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

int exitStatusOf(const Command& command) {
  const int status = std::system(command.text().c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void install(const TempDir& prefix, const TempDir& work) {
  const fs::path buildDir = fs::path(QBR_EXECUTABLE).parent_path();
  const fs::path installLog = work / "install.txt";
  ASSERT_EQ(exitStatusOf(Command()
                             .word("cmake --install")
                             .path(buildDir)
                             .word("--prefix")
                             .path(prefix.path())
                             .word(">")
                             .path(installLog)
                             .word("2>&1")),
            0)
      << readFile(installLog);
}

TEST(InstallE2e, InstalledProgramRunsAndStopsOnAMissingFile) {
  TempDir prefix;
  TempDir work;
  ASSERT_NO_FATAL_FAILURE(install(prefix, work));
  const fs::path installLog = work / "install.txt";

  const fs::path installed = prefix / "bin/qbr";
  ASSERT_TRUE(fs::exists(installed)) << readFile(installLog);
  EXPECT_TRUE((fs::status(installed).permissions() & fs::perms::owner_exec) != fs::perms::none);

  const fs::path console = work / "console.txt";
  const int status = exitStatusOf(Command()
                                      .word("cd")
                                      .path(work.path())
                                      .word("&&")
                                      .path(installed)
                                      .word("missing.txt >")
                                      .path(console)
                                      .word("2>&1 < /dev/null"));
  EXPECT_EQ(status, 1);
  const std::string text = readFile(console);
  EXPECT_NE(text.find("Input file: missing.txt\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nCan not open input file missing.txt\n"), std::string::npos) << text;
  // The run log is written in the working directory, with the same message.
  const std::string log = readFile(work / "qbr.log");
  EXPECT_NE(log.find("\nCan not open input file missing.txt\n"), std::string::npos) << log;
}

// examples/api, a project of its own, configured against the installed package only.
TEST(InstallE2e, AConsumerProjectFindsTheLibraryAndComputes) {
  TempDir prefix;
  TempDir work;
  ASSERT_NO_FATAL_FAILURE(install(prefix, work));
  const fs::path build = work / "consumer";
  const fs::path output = work / "consumer.txt";
  const int status = exitStatusOf(Command()
                                      .word("cmake -S")
                                      .path(testing::sourcePath("examples/api"))
                                      .word("-B")
                                      .path(build)
                                      .word("-DCMAKE_PREFIX_PATH=" + prefix.path().string())
                                      .word(">")
                                      .path(output)
                                      .word("2>&1 && cmake --build")
                                      .path(build)
                                      .word(">>")
                                      .path(output)
                                      .word("2>&1 &&")
                                      .path(build / "strip_sweep")
                                      .word(">>")
                                      .path(output)
                                      .word("2>&1"));
  const std::string text = readFile(output);
  EXPECT_EQ(status, 0) << text;
  // The consumer's figure for the 2 um strip is the one this build's library computes.
  Model strip;
  strip.lengthUnit("um").frequency(10, "ghz").lambda(0.09).ah(0.05);
  strip.rectangle(-10, 10, -0.2, 0, 0, 0, 200, 5).rectangle(-1, 1, 0.2, 0.4, 1, 0, 50, 5);
  char expected[64];
  std::snprintf(expected, sizeof expected, "width 2.0 um: L = %.6g H/m,",
                solve(strip).inductanceHPerM(0, 0));
  EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  EXPECT_NE(text.find("70 % of the current at the bottom"), std::string::npos) << text;
}

}  // namespace
}  // namespace qbr
