// The console program's screen layer, texts, key input and stop signals.
#include "console/console_screen.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "console/console_input.h"
#include "console/console_texts.h"
#include "console/vt_screen.h"

// The console program's sources are not in a library: the pieces under test
// are compiled into this test.
#include "console/console_input.h"
#include "console/console_screen.h"
#include "console/console_texts.h"

namespace vs32 {
namespace {

using test::VtScreen;

// Collects what a ConsoleScreen writes, through a temporary file.
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
  VtScreen Screen() const {
    // The screen writes "\n" raw; a terminal's output processing makes it CR LF.
    VtScreen screen(24, 80, true);
    screen.Feed(Bytes());
    return screen;
  }

 private:
  std::FILE* file_;
};

void DrawHeader(ConsoleScreen& screen) {
  screen.Clear();
  screen.PrintAt(1, kBannerRow, std::string(kConsoleBanner) + "\n");
  screen.PrintAt(1, kSummaryRow, "Input: default\t\tDecoder: deep\tDetector: rms+vsds\n");
  screen.PrintAt(1, kStationRow, "Dial=136000.00 Hz\tFc=1500.00 Hz\tPeak spc: 0.081 Hz\n");
  screen.PrintAt(
      1, kHeaderRow,
      std::string(kConsoleSeparator) + std::string(kConsoleColumns) + std::string(kConsoleDashes));
}

TEST(ConsoleScreenTerminal, HeaderRowsLandWhereTheyBelong) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  DrawHeader(screen);
  const VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(1), kConsoleBanner);
  EXPECT_EQ(s.Row(2), "Input: default          Decoder: deep   Detector: rms+vsds");
  EXPECT_EQ(s.Row(3), "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz");
  EXPECT_EQ(s.Row(4), "");
  EXPECT_EQ(s.Row(5), std::string(71, '='));
  EXPECT_EQ(s.Row(6), "   DATE     TIME     CALL    FREQ      QRB     Eb/No      SNR   DEC   U");
  EXPECT_EQ(s.Row(7), std::string(71, '-'));
  EXPECT_EQ(s.Row(8), "");
}

TEST(ConsoleScreenTerminal, ClearWipesWhatWasThereAndHidesTheCursor) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  screen.PrintAt(1, 10, "left over");
  screen.Clear();
  const VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(10), "");
  EXPECT_EQ(s.cursorRow(), 1);
  EXPECT_EQ(s.cursorColumn(), 1);
  EXPECT_NE(out.Bytes().find("\x1b[?25l"), std::string::npos);
}

TEST(ConsoleScreenTerminal, MessagesReplaceEachOtherOnTheMessageRow) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  DrawHeader(screen);
  screen.Message("Settings file: /a/rather/long/path/to/the/settings/Vs32RxC.INI");
  screen.Message("> processing file x.wav\n");
  const VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(4), "> processing file x.wav");
  EXPECT_EQ(s.Row(3), "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz");
  EXPECT_EQ(s.Row(5), std::string(71, '='));
}

TEST(ConsoleScreenTerminal, LiveFieldsSpinnerAndAmbiguityShareRowsWithoutDisturbingThem) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  DrawHeader(screen);
  screen.Message("> processing file x.wav\n");
  char buf[64];
  screen.ShowLive(kPeaksColumn, kSummaryRow, std::string_view(buf, FormatPeaks(buf, 64, 37)));
  screen.ShowLive(kLevelColumn, kStationRow, std::string_view(buf, FormatLevel(buf, 64, 0.01f, 3)));
  screen.ShowLive(1, kMessageRow, "/");
  screen.PrintAt(kAmbiguityColumn, kMessageRow, AmbiguityField("Q1ABC or Q1ABD?"));
  const VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(2), "Input: default          Decoder: deep   Detector: rms+vsds     37 peaks");
  EXPECT_EQ(s.Row(3), "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz   -40.0 dB C");
  EXPECT_EQ(s.Row(4), "/ processing file x.wav                           Q1ABC or Q1ABD?");
}

TEST(ConsoleScreenTerminal, ClearRowRemovesOnlyThatRow) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  DrawHeader(screen);
  screen.Message("> processing file x.wav\n");
  screen.PrintAt(kAmbiguityColumn, kMessageRow, " A or B?");
  screen.ClearRow(kMessageRow);
  const VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(4), "");
  EXPECT_EQ(s.Row(3), "Dial=136000.00 Hz       Fc=1500.00 Hz   Peak spc: 0.081 Hz");
  EXPECT_EQ(s.Row(5), std::string(71, '='));
}

