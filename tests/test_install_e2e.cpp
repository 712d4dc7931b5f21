// The install step: `cmake --install <build> --prefix <dir>` puts a working qbr into
// <dir>/bin, which runs from anywhere without the build tree.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

TEST(InstallE2e, InstalledProgramRunsAndStopsOnAMissingFile) {
  TempDir prefix;
  TempDir work;
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

}  // namespace
}  // namespace qbr
