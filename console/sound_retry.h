// Keeps the sound input of an unattended station open. A device that cannot be
// opened, or that stops delivering (a USB device pulled out, a sound server
// restarted), is tried again after 1 s, then after 2, 4, … s, at most 60 s
// apart, until it opens. Each try that fails is said once, while the wait still
// grows; at the longest wait one line says so and the tries go on quietly.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace vs32 {

class SoundRetry {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kFirstWait{1};
  static constexpr std::chrono::seconds kLongestWait{60};
  // An open input with no audio for this long has stalled or vanished.
  static constexpr std::chrono::seconds kStallLimit{5};

  // What the retries work on (the sound device, or a test's stand-in).
  struct Input {
    std::function<bool()> open;  // finds the device and opens it; false when it cannot
    std::function<void()> close;
    std::function<bool()> isOpen;
    std::function<Clock::time_point()> lastDelivery;  // of the open input
  };

  // `name` names the device in the lines said through `say`.
  SoundRetry(Input input, std::string name, std::function<void(const std::string&)> say);

  // The outcome of the first open, at start-up.
  void Started(bool opened, Clock::time_point now);
  // Every pass of the main loop. `paused`: the input is closed on purpose (a
  // recording is being decoded); nothing is tried meanwhile.
  void Poll(Clock::time_point now, bool paused);

  // No input is open and a try is due at `nextTry()`.
  bool waiting() const { return waiting_; }
  Clock::time_point nextTry() const { return nextTry_; }
  std::chrono::seconds wait() const { return wait_; }

 private:
  void Failed(Clock::time_point now);

  Input input_;
  std::string name_;
  std::function<void(const std::string&)> say_;
  bool waiting_ = false;
  bool quiet_ = false;  // the longest wait has been said
  std::chrono::seconds wait_{kFirstWait};
  Clock::time_point nextTry_{};
};

}  // namespace vs32