TEST(ConsoleScreenTerminal, DecodeLinesAreInsertedNewestFirstUnderTheHeader) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  DrawHeader(screen);
  screen.InsertLine(kDecodeRow, "first +\n");
  screen.InsertLine(kDecodeRow, "second x\n");
  screen.InsertLine(kDecodeRow, "third  \n");
  const VtScreen s = out.Screen();
  EXPECT_EQ(s.Row(7), std::string(71, '-'));
  EXPECT_EQ(s.Row(8), "third");
  EXPECT_EQ(s.Row(9), "second x");
  EXPECT_EQ(s.Row(10), "first +");
  EXPECT_EQ(s.Row(11), "");
}

TEST(ConsoleScreenTerminal, FinishShowsTheCursorBelowTheScreen) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kTerminal);
  DrawHeader(screen);
  screen.Finish(true);
  const std::string bytes = out.Bytes();
  EXPECT_EQ(bytes.substr(bytes.size() - 6), "\x1b[?25h");
  // A temporary file has no window size: the standard 24 rows.
  EXPECT_NE(bytes.find("\x1b[24;1H\n"), std::string::npos);
}

TEST(ConsoleScreenPlain, ScreenTextComesOutAsPlainLinesWithoutControlSequences) {
  Capture out;
  ConsoleScreen screen(out.fd(), ScreenMode::kPlain);
  DrawHeader(screen);
  screen.Message("Cannot Open Audio Input Device");
  screen.ShowLive(1, kMessageRow, "|");
  screen.ShowLive(kPeaksColumn, kSummaryRow, "  3 peaks  ");
  screen.ClearRow(kMessageRow);
  screen.PrintAt(kAmbiguityColumn, kMessageRow, " A or B?");
  screen.InsertLine(kDecodeRow, "line one +\n");
  screen.InsertLine(kDecodeRow, "line two  \n");
  screen.Finish(true);
  EXPECT_EQ(out.Bytes(), std::string(kConsoleBanner) + "\n" +
                             "Input: default\t\tDecoder: deep\tDetector: rms+vsds\n"
                             "Dial=136000.00 Hz\tFc=1500.00 Hz\tPeak spc: 0.081 Hz\n" +
                             std::string(kConsoleSeparator) + std::string(kConsoleColumns) +
                             std::string(kConsoleDashes) +
                             "Cannot Open Audio Input Device\n"
                             " A or B?\n"
                             "line one +\n"
                             "line two  \n");
}

TEST(ConsoleScreenPlain, AWriterThatWentAwayIsNoFault) {
  StopSignals signals;  // ignores SIGPIPE, as the program does
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  ConsoleScreen screen(fds[1], ScreenMode::kPlain);
  screen.PrintAt(1, 1, "nobody reads this\n");
  screen.InsertLine(kDecodeRow, "nor this\n");
  ::close(fds[1]);
  SUCCEED();  // reaching here without SIGPIPE or a hang is the point
}

TEST(ConsoleTexts, HelpWordsAreExactAndCaseSensitive) {
  for (const char* word : {"/?", "-?", "help", "/h"}) EXPECT_TRUE(IsHelpWord(word)) << word;
  for (const char* word : {"HELP", "Help", "/H", "--help", "help ", "", "x.wav", "?"}) {
    EXPECT_FALSE(IsHelpWord(word)) << word;
  }
}

TEST(ConsoleTexts, DeviceListGivesTheValuesOfDeviceInOrder) {
  const std::vector<std::string> names = {"HDA Intel: ALC", "pulse", "vs32"};
  EXPECT_EQ(DeviceListText(names),
            "DEVICE  sound input (set in [SOUND] of the settings file)\n"
            "    -1  the system's default input\n"
            "     0  HDA Intel: ALC\n"
            "     1  pulse\n"
            "     2  vs32\n");
  EXPECT_NE(DeviceListText({}).find("(no input device found)"), std::string::npos);
}

TEST(ConsoleTexts, DeviceOptionTakesANumberOrAPartOfANameInAnyCase) {
  const std::vector<std::string> names = {"HDA Intel: ALC", "USB Audio CODEC", "usb audio 2"};
  EXPECT_EQ(FindInputDevice("-1", names), -1);
  EXPECT_EQ(FindInputDevice("7", names), 7);  // numbers are taken as they are
  EXPECT_EQ(FindInputDevice("intel", names), 0);
  EXPECT_EQ(FindInputDevice("uSb AUDIO", names), 1);  // the first that contains it
  EXPECT_EQ(FindInputDevice("audio 2", names), 2);
  EXPECT_EQ(FindInputDevice("pulse", names), std::nullopt);
  EXPECT_EQ(FindInputDevice("CODEC ", names), std::nullopt);
}

