// The batch decoder as users run it, on what they get wrong: a settings file
// that is none, recordings too short to hold a frame. Short recordings decode
// in a blink; full-length ones are in tests/e2e/vs32decode_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32::test {
namespace {

CommandResult Decode(std::vector<std::string> args) {
  args.insert(args.begin(), BuiltProgram("vs32decode"));
  return RunCommand(args);
}

// Two 20-second recordings of noise: far shorter than a frame.
class ShortRecordings : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& wav : {first_, second_}) {
      const CommandResult r =
          RunCommand({BuiltProgram("vs32gen"), "-o", wav, "--noise-only", "--duration", "20"});
      ASSERT_EQ(r.status, 0) << r.err;
    }
  }
  TempDir dir_;
  const std::string first_ = (dir_ / "a.wav").string();
  const std::string second_ = (dir_ / "b.wav").string();
};

struct UnusableIni {
  const char* name;
  std::function<void(const std::filesystem::path& ini, const std::string& recording)> make;
  const char* reason;
};

class UnusableSettingsFile : public ShortRecordings,
                             public ::testing::WithParamInterface<UnusableIni> {};

// Each is refused before anything is decoded, naming the file and why.
TEST_P(UnusableSettingsFile, IsAnErrorWithExitStatus2) {
  const auto ini = dir_ / "settings.ini";
  GetParam().make(ini, first_);
  const CommandResult r = Decode({"--ini", ini.string(), "--format", "tsv", first_});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "vs32decode: --ini " + ini.string() + ": " + GetParam().reason + "\n");
  EXPECT_EQ(r.out, "") << "nothing may be decoded with settings that were not read";
}

INSTANTIATE_TEST_SUITE_P(
    BatchDecode, UnusableSettingsFile,
    ::testing::Values(
        UnusableIni{"Missing", [](auto&, auto&) {}, "No such file or directory"},
        UnusableIni{"Folder", [](auto& ini, auto&) { std::filesystem::create_directory(ini); },
                    "is a folder, not a settings file"},
        // A pipe would hang the reader or be used up by its first key.
        UnusableIni{"Pipe", [](auto& ini, auto&) { ASSERT_EQ(mkfifo(ini.c_str(), 0600), 0); },
                    "not a regular file"},
        // The recording named by mistake, as in `--ini rec1.wav rec2.wav`.
        UnusableIni{"Recording", [](auto& ini, auto& wav) { std::filesystem::copy_file(wav, ini); },
                    "not an INI file (binary content)"},
        // Keys outside a section are never read: nothing would be set.
        UnusableIni{"KeysWithoutSection",
                    [](auto& ini, auto&) { WriteFile(ini, "F_CENTER=6000\nF_DIAL=472000\n"); },
                    "not an INI file (no [section] line)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShortRecordings, SettingsFilesThatAreReadOrMeanTheDefaults) {
  // Empty, or comments only: the defaults, and the recording is decoded.
  for (const std::string text : {"", "; station settings to come\n\n"}) {
    WriteFile(dir_ / "empty.ini", text);
    const CommandResult r = Decode({"--ini", (dir_ / "empty.ini").string(), first_});
    EXPECT_EQ(r.status, 0) << text << r.err;
  }
  // A real one (byte-order mark, CRLF) is read: its centre needs 48000 samples/s.
  WriteFile(dir_ / "wide.ini", "\xEF\xBB\xBF; wide band\r\n[VS-32]\r\nF_CENTER=6000\r\n");
  const CommandResult r = Decode({"--ini", (dir_ / "wide.ini").string(), first_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(first_ + ": WAV-file must be 48000 sps, 16 bit!"), std::string::npos)
      << r.err;
}

TEST_F(ShortRecordings, EachGetsANoteAndJsonIsStillOneDocument) {
  CommandResult r = Decode({"--format", "json", first_, second_});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& wav : {first_, second_}) {
    EXPECT_NE(
        r.err.find("vs32decode: " + wav + ": note: 20.0 s of audio is shorter than one frame"),
        std::string::npos)
        << r.err;
  }
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
  // No decodes: still a valid document, an empty array.
  WriteFile(dir_ / "out.json", r.out);
  const CommandResult parsed = RunPython("import json, sys; print(json.load(open(sys.argv[1])))",
                                         {(dir_ / "out.json").string()});
  EXPECT_EQ(parsed.status, 0) << parsed.err;
  EXPECT_EQ(parsed.out, "[]\n");

  // jsonl: no decodes, no lines; --quiet: no notes, errors still there.
  r = Decode({"--format", "jsonl", "--quiet", first_, (dir_ / "missing.wav").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find("note"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("missing.wav: "), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vs32::test
