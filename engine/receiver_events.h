// What the receive chain tells the front ends. The console program writes these
// under its screen lock; the windowed program forwards them to its main thread.
// Every method may be called from the worker thread.
#pragma once

#include <functional>

namespace vs32 {

class ReceiverEvents {
 public:
  virtual ~ReceiverEvents() = default;
  // Channels picked for decoding in the last block (shown as "<n>/<channels>").
  virtual void PeaksSelected(int /*count*/) {}
  // The WAV file being decoded has ended; input goes back to the sound card.
  virtual void WavEnded() {}
  // A correlation match was ambiguous: text "<best> or <rival>?".
  virtual void Ambiguity(const char* /*text*/) {}
  // A user-facing warning (e.g. a sound device that cannot be opened).
  virtual void Warning(const char* /*text*/, const char* /*caption*/) {}
};

// A warning handler (as the sound device takes) that passes each warning on to
// `events`; null drops them.
inline std::function<void(const char*, const char*)> ForwardWarnings(ReceiverEvents* events) {
  return [events](const char* text, const char* caption) {
    if (events != nullptr) events->Warning(text, caption);
  };
}

}  // namespace vs32
