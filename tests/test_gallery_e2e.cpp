// The examples gallery (examples/README.md) states for every example the result that the
// program prints and, for the coaxial lines, the closed-form reference. Each example is
// run here with the built program and compared with what the gallery says, so that the
// gallery cannot drift from the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/coax_reference.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::runQbr;
using testing::sourcePath;
using testing::TempDir;

std::string galleryText() {
  return readFile(sourcePath("examples/README.md"));
}

// The lines between "<!-- gallery:KEY -->" and "<!-- /gallery:KEY -->".
std::string galleryBlock(const std::string& key) {
  const std::string text = galleryText();
  const std::string begin = "<!-- gallery:" + key + " -->\n";
  const std::string end = "<!-- /gallery:" + key + " -->";
  const std::size_t from = text.find(begin);
  if (from == std::string::npos) return {};
  const std::size_t to = text.find(end, from);
  if (to == std::string::npos) return {};
  return text.substr(from + begin.size(), to - from - begin.size());
}

// The examples that have a result block in the gallery, in its order.
std::vector<std::string> galleryExamples() {
  const std::string text = galleryText();
  const std::regex marker(R"(<!-- gallery:(\w+):result -->)");
  std::vector<std::string> names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), marker);
       it != std::sregex_iterator(); ++it) {
    names.push_back((*it)[1]);
  }
  return names;
}

// The numbers of a result matrix as printed: per entry line, real and imaginary part
// (inductance report) or R, X and L (impedance report), with the line's indices.
struct MatrixLine {
  std::string indices;
  std::vector<double> values;
};

std::vector<MatrixLine> matrixLines(const std::string& text) {
  const std::regex inductance(R"((\d)  (\d)   \(([^,]+),([^)]+)\))");
  const std::regex impedance(R"(i=(\d)  j=(\d)   R=(\S+)   X=(\S+)   L=(\S+))");
  std::vector<MatrixLine> lines;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, inductance)) {
      lines.push_back({m.str(1) + m.str(2), {std::stod(m.str(3)), std::stod(m.str(4))}});
    } else if (std::regex_match(line, m, impedance)) {
      lines.push_back(
          {m.str(1) + m.str(2), {std::stod(m.str(3)), std::stod(m.str(4)), std::stod(m.str(5))}});
    }
  }
  return lines;
}

// The line parameters as printed, when the example gives the permittivity: capacitance
// entries, Z0, velocity (and its share of c) and delay, each with its label.
std::vector<MatrixLine> parameterLines(const std::string& text) {
  const std::regex capacitance(R"((\d)  (\d)   ([-+0-9.e]+))");
  const std::regex labelled(
      R"((Z0 \[ohm\]|Phase velocity \[m/s\]|Delay \[ps/mm\]):  (\S+)(?: \((\S+) c\))?)");
  std::vector<MatrixLine> lines;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, capacitance)) {
      std::string indices = m.str(1);
      indices += m.str(2);
      lines.push_back({"C" + indices, {std::stod(m.str(3))}});
    } else if (std::regex_match(line, m, labelled)) {
      // A lossy line's Z0 is complex: "(re,im)".
      const std::string value = m.str(2);
      std::smatch parts;
      const std::regex complex(R"(\(([^,]+),([^)]+)\))");
      if (std::regex_match(value, parts, complex)) {
        lines.push_back({m.str(1), {std::stod(parts.str(1)), std::stod(parts.str(2))}});
      } else {
        lines.push_back({m.str(1), {std::stod(value)}});
      }
      if (m[3].matched) lines.back().values.push_back(std::stod(m.str(3)));
    }
  }
  return lines;
}

