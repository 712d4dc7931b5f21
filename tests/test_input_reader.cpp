#include <gtest/gtest.h>

#include <string>

#include "base/fatal_stop.hpp"
#include "model/input_reader.hpp"
#include "model/line_tokens.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::TempDir;

class InputReaderTest : public ::testing::Test {
 protected:
  // Reads `text` as an input file into `model`, after setDefaults.
  void read(const std::string& text) {
    setDefaults(model);
    readInputFile(model, dir.write("input.txt", text).string());
  }
  // The message of the fatal stop that reading `text` must end with.
  std::string stop(const std::string& text) {
    try {
      read(text);
    } catch (const FatalError& error) {
      return error.message();
    }
    ADD_FAILURE() << "no fatal stop for:\n" << text;
    return {};
  }

  TempDir dir;
  ProblemModel model;
};

std::string repeat(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line;
  return text;
}

std::string points(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "pt " + std::to_string(i) + " " + std::to_string(i) + " 0\n";
  return text;
}

TEST_F(InputReaderTest, LineClassification) {
  read(
      "  pt 0 9 9\n"  // two blanks: skipped
      " pt 0 1 1\n"   // one blank: read
      "\tpt 1 2 2\n"  // tab first: read
      "\n\t\n"
      "rem pt 2 3 3\nREM pt 2 3 3\n// pt 2 3 3\n"
      "Rem frequency 7\n"  // not a comment, but no keyword either
      "cc First title\n"
      "cc  Two  blanks kept\n"
      "CC frequency 5\n"
      "ah 0.25");  // last line without a line break
  EXPECT_EQ(model.pointCount, 2);
  EXPECT_EQ(model.points[0].x, 1.0);
  EXPECT_EQ(model.points[1].y, 2.0);
  EXPECT_EQ(model.caption, " Two  blanks kept");
  EXPECT_EQ(model.frequency, 1.0);
  EXPECT_EQ(model.ah, 0.25);

  read("cc A\ncc\n");
  EXPECT_EQ(model.caption, "");
}

TEST_F(InputReaderTest, SeparatorsCaseAndLineEnds) {
  read(
      "FREQUENCY = 10, GHz\r\n"
      "lengthunit\t\tMM\r\n"
      "pt=0,,1.5\t 2.5=\r\n"
      " , = \t\r\n"  // separators only: skipped
      "cc Windows Title\r\n"
      "symmetry on\r\nvariables impedance\r\nconductanceunit S/M\r\n");
  EXPECT_EQ(model.frequency, 10.0);
  EXPECT_EQ(model.frequencyUnit, "ghz");
  EXPECT_EQ(model.lengthunit, "mm");
  EXPECT_EQ(model.conductanceunit, "s/m");
  EXPECT_EQ(model.symmetry, "on");
  EXPECT_EQ(model.variables, "impedance");
  EXPECT_EQ(model.caption, "Windows Title");
  ASSERT_EQ(model.pointCount, 1);
  EXPECT_EQ(model.points[0].x, 1.5);
  EXPECT_EQ(model.points[0].y, 2.5);
}

TEST_F(InputReaderTest, LongLinesAreReadInFull) {
  const std::string title(400, 't');
  read("cc " + title + "\n" + "frequency" + std::string(300, ' ') + "5 khz\n" + "pt 0 1 2\n");
  EXPECT_EQ(model.caption, title);
  EXPECT_EQ(model.frequency, 5.0);
  EXPECT_EQ(model.frequencyUnit, "khz");
  EXPECT_EQ(model.pointCount, 1);
}

TEST_F(InputReaderTest, EmptyFileLeavesTheDefaults) {
  read("");
  EXPECT_EQ(model.pointCount, 0);
  EXPECT_EQ(model.elementCount, 0);
  EXPECT_EQ(model.patchCount, 0);
  EXPECT_EQ(model.caption, "");
  EXPECT_EQ(model.frequencyUnit, "mhz");
  EXPECT_EQ(model.gridsize, 1.0);
}

