#include "console/sound_retry.h"

#include <algorithm>

namespace vs32 {

SoundRetry::SoundRetry(Input input, std::string name, std::function<void(const std::string&)> say)
    : input_(std::move(input)), name_(std::move(name)), say_(std::move(say)) {}

void SoundRetry::Started(bool opened, Clock::time_point now) {
  wait_ = kFirstWait;
  quiet_ = false;
  waiting_ = false;
  if (!opened) Failed(now);
}

void SoundRetry::Failed(Clock::time_point now) {
  waiting_ = true;
  nextTry_ = now + wait_;
  if (!quiet_) {
    say_("Sound input " + name_ + " cannot be opened; " +
         (wait_ == kLongestWait ? "trying every " : "next try in ") +
         std::to_string(wait_.count()) + " s");
  }
  if (wait_ == kLongestWait) quiet_ = true;
}

void SoundRetry::Poll(Clock::time_point now, bool paused) {
  if (paused) return;
  if (!waiting_) {
    if (input_.isOpen()) {
      if (now - input_.lastDelivery() <= kStallLimit) return;
      say_("Sound input " + name_ + " stopped delivering audio; opening it again");
      input_.close();
    }
    // Closed under us (stalled, or a reopen after a recording failed): one
    // try at once, then the waits from the first on.
    wait_ = kFirstWait / 2;
    quiet_ = false;
    waiting_ = true;
    nextTry_ = now;
  }
  if (now < nextTry_) return;
  if (input_.open()) {
    waiting_ = false;
    say_("Sound input " + name_ + " is open");
    wait_ = kFirstWait;
    quiet_ = false;
    return;
  }
  wait_ =
      std::clamp(wait_ * 2, std::chrono::seconds(kFirstWait), std::chrono::seconds(kLongestWait));
  Failed(now);
}

}  // namespace vs32
