// Vs32RxC as a user meets it: run in a pseudo-terminal (the screen read back
// through a terminal model) or through pipes (no terminal), with its own INI
// file, list files and recordings in a scratch folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.h"
#include "console/pipe_process.h"
#include "console/pty_process.h"
#include "report/ipfix_listener.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
using test::PtyProcess;
using test::TempDir;

const std::string kBanner =
    "================== Vesta-32 RX (zz0zzz) decoder v1.4 ==================";
const std::string kRow5 = std::string(71, '=');
const std::string kRow6 = "   DATE     TIME     CALL    FREQ      QRB     Eb/No      SNR   DEC   U";
const std::string kRow7 = std::string(71, '-');

std::string Program() {
  return test::BuiltProgram("Vs32RxC");
}

// A scratch station: a folder (list files and log go here) and an INI file.
struct Station {
  TempDir dir;
  std::filesystem::path ini = dir / "station.INI";

  explicit Station(const std::string& vs32Keys = "MYCALL=Q9XYZ\nMYQTH=JO01AA\n",
                   const std::string& otherSections = "[PSKREPORTER]\nUPLOAD_SPOT=0\n") {
    test::WriteFile(ini, "[VS-32]\n" + vs32Keys + otherSections);
  }
  std::vector<std::string> Env() const { return {"VS32_INI=" + ini.string()}; }
  std::string Folder() const { return dir.path().string(); }
};

// A PCM WAV file: `seconds` of silence with the given format.
void WriteWav(const std::filesystem::path& path, uint32_t rate, uint16_t bits, uint16_t channels,
              double seconds) {
  const uint16_t blockAlign = static_cast<uint16_t>(channels * bits / 8);
  const uint32_t frames = static_cast<uint32_t>(rate * seconds);
  const uint32_t dataBytes = frames * blockAlign;
  std::string file;
  auto u16 = [&file](uint16_t v) {
    file += static_cast<char>(v & 0xff);
    file += static_cast<char>(v >> 8);
  };
  auto u32 = [&](uint32_t v) {
    u16(static_cast<uint16_t>(v & 0xffff));
    u16(static_cast<uint16_t>(v >> 16));
  };
  file += "RIFF";
  u32(36 + dataBytes);
  file += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(channels);
  u32(rate);
  u32(rate * blockAlign);
  u16(blockAlign);
  u16(bits);
  file += "data";
  u32(dataBytes);
  file += std::string(dataBytes, bits == 8 ? static_cast<char>(0x80) : '\0');
  test::WriteFile(path, file);
}

bool HasEscape(const std::string& text) {
  return text.find('\x1b') != std::string::npos;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Starts the program in a terminal and waits until its header is drawn.
void StartAndWaitForHeader(PtyProcess& p, const Station& s, std::vector<std::string> args = {}) {
  args.insert(args.begin(), Program());
  ASSERT_TRUE(p.Start(args, s.Folder(), s.Env()));
  ASSERT_TRUE(p.WaitForRow(7, kRow7, 20s)) << p.screen().Text();
}

void ExpectTerminalRestored(const PtyProcess& p) {
  const termios now = p.CurrentModes();
  EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG),
            p.InitialModes().c_lflag & (ICANON | ECHO | ISIG));
  const std::string& out = p.output();
  const size_t shown = out.rfind("\x1b[?25h");
  ASSERT_NE(shown, std::string::npos);
  EXPECT_GT(shown, out.rfind("\x1b[?25l"));
}