TEST_F(InputReaderTest, SettingsAndPatches) {
  read(
      "ah 0.02\nlambda 0.09\nsigma 3\ngridsize 0.5\nfrequency 50\n"
      "patch 2 sc 0 0.05\npatch 1 nc 58\n");
  EXPECT_EQ(model.ah, 0.02);
  EXPECT_EQ(model.patches[0].lambda, 0.09);
  EXPECT_EQ(model.patches[0].sigma, 3.0);
  EXPECT_EQ(model.gridsize, 0.5);
  EXPECT_EQ(model.frequency, 50.0);
  EXPECT_EQ(model.frequencyUnit, "mhz");  // unit left out keeps the default
  EXPECT_TRUE(model.patches[2].superconducting);
  EXPECT_EQ(model.patches[2].sigma, 0.0);
  EXPECT_EQ(model.patches[2].lambda, 0.05);
  EXPECT_EQ(model.patches[2].mu, 1.0);
  EXPECT_FALSE(model.patches[1].superconducting);
  EXPECT_EQ(model.patches[1].sigma, 58.0);
  EXPECT_EQ(model.patchCount, 3);

  read("patch 2 nc 58 0.1 2.5\npatch 2 SC\n");
  EXPECT_TRUE(model.patches[2].superconducting);
  EXPECT_EQ(model.patches[2].mu, 2.5);  // a later line keeps what it leaves out
  EXPECT_EQ(model.patches[2].sigma, 58.0);
}

TEST_F(InputReaderTest, CircleDirectionAndOptionalItems) {
  read(
      "circle 1 5 2.0\n"
      "circle 1 5 2.0 - 3 40\n"
      "circle 1 5 2.0 3\n"
      "circle 1 5 2.0 +x 4\n"
      "line 2 0 1\n"
      "curve 3 0 1 2 7 12\n"
      "pt 0 0 0\npt 1 1 0\npt 2 2 1\npt 3 3 3\npt 4 4 4\npt 5 5 5\n");
  ASSERT_EQ(model.elementCount, 6);
  const auto& e = model.elements;
  EXPECT_EQ(e[0].kind, kCircle);
  EXPECT_EQ(e[0].conductor, 1);
  EXPECT_EQ(e[0].pointNumbers[0], 5);
  EXPECT_EQ(e[0].R, 2.0);
  EXPECT_TRUE(e[0].dir);
  EXPECT_FALSE(e[1].dir);
  EXPECT_EQ(e[1].patch, 3);
  EXPECT_EQ(e[1].gridCount, 40);
  EXPECT_FALSE(e[2].dir);  // "3" is taken as the direction token
  EXPECT_EQ(e[2].patch, 0);
  EXPECT_TRUE(e[3].dir);
  EXPECT_EQ(e[3].patch, 4);
  EXPECT_EQ(e[4].kind, kLine);
  EXPECT_EQ(e[4].conductor, 2);
  EXPECT_EQ(e[4].pointNumbers[1], 1);
  EXPECT_EQ(e[4].patch, 0);
  EXPECT_EQ(e[4].gridCount, 0);
  EXPECT_EQ(e[5].kind, kCurve);
  EXPECT_EQ((std::array<std::int32_t, 3>{0, 1, 2}), e[5].pointNumbers);
  EXPECT_EQ(e[5].patch, 7);
  EXPECT_EQ(e[5].gridCount, 12);
}

TEST_F(InputReaderTest, ElementsByCoordinatesSharePoints) {
  read(
      "el 0 1 0 0 1 0\n"
      "el 1 1 1 0 1.5 0.5 1 1 2 30\n"
      "el 2 0 0.5 0.5 0.25 - 1\n");
  ASSERT_EQ(model.elementCount, 3);
  EXPECT_EQ(model.pointCount, 5);
  const auto& e = model.elements;
  EXPECT_EQ(e[0].kind, kLine);
  EXPECT_EQ(e[0].conductor, 1);
  EXPECT_EQ(e[1].pointNumbers[0], 1);  // (1, 0) shared with the line's end
  EXPECT_EQ(e[1].pointNumbers[2], 3);
  EXPECT_EQ(e[1].patch, 2);
  EXPECT_EQ(e[1].gridCount, 30);
  EXPECT_EQ(e[2].kind, kCircle);
  EXPECT_EQ(e[2].pointNumbers[0], 4);
  EXPECT_EQ(e[2].R, 0.25);
  EXPECT_FALSE(e[2].dir);
  EXPECT_EQ(e[2].patch, 1);

  EXPECT_EQ(stop("el 3 0 0 0 1 1\n"), "Unknown type of boundary elements, STOP");
  EXPECT_EQ(stop("el 2 0 0.5 0.5 0.25\n"),
            "\nLine 1 of the input file: the direction is missing: el 2 0 0.5 0.5 0.25\n");
}

