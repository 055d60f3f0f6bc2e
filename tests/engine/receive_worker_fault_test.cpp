// The receive worker when the sound card fails: it cannot be opened, it stalls,
// or it vanishes while open. The user gets the device warning, the worker
// neither feeds stale audio into the histories nor burns the CPU while it
// waits, and it carries on by itself once audio flows again.
#include <gtest/gtest.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/receive_worker.h"
#include "support/receiver_rig.h"
#include "support/test_support.h"

namespace vs32 {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 12000;

struct RecordingEvents : ReceiverEvents {
  std::mutex mutex;
  std::vector<std::string> warnings;
  std::atomic<int> wavEnded{0};
  void WavEnded() override { ++wavEnded; }
  void Warning(const char* text, const char* caption) override {
    std::lock_guard lock(mutex);
    warnings.push_back(std::string(text).append(" / ").append(caption));
  }
  std::vector<std::string> Warnings() {
    std::lock_guard lock(mutex);
    return warnings;
  }
};

// Noise delivered through the capture entry while it lives.
struct Capture : test::NoiseCapture {
  explicit Capture(SoundDevice& sound) : NoiseCapture(sound, 3, 2000.0f, 3000, 3) {}
};

using Receiver = test::ReceiverRig<RecordingEvents>;

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU share of this process over `window` while nothing but the worker runs.
double CpuShareOver(std::chrono::milliseconds window) {
  const double cpu = ProcessCpuSeconds();
  const auto start = Clock::now();
  std::this_thread::sleep_for(window);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (ProcessCpuSeconds() - cpu) / wall;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

// A device index no system has: the open fails whatever sound hardware exists.
constexpr int kAbsentDevice = 9999;
const std::string kInputWarning = "Cannot Open Audio Input Device / Tavik Control";

TEST(SoundFailure, DeviceThatCannotBeOpenedIsReportedAndTheWorkerWaits) {
  Receiver r;
  r.sound.setInputDevice(kAbsentDevice);
  EXPECT_FALSE(r.sound.openInput(kRate, 16, 1, kRate));
  EXPECT_FALSE(r.sound.inputOpen());
  ASSERT_EQ(r.events.Warnings(), std::vector<std::string>{kInputWarning});

  r.worker.Start();
  ASSERT_TRUE(WaitFor([&] { return r.worker.workerRunning(); }));
  // Waiting, not spinning, and nothing processed: no stale block is fed in.
  EXPECT_LT(CpuShareOver(1500ms), 0.15);
  EXPECT_EQ(r.worker.blocks(), 0);
  EXPECT_TRUE(r.worker.running());

  // Audio comes back (another device picked): the worker goes on by itself.
  ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
  {
    Capture capture(r.sound);
    ASSERT_TRUE(WaitFor([&] { return r.worker.blocks() >= 2; }));
  }
  r.worker.Stop();
  EXPECT_EQ(r.events.Warnings().size(), 1u);
}

TEST(SoundFailure, DeviceThatStallsOrVanishesWhileOpen) {
  Receiver r;
  ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
  r.worker.Start();
  for (const bool vanish : {false, true}) {
    long before = 0;
    {
      Capture capture(r.sound);
      ASSERT_TRUE(WaitFor([&] { return r.worker.workerRunning() && r.worker.blocks() >= 2; }));
      before = r.worker.blocks();
      // The device stops delivering (unplugged, driver stall); when it is gone
      // for good its input is closed under the reader.
      if (vanish) r.sound.closeInput();
    }
    // The block in progress, and those the capture had already queued, are
    // still processed; then nothing more.
    long after = r.worker.blocks();
    for (int quiet = 0; quiet < 4;) {
      std::this_thread::sleep_for(100ms);
      const long now = r.worker.blocks();
      quiet = now == after ? quiet + 1 : 0;
      after = now;
    }
    EXPECT_LE(after, before + 4) << (vanish ? "vanished" : "stalled");
    EXPECT_LT(CpuShareOver(1500ms), 0.15) << (vanish ? "vanished" : "stalled");
    EXPECT_EQ(r.worker.blocks(), after);
    // Back again: reading resumes.
    ASSERT_TRUE(r.sound.openInputBuffers(kRate, 16, 1, kRate));
  }
  {
    Capture capture(r.sound);
    const long now = r.worker.blocks();
    ASSERT_TRUE(WaitFor([&] { return r.worker.blocks() >= now + 2; }));
  }
  const auto stopAt = Clock::now();
  r.worker.Stop();
  EXPECT_LT(Clock::now() - stopAt, 2s);
  EXPECT_TRUE(r.events.Warnings().empty());
}

TEST(SoundFailure, RecordingEndsWhileNoDeviceCanBeOpened) {
  test::TempDir dir;
  // 3.5 s of silence, 12000 samples/s, 16 bits, mono.
  const uint32_t frames = kRate * 7 / 2;
  std::string file = "RIFF";
  auto u32 = [&file](uint32_t v) {
    for (int i = 0; i < 4; ++i) file += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  auto u16 = [&file](uint16_t v) {
    file += static_cast<char>(v & 0xff);
    file += static_cast<char>(v >> 8);
  };
  u32(36 + frames * 2);
  file += "WAVEfmt ";
  u32(16);
  u16(1);
  u16(1);
  u32(kRate);
  u32(kRate * 2);
  u16(2);
  u16(16);
  file += "data";
  u32(frames * 2);
  file.append(frames * 2, '\0');
  test::WriteFile(dir / "short.wav", file);

  Receiver r;
  r.sound.setInputDevice(kAbsentDevice);
  r.worker.Start();
  std::string error;
  ASSERT_TRUE(r.worker.StartWav((dir / "short.wav").string(), &error)) << error;
  // Three whole blocks from the file, then back to a sound card that fails.
  ASSERT_TRUE(WaitFor([&] { return r.events.wavEnded.load() == 1; }));
  EXPECT_FALSE(r.worker.wavInput());
  EXPECT_EQ(r.worker.blocks(), 3);
  ASSERT_TRUE(WaitFor([&] { return !r.events.Warnings().empty(); }));
  EXPECT_EQ(r.events.Warnings(), std::vector<std::string>{kInputWarning});
  EXPECT_LT(CpuShareOver(1500ms), 0.15);
  EXPECT_EQ(r.worker.blocks(), 3);
  EXPECT_EQ(r.events.Warnings().size(), 1u);
  r.worker.Stop();
}

}  // namespace
}  // namespace vs32