TEST(ConsoleProgram, VersionAndHelpAnswerBeforeAnythingElse) {
  Station s;
  std::filesystem::remove(s.ini);
  const auto version = test::RunCommand({Program(), "--version"}, s.Folder(), s.Env());
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "Vs32RxC 1.4\n");
  const auto help = test::RunCommand({Program(), "-h"}, s.Folder(), s.Env());
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, test::RunCommand({Program(), "--help"}, s.Folder(), s.Env()).out);
  EXPECT_EQ(help.out.find(".exe"), std::string::npos);
  EXPECT_NE(help.out.find("Usage:"), std::string::npos);
  EXPECT_NE(help.out.find("VS32_INI"), std::string::npos);
  EXPECT_NE(help.out.find("--devices"), std::string::npos);
  const auto devices = test::RunCommand({Program(), "--devices"}, s.Folder(), s.Env());
  EXPECT_EQ(devices.status, 0);
  EXPECT_NE(devices.out.find("    -1  the system's default input\n"), std::string::npos);
  EXPECT_FALSE(HasEscape(version.out + help.out + devices.out));
  // Nothing was read or written: no INI file, no log.
  EXPECT_FALSE(std::filesystem::exists(s.ini));
  EXPECT_FALSE(std::filesystem::exists(s.dir / "my_detected.txt"));

  // In a terminal too: no screen clearing.
  PtyProcess p;
  ASSERT_TRUE(p.Start({Program(), "--version"}, s.Folder(), s.Env()));
  EXPECT_EQ(p.WaitExit(10s), 0);
  EXPECT_FALSE(HasEscape(p.output()));
  EXPECT_EQ(p.screen().Row(1), "Vs32RxC 1.4");
}

struct BadCommandLine {
  std::vector<std::string> args;
  int status;
  std::string named;  // what the one error line must name
};