TEST_F(InputReaderTest, PointNumbering) {
  read("pt 0 0 0\npt 1 0 0\npt 1 1e-8 2\n");
  EXPECT_EQ(model.pointCount, 2);  // the repeated point took no number
  EXPECT_EQ(stop("pt 0 0 0\npt 1 0 0\npt 2 3 3\n"), "\nError point number\n");
  EXPECT_EQ(stop("pt 1 0 0\n"), "\nError point number\n");
}

TEST_F(InputReaderTest, CapacitiesStopWithTheirMessages) {
  const std::string last = std::to_string(kMaxPoints);
  EXPECT_EQ(stop(points(kMaxPoints) + "pt " + last + " -1 -1\n"), "Too many basic points, STOP");
  EXPECT_EQ(stop(points(kMaxPoints) + "el 0 0 0.5 0 1 0\n"), "\nToo many points!\n");
  EXPECT_EQ(stop(points(2) + repeat("line 0 0 1\n", kMaxElements) + "circle 0 0 1\n"),
            "Too many boundary elements, STOP");
  EXPECT_EQ(stop("patch " + std::to_string(kMaxPatches) + " nc 1\n"),
            "\nToo large patch number, STOP\n");
  EXPECT_EQ(stop("pl 10 1 1\n"), "\nToo big polyline number, STOP\n");
  const std::string top = std::to_string(kMaxPatches - 1);
  read("patch " + top + " nc 1\npl 9 5 " + top + "\n");
  EXPECT_EQ(model.patchCount, kMaxPatches);
  EXPECT_EQ(model.polylineLayers[9].conductor, 5);
  EXPECT_EQ(model.polylineLayers[9].patch, kMaxPatches - 1);
}

TEST_F(InputReaderTest, CannotOpen) {
  const std::string missing = (dir / "missing.txt").string();
  try {
    readInputFile(model, missing);
    FAIL();
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nCan not open input file " + missing);
  }
  try {
    readInputFile(model, dir.path().string());
    FAIL();
  } catch (const FatalError& error) {
    EXPECT_EQ(error.message(), "\nCan not open input file " + dir.path().string());
  }
}

TEST_F(InputReaderTest, NumberTokens) {
  read("pt 0 1.5mm -2e-1\nline 3.5 0 0 +2 7x\n");
  EXPECT_EQ(model.points[0].x, 1.5);  // characters after the number are ignored
  EXPECT_EQ(model.points[0].y, -0.2);
  EXPECT_EQ(model.elements[0].conductor, 3);
  EXPECT_EQ(model.elements[0].patch, 2);
  EXPECT_EQ(model.elements[0].gridCount, 7);
}

