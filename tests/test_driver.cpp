// The driver run in-process, without the closing wait.
#include <gtest/gtest.h>

#include <sstream>

#include "driver/driver.hpp"
#include "support/test_support.hpp"

namespace qbr {
namespace {

using testing::readFile;
using testing::TempDir;

// Counts code points, not bytes: the frame is drawn with multi-byte characters.
std::size_t codePoints(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

TEST(Driver, BannerIsABoxSixtyCharactersWideFollowedByAnEmptyLine) {
  std::istringstream lines(bannerText());
  std::vector<std::string> rows;
  for (std::string row; std::getline(lines, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 4u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(codePoints(rows[i]), 60u) << rows[i];
  EXPECT_EQ(rows[0].rfind("\u2554", 0), 0u);
  EXPECT_EQ(rows[1].find("\u2551QBR:"), 0u);
  EXPECT_EQ(rows[2].rfind("\u255A", 0), 0u);
  EXPECT_EQ(rows[3], "");
}

TEST(Driver, AFileNameLongerThan255CharactersIsRejected) {
  TempDir dir;
  std::ostringstream console;
  std::istringstream in;
  const std::string name(256, 'a');
  const int status = runProgram({name}, in, console, {false, dir / "qbr.log"});
  EXPECT_EQ(status, 1);
  EXPECT_NE(console.str().find("longer than 255 characters"), std::string::npos);
  EXPECT_NE(readFile(dir / "qbr.log").find("longer than 255 characters"), std::string::npos);
}

}  // namespace
}  // namespace qbr
