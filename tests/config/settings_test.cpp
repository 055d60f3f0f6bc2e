#include "config/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vs32 {
namespace {

using test::ReadFile;
using test::ScopedCwd;
using test::TempDir;
using test::WriteFile;

// Loads `content` (or no file) in a scratch folder that is also the
// current folder (the windowed program creates its capture folder there).
struct Loaded {
  ReceiverSettings settings;
  LoadResult result;
  std::string file;  // the INI afterwards
};

Loaded Load(Program program, const std::optional<std::string>& content,
            LoadMode mode = LoadMode::kReadWrite) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  const auto path = dir / "TEST.INI";
  if (content) WriteFile(path, *content);
  Loaded loaded;
  loaded.result = LoadSettings(program, path, loaded.settings, mode);
  loaded.file = ReadFile(path);
  return loaded;
}

std::string Value(const std::string& file, const char* section, const char* key) {
  return FindProfileValue(file, section, key).value_or("<missing>");
}

// ---- First start -------------------------------------------------------------

TEST(FirstStart, ConsoleWritesEveryKeyWithItsDefault) {
  const Loaded loaded = Load(Program::kConsole, std::nullopt);
  EXPECT_EQ(loaded.file,
            "[VS-32]\n"
            "F_CENTER=1500\n"
            "F_DIAL=136000\n"
            "N_MAX=-1\n"
            "MIN_PEAK_SPACE=1\n"
            "MYCALL=\n"
            "MYQTH=\n"
            "FILE=my_detected.txt\n"
            "IGNORE_LORAN_LINES=0\n"
            "USE_FREQUENCY_LIST=1\n"
            "DEEP_DECODER=1\n"
            "ULTRA_DEEP_DECODER=0\n"
            "USE_KNOWN_CALLSLIST=1\n"
            "USE_COHERENT_DETECTOR=0\n"
            "VESTA_DB_OFFSET=-10\n"
            "VS_THRESHOLD=5\n"
            "USE_CORRELATOR=1\n"
            "VSDS_THRESHOLD=1\n"
            "CORRELATOR_51_THRESHOLD=45\n"
            "CORRELATOR_237_THRESHOLD=159\n"
            "TIME_CALL_BLOCKED=600\n"
            "MYHEADER=\n"
            "STRICT_FRAME_CHECK=1\n"
            "DECODE_AFTER_WARMUP=1\n"
            "LEARN_SAME_FREQUENCY=1\n"
            "LIST_DECODER=0\n"
            "LIST_SIZE=4096\n"
            "LIST_THRESHOLD=5.2\n"
            "CORRELATOR_SECOND_OPINION=1\n"
            "\n"
            "[SOUND]\n"
            "DEVICE=-1\n"
            "\n"
            "[PSKREPORTER]\n"
            "HOSTNAME=report.pskreporter.info\n"
            "PORT=4739\n"
            "UPLOAD_SPOT=1\n");
  const ReceiverSettings& s = loaded.settings;
  EXPECT_TRUE(loaded.result.ok);
  EXPECT_TRUE(loaded.result.warnings.empty());
  EXPECT_TRUE(loaded.result.stationMissing);
  EXPECT_EQ(s.bandStartHz, 1450);
  EXPECT_EQ(s.dialHz, 136000);
  EXPECT_EQ(s.maxPeaks, -1);
  EXPECT_EQ(s.minPeakSpacing, 1);
  EXPECT_EQ(s.soundDevice, -1);
  EXPECT_EQ(s.dbOffset, -10);
  EXPECT_EQ(s.decodeThreshold, 5);
  EXPECT_EQ(s.vsdsThreshold, 1);
  EXPECT_EQ(s.correlator51Threshold, 45);
  EXPECT_EQ(s.correlator237Threshold, 159);
  EXPECT_EQ(s.callBlockSeconds, 600);
  EXPECT_FALSE(s.ignoreLoranLines);
  EXPECT_TRUE(s.useFrequencyList);
  EXPECT_TRUE(s.deepDecoder);
  EXPECT_FALSE(s.ultraDeepDecoder);
  EXPECT_TRUE(s.useKnownCallsList);
  EXPECT_FALSE(s.coherentDetector);
  EXPECT_TRUE(s.useCorrelator);
  EXPECT_TRUE(s.uploadSpots);  // the console program ends instead (its own check)
  EXPECT_EQ(s.logHeader, "  Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)");
  EXPECT_EQ(s.reporterHost, "report.pskreporter.info");
  EXPECT_EQ(s.reporterPort, "4739");
  EXPECT_EQ(s.inputRate, 12000);
  EXPECT_EQ(s.preShiftStep, 0);
  EXPECT_DOUBLE_EQ(s.mixStep, 0.7068583470577036);  // (1450 - 100) * 2pi / 12000
}

