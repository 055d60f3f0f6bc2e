// Reading recordings: RIFF WAVE files with PCM samples, delivered as 32-bit
// floats scaled to about ±1, one block per call.
//
// The main thread opens a file; afterwards only the receive worker reads and
// closes it. `reading()` may be polled from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/block_source.h"
#include "audio/riff_reader.h"

namespace vs32 {

// Sample scaling shared by files and the sound card: a 16-bit value s becomes
// s / 32770 (2^15 + 2); an unsigned byte b becomes (b − 128) / 130
// (2^(8 − 1) + 2). The +2 keeps full scale just inside ±1.
inline float Pcm16ToFloat(int16_t s) {
  return static_cast<float>(s) / 32770.0f;
}
inline float Pcm8ToFloat(uint8_t b) {
  return static_cast<float>(b - 128) / 130.0f;
}

// The callers' format test message: "WAV-file must be <rate> sps, 16 bit!".
std::string WavFormatMessage(int expectedRate);

class WavFile : public BlockSource {
 public:
  WavFile() = default;
  ~WavFile();
  WavFile(const WavFile&) = delete;
  WavFile& operator=(const WavFile&) = delete;

  // Opens `path`. `mode` is compared without regard to case; only "r" (read) is
  // supported. A file already open is closed first. False when the file cannot
  // be read or is not one whose samples can be delivered faithfully; error()
  // then says why (not RIFF WAVE, no or too short "fmt ", not PCM, zero
  // channels or rate, sample size other than 8/16/24/32 bits, block align that
  // does not match channels × sample size, no or empty "data").
  bool open(const std::string& path, const std::string& mode);

  // Reads up to `frames` frames from the current position into `left` and
  // `right` (either may be null; they may be the same array). Mono: each
  // sample into both. More channels: channel 0 into left, channel 1 into right,
  // further channels dropped. Returns the frames read (fewer than asked at the
  // end of the data or on a read error), 0 when both arrays are null, −1 when
  // no file is open. Allocates only when asked for more frames than before.
  int read(float* left, float* right, int frames);

  // Closes the file; no effect when none is open.
  void close();

  bool isOpen() const { return file_ != nullptr; }
  // Set by a successful open, cleared by close and by a failed open. The
  // worker tests it to notice that the file has ended or been closed.
  bool reading() const { return reading_.load(std::memory_order_acquire); }
  // The file's format record; meaningful after a successful open.
  const WaveFormatRecord& format() const { return format_; }
  // Sample bytes of the "data" chunk present in the file.
  uint64_t dataBytes() const { return dataBytes_; }
  // Frames not yet read.
  uint64_t framesLeft() const { return format_.blockAlign ? dataLeft_ / format_.blockAlign : 0; }
  // True when the file holds 16-bit samples at `rate` frames per second, the
  // only input the receiver takes (otherwise show WavFormatMessage(rate)).
  bool matchesInput(int rate) const;
  // Why the last open failed (empty after a successful one).
  std::string error() const override { return error_; }

  // As a block source: a recording, read as fast as the reader goes; a short
  // last block and a closed file are its end.
  int sampleRate() const override {
    return reading() ? static_cast<int>(format_.samplesPerSec) : 0;
  }
  bool live() const override { return false; }
  Read ReadBlock(float* block, int frames) override;
  void Wake() override {}

 private:
  bool fail(const std::string& reason);

  std::FILE* file_ = nullptr;
  std::atomic<bool> reading_{false};
  WaveFormatRecord format_;
  uint64_t dataBytes_ = 0;
  uint64_t dataLeft_ = 0;  // sample bytes still to read
  unsigned bytesPerSample_ = 0;
  double divisor_ = 1.0;               // 2^(bits − 1) + 2, for 24 and 32 bits
  std::vector<unsigned char> buffer_;  // raw frames of one read; grows, never shrinks
  std::string error_;
};

}  // namespace vs32
