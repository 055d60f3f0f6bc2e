// The sound input of an unattended station: tried again with growing waits
// while it cannot be opened, reopened when it stops delivering, left alone
// while a recording is decoded; each failed try said once while the wait grows.
#include "console/sound_retry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vs32 {
namespace {

using Clock = SoundRetry::Clock;
using std::chrono::seconds;

// A sound card that opens from a given try on and delivers until told not to.
struct FakeInput {
  int opensFrom = 1000;  // the try (counted from 1) that succeeds
  int tries = 0;
  bool open = false;
  Clock::time_point delivered{};
  std::vector<std::string> said;

  SoundRetry Retry() {
    SoundRetry::Input input;
    input.open = [this] {
      open = ++tries >= opensFrom;
      return open;
    };
    input.close = [this] { open = false; };
    input.isOpen = [this] { return open; };
    input.lastDelivery = [this] { return delivered; };
    return SoundRetry(input, "\"USB\"", [this](const std::string& line) { said.push_back(line); });
  }
};

TEST(SoundRetry, WaitsGrowFromOneSecondToAMinuteEachSaidOnceThenQuiet) {
  FakeInput device;
  SoundRetry retry = device.Retry();
  const Clock::time_point t0{};
  retry.Started(false, t0);  // the first open at start-up failed
  Clock::time_point now = t0;
  std::vector<long> waits;
  // Poll every 300 ms, as the main loop does, for ten minutes.
  for (int i = 0; i < 2000; ++i, now += std::chrono::milliseconds(300)) {
    const int before = device.tries;
    retry.Poll(now, false);
    if (device.tries != before) waits.push_back(retry.wait().count());
  }
  ASSERT_GE(waits.size(), 10u);
  EXPECT_EQ(std::vector<long>(waits.begin(), waits.begin() + 7),
            (std::vector<long>{2, 4, 8, 16, 32, 60, 60}));
  EXPECT_EQ(device.said, (std::vector<std::string>{
                             "Sound input \"USB\" cannot be opened; next try in 1 s",
                             "Sound input \"USB\" cannot be opened; next try in 2 s",
                             "Sound input \"USB\" cannot be opened; next try in 4 s",
                             "Sound input \"USB\" cannot be opened; next try in 8 s",
                             "Sound input \"USB\" cannot be opened; next try in 16 s",
                             "Sound input \"USB\" cannot be opened; next try in 32 s",
                             "Sound input \"USB\" cannot be opened; trying every 60 s",
                         }));
  // Tries are never closer than the wait said.
  EXPECT_LE(device.tries, 1 + 6 + (600 - 63) / 60 + 1);
}

TEST(SoundRetry, ADeviceThatComesBackIsOpenedAndOneThatStallsIsReopened) {
  FakeInput device;
  device.opensFrom = 3;
  SoundRetry retry = device.Retry();
  Clock::time_point now{};
  retry.Started(false, now);
  for (int i = 0; i < 30 && retry.waiting(); ++i) retry.Poll(now += seconds(1), false);
  ASSERT_FALSE(retry.waiting());
  EXPECT_TRUE(device.open);
  EXPECT_EQ(device.said.back(), "Sound input \"USB\" is open");

  // Delivering: left alone. Then silent for longer than the stall limit.
  device.delivered = now;
  retry.Poll(now + SoundRetry::kStallLimit, false);
  EXPECT_EQ(device.tries, 3);
  // While a recording is decoded the input is closed on purpose.
  device.open = false;
  retry.Poll(now + seconds(30), true);
  EXPECT_EQ(device.tries, 3);
  device.open = true;
  const size_t said = device.said.size();
  retry.Poll(now + seconds(31), false);
  EXPECT_EQ(device.said[said], "Sound input \"USB\" stopped delivering audio; opening it again");
  // Closed and opened again at once (the device opens from now on).
  EXPECT_EQ(device.tries, 4);
  EXPECT_TRUE(device.open);
  EXPECT_FALSE(retry.waiting());
}

}  // namespace
}  // namespace vs32
