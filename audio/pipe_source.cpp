#include "audio/pipe_source.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "audio/riff_reader.h"
#include "audio/wav_file.h"

namespace vs32 {
namespace {

constexpr uint64_t kToTheEnd = std::numeric_limits<uint64_t>::max();
// "data" sizes from this on are placeholders of writers that cannot seek back
// (sox writes 0x7FFFF000, others 0x7FFFFFFF or 0xFFFFFFFF); 2^31 bytes would
// be a day of audio.
constexpr uint32_t kPlaceholderSize = 0x7FFF0000u;
// A chunk before the samples larger than this is not a header a recorder writes.
constexpr uint32_t kLargestSkippedChunk = 1u << 24;

uint16_t U16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

PipeSource::PipeSource(int fd) : fd_(fd), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PipeSource::~PipeSource() {
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool PipeSource::Fail(const std::string& reason) {
  error_ = reason;
  rate_ = 0;
  return false;
}

PipeSource::Fill PipeSource::ReadExactly(unsigned char* dest, size_t bytes, int stopFd) {
  size_t got = 0;
  while (got < bytes) {
    pollfd p[2] = {{fd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (::poll(p, stopFd >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      error_ = std::string("cannot wait for input: ") + std::strerror(errno);
      return Fill::kFailed;
    }
    if (stopFd >= 0 && (p[1].revents & POLLIN)) return Fill::kWoken;
    const ssize_t n = ::read(fd_, dest + got, bytes - got);
    if (n == 0) return Fill::kEnd;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      error_ = std::string("cannot read input: ") + std::strerror(errno);
      return Fill::kFailed;
    }
    got += static_cast<size_t>(n);
  }
  return Fill::kDone;
}

bool PipeSource::SkipBytes(uint64_t bytes, int cancelFd) {
  unsigned char scrap[4096];
  while (bytes > 0) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, sizeof scrap));
    const Fill fill = ReadExactly(scrap, n, cancelFd);
    if (fill == Fill::kWoken) return false;
    if (fill != Fill::kDone)
      return Fail(fill == Fill::kEnd ? "the input ends inside the header" : error_);
    bytes -= n;
  }
  return true;
}

bool PipeSource::OpenWav(int cancelFd) {
  error_.clear();
  rate_ = 0;
  unsigned char head[12];
  Fill fill = ReadExactly(head, sizeof head, cancelFd);
  if (fill == Fill::kWoken) return false;
  if (fill == Fill::kEnd) return Fail("the input is empty or ends inside the header");
  if (fill == Fill::kFailed) return Fail(error_);
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    return Fail("not a WAV stream (no RIFF WAVE header)");
  }
  bool haveFormat = false;
  WaveFormatRecord f;
  for (;;) {
    unsigned char chunk[8];
    fill = ReadExactly(chunk, sizeof chunk, cancelFd);
    if (fill == Fill::kWoken) return false;
    if (fill != Fill::kDone) {
      return Fail(fill == Fill::kEnd ? "the input ends before the \"data\" chunk" : error_);
    }
    const uint32_t size = U32(chunk + 4);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < kMinFormatChunkBytes) return Fail("the \"fmt \" chunk is too short");
      unsigned char record[40] = {};
      const uint32_t kept = std::min<uint32_t>(size, sizeof record);
      fill = ReadExactly(record, kept, cancelFd);
      if (fill == Fill::kWoken) return false;
      if (fill != Fill::kDone)
        return Fail(fill == Fill::kEnd ? "the input ends inside the header" : error_);
      if (!SkipBytes(static_cast<uint64_t>(size - kept) + (size & 1u), cancelFd)) return false;
      f.formatTag = U16(record);
      f.channels = U16(record + 2);
      f.samplesPerSec = U32(record + 4);
      f.blockAlign = U16(record + 12);
      f.bitsPerSample = U16(record + 14);
      // An extensible format names its samples in a sub-format whose first
      // two bytes are the plain format tag.
      const bool pcm =
          f.formatTag == kWaveFormatPcm || (f.formatTag == kWaveFormatExtensible && kept >= 26 &&
                                            U16(record + 24) == kWaveFormatPcm);
      if (!pcm) return Fail("the samples are not PCM");
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return Fail("the \"data\" chunk comes before the \"fmt \" chunk");
      dataLeft_ = size == 0 || size >= kPlaceholderSize ? kToTheEnd : size;
      break;
    } else {
      if (size > kLargestSkippedChunk) return Fail("a chunk before the samples is too large");
      if (!SkipBytes(static_cast<uint64_t>(size) + (size & 1u), cancelFd)) return false;
    }
  }
  if (f.channels == 0 || f.samplesPerSec == 0 || f.bitsPerSample == 0 ||
      f.blockAlign != f.channels * ((f.bitsPerSample + 7) / 8)) {
    return Fail("the \"fmt \" chunk does not describe whole frames");
  }
  channels_ = f.channels;
  bits_ = f.bitsPerSample;
  frameBytes_ = f.blockAlign;
  rate_ = static_cast<int>(std::min<uint32_t>(f.samplesPerSec, 1u << 20));
  buffer_.assign(static_cast<size_t>(rate_) * frameBytes_, 0);
  have_ = 0;
  ended_ = false;
  return true;
}