TEST(ConsoleProgram, BadCommandLinesSayWhatIsWrongInOneLineAndExitWithTheirCode) {
  Station s;
  std::filesystem::remove(s.ini);
  const std::vector<BadCommandLine> cases = {
      {{"-x"}, 2, "unknown option -x"},
      {{"--device=2", "--verbose"}, 2, "unknown option --verbose"},
      {{"--config"}, 2, "--config needs a value"},
      {{"--lines=1"}, 2, "--lines takes no value"},
      {{"--rate", "12000"}, 2, "--rate is for raw samples on --input -"},
      {{"a.wav", "b.wav"}, 2, "more than one file: b.wav"},
      {{"--input", "-", "a.wav"}, 2, "cannot be used together"},
      {{"--input", "-", "--rate=44100"}, 1, "--rate must be 12000 or 48000"},
      {{"--input", "audio.raw"}, 1, "--input takes only -"},
  };
  for (const BadCommandLine& c : cases) {
    std::vector<std::string> argv = {Program()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const auto r = test::RunCommand(argv, s.Folder(), s.Env());
    EXPECT_EQ(r.status, c.status) << c.named;
    EXPECT_EQ(r.out, "") << c.named;
    EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    if (c.status == 2) {
      EXPECT_NE(r.err.find("Vs32RxC --help"), std::string::npos) << r.err;
    }
  }
  // Nothing was started: no settings file.
  EXPECT_FALSE(std::filesystem::exists(s.ini));

  // A settings file that cannot be read is no reason to run on defaults.
  std::filesystem::create_directory(s.dir / "folder.INI");
  const auto r = test::RunCommand({Program(), "--config", "folder.INI"}, s.Folder(), s.Env());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot read settings file folder.INI: it is a folder\n"), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(s.dir / "my_detected.txt"));
}

TEST(ConsoleProgram, HelpWordShowsUsageUnderTheBannerAndWaitsForAKey) {
  Station s;
  std::filesystem::remove(s.ini);
  PtyProcess p;
  ASSERT_TRUE(p.Start({Program(), "/?"}, s.Folder(), s.Env()));
  ASSERT_TRUE(p.WaitForRow(4, "decode wav-file then exit", 10s)) << p.screen().Text();
  EXPECT_EQ(p.screen().Row(1), kBanner);
  EXPECT_EQ(p.screen().Row(2), "Usage:");
  EXPECT_EQ(p.screen().Row(3), "Vs32RxC [file.wav]");
  EXPECT_EQ(p.screen().Row(4), "        file.wav        - decode wav-file then exit");
  // It waits for a key.
  p.ReadFor(500ms);
  EXPECT_TRUE(p.Running());
  p.Type(" ");
  EXPECT_EQ(p.WaitExit(10s), 0);
  ExpectTerminalRestored(p);
  // The usage comes before the settings are read.
  EXPECT_FALSE(std::filesystem::exists(s.ini));

  // The other help words, without a terminal: no wait.
  for (const char* word : {"-?", "help", "/h"}) {
    const auto r = test::RunCommand({Program(), word}, s.Folder(), s.Env());
    EXPECT_EQ(r.status, 0) << word;
    EXPECT_EQ(r.out,
              kBanner + "\nUsage:\nVs32RxC [file.wav]\n\tfile.wav\t- decode wav-file then exit\n")
        << word;
  }
}

TEST(ConsoleProgram, BannerAndRowsOneToSevenAsSpecified) {
  Station s;
  PtyProcess p;
  StartAndWaitForHeader(p, s);
  // The live fields appear with the first pass of the main loop.
  ASSERT_TRUE(p.WaitFor(
      [](const test::VtScreen& v) { return v.Row(2).size() > 62 && v.Row(3).size() > 61; }, 10s))
      << p.screen().Text();
  const test::VtScreen& v = p.screen();
  EXPECT_EQ(v.Row(1), kBanner);
  EXPECT_EQ(v.Row(2).substr(0, 62),
            "Input: default          Decoder: deep   Detector: rms+vsds    ");
  EXPECT_TRUE(std::regex_match(v.Row(2).substr(62), std::regex("[ 0-9]{2}[0-9] peaks")))
      << v.Row(2);
  EXPECT_EQ(v.Row(3).substr(0, 61),
            "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz   ");
  // A level only while audio comes in.
  EXPECT_TRUE(
      std::regex_match(v.Row(3).substr(61), std::regex("-?[0-9]+\\.[0-9] dB( C)?|no input")))
      << v.Row(3);
  EXPECT_EQ(v.Row(5), kRow5);
  EXPECT_EQ(v.Row(6), kRow6);
  EXPECT_EQ(v.Row(7), kRow7);
  EXPECT_EQ(v.Row(8), "");

  // The spinner turns at column 1 of row 4.
  std::string seen;
  for (int i = 0; i < 12 && seen.size() < 3; ++i) {
    p.ReadFor(100ms);
    const char c = p.screen().Row(4).empty() ? ' ' : p.screen().Row(4)[0];
    if (std::string("\\|/-").find(c) != std::string::npos && seen.find(c) == std::string::npos) {
      seen += c;
    }
  }
  EXPECT_GE(seen.size(), 2u) << "spinner characters seen: '" << seen << "'";

  // A missing log was created with the console's header block.
  EXPECT_EQ(test::ReadFile(s.dir / "my_detected.txt"),
            "Q9XYZ JO01AA Vesta-32 decoded (Vs32RxC ZZ0ZZZ software)\n\n"
            "   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U\n");
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(15s), 0);
  ExpectTerminalRestored(p);
}

TEST(ConsoleProgram, SwitchesShowOnRowTwoAndAnExistingLogIsLeftAlone) {
  Station s(
      "MYCALL=Q9XYZ\nMYQTH=JO01AA\nDEEP_DECODER=0\nULTRA_DEEP_DECODER=0\nUSE_CORRELATOR=0\n"
      "USE_COHERENT_DETECTOR=1\nF_CENTER=2500\nF_DIAL=137000.5\nMIN_PEAK_SPACE=3\n");
  test::WriteFile(s.dir / "my_detected.txt", "old log\n");
  PtyProcess p;
  StartAndWaitForHeader(p, s);
  EXPECT_EQ(p.screen().Row(2).substr(0, 37), "Input: default          Detector: chr");
  EXPECT_EQ(p.screen().Row(3).substr(0, 58),
            "Dial=137000.50 Hz       Fc=2500.00 Hz   Peak spc: 0.244 Hz");
  EXPECT_EQ(test::ReadFile(s.dir / "my_detected.txt"), "old log\n");
  p.Type("\x03");  // Ctrl+C
  EXPECT_EQ(p.WaitExit(15s), 0);
  ExpectTerminalRestored(p);
}

