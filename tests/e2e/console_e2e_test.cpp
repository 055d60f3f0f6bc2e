// Vs32RxC decodes a generated recording named on its command line: the decode
// shows at row 8 of its screen, the log line is written, the station list
// grows, and a recording's decode is never uploaded as a live spot. Piped in
// on standard input the same audio is live: decoded as the pipe delivers it,
// printed, logged and spotted, and the program ends with the input.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "console/pipe_process.h"
#include "console/pty_process.h"
#include "report/ipfix_listener.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;

// A station Q9XYZ in JO01AA that knows Q1ABC (about 111 km away) and uploads
// to `listener`; `recording` holds Q1ABC at 1500 Hz and `snr`.
void SetUpStation(const test::TempDir& dir, const std::filesystem::path& recording,
                  const std::string& snr, const test::UdpListener& listener) {
  const auto gen = test::RunCommand({test::BuiltProgram("vs32gen"), "-o", recording.string(),
                                     "--station", "Q1ABC:1500:" + snr, "--seed", "3"});
  ASSERT_EQ(gen.status, 0) << gen.err;
  test::WriteFile(dir / "callsloc.txt", "Q1ABC JO02AA\n");
  test::WriteFile(dir / "station.INI",
                  "[VS-32]\nMYCALL=Q9XYZ\nMYQTH=JO01AA\n[PSKREPORTER]\nUPLOAD_SPOT=1\n"
                  "HOSTNAME=127.0.0.1\nPORT=" +
                      std::to_string(listener.port()) + "\n");
}

TEST(ConsoleE2e, GeneratedRecordingIsDecodedShownLoggedAndNotSpotted) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "recordings");
  const auto recording = dir / "recordings" / "q1abc.wav";
  // The known-calls filter is on (the default), so only known stations show.
  // Uploading is on, to a local listener.
  test::UdpListener listener;
  ASSERT_NO_FATAL_FAILURE(SetUpStation(dir, recording, "-15", listener));

  test::PtyProcess p;
  ASSERT_TRUE(p.Start({test::BuiltProgram("Vs32RxC"), recording.string()}, dir.path().string(),
                      {"VS32_INI=" + (dir / "station.INI").string()}));
  // The spinner takes the first column of the message row.
  ASSERT_TRUE(p.WaitForRow(4, " processing file q1abc.wav", 30s)) << p.screen().Text();

  // The recording is decoded as fast as the machine allows; the decode is
  // reported once its slot has been quiet for 8 s.
  ASSERT_TRUE(p.WaitForRow(8, "Q1ABC", 900s)) << p.screen().Text();
  const std::string row8 = p.screen().Row(8);
  EXPECT_TRUE(std::regex_match(
      row8,
      std::regex(
          R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  Q1ABC 137500\.\d\d   111 km \d+\.\d+dB +-\d+\.\d+dB +\d+)")))
      << row8;
  EXPECT_EQ(p.screen().Row(9), "") << "only the known station shows";
  EXPECT_EQ(p.screen().Row(7), std::string(71, '-'));

  // The log: header block, then the line with the decode mark ' ' (a known
  // station) and the upload mark ' ' (a recording is never uploaded). It is
  // written right after the line is shown.
  std::string log;
  for (int i = 0; i < 100 && log.find("Q1ABC") == std::string::npos; ++i) {
    p.ReadFor(100ms);
    log = test::ReadFile(dir / "my_detected.txt");
  }
  EXPECT_TRUE(std::regex_match(
      log, std::regex("Q9XYZ JO01AA Vesta-32 decoded \\(Vs32RxC ZZ0ZZZ software\\)\n\n"
                      "   DATE     TIME     CALL    FREQ      QRB     Eb/No\t  SNR\tDEC   U\n"
                      R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  Q1ABC 137500\.\d\d   111 km )"
                      R"(\d+\.\ddB\t-\d+\.\ddB\t {0,2}\d+    \n)")))
      << log;
  // The time stamp on the screen is the one in the log.
  EXPECT_NE(log.find(row8.substr(0, 19)), std::string::npos);
  // A station with a position heard on a new frequency: the frequency list grows.
  EXPECT_TRUE(
      std::regex_match(test::ReadFile(dir / "freq_list.txt"), std::regex(R"(137500\.\d{3}\n)")));

  // The file ends: its line goes, and the program carries on live (the row may
  // then tell that the sound input is being retried).
  ASSERT_TRUE(p.WaitFor(
      [](const test::VtScreen& v) { return v.Row(4).find("processing file") == std::string::npos; },
      900s))
      << p.screen().Text();
  EXPECT_TRUE(p.Running());
  EXPECT_NE(p.screen().Row(8).find("Q1ABC"), std::string::npos);

  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(30s), 0);

  // What reached the spot service: the station's own report (queued at start,
  // sent at the latest on the way out; a 20-minute repeat may come too), and
  // nothing about Q1ABC.
  test::TemplateStore templates;
  int ownSpots = 0;
  for (const auto& datagram : listener.ReceiveAll(1000)) {
    const test::ParsedMessage m = test::ParseIpfix(datagram, templates);
    EXPECT_TRUE(m.errors.empty());
    for (const test::DataRecord* r : m.RecordsOf(0x9993)) {
      EXPECT_EQ(r->Text("30351.1"), "Q9XYZ");
      ++ownSpots;
    }
  }
  EXPECT_GE(ownSpots, 1);
}