void PipeSource::OpenRaw(int rate) {
  error_.clear();
  channels_ = 1;
  bits_ = 16;
  frameBytes_ = 2;
  rate_ = rate;
  dataLeft_ = kToTheEnd;
  buffer_.assign(static_cast<size_t>(rate_) * frameBytes_, 0);
  have_ = 0;
  ended_ = false;
}

bool PipeSource::matchesInput(int rate) const {
  return rate_ > 0 && rate_ == rate && bits_ == 16;
}

void PipeSource::Wake() {
  const uint64_t one = 1;
  if (wakeFd_ >= 0) {
    const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
    (void)ignored;
  }
}

BlockSource::Read PipeSource::ReadBlock(float* block, int frames) {
  if (ended_) return error_.empty() ? Read::kEnd : Read::kFailed;
  if (rate_ <= 0 || bits_ != 16 || frames <= 0 || block == nullptr) return Read::kNone;
  const size_t need = static_cast<size_t>(frames) * frameBytes_;
  if (buffer_.size() < need) buffer_.resize(need);  // only when asked for more than a second
  while (have_ < need) {
    if (dataLeft_ == 0) {
      ended_ = true;
      return Read::kEnd;
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(p, wakeFd_ >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      error_ = std::string("cannot wait for input: ") + std::strerror(errno);
      ended_ = true;
      return Read::kFailed;
    }
    if (wakeFd_ >= 0 && (p[1].revents & POLLIN)) {
      uint64_t count;
      const ssize_t ignored = ::read(wakeFd_, &count, sizeof count);
      (void)ignored;
      return Read::kNone;  // what has come of this block stays for the next read
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(need - have_, dataLeft_));
    const ssize_t n = ::read(fd_, buffer_.data() + have_, want);
    if (n == 0) {
      ended_ = true;  // a last partial second is not processed, as with files
      return Read::kEnd;
    }
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      error_ = std::string("cannot read input: ") + std::strerror(errno);
      ended_ = true;
      return Read::kFailed;
    }
    have_ += static_cast<size_t>(n);
    if (dataLeft_ != kToTheEnd) dataLeft_ -= static_cast<uint64_t>(n);
  }
  // Mono, or the second channel of several (the sound card's and the WAV
  // reader's rule when both channel arrays are one).
  const size_t offset = channels_ > 1 ? 2 : 0;
  const unsigned char* p = buffer_.data() + offset;
  for (int i = 0; i < frames; ++i, p += frameBytes_) {
    block[i] = Pcm16ToFloat(static_cast<int16_t>(U16(p)));
  }
  have_ = 0;
  return Read::kBlock;
}

}  // namespace vs32
