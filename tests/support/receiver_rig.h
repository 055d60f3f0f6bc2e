// What the tests that run the receive worker need around it: everything a
// front end owns for one worker, and a capture thread that feeds the sound
// device noise as the sound card's callback would.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "audio/sound_device.h"
#include "audio/wav_file.h"
#include "config/list_files.h"
#include "config/settings.h"
#include "engine/decode_slots.h"
#include "engine/known_calls.h"
#include "engine/receive_chain.h"
#include "engine/receive_worker.h"

namespace vs32::test {

// Noise of `sigma` (16-bit units) in chunks of `chunk` samples while it lives,
// never more than `ahead` seconds ahead of the reader, so no second is dropped.
class NoiseCapture {
 public:
  NoiseCapture(SoundDevice& sound, unsigned seed, float sigma, std::size_t chunk, int ahead)
      : sound_(sound), rng_(seed), noise_(0.0f, sigma), chunk_(chunk), ahead_(ahead) {
    thread_ = std::thread([this] { Run(); });
  }
  ~NoiseCapture() {
    stop_ = true;
    thread_.join();
  }
  NoiseCapture(const NoiseCapture&) = delete;
  NoiseCapture& operator=(const NoiseCapture&) = delete;

 private:
  void Run() {
    while (!stop_) {
      if (sound_.filledCount() >= ahead_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      for (int16_t& s : chunk_) s = static_cast<int16_t>(noise_(rng_));
      sound_.deliverCaptured(chunk_.data(), chunk_.size());
    }
  }

  SoundDevice& sound_;
  std::mt19937 rng_;
  std::normal_distribution<float> noise_;
  std::vector<int16_t> chunk_;
  int ahead_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// One worker with its settings, tables, sound device, recording and chain;
// `Events` receives what the worker reports.
template <class Events>
struct ReceiverRig {
  ReceiverSettings settings = DefaultSettings(Program::kConsole);
  std::unique_ptr<KnownCallTable> knownCalls = std::make_unique<KnownCallTable>();
  std::unique_ptr<ChannelMask> loranMask = std::make_unique<ChannelMask>();
  std::unique_ptr<ChannelMask> alwaysMask = std::make_unique<ChannelMask>();
  std::unique_ptr<DecodeSlotTable> slots = std::make_unique<DecodeSlotTable>();
  Events events;
  SoundDevice sound{ForwardWarnings(&events)};
  WavFile wav;
  std::unique_ptr<ReceiveChain> chain = std::make_unique<ReceiveChain>(
      settings, knownCalls.get(), loranMask.get(), alwaysMask.get(), slots.get(), &events);
  ReceiveWorker worker{*chain, sound, wav, &events};
};

}  // namespace vs32::test