TEST(FirstStart, WindowedWritesAllButNMaxAndCreatesCaptureFolder) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ReceiverSettings s;
  const LoadResult result = LoadSettings(Program::kWindowed, dir / "Vs32Rx.INI", s);
  EXPECT_EQ(ReadFile(dir / "Vs32Rx.INI"),
            "[VS-32]\n"
            "F_CENTER=1500\n"
            "F_DIAL=136000\n"
            "MIN_PEAK_SPACE=1\n"
            "MYCALL=\n"
            "MYQTH=\n"
            "FILE=my_detected.txt\n"
            "CAPTURE_ENABLE=1\n"
            "CAPTURE_PATH=Capture/\n"
            "IGNORE_LORAN_LINES=0\n"
            "USE_FREQUENCY_LIST=1\n"
            "DEEP_DECODER=1\n"
            "ULTRA_DEEP_DECODER=0\n"
            "USE_KNOWN_CALLSLIST=1\n"
            "USE_COHERENT_DETECTOR=0\n"
            "USE_CORRELATOR=1\n"
            "VESTA_DB_OFFSET=-10\n"
            "VS_THRESHOLD=5\n"
            "CORRELATOR_51_THRESHOLD=45\n"
            "CORRELATOR_237_THRESHOLD=159\n"
            "VSDS_THRESHOLD=1\n"
            "TIME_CALL_BLOCKED=600\n"
            "REVERSE_OUTPUT=1\n"
            "OSCILLOGRAM_VISIBLE=1\n"
            "SPECTRUM_VISIBLE=1\n"
            "WATERFALL_VISIBLE=1\n"
            "MYHEADER=\n"
            "STRICT_FRAME_CHECK=1\n"
            "DECODE_AFTER_WARMUP=1\n"
            "LEARN_SAME_FREQUENCY=1\n"
            "LIST_DECODER=0\n"
            "LIST_SIZE=4096\n"
            "LIST_THRESHOLD=5.2\n"
            "CORRELATOR_SECOND_OPINION=1\n"
            "\n"
            "[SOUND]\n"
            "DEVICE=-1\n"
            "\n"
            "[PSKREPORTER]\n"
            "HOSTNAME=report.pskreporter.info\n"
            "PORT=4739\n"
            "UPLOAD_SPOT=1\n");
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Capture"));
  EXPECT_EQ(s.capturePath, "Capture/");
  EXPECT_TRUE(s.captureEnabled);
  EXPECT_TRUE(s.reverseOutput);
  EXPECT_TRUE(s.oscillogramVisible && s.spectrumVisible && s.waterfallVisible);
  EXPECT_EQ(s.logHeader, "  Vesta-32 decoded (Vs32Rx ZZ0ZZZ software)");
  // No call and locator: upload is off for this run, the file keeps its value.
  EXPECT_TRUE(result.stationMissing);
  EXPECT_FALSE(s.uploadSpots);
}

