// Helpers of the release tests: finding system programs, the build's own
// settings, the programs a build made, and the options a program's --help names.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32::test {

// Full path of a program on PATH, or empty.
inline std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/bin:/bin";
  for (size_t at = 0; at <= folders.size();) {
    const size_t end = std::min(folders.find(':', at), folders.size());
    const std::filesystem::path candidate =
        std::filesystem::path(folders.substr(at, end - at)) / name;
    if (!candidate.parent_path().empty() && ::access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
    at = end + 1;
  }
  return {};
}

// A value of the build's CMakeCache.txt ("NAME:TYPE=value"), or empty.
inline std::string BuildCacheValue(const std::string& name) {
  std::ifstream cache(std::filesystem::path(VS32_BIN_DIR) / "CMakeCache.txt");
  std::string line;
  while (std::getline(cache, line)) {
    if (line.compare(0, name.size() + 1, name + ":") == 0) {
      const size_t equals = line.find('=');
      if (equals != std::string::npos) return line.substr(equals + 1);
    }
  }
  return {};
}

// The build's cmake or cpack (the ones that configured this tree), else PATH's.
inline std::string BuildTool(const std::string& cacheName, const std::string& name) {
  const std::string fromCache = BuildCacheValue(cacheName);
  if (!fromCache.empty() && ::access(fromCache.c_str(), X_OK) == 0) return fromCache;
  return FindOnPath(name);
}

// The four programs a release installs.
inline const std::vector<std::string>& ReleasePrograms() {
  static const std::vector<std::string> programs = {"Vs32Rx", "Vs32RxC", "vs32decode", "vs32gen"};
  return programs;
}

// The release programs this build made (Vs32Rx needs Qt 6).
inline std::vector<std::string> BuiltReleasePrograms() {
  std::vector<std::string> built;
  for (const std::string& program : ReleasePrograms()) {
    if (std::filesystem::exists(BuiltProgram(program))) built.push_back(program);
  }
  return built;
}

// Every long option ("--name") a text mentions.
inline std::set<std::string> LongOptions(const std::string& text) {
  static const std::regex option(R"(--[a-z][a-z0-9-]*)");
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
       it != std::sregex_iterator(); ++it) {
    found.insert(it->str());
  }
  return found;
}

}  // namespace vs32::test
