#include "config/ini_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace vs32 {

namespace {

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool Exists(const std::filesystem::path& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

IniEnvironment CurrentIniEnvironment() {
  IniEnvironment environment;
  std::error_code ec;
  environment.executable = std::filesystem::read_symlink("/proc/self/exe", ec);
  environment.vs32Ini = Environment("VS32_INI");
  environment.xdgConfigHome = Environment("XDG_CONFIG_HOME");
  environment.home = Environment("HOME");
  return environment;
}

bool IsWritableEntry(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

IniChoice ChooseIniPath(std::string_view programName, const IniEnvironment& environment) {
  const std::string fileName = std::string(programName) + ".INI";
  IniChoice choice;

  if (environment.commandLine && !environment.commandLine->empty()) {
    choice.path = *environment.commandLine;
    choice.message = "Settings file: " + choice.path.string() + " (from --config)";
    return choice;
  }
  if (environment.vs32Ini && !environment.vs32Ini->empty()) {
    choice.path = *environment.vs32Ini;
    choice.message = "Settings file: " + choice.path.string() + " (from VS32_INI)";
    return choice;
  }

  std::filesystem::path folder = environment.executable.parent_path();
  if (folder.empty()) folder = ".";
  const std::filesystem::path beside = folder / fileName;
  // Writes replace the file through its folder, so both must be writable.
  const bool besideExists = Exists(beside);
  // A program installed in a system folder never writes beside itself, even
  // when run as root (who may write there).
  const std::string folderText = folder.string();
  const bool systemFolder = folderText == "/bin" || folderText == "/usr/bin" ||
                            folderText == "/usr/local/bin" || folderText.rfind("/usr/", 0) == 0;
  if (!systemFolder && besideExists && IsWritableEntry(folder) && IsWritableEntry(beside)) {
    choice.path = beside;
    choice.message = "Settings file: " + beside.string();
    return choice;
  }

  // Relative values of XDG_CONFIG_HOME are to be ignored.
  std::filesystem::path base;
  if (environment.xdgConfigHome && !environment.xdgConfigHome->empty() &&
      std::filesystem::path(*environment.xdgConfigHome).is_absolute()) {
    base = *environment.xdgConfigHome;
  } else if (environment.home && !environment.home->empty()) {
    base = std::filesystem::path(*environment.home) / ".config";
  } else {
    choice.path = beside;
    choice.message = "Settings file: " + beside.string() + " (no HOME for a per-user file)";
    return choice;
  }

  const std::filesystem::path userFolder = base / "vs32rx";
  choice.path = userFolder / fileName;
  choice.message = "Settings file: " + choice.path.string();
  std::error_code ec;
  std::filesystem::create_directories(userFolder, ec);
  if (ec) {
    choice.message += " (cannot create " + userFolder.string() + ": " + ec.message() + ")";
    return choice;
  }
  if (!Exists(choice.path) && besideExists) {
    std::filesystem::copy_file(beside, choice.path, ec);
    if (ec) {
      choice.message += " (cannot copy " + beside.string() + ": " + ec.message() + ")";
    } else {
      choice.message += " (copied from " + beside.string() + ")";
      // The copy is the user's own file now, also when the original was read-only.
      std::filesystem::permissions(
          choice.path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
          std::filesystem::perm_options::add, ec);
    }
  }
  return choice;
}

}  // namespace vs32