TEST(ConsoleProgram, AMissingDeviceIsTriedAgainWithGrowingWaitsAndShowsNoLevel) {
  Station s("MYCALL=Q9XYZ\nMYQTH=JO01AA\n", "[SOUND]\nDEVICE=57\n[PSKREPORTER]\nUPLOAD_SPOT=0\n");
  PtyProcess p;
  StartAndWaitForHeader(p, s);
  EXPECT_EQ(p.screen().Row(2).substr(0, 23), "Input: 57 (not present)");
  ASSERT_TRUE(p.WaitFor(
      [&p](const test::VtScreen&) {
        return p.output().find("cannot be opened; next try in 2 s") != std::string::npos;
      },
      10s))
      << p.screen().Text();
  const std::string& out = p.output();
  EXPECT_LT(out.find("Sound input \"57\" cannot be opened; next try in 1 s"),
            out.find("next try in 2 s"));
  EXPECT_EQ(Count(out, "Cannot Open Audio Input Device"), 1u);
  EXPECT_EQ(p.screen().Row(3).substr(61), "no input");
  EXPECT_EQ(p.screen().Row(7), kRow7);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(15s), 0);
  ExpectTerminalRestored(p);
}

TEST(ConsoleProgram, LineModeKeepsWarningsOffStandardOutputAndNamesTheDevice) {
  Station s;
  test::PipeProcess p;
  ASSERT_TRUE(p.Start({Program(), "--lines", "--device", "No Such Card"}, s.Folder(), s.Env()));
  ASSERT_TRUE(p.WaitFor(
      [](const std::string&, const std::string& err) {
        return err.find("next try in 2 s") != std::string::npos;
      },
      10s))
      << p.err();
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(15s), 0);
  EXPECT_NE(p.out().find("Input: No Such Card (not present)\t"), std::string::npos) << p.out();
  EXPECT_NE(p.out().find(kRow7), std::string::npos);
  EXPECT_EQ(p.out().find("Sound input"), std::string::npos) << p.out();
  EXPECT_FALSE(HasEscape(p.out() + p.err()));
  EXPECT_EQ(p.err().rfind("Cannot Open Audio Input Device\n"
                          "Sound input \"No Such Card\" cannot be opened; next try in 1 s\n",
                          0),
            0u)
      << p.err();
}

TEST(ConsoleProgram, ClosingTheTerminalEndsTheProgramCleanly) {
  Station s;
  PtyProcess p;
  StartAndWaitForHeader(p, s);
  p.HangUp();
  EXPECT_EQ(p.WaitExit(15s), 0);
}

TEST(ConsoleProgram, EmptyCallStopsBeforeTheLogAndTheWorker) {
  Station s("MYQTH=JO01AA\n");
  PtyProcess p;
  ASSERT_TRUE(p.Start({Program()}, s.Folder(), s.Env()));
  ASSERT_TRUE(p.WaitForRow(5, "Please set", 20s)) << p.screen().Text();
  const test::VtScreen& v = p.screen();
  EXPECT_EQ(v.Row(1), kBanner);
  EXPECT_EQ(v.Row(2).substr(0, 14), "Input: default");
  EXPECT_EQ(v.Row(3), "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz");
  EXPECT_EQ(v.Row(5),
            "Please set Your CALL and QTH in config file Vs32RxC.ini fields MYCALL and MYQTH");
  EXPECT_EQ(v.Row(6), "");  // no column header
  p.ReadFor(500ms);
  EXPECT_TRUE(p.Running());
  EXPECT_FALSE(std::filesystem::exists(s.dir / "my_detected.txt"));
  p.Type("q");
  EXPECT_EQ(p.WaitExit(10s), 1);
  ExpectTerminalRestored(p);
  EXPECT_FALSE(std::filesystem::exists(s.dir / "my_detected.txt"));
  // No live field was ever drawn: the main loop never ran.
  EXPECT_EQ(v.Row(2).find("peaks"), std::string::npos);
}

