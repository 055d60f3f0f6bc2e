// Small helpers shared by the tests: scratch folders, files and child programs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vs32::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Changes the working folder for the lifetime of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir);
  ~ScopedCwd();

 private:
  std::filesystem::path old_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

struct CommandResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a program with arguments (no shell), optionally in a folder and with extra
// environment entries "NAME=value"; collects both output streams.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& cwd = "",
                         const std::vector<std::string>& env = {});

// Path of a program built in this build tree (tools, console program).
std::string BuiltProgram(const std::string& name);

// Runs a Python program text with Debian's python3 (scripts/setup installs it),
// e.g. to read output with the json module as users' scripts would.
CommandResult RunPython(const std::string& program, const std::vector<std::string>& args = {});

// prefix + number + suffix, built by appending (GCC 12 warns falsely about
// "x" + std::string).
inline std::string Numbered(const char* prefix, int number, const char* suffix = "") {
  std::string text(prefix);
  text.append(std::to_string(number)).append(suffix);
  return text;
}

}  // namespace vs32::test
