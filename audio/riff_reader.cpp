// Large-file offsets also on 32-bit systems (recordings can pass 2 GB).
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "audio/riff_reader.h"

#include <sys/types.h>

#include <cerrno>
#include <cstring>

namespace vs32 {
namespace {

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// A chunk id fit for a message: printable characters as they are, others as \xNN.
std::string Printable(const char* id) {
  std::string text = "\"";
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(id[i]);
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  return text + "\"";
}

// The sub-format identifier of PCM samples in an extensible format record.
constexpr unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Offset of that identifier in the "fmt " chunk, and the chunk size it needs.
constexpr size_t kSubFormatOffset = 24;
constexpr size_t kExtensibleChunkBytes = kSubFormatOffset + sizeof kPcmSubFormat;

}  // namespace

bool RiffChunk::is(const char* id4) const {
  return std::memcmp(id, id4, 4) == 0;
}

bool RiffReader::begin(std::FILE* file, const char* form) {
  file_ = file;
  fileSize_ = 0;
  pos_ = 0;
  error_.clear();
  if (file_ == nullptr) {
    error_ = "no file";
    return false;
  }
  if (fseeko(file_, 0, SEEK_END) != 0) {
    error_ = std::string("cannot seek in the file: ") + std::strerror(errno);
    return false;
  }
  const off_t end = ftello(file_);
  if (end < 0) {
    error_ = std::string("cannot size the file: ") + std::strerror(errno);
    return false;
  }
  fileSize_ = static_cast<uint64_t>(end);
  unsigned char header[12];
  if (readAt(0, header, sizeof header) != sizeof header || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, form, 4) != 0) {
    error_ = std::string("not a RIFF ") + std::string(form, 4) + " file";
    return false;
  }
  // The RIFF size is not trusted: files cut off while recording carry a size
  // written before the recording ended. The walk is bounded by the real size.
  pos_ = sizeof header;
  return true;
}

bool RiffReader::next(RiffChunk& chunk) {
  if (file_ == nullptr || pos_ >= fileSize_ || fileSize_ - pos_ < 8) return false;
  unsigned char header[8];
  if (readAt(pos_, header, sizeof header) != sizeof header) {
    error_ = "read error in a chunk header";
    pos_ = fileSize_;
    return false;
  }
  std::memcpy(chunk.id, header, 4);
  chunk.size = Le32(header + 4);
  chunk.dataOffset = pos_ + 8;
  const uint64_t room = fileSize_ - chunk.dataOffset;
  if (chunk.size > room) {
    pos_ = fileSize_;  // nothing can follow a chunk that reaches the end
    if (!chunk.is("data")) {
      error_ = "chunk " + Printable(chunk.id) + " runs past the end of the file";
      return false;
    }
    chunk.available = room;
    return true;
  }
  chunk.available = chunk.size;
  // Chunks are word-aligned: an odd size is followed by one pad byte.
  pos_ = chunk.dataOffset + chunk.size + (chunk.size & 1u);
  return true;
}

size_t RiffReader::readAt(uint64_t offset, void* dest, size_t bytes) {
  if (file_ == nullptr || offset >= fileSize_) return 0;
  if (bytes > fileSize_ - offset) bytes = static_cast<size_t>(fileSize_ - offset);
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
  return std::fread(dest, 1, bytes, file_);
}

bool ReadWaveLayout(std::FILE* file, WaveLayout& layout, std::string& error) {
  layout = WaveLayout{};
  RiffReader riff;
  if (!riff.begin(file, "WAVE")) {
    error = riff.error();
    return false;
  }
  bool haveFormat = false;
  bool haveData = false;
  RiffChunk chunk;
  while (!(haveFormat && haveData) && riff.next(chunk)) {
    if (!haveFormat && chunk.is("fmt ")) {
      if (chunk.size < kMinFormatChunkBytes) {
        error = "\"fmt \" chunk too short (" + std::to_string(chunk.size) +
                " bytes, at least 16 needed)";
        return false;
      }
      // Read the record and, for an extensible format, up to its sub-format;
      // everything else in the chunk is skipped.
      unsigned char bytes[kExtensibleChunkBytes] = {};
      const size_t want = chunk.size < sizeof bytes ? chunk.size : sizeof bytes;
      if (riff.readAt(chunk.dataOffset, bytes, want) != want) {
        error = "read error in the \"fmt \" chunk";
        return false;
      }
      WaveFormatRecord& f = layout.format;
      f.formatTag = Le16(bytes);
      f.channels = Le16(bytes + 2);
      f.samplesPerSec = Le32(bytes + 4);
      f.avgBytesPerSec = Le32(bytes + 8);
      f.blockAlign = Le16(bytes + 12);
      f.bitsPerSample = Le16(bytes + 14);
      f.extraSize = chunk.size >= 18 ? Le16(bytes + 16) : 0;
      layout.formatChunkBytes = chunk.size;
      layout.extensiblePcm =
          f.formatTag == kWaveFormatExtensible && want == kExtensibleChunkBytes &&
          std::memcmp(bytes + kSubFormatOffset, kPcmSubFormat, sizeof kPcmSubFormat) == 0;
      haveFormat = true;
    } else if (!haveData && chunk.is("data")) {
      layout.dataOffset = chunk.dataOffset;
      layout.dataBytes = chunk.available;
      layout.declaredDataBytes = chunk.size;
      haveData = true;
    }
  }
  if (!haveFormat || !haveData) {
    error = std::string("no \"") + (haveFormat ? "data" : "fmt ") + "\" chunk";
    if (!riff.error().empty()) error += " (" + riff.error() + ")";
    return false;
  }
  return true;
}

}  // namespace vs32
