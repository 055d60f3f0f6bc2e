// Live audio from a pipe (standard input), as radio programs chain it:
// `arecord ... | Vs32RxC --input -`, `sox ... -t wav - | ...`, an SDR chain.
//
// The stream is either a WAV stream (a RIFF header, then the samples of its
// "data" chunk) or raw signed 16-bit little-endian mono samples at a rate the
// user gives. A writer that cannot seek back leaves placeholder sizes in the
// header (0, 0xFFFFFFFF, or near 2^31 as sox and arecord write): such a "data"
// chunk runs to the end of the input. The pipe paces the receiver: a read
// waits until a whole second has arrived. The end of the input ends the source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/block_source.h"

namespace vs32 {

class PipeSource : public BlockSource {
 public:
  // fd: the pipe (not owned, not closed), read with blocking reads.
  explicit PipeSource(int fd);
  ~PipeSource() override;
  PipeSource(const PipeSource&) = delete;
  PipeSource& operator=(const PipeSource&) = delete;

  // Reads the WAV header up to the first sample. Waits for the writer; gives
  // up (false, error() empty) when `cancelFd` becomes readable (-1: none).
  // False with error() when the stream is not a RIFF WAVE stream of PCM
  // samples, ends inside the header, or has its "data" before its "fmt ".
  bool OpenWav(int cancelFd = -1);
  // Raw signed 16-bit little-endian mono samples at `rate` frames per second.
  void OpenRaw(int rate);

  // True when the stream holds 16-bit samples at `rate`, the only input the
  // receiver takes (otherwise show WavFormatMessage(rate)).
  bool matchesInput(int rate) const;
  int channels() const { return channels_; }
  int bitsPerSample() const { return bits_; }

  int sampleRate() const override { return rate_; }
  bool live() const override { return true; }
  Read ReadBlock(float* block, int frames) override;
  void Wake() override;
  std::string error() const override { return error_; }

 private:
  enum class Fill { kDone, kEnd, kFailed, kWoken };
  // Reads `bytes` bytes into `dest` (blocking), watching `stopFd`.
  Fill ReadExactly(unsigned char* dest, size_t bytes, int stopFd);
  bool SkipBytes(uint64_t bytes, int cancelFd);
  bool Fail(const std::string& reason);

  int fd_;
  int wakeFd_ = -1;  // an eventfd: Wake() makes it readable
  int rate_ = 0;
  int channels_ = 0;
  int bits_ = 0;
  size_t frameBytes_ = 0;
  uint64_t dataLeft_ = 0;  // sample bytes still to come; UINT64_MAX: to the end of the input
  bool ended_ = false;
  std::vector<unsigned char> buffer_;  // one block of raw bytes
  size_t have_ = 0;                    // bytes of the next block already read (kept across a wake)
  std::string error_;
};

}  // namespace vs32
