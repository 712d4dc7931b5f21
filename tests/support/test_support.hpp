#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qbr::testing {

// A fresh directory under the system's temporary directory, removed with its content
// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `text` to the file `name` in this directory and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);

// A file of the repository, e.g. "examples/coax.txt".
std::filesystem::path sourcePath(const std::string& relative);

struct ProgramRun {
  int exitStatus = -1;
  std::string console;  // standard output
};

// Runs the built qbr executable in `workDir` with `args`, feeding `stdinText` to its
// standard input.
ProgramRun runQbr(const std::filesystem::path& workDir, const std::vector<std::string>& args,
                  const std::string& stdinText = "");

}  // namespace qbr::testing
