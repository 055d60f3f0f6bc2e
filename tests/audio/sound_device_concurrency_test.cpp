// The three parties of the sound device at once: a capture thread delivering
// audio, the worker reading blocks, and the main thread closing and reopening
// the input (device menu, end of a WAV file) and stopping the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/sound_device.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;

// Captured samples run 1, 2, … 1000, 1, 2, …; never 0, so a block of the
// zero-filled fresh buffers handed out as data shows up as well as garbage.
class Producer {
 public:
  explicit Producer(SoundDevice& dev) : dev_(dev), thread_([this] { Run(); }) {}
  ~Producer() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    std::mt19937 rng(7);
    std::vector<int16_t> chunk(997);
    int next = 0;
    while (!stop_) {
      const size_t n = 1 + rng() % chunk.size();
      for (size_t i = 0; i < n; ++i) chunk[i] = int16_t(1 + next++ % 1000);
      dev_.deliverCaptured(chunk.data(), n);
      std::this_thread::sleep_for(50us);
    }
  }
  SoundDevice& dev_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(SoundDeviceConcurrency, ReopeningUnderAReaderAndACaptureThreadIsSafe) {
  SoundDevice dev;
  ASSERT_TRUE(dev.openInputBuffers(400, 16, 1, 400));
  std::atomic<bool> stop{false};
  std::atomic<long> framesRead{0};
  std::atomic<long> badSamples{0};
  auto worker = std::async(std::launch::async, [&] {
    std::vector<float> block(600);
    while (!stop) {
      const int n = dev.read(block.data(), block.data(), int(block.size()));
      for (int i = 0; i < n; ++i) {
        const float s = block[i] * 32770.0f;
        if (!(s >= 0.5f && s <= 1000.5f) || std::fabs(s - std::round(s)) > 1e-3f) ++badSamples;
      }
      framesRead += n;
    }
  });
  {
    Producer producer(dev);
    std::mt19937 rng(3);
    for (int cycle = 0; cycle < 300; ++cycle) {
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
      switch (rng() % 3) {
        case 0:  // the device menu: reopen, perhaps with other buffer sizes
          ASSERT_TRUE(dev.openInputBuffers(400, 16, 1, 200 + int(rng() % 600)));
          break;
        case 1:  // a WAV decode starts: the input is closed for a while
          dev.closeInput();
          std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
          ASSERT_TRUE(dev.openInputBuffers(400, 16, 1, 400));
          break;
        default:
          break;
      }
    }
  }
  stop = true;
  dev.WakeReader();
  ASSERT_EQ(worker.wait_for(3s), std::future_status::ready);
  worker.get();
  EXPECT_EQ(badSamples.load(), 0);
  EXPECT_GT(framesRead.load(), 0);
}

// "Stop the worker" = a stop request, a wake-up, a join: whatever the input is
// doing, the worker leaves its read promptly.
TEST(SoundDeviceConcurrency, StopRequestAndWakeEndTheWorkerInAnyInputState) {
  SoundDevice dev;
  for (int round = 0; round < 30; ++round) {
    const int state = round % 3;  // closed, open but silent, open and capturing
    if (state == 0) {
      dev.closeInput();
    } else {
      ASSERT_TRUE(dev.openInputBuffers(1000, 16, 1, 1000));
    }
    std::unique_ptr<Producer> producer;
    if (state == 2) producer = std::make_unique<Producer>(dev);

    std::atomic<bool> stopRequested{false};
    std::atomic<int> blocks{0};
    auto worker = std::async(std::launch::async, [&] {
      std::vector<float> block(1000);
      while (!stopRequested.load()) {
        dev.read(block.data(), block.data(), 1000);
        ++blocks;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + round % 7 * 10));
    stopRequested = true;
    dev.WakeReader();
    // Promptly, with room for a loaded machine (an idle read alone waits 1 s).
    ASSERT_EQ(worker.wait_for(2500ms), std::future_status::ready)
        << "state " << state << " round " << round;
    worker.get();
    // A closed input makes the worker wait, not spin.
    if (state == 0) {
      EXPECT_LE(blocks.load(), 2) << round;
    }
  }
}

}  // namespace
}  // namespace vs32
