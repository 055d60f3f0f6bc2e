// The user guide and the station example it uses: the README keeps the two
// developer commands first, documents every INI key with the default the
// programs really use and every option of the two tools; the example station
// folder loads as the guide says (fictional calls with positions, frequencies
// inside the band, the INI holding every key at its default).
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "config/list_files.h"
#include "config/profile_file.h"
#include "config/settings.h"
#include "engine/known_calls.h"
#include "release/release_support.h"

namespace vs32 {
namespace {

const std::filesystem::path kSource(VS32_SOURCE_DIR);
const std::filesystem::path kExamples = kSource / "examples";

std::string Readme() {
  return test::ReadFile(kSource / "README.md");
}

// Lines of a list file that are entries (not comments or blank).
int EntryLines(const std::filesystem::path& file, bool digitsOnly) {
  std::istringstream in(test::ReadFile(file));
  std::string line;
  int entries = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const unsigned char first = static_cast<unsigned char>(line[0]);
    if (digitsOnly ? std::isdigit(first) != 0 : std::isalnum(first) != 0) ++entries;
  }
  return entries;
}

// "| `KEY` | SECTION | DEFAULT | ..." rows of the README's key table.
std::map<std::string, std::pair<std::string, std::string>> ReadmeKeyRows() {
  std::map<std::string, std::pair<std::string, std::string>> rows;
  static const std::regex row(R"(^\| `([A-Z0-9_]+)` \| ([A-Z0-9-]+) \| ([^|]*?) \|)");
  std::istringstream in(Readme());
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, row)) rows[m[1]] = {m[2], m[3]};
  }
  return rows;
}

TEST(Readme, BeginsWithTheTwoDeveloperCommands) {
  const std::string readme = Readme();
  const std::string head =
      "# Vesta-32 receiver\n\n```sh\n"
      "make demo   # set up, build, generate a recording with two stations and decode it\n"
      "make test   # set up, build and run every test (CTest)\n```\n";
  EXPECT_EQ(readme.substr(0, head.size()), head);
}

TEST(Readme, DocumentsEveryIniKeyWithItsSectionAndDefault) {
  const auto rows = ReadmeKeyRows();
  for (const SettingKey& key : SettingKeys()) {
    const auto it = rows.find(key.key);
    ASSERT_NE(it, rows.end()) << "README has no row for " << key.key;
    EXPECT_EQ(it->second.first, key.section) << key.key;
    const std::string expected = key.defaultText[0] == '\0' ? "(empty)" : key.defaultText;
    EXPECT_EQ(it->second.second, expected) << key.key;
  }
  // And no row for a key the programs do not know.
  for (const auto& [name, row] : rows) {
    EXPECT_NE(FindSettingKey(name), nullptr) << "README documents an unknown key " << name;
  }
}

TEST(Readme, DocumentsEveryOptionOfTheTools) {
  const std::string readme = Readme();
  for (const std::string tool : {"vs32decode", "vs32gen"}) {
    const std::string program = test::BuiltProgram(tool);
    if (!std::filesystem::exists(program)) GTEST_SKIP() << tool << " is not built here";
    const auto help = test::RunCommand({program, "--help"});
    ASSERT_EQ(help.status, 0) << help.err;
    const auto options = test::LongOptions(help.out);
    ASSERT_GT(options.size(), 5u) << help.out;
    for (const std::string& option : options) {
      EXPECT_NE(readme.find("`" + option), std::string::npos)
          << tool << ": README lacks " << option;
    }
  }
}

TEST(Readme, LinksOnlyToFilesThatExist) {
  static const std::regex link(R"(\]\(([^)#:]+)\))");
  const std::string readme = Readme();
  int links = 0;
  for (auto it = std::sregex_iterator(readme.begin(), readme.end(), link);
       it != std::sregex_iterator(); ++it, ++links) {
    EXPECT_TRUE(std::filesystem::exists(kSource / (*it)[1].str())) << (*it)[1].str();
  }
  EXPECT_GE(links, 1);  // the screenshot
}

TEST(StationExample, CallsAreFictionalWithPositionsAndLoadIntoTheTable) {
  auto table = std::make_unique<KnownCallTable>();
  const int loaded = LoadKnownCalls(*table, "JO01AA", kExamples);
  EXPECT_EQ(loaded, EntryLines(kExamples / "callsloc.txt", false));
  ASSERT_GE(loaded, 3);
  for (int i = 0; i < loaded; ++i) {
    const KnownCall& entry = table->entries[static_cast<size_t>(i)];
    // Q is no country's prefix: these calls cannot be somebody's station.
    EXPECT_EQ(entry.callsign[0], 'Q') << entry.callsign;
    EXPECT_EQ(std::strlen(entry.locator), 6u) << entry.callsign;
    EXPECT_GT(entry.distanceKm, 0) << entry.callsign;
  }
  // The quick start's recording is of Q1ABC: it must be a known station.
  EXPECT_NE(test::ReadFile(kExamples / "callsloc.txt").find("\nQ1ABC "), std::string::npos);
}

TEST(StationExample, FrequencyListsMarkOneChannelPerEntryInTheDefaultBand) {
  const ReceiverSettings settings;  // dial 136000 Hz, centre 1500 Hz
  ChannelMask loran{}, always{};
  LoadChannelMasks(settings, loran, always, kExamples);
  auto count = [](const ChannelMask& mask) {
    int n = 0;
    for (int flag : mask) n += flag != 0;
    return n;
  };
  EXPECT_EQ(count(always), EntryLines(kExamples / "freq_list.txt", true));
  EXPECT_EQ(count(loran), EntryLines(kExamples / "loran_lines.txt", true));
  EXPECT_GE(count(always), 1);
  EXPECT_GE(count(loran), 1);
}

TEST(StationExample, IniHoldsEveryKeyAtItsDefaultButStationAndUpload) {
  const std::string ini = test::ReadFile(kExamples / "station.INI");
  for (const SettingKey& key : SettingKeys()) {
    const auto value = FindProfileValue(ini, key.section, key.key);
    ASSERT_TRUE(value.has_value()) << "station.INI lacks " << key.key;
    // Uploading starts off so that a test run is never reported.
    const std::string expected = std::string(key.key) == "UPLOAD_SPOT" ? "0" : key.defaultText;
    EXPECT_EQ(*value, expected) << key.key;
  }
  // Loading it read-only gives no warning and leaves the station to be set.
  ReceiverSettings settings;
  const LoadResult result =
      LoadSettings(Program::kConsole, kExamples / "station.INI", settings, LoadMode::kReadOnly);
  EXPECT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(result.warnings.empty());
  EXPECT_TRUE(result.stationMissing);
  EXPECT_FALSE(settings.uploadSpots);
}

}  // namespace
}  // namespace vs32