TEST(FirstStart, WindowedKeepsUploadWhenStationIsSet) {
  const Loaded loaded = Load(
      Program::kWindowed, "[VS-32]\nMYCALL=ZZ1ZZZ\nMYQTH=JO65HO\n[PSKREPORTER]\nUPLOAD_SPOT=1\n");
  EXPECT_FALSE(loaded.result.stationMissing);
  EXPECT_TRUE(loaded.settings.uploadSpots);
  EXPECT_EQ(loaded.settings.logHeader, "ZZ1ZZZ JO65HO Vesta-32 decoded (Vs32Rx ZZ0ZZZ software)");
}

// ---- Validation and encodings ------------------------------------------------

TEST(Validation, ClampsAreStoredAndWrittenBack) {
  struct Case {
    const char* key;
    const char* text;
    const char* written;
  } cases[] = {
      {"F_CENTER", "300", "400"},       {"F_CENTER", "30000", "23050"},
      {"F_CENTER", "400", "400"},       {"F_CENTER", "23050", "23050"},
      {"N_MAX", "5000", "1230"},        {"N_MAX", "-7", "-1"},
      {"MIN_PEAK_SPACE", "700", "615"}, {"MIN_PEAK_SPACE", "-3", "0"},
      {"LIST_SIZE", "0", "1"},          {"LIST_SIZE", "100000", "65536"},
      {"LIST_SIZE", "157", "157"},      {"LIST_SIZE", "many", "4096"},
  };
  for (const Case& c : cases) {
    const std::string ini = std::string("[VS-32]\n") + c.key + "=" + c.text + "\n";
    const Loaded loaded = Load(Program::kConsole, ini);
    EXPECT_EQ(Value(loaded.file, "VS-32", c.key), c.written) << c.key << "=" << c.text;
  }
  EXPECT_EQ(Load(Program::kConsole, "[VS-32]\nF_CENTER=300\n").settings.bandStartHz, 350);
  EXPECT_EQ(Load(Program::kConsole, "[VS-32]\nF_CENTER=30000\n").settings.bandStartHz, 23000);
  EXPECT_EQ(Load(Program::kConsole, "[VS-32]\nN_MAX=5000\n").settings.maxPeaks, 1230);
  const Loaded spacing = Load(Program::kConsole, "[VS-32]\nMIN_PEAK_SPACE=700\n");
  EXPECT_EQ(spacing.settings.minPeakSpacing, 615);

  // The windowed program clamps N_MAX but leaves the key for its close.
  const Loaded windowed = Load(Program::kWindowed, "[VS-32]\nN_MAX=5000\n");
  EXPECT_EQ(windowed.settings.maxPeaks, 1230);
  EXPECT_EQ(Value(windowed.file, "VS-32", "N_MAX"), "5000");
}