TEST(ConsoleE2e, AudioPipedInIsDecodedAsItComesPrintedAsJsonLoggedSpottedAndEndsTheRun) {
  test::TempDir dir;
  const auto recording = dir / "q1abc.wav";
  // A strong station, so that one frame surely decodes.
  test::UdpListener listener;
  ASSERT_NO_FATAL_FAILURE(SetUpStation(dir, recording, "-10", listener));

  test::PipeProcess p;
  ASSERT_TRUE(p.Start({test::BuiltProgram("Vs32RxC"), "--input", "-", "--json"},
                      dir.path().string(), {"VS32_INI=" + (dir / "station.INI").string()}));
  const auto started = std::chrono::steady_clock::now();
  p.Feed(test::ReadFile(recording), true);
  // 34 minutes of audio: as fast as the receiver takes it (seconds, not minutes).
  EXPECT_EQ(p.WaitExit(180s), 0) << p.err();
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, 120s);
  std::printf("34 minutes of piped audio decoded in %.1f s\n",
              std::chrono::duration<double>(took).count());

  // Standard output holds the decode alone, as one JSON line.
  EXPECT_TRUE(std::regex_match(
      p.out(),
      std::regex(R"(\{"file": "-", "utc": "\d{4}-\d\d-\d\d \d\d:\d\d:\d\d", )"
                 R"("offset_s": null, "start_s": null, "call": "Q1ABC", )"
                 R"("freq_hz": 137500\.\d\d, "qrb_km": 111, "ebno_db": \d+\.\d, )"
                 R"("snr_db": -\d+\.\d, "attempts": \d+, "status": [12], "mark": null\}\n)")))
      << p.out();
  EXPECT_NE(p.err().find("Input: standard input"), std::string::npos) << p.err();
  EXPECT_NE(p.err().find("End of input"), std::string::npos) << p.err();
  const std::string log = test::ReadFile(dir / "my_detected.txt");
  EXPECT_NE(log.find("  Q1ABC 137500."), std::string::npos) << log;
  EXPECT_NE(log.find(p.out().substr(p.out().find("utc") + 7, 19)), std::string::npos)
      << "the log line carries the time of the JSON line";

  // Live audio is spotted; the spot left on the way out.
  test::TemplateStore templates;
  int q1abcSpots = 0;
  for (const auto& datagram : listener.ReceiveAll(1000)) {
    const test::ParsedMessage m = test::ParseIpfix(datagram, templates);
    for (const test::DataRecord* r : m.RecordsOf(0x9993))
      q1abcSpots += r->Text("30351.1") == "Q1ABC";
  }
  EXPECT_EQ(q1abcSpots, 1);
}

}  // namespace
}  // namespace vs32
