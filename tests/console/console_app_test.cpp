// The console program's pieces that sit between the engine and the screen: the
// worker's events, the decode lines, and start-up runs inside the test process
// (where it can be seen that nothing was started).
#include "console/console_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "console/console_texts.h"
#include "console/vt_screen.h"
#include "report/ipfix_listener.h"
#include "support/test_support.h"

// The console program's sources are not in a library: the pieces under test
// are compiled into this test.
#include "audio/sound_device.h"
#include "console/console_app.h"
#include "console/console_input.h"
#include "console/console_screen.h"
#include "console/console_texts.h"

namespace vs32 {
namespace {

class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  int fd() const { return ::fileno(file_); }
  std::string Bytes() const {
    std::string all;
    char buf[4096];
    ssize_t n;
    off_t at = 0;
    while ((n = ::pread(fd(), buf, sizeof buf, at)) > 0) {
      all.append(buf, static_cast<size_t>(n));
      at += n;
    }
    return all;
  }
  test::VtScreen Screen() const {
    test::VtScreen screen(24, 80, true);
    screen.Feed(Bytes());
    return screen;
  }

 private:
  std::FILE* file_;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ConsoleEvents, WorkerReportsLandOnTheMessageRow) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  ConsoleEvents events(screen);
  screen.PrintAt(1, kStationRow, "row three\n");
  screen.Message("> processing file rec.wav\n");
  events.Ambiguity("Q1ABC or Q1ABD?");
  EXPECT_EQ(out.Screen().Row(4),
            "> processing file rec.wav                         Q1ABC or Q1ABD?");
  events.WavEnded();
  EXPECT_EQ(out.Screen().Row(4), "");
  EXPECT_EQ(out.Screen().Row(3), "row three");
}

TEST(ConsoleEvents, EachWarningIsShownOnce) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kPlain);
  ConsoleEvents events(screen);
  events.Warning(SoundDevice::kInputFailedText, SoundDevice::kCaption);
  events.Warning(SoundDevice::kInputFailedText, SoundDevice::kCaption);  // reopened after a file
  events.Warning(SoundDevice::kOutputFailedText, SoundDevice::kCaption);
  events.Warning(SoundDevice::kInputFailedText, SoundDevice::kCaption);
  EXPECT_EQ(out.Bytes(), "Cannot Open Audio Input Device\nCannot Open Audio Output Device\n");
}

TEST(ConsoleOutput, DecodeLinesGoUnderTheHeaderNewestFirst) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  ConsoleEvents events(screen);
  ConsoleOutput output(screen, events);
  screen.PrintAt(1, 7, std::string(kConsoleDashes));
  output.ShowLine("2024-01-02 03:04:05  Q1ABC 137500.00   111 km 9.1dB\t-20.0dB\t  3    ");
  output.ShowLine("2024-01-02 03:14:05  Q2XYZ 137510.00          6.0dB\t-25.0dB\t  0 c  ");
  const test::VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(7), std::string(71, '-'));
  EXPECT_EQ(s.Row(8), "2024-01-02 03:14:05  Q2XYZ 137510.00          6.0dB     -25.0dB   0 c");
  EXPECT_EQ(s.Row(9), "2024-01-02 03:04:05  Q1ABC 137500.00   111 km 9.1dB     -20.0dB   3");
  // A failing log write is said once, not for every decode.
  output.WriteFailed("cannot write my_detected.txt: Permission denied");
  output.WriteFailed("cannot write my_detected.txt: Permission denied");
  EXPECT_EQ(Count(out.Bytes(), "Permission denied"), 1u);
}

// Runs the program inside the test process with plain output into a file and
// no terminal on the input (so it never waits for a key).
class ConsoleRun : public ::testing::Test {
 protected:
  ConsoleRun() : cwd_(dir_.path()) { EXPECT_EQ(::pipe(input_), 0); }
  ~ConsoleRun() override {
    ::close(input_[0]);
    ::close(input_[1]);
  }

  ConsoleIo Io() {
    ConsoleIo io;
    io.outFd = out_.fd();
    io.errFd = out_.fd();  // one stream, in order
    io.inFd = input_[0];
    io.mode = ScreenMode::kPlain;
    io.environment = CurrentIniEnvironment();
    io.environment.vs32Ini = ini().string();
    return io;
  }
  int Run(const std::vector<std::string>& args) {
    app_ = std::make_unique<ConsoleApp>(Io(), stop_);
    return app_->Run(args);
  }
  std::filesystem::path ini() const { return dir_ / "station.INI"; }

  test::TempDir dir_;
  test::ScopedCwd cwd_;
  StopSignals stop_;
  Capture out_;
  int input_[2] = {-1, -1};
  std::unique_ptr<ConsoleApp> app_;
};

TEST_F(ConsoleRun, HelpWordStopsBeforeTheSettings) {
  EXPECT_EQ(Run({"/?"}), 0);
  EXPECT_EQ(out_.Bytes(), std::string(kConsoleBanner) + "\n" + std::string(kConsoleUsage));
  EXPECT_FALSE(app_->workerStarted());
  EXPECT_FALSE(std::filesystem::exists(ini()));
}

