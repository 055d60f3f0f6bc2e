// A block source of generated audio for tests: the signal generator's
// recording rendered on demand, without a file and without a thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/block_source.h"
#include "audio/wav_file.h"
#include "tools/vs32gen/generator.h"

namespace vs32::test {

class GeneratedSource : public BlockSource {
 public:
  // Mono configurations only. `live`: reads count as live audio (the worker
  // stamps them as such and does not pause between them).
  explicit GeneratedSource(vs32gen::GeneratorConfig config, bool live = false)
      : config_(std::move(config)), live_(live), samples_(vs32gen::kBlockFrames) {
    Rewind();
  }

  // Back to the first sample: the same recording again.
  void Rewind() { generator_ = std::make_unique<vs32gen::SignalGenerator>(config_); }

  int sampleRate() const override { return static_cast<int>(config_.rateHz); }
  bool live() const override { return live_; }
  Read ReadBlock(float* block, int frames) override {
    int filled = 0;
    while (filled < frames) {
      const size_t want = std::min<size_t>(samples_.size(), static_cast<size_t>(frames - filled));
      const size_t got = generator_->render(samples_.data(), want);
      if (got == 0) return Read::kEnd;  // a short last block is not a block
      for (size_t i = 0; i < got; ++i) block[filled + i] = Pcm16ToFloat(samples_[i]);
      filled += static_cast<int>(got);
    }
    return Read::kBlock;
  }
  void Wake() override {}

 private:
  vs32gen::GeneratorConfig config_;
  bool live_;
  std::unique_ptr<vs32gen::SignalGenerator> generator_;
  std::vector<int16_t> samples_;
};

}  // namespace vs32::test