TEST(Validation, NumberEncodings) {
  const Loaded loaded = Load(Program::kConsole,
                             "[VS-32]\n"
                             "N_MAX=0x10\n"
                             "MIN_PEAK_SPACE=0X0a\n"
                             "CORRELATOR_51_THRESHOLD=12abc\n"
                             "CORRELATOR_237_THRESHOLD=0x\n"
                             "TIME_CALL_BLOCKED=99999999999\n"
                             "F_DIAL=136000.5\n"
                             "VESTA_DB_OFFSET=abc\n"
                             "VS_THRESHOLD=\n"
                             "VSDS_THRESHOLD=nan\n"
                             "F_CENTER=1e3\n"
                             "DEEP_DECODER=2\n"
                             "ULTRA_DEEP_DECODER=-1\n"
                             "USE_CORRELATOR=yes\n"
                             "IGNORE_LORAN_LINES=0x0\n"
                             "[SOUND]\n"
                             "DEVICE=+2\n");
  const ReceiverSettings& s = loaded.settings;
  const std::string& f = loaded.file;
  EXPECT_EQ(s.maxPeaks, 16);
  EXPECT_EQ(Value(f, "VS-32", "N_MAX"), "16");
  EXPECT_EQ(s.minPeakSpacing, 10);
  EXPECT_EQ(s.correlator51Threshold, 45);
  EXPECT_EQ(Value(f, "VS-32", "CORRELATOR_51_THRESHOLD"), "45");
  EXPECT_EQ(s.correlator237Threshold, 159);
  EXPECT_EQ(s.callBlockSeconds, 600);
  EXPECT_EQ(s.dialHz, 136000.5);
  EXPECT_EQ(Value(f, "VS-32", "F_DIAL"), "136000.5");
  EXPECT_EQ(s.dbOffset, -10);
  EXPECT_EQ(Value(f, "VS-32", "VESTA_DB_OFFSET"), "-10");
  EXPECT_EQ(s.decodeThreshold, 5);
  EXPECT_EQ(Value(f, "VS-32", "VS_THRESHOLD"), "5");
  EXPECT_EQ(s.vsdsThreshold, 1);
  EXPECT_EQ(s.bandStartHz, 950);
  EXPECT_EQ(Value(f, "VS-32", "F_CENTER"), "1000");
  EXPECT_TRUE(s.deepDecoder);
  EXPECT_EQ(Value(f, "VS-32", "DEEP_DECODER"), "1");
  EXPECT_TRUE(s.ultraDeepDecoder);
  EXPECT_EQ(Value(f, "VS-32", "ULTRA_DEEP_DECODER"), "1");
  EXPECT_TRUE(s.useCorrelator);
  EXPECT_EQ(Value(f, "VS-32", "USE_CORRELATOR"), "1");
  EXPECT_FALSE(s.ignoreLoranLines);
  EXPECT_EQ(Value(f, "VS-32", "IGNORE_LORAN_LINES"), "0");
  EXPECT_EQ(s.soundDevice, 2);
}

