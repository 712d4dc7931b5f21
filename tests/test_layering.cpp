// The folders of src/ are layers: a file includes headers of its own layer and of layers
// below it, never above. The public headers are self-contained; the plain value types
// among them (error, progress, result) sit at the bottom, the model and the solve at the
// level of the API.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "support/test_support.hpp"

namespace qbr {
namespace {

namespace fs = std::filesystem;

const std::map<std::string, int> kLayer = {{"base", 0},
                                           {"model", 1},
                                           {"prep", 2},
                                           {"bem", 3},
                                           {"report", 4},
                                           {"plot", 4},
                                           {"api", 5},
                                           {"driver", 6},
                                           {"qbr/error.hpp", 0},
                                           {"qbr/progress.hpp", 0},
                                           {"qbr/result.hpp", 0},
                                           {"qbr/export.hpp", 4},
                                           {"qbr/materials.hpp", 5},
                                           {"qbr/model.hpp", 5},
                                           {"qbr/solve.hpp", 5},
                                           {"qbr/synthesis.hpp", 5},
                                           {"qbr/qbr.hpp", 5}};

int layerOf(const std::string& included) {
  const auto exact = kLayer.find(included);
  if (exact != kLayer.end()) return exact->second;
  const auto folder = kLayer.find(included.substr(0, included.find('/')));
  return folder == kLayer.end() ? -1 : folder->second;
}

TEST(Layering, NoFileIncludesAHeaderOfALayerAboveItsOwn) {
  const std::regex include(R"re(^#include "([^"]+)")re");
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(testing::sourcePath("src"))) {
    if (!entry.is_regular_file()) continue;
    const std::string folder = entry.path().parent_path().filename().string();
    const int own = layerOf(folder);
    ASSERT_GE(own, 0) << "a folder without a layer: " << folder;
    ++files;
    std::ifstream in(entry.path());
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
      if (!std::regex_search(line, match, include)) continue;
      const int used = layerOf(match[1]);
      EXPECT_GE(used, 0) << entry.path() << " includes " << match[1] << ", which has no layer";
      EXPECT_LE(used, own) << entry.path() << " includes " << match[1] << " from a layer above";
    }
  }
  EXPECT_GT(files, 40);

  for (const auto& entry : fs::directory_iterator(testing::sourcePath("include/qbr"))) {
    std::ifstream in(entry.path());
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
      if (!std::regex_search(line, match, include)) continue;
      EXPECT_EQ(std::string(match[1]).rfind("qbr/", 0), 0u)
          << entry.path() << " includes " << match[1] << ", which is not installed";
      EXPECT_LE(layerOf(match[1]), layerOf("qbr/" + entry.path().filename().string()))
          << entry.path() << " includes " << match[1];
    }
  }
}

}  // namespace
}  // namespace qbr