TEST(ConsoleProgram, WavFilesOfTheWrongFormatAreRefusedWithTheirLine) {
  Station s;
  WriteWav(s.dir / "wide.wav", 48000, 16, 1, 1.0);
  WriteWav(s.dir / "bytes.wav", 12000, 8, 1, 1.0);
  for (const std::string name : {"wide.wav", "bytes.wav"}) {
    PtyProcess p;
    StartAndWaitForHeader(p, s, {name});
    ASSERT_TRUE(p.WaitForRow(4, "ERROR:", 10s)) << p.screen().Text();
    EXPECT_EQ(p.screen().Row(4), "ERROR: " + name + " WAV-file must be 12000 sps, 16 bit!");
    p.ReadFor(300ms);
    EXPECT_TRUE(p.Running()) << "waits for a key";
    p.Type("k");
    EXPECT_EQ(p.WaitExit(15s), 1);
    ExpectTerminalRestored(p);
  }
}

TEST(ConsoleProgram, WavCommandAcceptsStereoAndNamesMissingFiles) {
  Station s;
  WriteWav(s.dir / "stereo.wav", 12000, 16, 2, 3.0);
  {
    PtyProcess p;
    StartAndWaitForHeader(p, s, {(s.dir / "stereo.wav").string()});
    // The spinner covers the first column.
    ASSERT_TRUE(p.WaitForRow(4, " processing file stereo.wav", 10s)) << p.screen().Text();
    // The file ends after three seconds: the row is cleared and reception goes on.
    ASSERT_TRUE(p.WaitFor([](const test::VtScreen& v) { return v.Row(4).size() <= 1; }, 20s))
        << p.screen().Text();
    EXPECT_TRUE(p.Running());
    p.Signal(SIGTERM);
    EXPECT_EQ(p.WaitExit(15s), 0);
  }
  // HELP in capitals is no help word: it is taken as a file name.
  const auto r = test::RunCommand({Program(), "HELP"}, s.Folder(), s.Env());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("ERROR: HELP cannot be read: No such file or directory\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Count(r.out + r.err, "HELP"), 1u) << "the path is named once: " << r.err;
}

TEST(ConsoleProgram, WithoutATerminalEverythingComesOutAsPlainLines) {
  Station s;
  WriteWav(s.dir / "wide.wav", 48000, 16, 1, 1.0);
  const auto r = test::RunCommand({Program(), "wide.wav"}, s.Folder(), s.Env());
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(HasEscape(r.out + r.err)) << r.out;
  // Line by line, in order.
  std::vector<std::string> lines;
  for (size_t at = 0; at < r.out.size();) {
    const size_t end = r.out.find('\n', at);
    lines.push_back(r.out.substr(at, end - at));
    at = end == std::string::npos ? r.out.size() : end + 1;
  }
  std::vector<std::string> want = {
      kBanner,
      "Settings file: " + s.ini.string() + " (from VS32_INI)",
      "Input: default\t\tDecoder: deep\tDetector: rms+vsds",
      "Dial=136000.00 Hz\tFc=1500.00 Hz\tPeak spc: 0.081 Hz",
      kRow5,
      "   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U",
      kRow7,
  };
  // A machine without a sound card adds its message once, after the input line.
  std::vector<std::string> got;
  for (const auto& l : lines) {
    if (l != "Cannot Open Audio Input Device") got.push_back(l);
  }
  EXPECT_EQ(got, want) << r.out;
  // Warnings and errors on standard error, after whatever the sound card said.
  EXPECT_NE(r.err.find("ERROR: wide.wav WAV-file must be 12000 sps, 16 bit!\n"), std::string::npos)
      << r.err;
  EXPECT_LE(Count(r.err, "Cannot Open Audio Input Device"), 1u);
}

// The INI keys of a file in order, as "SECTION/KEY", and their values.
std::vector<std::string> KeysInOrder(const std::string& text,
                                     std::map<std::string, std::string>* values) {
  std::vector<std::string> keys;
  std::string section;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (const size_t eq = line.find('='); eq != std::string::npos) {
      keys.push_back(section + "/" + line.substr(0, eq));
      (*values)[keys.back()] = line.substr(eq + 1);
    }
  }
  return keys;
}