TEST(Validation, FloatsAreWrittenWithFifteenDigits) {
  EXPECT_EQ(FormatSettingDouble(1500), "1500");
  EXPECT_EQ(FormatSettingDouble(-10), "-10");
  EXPECT_EQ(FormatSettingDouble(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatSettingDouble(136000.123456789), "136000.123456789");
  EXPECT_EQ(FormatSettingDouble(1e20), "1e+20");
  // 5499.9 - 50 + 50 is not exactly 5499.9 in binary; the text still is.
  const Loaded loaded = Load(Program::kConsole, "[VS-32]\nF_CENTER=5499.9\n");
  EXPECT_EQ(Value(loaded.file, "VS-32", "F_CENTER"), "5499.9");
}

TEST(Validation, DerivedRatesAndSteps) {
  const Loaded wide = Load(Program::kConsole, "[VS-32]\nF_CENTER=5500\n");
  EXPECT_EQ(wide.settings.inputRate, 48000);
  EXPECT_DOUBLE_EQ(wide.settings.preShiftStep, 0.5170537909033202);  // 3950 Hz at 48000/s
  EXPECT_DOUBLE_EQ(wide.settings.mixStep, 0.7330382858376183);
  const Loaded narrow = Load(Program::kConsole, "[VS-32]\nF_CENTER=5499.9\n");
  EXPECT_EQ(narrow.settings.inputRate, 12000);
  EXPECT_EQ(narrow.settings.preShiftStep, 0);
  EXPECT_DOUBLE_EQ(narrow.settings.mixStep, 2.801201089573339);  // 5349.9 Hz at 12000/s
}

TEST(Validation, ReporterTextsAreCutToTheirWideBuffers) {
  const std::string longHost(300, 'h');
  // 254 ASCII characters and then a character needing two UTF-16 units: it no
  // longer fits in 255 and is left out whole.
  const std::string emojiHost = std::string(254, 'e') + "\xF0\x9F\x93\xA1" + "tail";
  std::string ini = "[PSKREPORTER]\nHOSTNAME=" + longHost + "\nPORT=" + std::string(40, '9') + "\n";
  Loaded loaded = Load(Program::kConsole, ini);
  EXPECT_EQ(loaded.settings.reporterHost, std::string(255, 'h'));
  EXPECT_EQ(loaded.settings.reporterPort, std::string(31, '9'));
  EXPECT_EQ(Value(loaded.file, "PSKREPORTER", "HOSTNAME"), std::string(255, 'h'));
  ini = "[PSKREPORTER]\nHOSTNAME=" + emojiHost + "\n";
  loaded = Load(Program::kConsole, ini);
  EXPECT_EQ(loaded.settings.reporterHost, std::string(254, 'e'));
  ini = "[PSKREPORTER]\nHOSTNAME=h\xC3\xA9te\n";  // two-byte UTF-8 is one unit
  EXPECT_EQ(Load(Program::kConsole, ini).settings.reporterHost, "h\xC3\xA9te");
}

// ---- Write-back into an existing file ----------------------------------------

TEST(WriteBack, MissingKeysLandAtTheEndOfTheirSectionsAndOtherLinesStay) {
  const Loaded loaded = Load(Program::kConsole,
                             "; my station\r\n"
                             "[VS-32]\r\n"
                             "MYCALL=zz1zzz\r\n"
                             "; keep this comment\r\n"
                             "f_center = 1500\r\n"
                             "N_MAX=0x10\r\n"
                             "\r\n"
                             "[PSKREPORTER]\r\n"
                             "UPLOAD_SPOT=2\r\n");
  EXPECT_EQ(loaded.file,
            "; my station\r\n"
            "[VS-32]\r\n"
            "MYCALL=zz1zzz\r\n"
            "; keep this comment\r\n"
            "f_center = 1500\r\n"
            "N_MAX=16\r\n"
            "F_DIAL=136000\r\n"
            "MIN_PEAK_SPACE=1\r\n"
            "MYQTH=\r\n"
            "FILE=my_detected.txt\r\n"
            "IGNORE_LORAN_LINES=0\r\n"
            "USE_FREQUENCY_LIST=1\r\n"
            "DEEP_DECODER=1\r\n"
            "ULTRA_DEEP_DECODER=0\r\n"
            "USE_KNOWN_CALLSLIST=1\r\n"
            "USE_COHERENT_DETECTOR=0\r\n"
            "VESTA_DB_OFFSET=-10\r\n"
            "VS_THRESHOLD=5\r\n"
            "USE_CORRELATOR=1\r\n"
            "VSDS_THRESHOLD=1\r\n"
            "CORRELATOR_51_THRESHOLD=45\r\n"
            "CORRELATOR_237_THRESHOLD=159\r\n"
            "TIME_CALL_BLOCKED=600\r\n"
            "MYHEADER=\r\n"
            "STRICT_FRAME_CHECK=1\r\n"
            "DECODE_AFTER_WARMUP=1\r\n"
            "LEARN_SAME_FREQUENCY=1\r\n"
            "LIST_DECODER=0\r\n"
            "LIST_SIZE=4096\r\n"
            "LIST_THRESHOLD=5.2\r\n"
            "CORRELATOR_SECOND_OPINION=1\r\n"
            "\r\n"
            "[PSKREPORTER]\r\n"
            "UPLOAD_SPOT=1\r\n"
            "HOSTNAME=report.pskreporter.info\r\n"
            "PORT=4739\r\n"
            "\r\n"
            "[SOUND]\r\n"
            "DEVICE=-1\r\n");
}

TEST(WriteBack, HeaderIsBuiltOnceCallAndLocatorAreSetAndOnlyWhileTheKeyIsEmpty) {
  TempDir dir;
  const auto path = dir / "TEST.INI";
  ReceiverSettings s;
  // Without a call and locator the key stays empty in the file (a log made
  // meanwhile still gets the default text).
  LoadSettings(Program::kConsole, path, s);
  EXPECT_EQ(s.logHeader, "  Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)");
  EXPECT_EQ(Value(ReadFile(path), "VS-32", "MYHEADER"), "");
  ProfileFile file(path);
  ASSERT_TRUE(file.WriteString("VS-32", "MYCALL", "ZZ1ZZZ"));
  LoadSettings(Program::kConsole, path, s);
  EXPECT_EQ(Value(ReadFile(path), "VS-32", "MYHEADER"), "");

  // Both set: the header is built with them and written.
  ASSERT_TRUE(file.WriteString("VS-32", "MYQTH", "JO65HO"));
  LoadSettings(Program::kConsole, path, s);
  EXPECT_EQ(s.logHeader, "ZZ1ZZZ JO65HO Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)");
  EXPECT_EQ(Value(ReadFile(path), "VS-32", "MYHEADER"), s.logHeader);

  // A later call does not rebuild a header that is already there.
  ASSERT_TRUE(file.WriteString("VS-32", "MYCALL", "ZZ2ZZZ"));
  const std::string before = ReadFile(path);
  LoadSettings(Program::kConsole, path, s);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(s.logHeader, "ZZ1ZZZ JO65HO Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)");

  // An emptied key brings the rebuild back.
  ASSERT_TRUE(file.WriteString("VS-32", "MYHEADER", ""));
  LoadSettings(Program::kConsole, path, s);
  EXPECT_EQ(s.logHeader, "ZZ2ZZZ JO65HO Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)");
  EXPECT_EQ(Value(ReadFile(path), "VS-32", "MYHEADER"), s.logHeader);
}

TEST(WriteBack, DuplicateKeysGarbageAndKeysOutsideSections) {
  Loaded loaded = Load(Program::kConsole,
                       "F_CENTER=9000\n[VS-32]\nF_CENTER=2000\nF_CENTER=3000\n[vs-32]\n"
                       "F_DIAL=1\n");
  EXPECT_EQ(loaded.settings.bandStartHz, 1950);
  EXPECT_EQ(loaded.settings.dialHz, 136000);
  EXPECT_EQ(loaded.file.substr(0, 22), "F_CENTER=9000\n[VS-32]\n");

  std::mt19937 random(9);
  std::string garbage(50000, '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  garbage += std::string(100000, 'L');  // and one very long line
  loaded = Load(Program::kConsole, garbage);
  EXPECT_EQ(loaded.file.compare(0, garbage.size(), garbage), 0);
  EXPECT_EQ(loaded.settings.bandStartHz, 1450);
  EXPECT_EQ(loaded.settings.reporterPort, "4739");
}

// ---- Files that must not be written ------------------------------------------

TEST(ReadOnly, ModeWritesNothing) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ReceiverSettings s;
  LoadResult result = LoadSettings(Program::kWindowed, dir / "NEW.INI", s, LoadMode::kReadOnly);
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(result.warnings.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "NEW.INI"));
  EXPECT_FALSE(std::filesystem::exists(dir / "Capture"));
  EXPECT_EQ(s.bandStartHz, 1450);

  const std::string content = "[VS-32]\nF_CENTER=300\nDEEP_DECODER=2\nCAPTURE_PATH=x\\\n";
  WriteFile(dir / "OLD.INI", content);
  result = LoadSettings(Program::kWindowed, dir / "OLD.INI", s, LoadMode::kReadOnly);
  EXPECT_EQ(ReadFile(dir / "OLD.INI"), content);
  EXPECT_EQ(s.bandStartHz, 350);
  EXPECT_TRUE(s.deepDecoder);
  EXPECT_EQ(s.capturePath, "x/");
  EXPECT_FALSE(std::filesystem::exists(dir / "x"));
}

