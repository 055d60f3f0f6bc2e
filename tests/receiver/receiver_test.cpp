// The receiver as the front ends run it, on a generated recording with one
// station: decoded in a batch run on the recording's clock and through the
// worker thread; a decode still waiting to go quiet is reported when the run
// ends or stops; a restart runs with the settings changed meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/frame_codec.h"
#include "receiver/receiver.h"
#include "support/generated_source.h"
#include "support/receiver_rig.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;

constexpr int kTimeBase = 1000000;  // slot time 0 means a free slot
constexpr double kStationHz = 1482.52;
const std::string kCall = "Q1ABC";

// One frame of kCall from the generator's default start, and its usual tail.
vs32gen::GeneratorConfig OneStation() {
  vs32gen::GeneratorConfig config;
  config.seed = 7;
  vs32gen::StationSpec station;
  station.field = CallsignFieldForm(kCall);
  station.audioHz = kStationHz;
  station.snrDb = -18;
  config.stations.push_back(station);
  const double seconds =
      vs32gen::kDefaultStartSeconds + vs32gen::kFrameSeconds + vs32gen::kTailSeconds;
  config.frames = static_cast<int64_t>(seconds * config.rateHz);
  return config;
}

struct Decodes : ResultsOutput {
  std::vector<std::string> calls;
  std::vector<DecodeReport> reports;  // their lines are not kept
  void Decode(const DecodeReport& report) override {
    calls.emplace_back(report.call);
    reports.push_back(report);
    reports.back().line = {};
  }
};

struct Spots : SpotSender {
  std::vector<std::pair<std::string, float>> sent;  // call, frequency
  bool Send(std::string_view call, std::string_view, float frequencyHz, float) override {
    sent.emplace_back(std::string(call), frequencyHz);
    return true;
  }
  void Tickle() override {}
};

ResultsOptions NoFiles() {
  ResultsOptions options;
  options.writeFiles = false;
  return options;
}

bool WaitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + 300s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

TEST(ReceiverBatch, DecodesOnTheRecordingsClockAndReportsWhatIsPendingAtTheEnd) {
  Decodes out;
  Receiver r(Program::kConsole, DefaultSettings(Program::kConsole), out, nullptr, NoFiles());
  test::GeneratedSource source(OneStation());
  long firstHeld = 0;  // the block after which the decode first sat in a slot
  const long blocks = r.DecodeRecording(source, kTimeBase, [&](long block) {
    if (firstHeld == 0 && r.decodeSlots().PendingCount() > 0) firstHeld = block;
  });
  EXPECT_EQ(blocks, OneStation().frames / 12000);
  ASSERT_EQ(out.calls, std::vector<std::string>{kCall});
  const DecodeReport& whole = out.reports[0];
  EXPECT_NEAR(whole.frequencyHz, 136000 + kStationHz, 0.1);
  EXPECT_TRUE(whole.fromWav);
  // Recording seconds, not the computer's: reported once quiet, before the end.
  ASSERT_GT(firstHeld, 0);
  EXPECT_GE(whole.slotTime, kTimeBase + firstHeld - 1);
  EXPECT_GT(whole.reportedAt, whole.slotTime);
  EXPECT_LT(whole.reportedAt, kTimeBase + blocks);

  // Cut off just after the decode: it never goes quiet, and is still reported
  // by the end of the recording, stamped with it.
  source.Rewind();
  const long cut = r.DecodeRecording(source, kTimeBase, {}, firstHeld + 1);
  EXPECT_EQ(cut, firstHeld + 1);
  ASSERT_EQ(out.calls, (std::vector<std::string>{kCall, kCall}));
  EXPECT_EQ(out.reports[1].reportedAt, kTimeBase + cut);
  EXPECT_EQ(r.decodeSlots().PendingCount(), 0);
}

TEST(ReceiverLive, StopReportsThePendingDecodeAndRestartRunsTheNewSettings) {
  test::ReceiverRig<ReceiverEvents, Decodes> rig;
  Receiver& r = rig.receiver;
  r.SetClock([&r] { return kTimeBase + static_cast<double>(r.blocks()); });
  test::GeneratedSource source(OneStation());
  // (The end of the last run stays flagged until the new run's loop begins.)
  auto ranToTheEnd = [&r] { return r.workerLooping() && r.inputEnded(); };
  r.Start(&source);
  ASSERT_TRUE(WaitFor(ranToTheEnd));
  // No results pass has run: the decode waits in its slot until the stop.
  EXPECT_EQ(r.decodeSlots().PendingCount(), 1);
  EXPECT_TRUE(rig.output.calls.empty());
  r.Stop();
  EXPECT_FALSE(r.running());
  ASSERT_EQ(rig.output.calls, std::vector<std::string>{kCall});
  EXPECT_EQ(rig.output.reports[0].reportedAt, kTimeBase + r.blocks());
  EXPECT_EQ(r.decodeSlots().PendingCount(), 0);
  r.Stop();  // a second stop reports nothing more
  EXPECT_EQ(rig.output.calls.size(), 1u);

  // The band moves down 10 Hz: the station lands in another channel and is
  // still reported at its own frequency once the restarted run has it.
  r.settings().bandStartHz -= 10;
  ComputeDerived(r.settings());
  source.Rewind();
  r.Restart();
  ASSERT_TRUE(WaitFor(ranToTheEnd));
  r.Stop();
  ASSERT_EQ(rig.output.calls, (std::vector<std::string>{kCall, kCall}));
  EXPECT_NE(rig.output.reports[1].channel, rig.output.reports[0].channel);
  EXPECT_NEAR(rig.output.reports[1].frequencyHz, 136000 + kStationHz, 0.1);
}

TEST(ReceiverSpots, OwnSpotGoesOutAtTheBandCentreOnlyWhileUploading) {
  Decodes out;
  Spots spots;
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  settings.myCall = "ZZ0ZZZ";
  settings.myLocator = "IO91WM";
  settings.dialHz = 472000;
  settings.uploadSpots = true;
  Receiver r(Program::kConsole, settings, out, nullptr, NoFiles());
  EXPECT_FALSE(r.SendOwnSpot(0.0f));  // nowhere to send it yet
  r.SetSpotSender(&spots);
  r.settings().uploadSpots = false;
  EXPECT_FALSE(r.SendOwnSpot(0.0f));
  EXPECT_TRUE(spots.sent.empty());
  r.settings().uploadSpots = true;
  EXPECT_TRUE(r.SendOwnSpot(-3.5f));
  ASSERT_EQ(spots.sent.size(), 1u);
  EXPECT_EQ(spots.sent[0].first, "ZZ0ZZZ");
  EXPECT_FLOAT_EQ(spots.sent[0].second, 472000 + Receiver::BandStartForCentre(1500) + 50);
}

}  // namespace
}  // namespace vs32