TEST(ConsoleProgram, FirstStartCreatesThePerUserIniWithEveryConsoleKeyInOrder) {
  // Installed in a folder of its user's (~/.local/bin): no file beside it.
  TempDir dir;
  std::filesystem::create_directory(dir / "bin");
  std::filesystem::create_directory(dir / "work");
  const auto exe = dir / "bin" / "Vs32RxC";
  std::filesystem::copy_file(Program(), exe);
  const auto ini = dir / "config" / "vs32rx" / "Vs32RxC.INI";
  const auto r = test::RunCommand(
      {exe.string()}, (dir / "work").string(),
      {"HOME=" + (dir / "home").string(), "XDG_CONFIG_HOME=" + (dir / "config").string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Settings file: " + ini.string()), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Please set Your CALL and QTH in config file Vs32RxC.ini fields MYCALL and "
                       "MYQTH\n"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "bin" / "Vs32RxC.INI"));
  ASSERT_TRUE(std::filesystem::exists(ini));
  std::map<std::string, std::string> values;
  const auto keys = KeysInOrder(test::ReadFile(ini), &values);

  // Every key the console program reads, grouped by section in the order the
  // sections were first written, each section's keys in reading order.
  std::vector<std::string> want;
  for (const char* section : {"VS-32", "SOUND", "PSKREPORTER"}) {
    for (const SettingKey* key : StartupKeys(Program::kConsole)) {
      if (std::string(key->section) == section)
        want.push_back(section + std::string("/") + key->key);
    }
  }
  EXPECT_EQ(keys, want);
  EXPECT_EQ(values["VS-32/F_CENTER"], "1500");
  EXPECT_EQ(values["VS-32/N_MAX"], "-1");
  // No header without a call and locator to put in it.
  EXPECT_EQ(values["VS-32/MYHEADER"], "");
  EXPECT_EQ(values["SOUND/DEVICE"], "-1");
  EXPECT_EQ(values.count("VS-32/CAPTURE_PATH"), 0u);
  // Lists and the log belong in the current folder; nothing was created there.
  EXPECT_TRUE(std::filesystem::is_empty(dir / "work"));
}

TEST(ConsoleProgram, TheStationsOwnSpotIsSentOnTheWayOut) {
  test::UdpListener listener;
  Station s("MYCALL=Q9XYZ\nMYQTH=JO01AA\n",
            "[PSKREPORTER]\nUPLOAD_SPOT=1\nHOSTNAME=127.0.0.1\nPORT=" +
                std::to_string(listener.port()) + "\n");
  PtyProcess p;
  StartAndWaitForHeader(p, s);
  p.ReadFor(300ms);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(15s), 0);
  ExpectTerminalRestored(p);
  // The self-spot was queued at start-up; the exit sent it.
  const auto datagram = listener.Receive(3000);
  ASSERT_TRUE(datagram.has_value());
  test::TemplateStore templates;
  const test::ParsedMessage m = test::ParseIpfix(*datagram, templates);
  EXPECT_TRUE(m.errors.empty()) << m.errors.front();
  EXPECT_EQ(m.version, 10);
  const auto senders = m.RecordsOf(0x9993);
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0]->Text("30351.1"), "Q9XYZ");
  EXPECT_EQ(senders[0]->Unsigned("30351.5"), 136000u);
  const auto receivers = m.RecordsOf(0x9992);
  ASSERT_EQ(receivers.size(), 1u);
  EXPECT_EQ(receivers[0]->Text("30351.2"), "Q9XYZ");
  EXPECT_EQ(receivers[0]->Text("30351.4"), "JO01AA");
  EXPECT_EQ(receivers[0]->Text("30351.8"), "Vs32RxC v1.4+correlator");
  EXPECT_EQ(receivers[0]->Text("30351.9"), "RX +0.0dB on 137500.0Hz");
}

}  // namespace
}  // namespace vs32