// The superconductor report's figures, when the example has patches of kind mb or twofluid:
// per conductor L, L_ext, L_k and alpha, and Q_c.
std::vector<MatrixLine> superconductorLines(const std::string& text) {
  const std::regex kinetic(R"((\d)   (\S+)   (\S+)   (\S+)   (\S+))");
  const std::regex quality(R"((\d)   ([-+0-9.e]+))");
  std::vector<MatrixLine> lines;
  std::istringstream in(text);
  std::string line;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, kinetic) || std::regex_match(line, m, quality)) {
      // Built by appending: GCC 12 warns falsely on a literal + std::string here.
      std::string indices(m.size() == 6 ? "L" : "Q");
      indices += m.str(1);
      std::vector<double> values;
      for (std::size_t k = 2; k < m.size(); ++k) values.push_back(std::stod(m.str(k)));
      lines.push_back({indices, values});
    }
  }
  return lines;
}

// The summary line "Conductors: ... Frequency: ... hz".
std::string summaryLine(const std::string& text) {
  const std::size_t from = text.find("Conductors:  ");
  if (from == std::string::npos) return {};
  return text.substr(from, text.find('\n', from) - from);
}

class GalleryExample : public ::testing::TestWithParam<std::string> {};

TEST_P(GalleryExample, RunsAndPrintsTheStatedResult) {
  const std::string name = GetParam();
  TempDir dir;
  for (const auto& entry : fs::directory_iterator(sourcePath("examples"))) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".txt" || extension == ".dxc") {
      fs::copy_file(entry.path(), dir / entry.path().filename().string());
    }
  }
  const testing::ProgramRun run = runQbr(dir.path(), {name + ".txt"});
  ASSERT_EQ(run.exitStatus, 0) << run.console;

  const std::string stated = galleryBlock(name + ":result");
  ASSERT_FALSE(stated.empty()) << "no result block for " << name;
  EXPECT_EQ(summaryLine(run.console), summaryLine(stated));

  // Line parameters are printed exactly when the example gives a permittivity.
  EXPECT_EQ(parameterLines(run.console).size(), parameterLines(stated).size()) << run.console;

  const std::vector<MatrixLine> superconductors = superconductorLines(stated);
  const std::vector<MatrixLine> printedSuperconductors = superconductorLines(run.console);
  ASSERT_EQ(printedSuperconductors.size(), superconductors.size()) << run.console;
  for (std::size_t i = 0; i < superconductors.size(); ++i) {
    EXPECT_EQ(printedSuperconductors[i].indices, superconductors[i].indices);
    for (std::size_t k = 0; k < superconductors[i].values.size(); ++k) {
      EXPECT_NEAR(printedSuperconductors[i].values.at(k), superconductors[i].values[k],
                  2e-5 * std::fabs(superconductors[i].values[k]))
          << name << " " << superconductors[i].indices << " number " << k;
    }
  }

  const std::vector<MatrixLine> printed = matrixLines(run.console);
  const std::vector<MatrixLine> expected = matrixLines(stated);
  ASSERT_FALSE(expected.empty()) << stated;
  ASSERT_EQ(printed.size(), expected.size()) << run.console;
  // Six printed digits; other builds may differ in the last one, and the imaginary parts
  // of a lossless line are rounding noise, so every number is compared on the scale of
  // the block's largest number.
  double scale = 0.0;
  for (const MatrixLine& line : expected) {
    for (double v : line.values) scale = std::max(scale, std::fabs(v));
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(printed[i].indices, expected[i].indices);
    ASSERT_EQ(printed[i].values.size(), expected[i].values.size());
    for (std::size_t k = 0; k < expected[i].values.size(); ++k) {
      const double tolerance = 2e-5 * std::max(std::fabs(expected[i].values[k]), 1e-3 * scale);
      EXPECT_NEAR(printed[i].values[k], expected[i].values[k], tolerance)
          << name << " entry " << expected[i].indices << " number " << k;
    }
  }
}

// The examples whose stated result has line parameters (they give a permittivity).
std::vector<std::string> lineExamples() {
  std::vector<std::string> names;
  for (const std::string& name : galleryExamples()) {
    if (!parameterLines(galleryBlock(name + ":result")).empty()) names.push_back(name);
  }
  return names;
}

