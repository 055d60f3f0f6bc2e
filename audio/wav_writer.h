// Streaming writer of 16-bit PCM RIFF WAVE files.
//
// The header is written at open with zero sizes; samples are appended as they
// come (no whole-file buffer); close patches the RIFF and "data" sizes. Every
// failure is returned as false with a readable reason in error(); nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vs32 {

class WavWriter {
 public:
  // Largest "data" chunk a RIFF file can describe: the RIFF size field
  // (36 + data bytes) must fit in 32 bits.
  static constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36u;
  static constexpr uint16_t kMaxChannels = 16;

  // maxDataBytes: refuse writes that would grow the data chunk beyond this
  // (bytes, 0 … kMaxDataBytes; larger values are taken as kMaxDataBytes).
  explicit WavWriter(uint32_t maxDataBytes = kMaxDataBytes);
  ~WavWriter();  // closes (and patches) an open file
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Creates or truncates `path` and writes the header. rateHz: 1 … 1000000;
  // channels: 1 … kMaxChannels. A file still open is closed first.
  bool open(const std::string& path, uint32_t rateHz, uint16_t channels);

  // Appends `frames` interleaved frames (frames × channels samples). A write
  // that would pass the size limit writes nothing and fails.
  bool write(const int16_t* samples, size_t frames);

  // Patches the sizes and closes. False when the file was not complete and
  // consistent (an earlier write failed, or the patch or the flush failed).
  // No effect (true) when nothing is open.
  bool close();

  bool isOpen() const { return file_ != nullptr; }
  uint32_t dataBytes() const { return dataBytes_; }
  uint64_t framesWritten() const { return blockAlign_ ? dataBytes_ / blockAlign_ : 0; }
  const std::string& error() const { return error_; }

 private:
  bool fail(const std::string& what);

  uint32_t maxDataBytes_;
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string error_;
  uint32_t dataBytes_ = 0;
  uint16_t blockAlign_ = 0;
  bool failed_ = false;  // a write failed since open: the file is not trustworthy
  // Little-endian staging area so writes of any size need no allocation.
  unsigned char staging_[8192];
};

}  // namespace vs32