TEST(ReadOnly, UnwritableFileIsReportedOnceAndItsValuesAreUsed) {
  TempDir dir;
  const auto path = dir / "RO.INI";
  const std::string content = "[VS-32]\nF_CENTER=2000\nMYCALL=ZZ1ZZZ\n";
  WriteFile(path, content);
  ::chmod(path.c_str(), 0444);
  ReceiverSettings s;
  const LoadResult result = LoadSettings(Program::kConsole, path, s);
  EXPECT_TRUE(result.ok);
  ASSERT_EQ(result.warnings.size(), 1u);
  EXPECT_EQ(result.warnings[0],
            "Cannot write settings to " + path.string() + ": Permission denied");
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_EQ(s.bandStartHz, 1950);
  EXPECT_EQ(s.myCall, "ZZ1ZZZ");

  const auto nowhere = dir / "no" / "such" / "A.INI";
  const LoadResult missing = LoadSettings(Program::kConsole, nowhere, s);
  ASSERT_EQ(missing.warnings.size(), 1u);
  EXPECT_EQ(missing.warnings[0],
            "Cannot write settings to " + nowhere.string() + ": No such file or directory");
  EXPECT_EQ(s.bandStartHz, 1450);
}

// ---- Capture folder ------------------------------------------------------------

TEST(CapturePath, DelimiterAndFolderRules) {
  EXPECT_EQ(NormaliseCapturePath("Pics"), "Pics/");
  EXPECT_EQ(NormaliseCapturePath("Pics/"), "Pics/");
  EXPECT_EQ(NormaliseCapturePath("Pics\\"), "Pics/");
  EXPECT_EQ(NormaliseCapturePath(""), "./");

  TempDir dir;
  ScopedCwd cwd(dir.path());
  ReceiverSettings s;
  WriteFile(dir / "A.INI", "[VS-32]\nCAPTURE_PATH=Pics\\\n");
  LoadResult result = LoadSettings(Program::kWindowed, dir / "A.INI", s);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(s.capturePath, "Pics/");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Pics"));
  EXPECT_EQ(Value(ReadFile(dir / "A.INI"), "VS-32", "CAPTURE_PATH"), "Pics/");

  WriteFile(dir / "B.INI", "[VS-32]\nCAPTURE_PATH=Shots\n");
  result = LoadSettings(Program::kWindowed, dir / "B.INI", s);
  EXPECT_TRUE(result.ok);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "Shots"));
  EXPECT_EQ(Value(ReadFile(dir / "B.INI"), "VS-32", "CAPTURE_PATH"), "Shots/");
}

