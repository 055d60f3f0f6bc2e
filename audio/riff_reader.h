// Reading RIFF files: a chunk walker and the header of a WAVE file.
//
// A RIFF file is a 12-byte header ("RIFF", size, form type) followed by chunks,
// each an 8-byte header (4-character id, 32-bit little-endian size) and its
// data, padded to an even length. Every step of the walk is checked against
// the real size of the file, never against sizes the file claims, so a
// damaged or cut-off file cannot make the reader seek or read out of bounds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vs32 {

struct RiffChunk {
  char id[4] = {};          // chunk id, e.g. "fmt " or "data" (not NUL-terminated)
  uint32_t size = 0;        // size as the chunk header declares it, bytes
  uint64_t dataOffset = 0;  // file offset of the chunk's first data byte
  uint64_t available = 0;   // data bytes inside the file: size, or less when clamped

  bool is(const char* id4) const;  // id4: exactly four characters
};

class RiffReader {
 public:
  // Starts a walk over `file` (seekable, binary, not owned; must outlive the
  // walk). False, with error(), when the file cannot be sized or read, or does
  // not begin with a RIFF header of form type `form` (four characters).
  bool begin(std::FILE* file, const char* form);

  // Moves to the next chunk. False at the end of the file, or when a chunk runs
  // past the end of the file (error() then names it); a "data" chunk that runs
  // past the end is still returned, its `available` clamped to the file
  // (recorders that were cut off leave such files).
  bool next(RiffChunk& chunk);

  // Reads up to `bytes` bytes at file offset `offset`; returns the count read.
  size_t readAt(uint64_t offset, void* dest, size_t bytes);

  uint64_t fileSize() const { return fileSize_; }
  const std::string& error() const { return error_; }

 private:
  std::FILE* file_ = nullptr;
  uint64_t fileSize_ = 0;
  uint64_t pos_ = 0;  // offset of the next chunk header
  std::string error_;
};

// The 18-byte wave format record, as the start of a "fmt " chunk holds it.
struct WaveFormatRecord {
  uint16_t formatTag = 0;       // 1 = PCM, 0xFFFE = extensible (see WaveLayout)
  uint16_t channels = 0;        // interleaved channels per frame
  uint32_t samplesPerSec = 0;   // frames per second
  uint32_t avgBytesPerSec = 0;  // as the file states it (not used for reading)
  uint16_t blockAlign = 0;      // bytes per frame
  uint16_t bitsPerSample = 0;   // bits per sample of one channel
  uint16_t extraSize = 0;       // bytes of format extension after these 18
};

inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
// A "fmt " chunk must hold at least the record up to bitsPerSample.
inline constexpr uint32_t kMinFormatChunkBytes = 16;

// Where the parts of a WAVE file are and what its format record says.
struct WaveLayout {
  WaveFormatRecord format;
  uint32_t formatChunkBytes = 0;   // declared size of the "fmt " chunk
  bool extensiblePcm = false;      // extensible format whose sub-format is PCM
  uint64_t dataOffset = 0;         // file offset of the first sample byte
  uint64_t dataBytes = 0;          // sample bytes present in the file
  uint32_t declaredDataBytes = 0;  // "data" size as declared (may exceed dataBytes)
};

// Reads the header of a RIFF WAVE file: the first "fmt " chunk (a longer,
// extensible one is cut to the 18-byte record and the rest skipped) and the
// first "data" chunk, in whatever order they come. False with a reason in
// `error` when the file is not RIFF WAVE, a "fmt " chunk is shorter than 16
// bytes, or either chunk is missing. The format's values are not judged here.
bool ReadWaveLayout(std::FILE* file, WaveLayout& layout, std::string& error);

}  // namespace vs32