TEST(ConsoleTexts, InputFieldNamesTheDeviceOrSaysItIsMissing) {
  const std::vector<std::string> names = {"HDA Intel: ALC", "USB Audio CODEC"};
  EXPECT_EQ(InputField(-1, names), "Input: default\t\t");
  EXPECT_EQ(InputField(0, names), "Input: HDA Intel: ALC\t");
  EXPECT_EQ(InputField(1, names), "Input: USB Audio CODEC\t");
  EXPECT_EQ(InputField(2, names), "Input: 2 (not present)\t");
  EXPECT_EQ(InputField(-2, names), "Input: -2 (not present)\t");
  EXPECT_EQ(InputField(0, {}), "Input: 0 (not present)\t");
}

TEST(ConsoleTexts, DecoderFieldsFollowTheSwitches) {
  ReceiverSettings s = DefaultSettings(Program::kConsole);  // deep, rms, correlator
  EXPECT_EQ(DecoderFields(s), "Decoder: deep\tDetector: rms+vsds\n");
  s.ultraDeepDecoder = true;
  EXPECT_EQ(DecoderFields(s), "Decoder: UDeep\tDetector: rms+vsds\n");
  s.ultraDeepDecoder = false;
  s.deepDecoder = false;
  s.useCorrelator = false;
  EXPECT_EQ(DecoderFields(s), "Detector: rms\n");
  s.coherentDetector = true;
  s.ultraDeepDecoder = true;  // ultra deep shows even with deep off
  EXPECT_EQ(DecoderFields(s), "Decoder: UDeep\tDetector: chr\n");
  s.listDecoder = true;  // the list replaces Deep and Ultra Deep
  EXPECT_EQ(DecoderFields(s), "Decoder: list\tDetector: chr\n");
}

TEST(ConsoleTexts, StationLineShowsDialCentreAndPeakSpacing) {
  ReceiverSettings s = DefaultSettings(Program::kConsole);
  EXPECT_EQ(StationLine(s), "Dial=136000.00 Hz\tFc=1500.00 Hz\tPeak spc: 0.081 Hz\n");
  s.dialHz = 137500.5;
  s.bandStartHz = 5450;
  s.minPeakSpacing = 615;
  EXPECT_EQ(StationLine(s), "Dial=137500.50 Hz\tFc=5500.00 Hz\tPeak spc: 50.000 Hz\n");
  s.minPeakSpacing = 0;
  EXPECT_EQ(StationLine(s).substr(StationLine(s).find("Peak")), "Peak spc: 0.000 Hz\n");
}

TEST(ConsoleTexts, LiveFieldsFormatPeaksAndLevel) {
  char buf[64];
  EXPECT_EQ(std::string(buf, FormatPeaks(buf, sizeof buf, 0)), "  0 peaks  ");
  EXPECT_EQ(std::string(buf, FormatPeaks(buf, sizeof buf, 1230)), "1230 peaks  ");
  EXPECT_EQ(std::string(buf, FormatLevel(buf, sizeof buf, 1.0f / 6, 0)), "-15.6 dB  ");
  EXPECT_EQ(std::string(buf, FormatLevel(buf, sizeof buf, 0.5f, 12)), "-6.0 dB C");
  EXPECT_EQ(std::string(buf, FormatLevel(buf, sizeof buf, 2.0f, 0)), "6.0 dB  ");
  // No level at all: nothing, so the old text stays on screen.
  EXPECT_EQ(FormatLevel(buf, sizeof buf, 0.0f, 0), 0u);
  EXPECT_EQ(FormatLevel(buf, sizeof buf, -1.0f, 5), 0u);
}

TEST(ConsoleTexts, WavMessages) {
  EXPECT_EQ(ProcessingFileMessage("/data/rec/2024-01-01.wav"),
            "> processing file 2024-01-01.wav\n");
  EXPECT_EQ(ProcessingFileMessage("plain.wav"), "> processing file plain.wav\n");
  EXPECT_EQ(WavErrorMessage("../x.wav", "WAV-file must be 12000 sps, 16 bit!"),
            "ERROR: ../x.wav WAV-file must be 12000 sps, 16 bit!\n");
  EXPECT_EQ(AmbiguityField("Q1ABC or Q1ABD?"), " Q1ABC or Q1ABD?");
}

