// The receive worker among its neighbours: a capture thread feeding the sound
// device, the worker reading blocks through the chain, and the main thread
// starting, stopping and restarting runs and closing and reopening the input
// under the worker's read. Nothing may hang, race or stop making progress.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "engine/receive_worker.h"
#include "support/receiver_rig.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 12000;

// Counts what the worker reports; called from the worker thread.
struct CountingEvents : ReceiverEvents {
  std::atomic<int> peaks{0};
  std::atomic<int> warnings{0};
  void PeaksSelected(int) override { ++peaks; }
  void Warning(const char*, const char*) override { ++warnings; }
};

// Plays the sound card's capture callback: noise in chunks of odd sizes, kept a
// few seconds ahead of the reader so that no second is dropped.
struct Capture : test::NoiseCapture {
  explicit Capture(SoundDevice& sound) : NoiseCapture(sound, 11, 3000.0f, 1999, 4) {}
};

// Everything the front end owns around one worker.
using Receiver = test::ReceiverRig<CountingEvents>;

// Waits until the worker has processed `count` blocks of the current run. The
// count belongs to the new run once the worker has passed the top of its loop.
bool WaitForBlocks(const ReceiveWorker& worker, long count, std::chrono::seconds limit = 60s) {
  const auto end = Clock::now() + limit;
  while (!worker.workerRunning() || worker.blocks() < count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

TEST(ReceiveWorkerConcurrency, StartStopAndRestartInALoopKeepProcessing) {
  Receiver r;
  ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
  Capture capture(r.sound);
  std::mt19937 rng(5);
  for (int round = 0; round < 12; ++round) {
    r.worker.Start();
    ASSERT_TRUE(r.worker.running());
    switch (round % 3) {
      case 0:  // stopped before it has read anything
        break;
      case 1:  // stopped in the middle of a block or a read
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
        break;
      default:  // stopped after real work
        ASSERT_TRUE(WaitForBlocks(r.worker, 2)) << "round " << round;
        break;
    }
    // A start while running changes nothing.
    r.worker.Start();
    const auto before = Clock::now();
    r.worker.Stop();
    // A stop waits for the block in progress, never for the next second.
    EXPECT_LT(Clock::now() - before, 20s) << "round " << round;
    EXPECT_FALSE(r.worker.running());
    EXPECT_FALSE(r.worker.workerRunning());
    // A second stop is harmless.
    r.worker.Stop();
  }
  // The last run's work is visible once it has stopped: a fresh run starts from
  // zero and processes blocks again.
  r.worker.Start();
  ASSERT_TRUE(WaitForBlocks(r.worker, 2));
  r.worker.Stop();
  EXPECT_GE(r.worker.blocks(), 2);
  EXPECT_GT(r.events.peaks.load(), 0);
  EXPECT_EQ(r.events.warnings.load(), 0);
}

TEST(ReceiveWorkerConcurrency, InputClosedAndReopenedWhileTheWorkerReads) {
  Receiver r;
  ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
  Capture capture(r.sound);
  r.worker.Start();
  ASSERT_TRUE(WaitForBlocks(r.worker, 1));

  std::mt19937 rng(9);
  for (int cycle = 0; cycle < 60; ++cycle) {
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 25));
    if (rng() % 2 == 0) {
      // The device menu: a new open replaces the buffers under the reader.
      ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
    } else {
      // A WAV decode or a vanished device: closed for a while, then back.
      r.sound.closeInput();
      std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 25));
      ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
    }
  }
  // Still alive: after the last reopen the worker goes on with whole blocks.
  const long reached = r.worker.blocks();
  ASSERT_TRUE(WaitForBlocks(r.worker, reached + 2));
  EXPECT_TRUE(r.worker.workerRunning());
  r.worker.Stop();
  EXPECT_FALSE(r.worker.running());
}

TEST(ReceiveWorkerConcurrency, StopWhileTheReadWaitsForData) {
  Receiver r;
  for (int round = 0; round < 6; ++round) {
    // Open but silent (a stalled device), or not open at all.
    if (round % 2 == 0) {
      ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
    } else {
      r.sound.closeInput();
    }
    r.worker.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(10 + 30 * round));
    const auto before = Clock::now();
    r.worker.Stop();
    // The read is woken, not waited out.
    EXPECT_LT(Clock::now() - before, 900ms) << "round " << round;
    EXPECT_EQ(r.worker.blocks(), 0);
  }
}

TEST(ReceiveWorkerConcurrency, DestroyingARunningWorkerStopsIt) {
  auto r = std::make_unique<Receiver>();
  ASSERT_TRUE(r->sound.openInputBuffers(kRate, 16, 1, kRate));
  {
    Capture capture(r->sound);
    r->worker.Start();
    ASSERT_TRUE(WaitForBlocks(r->worker, 1));
    r->worker.Stop();
    r->worker.Start();
  }
  // The capture thread is gone; the worker waits in its read until destroyed.
  ASSERT_TRUE(r->worker.running());
  const auto before = Clock::now();
  r.reset();
  EXPECT_LT(Clock::now() - before, 900ms);
}

}  // namespace
}  // namespace vs32
