// Where the receive worker's one-second blocks of audio come from: the sound
// card, a WAV file, a pipe on standard input, or a test's own source.
//
// Pacing: a live source (sound card, pipe) makes each read wait until the
// audio has arrived, so it sets the receiver's pace and the worker adds no
// pause; its blocks are stamped with the computer's clock. A recording is read
// as fast as the reader goes.
// Channels: a block holds one channel, samples scaled to about ±1. A mono
// source gives its samples; of several channels the second is taken (the
// sound card and the WAV reader store the left channel first and the right
// one over it).
#pragma once

#include <string>

namespace vs32 {

class BlockSource {
 public:
  enum class Read {
    kBlock,   // the block is filled
    kNone,    // nothing this time (woken, input closed or being reopened): ask again
    kEnd,     // the audio has ended (a file's or a pipe's end): no more blocks
    kFailed,  // reading failed: no more blocks; error() says why
  };

  virtual ~BlockSource() = default;

  // Frames per second of the audio; 0 while there is none (e.g. a closed input).
  virtual int sampleRate() const = 0;
  // True when reads wait for audio as it is made (see above).
  virtual bool live() const = 0;
  // Fills `block` with `frames` samples (one second at sampleRate()). Only the
  // worker calls it. Allocates nothing once the source is open.
  virtual Read ReadBlock(float* block, int frames) = 0;
  // Makes a ReadBlock in progress, or else the next one, return soon (kNone
  // unless the audio has ended). Any thread; for stopping the worker.
  virtual void Wake() = 0;
  // Why reading failed (after kFailed); empty otherwise.
  virtual std::string error() const { return {}; }
};

}  // namespace vs32