// A pseudo-terminal pair inside the test process.
struct PtyPair {
  int master = -1;
  int slave = -1;
  PtyPair() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
      slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
  }
  ~PtyPair() {
    if (slave >= 0) ::close(slave);
    if (master >= 0) ::close(master);
  }
};

tcflag_t LocalModes(int fd) {
  termios t{};
  ::tcgetattr(fd, &t);
  return t.c_lflag;
}

TEST(TerminalKeys, SingleKeyModeWithoutEchoAndRestoredAfterwards) {
  PtyPair pty;
  ASSERT_GE(pty.slave, 0);
  const tcflag_t before = LocalModes(pty.slave);
  ASSERT_TRUE(before & ICANON);
  ASSERT_TRUE(before & ECHO);
  {
    TerminalKeys keys(pty.slave);
    EXPECT_TRUE(keys.terminal());
    EXPECT_FALSE(LocalModes(pty.slave) & ICANON);
    EXPECT_FALSE(LocalModes(pty.slave) & ECHO);
    EXPECT_TRUE(LocalModes(pty.slave) & ISIG);  // Ctrl+C still interrupts
    // One key, no Enter needed.
    ASSERT_EQ(::write(pty.master, "k", 1), 1);
    EXPECT_TRUE(keys.WaitForKey(-1));
  }
  EXPECT_EQ(LocalModes(pty.slave), before);
}

TEST(TerminalKeys, RestoreIsIdempotent) {
  PtyPair pty;
  ASSERT_GE(pty.slave, 0);
  const tcflag_t before = LocalModes(pty.slave);
  TerminalKeys keys(pty.slave);
  keys.Restore();
  EXPECT_EQ(LocalModes(pty.slave), before);
  // A second restore (the destructor) must not put single-key mode back or
  // clobber a change made meanwhile.
  termios changed{};
  ::tcgetattr(pty.slave, &changed);
  changed.c_lflag &= ~static_cast<tcflag_t>(ECHOE);
  ::tcsetattr(pty.slave, TCSANOW, &changed);
  keys.Restore();
  EXPECT_EQ(LocalModes(pty.slave), changed.c_lflag);
  // Waiting after the terminal was handed back would block a shell user: it does not.
  EXPECT_FALSE(keys.WaitForKey(-1));
}

TEST(TerminalKeys, NoWaitWhenInputIsNotATerminal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  TerminalKeys keys(fds[0]);  // nobody will ever write: a wait would hang the test
  EXPECT_FALSE(keys.terminal());
  EXPECT_FALSE(keys.WaitForKey(-1));
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST(TerminalKeys, AStopEndsTheWait) {
  PtyPair pty;
  ASSERT_GE(pty.slave, 0);
  int wake[2];
  ASSERT_EQ(::pipe(wake), 0);
  TerminalKeys keys(pty.slave);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(::write(wake[1], "s", 1), 1);
  });
  EXPECT_FALSE(keys.WaitForKey(wake[0]));
  stopper.join();
  ::close(wake[0]);
  ::close(wake[1]);
}

TEST(StopSignals, TermIntAndHupAreReadAsAStopRequest) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    StopSignals signals;
    ASSERT_GE(signals.fd(), 0);
    EXPECT_FALSE(signals.requested());
    EXPECT_FALSE(signals.WaitFor(std::chrono::milliseconds(10)));
    ::raise(sig);  // blocked: stays pending, read through the descriptor
    EXPECT_TRUE(signals.WaitFor(std::chrono::seconds(5)));
    EXPECT_TRUE(signals.requested());
    EXPECT_EQ(signals.signalNumber(), sig);
  }
}

TEST(StopSignals, TheMaskAndSigpipeAreHandedBack) {
  sigset_t before;
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
  {
    StopSignals signals;
    sigset_t during;
    pthread_sigmask(SIG_SETMASK, nullptr, &during);
    EXPECT_EQ(sigismember(&during, SIGTERM), 1);
    struct sigaction pipe {};
    ::sigaction(SIGPIPE, nullptr, &pipe);
    EXPECT_EQ(pipe.sa_handler, SIG_IGN);
    ::raise(SIGHUP);  // left unanswered: must not strike when unblocked
  }
  sigset_t after;
  pthread_sigmask(SIG_SETMASK, nullptr, &after);
  EXPECT_EQ(sigismember(&after, SIGTERM), sigismember(&before, SIGTERM));
  EXPECT_EQ(sigismember(&after, SIGHUP), sigismember(&before, SIGHUP));
  struct sigaction pipe {};
  ::sigaction(SIGPIPE, nullptr, &pipe);
  EXPECT_EQ(pipe.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace vs32
