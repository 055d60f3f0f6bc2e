#include "audio/wav_writer.h"

#include <cerrno>
#include <cstring>

namespace vs32 {

namespace {

constexpr long kRiffSizeOffset = 4;
constexpr long kDataSizeOffset = 40;
constexpr size_t kHeaderBytes = 44;

void PutLe16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v & 0xFF);
  p[1] = static_cast<unsigned char>(v >> 8);
}

void PutLe32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

std::string SystemError() {
  return std::strerror(errno);
}

}  // namespace

WavWriter::WavWriter(uint32_t maxDataBytes)
    : maxDataBytes_(maxDataBytes > kMaxDataBytes ? kMaxDataBytes : maxDataBytes) {}

WavWriter::~WavWriter() {
  close();
}

bool WavWriter::fail(const std::string& what) {
  error_ = what;
  return false;
}

bool WavWriter::open(const std::string& path, uint32_t rateHz, uint16_t channels) {
  if (isOpen()) close();
  error_.clear();
  failed_ = false;
  dataBytes_ = 0;
  blockAlign_ = 0;
  if (rateHz == 0 || rateHz > 1000000)
    return fail("sample rate " + std::to_string(rateHz) + " is outside 1 to 1000000");
  if (channels == 0 || channels > kMaxChannels)
    return fail("channel count " + std::to_string(channels) + " is outside 1 to " +
                std::to_string(kMaxChannels));

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return fail("cannot create " + path + ": " + SystemError());

  const uint16_t blockAlign = static_cast<uint16_t>(channels * 2);
  unsigned char h[kHeaderBytes];
  std::memcpy(h, "RIFF", 4);
  PutLe32(h + 4, 36);  // patched at close
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  PutLe32(h + 16, 16);
  PutLe16(h + 20, 1);  // PCM
  PutLe16(h + 22, channels);
  PutLe32(h + 24, rateHz);
  PutLe32(h + 28, rateHz * blockAlign);
  PutLe16(h + 32, blockAlign);
  PutLe16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  PutLe32(h + 40, 0);  // patched at close
  if (std::fwrite(h, 1, kHeaderBytes, f) != kHeaderBytes) {
    std::string reason = SystemError();
    std::fclose(f);
    return fail("cannot write " + path + ": " + reason);
  }
  file_ = f;
  path_ = path;
  blockAlign_ = blockAlign;
  return true;
}

bool WavWriter::write(const int16_t* samples, size_t frames) {
  if (!isOpen()) return fail("no WAV file is open");
  if (frames == 0) return true;
  if (!samples) return fail("no samples given");
  const uint64_t bytes = static_cast<uint64_t>(frames) * blockAlign_;
  if (bytes > static_cast<uint64_t>(maxDataBytes_ - dataBytes_)) {
    failed_ = true;
    return fail(path_ + ": the data would exceed the largest size a WAV file can hold (" +
                std::to_string(maxDataBytes_) + " bytes)");
  }
  size_t count = frames * (blockAlign_ / 2);
  while (count > 0) {
    const size_t n = count < sizeof(staging_) / 2 ? count : sizeof(staging_) / 2;
    for (size_t i = 0; i < n; ++i) PutLe16(staging_ + 2 * i, static_cast<uint16_t>(samples[i]));
    if (std::fwrite(staging_, 2, n, file_) != n) {
      failed_ = true;
      return fail("cannot write " + path_ + ": " + SystemError());
    }
    samples += n;
    count -= n;
  }
  dataBytes_ += static_cast<uint32_t>(bytes);
  return true;
}

bool WavWriter::close() {
  if (!isOpen()) return true;
  bool ok = !failed_;
  // Patch the sizes even after a failed write, so that whatever landed on disk
  // is at least described by its header as far as it is known.
  unsigned char size[4];
  PutLe32(size, 36 + dataBytes_);
  if (std::fseek(file_, kRiffSizeOffset, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4) {
    if (ok) error_ = "cannot finish " + path_ + ": " + SystemError();
    ok = false;
  }
  PutLe32(size, dataBytes_);
  if (std::fseek(file_, kDataSizeOffset, SEEK_SET) != 0 || std::fwrite(size, 1, 4, file_) != 4) {
    if (ok) error_ = "cannot finish " + path_ + ": " + SystemError();
    ok = false;
  }
  if (std::fclose(file_) != 0) {
    if (ok) error_ = "cannot finish " + path_ + ": " + SystemError();
    ok = false;
  }
  file_ = nullptr;
  return ok;
}

}  // namespace vs32