TEST(CapturePath, FolderThatCannotBeCreatedStopsTheStartUp) {
  TempDir dir;
  ScopedCwd cwd(dir.path());
  ReceiverSettings s;
  // One level only: the parent must exist.
  WriteFile(dir / "A.INI", "[VS-32]\nCAPTURE_PATH=a/b\nCAPTURE_ENABLE=0\n[SOUND]\nDEVICE=3\n");
  LoadResult result = LoadSettings(Program::kWindowed, dir / "A.INI", s);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "Cannot create a/b/ directory.");
  EXPECT_FALSE(std::filesystem::exists(dir / "a"));
  const std::string file = ReadFile(dir / "A.INI");
  EXPECT_EQ(Value(file, "VS-32", "CAPTURE_PATH"), "a/b");              // not written back
  EXPECT_EQ(Value(file, "VS-32", "IGNORE_LORAN_LINES"), "<missing>");  // later keys skipped
  EXPECT_EQ(Value(file, "VS-32", "MIN_PEAK_SPACE"), "1");              // earlier keys written
  EXPECT_EQ(s.soundDevice, -1);

  WriteFile(dir / "plain", "not a folder");
  WriteFile(dir / "B.INI", "[VS-32]\nCAPTURE_PATH=plain\n");
  result = LoadSettings(Program::kWindowed, dir / "B.INI", s);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.error, "Cannot create plain/ directory.");

  // The console program has no capture keys.
  WriteFile(dir / "C.INI", "[VS-32]\nCAPTURE_PATH=a/b\n");
  EXPECT_TRUE(LoadSettings(Program::kConsole, dir / "C.INI", s).ok);
}

// ---- The key table -------------------------------------------------------------

