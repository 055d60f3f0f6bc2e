// The source folders stay in layers, bottom to top: config, audio, engine,
// report, receiver, then the programs (console, gui, tools), which share
// nothing but the library. A file includes headers of its own folder and of
// folders below it only, so no folder comes to depend on itself in a circle.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32 {
namespace {

constexpr int kProgramLayer = 5;
const std::map<std::string, int> kLayers = {{"config", 0},          {"audio", 1},
                                            {"engine", 2},          {"report", 3},
                                            {"receiver", 4},        {"console", kProgramLayer},
                                            {"gui", kProgramLayer}, {"tools", kProgramLayer}};

// Every include under `root` that reaches above its file's folder (or into
// another program), as "file -> folder".
std::vector<std::string> IncludesAgainstTheLayers(const std::filesystem::path& root) {
  const std::regex include(R"(^\s*#\s*include\s*"([a-z0-9_]+)/)");
  std::vector<std::string> found;
  for (const auto& [folder, layer] : kLayers) {
    if (!std::filesystem::is_directory(root / folder)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".h" && extension != ".cpp") continue;
      std::ifstream in(entry.path());
      std::string line;
      std::smatch match;
      while (std::getline(in, line)) {
        if (!std::regex_search(line, match, include)) continue;
        const auto target = kLayers.find(match[1].str());
        if (target == kLayers.end() || target->first == folder) continue;
        if (target->second > layer || (layer == kProgramLayer && target->second == layer)) {
          found.push_back(std::filesystem::relative(entry.path(), root).string() + " -> " +
                          target->first);
        }
      }
    }
  }
  return found;
}

TEST(Layering, NoFolderIncludesOneAboveIt) {
  EXPECT_EQ(IncludesAgainstTheLayers(VS32_SOURCE_DIR), std::vector<std::string>{});
}

TEST(Layering, UpwardAndSidewaysIncludesAreFound) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "config");
  std::filesystem::create_directories(dir / "engine");
  std::filesystem::create_directories(dir / "gui");
  test::WriteFile(dir / "config" / "a.h", "#include <vector>\n#include \"config/b.h\"\n");
  test::WriteFile(dir / "config" / "b.cpp", "  #  include \"engine/c.h\"\n");
  test::WriteFile(dir / "engine" / "c.h", "#include \"config/a.h\"\n");
  test::WriteFile(dir / "gui" / "d.cpp", "#include \"engine/c.h\"\n#include \"console/e.h\"\n");
  EXPECT_EQ(IncludesAgainstTheLayers(dir.path()),
            (std::vector<std::string>{"config/b.cpp -> engine", "gui/d.cpp -> console"}));
}

}  // namespace
}  // namespace vs32
