#include "support/test_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qbr::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device device;
  std::mt19937_64 generator(device());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path() / ("qbr-test-" + std::to_string(generator()));
    if (fs::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path TempDir::write(const std::string& name, const std::string& text) const {
  const fs::path file = path_ / name;
  std::ofstream out(file, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return file;
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

fs::path sourcePath(const std::string& relative) { return fs::path(QBR_SOURCE_DIR) / relative; }

namespace {

std::string shellQuote(const std::string& word) {
  std::string quoted(1, '\'');
  for (char c : word) {
    if (c == '\'') {
      quoted.append("'\\''");
    } else {
      quoted.push_back(c);
    }
  }
  quoted.push_back('\'');
  return quoted;
}

}  // namespace

ProgramRun runQbr(const fs::path& workDir, const std::vector<std::string>& args,
                  const std::string& stdinText) {
  TempDir scratch;
  const fs::path input = scratch.write("stdin.txt", stdinText);
  const fs::path output = scratch / "stdout.txt";
  std::string command = "cd ";
  command.append(shellQuote(workDir.string())).append(" && ").append(shellQuote(QBR_EXECUTABLE));
  for (const std::string& arg : args) command.append(" ").append(shellQuote(arg));
  command.append(" < ").append(shellQuote(input.string()));
  command.append(" > ").append(shellQuote(output.string()));
  const int status = std::system(command.c_str());
  ProgramRun run;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.console = readFile(output);
  return run;
}

}  // namespace qbr::testing
