// What the tests that run the receive worker need around it: a receiver with
// its own events and sound device, and a capture thread that feeds the sound
// device noise as the sound card's callback would.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "audio/sound_device.h"
#include "config/settings.h"
#include "engine/receive_worker.h"
#include "receiver/receiver.h"

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

// A receiver reading `sound`, as the console program wires it; `Events`
// receives what the worker reports, `output` the decodes.
template <class Events, class Output = ResultsOutput>
struct ReceiverRig {
  Events events;
  Output output;
  SoundDevice sound{ForwardWarnings(&events)};
  Receiver receiver{Program::kConsole, DefaultSettings(Program::kConsole), output, &events};
  ReceiveWorker& worker = Attach(receiver, sound);

 private:
  static ReceiveWorker& Attach(Receiver& receiver, SoundDevice& sound) {
    receiver.AttachSound(sound);
    return receiver.worker();
  }
};

}  // namespace vs32::test
