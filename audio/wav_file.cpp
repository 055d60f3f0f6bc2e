// Large-file offsets also on 32-bit systems (recordings can pass 2 GB).
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif

#include "audio/wav_file.h"

#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "config/ascii_case.h"

namespace vs32 {
namespace {

// One read converts at most this many bytes per pass, so a caller asking for a
// huge frame count cannot make the buffer huge.
constexpr size_t kMaxPassBytes = 1u << 20;
// The largest float below 1.
constexpr float kBelowOne = 0.99999994f;

bool IsReadMode(const std::string& mode) {
  return EqualIgnoringAsciiCase(mode, "r");
}

}  // namespace

std::string WavFormatMessage(int expectedRate) {
  return "WAV-file must be " + std::to_string(expectedRate) + " sps, 16 bit!";
}

WavFile::~WavFile() {
  close();
}

bool WavFile::fail(const std::string& reason) {
  error_ = reason;
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  reading_.store(false, std::memory_order_release);
  format_ = WaveFormatRecord{};
  dataBytes_ = dataLeft_ = 0;
  return false;
}

bool WavFile::open(const std::string& path, const std::string& mode) {
  close();
  error_.clear();
  if (!IsReadMode(mode)) return fail("mode \"" + mode + "\" is not supported (only \"r\")");
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) return fail("cannot open " + path + ": " + std::strerror(errno));

  WaveLayout layout;
  std::string reason;
  if (!ReadWaveLayout(file_, layout, reason)) return fail(reason);
  const WaveFormatRecord& f = layout.format;
  if (f.formatTag != kWaveFormatPcm && !layout.extensiblePcm) {
    if (f.formatTag == kWaveFormatExtensible) {
      return fail("extensible format whose samples are not PCM");
    }
    return fail("samples are not PCM (format tag " + std::to_string(f.formatTag) + ")");
  }
  if (f.channels == 0) return fail("the format has no channels");
  if (f.samplesPerSec == 0) return fail("the sample rate is 0");
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
      f.bitsPerSample != 32) {
    return fail("unsupported sample size of " + std::to_string(f.bitsPerSample) + " bits");
  }
  const unsigned bytesPerSample = f.bitsPerSample / 8u;
  if (f.blockAlign == 0 || f.blockAlign != f.channels * bytesPerSample) {
    return fail("block align " + std::to_string(f.blockAlign) + " does not match " +
                std::to_string(f.channels) + " channel(s) of " + std::to_string(f.bitsPerSample) +
                " bits");
  }
  if (layout.dataBytes < f.blockAlign) {
    return fail(layout.declaredDataBytes == 0 ? "the \"data\" chunk is empty"
                                              : "the \"data\" chunk holds no whole frame");
  }
  if (fseeko(file_, static_cast<off_t>(layout.dataOffset), SEEK_SET) != 0) {
    return fail(std::string("cannot seek to the samples: ") + std::strerror(errno));
  }
  format_ = f;
  dataBytes_ = layout.dataBytes;
  dataLeft_ = layout.dataBytes;
  bytesPerSample_ = bytesPerSample;
  divisor_ = static_cast<double>(1ull << (f.bitsPerSample - 1)) + 2.0;
  reading_.store(true, std::memory_order_release);
  return true;
}

bool WavFile::matchesInput(int rate) const {
  return isOpen() && rate > 0 && format_.samplesPerSec == static_cast<uint32_t>(rate) &&
         format_.bitsPerSample == 16;
}

int WavFile::read(float* left, float* right, int frames) {
  if (file_ == nullptr) return -1;
  if ((left == nullptr && right == nullptr) || frames <= 0) return 0;
  const size_t frameBytes = format_.blockAlign;
  const unsigned channels = format_.channels;
  // Never read past the "data" chunk: whatever follows it is not sound.
  const uint64_t framesLeft = dataLeft_ / frameBytes;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(frames, framesLeft));
  const size_t passFrames = std::max<size_t>(1, std::min(wanted, kMaxPassBytes / frameBytes));
  if (buffer_.size() < passFrames * frameBytes) buffer_.resize(passFrames * frameBytes);

  size_t done = 0;
  while (done < wanted) {
    const size_t n = std::min(passFrames, wanted - done);
    const size_t got = std::fread(buffer_.data(), 1, n * frameBytes, file_);
    const size_t gotFrames = got / frameBytes;
    const unsigned char* p = buffer_.data();
    for (size_t i = done; i < done + gotFrames; ++i) {
      for (unsigned ch = 0; ch < channels; ++ch, p += bytesPerSample_) {
        if (ch > 1) continue;  // consumed and dropped
        float v;
        switch (bytesPerSample_) {
          case 1:
            v = Pcm8ToFloat(p[0]);
            break;
          case 2:
            v = Pcm16ToFloat(static_cast<int16_t>(p[0] | p[1] << 8));
            break;
          case 3: {
            const int32_t s = static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 |
                                                   static_cast<uint32_t>(p[1]) << 16 |
                                                   static_cast<uint32_t>(p[2]) << 24) >>
                              8;
            v = static_cast<float>(s / divisor_);
            break;
          }
          default: {
            const int32_t s = static_cast<int32_t>(
                static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
            // The nearest float to a full-scale 32-bit sample is ±1: keep the
            // open range (−1, 1) that every other sample size gives.
            v = std::clamp(static_cast<float>(s / divisor_), -kBelowOne, kBelowOne);
            break;
          }
        }
        if (channels == 1) {
          if (left != nullptr) left[i] = v;
          if (right != nullptr) right[i] = v;
        } else if (ch == 0) {
          if (left != nullptr) left[i] = v;
        } else if (right != nullptr) {
          right[i] = v;
        }
      }
    }
    done += gotFrames;
    if (got < n * frameBytes) {
      // A read error or a file cut short under us: the data ends here.
      dataLeft_ = 0;
      return static_cast<int>(done);
    }
    dataLeft_ -= got;
  }
  return static_cast<int>(done);
}

BlockSource::Read WavFile::ReadBlock(float* block, int frames) {
  if (!reading()) return Read::kEnd;
  return read(block, block, frames) == frames ? Read::kBlock : Read::kEnd;
}

void WavFile::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  reading_.store(false, std::memory_order_release);
  dataLeft_ = 0;
}

}  // namespace vs32