TEST_F(InputReaderTest, BadInputNamesTheLine) {
  EXPECT_EQ(stop("rem first\npt 0 1\n"),
            "\nLine 2 of the input file: the y coordinate is missing: pt 0 1\n");
  EXPECT_EQ(
      stop("Frequency ten GHz\n"),
      "\nLine 1 of the input file: the frequency \"ten\" is not a number: Frequency ten GHz\n");
  EXPECT_EQ(
      stop("line a 0 1\n"),
      "\nLine 1 of the input file: the conductor number \"a\" is not an integer: line a 0 1\n");
  EXPECT_EQ(stop("line 1 0 -1\n"),
            "\nLine 1 of the input file: the point number -1 is negative: line 1 0 -1\n");
  // 2^32 would wrap to point number 0.
  EXPECT_EQ(stop("pt 4294967296 0 0\n"),
            "\nLine 1 of the input file: the point number \"4294967296\" is out of range: pt "
            "4294967296 0 0\n");
  EXPECT_EQ(stop("lengthunit\n"),
            "\nLine 1 of the input file: the length unit is missing: lengthunit\n");

  const struct {
    const char* line;
    const char* problem;
  } cases[] = {
      {"pt -1 0 0", "the point number -1 is negative"},
      {"patch -1 nc", "the patch number -1 is negative"},
      {"patch 1", "the patch kind is missing"},
      {"patch 1 nc 5 x", "the lambda \"x\" is not a number"},
      {"pl -2 0 0", "the polyline layer number -2 is negative"},
      {"pl 1 -1 0", "the conductor number -1 is negative"},
      {"pl 1 1", "the patch number is missing"},
      {"pl 1 1 32", "the patch number 32 is larger than 31"},
      {"circle -1 0 1", "the conductor number -1 is negative"},
      {"circle 1 0", "the radius is missing"},
      {"line 1 0 1 -3", "the patch number -3 is negative"},
      {"line 1 0 1 32", "the patch number 32 is larger than 31"},
      {"line 1 0 1 1 -", "the grid count \"-\" is not an integer"},
      {"line 1 0 2147483648", "the point number \"2147483648\" is out of range"},
      {"el", "the element kind is missing"},
      {"el 0 1 0 0 1", "the y coordinate is missing"},
      {"rect 0 1 0", "the y2 is missing"},
      {"rect 0 1 0 1 -1", "the conductor number -1 is negative"},
      {"rect 0 1 0 1 0 40", "the patch number 40 is larger than 31"},
      {"dxc", "the polyline file name is missing"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(stop(std::string(c.line) + "\n"),
              std::string("\nLine 1 of the input file: ") + c.problem + ": " + c.line + "\n");
  }

  const std::string longName = "dxc /" + std::string(255, 'a');
  EXPECT_EQ(stop(longName + "\n"),
            "\nLine 1 of the input file: the polyline file name is longer than 255 characters: " +
                longName + "\n");
}

TEST_F(InputReaderTest, PointNumbersAreCheckedAfterReading) {
  read("line 1 0 1\ncircle 1 2 1\npt 0 0 0\npt 1 1 0\npt 2 5 5\n");
  EXPECT_EQ(model.elementCount, 2);
  EXPECT_EQ(stop("pt 0 0 0\npt 1 1 0\nline 1 0 1\ncurve 1 0 1 2\n"),
            "\nElement 1 uses point 2, which is not defined\n");
  EXPECT_EQ(stop("pt 0 0 0\ncircle 1 7 1\n"), "\nElement 0 uses point 7, which is not defined\n");
}

TEST_F(InputReaderTest, ByteOrderMarkIsIgnored) {
  read(
      "\xEF\xBB\xBF"
      "frequency 3 ghz\n");
  EXPECT_EQ(model.frequency, 3.0);
  EXPECT_EQ(model.frequencyUnit, "ghz");
}

TEST(ParseInt32, FollowsLongConversionWithinInt32) {
  std::int32_t value = 0;
  const char* end = nullptr;
  EXPECT_EQ(parseInt32("  -2147483648x", value, &end), ParseStatus::kOk);
  EXPECT_EQ(value, -2147483647 - 1);
  EXPECT_EQ(*end, 'x');
  EXPECT_EQ(parseInt32("+2147483647", value), ParseStatus::kOk);
  EXPECT_EQ(value, 2147483647);
  EXPECT_EQ(parseInt32("-2147483649", value), ParseStatus::kOutOfRange);
  EXPECT_EQ(parseInt32(std::string(40, '9').c_str(), value), ParseStatus::kOutOfRange);
  EXPECT_EQ(parseInt32("+", value), ParseStatus::kNotANumber);
  EXPECT_EQ(parseInt32(".5", value), ParseStatus::kNotANumber);
  EXPECT_EQ(parseInt32("", value), ParseStatus::kNotANumber);
}

}  // namespace
}  // namespace qbr