class GalleryLineExample : public ::testing::TestWithParam<std::string> {};

TEST_P(GalleryLineExample, PrintsTheStatedLineParameters) {
  const std::string name = GetParam();
  const std::vector<MatrixLine> expected = parameterLines(galleryBlock(name + ":result"));
  TempDir dir;
  fs::copy_file(sourcePath("examples/" + name + ".txt"), dir / (name + ".txt"));
  const testing::ProgramRun run = runQbr(dir.path(), {"--no-wait", "--quiet", name + ".txt"});
  ASSERT_EQ(run.exitStatus, 0) << run.console;
  const std::vector<MatrixLine> printed = parameterLines(run.console);
  ASSERT_EQ(printed.size(), expected.size()) << run.console;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(printed[i].indices, expected[i].indices);
    ASSERT_EQ(printed[i].values.size(), expected[i].values.size());
    for (std::size_t k = 0; k < expected[i].values.size(); ++k) {
      EXPECT_NEAR(printed[i].values[k], expected[i].values[k],
                  2e-5 * std::fabs(expected[i].values[k]))
          << name << " " << expected[i].indices;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, GalleryExample, ::testing::ValuesIn(galleryExamples()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });
INSTANTIATE_TEST_SUITE_P(Examples, GalleryLineExample, ::testing::ValuesIn(lineExamples()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

TEST(Gallery, ShowsEveryBundledExample) {
  const std::vector<std::string> shown = galleryExamples();
  for (const auto& entry : fs::directory_iterator(sourcePath("examples"))) {
    if (entry.path().extension() != ".txt") continue;
    const std::string name = entry.path().stem().string();
    EXPECT_NE(std::find(shown.begin(), shown.end(), name), shown.end())
        << name << ".txt has no entry in examples/README.md";
    EXPECT_TRUE(fs::exists(sourcePath("examples/gallery/" + name + ".png"))) << name;
  }
}

// The row "| <quantity> | computed | closed form | relative error |" of a reference table.
std::vector<double> referenceRow(const std::string& block, const std::string& quantity) {
  const std::string start = "| " + quantity + " | ";
  const std::size_t from = block.find(start);
  if (from == std::string::npos) return {};
  const std::size_t cells = from + start.size();
  std::istringstream row(block.substr(cells, block.find('\n', cells) - cells));
  std::vector<double> numbers;
  std::string cell;
  while (std::getline(row, cell, '|')) {
    if (cell.find_first_not_of(' ') != std::string::npos) numbers.push_back(std::stod(cell));
  }
  return numbers;
}

// The closed-form figures of the gallery are the formulas' own, and the stated errors
// follow from them.
TEST(Gallery, StatesTheClosedFormReferences) {
  const auto check = [](const std::vector<double>& row, double reference, const char* what) {
    ASSERT_EQ(row.size(), 3u) << what;
    EXPECT_NEAR(row[1] / reference, 1.0, 1e-8) << what;
    EXPECT_NEAR(row[2], std::fabs(row[0] / row[1] - 1.0), 0.06 * row[2] + 1e-9) << what;
    EXPECT_LT(row[2], 1e-4) << what;
  };
  const std::string sc = galleryBlock("coax_sc:reference");
  check(referenceRow(sc, "L (pH/um)"),
        reference::superconductingCoaxInductance(0.09, 1.0, 3.0, 4.0).total(), "coax_sc L");

  const double omega = 2 * reference::kPiFull * 1e6;
  const reference::Cd z = reference::normalCoaxImpedance(58e6, omega, 0.5e-3, 1.75e-3, 2e-3);
  const std::string cu = galleryBlock("coax_copper:reference");
  check(referenceRow(cu, "R (ohm/m times 1e6)"), z.real(), "coax_copper R");
  check(referenceRow(cu, "L (pH/um)"), z.imag() / omega, "coax_copper L");
}

}  // namespace
}  // namespace qbr
