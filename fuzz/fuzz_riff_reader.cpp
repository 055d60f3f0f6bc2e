// Recordings come from anywhere: the RIFF walk, the WAVE header reader and the
// WAV reader must refuse or read any byte sequence without reading outside it,
// and whatever they deliver must be samples in range.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "audio/riff_reader.h"
#include "audio/wav_file.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int kFramesPerRead = 777;  // odd, so reads end inside a chunk of any alignment

void WalkChunks(std::FILE* file, size_t size) {
  vs32::RiffReader reader;
  if (!reader.begin(file, "WAVE")) return;
  VS32_FUZZ_CHECK(reader.fileSize() == size);
  vs32::RiffChunk chunk;
  size_t chunks = 0;
  uint64_t lastOffset = 0;
  while (reader.next(chunk)) {
    // Every chunk lies inside the file and the walk only moves forward.
    VS32_FUZZ_CHECK(chunk.dataOffset >= 20);
    VS32_FUZZ_CHECK(chunk.dataOffset + chunk.available <= size);
    VS32_FUZZ_CHECK(chunk.available <= chunk.size);
    VS32_FUZZ_CHECK(chunk.dataOffset > lastOffset);
    lastOffset = chunk.dataOffset;
    VS32_FUZZ_CHECK(++chunks <= size / 8);
    unsigned char probe[16];
    const size_t got = reader.readAt(chunk.dataOffset, probe, sizeof probe);
    VS32_FUZZ_CHECK(got <= sizeof probe);
  }
}

void ReadLayout(std::FILE* file, size_t size) {
  vs32::WaveLayout layout;
  std::string error;
  if (!vs32::ReadWaveLayout(file, layout, error)) {
    VS32_FUZZ_CHECK(!error.empty());
    return;
  }
  VS32_FUZZ_CHECK(layout.formatChunkBytes >= vs32::kMinFormatChunkBytes);
  VS32_FUZZ_CHECK(layout.dataOffset >= 20);
  VS32_FUZZ_CHECK(layout.dataOffset + layout.dataBytes <= size);
  VS32_FUZZ_CHECK(layout.dataBytes <= layout.declaredDataBytes);
}

void ReadSamples(const std::string& path) {
  vs32::WavFile wav;
  if (!wav.open(path, "r")) {
    VS32_FUZZ_CHECK(!wav.reading());
    VS32_FUZZ_CHECK(!wav.error().empty());
    VS32_FUZZ_CHECK(wav.read(nullptr, nullptr, 1) == -1 || !wav.isOpen());
    return;
  }
  const vs32::WaveFormatRecord& f = wav.format();
  VS32_FUZZ_CHECK(f.blockAlign > 0 && f.channels > 0);
  const uint64_t frames = wav.dataBytes() / f.blockAlign;
  std::vector<float> left(kFramesPerRead), right(kFramesPerRead);
  uint64_t total = 0;
  bool sameArray = false;
  for (;;) {
    // Alternate between separate arrays and one array for both, as the worker passes it.
    float* l = left.data();
    float* r = sameArray ? left.data() : right.data();
    sameArray = !sameArray;
    const int got = wav.read(l, r, kFramesPerRead);
    VS32_FUZZ_CHECK(got >= 0 && got <= kFramesPerRead);
    for (int i = 0; i < got; ++i) {
      VS32_FUZZ_CHECK(std::isfinite(l[i]) && std::fabs(l[i]) < 1.0f);
      VS32_FUZZ_CHECK(std::isfinite(r[i]) && std::fabs(r[i]) < 1.0f);
    }
    total += static_cast<uint64_t>(got);
    VS32_FUZZ_CHECK(total <= frames);
    if (got < kFramesPerRead) break;
  }
  VS32_FUZZ_CHECK(total == frames);
  VS32_FUZZ_CHECK(wav.framesLeft() == 0);
  wav.close();
  VS32_FUZZ_CHECK(wav.read(left.data(), right.data(), 1) == -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const vs32::fuzz::MemoryFile input(data, size);
  if (std::FILE* file = std::fopen(input.path().c_str(), "rb")) {
    WalkChunks(file, size);
    ReadLayout(file, size);
    std::fclose(file);
  }
  // A stream without a file descriptor behind it, as fmemopen gives.
  if (size > 0) {
    std::vector<uint8_t> copy(data, data + size);
    if (std::FILE* file = fmemopen(copy.data(), copy.size(), "rb")) {
      ReadLayout(file, size);
      std::fclose(file);
    }
  }
  ReadSamples(input.path());
  return 0;
}
