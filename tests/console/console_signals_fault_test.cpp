// Vs32RxC stopped from outside, as a service manager, a shell or a closing
// terminal does it: Ctrl+C (SIGINT), SIGTERM and SIGHUP each stop the worker,
// send the spots still queued, restore the terminal and end with status 0,
// also while a recording is being decoded.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "console/pty_process.h"
#include "report/ipfix_listener.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
using test::PtyProcess;

const std::string kRow7 = std::string(71, '-');

// A station that uploads to a listener on the loopback address.
struct Station {
  test::TempDir dir;
  test::UdpListener listener;
  std::filesystem::path ini = dir / "station.INI";

  Station() {
    test::WriteFile(ini,
                    "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n[PSKREPORTER]\nUPLOAD_SPOT=1\n"
                    "HOSTNAME=127.0.0.1\nPORT=" +
                        std::to_string(listener.port()) + "\n");
  }
  std::vector<std::string> Env() const { return {"VS32_INI=" + ini.string()}; }
};

// `seconds` of silence as a 12000-sample/s 16-bit mono recording.
void WriteSilence(const std::filesystem::path& path, uint32_t seconds) {
  const uint32_t bytes = 12000 * 2 * seconds;
  std::string file = "RIFF";
  auto u32 = [&file](uint32_t v) {
    for (int i = 0; i < 4; ++i) file += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  auto u16 = [&file](uint16_t v) {
    file += static_cast<char>(v & 0xff);
    file += static_cast<char>(v >> 8);
  };
  u32(36 + bytes);
  file += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(1);
  u32(12000);
  u32(24000);
  u16(2);
  u16(16);
  file += "data";
  u32(bytes);
  file.append(bytes, '\0');
  test::WriteFile(path, file);
}

struct StopCase {
  const char* name;
  int signal;
  bool duringRecording;
};

class ConsoleStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(ConsoleStop, WorkerStopsQueuedSpotsLeaveTerminalIsRestoredStatusZero) {
  const StopCase& c = GetParam();
  Station s;
  std::vector<std::string> args = {test::BuiltProgram("Vs32RxC")};
  if (c.duringRecording) {
    // Long enough to still be decoding when the signal comes.
    WriteSilence(s.dir / "long.wav", 600);
    args.push_back((s.dir / "long.wav").string());
  }
  PtyProcess p;
  ASSERT_TRUE(p.Start(args, s.dir.path().string(), s.Env()));
  ASSERT_TRUE(p.WaitForRow(7, kRow7, 20s)) << p.screen().Text();
  if (c.duringRecording) {
    // Row 4 starts with the spinner by now; the rest of the line stays.
    ASSERT_TRUE(p.WaitFor(
        [](const test::VtScreen& screen) {
          return screen.Row(4).find(" processing file long.wav") != std::string::npos;
        },
        10s))
        << p.screen().Text();
  }
  p.ReadFor(300ms);
  ASSERT_TRUE(p.Running());

  const auto sent = std::chrono::steady_clock::now();
  p.Signal(c.signal);
  EXPECT_EQ(p.WaitExit(15s), 0);
  // The worker is stopped, not waited out: the block in progress at most.
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);

  // The terminal is as it was: line mode, echo, signals, and the cursor shown.
  const termios now = p.CurrentModes();
  EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG),
            p.InitialModes().c_lflag & (ICANON | ECHO | ISIG));
  const std::string& out = p.output();
  const size_t shown = out.rfind("\x1b[?25h");
  ASSERT_NE(shown, std::string::npos);
  EXPECT_GT(shown, out.rfind("\x1b[?25l"));

  // The station's own spot, queued at start-up, left before the exit.
  const auto datagram = s.listener.Receive(3000);
  ASSERT_TRUE(datagram.has_value());
  test::TemplateStore templates;
  const test::ParsedMessage m = test::ParseIpfix(*datagram, templates);
  EXPECT_TRUE(m.errors.empty());
  const auto senders = m.RecordsOf(0x9993);
  ASSERT_EQ(senders.size(), 1u);
  EXPECT_EQ(senders[0]->Text("30351.1"), "Q9XYZ");
  // Exactly once.
  EXPECT_FALSE(s.listener.Receive(300).has_value());
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleStop,
                         ::testing::Values(StopCase{"Interrupt", SIGINT, false},
                                           StopCase{"Terminate", SIGTERM, false},
                                           StopCase{"HangUp", SIGHUP, false},
                                           StopCase{"InterruptDuringRecording", SIGINT, true},
                                           StopCase{"TerminateDuringRecording", SIGTERM, true}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace vs32