TEST_F(ConsoleRun, EmptyCallStartsNothing) {
  // Uploading on: still no contact with the reporting service.
  test::WriteFile(ini(), "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=\n[PSKREPORTER]\nHOSTNAME=127.0.0.1\n");
  EXPECT_EQ(Run({}), 1);
  EXPECT_FALSE(app_->workerStarted());
  ASSERT_NE(app_->reporter(), nullptr);
  EXPECT_FALSE(app_->reporter()->Connected());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "my_detected.txt"));
  const std::string text = out_.Bytes();
  EXPECT_EQ(text.substr(text.size() - kEmptyCallMessage.size()), kEmptyCallMessage);
  // The settings were read (and written back) before the check.
  EXPECT_EQ(app_->settings().myCall, "Q9XYZ");
  EXPECT_NE(test::ReadFile(ini()).find("MYHEADER="), std::string::npos);
}

TEST_F(ConsoleRun, WavErrorEndsTheRunAfterTheWorkerStarted) {
  test::UdpListener listener;
  test::WriteFile(ini(),
                  "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\nF_CENTER=6000\n[PSKREPORTER]\n"
                  "HOSTNAME=127.0.0.1\nPORT=" +
                      std::to_string(listener.port()) + "\n");
  // A 12000-sps 16-bit file (two frames) for the 48000-sps path (F_CENTER from 5500 on).
  const unsigned char wav[] = {'R',  'I',  'F', 'F', 40,   0,    0, 0, 'W', 'A', 'V', 'E',
                               'f',  'm',  't', ' ', 16,   0,    0, 0, 1,   0,   1,   0,
                               0xe0, 0x2e, 0,   0,   0xc0, 0x5d, 0, 0, 2,   0,   16,  0,
                               'd',  'a',  't', 'a', 4,    0,    0, 0, 0,   0,   0,   0};
  test::WriteFile(dir_ / "narrow.wav", std::string(reinterpret_cast<const char*>(wav), sizeof wav));
  EXPECT_EQ(Run({"narrow.wav"}), 1);
  EXPECT_TRUE(app_->workerStarted());
  // The reporter was set up at start-up and the station's own spot, queued
  // then, went out on the way out.
  EXPECT_TRUE(app_->reporter()->Connected());
  const auto datagram = listener.Receive(2000);
  ASSERT_TRUE(datagram.has_value());
  test::TemplateStore templates;
  const auto message = test::ParseIpfix(*datagram, templates);
  ASSERT_EQ(message.RecordsOf(0x9993).size(), 1u);
  EXPECT_EQ(message.RecordsOf(0x9993)[0]->Text("30351.1"), "Q9XYZ");
  const std::string text = out_.Bytes();
  EXPECT_NE(text.find("\nERROR: narrow.wav WAV-file must be 48000 sps, 16 bit!\n"),
            std::string::npos)
      << text;
  // The log was made before the worker started.
  EXPECT_TRUE(std::filesystem::exists(dir_ / "my_detected.txt"));
}

TEST_F(ConsoleRun, DecodesStillWaitingToGoQuietAreReportedOnTheWayOut) {
  test::WriteFile(ini(), "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n[PSKREPORTER]\nUPLOAD_SPOT=0\n");
  test::WriteFile(dir_ / "callsloc.txt", "Q1ABC JO65HO\n");
  app_ = std::make_unique<ConsoleApp>(Io(), stop_);
  int exitCode = -1;
  std::thread run([&] { exitCode = app_->Run({}); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!app_->workerStarted() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(app_->workerStarted());
  // A run begins by clearing the slot table.
  while (!app_->workerLooping() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(app_->workerLooping());
  // A decode made just now: the main loop holds it back until it has been
  // quiet for 8 s, so only the shutdown can report it.
  std::vector<double> spectrum(DecodeSlotTable::kChannels, 1.0);
  spectrum[700] = 1000.0;
  ASSERT_EQ(
      app_->slots()->AcceptDecode(700, 2, "Q1ABC", 12.0f, 1, static_cast<int>(std::time(nullptr)),
                                  spectrum.data(), 0.0, false),
      AcceptOutcome::kOpened);
  // Process-directed, as from a shell: blocked in every thread, so it is read
  // through the stop descriptor by the program's thread.
  ::kill(::getpid(), SIGTERM);
  run.join();
  EXPECT_EQ(exitCode, 0);
  EXPECT_NE(out_.Bytes().find("Q1ABC"), std::string::npos) << out_.Bytes();
  EXPECT_NE(test::ReadFile(dir_ / "my_detected.txt").find("Q1ABC"), std::string::npos);
  DecodeSlot left;
  for (int i = 0; i < DecodeSlotTable::kSlots; ++i) EXPECT_FALSE(app_->slots()->TakeAny(i, left));
}

}  // namespace
}  // namespace vs32