TEST(SettingKeyTable, DefaultsWithoutAFileMatchAFirstStart) {
  for (Program program : {Program::kWindowed, Program::kConsole}) {
    TempDir dir;
    ScopedCwd cwd(dir.path());
    ReceiverSettings loaded;
    LoadSettings(program, dir / "A.INI", loaded, LoadMode::kReadOnly);
    const ReceiverSettings defaults = DefaultSettings(program);
    for (const SettingKey& key : SettingKeys()) {
      // Without MYCALL and MYQTH the windowed program switches upload off.
      if (program == Program::kWindowed &&
          key.field == SettingField(&ReceiverSettings::uploadSpots)) {
        EXPECT_FALSE(loaded.uploadSpots);
        continue;
      }
      EXPECT_EQ(SettingText(key, defaults), SettingText(key, loaded)) << key.key;
    }
    EXPECT_EQ(defaults.inputRate, loaded.inputRate);
    EXPECT_EQ(defaults.mixStep, loaded.mixStep);
  }
}

// Every pass over the file walks the table in its own order: positions run
// 1, 2, … with no repeat (the walk's sort would order a tie at random), and a
// key a pass re-reads or writes is one its program reads at start-up.
struct PassRule {
  KeyPass pass;
  std::optional<KeyPass> within;  // each key of the pass is in this one too
};

class SettingPasses : public ::testing::TestWithParam<PassRule> {};

std::string PassName(const ::testing::TestParamInfo<PassRule>& info) {
  static const char* const kNames[] = {"WindowedStart", "ConsoleStart", "Reload", "CloseSave",
                                       "DialogApply"};
  return kNames[static_cast<int>(info.param.pass)];
}

TEST_P(SettingPasses, PositionsRunWithoutGapsAndKeysBelongToTheirProgram) {
  const PassRule rule = GetParam();
  std::vector<int> positions;
  for (const SettingKey& key : SettingKeys()) {
    EXPECT_EQ(FindSettingKey(key.key), &key) << key.key << " is named twice";
    if (rule.pass == KeyPass::kReload && key.reloadWriteBack) {
      EXPECT_GT(key.reloadOrder, 0) << key.key << " is written back by a reload that skips it";
    }
    if (key.position(rule.pass) == 0) continue;
    positions.push_back(key.position(rule.pass));
    if (rule.within) {
      EXPECT_GT(key.position(*rule.within), 0) << key.key;
    }
  }
  ASSERT_FALSE(positions.empty());
  std::sort(positions.begin(), positions.end());
  for (size_t i = 0; i < positions.size(); ++i) EXPECT_EQ(positions[i], int(i) + 1);
  EXPECT_EQ(PassKeys(rule.pass).size(), positions.size());
}

INSTANTIATE_TEST_SUITE_P(
    KeyTable, SettingPasses,
    ::testing::Values(PassRule{KeyPass::kWindowedStart, std::nullopt},
                      PassRule{KeyPass::kConsoleStart, std::nullopt},
                      // What the reload and the close-time save touch is read at start-up,
                      PassRule{KeyPass::kReload, KeyPass::kWindowedStart},
                      PassRule{KeyPass::kCloseSave, KeyPass::kWindowedStart},
                      // and what Apply writes takes effect through the reload.
                      PassRule{KeyPass::kDialogApply, KeyPass::kReload}),
    PassName);

TEST(SettingsRecord, CopiesAreIndependent) {
  ReceiverSettings original = DefaultSettings(Program::kWindowed);
  original.deepDecoder = false;
  original.maxPeaks = 20;
  ReceiverSettings copy = original;
  original.deepDecoder = true;
  original.maxPeaks = 30;
  EXPECT_FALSE(copy.deepDecoder);
  EXPECT_EQ(copy.maxPeaks, 20);
  copy = original;
  EXPECT_TRUE(copy.deepDecoder);
  EXPECT_EQ(copy.maxPeaks, 30);
}

}  // namespace
}  // namespace vs32
